% Attribute declarations: named attributes on variables for the modules
% that keep information there, read and written with get_atts/2 and
% put_atts/2.
%
% A module M declares its attributes with the directive
%     :- attribute Name/Arity, ...
% which term expansion turns into: M's registration as an attribute module
% (so M gets its own '$get_attributes'/3, '$put_attributes'/2 and
% '$delete_attributes'/1), the import of this library, and two dynamic
% tables of M: '$t2v'(Term, V, Bit) for each attribute (and first
% '$t2v'('$bitv'(Mask), V, 0)), and '$v2l'(V, Terms).
%
% M's attribute term is v(Mask, A1, ..., An): bit i of Mask says that the
% i-th declared attribute is present, and its arguments follow one another
% in declaration order.  Every call of get_atts/2 and put_atts/2 in M is
% replaced, while M is compiled, by code over M's three built-ins, with
% the masks and v-term templates worked out from the tables
% (goal_expansion/5); errors in an access list (a clash of + and -, an
% attribute that M did not declare, an unbound put_atts access list) are
% raised then, as errors of the clause being loaded.  get_atts/2 and
% put_atts/2 themselves have no clauses.

:- module(attributes, [get_atts/2, put_atts/2, atts_subset/3]).

:- op(1150, fx, attribute).

:- multifile user:term_expansion/2.
user:term_expansion((:- attribute(Decls)), Terms) :-
        prolog_load_context(module, M),
        attributes:attribute_exp(M, Decls, Terms).

% attribute_exp(Module, Decls, Terms): the directives and clauses that
% carry out the declaration Decls of Module.
attribute_exp(M, Decls, Terms) :-
        declared_terms(Decls, attribute(Decls), Ts),
        term_args(Ts, Args),
        V =.. [v, Mask|Args],
        t2v_clauses(Ts, V, 1, T2V),
        append([ (:- prolog:'$save_attribute_info'(M)),
                 (:- use_module(attributes, library(atts), [atts_subset/3, put_atts/2, get_atts/2])),
                 (:- dynamic('$t2v'/3)),
                 (:- retractall('$t2v'(_, _, _))),
                 '$t2v'('$bitv'(Mask), V, 0)
               ], T2V, Terms0),
        append(Terms0,
               [ (:- dynamic('$v2l'/2)),
                 (:- retractall('$v2l'(_, _))),
                 '$v2l'(V, Ts)
               ], Terms).

% The most general term of each Name/Arity of a conjunction.
declared_terms(D, Goal, _) :- var(D), !,
        illarg(var, Goal, 1).
declared_terms((D1, D2), Goal, Ts) :- !,
        declared_terms(D1, Goal, Ts1),
        declared_terms(D2, Goal, Ts2),
        append(Ts1, Ts2, Ts).
declared_terms(N/A, _, [T]) :- atom(N), integer(A), A >= 0, A =< 255, !,
        functor(T, N, A).
declared_terms(D, Goal, _) :-
        illarg(domain(term, attribute_declaration), Goal, 1, D).

term_args([], []).
term_args([T|Ts], Args) :-
        T =.. [_|As],
        term_args(Ts, Args1),
        append(As, Args1, Args).

t2v_clauses([], _, _, []).
t2v_clauses([T|Ts], V, Bit, ['$t2v'(T, V, Bit)|Cs]) :-
        Bit1 is Bit << 1,
        t2v_clauses(Ts, V, Bit1, Cs).

% ---- Compile-time expansion ----

goal_expansion(get_atts(Var, Spec), _, M, M:Exp, []) :-
        declares_attributes(M),
        get_exp(Var, Spec, M, Exp).
goal_expansion(put_atts(Var, Spec), _, M, M:Exp, []) :-
        declares_attributes(M),
        put_exp(Var, Spec, M, Exp).

declares_attributes(M) :-
        atom(M),
        prolog:'$predicate_property'('$v2l'(_, _), _, _, M, M).

get_exp(Var, Spec, _, Exp) :- var(Spec), !,
        Exp = ( '$get_attributes'(Var, V, B),
                (   var(V) -> Spec = []
                ;   '$v2l'(V, L), attributes:atts_subset(L, B, Spec)
                ) ).
get_exp(Var, Spec, M, Exp) :-
        Goal = M:get_atts(Var, Spec),
        partition_spec(Spec, M, Goal, Ps, Ns),
        masks(Ps, Ns, M, Pos, Neg, All),
        get_exp(Pos, Neg, All, Ps, Ns, Var, M, Goal, Exp0),
        % '$bitv'(B) (bit 0) reads the mask itself.
        (   member_('$bitv'(B)-0, Ps) -> Exp = ('$get_attributes'(Var, _, B), Exp0)
        ;   Exp = Exp0
        ).

get_exp(Pos, Neg, All, Ps, Ns, Var, M, Goal, Exp) :-
        (   Pos /\ Neg =\= 0 -> expand_exception(Ps, Ns, Goal)
        ;   Pos =:= 0, Neg =:= 0 -> Exp = '$get_attributes'(Var, _, _)
        ;   Pos =:= 0, Neg =:= All -> Exp = '$get_attributes'(Var, _, 0)
        ;   Pos =:= 0 -> Exp = ('$get_attributes'(Var, _, B), B /\ Neg =:= 0)
        ;   l2v(Ps, M, Template),
            (   Pos \/ Neg =:= All ->
                Exp = ('$get_attributes'(Var, V, B), B = Pos, V = Template)
            ;   PN is Pos \/ Neg,
                Exp = ('$get_attributes'(Var, V, B), B /\ PN =:= Pos, V = Template)
            )
        ).

