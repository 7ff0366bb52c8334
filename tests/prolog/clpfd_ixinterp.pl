% Indexicals run by the propagation loop (library(clpfd)): hand-compiled
% definitions installed with '$fd_install'/5 and posted the way the engine
% posts an FD predicate (find the definition, attributes of the
% arguments, '$fd_post_reified'/5, run the queues), then pruning, entailment
% checks deciding the 0/1 variable, waking, backtracking, the overflow
% outcome, and the definitions refused when installed.

:- use_module(library(clpfd)).

% post(+Goal, ?B): Goal (an FD predicate of module user) reified by B.
post(Goal, B) :-
        clpfd:'$fd_find_definition'(Goal, user, Def), Def \== 0,
        clpfd:'$fd_check_arguments'(Goal, Attv),
        (   var(B) -> B in 0..1, clpfd:'$fd_arg_attribute'(B, 0, BAttr) ; BAttr = none ),
        clpfd:'$fd_begin',
        clpfd:'$fd_post_reified'(Def, Goal, Attv, B, BAttr),
        clpfd:evaluate.
post(Goal) :- post(Goal, 1).

install(Spec, Type, Ixs) :-
        length(Ixs, N),
        clpfd:'$fd_install'(Spec, user, Type, N, Ixs).

% ix(+Pruned, +Linkage, +Code, +Literals, -Info)
ix(P, Link, Code, Lits, i(Link, NL, P, Code, NC, Lits, NLit)) :-
        length(Link, NL), length(Code, NC), length(Lits, NLit).

% Tagged small integers as code operands: t(N) of a constant literal.
% leq(X, Y): X =< Y.  Type 1 propagates it, type 0 its negation X >= Y + 1,
% type 3 checks it (max(X) =< min(Y)), type 2 checks the negation
% (min(X) >= max(Y) + 1).  Linkage: X's and Y's dom lists (key 1).
:- ix(0, [0-1, 1-1], [39, 46], [], A), ix(1, [0-1, 1-1], [34, 47], [], B),
   install(leq/2, 1, [A, B]).
:- ix(0, [0-1, 1-1], [35, 41, t(0), 19, 47], [1], A), ix(1, [0-1, 1-1], [38, 41, t(0), 20, 46], [1], B),
   install(leq/2, 0, [A, B]).
:- ix(0, [0-1, 1-1], [35, 54], [], A), install(leq/2, 3, [A]).
:- ix(0, [0-1, 1-1], [39, 41, t(0), 19, 55], [1], A), install(leq/2, 2, [A]).

% in_dom_plus(X, Y, K): X in dom(Y) + K (a goal argument read with 25).
:- ix(0, [1-1], [31, 25, 2, 5, 52, 1], [], A), install(in_dom_plus/3, 1, [A]).
% mod_zero(X, Y): X in 0..(max(Y) mod 0).
:- ix(0, [1-1], [41, t(0), 39, 41, t(0), 24, 48], [0], A), install(mod_zero/2, 1, [A]).
% beyond(X): X in sup..sup, an interval no integer is in.
:- ix(0, [], [41, t(0), 41, t(0), 48], [sup], A), install(beyond/1, 1, [A]).

dom(X, D) :- fd_dom(X, D).

expect(leq_propagates, D, (X in 1..10, Y in 0..5, post(leq(X, Y)), dom(X, DX), dom(Y, DY), D = DX/DY),
       [(1..5)/(1..5)]).
expect(leq_negation_propagates, D, (X in 1..10, Y in 3..5, post(leq(X, Y), 0), dom(X, DX), dom(Y, DY), D = DX/DY),
       [(4..10)/(3..5)]).
% The check decides B at once when max(X) =< min(Y); the negation's when
% min(X) > max(Y); otherwise B stays until the domains move.
expect(reified_leq_decides, R,
       (   member_(DX-DY, [(1..3)-(5..9), (6..9)-(1..5), (1..9)-(5..9)]),
           X in DX, Y in DY, post(leq(X, Y), B),
           ( var(B) -> R = DX-DY:open ; R = DX-DY:B )
       ),
       [(1..3)-(5..9):1, (6..9)-(1..5):0, (1..9)-(5..9):open]).
