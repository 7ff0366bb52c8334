% relation/3: argument checks, the compilation of the user's map into the
% entries of the native constraint of relation.cpp, and its posting.
% Part of module clpfd.
%
% The native side keeps X and Y through global references and wakes
% itself through daemons on them, so no suspension is posted here.

% relation(?X, +Map, ?Y): the pair (X, Y) belongs to the relation Map, a
% list of Key-Range pairs (Key an integer, Range a constant range as for
% in/2): for X = Key, Y may take the values of Range.  Pairs of one Key
% add up; a Key whose values are empty gives X no value.  Both X and Y are
% kept domain-consistent.
relation(X, Map, Y) :-
        Goal = relation(X, Map, Y),
        must_be(Map, list, Goal, 2),
        arg_attribute(X, XA, Goal, 1),
        arg_attribute(Y, YA, Goal, 3),
        relation_rows(Map, Goal, Rows0),
        keysort(Rows0, Rows1),
        relation_merge(Rows1, Rows),
        relation_entries(Rows, Entries),
        (   relation_ysets_disjoint(Entries, []) -> Opt = 2 ; Opt = 0 ),
        relation_post(Goal, X-XA, Entries, Y-YA, Opt).

% relation_post(+Constraint, +X-XA, +Entries, +Y-YA, +Opt): posts the
% native constraint for the one tuple (X, Y): Entries are XSet-YSet pairs
% of FD sets whose XSets do not overlap; Opt's bit 1 asks for bounds
% consistency only, bit 2 allows the incremental scan of removed X values
% (the native side keeps it only where it is sound).  The recorded domains
% start as inf..sup: the posting run scans the relation fully anyway.
relation_post(Constraint, X-XA, Entries, Y-YA, Opt) :-
        create_mutable([[inf|sup]], XM),
        create_mutable([[inf|sup]], YM),
        fd_global_internal(Constraint,
                           relation(Entries, Opt, [t(X, XA, XM, Y, YA, YM)], 1, _, 0),
                           [], _, clpfd:Constraint, 0).

% relation_rows(+Map, +Goal, -Rows): a Key-Set pair per element of Map.
relation_rows([], _, []).
relation_rows([P|Ps], Goal, [K-S|Rows]) :-
        relation_pair(P, Goal, K, S),
        relation_rows(Ps, Goal, Rows).

relation_pair(P, Goal, _, _) :- var(P), !, illarg(var, Goal, 2).
relation_pair(K-R, Goal, K, S) :- !,
        must_be_element(K, Goal, 2),
        range_set(R, Goal, 2, S).
relation_pair(P, Goal, _, _) :- illarg(domain(term, pair), Goal, 2, P).

% relation_merge(+SortedRows, -Rows): one row per key, the union of its
% sets; rows with an empty set dropped.
relation_merge([], []).
relation_merge([K-S0|Rs0], Rows) :-
        relation_same_key(Rs0, K, S0, S, Rs),
        (   S == [] -> Rows = Rows1 ; Rows = [K-S|Rows1] ),
        relation_merge(Rs, Rows1).

relation_same_key([K1-S1|Rs0], K, S0, S, Rs) :- K1 == K, !,
        '$fd_dom_union'(S0, S1, S2),
        relation_same_key(Rs0, K, S2, S, Rs).
relation_same_key(Rs, _, S, S, Rs).

% relation_entries(+Rows, -Entries): consecutive keys with the same set
% make one entry [[First|Last]]-Set.
relation_entries([], []).
relation_entries([K-S|Rs0], [[[K|E]]-S|Es]) :-
        relation_run(Rs0, K, S, E, Rs),
        relation_entries(Rs, Es).

relation_run([K1-S1|Rs0], K, S, E, Rs) :- K1 =:= K + 1, S1 == S, !,
        relation_run(Rs0, K1, S, E, Rs).
relation_run(Rs, K, _, K, Rs).

% relation_ysets_disjoint(+Entries, +Seen): no Y value belongs to two
% entries.
relation_ysets_disjoint([], _).
relation_ysets_disjoint([_-S|Es], Seen) :-
        '$fd_dom_intersection'(S, Seen, []),
        '$fd_dom_union'(S, Seen, Seen1),
        relation_ysets_disjoint(Es, Seen1).
