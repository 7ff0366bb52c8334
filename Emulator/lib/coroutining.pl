% Coroutining: freeze/2, frozen/2, dif/2, when/2 and the wake-up handlers
% the emulator escapes to when bound constrained variables must be woken
% (unify_cva/2 for variables with attributes, call_goals/1 for goal lists).
%
% A suspended goal is '$apply'(Goal, Module, Flag) in the goal list of a
% constrained variable; '$apply'/3 binds Flag when it runs Goal, so a goal
% suspended on several variables runs once.  freeze/2 and when/3 wait by
% block declarations: the blocked call itself is the suspended goal, and
% when the variable is bound the call runs again and enters its clause.
%
% '$mgu_variables'/3 reads the bindings it makes from the trail above the
% newest choicepoint, so it is always called as the first goal of the
% first of two clauses (dif/2, trig_nondif/4): the choicepoint of the
% call is that newest one.
%
% when/2 translates its condition into a trigger, a variable bound when
% the condition holds (trig/3).  Every internal wait also knows the
% trigger of the whole condition (its "stop" variable): once the goal is
% due, the waits of other disjuncts end as soon as they look at it.

:- meta_predicate freeze(?, 0), when(?, 0).

% ---- freeze/2 and frozen/2 ----

:- block freeze(-, ?).
freeze(_, Goal) :- call(Goal).

% frozen(Var, Goal): the conjunction of what waits on Var: the goals that
% the attribute modules give for their attributes (attribute_goal/2), then
% the pending suspended goals in list order; true when there is none.  A
% term that is not a variable has nothing waiting on it.
frozen(Var, Goal) :-
        (   var(Var) ->
            '$get_cva'(Var, Attr, Goals),
            '$get_attribute_modules'(Attr, Modules)
        ;   Goals = [], Modules = []
        ),
        frozen_attributes(Modules, Var, true, Conj0),
        frozen_goals(Goals, Conj0, Conj),
        Goal = Conj.

frozen_attributes([], _, Conj, Conj).
frozen_attributes([M|Ms], Var, Conj0, Conj) :-
        (   call_user_def(attribute_goal(Var, G), M) -> frozen_conj(Conj0, M:G, Conj1)
        ;   Conj1 = Conj0
        ),
        frozen_attributes(Ms, Var, Conj1, Conj).

frozen_conj(true, G, G) :- !.
frozen_conj(Conj, G, (Conj, G)).

frozen_goals([], Conj, Conj).
frozen_goals([W|Ws], Conj0, Conj) :-
        (   W = '$apply'(G, M, Flag), var(Flag) -> frozen_goal(G, M, Conj0, Conj1)
        ;   Conj1 = Conj0
        ),
        frozen_goals(Ws, Conj1, Conj).

% The first rule that applies: the first goal as it is; true adds nothing;
% a blocked freeze/2 call contributes its goal; anything else is added.
frozen_goal(G, M, true, M:G) :- !.
frozen_goal(true, _, Conj, Conj) :- !.
frozen_goal(freeze(_, M0:G0), prolog, Conj0, Conj) :- !,
        frozen_goal(G0, M0, Conj0, Conj).
frozen_goal(G, M, Conj, (Conj, M:G)).

% ---- dif/2 ----

% dif(X, Y): X and Y never become identical.  While they still may, the
% goal waits on every variable whose binding could decide it.
dif(X, Y) :-
        '$mgu_variables'(X, Y, Vars), !,
        Vars \== [],
        '$disjunctive_geler'(Vars, dif(X, Y)).
dif(_, _).

% ---- when/2 ----

when(Cond, Goal) :-
        must_be_callable(Goal, _, _, when(Cond, Goal), 2),
        (   trig(Cond, T, T) -> when(T, Cond, Goal)
        ;   illarg(domain(term, when_condition), when(Cond, Goal), 1)
        ).

:- block when(-, ?, ?).
when(_, _, Goal) :- call(Goal).

% trig(Condition, Stop, Trigger): Trigger is bound when Condition holds;
% Stop is the trigger of the whole condition.  Fails for a term that is
% no condition.
trig(C, _, _) :- var(C), !, fail.
trig(nonvar(X), _, X).
trig(ground(X), S, T) :-
        term_variables(X, Vs),
        trig_ground(Vs, X, S, T).
trig(?=(X, Y), S, T) :-
        trig_nondif(X, Y, S, T).
trig((C1, C2), S, T) :-
        trig_conjuncts((C1, C2), S, Ts, []),
        trig_and(Ts, S, T).
