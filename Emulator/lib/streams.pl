% Streams: the ISO stream predicates over the stream layer's native
% built-ins: open/3,4, close/1,2, current_input/1, current_output/1,
% set_input/1, set_output/1, flush_output/0,1, stream_property/2,
% at_end_of_stream/0,1, set_stream_position/2, the character, code and
% byte readers and writers, and nl/0,1.
%
% A stream is the term '$stream'(Address).  The atoms user_input,
% user_output and user_error, and the aliases that open/4 gives, name
% streams too.  Every argument is checked here, in ISO order, before the
% native built-in runs, so that an error names the culprit as the caller
% wrote it; what only the device can tell (a failed write, a missing file)
% is recorded by the native and raised from here or by the native itself.
%
% The natives named *_fail_on_interrupt fail when the I/O library reports
% an interruption: the predicate then calls itself again, and that call's
% entry lets the engine run what the interrupt asked for first.  The fast
% built-ins take an item from the stream's buffer when one is there and
% fail otherwise, sending the caller to the slow path.
%
% Aliases are kept on the blackboard of module prolog as one list of
% alias(Alias, Address, Id): the id tells a stream from a later one that
% happens to get the same address.

% ---- Designators ----

% stream_of(S, Goal, ArgNo, Address): S names an open stream.  ArgNo 0
% stands for the implicit current stream of the arity-1 forms; the
% culprit is always S itself.
stream_of(S, G, N, _) :- var(S), !, illarg(var, G, N).
stream_of(S, G, N, A) :- S = '$stream'(A0), integer(A0), !,
        (   '$stream_code'(A0, _) -> A = A0
        ;   illarg(existence(stream, _), G, N, S)
        ).
stream_of(S, G, N, A) :- atom(S), !,
        (   alias_stream(S, A0) -> A = A0
        ;   illarg(existence(stream, _), G, N, S)
        ).
stream_of(S, G, N, _) :- illarg(domain(_, stream_or_alias), G, N, S).

alias_stream(Alias, A) :-
        standard_alias(Alias), !,
        '$stream_code'(Alias, A).
alias_stream(Alias, A) :-
        aliases(L),
        alias_member(alias(Alias, A, Id), L), !,
        '$stream_id'(A, Id).

standard_alias(user_input).
standard_alias(user_output).
standard_alias(user_error).

alias_member(X, [X|_]).
alias_member(X, [_|T]) :- alias_member(X, T).

aliases(L) :- '$bb_get'(prolog, '$stream_aliases', L0), !, L = L0.
aliases([]).

% Aliases whose stream has gone are dropped whenever the list changes.
set_aliases(L) :- live_aliases(L, L1), '$bb_put'(prolog, '$stream_aliases', L1).

live_aliases([], []).
live_aliases([alias(N, A, Id)|T], L) :-
        (   '$stream_id'(A, Id) -> L = [alias(N, A, Id)|L1] ; L = L1 ),
        live_aliases(T, L1).

drop_aliases([], _, []).
drop_aliases([alias(N, B, Id)|T], A, L) :-
        (   B =:= A -> L = L1 ; L = [alias(N, B, Id)|L1] ),
        drop_aliases(T, A, L1).

% The stream's mode word (see the stream layer): 0x2 input, 0x4 output,
% 0x10 standard, 0x20 append, 0x100 repositionable, 0x200 end of file
% gives end of file again, 0x400 end of file is reset, 0x800 binary.
mode_has(A, Bit) :- '$stream_flags'(A, M), M /\ Bit =\= 0.

% The stream for a reader or writer: an input or output stream of the
% right kind (Kind: text or binary).
input_stream(S, G, N, A) :-
        stream_of(S, G, N, A),
        (   mode_has(A, 0x2) -> true
        ;   illarg(permission(input, stream, _), G, N, S)
        ).

output_stream(S, G, N, A) :-
        stream_of(S, G, N, A),
        (   mode_has(A, 0x4) -> true
        ;   illarg(permission(output, stream, _), G, N, S)
        ).

input_of_kind(Kind, S, G, N, A) :-
        input_stream(S, G, N, A),
        kind_check(Kind, input, S, G, N, A).

output_of_kind(Kind, S, G, N, A) :-
        output_stream(S, G, N, A),
        kind_check(Kind, output, S, G, N, A).

kind_check(Kind, Dir, S, G, N, A) :-
        (   mode_has(A, 0x800) -> Is = binary ; Is = text ),
        (   Is == Kind -> true
        ;   Is == binary -> illarg(permission(Dir, binary_stream, _), G, N, S)
        ;   illarg(permission(Dir, text_stream, _), G, N, S)
        ).

