% The dynamic database: dynamic/1 in the loader, the assert family,
% retract, retractall, clause, abolish, references, the logical update
% view, first-argument selection in clause order, the recorded database,
% the blackboard, and the predicates that enumerate predicates, atoms and
% keys; the ISO errors of all of them.

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% ---- Loaded dynamic predicates ----

:- dynamic(fact/1).
fact(1).
fact(2).
fact(3).

:- dynamic((pair/2, body/1)).
pair(a, 1).
pair(_, 2).
pair(a, 3).
pair(b, 4).
pair([x], 5).
pair(f(y), 6).
pair(1.5, 7).
pair(a, 8).

% Bodies of control constructs come back from clause/2 as written; a
% variable among them comes back as call/1.
body(X) :- ( X == 2 -> true ; X == -1 ), \+ X = 5, !.
body(X) :- X = a ; X = b.
body(X) :- ( X = c *-> true ; fail ), user:true.
body(X) :- if(X = d, true, fail), G = true, G.

static_one.
static_two(_).

expect(loaded_clauses_in_order, fact(X), [fact(1), fact(2), fact(3)]).
expect(loaded_predicate_is_dynamic, P, predicate_property(fact(_), P),
       [interpreted, (dynamic), defined]).
% Keyed calls merge the key's chain with the unbound first arguments'.
expect(key_and_variable_chains_in_clause_order, N, pair(a, N), [1, 2, 3, 8]).
expect(key_of_other_kinds, N, (pair([_], N) ; pair(f(_), N) ; pair(1.5, N) ; pair(zz, N)),
       [2, 5, 2, 6, 2, 7, 2]).
expect(unbound_first_argument_sees_all, N, pair(_, N), [1, 2, 3, 4, 5, 6, 7, 8]).
expect(source_bodies, B, clause(body(_), B),
       [((_ == 2 -> true ; _ == -1), \+ _ = 5, !),
        (_ = a ; _ = b),
        ((_ = c *-> true ; fail), user:true),
        (if(_ = d, true, fail), _ = true, call(_))]).
expect(bodies_run, X, (member_(X, [2, -1, 5, a, b, c, d, e]), body(X)), [2, -1, a, b, c, d]).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

% ---- The assert family ----

test(assert_creates_a_dynamic_predicate) :-
        \+ predicate_property(made(_), _),
        assertz(made(1)), asserta(made(0)), assert(made(2)),
        findall(X, made(X), [0, 1, 2]),
        predicate_property(made(_), (dynamic)).

expect(asserted_bodies_are_stored_as_written, B,
       ( assertz((ab(X) :- X, (X ; true), \+ X)), clause(ab(_), B) ),
       [(call(_), (call(_) ; true), \+ _)]).
test(asserted_rule_runs) :-
        assertz((double(X, Y) :- Y is 2 * X)),
        double(4, 8).
test(assert_into_a_module) :-
        assertz(other:inmod(1)),
        assertz((other:inmod(2) :- true)),
        findall(X, other:inmod(X), [1, 2]),
        \+ catch(inmod(_), _, fail).
test(assert_with_a_reference) :-
        assertz(withref(a), R),
        clause(withref(X), true, R), X == a,
        instance(R, T), T == (withref(a) :- true),
        \+ asserta(withref(b), R).

expect(assert_errors, E,
       ( member_(G, [assertz(_), assertz(4), assertz((_ :- true)), assertz((4 :- true)),
                    assertz((foo :- 4)), assertz((foo :- (true, 4))), asserta(static_one),
                    asserta((atom(_) :- true)), assertz(other:static_one),
                    assertz(_:foo), assertz(7:foo)]),
         error_of(G, E) ),
       [instantiation_error, type_error(callable, 4), instantiation_error, type_error(callable, 4),
        type_error(callable, 4), type_error(callable, (true, 4)),
        permission_error(modify, static_procedure, static_one/0),
        permission_error(modify, static_procedure, atom/1),
        none, instantiation_error, type_error(atom, 7)]).

% ---- retract, retractall, clause ----

:- dynamic(r/1).
r(1). r(2). r(3).

