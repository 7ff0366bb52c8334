% FD sets for Prolog: conversions to and from ranges and lists, and the set
% algebra over the resource's set built-ins.  Part of module clpfd.
%
% A set is an ascending list of disjoint, non-adjacent intervals [A|B]
% (A =< B; inf and sup for open ends).  A range term is an integer, A..B,
% {I1, ..., In}, R1 \/ R2, R1 /\ R2 or \R.  The built-ins check every set
% they are given and fail on a malformed one; the predicates below raise a
% type error for it instead.

% is_fdset(+Set): Set is a well-formed FD set.
is_fdset(S) :- nonvar(S), '$fd_size'(S, _, 1).

must_be_fdset(S, _, _) :- is_fdset(S), !.
must_be_fdset(S, Goal, ArgNo) :- var(S), !, illarg(var, Goal, ArgNo).
must_be_fdset(_, Goal, ArgNo) :- illarg(type(fdset), Goal, ArgNo).

empty_fdset([]).

% empty_interval(+Min, +Max): Min..Max holds no value.
empty_interval(Min, Max) :-
        G = empty_interval(Min, Max),
        must_be_bound(Min, G, 1), must_be_bound(Max, G, 2),
        \+ '$fd_range'(Min, Max, _, 1).

must_be_bound(B, _, _) :- integer(B), !.
must_be_bound(B, _, _) :- (B == inf ; B == sup), !.
must_be_bound(B, G, N) :- var(B), !, illarg(var, G, N).
must_be_bound(_, G, N) :- illarg(type(integer), G, N).

% fdset_singleton(?Set, ?Value): Set is {Value}.
fdset_singleton(Set, V) :- var(Set), !,
        must_be(V, integer, fdset_singleton(Set, V), 2),
        Set = [[V|V]].
fdset_singleton([[V|V1]], V) :- integer(V1), V == V1.

% fdset_interval(?Set, ?Min, ?Max): Set is the one interval Min..Max.
fdset_interval(Set, Min, Max) :- var(Set), !,
        G = fdset_interval(Set, Min, Max),
        must_be_bound(Min, G, 2), must_be_bound(Max, G, 3),
        '$fd_range'(Min, Max, Set, 1), Set \== [].
fdset_interval([[Min|Max]], Min, Max).

% fdset_parts(?Set, ?Min, ?Max, ?Rest): Set is [[Min|Max]|Rest].
fdset_parts(Set, Min, Max, Rest) :- var(Set), !,
        '$fd_cons'(Min, Max, Rest, Set, 1).
fdset_parts([[Min|Max]|Rest], Min, Max, Rest).

fdset_min(Set, Min) :-
        must_be_fdset(Set, fdset_min(Set, Min), 1),
        Set = [[Min|_]|_].

fdset_max(Set, Max) :-
        must_be_fdset(Set, fdset_max(Set, Max), 1),
        last_interval(Set, [_|Max]).

last_interval([I], I) :- !.
last_interval([_|Is], I) :- last_interval(Is, I).

% fdset_size(+Set, -Size): the number of values, sup when infinite.
fdset_size(Set, Size) :-
        (   '$fd_size'(Set, Size0, 1) -> Size = Size0
        ;   must_be_fdset(Set, fdset_size(Set, Size), 1)
        ).

% fdset_member(?X, +Set): X is a value of Set (enumerated in ascending
% order when X is unbound; the set must then be finite).
fdset_member(X, Set) :-
        G = fdset_member(X, Set),
        must_be_fdset(Set, G, 2),
        (   integer(X) -> '$fd_dom_contains'(Set, X)
        ;   var(X) -> finite_set(Set, G, 2), member_of_intervals(Set, X)
        ;   illarg(type(integer), G, 1)
        ).

member_of_intervals([[A|B]|Is], X) :-
        (   value_in(A, B, X)
        ;   member_of_intervals(Is, X)
        ).

