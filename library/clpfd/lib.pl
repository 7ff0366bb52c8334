% Domains, domain queries, argument checks and option helpers of the
% finite-domain solver.  Part of module clpfd.

% ---- Restricting domains ----

% domain(+Vars, +Min, +Max): every element of Vars lies in Min..Max.
domain(Vars, Min, Max) :-
        G = domain(Vars, Min, Max),
        must_be_dvar_list(Vars, G, 1),
        must_be_bound(Min, G, 2),
        must_be_bound(Max, G, 3),
        domain_interval(Vars, Min, Max, 1),
        evaluate.

domain_interval([], _, _, Init) :-
        (   Init =:= 1 -> '$fd_begin' ; true ).
domain_interval([X|Xs], Min, Max, Init) :-
        '$fd_in_interval'(X, Min, Max, Init),
        domain_interval(Xs, Min, Max, 0).

% domain(?X, +Set): X lies in the FD set Set.
domain(X, Set) :-
        G = domain(X, Set),
        must_be_dvar(X, G, 1),
        must_be_fdset(Set, G, 2),
        in_set_aux_rt(X, Set).

% ?X in +Range
X in Range :-
        G = (X in Range),
        must_be_dvar(X, G, 1),
        range_set(Range, G, 2, Set), !,
        in_set_aux_rt(X, Set).

% ?X in_set +Set
X in_set Set :-
        G = (X in_set Set),
        must_be_dvar(X, G, 1),
        must_be_fdset(Set, G, 2),
        in_set_aux_rt(X, Set).

% in_set_aux_rt(?X, +Set): X in the (well-formed) set, propagated at once.
in_set_aux_rt(X, Set) :-
        '$fd_in_set'(X, Set, 1),
        evaluate.

% propagate_interval(?X, +Min, +Max): X in Min..Max (inf and sup allowed),
% propagated at once.
propagate_interval(X, Min, Max) :-
        '$fd_in_interval'(X, Min, Max, 1),
        evaluate.

% X t\=c I: X differs from the integer I.
't\\=c'(X, I) :-
        '$fd_dom_complement'([[I|I]], Set),
        in_set_aux_rt(X, Set).

% ---- Queries ----

% fd_var(?X): X is a domain variable.
fd_var(X) :-
        var(X),
        '$get_attributes'(X, A, _),     % A stays unbound without an attribute
        nonvar(A),
        A = v(_, _, _, _).

% The dom/4 term of X (a domain variable, made one when it is a plain
% variable, or an integer).
fd_dom_term(X, Goal, ArgNo, Dom) :-
        (   '$fd_arg_attribute'(X, 0, A) -> attribute_dom(A, Dom)
        ;   illarg(type(integer), Goal, ArgNo)
        ).

% The dom/4 term of an attribute, forwarding followed.
attribute_dom(A, Dom) :-
        arg(3, A, M),
        get_mutable(D, M),
        (   D = v(_, _, _, _) -> attribute_dom(D, Dom)
        ;   Dom = D
        ).

% The last attribute of a forwarding chain.
last_attribute(A, L) :-
        arg(3, A, M),
        get_mutable(D, M),
        (   D = v(_, _, _, _) -> last_attribute(D, L)
        ;   L = A
        ).

fd_min(X, Min) :- fd_dom_term(X, fd_min(X, Min), 1, dom(_, Min0, _, _)), Min = Min0.
fd_max(X, Max) :- fd_dom_term(X, fd_max(X, Max), 1, dom(_, _, Max0, _)), Max = Max0.
fd_size(X, Size) :- fd_dom_term(X, fd_size(X, Size), 1, dom(_, _, _, Size0)), Size = Size0.

% fd_set(?X, -Set): X's domain as an FD set (trimmed to its bounds, so
% the set shares no cells the solver may change).
fd_set(X, Set) :-
        fd_dom_term(X, fd_set(X, Set), 1, dom(S, Min, Max, _)),
        '$fd_range'(Min, Max, R, 1),
        '$fd_dom_intersection'(S, R, Set0),
        Set = Set0.

% fd_dom(?X, -Range): X's domain as a range term.
fd_dom(X, Range) :-
        fd_set(X, Set),
        set_range(Set, Range0),
        Range = Range0.

% fd_degree(?X, -N): the number of live suspensions on X (0 for an
% integer).
fd_degree(X, N) :-
        G = fd_degree(X, N),
        (   integer(X) -> N = 0
        ;   '$fd_arg_attribute'(X, 0, A) ->
            last_attribute(A, L),
            arg(4, L, M),
            get_mutable(Lists, M),
            arg(1, Lists, N0),
            N = N0
        ;   illarg(type(integer), G, 1)
        ).

% fd_statistics/0 prints the counters, fd_statistics/2 reads one; both
% reset what they read.
fd_statistics :-
        stat_key(Key, _),
        fd_statistics(Key, V),
        format(user_error, "~w: ~d~n", [Key, V]),
        fail.
fd_statistics.

