% Posting global constraints.  Part of module clpfd.
%
% A global constraint is one item global(StateMutable, Constraint,
% StatusMutable, Ent, Source) made by $fd_post_global/6, linked into the
% suspension lists its Suspensions name and queued.  The loop of ixq.pl
% runs it: by its native function when its functor is in the library's
% table of global constraints, else through the multifile hook
% dispatch_global/4, whose Actions it applies.

% fd_global(+Constraint, +State, +Suspensions): posts Constraint (any
% module qualifier dropped) with the initial State, to run at once and
% again whenever one of Suspensions fires: dom(X) any change of X's
% domain, min(X) or max(X) a change of that bound, minmax(X) of either
% bound, val(X) X becoming fixed.  An unbound or non-callable constraint is
% an argument error: it would reach whichever hook clause it unifies with.
fd_global(Constraint, State, Suspensions) :-
        strip_module_qualifiers(Constraint, Goal),
        (   callable(Goal) -> true
        ;   var(Goal) -> illarg(var, fd_global(Constraint, State, Suspensions), 1)
        ;   illarg(type(callable), fd_global(Constraint, State, Suspensions), 1, Goal)
        ),
        fd_global_internal(Goal, State, Suspensions, _, true, 0).

% fd_global_internal(+Constraint, +State, +Suspensions, -Global, +Source,
% +Flags): the posting primitive under fd_global/3 and the front ends of
% the library's own constraints; Global is the constraint's item (its
% first argument the mutable holding the current state), Source is shown
% in messages, Flags are status bits of the item.
fd_global_internal(Constraint, State, Suspensions, Global, Source, Flags) :-
        '$fd_begin',
        '$fd_post_global'(Constraint, State, Flags, Source, Suspensions, Global),
        evaluate.

% dispatch_global_fast(+Constraint, +State, -NewState, -Actions, +Global):
% one run of the native function of Constraint; fails when there is none.
dispatch_global_fast(Constraint, State, NewState, Actions, Global) :-
        '$fd_dispatch_global_fast'(Constraint, State, NewState, Actions, Global, 1).

strip_module_qualifiers(Goal0, Goal) :-
        nonvar(Goal0),
        Goal0 = _:Goal1, !,
        strip_module_qualifiers(Goal1, Goal).
strip_module_qualifiers(Goal, Goal).
