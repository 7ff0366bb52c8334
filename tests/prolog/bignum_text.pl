% Long integers to and from text through number_codes/2, on numbers far
% above the length from which the conversions divide and conquer: the
% results are checked against patterns known digit by digit and against the
% conversion of small pieces.

pow(_, 0, R) :- !, R = 1.
pow(B, E, R) :-
        E1 is E >> 1, pow(B, E1, H), H2 is H * H,
        (   E /\ 1 =:= 1 -> R is H2 * B ; R = H2 ).

repeat_code(0, _, []) :- !.
repeat_code(N, C, [C|T]) :- N1 is N - 1, repeat_code(N1, C, T).

last_code([C], C) :- !.
last_code([_|T], C) :- last_code(T, C).

prefix(0, _, []) :- !.
prefix(N, [C|T], [C|P]) :- N1 is N - 1, prefix(N1, T, P).

% 10^N - 1 is written as N nines, and N nines read back as it.
test(nines_both_ways) :-
        pow(10, 30000, P), X is P - 1,
        number_codes(X, Cs), repeat_code(30000, 0'9, Nines), Cs == Nines,
        number_codes(Y, Nines), Y =:= X.

% -10^N: a minus sign, a one and N zeros, both ways.
test(negative_power_of_ten_both_ways) :-
        pow(10, 25000, P), X is -P,
        repeat_code(25000, 0'0, Zeros),
        number_codes(X, Cs), Cs == [0'-, 0'1|Zeros],
        number_codes(Y, [0'-, 0'1|Zeros]), Y =:= X.

% 7^40000 has 33804 digits and ends in 1; its first 12 digits are those of
% the quotient by 10^33792, converted on its own; the text reads back.
test(power_of_seven_round_trip) :-
        pow(7, 40000, X),
        number_codes(X, Cs), length(Cs, 33804), last_code(Cs, 0'1),
        pow(10, 33792, D), Top is X // D, number_codes(Top, TopCs),
        prefix(12, Cs, TopCs),
        number_codes(Y, Cs), Y == X.

% A long hexadecimal literal: 20000 f's are 2^80000 - 1.
test(long_hexadecimal_literal) :-
        repeat_code(20000, 0'f, Fs),
        number_codes(X, [0'0, 0'x|Fs]),
        X =:= (1 << 80000) - 1.
