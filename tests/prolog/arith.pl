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
expect(not_evaluable, F, error_of(_ is foo + 1, F), [domain_error(expression, foo)]).
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
