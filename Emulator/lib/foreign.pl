% Foreign resources: loading a resource's native functions and making
% each a predicate of the module that declares it.
%
% A module declares a resource and its predicates with clauses of its own,
% written before the directive that loads it:
%
%     foreign_resource(codesio, [codes_to_stream, open_buf_stream]).
%     foreign(codes_to_stream, c, '$codes_to_stream'(+codes, -address('VR_stream'))).
%     :- load_foreign_resource(library(codesio)).
%
% (foreign/2 is foreign/3 without the language.)  An argument is +Type
% (passed in), -Type (returned through a pointer) or [-Type] (the
% function's return value, at most one); a type is integer, float, atom,
% string, codes, term, address or address(T).  Loading asks the native
% loader for the function of each declared predicate and compiles, for
% each, a stub of the foreign-call instructions: OPEN_FOREIGN_CALL, one
% push per parameter in declaration order, the call, the pops and the
% receive in declaration order, CLOSE_FOREIGN_CALL.  A stub holds process
% addresses, so it is volatile (a saved state keeps the predicate but not
% its code) and restore/1 compiles it again (reload_foreign_resources/3).
%
% A resource linked into the program (one of the launcher's pre-linked
% resources) is found by its base name; any other is a shared object,
% Spec naming its file with or without the suffix ".so".
% '$foreign_resource_loaded'(Name, Module, Path) records what is open and
% for which module; it is saved with a program, so a restore knows what to
% load again.

:- dynamic('$foreign_resource_loaded'/3).

% load_foreign_resource(+Spec): Spec is Module:Spec, or the resource is
% the loading module's (the type-in module's outside a load).
load_foreign_resource(Spec) :-
        foreign_module(Spec, M, S),
        G = load_foreign_resource(Spec),
        must_be(S, nonvar, G, 1),
        resource_path(S, Name, Path, G),
        (   '$foreign_resource_loaded'(Name, M, _) -> true
        ;   do_load_foreign_resource(Path, M, 0)
        ).

% unload_foreign_resource(+Spec): shuts the resource down and makes its
% predicates undefined.
unload_foreign_resource(Spec) :-
        foreign_module(Spec, M, S),
        G = unload_foreign_resource(Spec),
        must_be(S, nonvar, G, 1),
        resource_path(S, _, Path, G),
        do_unload_foreign_resource(Path, M, 0).

foreign_module(M:S, M, S) :- atom(M), !.
foreign_module(S, M, S) :-
        (   prolog_load_context(module, M) -> true ; '$typein_module'(M, M) ).

% The resource's name (the base name without suffix) and what the native
% loader is given: the name for a pre-linked resource, else the file.
resource_path(Spec, Name, Path, G) :-
        (   atom(Spec) -> File = Spec
        ;   compound(Spec), functor(Spec, _, 1), arg(1, Spec, F), atom(F) -> File = F
        ;   illarg(type(atom), G, 1)
        ),
        resource_name(File, Name),
        (   '$prelinked_foreign_resource'(Name) -> Path = Name
        ;   '$foreign_resource_suffix'(Suffix),
            (   atom_concat(_, Suffix, File) -> File1 = File ; atom_concat(File, Suffix, File1) ),
            absolute_file_name(File1, Path)
        ).