expect(retract_is_nondeterministic, X, retract(r(X)), [1, 2, 3]).
test(retract_emptied_the_predicate) :- \+ r(_), predicate_property(r(_), (dynamic)).
test(fact_forms_retract_the_same_clause) :-
        assertz(r(a)), assertz(r(b)),
        retract((r(a) :- true)), retract(r(b)), \+ r(_).
test(retract_rules_by_body) :-
        assertz((rr(X) :- X = 1 ; X = 2)),
        assertz((rr(X) :- X = 3)),
        \+ retract(rr(_)),
        retract((rr(_) :- _ = 3)),
        retract((rr(Y) :- (Y = 1 ; Z))), Z == (Y = 2),
        \+ clause(rr(_), _).
test(retract_on_an_unknown_predicate_creates_it) :-
        \+ retract(unknown_r(_)),
        predicate_property(unknown_r(_), (dynamic)).

test(retractall_fast_and_slow_paths) :-
        assertz(ra(a, 1)), assertz(ra(b, 2)), assertz(ra(a, 3)),
        retractall(ra(a, _)), findall(X-Y, ra(X, Y), [b-2]),
        retractall(ra(_, _)), \+ ra(_, _),
        assertz(ra(c, c)), assertz(ra(c, d)),
        retractall(ra(X1, X1)), findall(Z, ra(c, Z), [d]),
        retractall(unknown_ra(_, _)), predicate_property(unknown_ra(_, _), (dynamic)).

expect(retract_and_clause_errors, E,
       ( member_(G, [retract(_), retract(4), retract((4 :- true)), retract(static_one),
                    retract((atom(_) :- true)), retractall(_), retractall(3),
                    retractall(static_two(_)), clause(_, _), clause(4, _), clause(fact(_), 5),
                    clause(static_one, _), clause(atom(_), _), clause(unknown_c, _)]),
         error_of(G, E) ),
       [instantiation_error, type_error(callable, 4), type_error(callable, 4),
        permission_error(modify, static_procedure, static_one/0),
        permission_error(modify, static_procedure, atom/1),
        instantiation_error, type_error(callable, 3),
        permission_error(modify, static_procedure, static_two/1),
        instantiation_error, type_error(callable, 4), type_error(callable, 5),
        permission_error(access, private_procedure, static_one/0),
        permission_error(access, private_procedure, atom/1)]).

% ---- The logical update view ----

:- dynamic((v1/1, v2/1, v3/1, v4/2, v5/1)).
v1(1). v1(2). v1(3).
v2(1). v2(2).
v3(a) :- retract((v3(a) :- _)), retract(v3(b)).
v3(b).
v3(c).
v4(k, 1). v4(_, 2). v4(k, 3). v4(j, 4). v4(_, 6). v4(k, 7).
v5(1). v5(2).

% A call sees the clauses of its start: retracted ones stay visible (the
% next one, on which the call is positioned, and those after it)...
expect(retract_during_iteration, L,
       ( findall(X, (v1(X), (X == 1 -> retract(v1(2)), retract(v1(3)) ; true)), L1),
         findall(Y, v1(Y), L2), L = L1 / L2 ),
       [[1, 2, 3] / [1]]).
% ... asserted ones stay invisible, so this ends.
expect(assert_at_the_end_during_iteration, L,
       ( findall(X, (v2(X), Y is X + 10, assertz(v2(Y))), L1),
         findall(Y, v2(Y), L2), L = L1 / L2 ),
       [[1, 2] / [1, 2, 11, 12]]).
% The running clause retracts itself and the next one; the call goes on.
expect(retract_the_clause_being_run, L,
       ( findall(X, v3(X), L1), findall(Y, v3(Y), L2), L = L1 / L2 ),
       [[a, b, c] / [c]]).
% Both chains of a keyed call keep their view; asserta and a matching
% assertz made during the call are not seen.
expect(keyed_call_keeps_its_view, L,
       ( findall(N, (v4(k, N), change_v4(N)), L1), findall(K-N, v4(K, N), L2), L = L1 / L2 ),
       [[1, 2, 3, 6, 7] / [z-0, j-4, k-5]]).
