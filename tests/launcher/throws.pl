% An exception that nothing catches: its message and exit status 1.
runtime_entry(start) :-
        atom_length(abc, foo).