% A stream whose end of file has been read may not be read again unless
% its end-of-file action says so.
readable(A, S, G, N) :-
        (   '$stream_flags'(A, M), M /\ 0x600 =:= 0, '$end_of_stream'(A, past) ->
            illarg(permission(input, past_end_of_stream, _), G, N, S)
        ;   true
        ).

% ---- Opening and closing ----

open(F, M, S) :- open(F, M, S, []).

open(F, M, S, Opts) :-
        G = open(F, M, S, Opts),
        must_be(F, nonvar, G, 1),
        must_be(M, nonvar, G, 2),
        (   var(S) -> true ; illarg(uninstantiation, G, 3, S) ),
        must_be(Opts, list, G, 4),
        must_be(M, atom, G, 2),
        (   io_mode(M) -> true ; illarg(domain(_, io_mode), G, 2) ),
        (   atom(F) -> true ; illarg(domain(_, source_sink), G, 1) ),
        open_options(Opts, G, o(0, [], default, false), o(Bits, Aliases, Enc, Repos)),
        free_aliases(Aliases, G),
        '$absolute_path'(F, '', 0, Path),
        (   Path == '' -> illarg(existence(source_sink, _), G, 1) ; true ),
        (   '$open'(Path, M, Bits, encoding(Enc, default, default), A) -> true
        ;   open_failed(G, F, Enc, Repos)
        ),
        add_aliases(Aliases, A),
        S = '$stream'(A).

io_mode(read).
io_mode(write).
io_mode(append).

% open_options(Options, Goal, In, Out): o(Bits, Aliases, Encoding, Reposition).
open_options([], _, O, O).
open_options([X|Xs], G, O0, O) :-
        (   var(X) -> illarg(var, G, 4)
        ;   open_option(X, O0, O1) -> open_options(Xs, G, O1, O)
        ;   illarg(domain(_, stream_option), G, 4, X)
        ).

open_option(type(T), o(B0, A, E, R), o(B, A, E, R)) :-
        atom(T), type_bit(T, V), B is (B0 /\ \0x800) \/ V.
open_option(reposition(P), o(B0, A, E, _), o(B, A, E, P)) :-
        atom(P), boolean_bit(P, V), B is (B0 /\ \0x100) \/ (V * 0x100).
open_option(eof_action(Act), o(B0, A, E, R), o(B, A, E, R)) :-
        atom(Act), eof_bits(Act, V), B is (B0 /\ \0x600) \/ V.
open_option(alias(N), o(B, A, E, R), o(B, [N|A], E, R)) :-
        atom(N).
open_option(encoding(E), o(B, A, _, R), o(B, A, E, R)) :-
        atom(E).
