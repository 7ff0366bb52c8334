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
