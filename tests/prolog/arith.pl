% Arithmetic: compiled X is E goals over the edge cases of the 32-bit fast
% path and the general path, the same expressions evaluated through the
% evaluator (the expression is only known when the goal runs), and the
% errors, which name the goal that raised them.

% eval(E, X): X is E with E known only at run time: the inline sequence
% escapes to the evaluator.
eval(E, X) :- X is E.

% Each case: Name, the value compiled in line, the value through eval/2.
case(add_small_to_box, X, X is 268435455 + 1, 268435455 + 1).
case(add_overflow_32, X, X is 2147483647 + 1, 2147483647 + 1).
case(sub_overflow_32, X, X is -2147483648 - 1, -2147483648 - 1).
case(neg_min, X, X is -(-2147483648), -(-2147483648)).
case(abs_min, X, X is abs(-2147483648), abs(-2147483648)).
case(idiv_min_by_minus_one, X, X is -2147483648 // -1, -2147483648 // -1).
case(mod_min_minus_one, X, X is -2147483648 mod -1, -2147483648 mod -1).
case(rem_min_minus_one, X, X is -2147483648 rem -1, -2147483648 rem -1).
case(mod_sign_of_divisor, X, X is 7 mod -2, 7 mod -2).
case(mod_negative_dividend, X, X is -7 mod 2, -7 mod 2).
case(rem_sign_of_dividend, X, X is -7 rem 2, -7 rem 2).
case(idiv_truncates, X, X is -7 // 2, -7 // 2).
case(mul_overflow, X, X is 46341 * 46341, 46341 * 46341).
case(mul_two_to_31, X, X is 65536 * 32768, 65536 * 32768).
case(mul_minus_two_to_31, X, X is -65536 * 32768, -65536 * 32768).
case(shift_to_31, X, X is 1 << 31, 1 << 31).
case(shift_minus_one_31, X, X is -1 << 31, -1 << 31).
case(shift_right_far, X, X is 5 >> 40, 5 >> 40).
case(shift_right_far_negative, X, X is -5 >> 40, -5 >> 40).
case(shift_right_by_negative, X, X is 1 >> -3, 1 >> -3).
case(shift_left_by_negative, X, X is 8 << -2, 8 << -2).
case(divide_gives_float, X, X is 4 / 2, 4 / 2).
case(power_gives_float, X, X is 2 ** 3, 2 ** 3).
case(msb_one, X, X is msb(1), msb(1)).
case(msb_1024, X, X is msb(1024), msb(1024)).
case(gcd_zero_zero, X, X is gcd(0, 0), gcd(0, 0)).
case(gcd_signs, X, X is gcd(-12, 18), gcd(-12, 18)).
case(bignum_times, X, X is 123456789012345678901234567890 * 10, 123456789012345678901234567890 * 10).
case(bignum_back_to_small, X, X is 4294967296 - 4294967295, 4294967296 - 4294967295).
case(nested_right_operands, X, X is (1 + 2) * (3 + 4) - (5 - 6), (1 + 2) * (3 + 4) - (5 - 6)).
case(float_mixed, X, X is 1 + 2.5, 1 + 2.5).
case(float_functions, X, X is truncate(sqrt(16.0) + exp(0.0)), truncate(sqrt(16.0) + exp(0.0))).
case(rounding, X, X is round(2.5) + round(-2.5) * 10, round(2.5) + round(-2.5) * 10).
case(bits, X, X is (12 /\ 10) \/ (1 << 8) + \(0), (12 /\ 10) \/ (1 << 8) + \(0)).
case(xor, X, X is \(12, 10), \(12, 10)).
case(min_max, X, X is max(3, 7.0) + min(-2, 4), max(3, 7.0) + min(-2, 4)).
case(sign, X, X is sign(-3) + sign(0) * 10 + sign(2.5), sign(-3) + sign(0) * 10 + sign(2.5)).
case(one_element_list, X, X is [7] + 1, [7] + 1).

test(Name) :- case(Name, X, Goal, E), call(Goal), eval(E, Y), X == Y.

expect(values, L, values(L), [[268435456, 2147483648, -2147483649, 2147483648, 2147483648,
        2147483648, 0, 0, -1, 1, -1, -3, 2147488281, 2147483648, -2147483648, 2147483648,
        -2147483648, 0, -1, 8, 2, 2.0, 8.0, 0, 10, 0, 6, 1234567890123456789012345678900, 1,
        22, 3.5, 5, -17, 263, 6, 5.0, -1.0]]).
values(L) :- values_(L).
values_([A,B,C,D,E,F,G,H,I,J,K,L,M,N,O,P,Q,R,S,T,U,V,W,X,Y,Z,A1,B1,C1,D1,E1,F1,G1,H1,I1,J1,K1]) :-
        A is 268435455 + 1, B is 2147483647 + 1, C is -2147483648 - 1,
        D is -(-2147483648), E is abs(-2147483648), F is -2147483648 // -1,
        G is -2147483648 mod -1, H is -2147483648 rem -1, I is 7 mod -2, J is -7 mod 2,
        K is -7 rem 2, L is -7 // 2, M is 46341 * 46341, N is 65536 * 32768,
        O is -65536 * 32768, P is 1 << 31, Q is -1 << 31, R is 5 >> 40, S is -5 >> 40,
        T is 1 >> -3, U is 8 << -2, V is 4 / 2, W is 2 ** 3, X is msb(1), Y is msb(1024),
        Z is gcd(0, 0), A1 is gcd(-12, 18), B1 is 123456789012345678901234567890 * 10,
        C1 is 4294967296 - 4294967295, D1 is (1 + 2) * (3 + 4) - (5 - 6), E1 is 1 + 2.5,
        F1 is truncate(sqrt(16.0) + exp(0.0)), G1 is round(2.5) + round(-2.5) * 10,
        H1 is (12 /\ 10) \/ (1 << 8) + \(0), I1 is \(12, 10), J1 is max(3, 7.0) + min(-2, 4),
        K1 is sign(-3) + sign(0) * 10 + sign(-0.0).

% Representations: a 32-bit result never equals a longer integer, a float
% never an integer.
test(box_is_not_small) :- X is 268435455 + 1, integer(X), X =:= 268435456.
test(store_compares_representations) :- \+ (X = 1.0, X is 1).
test(float_equals_integer_numerically) :- 1.0 =:= 1.
test(two_digit_never_equals_32_bit) :- \+ (X = 4294967301, X is 2 + 3).
test(float_result_against_constant) :- \+ 1 is 2.0 - 1.0.
test(comparison_of_overflowing_float) :- 1.0e308 * 10 > 0.
test(comparisons) :- 1 < 2, 2 > 1, 1 =< 1, 2 >= 2, 1 =\= 2, 3 =:= 3,
        2147483647 < 2147483648, -2147483649 < -2147483648, 1.5 > 1, 3 > 2.5.
test(comparison_of_expressions) :- X = 3, X * 2 > X + 2, (X - 1) * (X + 1) =:= X * X - 1.

% ---- Errors ----

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).
context_of(G, C) :- catch((G, C = none), error(_, C0), C = C0).

expect(divide_by_zero, F, error_of(_ is 1 // 0, F), [domain_error(=\=(0), 0)]).
expect(unbound_operand, F, error_of(_ is _ + 1, F), [instantiation_error]).
expect(not_evaluable, F, error_of(_ is foo + 1, F), [type_error(evaluable, foo/0)]).
% The context is the goal as compiled: in a clause body, or the library's
% is/2 when the goal is called through call/1.
bad_is(X) :- X is foo + 1.
bad_less(X) :- 1 + 2 < X + 1.
expect(not_evaluable_names_goal, C, context_of(bad_is(_), C), [context(_ is _ + 1, 2)]).
expect(comparison_names_goal, C, context_of(bad_less(a), C), [context(1 + 2 < _ + 1, 2)]).
expect(meta_called_names_is, C, context_of(_ is foo + 1, C), [context(_ is _, 2)]).
expect(msb_of_zero_in_line, F, error_of(_ is msb(0), F), [domain_error(>(0), 0)]).
expect(msb_of_zero_evaluated, F, (E = msb(0), error_of(_ is E, F)), [domain_error(>(0), 0)]).
expect(msb_of_zero_bignum_path, F, error_of(_ is msb(4294967296 - 4294967296), F), [domain_error(>(0), 0)]).
expect(inf_not_storable, F, error_of(_ is 1.0e308 * 10, F), [evaluation_error(float_overflow)]).
expect(integer_only_op_on_float, F, error_of(_ is 1.5 mod 2, F), [type_error(integer, 1.5)]).
expect(inf_as_expression, F, error_of(_ is inf, F), [domain_error(expression, inf)]).

% ---- Operands that are no numbers, compiled in line ----

% Each clause of in_line/1 is one goal compiled in line whose operand is an
% atom, a list, a string, a compound term or an unbound variable, in every
% position of a sequence: first, later (also after the sequence went
% general), inside a function, and as the target of is/2.  Each gives its
% ISO error, or its value where the operand is a one-element list.
in_line(atom_later) :- _ is 2 + z.
in_line(atom_after_general) :- X = 1, Y is X * 2 + z, Y > 0.
in_line(atom_in_function) :- _ is max(1, a).
in_line(atom_alone) :- _ is a.
in_line(unbound_later) :- 0 < _.
in_line(unbound_after_bound) :- X = 1, X < _.
in_line(list_then_compound) :- _ is [1] + f(a).
in_line(list_against_compound) :- [1] < f(_).
in_line(list_equal_compound) :- [1] =:= f(a).
in_line(float_against_list) :- 3.14 < [4].
in_line(list_against_list) :- [1] < [2].
in_line(float_against_unbound_list) :- 3.14 < [_].
in_line(string_against_compound) :- "é" =:= type_error(a, b).
in_line(long_list) :- [1, 2] < 3.
in_line(long_string) :- _ is "ab" + 1.
in_line(empty_list) :- _ is [] + 1.
in_line(unknown_function) :- _ is foo(1).
in_line(unknown_function_compared) :- floot(1) < 2.
in_line(evaluable_name_wrong_arity) :- 1 < sin(1, 2).
in_line(list_of_evaluable) :- X = 3, Y is [X] * 2, Y =:= 6.
in_line(bad_operand_under_good_ones) :- _ is (1 + 2) * (3 - f(x)).

expect(in_line_operands, N-F, (in_line_case(N), error_of(in_line(N), F)),
       [atom_later-type_error(evaluable, z/0),
        atom_after_general-type_error(evaluable, z/0),
        atom_in_function-type_error(evaluable, a/0),
        atom_alone-type_error(evaluable, a/0),
        unbound_later-instantiation_error,
        unbound_after_bound-instantiation_error,
        list_then_compound-type_error(evaluable, f/1),
        list_against_compound-type_error(evaluable, f/1),
        list_equal_compound-type_error(evaluable, f/1),
        float_against_list-none,
        list_against_list-none,
        float_against_unbound_list-instantiation_error,
        string_against_compound-type_error(evaluable, type_error/2),
        long_list-type_error(evaluable, '.'/2),
        long_string-type_error(evaluable, '.'/2),
        empty_list-type_error(evaluable, []/0),
        unknown_function-type_error(evaluable, foo/1),
        unknown_function_compared-type_error(evaluable, floot/1),
        evaluable_name_wrong_arity-type_error(evaluable, sin/2),
        list_of_evaluable-none,
        bad_operand_under_good_ones-type_error(evaluable, f/1)]).
in_line_case(N) :- clause_name(N).
clause_name(atom_later). clause_name(atom_after_general). clause_name(atom_in_function).
clause_name(atom_alone). clause_name(unbound_later). clause_name(unbound_after_bound).
clause_name(list_then_compound). clause_name(list_against_compound).
clause_name(list_equal_compound). clause_name(float_against_list).
clause_name(list_against_list). clause_name(float_against_unbound_list).
clause_name(string_against_compound). clause_name(long_list). clause_name(long_string).
clause_name(empty_list). clause_name(unknown_function). clause_name(unknown_function_compared).
clause_name(evaluable_name_wrong_arity). clause_name(list_of_evaluable).
clause_name(bad_operand_under_good_ones).

% The same goals called through call/1 run the library's is/2 and
% comparisons, whose operands arrive in registers.
expect(meta_called_operands, F,
       ( ( G = (_ is [1] + f(a)) ; G = (floot(1) < 2) ; G = ([1, 2] < 3) ; G = (_ is a)
         ; G = (3.14 < [4]) ; G = (0 < _) ),
         error_of(call(G), F) ),
       [type_error(evaluable, f/1), type_error(evaluable, floot/1),
        type_error(evaluable, '.'/2), type_error(evaluable, a/0), none, instantiation_error]).

% Left uncaught, the error reaches the query with the goal it came from.
uncaught(uncaught_atom_operand, _ is 1 + a, error(type_error(evaluable, a/0), context(_ is 1 + _, 2))).
uncaught(uncaught_unbound_operand, 0 < _, error(instantiation_error, context(0 < _, 2))).
uncaught(uncaught_after_bound, (X = 1, X < _), error(instantiation_error, context(_ < _, 2))).
uncaught(uncaught_in_function, _ is max(1, a), error(type_error(evaluable, a/0), context(_ is max(1, _), 2))).
% A caught error can be thrown again.
uncaught(rethrown_string_error, (catch(in_line(string_against_compound), E, true), throw(E)),
         error(type_error(evaluable, type_error/2), context(_ =:= _, 2))).

% A target that is no number never matches: the goal fails once its
% expression is evaluated, whose errors still come first.
test(non_number_targets_fail) :-
        \+ a is 1, \+ f(a) is 1, \+ [] is 1, \+ [1] is 1, \+ "ab" is 1 + 1,
        N = 2, \+ N-1 is N+1.
expect(target_expression_evaluated_first, F, error_of(target_unbound(_), F), [instantiation_error]).
target_unbound(N) :- N-1 is N+1.

% ---- Integers beyond the double range against floats ----

% Compared exactly: 2^1100 and -2^1024 lie outside every float, and
% 2^53 + 1 is not the float 2^53 (nearest to it).
big(B) :- B is 1 << 1100.
test(big_integer_above_every_float) :-
        big(X), X > 1.0e308, 1.0e308 < X, X > 1.7976931348623157e308, X =\= 1.0e308,
        \+ X =< 1.0e308, \+ X =:= 1.0e308, X > -0.0.
test(big_negative_integer_below_every_float) :-
        X is -(1 << 1024), X < -1.7976931348623157e308, -1.7976931348623157e308 > X.
test(integer_float_compared_exactly) :-
        9007199254740993 > 9007199254740992.0, \+ 9007199254740993 =:= 9007199254740992.0,
        9007199254740992 =:= 9007199254740992.0,
        1499999999999999889089448902657 > 1.5e30, 1499999999999999889089448902656 =:= 1.5e30,
        179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124858368
        =:= 1.7976931348623157e308.
% Converting such an integer to a float overflows.
expect(big_integer_to_float, F,
       ( big(X), ( G = float(X) ; G = X + 0.5 ; G = sqrt(X) ; G = max(1.0, X) ; G = X / 3 ),
         error_of(_ is G, F) ),
       [evaluation_error(float_overflow), evaluation_error(float_overflow),
        evaluation_error(float_overflow), evaluation_error(float_overflow),
        evaluation_error(float_overflow)]).
big_float_in_line(X) :- _ is float(X).
expect(big_integer_to_float_in_line, F, (big(X), error_of(big_float_in_line(X), F)),
       [evaluation_error(float_overflow)]).

% An infinite intermediate result that the compiled code keeps between two
% sequences is stored, and storing it overflows; within one sequence it
% only takes part in the comparison.
expect(infinite_intermediate, F, (Y = 1.0e308, error_of(Y*10 - Y*10 =:= 0, F)),
       [evaluation_error(float_overflow)]).
infinite_intermediate_in_line(Y) :- Y*10 - Y*10 =:= 0.
expect(infinite_intermediate_in_line, F, error_of(infinite_intermediate_in_line(1.0e308), F),
       [evaluation_error(float_overflow)]).

% div floors (the quotient rounded toward minus infinity) where //
% truncates: compiled in line with the operands known only when the goal
% runs, and through the evaluator; over the four signs, exact quotients,
% the 32-bit edges and long integers.
div_case(-7, 2).  div_case(7, -2).  div_case(7, 2).  div_case(-7, -2).
div_case(-6, 3).  div_case(-1, 3).  div_case(0, -5).
div_case(-2147483648, -1).  div_case(-2147483649, 2).  div_case(2147483647, -2).
div_case(-100000000000000000000, 7).  div_case(100000000000000000000, -7).
div_case(-100000000000000000001, 100000000000000000000).

expect(div_floors, R,
       ( div_case(A, B), Q0 is A div B, eval(A div B, Q1), T is A // B, R = A/B:Q0/Q1/T ),
       [-7/2:(-4)/(-4)/(-3), 7/ -2:(-4)/(-4)/(-3), 7/2:3/3/3, -7/ -2:3/3/3,
        -6/3:(-2)/(-2)/(-2), -1/3:(-1)/(-1)/0, 0/ -5:0/0/0,
        -2147483648/ -1:2147483648/2147483648/2147483648,
        -2147483649/2:(-1073741825)/(-1073741825)/(-1073741824),
        2147483647/ -2:(-1073741824)/(-1073741824)/(-1073741823),
        -100000000000000000000/7:(-14285714285714285715)/(-14285714285714285715)/(-14285714285714285714),
        100000000000000000000/ -7:(-14285714285714285715)/(-14285714285714285715)/(-14285714285714285714),
        -100000000000000000001/100000000000000000000:(-2)/(-2)/(-1)]).

% With constants, in comparisons and nested: the quotient and mod agree
% (A =:= B * (A div B) + A mod B) and div is the floor of the division.
div_grid(A, B) :- div_between(-9, 9, A), div_between(-4, 4, B), B =\= 0.
div_between(L, H, L) :- L =< H.
div_between(L, H, X) :- L < H, L1 is L + 1, div_between(L1, H, X).
test(div_agrees_with_mod_and_floor) :-
        -7 div 2 =:= -4, 1 - -7 div 2 * 3 =:= 13,
        \+ ( div_grid(A, B),
             \+ ( A =:= B * (A div B) + A mod B, A div B =:= integer(floor(A / B)) ) ).
div_error_goal(_ is 1 div 0).
div_error_goal(_ is 1.0 div 2).
div_error_goal(_ is a div 2).
expect(div_errors, F, ( div_error_goal(G), error_of(G, F) ),
       [domain_error(=\=(0), 0), type_error(integer, 1.0), type_error(evaluable, a/0)]).
