% Core execution of compiled clauses: solution order of list predicates,
% head unification with repeated variables, first-argument selection, cut
% in every position it can take, nested control constructs, variables
% whose first occurrence is inside a block, unsafe variables, argument
% register shuffles, and recursion deep enough that last-call optimisation
% (or its absence) shows.
%
% There is no arithmetic: counts are Peano numbers built from ten/1.


% ---- Lists ----

app([], L, L).
app([H|T], L, [H|R]) :- app(T, L, R).

mem(X, [X|_]).
mem(X, [_|T]) :- mem(X, T).

sel(X, [X|T], T).
sel(X, [H|T], [H|R]) :- sel(X, T, R).

perm([], []).
perm(L, [H|T]) :- sel(H, L, R), perm(R, T).

% Insertion order differs from perm/2: the tail is permuted first.
perm_ins([], []).
perm_ins([H|T], P) :- perm_ins(T, PT), ins(H, PT, P).
ins(X, L, [X|L]).
ins(X, [H|T], [H|R]) :- ins(X, T, R).

nrev([], []).
nrev([H|T], R) :- nrev(T, RT), app(RT, [H], R).

upto2([]).
upto2([_]).
upto2([_, _]).

expect(append_forward, L, app([a,b], [c,d], L), [[a,b,c,d]]).
expect(append_splits_in_order, X-Y, app(X, Y, [a,b,c]), [[]-[a,b,c], [a]-[b,c], [a,b]-[c], [a,b,c]-[]]).
expect(append_finds_prefix, X, app(X, [c], [a,b,c]), [[a,b]]).
expect(append_finds_suffix, X, app([a,b], X, [a,b,c]), [[c]]).
expect(append_no_split, X, app(X, [d], [a,b,c]), []).
expect(append_open_skeletons, X-Y, (upto2(X), app(X, [z], Y)), [[]-[z], [_]-[_,z], [_,_]-[_,_,z]]).
expect(append_shares_bindings, [A,B,T], app([A,B], [c], [x|T]), [[x,_,[_,c]]]).
expect(append_empty_both, X-Y, app(X, Y, []), [[]-[]]).
test(append_unbound_first_generates) :- app(X, [z], Y), X = [_, _], !, Y = [_, _, z].

expect(member_in_order, X, mem(X, [a,b,c]), [a,b,c]).
expect(member_each_occurrence, mem(a, [a,b,a]), [mem(a,[a,b,a]), mem(a,[a,b,a])]).
expect(member_absent, mem(d, [a,b,c]), []).
expect(member_binds_open_list, L, (mem(x, L), L = [_,_|_], !), [[x,_|_]]).
expect(select_each, X-R, sel(X, [a,b,c], R), [a-[b,c], b-[a,c], c-[a,b]]).
expect(select_inserts, L, sel(x, L, [a,b]), [[x,a,b], [a,x,b], [a,b,x]]).

expect(permutations_of_four, P, perm([a,b,c,d], P),
       [[a,b,c,d], [a,b,d,c], [a,c,b,d], [a,c,d,b], [a,d,b,c], [a,d,c,b],
        [b,a,c,d], [b,a,d,c], [b,c,a,d], [b,c,d,a], [b,d,a,c], [b,d,c,a],
        [c,a,b,d], [c,a,d,b], [c,b,a,d], [c,b,d,a], [c,d,a,b], [c,d,b,a],
        [d,a,b,c], [d,a,c,b], [d,b,a,c], [d,b,c,a], [d,c,a,b], [d,c,b,a]]).
expect(permutations_by_insertion, P, perm_ins([a,b,c], P),
       [[a,b,c], [b,a,c], [b,c,a], [a,c,b], [c,a,b], [c,b,a]]).

expect(naive_reverse_30, R,
       nrev([1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30], R),
       [[30,29,28,27,26,25,24,23,22,21,20,19,18,17,16,15,14,13,12,11,10,9,8,7,6,5,4,3,2,1]]).
