% A program with foreign resources loaded, saved and restored in a fresh
% process (tests/state/roundtrip.cmake): a statically linked one (codesio,
% timeout) and a shared object (the tests' ftest).  Their predicates are
% stubs holding process addresses, which a state never keeps: the restore
% loads the resources its header lists and compiles the stubs again, so
% check/0 gives the same answers after it.
:- use_module(library(codesio)).
:- use_module(library(timeout)).

foreign_resource(ftest, [ft_int, ft_wrap, ft_upcase]).
foreign(ft_int, c, ft_int(+integer, [-integer])).
foreign(ft_wrap, c, ft_wrap(+term, [-term])).
foreign(ft_upcase, c, ft_upcase(+codes, [-codes])).

check :-
        with_output_to_codes(write(hello), Cs), atom_codes(A, Cs), writeq(A), nl,
        time_out(true, 1000, R), writeq(R), nl,
        ft_int(-2147483648, I), writeq(I), nl,
        ft_wrap(g(x), T), writeq(T), nl,
        ft_upcase("abc", U), atom_codes(UA, U), writeq(UA), nl,
        findall(N, prolog:loaded_resource(N), Ns), msort(Ns, Sorted), writeq(Sorted), nl.

main :-
        prolog:'$getenv'('TRELIX_FOREIGN_DIR', Dir),
        atom_concat(Dir, '/ftest.so', P),
        load_foreign_resource(user:P),
        check,
        save_program('roundtrip.sav', check),
        write(saved), nl.
