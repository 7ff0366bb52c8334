% Arithmetic: is/2 and the comparisons as single-instruction predicates,
% and the evaluator that the inline arithmetic escapes to when an operand
% is not a number.

X is Y :- X is Y.
X =:= Y :- X =:= Y.
X =\= Y :- X =\= Y.
X < Y :- X < Y.
X > Y :- X > Y.
X =< Y :- X =< Y.
X >= Y :- X >= Y.

% evaluate(Expr, Value, Caller, OpNo): Expr is the operand that was not a
% number; Caller locates the source goal for error messages, OpNo is 1 for
% the left and 2 for the right operand of the instruction that escaped.
% evaluate1/2 fails exactly when Expr is no evaluable term (an atom other
% than inf and nan, a compound term of another name or arity, a list of
% other than one element): that is type_error(evaluable, Name/Arity).
evaluate(Expr, Value, Caller, OpNo) :-
        prolog_catch(evaluate1(Expr, V), E, propagate_exception(E, Caller, OpNo)), !,
        Value = V.
evaluate(Expr, _, Caller, OpNo) :-
        goal_and_argno(Caller, OpNo, Goal, ArgNo),
        functor(Expr, Name, Arity),
        illarg(type(evaluable), Goal, ArgNo, Name/Arity).

% The source goal of the sequence at Caller and the argument the faulty
% operand belongs to.
goal_and_argno(Caller, OpNo, Goal, ArgNo) :-
        (   '$decompile_arith'(Caller, G, Side) -> Goal = G
        ;   Goal = unknown, Side = 0
        ),
        (   Side > 0 -> ArgNo = Side
        ;   arith_goal_argno(Goal, OpNo, ArgNo)
        ).

arith_goal_argno(_ is _, _, 2) :- !.
arith_goal_argno(_, OpNo, OpNo).

% The source goal of the sequence at Caller, with the argument number of
% errors raised inside the evaluation.
propagate_exception(error(Formal, context(_, _)), Caller, OpNo) :-
        argument_error(Formal), !,
        goal_and_argno(Caller, OpNo, Goal, ArgNo),
        raise_exception(error(Formal, context(Goal, ArgNo))).
propagate_exception(E, _, _) :-
        raise_exception(E).

argument_error(instantiation_error).
argument_error(type_error(_, _)).
argument_error(domain_error(_, _)).
argument_error(representation_error(_)).
argument_error(existence_error(_, _)).
argument_error(evaluation_error(_)).

decompile_goal(Caller, Goal) :- goal_and_argno(Caller, 1, Goal, _).

evaluate1(X, _) :- var(X), !,
        raise_exception(error(instantiation_error, context(evaluate1(X, _), 1))).
evaluate1(X, V) :- number(X), !, V = X.
evaluate1([X], V) :- !, evaluate_list([X], V).
evaluate1(inf, V) :- !, V is inf + 0.
evaluate1(nan, V) :- !, V is nan + 0.
evaluate1(-X, V) :- !, V is -X.
evaluate1(+X, V) :- !, V is X.
evaluate1(integer(X), V) :- !, V is integer(X).
evaluate1(float(X), V) :- !, V is float(X).
evaluate1(\X, V) :- !, V is \X.
evaluate1(sin(X), V) :- !, V is sin(X).
evaluate1(cos(X), V) :- !, V is cos(X).
evaluate1(tan(X), V) :- !, V is tan(X).
evaluate1(cot(X), V) :- !, V is cot(X).
evaluate1(sinh(X), V) :- !, V is sinh(X).
evaluate1(cosh(X), V) :- !, V is cosh(X).
evaluate1(tanh(X), V) :- !, V is tanh(X).
evaluate1(coth(X), V) :- !, V is coth(X).
evaluate1(asin(X), V) :- !, V is asin(X).
evaluate1(acos(X), V) :- !, V is acos(X).
evaluate1(atan(X), V) :- !, V is atan(X).
evaluate1(acot(X), V) :- !, V is acot(X).
evaluate1(asinh(X), V) :- !, V is asinh(X).
evaluate1(acosh(X), V) :- !, V is acosh(X).
evaluate1(atanh(X), V) :- !, V is atanh(X).
evaluate1(acoth(X), V) :- !, V is acoth(X).
evaluate1(sqrt(X), V) :- !, V is sqrt(X).
evaluate1(log(X), V) :- !, V is log(X).
evaluate1(exp(X), V) :- !, V is exp(X).
evaluate1(abs(X), V) :- !, V is abs(X).
evaluate1(msb(X), V) :- !, V is msb(X).
evaluate1(round(X), V) :- !, V is round(X).
evaluate1(truncate(X), V) :- !, V is truncate(X).
evaluate1(floor(X), V) :- !, V is floor(X).
evaluate1(ceiling(X), V) :- !, V is ceiling(X).
evaluate1(sign(X), V) :- !, V is sign(X).
evaluate1(float_integer_part(X), V) :- !, V is float_integer_part(X).
evaluate1(float_fractional_part(X), V) :- !, V is float_fractional_part(X).
evaluate1(X+Y, V) :- !, V is X+Y.
evaluate1(X-Y, V) :- !, V is X-Y.
evaluate1(X*Y, V) :- !, V is X*Y.
evaluate1(X/Y, V) :- !, V is X/Y.
evaluate1(X//Y, V) :- !, V is X//Y.
evaluate1(X div Y, V) :- !, V is X div Y.
evaluate1(X mod Y, V) :- !, V is X mod Y.
evaluate1(X rem Y, V) :- !, V is X rem Y.
evaluate1(max(X, Y), V) :- !, V is max(X, Y).
evaluate1(min(X, Y), V) :- !, V is min(X, Y).
evaluate1(\(X, Y), V) :- !, V is \(X, Y).
evaluate1(X/\Y, V) :- !, V is X/\Y.
evaluate1(X\/Y, V) :- !, V is X\/Y.
evaluate1(X<<Y, V) :- !, V is X<<Y.
evaluate1(X>>Y, V) :- !, V is X>>Y.
evaluate1(atan2(X, Y), V) :- !, V is atan2(X, Y).
evaluate1(acot2(X, Y), V) :- !, V is acot2(X, Y).
evaluate1(log(X, Y), V) :- !, V is log(X, Y).
evaluate1(exp(X, Y), V) :- !, V is exp(X, Y).
evaluate1(X**Y, V) :- !, V is X**Y.
evaluate1(gcd(X, Y), V) :- !, V is gcd(X, Y).

% [X]: the tail must be [].
evaluate_list([X|T], V) :- T == [], V is X.
