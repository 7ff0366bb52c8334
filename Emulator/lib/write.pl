% Term output: write/1,2, print/1,2, writeq/1,2, write_canonical/1,2 and
% write_term/2,3, and op/3 and current_op/3.
%
% The writer walks the term and decides operators, brackets and spacing;
% '$write'/3 writes the principal part of one node (a variable's name, a
% number, an atom quoted or not, a functor's name) and '$display'/2 an
% atom's text as it is.  Both take the stream's address.
%
% Options travel as one term, which '$write'/3 reads too (its arguments
% 1, 8 and 9):
%   '$wopt'(Quoted, IgnoreOps, NumberVars, Portray, MaxDepth, VarNames,
%           Ops, QuotedCharset, float_format(0'H, 3))
% where Ops is the operator table, fetched once per write.
%
% Spacing: every token is written with the class of its first and of its
% last character: a (letters, digits, _), d (a number starting with a
% digit), s (symbol characters), q (a quoted atom), o (an opening
% bracket that must not follow a prefix operator directly), p (other
% punctuation), and a space goes between two tokens that would otherwise
% read as one (two names, two symbol atoms, two quoted atoms).  After a
% prefix operator a space also goes before a bracket around a term of
% priority 1000 or more (else the operator would read as a functor of
% that many arguments) and, after - and +, before a number (else the sign
% would join it).

% ---- The predicates ----

write(T) :- current_output(S), write_(S, T, write(T), 0, false, true, false).
write(S, T) :- write_(S, T, write(S, T), 1, false, true, false).

writeq(T) :- current_output(S), write_(S, T, writeq(T), 0, true, true, false).
writeq(S, T) :- write_(S, T, writeq(S, T), 1, true, true, false).

print(T) :- current_output(S), write_(S, T, print(T), 0, true, true, true).
print(S, T) :- write_(S, T, print(S, T), 1, true, true, true).

write_canonical(T) :- current_output(S), write_canonical_(S, T, write_canonical(T), 0).
write_canonical(S, T) :- write_canonical_(S, T, write_canonical(S, T), 1).

write_(S, T, G, N, Quoted, NumberVars, Portray) :-
        output_of_kind(text, S, G, N, A),
        wr_charset(Cs),
        wr_top(T, A, '$wopt'(Quoted, false, NumberVars, Portray, 0, [], [], Cs, float_format(0'H, 3))).

write_canonical_(S, T, G, N) :-
        output_of_kind(text, S, G, N, A),
        wr_charset(Cs),
        wr_top(T, A, '$wopt'(true, true, false, false, 0, [], [], Cs, float_format(0'H, 3))).

write_term(T, Opts) :-
        current_output(S),
        write_term_(S, T, Opts, write_term(T, Opts), 0).
write_term(S, T, Opts) :-
        write_term_(S, T, Opts, write_term(S, T, Opts), 1).

% The errors in ISO's order: an unbound stream or options list first,
% then the stream, then the options.
write_term_(S, T, Opts, G, N) :-
        N1 is N + 2,
        (   N > 0, var(S) -> illarg(var, G, N) ; true ),
        (   partial_list(Opts) -> illarg(var, G, N1) ; true ),
        output_of_kind(text, S, G, N, A),
        must_be(Opts, list, G, N1),
        wr_charset(Cs),
        wr_options(Opts, G, N1, '$wopt'(false, false, false, false, 0, [], [], Cs, float_format(0'H, 3)), O),
        wr_top(T, A, O).

wr_charset(Cs) :- '$quoted_charset_flag'(Cs, Cs).

wr_options([], _, _, O, O).
wr_options([X|Xs], G, N, O0, O) :-
        (   var(X) -> illarg(var, G, N)
        ;   wr_option(X, O0, O1) -> wr_options(Xs, G, N, O1, O)
        ;   illarg(domain(_, write_option), G, N, X)
        ).

wr_option(quoted(B), '$wopt'(_, I, V, P, D, N, M, C, F), '$wopt'(B, I, V, P, D, N, M, C, F)) :- wr_boolean(B).
wr_option(ignore_ops(B), '$wopt'(Q, _, V, P, D, N, M, C, F), '$wopt'(Q, B, V, P, D, N, M, C, F)) :- wr_boolean(B).
wr_option(numbervars(B), '$wopt'(Q, I, _, P, D, N, M, C, F), '$wopt'(Q, I, B, P, D, N, M, C, F)) :- wr_boolean(B).
wr_option(portray(B), '$wopt'(Q, I, V, _, D, N, M, C, F), '$wopt'(Q, I, V, B, D, N, M, C, F)) :- wr_boolean(B).
wr_option(max_depth(D), '$wopt'(Q, I, V, P, _, N, M, C, F), '$wopt'(Q, I, V, P, D, N, M, C, F)) :-
        integer(D), D >= 0.
wr_option(variable_names(N), '$wopt'(Q, I, V, P, D, _, M, C, F), '$wopt'(Q, I, V, P, D, N, M, C, F)) :-
        proper_list(N), wr_var_names(N).

wr_boolean(B) :- atom(B), ( B == true ; B == false ), !.

wr_var_names([]).
wr_var_names([E|Es]) :- nonvar(E), E = (Name = _), atom(Name), wr_var_names(Es).

% ---- The walker ----

% The operator table is looked up once per write (argument 7).
% A variable is named by its place on the heap, which a collection
% changes: while a term with variables is written, collections wait (the
% deferral ends with the choicepoint of the if-then-else, however the
% write ends).
wr_top(T, A, O) :-
        (   ground(T) -> wr_top_(T, A, O)
        ;   '$defer_gc', wr_top_(T, A, O) -> '$resume_gc'
        ;   wr_failed
        ).

wr_failed :- fail.

wr_top_(T, A, '$wopt'(Q, I, V, P, D, N, _, C, F)) :-
        (   I == true -> Ops = [] ; '$current_ops'(Ops) ),
        wr(T, 1200, 1, '$wopt'(Q, I, V, P, D, N, Ops, C, F), A, p, _), !.

% wr(Term, Priority, Depth, Options, Stream, Before, After): Term in a
% context that allows Priority; Before and After are the spacing classes
% of the last token written before and after it.
wr(T, _, _, O, A, P0, P) :- var(T), !, wr_var(T, O, A, P0, P).
wr(_, _, D, O, A, P0, P) :- wr_too_deep(D, O), !, wr_tok(A, '...', s, s, P0, P).
wr(T, _, _, O, A, _, p) :- arg(4, O, true), wr_portray(T, A), !.
wr(T, _, _, O, A, P0, P) :- atomic(T), !, wr_atomic(T, O, A, P0, P).
wr('$VAR'(N), _, _, O, A, P0, P) :- arg(3, O, true), integer(N), N >= 0, !,
        wr_var_name(N, Name),
        wr_tok(A, Name, a, a, P0, P).
wr([H|T], _, D, O, A, P0, P) :- !,
        wr_tok(A, '[', p, p, P0, P1),
        D1 is D + 1,
        wr(H, 999, D1, O, A, P1, P2),
        wr_tail(T, 2, D1, O, A, P2, P3),
        wr_tok(A, ']', p, p, P3, P).
wr({X}, _, D, O, A, P0, P) :- !,
        D1 is D + 1,
        wr_tok(A, '{', p, p, P0, P1),
        wr(X, 1200, D1, O, A, P1, P2),
        wr_tok(A, '}', p, p, P2, P).
wr(T, Prio, D, O, A, P0, P) :- arg(2, O, false), wr_op_term(T, Prio, D, O, A, P0, P), !.
wr(T, _, D, O, A, P0, P) :-
        functor(T, F, N),
        wr_atom(F, O, A, P0, _),
        wr_tok(A, '(', p, p, fn, P2),
        D1 is D + 1,
        arg(1, T, X),
        wr(X, 999, D1, O, A, P2, P3),
        wr_args(2, N, T, D1, O, A, P3, P4),
        wr_tok(A, ')', p, p, P4, P).

wr_args(I, N, _, _, _, _, P, P) :- I > N, !.
wr_args(I, N, T, D, O, A, P0, P) :-
        wr_tok(A, ',', p, p, P0, P1),
        arg(I, T, X),
        wr(X, 999, D, O, A, P1, P2),
        I1 is I + 1,
        wr_args(I1, N, T, D, O, A, P2, P).

% The tail of a list whose K-th element comes next.
wr_tail(T, _, _, O, A, P0, P) :- var(T), !,
        wr_tok(A, '|', p, p, P0, P1),
        wr_var(T, O, A, P1, P).
wr_tail([], _, _, _, _, P, P) :- !.
wr_tail([H|T], K, D, O, A, P0, P) :- !,
        (   arg(5, O, Max), Max > 0, K > Max ->
            wr_tok(A, '|', p, p, P0, P1),
            wr_tok(A, '...', s, s, P1, P)
        ;   wr_tok(A, ',', p, p, P0, P1),
            wr(H, 999, D, O, A, P1, P2),
            K1 is K + 1,
            wr_tail(T, K1, D, O, A, P2, P)
        ).
wr_tail(T, _, D, O, A, P0, P) :-
        wr_tok(A, '|', p, p, P0, P1),
        wr(T, 999, D, O, A, P1, P).

wr_too_deep(D, O) :- arg(5, O, Max), Max > 0, D > Max.

% A user's portray/1 that succeeds has written the term.
wr_portray(T, A) :-
        '$fast_goal'(portray(_), user),
        current_output(Old),
        S = '$stream'(A),
        set_output(S),
        (   catch(user:portray(T), E, (set_output(Old), throw(E))) ->
            set_output(Old)
        ;   set_output(Old),
            fail
        ).

% ---- Operators ----

wr_op_term(T, Prio, D, O, A, P0, P) :-
        compound(T),
        functor(T, F, N),
        D1 is D + 1,
        arg(7, O, Ops),
        (   N =:= 2, op_lookup_infix(Ops, F, OP, L, R) ->
            arg(1, T, X), arg(2, T, Y),
            wr_open(OP, Prio, A, P0, P1),
            wr_operand(X, L, D1, O, A, P1, P2),
            wr_infix_name(F, O, A, P2, P3),
            wr_operand(Y, R, D1, O, A, P3, P4),
            wr_close(OP, Prio, A, P4, P)
        ;   N =:= 1, op_lookup_prefix(Ops, F, OP, R), F \== '-', F \== '+' ->
            arg(1, T, X),
            wr_open(OP, Prio, A, P0, P1),
            wr_atom(F, O, A, P1, P2),
            wr_prefix_state(P2, P3),
            wr_operand(X, R, D1, O, A, P3, P4),
            wr_close(OP, Prio, A, P4, P)
        ;   N =:= 1, op_lookup_prefix(Ops, F, OP, R) ->
            arg(1, T, X),
            wr_open(OP, Prio, A, P0, P1),
            wr_atom(F, O, A, P1, _),
            wr_operand(X, R, D1, O, A, sign, P4),
            wr_close(OP, Prio, A, P4, P)
        ;   N =:= 1, op_lookup_postfix(Ops, F, OP, L) ->
            arg(1, T, X),
            wr_open(OP, Prio, A, P0, P1),
            wr_operand(X, L, D1, O, A, P1, P2),
            wr_atom(F, O, A, P2, P3),
            wr_close(OP, Prio, A, P3, P)
        ).

wr_prefix_state(C, pre(C)).

% A bracket around a term of priority 1000 or more directly after a prefix
% operator would read as the operator's argument list: class o asks for
% a space there; other brackets read the same either way.
wr_open(OP, Prio, A, P0, P) :- OP > Prio, !,
        (   OP >= 1000 -> C = o ; C = p ),
        wr_tok(A, '(', C, p, P0, P).
wr_open(_, _, _, P, P).

wr_close(OP, Prio, A, P0, P) :- OP > Prio, !, wr_tok(A, ')', p, p, P0, P).
wr_close(_, _, _, P, P).

% An operand that is itself an operator atom is bracketed.
wr_operand(X, _, _, O, A, P0, P) :- atom(X), arg(7, O, Ops), op_member(op(_, _, X), Ops), !,
        wr_tok(A, '(', p, p, P0, P1),
        wr_atom(X, O, A, P1, P2),
        wr_tok(A, ')', p, p, P2, P).
wr_operand(X, Prio, D, O, A, P0, P) :- wr(X, Prio, D, O, A, P0, P).

% The comma operator is written as punctuation, others as atoms.
wr_infix_name(',', _, A, P0, P) :- !, wr_tok(A, ',', p, p, P0, P).
wr_infix_name('|', _, A, P0, P) :- !, wr_tok(A, '|', p, p, P0, P).
wr_infix_name(F, O, A, P0, P) :- wr_atom(F, O, A, P0, P).

op_lookup_infix(Ops, F, P, L, R) :-
        op_member(op(P, T, F), Ops), infix_type(T, P, L, R), !.
op_lookup_prefix(Ops, F, P, R) :-
        op_member(op(P, T, F), Ops), prefix_type(T, P, R), !.
op_lookup_postfix(Ops, F, P, L) :-
        op_member(op(P, T, F), Ops), postfix_type(T, P, L), !.

infix_type(xfx, P, L, R) :- L is P - 1, R is P - 1.
infix_type(xfy, P, L, P) :- L is P - 1.
infix_type(yfx, P, P, R) :- R is P - 1.
prefix_type(fy, P, P).
prefix_type(fx, P, R) :- R is P - 1.
postfix_type(yf, P, P).
postfix_type(xf, P, L) :- L is P - 1.

% '$current_op'(?Priority, ?Type, ?Name): the operator table.
'$current_op'(P, T, N) :-
        '$current_ops'(L),
        op_member(op(P, T, N), L).

op_member(X, [X|_]).
op_member(X, [_|T]) :- op_member(X, T).

% ---- Tokens ----

wr_atomic(T, O, A, P0, P) :- atom(T), !, wr_atom(T, O, A, P0, P).
wr_atomic(T, O, A, P0, P) :-
        '$atom_mode'(T, L0, _),
        (   L0 =:= 2 -> L = s ; L = d ),
        wr_space(P0, L, A),
        '$write'(A, T, O),
        P = a.

wr_atom(T, O, A, P0, P) :-
        '$atom_mode'(T, M, _),
        (   M =:= 1 ->
            (   arg(1, O, true) -> L = q, R = q
            ;   wr_text_classes(T, L, R)
            )
        ;   M =:= 2 -> L = s, R = s
        ;   M =:= 4 -> L = p, R = p
        ;   L = a, R = a
        ),
        wr_space(P0, L, A),
        '$write'(A, T, O),
        (   R == none -> P = P0 ; P = R ).

% The classes of an atom written as it is: its first and last characters.
wr_text_classes(T, L, R) :-
        (   T == '' -> L = none, R = none
        ;   sub_atom(T, 0, 1, _, F), char_code(F, FC), wr_char_class(FC, L),
            sub_atom(T, _, 1, 0, E), char_code(E, EC), wr_char_class(EC, R)
        ).

wr_char_class(C, a) :- C >= 0'a, C =< 0'z, !.
wr_char_class(C, a) :- C >= 0'A, C =< 0'Z, !.
wr_char_class(C, a) :- C >= 0'0, C =< 0'9, !.
wr_char_class(0'_, a) :- !.
wr_char_class(C, a) :- C > 127, !.
wr_char_class(C, s) :- symbol_char(C), !.
wr_char_class(_, p).

symbol_char(0'#). symbol_char(0'$). symbol_char(0'&). symbol_char(0'*).
symbol_char(0'+). symbol_char(0'-). symbol_char(0'.). symbol_char(0'/).
symbol_char(0':). symbol_char(0'<). symbol_char(0'=). symbol_char(0'>).
symbol_char(0'?). symbol_char(0'@). symbol_char(0'^). symbol_char(0'~).
symbol_char(0'\\).

wr_var(V, O, A, P0, P) :-
        arg(6, O, Names),
        (   wr_var_named(Names, V, Name) -> wr_tok(A, Name, a, a, P0, P)
        ;   wr_space(P0, a, A),
            '$write'(A, V, O),
            P = a
        ).

wr_var_named([N = V0|_], V, N) :- V0 == V, !.
wr_var_named([_|Ns], V, N) :- wr_var_named(Ns, V, N).

wr_var_name(N, Name) :-
        L is N mod 26 + 0'A,
        K is N // 26,
        (   K =:= 0 -> atom_codes(Name, [L])
        ;   number_codes(K, Ds), atom_codes(Name, [L|Ds])
        ).

% wr_tok(Stream, Text, First, Last, Before, After)
wr_tok(A, Text, L, R, P0, R) :-
        wr_space(P0, L, A),
        '$display'(A, Text).

wr_space(P0, L, A) :- wr_glue(P0, L), !, '$display'(A, ' ').
wr_space(_, _, _).

% wr_glue(Before, First): the two would read as one token.
wr_glue(a, a).
wr_glue(a, d).
wr_glue(a, q).
wr_glue(s, s).
wr_glue(q, q).
wr_glue(pre(_), o).
wr_glue(pre(C), L) :- wr_glue(C, L).
wr_glue(sign, d).
wr_glue(sign, s).
wr_glue(sign, o).

% ---- Operators: op/3 and current_op/3 ----

op(P, T, Names) :- '$op'(P, T, Names).

current_op(P, T, N) :-
        G = current_op(P, T, N),
        (   var(P) -> true
        ;   integer(P), P >= 0, P =< 1200 -> true
        ;   illarg(domain(_, operator_priority), G, 1)
        ),
        (   var(T) -> true
        ;   atom(T), op_specifier(T) -> true
        ;   illarg(domain(_, operator_specifier), G, 2)
        ),
        (   var(N) -> true
        ;   atom(N) -> true
        ;   illarg(type(atom), G, 3)
        ),
        '$current_op'(P, T, N).

op_specifier(xfx). op_specifier(xfy). op_specifier(yfx).
op_specifier(fy). op_specifier(fx). op_specifier(xf). op_specifier(yf).