change_v4(1) :-
        retract(v4(_, 2)), retract(v4(k, 3)), retract(v4(_, 6)), retract(v4(k, 7)),
        assertz(v4(k, 5)), asserta(v4(z, 0)).
change_v4(3) :- !, retract(v4(k, 1)).
change_v4(N) :- N \== 1.
% A new call inside sees the new state while the outer one keeps its own.
expect(nested_calls_have_their_own_views, L,
       findall(X-L1, (v5(X), (X == 1 -> retract(v5(2)), assertz(v5(3)) ; true), findall(Y, v5(Y), L1)), L),
       [[1-[1, 3], 2-[1, 3]]]).

% ---- Abolish ----

:- dynamic(ab1/1).
ab1(1).

expect(abolish_errors, E,
       ( member_(G, [abolish(_), abolish(foo/_), abolish(_/1), abolish(foo), abolish(5/1),
                    abolish(foo/a), abolish(foo/(-1)), abolish(foo/256), abolish(static_one/0),
                    abolish(atom/1), abolish(abolish/1), abolish(fact/1, [force(maybe)]),
                    abolish(fact/1, nolist), abolish(nothing_here/3)]),
         error_of(G, E) ),
       [instantiation_error, instantiation_error, instantiation_error,
        type_error(predicate_indicator, foo), type_error(atom, 5), type_error(integer, a),
        domain_error(not_less_than_zero, -1), representation_error(max_arity),
        permission_error(modify, static_procedure, static_one/0),
        permission_error(modify, static_procedure, atom/1),
        permission_error(modify, static_procedure, abolish/1),
        domain_error(abolish_option, force(maybe)), type_error(list, nolist), none]).
test(abolish_removes_a_dynamic_predicate) :-
        abolish(ab1/1),
        \+ current_predicate(ab1/1),
        \+ predicate_property(ab1(_), _),
        assertz(ab1(2)), findall(X, ab1(X), [2]).
test(abolish_with_force_removes_a_static_one) :-
        abolish(static_two/1, [force(true)]),
        \+ current_predicate(static_two/1),
        catch(static_two(_), error(existence_error(procedure, static_two/1), _), true).
% Abolished under an open call: the call still sees its clauses.
expect(abolish_during_iteration, L,
       ( assertz(ab2(1)), assertz(ab2(2)),
         findall(X, (ab2(X), (X == 1 -> abolish(ab2/1) ; true)), L) ),
       [[1, 2]]).

% ---- References ----

test(erased_and_forged_references) :-
        assertz(er(1), R), assertz(er(2), R2),
        erase(R), \+ er(1),
        erase(R),
        \+ clause(_, _, R), \+ instance(R, _),
        R = '$ref'(A, S), S1 is S + 1,
        \+ instance('$ref'(A, S1), _),
        erase('$ref'(8, 1)), erase('$ref'(A, S1)),
        \+ instance('$ref'(3, 1), _), \+ instance('$ref'(a, b), _),
        \+ clause(_, _, '$ref'(12345675, 9)),
        instance(R2, T), T == (er(2) :- true).
% A reference to a freed clause decodes to nothing, even once another
% clause has taken its memory.
test(stale_references_stay_invalid) :-
        assertz(st(1), R), retract(st(1)),
        assertz(st(2), R2), R \== R2,
        \+ instance(R, _), \+ clause(st(_), _, R), erase(R),
        findall(X, st(X), [2]).
expect(reference_errors, E,
       ( member_(G, [erase(_), erase(foo), instance(foo, _), clause(_, _, foo), recorded(_, _, 3)]),
         error_of(G, E) ),
       [instantiation_error, type_error(db_reference, foo), type_error(db_reference, foo),
        type_error(db_reference, foo), type_error(db_reference, 3)]).

:- dynamic(nth/1).
nth(a). nth(b). nth(c).
expect(clause_positions_and_modules, N-M,
       ( clause(nth(c), true, R), prolog:'$nth_instance'(R, N), prolog:'$instance_module'(R, M) ), [3-user]).
% Abolished while a call holds it open, a clause is in no clause list.
expect(detached_clause_position, N,
       ( nth(X), X == a, clause(nth(b), true, R), abolish(nth/1), prolog:'$nth_instance'(R, N) ), [0]).