value_in(A, B, X) :-
        A =< B,
        (   X = A
        ;   A1 is A + 1, value_in(A1, B, X)
        ).

finite_set([], _, _) :- !.
finite_set([[A|B0]|Is], _, _) :-
        integer(A), last_interval([[A|B0]|Is], [_|B]), integer(B), !.
finite_set(_, G, N) :- illarg(domain(fdset, finite_fdset), G, N).

fdset_eq(S1, S2) :-
        G = fdset_eq(S1, S2),
        must_be_fdset(S1, G, 1), must_be_fdset(S2, G, 2),
        S1 == S2.

% fdset_subset(+S1, +S2): every value of S1 is in S2.
fdset_subset(S1, S2) :-
        G = fdset_subset(S1, S2),
        must_be_fdset(S1, G, 1), must_be_fdset(S2, G, 2),
        '$fd_dom_subtract'(S1, S2, []).

% fdset_disjoint(+S1, +S2): no value in common.
fdset_disjoint(S1, S2) :-
        G = fdset_disjoint(S1, S2),
        must_be_fdset(S1, G, 1), must_be_fdset(S2, G, 2),
        '$fd_dom_intersect'(S1, S2, 1).

% fdset_intersect(+S1, +S2): some value in common.
fdset_intersect(S1, S2) :-
        G = fdset_intersect(S1, S2),
        must_be_fdset(S1, G, 1), must_be_fdset(S2, G, 2),
        \+ '$fd_dom_intersect'(S1, S2, 1).

fdset_union(S1, S2, S) :-
        G = fdset_union(S1, S2, S),
        must_be_fdset(S1, G, 1), must_be_fdset(S2, G, 2),
        '$fd_dom_union'(S1, S2, S).

% fdset_union(+Sets, -Set): the union of a list of sets.
fdset_union(Sets, Set) :-
        G = fdset_union(Sets, Set),
        must_be(Sets, list, G, 1),
        sets_fold(Sets, '$fd_dom_union', [], G, Set).

% sets_fold(+Sets, +Op, +Acc0, +Goal, -Set): Acc0 combined with each set
% in turn by the set built-in Op.
sets_fold([], _, S, _, S).
sets_fold([S1|Ss], Op, S0, G, S) :-
        must_be_fdset(S1, G, 1),
        call(Op, S0, S1, S2),
        sets_fold(Ss, Op, S2, G, S).

fdset_intersection(S1, S2, S) :-
        G = fdset_intersection(S1, S2, S),
        must_be_fdset(S1, G, 1), must_be_fdset(S2, G, 2),
        '$fd_dom_intersection'(S1, S2, S).

% fdset_intersection(+Sets, -Set): the intersection of a non-empty list.
fdset_intersection(Sets, Set) :-
        G = fdset_intersection(Sets, Set),
        must_be(Sets, list, G, 1),
        (   Sets = [S0|Ss] -> must_be_fdset(S0, G, 1), sets_fold(Ss, '$fd_dom_intersection', S0, G, Set)
        ;   illarg(domain(list, non_empty_list), G, 1)
        ).

fdset_subtract(S1, S2, S) :-
        G = fdset_subtract(S1, S2, S),
        must_be_fdset(S1, G, 1), must_be_fdset(S2, G, 2),
        '$fd_dom_subtract'(S1, S2, S).

fdset_complement(S1, S) :-
        must_be_fdset(S1, fdset_complement(S1, S), 1),
        '$fd_dom_complement'(S1, S).

fdset_add_element(S1, X, S) :-
        G = fdset_add_element(S1, X, S),
        must_be_fdset(S1, G, 1), must_be(X, integer, G, 2),
        '$fd_dom_insert'(S1, X, S).

fdset_del_element(S1, X, S) :-
        G = fdset_del_element(S1, X, S),
        must_be_fdset(S1, G, 1), must_be(X, integer, G, 2),
        '$fd_dom_delete'(S1, X, S).

