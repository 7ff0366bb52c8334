% All solutions: findall/3,4, bagof/3 and setof/3 with ^/2, as ISO
% defines them.
%
% findall collects a copy of the template for every solution in a set-of
% root of the database ('$add_setof_root'/1): the copies live outside the
% stacks while the goal backtracks, and '$setof_list_instances'/3 brings
% them back as one list.  The root is removed whatever becomes of the
% goal: when it is exhausted, and when an exception leaves it (a root left
% behind by an abort goes with the worker's re-initialisation).
%
% bagof and setof collect Witness-Template pairs, where the witness holds
% the goal's free variables (those neither in the template nor bound by
% ^), sort them by witness in the standard order and return one bag per
% witness, variant witnesses being one witness; setof sorts each bag and
% removes duplicates.  The two merge sorts below serve them (keysort
% stable, sort removing duplicates).

:- meta_predicate
        findall(?, 0, ?), findall(?, 0, ?, ?), bagof(?, 0, ?), setof(?, 0, ?).

findall(Template, Goal, List) :-
        findall_(Template, Goal, List, [], findall(Template, Goal, List)).
findall(Template, Goal, List, Tail) :-
        findall_(Template, Goal, List, Tail, findall(Template, Goal, List, Tail)).

findall_(Template, Goal, List, Tail, Context) :-
        list_or_partial(List, Context, 3),
        '$add_setof_root'(Root),
        (   catch(collect(Template, Goal, Root), Ball,
                  ( '$remove_setof_root'(Root), throw(Ball) ))
        ;   '$setof_list_instances'(Root, L, Tail),
            '$remove_setof_root'(Root),
            List = L
        ).

collect(Template, Goal, Root) :-
        call(Goal),
        '$setof_inserta'(Root, [Template|_], _),
        fail.

list_or_partial(L, Context, ArgNo) :-
        (   list_end(L, E), ( var(E) ; E == [] ) -> true
        ;   illarg(type(list), Context, ArgNo, L)
        ).

bagof(Template, Goal, Bag) :-
        Context = bagof(Template, Goal, Bag),
        list_or_partial(Bag, Context, 3),
        bag(Template, Goal, Bag, Context).

setof(Template, Goal, Set) :-
        Context = setof(Template, Goal, Set),
        list_or_partial(Set, Context, 3),
        bag(Template, Goal, Bag, Context),
        bag_sort(Bag, Set).

bag(Template, Goal0, Bag, Context) :-
        existential(Goal0, Goal, Bound),
        term_variables(Goal, GoalVars),
        term_variables(Template-Bound, Seen),
        free_variables(GoalVars, Seen, Free),
        (   Free == [] ->
            findall_(Template, Goal, Bag0, [], Context),
            Bag0 \== [],
            Bag = Bag0
        ;   Witness =.. [w|Free],
            findall_(Witness-Template, Goal, Pairs, [], Context),
            Pairs \== [],
            bag_keysort(Pairs, Sorted),
            pick_bag(Sorted, Witness, Bag)
        ).

% existential(Goal, Inner, Vars): V^G as G with V bound, through module
% qualifications.
existential(G, G, []) :- var(G), !.
existential(M:G0, M:G, Vs) :- !, existential(G0, G, Vs).
existential(V^G0, G, [V|Vs]) :- !, existential(G0, G, Vs).
existential(G, G, []).

free_variables([], _, []).
free_variables([V|Vs], Seen, Free) :-
        (   var_member(V, Seen) -> Free = Free1
        ;   Free = [V|Free1]
        ),
        free_variables(Vs, Seen, Free1).

var_member(V, [W|Ws]) :-
        (   V == W -> true
        ;   var_member(V, Ws)
        ).