test(patch_fact) :-
        assertz(pf(a, 1, g(z)), R),
        prolog:'$patch_fact'(R, 2, 5), prolog:'$patch_fact'(R, 3, q),
        pf(a, X, Y), X == 5, Y == q,
        \+ prolog:'$patch_fact'(R, 1, b), \+ prolog:'$patch_fact'(R, 2, f(x)),
        \+ prolog:'$patch_fact'(R, 4, x), \+ prolog:'$patch_fact'(R, 0, x),
        \+ prolog:'$patch_fact'(foo, 2, x),
        retract(pf(_, _, _)), \+ prolog:'$patch_fact'(R, 2, 6).

% ---- The recorded database ----

expect(record_keys_of_every_kind, K-T,
       ( member_(K0-T0, [foo-1, 7-2, -3-3, 2.5-4, 12345678901234567890-5, k(1)-6, [x]-7, f(a, b)-8]),
         recordz(K0, T0, _), fail
       ; member_(K, [foo, 7, -3, 2.5, 12345678901234567890, k(9), [y], f(_, _)]),
         recorded(K, T, _) ),
       [foo-1, 7-2, -3-3, 2.5-4, 12345678901234567890-5, k(9)-6, [y]-7, f(_, _)-8]).
expect(recorda_before_recordz, T,
       ( recordz(order, b, _), recorda(order, a, _), recordz(order, c, _), recorded(order, T, _) ),
       [a, b, c]).
expect(recorded_by_reference, K-T, ( recordz(byref, t(1), R), recorded(K, T, R) ), [byref-t(1)]).
% The standard order puts every float before the integers.
expect(current_keys, K, current_key(_, K), [2.5, -3, 7, 12345678901234567890, byref, foo, order,
                                            k(_), [_|_], f(_, _)]).
expect(current_key_by_name, N-K, (current_key(foo, K), N = foo ; current_key(N, k(3))), [foo-foo, k-_]).
% Erasing every record while enumerating them: each is seen once.
expect(erase_while_enumerating, L,
       ( findall(T, (recorded(order, T, R), erase(R)), L1), findall(T, recorded(order, T, _), L2),
         L = L1 / L2 ),
       [[a, b, c] / []]).
test(erased_keys_are_not_current) :- \+ current_key(order, _), \+ current_key(_, order).
expect(record_errors, E, ( member_(G, [recorda(_, a, _), recordz(_, a, _)]), error_of(G, E) ),
       [instantiation_error, instantiation_error]).

% ---- The blackboard ----

expect(blackboard, V,
       ( bb_put(k, f(X)), X = 1, bb_get(k, V1), bb_update(k, f(A), g(A)), bb_get(k, V2),
         bb_delete(k, V3), ( bb_get(k, _) -> V4 = yes ; V4 = no ), V = [V1, V2, V3, V4] ),
       [[f(_), g(_), g(_), no]]).
test(blackboard_keys_per_module) :-
        bb_put(mk, 1), bb_put(other:mk, 2),
        bb_get(mk, 1), bb_get(other:mk, 2).
expect(blackboard_key_errors, E,
       ( member_(G, [bb_put(268435456, x), bb_put(268435455, x), bb_put(-268435457, x),
                    bb_put(f(x), x), bb_get(_, _), bb_get(1.5, _)]),
         error_of(G, E) ),
       [type_error(simple, 268435456), none, type_error(simple, -268435457),
        type_error(simple, f(x)), instantiation_error, type_error(simple, 1.5)]).

% ---- Predicates, atoms and properties ----

expect(current_predicate_own_procedures, P,
       ( member_(P, [fact/1, pair/2, static_one/0, nosuch/0, atom/1, findall/3, fact/2]),
         current_predicate(P) ),
       [fact/1, pair/2, static_one/0]).
expect(current_predicate_enumerates_arities, A, current_predicate(pair/A), [2]).
test(current_predicate_enumerates_names) :-
        findall(N/A, current_predicate(N/A), L),
        member_(fact/1, L), member_(body/1, L), \+ member_(atom/1, L), \+ member_(findall/3, L).
expect(current_predicate_2, N-H, ( current_predicate(N, fact(_)), H = x ; current_predicate(pair, H) ),
       [fact-x, _-pair(_, _)]).
