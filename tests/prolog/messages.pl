% Messages: print_message/2 texts on user_error for every kind of ISO
% error and context, the message kinds, the unknown flag's warning, and
% statistics/0's report.

:- use_module(library(codesio)).
:- use_module('modules/stderr_text').

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

msg(error(instantiation_error, context(atom_length(_, _), 1)),
    '! Instantiation error\n! in argument 1 of atom_length/2\n! goal: atom_length(_,_)\n').
msg(error(type_error(atom, 1), context(atom_length(1, 3), 1)),
    '! Type error: expected atom, found 1\n! in argument 1 of atom_length/2\n! goal: atom_length(1,3)\n').
msg(error(domain_error(not_less_than_zero, -1), context(length(_, -1), 2)),
    '! Domain error: expected not_less_than_zero, found -1\n! in argument 2 of length/2\n! goal: length(_,-1)\n').
msg(error(existence_error(procedure, foo/0), foo/0),
    '! Existence error: procedure foo/0 does not exist\n').
msg(error(permission_error(modify, flag, bounded), context(set_prolog_flag(bounded, true), 1)),
    '! Permission error: cannot modify flag bounded\n! in argument 1 of set_prolog_flag/2\n! goal: set_prolog_flag(bounded,true)\n').
msg(error(representation_error(max_arity), context(functor(_, f, 300), 3)),
    '! Representation error: max_arity\n! in argument 3 of functor/3\n! goal: functor(_,f,300)\n').
msg(error(evaluation_error(zero_divisor), context((_ is 1/0), 2)),
    '! Evaluation error: zero_divisor\n! in argument 2 of (is)/2\n! goal: _ is 1/0\n').
msg(error(resource_error(memory), _), '! Resource error: not enough memory\n').
msg(error(system_error('disk on fire'), _), '! System error: disk on fire\n').
msg(error(syntax_error('operator expected'), context(term_to_atom(_, 'a b'), 2)),
    '! Syntax error: operator expected\n! in argument 2 of term_to_atom/2\n! goal: term_to_atom(_,\'a b\')\n').
msg(error(type_error(integer, a), context(halt(a), 0)),
    '! Type error: expected integer, found a\n! in halt/1\n! goal: halt(a)\n').
msg(error(uninstantiation_error(s), context(open(f, read, s), 3)),
    '! Uninstantiation error: expected an unbound variable, found s\n! in argument 3 of open/3\n! goal: open(f,read,s)\n').
msg(error(system_error(x), context(prolog:'$writeq'(1, a), 1)),
    '! System error: x\n! in argument 1 of \'$writeq\'/2\n! goal: prolog:\'$writeq\'(1,a)\n').
msg(error(foo, bar), '! Error: foo\n').
msg(format("value ~w and ~a", [1, b]), '! value 1 and b\n').
msg(unhandled_exception(my_ball), '! Unhandled exception: my_ball\n').
msg(something(else), '! Unknown message: something(else)\n').

expect(error_texts, M-Got, ( msg(M, Want), stderr_text(print_message(error, M), Got), Got \== Want ), []).

% The syntax error of a read names the line of the stream.
test(syntax_error_line) :-
        open_codes_stream("a.\nb.\nc d.\n", S),
        read(S, _), read(S, _),
        catch(read(S, _), E, true),
        close(S),
        stderr_text(print_message(error, E), Text),
        atom_concat('! Syntax error: operator expected\n! in line 3 of ', _, Text).

kind(warning, '* careful\n').
kind(help, 'careful\n').
kind(silent, '').
expect(kinds, K-Got, ( kind(K, Want), stderr_text(print_message(K, format(careful, [])), Got), Got \== Want ), []).

test(informational_follows_the_flag) :-
        current_prolog_flag(informational, Old),
        set_prolog_flag(informational, off),
        stderr_text(print_message(informational, format(note, [])), Off),
        set_prolog_flag(informational, on),
        stderr_text(print_message(informational, format(note, [])), On),
        set_prolog_flag(informational, Old),
        Off == '', On == '% note\n'.

expect(kind_errors, F, ( member_(G, [print_message(_, x), print_message(loud, x)]), error_of(G, F) ),
       [instantiation_error, domain_error(message_kind, loud)]).
member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

% The unknown flag at warning: a warning, then failure.
test(unknown_warning) :-
        set_prolog_flag(unknown, warning),
        stderr_text(( no_such_predicate(1) -> R = succeeded ; R = failed ), Text),
        set_prolog_flag(unknown, error),
        R == failed,
        Text == '* Existence error: procedure no_such_predicate/1 does not exist\n'.

test(print_uncaught_error_and_ball) :-
        stderr_text(prolog:'$print_uncaught'(error(type_error(atom, 1), _)), T1),
        T1 == '! Type error: expected atom, found 1\n',
        stderr_text(prolog:'$print_uncaught'(oops), T2),
        T2 == '! Unhandled exception: oops\n'.

% statistics/0 reports on user_error.
test(statistics_report) :-
        stderr_text(statistics, Text),
        atom_concat('Memory: ', _, Text),
        sub_atom(Text, _, _, _, '\nAtoms: '),
        sub_atom(Text, _, _, _, '\nGarbage collections: '),
        sub_atom(Text, _, _, 0, ' s\n'),
        sub_atom(Text, _, _, _, '\nElapsed time: ').
