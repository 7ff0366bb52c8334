% Output tunnels ('$open_tunnel_stream'/4): what is written to a tunnel
% reaches its binary control stream as "TUNNEL APPEND name data" lines,
% the data quoted (line feed 0, 0 as 1 2, 1 as 1 1, carriage return 1 3);
% a text tunnel writes UTF-8; once the control stream is closed the
% tunnel reports end of file; the arguments it refuses.
% The control stream's listener ('$add_stream_listener'/2) over a
% connection on the loopback address: every line reaches the
% pass-through pipe, input tunnels get their data (also what came before
% they were opened) and end of file on CLOSE, and the pipe ends when the
% environment leaves.

:- use_module(library(process)).
:- use_module(library(sockets)).

tmp_file(F) :-
        process_id(Pid),
        number_codes(Pid, Cs),
        atom_codes(P, Cs),
        atom_concat('/tmp/trelix_tunnel_', P, F).

file_bytes(F, Bs) :-
        open(F, read, S, [type(binary)]),
        read_bytes(S, Bs),
        close(S).

read_bytes(S, Bs) :-
        get_byte(S, B),
        (   B =:= -1 -> Bs = [] ; Bs = [B|Bs1], read_bytes(S, Bs1) ).

put_bytes(_, []).
put_bytes(S, [B|Bs]) :- put_byte(S, B), put_bytes(S, Bs).

tunnel('$stream'(C), Name, Bits, '$stream'(A)) :-
        prolog:'$open_tunnel_stream'(C, Name, Bits, A).

test(binary_tunnel_quotes_its_bytes) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        tunnel(C, t1, 8, T),
        put_bytes(T, [1, 10, 13]),
        close(T),
        close(C),
        file_bytes(F, Bs),
        atom_codes('TUNNEL APPEND t1 ', Head),
        append_(Head, [1, 1, 0, 1, 3, 10], Bs).

% However the writes are cut into lines, the data of the lines, unquoted,
% is the UTF-8 text written.
test(text_tunnel_writes_utf8_lines) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        tunnel(C, out, 0, T),
        write(T, 'h\xe9\'), nl(T),
        put_char(T, z), flush_output(T),
        close(T),
        close(C),
        file_bytes(F, Bs),
        atom_codes('TUNNEL APPEND out ', Head),
        tunnel_data(Bs, Head, Quoted),
        unquote(Quoted, Data),
        Data == [0'h, 0xC3, 0xA9, 10, 0'z].

tunnel_data([], _, []).
tunnel_data(Bs, Head, Data) :-
        append_(Head, Rest, Bs),
        append_(Line, [10|More], Rest), \+ member_(10, Line), !,
        append_(Line, Data1, Data),
        tunnel_data(More, Head, Data1).

member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).

unquote([], []).
unquote([0|Xs], [10|Ys]) :- !, unquote(Xs, Ys).
unquote([1, 2|Xs], [0|Ys]) :- !, unquote(Xs, Ys).
unquote([1, 1|Xs], [1|Ys]) :- !, unquote(Xs, Ys).
unquote([1, 3|Xs], [13|Ys]) :- !, unquote(Xs, Ys).
unquote([X|Xs], [X|Ys]) :- X > 1, unquote(Xs, Ys).

test(tunnel_without_its_control_stream) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        tunnel(C, gone, 8, T),
        close(C),
        catch(( put_byte(T, 65), flush_output(T), E = none ), E, true),
        E \== none,
        close(T, [force(true)]).

test(refused_arguments) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        \+ tunnel(C, 7, 8, _),
        \+ tunnel(C, t, -1, _),
        \+ tunnel(C, t, 0x4, _),       % input tunnels need a listener's control stream
        open(F, write, Text, []),
        \+ tunnel(Text, t, 8, _),      % the control stream must be binary
        close(Text),
        close(C).

% ---- The control stream's listener ----

% The environment's end E and the runtime's end R of a control stream.
control(S, E, R) :-
        socket_server_open(P, S, [loopback(true)]),
        socket_client_open('127.0.0.1':P, E, [type(binary)]),
        socket_server_accept(S, _, R, [type(binary)]).

listener('$stream'(C), '$stream'(P)) :-
        prolog:'$add_stream_listener'(C, P).

send(E, Text) :-
        atom_codes(Text, Cs),
        put_bytes(E, Cs),
        flush_output(E).

read_line(S, Cs) :-
        get_code(S, C),
        (   C =:= 0'\n -> Cs = [] ; C =:= -1 -> Cs = [] ; Cs = [C|Cs1], read_line(S, Cs1) ).

read_codes(S, Cs) :-
        get_code(S, C),
        (   C =:= -1 -> Cs = [] ; Cs = [C|Cs1], read_codes(S, Cs1) ).

line(S, Text) :- read_line(S, Cs), atom_codes(Text, Cs).

read_byte_line(S, Bs) :-
        get_byte(S, B),
        (   B =:= 10 -> Bs = [] ; B =:= -1 -> Bs = [] ; Bs = [B|Bs1], read_byte_line(S, Bs1) ).

test(listener_passes_lines_and_feeds_input_tunnels) :-
        control(S, E, R),
        listener(R, P),
        send(E, 'hello\nTUNNEL APPEND t1 ab\nTUNNEL APPEND t2 \x1\\x1\\n'),
        line(P, hello),
        line(P, 'TUNNEL APPEND t1 ab'),
        line(P, 'TUNNEL APPEND t2 \x1\\x1\'),
        tunnel(R, t1, 0x4, T1),               % after its first data
        \+ tunnel(R, t1, 0x4, _),              % once only
        send(E, 'TUNNEL APPEND t1 c\x1\\x3\\nTUNNEL CLOSE t1\nTUNNEL CLOSE t2\n'),
        read_codes(T1, Cs1),
        Cs1 == [0'a, 0'b, 0'c, 13],
        tunnel(R, t2, 0xC, T2),               % binary, after its end
        read_bytes(T2, Bs2),
        Bs2 == [1],
        close(T1), close(T2),
        line(P, 'TUNNEL APPEND t1 c\x1\\x3\'),
        line(P, 'TUNNEL CLOSE t1'),
        line(P, 'TUNNEL CLOSE t2'),
        close(E),                             % the environment leaves
        get_code(P, -1),
        \+ tunnel(R, t3, 0x4, _),              % the listener has gone
        close(R),
        socket_server_close(S).

% Output tunnels and the listener share one control stream.
test(both_ways_over_one_control_stream) :-
        control(S, E, R),
        listener(R, P),
        tunnel(R, out, 0, Out),
        write(Out, ping), nl(Out),
        read_byte_line(E, Bs),
        atom_codes('TUNNEL APPEND out ping', Head),
        append_(Head, [0], Bs),               % the line feed, quoted
        send(E, 'TUNNEL APPEND in pong\n'),
        line(P, 'TUNNEL APPEND in pong'),
        tunnel(R, in, 0x4, In),
        get_char(In, p),
        close(Out), close(In), close(E),
        get_code(P, -1),
        close(R),
        socket_server_close(S).

append_([], L, L).
append_([X|Xs], L, [X|Ys]) :- append_(Xs, L, Ys).
