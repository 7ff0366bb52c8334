% The finite-domain round trip: FD predicates installed from hand-compiled
% indexicals (FD-set literals, switch tables, a code whose first
% instruction pushes a set, a set literal behind three constants), saved
% with save_program/2 and restored in a fresh process
% (tests/state/roundtrip.cmake).  check/0 prints which predicates are FD
% predicates and what posting each one does to small domains; the
% restored program must print the same.
:- use_module(library(clpfd)).

ix(P, Link, Code, Lits, i(Link, NL, P, Code, NC, Lits, NLit)) :-
        length(Link, NL), length(Code, NC), length(Lits, NLit).

install(Spec, Type, Infos) :-
        length(Infos, N),
        clpfd:'$fd_install'(Spec, user, Type, N, Infos).

% leq(X, Y): X =< Y, both directions, and its checking indexical.
:- ix(0, [1-4], [39, 46], [], A), ix(1, [0-2], [34, 47], [], B), install(leq/2, 1, [A, B]).
:- ix(0, [1-7], [35, 54], [], C), install(leq/2, 3, [C]).
% in_lit(X, Y): X in {1..3, 7..9, 12..sup} /\ dom(Y), the set pushed first.
:- ix(0, [1-1], [41, d(0), 31, 17, 52, 1], [d([[1|3], [7|9], [12|sup]])], I), install(in_lit/2, 1, [I]).
% sel(X, Y): once Y is fixed, X in a set chosen by a switch on Y's value
% (1: 10..12, 2: {20} \/ 22..25, else nothing).
:- ix(0, [1-9], [27, 69, h(0), 4, 52, 1, 41, d(1), 70, 41, d(2), 70],
      [table([1-6, 2-9]), d([[10|12]]), d([[20|20], [22|25]])], I),
   install(sel/2, 1, [I]).
% fourth(X, Y): X in {5, 6} with the value 1 added; the set is literal 3.
:- ix(0, [], [41, d(3), 41, t(1), 12, 52, 1], [0, 1, 2, d([[5|6]])], I), install(fourth/2, 1, [I]).

post(G) :-
        clpfd:'$fd_begin',
        clpfd:'$fd_find_definition'(G, user, D), D \== 0,
        clpfd:'$fd_check_arguments'(G, Attv),
        clpfd:'$fd_arg_attribute'(1, 0, BAttr),
        clpfd:'$fd_post_reified'(D, G, Attv, 1, BAttr),
        clpfd:evaluate.

case(leq(X, Y), [X, Y], (X in 0..9, Y in 2..5)).
case(in_lit(X, Y), [X, Y], (X in 0..20, Y in 2..15)).
case(sel(X, Y), [X, Y], (X in 0..30, Y = 2)).
case(fourth(X, Y), [X, Y], (X in 0..9, Y = 0)).

doms([], []).
doms([X|Xs], [D|Ds]) :- ( integer(X) -> D = X ; fd_dom(X, D) ), doms(Xs, Ds).

run(G, Vars, Setup, R) :-
        catch(( call(Setup), post(G) -> doms(Vars, R) ; R = fails ),
              error(E, _), ( E = existence_error(_, _) -> R = unavailable ; R = error(E) )).

check :-
        (   member(Name/A, [leq/2, in_lit/2, sel/2, fourth/2, ix/5]),
            functor(G0, Name, A),
            ( clpfd:'$fd_find_definition'(G0, user, D), D \== 0 -> F = fd ; F = not_fd ),
            writeq(Name/A-F), nl,
            fail
        ;   true
        ),
        (   case(G, Vars, Setup),
            run(G, Vars, Setup, R),
            functor(G, Name, _),
            writeq(Name-R), nl,
            fail
        ;   true
        ).

member(X, [X|_]).
member(X, [_|T]) :- member(X, T).

main :-
        check,
        save_program('roundtrip.sav', check),
        write(saved), nl.
