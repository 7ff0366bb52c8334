% findall/3,4, bagof/3 and setof/3: copies of solutions, free variables
% and ^, grouping by witness in the standard order, sorting, nesting,
% exceptions out of the goal, and the ISO errors.

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

age(peter, 7).
age(ann, 11).
age(pat, 8).
age(tom, 5).
age(mike, 11).

class(a, x). class(b, y). class(c, x). class(d, y). class(e, z).

% ---- findall ----

expect(findall_table, L,
       ( member_(G, [findall(X, member_(X, [c, a, b, a]), L0), findall(X, fail, L0),
                    findall(X-Y, member_(X, [A, B]), L0), findall(X, (X = 1 ; X = 2), [1|L0]),
                    findall(X, member_(X, [1, 2]), L0, [3]), findall(X, member_(X, [1, 2]), L0, T)]),
         call(G), L = L0 ),
       [[c, a, b, a], [], [_-_, _-_], [2], [1, 2, 3], [1, 2|_]]).
test(findall_copies_are_fresh) :-
        findall(X-Y, (member_(X, [A, A]), Y = A), [P-Q, R-S]),
        P == Q, R == S, P \== R, var(P), var(R).
test(findall_unifies_its_list_last) :-
        \+ findall(X, member_(X, [1, 2]), [1]),
        findall(X, member_(X, [1, 2]), [1, Y]), Y == 2.
expect(findall_errors, E,
       ( member_(G, [findall(_, _, _), findall(_, 4, _), findall(X, member_(X, [1]), [a|b]),
                    findall(_, true, 4), findall(_, true, _, _), findall(_, (true, 4), _)]),
         error_of(G, E) ),
       [instantiation_error, type_error(callable, 4), type_error(list, [a|b]),
        type_error(list, 4), none, type_error(callable, (true, 4))]).

% An exception out of the goal (or out of an inner findall) leaves no
% collection behind: the outer ones go on and later ones start afresh.
expect(exception_from_the_goal, X, catch(findall(Y, (member_(Y, [1, 2]), Y == 2, throw(boom(Y))), _), X, true),
       [boom(2)]).
expect(exception_from_an_inner_findall, L,
       findall(X-Y, ( member_(X, [1, 2, 3]),
                      catch(findall(Z, (member_(Z, [a, b]), X == 2, throw(inner)), Y), inner, Y = caught) ),
               L),
       [[1-[], 2-caught, 3-[]]]).
expect(nested_findall, L, findall(X-Ys, (member_(X, [1, 2]), findall(Y, member_(Y-X, [a-1, b-2, c-1]), Ys)), L),
       [[1-[a, c], 2-[b]]]).
test(after_exceptions_findall_is_clean) :-
        catch(findall(X, (member_(X, [1, 2, 3]), X > 1, throw(stop)), _), stop, true),
        findall(X, member_(X, [p, q]), L), L == [p, q].

% ---- bagof ----

expect(bagof_fails_without_solutions, L, bagof(X, fail, L), []).
expect(bagof_free_variables_grouped_in_order, A-L, bagof(N, age(N, A), L),
       [5-[tom], 7-[peter], 8-[pat], 11-[ann, mike]]).
expect(bagof_caret_binds, L, bagof(N, A^age(N, A), L), [[peter, ann, pat, tom, mike]]).
expect(bagof_caret_through_modules, L, bagof(N, user:(A^age(N, A)), L), [[peter, ann, pat, tom, mike]]).
expect(bagof_caret_on_a_term, L, bagof(C, (C, K)^class(C, K), L), [[a, b, c, d, e]]).
expect(bagof_iso_table, R,
       ( member_(G-R, [bagof(X, (X = 1 ; X = 2), S)-S,
                      bagof(X, (X = 1 ; X = 2), X)-X,
                      bagof(X, (X = Y ; X = Z), S)-(S / Y / Z),
                      bagof(1, (Y = 1 ; Y = 2), L)-(L / Y),
                      bagof(f(X, Y), (X = a ; Y = b), L)-L,
                      bagof(X, Y^((X = 1, Y = 1) ; (X = 2, Y = 2)), S)-S,
                      bagof(X, Y^((X = 1 ; Y = 1) ; (X = 2, Y = 2)), S)-S,
                      bagof(X, (Y^(X = 1 ; Y = 2) ; X = 3), S)-(S / Y)]),
         call(G) ),
       [[1, 2], [1, 2], [_, _] / _ / _, [1] / 1, [1] / 2, [f(a, _), f(_, b)], [1, 2], [1, _, 2],
        [1, 3] / _, [_] / 2]).
% Variant witnesses are one witness; their variables become one.
wv(1, f(A), A).
wv(2, f(B), B).
wv(3, g, c).
expect(bagof_variant_witnesses, W-L, bagof(X, wv(X, W, _), L), [g-[3], f(_)-[1, 2]]).
test(bagof_variant_witnesses_are_unified) :-
        bagof(X-Y, wv(X, W, Y), L), W \== g,
        L = [1-P, 2-Q], P == Q, W = f(R), R == P, var(R).
expect(bagof_errors, E,
       ( member_(G, [bagof(_, _, _), bagof(_, _^_, _), bagof(_, 1, _), bagof(X, member_(X, [1]), [a|b]),
                    bagof(_, true, f)]),
         error_of(G, E) ),
       [instantiation_error, instantiation_error, type_error(callable, 1),
        type_error(list, [a|b]), type_error(list, f)]).

% ---- setof ----

expect(setof_sorts_and_removes_duplicates, L, setof(X, member_(X, [c, a, b, a, 2, 1.0, f(x)]), L),
       [[1.0, 2, a, b, c, f(x)]]).
expect(setof_groups, K-L, setof(C, class(C, K), L), [x-[a, c], y-[b, d], z-[e]]).
expect(setof_caret, L, setof(A-N, age(N, A), L),
       [[5-tom, 7-peter, 8-pat, 11-ann, 11-mike]]).
expect(setof_nested, L, setof(K-Cs, setof(C, class(C, K), Cs), L),
       [[x-[a, c], y-[b, d], z-[e]]]).
expect(setof_inside_bagof, L, bagof(A-Ns, setof(N, age(N, A), Ns), L),
       [[5-[tom], 7-[peter], 8-[pat], 11-[ann, mike]]]).
expect(setof_iso_table, R,
       ( member_(G-R, [setof(X, member_(X, [f(U, b), f(V, c)]), L)-(L / U / V),
                      setof(X, (X = Y ; X = Z ; Y = 1), S)-(S / Y),
                      setof(X, fail, S)-S]),
         call(G) ),
       [[f(_, b), f(_, c)] / _ / _, [_, _] / _, [_] / 1]).
test(setof_of_variables_keeps_them_apart) :-
        setof(X, member_(X, [V, U, V]), L),
        L = [P, Q], P \== Q.
expect(setof_errors, E,
       ( member_(G, [setof(_, _, _), setof(_, 4, _), setof(X, member_(X, [1]), [a|b])]), error_of(G, E) ),
       [instantiation_error, type_error(callable, 4), type_error(list, [a|b])]).
