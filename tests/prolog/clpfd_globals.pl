% Global constraints written in Prolog (library(clpfd)): posting with
% fd_global/3, the hook dispatch_global/4 and each of its actions, the
% suspension kinds that wake a constraint, the same behaviour after
% backtracking into it, and the refusal of native entries run on anything
% but a proper constraint item and state.

:- use_module(library(clpfd)).

between(L, H, L) :- L =< H.
between(L, H, X) :- L < H, L1 is L + 1, between(L1, H, X).

member(X, [X|_]).
member(X, [_|T]) :- member(X, T).

% ---- Test constraints ----

% le(X, Y): X =< Y on bounds, entailed once max(X) =< min(Y).
clpfd:dispatch_global(le(X, Y), S, S, Actions) :-
        fd_max(Y, MaxY), fd_min(X, MinX),
        fd_max(X, MaxX), fd_min(Y, MinY),
        (   integer(MaxX), integer(MinY), MaxX =< MinY -> Actions = [exit]
        ;   Actions = [X in inf..MaxY, Y in MinX..sup]
        ).

% plan: its state is the list of the action lists of its next runs, one
% per run; an exhausted plan answers [].
clpfd:dispatch_global(plan, State, Rest, Actions) :-
        (   State = [Actions|Rest] -> true ; Rest = [], Actions = [] ).

% runs: its state counts its runs.
clpfd:dispatch_global(runs, N0, N, []) :- N is N0 + 1.

% Posts runs on Susp; Global gives the count.
post_runs(Susp, Global) :-
        clpfd:fd_global_internal(runs, 0, Susp, Global, true, 0).

runs(Global, N) :-
        arg(1, Global, M), get_mutable(N, M).

% ---- Posting ----

expect(le_prunes_both_ways_through_a_qualified_goal, R,
       (domain([X, Y], 1, 9), X in 4..9, Y in 1..6, fd_global(user:le(X, Y), state, [minmax(X), minmax(Y)]),
        fd_dom(X, DX), fd_dom(Y, DY), R = DX/DY),
       [(4..6)/(4..6)]).
expect(le_entailed_at_posting_runs_no_more, R,
       (X in 1..3, Y in 5..9, fd_global(le(X, Y), state, [minmax(X), minmax(Y)]), Y in 5..6, X in 1..2,
        fd_dom(X, DX), fd_dom(Y, DY), R = DX/DY),
       [(1..2)/(5..6)]).
expect(le_wakes_on_a_later_change, R,
       (domain([X, Y], 1, 9), fd_global(le(X, Y), state, [minmax(X), minmax(Y)]), Y in 1..5,
        fd_dom(X, R)),
       [1..5]).

% ---- Each action, and the same again after backtracking into it ----

% action(Name, X, Y, Action, Result, Expected): the constraint answers []
% at posting and Action when X then changes (X in 2..10, X and Y both in
% 1..10 first); Result is read afterwards.  The change is made twice, the
% engine backtracking over the first, and must give Expected both times.
action(in_set,       X, _, X in_set [[2|4]],    R, Expected) :- fd_dom(X, R), Expected = 2..4.
action(in,           X, _, X in 3..5,           R, Expected) :- fd_dom(X, R), Expected = 3..5.
action(binding,      X, _, X = 7,               R, Expected) :- R = X, Expected = 7.
action(call,         _, Y, call(Y in 1..2),     R, Expected) :- fd_dom(Y, R), Expected = 1..2.
action(other_goal,   _, Y, Y in_set [[9|10]],   R, Expected) :- fd_dom(Y, R), Expected = 9..10.
action(exit,         X, _, exit,                R, Expected) :- fd_dom(X, R), Expected = 2..10.
action(empty,        X, _, none,                R, Expected) :- fd_dom(X, R), Expected = 2..10.
action(fail,         _, _, fail,                R, Expected) :- R = no, Expected = failed.

% Posts the constraint once, then makes the change and reads the result
% twice, backtracking over the first pass into the posted constraint.
action_twice(Name, Rs) :-
        action(Name, X, Y, Action, _, _),
        domain([X, Y], 1, 10),
        (   Action == none -> Runs = [[], []] ; Runs = [[], [Action]] ),
        fd_global(plan, Runs, [dom(X)]),
        findall(R, ( between(1, 2, _),
                     ( X in 2..10 -> action(Name, X, Y, _, R, _) ; R = failed ) ),
                Rs).

test(each_action_twice_across_backtracking) :-
        forall(action(Name, _, _, _, _, Expected),
               (   action_twice(Name, Rs),
                   (   Rs == [Expected, Expected] -> true
                   ;   throw(action_case(Name, expected(Expected), got(Rs)))
                   )
               )).