% A file that exists already is left alone: the stream gets a new file
% whose name has a unique number before the extension (the name is the
% stream's file_name property), as temporary files want.
open_option(if_exists(generate_unique_name), o(B0, A, E, R), o(B, A, E, R)) :-
        B is B0 \/ 0x30000.

type_bit(text, 0).
type_bit(binary, 0x800).
boolean_bit(true, 1).
boolean_bit(false, 0).
eof_bits(error, 0).
eof_bits(eof_code, 0x200).
eof_bits(reset, 0x400).

free_aliases([], _).
free_aliases([N|Ns], G) :-
        (   ( standard_alias(N) ; alias_stream(N, _) ) ->
            illarg(permission(open, source_sink, _), G, 4, alias(N))
        ;   free_aliases(Ns, G)
        ).

add_aliases([], _).
add_aliases([N|Ns], A) :-
        '$stream_id'(A, Id),
        aliases(L),
        set_aliases([alias(N, A, Id)|L]),
        add_aliases(Ns, A).

% The error $open/5 recorded, in the terms of open/4.
open_failed(G, F, Enc, Repos) :-
        '$cerror_data'(Type, Message),
        (   Type =:= 1286, Repos == true ->
            illarg(permission(open, source_sink, _), G, 4, reposition(true))
        ;   Message == 'VRIO_E_CHARSET_NOT_FOUND' ->
            illarg(domain(_, stream_option), G, 4, encoding(Enc))
        ;   '$cerror'(G, 1, F)
        ).

close(S) :- close(S, []).

close(S, Opts) :-
        G = close(S, Opts),
        stream_of(S, G, 1, A),
        must_be(Opts, list, G, 2),
        close_options(Opts, G, 0, Force),
        (   mode_has(A, 0x10) -> true
        ;   aliases(L), drop_aliases(L, A, L1), set_aliases(L1)
        ),
        close_(A, Force).

close_(A, Force) :-
        (   '$close_fail_on_interrupt'(A, Force) -> true
        ;   close_(A, Force)
        ).

close_options([], _, F, F).
close_options([X|Xs], G, F0, F) :-
        (   var(X) -> illarg(var, G, 2)
        ;   X = force(true) -> close_options(Xs, G, 1, F)
        ;   X = force(false) -> close_options(Xs, G, F0, F)
        ;   illarg(domain(_, close_option), G, 2, X)
        ).

% ---- Current streams ----

current_input(S) :-
        stream_term_or_var(S, current_input(S)),
        '$input'(A, A),
        S = '$stream'(A).

current_output(S) :-
        stream_term_or_var(S, current_output(S)),
        '$output'(A, A),
        S = '$stream'(A).

stream_term_or_var(S, _) :- var(S), !.
stream_term_or_var('$stream'(A), _) :- integer(A), !.
stream_term_or_var(_, G) :- illarg(domain(_, stream), G, 1).

set_input(S) :-
        input_stream(S, set_input(S), 1, A),
        '$input'(_, A).

set_output(S) :-
        output_stream(S, set_output(S), 1, A),
        '$output'(_, A).

flush_output :-
        '$output'(A, A),
        flush_(A).

flush_output(S) :-
        output_stream(S, flush_output(S), 1, A),
        flush_(A).

flush_(A) :-
        (   '$flush_output_fail_on_interrupt'(A, 0) -> true
        ;   flush_(A)
        ).

% ---- Properties ----

stream_property(S, P) :-
        G = stream_property(S, P),
        stream_term_or_var(S, G),
        (   var(P) -> true
        ;   property_name(P) -> true
        ;   illarg(domain(_, stream_property), G, 2)
        ),
        (   nonvar(S) ->
            S = '$stream'(A),
            (   '$stream_code'(A, _) -> true ; illarg(existence(stream, _), G, 1) ),
            stream_property_(A, P)
        ;   all_streams([], As),
            stream_member(A, As),
            '$stream_code'(A, _),
            S = '$stream'(A),
            stream_property_(A, P)
        ).

property_name(file_name(_)).
property_name(mode(_)).
property_name(input).
property_name(output).
property_name(alias(_)).
property_name(position(_)).
property_name(end_of_stream(_)).
property_name(eof_action(_)).
property_name(reposition(_)).
property_name(type(_)).
property_name(encoding(_)).

% The visible streams in order of creation.
all_streams(Seen, As) :-
        (   '$next_stream'(_, _, A, Seen, 0) -> all_streams([A|Seen], As)
        ;   reverse_(Seen, [], As)
        ).

reverse_([], R, R).
reverse_([X|Xs], R0, R) :- reverse_(Xs, [X|R0], R).

stream_member(X, [X|_]).
stream_member(X, [_|T]) :- stream_member(X, T).

stream_property_(A, file_name(F)) :-
        '$next_stream'(F0, _, A, [], 0), F0 \== '', F = F0.
stream_property_(A, mode(M)) :-
        '$next_stream'(_, M0, A, [], 0), M = M0.
stream_property_(A, input) :- mode_has(A, 0x2).
stream_property_(A, output) :- mode_has(A, 0x4).
stream_property_(A, alias(N)) :-
        (   standard_alias(N0), '$stream_code'(N0, B), B =:= A
        ;   aliases(L), alias_member(alias(N0, B, Id), L), B =:= A, '$stream_id'(A, Id)
        ),
        N = N0.
stream_property_(A, position('$stream_position'(C, L, P, B))) :-
        mode_has(A, 0x100),
        '$stream_count'(A, C, L, P),
        (   mode_has(A, 0x800) -> B = C ; B = 0 ).
stream_property_(A, end_of_stream(E)) :-
        mode_has(A, 0x2),
        end_of_stream(A, E0),
        E = E0.
stream_property_(A, eof_action(Act)) :-
        mode_has(A, 0x2),
        '$stream_flags'(A, M),
        (   M /\ 0x200 =\= 0 -> Act0 = eof_code
        ;   M /\ 0x400 =\= 0 -> Act0 = reset
        ;   Act0 = error
        ),
        Act = Act0.
stream_property_(A, reposition(B)) :-
        (   mode_has(A, 0x100) -> B0 = true ; B0 = false ),
        B = B0.
stream_property_(A, type(T)) :-
        (   mode_has(A, 0x800) -> T0 = binary ; T0 = text ),
        T = T0.
stream_property_(A, encoding(E)) :-
        '$stream_properties'(A, R, W, _),
        (   R \== [] -> E0 = R ; W \== [], E0 = W ),
        E = E0.

% end_of_stream(Address, State): at, past or not, as far as the stream
% can tell without waiting for its device.
end_of_stream(A, E) :- '$end_of_stream'(A, E).

% at_end_of_stream/0,1 may wait: a stream whose buffer and device have
% nothing yet is asked by reading ahead one item.
peek_item(A, C) :-
        (   mode_has(A, 0x800) -> peek_byte_(A, C0) ; peek_code_(A, C0) ),
        C = C0.

at_end_of_stream :-
        '$input'(A, A),
        at_end_(A).

at_end_of_stream(S) :-
        input_stream(S, at_end_of_stream(S), 1, A),
        at_end_(A).

at_end_(A) :-
        '$end_of_stream'(A, E),
        (   E \== not -> true
        ;   peek_item(A, -1)
        ).

set_stream_position(S, P) :-
        G = set_stream_position(S, P),
        stream_of(S, G, 1, A),
        must_be(P, nonvar, G, 2),
        (   P = '$stream_position'(C, L, LP, B), integer(C), integer(L), integer(LP), integer(B),
            C >= 0, L >= 0, LP >= 0, B >= 0 -> true
        ;   illarg(domain(_, stream_position), G, 2)
        ),
        (   '$set_stream_position'(A, C, L, LP, B) -> true
        ;   illarg(permission(reposition, stream, _), G, 1)
        ).

% ---- Reading ----

% Each reader: Goal for the errors, the stream argument's number (0 for
% the current input), the item's argument number one more.

