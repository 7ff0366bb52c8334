% System: the clock and the calendar, the environment and system
% properties.
%
% Clocks are seconds since the epoch; calendar dates are
% datime(Year, Month, Day, Hour, Minute, Second) in local time.  System
% properties are the runtime's own settings (start-up options, properties
% set by the program, VR_TEMP_DIR the temporary directory, ...); the
% environment is the process's environment as it was when the runtime
% started.  environ/2 looks in the properties first, then the
% environment.  The program's arguments are the Prolog flag argv.
%
% Over the natives $time/1, $datime/6,7, $mktime/7,
% $get_system_property/3, $get_system_properties/2 and
% $set_system_property/2 of module prolog.

:- module(system, [now/1, datime/1, datime/2, mktime/2, environ/2, environ/3,
                   set_system_property/2]).

% now(-Clock): the current time.
now(Clock) :-
        prolog:'$time'(C),
        Clock = C.

% datime(-Date): the current date and time.
datime(Date) :-
        prolog:'$datime'(Y, Mo, D, H, Mi, S),
        Date = datime(Y, Mo, D, H, Mi, S).

% datime(+Clock, -Date): the date and time of Clock.
datime(Clock, Date) :-
        G = datime(Clock, Date),
        must_be(Clock, integer, G, 1),
        (   prolog:'$datime'(Clock, Y, Mo, D, H, Mi, S) -> Date = datime(Y, Mo, D, H, Mi, S)
        ;   illarg(representation(clock), G, 1)
        ).

% mktime(+Date, -Clock): the clock of a date (fields out of range are
% carried: month 13 is January of the next year).
mktime(Date, Clock) :-
        G = mktime(Date, Clock),
        must_be(Date, nonvar, G, 1),
        (   Date = datime(Y, Mo, D, H, Mi, S) -> true
        ;   illarg(domain(_, datime), G, 1)
        ),
        fields([Y, Mo, D, H, Mi, S], G),
        (   prolog:'$mktime'(Y, Mo, D, H, Mi, S, C) -> Clock = C
        ;   illarg(representation(clock), G, 1)
        ).

fields([], _).
fields([F|Fs], G) :- must_be(F, integer, G, 1), fields(Fs, G).

% environ(?Var, ?Value): a system property or environment variable; with
% Var unbound, every one in turn.
environ(Var, Value) :- environ(Var, Value, merged).

% environ(?Var, ?Value, +Source): Source is merged, properties or
% environment.
environ(Var, Value, Source) :-
        G = environ(Var, Value, Source),
        must_be(Source, atom, G, 3),
        (   source(Source) -> true ; illarg(domain(_, property_source), G, 3) ),
        (   var(Var) ->
            prolog:'$get_system_properties'(Source, L),
            member_(Var=Value, L)
        ;   must_be(Var, atom, G, 1),
            prolog:'$get_system_property'(Var, Source, V),
            Value = V
        ).

source(merged).
source(properties).
source(environment).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

% set_system_property(+Var, +Value): sets a system property of this
% runtime (it is not passed to the process environment).
set_system_property(Var, Value) :-
        G = set_system_property(Var, Value),
        must_be(Var, atom, G, 1),
        must_be(Value, atom, G, 2),
        (   prolog:'$set_system_property'(Var, Value) -> true
        ;   illarg(system(set_system_property), G, 1)
        ).
