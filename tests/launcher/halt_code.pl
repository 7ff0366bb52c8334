% halt(259): only the low byte, 3, becomes the exit status.
runtime_entry(start) :-
        write('before halt'), nl,
        halt(259).
