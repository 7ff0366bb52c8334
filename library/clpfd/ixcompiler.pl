% The indexical compiler: definitions of constraints by indexicals,
% compiled into the code lists that $fd_install/5 stores as the
% constraint's FD predicate; and the posting of such a constraint when it
% is called.  Part of module clpfd.
%
% A definition is a clause
%     Head +: X in R, Y in R2, ...    propagating, the constraint   (type 1)
%     Head -: X in R, ...             propagating, its negation     (type 0)
%     Head +? X in R                  checking, the constraint      (type 3)
%     Head -? X in R                  checking, its negation        (type 2)
% whose Head's arguments are distinct variables; each X is one of them
% (the target, pruned by a propagating indexical, tested by a checking
% one).  The loader hands such a clause to term_expansion/2, which turns
% it into a directive calling $fd_install/5; the library's own
% definitions are so compiled while the application state is built and
% travel in the state.
%
% Ranges R (sets):
%     dom(Y)              the domain of Y
%     T1..T2              an interval (inf and sup for open ends)
%     {T1, ..., Tn}       the values of the terms
%     R1 \/ R2, R1 /\ R2  union, intersection
%     \R                  complement
%     R + T, T + R, R - T the set shifted by the value of a term
%     T - R               {T - x : x in R}
%     R1 + R2, R1 - R2    pointwise sums and differences
%     R mod T, R rem T    the residues of the set's values
%     (R1 ? R2)           R2 when R1 is not empty, else the empty set
% Terms T (values and bounds):
%     integers, inf, sup, min(Y), max(Y), card(Y) (the domain's size),
%     val(Y) (Y's value: the indexical waits until Y is fixed; a bare
%     argument variable means the same), T1 + T2, T1 - T2, -T, T * C,
%     C * T, T // C (C an integer: a lower bound rounds up, an upper
%     bound and a value down, so that min(Y) // 2..max(Y) // 2 is the x
%     with 2*x within Y's bounds), T1 mod T2, T1 rem T2.
% When an indexical runs with all the arguments it reads fixed, the
% whole constraint counts as entailed once its tell is done: a
% definition's ranges must be exact then (hold exactly the target's
% values that satisfy the constraint with those arguments).
%
% An indexical's code reads its arguments through the instruction set of
% the interpreter (indexical_interpreter.cpp): it pushes the values and
% sets the range needs, then ends with one tell (propagating) or one check
% (checking).  Its linkage names, per argument read, the suspension list
% (dom for dom/card, min, max or both for the bounds) or, for val/1, the
% wait bit of the indexical's kind.  A set tell of a library definition
% carries the filter flag: the library's set-valued indexicals are exact
% projections of their constraint, so a prune by one of them takes no
% support away from the others; a user's definition is not trusted so.

:- op(1200, xfx, [+:, -:, +?, -?]).
:- op(490, xfx, ?).

% solve_fd_constraint(+Goal, +Definition): the engine calls a predicate
% defined by indexicals (Definition its handle) so: Goal is posted as
% holding.
solve_fd_constraint(Goal, Def) :-
        post_fd_constraint(Goal, Def, 1).

% post_fd_constraint(+Goal, +Definition, ?B): Goal posted with its 0/1
% variable B (1: the constraint's propagating indexicals, 0: its
% negation's, unbound: the checking ones decide B, and the propagating
% ones of the side B takes wait for it); every argument made a domain
% variable (an argument that is neither an integer nor a variable is a
% type error), then propagation.
post_fd_constraint(Goal, Def, B) :-
        (   '$fd_check_arguments'(Goal, Attv) -> true
        ;   functor(Goal, _, N), bad_argument(1, N, Goal, I) -> illarg(type(integer), Goal, I)
        ),
        B in 0..1,
        arg_attribute(B, BAttr, Goal, 0),
        '$fd_begin',
        '$fd_post_reified'(Def, Goal, Attv, B, BAttr),
        evaluate.

