% Control constructs compiled into embedded choice blocks.

c(1). c(2). c(3).

disj(X) :- ( X = a ; X = b ; X = c ).
ite(X, R) :- ( c(X) -> R = yes ; R = no ).
it(X, R) :- ( c(X) -> R = first ).
neg(X) :- \+ c(X).
nested(X, Y) :- ( c(X), ( Y = p ; Y = q ) ; X = 9, ( Y = r ; Y = s ) ).
cut_in_disj(X) :- ( c(X), ! ; X = none ).
cut_in_then(X, Y) :- ( c(X) -> c(Y), ! ; Y = 0 ).
cut_in_cond(X) :- ( c(X), ! -> true ; X = none ).
cut_in_neg :- \+ ( !, fail ).
local_call(X) :- call((c(X), !)).
call_n(X) :- call(c, X).
after_block(X, Y) :- ( X = 1 ; X = 2 ), c(Y), Y > X.


expect(disjunction, disj(X), [disj(a), disj(b), disj(c)]).
expect(if_then_else_true, ite(2, R), [ite(2, yes)]).
expect(if_then_else_false, ite(5, R), [ite(5, no)]).
expect(if_then_else_commits, ite(X, R), [ite(1, yes)]).
expect(if_then_without_else, it(X, R), [it(1, first)]).
expect(if_then_fails, it(7, R), []).
expect(negation, [X, Y], (neg(4), X = ok ; neg(2), Y = bad), [[ok, _]]).
expect(nested, nested(X, Y), [nested(1,p), nested(1,q), nested(2,p), nested(2,q),
                               nested(3,p), nested(3,q), nested(9,r), nested(9,s)]).
expect(cut_in_disjunction, cut_in_disj(X), [cut_in_disj(1)]).
expect(cut_in_then, cut_in_then(X, Y), [cut_in_then(1, 1)]).
expect(cut_in_condition_is_local, cut_in_cond(X), [cut_in_cond(1)]).
expect(cut_in_negation_is_local, cut_in_neg, [cut_in_neg]).
expect(call_cut_is_local, X, (local_call(X) ; X = 5), [1, 5]).
expect(call_n_bound_goal, call_n(X), [call_n(1), call_n(2), call_n(3)]).
expect(goal_after_block, after_block(X, Y), [after_block(1,2), after_block(1,3), after_block(2,3)]).

test(negation_succeeds) :- \+ c(4).
test(negation_of_negation) :- \+ \+ c(1).
