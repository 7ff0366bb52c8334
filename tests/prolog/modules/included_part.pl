% Read by directives.pl through include/1: its clauses join the including
% file's, and the load context names this file and the including one.
:- prolog_load_context(file, F), prolog_load_context(source, S),
   atom_concat(_, 'included_part.pl', F), atom_concat(_, 'directives.pl', S),
   assertz(included_context(ok)).
part(included).