% fdset_to_list(+Set, -List): the ascending list of the values of a finite
% set.
fdset_to_list(Set, List) :-
        G = fdset_to_list(Set, List),
        must_be_fdset(Set, G, 1),
        finite_set(Set, G, 1),
        intervals_values(Set, List).

intervals_values([], []).
intervals_values([[A|B]|Is], L) :- interval_values(A, B, L, L1), intervals_values(Is, L1).

interval_values(A, B, L, L0) :-
        (   A =< B -> L = [A|L1], A1 is A + 1, interval_values(A1, B, L1, L0)
        ;   L = L0
        ).

% list_to_fdset(+List, -Set): the set of the integers of List.
list_to_fdset(List, Set) :-
        G = list_to_fdset(List, Set),
        must_be(List, list(integer), G, 1),
        sort(List, Sorted),
        values_intervals(Sorted, Set).

values_intervals([], []).
values_intervals([X|Xs], [[X|B]|Is]) :- run_end(Xs, X, B, Rest), values_intervals(Rest, Is).

run_end([Y|Ys], X, B, Rest) :- Y =:= X + 1, !, run_end(Ys, Y, B, Rest).
run_end(Ys, X, X, Ys).

% range_to_fdset(+Range, -Set)
range_to_fdset(R, S) :-
        G = range_to_fdset(R, S),
        range_set(R, G, 1, S0), !,
        S = S0.

range_set(R, G, N, _) :- var(R), !, illarg(var, G, N).
range_set(I, _, _, S) :- integer(I), !, S = [[I|I]].
range_set(A..B, G, N, S) :- !,
        range_bound(A, G, N), range_bound(B, G, N),
        '$fd_range'(A, B, S, 1).
range_set({Is}, G, N, S) :- !,
        conjunction_list(Is, L, G, N),
        values_intervals_sorted(L, S).
range_set(R1 \/ R2, G, N, S) :- !,
        range_set(R1, G, N, S1), range_set(R2, G, N, S2),
        '$fd_dom_union'(S1, S2, S).
range_set(R1 /\ R2, G, N, S) :- !,
        range_set(R1, G, N, S1), range_set(R2, G, N, S2),
        '$fd_dom_intersection'(S1, S2, S).
range_set(\R, G, N, S) :- !,
        range_set(R, G, N, S1),
        '$fd_dom_complement'(S1, S).
range_set(R, G, N, _) :- illarg(domain(term, range), G, N, R).

range_bound(B, _, _) :- integer(B), !.
range_bound(B, _, _) :- (B == inf ; B == sup), !.
range_bound(B, G, N) :- var(B), !, illarg(var, G, N).
range_bound(B, G, N) :- illarg(type(integer), G, N, B).

conjunction_list(C, _, G, N) :- var(C), !, illarg(var, G, N).
conjunction_list((A, B), [A|L], G, N) :- !, must_be_element(A, G, N), conjunction_list(B, L, G, N).
conjunction_list(A, [A], G, N) :- must_be_element(A, G, N).

must_be_element(A, _, _) :- integer(A), !.
must_be_element(A, G, N) :- var(A), !, illarg(var, G, N).
must_be_element(A, G, N) :- illarg(type(integer), G, N, A).

values_intervals_sorted(L, S) :- sort(L, Sorted), values_intervals(Sorted, S).

% fdset_to_range(+Set, -Range): the empty set gives 1..0, a single value
% {V}, an interval A..B, several intervals their union from the left.
fdset_to_range(Set, Range) :-
        must_be_fdset(Set, fdset_to_range(Set, Range), 1),
        set_range(Set, Range0),
        Range = Range0.

set_range([], 1..0).
set_range([I|Is], R) :- interval_range(I, R0), set_range(Is, R0, R).

set_range([], R, R).
set_range([I|Is], R0, R) :- interval_range(I, R1), set_range(Is, R0 \/ R1, R).

interval_range([A|B], R) :- (A == B -> R = {A} ; R = A..B).
