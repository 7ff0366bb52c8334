% Error terms: what native built-ins record as an error type becomes an
% ISO exception term error(Formal, context(Goal, ArgNo)), and the argument
% checkers that library predicates use to raise such errors themselves.
%
% An error type is Subtype * 256 + Class; the classes are 0 instantiation,
% 1 type, 2 domain, 3 representation, 4 existence, 5 system, 6 permission,
% 7 evaluation, 8 consistency.  The subtypes known here are listed in
% error_formal/4; for any other the recorded message names the type or
% domain.  docs/error_terms.md has the whole table.

% '$cerror'(Goal, ArgNo, Culprit): the alternative that native code's
% raise_error pushes; it throws the exception of the recorded error.
'$cerror'(Goal, ArgNo, Culprit) :-
        '$cerror_data'(Type, Message),
        Class is Type /\ 255,
        Subtype is Type >> 8,
        error_formal(Class, Subtype, Message, Culprit, Formal),
        raise_exception(error(Formal, context(Goal, ArgNo))).

error_formal(0, _, _, _, instantiation_error) :- !.
error_formal(Class, Sub, _, Culprit, Formal) :- stream_formal(Class, Sub, Culprit, Formal), !.
error_formal(1, 6, _, Culprit, uninstantiation_error(Culprit)) :- !.
error_formal(1, Sub, Message, Culprit, type_error(Type, Culprit)) :- !,
        type_name(Sub, Message, Type).
error_formal(2, Sub, Message, Culprit, domain_error(Domain, Culprit)) :- !,
        domain_name(Sub, Message, Domain).
error_formal(3, Sub, Message, _, representation_error(What)) :- !,
        representation_name(Sub, Message, What).
error_formal(4, Sub, _, Culprit, existence_error(Kind, Culprit)) :- !,
        existence_kind(Sub, Kind).
error_formal(5, _, Message, _, system_error(Message)) :- !.
% A restored multifile predicate whose clauses cannot join those in
% memory (their kinds differ); the message names it as Module:Name/Arity.
error_formal(6, 6, Message, _, permission_error(restore, multifile_procedure, Message)) :- !.
error_formal(6, _, Message, Culprit, permission_error(Action, Type, Culprit)) :- !,
        permission_parts(Message, Action, Type).
error_formal(7, Sub, Message, _, evaluation_error(What)) :- !,
        evaluation_name(Sub, Message, What).
error_formal(8, _, Message, _, system_error(Message)) :- !.
error_formal(_, _, Message, _, system_error(Message)).

% The stream layer's types (Emulator/stream_builtins.cpp): not a stream,
% not an input or output stream, past the end of a stream, a bad character
% code, a negative count, access to a file refused, a stream that cannot
% be repositioned.
stream_formal(2, 9, C, domain_error(stream_or_alias, C)).
stream_formal(6, 1, C, permission_error(input, stream, C)).
stream_formal(6, 2, C, permission_error(output, stream, C)).
stream_formal(4, 1, C, permission_error(input, past_end_of_stream, C)).
stream_formal(2, 2, C, representation_error(character_code)) :- integer(C), C < 0.
stream_formal(2, 2, C, type_error(integer, C)).
stream_formal(1, 5, C, domain_error(not_less_than_zero, C)).
stream_formal(6, 3, C, permission_error(open, source_sink, C)).
stream_formal(6, 4, C, permission_error(open, source_sink, C)).
stream_formal(6, 5, C, permission_error(reposition, stream, C)).

type_name(2, _, atom) :- !.
type_name(3, _, integer) :- !.
type_name(4, _, integer) :- !.
type_name(7, _, list) :- !.
type_name(8, _, float) :- !.
type_name(_, Message, Message).

domain_name(3, _, =\=(0)) :- !.
domain_name(4, _, >(0)) :- !.
domain_name(6, _, expression) :- !.
domain_name(14, _, between(-1.0, 1.0)) :- !.
domain_name(15, _, abs_ge(1.0)) :- !.
domain_name(16, _, ge(1.0)) :- !.
domain_name(17, _, gt(0.0)) :- !.
domain_name(18, _, ge(0.0)) :- !.
domain_name(_, Message, Message).

representation_name(3, _, nan_or_inf_to_integer) :- !.
representation_name(4, _, max_integer) :- !.
representation_name(_, Message, Message).

existence_kind(4, foreign_resource) :- !.
existence_kind(5, source_sink) :- !.
existence_kind(_, procedure).

evaluation_name(1, _, float_overflow) :- !.
evaluation_name(2, _, undefined) :- !.
evaluation_name(4, _, float_not_a_number) :- !.
evaluation_name(_, Message, Message).

% The permission messages native code records: "Action Type".
permission_parts('modify operator', modify, operator) :- !.
permission_parts('create operator', create, operator) :- !.
permission_parts(Message, Message, unknown).

% ---- Argument checkers ----

% illarg(Type, Goal, ArgNo): the culprit is argument ArgNo of Goal.
illarg(var, Goal, ArgNo) :- !,
        raise_exception(error(instantiation_error, context(Goal, ArgNo))).
