% A directory of the test run's own: the corpus runs twice at once in one
% build directory (plainly and under collector torture), so files and
% sockets a test makes go into a directory no other run uses.

:- module(own_directory, [own_directory/2]).

:- use_module(library(file_systems)).

% own_directory(+Prefix, -Dir): a new directory PrefixN, N the first
% number for which making it succeeds (making a directory is atomic).
own_directory(Prefix, Dir) :- own_directory(Prefix, 1, Dir).

own_directory(Prefix, N, Dir) :-
        number_codes(N, Cs),
        atom_codes(A, Cs),
        atom_concat(Prefix, A, D),
        (   catch(make_directory(D), error(permission_error(_, _, _), _), fail) -> Dir = D
        ;   N1 is N + 1, own_directory(Prefix, N1, Dir)
        ).
