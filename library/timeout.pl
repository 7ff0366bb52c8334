% Limits on the user CPU time of a goal: time_out(:Goal, +Time, -Result)
% runs Goal once with at most Time milliseconds of CPU time; Result is
% success when it succeeded in time and time_out when the limit passed
% first; it fails when Goal fails.  Limits nest: an inner call stops the
% enclosing timer, arms its own for the earlier of the two expiries and
% restarts the enclosing one when it ends, so an enclosing limit that
% passes inside an inner call reaches the enclosing call.  Over the
% foreign predicates of the timeout resource (library/timeout/), declared
% below.

:- module(timeout, [time_out/3]).

:- meta_predicate time_out(0, +, -).

foreign_resource(timeout, [to_start_timer_a, to_stop_timer_a, to_timer_now, to_clocks_per_second]).
foreign(to_start_timer_a, c, '$start_timer_a'(+term, +term, [-integer])).
foreign(to_stop_timer_a, c, '$stop_timer_a'([-term])).
foreign(to_timer_now, c, '$timer_now'([-term])).
foreign(to_clocks_per_second, c, '$clocks_per_second'([-integer])).

:- load_foreign_resource(library(timeout)).

time_out(Goal, Time, Result) :-
        G = time_out(Goal, Time, Result),
        must_be(Goal, callable, G, 1),
        must_be(Time, integer(>=(0)), G, 2),
        '$stop_timer_a'(Outer),
        % Whose limit passes first decides whose a time_out is.
        '$timer_now'(Now),
        (   integer(Outer), Outer =< Now + Time -> First = outer
        ;   First = own
        ),
        % The clean-up also disarms the timer when an abort passes through.
        catch(call_cleanup(run(Goal, Outer, Time, Result0), '$stop_timer_a'(_)), E, true),
        (   var(E) -> true
        ;   '$stop_timer_a'(_)
        ),
        '$start_timer_a'(Outer, off, Again),
        (   var(E) ->
            (   Again =:= 1 -> throw(time_out)
            ;   Result0 == success -> Result = success
            ;   fail
            )
        ;   E == time_out, First == own -> Result = time_out
        ;   throw(E)
        ).

% The timer is armed and stopped again inside the catch, so that a limit
% passing at any point up to the stop is caught.
run(Goal, Outer, Time, Result) :-
        '$start_timer_a'(Outer, Time, Started),
        (   Started =:= 1 -> throw(time_out)
        ;   true
        ),
        (   call(Goal) -> Result = success
        ;   Result = failure
        ),
        '$stop_timer_a'(_).