% bad_argument(+I0, +N, +Goal, -I): argument I (from I0) is neither an
% integer nor a variable.
bad_argument(I0, N, Goal, I) :-
        I0 =< N,
        arg(I0, Goal, X),
        (   nonvar(X), \+ integer(X) -> I = I0
        ;   I1 is I0 + 1, bad_argument(I1, N, Goal, I)
        ).

% indexical_clause(+Clause, -Head, -Body, -Type)
indexical_clause((H +: B), H, B, 1).
indexical_clause((H -: B), H, B, 0).
indexical_clause((H +? B), H, B, 3).
indexical_clause((H -? B), H, B, 2).

% compile_indexicals(+Clause, +Exact, -Spec, -Type, -Length, -Infos):
% Infos the list of the Length compiled indexicals of Clause, each
%     ix(Linkage, LinkageLength, Pruned, Code, CodeLength, Literals,
%        LiteralsLength)
% with Linkage a list of ArgIndex-Key pairs and Code the code list as
% $fd_install/5 reads it.  Exact is 1 when set tells may filter (see
% above).  A malformed definition raises an error naming it.
compile_indexicals(Clause, Exact, Name/Arity, Type, N, Infos) :-
        indexical_clause(Clause, Head, Body, Type),
        (   callable(Head), \+ Head = _:_ -> true
        ;   ix_error(type_error(callable, Head), Clause)
        ),
        functor(Head, Name, Arity),
        Head =.. [_|Args],
        (   distinct_variables(Args, []) -> true
        ;   ix_error(domain_error(distinct_variables, Head), Clause)
        ),
        Checking is Type >> 1,
        conjuncts(Body, Items, []),
        compile_items(Items, Args, Checking, Exact, Clause, Infos),
        length(Infos, N).

distinct_variables([], _).
distinct_variables([A|As], Seen) :-
        var(A),
        \+ var_member(A, Seen),
        distinct_variables(As, [A|Seen]).

var_member(X, [Y|Ys]) :- ( X == Y -> true ; var_member(X, Ys) ).

conjuncts(B, [B|T], T) :- var(B), !.
conjuncts((A, B), L, T) :- !, conjuncts(A, L, L1), conjuncts(B, L1, T).
conjuncts(B, [B|T], T).

compile_items([], _, _, _, _, []).
compile_items([Item|Items], Args, Checking, Exact, Clause, [Info|Infos]) :-
        compile_item(Item, Args, Checking, Exact, Clause, Info),
        compile_items(Items, Args, Checking, Exact, Clause, Infos).

% compile_item(+Item, +Args, +Checking, +Exact, +Clause, -Info)
compile_item(Item, Args, Checking, Exact, Clause, Info) :-
        (   nonvar(Item), Item = (X in R), var(X), arg_index(X, Args, 0, Pruned) -> true
        ;   ix_error(domain_error(indexical, Item), Clause)
        ),
        S0 = s(0, 0, [], []),
        (   catch(top(Checking, R, Args, Exact, Code, [], S0, S), ix(Culprit), Bad = true) -> true
        ;   Bad = true, Culprit = R
        ),
        (   Bad == true -> ix_error(domain_error(range, Culprit), Clause) ; true ),
        S = s(CodeLength, LitLength, LitsRev, Uses0),
        reversed(LitsRev, [], Lits),
        (   Checking =:= 1 -> Uses = [Pruned-dom|Uses0] ; Uses = Uses0 ),
        linkage(Uses, Checking, Linkage),
        length(Linkage, LinkLength),
        Info = ix(Linkage, LinkLength, Pruned, Code, CodeLength, Lits, LitLength).

ix_error(Error, Clause) :-
        throw(error(Error, indexical_definition(Clause))).

% arg_index(+X, +Args, +I0, -I): X is argument I (from 0).
arg_index(X, [A|As], I0, I) :-
        (   X == A -> I = I0
        ;   I1 is I0 + 1, arg_index(X, As, I1, I)
        ).

