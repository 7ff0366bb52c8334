% case/3, case/4 and table/2, table/3: argument checks, the building of
% the layered decision graph and the posting of the native global
% constraint of case.cpp.  Part of module clpfd.
%
% The native side wants the graph by levels: node 0 the root, node k's
% column its depth, every child (Min..Max)-Successor with Successor the
% index of a node one level deeper, or [] for an accepting leaf on the
% last level, children ascending and disjoint.  It keeps the rows'
% variables through global references and wakes itself through daemons
% on them, so no suspension is posted here.

:- use_module(library(avl), [avl_fetch/3, ord_list_to_avl/2]).

% case(+Template, +Tuples, +Dag), case(+Template, +Tuples, +Dag, +Options):
% every tuple of Tuples (terms of Template's shape whose arguments are
% integers or domain variables) is accepted by the decision graph Dag, a
% list of node(Id, X, Successors), the first node being the root: X one of
% Template's variables, every successor Interval (an accepting leaf) or
% Interval-ChildId, Interval an integer or Min..Max.  Every path from the
% root tests each of Template's variables once.  Options: on(Event(X)) the
% event of X's column that wakes the constraint, prune(Kind(X)) how much
% X's column is pruned, Event and Kind among dom, min, max, minmax, val
% (default dom: values on no accepting path go).
case(Template, Tuples, Dag) :-
        case(Template, Tuples, Dag, [], case(Template, Tuples, Dag)).

case(Template, Tuples, Dag, Options) :-
        case(Template, Tuples, Dag, Options, case(Template, Tuples, Dag, Options)).

case(Template, Tuples, Dag, Options, Goal) :-
        case_template(Template, Goal, TVars),
        must_be(Tuples, proper_list, Goal, 2),
        case_tuples(Tuples, Template, Goal),
        must_be(Dag, proper_list, Goal, 3),
        case_graph(Dag, TVars, Goal, Levels, Nodes, NChildren),
        must_be(Options, proper_list, Goal, 4),
        case_options(Options, TVars, Goal, dom, dom, Levels, On, Prune),
        length(Levels, NVars),
        length(Nodes, NNodes),
        case_rows(Tuples, Levels, Goal, Rows),
        case_post(NVars, NNodes, NChildren, Rows, Nodes, On, Prune,
                  case(Template, Tuples, Dag, Options), clpfd:Goal).

% case_template(+Template, +Goal, -Vars): Template's arguments, distinct
% variables.
case_template(T, Goal, _) :- var(T), !, illarg(var, Goal, 1).
case_template(T, Goal, Vars) :-
        (   compound(T) -> T =.. [_|Vars]
        ;   illarg(type(compound), Goal, 1, T)
        ),
        (   distinct_vars(Vars, []) -> true
        ;   illarg(domain(term, distinct_variables), Goal, 1, T)
        ).

distinct_vars([], _).
distinct_vars([V|Vs], Seen) :-
        var(V), \+ var_memberchk(V, Seen),
        distinct_vars(Vs, [V|Seen]).

var_memberchk(V, [W|Ws]) :- ( V == W -> true ; var_memberchk(V, Ws) ).

% var_position(+V, +Vars, -N): V (==) is the N-th (from 1) of Vars.
var_position(V, Vars, N) :- var_position(Vars, V, 1, N).

var_position([W|Ws], V, I, N) :-
        (   V == W -> N = I
        ;   I1 is I + 1, var_position(Ws, V, I1, N)
        ).

case_tuples([], _, _).
case_tuples([T|Ts], Template, Goal) :-
        functor(Template, F, A),
        (   var(T) -> illarg(var, Goal, 2)
        ;   functor(T, F, A) -> T =.. [_|Args], must_be_dvar_list(Args, Goal, 2)
        ;   illarg(domain(term, Template), Goal, 2, T)
        ),
        case_tuples(Ts, Template, Goal).