test(undecided_check_decides_when_the_domain_moves) :-
        X in 1..9, Y in 5..9,
        post(leq(X, Y), B),
        var(B),
        X in 1..4,
        B == 1.
test(decided_false_runs_the_negation) :-
        X in 1..9, Y in 5..9,
        post(leq(X, Y), B),
        B = 0,
        dom(X, 6..9), dom(Y, 5..8).
test(x_in_min_max_of_a_fixed_y_is_told_and_entailed) :-
        X in 0..9,
        post(leq(X, 4)), post(leq(4, X)),
        X == 4.
expect(dom_plus_constant, D, (Y in 1..sup, post(in_dom_plus(X, Y, 1)), dom(X, D)), [2..sup]).
expect(dom_plus_wakes, D, (Y in 1..3, post(in_dom_plus(X, Y, 10)), Y in {1, 3}, dom(X, D)), [{11}\/{13}]).
expect(mod_zero_gives_up, D, (X in -5..100, Y in 1..5, post(mod_zero(X, Y)), dom(X, D)), [-5..100]).
test(domains_come_back_on_backtracking) :-
        X in 1..10, Y in 0..8,
        post(leq(X, Y)),
        (   Y in 0..3, dom(X, 1..3), X = 3, dom(Y, 3..3), fail
        ;   dom(X, 1..8), dom(Y, 1..8)
        ).
expect(overflow_raises_in_mode_error, E,
       catch(( X in 0..9, post(beyond(X)), E = none ), error(E, _), true),
       [representation_error(max_fd_integer)]).
test(overflow_fails_in_mode_fail) :-
        clpfd:'$fd_overflow'(Old, fail, _),
        (   X in 0..9, \+ post(beyond(X)) -> R = ok ; R = wrong ),
        clpfd:'$fd_overflow'(_, Old, _),
        R == ok.

% Definitions the interpreter could not run safely are refused when
% installed: a set where a bound is needed, a jump back that loops for
% ever, a loop body that replaces the values it walks.
bad(set_to_a_bound_tell, [31, 46]).
bad(bound_to_a_set_tell, [35, 52, 0]).
bad(jump_back, [1, 1, 62, 2, 52, 0]).
bad(loop_body_pops_its_rest, [31, 63, 9, 13, 1, 1, 64, 0, 3, 52, 0]).

expect(unsafe_codes_refused, R,
       (   bad(Name, Code),
           ix(0, [], Code, [], I),
           catch(( install(Name/2, 1, [I]), O = installed ), error(domain_error(O, _), _), true),
           clpfd:'$fd_find_definition'(f(_, _), user, _),
           functor(G, Name, 2), clpfd:'$fd_find_definition'(G, user, D),
           R = Name:O/D
       ),
       [set_to_a_bound_tell:'operand of the wrong kind (value, set or return)'/0,
        bound_to_a_set_tell:'operand of the wrong kind (value, set or return)'/0,
        jump_back:'backward jump'/0,
        loop_body_pops_its_rest:'loop body pops the loop''s own entries'/0]).

member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).

% A constraint posted before its FD predicate is installed again keeps
% running the definition it was posted with (the replaced records stay
% while items may point at them); constraints posted afterwards run the
% new one.  Definitions installed in between take memory of the replaced
% records' sizes, which a record freed too early would give them.
% redefined(X, Y) is first X =< max(Y), then X >= min(Y).
fillers(I) :- fillers(12, I).
fillers(0, _) :- !.
fillers(K, I) :-
        number_codes(K, Cs), atom_codes(F, [0'f|Cs]), install(F/2, 1, [I]),
        K1 is K - 1, fillers(K1, I).

test(reinstall_keeps_what_was_posted) :-
        ix(0, [1-1], [39, 46], [], Le),
        ix(0, [1-1], [35, 47], [], Ge),
        install(redefined/2, 1, [Le]),
        X in 0..20, Y in 5..20,
        post(redefined(X, Y)),
        install(redefined/2, 1, [Ge]),
        fillers(Ge),
        Y in 5..12,
        dom(X, 0..12),
        X2 in 0..20, Y2 in 5..20,
        post(redefined(X2, Y2)),
        dom(X2, 5..20),
        Y in 7..9,
        dom(X, 0..9).
