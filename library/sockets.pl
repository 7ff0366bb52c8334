% Sockets: connecting to servers, listening for clients, waiting on
% several of them.  A connection is one stream, input and output at once;
% closing it closes the connection (a peer that closes its end is end of
% file for the reader).  A listening socket is the term '$socket'(N).
%
% Addresses: Host:Port (Host an atom, '' for this host; Port an integer or
% a service name) for TCP over IPv4 and IPv6, or unix(Path) for a
% Unix-domain socket.  Options of the stream predicates: type(text) (the
% default) or type(binary), encoding(Charset) (text; default ISO-8859-1),
% eof_action(error|eof_code|reset).  Errors are ISO error terms; what the
% operating system refuses is system_error(Name), Name the I/O library's
% name of the failure ('VRIO_E_NET_CONNREFUSED', ...).
%
% Over the natives $socket_open/5, $socket_listen/5, $socket_accept/6,
% $socket_close/1 and $hostname/2 and socket_select/7 of module prolog.

:- module(sockets, [socket_client_open/3, socket_server_open/2, socket_server_open/3,
                    socket_server_accept/4, socket_server_close/1, current_host/1,
                    socket_select/7]).

% The address-family field of the natives' bits: 3 is a Unix-domain path.
family_bits(A, Bits) :- ( nonvar(A), A = unix(_) -> Bits = 0x300000 ; Bits = 0 ).

% socket_client_open(+Address, -Stream, +Options)
socket_client_open(Address, Stream, Options) :-
        G = socket_client_open(Address, Stream, Options),
        client_address(Address, G, Host, Port),
        (   var(Stream) -> true ; illarg(uninstantiation, G, 2, Stream) ),
        stream_options(Options, G, 3, Bits0, Enc),
        family_bits(Address, F),
        Bits is Bits0 \/ F,
        native(client_open(Host, Port, Bits, Enc, A), G, 1),
        Stream = '$stream'(A).

client_open(Host, Port, Bits, Enc, A) :-
        (   prolog:'$socket_open_fail_on_interrupt'(Host, Port, Bits, Enc, A0) -> A = A0
        ;   client_open(Host, Port, Bits, Enc, A)
        ).

client_address(Address, G, _, _) :- var(Address), !, illarg(var, G, 1).
client_address(unix(Path), G, Abs, '') :- !, socket_path(Path, G, 1, Abs).
client_address(Host:Port, G, Host, Port) :- !,
        must_be(Host, atom, G, 1),
        must_be(Port, nonvar, G, 1),
        (   integer(Port) -> true ; must_be(Port, atom, G, 1) ).
client_address(Address, G, _, _) :- illarg(domain(_, socket_address), G, 1, Address).

% socket_server_open(?Port, -Server)
% socket_server_open(?Port, -Server, +Options)
% Listens on Port (an unbound Port is given the port the system chose) or
% on unix(Path).  Options: loopback(true) (only this machine may connect),
% reuseaddr(true) (bind even when an old connection lingers on the port,
% or remove a file left at the path).
socket_server_open(Port, Server) :-
        socket_server_open(Port, Server, []).

socket_server_open(Port, Server, Options) :-
        G = socket_server_open(Port, Server, Options),
        (   var(Server) -> true ; illarg(uninstantiation, G, 2, Server) ),
        must_be(Options, list, G, 3),
        server_options(Options, G, 0, Bits0),
        (   var(Port) -> Host = ''
        ;   Port = unix(Path) -> socket_path(Path, G, 1, Host), P = ''
        ;   integer(Port) -> Host = '', P = Port
        ;   atom(Port) -> Host = '', P = Port
        ;   illarg(domain(_, socket_address), G, 1)
        ),
        family_bits(Port, F),
        Bits is Bits0 \/ F,
        native(server_open(Host, P, Bits, N), G, 1),
        (   var(Port), atom(P), atom_number(P, Chosen) -> Port = Chosen ; true ),
        Server = '$socket'(N).

server_open(Host, Port, Bits, N) :-
        (   prolog:'$socket_listen_fail_on_interrupt'(Host, Port, Bits, [], N0) -> N = N0
        ;   server_open(Host, Port, Bits, N)
        ).

server_options([], _, B, B).
server_options([X|Xs], G, B0, B) :-
        (   var(X) -> illarg(var, G, 3)
        ;   server_option(X, Bit, On) ->
            (   On == true -> B1 is B0 \/ Bit ; B1 is B0 /\ \Bit ),
            server_options(Xs, G, B1, B)
        ;   illarg(domain(_, socket_option), G, 3, X)
        ).

server_option(loopback(On), 0x1, On) :- boolean(On).
server_option(reuseaddr(On), 0x8, On) :- boolean(On).

boolean(true).
boolean(false).

