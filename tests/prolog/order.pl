% Standard order of terms, and cyclic terms.

sorted_pairs([]).
sorted_pairs([_]).
sorted_pairs([A, B|T]) :- A @< B, sorted_pairs([B|T]).

test(standard_order_chain) :-
        sorted_pairs([_, -1.5, 1.0, 1.5, 2.0e10, -1099511627776, -1, 1, 2, 1099511627776,
                      [], a, b, f(z), g(a), [a|b], f(a, b), f(a, c), g(a, a)]).
test(floats_before_integers) :- compare(<, 1.0, 1), compare(>, 1, 1.0), 1.0 \== 1, 1.0e300 @< -5.
test(negative_zero) :- compare(=, -0.0, 0.0), compare(<, -0.0, 0).
test(bignum_order) :- 1099511627776 @> 2147483647, -1099511627776 @< -2147483648, 1099511627776 @< 1099511627777.
test(compound_arity_first) :- f(z, z) @> g(a), g(a, a) @> f(z, z).
test(variables_ordered_and_stable) :- compare(O, X, Y), compare(O, X, Y), X \== Y.
test(cyclic_compare_terminates) :- X = f(X), Y = f(Y), compare(_, X, Y).
test(cyclic_equality) :- X = f(X, a), Y = f(Y, b), X \== Y.
test(acyclic) :- prolog:'$acyclic'(f(a, [b])), X = f(X), \+ prolog:'$acyclic'(X).
test(ground_cyclic) :- X = f(X), ground(X), Y = f(Y, _), \+ ground(Y).
expect(term_variables, Vs, prolog:'$term_variables'(f(X, g(Y, X), Z), Vs), [[_, _, _]]).
test(term_variables_shared) :- prolog:'$term_variables'(f(X, g(Y, X), Z), [A, B, C]), A == X, B == Y, C == Z.