test(naive_reverse_twice_is_identity) :-
    L = [a,f(b),[c],"d",e,g(h,i),j,k,l,m,n,o,p,q,r,s,t,u,v,w,x,y,z,1,2,3,4,5,6,7],
    nrev(L, R), nrev(R, L2), L2 = L, R = [7|_].

% ---- Head unification ----

same(X, X).
tri(X, Y, X, Y, f(X, Y)).
dup(f(X, X), X).
deep_head(f(g(h(X)), [X, Y|Y]), X, Y).
voids(_, a, _, b, _).

expect(head_repeated_vars, tri(a, B, C, b, R), [tri(a,b,a,b,f(a,b))]).
expect(head_repeated_vars_clash, tri(a, b, c, _, _), []).
expect(head_repeated_in_structure, Y-Z, dup(f(a, Y), Z), [a-a]).
expect(head_repeated_in_structure_clash, dup(f(a, b), _), []).
expect(head_repeated_binds_both_ways, X, (same(X, f(Y)), same(Y, 1)), [f(1)]).
expect(head_deep_repeated, [X,Y], deep_head(f(g(h(1)), [A, 2]), X, Y), []).
expect(head_deep_repeated_match, [A,X,Y], deep_head(f(g(h(1)), [A, [2], 2]), X, Y), [[1,1,[2]]]).
expect(head_voids, voids(1, X, 2, Y, 3), [voids(1,a,2,b,3)]).

% ---- Clause selection on the first argument ----

kind(a, atom).
kind(1, int).
kind(f(_), struct).
kind([], nil).
kind([_|_], list).
kind(_, any).

expect(select_unbound_first, X-K, kind(X, K),
       [a-atom, 1-int, f(_)-struct, []-nil, [_|_]-list, _-any]).
expect(select_atom, K, kind(a, K), [atom, any]).
expect(select_other_atom, K, kind(b, K), [any]).
expect(select_integer, K, kind(1, K), [int, any]).
expect(select_structure, K, kind(f(z), K), [struct, any]).
expect(select_other_functor, K, kind(f(y, z), K), [any]).
expect(select_nil, K, kind([], K), [nil, any]).
expect(select_list, K, kind([q], K), [list, any]).
expect(select_by_second, X, kind(X, list), [[_|_]]).

% ---- Cut ----

c(1). c(2). c(3).
t(p). t(q).

neck(1, a) :- !.
neck(_, b).

after_call(X) :- c(X), !.
after_call(9).

after_call_then(X, Y) :- c(X), !, c(Y).
after_call_then(9, 9).

last_cut(X) :- X = 0.
last_cut(X) :- c(X), !.

only_cut(X) :- c(X).
only_cut(x) :- !.

middle_cut(X, Y) :- c(X), Y = a.
middle_cut(X, Y) :- c(X), !, Y = b.
middle_cut(_, c).

disj_cut(X, Y) :- ( c(X), ! ; X = 0 ), c(Y).
disj_cut(9, 9).

disj_cut_second(X) :- ( X = a ; c(X), ! ; X = z ).
disj_cut_second(last).

then_cut(X, Y) :- ( c(X) -> c(Y), ! ; Y = e ).
then_cut(_, other).

else_cut(X, Y) :- ( X = a -> Y = 1 ; c(Y), ! ).
else_cut(_, 9).

cond_cut(X, Y) :- ( c(X), ! -> c(Y) ; Y = none ).
cond_cut(_, last).

neg_cut(Y) :- c(Y), \+ ( c(X), !, X = Y ).

call_cut(X, Y) :- c(X), call((c(Y), !)).
call_cut(9, 9).

call_nested_cut(X, Y) :- call((call((c(X), !)), c(Y))).

late_cut(X) :- ( X = 0 ; ( c(X) -> ! ; true ) ).
late_cut(z).

neck_then_disj(X) :- !, ( X = a ; X = b ).
neck_then_disj(c).

