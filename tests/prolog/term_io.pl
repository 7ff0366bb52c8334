% Term input and output: writeq then read gives the same term for a table
% of tricky terms (through a code stream and through a file), the texts
% the writers give, write_term's options, read_term's options and syntax
% errors, term_to_atom/2, op/3 and current_op/3, and the ISO errors.

:- use_module(library(codesio)).

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% text(Goal, Atom): what Goal writes to the current output.
text(G, A) :- with_output_to_codes(G, Cs), atom_codes(A, Cs).

% variant(A, B): the same term up to the names of its variables.
variant(A, B) :-
        \+ \+ ( copy_term(A, A1), copy_term(B, B1),
                term_variables(A1, Vs), term_variables(B1, Ws),
                bind_numbered(Vs, 0), bind_numbered(Ws, 0),
                A1 == B1 ).
bind_numbered([], _).
bind_numbered([V|Vs], N) :- V = '$v'(N), N1 is N + 1, bind_numbered(Vs, N1).

% ---- Round trips ----

rt(T) :- rts(Ts), member_(T, Ts).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

rts([
    -,
    - (a + b),
    - (a :- b),
    - (- (a + b)),
    dynamic((a, b)),
    - {a},
    - [a],
    \+ [a],
    - (1) + 2,
    - (1 + 2),
    - 1,
    -(1),
    -1,
    - (-1),
    -(-(1)),
    -(-(a)),
    a - -1,
    a - (-1),
    1 - -1,
    1 - (-(1)),
    2 ** -1,
    -(1) ^ 2,
    (-1) ^ 2,
    -(1 ^ 2),
    -(a) ^ 2,
    f(:-),
    f(:-, -, +, *),
    [:-, -, '|', ','],
    - (:-),
    (:-) - (:-),
    \+ (a, b),
    - (a, b),
    \+ (-),
    [a|b],
    [a, b|c],
    [],
    '[]',
    {},
    '{}'(x),
    {a, b},
    {(a :- b)},
    '\n',
    'a\nb\tc',
    'don''t',
    '\\',
    'a\\b',
    '',
    ' ',
    'hello world',
    'Abc',
    '_abc',
    '1abc',
    '.',
    '/*',
    f('$VAR'(foo)),
    '$VAR'(-1),
    '$VAR'('A'),
    '$VAR'(1, 2),
    '\x1\',
    '\x0\',
    'éü€',
    f(a, -1, - 1, -(-1), 1.5, -2.5e-10, 1.0e300),
    f(X, Y, X),
    (a :- b, c ; d -> e ; \+ f),
    ((a :- b) :- c),
    (a , b) , c,
    a = (b = c),
    (a = b) = c,
    1 - (2 - 3),
    (1 - 2) - 3,
    2 ^ 3 ^ 4,
    (2 ^ 3) ^ 4,
    - - - a,
    a * (b + c) * d,
    f((a , b)),
    f((a :- b)),
    [(a :- b), (c, d)],
    p :- (a ; b),
    X is 1 + 2 * 3 mod 4,
    a:b:c,
    (a:b):c,
    f(;, '|', '[]', {}, !),
    - a,
    - (- a),
    1 + -2,
    1 + (- 2),
    f(- (1)),
    123456789012345678901234567890,
    -123456789012345678901234567890,
    0.1,
    -0.0
]).

round_trip(T, Back) :-
        with_output_to_codes(writeq(T), Cs),
        append(Cs, " .", Text),
        open_codes_stream(Text, S),
        read(S, Back),
        close(S).

% The terms whose text does not read back as themselves.
expect(round_trip_code_stream, T-Text,
       ( rt(T), round_trip(T, Back), \+ variant(T, Back), text(writeq(T), Text) ), []).

% The same through a file, all terms in one file, read back in order.
test(round_trip_file) :-
        rts(Ts),
        open('term_io_round_trip', write, W, [encoding('UTF-8')]),
        write_all(Ts, W),
        close(W),
        open('term_io_round_trip', read, R, [encoding('UTF-8')]),
        read_all(R, Back),
        close(R),
        same_terms(Ts, Back).