% Pairs in their known standard order: variables, then floats (all of
% them before every integer, by value), integers (small and big), atoms
% (by character codes, code 0 between 127 and 128), compound terms (by
% arity, then name, then the arguments from the left; a list cell is
% '.'/2).
before(_, -1.0e300).
before(_, a).
before(_, f(_)).
before(-1.0e300, -1.5).
before(-1.5, -0.0).
before(0.0, 1.0).
before(1.0, 1.5).
before(1.0e300, -1099511627776).
before(2.0, 1).
before(-0.0, 0).
before(1.0, 1).
before(-1099511627776, -2147483648).
before(-2147483648, -1).
before(-1, 0).
before(0, 1).
before(1, 268435456).
before(2147483647, 1099511627776).
before(1099511627776, 1099511627777).
before(1267650600228229401496703205376, a).
before(1, []).
before(9.9e300, '').
before('', 'A').
before('A', '[]').
before('[]', a).
before([], a).
before(a, ab).
before(ab, b).
before('\x7f\', '\0\').
before('\0\', '\x80\').
before('\x80\', '\xe9\').
before(zzz, a(a)).
before(zzz, [a]).
before(f(z), a(a, a)).
before(f(z), [a]).
before(a - b, [a]).
before([a], f(a, b)).
before(f(a, b), g(a, a)).
before(f(a, z), f(b, a)).
before(f(_, z), f(a, a)).
before(f(a, b), f(a, c)).
before(f(a), f(a, a)).
before(f(1.0), f(1)).
before(f(g(a)), f(g(b))).
before([a, b], [a, c]).
before([a], [a, b]).
before(g(a, b, c), f(a, b, c, d)).

% Pairs that are equal in the standard order (and only these: equal
% value does not make a float and an integer equal).
same_place(-0.0, 0.0).
same_place(f(-0.0), f(0.0)).
same_place(1099511627776, 1099511627776).
same_place([a|b], '.'(a, b)).

expect(standard_order_table, A-B,
       (before(A, B), \+ (compare(<, A, B), compare(>, B, A), A @< B, B @> A, A @=< B, \+ A @>= B)),
       []).
expect(standard_order_equal, A-B, (same_place(A, B), \+ (compare(=, A, B), compare(=, B, A))), []).
test(standard_order_not_equal) :- compare(O, 1, 1.0), O \== (=), 1 \== 1.0.

% Nothing loops on a cyclic term: list tests fail or raise a type error,
% occurs-check unification judges only the bindings it makes, and the
% writer (and with it the test runner) shows where the term comes round.
test(cyclic_is_list) :- C = [a|C], \+ is_list(C).
test(cyclic_is_list_after_prefix) :- C = [a, b, c|C], L = [x, y|C], \+ is_list(L).
expect(cyclic_must_be_list, F, (C = [a|C], catch(must_be(C, list, g, 1), error(F, _), true)), [type_error(list, [a|...])]).
expect(cyclic_univ, F, (C = [a|C], catch(_ =.. C, error(F, _), true)), [type_error(list, [a|...])]).
expect(cyclic_length, F, (C = [a|C], catch(length(C, _), error(F, _), true)), [type_error(list, [a|...])]).
expect(cyclic_length_meta, F, (C = [a, b|C], G = length(C, _), catch(call(G), error(F, _), true)), [type_error(list, [a, b|...])]).
test(cyclic_length_given) :- C = [a|C], \+ length(C, 3).
expect(cyclic_written_list, C, C = [a, b|C], [[a, b|...]]).
expect(cyclic_written_structure, X, X = f(X, a), [f(..., a)]).
expect(cyclic_written_inside_list, X, (X = f(L), L = [X]), [f([...])]).
expect(cyclic_written_shared, X, (Y = g(a), X = f(Y, Y)), [f(g(a), g(a))]).
uncaught(cyclic_ball, (C = [a|C], throw(C)), [a|...]).
test(occurs_check_cyclic_argument) :- X = f(X), prolog:'$unify_with_occurs_check'(X, f(Y)), Y == X.
test(occurs_check_both_cyclic) :- X = f(X, _), Y = f(Y, _), prolog:'$unify_with_occurs_check'(X, Y).
test(occurs_check_fails_beside_a_cycle) :- X = f(X), \+ prolog:'$unify_with_occurs_check'(g(Z, X), g(f(Z), _)).
test(occurs_check_fails_through_a_cycle) :- X = f(X, A), \+ prolog:'$unify_with_occurs_check'(X, f(_, g(A))).
test(occurs_check_fails_through_two_bindings) :-
        C = [a|C], \+ prolog:'$unify_with_occurs_check'(p(C, V, W), p(_, W, h(V))).
test(occurs_check_binds_beside_a_cycle) :-
        C = [a|C], prolog:'$unify_with_occurs_check'(p(C, V, W), p(_, W, h(_))), V == W, W = h(_).
test(occurs_check_plain) :- \+ prolog:'$unify_with_occurs_check'(Z, f(Z)), prolog:'$unify_with_occurs_check'(f(A, B), f(B, g(c))), A == g(c).
% The library predicate, called by name from user code, through call/N and
% qualified: the same judgement as the native one.
test(unify_with_occurs_check_cyclic_argument) :- X = f(X), unify_with_occurs_check(X, f(Y)), Y == X.
test(unify_with_occurs_check_refuses_a_cycle) :- \+ unify_with_occurs_check(Z, f(Z)).
test(unify_with_occurs_check_through_call) :-
        G = unify_with_occurs_check(Z, g(Z)), \+ call(G),
        call(unify_with_occurs_check, f(A, b), f(a, B)), A == a, B == b.
expect(unify_with_occurs_check_bindings, T, (T = p(X, Y, Z), unify_with_occurs_check(f(X, g(Y)), f(h(Z), Z))),
       [p(h(g(_)), _, g(_))]).
test(unify_with_occurs_check_qualified) :- prolog:unify_with_occurs_check(V, [a|W]), V == [a|W].
