% Messages: print_message/2 and the system's message texts, the report
% of uncaught exceptions, and statistics/0.
%
% print_message(Kind, Message) writes the lines of Message on user_error,
% each line prefixed by its kind: "! " for errors, "* " for warnings,
% "% " for informational messages (only while the informational flag is
% on), none for help; silent messages are not printed.  An ISO error term
% error(Formal, Context) gives a line for the formal part ("! Type error:
% expected integer, found a") and lines for the context (which argument of
% which predicate, the goal, or the line of a syntax error).

print_message(Kind, Message) :-
        G = print_message(Kind, Message),
        must_be(Kind, nonvar, G, 1),
        (   msg_prefix(Kind, Prefix) -> true
        ;   illarg(domain(_, message_kind), G, 1)
        ),
        (   Kind == silent -> true
        ;   Kind == informational, '$informational_flag'(off, off) -> true
        ;   msg_lines_safe(Message, Lines),
            msg_print(Lines, Prefix)
        ).

msg_prefix(error, '! ').
msg_prefix(warning, '* ').
msg_prefix(informational, '% ').
msg_prefix(help, '').
msg_prefix(silent, '').

% A message that its own text cannot be made for is shown as a term.
msg_lines_safe(Message, Lines) :-
        (   catch(msg_lines(Message, Lines0), _, fail) -> Lines = Lines0
        ;   Lines = [['Unknown message: ~q'-[Message]]]
        ).

msg_print(Lines, Prefix) :-
        S = user_error,
        msg_print_lines(Lines, Prefix, S),
        flush_output(S).

msg_print_lines([], _, _).
msg_print_lines([Line|Lines], Prefix, S) :-
        '$display'(user_error, Prefix),
        (   catch(msg_print_pieces(Line, S), _, fail) -> true
        ;   format(S, '~q', [Line])
        ),
        nl(S),
        msg_print_lines(Lines, Prefix, S).

msg_print_pieces([], _).
msg_print_pieces([F-A|Ps], S) :- format(S, F, A), msg_print_pieces(Ps, S).

% ---- Texts ----

% msg_lines(Message, Lines): each line a list of Format-Arguments.
msg_lines(error(Formal, Context), [Head|More]) :- !,
        msg_formal(Formal, Head),
        msg_context(Formal, Context, More).
msg_lines(format(F, A), [[F-A]]) :- !.
msg_lines(unhandled_exception(Ball), [['Unhandled exception: ~q'-[Ball]]]) :- !.
msg_lines(goal_failed(Where, Goal), [['~w failed: ~q'-[Where, Goal]]]) :- !.
msg_lines(failed(Goal), [['Goal failed: ~q'-[Goal]]]) :- !.
msg_lines(Message, [['Unknown message: ~q'-[Message]]]).

msg_formal(instantiation_error, ['Instantiation error'-[]]) :- !.
msg_formal(uninstantiation_error(C), ['Uninstantiation error: expected an unbound variable, found ~q'-[C]]) :- !.
msg_formal(type_error(T, C), ['Type error: expected ~q, found ~q'-[T, C]]) :- !.
msg_formal(domain_error(D, C), ['Domain error: expected ~q, found ~q'-[D, C]]) :- !.
msg_formal(existence_error(procedure, P), ['Existence error: procedure ~q does not exist'-[P]]) :- !.
msg_formal(existence_error(K, C), ['Existence error: ~w ~q does not exist'-[K, C]]) :- !.
msg_formal(permission_error(A, T, C), ['Permission error: cannot ~w ~w ~q'-[A, T, C]]) :- !.
msg_formal(representation_error(R), ['Representation error: ~w'-[R]]) :- !.
msg_formal(evaluation_error(E), ['Evaluation error: ~w'-[E]]) :- !.
msg_formal(resource_error(R), ['Resource error: not enough ~w'-[R]]) :- !.
msg_formal(syntax_error(M), ['Syntax error: ~w'-[M]]) :- !.
msg_formal(system_error(M), ['System error: ~w'-[M]]) :- !.
msg_formal(context_error(C), ['Context error: ~q'-[C]]) :- !.
msg_formal(format(M), ['Format error: ~w'-[M]]) :- !.
msg_formal(F, ['Error: ~q'-[F]]).

