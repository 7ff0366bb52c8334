% Posting of the nonlinear arithmetic constraints: X*Y = Z, X*X = Y,
% X // Y = Z (truncating), X mod Y = Z (sign of Y) and X rem Y = Z (sign
% of X).  Part of module clpfd; not exported: the arithmetic front end
% posts these for the products, quotients and remainders of its
% expressions.  Each argument is an integer or a domain variable (made
% one here); the native propagators (arith.h) narrow the variables'
% bounds and wake on them (x*x=y also on X's domain, whose holes decide
% the sign of X).
%
% A run is one pass that narrows each variable once from the others, so
% its own prunings may allow more: the items are posted rescheduled by
% their own prunings (status bit 0x20), and the propagation loop runs them
% again until nothing changes (for X*Y = Z and X*X = Y that fixpoint is
% bounds-consistent).
%
% State terms (the native side reads them by position):
%     product(X, XA, Y, YA, Z, ZA, Handle, Stamp)
%     square(X, XA, Y, YA, Handle, Stamp)
%     divmod(X-XA, Y-YA, Z-ZA, Handle, Stamp)

% post_product(?X, ?Y, ?Z): X*Y = Z.
post_product(X, Y, Z) :-
        Goal = 'x*y=z'(X, Y, Z),
        three_pairs(Goal, X-XA, Y-YA, Z-ZA, Susp),
        fd_global_internal(Goal, product(X, XA, Y, YA, Z, ZA, _, 0),
                           Susp, _, clpfd:Goal, 0x20).

% post_square(?X, ?Y): X*X = Y.
post_square(X, Y) :-
        Goal = 'x*x=y'(X, Y),
        arg_attribute(X, XA, Goal, 1),
        arg_attribute(Y, YA, Goal, 2),
        on(dom, X, Susp, Susp1),
        on(minmax, Y, Susp1, []),
        fd_global_internal(Goal, square(X, XA, Y, YA, _, 0),
                           Susp, _, clpfd:Goal, 0x20).

% post_quotient(?X, ?Y, ?Z): X // Y = Z, the quotient truncated towards 0.
post_quotient(X, Y, Z) :- post_divmod('x/y=z'(X, Y, Z)).

% post_modulo(?X, ?Y, ?Z): X mod Y = Z, Z taking the sign of Y.
post_modulo(X, Y, Z) :- post_divmod('x mod y=z'(X, Y, Z)).

% post_remainder(?X, ?Y, ?Z): X rem Y = Z, Z taking the sign of X.
post_remainder(X, Y, Z) :- post_divmod('x rem y=z'(X, Y, Z)).

post_divmod(Goal) :-
        Goal =.. [_, X, Y, Z],
        three_pairs(Goal, X-XA, Y-YA, Z-ZA, Susp),
        fd_global_internal(Goal, divmod(X-XA, Y-YA, Z-ZA, _, 0),
                           Susp, _, clpfd:Goal, 0x20).

% three_pairs(+Goal, ?X-XA, ?Y-YA, ?Z-ZA, -Susp): the attributes of
% Goal's three arguments (type errors naming Goal) and the suspensions on
% their bounds.
three_pairs(Goal, XP, YP, ZP, Susp) :- three_pairs(minmax, Goal, XP, YP, ZP, Susp).

% three_pairs(+On, +Goal, ?X-XA, ?Y-YA, ?Z-ZA, -Susp): the same with the
% suspensions On (as for on/4).
three_pairs(On, Goal, X-XA, Y-YA, Z-ZA, Susp) :-
        arg_attribute(X, XA, Goal, 1),
        arg_attribute(Y, YA, Goal, 2),
        arg_attribute(Z, ZA, Goal, 3),
        on(On, X, Susp, Susp1),
        on(On, Y, Susp1, Susp2),
        on(On, Z, Susp2, []).
