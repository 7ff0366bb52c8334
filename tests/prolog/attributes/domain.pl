% A small attribute module: a/1 holds a finite domain of atoms, b/2 a
% free-form tag.  Unifying two variables with domains keeps the
% intersection; binding one checks the value.  The other exports drive
% get_atts/2 and put_atts/2 through each form of their expansion.

:- module(domain, [domain/2, domain_of/2, tag/3, untag/1, attrs/2,
                   put_a/2, put_both/3, drop_all/1, drop_a/1, swap_b/3,
                   has_no_b/1, has_b/1, has_a_not_b/2, a_only/2, meta_get/2,
                   raw/3, log/1, mask/2, mask_and_a/3]).

:- use_module(library(atts)).

:- attribute a/1, b/2.

put_a(X, V) :- put_atts(X, +a(V)).
put_both(X, V, W) :- put_atts(X, [a(V), b(W, W)]).
drop_all(X) :- put_atts(X, [-a, -b]).
drop_a(X) :- put_atts(X, -a(_)).
swap_b(X, P, Q) :- put_atts(X, [-a, +b(P, Q)]).
has_no_b(X) :- get_atts(X, -b).
has_b(X) :- get_atts(X, +b(_, _)).
has_a_not_b(X, V) :- get_atts(X, [+a(V), -b(_, _)]).
a_only(X, V) :- get_atts(X, [a(V), -b]).
attrs(X, L) :- get_atts(X, L).
meta_get(X, L) :- G = get_atts(X, L), call(G).
raw(X, A, M) :- '$get_attributes'(X, A, M).
mask(X, B) :- get_atts(X, '$bitv'(B)).
mask_and_a(X, B, V) :- get_atts(X, ['$bitv'(B), a(V)]).

domain(X, L) :- put_atts(X, a(L)).
domain_of(X, L) :- get_atts(X, a(L)).
tag(X, K, V) :- put_atts(X, b(K, V)).
untag(X) :- put_atts(X, -b).

:- dynamic(log/1).

verify_attributes(Var, Value, Goals) :-
        get_atts(Var, a(L)), !,
        (   var(Value) ->
            (   get_atts(Value, a(L2)) ->
                intersection_(L, L2, L3),
                L3 \== [],
                put_atts(Value, a(L3))
            ;   put_atts(Value, a(L))
            ),
            Goals = []
        ;   memberchk_(Value, L),
            Goals = [assertz(log(bound(Value)))]
        ).
verify_attributes(_, _, []).

attribute_goal(X, domain(X, L)) :- get_atts(X, a(L)).

intersection_([], _, []).
intersection_([X|Xs], L, R) :-
        (   memberchk_(X, L) -> R = [X|R1] ; R = R1 ),
        intersection_(Xs, L, R1).

memberchk_(X, [Y|Ys]) :- ( X == Y -> true ; memberchk_(X, Ys) ).