% The linkage: one ArgIndex-Key pair per argument read, in argument order.
% Key bits: 1 dom, 2 min, 4 max; an argument read by val/1 carries the
% wait bit of the indexical's kind (8 propagating, 16 checking).
linkage(Uses, Checking, Linkage) :-
        keysort(Uses, Sorted),
        clumped(Sorted, Groups),
        Wait is 8 << Checking,
        link_keys(Groups, Wait, Linkage).

% clumped(+SortedPairs, -Groups): K-[V1, ..., Vn] per key.
clumped([], []).
clumped([K-V|Ps], [K-[V|Vs]|Gs]) :- same_key(Ps, K, Vs, Rest), clumped(Rest, Gs).

same_key([K1-V|Ps], K, [V|Vs], Rest) :- K1 == K, !, same_key(Ps, K, Vs, Rest).
same_key(Ps, _, [], Ps).

link_keys([], _, []).
link_keys([I-Kinds|Gs], Wait, [I-Key|Ls]) :-
        kinds_key(Kinds, 0, Key0),
        (   kind_member(val, Kinds) -> Key is Key0 \/ Wait ; Key = Key0 ),
        link_keys(Gs, Wait, Ls).

kind_member(K, [K1|Ks]) :- ( K == K1 -> true ; kind_member(K, Ks) ).

kinds_key([], K, K).
kinds_key([Kind|Ks], K0, K) :-
        kind_bits(Kind, B),
        K1 is K0 \/ B,
        kinds_key(Ks, K1, K).

kind_bits(dom, 1).
kind_bits(card, 1).
kind_bits(min, 2).
kind_bits(max, 4).
kind_bits(val, 0).

% ---- Code generation ----
%
% The generator threads the code list as a difference list and a state
% s(Position, LiteralCount, LiteralsReversed, Uses): Position counts code
% words (jump offsets are positions), Uses the ArgIndex-Kind reads.  An
% expression it cannot compile throws ix(Culprit).

% top(+Checking, +R, +Args, +Exact, -Code, ?Tail, +S0, -S): the whole
% range of one indexical, ending in its tell or check.
top(0, R, A, F, C, T, S0, S) :- !, tell(R, A, F, C, T, S0, S).
top(1, R, A, _, C, T, S0, S) :- check(R, A, C, T, S0, S).

tell(R, _, _, _, _, _, _) :- var(R), !, throw(ix(R)).
tell(inf..sup, _, F, C, T, S0, S) :- !, emit([1, 52, F], C, T, S0, S).
tell(inf..E, A, _, C, T, S0, S) :- !, term(E, upper, A, C, C1, S0, S1), emit([46], C1, T, S1, S).
tell(E..sup, A, _, C, T, S0, S) :- !, term(E, lower, A, C, C1, S0, S1), emit([47], C1, T, S1, S).
tell(E1..E2, A, _, C, T, S0, S) :- !,
        term(E1, lower, A, C, C1, S0, S1), term(E2, upper, A, C1, C2, S1, S2), emit([48], C2, T, S2, S).
tell(\{E}, A, _, C, T, S0, S) :- nonvar(E), E \= (_, _), !,
        term(E, value, A, C, C1, S0, S1), emit([49], C1, T, S1, S).
tell(\R, A, _, C, T, S0, S) :- !, set(R, A, C, C1, S0, S1), emit([50], C1, T, S1, S).
tell({E}, A, _, C, T, S0, S) :- nonvar(E), E \= (_, _), !,
        term(E, value, A, C, C1, S0, S1), emit([51], C1, T, S1, S).
tell(R1 + R2, A, F, C, T, S0, S) :- is_set(R1), is_set(R2), !,
        set(R1, A, C, C1, S0, S1), set(R2, A, C1, C2, S1, S2), emit([83, F], C2, T, S2, S).
tell(R1 - R2, A, F, C, T, S0, S) :- is_set(R1), is_set(R2), !,
        set(R1, A, C, C1, S0, S1), set(R2, A, C1, C2, S1, S2), emit([84, F], C2, T, S2, S).
tell(R, A, F, C, T, S0, S) :- set(R, A, C, C1, S0, S1), emit([52, F], C1, T, S1, S).

