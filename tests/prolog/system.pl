% System: the clock and the calendar, system properties and the
% environment, the program arguments (the argv flag).

:- use_module(library(system)).

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

% mktime carries fields out of range, and datime/2 gives the carried
% fields back; both are local time, so the pair is exact in any zone.
expect(calendar, D,
       ( member_(In, [datime(2024, 2, 30, 0, 0, 0), datime(2023, 13, 1, 12, 30, 15),
                      datime(2000, 1, 1, 0, 0, 61), datime(2024, 3, 0, 23, 59, 59)]),
         mktime(In, T), datime(T, D) ),
       [datime(2024, 3, 1, 0, 0, 0), datime(2024, 1, 1, 12, 30, 15),
        datime(2000, 1, 1, 0, 1, 1), datime(2024, 2, 29, 23, 59, 59)]).

% The clock and the calendar agree with each other and move forwards.
test(now_and_datime) :-
        now(T0), datime(D),
        now(T1), T1 >= T0, T0 > 1700000000,
        datime(T0, datime(Y0, _, _, _, _, _)),
        datime(T1, datime(Y1, _, _, _, _, _)),
        D = datime(Y, Mo, Day, H, Mi, S),
        Y >= Y0, Y =< Y1, Mo >= 1, Mo =< 12, Day >= 1, Day =< 31,
        H >= 0, H =< 23, Mi >= 0, Mi =< 59, S >= 0, S =< 60,
        mktime(D, T), T >= T0, T =< T1.

% A clock must fit in 32 signed bits.
expect(clock_errors, F,
       ( member_(G, [datime(2147483648, _), datime(-2147483649, _), datime(foo, _),
                     mktime(datime(a, 1, 1, 0, 0, 0), _), mktime(foo(1), _), mktime(_, _)]),
         error_of(G, F) ),
       [representation_error(clock), representation_error(clock), type_error(integer, foo),
        type_error(integer, a), domain_error(datime, foo(1)), instantiation_error]).

test(datime_limits) :-
        datime(2147483647, datime(Y, _, _, _, _, _)), Y >= 2038,
        datime(-2147483648, datime(Y2, _, _, _, _, _)), Y2 =< 1902.

% A property set by the program is found by its name (also non-ASCII
% text), in the merged view and the properties, never in the environment.
test(system_properties) :-
        atom_codes(V, [0'v, 0xE4, 0x20AC]),
        set_system_property(trelix_test_key, V),
        environ(trelix_test_key, V1), V1 == V,
        environ(trelix_test_key, V2, properties), V2 == V,
        \+ environ(trelix_test_key, _, environment),
        findall(K, environ(K, _), Ks), member_(trelix_test_key, Ks),
        environ(trelix_test_key, V3, merged), V3 == V,
        \+ environ(trelix_no_such_key_at_all, _).

test(environment) :-
        findall(K=X, environ(K, X, environment), L),
        L \== [],
        forall(member_(K1=X1, L), ( atom(K1), atom(X1) )),
        member_(K2=X2, L), !,
        environ(K2, X3, environment), X3 == X2.

expect(environ_errors, F,
       ( member_(G, [environ(x, _, nowhere), environ(x, _, _), environ(1, _),
                     set_system_property(_, a), set_system_property(a, 1)]),
         error_of(G, F) ),
       [domain_error(property_source, nowhere), instantiation_error, type_error(atom, 1),
        instantiation_error, type_error(atom, 1)]).

% The program arguments: replaced and read back, kept as given, and only
% a proper list of atoms is taken.
test(argv_flag) :-
        current_prolog_flag(argv, Old),
        atom_codes(U, [0xFC, 0x1F600]),
        set_prolog_flag(argv, [a, '', U]),
        current_prolog_flag(argv, A), A == [a, '', U],
        set_prolog_flag(argv, []),
        current_prolog_flag(argv, []),
        error_of(set_prolog_flag(argv, [a|_]), E1), E1 = domain_error(flag_value, _),
        error_of(set_prolog_flag(argv, [1]), E2), E2 = domain_error(flag_value, _),
        \+ prolog:'$set_argv'([a|_]),
        set_prolog_flag(argv, Old),
        current_prolog_flag(argv, Old).

% The natives' sources: anything but the three atoms fails.
test(property_natives) :-
        \+ prolog:'$get_system_property'(foo, bar, _),
        \+ prolog:'$get_system_properties'(bar, _),
        prolog:'$get_system_properties'(properties, L),
        forall(member_(X, L), X = (_ = _)),
        \+ prolog:'$set_system_property'(a, 1).