deep_cut(X, Y) :- ( t(Y), ( ( c(X), X = 2, ! ; X = 7 ) ; X = 8 ) ; X = 9 ).
deep_cut(last, last).


expect(cut_at_neck_commits, X, neck(1, X), [a]).
expect(cut_at_neck_not_reached, X, neck(2, X), [b]).
expect(cut_after_call, X, after_call(X), [1]).
expect(cut_after_call_then_goals_backtrack, after_call_then(X, Y),
       [after_call_then(1,1), after_call_then(1,2), after_call_then(1,3)]).
expect(cut_in_last_clause, X, last_cut(X), [0, 1]).
expect(cut_alone_in_last_clause, X, only_cut(X), [1, 2, 3, x]).
expect(cut_in_middle_clause, middle_cut(X, Y),
       [middle_cut(1,a), middle_cut(2,a), middle_cut(3,a), middle_cut(1,b)]).
expect(cut_is_local_to_its_clause, X-Y, (c(X), after_call(Y)), [1-1, 2-1, 3-1]).
expect(cut_at_neck_keeps_caller_choices, X-Y, (t(X), neck(1, Y)), [p-a, q-a]).
expect(cut_in_disjunction, disj_cut(X, Y), [disj_cut(1,1), disj_cut(1,2), disj_cut(1,3)]).
expect(cut_in_second_branch, X, disj_cut_second(X), [a, 1]).
expect(cut_in_then_branch, then_cut(X, Y), [then_cut(1,1)]).
expect(cut_in_then_not_reached, Y, then_cut(5, Y), [e, other]).
expect(cut_in_else_branch, Y, else_cut(b, Y), [1]).
expect(cut_in_else_not_reached, Y, else_cut(a, Y), [1, 9]).
expect(cut_in_condition_is_local, cond_cut(X, Y),
       [cond_cut(1,1), cond_cut(1,2), cond_cut(1,3), cond_cut(_,last)]).
expect(cut_in_negation_is_local, Y, neg_cut(Y), [2, 3]).
expect(cut_in_call_is_local, call_cut(X, Y),
       [call_cut(1,1), call_cut(2,1), call_cut(3,1), call_cut(9,9)]).
expect(cut_in_nested_call, call_nested_cut(X, Y),
       [call_nested_cut(1,1), call_nested_cut(1,2), call_nested_cut(1,3)]).
expect(cut_in_then_reached_on_backtracking, X, late_cut(X), [0, 1]).
expect(cut_at_neck_before_disjunction, X, neck_then_disj(X), [a, b]).
expect(cut_deep_in_blocks, deep_cut(X, Y), [deep_cut(2,p)]).
expect(cut_alone_in_call, X, (c(X), call(!)), [1, 2, 3]).

% ---- If-then-else, negation, disjunction ----

classify(X, C) :-
    (   X = 1 -> C = one
    ;   X = 2 -> C = two
    ;   ( c(X) -> C = other_c ; C = none )
    ).

cond_backtracks(X, R) :- ( c(X), X = 2 -> Y = two ; Y = other ), R = Y-X.
cond_fails_inner(R) :- ( ( c(X) -> X = 2 ; fail ) -> R = y ; R = n ).
then_nested(X, R) :- ( c(X) -> ( X = 1 -> R = a ; R = b ) ; R = c ).
cond_binding_undone(R) :- ( c(Z), Z = 9 -> true ; true ), R = f(Z).
if_then_fails(X) :- ( fail -> X = 1 ).
not_not(X) :- \+ \+ X = a.
not_not_fresh(R) :- \+ \+ Z = 1, R = f(Z).
neg_in_cond(X, R) :- c(X), ( \+ ( X = 2 ; X = 3 ) -> R = out ; R = in ).
nested_disj(X) :- ( ( X = 1 ; X = 2 ) ; ( X = 3 ; ( X = 4 ; X = 5 ) ) ).
four_deep(X, R) :-
    \+ \+ ( ( c(X) ; X = 0 ) -> true ; fail ),
    (   ( X = 1 ; X = 2 )
    ->  (   ( t(Y), \+ Y = p )
        ->  R = a(Y)
        ;   R = b
        )
    ;   ( X = 3, ( t(R) ; R = r ) ; R = zero )
    ).

