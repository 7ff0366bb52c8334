% Grammar rules are translated and compiled like any clause.


greeting --> [hello], name.
name --> [world].
name --> [prolog].

digits([D|T]) --> digit(D), digits(T).
digits([D]) --> digit(D).
digit(D) --> [D], { digit_code(D) }.
digit_code(0'0). digit_code(0'1). digit_code(0'2).

ab --> "ab", !, rest.
ab --> [].
rest --> [].
rest --> "x", rest.

look(X), [X] --> [X].
opt --> ( [a] -> [] ; [b] ).
notc --> \+ [c], [_].
calln --> call(name).

expect(terminals, greeting([hello, world], []), [greeting([hello,world],[])]).
expect(alternatives, S, greeting([hello|S], []), [[world], [prolog]]).
expect(braces_and_recursion, D, digits(D, "120x", R), [[49,50,48], [49,50], [49]]).
expect(string_literal_and_cut, R, ab("abxx", R), [[120,120], [120], []]).
expect(pushback, [X, R], look(X, [q, r], R), [[q, [q, r]]]).
expect(if_then_else, R, (opt([a, z], R) ; opt([b, z], R)), [[z], [z]]).
expect(negation, R, notc([d, e], R), [[e]]).
expect(negation_fails, R, notc([c, e], R), []).
expect(call_nonterminal, R, calln([world, x], R), [[x]]).
