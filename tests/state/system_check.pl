% Goals over the runtime library, run once on a library compiled from
% source (prolog_main) and once on a library restored from a whole-system
% state into a runtime that never compiled it (state_tool system-restore):
% both must print the same lines (tests/state/system.cmake).
:- dynamic fact/1.

main :-
        format("~w ~a ~d~n", [f(X, "s"), abc, 42]),
        findall(N-S, ( in([1, 2, 3, 4], N), S is N * N ), L), writeq(L), nl,
        msort([c, a, b, a], M), sort(0, @>=, [1, 3, 2], D), writeq(M/D), nl,
        atom_codes(A, "hello"), atom_length(A, AL), sub_atom(A, 1, 3, _, Sub), writeq(A/AL/Sub), nl,
        catch(atom_length(X, _), E, true), writeq(E), nl,
        assertz(fact(1)), assertz(fact(2)), retract(fact(1)), findall(F, fact(F), Fs), writeq(Fs), nl,
        term_to_atom(T, 'foo(Bar, [1,2|Baz], "q")'), writeq(T), nl,
        ( setof(K-V, in([b-1, a-2, b-0], K-V), KVs) -> writeq(KVs) ; write(none) ), nl,
        X2 is 2 ** 100 + 7 mod 3, writeq(X2), nl,
        freeze(Z, (write(thawed(Z)), nl)), Z = now,
        dif(P, Q), P = 1, ( Q = 1 -> write(dif_broken) ; write(dif_holds) ), nl,
        length(LL, 3), writeq(LL), nl,
        number_codes(Num, " 12.5e3"), writeq(Num), nl,
        bb_put(k, v(1)), bb_get(k, BV), writeq(BV), nl,
        ( current_op(Pr, Ty, mod) -> writeq(op(Pr, Ty)) ; true ), nl,
        statistics(runtime, [_, _]), write(done), nl.

in([X|_], X).
in([_|T], X) :- in(T, X).
