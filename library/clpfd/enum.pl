% Labeling: the search over domain variables.  Part of module clpfd.
%
% labeling(+Options, +Vars) assigns every variable of Vars a value of its
% (finite) domain, one solution per answer, each step propagated.  A step
% picks a variable (leftmost: the first unbound one; min, max: smallest
% lower or greatest upper bound; ff: smallest domain; ffc: smallest domain,
% then the most suspensions; ties go to the variable earlier in the list)
% and makes a choice on it: step tries X = B, then X \= B (B its lower
% bound going up, its upper bound going down); enum tries each value in
% turn; bisect splits the domain at its midpoint.  Options also say
% whether to give all solutions (all, the default) or the least (greatest)
% value of V (minimize(V), maximize(V)): branch and bound, the incumbent
% kept in a recorded term that backtracking leaves alone, every node
% bounding V strictly by it; the search ends when no better solution
% remains, so the answer is the proven optimum.  time_out(Ms, Flag)
% limits the search to Ms milliseconds of CPU time and gives one answer:
% Flag = success when the search ended in time, time_out when the limit
% stopped it (the best solution so far when optimising, the variables as
% they were when none was found).

:- use_module(library(timeout), [time_out/3]).

% labeling(:Options, +Vars)
labeling(Options0, Vars) :-
        G = labeling(Options0, Vars),
        strip_module_qualifiers(Options0, Options),
        must_be(Options, list, G, 1),
        label_options(Options, G, opts(leftmost, step, up, all, none), Opts),
        must_be_list_of_finite_dvar(Vars, G, 2),
        Opts = opts(Sel, Val, Ord, Sol, Time),
        label_run(Sol, Time, Vars, Sel, Val, Ord).

% indomain(?X): X takes each value of its finite domain in ascending order.
indomain(X) :-
        G = indomain(X),
        must_be_list_of_finite_dvar([X], G, 1),
        (   integer(X) -> true
        ;   choice(enum, up, X)
        ).

% ---- Options ----

label_options([], _, Opts, Opts).
label_options([O|Os], G, Opts0, Opts) :-
        (   var(O) -> illarg(var, G, 1)
        ;   label_option(O, Opts0, Opts1) -> label_options(Os, G, Opts1, Opts)
        ;   illarg(domain(term, labeling_options), G, 1, O)
        ).

% label_option(+Option, +Opts0, -Opts): opts(Sel, Val, Ord, Sol, Time)
% with Option applied; fails for anything that is not an option.
label_option(O, opts(_, Val, Ord, Sol, T), opts(O, Val, Ord, Sol, T)) :- var_choice(O, _).
label_option(O, opts(Sel, _, Ord, Sol, T), opts(Sel, O, Ord, Sol, T)) :- value_choice(O).
label_option(up, opts(Sel, Val, _, Sol, T), opts(Sel, Val, up, Sol, T)).
label_option(down, opts(Sel, Val, _, Sol, T), opts(Sel, Val, down, Sol, T)).
label_option(all, opts(Sel, Val, Ord, _, T), opts(Sel, Val, Ord, all, T)).
label_option(minimize(V), opts(Sel, Val, Ord, _, T), opts(Sel, Val, Ord, best(min, V), T)) :- dvar(V).
label_option(maximize(V), opts(Sel, Val, Ord, _, T), opts(Sel, Val, Ord, best(max, V), T)) :- dvar(V).
label_option(time_out(Ms, Flag), opts(Sel, Val, Ord, Sol, _), opts(Sel, Val, Ord, Sol, limit(Ms, Flag))) :-
        integer(Ms), Ms >= 0.

dvar(V) :- var(V), !.
dvar(V) :- integer(V).

% var_choice(?Option, -Criterion): the criterion codes of $fd_delete/3.
var_choice(leftmost, 0).
var_choice(min, 1).
var_choice(max, 2).
var_choice(ff, 3).
var_choice(ffc, 4).

value_choice(step).
value_choice(enum).
value_choice(bisect).

% ---- Running the search ----

label_run(all, none, Vars, Sel, Val, Ord) :-
        search(Vars, Sel, Val, Ord, none).
label_run(all, limit(Ms, Flag), Vars, Sel, Val, Ord) :-
        time_out(search(Vars, Sel, Val, Ord, none), Ms, Result),
        Flag = Result.
label_run(best(Dir, V), Time, Vars, Sel, Val, Ord) :-
        optimise(Dir, V, Time, Vars, Sel, Val, Ord).

% search(+Vars, +Sel, +Val, +Ord, +Bound): labels Vars; Bound is none or
% bb(Dir, V, Ref), the incumbent to beat, applied at every node.  min,
% max and ff choose through the heap constraint of $fd_labeling/4, which
% daemons keep in order as domains shrink; leftmost and ffc (whose second
% key, the suspension count, no daemon watches) scan the list.
search(Vars, Sel, Val, Ord, Bound) :-
        heap_key(Sel, Key), !,
        labeling_item(Vars, Key, Global),
        heap_search(Global, Val, Ord, Bound).
search(Vars0, Sel, Val, Ord, Bound) :-
        beat_incumbent(Bound),
        unbound_vars(Vars0, Vars),
        (   Vars == [] -> true
        ;   select_var(Sel, Vars, X),
            choice(Val, Ord, X),
            search(Vars, Sel, Val, Ord, Bound)
        ).