% case_graph(+Dag, +TVars, +Goal, -Levels, -Nodes, -NChildren): the nodes
% reachable from the root, numbered by levels from the root (0); Levels
% holds per level the position of its variable in Template; Nodes the
% native node terms node(Index, Level, Id, Children) in index order.
case_graph([], _, Goal, _, _, _) :- !,
        illarg(domain(list, non_empty_list), Goal, 3).
case_graph(Dag, TVars, Goal, Levels, Nodes, NChildren) :-
        dag_table(Dag, TVars, Goal, AVL),
        Dag = [node(Root, _, _)|_],
        length(TVars, NVars),
        dag_levels([Root], 0, NVars, AVL, Goal, 0, Levels, NodesById),
        sort(Levels, Distinct),
        (   length(Distinct, NVars) -> true
        ;   illarg(domain(term, layered_graph), Goal, 3)
        ),
        dag_nodes(NodesById, AVL, Goal, Nodes0),
        keysort(Nodes0, Nodes1),
        pair_values(Nodes1, Nodes),
        children_count(Nodes, 0, NChildren).

% dag_table(+Dag, +TVars, +Goal, -AVL): Id-node(Position, Children) for
% every node, Children sorted, checked disjoint, as Min-Max-ChildId (with
% ChildId [] for a leaf, and any other non-[] term a node id).
dag_table(Dag, TVars, Goal, AVL) :-
        dag_entries(Dag, TVars, Goal, Entries),
        keysort(Entries, Sorted),
        (   unique_keys(Sorted) -> true
        ;   illarg(domain(list, unique_node_ids), Goal, 3)
        ),
        ord_list_to_avl(Sorted, AVL).

dag_entries([], _, _, []).
dag_entries([N|Ns], TVars, Goal, [Id-node(P, Cs)|Es]) :-
        (   nonvar(N), N = node(Id, X, Succ), ground(Id), Id \== [],
            var(X), var_position(X, TVars, P0), is_list(Succ) ->
            P = P0,
            node_children(Succ, N, Goal, Cs0),
            keysort(Cs0, Cs),
            (   disjoint_children(Cs) -> true
            ;   illarg(domain(term, disjoint_successors), Goal, 3, N)
            )
        ;   illarg(domain(term, case_node), Goal, 3, N)
        ),
        dag_entries(Ns, TVars, Goal, Es).

unique_keys([]).
unique_keys([_]) :- !.
unique_keys([K1-_, K2-V|Ps]) :- K1 \== K2, unique_keys([K2-V|Ps]).

% node_children(+Successors, +Node, +Goal, -Children): Min-(Max-Child),
% Min and Max in order form (inf and sup beyond the small integers).
node_children([], _, _, []).
node_children([S|Ss], N, Goal, [Lo-(Hi-C)|Cs]) :-
        (   successor(S, Min, Max, C0), bound_order(Min, Lo), bound_order(Max, Hi), Lo =< Hi ->
            C = C0
        ;   illarg(domain(term, case_successor), Goal, 3, S)
        ),
        node_children(Ss, N, Goal, Cs).

successor(S, _, _, _) :- var(S), !, fail.
successor(I-C, Min, Max, C) :- !, nonvar(C), C \== [], interval(I, Min, Max).
successor(I, Min, Max, []) :- interval(I, Min, Max).

interval(I, I, I) :- integer(I), !.
interval(Min..Max, Min, Max) :- nonvar(Min), nonvar(Max).

% bound_order(+Bound, -Order): integers themselves, inf and sup beyond
% every small integer (so that ordering and adjacency are arithmetic).
bound_order(inf, O) :- !, '$fd_minint_maxint'(Min, _), O is Min - 1.
bound_order(sup, O) :- !, '$fd_minint_maxint'(_, Max), O is Max + 1.
bound_order(I, I) :- integer(I), '$fd_minint_maxint'(Min, Max), I >= Min, I =< Max.

order_bound(O, B) :-
        '$fd_minint_maxint'(Min, Max),
        (   O < Min -> B = inf
        ;   O > Max -> B = sup
        ;   B = O
        ).

disjoint_children([]).
disjoint_children([_]) :- !.
disjoint_children([_-(Hi-_), Lo2-R|Cs]) :- Hi < Lo2, disjoint_children([Lo2-R|Cs]).

