% Writes far more than a pipe holds, for a reader that stops after the
% first line.
runtime_entry(start) :-
        between_lines(1, 200000).

between_lines(I, N) :-
        I =< N, !,
        write(line(I)), nl,
        J is I + 1,
        between_lines(J, N).
between_lines(_, _).
