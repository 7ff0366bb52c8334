% The dynamic database: the assert family, retract, retractall, clause,
% abolish, erase and instance, the recorded database, the blackboard, and
% the predicates that enumerate predicates and their properties.
%
% Each predicate checks and normalises its arguments, reporting errors
% against its own goal, makes sure that the predicate concerned may be
% read or changed (dynamic1/4), and then calls the native built-ins: the
% clause pair [Head|Body] is stored by '$insertz'/3 or '$inserta'/3 and
% found again by '$current_instance'/4 under the logical update view.
% Clauses are module-sensitive: a clause, head or predicate indicator names its
% module as M:X, and otherwise belongs to the module it is called from.
%
% Errors follow ISO: changing a static procedure (assert, retract,
% retractall, abolish) is permission_error(modify, static_procedure, PI),
% reading one with clause/2,3 permission_error(access, private_procedure,
% PI), where PI is Name/Arity for a procedure of user and M:Name/Arity for
% one of another module M.
%
% The recorded database is the dynamic predicate '$current instance'/2 of
% this module (a name no program writes by accident): recorda(Key, Term)
% adds the clause '$current instance'(K, Term), K being the most general
% term with Key's name and arity, so keys match by name and arity only.

:- meta_predicate
        assert(:), assert(:, ?), asserta(:), asserta(:, ?),
        assertz(:), assertz(:, ?), retract(:), retractall(:),
        clause(:, ?), clause(:, ?, ?), abolish(:), abolish(:, ?),
        predicate_property(:, ?), current_predicate(:), current_predicate(?, :),
        bb_put(:, ?), bb_get(:, ?), bb_delete(:, ?), bb_update(:, ?, ?).

:- dynamic('$current instance'/2).

% ---- The assert family ----

assert(Clause) :-
        dynamic_clauses(Clause, Pred, Pair, assert(Clause)),
        '$insertz'(Pred, Pair, _).
assert(Clause, Ref) :-
        dynamic_clauses(Clause, Pred, Pair, assert(Clause, Ref)),
        '$insertz'(Pred, Pair, Ref).
asserta(Clause) :-
        dynamic_clauses(Clause, Pred, Pair, asserta(Clause)),
        '$inserta'(Pred, Pair, _).
asserta(Clause, Ref) :-
        dynamic_clauses(Clause, Pred, Pair, asserta(Clause, Ref)),
        '$inserta'(Pred, Pair, Ref).
assertz(Clause) :-
        dynamic_clauses(Clause, Pred, Pair, assertz(Clause)),
        '$insertz'(Pred, Pair, _).
assertz(Clause, Ref) :-
        dynamic_clauses(Clause, Pred, Pair, assertz(Clause, Ref)),
        '$insertz'(Pred, Pair, Ref).

% '$load_dynamic_clause'(Clause, Module, File): a clause of a dynamic
% predicate read by the loader, added as assertz/1 adds it.
'$load_dynamic_clause'(Clause, M, File) :-
        dynamic_clauses(M:Clause, Pred, Pair, assertz(M:Clause)),
        '$insertz'(Pred, Pair, Ref),
        '$instance_file'(Ref, _, File).

% dynamic_clauses(Clause, Pred, Pair, Goal): the predicate (its definition
% word) and the stored pair of a clause to be added.  A body runs in the
% clause's module, which it names when the head's module differs.
dynamic_clauses(Clause, Pred, [Head|Body], Goal) :-
        must_be_callable(Clause, Cl, M, Goal, 1),
        (   Cl = (H0 :- B0) ->
            must_be_callable(M:H0, Head, HM, Goal, 1),
            (   stored_body(B0, B1, 0) -> true
            ;   illarg(type(callable), Goal, 1, B0)
            ),
            (   HM == M -> Body = B1 ; Body = M:B1 )
        ;   Head = Cl, Body = true, HM = M
        ),
        dynamic1(Head, Goal, HM, modify),
        '$current_clauses'(Head, Pred, HM).

% stored_body(Body, Stored, Depth): Body as a clause body: a variable
% among its control constructs becomes call(V); fails when a goal there is
% neither a variable nor callable.  A body nested deeper than 1000 is
% tested for a cycle first, and a cyclic one is refused.
stored_body(B, call(B), _) :- var(B), !.
stored_body(B, S, D) :- control_parts(B, Gs), !,
        deeper(D, B, D1),
        stored_parts(Gs, Ss, D1),
        (   B = M:_ -> Ss = [S1], S = M:S1
        ;   B =.. [F|_], S =.. [F|Ss]
        ).
stored_body(B, B, _) :- callable(B).

stored_parts([], [], _).
stored_parts([G|Gs], [S|Ss], D) :-
        stored_body(G, S, D),
        stored_parts(Gs, Ss, D).

