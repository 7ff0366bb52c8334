% The generator's main procedure and its outputs.
%
% runtime_entry(start), run by the runtime's prolog:main/0, reads the
% model "modelTest.txt" of the current directory (one term [Vars, Aux,
% Ctrs]), builds a matrix of 30 rows with a column per model variable,
% covers every valid pair, prints the pair count, the time and the number
% of configurations, and appends the matrix to test1 and a statistics
% line to test2.  Nothing is written to either file unless the search
% succeeds; a model that cannot be read gives one message and status 1.
%
% Every configuration written for rows 1..Max is complete and valid: the
% cells that the pair search left open in those rows are labeled in the
% same search.  Rows beyond Max hold no pair and stay open.
%
% Callers: prolog:main/0 (runtime_entry/1); tests call problemeRunTime/5.

:- use_module(library(clpfd)).
:- use_module(library(lists)).
:- use_module(library(codesio)).
:- use_module(library(timeout)).

runtime_entry(start) :-
        problemeRunTime('modelTest.txt', 30, test1, test2, _).

problemeRunTime(File, MaxRows, MatFile, StatFile, TimeOut) :-
        read_model(File, Vars, Aux, Ctrs),
        domain(Aux, -1, 0),
        statistics(runtime, [T0|_]),
        length(Vars, N),
        columns(N, MaxRows, Matrix),
        post_model(Ctrs),
        column_bounds(Matrix, Vars, 1),
        contraintePaire(Matrix, Vars, PairIdx, model(Vars, Aux, Most)),
        length(PairIdx, NP),
        write(NP), writeln(' valid pairs has been generated'),
        (   Most =< MaxRows -> true
        ;   writeln('Solving...'), fail     % a row holds one pair of two columns
        ),
        contrainteFD(Matrix, Vars, Aux),
        maximum(Max, PairIdx),
        search(TimeOut, Max, PairIdx, Matrix),
        statistics(runtime, [T1|_]),
        writeMat(MatFile, Matrix),
        Ms is T1 - T0,
        write('A solution has been found in : '), write(Ms), writeln(' ms'),
        write('Number of configurations '), writeln(Max),
        writeStat(File, N, Ms, Max, NP, StatFile).

% read_model(+File, -Vars, -Aux, -Ctrs): the model term.  A file that
% cannot be opened or read, or whose term is not a list of three lists,
% ends the run with one message and status 1.
read_model(File, Vars, Aux, Ctrs) :-
        catch(read_term_of(File, Term), E, model_error(File, E)),
        (   Term = [Vars, Aux, Ctrs], is_list(Vars), is_list(Aux), is_list(Ctrs) -> true
        ;   model_error(File, not_a_model)
        ).

% The solver's operators, which a model's goals may use (X in 1..5).
read_term_of(File, Term) :-
        op(700, xfx, [in, in_set]), op(550, xfx, ..),
        open(File, read, S),
        call_cleanup(read(S, Term), close(S)).

model_error(File, E) :-
        model_error_text(E, Text),
        format(user_error, '! trelix: cannot read the model file ~w: ~w~n', [File, Text]),
        halt(1).

model_error_text(error(existence_error(_, _), _), 'no such file') :- !.
model_error_text(error(permission_error(_, _, _), _), 'permission denied') :- !.
model_error_text(error(syntax_error(What), _), Text) :- !,
        format_to_atom('syntax error: ~w', [What], Text).
model_error_text(not_a_model, 'the file must hold one term [Vars, Aux, Constraints], a list of three lists') :- !.
model_error_text(E, Text) :- format_to_atom('~q', [E], Text).

format_to_atom(Format, Args, Atom) :-
        with_output_to_codes(format(Format, Args), Codes),
        atom_codes(Atom, Codes).

% columns(+N, +R, -Matrix): N columns of R fresh cells.
columns(0, _, []) :- !.
columns(N, R, [C|Cs]) :-
        length(C, R),
        N1 is N - 1,
        columns(N1, R, Cs).

post_model([]).
post_model([G|Gs]) :- call(user:G), post_model(Gs).

% column_bounds(+Matrix, +Vars, +Pos): each column takes its variable's
% bounds (not its holes).  A variable without finite bounds cannot be
% enumerated: an error names its position.
column_bounds([], [], _).
column_bounds([C|Cs], [V|Vs], Pos) :-
        fd_min(V, Min), fd_max(V, Max),
        (   integer(Min), integer(Max) -> true
        ;   fd_dom(V, R),
            throw(error(domain_error(finite_domain, model_variable(Pos, R)), column_bounds))
        ),
        domain(C, Min, Max),
        Pos1 is Pos + 1,
        column_bounds(Cs, Vs, Pos1).

% search(+TimeOut, ?Max, +PairIdx, +Matrix): a row for every pair, then
% the open cells of rows 1..Max, in one search.
search(TimeOut, Max, PairIdx, Matrix) :-
        (   number(TimeOut) ->
            writeln('Minimizing...'),
            labeling(user:[time_out(TimeOut, _), ff, minimize(Max)], PairIdx)
        ;   writeln('Solving...'),
            labeling(user:[ff], PairIdx)
        ),
        complete_rows(Matrix, Max).

complete_rows(Matrix, Max) :-
        rows_upto(Max, Matrix, Cells),
        labeling([], Cells).

rows_upto(Max, Matrix, Cells) :-
        rows_upto(1, Max, Matrix, Cells).

rows_upto(I, Max, _, []) :- I > Max, !.
rows_upto(I, Max, Matrix, Cells) :-
        row(I, Matrix, Row),
        append(Row, Rest, Cells),
        I1 is I + 1,
        rows_upto(I1, Max, Matrix, Rest).

% writeMat(+File, +Matrix): appends the matrix row by row, each value
% followed by a comma, then an empty line.
writeMat(File, Matrix) :-
        Matrix = [C|_],
        length(C, R),
        open(File, append, S),
        write_rows(1, R, Matrix, S),
        nl(S),
        close(S).

write_rows(I, R, _, _) :- I > R, !.
write_rows(I, R, Matrix, S) :-
        row(I, Matrix, Row),
        write_cells(Row, S),
        write(S, '\n'),
        I1 is I + 1,
        write_rows(I1, R, Matrix, S).

write_cells([], _).
write_cells([X|Xs], S) :- write(S, X), write(S, ','), write_cells(Xs, S).

% writeStat(+Label, +NVars, +Ms, +NConfigs, +NPairs, +File): one line of
% five fields, each followed by ";".
writeStat(Label, NVars, Ms, NConfigs, NPairs, File) :-
        open(File, append, S),
        write_fields([Label, NVars, Ms, NConfigs, NPairs], S),
        nl(S),
        close(S).

write_fields([], _).
write_fields([F|Fs], S) :- write(S, F), write(S, ';'), write_fields(Fs, S).

writeln(X) :- write(X), write('\n').
