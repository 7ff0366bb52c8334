% The test application that trelix carries until the generator replaces
% it: prolog:main/0 (the runtime library's entry) runs runtime_entry(start).
runtime_entry(start) :-
        write('trelix: the test application runs'), nl.