write_all([], _).
write_all([T|Ts], S) :- writeq(S, T), write(S, ' .'), nl(S), write_all(Ts, S).

read_all(S, Ts) :-
        read(S, T),
        (   T == end_of_file -> Ts = [] ; Ts = [T|Ts1], read_all(S, Ts1) ).

same_terms([], []).
same_terms([T|Ts], [B|Bs]) :-
        (   variant(T, B) -> true
        ;   format(user_error, "wrote ~q, read ~q~n", [T, B]), fail
        ),
        same_terms(Ts, Bs).

% write_canonical reads back too (no operators, quoted, '$VAR' as it is).
expect(round_trip_canonical, T,
       ( rt(T), with_output_to_codes(write_canonical(T), Cs), append(Cs, " .", Text),
         open_codes_stream(Text, S), read(S, Back), close(S), \+ variant(T, Back) ), []).

% ---- Texts ----

wq(- (1), '- 1').
wq(-(-(1)), '- - 1').
wq(-(-1), '- -1').
wq(-1, '-1').
wq(1 - -1, '1- -1').
wq(a - -1, 'a- -1').
wq(a - (-a), 'a- -a').
wq(-(a), '-a').
wq(-(1 ^ 2), '- 1^2').
wq(\+ (a, b), '\\+ (a,b)').
wq(- (a, b), '- (a,b)').
wq(f(:-), 'f(:-)').
wq((:-) - a, '(:-)-a').
wq(dynamic((a, b)), 'dynamic a,b').
wq(- (-), '-(-)').
wq(- (a + b), '-(a+b)').
wq(- (a :- b), '- (a:-b)').
wq(\+ (-), '\\+(-)').
wq(- {a}, '-{a}').
wq(- [a], '-[a]').
wq(\+ [a], '\\+[a]').
wq(- (- a), '- -a').
wq(- (- (- a)), '- - -a').
wq(1 ^ (-1), '1^ -1').
wq(1 - (- (1)), '1- - 1').
wq([a|b], '[a|b]').
wq([a, b, c], '[a,b,c]').
wq({a, b}, '{a,b}').
wq('\n', '\'\\n\'').
wq('don''t', '\'don\\\'t\'').
wq('a\\b', '\'a\\\\b\'').
wq('\x1\', '\'\\x1\\\'').
wq('hello world', '\'hello world\'').
wq([], '[]').
wq('{}', '{}').
wq(!, '!').
wq(;, ';').
wq('.', '\'.\'').
wq('[ ]', '\'[ ]\'').
wq('$VAR'(0), 'A').
wq('$VAR'(25), 'Z').
wq('$VAR'(26), 'A1').
wq('$VAR'(53), 'B2').
wq('$VAR'(x), '\'$VAR\'(x)').
wq((a :- b, c), 'a:-b,c').
wq((a , b), 'a,b').
wq(f((a , b)), 'f((a,b))').
wq(1 + 2 * 3, '1+2*3').
wq((1 + 2) * 3, '(1+2)*3').
wq(1 - (2 - 3), '1-(2-3)').
wq(2 ^ 3 ^ 4, '2^3^4').
wq((2 ^ 3) ^ 4, '(2^3)^4').
wq(X is Y mod 2, 'A is B mod 2') :- X = '$VAR'(0), Y = '$VAR'(1).
wq(f(a;b), 'f((a;b))').
wq([a:-b], '[(a:-b)]').
wq(1.0, '1.0').
wq(0.1, '0.1').
wq(100.0, '100.0').
wq(12345.0, '12345.0').
wq(1.0e10, '1.0E+10').
wq(1.0e-5, '1.0E-05').
wq(-2.5, '-2.5').
wq(123456789012345678901234567890, '123456789012345678901234567890').