% pick_bag(Pairs, Witness, Bag): one bag per witness, in the order of the
% sorted pairs; the variants of the first witness are unified with it.
pick_bag([W0-T0|Rest], W, Bag) :-
        (   ground(W0) -> same_witness(Rest, W0, Ts, Others)
        ;   variant_witness(Rest, W0, Ts, Others)
        ),
        (   Others == [] ->
            W = W0, Bag = [T0|Ts]
        ;   (   W = W0, Bag = [T0|Ts]
            ;   pick_bag(Others, W, Bag)
            )
        ).

% Equal ground witnesses lie next to each other once sorted.
same_witness([], _, [], []).
same_witness([W1-T1|Rest], W0, Ts, Others) :-
        (   W1 == W0 -> Ts = [T1|Ts1], same_witness(Rest, W0, Ts1, Others)
        ;   Ts = [], Others = [W1-T1|Rest]
        ).

variant_witness([], _, [], []).
variant_witness([W1-T1|Rest], W0, Ts, Others) :-
        (   variant(W1, W0) ->
            W1 = W0, Ts = [T1|Ts1], Others = Others1
        ;   Ts = Ts1, Others = [W1-T1|Others1]
        ),
        variant_witness(Rest, W0, Ts1, Others1).

% Copies made by findall share no variables: mutual subsumption is being
% a variant.
variant(A, B) :-
        \+ \+ '$subsumes'(A, B),
        \+ \+ '$subsumes'(B, A).

% ---- Merge sorts ----

% bag_keysort(Pairs, Sorted): by key in the standard order, stable.
bag_keysort(L, S) :-
        length(L, N),
        keysort_n(N, L, S, []).

keysort_n(0, L, [], L) :- !.
keysort_n(1, [X|L], [X], L) :- !.
keysort_n(N, L0, S, L) :-
        A is N >> 1,
        B is N - A,
        keysort_n(A, L0, S1, L1),
        keysort_n(B, L1, S2, L),
        merge_keys(S1, S2, S).

merge_keys([], L, L).
merge_keys([A|As], Bs, M) :- merge_keys_a(Bs, A, As, M).

% A (with As) from the earlier run, the next of the later run first.
merge_keys_a([], A, As, [A|As]).
merge_keys_a([B|Bs], A, As, M) :-
        A = KA-_, B = KB-_,
        (   compare(>, KA, KB) -> M = [B|M1], merge_keys_a(Bs, A, As, M1)
        ;   M = [A|M1], merge_keys_b(As, B, Bs, M1)
        ).

% B (with Bs) from the later run, the next of the earlier run first.
merge_keys_b([], B, Bs, [B|Bs]).
merge_keys_b([A|As], B, Bs, M) :-
        A = KA-_, B = KB-_,
        (   compare(>, KA, KB) -> M = [B|M1], merge_keys_a(Bs, A, As, M1)
        ;   M = [A|M1], merge_keys_b(As, B, Bs, M1)
        ).

% bag_sort(List, Sorted): in the standard order, duplicates removed.
bag_sort(L, S) :-
        length(L, N),
        sort_n(N, L, S, []).

sort_n(0, L, [], L) :- !.
sort_n(1, [X|L], [X], L) :- !.
sort_n(N, L0, S, L) :-
        A is N >> 1,
        B is N - A,
        sort_n(A, L0, S1, L1),
        sort_n(B, L1, S2, L),
        merge_set(S1, S2, S).

merge_set([], L, L).
merge_set([A|As], Bs, M) :- merge_set_a(Bs, A, As, M).

merge_set_a([], A, As, [A|As]).
merge_set_a([B|Bs], A, As, M) :-
        compare(O, A, B),
        merge_set_(O, A, As, B, Bs, M).

merge_set_b([], B, Bs, [B|Bs]).
merge_set_b([A|As], B, Bs, M) :-
        compare(O, A, B),
        merge_set_(O, A, As, B, Bs, M).

merge_set_(<, A, As, B, Bs, [A|M]) :- merge_set_b(As, B, Bs, M).
merge_set_(>, A, As, B, Bs, [B|M]) :- merge_set_a(Bs, A, As, M).
merge_set_(=, A, As, _, Bs, [A|M]) :- merge_set(As, Bs, M).