fd_statistics(Key, Value) :-
        (   var(Key) -> stat_key(Key, I), '$fd_statistics'(I, Value)
        ;   stat_key(Key, I) -> '$fd_statistics'(I, Value)
        ;   illarg(domain(atom, fd_statistics_key), fd_statistics(Key, Value), 1)
        ).

stat_key(resumptions, 0).
stat_key(entailments, 1).
stat_key(prunings, 2).
stat_key(backtracks, 3).
stat_key(constraints, 4).

% ---- Argument checks ----

% arg_attribute(?X, -Attr, +Goal, +ArgNo): X made a domain variable and its
% attribute, or the type error for argument ArgNo of Goal.
arg_attribute(X, A, Goal, ArgNo) :-
        (   '$fd_arg_attribute'(X, 0, A0) -> A = A0
        ;   illarg(type(integer), Goal, ArgNo)
        ).

% finite_arg_attribute(?X, -Attr, +Goal, +ArgNo): the same for a domain
% variable with finite bounds: an unbounded one is an instantiation error.
finite_arg_attribute(X, A, Goal, ArgNo) :-
        (   '$fd_arg_attribute'(X, 1, A0) -> A = A0
        ;   var(X) -> illarg(var, Goal, ArgNo)
        ;   illarg(type(integer), Goal, ArgNo)
        ).

% dvar_list_susp(+Vars, -Pairs, +On, +Goal, +ArgNo, -Susp, ?Tail): the
% X-Attribute pair of every element, and On(X) for each that is not an
% integer, in front of Tail.
dvar_list_susp(Vars, Pairs, On, Goal, ArgNo, Susp, Tail) :-
        must_be_dvar_list(Vars, Goal, ArgNo),
        dvar_pairs(Vars, arg_attribute, Pairs, On, Goal, ArgNo, Susp, Tail).

finite_dvar_list_susp(Vars, Pairs, On, Goal, ArgNo, Susp, Tail) :-
        must_be_list_of_finite_dvar(Vars, Goal, ArgNo),
        dvar_pairs(Vars, finite_arg_attribute, Pairs, On, Goal, ArgNo, Susp, Tail).

dvar_pairs([], _, [], _, _, _, Tail, Tail).
dvar_pairs([X|Xs], Check, [X-A|Ps], On, Goal, ArgNo, Susp, Tail) :-
        call(Check, X, A, Goal, ArgNo),
        on(On, X, Susp, Susp1),
        dvar_pairs(Xs, Check, Ps, On, Goal, ArgNo, Susp1, Tail).

must_be_dvar(X, _, _) :- var(X), !.
must_be_dvar(X, _, _) :- integer(X), !.
must_be_dvar(_, Goal, ArgNo) :- illarg(type(integer), Goal, ArgNo).

% must_be_dvar_list(+L, +Goal, +ArgNo): a proper list of variables and
% integers.
must_be_dvar_list(L, Goal, ArgNo) :-
        must_be(L, list, Goal, ArgNo),
        dvars(L, Goal, ArgNo).

dvars([], _, _).
dvars([X|Xs], Goal, ArgNo) :-
        (   var(X) -> true
        ;   integer(X) -> true
        ;   illarg(type(integer), Goal, ArgNo, X)
        ),
        dvars(Xs, Goal, ArgNo).

% must_be_list_of_finite_dvar(+L, +Goal, +ArgNo): each element an integer
% or a domain variable whose bounds are finite.
must_be_list_of_finite_dvar(L, Goal, ArgNo) :-
        must_be_dvar_list(L, Goal, ArgNo),
        (   '$fd_dvar_list'(L, 1) -> true
        ;   illarg(var, Goal, ArgNo)
        ).

% on(+Event, ?X, -List, ?Tail): the suspension On(X) in front of Tail
% (nothing for a bound X).
on(_, X, L, L) :- nonvar(X), !.
on(Event, X, [S|L], L) :- on_key(Event, Key), !, S =.. [Key, X].

on_key(dom, dom).
on_key(domain, dom).
on_key(global, dom).
on_key(minmax, minmax).
on_key(range, minmax).
on_key(bound, minmax).
on_key(val, val).
on_key(value, val).
on_key(local, val).
on_key(min, min).
on_key(max, max).
on_key(none, none).

% ---- Options ----

consistency_option(local, local, val).
consistency_option(value, local, val).
consistency_option(bound, bound, minmax).
consistency_option(bounds, bound, minmax).
consistency_option(global, global, dom).
consistency_option(domain, global, dom).

bool_option(V, C) :- nonvar(V), bool_code(V, C).

bool_code(false, 0).
bool_code(true, 1).

boolall_option(V, C) :- nonvar(V), boolall_code(V, C).

boolall_code(false, 0).
boolall_code(true, 1).
boolall_code(all, 3).

% aux_option(+Option, +Value, -Code): fails on an unbound value.
aux_option(Option, Value, Code) :- nonvar(Value), aux_code(Option, Value, Code).

aux_code(bound, lower, 0).
aux_code(bound, upper, 1).
aux_code(prune, all, 0).
aux_code(prune, next, 1).
