% Streams: the ISO stream predicates and their errors, files written,
% appended to and read back in every encoding, positions, end-of-file
% actions, aliases, the current streams, and streams over code lists.
%
% Files are made in the current directory (the build directory) under
% names that begin with streams_test_.

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% write_file(Name, Options, Text): Text (an atom) written through a new
% text stream.
write_file(Name, Opts, Text) :-
        open(Name, write, S, Opts),
        atom_codes(Text, Cs),
        put_codes(Cs, S),
        close(S).

put_codes([], _).
put_codes([C|Cs], S) :- put_code(S, C), put_codes(Cs, S).

% read_codes(S, Codes): the codes up to the end of the stream.
read_codes(S, Cs) :-
        get_code(S, C),
        (   C =:= -1 -> Cs = [] ; Cs = [C|Cs1], read_codes(S, Cs1) ).

read_file(Name, Opts, Text) :-
        open(Name, read, S, Opts),
        read_codes(S, Cs),
        close(S),
        atom_codes(Text, Cs).

file_bytes(Name, Bytes) :-
        open(Name, read, S, [type(binary)]),
        read_bytes(S, Bytes),
        close(S).

read_bytes(S, Bs) :-
        get_byte(S, B),
        (   B =:= -1 -> Bs = [] ; Bs = [B|Bs1], read_bytes(S, Bs1) ).

empty_file(Name) :- open(Name, write, S), close(S).

% ---- ISO errors: one table, each case with what it must raise ----

