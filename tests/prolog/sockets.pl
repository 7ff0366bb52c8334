% Sockets: a server and its clients in one process, on the loopback
% address (127.0.0.1) and on Unix-domain paths: text and binary streams
% both ways, a refused connection, a peer's close seen as end of file,
% several clients waited for with socket_select/7, and the errors.
%
% Everything runs on one thread: a client's connect completes in the
% kernel's backlog before the server accepts, and every message fits the
% kernel's buffers, so no step waits for a later one.

:- use_module(library(sockets)).
:- use_module(library(file_systems)).
:- use_module('os_services/own_directory').

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

server(S, P) :- socket_server_open(P, S, [loopback(true)]).

% A server, one client connected to it and the server's side of the
% connection, all with the same stream options.
pair(Opts, S, C, A) :-
        server(S, P),
        socket_client_open('127.0.0.1':P, C, Opts),
        socket_server_accept(S, _, A, Opts).

close_all(S, Ss) :- close_streams(Ss), socket_server_close(S).

close_streams([]).
close_streams([X|Xs]) :- close(X), close_streams(Xs).

read_line(S, Cs) :-
        get_code(S, C),
        (   C =:= 0'\n -> Cs = [] ; C =:= -1 -> Cs = [] ; Cs = [C|Cs1], read_line(S, Cs1) ).

read_bytes(S, N, Bs) :-
        (   N =:= 0 -> Bs = []
        ;   get_byte(S, B), Bs = [B|Bs1], N1 is N - 1, read_bytes(S, N1, Bs1)
        ).

put_bytes([], _).
put_bytes([B|Bs], S) :- put_byte(S, B), put_bytes(Bs, S).

% The port an unbound Port gets is a number the system chose.
test(server_port_chosen) :-
        server(S, P),
        integer(P), P > 0,
        socket_server_close(S).

% Text both ways: terms, a line, and the client's address as the server
% sees it.
test(text_round_trip) :-
        server(S, P),
        socket_client_open('127.0.0.1':P, C, []),
        socket_server_accept(S, Host:CPort, A, []),
        Host == '127.0.0.1', integer(CPort),
        format(C, "hello(~q).~n", [['a b', 1.5, "xy"]]),
        flush_output(C),
        read(A, T), T == hello(['a b', 1.5, [0'x, 0'y]]),
        write(A, 'reply line'), nl(A), flush_output(A),
        read_line(C, Cs), atom_codes('reply line', Cs),
        close_all(S, [C, A]).

% The default text encoding is ISO-8859-1 (one byte per character);
% encoding('UTF-8') carries any character, checked by reading the bytes
% back through a binary peer.
test(text_encodings) :-
        server(S, P),
        socket_client_open('127.0.0.1':P, C1, []),
        socket_server_accept(S, _, A1, [type(binary)]),
        put_code(C1, 0xE9), flush_output(C1),
        read_bytes(A1, 1, [0xE9]),
        socket_client_open('127.0.0.1':P, C2, [encoding('UTF-8')]),
        socket_server_accept(S, _, A2, [encoding('UTF-8')]),
        atom_codes(X, [0x3B1, 0x20AC, 0x1F600]),
        write(C2, X), nl(C2), flush_output(C2),
        read_line(A2, Cs), atom_codes(X, Cs),
        close_all(S, [C1, A1, C2, A2]).

% Binary: every byte value arrives unchanged, in both directions.
test(binary_round_trip) :-
        pair([type(binary)], S, C, A),
        numlist_(0, 255, Bs),
        put_bytes(Bs, C), flush_output(C),
        read_bytes(A, 256, Bs1), Bs1 == Bs,
        put_bytes([0, 10, 13, 255], A), flush_output(A),
        read_bytes(C, 4, [0, 10, 13, 255]),
        close_all(S, [C, A]).

numlist_(L, H, []) :- L > H, !.
numlist_(L, H, [L|T]) :- L1 is L + 1, numlist_(L1, H, T).

% A peer that closes is end of file for the reader, after the data it
% sent; eof_action(eof_code) keeps answering end of file.
test(closed_peer_is_end_of_file) :-
        pair([eof_action(eof_code)], S, C, A),
        write(C, abc), close(C),
        read_line(A, "abc"),
        get_code(A, E1), E1 == -1,
        get_code(A, E2), E2 == -1,
        at_end_of_stream(A),
        close_all(S, [A]).

test(closed_binary_peer_is_end_of_file) :-
        pair([type(binary)], S, C, A),
        put_byte(A, 7), close(A),
        get_byte(C, 7), get_byte(C, E), E == -1,
        close_all(S, [C]).

% Nothing listens on a port just given up: the connection is refused.
test(refused_connection) :-
        server(S, P),
        socket_server_close(S),
        error_of(socket_client_open('127.0.0.1':P, _, []), F),
        F == system_error('VRIO_E_NET_CONNREFUSED').

% A Unix-domain path where no socket is: no such source or sink.
test(refused_unix_path) :-
        error_of(socket_client_open(unix('sockets_test_no_such_socket'), _, []), F),
        F = existence_error(source_sink, _).

% Several clients: the server is ready while clients wait, accepts each,
% and socket_select/7 reports the connections that have data, in the
% order given; a time-out reports nothing.
test(several_clients) :-
        server(S, P),
        socket_select([S], R0, [], _, [], _, 0),
        R0 == [],
        socket_client_open('127.0.0.1':P, C1, []),
        socket_client_open('127.0.0.1':P, C2, []),
        socket_client_open('127.0.0.1':P, C3, []),
        socket_select([S], R1, [], _, [], _, off),
        R1 == [S],
        socket_server_accept(S, _, A1, []),
        socket_server_accept(S, _, A2, []),
        socket_server_accept(S, _, A3, []),
        socket_select([S], [], [A1, A2, A3], [], [], _, 0.01),
        write(C3, three), nl(C3), flush_output(C3),
        write(C1, one), nl(C1), flush_output(C1),
        wait_readable([A1, A2, A3], 2, Ready),
        Ready == [A1, A3],
        read_line(A1, "one"), read_line(A3, "three"),
        socket_select([], _, [], _, [C1, C2], W, 0.5),
        W == [C1, C2],
        close(C2),
        socket_select([], _, [A2], R2, [], _, off),
        R2 == [A2],
        get_code(A2, -1),
        close_all(S, [C1, C3, A1, A2, A3]).

% Waits until N of the streams have data (they may arrive one at a time).
wait_readable(Ss, N, Ready) :-
        socket_select([], _, Ss, R, [], _, 5),
        length(R, M),
        (   M >= N -> Ready = R ; wait_readable(Ss, N, Ready) ).

% Unix-domain sockets: a path left over from an earlier listener needs
% reuseaddr(true); the peer is localhost with no port.  The path is in a
% directory of this run's own (the same file may run twice at once).
test(unix_domain) :-
        own_directory(Dir),
        atom_concat(Dir, '/socket', Path),
        socket_server_open(unix(Path), S, []),
        socket_client_open(unix(Path), C, [type(binary)]),
        socket_server_accept(S, Client, A, [type(binary)]),
        Client == localhost:'',
        put_byte(C, 42), flush_output(C),
        get_byte(A, 42),
        close_all(S, [C, A]),
        error_of(socket_server_open(unix(Path), _, []), F),
        F == system_error('VRIO_E_NET_ADDRINUSE'),
        socket_server_open(unix(Path), S2, [reuseaddr(true)]),
        socket_server_close(S2),
        delete_file(Path),
        delete_directory(Dir).

% A new directory sockets_test_N, N the first number free.
own_directory(Dir) :- own_directory('sockets_test_', Dir).

% A Unix-domain path fits in 107 bytes with its terminating zero.
test(unix_path_too_long) :-
        length(L, 200), maplist_a(L),
        atom_codes(Long, L),
        error_of(socket_server_open(unix(Long), _, [reuseaddr(true)]), F),
        F == system_error('VRIO_E_PARAMETER_ERROR').

maplist_a([]).
maplist_a([0'a|T]) :- maplist_a(T).

test(current_host) :-
        current_host(H),
        atom(H), H \== '',
        atom_codes(H, Cs), \+ ( member_(C, Cs), C >= 0'A, C =< 0'Z ).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

% The natives below the library: bits without a stream type; an unbound
% port receives the one chosen, as an atom; closing an integer that is no
% listener leaves the descriptor alone (standard output still works), and
% a closed listener is no longer accepted on.
test(native_checks) :-
        catch(prolog:'$socket_open_fail_on_interrupt'('127.0.0.1', 1, 0, [], _), error(E, _), true),
        E == system_error('VRIO_E_PARAMETER_ERROR'),
        prolog:'$socket_listen_fail_on_interrupt'('', P, 1, [], N),
        atom(P), atom_number(P, _),
        prolog:'$socket_close'(N),
        prolog:'$socket_close'(1),
        catch(prolog:'$socket_accept_fail_on_interrupt'(N, 0x4000, [], _, _, _), error(E2, _), true),
        E2 == system_error('VRIO_E_PARAMETER_ERROR'),
        nl(user_output), flush_output(user_output).

% Errors of the library predicates name the caller's goal.
expect(client_errors, F,
       ( member_(G, [socket_client_open(_, _, []),
                     socket_client_open(foo, _, []),
                     socket_client_open('127.0.0.1':_, _, []),
                     socket_client_open('127.0.0.1':1, _, [type(foo)]),
                     socket_client_open('127.0.0.1':1, _, foo)]),
         catch(G, error(F, context(G1, _)), true),
         functor(G1, socket_client_open, 3) ),
       [instantiation_error, domain_error(socket_address, foo), instantiation_error,
        domain_error(socket_option, type(foo)), type_error(list, foo)]).

expect(server_errors, F,
       ( member_(G, [socket_server_accept(_, _, _, []),
                     socket_server_accept(foo, _, _, []),
                     socket_server_close(bar),
                     socket_server_open(1.5, _, []),
                     socket_server_open(_, _, [loopback(maybe)]),
                     socket_select([x], _, [], _, [], _, 0),
                     socket_select([], _, [], _, [], _, never)]),
         catch(G, error(F, _), true) ),
       [instantiation_error, domain_error(server_socket, foo), domain_error(server_socket, bar),
        domain_error(socket_address, 1.5), domain_error(socket_option, loopback(maybe)),
        domain_error(server_socket, x), domain_error(timeout, never)]).
