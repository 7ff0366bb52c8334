% element/3, minimum/2 and maximum/2: argument checks and posting of the
% native global constraints of element.cpp.  Part of module clpfd.
%
% The native side keeps the list's variables through global references
% and wakes itself through daemons on them, so the suspensions posted
% here name only I and Y (element) or Y (minimum, maximum).

% element(?I, +List, ?Y): Y is the I-th element (from 1) of List, a list
% of integers and domain variables.  I is kept to the indices whose
% element can still equal Y (so within 1..N), Y within the bounds of
% those elements; once I is fixed, Y is that element.
element(I, List, Y) :-
        Goal = element(I, List, Y),
        must_be_dvar_list(List, Goal, 2),
        arg_attribute(I, IA, Goal, 1),
        arg_attribute(Y, YA, Goal, 3),
        length(List, N),
        element_list(List, Goal, Kind, Elements),
        on(dom, I, Susp, Susp1),
        on(dom, Y, Susp1, []),
        fd_global_internal(element(I, List, Y),
                           element(I-IA, Y-YA, Elements, N, Kind, _, 0),
                           Susp, _, clpfd:Goal, 0).

% element_list(+List, +Goal, -Kind, -Elements): the integers themselves
% (Kind 1) when List holds nothing else, else (Kind 0) an X-Attribute
% pair per element.
element_list(List, _, 1, List) :-
        integers(List), !.
element_list(List, Goal, 0, Pairs) :-
        attribute_pairs(List, Goal, 2, Pairs).

integers([]).
integers([X|Xs]) :- integer(X), integers(Xs).

attribute_pairs([], _, _, []).
attribute_pairs([X|Xs], Goal, ArgNo, [X-A|Ps]) :-
        arg_attribute(X, A, Goal, ArgNo),
        attribute_pairs(Xs, Goal, ArgNo, Ps).

% minimum(?Y, +Xs), maximum(?Y, +Xs): Y is the least (greatest) value of
% the list Xs of integers and domain variables; an empty list fails.
minimum(Y, Xs) :- minmax(minimum(Y, Xs), Y, Xs, 0).

maximum(Y, Xs) :- minmax(maximum(Y, Xs), Y, Xs, 1).

% minmax(+Goal, ?Y, +Xs, +Kind): the checks of minimum/2 (Kind 0) and
% maximum/2 (Kind 1), errors naming Goal, then the posting.
minmax(Goal, Y, Xs, Kind) :-
        must_be_dvar_list(Xs, Goal, 2),
        arg_attribute(Y, YA, Goal, 1),
        attribute_pairs(Xs, Goal, 2, Targets),
        fd_minmax(Goal, minmax(Y-YA, Targets, _, Kind, _, 0), Y).

% fd_minmax(+Constraint, +State, ?Y): posts Constraint (minimum/2 or
% maximum/2) with its state minmax(Y-YA, Targets, Count, Kind, Handle,
% Stamp), Count made the number of targets; it wakes on Y's bounds, and on
% the targets through its daemons.
fd_minmax(Constraint, minmax(YP, Targets, Count, Kind, H, S), Y) :-
        length(Targets, Count),
        on(minmax, Y, Susp, []),
        fd_global_internal(Constraint, minmax(YP, Targets, Count, Kind, H, S),
                           Susp, _, clpfd:Constraint, 0).