% After exit the constraint is gone: the rest of its plan never runs.
expect(exit_ends_the_constraint, R,
       (X in 1..10, fd_global(plan, [[], [exit], [X = 3]], [dom(X)]), X in 2..10, X in 3..10, fd_dom(X, R)),
       [3..10]).
% An empty action list keeps the constraint with its new state: the third
% run sees the state the second one left.
expect(empty_actions_keep_the_new_state, R,
       (X in 1..10, fd_global(plan, [[], [], [X in 5..6]], [dom(X)]), X in 2..10, X in 3..10, fd_dom(X, R)),
       [5..6]).
expect(fail_at_posting_fails, R, (X in 1..10, ( fd_global(plan, [[fail]], [dom(X)]) -> R = posted ; R = failed )),
       [failed]).

% ---- Wake-ups by suspension kind ----

% wakes(Change, Woken): for X in 1..10, the change and, per suspension
% kind dom, min, max, minmax, val, whether it wakes the constraint.
wakes(hole,  [yes, no,  no,  no,  no ]).
wakes(min,   [yes, yes, no,  yes, no ]).
wakes(max,   [yes, no,  yes, yes, no ]).
wakes(bind,  [yes, yes, yes, yes, yes]).

change(hole, X) :- X in_set [[1|4], [6|10]].
change(min, X) :- X in 3..10.
change(max, X) :- X in 1..8.
change(bind, X) :- X = 5.

% The runs after the change, twice across backtracking, and the count
% once backtracking has undone the change.
woken(Kind, Change, Woken) :-
        X in 1..10,
        Susp =.. [Kind, X],
        post_runs([Susp], G),
        findall(W, ( between(1, 2, _), change(Change, X), runs(G, N), ( N =:= 2 -> W = yes ; W = no ) ), Ws),
        runs(G, 1),
        (   Ws = [Woken, Woken] -> true
        ;   throw(wake_case(Kind, Change, got(Ws)))
        ).

test(suspension_kinds_wake_on_their_changes_only) :-
        forall(wakes(Change, Expected),
               (   findall(W, ( member(Kind, [dom, min, max, minmax, val]), woken(Kind, Change, W) ), Ws),
                   (   Ws == Expected -> true
                   ;   throw(wakes(Change, expected(Expected), got(Ws)))
                   )
               )).

% A change of a variable the constraint is not suspended on, and one that
% leaves the domain as it was, wake nothing.
expect(unrelated_change_wakes_nothing, N,
       (X in 1..10, Y in 1..10, post_runs([dom(X)], G), Y in 2..5, X in 0..12, runs(G, N)),
       [1]).

% A wake-up action of a Prolog-run propagator wakes the constraints
% suspended on that kind of change of the variable.
expect(wake_actions_wake_their_kinds, R,
       (Y in 1..10,
        post_runs([min(Y)], Gmin), post_runs([max(Y)], Gmax), post_runs([dom(Y)], Gdom),
        fd_global(plan, [[min(Y)]], []),
        runs(Gmin, A), runs(Gmax, B), runs(Gdom, C), R = [A, B, C]),
       [[2, 1, 2]]).

% ---- Native entries refuse what is not a proper item and state ----

% Calling a constraint's native entry directly gives it no item.
test(native_entries_called_directly_raise) :-
        forall(member(Entry, ['$fd_element', '$fd_minmax', '$fd_all_distinct', '$fd_linear']),
               (   Goal =.. [Entry, f(_, 0), _, _],
                   catch(( clpfd:Goal, R = succeeded ), error(E, _), R = E),
                   (   R = domain_error(global_constraint_item, _) -> true
                   ;   throw(entry(Entry, got(R)))
                   )
               )).

% A native constraint posted with a state that is not of its protocol's
% shape (or with a handle that names no block) is refused before it runs.
expect(native_constraint_with_bad_state, E,
       (member(S, [foo, f(0), f(_, x), f(['$free'(154)|x], 0), f([_|'$free'(154)], 0)]),
        catch(fd_global(element(_, [1, 2], _), S, []), error(domain_error(E, _), _), true)),
       [global_constraint_state, global_constraint_state, global_constraint_state,
        global_constraint_state, global_constraint_state]).

% An unbound or non-callable constraint is refused: it would run whichever
% hook clause it unifies with.
expect(constraint_must_be_callable, E,
       (member(C, [_, user:_, 42]), catch(fd_global(C, 0, []), error(E, _), true)),
       [instantiation_error, instantiation_error, type_error(callable,42)]).