check(R, _, _, _, _, _) :- var(R), !, throw(ix(R)).
check(inf..sup, _, C, T, S0, S) :- !, emit([1, 60], C, T, S0, S).
check(inf..E, A, C, T, S0, S) :- !, term(E, upper, A, C, C1, S0, S1), emit([54], C1, T, S1, S).
check(E..sup, A, C, T, S0, S) :- !, term(E, lower, A, C, C1, S0, S1), emit([55], C1, T, S1, S).
check(E1..E2, A, C, T, S0, S) :- !,
        term(E1, lower, A, C, C1, S0, S1), term(E2, upper, A, C1, C2, S1, S2), emit([56], C2, T, S2, S).
check(\{E}, A, C, T, S0, S) :- nonvar(E), E \= (_, _), !,
        term(E, value, A, C, C1, S0, S1), emit([57], C1, T, S1, S).
check(\R, A, C, T, S0, S) :- !, set(R, A, C, C1, S0, S1), emit([58], C1, T, S1, S).
check({E}, A, C, T, S0, S) :- nonvar(E), E \= (_, _), !,
        term(E, value, A, C, C1, S0, S1), emit([59], C1, T, S1, S).
check(R, A, C, T, S0, S) :- set(R, A, C, C1, S0, S1), emit([60], C1, T, S1, S).

% is_set(+E): E is a range (not a term).
is_set(E) :- var(E), !, fail.
is_set(dom(_)).
is_set(_.._).
is_set({_}).
is_set(_ \/ _).
is_set(_ /\ _).
is_set(\_).
is_set(_ ? _).
is_set(A + B) :- ( is_set(A) -> true ; is_set(B) ).
is_set(A - B) :- ( is_set(A) -> true ; is_set(B) ).
is_set(A mod _) :- is_set(A).
is_set(A rem _) :- is_set(A).

% set(+R, +Args, -Code, ?Tail, +S0, -S): code pushing the set R.
set(R, _, _, _, _, _) :- var(R), !, throw(ix(R)).
set(dom(Y), A, C, T, S0, S) :- !, arg_read(Y, dom, A, [29, 30, 31, 32], C, T, S0, S).
set(inf..sup, _, C, T, S0, S) :- !, emit([1], C, T, S0, S).
set(inf..E, A, C, T, S0, S) :- !, term(E, upper, A, C, C1, S0, S1), emit([2], C1, T, S1, S).
set(E..sup, A, C, T, S0, S) :- !, term(E, lower, A, C, C1, S0, S1), emit([3], C1, T, S1, S).
set(E1..E2, A, C, T, S0, S) :- !,
        term(E1, lower, A, C, C1, S0, S1), term(E2, upper, A, C1, C2, S1, S2), emit([4], C2, T, S2, S).
set({Es}, A, C, T, S0, S) :- !,
        (   var(Es) -> throw(ix({Es})) ; true ),
        conj_list(Es, L),
        (   integer_list(L) -> sort(L, Vs), values_intervals(Vs, Set), literal(d(Set), C, T, S0, S)
        ;   values(L, A, C, T, S0, S)
        ).
set(R1 \/ R2, A, C, T, S0, S) :- nonvar(R1), R1 = (R0 ? (inf..sup)), !,
        set(R0, A, C, C1, S0, S1), emit([61, l(Off)], C1, C2, S1, S2),
        set(R2, A, C2, T, S2, S), S = s(Off, _, _, _).
set(R1 \/ R2, A, C, T, S0, S) :- !, set2(R1, R2, 13, A, C, T, S0, S).
set(R1 /\ R2, A, C, T, S0, S) :- !, set2(R1, R2, 17, A, C, T, S0, S).
set(\R, A, C, T, S0, S) :- !, set(R, A, C, C1, S0, S1), emit([9], C1, T, S1, S).
set(R1 ? R2, A, C, T, S0, S) :- !,
        set(R1, A, C, C1, S0, S1), emit([62, l(Off)], C1, C2, S1, S2),
        set(R2, A, C2, T, S2, S), S = s(Off, _, _, _).