% dynamic1(Head, Goal, Module, Operation): the predicate of Head may be
% changed (modify) or read (access) as a dynamic one.  One that does not
% exist is created, empty and dynamic.
dynamic1(Head, Goal, M, Op) :-
        (   '$predicate_property'(Head, _, Bits, M, _) ->
            (   Bits /\ 2 =\= 0 -> true
            ;   static_fault(Op, Head, M, Goal)
            )
        ;   functor(Head, N, A),
            (   '$define_predicate'(M:N/A, dynamic),
                '$set_property'(M:Head, dynamic, []) -> true
            ;   illarg(permission(create, module, _), Goal, 0, M)
            )
        ).

static_fault(Op, Head, M, Goal) :-
        static_fault(Op, Head, M, Goal, 0).

static_fault(Op, Head, M, Goal, ArgNo) :-
        functor(Head, N, A),
        indicator(M, N, A, PI),
        (   Op == access -> illarg(permission(access, private_procedure, _), Goal, ArgNo, PI)
        ;   illarg(permission(modify, static_procedure, _), Goal, ArgNo, PI)
        ).

indicator(user, N, A, N/A) :- !.
indicator(M, N, A, M:N/A).

% ---- Retract and clause ----

retract(Clause) :-
        Goal = retract(Clause),
        must_be_callable(Clause, Cl, M, Goal, 1),
        clause_parts(Cl, H0, B),
        must_be_callable(M:H0, H, HM, Goal, 1),
        dynamic1(H, Goal, HM, modify),
        '$current_clauses'(H, Pred, HM),
        '$current_instance'(H, B, Pred, Ref),
        '$erase'(Ref).

clause_parts(Cl, H, B) :-
        (   Cl = (H0 :- B0) -> H = H0, B = B0
        ;   H = Cl, B = true
        ).

retractall(Head) :-
        Goal = retractall(Head),
        must_be_callable(Head, H, M, Goal, 1),
        dynamic1(H, Goal, M, modify),
        (   '$retractall'(H, M) -> true
        ;   '$current_clauses'(H, Pred, M),
            (   '$current_instance'(H, _, Pred, Ref),
                '$erase'(Ref),
                fail
            ;   true
            )
        ).

clause(Head, Body) :-
        Goal = clause(Head, Body),
        must_be_callable(Head, H, M, Goal, 1),
        check_body(Body, Goal),
        dynamic1(H, Goal, M, access),
        '$current_clauses'(H, Pred, M),
        '$current_instance'(H, Body, Pred, _).

clause(Head, Body, Ref) :-
        Goal = clause(Head, Body, Ref),
        (   nonvar(Ref) ->
            must_be(Ref, db_reference, Goal, 3),
            get_module(Head, H, M),
            '$instance'(H0, Body, Ref),
            H = H0,
            '$instance_module'(Ref, M)
        ;   must_be_callable(Head, H, M, Goal, 1),
            check_body(Body, Goal),
            dynamic1(H, Goal, M, access),
            '$current_clauses'(H, Pred, M),
            '$current_instance'(H, Body, Pred, Ref)
        ).

% In iso mode (the language flag), a body that can be no clause's body is
% a type error.
check_body(B, Goal) :-
        (   nonvar(B), \+ callable(B),
            '$compatibility_flag'(L, L), L == iso ->
            illarg(type(callable), Goal, 2, B)
        ;   true
        ).

% ---- Abolish ----

abolish(Spec) :-
        abolish(Spec, false, false, abolish(Spec)).
abolish(Spec, Options) :-
        Goal = abolish(Spec, Options),
        must_be(Options, proper_list, Goal, 2),
        abolish_options(Options, false, false, Force, Tree, Goal),
        abolish(Spec, Force, Tree, Goal).

abolish_options([], F, T, F, T, _).
abolish_options([O|Os], F0, T0, F, T, Goal) :-
        (   var(O) -> illarg(var, Goal, 2)
        ;   O = force(B), boolean(B) -> abolish_options(Os, B, T0, F, T, Goal)
        ;   O = tree(B), boolean(B) -> abolish_options(Os, F0, B, F, T, Goal)
        ;   illarg(domain(term, abolish_option), Goal, 2, O)
        ).

boolean(B) :- B == true.
boolean(B) :- B == false.

abolish(Spec0, Force, Tree, Goal) :-
        get_module(Spec0, Spec, M),
        must_be(M, atom, Goal, 1),
        (   Tree == true -> tree_specs(Spec, M, Goal, Specs, [])
        ;   pred_spec(Spec, Goal),
            Specs = [M:Spec]
        ),
        abolish_specs(Specs, Force, Goal).

