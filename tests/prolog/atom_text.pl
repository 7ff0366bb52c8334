% Atom and text built-ins: every mode, the ISO order of enumeration,
% characters (not bytes) in non-ASCII text, and the ISO errors.

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% ---- sub_atom/5: all solutions, in ISO order ----

expect(sub_atom_all, [B, L, A, S], sub_atom(abc, B, L, A, S),
       [[0, 0, 3, ''], [0, 1, 2, a], [0, 2, 1, ab], [0, 3, 0, abc],
        [1, 0, 2, ''], [1, 1, 1, b], [1, 2, 0, bc],
        [2, 0, 1, ''], [2, 1, 0, c],
        [3, 0, 0, '']]).
expect(sub_atom_known_sub, [B, L, A], sub_atom(abcab, B, L, A, ab), [[0, 2, 3], [3, 2, 0]]).
expect(sub_atom_known_length, [B, A, S], sub_atom(abc, B, 2, A, S), [[0, 1, ab], [1, 0, bc]]).
expect(sub_atom_known_after, [B, L, S], sub_atom(abc, B, L, 1, S), [[0, 2, ab], [1, 1, b], [2, 0, '']]).
expect(sub_atom_known_before, [L, A, S], sub_atom(abc, 1, L, A, S), [[0, 2, ''], [1, 1, b], [2, 0, bc]]).
expect(sub_atom_before_after, [L, S], sub_atom(abc, 1, L, 1, S), [[1, b]]).
expect(sub_atom_length_after, [B, S], sub_atom(abc, B, 1, 0, S), [[2, c]]).
expect(sub_atom_all_known, S, sub_atom(abc, 0, 3, 0, S), [abc]).
expect(sub_atom_empty_atom, [B, L, A, S], sub_atom('', B, L, A, S), [[0, 0, 0, '']]).
expect(sub_atom_no_fit, S, (sub_atom(abc, 2, 2, _, S) ; sub_atom(abc, B, L, 4, S) ; S = none), [none]).
expect(sub_atom_sub_too_long, B, (sub_atom(ab, B, _, _, abc) ; B = none), [none]).
expect(sub_atom_wrong_sub, B, (sub_atom(abc, 1, 1, _, c) ; B = none), [none]).
expect(sub_atom_huge_position, B, (X is 1 << 80, sub_atom(abc, X, _, _, _) ; B = none), [none]).
test(sub_atom_counts_solutions) :-
        % n + 1 choose 2, plus the n + 1 empty ones, for n = 6
        findall_count(sub_atom(abcdef, _, _, _, _), 28).

% Counted on the blackboard, which backtracking does not undo.
findall_count(G, N) :-
        prolog:'$bb_put'(user, solutions, 0),
        (   call(G), prolog:'$bb_get'(user, solutions, K), K1 is K + 1,
            prolog:'$bb_put'(user, solutions, K1), fail
        ;   true
        ),
        prolog:'$bb_get'(user, solutions, N).

% Characters, not bytes: ä, ö, ü are two bytes each, the euro sign three,
% the grinning face four.
expect(sub_atom_non_ascii, [B, L, A, S], sub_atom('äöü', B, L, A, S),
       [[0, 0, 3, ''], [0, 1, 2, 'ä'], [0, 2, 1, 'äö'], [0, 3, 0, 'äöü'],
        [1, 0, 2, ''], [1, 1, 1, 'ö'], [1, 2, 0, 'öü'],
        [2, 0, 1, ''], [2, 1, 0, 'ü'],
        [3, 0, 0, '']]).
expect(sub_atom_non_ascii_search, [B, A], sub_atom('a€b€', B, 1, A, '€'), [[1, 2], [3, 0]]).
expect(sub_atom_four_byte, [B, L, A], sub_atom('x😀y', B, L, A, y), [[2, 1, 0]]).

% ---- atom_concat/3 ----

expect(atom_concat_splits, [X, Y], atom_concat(X, Y, abc), [['', abc], [a, bc], [ab, c], [abc, '']]).
expect(atom_concat_splits_non_ascii, [X, Y], atom_concat(X, Y, 'äb€'),
       [['', 'äb€'], ['ä', 'b€'], ['äb', '€'], ['äb€', '']]).
