% Directives while loading: op/3 (the new operators in clause heads, bodies
% and tests), multifile predicates added to by another file, discontiguous
% clauses, initialization goals that run after the whole file is loaded,
% ensure_loaded of a file without a module (loaded once), and include/1.

:- initialization(init_check).

:- op(700, xfx, ===>).
:- op(200, xfy, ^^).
:- op(900, fy, nicht).
:- op(650, yfx, [plus, minus]).
:- multifile(hook/1).
:- discontiguous([part/1, other/1]).


hook(first).

% One rewrite step, written with the new infix operator: f(T) rewrites as
% T does.
a ===> b.
b ===> c.
X ===> Z :- X = f(Y), Y ===> Z.

nicht G :- \+ call_it(G).
call_it(p) :- p.
call_it(q) :- q.
p.
q :- fail.

part(1).
:- include('modules/included_part').
other(x).
part(2).
other(y).
part(3).

% Loaded twice on purpose: the second ensure_loaded must not load the
% file again, or hook(from_plain_facts) would be there twice.
:- ensure_loaded('modules/plain_facts').
:- ensure_loaded('modules/plain_facts').

hook(last).

uses_imported_op(X) :- X = (a <~> b).

% Reached only from the initialization goal at the top: it must run after
% every clause of this file (including this one) is in place.
init_check :- part(3), hook(last), later(done).
later(done).

expect(infix_operator_clauses, Y, a ===> Y, [b]).
expect(infix_operator_in_body, Y, f(f(a)) ===> Y, [b]).
expect(infix_operator_rule, Y, (f(b) ===> Y ; f(c) ===> Y), [c]).
expect(prefix_operator_predicate, X, (nicht q, X = ok ; nicht p, X = bad), [ok]).
test(xfy_operator_is_right_associative) :- X = (1 ^^ 2 ^^ 3), X = ^^(1, ^^(2, 3)).
test(yfx_operators_are_left_associative) :- X = (1 plus 2 minus 3), X = minus(plus(1, 2), 3).
test(operator_priorities_combine) :- X = (a ===> 1 plus 2 ^^ 3), X = ===>(a, plus(1, ^^(2, 3))).
test(operator_as_atom) :- X = (===>), X = '===>'.
expect(multifile_across_files, X, hook(X), [first, from_plain_facts, last]).
expect(discontiguous_clauses_in_order, X, part(X), [1, included, 2, 3]).
% include/1 puts the file's clauses where the directive stands; the load
% context names the included file and, as the source, the including one.
expect(included_clauses_and_load_context, X, included_context(X), [ok]).
expect(discontiguous_other, X, other(X), [x, y]).
expect(non_module_file_into_loader, X, plain(X), [start]).
test(operator_from_included_file) :- uses_imported_op(X), X = <~>(a, b).
