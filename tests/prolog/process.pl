% Child processes (library(process)): each standard stream inherited,
% piped or null; exit status and death by a signal; a child that never
% reads its input; kill and wait; a program that cannot be started; the
% argument, environment and option errors.  The children are native
% programs (/bin/sh, /bin/cat).

:- use_module(library(process)).

read_all(S, Cs) :-
        get_code(S, C),
        (   C =:= -1 -> Cs = [] ; Cs = [C|Cs1], read_all(S, Cs1) ).

% Output of a shell script run with the given options besides stdout.
sh_output(Script, Options, Text) :-
        process_create('/bin/sh', ['-c', Script], [stdout(pipe(O)), process(P)|Options]),
        read_all(O, Cs),
        close(O),
        process_wait(P, Status),
        process_release(P),
        Status == exit(0),
        atom_codes(Text, Cs).

test(input_and_output_piped) :-
        process_create('/bin/cat', [], [stdin(pipe(I)), stdout(pipe(O)), process(P)]),
        format(I, "line one~nline two~n", []),
        close(I),
        read_all(O, Cs),
        close(O),
        atom_codes('line one\nline two\n', Cs),
        process_wait(P, exit(0)),
        process_release(P).

test(input_null_reads_end_of_file_at_once) :-
        sh_output('cat; echo done', [stdin(null)], 'done\n').

% The runner's own input is not a terminal that waits: an inherited input
% ends (or is empty) and cat ends too.
test(input_inherited) :-
        sh_output('cat >/dev/null; echo done', [stdin(std)], 'done\n').

test(error_piped_output_null) :-
        process_create('/bin/sh', ['-c', 'echo lost; echo kept >&2'],
                       [stdout(null), stderr(pipe(E)), process(P)]),
        read_all(E, Cs),
        close(E),
        atom_codes('kept\n', Cs),
        process_wait(P, exit(0)),
        process_release(P).

test(error_null_and_output_inherited) :-
        process_create('/bin/sh', ['-c', 'echo e >&2; exit 0'],
                       [stdin(null), stdout(std), stderr(null), process(P)]),
        process_wait(P, exit(0)),
        process_release(P).

test(exit_status_reported) :-
        process_create('/bin/sh', ['-c', 'exit 3'], [process(P)]),
        process_wait(P, S),
        process_release(P),
        S == exit(3).

test(death_by_a_signal_reported) :-
        process_create('/bin/sh', ['-c', 'kill -9 $$'], [process(P)]),
        process_wait(P, S),
        process_release(P),
        S == killed(9).

% The child ends without reading while the parent writes far more than a
% pipe holds: the writes end in an I/O error, not in a wait for ever.
test(child_that_never_reads_does_not_block_the_parent) :-
        process_create('/bin/sh', ['-c', 'sleep 0.2; exit 0'], [stdin(pipe(I)), process(P)]),
        length(L, 1000), maplist_(=(0'x), L), atom_codes(Line, L),
        catch(( between_(1, 1000, _), write(I, Line), nl(I), fail ; true ), _, true),
        catch(close(I), _, close(I, [force(true)])),
        process_wait(P, S),
        process_release(P),
        S == exit(0).

test(kill_and_wait) :-
        process_create('/bin/sh', ['-c', 'exec sleep 30'], [process(P)]),
        process_wait(P, S0, [timeout(0)]),
        S0 == timeout,
        process_kill(P),
        process_wait(P, S),
        process_release(P),
        S == killed(15).

test(kill_by_signal_name_and_number) :-
        process_create('/bin/sh', ['-c', 'exec sleep 30'], [process(P)]),
        process_kill(P, 'SIGKILL'),
        process_wait(P, killed(9)),
        process_release(P),
        process_create('/bin/sh', ['-c', 'exec sleep 30'], [process(Q)]),
        process_kill(Q, 2),
        process_wait(Q, killed(2)),
        process_release(Q).

% A program that does not exist starts a child that exits with 1; a
% program searched on PATH that is not there is an existence error.
test(missing_program_exits_with_one) :-
        process_create('/no/such/program', [], [process(P)]),
        process_wait(P, S),
        process_release(P),
        S == exit(1).

test(missing_program_on_path) :-
        catch(process_create(path(no_such_program_trelix), [], []), error(E, _), true),
        E == existence_error(source_sink, path(no_such_program_trelix)).

test(program_found_on_path) :-
        process_create(path(sh), ['-c', 'exit 4'], [process(P)]),
        process_wait(P, exit(4)),
        process_release(P).

test(argument_parts) :-
        process_create('/bin/sh', ['-c', 'printf "%s|" "$@"', sh, [a, b], 7, file('x y')],
                       [stdout(pipe(O)), process(P)]),
        read_all(O, Cs),
        close(O),
        atom_codes('ab|7|x y|', Cs),
        process_wait(P, exit(0)),
        process_release(P).

test(environment_and_working_directory) :-
        sh_output('echo "$TRELIX_PROC_TEST"; pwd', [environment(['TRELIX_PROC_TEST'=given]), cwd('/')],
                  'given\n/\n').

test(process_id_and_waiting_by_id) :-
        process_create('/bin/sh', ['-c', 'exit 5'], [process(P)]),
        is_process(P),
        process_id(P, Pid),
        integer(Pid), Pid > 0,
        process_id(Self), integer(Self), Self =\= Pid,
        process_wait(Pid, exit(5)),
        process_wait(P, exit(5), [release(true)]),
        \+ is_process(P),
        \+ is_process(Pid).

test(released_process_is_gone) :-
        process_create('/bin/sh', ['-c', 'exit 0'], [process(P)]),
        process_release(P),
        \+ is_process(P),
        catch(process_wait(P, _), error(E, _), true),
        E = type_error(process, _).

% Errors of the arguments.
error_case(process_create(_, [], []), instantiation_error).
error_case(process_create(f(x), [], []), type_error(atom, f(x))).
error_case(process_create('/bin/true', foo, []), type_error(list, foo)).
error_case(process_create('/bin/true', [f(x, y)], []), domain_error(process_argument, f(x, y))).
error_case(process_create('/bin/true', [], [bogus]), domain_error(process_create_option, bogus)).
error_case(process_create('/bin/true', [], [stdin(file)]), domain_error(process_create_option, stdin(file))).
error_case(process_wait(foo, _), type_error(process, foo)).
error_case(process_wait(_, _), instantiation_error).
error_case(process_wait(1, _, [timeout(-1)]), domain_error(process_wait_option, timeout(-1))).
error_case(process_kill(foo), type_error(process, foo)).
error_case(process_kill(999999, 'SIGTERM'), existence_error(process, 999999)).
error_case(process_kill(1, 'NOSIG'), domain_error(signal, 'NOSIG')).
error_case(process_kill(1, -3), domain_error(signal, -3)).
error_case(process_wait(999999, _), existence_error(process, 999999)).

test(argument_errors) :-
        \+ ( error_case(G, Expected),
             catch((G, E = none), error(E, _), true),
             E \= Expected,
             format(user_error, "~q: expected ~q, got ~q~n", [G, Expected, E])
           ).

maplist_(_, []).
maplist_(G, [X|Xs]) :- call(G, X), maplist_(G, Xs).

between_(L, H, L) :- L =< H.
between_(L, H, X) :- L < H, L1 is L + 1, between_(L1, H, X).
