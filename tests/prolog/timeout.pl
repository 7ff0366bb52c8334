% CPU-time limits (library(timeout)): a looping goal is stopped and
% time_out/3 reports time_out; a goal that finishes in time reports
% success; a failing goal fails; limits nest both ways; no timer is left
% armed after any of them ('$stop_timer_a'/1 answers off when none is).
% Limits are small: under an emulator the CPU time is the emulator's.

:- use_module(library(timeout)).

loop :- loop_(0).
loop_(N) :- N1 is N + 1, loop_(N1).

disarmed :- timeout:'$stop_timer_a'(off).

test(looping_goal_is_stopped) :-
        time_out(loop, 100, R),
        R == time_out,
        disarmed.

test(finishing_goal_succeeds) :-
        time_out(atom_length(abc, N), 2000, R),
        R == success, N == 3,
        disarmed.

test(failing_goal_fails) :-
        \+ time_out(fail, 2000, _),
        disarmed.

test(exception_passes_through) :-
        catch(time_out(throw(mine), 2000, _), E, true),
        E == mine,
        disarmed.

test(inner_limit_passes_first) :-
        time_out(( time_out(loop, 100, Inner), Inner == time_out ), 20000, Outer),
        Outer == success,
        disarmed.

test(outer_limit_passes_inside_the_inner_call) :-
        time_out(time_out(loop, 20000, Inner), 150, Outer),
        Outer == time_out, var(Inner),
        disarmed.

test(several_in_a_row) :-
        time_out(loop, 50, R1), R1 == time_out,
        time_out(true, 50, R2), R2 == success,
        time_out(loop, 50, R3), R3 == time_out,
        disarmed.

% The goal's bindings are kept on success.
expect(bindings_kept, X, time_out(X = found, 1000, success), [found]).

test(argument_errors) :-
        catch(time_out(true, _, _), error(E1, _), true), E1 == instantiation_error,
        catch(time_out(true, foo, _), error(E2, _), true), E2 == type_error(integer, foo),
        catch(time_out(true, -1, _), error(E3, _), true), E3 == domain_error(not_less_than_zero, -1),
        catch(time_out(_, 10, _), error(E4, _), true), E4 == instantiation_error,
        disarmed.

% An abort inside a limited goal leaves no timer armed (its signal would
% otherwise reach the process with no handler after the abort).
uncaught(abort_disarms, time_out(abort, 5000, _), '$reserved'(3)).
test(after_the_abort) :-
        disarmed.
