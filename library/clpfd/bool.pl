% bool/4: the Boolean connective constraint of bool.cpp, and the argument
% checks shared with the reification front end.  Part of module clpfd.

% bool(+Op, ?X, ?Y, ?Z): Z = Op(X, Y) over 0/1 variables, Op the code of
% the connective: 0 and, 1 and-not (X and not Y), 2 nand, 3 or, 4 or-not
% (X or not Y), 5 nor, 6 xor, 7 equivalence.  An integer argument other
% than 0 or 1 is a domain error; a variable is restricted to 0..1 first,
% since the native table reads only the states 0, 1 and undecided.  The
% constraint runs whenever one of its variables becomes fixed.
bool(Op, X, Y, Z) :-
        Goal = bool(Op, X, Y, Z),
        must_be_bool_op(Op, Goal, 1),
        boolean_arg(X, Goal, 2),
        boolean_arg(Y, Goal, 3),
        boolean_arg(Z, Goal, 4),
        boolean_range(X),
        boolean_range(Y),
        boolean_range(Z),
        arg_attribute(X, XA, Goal, 2),
        arg_attribute(Y, YA, Goal, 3),
        arg_attribute(Z, ZA, Goal, 4),
        on(val, X, Susp, Susp1),
        on(val, Y, Susp1, Susp2),
        on(val, Z, Susp2, []),
        fd_global_internal(bool(Op, X, Y, Z), bool(X-XA, Y-YA, Z-ZA, Op, _, 0),
                           Susp, _, clpfd:Goal, 0).

must_be_bool_op(Op, Goal, ArgNo) :-
        (   var(Op) -> illarg(var, Goal, ArgNo)
        ;   \+ integer(Op) -> illarg(type(integer), Goal, ArgNo)
        ;   Op >= 0, Op =< 7 -> true
        ;   illarg(domain(integer, bool_operator), Goal, ArgNo)
        ).

% boolean_arg(?B, +Goal, +ArgNo): B is a variable, 0 or 1.
boolean_arg(B, Goal, ArgNo) :-
        (   var(B) -> true
        ;   \+ integer(B) -> illarg(type(integer), Goal, ArgNo)
        ;   B =:= 0 -> true
        ;   B =:= 1 -> true
        ;   illarg(domain(integer, boolean), Goal, ArgNo)
        ).

% boolean_range(?B): B in 0..1 (B checked by boolean_arg/3).
boolean_range(B) :- integer(B), !.
boolean_range(B) :- propagate_interval(B, 0, 1).