% The last component of a path without its suffix.
resource_name(Path, Name) :-
        atom_codes(Path, Cs),
        (   after_last(0'/, Cs, Base) -> true ; Base = Cs ),
        (   before_last(0'., Base, Stem), Stem \== [] -> true ; Stem = Base ),
        atom_codes(Name, Stem).

after_last(C, Cs, Rest) :-
        append(_, [C|Rest], Cs), \+ member_of(C, Rest), !.

before_last(C, Cs, Stem) :-
        append(Stem, [C|Rest], Cs), \+ member_of(C, Rest), !.

% do_load_foreign_resource(+Path, +Module, +When): loads the resource and
% compiles the stubs of Module's declarations for it.
do_load_foreign_resource(Path, M, When) :-
        resource_name(Path, Name),
        (   '$foreign_resource_loaded'(Name, _, _) -> Fresh = false ; Fresh = true ),
        '$load_foreign_resource'(Path, M, When),
        findall(foreign(F, M, Head, _), declared_foreign(M, Name, F, Head), Specs),
        % A resource this call opened is closed again when its stubs cannot
        % be made; one that other modules use stays.
        catch(( '$foreign_resource_symbols'(Path, Specs, Stash),
                install_stubs(Specs, Stash) ),
              E, ( ( Fresh == true -> '$unload_foreign_resource'(Path, M, 0) ; true ), throw(E) )),
        retractall('$foreign_resource_loaded'(Name, M, _)),
        assertz('$foreign_resource_loaded'(Name, M, Path)).

% do_unload_foreign_resource(+Path, +Module, +When)
do_unload_foreign_resource(Path, M, When) :-
        resource_name(Path, Name),
        '$unload_foreign_resource'(Path, M, When),
        retractall('$foreign_resource_loaded'(Name, M, _)),
        forall(declared_foreign(M, Name, _, Head), '$abolish'(Head, M)).

resource_name(Path, Name) :-
        (   '$replace_suffix'(Path, '', Base, 0) -> true ; Base = Path ),
        base_name(Base, Name).

% reload_foreign_resources(+Names, +Module, +When): after a restore, loads
% the resources the state listed again and compiles their stubs, for the
% modules that had them (Module unbound: every one recorded).
reload_foreign_resources([], _, _).
reload_foreign_resources([Name|Names], M, When) :-
        findall(M1-P, '$foreign_resource_loaded'(Name, M1, P), Loaded),
        (   Loaded == [] -> true
        ;   reload_each(Loaded, M, When)
        ),
        reload_foreign_resources(Names, M, When).

reload_each([], _, _).
reload_each([M1-P|Ls], M, When) :-
        (   ( var(M) ; M1 == M ) -> do_load_foreign_resource(P, M1, When) ; true ),
        reload_each(Ls, M, When).

% The module's declarations of predicates of resource Name: each function
% listed by its foreign_resource/2 with its foreign/2,3 declaration.
declared_foreign(M, Name, F, Head) :-
        current_predicate(M:foreign_resource/2),
        M:foreign_resource(Name, Fs),
        member_of(F, Fs),
        atom(F),
        foreign_declaration(M, F, Head).

foreign_declaration(M, F, Head) :-
        current_predicate(M:foreign/3),
        M:foreign(F, _, Head).
foreign_declaration(M, F, Head) :-
        current_predicate(M:foreign/2),
        M:foreign(F, Head).

loaded_foreign_resource(Name) :-
        '$foreign_resource_loaded'(Name, _, _).

% ---- The stub compiler ----

install_stubs([], _).
install_stubs([foreign(_, M, Head, Address)|Specs], Stash) :-
        fli_compile_foreign(M, Head, Address, Stash),
        install_stubs(Specs, Stash).

% fli_compile_foreign(+Module, +Head, +Address, +Lead): defines
% Module:Name/Arity as the stub that calls the function at Address with
% the arguments Head's types and modes describe, Lead (unless 0) as the
% first parameter.
fli_compile_foreign(M, Head, Address, Lead) :-
        G = fli_compile_foreign(M, Head, Address, Lead),
        functor(Head, N, A),
        Head =.. [_|Types],
        arg_kinds(Types, 0, Args, G),
        compile_c_call(Args, A, Address, Lead, M:N/A, Items, Size),
        '$define_predicate'(M:N/A, compactcode),
        functor(H, N, A),
        '$set_property'(M:H, volatile, []),
        '$make_bytecode_object'(Size, Items, [], Ref),
        '$compiled_clause'(M:N/A, Ref, _, ix(31, _)).

% arg(Mode, Kind, I): Mode in, out or ret; Kind 0 float, 1 integer,
% 2 term, 3 atom, 4 string, 5 codes (the order of the instruction groups).
arg_kinds([], _, [], _).
arg_kinds([T|Ts], I, [arg(Mode, Kind, I)|As], G) :-
        (   arg_kind(T, Mode, Kind) -> true
        ;   illarg(domain(T, foreign_argument), G, 2, T)
        ),
        I1 is I + 1,
        arg_kinds(Ts, I1, As, G).

arg_kind(+T, in, K) :- type_kind(T, K).
arg_kind(-T, out, K) :- type_kind(T, K).
arg_kind([-T], ret, K) :- type_kind(T, K).

type_kind(T, _) :- var(T), !, fail.
type_kind(float, 0).
type_kind(integer, 1).
type_kind(address, 1).
type_kind(address(_), 1).
type_kind(term, 2).
type_kind(atom, 3).
type_kind(string, 4).
type_kind(codes, 5).

% compile_c_call(+Args, +Arity, +Address, +Lead, +Pred, -Items, -Bytes):
% the items of $make_bytecode_object/4 and the code's size.  An
% instruction whose 32-bit operand would fall 2 bytes off a multiple of 4
% is written in its Q form (a pad halfword first).
compile_c_call(Args, A, Address, Lead, Pred, Items, Bytes) :-
        count_args(Args, 0, 0, 0, 0, NIn, NOut, NTerm, NRet),
        NRet =< 1,
        NIn + NOut + 1 =< 513,
        NTerm =< 256,
        (   Lead =:= 0 -> Arity1 = A ; Arity1 is A + 1 ),
        (   Arity1 =< 4, \+ member_of(arg(in, 0, _), Args), \+ member_of(arg(ret, 0, _), Args)
        ->  Call = 299
        ;   Call = 297
        ),
        Env is 8 + 4 * A,
        % OPEN_FOREIGN_CALL at halfword 0: its E operand is at 3, so the Q form.
        Open = [o(293), 0, A, NTerm, emul_entry(Pred), long(Lead)],
        push_items(Args, Push, 8, Pos1),
        (   Pos1 mod 2 =:= 1
        ->  CallItems = [o(Call), long(Address), Env], Pos2 is Pos1 + 4
        ;   CallQ is Call - 1,
            CallItems = [o(CallQ), 0, long(Address), Env], Pos2 is Pos1 + 5
        ),
        pop_items(Args, Pop, Pos2, Pos3),
        Close = [o(295)],
        End is Pos3 + 1 + (Pos3 + 1) mod 2,
        Bytes is 2 * End,
        append(Pop, Close, T2),
        append(CallItems, T2, T1),
        append(Push, T1, T0),
        append(Open, T0, Items).

count_args([], I, O, T, R, I, O, T, R).
count_args([arg(Mode, K, _)|As], I0, O0, T0, R0, I, O, T, R) :-
        (   Mode == in -> I1 is I0 + 1, O1 = O0, R1 = R0
        ;   Mode == out -> I1 = I0, O1 is O0 + 1, R1 = R0
        ;   I1 = I0, O1 = O0, R1 is R0 + 1
        ),
        (   K =:= 2, Mode \== ret -> T1 is T0 + 1 ; T1 = T0 ),
        count_args(As, I1, O1, T1, R1, I, O, T, R).

push_items([], [], P, P).
push_items([arg(Mode, K, I)|As], Items, P0, P) :-
        (   Mode == in -> Op is 300 + K, Items = [o(Op), x(I)|Items1], P1 is P0 + 2
        ;   Mode == out -> Op is 306 + K, Items = [o(Op)|Items1], P1 is P0 + 1
        ;   Items = Items1, P1 = P0
        ),
        push_items(As, Items1, P1, P).

pop_items([], [], P, P).
pop_items([arg(Mode, K, I)|As], Items, P0, P) :-
        (   Mode == out -> Op is 312 + K, Items = [o(Op), y(I)|Items1], P1 is P0 + 2
        ;   Mode == ret -> Op is 318 + K, Items = [o(Op), y(I)|Items1], P1 is P0 + 2
        ;   Items = Items1, P1 = P0
        ),
        pop_items(As, Items1, P1, P).

% fli_define_stash_predicate(+Name, +Arity, +Module, +Dispatcher, +Record):
% the predicate of VR_define_c_predicate: a stub that hands its arguments,
% as consecutive term references, to the dispatcher with the record first.
fli_define_stash_predicate(Name0, A, M, Dispatcher, Record) :-
        (   atom(Name0) -> Name = Name0 ; atom_codes(Name, Name0) ),
        functor(Head, Name, A),
        all_terms(A, Head),
        fli_compile_foreign(M, Head, Dispatcher, Record).

all_terms(0, _) :- !.
all_terms(I, Head) :-
        arg(I, Head, +term),
        I1 is I - 1,
        all_terms(I1, Head).