expect(current_predicate_errors, E,
       ( member_(G, [current_predicate(4), current_predicate(dog), current_predicate(0/dog),
                    current_predicate(7, _), current_predicate(_, 3)]),
         error_of(G, E) ),
       [type_error(predicate_indicator, 4), type_error(predicate_indicator, dog),
        type_error(predicate_indicator, 0/dog), type_error(atom, 7), type_error(callable, 3)]).
expect(predicate_properties, P-Q,
       ( member_(P, [static_one, atom(_), findall(_, _, _)]),
         findall(Q0, predicate_property(P, Q0), Q) ),
       [static_one-[compiled, defined],
        atom(_)-[built_in, compiled, exported, defined],
        findall(_, _, _)-[built_in, compiled, exported, meta_predicate(findall(?, :, ?)), defined]]).
test(predicate_property_enumerates) :-
        findall(H, predicate_property(H, (dynamic)), L),
        member_(fact(_), L), member_(r(_), L), \+ member_(static_one, L).

test(current_atom) :-
        current_atom(foo), current_atom('a freshly made atom, never seen before'),
        \+ current_atom(1), \+ current_atom(f(x)),
        findall(A, current_atom(A), As), member_(fact, As), member_([], As).

% ---- The loader ----

:- dynamic(other:remote/1).
other:remote(1).
:- dynamic(multi/1).
:- multifile(multi/1).
multi(1).

expect(loader_qualified_dynamic, X, other:remote(X), [1]).
test(loaded_clause_records_its_file) :-
        clause(fact(1), true, R), prolog:'$instance_file'(R, F, F), atom(F), F \== [].

% ---- The clocks of the update view ----

% The clock passes its limit while two calls are open (one inside the
% other); the clocks are renumbered and each call keeps its view.
:- dynamic(ck/1).
ck(1). ck(2). ck(3).

expect(clock_renumbering_keeps_views, L,
       ( prolog:'$set_clock'(65500),
         findall(X-L1, (ck(X), churn(X), findall(Y, ck(Y), L1)), L) ),
       [[1-[1, 2], 2-[1, 2, 4], 3-[1, 2, 4]]]).
churn(1) :- retract(ck(3)), tick(10).
churn(2) :-
        findall(Z, (ck(Z), (Z == 1 -> tick(40) ; true)), Zs), Zs == [1, 2],
        assertz(ck(4)).
churn(3) :- tick(5).
% Each round opens a call of ck/1 that leaves a choicepoint, which moves
% the clock on.
tick(0) :- !.
tick(N) :- assertz(ck(100)), once(ck(_)), retract(ck(100)), N1 is N - 1, tick(N1).

% ---- Freeing erased clauses ----

% $purge/1 frees a clause at once, unless a call is positioned on it.
:- dynamic(pg/1).
pg(1). pg(2). pg(3).
expect(purge_held_by_a_call, L,
       findall(X, (pg(X), (X == 1 -> clause(pg(2), true, R), prolog:'$purge'(R) ; true)), L),
       [[1, 2, 3]]).
test(purge_frees_at_once) :-
        clause(pg(3), true, R), prolog:'$purge'(R),
        \+ instance(R, _), findall(X, pg(X), [1]).

% Atoms held only by erased clauses that a call still reads, and by the
% copies findall keeps, survive atom garbage collection.  The atoms are
% made by a goal that then fails, so that nothing else holds them.
:- dynamic(ag/1).
make_ag :- fresh_atom(1, A1), fresh_atom(2, A2), assertz(ag(A1)), assertz(ag(A2)), fail.
make_ag.
expect(atoms_of_erased_clauses_survive_collection, L,
       ( make_ag,
         findall(C, (ag(X), (X == 'fresh atom 1' -> abolish(ag/1), prolog:garbage_collect_atoms ; true),
                     atom_codes(X, C)), L) ),
       [["fresh atom 1", "fresh atom 2"]]).
expect(atoms_of_collected_solutions_survive_collection, L,
       ( findall(A, (member_(N, [3, 4]), fresh_atom(N, A), garbage_collect_atoms), As),
         findall(C, (member_(A, As), atom_codes(A, C)), L) ),
       [["fresh atom 3", "fresh atom 4"]]).
