% A directive whose goal raises an exception: its message goes to standard
% error and the load counts as failed (status 1, main/0 does not run).
:- write(loaded), nl.
:- atom_codes(_, _).
main :- write('main ran'), nl.