% The lines that say where the error happened.
msg_context(existence_error(procedure, _), _, []) :- !.
msg_context(_, C, []) :- var(C), !.
msg_context(_, context(G, N), Lines) :- callable(G), integer(N), !,
        msg_unqualified(G, G1),
        functor(G1, F, A),
        (   N > 0 -> Where = ['in argument ~d of ~q'-[N, F/A]]
        ;   Where = ['in ~q'-[F/A]]
        ),
        Lines = [Where, ['goal: ~q'-[G]]].
msg_context(_, stream(S, Line), [['in line ~d of '-[Line], Name]]) :- !,
        msg_stream_name(S, Name).
msg_context(_, _, []).

msg_unqualified(G, G) :- var(G), !.
msg_unqualified(_:G, G1) :- !, msg_unqualified(G, G1).
msg_unqualified(G, G).

msg_stream_name(S, Name) :-
        (   catch(stream_property(S, file_name(F)), _, fail) -> Name = '~a'-[F]
        ;   Name = '~q'-[S]
        ).

% '$print_uncaught'(Ball): the report of an exception that nothing caught.
'$print_uncaught'(Ball) :-
        (   nonvar(Ball), Ball = error(_, _) -> print_message(error, Ball)
        ;   print_message(error, unhandled_exception(Ball))
        ).

% ---- statistics/0 ----

statistics :-
        S = user_error,
        statistics(memory_used, MU), statistics(memory_free, MF),
        format(S, 'Memory: ~D bytes in use, ~D free~n', [MU, MF]),
        stat_area(S, 'heap', global_stack_used, global_stack_free),
        stat_area(S, 'local stack', local_stack_used, local_stack_free),
        stat_area(S, 'trail', trail_used, trail_free),
        stat_area(S, 'choicepoints', choice_used, choice_free),
        statistics(atoms_nbused, AU), statistics(atoms_nbfree, AF),
        format(S, 'Atoms: ~D in use, ~D free~n', [AU, AF]),
        statistics(ss_global, SG), statistics(ss_local, SL), statistics(ss_choice, SC),
        statistics(ss_time, ST),
        stat_line(S, 'Stack shifts', '~D heap, ~D local, ~D choicepoint', [SG, SL, SC], ST),
        statistics(gc_count, GC), statistics(gc_freed, GF), statistics(gc_time, GT),
        stat_line(S, 'Garbage collections', '~D, ~D bytes freed', [GC, GF], GT),
        statistics(agc_count, AC), statistics(agc_nbfreed, AN), statistics(agc_freed, AB),
        statistics(agc_time, AT),
        stat_line(S, 'Atom collections', '~D, ~D atoms (~D bytes) freed', [AC, AN, AB], AT),
        statistics(defrag_count, DC), statistics(defrag_time, DT),
        stat_line(S, 'Defragmentations', '~D', [DC], DT),
        statistics(dcgc_count, CC), statistics(dcgc_time, CT),
        stat_line(S, 'Dead clauses reclaimed', '~D times', [CC], CT),
        statistics(dpgc_count, PC), statistics(dpgc_time, PT),
        stat_line(S, 'Dead predicates reclaimed', '~D times', [PC], PT),
        statistics(runtime, [Run, _]), statistics(total_runtime, [Total, _]),
        statistics(walltime, [Wall, _]),
        format(S, 'Run time: ~3d s (~3d s with the collectors)~n', [Run, Total]),
        format(S, 'Elapsed time: ~3d s~n', [Wall]),
        flush_output(S).

stat_area(S, Name, UsedKey, FreeKey) :-
        statistics(UsedKey, U), statistics(FreeKey, F),
        format(S, '  ~a~t~16|~t~D~30| bytes used~t~D~54| free~n', [Name, U, F]).

stat_line(S, Name, Format, Args, Ms) :-
        format(S, '~a: ', [Name]),
        format(S, Format, Args),
        format(S, ' in ~3d s~n', [Ms]).