get_char(C) :- current_input(S), get_char_(S, get_char(C), 0, C).
get_char(S, C) :- get_char_(S, get_char(S, C), 1, C).

get_char_(S, G, N, C) :-
        in_character_arg(C, G, N),
        input_of_kind(text, S, G, N, A),
        (   '$get_code_fast'(A, _, X) -> true
        ;   readable(A, S, G, N), get_code_(A, X)
        ),
        code_char(X, C).

get_code(C) :- current_input(S), get_code_(S, get_code(C), 0, C).
get_code(S, C) :- get_code_(S, get_code(S, C), 1, C).

get_code_(S, G, N, C) :-
        in_code_arg(C, G, N),
        input_of_kind(text, S, G, N, A),
        (   '$get_code_fast'(A, _, X) -> true
        ;   readable(A, S, G, N), get_code_(A, X)
        ),
        C = X.

peek_char(C) :- current_input(S), peek_char_(S, peek_char(C), 0, C).
peek_char(S, C) :- peek_char_(S, peek_char(S, C), 1, C).

peek_char_(S, G, N, C) :-
        in_character_arg(C, G, N),
        input_of_kind(text, S, G, N, A),
        (   '$peek_code_fast'(A, _, X) -> true
        ;   readable(A, S, G, N), peek_code_(A, X)
        ),
        code_char(X, C).

peek_code(C) :- current_input(S), peek_code_(S, peek_code(C), 0, C).
peek_code(S, C) :- peek_code_(S, peek_code(S, C), 1, C).

peek_code_(S, G, N, C) :-
        in_code_arg(C, G, N),
        input_of_kind(text, S, G, N, A),
        (   '$peek_code_fast'(A, _, X) -> true
        ;   readable(A, S, G, N), peek_code_(A, X)
        ),
        C = X.

get_byte(B) :- current_input(S), get_byte_(S, get_byte(B), 0, B).
get_byte(S, B) :- get_byte_(S, get_byte(S, B), 1, B).

get_byte_(S, G, N, B) :-
        in_byte_arg(B, G, N),
        input_of_kind(binary, S, G, N, A),
        (   '$get_byte_fast'(A, _, X) -> true
        ;   readable(A, S, G, N), get_byte_(A, X)
        ),
        B = X.

peek_byte(B) :- current_input(S), peek_byte_(S, peek_byte(B), 0, B).
peek_byte(S, B) :- peek_byte_(S, peek_byte(S, B), 1, B).

peek_byte_(S, G, N, B) :-
        in_byte_arg(B, G, N),
        input_of_kind(binary, S, G, N, A),
        (   '$peek_byte_fast'(A, _, X) -> true
        ;   readable(A, S, G, N), peek_byte_(A, X)
        ),
        B = X.

