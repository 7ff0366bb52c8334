% A file without a module, for directives.pl: its clauses go to the
% module that loads it.  It adds to the multifile hook/1, declares an
% operator the loading file goes on to use, and has an initialization
% goal of its own.

:- multifile(hook/1).
:- op(700, xfx, <~>).

hook(from_plain_facts).

plain(X) :- X <~> Y, Y = done.
start <~> done.

:- initialization(plain(start)).