% io_error(Case, Setup, Goal, Formal): Setup makes what Goal needs; the
% formal term names the culprit as the caller wrote it.
io_error(unbound_stream, true, get_char(_, _), instantiation_error).
io_error(unbound_stream_put, true, put_char(_, a), instantiation_error).
io_error(not_a_stream, true, get_char(foo(1), _), domain_error(stream_or_alias, foo(1))).
io_error(integer_is_no_stream, true, put_code(17, 0'a), domain_error(stream_or_alias, 17)).
io_error(unknown_alias, true, get_code(no_such_alias, _), existence_error(stream, no_such_alias)).
io_error(closed_stream, (open('streams_test_e1', write, S), close(S)), put_char(S, a),
         existence_error(stream, S)).
io_error(closed_stream_read, (empty_file('streams_test_e1'), open('streams_test_e1', read, S), close(S)),
         get_char(S, _), existence_error(stream, S)).
io_error(output_used_for_input, true, get_char(user_output, _), permission_error(input, stream, user_output)).
io_error(input_used_for_output, true, put_char(user_input, a), permission_error(output, stream, user_input)).
io_error(file_output_used_for_input, open('streams_test_e2', write, S), (get_code(S, _) -> true ; true),
         permission_error(input, stream, S)).
io_error(binary_used_for_text, open('streams_test_e3', write, S, [type(binary)]), put_char(S, a),
         permission_error(output, binary_stream, S)).
io_error(binary_used_for_text_input, (empty_file('streams_test_e4'), open('streams_test_e4', read, S, [type(binary)])),
         get_char(S, _), permission_error(input, binary_stream, S)).
io_error(text_used_for_bytes, true, get_byte(user_input, _), permission_error(input, text_stream, user_input)).
io_error(text_used_for_byte_output, true, put_byte(user_output, 1), permission_error(output, text_stream, user_output)).
io_error(past_end_error, (empty_file('streams_test_e5'), open('streams_test_e5', read, S), get_char(S, end_of_file)),
         get_char(S, _), permission_error(input, past_end_of_stream, S)).
io_error(past_end_error_peek, (empty_file('streams_test_e5'), open('streams_test_e5', read, S), get_code(S, -1)),
         peek_code(S, _), permission_error(input, past_end_of_stream, S)).
io_error(past_end_error_bytes, (empty_file('streams_test_e5'), open('streams_test_e5', read, S, [type(binary)]),
         get_byte(S, -1)), get_byte(S, _), permission_error(input, past_end_of_stream, S)).
io_error(past_end_eof_code, (empty_file('streams_test_e5'), open('streams_test_e5', read, S, [eof_action(eof_code)]),
         get_char(S, end_of_file), get_char(S, end_of_file)), get_char(S, _), none).
io_error(past_end_reset, (empty_file('streams_test_e5'), open('streams_test_e5', read, S, [eof_action(reset)]),
         get_char(S, end_of_file)), get_char(S, end_of_file), none).
io_error(missing_file, true, open('streams_test_no_such_file', read, _),
         existence_error(source_sink, streams_test_no_such_file)).
io_error(missing_directory, true, open('streams_test_no_dir/x', write, _),
         existence_error(source_sink, 'streams_test_no_dir/x')).
io_error(directory_for_reading, true, open('.', read, _), permission_error(open, source_sink, '.')).
io_error(directory_for_writing, true, open('.', write, _), permission_error(open, source_sink, '.')).
io_error(unbound_file, true, open(_, read, _), instantiation_error).
io_error(unbound_mode, true, open(f, _, _), instantiation_error).
io_error(bound_stream, true, open(f, read, s), uninstantiation_error(s)).
io_error(mode_not_atom, true, open(f, 1, _), type_error(atom, 1)).
io_error(invalid_mode, true, open(f, readwrite, _), domain_error(io_mode, readwrite)).
io_error(file_not_atom, true, open(f(x), read, _), domain_error(source_sink, f(x))).
io_error(options_not_list, true, open(f, read, _, type(text)), type_error(list, type(text))).
io_error(options_partial, true, open(f, read, _, [type(text)|_]), instantiation_error).
io_error(option_unbound, true, open(f, read, _, [_]), instantiation_error).
io_error(invalid_option, true, open(f, read, _, [bogus]), domain_error(stream_option, bogus)).
io_error(invalid_option_value, true, open(f, read, _, [type(octal)]), domain_error(stream_option, type(octal))).
io_error(invalid_eof_action, true, open(f, read, _, [eof_action(stop)]), domain_error(stream_option, eof_action(stop))).
io_error(unknown_encoding, empty_file('streams_test_e6'), open('streams_test_e6', read, _, [encoding(klingon)]),
         domain_error(stream_option, encoding(klingon))).
io_error(alias_in_use, open('streams_test_e7', write, _, [alias(streams_test_taken)]),
         open('streams_test_e8', write, _, [alias(streams_test_taken)]),
         permission_error(open, source_sink, alias(streams_test_taken))).
io_error(standard_alias_taken, true, open('streams_test_e8', write, _, [alias(user_output)]),
         permission_error(open, source_sink, alias(user_output))).
io_error(reposition_append, true, open('streams_test_e9', append, _, [reposition(true)]),
         permission_error(open, source_sink, reposition(true))).
io_error(close_option, true, close(user_output, [bogus]), domain_error(close_option, bogus)).
io_error(close_options_partial, true, close(user_output, _), instantiation_error).
io_error(put_char_unbound, true, put_char(user_output, _), instantiation_error).
io_error(put_char_not_char, true, put_char(user_output, ab), type_error(character, ab)).
io_error(put_code_not_integer, true, put_code(user_output, a), type_error(integer, a)).
io_error(put_code_negative, true, put_code(user_output, -1), representation_error(character_code)).
io_error(put_byte_not_byte, open('streams_test_e3', write, S, [type(binary)]), put_byte(S, 256), type_error(byte, 256)).
io_error(get_char_bad_item, true, get_char(user_input, 1), type_error(in_character, 1)).
io_error(get_code_bad_item, true, get_code(user_input, a), type_error(integer, a)).
io_error(get_code_not_a_code, true, get_code(user_input, -2), representation_error(in_character_code)).
io_error(get_byte_bad_item, true, get_byte(user_input, 256), type_error(in_byte, 256)).
io_error(current_input_not_stream, true, current_input(foo), domain_error(stream, foo)).
io_error(stream_property_not_stream, true, stream_property(foo, _), domain_error(stream, foo)).
io_error(stream_property_bad, true, stream_property(_, colour(_)), domain_error(stream_property, colour(_))).
io_error(set_input_output_stream, true, set_input(user_output), permission_error(input, stream, user_output)).
io_error(set_output_unbound, true, set_output(_), instantiation_error).
io_error(flush_input_stream, true, flush_output(user_input), permission_error(output, stream, user_input)).
io_error(set_position_bad, true, set_stream_position(user_input, here), domain_error(stream_position, here)).
io_error(set_position_terminal, true, set_stream_position(user_input, '$stream_position'(0, 0, 0, 0)),
         permission_error(reposition, stream, user_input)).
io_error(at_end_of_output, true, at_end_of_stream(user_output), permission_error(input, stream, user_output)).

% A stream culprit shows as the atom stream: its address differs per run.
expect(io_errors, Case-F,
       (io_error(Case, Setup, Goal, _), call(Setup), error_of(Goal, F0), stream_culprit(F0, F)),
       [unbound_stream-instantiation_error, unbound_stream_put-instantiation_error,
        not_a_stream-domain_error(stream_or_alias, foo(1)),
        integer_is_no_stream-domain_error(stream_or_alias, 17),
        unknown_alias-existence_error(stream, no_such_alias),
        closed_stream-existence_error(stream, stream),
        closed_stream_read-existence_error(stream, stream),
        output_used_for_input-permission_error(input, stream, user_output),
        input_used_for_output-permission_error(output, stream, user_input),
        file_output_used_for_input-permission_error(input, stream, stream),
        binary_used_for_text-permission_error(output, binary_stream, stream),
        binary_used_for_text_input-permission_error(input, binary_stream, stream),
        text_used_for_bytes-permission_error(input, text_stream, user_input),
        text_used_for_byte_output-permission_error(output, text_stream, user_output),
        past_end_error-permission_error(input, past_end_of_stream, stream),
        past_end_error_peek-permission_error(input, past_end_of_stream, stream),
        past_end_error_bytes-permission_error(input, past_end_of_stream, stream),
        past_end_eof_code-none, past_end_reset-none,
        missing_file-existence_error(source_sink, streams_test_no_such_file),
        missing_directory-existence_error(source_sink, 'streams_test_no_dir/x'),
        directory_for_reading-permission_error(open, source_sink, '.'),
        directory_for_writing-permission_error(open, source_sink, '.'),
        unbound_file-instantiation_error, unbound_mode-instantiation_error,
        bound_stream-uninstantiation_error(s), mode_not_atom-type_error(atom, 1),
        invalid_mode-domain_error(io_mode, readwrite), file_not_atom-domain_error(source_sink, f(x)),
        options_not_list-type_error(list, type(text)), options_partial-instantiation_error,
        option_unbound-instantiation_error, invalid_option-domain_error(stream_option, bogus),
        invalid_option_value-domain_error(stream_option, type(octal)),
        invalid_eof_action-domain_error(stream_option, eof_action(stop)),
        unknown_encoding-domain_error(stream_option, encoding(klingon)),
        alias_in_use-permission_error(open, source_sink, alias(streams_test_taken)),
        standard_alias_taken-permission_error(open, source_sink, alias(user_output)),
        reposition_append-permission_error(open, source_sink, reposition(true)),
        close_option-domain_error(close_option, bogus), close_options_partial-instantiation_error,
        put_char_unbound-instantiation_error, put_char_not_char-type_error(character, ab),
        put_code_not_integer-type_error(integer, a),
        put_code_negative-representation_error(character_code),
        put_byte_not_byte-type_error(byte, 256),
        get_char_bad_item-type_error(in_character, 1), get_code_bad_item-type_error(integer, a),
        get_code_not_a_code-representation_error(in_character_code),
        get_byte_bad_item-type_error(in_byte, 256),
        current_input_not_stream-domain_error(stream, foo),
        stream_property_not_stream-domain_error(stream, foo),
        stream_property_bad-domain_error(stream_property, colour(_)),
        set_input_output_stream-permission_error(input, stream, user_output),
        set_output_unbound-instantiation_error,
        flush_input_stream-permission_error(output, stream, user_input),
        set_position_bad-domain_error(stream_position, here),
        set_position_terminal-permission_error(reposition, stream, user_input),
        at_end_of_output-permission_error(input, stream, user_output)]).

stream_culprit(F0, F) :-
        F0 =.. [Name|Args0],
        stream_args(Args0, Args),
        F =.. [Name|Args].

stream_args([], []).
stream_args([A|As], [B|Bs]) :-
        (   nonvar(A), A = '$stream'(X), integer(X) -> B = stream ; B = A ),
        stream_args(As, Bs).

% The error names the goal and the argument at fault.
test(error_context_names_the_goal) :-
        catch(get_char(foo(1), _), error(_, context(G, N)), true),
        G = get_char(X, _), X == foo(1), N == 1.

% ---- Files: written, closed, appended to, read back ----

test(write_append_read_back) :-
        write_file('streams_test_f1', [], 'first\n'),
        open('streams_test_f1', append, S),
        put_char(S, s), put_char(S, e), put_char(S, c), nl(S),
        close(S),
        read_file('streams_test_f1', [], T),
        T == 'first\nsec\n'.

test(write_truncates) :-
        write_file('streams_test_f2', [], 'a long first text'),
        write_file('streams_test_f2', [], 'short'),
        read_file('streams_test_f2', [], 'short').

% Closing flushes: everything put before close is in the file.
test(close_flushes_a_large_text) :-
        open('streams_test_f3', write, S),
        forall(between_(1, 20000, _), put_char(S, x)),
        close(S),
        file_bytes('streams_test_f3', Bs),
        length(Bs, 20000).

between_(L, H, L) :- L =< H.
between_(L, H, X) :- L < H, L1 is L + 1, between_(L1, H, X).

test(flush_output_makes_it_readable_before_close) :-
        open('streams_test_f4', write, W),
        put_char(W, a), put_char(W, b),
        flush_output(W),
        read_file('streams_test_f4', [], ab),
        close(W).

% Binary files: every byte value round trips.
test(bytes_round_trip) :-
        open('streams_test_f5', write, W, [type(binary)]),
        forall(between_(0, 255, B), put_byte(W, B)),
        close(W),
        file_bytes('streams_test_f5', Bs),
        length(Bs, 256),
        \+ ( nth0_(I, Bs, B), I =\= B ).

nth0_(I, L, X) :- nth0_(L, 0, I, X).
nth0_([X|_], I, I, X).
nth0_([_|T], I0, I, X) :- I1 is I0 + 1, nth0_(T, I1, I, X).

% ---- Encodings: a text in each, written and read back, and the bytes ----

% encoding_text(Encoding, Text): a text the encoding can carry, with
% characters outside ASCII wherever it has some.
encoding_text('ANSI_X3.4-1968', 'plain ASCII ~\n').
encoding_text('ISO-8859-1', 'caf\xe9\ \xe0\ \xff\\n').
encoding_text('ISO-8859-2', 'z\x142\ f\x15b\\n').
encoding_text('ISO-8859-15', 'euro \x20ac\ \x153\\n').
encoding_text('windows-1252', 'euro \x20ac\ \x2030\\n').
encoding_text('UTF-8', 'a\xe4\\x20ac\\x1F600\\n').
encoding_text('UTF-16BE', 'a\xe4\\x20ac\\x1F600\\n').
encoding_text('UTF-16LE', 'a\xe4\\x20ac\\x1F600\\n').
encoding_text('UTF-32BE', 'a\xe4\\x20ac\\x1F600\\n').
encoding_text('UTF-32LE', 'a\xe4\\x20ac\\x1F600\\n').

expect(encodings_round_trip, E-Same,
       (encoding_text(E, T),
        write_file('streams_test_enc', [encoding(E)], T),
        read_file('streams_test_enc', [encoding(E)], T1),
        ( T1 == T -> Same = same ; Same = T1 )),
       ['ANSI_X3.4-1968'-same, 'ISO-8859-1'-same, 'ISO-8859-2'-same, 'ISO-8859-15'-same,
        'windows-1252'-same, 'UTF-8'-same, 'UTF-16BE'-same, 'UTF-16LE'-same,
        'UTF-32BE'-same, 'UTF-32LE'-same]).

% What reaches the file: the encoding's bytes; a byte-order mark only
% where the encoding calls for one (not UTF-8), never on append.
expect(encoding_bytes, E-Bs,
       (member_(E, ['ISO-8859-1', 'UTF-8', 'UTF-16BE', 'UTF-16LE', 'UTF-32LE']),
        write_file('streams_test_bytes', [encoding(E)], 'a\xe9\'),
        file_bytes('streams_test_bytes', Bs)),
       ['ISO-8859-1'-[97, 233], 'UTF-8'-[97, 195, 169], 'UTF-16BE'-[254, 255, 0, 97, 0, 233],
        'UTF-16LE'-[255, 254, 97, 0, 233, 0],
        'UTF-32LE'-[255, 254, 0, 0, 97, 0, 0, 0, 233, 0, 0, 0]]).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

test(append_writes_no_second_mark) :-
        write_file('streams_test_bom', [encoding('UTF-16LE')], a),
        open('streams_test_bom', append, S, [encoding('UTF-16LE')]),
        put_char(S, b),
        close(S),
        file_bytes('streams_test_bom', [255, 254, 97, 0, 98, 0]),
        read_file('streams_test_bom', [encoding('UTF-16LE')], ab).

% A byte-order mark found on reading names the encoding: a UTF-8 file
% with a mark reads right even when the stream is opened with the
% default (single-byte) encoding, and the mark itself is not read.
test(byte_order_mark_is_detected) :-
        open('streams_test_bom8', write, W, [type(binary)]),
        forall(member_(B, [239, 187, 191, 97, 195, 164]), put_byte(W, B)),
        close(W),
        read_file('streams_test_bom8', [], T),
        T == 'a\xe4\'.

test(encoding_property) :-
        open('streams_test_enc', write, S, [encoding('UTF-8')]),
        stream_property(S, encoding(E)),
        close(S),
        E == 'UTF-8'.

% ---- Positions ----

% Reading a, b, newline, c, d counts 5 characters, 1 line, position 2 on
% it; a saved position comes back with its counts.
test(position_counts_and_restores) :-
        write_file('streams_test_pos', [], 'ab\ncde\nf'),
        open('streams_test_pos', read, S, [reposition(true)]),
        get_char(S, a), get_char(S, b), get_char(S, '\n'), get_char(S, c), get_char(S, d),
        stream_property(S, position(P)),
        P = '$stream_position'(5, 1, 2, _),
        get_char(S, e), get_char(S, '\n'), get_char(S, f),
        set_stream_position(S, P),
        get_char(S, X),
        stream_property(S, position('$stream_position'(6, 1, 3, _))),
        close(S),
        X == e.

test(position_at_start_and_after_end) :-
        write_file('streams_test_pos2', [], 'xy'),
        open('streams_test_pos2', read, S, [reposition(true)]),
        stream_property(S, position(P0)),
        get_char(S, x), get_char(S, y), get_char(S, end_of_file),
        stream_property(S, position(PE)),
        stream_property(S, end_of_stream(past)),
        set_stream_position(S, P0),
        stream_property(S, end_of_stream(E1)),
        get_char(S, x),
        set_stream_position(S, PE),
        stream_property(S, end_of_stream(E2)),
        close(S),
        PE = '$stream_position'(3, 0, _, _), E1 == not, E2 == past.

test(binary_position) :-
        open('streams_test_pos3', write, W, [type(binary)]),
        forall(member_(B, [10, 20, 30, 40]), put_byte(W, B)),
        close(W),
        open('streams_test_pos3', read, S, [type(binary), reposition(true)]),
        get_byte(S, 10), get_byte(S, 20),
        stream_property(S, position(P)),
        get_byte(S, 30), get_byte(S, 40),
        set_stream_position(S, P),
        get_byte(S, X),
        close(S),
        X == 30.

test(output_position) :-
        open('streams_test_pos4', write, S, [reposition(true)]),
        put_char(S, a), nl(S), put_char(S, b),
        stream_property(S, position('$stream_position'(3, 1, 1, _))),
        close(S).

test(not_repositionable_by_default) :-
        open('streams_test_pos4', read, S),
        stream_property(S, reposition(R)),
        \+ stream_property(S, position(_)),
        close(S),
        R == false.

% ---- Peeking and end of stream ----

test(peek_does_not_consume) :-
        write_file('streams_test_peek', [], 'pq'),
        open('streams_test_peek', read, S),
        peek_char(S, p), peek_code(S, 0'p), get_char(S, p),
        peek_char(S, q), get_char(S, q),
        peek_char(S, end_of_file), peek_code(S, -1),
        stream_property(S, end_of_stream(E)),
        get_char(S, end_of_file),
        close(S),
        E \== past.

test(at_end_of_stream) :-
        write_file('streams_test_end', [], 'z'),
        open('streams_test_end', read, S),
        \+ at_end_of_stream(S),
        get_char(S, z),
        at_end_of_stream(S),
        get_char(S, end_of_file),
        at_end_of_stream(S),
        close(S).

% eof_action(reset): after the end, the stream reads the device again and
% sees what was appended meanwhile.
test(eof_action_reset_reads_again) :-
        write_file('streams_test_reset', [], a),
        open('streams_test_reset', read, S, [eof_action(reset)]),
        get_char(S, a), get_char(S, end_of_file),
        open('streams_test_reset', append, W), put_char(W, b), close(W),
        get_char(S, X),
        close(S),
        X == b.

test(eof_action_property) :-
        empty_file('streams_test_prop'),
        open('streams_test_prop', read, S1),
        open('streams_test_prop', read, S2, [eof_action(eof_code)]),
        open('streams_test_prop', read, S3, [eof_action(reset)]),
        stream_property(S1, eof_action(A1)), stream_property(S2, eof_action(A2)),
        stream_property(S3, eof_action(A3)),
        close(S1), close(S2), close(S3),
        [A1, A2, A3] == [error, eof_code, reset].

% ---- Aliases and current streams ----

test(alias_names_the_stream_until_closed) :-
        open('streams_test_alias', write, S, [alias(streams_test_out)]),
        put_char(streams_test_out, k),
        stream_property(S, alias(streams_test_out)),
        stream_property(S2, alias(streams_test_out)), S2 == S,
        close(streams_test_out),
        error_of(put_char(streams_test_out, k), existence_error(stream, streams_test_out)),
        open('streams_test_alias', read, R, [alias(streams_test_out)]),
        get_char(streams_test_out, C),
        close(R),
        C == k.

test(standard_aliases) :-
        stream_property(I, alias(user_input)), stream_property(I, input),
        stream_property(O, alias(user_output)), stream_property(O, output),
        stream_property(E, alias(user_error)), stream_property(E, output),
        I \== O, O \== E.

test(set_output_and_back) :-
        current_output(Old),
        open('streams_test_cur', write, S),
        set_output(S),
        put_char(x), nl,
        current_output(S),
        set_output(Old),
        close(S),
        read_file('streams_test_cur', [], 'x\n').

% Closing the current output makes user_output current again.
test(closing_current_output_falls_back) :-
        open('streams_test_cur2', write, S),
        set_output(S),
        close(S),
        current_output(O),
        stream_property(O, alias(user_output)).

test(closing_user_output_keeps_it) :-
        close(user_output),
        stream_property(S, alias(user_output)),
        stream_property(S, output).

test(stream_property_enumerates_open_streams) :-
        empty_file('streams_test_enum'),
        open('streams_test_enum', read, S),
        findall_(X, stream_property(X, input), Ins),
        stream_property(S, file_name(F)),
        stream_property(S, mode(M)),
        close(S),
        member_(S, Ins), M == read,
        atom_concat(_, '/streams_test_enum', F).

% Collected on the blackboard, which backtracking does not undo.
findall_(T, G, L) :-
        prolog:'$bb_put'(user, found, []),
        (   call(G), prolog:'$bb_get'(user, found, L0), prolog:'$bb_put'(user, found, [T|L0]), fail
        ;   true
        ),
        prolog:'$bb_get'(user, found, L).

% ---- Streams over code lists ----

% Options of $stream_from_codes/3: 8 integer codes, 0x20 readable, 0x40
% writable.
test(code_list_stream_reads) :-
        prolog:'$stream_from_codes'("h\xe9\llo", A, 0x28),
        S = '$stream'(A),
        read_codes(S, Cs),
        close(S),
        atom_codes('h\xe9\llo', Cs).

test(code_list_stream_writes_and_reads_back) :-
        prolog:'$stream_from_codes'([], A, 0x68),
        S = '$stream'(A),
        put_char(S, o), put_char(S, k), put_code(S, 0x20AC),
        flush_output(S),
        read_codes(S, Cs),
        close(S),
        Cs == [0'o, 0'k, 0x20AC].

test(empty_code_list_stream_is_at_end) :-
        prolog:'$stream_from_codes'([], A, 0x28),
        S = '$stream'(A),
        get_code(S, C),
        close(S),
        C == -1.

test(code_list_stream_refuses_a_non_code) :-
        \+ prolog:'$stream_from_codes'([a], _, 0x28).

% ---- Native helpers ----

expect(vrio_error_names, N, (prolog:'$vrio_error_name'(-10008, N) ; prolog:'$vrio_error_name'(-12345, N)),
       ['VRIO_E_NOT_FOUND', 'VRIO_E_ERROR']).
test(stream_code_of_a_non_stream_fails) :- \+ prolog:'$stream_code'(_, 12).
test(stream_code_of_user_output) :-
        prolog:'$stream_code'(user_output, A), current_output('$stream'(A)).

% ---- halt ----

% halt/1 flushes every open output stream before the process may end: a
% file written and never closed holds its text once halt has run.
uncaught(halt_flushes_open_streams,
         (open('streams_test_halt', write, S), put_char(S, h), put_char(S, i), halt(0)),
         '$reserved'(4)).
test(the_file_left_open_by_halt_is_complete) :-
        read_file('streams_test_halt', [], hi).

% ---- $open/5: unique names ----

% With the unique-name bit (0x20000) and exclusive creation (0x10000), an
% existing name gets the process id and a number between its stem and its
% extension.
test(unique_file_names) :-
        write_file('streams_test_log.txt', [], old),
        prolog:'$absolute_path'('streams_test_log.txt', '', 0, Path),
        prolog:'$open'(Path, write, 0x30000, [], A),
        S = '$stream'(A),
        stream_property(S, file_name(F)),
        put_char(S, n),
        close(S),
        F \== Path,
        atom_concat(Stem, '.txt', Path),
        atom_concat(Stem, Rest, F),
        atom_concat(Digits, '.txt', Rest),
        atom_codes(Digits, Ds), Ds \== [], digits(Ds),
        read_file('streams_test_log.txt', [], old),
        read_file(F, [], n).

digits([]).
digits([D|Ds]) :- D >= 0'0, D =< 0'9, digits(Ds).

test(exclusive_creation_refuses_an_existing_file) :-
        write_file('streams_test_excl', [], x),
        prolog:'$absolute_path'('streams_test_excl', '', 0, Path),
        \+ prolog:'$open'(Path, write, 0x10000, [], _),
        prolog:'$cerror_data'(1030, _).

% ---- $select/10 ----

expect(select_results, R,
       (prolog:'$stream_from_codes'("x", A, 0x28),
        (   prolog:'$select'([], _, [], _, [A], RS, [], _, 0.0, R0), RS == [A], R = R0
        ;   prolog:'$select'([], _, [], _, [], _, [], _, 0, R)
        ;   prolog:'$select'([], _, [], _, [foo], _, [], _, 0.0, R)
        ;   close('$stream'(A)), fail
        )),
       [0, -10004, -10004]).

test(select_times_out_with_nothing_ready) :-
        prolog:'$select'([], _, [], _, [], _, [], _, 0.0, -10018).

test(select_refuses_a_closed_stream) :-
        prolog:'$stream_from_codes'([], A, 0x28),
        close('$stream'(A)),
        catch(prolog:'$select'([], _, [], _, [A], _, [], _, 0.0, _), error(E, context(_, N)), true),
        E = domain_error(stream_or_alias, _), N == 5.

% ---- Line-flushed streams ----

% A code-list stream is line-flushed: nl/1 sends what was written to the
% device at once, put_char/2 alone does not.
test(newline_flushes_a_line_flushed_stream) :-
        prolog:'$stream_from_codes'([], A, 0x68),
        S = '$stream'(A),
        put_char(S, a),
        at_end_of_stream(S),
        nl(S),
        read_codes(S, Cs),
        close(S),
        Cs == [0'a, 0'\n].

% ---- The native built-ins under the predicates ----

% A code-list stream open both ways (0x68), its address.
rw_stream(A) :- prolog:'$stream_from_codes'("xy", A, 0x68).

native_error(put_byte_range, (open('streams_test_n1', write, S, [type(binary)]), S = '$stream'(A)),
             prolog:'$put_byte_fail_on_interrupt'(A, 256, 0), domain_error(byte, 256)).
native_error(put_byte_not_integer, (open('streams_test_n1', write, S, [type(binary)]), S = '$stream'(A)),
             prolog:'$put_byte_fail_on_interrupt'(A, a, 0), type_error(integer, a)).
native_error(put_code_negative, rw_stream(A), prolog:'$put_code_fail_on_interrupt'(A, -1, 0),
             representation_error(character_code)).
native_error(get_code_bad_options, rw_stream(A), prolog:'$get_code_fail_on_interrupt'(A, _, x),
             type_error(integer, x)).
native_error(not_a_stream, true, prolog:'$stream_count'(12, _, _, _), domain_error(stream_or_alias, 12)).
native_error(negative_line_count, rw_stream(A), prolog:'$stream_set_line_count'(A, -1),
             domain_error(not_less_than_zero, -1)).
native_error(line_count_not_integer, rw_stream(A), prolog:'$stream_set_line_count'(A, x),
             type_error(integer, x)).
native_error(unget_not_integer, rw_stream(A), prolog:'$unget_code'(A, x, _), type_error(integer, x)).

expect(native_errors, Case-F,
       (native_error(Case, Setup, Goal, _), call(Setup), error_of(Goal, F)),
       [put_byte_range-domain_error(byte, 256), put_byte_not_integer-type_error(integer, a),
        put_code_negative-representation_error(character_code),
        get_code_bad_options-type_error(integer, x),
        not_a_stream-domain_error(stream_or_alias, 12),
        negative_line_count-domain_error(not_less_than_zero, -1),
        line_count_not_integer-type_error(integer, x),
        unget_not_integer-type_error(integer, x)]).

% The natives' own culprit is the stream argument as given: the address.
test(native_wrong_direction) :-
        open('streams_test_n2', write, S), S = '$stream'(A),
        error_of(prolog:'$get_code_fail_on_interrupt'(A, _, 0), F),
        close(S),
        F == permission_error(input, stream, A).

% An empty file with the action error: -1 once, then the past-end error.
test(native_read_past_end) :-
        empty_file('streams_test_n3'),
        open('streams_test_n3', read, S), S = '$stream'(A),
        prolog:'$get_code_fail_on_interrupt'(A, -1, 0),
        error_of(prolog:'$get_code_fail_on_interrupt'(A, _, 0),
                 permission_error(input, past_end_of_stream, _)),
        close(S).

% Closing only the input direction (option 4) of a two-way stream leaves
% its output open.
test(close_one_direction) :-
        rw_stream(A),
        prolog:'$close_fail_on_interrupt'(A, 4),
        S = '$stream'(A),
        stream_property(S, output), \+ stream_property(S, input),
        close(S).

test(set_position_of_a_stream_that_cannot_move_fails_quietly) :-
        \+ prolog:'$set_stream_position'(user_input, 0, 0, 0, 0).

% The line count can be set; the item count stays.
test(stream_set_line_count) :-
        rw_stream(A),
        get_char('$stream'(A), x),
        prolog:'$stream_set_line_count'(A, 41),
        prolog:'$stream_count'(A, I, L, P),
        prolog:'$stream_offset'(A, O),
        close('$stream'(A)),
        [I, L, P, O] == [1, 41, 0, 1].

% $seek moves a repositionable stream and answers the new offset; it fails
% where it cannot move.
test(seek) :-
        write_file('streams_test_seek', [], 'abcdef'),
        open('streams_test_seek', read, S, [reposition(true)]),
        S = '$stream'(A),
        prolog:'$seek'(A, 4, bof, N1), get_char(S, e),
        prolog:'$seek'(A, -3, current, N2), get_char(S, c),
        \+ prolog:'$seek'(A, 0, middle, _),
        \+ prolog:'$seek'(A, x, bof, _),
        close(S),
        N1 == 4, N2 == 2.

% The last character read can be pushed back, once.
test(unget_code) :-
        rw_stream(A),
        S = '$stream'(A),
        get_code(S, 0'x),
        prolog:'$unget_code'(A, 0'x, _),
        error_of(prolog:'$unget_code'(A, 0'x, _), system_error(_)),
        get_code(S, X),
        close(S),
        X == 0'x.

% The buffered readers take what the buffer holds up to a stop code.
test(buffered_codes) :-
        prolog:'$stream_from_codes'("ab,cd", A, 0x28),
        S = '$stream'(A),
        peek_code(S, _),
        prolog:'$get_buffered_codes'(A, 0',, L, T),
        T = [],
        get_code(S, C),
        close(S),
        L == [0'a, 0'b], C == 0',.

% A null stream takes all output and shows in the enumeration.
test(open_null) :-
        prolog:'$open_null'(A),
        S = '$stream'(A),
        put_char(S, z), flush_output(S),
        stream_property(S, output),
        close(S).

% user_output redirected to a file; closing the file puts the original
% back.
test(redirected_user_output) :-
        open('streams_test_redir', write, S), S = '$stream'(F),
        prolog:'$stdoutput'(Orig, F),
        put_char(user_output, r),
        close(user_output),
        prolog:'$stdoutput'(Now, Now),
        Now == Orig,
        read_file('streams_test_redir', [], r).
