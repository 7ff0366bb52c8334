% prolog:main/0, the entry a launcher runs: the outcome of
% user:runtime_entry(start) decides how the query ends (halt's reserved
% exception, whose code the launcher exits with, or a failure after a
% message on user_error).

:- use_module('modules/stderr_text').
:- dynamic runtime_entry/1.

entry(Body) :-
        retractall(runtime_entry(_)),
        assertz((runtime_entry(start) :- Body)).

two_solutions(X) :- X = 1 ; X = 2.

uncaught(main_halts_after_success, (entry(true), prolog:main), '$reserved'(4)).
% Only the first solution counts: halt comes straight after it.
uncaught(main_commits_to_the_first_solution, (entry(two_solutions(_)), prolog:main), '$reserved'(4)).
uncaught(main_passes_halt_code, (entry(halt(3)), prolog:main), '$reserved'(772)).
uncaught(main_passes_abort, (entry(abort), prolog:main), '$reserved'(3)).
expect(main_fails_when_entry_fails, ok, (entry(fail), prolog:main), []).
expect(main_fails_after_an_exception, ok, (entry(atom_length(_, _)), prolog:main), []).
expect(main_fails_without_entry, ok, (retractall(runtime_entry(_)), abolish(runtime_entry/1), prolog:main), []).
% What main/0 reports before it fails.
expect(failure_warning, Text, (entry(fail), stderr_text(\+ prolog:main, Text)),
       ['* Goal failed: user:runtime_entry(start)\n']).
expect(exception_report, Text, (entry(atom_length(abc, foo)), stderr_text(\+ prolog:main, Text)),
       ['! Type error: expected integer, found foo\n! in argument 2 of atom_length/2\n! goal: atom_length(abc,foo)\n']).