% heap_key(?Sel, -Key): the heap constraint's key atom for Sel; as a
% functor of arity 1 it names the suspension list its daemons wait in
% (the bound whose change moves the key, any change for the size).
heap_key(min, min).
heap_key(max, max).
heap_key(ff, dom).

% labeling_item(+Vars, +Key, -Global): the item of a heap constraint over
% Vars; its StateMutable holds the state that the next step gets.
labeling_item(Vars, Key, global(StateM, labeling(Key), StatusM, _Ent, labeling(Key))) :-
        create_mutable(labeling(Vars, Key, _Handle, 0), StateM),
        create_mutable(2, StatusM).

heap_search(Global, Val, Ord, Bound) :-
        beat_incumbent(Bound),
        arg(1, Global, StateM),
        get_mutable(State, StateM),
        '$fd_labeling'(State, NewState, X, Global),
        update_mutable(NewState, StateM),
        (   X == [] -> true
        ;   choice(Val, Ord, X),
            heap_search(Global, Val, Ord, Bound)
        ).

unbound_vars([], []).
unbound_vars([X|Xs], Vs) :-
        (   var(X) -> Vs = [X|Vs1] ; Vs = Vs1 ),
        unbound_vars(Xs, Vs1).

% select_var(+Sel, +Vars, -X): Vars all unbound.
select_var(leftmost, [X|_], X) :- !.
select_var(Sel, Vars, X) :-
        var_choice(Sel, Criterion),
        '$fd_delete'(Vars, X, Criterion).

% choice(+Val, +Ord, ?X): one branch on X per answer.
choice(step, Ord, X) :-
        (   Ord == up -> fd_min(X, B) ; fd_max(X, B) ),
        (   X = B
        ;   't\\=c'(X, B)
        ).
choice(enum, Ord, X) :-
        fd_set(X, Set),
        (   Ord == up -> value_up(Set, V) ; reversed(Set, [], Rev), value_down(Rev, V) ),
        X = V.
choice(bisect, Ord, X) :-
        fd_min(X, Min), fd_max(X, Max),
        Mid is (Min + Max) >> 1,
        Mid1 is Mid + 1,
        (   Ord == up ->
            (   propagate_interval(X, Min, Mid)
            ;   propagate_interval(X, Mid1, Max)
            )
        ;   (   propagate_interval(X, Mid1, Max)
            ;   propagate_interval(X, Min, Mid)
            )
        ).

% The values of a finite set, ascending; of a reversed set, descending.
value_up([[A|B]|Is], V) :-
        (   value_between(A, B, V)
        ;   value_up(Is, V)
        ).

value_down([[A|B]|Is], V) :-
        (   value_downfrom(B, A, V)
        ;   value_down(Is, V)
        ).

reversed([], R, R).
reversed([I|Is], R0, R) :- reversed(Is, [I|R0], R).

value_between(A, B, V) :-
        A =< B,
        (   V = A
        ;   A1 is A + 1, value_between(A1, B, V)
        ).

value_downfrom(B, A, V) :-
        B >= A,
        (   V = B
        ;   B1 is B - 1, value_downfrom(B1, A, V)
        ).

% ---- Branch and bound ----

% optimise(+Dir, ?V, +Time, +Vars, +Sel, +Val, +Ord): the search for the
% best V (Dir min or max) over Vars.  The incumbent is the recorded term
% f(Bound, [V|Values]) (Bound none until a first solution); every solution
% found stores itself there in place and fails, so the search goes on
% under the tighter bound until nothing better is left.
optimise(Dir, V, Time, Vars, Sel, Val, Ord) :-
        zeros([V|Vars], Zeros),
        recorda('$fd_incumbent', f(none, Zeros), Ref),
        Bound = bb(Dir, V, Ref),
        (   Dir == min -> VOrd = up ; VOrd = down ),
        Run = (   search(Vars, Sel, Val, Ord, Bound),
                  once(search([V], leftmost, step, VOrd, Bound)),
                  '$fd_update_incumbent'(Ref, V, [V|Vars]),
                  fail
              ;   true
              ),
        catch(run_limited(Time, Run, Result), E, (erase(Ref), throw(E))),
        instance(Ref, f(Best, Values)),
        erase(Ref),
        (   Best == none -> Result == time_out
        ;   [V|Vars] = Values
        ),
        time_flag(Time, Result).

zeros([], []).
zeros([_|Xs], [0|Zs]) :- zeros(Xs, Zs).

run_limited(none, Run, success) :- call(Run).
run_limited(limit(Ms, _), Run, Result) :- time_out(Run, Ms, Result).

time_flag(none, _).
time_flag(limit(_, Flag), Result) :- Flag = Result.

% beat_incumbent(+Bound): V must improve strictly on the incumbent.
beat_incumbent(none).
beat_incumbent(bb(Dir, V, Ref)) :-
        '$fd_incumbent_bound'(Ref, B),
        (   B == none -> true
        ;   Dir == min -> B1 is B - 1, propagate_interval(V, inf, B1)
        ;   B1 is B + 1, propagate_interval(V, B1, sup)
        ).
