% Posting of the reified comparisons X in S <=> B, X = Y <=> B and
% X =< Y <=> B, of Z = X or Z = Y (oneof) and of Y = |X| (abs).  Part of
% module clpfd; not exported: the reification front end and the
% arithmetic front end post these.  Each argument is an integer or a
% domain variable (made one here); B is a 0/1 variable or 0 or 1.
%
% The native propagators (reif.cpp) prune once per run.  eq_iff wakes
% itself through daemons it attaches at its first run; the others are
% re-run through the suspensions posted here, and are rescheduled by their
% own prunings (status bit 0x20) so that the propagation loop reaches the
% fixpoint.
%
% State terms (the native side reads them by position):
%     in_set_iff(X, XA, Set, B, BA, Handle, Stamp)
%     eq_iff(X, XA, Y, YA, B, BA, Handle, Stamp)
%     le_iff(X, XA, Y, YA, B, BA, Handle, Stamp)
%     oneof(X, XA, Y, YA, Z, ZA, Handle, Stamp)
%     abs(X, XA, Y, YA, Handle, Stamp)

% in_set_iff(?X, +Set, ?B): B is 1 exactly when X is in Set, an FD set or
% a constant range (as for in/2: 1..3 \/ 5, {1,4}, inf..0 ...).
in_set_iff(X, Set, B) :-
        Goal = in_set_iff(X, Set, B),
        reif_set(Set, Goal, S),
        arg_attribute(X, XA, Goal, 1),
        bool_attribute(B, BA, Goal, 3),
        on(dom, X, Susp, Susp1),
        on(minmax, B, Susp1, []),
        fd_global_internal(Goal, in_set_iff(X, XA, S, B, BA, _, 0),
                           Susp, _, clpfd:Goal, 0x20).

% eq_iff(?X, ?Y, ?B): B is 1 exactly when X = Y.
eq_iff(X, Y, B) :-
        Goal = eq_iff(X, Y, B),
        arg_attribute(X, XA, Goal, 1),
        arg_attribute(Y, YA, Goal, 2),
        bool_attribute(B, BA, Goal, 3),
        fd_global_internal(Goal, eq_iff(X, XA, Y, YA, B, BA, _, 0),
                           [], _, clpfd:Goal, 0).

% le_iff(?X, ?Y, ?B): B is 1 exactly when X =< Y.
le_iff(X, Y, B) :-
        Goal = le_iff(X, Y, B),
        must_be_boolean(B, Goal, 3),
        three_pairs(minmax, Goal, X-XA, Y-YA, B-BA, Susp),
        fd_global_internal(Goal, le_iff(X, XA, Y, YA, B, BA, _, 0),
                           Susp, _, clpfd:Goal, 0x20).

% oneof(?X, ?Y, ?Z): Z = X or Z = Y.
oneof(X, Y, Z) :-
        Goal = oneof(X, Y, Z),
        three_pairs(dom, Goal, X-XA, Y-YA, Z-ZA, Susp),
        fd_global_internal(Goal, oneof(X, XA, Y, YA, Z, ZA, _, 0),
                           Susp, _, clpfd:Goal, 0x20).

% abs(?X, ?Y): Y is the absolute value of X.
abs(X, Y) :-
        Goal = abs(X, Y),
        arg_attribute(X, XA, Goal, 1),
        arg_attribute(Y, YA, Goal, 2),
        on(dom, X, Susp, Susp1),
        on(dom, Y, Susp1, []),
        fd_global_internal(Goal, abs(X, XA, Y, YA, _, 0),
                           Susp, _, clpfd:Goal, 0x20).

% bool_attribute(?B, -Attr, +Goal, +ArgNo): B's attribute, B checked by
% must_be_boolean/3.
bool_attribute(B, A, Goal, ArgNo) :-
        arg_attribute(B, A, Goal, ArgNo),
        must_be_boolean(B, Goal, ArgNo).

% must_be_boolean(?B, +Goal, +ArgNo): B, a domain variable, kept to 0..1
% (which fails when its domain holds neither), or the integer 0 or 1; a
% domain error for another integer.
must_be_boolean(B, _, _) :- var(B), !, B in 0..1.
must_be_boolean(B, _, _) :- ( B =:= 0 ; B =:= 1 ), !.
must_be_boolean(B, Goal, ArgNo) :- illarg(domain(B, boolean), Goal, ArgNo, B).

% reif_set(+Set, +Goal, -S): Set as an FD set: an FD set itself, else a
% constant range.
reif_set(Set, _, S) :- is_fdset(Set), !, S = Set.
reif_set(Set, Goal, S) :-
        range_set(Set, Goal, 2, S0), !,
        S = S0.