% dag_levels(+Ids, +Level, +NVars, +AVL, +Goal, +Index0, -Levels,
% -NodesById): breadth first from the root: the ids of one level in
% Ids; every node gets the next index when first reached.  NodesById:
% Id-(Index-Level) for every reached node, in index order.
dag_levels(Ids0, Level, NVars, AVL, Goal, I0, [P|Ps], NodesById) :-
        first_seen(Ids0, [], Ids),
        (   Level >= NVars -> illarg(domain(term, layered_graph), Goal, 3)
        ;   true
        ),
        level_nodes(Ids, Level, NVars, AVL, Goal, P, I0, I1, NodesById, Rest, Next),
        Level1 is Level + 1,
        (   Next == [] ->
            (   Level1 =:= NVars -> Rest = [], Ps = []
            ;   illarg(domain(term, layered_graph), Goal, 3)
            )
        ;   dag_levels(Next, Level1, NVars, AVL, Goal, I1, Ps, Rest)
        ).

% first_seen(+Ids, +Seen, -Unique): Ids without repeats (nor those of
% Seen), in first-seen order.
first_seen([], _, []).
first_seen([I|Is], Seen, U) :-
        (   var_memberchk(I, Seen) -> U = U1
        ;   U = [I|U1]
        ),
        first_seen(Is, [I|Seen], U1).

level_nodes([], _, _, _, _, _, I, I, Tail, Tail, []).
level_nodes([Id|Ids], Level, NVars, AVL, Goal, P, I0, I, [Id-(I0-Level)|Ns], Tail, Next) :-
        (   avl_fetch(Id, AVL, node(P0, Cs)) -> true
        ;   illarg(domain(term, case_node_id), Goal, 3, Id)
        ),
        (   P0 = P -> true
        ;   illarg(domain(term, layered_graph), Goal, 3)
        ),
        Last is NVars - 1,
        child_ids(Cs, Level, Last, Goal, Next, Next1),
        I1 is I0 + 1,
        level_nodes(Ids, Level, NVars, AVL, Goal, P, I1, I, Ns, Tail, Next1).

child_ids([], _, _, _, Next, Next).
child_ids([_-(_-C)|Cs], Level, Last, Goal, Next, Next0) :-
        (   C == [] ->
            (   Level =:= Last -> Next = Next1
            ;   illarg(domain(term, layered_graph), Goal, 3)
            )
        ;   Level < Last -> Next = [C|Next1]
        ;   illarg(domain(term, layered_graph), Goal, 3)
        ),
        child_ids(Cs, Level, Last, Goal, Next1, Next0).

% dag_nodes(+NodesById, +AVL, +Goal, -Nodes): Index-node(Index, Level, Id,
% Children) with children (Min..Max)-ChildIndex or (Min..Max)-[].
dag_nodes(NodesById, AVL, Goal, Nodes) :-
        keysort(NodesById, ById),
        ord_list_to_avl(ById, Indices),
        dag_nodes_(NodesById, AVL, Indices, Goal, Nodes).

dag_nodes_([], _, _, _, []).
dag_nodes_([Id-(I-L)|Ns], AVL, Indices, Goal, [I-node(I, L, Id, Cs)|Ts]) :-
        avl_fetch(Id, AVL, node(_, Cs0)),
        native_children(Cs0, Indices, Cs),
        dag_nodes_(Ns, AVL, Indices, Goal, Ts).

native_children([], _, []).
native_children([Lo-(Hi-C)|Cs], Indices, [(Min..Max)-S|Ns]) :-
        order_bound(Lo, Min),
        order_bound(Hi, Max),
        (   C == [] -> S = []
        ;   avl_fetch(C, Indices, S-_)
        ),
        native_children(Cs, Indices, Ns).

pair_values([], []).
pair_values([_-V|Ps], [V|Vs]) :- pair_values(Ps, Vs).

children_count([], N, N).
children_count([node(_, _, _, Cs)|Ns], N0, N) :-
        length(Cs, K),
        N1 is N0 + K,
        children_count(Ns, N1, N).

