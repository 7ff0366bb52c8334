% Prolog flags and statistics: every ISO flag readable with its start-up
% value, read-only flags refusing change, legal values enforced, the
% effect of the unknown flag, the native flag built-ins' conventions, and
% statistics keys matched exactly.

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

iso_flag(bounded, false).
iso_flag(max_integer, 268435455).
iso_flag(min_integer, -268435456).
iso_flag(integer_rounding_function, toward_zero).
iso_flag(char_conversion, on).
iso_flag(debug, off).
iso_flag(max_arity, 255).
iso_flag(unknown, error).
iso_flag(double_quotes, codes).

read_only(bounded, true).
read_only(max_integer, 0).
read_only(min_integer, 0).
read_only(integer_rounding_function, down).
read_only(max_arity, 1000).
read_only(max_tagged_integer, 1).
read_only(system_type, development).
read_only(version, foo).

expect(iso_flags_start_values, F-V, (iso_flag(F, Want), current_prolog_flag(F, V), V \== Want), []).
expect(iso_flags_all_present, F, (iso_flag(F, _), \+ current_prolog_flag(F, _)), []).
test(enumerates_every_iso_flag) :-
        \+ ( iso_flag(F, _), \+ (current_prolog_flag(G, _), G == F) ).
test(integer_bounds_are_the_small_range) :-
        current_prolog_flag(max_integer, Max), current_prolog_flag(min_integer, Min),
        Max =:= (1 << 28) - 1, Min =:= -(1 << 28),
        current_prolog_flag(max_tagged_integer, Max), current_prolog_flag(min_tagged_integer, Min).

expect(read_only_refuse, F-E, (read_only(F, V), error_of(set_prolog_flag(F, V), E),
                               E \= permission_error(modify, flag, F)), []).
test(read_only_unchanged) :-
        catch(set_prolog_flag(bounded, true), _, true),
        current_prolog_flag(bounded, false).

% Writable flags: set, read back, restore.
writable(char_conversion, off).
writable(debug, on).
writable(unknown, fail).
writable(unknown, warning).
writable(double_quotes, chars).
writable(double_quotes, atom).
writable(source_info, on).
writable(syntax_errors, fail).
writable(compiling, profiledcode).
writable(quoted_charset, portable).
writable(fileerrors, off).
writable(single_var_warnings, off).
writable(redefine_warnings, on).
writable(discontiguous_warnings, off).
writable(informational, on).
writable(title, 'a title').
writable(language, vostrel).

expect(writable_round_trip, F-V-Got,
       ( writable(F, V), current_prolog_flag(F, Old),
         set_prolog_flag(F, V), current_prolog_flag(F, Got), set_prolog_flag(F, Old),
         current_prolog_flag(F, Back), (Got \== V ; Back \== Old) ), []).

error_case(set_prolog_flag(_, on), instantiation_error).
error_case(set_prolog_flag(debug, _), instantiation_error).
error_case(set_prolog_flag(1, on), type_error(atom, 1)).
error_case(set_prolog_flag(no_such_flag, on), domain_error(prolog_flag, no_such_flag)).
error_case(set_prolog_flag(debug, maybe), domain_error(flag_value, debug+maybe)).
error_case(set_prolog_flag(double_quotes, string), domain_error(flag_value, double_quotes+string)).
error_case(set_prolog_flag(unknown, 1), domain_error(flag_value, unknown+1)).
error_case(set_prolog_flag(bounded, maybe), domain_error(flag_value, bounded+maybe)).
error_case(set_prolog_flag(compiling, fastcode), domain_error(flag_value, compiling+fastcode)).
error_case(current_prolog_flag(1, _), type_error(atom, 1)).
error_case(current_prolog_flag(no_such_flag, _), domain_error(prolog_flag, no_such_flag)).
expect(flag_errors, G-F, (error_case(G, Want), error_of(G, F), F \= Want), []).
test(current_prolog_flag_wrong_value_fails) :- \+ current_prolog_flag(bounded, true).

% The unknown flag decides what calling an undefined predicate does.
test(unknown_fail) :-
        set_prolog_flag(unknown, fail),
        (   catch(no_such_predicate(1), _, fail) -> R = succeeded ; R = failed ),
        set_prolog_flag(unknown, error),
        R == failed.
expect(unknown_error, F, error_of(no_such_predicate(1), F), [existence_error(procedure, no_such_predicate/1)]).

% ---- The native flag built-ins ----

test(native_unknown_old_new) :-
        prolog:'$unknown'(Old, fail), Old == error,
        prolog:'$unknown'(Now, error), Now == fail.
