% Output written to the standard streams and to a file that is never
% closed, then halt(3): all of it must be there when the process has
% ended, whatever standard output is.
main :-
        put_line(user_output, "first line"),
        put_line(user_error, "to standard error"),
        open('exit_test_unclosed.txt', write, S),
        put_line(S, "in a file left open"),
        lines(2000),
        put_line(user_output, "last line"),
        halt(3).

lines(0) :- !.
lines(N) :- put_line(user_output, "a line of filler text"), N1 is N - 1, lines(N1).

put_line(S, Codes) :- put_codes(Codes, S), nl(S).
put_codes([], _).
put_codes([C|Cs], S) :- put_code(S, C), put_codes(Cs, S).