illarg(Type, Goal, ArgNo) :-
        culprit(Goal, ArgNo, Culprit),
        illarg(Type, Goal, ArgNo, Culprit).

culprit(Goal, ArgNo, Culprit) :-
        compound(Goal), integer(ArgNo), ArgNo > 0, functor(Goal, _, N), ArgNo =< N, !,
        arg(ArgNo, Goal, Culprit).
culprit(_, _, _).

% illarg(Type, Goal, ArgNo, Culprit): Type is var, type(T), domain(T, D),
% representation(R), existence(K, _), permission(A, T, _), evaluation(E),
% context(C, _) or system(M).
illarg(Type, Goal, ArgNo, Culprit) :-
        arg_error(Type, Culprit, Formal), !,
        raise_exception(error(Formal, context(Goal, ArgNo))).
illarg(Type, Goal, ArgNo, _) :-
        raise_exception(error(system_error(bad_error_type(Type)), context(Goal, ArgNo))).

arg_error(var, _, instantiation_error).
arg_error(uninstantiation, Culprit, uninstantiation_error(Culprit)).
arg_error(type(T), Culprit, type_error(T, Culprit)).
arg_error(domain(_, D), Culprit, domain_error(D, Culprit)).
arg_error(representation(R), _, representation_error(R)).
arg_error(existence(K, _), Culprit, existence_error(K, Culprit)).
arg_error(existence(K, _, _), Culprit, existence_error(K, Culprit)).
arg_error(permission(A, T, _), Culprit, permission_error(A, T, Culprit)).
arg_error(evaluation(E), _, evaluation_error(E)).
arg_error(context(C, _), _, context_error(C)).
arg_error(consistency(A, B, M), _, consistency_error(A, B, M)).
arg_error(system(M), _, system_error(M)).

% must_be(Term, Type, Goal, ArgNo)
must_be(Term, Type, Goal, ArgNo) :-
        (   check_type(Type, Term) -> true
        ;   type_fault(Type, Term, Fault),
            illarg(Fault, Goal, ArgNo, Term)
        ).

check_type(nonvar, T) :- nonvar(T).
check_type(var, T) :- var(T).
check_type(atom, T) :- atom(T).
check_type(atomic, T) :- atomic(T).
check_type(callable, T) :- callable(T).
check_type(compound, T) :- compound(T).
check_type(integer, T) :- integer(T).
check_type(float, T) :- float(T).
check_type(number, T) :- number(T).
check_type(mutable, T) :- mutable(T).
check_type(db_reference, T) :- db_reference(T).
check_type(integer(>=(N)), T) :- integer(T), T >= N.
check_type(integer(>(N)), T) :- integer(T), T > N.
check_type(list, T) :- proper_list(T).
check_type(proper_list, T) :- proper_list(T).
check_type(list(Type), T) :- proper_list(T), all_of(T, Type).

all_of([], _).
all_of([X|Xs], Type) :- check_type(Type, X), all_of(Xs, Type).

proper_list(L) :- list_end(L, E), E == [].

% list_end(List, End): End is what List's chain of list cells ends in ([]
% for a proper list, a variable for a partial one); fails when the chain
% is cyclic.  Brent's test: the cell saved at every power of two steps is
% met again inside a cycle.
list_end(L, End) :- list_end(L, L, 1, 0, End).

list_end(L, Saved, P, N, End) :-
        (   nonvar(L), L = [_|T] ->
            \+ '$eq'(T, Saved),
            N1 is N + 1,
            (   N1 =:= P -> P1 is P * 2, list_end(T, T, P1, 0, End)
            ;   list_end(T, Saved, P, N1, End)
            )
        ;   End = L
        ).

% Which error a term that fails a type check raises.
type_fault(_, T, var) :- var(T), !.
type_fault(integer(_), T, domain(T, not_less_than_zero)) :- integer(T), !.
type_fault(integer(_), _, type(integer)) :- !.
type_fault(Type, T, var) :- list_type(Type), partial_list(T), !.
type_fault(Type, _, type(list)) :- list_type(Type), !.
type_fault(Type, _, type(Type)).

list_type(list).
list_type(proper_list).
list_type(list(_)).

partial_list(T) :- list_end(T, E), var(E).

% get_module(Term, Goal, Module): the innermost qualification wins.
get_module(Term, Goal, Module) :-
        '$typein_module'(M0, M0),
        strip_module_(Term, M0, Goal, Module).

strip_module_(T, M, T, M) :- var(T), !.
strip_module_(M1:T, _, G, M) :- !, strip_module_(T, M1, G, M).
strip_module_(T, M, T, M).

% must_be_callable(Term, Goal, Module, Context, ArgNo)
must_be_callable(Term, Goal, Module, Context, ArgNo) :-
        get_module(Term, Goal, Module),
        must_be(Module, atom, Context, ArgNo),
        must_be(Goal, callable, Context, ArgNo).