set(R1 + R2, A, C, T, S0, S) :- is_set(R1), is_set(R2), !, set2(R1, R2, 74, A, C, T, S0, S).
set(R1 - R2, A, C, T, S0, S) :- is_set(R1), is_set(R2), !, set2(R1, R2, 75, A, C, T, S0, S).
set(R + E, A, C, T, S0, S) :- is_set(R), !, set_term(R, E, 5, A, C, T, S0, S).
set(E + R, A, C, T, S0, S) :- is_set(R), !, set_term(R, E, 5, A, C, T, S0, S).
set(R - E, A, C, T, S0, S) :- is_set(R), !, set_term(R, E, 6, A, C, T, S0, S).
set(E - R, A, C, T, S0, S) :- is_set(R), !, set_term(R, E, 73, A, C, T, S0, S).
set(R mod E, A, C, T, S0, S) :- is_set(R), !, set_term(R, E, 7, A, C, T, S0, S).
set(R rem E, A, C, T, S0, S) :- is_set(R), !, set_term(R, E, 86, A, C, T, S0, S).
set(R, _, _, _, _, _) :- throw(ix(R)).

set2(R1, R2, Op, A, C, T, S0, S) :-
        set(R1, A, C, C1, S0, S1), set(R2, A, C1, C2, S1, S2), emit([Op], C2, T, S2, S).

set_term(R, E, Op, A, C, T, S0, S) :-
        set(R, A, C, C1, S0, S1), term(E, value, A, C1, C2, S1, S2), emit([Op], C2, T, S2, S).

% {T1, ..., Tn} with some non-constant term: {T1}, then each added.
values([E], A, C, T, S0, S) :- !, term(E, value, A, C, C1, S0, S1), emit([0], C1, T, S1, S).
values([E1, E2|Es], A, C, T, S0, S) :-
        term(E1, value, A, C, C1, S0, S1), term(E2, value, A, C1, C2, S1, S2),
        emit([10], C2, C3, S2, S3),
        more_values(Es, A, C3, T, S3, S).

more_values([], _, C, C, S, S).
more_values([E|Es], A, C, T, S0, S) :-
        term(E, value, A, C, C1, S0, S1), emit([12], C1, C2, S1, S2),
        more_values(Es, A, C2, T, S2, S).

conj_list(E, _) :- var(E), !, throw(ix({E})).
conj_list((A, B), [A|L]) :- !, conj_list(B, L).
conj_list(A, [A]).

integer_list([]).
integer_list([X|Xs]) :- integer(X), integer_list(Xs).

