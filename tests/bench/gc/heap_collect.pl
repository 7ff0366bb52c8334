% The collector's speed on a large live heap (not a test): builds a list
% of two million elements, f(I, [I]) each, seven words apiece (about 56 MB
% of live data), then times a whole-heap collection of it.  Run:
%
%   prolog_main tests/bench/gc/heap_collect.pl
%
% Every word is live, so the words marked and the words compacted are the
% heap in use after the collection.

build(N, N, L, L) :- !.
build(I, N, Acc, L) :- I1 is I + 1, build(I1, N, [f(I, [I])|Acc], L).

main :-
        set_prolog_flag(gc_mode, off),
        build(0, 2000000, [], L),
        garbage_collect,
        statistics(gc_time, T0), statistics(walltime, [W0, _]),
        garbage_collect,
        statistics(gc_time, T1), statistics(walltime, [W1, _]),
        statistics(global_stack_used, Bytes),
        Words is Bytes // 4,
        Ms is T1 - T0, Wall is W1 - W0,
        (   Ms > 0 -> Rate is Words * 1000 // Ms ; Rate = inf ),
        format("live heap: ~D bytes (~D words)~n", [Bytes, Words]),
        format("whole-heap collection: ~D ms cpu, ~D ms wall~n", [Ms, Wall]),
        format("words marked and compacted per second: ~D~n", [Rate]),
        L = [_|_].