tree_specs(S, _, Goal, _, _) :- var(S), !, illarg(var, Goal, 1).
tree_specs([], _, _, L, L) :- !.
tree_specs([S|Ss], M, Goal, L0, L) :- !,
        tree_specs(S, M, Goal, L0, L1),
        tree_specs(Ss, M, Goal, L1, L).
tree_specs((S, Ss), M, Goal, L0, L) :- !,
        tree_specs(S, M, Goal, L0, L1),
        tree_specs(Ss, M, Goal, L1, L).
tree_specs(M1:S, _, Goal, L0, L) :- !,
        must_be(M1, atom, Goal, 1),
        tree_specs(S, M1, Goal, L0, L).
tree_specs(S, M, Goal, [M:S|L], L) :-
        pred_spec(S, Goal).

% pred_spec(Spec, Goal): Spec is a predicate indicator Name/Arity.
pred_spec(S, Goal) :- var(S), !, illarg(var, Goal, 1).
pred_spec(N/A, Goal) :- !,
        (   var(N) -> illarg(var, Goal, 1)
        ;   var(A) -> illarg(var, Goal, 1)
        ;   \+ atom(N) -> illarg(type(atom), Goal, 1, N)
        ;   \+ integer(A) -> illarg(type(integer), Goal, 1, A)
        ;   A < 0 -> illarg(domain(integer, not_less_than_zero), Goal, 1, A)
        ;   A > 255 -> illarg(representation(max_arity), Goal, 1)
        ;   true
        ).
pred_spec(S, Goal) :-
        illarg(type(predicate_indicator), Goal, 1, S).

abolish_specs([], _, _).
abolish_specs([M:N/A|Specs], Force, Goal) :-
        functor(T, N, A),
        (   '$predicate_property'(T, _, Bits, M, D) ->
            (   D == prolog -> static_fault(modify, T, M, Goal, 1)
            ;   Force \== true, Bits /\ 2 =:= 0 -> static_fault(modify, T, M, Goal, 1)
            ;   true
            ),
            '$abolish'(T, M)
        ;   true
        ),
        abolish_specs(Specs, Force, Goal).

% ---- References ----

erase(Ref) :-
        must_be(Ref, db_reference, erase(Ref), 1),
        '$erase'(Ref).

instance(Ref, Term) :-
        must_be(Ref, db_reference, instance(Ref, Term), 1),
        '$instance'(H, B, Ref),
        (   H = '$current instance'(_, T) -> Term = T
        ;   Term = (H :- B)
        ).

% ---- The recorded database ----

recorda(Key, Term, Ref) :-
        (   var(Key) -> illarg(var, recorda(Key, Term, Ref), 1)
        ;   copy_functor(Key, K),
            asserta_internal('$current instance'(K, Term), Ref)
        ).
recordz(Key, Term, Ref) :-
        (   var(Key) -> illarg(var, recordz(Key, Term, Ref), 1)
        ;   copy_functor(Key, K),
            assertz_internal('$current instance'(K, Term), Ref)
        ).

recorded(Key, Term, Ref) :-
        (   nonvar(Ref) ->
            must_be(Ref, db_reference, recorded(Key, Term, Ref), 3),
            '$instance'('$current instance'(Key, Term), true, Ref)
        ;   clause_internal('$current instance'(Key, Term), Ref)
        ).

copy_functor(Key, K) :-
        functor(Key, N, A),
        functor(K, N, A).

% current_key(Name, Key): Key is the key of some record, Name its name.
current_key(Name, Key) :-
        (   nonvar(Key) ->
            functor(Key, Name, _),
            copy_functor(Key, K),
            once(clause_internal('$current instance'(K, _), _))
        ;   '$current_clauses'('$current instance'(_, _), Pred, prolog),
            '$current_key'(Pred, Keys, Name, _),
            bag_sort(Keys, Sorted),
            list_element(Sorted, Key),
            functor(Key, Name, _)
        ).

list_element([X|_], X).
list_element([_|Xs], X) :- list_element(Xs, X).

% Facts of this module's dynamic predicates, for the runtime's own use:
% no checks.
asserta_internal(Clause, Ref) :-
        '$current_clauses'(Clause, Pred, prolog),
        '$inserta'(Pred, [Clause|true], Ref).
assertz_internal(Clause, Ref) :-
        '$current_clauses'(Clause, Pred, prolog),
        '$insertz'(Pred, [Clause|true], Ref).
asserta_internal(Head, Body, Ref) :-
        '$current_clauses'(Head, Pred, prolog),
        '$inserta'(Pred, [Head|Body], Ref).

clause_internal(Head, Ref) :-
        '$current_clauses'(Head, Pred, prolog),
        '$current_instance'(Head, true, Pred, Ref).