expect(atom_concat_splits_empty, [X, Y], atom_concat(X, Y, ''), [['', '']]).
expect(atom_concat_join, X, atom_concat(ab, 'ç', X), ['abç']).
expect(atom_concat_prefix, X, atom_concat('ä', X, 'äbc'), [bc]).
expect(atom_concat_suffix, X, atom_concat(X, 'ü', 'aü'), [a]).
expect(atom_concat_check, X, (atom_concat(ab, c, abc), X = yes), [yes]).
expect(atom_concat_mismatches, X,
       (atom_concat(ab, d, abc) ; atom_concat(b, X, abc) ; atom_concat(X, b, abc)
       ; atom_concat(abcd, X, abc) ; atom_concat(X, xabc, abc) ; X = none), [none]).

% ---- atom_length/2 ----

expect(atom_length_counts_characters, L, atom_length('aäb€😀', L), [5]).
expect(atom_length_ascii, L, atom_length(hello, L), [5]).
expect(atom_length_empty, L, atom_length('', L), [0]).
test(atom_length_checks) :- atom_length(abc, 3), \+ atom_length(abc, 4), atom_length('', 0).
test(atom_length_huge_fails) :- X is 1 << 70, \+ atom_length(abc, X).

% ---- char_code/2 ----

expect(char_code_ascii, C, char_code(a, C), [97]).
expect(char_code_latin1, C, char_code('ä', C), [228]).
expect(char_code_euro, X, char_code(X, 0x20AC), ['€']).
expect(char_code_four_byte, C, (char_code(X, 0x1F600), atom_length(X, 1), char_code(X, C)), [128512]).
test(char_code_zero) :- char_code(X, 0), atom_length(X, 1), atom_codes(X, [0]), char_code(X, 0).
test(char_code_check) :- char_code(a, 97), \+ char_code(a, 98).

% ---- atom_codes/2, atom_chars/2 ----

