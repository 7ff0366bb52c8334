% Term input: read/1,2, read_term/2,3 and term_to_atom/2, and streams
% over text in memory that term_to_atom/2, format/2,3 and the messages
% use.
%
% '$read_term'/5 reads one clause with the system's one term reader
% (through the one tokenizer) and reports a syntax error instead of
% raising it; what to do then is the syntax_errors option's choice (by
% default the flag's): error raises error(syntax_error(Message),
% stream(Stream, Line)), fail prints the message and fails, quiet fails,
% dec10 prints the message and reads the next term.

read(T) :- current_input(S), read_term_(S, T, [], read(T), 0).
read(S, T) :- read_term_(S, T, [], read(S, T), 1).

read_term(T, Opts) :- current_input(S), read_term_(S, T, Opts, read_term(T, Opts), 0).
read_term(S, T, Opts) :- read_term_(S, T, Opts, read_term(S, T, Opts), 1).

% The errors in ISO's order: an unbound stream or options list first,
% then the stream, then the options.
read_term_(S, T, Opts, G, N) :-
        N1 is N + 2,
        (   N > 0, var(S) -> illarg(var, G, N) ; true ),
        (   partial_list(Opts) -> illarg(var, G, N1) ; true ),
        input_of_kind(text, S, G, N, A),
        must_be(Opts, list, G, N1),
        rd_options(Opts, G, N1, rd(_, _, _, default), rd(Vs, Ns, Ss, SE0)),
        (   SE0 == default -> '$syntax'(SE, SE) ; SE = SE0 ),
        readable(A, S, G, N),
        rd_term(A, SE, T0, Ns0, Ss0),
        term_variables(T0, Vs0),
        T = T0,
        Vs = Vs0,
        Ns = Ns0,
        Ss = Ss0.

rd_options([], _, _, O, O).
rd_options([X|Xs], G, N, O0, O) :-
        (   var(X) -> illarg(var, G, N)
        ;   rd_option(X, O0, O1) -> rd_options(Xs, G, N, O1, O)
        ;   illarg(domain(_, read_option), G, N, X)
        ).

rd_option(variables(V), rd(_, N, S, E), rd(V, N, S, E)).
rd_option(variable_names(V), rd(A, _, S, E), rd(A, V, S, E)).
rd_option(singletons(V), rd(A, N, _, E), rd(A, N, V, E)).
rd_option(syntax_errors(E), rd(A, N, S, _), rd(A, N, S, E)) :-
        atom(E), rd_syntax_mode(E).

rd_syntax_mode(error).
rd_syntax_mode(fail).
rd_syntax_mode(quiet).
rd_syntax_mode(dec10).

rd_term(A, SE, T, Ns, Ss) :-
        '$read_term'(A, T0, Ns0, Ss0, Outcome),
        (   Outcome == [] ->
            T = T0, Ns = Ns0, Ss = Ss0
        ;   Outcome = syntax_error(Message, Line),
            E = error(syntax_error(Message), stream('$stream'(A), Line)),
            rd_syntax_error(SE, E, A, T, Ns, Ss)
        ).

rd_syntax_error(error, E, _, _, _, _) :- raise_exception(E).
rd_syntax_error(fail, E, _, _, _, _) :- print_message(error, E), fail.
rd_syntax_error(quiet, _, _, _, _, _) :- fail.
rd_syntax_error(dec10, E, A, T, Ns, Ss) :-
        print_message(error, E),
        rd_term(A, dec10, T, Ns, Ss).

% ---- term_to_atom/2 ----

% term_to_atom(?Term, ?Atom): Atom is the text of Term as writeq/1
% writes it; a bound Atom is read (no full stop needed) and must hold
% exactly one term.
term_to_atom(T, Atom) :-
        G = term_to_atom(T, Atom),
        (   var(Atom) ->
            text_of_writeq(T, Codes),
            atom_codes(Atom, Codes)
        ;   must_be(Atom, atom, G, 2),
            atom_codes(Atom, Codes0),
            append(Codes0, " .", Codes),
            term_from_codes(Codes, G, 2, T0),
            T = T0
        ).

text_of_writeq(T, Codes) :- with_output_codes(M, writeq('$stream'(M), T), Codes).

% term_from_codes(Codes, Goal, ArgNo, Term): the one term that Codes hold.
term_from_codes(Codes, G, N, T) :-
        '$stream_from_codes'(Codes, M, 0x28),
        call_cleanup(term_from_stream(M, G, N, T), close_(M, 1)).

term_from_stream(M, G, N, T) :-
        '$read_term'(M, T0, _, _, Outcome),
        (   Outcome = syntax_error(Message, _) ->
            raise_exception(error(syntax_error(Message), context(G, N)))
        ;   '$read_term'(M, End, _, _, Outcome2),
            (   Outcome2 == [], End == end_of_file -> T = T0
            ;   raise_exception(error(syntax_error('end of clause expected'), context(G, N)))
            )
        ).

% ---- Text in memory ----

% with_output_codes(M, Goal, Codes): runs Goal once with M bound to the
% address of a new stream in memory; Codes are what Goal wrote to it.
with_output_codes(M, Goal, Codes) :-
        '$stream_from_codes'([], M, 0x68),
        call_cleanup(output_codes_(M, Goal, Codes), close_(M, 1)).

output_codes_(M, Goal, Codes) :-
        once(Goal),
        flush_(M),
        stream_codes(M, Codes).

% The codes of an input stream up to its end.
stream_codes(M, Codes) :-
        (   '$get_buffered_codes'(M, -1, Codes, T) -> stream_codes(M, T)
        ;   get_code_(M, C),
            (   C =:= -1 -> Codes = []
            ;   Codes = [C|T],
                stream_codes(M, T)
            )
        ).

% read_from_string_helper(Address, Values, Term): the interface's reading
% of a term from a string (VR_read_from_string): Term from the stream at
% Address; Values, in order, are the values of its first variables.
read_from_string_helper(Address, Values, Term) :-
        read_term('$stream'(Address), Term, [variables(Vars)]),
        values_of_variables(Values, Vars).

values_of_variables([], _).
values_of_variables([V|Vs], [V|Xs]) :- values_of_variables(Vs, Xs).