expect(writeq_texts, T-Got, ( wq(T, Want), text(writeq(T), Got), Got \== Want ), []).

wr(write('hello world'), 'hello world').
wr(write('don''t'), 'don\'t').
wr(write([a, 'B c'|'D']), '[a,B c|D]').
wr(write(f('$VAR'(1))), 'f(B)').
wr(write(- (1)), '- 1').
wr(print(f('$VAR'(2), 'x y')), 'f(C,\'x y\')').
wr(write_canonical(f('$VAR'(1), 'x y', [a], - (1), 1 + 2, {a})), 'f(\'$VAR\'(1),\'x y\',[a],-(1),+(1,2),{a})').
wr(write_canonical((a :- b, c)), ':-(a,\',\'(b,c))').
wr(write_term(f(X, Y, X), [variable_names(['X' = X, 'Y' = Y])]), 'f(X,Y,X)').
wr(write_term('a b'+'$VAR'(1), [quoted(true)]), '\'a b\'+\'$VAR\'(1)').
wr(write_term('a b'+'$VAR'(1), [quoted(true), numbervars(true)]), '\'a b\'+B').
wr(write_term(1 + 2, [ignore_ops(true)]), '+(1,2)').
wr(write_term([1, 2], [ignore_ops(true)]), '[1,2]').
wr(write_term(f(g(h(i(j)))), [max_depth(3)]), 'f(g(h(...)))').
wr(write_term([a, b, c, d, e], [max_depth(3)]), '[a,b,c|...]').
wr(write_term([a, b, c], [max_depth(3)]), '[a,b,c]').
wr(write_term(f(a), [max_depth(0)]), 'f(a)').
wr(write_term('\xE9\', [quoted(true)]), '\xE9\').
wr((set_prolog_flag(quoted_charset, portable),
    write_term('\xE9\', [quoted(true)]),
    set_prolog_flag(quoted_charset, prolog)), '\'\\xE9\\\'').
wr(write_term(f(x), [portray(true)]), 'f(<x>)').
wr(print([x, y]), '[<x>,y]').

portray(x) :- write('<x>').

expect(writer_texts, G-Got, ( wr(G, Want), text(G, Got), Got \== Want ), []).

% ---- write_term/2,3 and write/2 errors ----

werr(write_term(a, foo), type_error(list, foo)).
werr(write_term(a, [foo]), domain_error(write_option, foo)).
werr(write_term(a, [quoted(maybe)]), domain_error(write_option, quoted(maybe))).
werr(write_term(a, [max_depth(-1)]), domain_error(write_option, max_depth(-1))).
werr(write_term(a, [_]), instantiation_error).
werr(write_term(a, [quoted(true)|_]), instantiation_error).
werr(write_term(_, a, []), instantiation_error).
werr(write_term(foo, a, []), existence_error(stream, foo)).
werr(write_term(1, a, []), domain_error(stream_or_alias, 1)).
werr(write(user_input, a), permission_error(output, stream, user_input)).
werr(writeq(user_input, a), permission_error(output, stream, user_input)).
werr(write_canonical(foo, a), existence_error(stream, foo)).
werr(print(_, a), instantiation_error).
werr(nl(user_input), permission_error(output, stream, user_input)).
expect(write_errors, G-F, ( werr(G, Want), error_of(G, F), F \= Want ), []).

test(write_to_a_binary_stream_refused) :-
        open('term_io_binary', write, S, [type(binary)]),
        error_of(write(S, a), F),
        close(S),
        F = permission_error(output, binary_stream, S).

% ---- read/1,2 and read_term/2,3 ----

read_text(Text, Opts, T) :-
        open_codes_stream(Text, S),
        call_cleanup(read_term(S, T, Opts), close(S)).

expect(read_options, [T, Vs, Ns, Ss],
       read_text("f(X, _Y, Z, X, _) .", [variables(Vs), variable_names(Ns), singletons(Ss)], T),
       [[f(_, _, _, _, _), [_, _, _, _], ['X' = _, '_Y' = _, 'Z' = _], ['_Y' = _, 'Z' = _]]]).
test(read_options_share_variables) :-
        read_text("f(X, Y, X).", [variables(Vs), variable_names(['X' = A, 'Y' = B])], T),
        T = f(P, Q, R), P == A, R == A, Q == B, Vs == [A, B].
expect(read_end_of_file, T, read_text("  % only a comment\n", [], T), [end_of_file]).
expect(read_two_terms, [A, B, C],
       ( open_codes_stream("a. 'b c'.\nf(\n  x).", S), read(S, A), read(S, B), read(S, C), close(S) ),
       [[a, 'b c', f(x)]]).
test(read_from_current_input) :-
        open_codes_stream("hello(world). ", S),
        current_input(Old), set_input(S),
        read(T), read(E),
        set_input(Old), close(S),
        T == hello(world), E == end_of_file.

% A syntax error leaves the stream after the faulty clause.
test(read_syntax_error_then_next) :-
        open_codes_stream("foo(. bar.", S),
        catch(read(S, _), error(syntax_error(_), stream(S1, 1)), true),
        S1 == S,
        read(S, T),
        close(S),
        T == bar.

expect(read_syntax_errors_option, [M, T],
       ( open_codes_stream("a b. c.", S),
         (   read_term(S, T0, [syntax_errors(quiet)]) -> M = read(T0) ; M = failed ),
         read(S, T), close(S) ),
       [[failed, c]]).
% dec10 reports the error (on user_error) and reads the next term.
test(read_syntax_errors_dec10) :-
        open_codes_stream("a b. c.", S),
        read_term(S, T, [syntax_errors(dec10)]),
        close(S),
        T == c.

test(read_flag_syntax_errors_fail) :-
        set_prolog_flag(syntax_errors, quiet),
        open_codes_stream("a b. c.", S),
        (   read(S, _) -> R = read ; R = failed ),
        set_prolog_flag(syntax_errors, error),
        close(S),
        R == failed.

test(read_past_end_of_stream) :-
        open_codes_stream("", S),
        read(S, end_of_file),
        error_of(read(S, _), F),
        close(S),
        F = permission_error(input, past_end_of_stream, S).

rerr(read(_, _), instantiation_error).
rerr(read(foo, _), existence_error(stream, foo)).
rerr(read(user_output, _), permission_error(input, stream, user_output)).
rerr(read_term(user_input, _, foo), type_error(list, foo)).
rerr(read_term(user_input, _, [foo]), domain_error(read_option, foo)).
rerr(read_term(user_input, _, [_]), instantiation_error).
rerr(read_term(_, [syntax_errors(x)]), domain_error(read_option, syntax_errors(x))).
expect(read_errors, G-F, ( rerr(G, Want), error_of(G, F), F \= Want ), []).

syn("f(a").
syn("f(a,).").
syn("a b.").
syn("[a|].").
syn("'abc").
syn("0'").
syn(")").
syn("f(,a).").
syn("f(a b).").
syn("a :- :- b.").
expect(syntax_errors_raised, Text-F,
       ( syn(Text), error_of(read_text(Text, [], _), F), F \= syntax_error(_) ), []).

% ---- term_to_atom/2 ----

test(term_to_atom_out) :-
        term_to_atom(f(X, 'b c', [1], "s", X), A),
        atom_concat('f(', Rest, A),
        atom_concat(V, Tail, Rest), atom_concat(',\'b c\',[1],[115],', V1, Tail),
        atom_concat(V, ')', V1),
        atom_concat('_', _, V).
test(term_to_atom_vars_shared) :- term_to_atom(T, 'f(X, Y, X)'), T = f(A, B, C), A == C, A \== B.
expect(term_to_atom_in, T, term_to_atom(T, 'foo(bar, - 1, "ab")'), [foo(bar, -(1), [97, 98])]).
test(term_to_atom_check) :- term_to_atom(f(a), 'f(a)'), \+ term_to_atom(f(b), 'f(a)').
tta_err(term_to_atom(_, 1), type_error(atom, 1)).
tta_err(term_to_atom(_, 'f('), syntax_error(_)).
tta_err(term_to_atom(_, 'a. b'), syntax_error(_)).
tta_err(term_to_atom(_, ''), syntax_error(_)).
expect(term_to_atom_errors, G-F, ( tta_err(G, Want), error_of(G, F), F \= Want ), []).

% ---- op/3 and current_op/3 ----

test(op_defines_and_writes) :-
        op(700, xfx, ===>),
        term_to_atom(T, 'a ===> b'), T == ===>(a, b),
        text(writeq(T), 'a===>b'),
        current_op(P, Ty, ===>), P == 700, Ty == xfx,
        op(0, xfx, ===>),
        \+ current_op(_, _, ===>),
        text(writeq(T), '===>(a,b)').
test(op_alpha_operator_spacing) :-
        op(700, xfx, likes),
        text(writeq(likes(a, b)), 'a likes b'),
        op(0, xfx, likes).
test(op_prefix_user) :-
        op(200, fy, ~~),
        term_to_atom(T, '~~ ~~ a'), T == ~~(~~(a)),
        text(writeq(T), '~~ ~~a'),
        op(0, fy, ~~).
expect(current_op_standard, [P, T], current_op(P, T, :-), [[1200, xfx], [1200, fx]]).
test(current_op_enumerates) :-
        prolog:'$bb_put'(user, ops, 0),
        (   current_op(_, _, _), prolog:'$bb_get'(user, ops, K), K1 is K + 1,
            prolog:'$bb_put'(user, ops, K1), fail
        ;   prolog:'$bb_get'(user, ops, L), L > 30
        ).

operr(op(_, xfx, foo), instantiation_error).
operr(op(1201, xfx, foo), domain_error(operator_priority, 1201)).
operr(op(200, yfy, foo), domain_error(operator_specifier, yfy)).
operr(op(200, xfx, 1), type_error(list, 1)).
operr(op(200, xfx, [a, 1]), type_error(atom, 1)).
operr(op(200, xfx, ','), permission_error(modify, operator, ',')).
operr(current_op(1201, _, _), domain_error(operator_priority, 1201)).
operr(current_op(_, yfy, _), domain_error(operator_specifier, yfy)).
operr(current_op(_, _, 1), type_error(atom, 1)).
expect(op_errors, G-F, ( operr(G, Want), error_of(G, F), F \= Want ), []).

% ---- The native writer's checks ----

% An options term shorter than the writer reads counts as no options; a
% float format that is not two small integers is the default one.
native_write(T, O, Text) :-
        with_output_to_codes(( current_output(S), S = '$stream'(A), prolog:'$write'(A, T, O) ), Cs),
        atom_codes(Text, Cs).
opts(Q, F, '$wopt'(Q, false, false, false, 0, [], [], prolog, F)).
nw(1, 'a b', f(true), 'a b').
nw(2, 'a b', '$wopt'(true), 'a b').
nw(3, 'a b', true, 'a b').
nw(4, 'a b', [], 'a b').
nw(5, 1.5, O, '1.5') :- opts(false, foo, O).
nw(6, 1.5, O, '1.5') :- opts(false, float_format(a, b), O).
nw(7, 1.5, O, '1.50e+00') :- opts(false, float_format(0'e, 2), O).
nw(8, 'a b', O, '\'a b\'') :- opts(true, float_format(0'H, 3), O).
expect(native_write_options, K-Text, ( nw(K, T, O, Want), native_write(T, O, Text), Text \== Want ), []).
test(native_write_bad_stream) :-
        catch(prolog:'$write'(user_input, a, []), error(E, _), true), E = permission_error(output, stream, _),
        catch(prolog:'$display'(no_stream, a), error(E2, _), true), nonvar(E2).
