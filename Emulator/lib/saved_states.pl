% Saved states: writing the program (or parts of it) to a file that a later
% process restores without compiling anything.
%
% save_program(File) and save_program(File, Goal) write the whole program
% (every module but the system's own code); restore(File) brings it back,
% wiping the program that was there, and then runs the Goal given when it
% was saved (true for save_program/1), once.  save_program/3 (File, Kind,
% Goal) is the general form: Kind 0 a program, 1 the whole system
% including module prolog (what the build writes as the runtime's own
% state).  save_modules/2, save_predicates/2 and save_files/2 write a
% selection that restore/1 cannot read: the increment is added to a running
% program with '$restore_increment'/2.
%
% The operator table is not part of the state format: a save records the
% operators in '$saved_operator'/3 (a dynamic predicate of this module,
% saved with the program), and restore/1 makes the table that again.  The
% header's "# FR:" lines name the foreign resources the program had
% loaded; restore/1 reads them ('$state_resources'/2) before it restores,
% records them in '$restored_resource'/1 and, once the program is back,
% loads them again and compiles their stubs (reload_foreign_resources/3,
% foreign.pl): stubs hold process addresses and are never saved.

:- dynamic('$saved_operator'/3).
:- dynamic('$restore_goal'/1).
:- dynamic('$restored_resource'/1).

:- meta_predicate save_program(+, 0), save_program(+, +, 0).

save_program(File) :-
        save_program(File, 0, true).
save_program(File, Goal) :-
        save_program(File, 0, Goal).

save_program(File, Kind, Goal) :-
        G = save_program(File, Kind, Goal),
        must_be(File, atom, G, 1),
        must_be(Kind, integer, G, 2),
        record_operators,
        retractall('$restore_goal'(_)),
        assertz('$restore_goal'(Goal)),
        '$save'(File, Kind, G).

% save_modules(Modules, File): the modules (a name or a list of names) in
% full; a restore replaces each of them.
save_modules(Modules, File) :-
        G = save_modules(Modules, File),
        name_list(Modules, Ms, G, 1),
        must_be(File, atom, G, 2),
        '$save_increment'(Ms, [], [], File, G).

% save_predicates(Specs, File): the predicates named by Name/Arity or
% Module:Name/Arity (one or a list).
save_predicates(Specs, File) :-
        G = save_predicates(Specs, File),
        (   Specs = [_|_] -> Ps = Specs ; Specs == [] -> Ps = [] ; Ps = [Specs] ),
        must_be(Ps, list(nonvar), G, 1),
        must_be(File, atom, G, 2),
        '$save_increment'([], [], Ps, File, G).

% save_files(Files, File): the modules and the predicates of user that
% were loaded from the given source files; of a multifile predicate only
% the clauses those files gave.
save_files(Files, File) :-
        G = save_files(Files, File),
        name_list(Files, Fs, G, 1),
        must_be(File, atom, G, 2),
        findall(M, ( '$current_module'(M), M \== prolog, M \== user,
                     '$curmod'(M, F, _), loaded_from(F, Fs) ), Ms),
        findall(user:N/A, ( current_predicate(user:N/A), functor(H, N, A),
                            '$predicate_file'(H, user, F), loaded_from(F, Fs) ), Ps),
        findall(F, ( member_of(F0, Fs), source_name(F0, F) ), Names),
        call_cleanup(( retractall('$save':type(_)),
                       assertz('$save':type(files(Names))),
                       '$save_increment'(Ms, [], Ps, File, G) ),
                     retractall('$save':type(_))).

name_list(X, L, G, N) :-
        (   atom(X) -> L = [X] ; must_be(X, list(atom), G, N), L = X ).

loaded_from(F, Fs) :- atom(F), member_of(G, Fs), source_name(G, F), !.

% A source file as the loader recorded it (an absolute name): the name
% itself, or one that ends with it (with or without ".pl").
source_name(F, F).
source_name(G, F) :- atom(F), atom_concat(_, G, F).
source_name(G, F) :- atom(F), atom_concat(G, '.pl', G1), atom_concat(_, G1, F).

member_of(X, [X|_]).
member_of(X, [_|T]) :- member_of(X, T).

% restore(File): replaces the program by the one saved in File, then runs
% the goal it was saved with.
restore(File) :-
        G = restore(File),
        must_be(File, atom, G, 1),
        (   '$state_resources'(File, Resources) -> true ; Resources = [] ),
        '$restore'(File, G),
        retractall('$restored_resource'(_)),
        record_resources(Resources),
        reload_foreign_resources(Resources, _, 1),
        replay_operators,
        (   '$restore_goal'(Goal) -> once(Goal) ; true ).

record_resources([]).
record_resources([R|Rs]) :-
        assertz('$restored_resource'(R)),
        record_resources(Rs).

record_operators :-
        retractall('$saved_operator'(_, _, _)),
        findall(op(P, T, N), current_op(P, T, N), Ops),
        record_operators(Ops).

record_operators([]).
record_operators([op(P, T, N)|Ops]) :-
        assertz('$saved_operator'(P, T, N)),
        record_operators(Ops).

% The table becomes the saved one: operators it lacks are removed (those
% that cannot be, such as ',', stay), then the saved ones are defined.
replay_operators :-
        findall(op(P, T, N), '$saved_operator'(P, T, N), Saved),
        (   Saved == [] -> true
        ;   findall(T-N, ( current_op(_, T, N), \+ '$saved_operator'(_, T, N) ), Extra),
            remove_operators(Extra),
            define_operators(Saved)
        ).

remove_operators([]).
remove_operators([T-N|Ops]) :-
        catch(op(0, T, N), _, true),
        remove_operators(Ops).

define_operators([]).
define_operators([op(P, T, N)|Ops]) :-
        catch(op(P, T, N), _, true),
        define_operators(Ops).

% Escapes of the saved-state code: the foreign resources loaded now, and
% loading and unloading the finite-domain library's native half around a
% save or a restore (its hooks write and read indexicals, and free those
% of the predicates a restore wipes).  Loading opens the resource for
% module clpfd without making stubs (its Prolog half comes with the state
% or with library(clpfd)); unloading closes it only when no module has it
% loaded in the ordinary way.
loaded_resource(Name) :-
        loaded_foreign_resource(Name).
load_clpfd_resource :-
        catch(resource_path(clpfd, _, Path, load_clpfd_resource), _, fail),
        '$load_foreign_resource'(Path, clpfd, 0).
unload_clpfd_resource :-
        (   '$foreign_resource_loaded'(clpfd, _, _) -> true
        ;   catch(( resource_path(clpfd, _, Path, unload_clpfd_resource),
                    '$unload_foreign_resource'(Path, clpfd, 0) ), _, true)
        ).