expect(if_then_else_chain, X-C, (mem(X, [1,2,3,4]), classify(X, C)),
       [1-one, 2-two, 3-other_c, 4-none]).
expect(condition_backtracks_then_commits, cond_backtracks(X, R), [cond_backtracks(2, two-2)]).
expect(condition_fails_to_else, R, cond_backtracks(5, R), [other-5]).
expect(if_then_else_in_condition, R, cond_fails_inner(R), [n]).
expect(if_then_else_in_then, X-R, then_nested(X, R), [1-a]).
expect(if_then_else_in_then_other, R, then_nested(2, R), [b]).
expect(failed_condition_undoes_bindings, R, cond_binding_undone(R), [f(_)]).
expect(if_then_with_failing_condition, if_then_fails(X), []).
expect(double_negation_binds_nothing, X, not_not(X), [_]).
expect(double_negation_fresh_variable, R, not_not_fresh(R), [f(_)]).
expect(negation_of_unifiable, X, \+ X = a, []).
expect(negation_in_condition, X-R, neg_in_cond(X, R), [1-out, 2-in, 3-in]).
expect(disjunction_in_disjunction, X, nested_disj(X), [1, 2, 3, 4, 5]).
expect(four_levels_of_blocks, X-R, (mem(X, [1,2,3,0,5]), four_deep(X, R)),
       [1-a(q), 2-a(q), 3-p, 3-q, 3-r, 3-zero, 0-zero]).
expect(four_levels_condition_commits, X-R, four_deep(X, R), [1-a(q)]).

% ---- Variables first met inside a block ----

pair(1, one). pair(2, two). pair(3, three).

branch_var(X, Y) :- ( X = a, Z = 1 ; X = b, Z = 2 ; Z = 3 ), pair(Z, Y).
one_branch_var(X, R) :- ( X = a, W = w ; true ), R = f(W).
block_var_survives_calls(X, R) :- ( c(X), A = x ; A = y, X = 0 ), t(B), t(_), R = r(A, B).
then_var(X, R) :- ( c(X) -> V = g(X) ; W = h ), t(R0), R = [V, W, R0].
neg_then_var(R) :- ( \+ c(4) -> A = yes ; B = no ), pair(1, C), R = f(A, B, C).
call_var(R) :- call((c(X), Y = X)), R = Y.

expect(var_bound_in_each_branch, branch_var(X, Y), [branch_var(a,one), branch_var(b,two), branch_var(_,three)]).
expect(var_bound_in_one_branch, one_branch_var(X, R), [one_branch_var(a,f(w)), one_branch_var(_,f(_))]).
expect(block_var_kept_across_calls, X-R, block_var_survives_calls(X, R),
       [1-r(x,p), 1-r(x,p), 1-r(x,q), 1-r(x,q), 2-r(x,p), 2-r(x,p), 2-r(x,q), 2-r(x,q),
        3-r(x,p), 3-r(x,p), 3-r(x,q), 3-r(x,q), 0-r(y,p), 0-r(y,p), 0-r(y,q), 0-r(y,q)]).
expect(then_var_and_else_var, R, then_var(X, R), [[g(1),_,p], [g(1),_,q]]).
expect(else_var_after_failed_condition, R, then_var(7, R), [[_,h,p], [_,h,q]]).
expect(var_after_negation_condition, R, neg_then_var(R), [f(yes,_,one)]).
expect(var_first_in_call, R, call_var(R), [1, 2, 3]).

% ---- Unsafe variables ----

