% Operating-system services of the runtime library: absolute file names
% and waiting on sockets and streams.  The user-level predicates over
% sockets, files and the clock are in library(sockets),
% library(file_systems) and library(system); they call the natives of
% this module directly.

% absolute_file_name(+Name, -Absolute): Name (an atom, or a list of atoms
% joined with "/") made absolute against the current directory and
% normalised; a leading ~ or ~user is a home directory, $VAR/ a property
% or environment variable.
absolute_file_name(Name, Absolute) :-
        G = absolute_file_name(Name, Absolute),
        must_be(Name, nonvar, G, 1),
        (   atom(Name) -> true
        ;   proper_list(Name), all_of(Name, atom) -> true
        ;   illarg(type(atom), G, 1)
        ),
        '$absolute_path'(Name, '', 0, Path),
        (   Path == '' -> illarg(domain(_, file_name), G, 1) ; true ),
        Absolute = Path.

% socket_select(+Listeners, -ReadyListeners, +ReadStreams, -ReadyRead,
%               +WriteStreams, -ReadyWrite, +Timeout)
% Waits until a listener has a client waiting, a read stream has input
% (or its end), a write stream can take output, or Timeout (off, or
% seconds) passes; then each ready list holds what is ready, in the
% order given (all empty after a time-out).  Listeners are socket
% numbers; library(sockets) wraps this with its own socket terms.
socket_select(Ls, RLs, Rs, RRs, Ws, RWs, Timeout) :-
        G = socket_select(Ls, RLs, Rs, RRs, Ws, RWs, Timeout),
        must_be(Ls, list(integer), G, 1),
        must_be(Rs, list, G, 3),
        must_be(Ws, list, G, 5),
        must_be(Timeout, nonvar, G, 7),
        (   Timeout == off -> T = -1.0
        ;   number(Timeout), Timeout >= 0 -> T is float(Timeout)
        ;   illarg(domain(_, timeout), G, 7)
        ),
        select_addresses(Rs, input, G, 3, RAs),
        select_addresses(Ws, output, G, 5, WAs),
        socket_select_(Ls, RLs0, RAs, RRAs, WAs, RWAs, T, G),
        RLs = RLs0,
        select_streams(RRAs, RRs),
        select_streams(RWAs, RWs).

socket_select_(Ls, RLs, RAs, RRAs, WAs, RWAs, T, G) :-
        '$select'(Ls, RLs0, [], _, RAs, RRAs0, WAs, RWAs0, T, R),
        (   R =:= 0 -> RLs = RLs0, RRAs = RRAs0, RWAs = RWAs0
        ;   '$vrio_error_name'(R, 'VRIO_E_TIMEOUT') -> RLs = [], RRAs = [], RWAs = []
        ;   '$vrio_error_name'(R, 'VRIO_E_INTERRUPTED') ->
            socket_select_(Ls, RLs, RAs, RRAs, WAs, RWAs, T, G)
        ;   '$vrio_error_name'(R, Name),
            illarg(system(Name), G, 0)
        ).

select_addresses([], _, _, _, []).
select_addresses([S|Ss], Dir, G, N, [A|As]) :-
        (   Dir == input -> input_stream(S, G, N, A) ; output_stream(S, G, N, A) ),
        select_addresses(Ss, Dir, G, N, As).

select_streams([], []).
select_streams([A|As], ['$stream'(A)|Ss]) :- select_streams(As, Ss).