test(native_unknown_mismatch_stores_nothing) :-
        \+ prolog:'$unknown'(warning, fail), prolog:'$unknown'(error, error).
test(native_compiling_checks) :-
        \+ prolog:'$compiling'(_, fastcode), prolog:'$compiling'(compactcode, compactcode).
test(native_compatibility_keeps_backquote) :-
        prolog:'$compatibility_flag'(Old, anything), prolog:'$compatibility_flag'(anything, Old), Old == iso.
expect(native_os_data, [F, N, E], prolog:'$os_data'(2, F, N, E), [[unix, linux, []]]).
expect(native_os_data_uname, [F, E], (prolog:'$os_data'(1, F, N, E), atom(N)), [[unix, []]]).
test(native_os_data_other) :- \+ prolog:'$os_data'(3, _, _, _), \+ prolog:'$os_data'(x, _, _, _).
expect(native_tagged_range, [Min, Max], prolog:'$tagged_integer_range'(Min, Max), [[-268435456, 268435455]]).
expect(native_version_data, V, (prolog:'$version_data'(A, B, C, D), V = [A, B, C, D]), [[4, 1, 3, 0]]).
test(native_read_only) :-
        prolog:'$system_type_flag'(runtime), prolog:'$version_flag'(V), atom(V),
        current_prolog_flag(version, V).
test(native_window_title) :-
        prolog:'$version_flag'(Banner), prolog:'$window_title'(T0, T0), T0 == Banner,
        prolog:'$window_title'(_, 'other'), prolog:'$window_title'(other, other),
        \+ prolog:'$window_title'(_, 1).
test(native_registry_fails) :- \+ prolog:'$w32_get_registry_value'(_, _, _, _).
test(native_prompt) :- prolog:'$prompt'(P, P), P == '|: '.
test(native_legacy_classification) :-
        prolog:'$legacy_char_classification_flag'(off, on),
        prolog:'$legacy_char_classification_flag'(on, off),
        prolog:'$legacy_char_classification_flag'(off, off).

% ---- statistics/2 ----

stat_key(K) :-
        member_(K, [agc_count, agc_freed, agc_nbfreed, agc_time, atoms_nbfree, atoms_nbused,
                    atoms_used, choice_free, choice_used, dcgc_count, dcgc_time, defrag_count,
                    defrag_time, dpgc_count, dpgc_time, gc_count, gc_freed, gc_time,
                    global_stack_free, global_stack_used, local_stack_free, local_stack_used,
                    memory_free, memory_used, ss_choice, ss_global,
                    ss_local, ss_time, trail_free, trail_used]).
member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

expect(statistics_integers, K-V, (stat_key(K), statistics(K, V), \+ (integer(V), V >= 0)), []).
expect(statistics_clocks, K-V, (member_(K, [runtime, total_runtime, walltime]), statistics(K, V),
                                \+ (V = [T, D], integer(T), integer(D), T >= 0, D >= 0)), []).
test(statistics_memory_buckets) :- statistics(memory_buckets, B), functor(B, _, 30).
test(statistics_memory_culprit) :- statistics(memory_culprit, C), integer(C).  % -1: none yet
test(statistics_atoms) :-
        statistics(atoms_nbused, U), statistics(atoms_nbfree, F), U + F =:= 1048575,
        statistics(global_stack_used, G), G > 0.
test(statistics_walltime_delta) :-
        statistics(walltime, [T1, _]), statistics(walltime, [T2, D2]),
        T2 >= T1, D2 =< T2 - T1 + 1.
test(statistics_runtime_grows) :-
        statistics(runtime, [T1, _]), busy(300000), statistics(runtime, [T2, D]),
        T2 >= T1, D >= 0, D =< T2 - T1 + 20.
busy(0) :- !.
busy(N) :- N1 is N - 1, busy(N1).

stat_error(statistics(_, _), instantiation_error).
stat_error(statistics(1, _), type_error(atom, 1)).
stat_error(statistics(foo, _), domain_error(statistics_key, foo)).
stat_error(statistics(a, _), domain_error(statistics_key, a)).            % sorts before every key
stat_error(statistics(gc_tim, _), domain_error(statistics_key, gc_tim)).  % just before gc_time
stat_error(statistics(walltimez, _), domain_error(statistics_key, walltimez)).
stat_error(statistics(zzz, _), domain_error(statistics_key, zzz)).        % after the last key
stat_error(statistics(linux, _), domain_error(statistics_key, linux)).
expect(statistics_errors, G-F, (stat_error(G, Want), error_of(G, F), F \= Want), []).
