% The source goal of an arithmetic error is rebuilt from the code at the
% escape's culprit; the decompiler reads code only there.

error_context(G, C) :- catch((G, C = none), error(_, C0), C = C0).

% Any other address, as a program could pass it, fails without a read.
test(decompile_refuses_other_addresses) :-
        \+ prolog:'$decompile_arith'(16, _, _),
        \+ prolog:'$decompile_arith'(0x10000000, _, _),
        \+ prolog:'$decompile_arith'(0x7ffffff8, _, _),
        \+ prolog:'$decompile_arith'(0xfffffff0, _, _),
        \+ prolog:'$decompile_arith'(foo, _, _).

% At a real escape it still names the goal, also from inside a catcher.
bad_sum(X) :- Y is X + 1, Y > 0.
expect(decompile_at_an_escape, C, error_context(bad_sum(foo), C), [context(_ is _ + 1, 2)]).