% case_options(+Options, +TVars, +Goal, +On0, +Prune0, +Levels, -On,
% -Prune): the On and Prune atoms per level.
case_options(Options, TVars, Goal, OnD, PruneD, Levels, On, Prune) :-
        length(TVars, N),
        length(OnP, N),
        length(PruneP, N),
        case_option_list(Options, TVars, Goal, OnP, PruneP),
        by_levels(Levels, OnP, OnD, On),
        by_levels(Levels, PruneP, PruneD, Prune).

case_option_list([], _, _, _, _).
case_option_list([O|Os], TVars, Goal, OnP, PruneP) :-
        (   nonvar(O), O =.. [Which, Spec], nonvar(Spec), Spec =.. [Kind, X],
            case_kind(Kind), var(X), var_position(X, TVars, P),
            (   Which == on -> nth1_var(P, OnP, V)
            ;   Which == prune -> nth1_var(P, PruneP, V)
            ) ->
            ( var(V) -> V = Kind ; true )
        ;   illarg(domain(term, case_option), Goal, 4, O)
        ),
        case_option_list(Os, TVars, Goal, OnP, PruneP).

case_kind(dom).
case_kind(min).
case_kind(max).
case_kind(minmax).
case_kind(val).

nth1_var(1, [X|_], X) :- !.
nth1_var(N, [_|Xs], X) :- N1 is N - 1, nth1_var(N1, Xs, X).

by_levels([], _, _, []).
by_levels([P|Ps], Given, Default, [A|As]) :-
        nth1_var(P, Given, G),
        ( var(G) -> A = Default ; A = G ),
        by_levels(Ps, Given, Default, As).

% case_rows(+Tuples, +Levels, +Goal, -Rows): per tuple the X-Attribute
% pairs of its arguments in level order.
case_rows([], _, _, []).
case_rows([T|Ts], Levels, Goal, [R|Rs]) :-
        level_pairs(Levels, T, Goal, R),
        case_rows(Ts, Levels, Goal, Rs).

level_pairs([], _, _, []).
level_pairs([P|Ps], T, Goal, [X-A|Rs]) :-
        arg(P, T, X),
        arg_attribute(X, A, Goal, 2),
        level_pairs(Ps, T, Goal, Rs).

% case_post(+NVars, +NNodes, +NChildren, +Rows, +Nodes, +On, +Prune,
% +Open, +Constraint, +Source): posts the native constraint on a
% well-formed graph (see case.h); nothing for no rows.
case_post(_, _, _, [], _, _, _, _, _) :- !.
case_post(NVars, NNodes, NChildren, Rows, Nodes, On, Prune, Constraint, Source) :-
        length(Rows, Open),
        case_post(NVars, NNodes, NChildren, Rows, Nodes, On, Prune, Open, Constraint, Source).

case_post(NVars, NNodes, NChildren, Rows, Nodes, On, Prune, Open, Constraint, Source) :-
        fd_global_internal(Constraint,
                           case(case(NVars, NNodes, NChildren, Rows, Nodes, On, Prune), Open, _, 0),
                           [], _, Source, 0).

% ---- table/2, table/3 ----

% table(+Tuples, +Relation), table(+Tuples, +Relation, +Options): every
% tuple of Tuples (lists of integers and domain variables, all of one
% length) is a row of Relation, a list of lists of that length whose
% elements are integers or ranges Min..Max.  Options: on(Event), the event
% that wakes the constraint, prune(Kind), how much each column is pruned
% (both among dom, min, max, minmax, val; default dom: the values left
% are exactly those of some row that still fits).
table(Tuples, Relation) :-
        table(Tuples, Relation, [], table(Tuples, Relation)).

table(Tuples, Relation, Options) :-
        table(Tuples, Relation, Options, table(Tuples, Relation, Options)).