trig((C1 ; C2), S, T) :-
        trig_disjuncts((C1 ; C2), S, Ts, []),
        trig_or(Ts, S, T).

% Waits for the variables of the term one after the other; when the list
% is used up the term's variables are collected again, since bindings may
% have brought new ones.
trig_ground([], X, S, T) :-
        term_variables(X, Vs),
        (   Vs == [] -> T = 1
        ;   trig_ground(Vs, X, S, T)
        ).
trig_ground([V|Vs], X, S, T) :-
        trig_ground(V, Vs, X, S, T).

:- block trig_ground(-, ?, ?, -, ?).
trig_ground(_, Vs, X, S, T) :-
        (   nonvar(S) -> true
        ;   trig_ground(Vs, X, S, T)
        ).

% ?=(X, Y): X and Y are identical or cannot unify any more.
trig_nondif(X, Y, S, T) :-
        '$mgu_variables'(X, Y, Vars), !,
        (   Vars == [] -> T = 1
        ;   nonvar(S) -> true
        ;   '$disjunctive_geler'(Vars, trig_nondif(X, Y, S, T))
        ).
trig_nondif(_, _, _, 1).

trig_conjuncts(C, S, Ts0, Ts) :-
        nonvar(C), C = (C1, C2), !,
        trig_conjuncts(C1, S, Ts0, Ts1),
        trig_conjuncts(C2, S, Ts1, Ts).
trig_conjuncts(C, S, [T|Ts], Ts) :-
        trig(C, S, T).

trig_disjuncts(C, S, Ts0, Ts) :-
        nonvar(C), C = (C1 ; C2), !,
        trig_disjuncts(C1, S, Ts0, Ts1),
        trig_disjuncts(C2, S, Ts1, Ts).
trig_disjuncts(C, S, [T|Ts], Ts) :-
        trig(C, S, T).

% The triggers of a conjunction in list order, then its own.
trig_and([], _, 1).
trig_and([T1|Ts], S, T) :-
        trig_and(T1, Ts, S, T).

:- block trig_and(-, ?, -, ?).
trig_and(_, Ts, S, T) :-
        (   nonvar(S) -> true
        ;   trig_and(Ts, S, T)
        ).

% A disjunction holds as soon as one of its triggers is bound, which may
% be the case already.
trig_or(Ts, S, T) :-
        (   bound_trigger(Ts) -> T = 1
        ;   nonvar(S) -> true
        ;   '$disjunctive_geler'(Ts, trig_or(Ts, S, T))
        ).

bound_trigger([T|Ts]) :-
        (   nonvar(T) -> true
        ;   bound_trigger(Ts)
        ).

% ---- Wake-up ----

% call_goals(List): the woken goals of a variable, the later ones in the
% list (the earlier suspended ones) first.
call_goals([]).
call_goals(['$apply'(G, M, F)|Gs]) :-
        call_goals(Gs),
        '$apply'(G, M, F).

% unify_cva(Var, Value): Var, a variable with attributes, was bound to
% Value; the binding has been undone.  Every attribute module's
% verify_attributes/3 sees the binding first and gives goals to run after
% it; then Var loses its attributes and goals and is bound, the modules'
% goals run, and then the goals that were suspended on Var (a blocked call
% whose variable is bound to another variable suspends again, on that one).
unify_cva(Var, Value) :- Var == Value, !.
unify_cva(Var, Value) :-
        '$get_cva'(Var, Attr, Goals),
        '$get_attribute_modules'(Attr, Modules),
        verify_attributes(Modules, Var, Value, AttrGoals),
        '$put_cva'(Var, [], []),
        Var = Value,
        call_all(AttrGoals),
        call_goals(Goals).

% verify_attributes(Modules, Var, Value, Goals): each module's hook in
% slot order; the failure of one makes the binding fail.  A module
% without the hook has nothing to say.
verify_attributes([], _, _, []).
verify_attributes([M|Ms], Var, Value, Goals) :-
        (   '$predicate_property'(verify_attributes(_, _, _), _, _, M, _) ->
            M:verify_attributes(Var, Value, Gs),
            qualified_goals(Gs, M, Goals, Goals1)
        ;   Goals = Goals1
        ),
        verify_attributes(Ms, Var, Value, Goals1).

qualified_goals([], _, Goals, Goals).
qualified_goals([G|Gs], M, [M:G|Goals0], Goals) :-
        qualified_goals(Gs, M, Goals0, Goals).

call_all([]).
call_all([G|Gs]) :-
        call(G),
        call_all(Gs).
