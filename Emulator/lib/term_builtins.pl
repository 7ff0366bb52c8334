% Type tests, term comparison and the inline built-ins as single-
% instruction predicates, and the slow predicates their instructions escape
% to for errors, nondeterminism and heap shortage.

atom(X) :- atom(X).
atomic(X) :- atomic(X).
float(X) :- float(X).
integer(X) :- integer(X).
number(X) :- number(X).
var(X) :- var(X).
nonvar(X) :- nonvar(X).
simple(X) :- simple(X).
compound(X) :- compound(X).
callable(X) :- callable(X).
ground(X) :- ground(X).
mutable(X) :- mutable(X).
db_reference(X) :- db_reference(X).

is_list(X) :- list_end(X, E), E == [].

X == Y :- X == Y.
X \== Y :- X \== Y.
X @< Y :- X @< Y.
X @> Y :- X @> Y.
X @=< Y :- X @=< Y.
X @>= Y :- X @>= Y.
compare(O, X, Y) :- compare(O, X, Y).

% The occurs check judges only the bindings this unification makes: a
% cyclic term among the arguments is no fault in itself.
unify_with_occurs_check(X, Y) :- '$unify_with_occurs_check'(X, Y).

arg(N, T, A) :- arg(N, T, A).
functor(T, N, A) :- functor(T, N, A).
T =.. L :- T =.. L.
length(L, N) :- length(L, N).
append(A, B, C) :- append(A, B, C).
create_mutable(V, M) :- create_mutable(V, M).
get_mutable(V, M) :- get_mutable(V, M).
update_mutable(V, M) :- update_mutable(V, M).

% ---- Slow predicates ----

slow_arg(N, T, A) :-
        must_be(T, compound, arg(N, T, A), 2),
        must_be(N, integer(>=(0)), arg(N, T, A), 1),
        fail.

slow_functor(T, N, A) :- nonvar(T), !,
        fail.
slow_functor(T, N, A) :-
        G = functor(T, N, A),
        (   var(A) -> illarg(var, G, 3)
        ;   \+ integer(A) -> illarg(type(integer), G, 3)
        ;   A < 0 -> illarg(domain(integer, not_less_than_zero), G, 3)
        ;   A > 255 -> illarg(representation(max_arity), G, 3)
        ;   var(N) -> illarg(var, G, 2)
        ;   A > 0, compound(N) -> illarg(type(atomic), G, 2)
        ;   A > 0, \+ atom(N) -> illarg(type(atom), G, 2)
        ;   \+ atomic(N) -> illarg(type(atomic), G, 2)
        ;   fail
        ).

slow_univ(T, L) :- nonvar(T), !,
        G = (T =.. L),
        must_be(L, list, G, 2),
        fail.
slow_univ(T, L) :-
        G = (T =.. L),
        (   var(L) -> illarg(var, G, 2)
        ;   L = [H|Args] ->
            (   var(H) -> illarg(var, G, 2)
            ;   \+ proper_list(Args) -> must_be(Args, list, G, 2)
            ;   Args \== [], \+ atom(H) ->
                (   compound(H) -> illarg(type(atomic), G, 2) ; illarg(type(atom), G, 2) )
            ;   Args == [], compound(H) -> illarg(type(atomic), G, 2)
            ;   length(Args, N), N > 255 -> illarg(representation(max_arity), G, 2)
            ;   fail
            )
        ;   L == [] -> illarg(domain(list, non_empty_list), G, 2)
        ;   illarg(type(list), G, 2)
        ).

slow_length(L, N) :- var(N), !,
        (   list_end(L, _) -> length_enum(L, 0, N, L)
        ;   illarg(type(list), length(L, N), 1, L)
        ).
slow_length(L, N) :- integer(N), !,
        N >= 0,
        length(L, N).
slow_length(L, N) :-
        must_be(N, integer(>=(0)), length(L, N), 2).

% length_enum(Rest, Counted, Length, List)
length_enum(L, N0, N, _) :- var(L), !, length_grow(L, N0, N).
length_enum([], N, N, _) :- !.
length_enum([_|T], N0, N, L) :- !, N1 is N0 + 1, length_enum(T, N1, N, L).
length_enum(_, _, N, L) :-
        illarg(type(list), length(L, N), 1, L).

length_grow([], N, N).
length_grow([_|T], N0, N) :- N1 is N0 + 1, length_grow(T, N1, N).

slow_append([], L, L).
slow_append([H|T], L, [H|R]) :- append(T, L, R).

slow_create_mutable(V, M) :-
        must_be(V, nonvar, create_mutable(V, M), 1),
        fail.
slow_get_mutable(V, M) :-
        must_be(M, mutable, get_mutable(V, M), 2),
        fail.
slow_update_mutable(V, M) :-
        must_be(V, nonvar, update_mutable(V, M), 1),
        must_be(M, mutable, update_mutable(V, M), 2),
        fail.
