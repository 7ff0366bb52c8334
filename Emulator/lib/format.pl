% format/1,2,3.
%
% The control text (an atom, a code list or a character list) is parsed
% into items first and checked against the arguments as a whole, so that
% a bad directive or argument raises its error before anything is
% written.  Directives: ~w ~p ~q ~k ~a ~d ~D ~f ~e ~g ~h (and F E G H)
% ~s ~c ~r ~R ~i ~* ~n ~~, and the column directives ~t (fill point),
% ~N| (column stop at column N) and ~N+ (column stop N columns past the
% previous stop, 8 by default).  A numeric argument is digits, * (taken
% from the arguments) or `c (the code of c).
%
% Errors: a faulty control text is error(format(Message), Context), as is
% a count of arguments that does not match; an argument of the wrong kind
% raises the ISO error for its type.
%
% Without column directives the items are written straight to the
% stream.  With them the text of each item is collected first (through a
% stream in memory), and at each column stop the pending text is padded
% at its fill points (at its end when it has none) up to the stop.

format(F) :- format(F, []).

format(F, Args) :- current_output(S), format_(S, F, Args, format(F, Args), 0).

format(S, F, Args) :- format_(S, F, Args, format(S, F, Args), 1).

format_(S, F, Args0, G, N) :-
        output_of_kind(text, S, G, N, A),
        N1 is N + 1,
        N2 is N + 2,
        fmt_control(F, G, N1, Items),
        (   proper_list(Args0) -> Args = Args0 ; Args = [Args0] ),
        fmt_actions(Items, Args, G, N2, Actions),
        (   fmt_has_columns(Actions) ->
            '$stream_count'(A, _, _, Col),
            fmt_columns(Actions, A, Col, Col, [])
        ;   fmt_direct(Actions, A)
        ).

fmt_error(Message, G, N) :-
        raise_exception(error(format(Message), context(G, N))).

% ---- The control text ----

fmt_control(F, G, N, _) :- var(F), !, illarg(var, G, N).
fmt_control(F, G, N, Items) :-
        (   atom(F) -> atom_codes(F, Codes)
        ;   fmt_codes(F, Codes) -> true
        ;   illarg(type(text), G, N, F)
        ),
        fmt_items(Codes, G, N, Items).

fmt_codes([], []).
fmt_codes([C|Cs], [C|Ds]) :- integer(C), !, C >= 0, fmt_codes(Cs, Ds).
fmt_codes([C|Cs], [D|Ds]) :- atom(C), atom_length(C, 1), char_code(C, D), fmt_codes(Cs, Ds).

fmt_items([], _, _, []).
fmt_items([0'~|Cs], G, N, [Item|Items]) :- !,
        fmt_numeric(Cs, Arg, Cs1),
        (   Cs1 = [L|Cs2] -> true
        ;   fmt_error('incomplete directive at the end', G, N)
        ),
        (   fmt_directive(L, Arg, Item) -> true
        ;   atom_codes(D, [0'~, L]),
            atom_concat('unknown directive ', D, Message),
            fmt_error(Message, G, N)
        ),
        fmt_items(Cs2, G, N, Items).
fmt_items(Cs, G, N, [lit(Text)|Items]) :-
        fmt_literal(Cs, Text, Rest),
        fmt_items(Rest, G, N, Items).

fmt_literal([], [], []).
fmt_literal([C|Cs], [], [C|Cs]) :- C =:= 0'~, !.
fmt_literal([C|Cs], [C|Ts], Rest) :- fmt_literal(Cs, Ts, Rest).

% The numeric argument: none, N, star (from the arguments) or a code.
fmt_numeric([0'*|Cs], star, Cs) :- !.
fmt_numeric([0'`, C|Cs], C, Cs) :- !.
fmt_numeric([D|Cs], N, Rest) :- D >= 0'0, D =< 0'9, !,
        fmt_digits(Cs, Ds, Rest),
        number_codes(N, [D|Ds]).
fmt_numeric(Cs, none, Cs).

fmt_digits([D|Cs], [D|Ds], Rest) :- D >= 0'0, D =< 0'9, !, fmt_digits(Cs, Ds, Rest).
fmt_digits(Cs, [], Cs).

