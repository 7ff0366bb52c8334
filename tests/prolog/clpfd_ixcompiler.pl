% The indexical compiler of library(clpfd): the code, literals and linkage
% it makes for definitions of every kind of range and term, and the
% errors of malformed definitions.  The definitions are data here (not
% clauses), so the loader leaves them alone.

:- use_module(library(clpfd)).

member(X, [X|_]).
member(X, [_|T]) :- member(X, T).

% code(Name, Exact, Definition, Codes): the code lists of Definition's
% indexicals, in order; Exact 1 compiles as the library does (set tells
% carry the filter flag), 0 as a user's definition.
code(le_propagating, 1, ('x=<y'(X, Y) +: X in inf..max(Y), Y in min(X)..sup),
     [[39, 46], [34, 47]]).
code(le_checking, 1, ('x=<y'(X, Y) +? X in inf..min(Y)), [[35, 54]]).
code(ne_checking_by_disjoint_domains, 1, ('x\\=y'(X, Y) +? X in \dom(Y)), [[31, 58]]).
code(sum_of_domains_filtered, 1, ('x+y=z'(X, Y, Z) +: Z in dom(X) + dom(Y)), [[30, 31, 83, 1]]).
code(sum_of_domains_of_a_user_unfiltered, 0, ('x+y=z'(X, Y, Z) +: Z in dom(X) + dom(Y)), [[30, 31, 83, 0]]).
code(difference_of_domains, 0, (d(X, Y, Z) +: Z in dom(X) - dom(Y)), [[30, 31, 84, 0]]).
code(abs_union_with_mirror, 1, ('|x|=y'(X, Y) +: X in dom(Y) \/ (0 - dom(Y))),
     [[31, 31, 41, t(0), 73, 13, 52, 1]]).
code(or_jumps_over_the_union, 1, (or(X, Y, Z) +: X in (dom(Y) /\ dom(Z)) ? (inf..sup) \/ dom(Z)),
     [[31, 32, 17, 61, l(6), 32, 52, 1]]).
code(conditional_range_yields_empty, 0, (c(X, Y, Z) +: X in dom(Y) ? dom(Z)),
     [[31, 62, l(4), 32, 52, 0]]).
code(ne_offset_waits_for_values, 1, ('t\\=u+c'(T, U, K) +: T in \{U + K}), [[27, 28, 19, 49]]).
code(val_keyword_same_as_bare_argument, 1, (n(T, U, K) +: T in \{val(U) + val(K)}), [[27, 28, 19, 49]]).
code(arguments_beyond_the_third_take_an_operand, 0,
     (f(A, B, C, D, E) +: E in min(D)..max(A) + card(D)),
     [[33, 3, 38, 65, 3, 19, 48]]).
code(singleton_value_fixes, 0, (f(X, Y) +: X in {max(Y) - min(Y)}), [[39, 35, 20, 51]]).
code(several_values_build_a_set, 0, (f(X, Y) +: X in {min(Y), max(Y), 7}),
     [[35, 39, 10, 41, t(0), 12, 52, 0]]).
code(constant_set_is_one_literal, 0, (f(X) +: X in \{1, 3, 4}), [[41, d(0), 50]]).
code(open_ends_of_nested_intervals, 0, (f(X, Y) +: X in (inf..min(Y)) \/ (max(Y)..sup) \/ (inf..sup)),
     [[35, 2, 39, 3, 13, 1, 13, 52, 0]]).
code(complement_and_shift_of_a_set, 0, (f(X, Y) +: X in \(dom(Y) + 1) /\ (dom(Y) - min(Y))),
     [[31, 41, t(0), 5, 9, 31, 35, 6, 17, 52, 0]]).
code(residues_of_a_set, 0, (f(X, Y) +: X in (dom(Y) mod 3) \/ (dom(Y) rem 3)),
     [[31, 41, t(0), 7, 31, 41, t(1), 86, 13, 52, 0]]).
code(value_arithmetic, 0, (f(X, Y) +: X in (-max(Y)) mod 5..min(Y) rem 2 * 3),
     [[41, t(0), 39, 20, 41, t(1), 24, 35, 41, t(2), 85, 21, t(3), 48]]).