% term(+E, +Position, +Args, -Code, ?Tail, +S0, -S): code pushing the
% value of the term E.  Position (lower, upper or value) chooses the
% rounding of divisions: a lower bound rounds up, the others down, so
% that lo // C .. hi // C holds exactly the x with C*x in lo..hi.  An
% indexical whose arguments are all fixed entails its whole constraint
% (the constraint's indexicals share one entailment variable), so its
% range must then be exact: rounding outwards would let a wrong value
% through for good.
term(E, P, A, C, T, S0, S) :- var(E), !, term(val(E), P, A, C, T, S0, S).
term(E, _, _, C, T, S0, S) :- integer(E), !, literal(E, C, T, S0, S).
term(inf, _, _, C, T, S0, S) :- !, literal(inf, C, T, S0, S).
term(sup, _, _, C, T, S0, S) :- !, literal(sup, C, T, S0, S).
term(min(Y), _, A, C, T, S0, S) :- !, arg_read(Y, min, A, [33, 34, 35, 36], C, T, S0, S).
term(max(Y), _, A, C, T, S0, S) :- !, arg_read(Y, max, A, [37, 38, 39, 40], C, T, S0, S).
term(val(Y), _, A, C, T, S0, S) :- !, arg_read(Y, val, A, [25, 26, 27, 28], C, T, S0, S).
term(card(Y), _, A, C, T, S0, S) :- !, arg_read(Y, card, A, [65, 66, 67, 68], C, T, S0, S).
term(E1 + E2, P, A, C, T, S0, S) :- !, term2(E1, P, E2, P, 19, A, C, T, S0, S).
term(E1 - E2, P, A, C, T, S0, S) :- !, opposite(P, Q), term2(E1, P, E2, Q, 20, A, C, T, S0, S).
term(-E, P, A, C, T, S0, S) :- !, opposite(P, Q), term2(0, P, E, Q, 20, A, C, T, S0, S).
term(E * K, P, A, C, T, S0, S) :- integer(K), !, scaled(E, K, P, A, C, T, S0, S).
term(K * E, P, A, C, T, S0, S) :- integer(K), !, scaled(E, K, P, A, C, T, S0, S).
term(E // K, P, A, C, T, S0, S) :- integer(K), K =\= 0, !,
        ( K > 0 -> Q = P ; opposite(P, Q) ),
        ( Q == lower -> Op = 23 ; Op = 22 ),
        term(E, Q, A, C, C1, S0, S1), literal_operand(Op, K, C1, T, S1, S).
term(E1 mod E2, _, A, C, T, S0, S) :- !, term2(E1, value, E2, value, 24, A, C, T, S0, S).
term(E1 rem E2, _, A, C, T, S0, S) :- !, term2(E1, value, E2, value, 85, A, C, T, S0, S).
term(E, _, _, _, _, _, _) :- throw(ix(E)).

term2(E1, P1, E2, P2, Op, A, C, T, S0, S) :-
        term(E1, P1, A, C, C1, S0, S1), term(E2, P2, A, C1, C2, S1, S2), emit([Op], C2, T, S2, S).

scaled(E, K, P, A, C, T, S0, S) :-
        ( K >= 0 -> Q = P ; opposite(P, Q) ),
        term(E, Q, A, C, C1, S0, S1), literal_operand(21, K, C1, T, S1, S).

opposite(lower, upper).
opposite(upper, lower).
opposite(value, value).

% arg_read(+Y, +Kind, +Args, +Ops, ...): push what Kind reads of the
% argument Y, with the short form of the instruction for arguments 0 to 2.
arg_read(Y, Kind, A, [Op, Op0, Op1, Op2], C, T, s(P0, N, L, U), S) :-
        (   var(Y), arg_index(Y, A, 0, I) -> true
        ;   throw(ix(Y))
        ),
        S1 = s(P0, N, L, [I-Kind|U]),
        (   I =:= 0 -> emit([Op0], C, T, S1, S)
        ;   I =:= 1 -> emit([Op1], C, T, S1, S)
        ;   I =:= 2 -> emit([Op2], C, T, S1, S)
        ;   emit([Op, I], C, T, S1, S)
        ).

% literal(+Lit, ...): push a literal (a constant or d(Set), an FD set).
literal(d([]), C, T, S0, S) :- !, literal([], C, T, S0, S).
literal(d(Set), C, T, s(P, N, L, U), S) :- !,
        N1 is N + 1,
        emit([41, d(N)], C, T, s(P, N1, [d(Set)|L], U), S).
literal(K, C, T, S0, S) :- literal_operand(41, K, C, T, S0, S).

% An instruction whose operand is a constant literal.
literal_operand(Op, K, C, T, s(P, N, L, U), S) :-
        N1 is N + 1,
        emit([Op, t(N)], C, T, s(P, N1, [K|L], U), S).

emit(Words, C, T, s(P0, N, L, U), s(P, N, L, U)) :-
        append(Words, T, C),
        length(Words, K),
        P is P0 + K.

% ---- The loader's hook ----

% Installed last, once everything it calls is defined: the loader hands it
% every term read from here on.
:- multifile user:term_expansion/2.
user:term_expansion(Clause, (:- clpfd:'$fd_install'(Name/Arity, M, Type, N, Infos))) :-
        nonvar(Clause),
        indexical_clause(Clause, _, _, _),
        prolog_load_context(module, M),
        (   M == clpfd -> Exact = 1 ; Exact = 0 ),
        compile_indexicals(Clause, Exact, Name/Arity, Type, N, Infos).
