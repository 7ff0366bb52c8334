% Child processes: process_create/2,3 starts a program with each standard
% stream inherited (std), on the null device (null) or on a pipe whose
% other end comes back as a stream (pipe(S)); process_wait/2,3 gives
% exit(Code), killed(Signal) or timeout; process_kill/1,2 sends a signal
% (a number or a name such as 'SIGTERM'); process_release/1 gives the
% process up (a child still running is reaped later); process_id/1,2 and
% is_process/1.  A process is the term process(P) asks for, or a process
% id.  A program that cannot be started is a child that exits with 1;
% path(Name) that names no file on PATH is an existence error.
% Over the process built-ins of module prolog (Emulator/process_builtins.cpp).

:- module(process, [process_create/2, process_create/3, process_wait/2, process_wait/3,
                    process_kill/1, process_kill/2, process_release/1, process_id/1,
                    process_id/2, is_process/1]).

process_create(File, Args) :-
        process_create(File, Args, []).

% process_create(+File, +Args, +Options)
process_create(File, Args, Options) :-
        G = process_create(File, Args, Options),
        program(File, G, Program),
        must_be(Args, proper_list, G, 2),
        arguments(Args, G, Parts),
        must_be(Options, proper_list, G, 3),
        create_options(Options, G, o(std, std, std, Cwd, default, _, false, no), O),
        O = o(In, Out, Err, Cwd, Env, Proc, Detached, Keep),
        (   var(Cwd) -> prolog:'$unix_cd'(Cwd, Cwd) ; true ),
        stream_bits(In, 0, G, B0),
        stream_bits(Out, 4, G, B1),
        stream_bits(Err, 8, G, B2),
        (   Detached == true -> B3 = 0x2000 ; B3 = 0 ),
        (   Keep == yes -> B4 = 0x1000 ; B4 = 0 ),
        Bits is B0 \/ B1 \/ B2 \/ B3 \/ B4,
        prolog:'$process_create'(Program, Parts, Cwd, Env, Bits, SIn, SOut, SErr, P, Code),
        (   Code =:= 0 -> true
        ;   code_error(Code, G, 1)
        ),
        pipe_stream(In, SIn),
        pipe_stream(Out, SOut),
        pipe_stream(Err, SErr),
        (   Keep == yes -> Proc = P ; true ).

program(File, G, _) :- var(File), !, illarg(var, G, 1).
program(path(Name), G, Program) :- atom(Name), !,
        (   prolog:'$split_env_path'('PATH', Dirs0, 0), reverse_(Dirs0, [], Dirs),
            member_(Dir, Dirs),
            dir_file(Dir, Name, Program),
            prolog:'$file_type'(Program, _, _) -> true
        ;   illarg(existence(source_sink, path(Name)), G, 1)
        ).
program(File, _, File) :- atom(File), !.
program(_, G, _) :- illarg(type(atom), G, 1).

dir_file(Dir, Name, File) :-
        (   sub_atom(Dir, _, 1, 0, '/') -> atom_concat(Dir, Name, File)
        ;   atom_concat(Dir, '/', D1), atom_concat(D1, Name, File)
        ).

reverse_([], R, R).
reverse_([X|Xs], R0, R) :- reverse_(Xs, [X|R0], R).

member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).

% Each argument: atomic, file(Name), or a list of those joined into one.
arguments([], _, []).
arguments([A|As], G, [P|Ps]) :-
        (   var(A) -> illarg(var, G, 2)
        ;   A = [_|_] -> parts(A, G, P)
        ;   part(A, G, P)
        ),
        arguments(As, G, Ps).

parts([], _, []).
parts([A|As], G, [P|Ps]) :- part(A, G, P), parts(As, G, Ps).

part(A, G, _) :- var(A), !, illarg(var, G, 2).
part(A, _, A) :- atom(A), !.
part(N, _, A) :- number(N), !, number_codes(N, Cs), atom_codes(A, Cs).
part(file(F), _, file(F)) :- atom(F), !.
part(A, G, _) :- illarg(domain(A, process_argument), G, 2, A).

create_options([], _, O, O).
create_options([X|Xs], G, O0, O) :-
        (   var(X) -> illarg(var, G, 3)
        ;   create_option(X, O0, O1) -> true
        ;   illarg(domain(X, process_create_option), G, 3, X)
        ),
        create_options(Xs, G, O1, O).

