% Type tests and the inline built-ins, compiled in line and called through
% call/N (which runs the library's single-instruction definitions), with
% their slow paths: errors, enumeration and partial lists.

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% Each type test on a table of terms: the names of the terms it accepts,
% once in line and once through call/2.
sample(var, _).
sample(atom, foo).
sample(nil, []).
sample(small, 3).
sample(bignum, 1099511627776).
sample(float, 1.0).
sample(list, [a]).
sample(compound, f(x)).
sample(mutable, M) :- create_mutable(1, M).

accepts(Test, Names) :- accepts_(Test, [var, atom, nil, small, bignum, float, list, compound, mutable], Names).
accepts_(_, [], []).
accepts_(T, [N|Ns], Out) :-
        sample(N, X),
        (   inline_test(T, X) -> Out = [N|Out1] ; Out = Out1 ),
        (   G =.. [T, X], call(G) -> true ; true ),
        accepts_(T, Ns, Out1).

inline_test(atom, X) :- atom(X).
inline_test(atomic, X) :- atomic(X).
inline_test(float, X) :- float(X).
inline_test(integer, X) :- integer(X).
inline_test(number, X) :- number(X).
inline_test(var, X) :- var(X).
inline_test(nonvar, X) :- nonvar(X).
inline_test(simple, X) :- simple(X).
inline_test(compound, X) :- compound(X).
inline_test(callable, X) :- callable(X).
inline_test(ground, X) :- ground(X).
inline_test(mutable, X) :- mutable(X).

called_accepts(Test, Names) :- findall_names(Test, [var, atom, nil, small, bignum, float, list, compound, mutable], Names).
findall_names(_, [], []).
findall_names(T, [N|Ns], Out) :-
        sample(N, X),
        G =.. [T, X],
        (   call(G) -> Out = [N|Out1] ; Out = Out1 ),
        findall_names(T, Ns, Out1).

type_test(atom, [atom, nil]).
type_test(atomic, [atom, nil, small, bignum, float]).
type_test(float, [float]).
type_test(integer, [small, bignum]).
type_test(number, [small, bignum, float]).
type_test(var, [var]).
type_test(nonvar, [atom, nil, small, bignum, float, list, compound, mutable]).
type_test(simple, [var, atom, nil, small, bignum, float]).
type_test(compound, [list, compound, mutable]).
type_test(callable, [atom, nil, list, compound, mutable]).
type_test(ground, [atom, nil, small, bignum, float, list, compound]).
type_test(mutable, [mutable]).

test(type_tests_in_line) :- \+ (type_test(T, Want), \+ accepts(T, Want)).
test(type_tests_called) :- \+ (type_test(T, Want), \+ called_accepts(T, Want)).
test(nonvar_through_bound_variable) :- X = Y, \+ nonvar(X), Y = 1, nonvar(X).
test(ground_with_mutable_inside) :- create_mutable(a, M), \+ ground(f(M)), \+ ground(f(_)), ground(f(a, [b])).

% arg/3
expect(arg_list_tail, X, arg(2, [a|b], X), [b]).
expect(arg_out_of_range, X, (arg(0, f(a), X) ; arg(3, f(a, b), X) ; X = none), [none]).
expect(arg_negative, F, error_of(arg(-1, f(a), _), F), [domain_error(not_less_than_zero, -1)]).
expect(arg_unbound_n, F, error_of(arg(_, f(a), _), F), [instantiation_error]).
expect(arg_not_compound, F, error_of(arg(1, foo, _), F), [type_error(compound, foo)]).
expect(arg_called, X, call(arg, 2, g(a, b), X), [b]).

% functor/3
expect(functor_build, T, functor(T, foo, 3), [foo(_, _, _)]).
expect(functor_list, T, functor(T, '.', 2), [[_|_]]).
expect(functor_number, T, functor(T, 1.5, 0), [1.5]).
expect(functor_number_arity, F, error_of(functor(_, 1.5, 1), F), [type_error(atom, 1.5)]).
expect(functor_max_arity, F, error_of(functor(_, foo, 256), F), [representation_error(max_arity)]).
expect(functor_read, [N, A], functor(3, N, A), [[3, 0]]).
expect(functor_read_compound, [N, A], functor(f(x, y), N, A), [[f, 2]]).

% =../2
expect(univ_atom, T, T =.. [foo], [foo]).
expect(univ_number, T, T =.. [1.5], [1.5]).
expect(univ_list, T, T =.. ['.', a, b], [[a|b]]).
expect(univ_compound, L, foo(a, b) =.. L, [[foo, a, b]]).
expect(univ_of_list, L, [a] =.. L, [['.', a, []]]).
expect(univ_partial, F, error_of(_ =.. [foo|_], F), [instantiation_error]).
expect(univ_255, A, (length(L, 255), T =.. [f|L], functor(T, _, A)), [255]).
expect(univ_256, F, (length(L, 256), error_of(_ =.. [f|L], F)), [representation_error(max_arity)]).

% length/2
expect(length_binds_tail, T, length([a, b|T], 4), [[_, _]]).
expect(length_too_short, X, (length([a, b], 3) -> X = yes ; X = no), [no]).
expect(length_zero, L, length(L, 0), [[]]).
expect(length_negative, X, (length(_, -1) -> X = yes ; X = no), [no]).
expect(length_type, F, error_of(length(_, foo), F), [type_error(integer, foo)]).
expect(length_enumerates, L, (length(L, N), N >= 2, !), [[_, _]]).
expect(length_improper, F, error_of(length([a|b], _), F), [type_error(list, [a|b])]).

% append/3
expect(append_forward, W, append([a, b], [c], W), [[a, b, c]]).
expect(append_suffix, S, append([a], S, [a, b]), [[b]]).
expect(append_enumerates, [X, Y], append(X, Y, [a]), [[[], [a]], [[a], []]]).
test(append_shares_tail) :- T = [c], append([a, b], T, W), W = [_, _|T2], T2 == T.

% compare/3 and the term comparisons
expect(compare_orders, O, (compare(O, a, b) ; compare(O, b, a) ; compare(O, f(x), f(x))), [<, >, =]).
test(compare_given_order) :- compare(<, a, b), \+ compare(foo, a, b).
test(compare_variables_by_age) :- compare(O1, X, Y), compare(O2, Y, X), O1 \== O2, X \== Y.
test(term_comparisons) :- a @< b, f(a) @> a, 1 @< a, 1.0 @< 1, X @< 1, a == a, \+ a == b, a \== b,
        f(X) == f(X), \+ f(X) == f(_), b @>= a, a @=< a.
test(term_comparisons_called) :- call(@<, a, b), call(==, x, x), \+ call(\==, x, x).

% mutables
test(mutable_update_undone_by_backtracking) :-
        create_mutable(1, M),
        (   update_mutable(2, M), update_mutable(3, M), get_mutable(3, M), fail
        ;   get_mutable(1, M)
        ).
test(mutable_update_kept) :- create_mutable(1, M), update_mutable(2, M), get_mutable(V, M), V == 2.
expect(mutable_unbound_value, F, (create_mutable(1, M), error_of(update_mutable(_, M), F)), [instantiation_error]).
expect(mutable_not_mutable, F, error_of(get_mutable(_, foo), F), [type_error(mutable, foo)]).
expect(create_mutable_unbound, F, error_of(create_mutable(_, _), F), [instantiation_error]).