table(Tuples, Relation, Options, Goal) :-
        must_be(Tuples, proper_list, Goal, 1),
        table_tuples(Tuples, Goal, _, N),
        must_be(Relation, proper_list, Goal, 2),
        table_relation(Relation, N, Goal, Rows0), % binds N when there is no tuple
        must_be(Options, proper_list, Goal, 3),
        table_options(Options, Goal, dom, dom, OnK, PruneK),
        (   Tuples == [] -> true
        ;   N == 0 -> Rows0 \== []
        ;   Rows0 == [] -> fail
        ;   sort(Rows0, Rows),
            table_dag(Rows, N, Nodes, NChildren),
            length(Nodes, NNodes),
            length(On, N), all_same(On, OnK),
            length(Prune, N), all_same(Prune, PruneK),
            table_rows(Tuples, Goal, Pairs),
            length(Template, N),
            case_post(N, NNodes, NChildren, Pairs, Nodes, On, Prune,
                      case(Template, Tuples, Relation, Options), clpfd:Goal)
        ).

all_same([], _).
all_same([X|Xs], X) :- all_same(Xs, X).

% table_tuples(+Tuples, +Goal, ?N0, -N): every tuple a list of N integers
% and variables.
table_tuples([], _, N, N).
table_tuples([T|Ts], Goal, N0, N) :-
        must_be_dvar_list(T, Goal, 1),
        length(T, K),
        (   var(N0) -> N1 = K
        ;   K =:= N0 -> N1 = N0
        ;   illarg(domain(list, tuple_of_length(N0)), Goal, 1, T)
        ),
        table_tuples(Ts, Goal, N1, N).

% table_relation(+Relation, +N, +Goal, -Rows): the rows as lists of
% Lo-Hi in order form; rows with an empty range dropped.
table_relation([], _, _, []).
table_relation([R|Rs], N, Goal, Rows) :-
        (   is_list(R), length(R, N) -> true
        ;   illarg(domain(list, row_of_length(N)), Goal, 2, R)
        ),
        table_row(R, Goal, Row, Empty),
        (   Empty == true -> Rows = Rows1 ; Rows = [Row|Rows1] ),
        table_relation(Rs, N, Goal, Rows1).

table_row([], _, [], _).
table_row([E|Es], Goal, [Lo-Hi|Is], Empty) :-
        (   integer(E), bound_order(E, Lo) -> Hi = Lo
        ;   nonvar(E), E = Min..Max, integer(Min), integer(Max),
            bound_order(Min, Lo), bound_order(Max, Hi) ->
            ( Lo > Hi -> Empty = true ; true )
        ;   var(E) -> illarg(var, Goal, 2)
        ;   illarg(type(integer), Goal, 2, E)
        ),
        table_row(Es, Goal, Is, Empty).

table_options([], _, On, Prune, On, Prune).
table_options([O|Os], Goal, On0, Prune0, On, Prune) :-
        (   nonvar(O), O = on(K), nonvar(K), case_kind(K) -> table_options(Os, Goal, K, Prune0, On, Prune)
        ;   nonvar(O), O = prune(K), nonvar(K), case_kind(K) -> table_options(Os, Goal, On0, K, On, Prune)
        ;   illarg(domain(term, table_option), Goal, 3, O)
        ).

table_rows([], _, []).
table_rows([T|Ts], Goal, [Ps|Pss]) :-
        attribute_pairs(T, Goal, 1, Ps),
        table_rows(Ts, Goal, Pss).

% table_dag(+Rows, +N, -Nodes, -NChildren): the decision graph of the
% sorted rows (lists of Lo-Hi), level by level.  A node stands for a set
% of row suffixes: equal sets are one node, so rows with equal suffixes
% share them.  A node's children are the elementary intervals cut by the
% bounds of its suffixes' first ranges, each leading to the set of the
% suffixes' tails that cover it; neighbouring children leading to the same
% set are merged.
table_dag(Rows, N, Nodes, NChildren) :-
        table_levels([Rows], 0, N, 0, Levels),
        table_nodes(Levels, Nodes, 0, NChildren).

