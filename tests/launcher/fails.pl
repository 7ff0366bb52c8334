% The application fails: a warning and exit status 1.
runtime_entry(start) :-
        fail.