fresh_atom(N, A) :- number_codes(N, Ds), append("fresh atom ", Ds, Cs), atom_codes(A, Cs).

% ---- Enumerating while the tables grow ----

% Modules and predicates made during an enumeration rebuild the tables it
% walks: the enumeration goes on, over tables it reads afresh.
test(module_enumeration_across_new_modules) :-
        findall(M, (prolog:'$current_module'(M), make_modules(M)), Ms),
        Ms \== [], all_atoms(Ms),
        prolog:'$current_module'(user), \+ prolog:'$current_module'(no_such_module),
        \+ prolog:'$current_module'(no_such_module).
make_modules(M) :-
        atom_codes(M, C),
        (   member_(I, [1, 2, 3, 4, 5, 6, 7, 8]),
            number_codes(I, D), append(C, [0'_|D], C2), atom_codes(M2, C2),
            assertz(M2:made_here), fail
        ;   true
        ).
all_atoms([]).
all_atoms([A|As]) :- atom(A), all_atoms(As).
test(predicate_enumeration_across_new_predicates) :-
        findall(H, (predicate_property(H, (dynamic)), make_predicates(H)), Hs),
        Hs \== [].
make_predicates(H) :-
        functor(H, N, _), atom_codes(N, C),
        (   member_(I, [1, 2, 3, 4, 5, 6, 7, 8]),
            number_codes(I, D), append(C, [0'_|D], C2), atom_codes(N2, C2),
            assertz(N2), fail
        ;   true
        ).
expect(predicate_arities, R,
       ( prolog:'$predicate_arities'(user, pair, A, B), R = A-B
       ; prolog:'$predicate_arities'(user, call, A, B), R = A-B
       ; prolog:'$predicate_arities'(user, no_such_name, A, B), R = A-B ),
       [2-2, 1-255]).
% Removing the clauses one file gave a dynamic multifile predicate.
test(multifile_retractall_by_file) :-
        assertz(multi(2)),
        clause(multi(1), true, R), prolog:'$instance_file'(R, F, F),
        \+ prolog:'$multifile_retractall'(multi(_), user, []),
        \+ prolog:'$multifile_retractall'(multi(_), user, [F|x]),
        \+ prolog:'$multifile_retractall'(multi(_), user, [7]),
        prolog:'$multifile_retractall'(multi(_), user, [F]),
        findall(X, multi(X), [2]).
% Term references name heap cells; the mutable slots and unused ones hold
% no reference.
test(term_references) :-
        prolog:'$term_ref'(0, T), var(T),
        \+ prolog:'$term_ref'(5, _), \+ prolog:'$term_ref'(100000, _),
        \+ prolog:'$term_ref'(0, a), \+ prolog:'$term_ref'(x, _).
% The file of a clause: [] once it is erased (an erased clause waiting to
% be freed keeps no file), and only an atom may be given.
:- dynamic(fl/1).
fl(1). fl(2).
expect(instance_file_of_an_erased_clause, Old,
       ( fl(X), X == 1, clause(fl(2), true, R), retract(fl(2)), prolog:'$instance_file'(R, Old, x) ),
       [[]]).
test(instance_file_takes_atoms) :-
        clause(fl(1), true, R),
        \+ prolog:'$instance_file'(R, _, f(x)), \+ prolog:'$instance_file'(R, _, 3),
        prolog:'$instance_file'(R, _, here), prolog:'$instance_file'(R, here, here).
% Set-of roots are the ones made and not yet removed.
test(forged_setof_roots) :-
        \+ prolog:'$setof_inserta'(12345, [a|_], _), \+ prolog:'$remove_setof_root'(3),
        \+ prolog:'$setof_list_instances'(11, _, []),
        prolog:'$add_setof_root'(R), prolog:'$setof_inserta'(R, [a|_], _),
        \+ prolog:'$setof_inserta'(R, notalist, _),
        prolog:'$setof_list_instances'(R, L, []), L == [a],
        prolog:'$remove_setof_root'(R), \+ prolog:'$remove_setof_root'(R).