clause_internal(Head, Body, Ref) :-
        '$current_clauses'(Head, Pred, prolog),
        '$current_instance'(Head, Body, Pred, Ref).

retractall_internal(Head) :-
        '$current_clauses'(Head, Pred, prolog),
        (   '$current_instance'(Head, _, Pred, Ref),
            '$erase'(Ref),
            fail
        ;   true
        ).

% ---- The blackboard ----

bb_put(Key, Value) :-
        bb_key(Key, K, M, bb_put(Key, Value)),
        '$bb_put'(M, K, Value).
bb_get(Key, Value) :-
        bb_key(Key, K, M, bb_get(Key, Value)),
        '$bb_get'(M, K, Value).
bb_delete(Key, Value) :-
        bb_key(Key, K, M, bb_delete(Key, Value)),
        '$bb_delete'(M, K, Value).
bb_update(Key, Old, New) :-
        bb_key(Key, K, M, bb_update(Key, Old, New)),
        '$bb_update'(M, K, Old, New, 0).

% A key is an atom or an integer of the small range; the error names the
% key without its module.
bb_key(Key, K, M, Goal0) :-
        get_module(Key, K, M),
        (   atom(K) -> true
        ;   integer(K), K >> 29 =:= K >> 28 -> true
        ;   Goal0 =.. [F, _|Args],
            Goal =.. [F, K|Args],
            (   var(K) -> illarg(var, Goal, 1)
            ;   illarg(type(simple), Goal, 1)
            )
        ).

% ---- The heap garbage collector ----

% garbage_collect: collects the whole heap now, whatever the gc_mode flag
% says.
garbage_collect :-
        '$garbage_collect'(1).

% ---- Predicates and their properties ----

% current_predicate(Name/Arity): a procedure visible in the module that is
% not a system predicate.
current_predicate(Spec0) :-
        Goal = current_predicate(Spec0),
        get_module(Spec0, Spec, M),
        must_be(M, atom, Goal, 1),
        (   var(Spec) -> true
        ;   Spec = N/A, (var(N) ; atom(N)), (var(A) ; integer(A)) -> true
        ;   illarg(type(predicate_indicator), Goal, 1, Spec)
        ),
        Spec = N/A,
        visible_predicate(N, A, M).

% current_predicate(Name, Head)
current_predicate(Name, Head0) :-
        Goal = current_predicate(Name, Head0),
        (   var(Name) -> true ; must_be(Name, atom, Goal, 1) ),
        get_module(Head0, Head, M),
        must_be(M, atom, Goal, 2),
        (   var(Head) -> true ; must_be(Head, callable, Goal, 2) ),
        (   nonvar(Head) -> functor(Head, Name, A)
        ;   true
        ),
        visible_predicate(Name, A, M),
        functor(Head, Name, A).

visible_predicate(N, A, M) :-
        (   atom(N), integer(A) ->
            functor(H, N, A),
            '$predicate_property'(H, _, _, M, D), D \== prolog
        ;   atom(N) ->
            '$predicate_arities'(M, N, Min, Max),
            arity_between(Min, Max, A),
            functor(H, N, A),
            '$predicate_property'(H, _, _, M, D), D \== prolog
        ;   '$predicate_property'(H, _, _, M, D), D \== prolog,
            functor(H, N, A)
        ).

arity_between(L, H, L) :- L =< H.
arity_between(L, H, X) :- L < H, L1 is L + 1, arity_between(L1, H, X).

% predicate_property(Head, Property)
predicate_property(Head0, Prop) :-
        Goal = predicate_property(Head0, Prop),
        get_module(Head0, Head, M),
        must_be(M, atom, Goal, 1),
        (   var(Head) -> true ; must_be(Head, callable, Goal, 1) ),
        '$predicate_property'(Head, Type, Bits, M, D),
        property(Type, Bits, D, Head, M, Prop).

% The properties of a predicate, in this order.
property(_, _, prolog, _, _, built_in).
property(Type, _, _, _, _, compiled) :- Type < 4.
property(6, _, _, _, _, interpreted).
property(7, _, _, _, _, fd_constraint).
property(_, Bits, _, _, _, (dynamic)) :- Bits /\ 2 =\= 0.
property(_, Bits, _, _, _, (multifile)) :- Bits /\ 4 =\= 0.
property(_, Bits, _, _, _, (volatile)) :- Bits /\ 8 =\= 0.
property(_, Bits, _, _, _, exported) :- Bits /\ 1 =\= 0.
property(_, Bits, _, H, M, meta_predicate(Spec)) :-
        Bits /\ 32 =\= 0,
        '$meta_declaration'(H, M, Spec).
property(_, _, D, H, M, imported_from(From)) :-
        D \== prolog, D \== M,
        '$imported'(H, M, From), From \== M.
property(_, _, _, _, _, defined).