create_option(stdin(S), o(_, B, C, D, E, F, H, K), o(S, B, C, D, E, F, H, K)) :- stream_spec(S).
create_option(stdout(S), o(A, _, C, D, E, F, H, K), o(A, S, C, D, E, F, H, K)) :- stream_spec(S).
create_option(stderr(S), o(A, B, _, D, E, F, H, K), o(A, B, S, D, E, F, H, K)) :- stream_spec(S).
create_option(cwd(Dir), o(A, B, C, _, E, F, H, K), o(A, B, C, Dir, E, F, H, K)) :- atom(Dir).
create_option(environment(Env), o(A, B, C, D, _, F, H, K), o(A, B, C, D, Env, F, H, K)) :-
        environment(Env).
create_option(process(P), o(A, B, C, D, E, _, H, _), o(A, B, C, D, E, P, H, yes)) :- var(P).
create_option(detached(T), o(A, B, C, D, E, F, _, K), o(A, B, C, D, E, F, T, K)) :-
        (   T == true ; T == false ), !.

stream_spec(S) :- nonvar(S), ( S == std ; S == null ; S = pipe(V), var(V) ), !.

environment(Env) :- must_be_list_of_pairs(Env).
must_be_list_of_pairs(L) :- nonvar(L), L == [], !.
must_be_list_of_pairs(L) :- nonvar(L), L = [N=V|T], atom(N), atom(V), must_be_list_of_pairs(T).

stream_bits(std, Shift, _, B) :- B is 1 << Shift.
stream_bits(null, Shift, _, B) :- B is 2 << Shift.
stream_bits(pipe(_), Shift, _, B) :- B is 4 << Shift.

pipe_stream(pipe(S), A) :- !, S = '$stream'(A).
pipe_stream(_, _).

process_wait(P, Status) :-
        process_wait(P, Status, []).

% process_wait(+P, -Status, +Options): timeout(Seconds or infinite),
% release(Bool) (default false: the process can be waited for again).
process_wait(P, Status, Options) :-
        G = process_wait(P, Status, Options),
        process_arg(P, G),
        must_be(Options, proper_list, G, 3),
        wait_options(Options, G, infinite, T, false, R),
        (   R == true -> Bits = 1 ; Bits = 0 ),
        prolog:'$process_wait'(P, Bits, T, Kind, Value, Code),
        (   Code =:= 0 -> true
        ;   code_error(Code, G, 1)
        ),
        status(Kind, Value, Status0),
        Status = Status0.

wait_options([], _, T, T, R, R).
wait_options([X|Xs], G, T0, T, R0, R) :-
        (   var(X) -> illarg(var, G, 3)
        ;   X = timeout(T1), ( T1 == infinite ; number(T1), T1 >= 0 ) -> R1 = R0
        ;   X = release(R1), ( R1 == true ; R1 == false ) -> T1 = T0
        ;   illarg(domain(X, process_wait_option), G, 3, X)
        ),
        wait_options(Xs, G, T1, T, R1, R).

status(1, V, exit(V)) :- !.
status(2, V, killed(V)) :- !.
status(6, V, killed(V)) :- !.
status(4096, _, timeout) :- !.
status(8, V, stopped(V)) :- !.
status(_, V, unknown(V)).

process_kill(P) :-
        process_kill(P, 'SIGTERM').

process_kill(P, Signal) :-
        G = process_kill(P, Signal),
        process_arg(P, G),
        must_be(Signal, nonvar, G, 2),
        prolog:'$process_kill'(P, Signal, Code),
        (   Code =:= 0 -> true
        ;   Code =:= -10004 -> illarg(domain(Signal, signal), G, 2, Signal)
        ;   code_error(Code, G, 1)
        ).

process_release(P) :-
        G = process_release(P),
        process_arg(P, G),
        prolog:'$process_release'(P, 1, Code),
        (   Code =:= 0 -> true
        ;   code_error(Code, G, 1)
        ).

process_id(Pid) :-
        prolog:'$process_self_id'(Pid).

process_id(P, Pid) :-
        G = process_id(P, Pid),
        process_arg(P, G),
        prolog:'$process_id'(P, Pid0, Code),
        (   Code =:= 0 -> Pid = Pid0
        ;   code_error(Code, G, 1)
        ).

is_process(P) :-
        prolog:'$is_process'(P).

process_arg(P, G) :-
        (   var(P) -> illarg(var, G, 1)
        ;   integer(P) -> true
        ;   prolog:'$is_process'(P) -> true
        ;   illarg(type(process), G, 1, P)
        ).

% A result code of the I/O library as an error.
code_error(-10008, G, N) :- !, arg(N, G, P), illarg(existence(process, P), G, N, P).
code_error(-10020, G, N) :- !, arg(N, G, P), illarg(permission(signal, process, P), G, N, P).
code_error(Code, G, N) :-
        (   prolog:'$vrio_error_name'(Code, Name) -> true
        ;   Name = Code
        ),
        illarg(system(Name), G, N).
