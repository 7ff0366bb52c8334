% bool/4: posting of the Boolean connective constraint of bool.cpp.  Part
% of module clpfd; bool_attribute/4 is reif.pl's.

% bool(+Op, ?X, ?Y, ?Z): Z = Op(X, Y) over 0/1 variables, Op the code of
% the connective: 0 and, 1 and-not (X and not Y), 2 nand, 3 or, 4 or-not
% (X or not Y), 5 nor, 6 xor, 7 equivalence.  An integer argument other
% than 0 or 1 is a domain error; a variable is restricted to 0..1 first,
% since the native table reads only the states 0, 1 and undecided (a value
% outside them would select another operator's entry).  The constraint
% runs whenever one of its variables becomes fixed.
bool(Op, X, Y, Z) :-
        Goal = bool(Op, X, Y, Z),
        must_be_bool_op(Op, Goal, 1),
        bool_attribute(X, XA, Goal, 2),
        bool_attribute(Y, YA, Goal, 3),
        bool_attribute(Z, ZA, Goal, 4),
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
