% A launcher application that succeeds (exit status 0).
runtime_entry(start) :-
        write('hello from the application'), nl.