keep(_).
wrap(Y, f(Y)).
clobber(_, _, _, _, _, _) :- keep(a), keep(b).
leave(X, Y) :- keep(X), keep(Y).

unsafe_last(X) :- keep(Y), wrap(Y, X).
unsafe_in_structure(X) :- keep(Y), wrap(g(Y, Y), X).
unsafe_two(X, Y) :- keep(A), keep(B), leave(A, B), X = A, Y = B.
unsafe_after_disj(X) :- ( t(_) ; true ), keep(Y), !, wrap(Y, X).
unbound_across(X, Y) :- leave(X, Z), leave(Z, Y), Z = Y.

test(unsafe_var_survives_later_calls) :-
    unsafe_last(X), clobber(a, b, c, d, e, f), X = f(V), V = 7, X = f(W), W = 7.
test(unsafe_var_in_structure_is_shared) :-
    unsafe_in_structure(X), clobber(a, b, c, d, e, f), X = f(g(A, B)), A = 1, B = 1.
test(unsafe_vars_unify_later) :-
    unsafe_two(X, Y), clobber(x, x, x, x, x, x), X = Y, X = 3, Y = 3.
test(unsafe_after_disjunction) :-
    unsafe_after_disj(X), clobber(1, 2, 3, 4, 5, 6), X = f(q), unsafe_after_disj(f(r)).
expect(unbound_across_calls, X-Y, unbound_across(X, Y), [_-_]).
test(unbound_across_calls_aliased) :- unbound_across(X, Y), X = 1, Y = 2.

% ---- Many arguments and register shuffles ----

rot(A,B,C,D,E,F,G,H,I,J, B,C,D,E,F,G,H,I,J,A).

rotn(0, A,B,C,D,E,F,G,H,I,J, A,B,C,D,E,F,G,H,I,J).
rotn(s(N), A,B,C,D,E,F,G,H,I,J, A1,B1,C1,D1,E1,F1,G1,H1,I1,J1) :-
    rotn(N, B,C,D,E,F,G,H,I,J,A, A1,B1,C1,D1,E1,F1,G1,H1,I1,J1).

% The same rotation with the count last: every argument moves.
rotl(A,B,C,D,E,F,G,H,I,J, 0, [A,B,C,D,E,F,G,H,I,J]).
rotl(A,B,C,D,E,F,G,H,I,J, s(N), R) :- rotl(J,A,B,C,D,E,F,G,H,I, N, R).

shuffle(A, B, C, R) :- sh(C, A, B, R).
sh(X, Y, Z, [X, Y, Z]).

swap_twice(A, B, R) :- sw(B, A, R0), sw(R0, B, R).
sw(X, Y, p(X, Y)).

% Arguments built from the incoming registers in crossed order.
cross(A, B, C, R) :- cross2(f(C, A), g(B, A), C, [A|B], R).
cross2(X, Y, Z, W, r(X, Y, Z, W)).

twelve(A,B,C,D,E,F,G,H,I,J,K,L, R) :-
    keep(A), twelve2(L,K,J,I,H,G,F,E,D,C,B,A, A, L, R).
twelve2(A,B,C,D,E,F,G,H,I,J,K,L, A0, L0, [A,B,C,D,E,F,G,H,I,J,K,L, A0, L0]).

expect(rotate_ten_once, R, (rot(a,b,c,d,e,f,g,h,i,j, A,B,C,D,E,F,G,H,I,J), R = [A,B,C,D,E,F,G,H,I,J]),
       [[b,c,d,e,f,g,h,i,j,a]]).
expect(rotate_ten_three_times, R,
       (rotn(s(s(s(0))), a,b,c,d,e,f,g,h,i,j, A,B,C,D,E,F,G,H,I,J), R = [A,B,C,D,E,F,G,H,I,J]),
       [[d,e,f,g,h,i,j,a,b,c]]).
