% Prolog flags: current_prolog_flag/2 and set_prolog_flag/2, and
% statistics/2.
%
% flag_def(Name, Access, Values) lists every flag once: rw or ro, and the
% values it may take (a list, or integer, atom or any).  The engine keeps
% most flags itself, each behind one built-in that unifies its first
% argument with the value and stores its second; flag_get/2 and
% flag_set/2 say which.  The debug flag has no debugger behind it in a
% runtime system and is kept on the blackboard.

flag_def(bounded, ro, [true, false]).
flag_def(max_integer, ro, integer).
flag_def(min_integer, ro, integer).
flag_def(integer_rounding_function, ro, [down, toward_zero]).
flag_def(max_arity, ro, integer).
flag_def(char_conversion, rw, [on, off]).
flag_def(debug, rw, [on, off]).
flag_def(unknown, rw, [error, fail, warning]).
flag_def(double_quotes, rw, [codes, chars, atom]).
flag_def(max_tagged_integer, ro, integer).
flag_def(min_tagged_integer, ro, integer).
flag_def(source_info, rw, [on, off]).
flag_def(syntax_errors, rw, [error, fail, quiet, dec10]).
flag_def(compiling, rw, [compactcode, profiledcode, debugcode]).
flag_def(quoted_charset, rw, [prolog, portable]).
flag_def(language, rw, [iso, vostrel]).
flag_def(fileerrors, rw, [on, off]).
flag_def(single_var_warnings, rw, [on, off]).
flag_def(redefine_warnings, rw, [on, off]).
flag_def(discontiguous_warnings, rw, [on, off]).
flag_def(informational, rw, [on, off]).
flag_def(legacy_char_classification, rw, [on, off]).
flag_def(title, rw, atom).
flag_def(system_type, ro, [runtime, development]).
flag_def(version, ro, atom).
flag_def(version_data, ro, any).
flag_def(os_data, ro, any).
flag_def(gc_margin, rw, integer).
flag_def(gc_mode, rw, [on, off]).
flag_def(gc_trace, rw, [off, terse, verbose]).
flag_def(argv, rw, atom_list).

flag_get(bounded, false).
flag_get(max_integer, V) :- '$tagged_integer_range'(_, V).
flag_get(min_integer, V) :- '$tagged_integer_range'(V, _).
flag_get(integer_rounding_function, toward_zero).
flag_get(max_arity, 255).
flag_get(char_conversion, V) :- '$char_conversion'(V, V).
flag_get(debug, V) :- ( '$bb_get'(prolog, '$debug_flag', V0) -> V = V0 ; V = off ).
flag_get(unknown, V) :- '$unknown'(V, V).
flag_get(double_quotes, V) :- '$double_quotes'(V, V).
flag_get(max_tagged_integer, V) :- '$tagged_integer_range'(_, V).
flag_get(min_tagged_integer, V) :- '$tagged_integer_range'(V, _).
flag_get(source_info, V) :- '$source_info'(V, V).
flag_get(syntax_errors, V) :- '$syntax'(V, V).
flag_get(compiling, V) :- '$compiling'(V, V).
flag_get(quoted_charset, V) :- '$quoted_charset_flag'(V, V).
flag_get(language, V) :- '$compatibility_flag'(V, V).
flag_get(fileerrors, V) :- '$ferror_flag'(V, V).
flag_get(single_var_warnings, V) :- '$single_var_flag'(V, V).
flag_get(redefine_warnings, V) :- '$multiple_flag'(V, V).
flag_get(discontiguous_warnings, V) :- '$discontiguous_flag'(V, V).
flag_get(informational, V) :- '$informational_flag'(V, V).
flag_get(legacy_char_classification, V) :- '$legacy_char_classification_flag'(V, V).
flag_get(title, V) :- '$window_title'(V, V).
flag_get(system_type, V) :- '$system_type_flag'(V).
flag_get(version, V) :- '$version_flag'(V).
flag_get(version_data, vostrel(A, B, C, D)) :- '$version_data'(A, B, C, D).
flag_get(os_data, os_data(F, N, E)) :- '$os_data'(1, F, N, E).
flag_get(gc_margin, V) :- '$gc_margin'(V, V).
flag_get(gc_mode, V) :- '$gc_mode'(V, V).
flag_get(gc_trace, V) :- '$gc_trace'(V, V).
flag_get(argv, V) :- '$argv'(V).

flag_set(char_conversion, V) :- '$char_conversion'(_, V).
flag_set(debug, V) :- '$bb_put'(prolog, '$debug_flag', V).
flag_set(unknown, V) :- '$unknown'(_, V).
flag_set(double_quotes, V) :- '$double_quotes'(_, V).
flag_set(source_info, V) :- '$source_info'(_, V).
flag_set(syntax_errors, V) :- '$syntax'(_, V).
flag_set(compiling, V) :- '$compiling'(_, V).
flag_set(quoted_charset, V) :- '$quoted_charset_flag'(_, V).
flag_set(language, V) :- '$compatibility_flag'(_, V).
flag_set(fileerrors, V) :- '$ferror_flag'(_, V).
flag_set(single_var_warnings, V) :- '$single_var_flag'(_, V).
flag_set(redefine_warnings, V) :- '$multiple_flag'(_, V).
flag_set(discontiguous_warnings, V) :- '$discontiguous_flag'(_, V).
flag_set(informational, V) :- '$informational_flag'(_, V).
flag_set(legacy_char_classification, V) :- '$legacy_char_classification_flag'(_, V).
flag_set(title, V) :- '$window_title'(_, V).
flag_set(gc_margin, V) :- '$gc_margin'(_, V).
flag_set(gc_mode, V) :- '$gc_mode'(_, V).
flag_set(gc_trace, V) :- '$gc_trace'(_, V).
flag_set(argv, V) :- '$set_argv'(V).

current_prolog_flag(Flag, Value) :-
        (   var(Flag) -> true
        ;   atom(Flag) ->
            (   flag_def(Flag, _, _) -> true
            ;   illarg(domain(atom, prolog_flag), current_prolog_flag(Flag, Value), 1)
            )
        ;   illarg(type(atom), current_prolog_flag(Flag, Value), 1)
        ),
        flag_def(Flag, _, _),
        flag_get(Flag, V),
        Value = V.

set_prolog_flag(Flag, Value) :-
        G = set_prolog_flag(Flag, Value),
        must_be(Flag, atom, G, 1),
        must_be(Value, nonvar, G, 2),
        (   flag_def(Flag, Access, Values) -> true
        ;   illarg(domain(atom, prolog_flag), G, 1)
        ),
        (   flag_value(Values, Value) -> true
        ;   illarg(domain(term, flag_value), G, 2, Flag+Value)
        ),
        (   Access == rw -> true
        ;   illarg(permission(modify, flag, _), G, 1, Flag)
        ),
        flag_set(Flag, Value), !.

flag_value(integer, V) :- !, integer(V).
flag_value(atom, V) :- !, atom(V).
flag_value(any, _) :- !.
flag_value(atom_list, V) :- !, proper_list(V), all_of(V, atom).
flag_value(Values, V) :- atom(V), flag_member(V, Values), !.

flag_member(X, [X|_]).
flag_member(X, [_|T]) :- flag_member(X, T).

% statistics(Key, Value): Key one of the engine's statistics keys.
statistics(Key, Value) :-
        must_be(Key, atom, statistics(Key, Value), 1),
        '$statistics'(Key, Value).
