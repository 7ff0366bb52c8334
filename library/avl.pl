% AVL trees of Key-Value pairs: ord_list_to_avl/2 builds one from an
% ordered list, avl_fetch/3 looks a key up.
%
% A tree is `t` (empty) or t(Key, Value, Balance, Left, Right), Balance
% being <, = or > as the left subtree is lower than, as high as or higher
% than the right one; keys are compared in the standard order of terms.

:- module(avl, [avl_fetch/3, ord_list_to_avl/2]).

% avl_fetch(Key, AVL, Value): Value is stored under Key; fails when Key is
% not in the tree.
avl_fetch(Key, t(K, V, _, L, R), Value) :-
        compare(Order, Key, K),
        avl_fetch_(Order, Key, V, L, R, Value).

avl_fetch_(=, _, V, _, _, V).
avl_fetch_(<, Key, _, L, _, V) :- avl_fetch(Key, L, V).
avl_fetch_(>, Key, _, _, R, V) :- avl_fetch(Key, R, V).

% ord_list_to_avl(Pairs, AVL): Pairs in strictly ascending order of their
% keys; the tree is as balanced as the count allows, built in linear time.
ord_list_to_avl(Pairs, AVL) :-
        must_be(Pairs, proper_list, ord_list_to_avl(Pairs, AVL), 1),
        length(Pairs, N),
        avl_of(N, Pairs, [], _, Tree),
        AVL = Tree.

% avl_of(N, Pairs, Rest, Height, Tree): the tree of the first N pairs.
avl_of(0, Pairs, Pairs, 0, t) :- !.
avl_of(N, Pairs, Rest, H, t(K, V, B, L, R)) :-
        NL is (N - 1) >> 1,
        NR is N - 1 - NL,
        avl_of(NL, Pairs, [K-V|Right], HL, L),
        avl_of(NR, Right, Rest, HR, R),
        compare(B, HL, HR),
        (   HL > HR -> H is HL + 1 ; H is HR + 1 ).