% A Unix-domain socket's path, made absolute as open/3 does it.
socket_path(Path, G, ArgNo, Abs) :-
        must_be(Path, atom, G, ArgNo),
        prolog:'$absolute_path'(Path, '', 0, Abs0),
        (   Abs0 == '' -> illarg(domain(_, file_name), G, ArgNo) ; Abs = Abs0 ).

% socket_server_accept(+Server, -Client, -Stream, +Options): waits for the
% next client; Client is Host:Port of its numeric address (localhost:''
% for a Unix-domain peer).
socket_server_accept(Server, Client, Stream, Options) :-
        G = socket_server_accept(Server, Client, Stream, Options),
        server_number(Server, G, 1, N),
        (   var(Stream) -> true ; illarg(uninstantiation, G, 3, Stream) ),
        stream_options(Options, G, 4, Bits, Enc),
        native(server_accept(N, Bits, Enc, Host, Port0, A), G, 1),
        (   atom_number(Port0, Port) -> true ; Port = Port0 ),
        Client = Host:Port,
        Stream = '$stream'(A).

server_accept(N, Bits, Enc, Host, Port, A) :-
        (   prolog:'$socket_accept_fail_on_interrupt'(N, Bits, Enc, Host0, Port0, A0) ->
            Host = Host0, Port = Port0, A = A0
        ;   server_accept(N, Bits, Enc, Host, Port, A)
        ).

% socket_server_close(+Server): no further clients; connections already
% accepted stay open.
socket_server_close(Server) :-
        server_number(Server, socket_server_close(Server), 1, N),
        prolog:'$socket_close'(N).

server_number(S, G, ArgNo, _) :- var(S), !, illarg(var, G, ArgNo).
server_number('$socket'(N), _, _, N) :- integer(N), !.
server_number(S, G, ArgNo, _) :- illarg(domain(_, server_socket), G, ArgNo, S).

% current_host(-Host): this machine's name, in lower case.
current_host(Host) :-
        prolog:'$hostname'(H, _),
        Host = H.

% socket_select(+Servers, -ReadyServers, +ReadStreams, -ReadyRead,
%               +WriteStreams, -ReadyWrite, +Timeout)
% Waits until a server has a client waiting (socket_server_accept/4 then
% does not wait), a read stream has input or its end, a write stream can
% take output, or Timeout (off, or a number of seconds) passes.  The ready
% lists keep the order given and are all empty after a time-out.
socket_select(Servers, ReadyServers, Rs, RRs, Ws, RWs, Timeout) :-
        G = socket_select(Servers, ReadyServers, Rs, RRs, Ws, RWs, Timeout),
        must_be(Servers, list, G, 1),
        server_numbers(Servers, G, Ns),
        prolog:socket_select(Ns, RNs, Rs, RRs, Ws, RWs, Timeout),
        server_numbers(ReadyServers0, G, RNs), !,
        ReadyServers = ReadyServers0.

server_numbers([], _, []).
server_numbers([S|Ss], G, [N|Ns]) :-
        (   nonvar(S) -> server_number(S, G, 1, N) ; S = '$socket'(N) ),
        server_numbers(Ss, G, Ns).

% The stream bits of the options: text (0x4000) or binary (0x800), and
% the end-of-file action.
stream_options(Options, G, ArgNo, Bits, Enc) :-
        must_be(Options, list, G, ArgNo),
        stream_options_(Options, G, ArgNo, o(0x4000, []), o(Bits, Enc0)),
        (   Enc0 == [] -> Enc = [] ; Enc = encoding(Enc0, default, default) ).

stream_options_([], _, _, O, O).
stream_options_([X|Xs], G, ArgNo, O0, O) :-
        (   var(X) -> illarg(var, G, ArgNo)
        ;   stream_option(X, O0, O1) -> stream_options_(Xs, G, ArgNo, O1, O)
        ;   illarg(domain(_, socket_option), G, ArgNo, X)
        ).

stream_option(type(text), o(B0, E), o(B, E)) :- B is (B0 /\ \0x4800) \/ 0x4000.
stream_option(type(binary), o(B0, E), o(B, E)) :- B is (B0 /\ \0x4800) \/ 0x800.
stream_option(encoding(E), o(B, _), o(B, E)) :- atom(E).
stream_option(eof_action(A), o(B0, E), o(B, E)) :- atom(A), eof_bits(A, V), B is (B0 /\ \0x600) \/ V.

eof_bits(error, 0).
eof_bits(eof_code, 0x200).
eof_bits(reset, 0x400).

% Runs a native of module prolog; its error is reported against the
% caller's goal, at argument ArgNo.
native(Goal, G, ArgNo) :-
        catch(Goal, error(E, context(_, _)), throw(error(E, context(G, ArgNo)))).