% The slow reads: from the device, again after an interrupt.
get_code_(A, C) :- ( '$get_code_fail_on_interrupt'(A, C0, 0) -> C = C0 ; get_code_(A, C) ).
peek_code_(A, C) :- ( '$get_code_fail_on_interrupt'(A, C0, 0x100) -> C = C0 ; peek_code_(A, C) ).
get_byte_(A, C) :- ( '$get_byte_fail_on_interrupt'(A, C0, 0) -> C = C0 ; get_byte_(A, C) ).
peek_byte_(A, C) :- ( '$get_byte_fail_on_interrupt'(A, C0, 0x100) -> C = C0 ; peek_byte_(A, C) ).

code_char(-1, C) :- !, C = end_of_file.
code_char(X, C) :- char_code(C0, X), C = C0.

% The item argument (number N + 1) of a reader: unbound, or an item the
% reader could deliver.
in_character_arg(C, _, _) :- var(C), !.
in_character_arg(end_of_file, _, _) :- !.
in_character_arg(C, _, _) :- atom(C), atom_length(C, 1), !.
in_character_arg(C, G, N) :- N1 is N + 1, illarg(type(in_character), G, N1, C).

in_code_arg(C, _, _) :- var(C), !.
in_code_arg(C, G, N) :-
        N1 is N + 1,
        (   integer(C) -> true ; illarg(type(integer), G, N1, C) ),
        (   C =:= -1 -> true
        ;   code_value(C) -> true
        ;   illarg(representation(in_character_code), G, N1, C)
        ).

in_byte_arg(B, _, _) :- var(B), !.
in_byte_arg(B, _, _) :- integer(B), B >= -1, B =< 255, !.
in_byte_arg(B, G, N) :- N1 is N + 1, illarg(type(in_byte), G, N1, B).

code_value(C) :- C >= 0, C =< 0x10FFFF.

% ---- Writing ----

put_char(C) :- current_output(S), put_char_(S, put_char(C), 0, C).
put_char(S, C) :- put_char_(S, put_char(S, C), 1, C).

put_char_(S, G, N, C) :-
        N1 is N + 1,
        (   var(C) -> illarg(var, G, N1) ; true ),
        output_of_kind(text, S, G, N, A),
        (   atom(C), atom_length(C, 1) -> true ; illarg(type(character), G, N1, C) ),
        char_code(C, X),
        put_code_(A, X, 0).

put_code(C) :- current_output(S), put_code_(S, put_code(C), 0, C).
put_code(S, C) :- put_code_(S, put_code(S, C), 1, C).

put_code_(S, G, N, C) :-
        N1 is N + 1,
        (   var(C) -> illarg(var, G, N1) ; true ),
        output_of_kind(text, S, G, N, A),
        (   integer(C) -> true ; illarg(type(integer), G, N1, C) ),
        (   code_value(C) -> true ; illarg(representation(character_code), G, N1, C) ),
        put_code_(A, C, 0).

nl :- current_output(S), nl_(S, nl, 0).
nl(S) :- nl_(S, nl(S), 1).

nl_(S, G, N) :-
        output_of_kind(text, S, G, N, A),
        put_code_(A, 10, 0x100).

put_byte(B) :- current_output(S), put_byte_(S, put_byte(B), 0, B).
put_byte(S, B) :- put_byte_(S, put_byte(S, B), 1, B).

put_byte_(S, G, N, B) :-
        N1 is N + 1,
        (   var(B) -> illarg(var, G, N1) ; true ),
        output_of_kind(binary, S, G, N, A),
        (   integer(B), B >= 0, B =< 255 -> true ; illarg(type(byte), G, N1, B) ),
        (   '$put_byte_fast'(A, B) -> true ; put_byte_(A, B) ).

% The stores: into the buffer when there is room, else through the slow
% built-in (which also flushes a line-flushed stream when asked).
put_code_(A, X, Opts) :-
        (   Opts =:= 0, '$put_code_fast'(A, X) -> true
        ;   '$put_code_fail_on_interrupt'(A, X, Opts) -> true
        ;   put_code_(A, X, Opts)
        ).

put_byte_(A, B) :-
        (   '$put_byte_fail_on_interrupt'(A, B, 0) -> true ; put_byte_(A, B) ).

% ---- Shutdown ----

% Every open output stream reaches its device: halt/0,1 runs this before
% the process may end.
flush_all_output :- '$flush_all_output'.