% table_levels(+Sets, +Level, +N, +Index0, -Levels): Levels holds per level
% Level-Index0-Sets-Children, Sets the level's sorted distinct suffix sets (node
% Index0 + K the K-th), Children per set its children Lo-Hi-TailSet.
table_levels(Sets, Level, N, I0, [Level-I0-Sets-Children|Ls]) :-
        set_children(Sets, Children, Tails0),
        Level1 is Level + 1,
        (   Level1 =:= N -> Ls = []
        ;   sort(Tails0, Tails),
            length(Sets, K),
            I1 is I0 + K,
            table_levels(Tails, Level1, N, I1, Ls)
        ).

set_children([], [], []).
set_children([S|Ss], [Cs|Css], Tails) :-
        suffix_children(S, Cs),
        child_sets(Cs, Tails, Tails1),
        set_children(Ss, Css, Tails1).

child_sets([], T, T).
child_sets([_-_-S|Cs], [S|T], T0) :- child_sets(Cs, T, T0).

% suffix_children(+Suffixes, -Children): Lo-Hi-Tails per elementary
% interval covered by some suffix's first range, neighbours with equal
% Tails merged.
suffix_children(Suffixes, Children) :-
        cut_points(Suffixes, Ps0),
        sort(Ps0, Ps),
        elementary(Ps, Suffixes, Cs0),
        merge_children(Cs0, Children).

cut_points([], []).
cut_points([[Lo-Hi|_]|Ss], [Lo, H1|Ps]) :- H1 is Hi + 1, cut_points(Ss, Ps).

elementary([], _, []).
elementary([_], _, []) :- !.
elementary([A, B|Ps], Suffixes, Cs) :-
        Hi is B - 1,
        covering(Suffixes, A, Hi, Tails0),
        (   Tails0 == [] -> Cs = Cs1
        ;   sort(Tails0, Tails), Cs = [A-Hi-Tails|Cs1]
        ),
        elementary([B|Ps], Suffixes, Cs1).

covering([], _, _, []).
covering([[Lo-Hi|T]|Ss], A, B, Tails) :-
        (   Lo =< A, Hi >= B -> Tails = [T|Tails1] ; Tails = Tails1 ),
        covering(Ss, A, B, Tails1).

merge_children([], []).
merge_children([C], [C]) :- !.
merge_children([L1-H1-S1, L2-H2-S2|Cs], Ms) :-
        (   H1 + 1 =:= L2, S1 == S2 -> merge_children([L1-H2-S1|Cs], Ms)
        ;   Ms = [L1-H1-S1|Ms1], merge_children([L2-H2-S2|Cs], Ms1)
        ).

% table_nodes(+Levels, -Nodes, +NChildren0, -NChildren): the native node
% terms, children pointing at the next level's node of their tail set.
table_nodes([], [], N, N).
table_nodes([Level-I0-_-Children|Ls], Nodes, N0, N) :-
        (   Ls = [_-I1-Next-_|_] ->
            numbered(Next, I1, Pairs),
            ord_list_to_avl(Pairs, AVL)
        ;   AVL = none
        ),
        level_terms(Children, I0, Level, AVL, Nodes, Nodes1, N0, N1),
        table_nodes(Ls, Nodes1, N1, N).

numbered([], _, []).
numbered([S|Ss], I, [S-I|Ps]) :- I1 is I + 1, numbered(Ss, I1, Ps).

level_terms([], _, _, _, Nodes, Nodes, N, N).
level_terms([Cs|Css], I, L, AVL, [node(I, L, I, Ts)|Nodes], Nodes0, N0, N) :-
        child_terms(Cs, AVL, Ts, N0, N1),
        I1 is I + 1,
        level_terms(Css, I1, L, AVL, Nodes, Nodes0, N1, N).

child_terms([], _, [], N, N).
child_terms([Lo-Hi-S|Cs], AVL, [(Min..Max)-C|Ts], N0, N) :-
        order_bound(Lo, Min),
        order_bound(Hi, Max),
        (   AVL == none -> C = []
        ;   avl_fetch(S, AVL, C)
        ),
        N1 is N0 + 1,
        child_terms(Cs, AVL, Ts, N1, N).