expect(rotate_ten_ten_times, R,
       (ten(N), rotn(N, a,b,c,d,e,f,g,h,i,j, A,B,C,D,E,F,G,H,I,J), R = [A,B,C,D,E,F,G,H,I,J]),
       [[a,b,c,d,e,f,g,h,i,j]]).
expect(rotate_right_four_times, R, rotl(1,2,3,4,5,6,7,8,9,10, s(s(s(s(0)))), R),
       [[7,8,9,10,1,2,3,4,5,6]]).
expect(rotate_with_unbound_args, R, rotl(A,B,C,D,E,F,G,H,I,x, s(0), R), [[x,_,_,_,_,_,_,_,_,_]]).
expect(shuffle_three, R, shuffle(a, b, c, R), [[c,a,b]]).
expect(swap_twice, R, swap_twice(a, b, R), [p(p(b,a),b)]).
expect(crossed_structures, R, cross(a, b, c, R), [r(f(c,a),g(b,a),c,[a|b])]).
expect(twelve_reversed, R, twelve(1,2,3,4,5,6,7,8,9,10,11,12, R), [[12,11,10,9,8,7,6,5,4,3,2,1,1,12]]).

% ---- call/N with the goal known when the clause is compiled ----

succ_p(M, s(M)).

expect(call_with_extra_args, L, call(app, [a], [b], L), [[a,b]]).
expect(call_closure_with_args, L, call(app([a]), [b], L), [[a,b]]).
expect(call_disjunction, X, call((c(X) ; X = 9)), [1, 2, 3, 9]).

% ---- Deep recursion ----

ten(s(s(s(s(s(s(s(s(s(s(0))))))))))).

add(0, Y, Y).
add(s(X), Y, s(Z)) :- add(X, Y, Z).
% mul copies its second argument X times (not the growing product).
mul(0, _, 0).
mul(s(X), Y, Z) :- mul(X, Y, W), add(Y, W, Z).
pow10(0, s(0)).
pow10(s(K), N) :- pow10(K, M), ten(T), mul(T, M, N).

count(0).
count(s(N)) :- count(N).

% An environment in every step: deallocated before the last call.
walk(0, done).
walk(s(N), R) :- keep(N), walk(N, R).

% The recursive call is the last goal of an if-then-else block.  dec/2
% rather than N = s(M), which would build s(M) on the heap at every step.
dec(s(M), M).
walk_ite(N) :- ( N = 0 -> true ; dec(N, M), keep(M), walk_ite(M) ).

% ... and of a disjunction whose other branch has been tried first.
walk_disj(N) :- ( N = 0 ; dec(N, M), walk_disj(M) ).

mklist(0, []).
mklist(s(N), [x|L]) :- mklist(N, L).

lwalk([]).
lwalk([_|T]) :- lwalk(T).

% Not tail recursive: one frame per element stays until the bottom.
len([], 0).
len([_|T], N) :- len(T, M), succ_p(M, N).

up(0, []).
up(s(N), L) :- up(N, L0), L = [N|L0].

million(N) :- pow10(s(s(s(s(s(s(0)))))), N).
hundred_thousand(N) :- pow10(s(s(s(s(s(0))))), N).

expect(pow10_two, N, pow10(s(s(0)), N), [
  s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(
  s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(s(
  s(s(s(s(0)))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))))
  )))))))))))))
  ]).

test(tail_recursion_million_steps) :- million(N), count(N).
test(tail_recursion_with_environment_million_steps) :- million(N), walk(N, R), R = done.
test(tail_recursion_through_if_then_else_million_steps) :- million(N), walk_ite(N).
test(tail_recursion_through_disjunction_million_steps) :- million(N), walk_disj(N), !.
test(list_walk_million_steps) :- million(N), mklist(N, L), lwalk(L).
test(non_tail_recursion_100000_deep) :- hundred_thousand(N), mklist(N, L), len(L, M), M = N.
test(non_tail_recursion_builds_on_return) :-
    hundred_thousand(N), up(N, L), L = [s(s(_))|_], len(L, M), M = N.