code(division_rounds_inwards, 0, (f(X, Y) +: X in min(Y) // 2..max(Y) // 2), [[35, 23, t(0), 39, 22, t(1), 48]]).
code(negative_divisor_flips_the_rounding, 0, (f(X, Y) +: X in max(Y) // -2..min(Y) // -2),
     [[39, 22, t(0), 35, 23, t(1), 48]]).
code(subtracted_division_flips_the_rounding, 0, (f(X, Y) +: X in 0 - max(Y) // 2..sup), [[41, t(0), 39, 22, t(1), 20, 47]]).
code(division_in_a_value_rounds_down, 0, (f(X, Y) +: X in {max(Y) // 3}), [[39, 22, t(0), 51]]).
code(whole_line_tells_and_checks, 0, (f(X) +: X in inf..sup), [[1, 52, 0]]).
code(checks_of_each_shape, 0,
     (f(X, Y) +? X in min(Y)..sup, X in min(Y)..max(Y), X in {min(Y)}, X in \{min(Y)}, X in dom(Y),
      X in inf..sup),
     [[35, 55], [35, 39, 56], [35, 59], [35, 57], [31, 60], [1, 60]]).

test(compiled_code_per_definition) :-
        \+ ( code(Name, Exact, Def, Expected),
             clpfd:compile_indexicals(Def, Exact, _, _, N, Infos),
             findall(C, member(ix(_, _, _, C, _, _, _), Infos), Codes),
             \+ ( Codes == Expected, length(Expected, N), lengths_agree(Infos) ),
             format(user_error, "~w: expected ~w, got ~w~n", [Name, Expected, Codes]) ).

% Each record's lengths are those of its lists.
lengths_agree([]).
lengths_agree([ix(L, LL, _, C, CL, Ls, LsL)|Is]) :-
        length(L, LL), length(C, CL), length(Ls, LsL),
        lengths_agree(Is).

% What else a definition compiles to: name and type, then per indexical
% its pruned argument, linkage and literals.
expect(spec_type_and_targets, R,
       (clpfd:compile_indexicals(('t=<u+c'(T, U, C) -: T in min(U) + C + 1..sup, U in inf..max(T) - C - 1), 1,
                                 Spec, Type, _, Infos),
        findall(P/L/Ls, member(ix(L, _, P, _, _, Ls, _), Infos), Is), R = Spec/Type/Is),
       ['t=<u+c'/3/0/[0/[1-2, 2-8]/[1], 1/[0-4, 2-8]/[1]]]).
expect(checking_links_its_target_on_its_domain, L,
       (clpfd:compile_indexicals(('x=<y'(X, Y) +? X in inf..min(Y)), 1, _, 3, 1, [ix(L, _, _, _, _, _, _)])),
       [[0-1, 1-2]]).
expect(checking_waits_with_its_own_bit, L,
       (clpfd:compile_indexicals((f(X, Y) -? X in {val(Y)}), 1, _, 2, 1, [ix(L, _, _, _, _, _, _)])),
       [[0-1, 1-16]]).
expect(bounds_of_one_argument_merge_into_one_entry, L,
       (clpfd:compile_indexicals((f(X, Y) +: X in min(Y)..max(Y) + card(Y)), 0, _, _, _, [ix(L, _, _, _, _, _, _)])),
       [[1-7]]).
expect(value_and_bound_of_one_argument_wait, L,
       (clpfd:compile_indexicals((f(X, Y) +: X in min(Y)..val(Y)), 0, _, _, _, [ix(L, _, _, _, _, _, _)])),
       [[1-10]]).
expect(target_read_by_its_own_range_is_linked, L,
       (clpfd:compile_indexicals((f(X, Y) +: X in min(X)..max(Y)), 0, _, _, _, [ix(L, _, _, _, _, _, _)])),
       [[0-2, 1-4]]).
expect(constant_set_literal_merges_runs, Ls,
       (clpfd:compile_indexicals((f(X) +: X in {5, 1, 2, 3, 9, 5}), 0, _, _, _, [ix(_, _, _, _, _, Ls, _)])),
       [[d([[1|3], [5|5], [9|9]])]]).
expect(constants_are_literals_in_order, Ls,
       (clpfd:compile_indexicals((f(X, Y) +: X in min(Y) + 7..max(Y) * 2), 0, _, _, _, [ix(_, _, _, _, _, Ls, _)])),
       [[7, 2]]).
expect(infinities_are_literals, Ls,
       (clpfd:compile_indexicals((f(X, Y) +: X in {min(Y) + inf, sup}), 0, _, _, _, [ix(_, _, _, _, _, Ls, _)])),
       [[inf, sup]]).

% ---- Malformed definitions ----

% refused(Name, Definition, Error): compiling raises error(Error, _).
refused(head_argument_not_a_variable, (f(X, 1) +: X in 1..2), domain_error(distinct_variables, f(_, 1))).
refused(head_argument_twice, (f(X, X) +: X in 1..2), domain_error(distinct_variables, f(_, _))).
refused(head_not_callable, (3 +: _ in 1..2), type_error(callable, 3)).
refused(target_not_an_argument, (f(X) +: _ in min(X)..sup), domain_error(indexical, _ in min(_)..sup)).
refused(item_not_an_in, (f(X) +: X = 1), domain_error(indexical, _ = 1)).
refused(unknown_range, (f(X, Y) +: X in foo(Y)), domain_error(range, foo(_))).
refused(read_of_a_non_argument, (f(X) +: X in min(_)..sup), domain_error(range, _)).
refused(product_of_two_variables, (f(X, Y) +: X in min(Y) * max(Y)..sup), domain_error(range, min(_) * max(_))).
refused(division_by_zero_constant, (f(X, Y) +: X in min(Y) // 0..sup), domain_error(range, min(_) // 0)).
refused(unbound_range, (f(X) +: X in _), domain_error(range, _)).

test(malformed_definitions_are_refused) :-
        \+ ( refused(Name, Def, Error),
             catch(( clpfd:compile_indexicals(Def, 0, _, _, _, _), Got = compiled ),
                   error(Got0, _), Got = Got0),
             Got \= Error,
             format(user_error, "~w: expected ~w, got ~w~n", [Name, Error, Got]) ).
