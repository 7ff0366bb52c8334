% An exception that nothing catches ends main/0: the launcher prints its
% message on standard error (not the raw term) and exits with status 1.
main :-
        write('before the error'), nl,
        atom_length(abc, foo).