put_exp(Var, Spec, M, Exp) :-
        Goal = M:put_atts(Var, Spec),
        must_be(Spec, nonvar, put_atts(Var, Spec), 2),
        partition_spec(Spec, M, Goal, Ps, Ns),
        masks(Ps, Ns, M, Pos, Neg, All),
        (   Pos /\ Neg =\= 0 -> expand_exception(Ps, Ns, Goal)
        ;   Pos =:= 0, Neg =:= 0 -> Exp = '$get_attributes'(Var, _, _)
        ;   Pos =:= 0, Neg =:= All -> Exp = '$delete_attributes'(Var)
        ;   put_templates(Ps, Ns, M, Old, New, B, NB),
            (   Pos =:= 0 ->
                NotNeg is \Neg,
                Exp = (   '$get_attributes'(Var, V, B), NB is B /\ NotNeg, NB =\= B ->
                          V = Old, '$put_attributes'(Var, New)
                      ;   true
                      )
            ;   Pos \/ Neg =:= All ->
                NB = Pos,
                Exp = '$put_attributes'(Var, New)
            ;   Neg =:= 0 ->
                Exp = ('$get_attributes'(Var, V, B), NB is B \/ Pos, V = Old, '$put_attributes'(Var, New))
            ;   NotNeg is \Neg,
                Exp = ('$get_attributes'(Var, V, B), NB is B /\ NotNeg \/ Pos, V = Old, '$put_attributes'(Var, New))
            )
        ).

% partition_spec(Spec, Module, Goal, Positive, Negative): the items of a
% access list (one item or a list of them) as Term-Bit pairs, checked against
% the module's declaration.
partition_spec(Spec, M, Goal, Ps, Ns) :-
        (   nonvar(Spec), Spec = [_|_] ->
            must_be(Spec, proper_list, Goal, 2),
            Items = Spec
        ;   Spec == [] -> Items = []
        ;   Items = [Spec]
        ),
        partition_spec(Items, M, Goal, Ps, [], Ns, []).

partition_spec([], _, _, Ps, Ps, Ns, Ns).
partition_spec([I|Is], M, Goal, Ps0, Ps, Ns0, Ns) :-
        (   var(I) -> illarg(var, Goal, 2)
        ;   I = +T -> sanity(T, +, M, Goal, Bit), Ps0 = [T-Bit|Ps1], Ns0 = Ns1
        ;   I = -T -> sanity(T, -, M, Goal, Bit), Ns0 = [T-Bit|Ns1], Ps0 = Ps1
        ;   sanity(I, +, M, Goal, Bit), Ps0 = [I-Bit|Ps1], Ns0 = Ns1
        ),
        partition_spec(Is, M, Goal, Ps1, Ps, Ns1, Ns).

% sanity(Item, Sign, Module, Goal, Bit): Item is a declared attribute of
% Module.  Only the name and arity of an item count; in a negative item a
% bare name also stands for the attribute of that name (-b for b/2).
sanity(T, Sign, M, Goal, Bit) :-
        (   callable(T), functor(T, N, A), functor(G, N, A), M:'$t2v'(G, _, Bit0) -> Bit = Bit0
        ;   Sign == (-), atom(T), M:'$v2l'(_, Declared), member_(G, Declared), functor(G, T, _) ->
            M:'$t2v'(G, _, Bit)
        ;   M:'$v2l'(_, Declared),
            illarg(domain(term, one_of(Declared)), Goal, 2, T)
        ).

masks(Ps, Ns, M, Pos, Neg, All) :-
        bits(Ps, 0, Pos),
        bits(Ns, 0, Neg),
        all_mask(M, All).

bits([], B, B).
bits([_-Bit|Is], B0, B) :-
        B1 is B0 \/ Bit,
        bits(Is, B1, B).

% all_mask(Module, All): the bits of every declared attribute.
all_mask(M, All) :-
        M:'$v2l'(_, Ts),
        length(Ts, N),
        All is (1 << N) - 1.

% The clash of a positive and a negative item of the same attribute.
expand_exception(Ps, Ns, Goal) :-
        member_(A-Bit, Ps),
        member_(B-Bit, Ns), !,
        illarg(consistency(+A, -B, clash), Goal, 2).

member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).

% l2v(Positive, Module, Template): a v-term whose positions for the
% positive items hold their arguments.
l2v(Ps, M, V) :-
        M:'$v2l'(V, Ts),
        fill(Ts, 1, Ps).

fill([], _, _).
fill([T|Ts], Bit, Ps) :-
        (   member_(I-Bit, Ps) -> T = I
        ;   true
        ),
        Bit1 is Bit << 1,
        fill(Ts, Bit1, Ps).

% put_templates(Positive, Negative, Module, Old, New, Mask, NewMask): two
% v-terms sharing the positions of the attributes not mentioned; New's
% positions of the positive items hold their arguments.
put_templates(Ps, Ns, M, Old, New, B, NB) :-
        M:'$v2l'(Old, OTs),
        M:'$v2l'(New, NTs),
        arg(1, Old, B),
        arg(1, New, NB),
        share(OTs, NTs, 1, Ps, Ns).

share([], [], _, _, _).
share([O|Os], [N|Ns], Bit, Ps, Negs) :-
        (   member_(I-Bit, Ps) -> N = I
        ;   member_(_-Bit, Negs) -> true
        ;   O = N
        ),
        Bit1 is Bit << 1,
        share(Os, Ns, Bit1, Ps, Negs).

% atts_subset(Terms, Mask, Present): the terms whose bit is set in Mask.
atts_subset([], _, []).
atts_subset([T|Ts], B, S) :-
        (   B /\ 1 =:= 1 -> S = [T|S1]
        ;   S = S1
        ),
        B1 is B >> 1,
        atts_subset(Ts, B1, S1).
