% The round-trip program: predicates of every entry kind this system makes,
% flags, operators, odd atoms, blackboard entries and a module with imports.
% Run by prolog_main, it prints its answers (check/0) and saves itself with
% check/0 as the goal to run after a restore; a fresh process restoring the
% state must print the same answers (tests/state/roundtrip.cmake).
:- use_module(roundtrip_lib).

:- op(700, xfx, ===>).
:- op(200, xfy, ^^).
:- op(0, xfx, =@=).
:- set_prolog_flag(unknown, fail).

% Static, indexed on the first argument and not.
color(red, 1). color(green, 2). color(blue, 3). color([x], 4). color(f(a), 5).
anything(_, first). anything(b, second).
% Control constructs: embedded choice blocks.
classify(X, C) :- ( X > 10 -> C = big ; X > 5 -> C = medium ; C = small ).
either(X) :- ( X = a ; X = b ; X = c ), \+ X = b.
% Boxed numbers in code.
big(123456789012345678901234567890).
flt(3.25).
neg(-98765432109876543210).

% Dynamic, and clauses holding database references.
:- dynamic counter/1, target/1, holder/1, holder_gone/1, gone/1.
counter(41).
:- assertz(target(first), _), assertz(target(second), R), assertz(holder(R)).
:- assertz(gone(1), R), assertz(holder_gone(R)), erase(R).

% Multifile (one clause here, one from roundtrip_lib).
:- multifile mf/1.
mf(from_user).

% Declarations.
:- meta_predicate twice(0).
twice(G) :- call(G), call(G).
:- block waits(-).
waits(X) :- write(woke(X)), nl.

% Odd atoms.
odd('').
odd('hello world').
odd('it''s').
odd('two\nlines').
odd(A) :- atom_codes(A, [252, 0'n, 0'i, 0x20AC, 0x1F600]).
odd(A) :- atom_codes(A, [0'a, 0, 0'b]).
odd(A) :- length(L, 600), fill(L), atom_codes(A, L).
in([X|_], X).
in([_|T], X) :- in(T, X).

fill([]).
fill([0'z|T]) :- fill(T).

:- bb_put(key1, f(x, [1, 2], "str", 2.5)).
:- bb_put(7, 123456789012345678901234567890).

check :-
        findall(C-N, color(C, N), Colors), writeq(Colors), nl,
        ( color(blue, B) -> writeq(blue(B)) ; write(no_blue) ), nl,
        findall(W, anything(b, W), Ws), writeq(Ws), nl,
        findall(X-K, ( in([1, 7, 12], X), classify(X, K) ), Ks), writeq(Ks), nl,
        findall(E, either(E), Es), writeq(Es), nl,
        big(Big), flt(F), neg(Neg), writeq(Big/F/Neg), nl,
        counter(Ct), writeq(counter(Ct)), nl,
        holder(R), ( clause(target(T), true, R) -> writeq(ref_to(T)) ; write(ref_lost) ), nl,
        holder_gone(RG), ( clause(gone(_), _, RG) -> write(erased_ref_live) ; write(erased_ref_dead) ), nl,
        findall(M, mf(M), Ms), msort(Ms, SMs), writeq(SMs), nl,
        ( predicate_property(twice(_), meta_predicate(Spec)) -> writeq(Spec) ; write(no_meta) ), nl,
        twice(write(t)), nl,
        waits(V), write(suspended), nl, V = go,
        findall(L-A, ( odd(A), atom_length(A, L) ), Odd), writeq(Odd), nl,
        writeq(a ===> b ^^ c), nl,
        ( current_op(P, T2, =@=) -> writeq(op(P, T2)) ; write(no_op) ), nl,
        term_to_atom(Read, 'x ===> y'), writeq(Read), nl,
        current_prolog_flag(unknown, U), writeq(unknown(U)), nl,
        ( undefined_here -> true ; write(undefined_failed) ), nl,
        bb_get(key1, BB1), bb_get(7, BB2), writeq(BB1/BB2), nl,
        double(21, D), nth_double(2, [5, 6, 7], ND), writeq(D/ND), nl,
        ( predicate_property(double(_, _), imported_from(From)) -> writeq(From) ; write(no_import) ), nl,
        dom_put(AV, [1, 2]), dom_get(AV, Dom), writeq(Dom), nl,
        atom_codes(Odd0, [0'a, 0, 0'b]), atom_length(Odd0, OL), writeq(OL), nl.

main :-
        check,
        save_program('roundtrip.sav', check),
        write(saved), nl.
