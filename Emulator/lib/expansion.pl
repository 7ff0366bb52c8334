% Term and goal expansion: the hooks the loader calls while it compiles a
% program, prolog_load_context/2, and the expansion of meta-called goals.
%
% The loader gives every term it reads to '$expand_term'/3 when a
% term_expansion/2 hook exists (of the module being loaded into, else of
% user), and every clause whose body calls a predicate whose module defines
% goal_expansion/5 to '$expand_clause'/3.  A hook Module:goal_expansion(
% Goal, Layout, SourceModule, Expanded, Layout1) rewrites goals of the
% predicates of its own module, as they are called from SourceModule (no
% layout is kept: Layout is []).  Expansion repeats on the result until no
% hook applies, at most 100 times over.  An exception of a hook is a load
% error of the clause.  The meta-call interpreter expands a goal the same
% way before it calls it.

% '$expand_term'(Term, Module, Terms): the terms to load in place of Term.
'$expand_term'(T, M, Ts) :-
        (   M \== user, call_user_def(term_expansion(T, X), M) -> true
        ;   call_user_def(term_expansion(T, X), user) -> true
        ;   X = T
        ),
        (   is_list(X) -> Ts = X
        ;   Ts = [X]
        ).

% '$expand_clause'(Clause, Module, Expanded): the clause with the goals of
% its body expanded; a Module: prefix on the clause or on its head names
% the module the body is compiled in.
'$expand_clause'(C, _, C) :- var(C), !.
'$expand_clause'(M:C0, _, M:C) :- atom(M), !,
        '$expand_clause'(C0, M, C).
'$expand_clause'((H :- B0), M, (H :- B)) :- !,
        head_module(H, M, HM),
        expand_body(B0, HM, B, 0).
'$expand_clause'(C, _, C).

head_module(H, M0, M) :-
        (   nonvar(H), H = M1:H1, atom(M1) -> head_module(H1, M1, M)
        ;   M = M0
        ).

expand_body(G, _, G, _) :- var(G), !.
expand_body(M:G0, _, M:G, D) :- atom(M), !,
        expand_body(G0, M, G, D).
expand_body((A0 , B0), M, (A , B), D) :- !,
        expand_body(A0, M, A, D), expand_body(B0, M, B, D).
expand_body((A0 ; B0), M, (A ; B), D) :- !,
        expand_body(A0, M, A, D), expand_body(B0, M, B, D).
expand_body((A0 -> B0), M, (A -> B), D) :- !,
        expand_body(A0, M, A, D), expand_body(B0, M, B, D).
expand_body((A0 *-> B0), M, (A *-> B), D) :- !,
        expand_body(A0, M, A, D), expand_body(B0, M, B, D).
expand_body(if(A0, B0, C0), M, if(A, B, C), D) :- !,
        expand_body(A0, M, A, D), expand_body(B0, M, B, D), expand_body(C0, M, C, D).
expand_body(\+ A0, M, \+ A, D) :- !,
        expand_body(A0, M, A, D).
expand_body(call(A0), M, call(A), D) :- !,
        expand_body(A0, M, A, D).
expand_body(G0, M, G, D) :-
        D < 100, expand_goal(G0, M, G1), !,
        D1 is D + 1,
        expand_body(G1, M, G, D1).
expand_body(G, _, G, _).

% expand_goal(Goal, Module, Expanded): the goal_expansion/5 of the module
% that defines Goal's predicate, as Module sees it, rewrites Goal.
expand_goal(G, M, X) :-
        callable(G), atom(M),
        (   '$imported'(G, M, D) -> true
        ;   D = M
        ),
        '$predicate_property'(goal_expansion(_, _, _, _, _), _, _, D, _),
        D:goal_expansion(G, [], M, X, _),
        X \== G.

% prolog_load_context(Key, Value): the module, file (source) and
% directory of the load in progress; fails outside a load.
prolog_load_context(Key, Value) :-
        (   var(Key) -> member_key(Key)
        ;   true
        ),
        '$load_context'(Key, Value).

member_key(module).
member_key(source).
member_key(file).
member_key(directory).