expect(atom_codes_out, L, atom_codes('aä€', L), [[97, 228, 8364]]).
expect(atom_codes_in, A, atom_codes(A, [0'a, 228, 8364]), ['aä€']).
expect(atom_chars_out, L, atom_chars('aä€', L), [[a, 'ä', '€']]).
expect(atom_chars_in, A, atom_chars(A, [a, 'ä', '€']), ['aä€']).
expect(atom_codes_partial, T, atom_codes(abc, [0'a|T]), [[98, 99]]).
expect(atom_chars_partial, X, atom_chars(abc, [X, b, c]), [a]).
expect(atom_codes_empty, [A, L], (atom_codes(A, []), atom_codes('', L)), [['', []]]).
test(atom_codes_mismatch_fails) :- \+ atom_codes(abc, "abd"), \+ atom_chars(abc, [a, b]).
test(atom_codes_zero_round_trip) :-
        atom_codes(A, [0'a, 0, 0'b]), atom_length(A, 3), atom_codes(A, [0'a, 0, 0'b]).
test(atom_codes_long) :-
        length(L, 5000), fill(L, 0'x), atom_codes(A, L), atom_length(A, 5000),
        atom_codes(A, L2), L2 == L.
fill([], _).
fill([X|Xs], X) :- fill(Xs, X).

% ---- number_codes/2, number_chars/2, atom_number/2 ----

expect(number_codes_out, L, number_codes(-12, L), ["-12"]).
expect(number_codes_in, N, number_codes(N, "42"), [42]).
expect(number_codes_layout, N, number_codes(N, " 12"), [12]).
expect(number_codes_hex, N, number_codes(N, "0x1F"), [31]).
expect(number_codes_char, N, number_codes(N, "0'a"), [97]).
expect(number_codes_float, N, number_codes(N, "1.5e3"), [1500.0]).
expect(number_codes_negative, N, number_codes(N, "-7"), [-7]).
expect(number_codes_big, N, (number_codes(N, "123456789012345678901234567890"), integer(N)),
       [123456789012345678901234567890]).
test(number_codes_by_value) :-
        number_codes(12, " 12"), number_codes(12, "012"), \+ number_codes(12, "13"),
        \+ number_codes(1, "1.0").
expect(number_codes_partial, T, number_codes(123, [0'1|T]), [[50, 51]]).
expect(number_chars_in, N, number_chars(N, ['1', '2', '.', '5']), [12.5]).
expect(number_chars_out, L, number_chars(3.0, L), [['3', '.', '0']]).
expect(atom_number_in, N, atom_number('12', N), [12]).
expect(atom_number_float, N, atom_number('2.5', N), [2.5]).
expect(atom_number_out, A, atom_number(A, 17), ['17']).
test(atom_number_not_a_number) :- \+ atom_number(foo, _), \+ atom_number('12x', _), \+ atom_number('', _).

% ---- upcase_atom/2, copy_term/2, term_variables/2 ----

expect(upcase_atom, U, upcase_atom('aäz!Ab€', U), ['AÄZ!AB€']).
test(upcase_atom_check) :- upcase_atom(abc, 'ABC'), \+ upcase_atom(abc, abc).
test(copy_term_fresh_shared) :-
        copy_term(f(X, Y, X, a), C), C = f(A, B, A2, a), A == A2, A \== B, A \== X, var(A), var(B).
expect(term_variables_order, L, (term_variables(f(X, g(Y, X), Z, [W|Y]), L), L == [X, Y, Z, W]), [[_, _, _, _]]).
expect(term_variables_ground, L, term_variables(f(a, [b]), L), [[]]).
expect(term_variables_partial_list_given, L, term_variables(f(X), [A|L]), [[]]).

% ---- ISO errors ----

error_case(atom_length(_, _), instantiation_error).
error_case(atom_length(123, _), type_error(atom, 123)).
error_case(atom_length(f(a), _), type_error(atom, f(a))).
error_case(atom_length(abc, foo), type_error(integer, foo)).
error_case(atom_length(abc, 1.0), type_error(integer, 1.0)).
error_case(atom_length(abc, -1), domain_error(not_less_than_zero, -1)).

error_case(sub_atom(_, _, _, _, _), instantiation_error).
error_case(sub_atom(f(a), _, _, _, _), type_error(atom, f(a))).
error_case(sub_atom(abc, _, _, _, 1), type_error(atom, 1)).
error_case(sub_atom(abc, a, _, _, _), type_error(integer, a)).
error_case(sub_atom(abc, _, 1.5, _, _), type_error(integer, 1.5)).
error_case(sub_atom(abc, _, _, x, _), type_error(integer, x)).
error_case(sub_atom(abc, -1, _, _, _), domain_error(not_less_than_zero, -1)).
error_case(sub_atom(abc, _, -2, _, _), domain_error(not_less_than_zero, -2)).
error_case(sub_atom(abc, _, _, -3, _), domain_error(not_less_than_zero, -3)).

error_case(atom_concat(_, b, _), instantiation_error).
error_case(atom_concat(a, _, _), instantiation_error).
error_case(atom_concat(_, _, _), instantiation_error).
error_case(atom_concat(f(a), b, _), type_error(atom, f(a))).
error_case(atom_concat(a, 1, _), type_error(atom, 1)).
error_case(atom_concat(_, _, 12), type_error(atom, 12)).
error_case(atom_concat(_, f(a), abc), type_error(atom, f(a))).
error_case(atom_concat(a, b, f(c)), type_error(atom, f(c))).

error_case(char_code(_, _), instantiation_error).
error_case(char_code(ab, _), type_error(character, ab)).
error_case(char_code('', _), type_error(character, '')).
error_case(char_code(1, _), type_error(character, 1)).
error_case(char_code(_, a), type_error(integer, a)).
error_case(char_code(a, b), type_error(integer, b)).
error_case(char_code(_, -1), representation_error(character_code)).
error_case(char_code(_, 4294967296), representation_error(character_code)).

error_case(atom_codes(_, _), instantiation_error).
error_case(atom_codes(_, [0'a|_]), instantiation_error).
error_case(atom_codes(_, [0'a, _]), instantiation_error).
error_case(atom_codes(f(a), _), type_error(atom, f(a))).
error_case(atom_codes(_, foo), type_error(list, foo)).
error_case(atom_codes(_, [0'a|b]), type_error(list, [97|b])).
error_case(atom_codes(_, [a]), representation_error(character_code)).
error_case(atom_codes(_, [-1]), representation_error(character_code)).
error_case(atom_chars(_, _), instantiation_error).
error_case(atom_chars(_, [a|_]), instantiation_error).
error_case(atom_chars(1, _), type_error(atom, 1)).
error_case(atom_chars(_, [a, f(b)]), type_error(character, f(b))).
error_case(atom_chars(_, [a, bc]), type_error(character, bc)).
error_case(atom_chars(_, [0'a]), type_error(character, 97)).

error_case(number_codes(_, _), instantiation_error).
error_case(number_codes(_, [0'1|_]), instantiation_error).
error_case(number_codes(a, _), type_error(number, a)).
error_case(number_codes(a, "12"), type_error(number, a)).
error_case(number_chars(a, ['1']), type_error(number, a)).
error_case(number_codes(_, "1x"), syntax_error(illegal_number)).
error_case(number_codes(_, []), syntax_error(illegal_number)).
error_case(number_codes(_, "1 "), syntax_error(illegal_number)).
error_case(number_codes(1, "x"), syntax_error(illegal_number)).
error_case(number_codes(_, [0'1, a]), representation_error(character_code)).
error_case(number_codes(_, foo), type_error(list, foo)).
error_case(number_chars(_, _), instantiation_error).
error_case(number_chars(f(a), _), type_error(number, f(a))).
error_case(number_chars(_, ['1', f(a)]), type_error(character, f(a))).
error_case(number_chars(_, ['1', f]), syntax_error(illegal_number)).
error_case(number_chars(_, [a|_]), instantiation_error).

error_case(atom_number(_, _), instantiation_error).
error_case(atom_number(f(a), _), type_error(atom, f(a))).
error_case(atom_number(_, foo), type_error(number, foo)).
error_case(upcase_atom(_, _), instantiation_error).
error_case(upcase_atom(1, _), type_error(atom, 1)).
error_case(term_variables(f(_), foo), type_error(list, foo)).
error_case(term_variables(f(_), [a|b]), type_error(list, [a|b])).

% Every case raises exactly its error; a wrong one is listed with what
% came instead.
expect(iso_errors, G-F, (error_case(G, Want), error_of(G, F), F \= Want), []).

% ---- The native cores' own conventions ----

core_case(prolog:'$atom_length'('ä', L, R), [L, R], [1, true]).
core_case(prolog:'$atom_length'('', 0, R), R, true).
core_case(prolog:'$sub_atom'(abc, _, 2, _, _, R), R, 3).
core_case(prolog:'$sub_atom'(abc, 1, L, 0, S, R), [L, S, R], [2, bc, true]).
core_case(prolog:'$sub_atom'(abc, 2, 2, _, _, R), R, fail).
core_case(prolog:'$sub_atom'(abc, _, L, _, bc, R), [L, R], [2, 3]).
core_case(prolog:'$atom_concat'(_, _, abc, R), R, 3).
core_case(prolog:'$atom_concat'(ab, Y, abc, R), [Y, R], [c, true]).
core_case(prolog:'$atom_concat'(X, c, abc, R), [X, R], [ab, true]).
core_case(prolog:'$char_code'(Ch, 97, R), [Ch, R], [a, true]).
core_case(prolog:'$number_elems'(N, " 12", character_code, R), [N, R], [12, true]).
core_case(prolog:'$number_elems'(12, "12", character_code, R), R, true).
core_case(prolog:'$atom_length'(abc, X, R), [X, R], [3, true]) :- X = _.

core_fails(prolog:'$atom_length'(abc, -1, _)).
core_fails(prolog:'$char_code'(ab, _, _)).
core_fails(prolog:'$number_elems'(_, "1x", character_code, _)).
core_fails(prolog:'$atom_elems'(_, [ab], character)).
core_fails(prolog:'$atom_elems'(_, [''], character)).

expect(cores, G-Got, (core_case(G, Out, Want), (call(G) -> Got = Out ; Got = failed), Got \== Want), []).
expect(cores_fail, G, (core_fails(G), call(G)), []).
test(core_atom_length_huge) :- X is 1 << 70, prolog:'$atom_length'(abc, X, fail).