% fmt_directive(Letter, Arg, Item): dir(Letter, Arg) takes an argument,
% the others do not.
fmt_directive(L, A, dir(L, A)) :- fmt_takes_argument(L), !.
fmt_directive(0'n, A, newlines(A)).
fmt_directive(0'~, _, lit("~")).
fmt_directive(0't, A, fill(A)).
fmt_directive(0'|, A, column(A)).
fmt_directive(0'+, A, column_plus(A)).

fmt_takes_argument(L) :- fmt_letter(L), !.

fmt_letter(0'w). fmt_letter(0'p). fmt_letter(0'q). fmt_letter(0'k).
fmt_letter(0'a). fmt_letter(0'd). fmt_letter(0'D). fmt_letter(0's).
fmt_letter(0'c). fmt_letter(0'r). fmt_letter(0'R). fmt_letter(0'i).
fmt_letter(0'e). fmt_letter(0'E). fmt_letter(0'f). fmt_letter(0'F).
fmt_letter(0'g). fmt_letter(0'G). fmt_letter(0'h). fmt_letter(0'H).

% ---- Items against the arguments ----

% fmt_actions(Items, Args, Goal, ArgNo, Actions): every argument is
% consumed and checked; Actions say what to write.
fmt_actions([], [], _, _, []) :- !.
fmt_actions([], [_|_], G, N, _) :- fmt_error('too many arguments', G, N).
fmt_actions([Item|Items], Args0, G, N, Actions) :-
        fmt_star(Item, Args0, G, N, Item1, Args1),
        fmt_action(Item1, Args1, G, N, Actions, Actions1, Args2),
        fmt_actions(Items, Args2, G, N, Actions1).

fmt_star(dir(L, star), Args0, G, N, dir(L, K), Args) :- !, fmt_count(Args0, G, N, K, Args).
fmt_star(newlines(star), Args0, G, N, newlines(K), Args) :- !, fmt_count(Args0, G, N, K, Args).
fmt_star(fill(star), Args0, G, N, fill(K), Args) :- !, fmt_count(Args0, G, N, K, Args).
fmt_star(column(star), Args0, G, N, column(K), Args) :- !, fmt_count(Args0, G, N, K, Args).
fmt_star(column_plus(star), Args0, G, N, column_plus(K), Args) :- !, fmt_count(Args0, G, N, K, Args).
fmt_star(I, Args, _, _, I, Args).

fmt_count([], G, N, _, _) :- fmt_error('not enough arguments', G, N).
fmt_count([K|Args], G, N, K, Args) :- must_be(K, integer(>=(0)), G, N).

fmt_action(lit(T), Args, _, _, [lit(T)|As], As, Args).
fmt_action(newlines(K), Args, _, _, [newlines(K1)|As], As, Args) :- fmt_default(K, 1, K1).
fmt_action(fill(C), Args, _, _, [fill(C1)|As], As, Args) :- fmt_default(C, 0' , C1).
fmt_action(column(K), Args, _, _, [column(K)|As], As, Args).
fmt_action(column_plus(K), Args, _, _, [column_plus(K1)|As], As, Args) :- fmt_default(K, 8, K1).
fmt_action(dir(L, K), Args0, G, N, As0, As, Args) :-
        (   Args0 = [X|Args] -> true
        ;   fmt_error('not enough arguments', G, N)
        ),
        fmt_argument(L, K, X, G, N, As0, As).

fmt_default(none, D, D) :- !.
fmt_default(K, _, K).

% fmt_argument(Letter, Arg, X, Goal, ArgNo, Actions, Tail)
fmt_argument(0'w, _, X, _, _, [write(X)|As], As).
fmt_argument(0'p, _, X, _, _, [print(X)|As], As).
fmt_argument(0'q, _, X, _, _, [writeq(X)|As], As).
fmt_argument(0'k, _, X, _, _, [write_canonical(X)|As], As).
fmt_argument(0'i, _, _, _, _, As, As).
fmt_argument(0'a, _, X, G, N, [atom(X)|As], As) :-
        must_be(X, atomic, G, N).
fmt_argument(0'c, K, X, G, N, [codes(Cs)|As], As) :-
        must_be(X, integer, G, N),
        (   code_value(X) -> true ; illarg(representation(character_code), G, N, X) ),
        fmt_default(K, 1, K1),
        fmt_repeat(K1, X, Cs).
fmt_argument(0's, _, X, G, N, [codes(X)|As], As) :-
        must_be(X, list, G, N),
        text_list(X, codes, G, N).
fmt_argument(L, K, X, G, N, [integer(L, K1, X)|As], As) :-
        fmt_integer_letter(L), !,
        must_be(X, integer, G, N),
        fmt_digits_arg(K, -1, G, N, K1).
fmt_argument(L, K, X, G, N, [float(L, K1, F)|As], As) :-
        must_be(X, number, G, N),
        (   float(X) -> F = X
        ;   integer(X), X >= -268435456, X =< 268435455 -> F = X
        ;   F is float(X)
        ),
        (   ( L =:= 0'h ; L =:= 0'H ) -> Default = -1 ; Default = 6 ),
        fmt_digits_arg(K, Default, G, N, K1).

fmt_integer_letter(0'd). fmt_integer_letter(0'D).
fmt_integer_letter(0'r). fmt_integer_letter(0'R).

fmt_digits_arg(none, D, _, _, D) :- !.
fmt_digits_arg(K, _, G, N, K) :-
        (   K =< 10000 -> true ; fmt_error('numeric argument above 10000', G, N) ).

fmt_repeat(0, _, []) :- !.
fmt_repeat(K, X, [X|Xs]) :- K1 is K - 1, fmt_repeat(K1, X, Xs).

fmt_has_columns([A|As]) :-
        (   fmt_column_action(A) -> true ; fmt_has_columns(As) ).

fmt_column_action(fill(_)).
fmt_column_action(column(_)).
fmt_column_action(column_plus(_)).

% ---- Writing ----

fmt_direct([], _).
fmt_direct([Act|Acts], A) :-
        fmt_emit(Act, A),
        fmt_direct(Acts, A).

fmt_emit(lit(Cs), A) :- fmt_put_codes(Cs, A).
fmt_emit(codes(Cs), A) :- fmt_put_codes(Cs, A).
fmt_emit(newlines(K), A) :- fmt_newlines(K, A).
fmt_emit(write(X), A) :- write('$stream'(A), X).
fmt_emit(print(X), A) :- print('$stream'(A), X).
fmt_emit(writeq(X), A) :- writeq('$stream'(A), X).
fmt_emit(write_canonical(X), A) :- write_canonical('$stream'(A), X).
fmt_emit(atom(X), A) :- '$display'(A, X).
fmt_emit(integer(L, K, X), A) :- '$format_print_integer'(L, X, K, A).
fmt_emit(float(L, K, X), A) :- '$format_print_float'(L, X, K, A).

fmt_put_codes([], _).
fmt_put_codes([C|Cs], A) :- put_code_(A, C, 0), fmt_put_codes(Cs, A).

fmt_newlines(0, _) :- !.
fmt_newlines(K, A) :- put_code_(A, 10, 0x100), K1 is K - 1, fmt_newlines(K1, A).

% fmt_columns(Actions, Stream, Column, Stop, Pending): Column is where the
% pending text starts, Stop the last column stop; Pending holds, newest
% first, text(Codes) and fill(Code) pieces not yet written.
fmt_columns([], A, _, _, Pending) :- fmt_flush(Pending, A).
fmt_columns([Act|Acts], A, Col, Stop, Pending) :-
        fmt_column_step(Act, A, Col, Stop, Pending, Col1, Stop1, Pending1),
        fmt_columns(Acts, A, Col1, Stop1, Pending1).

fmt_column_step(fill(C), _, Col, Stop, P, Col, Stop, [fill(C)|P]) :- !.
fmt_column_step(column(K), A, Col, Stop, P, Col1, Col1, []) :- !,
        (   K == none -> fmt_width(P, 0, W), Target is Col + W ; Target = K ),
        fmt_stop(Target, A, Col, P, Col1).
fmt_column_step(column_plus(K), A, Col, Stop, P, Col1, Col1, []) :- !,
        Target is Stop + K,
        fmt_stop(Target, A, Col, P, Col1).
fmt_column_step(newlines(K), A, _, _, P, 0, 0, []) :- !,
        fmt_flush(P, A),
        fmt_newlines(K, A).
fmt_column_step(Act, A, Col, Stop, P, Col1, Stop1, P1) :-
        fmt_text(Act, Cs),
        (   fmt_split_line(Cs, Line, Rest) ->
            fmt_flush([text(Line)|P], A),
            P1 = [text(Rest)], Col1 = 0, Stop1 = 0
        ;   P1 = [text(Cs)|P], Col1 = Col, Stop1 = Stop
        ).

% fmt_split_line(Codes, Line, Rest): Line ends with the last newline of
% Codes, Rest is what follows it.
fmt_split_line(Cs, Line, Rest) :-
        fmt_reverse(Cs, [], Rs),
        fmt_after_newline(Rs, [], Rest, RLine),
        fmt_reverse(RLine, [], Line).

fmt_after_newline([10|Rs], Rest, Rest, [10|Rs]) :- !.
fmt_after_newline([C|Rs], Acc, Rest, RLine) :- fmt_after_newline(Rs, [C|Acc], Rest, RLine).

% The text of an action, collected through a stream in memory.
fmt_text(lit(Cs), Cs) :- !.
fmt_text(codes(Cs), Cs) :- !.
fmt_text(atom(X), Cs) :- atom(X), !, atom_codes(X, Cs).
fmt_text(Act, Cs) :- with_output_codes(M, fmt_emit(Act, M), Cs).

fmt_width([], W, W).
fmt_width([text(Cs)|P], W0, W) :- !, length(Cs, L), W1 is W0 + L, fmt_width(P, W1, W).
fmt_width([_|P], W0, W) :- fmt_width(P, W0, W).

% The pending text padded to Target (when it falls short) and written;
% Col1 is the column reached.
fmt_stop(Target, A, Col, P, Col1) :-
        fmt_width(P, 0, W),
        Pad is Target - Col - W,
        (   Pad > 0 ->
            fmt_fills(P, 0, F),
            (   F =:= 0 -> P1 = [fill(0' )|P], F1 = 1 ; P1 = P, F1 = F ),
            fmt_reverse(P1, [], Pieces),
            fmt_write_padded(Pieces, A, Pad, F1),
            Col1 = Target
        ;   fmt_flush(P, A),
            Col1 is Col + W
        ).

fmt_fills([], F, F).
fmt_fills([fill(_)|P], F0, F) :- !, F1 is F0 + 1, fmt_fills(P, F1, F).
fmt_fills([_|P], F0, F) :- fmt_fills(P, F0, F).

% Pad characters are shared out over the fill points, the earlier ones
% taking one more when they do not divide evenly.
fmt_write_padded([], _, _, _).
fmt_write_padded([text(Cs)|Ps], A, Pad, F) :-
        fmt_put_codes(Cs, A),
        fmt_write_padded(Ps, A, Pad, F).
fmt_write_padded([fill(C)|Ps], A, Pad, F) :-
        K is (Pad + F - 1) // F,
        fmt_put_repeated(K, C, A),
        Pad1 is Pad - K,
        F1 is F - 1,
        fmt_write_padded(Ps, A, Pad1, F1).

fmt_put_repeated(0, _, _) :- !.
fmt_put_repeated(K, C, A) :- put_code_(A, C, 0), K1 is K - 1, fmt_put_repeated(K1, C, A).

% Pending text written as it is (fill points count for nothing).
fmt_flush(P, A) :-
        fmt_reverse(P, [], Pieces),
        fmt_write_pieces(Pieces, A).

fmt_write_pieces([], _).
fmt_write_pieces([text(Cs)|Ps], A) :- !, fmt_put_codes(Cs, A), fmt_write_pieces(Ps, A).
fmt_write_pieces([_|Ps], A) :- fmt_write_pieces(Ps, A).

fmt_reverse([], R, R).
fmt_reverse([X|Xs], R0, R) :- fmt_reverse(Xs, [X|R0], R).
