% Foreign resources loaded from a shared object (tests/foreign/ftest.cpp,
% built by the tests into $TRELIX_FOREIGN_DIR): every argument type and
% mode of a foreign declaration through the compiled stubs, the resource's
% interface structure as the leading argument, loading and unloading, and
% the loader's errors.  The items run in order: the first loads.

foreign_resource(ftest, [ft_int, ft_add3, ft_int_out, ft_twice, ft_float_out, ft_special,
                         ft_strlen, ft_atom, ft_atom_out, ft_upcase, ft_codes_out,
                         ft_null_text, ft_bytes, ft_wrap, ft_term_out, ft_fail, ft_raise,
                         ft_inits, ft_mix]).
foreign(ft_int, c, ft_int(+integer, [-integer])).
foreign(ft_add3, c, ft_add3(+integer, +integer, +integer, [-integer])).
foreign(ft_int_out, c, ft_int_out(+integer, -integer)).
foreign(ft_twice, c, ft_twice(+float, [-float])).
foreign(ft_float_out, c, ft_float_out(+float, +integer, -float)).
foreign(ft_special, c, ft_special(+integer, [-float])).
foreign(ft_strlen, c, ft_strlen(+string, [-integer])).
foreign(ft_atom, c, ft_atom(+atom, [-atom])).
foreign(ft_atom_out, c, ft_atom_out(+string, -atom)).
foreign(ft_upcase, c, ft_upcase(+codes, [-codes])).
foreign(ft_codes_out, c, ft_codes_out(+codes, -codes)).
foreign(ft_null_text, c, ft_null_text([-codes])).
foreign(ft_bytes, c, ft_bytes(+codes, [-integer])).
foreign(ft_wrap, c, ft_wrap(+term, [-term])).
foreign(ft_term_out, c, ft_term_out(+term, -term)).
foreign(ft_fail, c, ft_fail).
foreign(ft_raise, c, ft_raise(+term)).
foreign(ft_inits, c, ft_inits([-integer])).
foreign(ft_mix, c, ft_mix(+integer, +float, +integer, +integer, +integer, [-float])).

object(Base, Path) :-
        prolog:'$getenv'('TRELIX_FOREIGN_DIR', Dir),
        atom_concat(Dir, '/', D1),
        atom_concat(D1, Base, Path).

in(X, [X|_]).
in(X, [_|T]) :- in(X, T).

error_of(Goal, F) :- catch((Goal, F = none), error(F, _), true).

test(load) :-
        object('ftest.so', P),
        load_foreign_resource(P),
        ft_inits(1000).

% Out through the return value and through a pointer, small and boxed.
test(integers_at_their_limits) :-
        forall(in(V, [0, -1, 268435455, 268435456, -268435456, -268435457, 2147483647, -2147483648]),
               ( ft_int(V, X), X == V, ft_int_out(V, Y), Y == V, ft_int(V, V) )).

% In: a float is truncated toward zero, a two-word integer gives its low
% word.  Against a bound argument: equal values only, never a float.
expect(integers_in, X, (in(V, [2.7, -2.7, 4294967301]), ft_int(V, X)), [2, -2, 5]).
test(integer_results_compared) :-
        \+ ft_int(5, 6), \+ ft_int(5, 5.0), ft_int(268435456, 268435456),
        \+ ft_int(1, 4294967297),
        ft_add3(1, 2, 3, 6).

expect(floats, X, (in(G, [ft_twice(1.5, X), ft_twice(3, X), ft_float_out(1.5, 2, X),
                          ft_mix(1, 0.5, 2, 3, 4, X)]), call(G)), [3.0, 6.0, 3.5, 10.5]).
test(special_floats) :-
        ft_special(3, Z), Z =:= 0.0, ft_special(3, 0.0), \+ ft_special(3, 0),
        error_of(ft_special(0, _), E1), E1 == evaluation_error(float_overflow),
        error_of(ft_special(2, _), E2), E2 == evaluation_error(float_not_a_number).

test(atoms_and_strings) :-
        ft_strlen(abc, 3), ft_strlen([], 2), ft_strlen('', 0),
        ft_atom(foo, A), A == foo, ft_atom([], N), N == [],
        ft_atom_out(xyz, B), B == xyz, ft_atom_out(xyz, xyz), \+ ft_atom_out(xyz, 1).

test(codes) :-
        ft_upcase("abc", U), U == "ABC", ft_upcase([], E), E == [],
        ft_codes_out("h\xe9\", C), C == "h\xe9\", ft_codes_out("hi", "hi"),
        ft_bytes([0], 0xC080), ft_bytes("a", 97).

% The term itself goes in (variables shared), and comes back unified.
test(terms) :-
        ft_wrap(g(Y), T), T == f(g(Y)),
        ft_term_out(a(Z), R), R == a(Z),
        ft_term_out(b, b), \+ ft_term_out(b, c).

test(failure_and_exceptions) :-
        \+ ft_fail,
        catch(ft_raise(boom(1)), B, true), B == boom(1).

% Wrong argument types, with the argument's number in the context.
expect(conversion_errors, E, (in(G, [ft_int(a, _), ft_int(_, _), ft_twice(x, _), ft_strlen(1, _),
                                     ft_atom("s", _), ft_upcase([0'a|_], _), ft_upcase(abc, _),
                                     ft_null_text(_), ft_null_text("x")]),
                              catch(G, error(F, context(_, A)), E = F-A)),
       [type_error(integer,a)-1, instantiation_error-1, type_error(integer,x)-1,
        type_error(atom,1)-1, type_error(atom,[115])-1, type_error(list,[97|_])-1,
        type_error(list,abc)-1, representation_error('')-1, representation_error('')-1]).

test(load_twice_is_nothing) :-
        object('ftest.so', P),
        load_foreign_resource(P),
        ft_inits(1000).

test(unload_then_reload) :-
        object('ftest.so', P),
        unload_foreign_resource(P),
        catch(ft_int(1, _), error(existence_error(procedure, _), _), true),
        load_foreign_resource(P),
        ft_int(7, 7),
        ft_inits(N), ( N =:= 1000 ; N =:= 2001 ).

test(errors_of_loading) :-
        error_of(load_foreign_resource('/no/such/dir/ftx.so'), system_error(M1)),
        atom_concat('dlopen("/no/such/dir/ftx.so") failed in load_foreign_resource/1: ', _, M1),
        object('ftestnoentry.so', P2),
        error_of(load_foreign_resource(P2), system_error(M2)),
        atom_concat('dlsym("vr_main_VRENV_ftestnoentry") failed', _, M2),
        object('ftestbad.so', P3),
        error_of(load_foreign_resource(P3), E3),
        E3 == system_error('Foreign resource entry function API error'),
        error_of(unload_foreign_resource(P3), E4),
        E4 = existence_error(foreign_resource, _).

% A declaration the resource's table does not have: the load is refused
% for that module, and the resource stays open for the others.
test(symbol_not_in_table) :-
        assertz(ftest_missing:foreign_resource(ftest, [ft_int])),
        assertz(ftest_missing:foreign(ft_int, c, ft_int(+integer))),
        object('ftest.so', P),
        error_of(load_foreign_resource(ftest_missing:P), E),
        E == system_error('failed to resolve symbol "ft_int": not in table'),
        ft_int(3, 3).
