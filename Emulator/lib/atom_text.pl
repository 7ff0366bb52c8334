% Atom and text built-ins: atom_length/2, sub_atom/5, atom_concat/3,
% char_code/2, atom_codes/2, atom_chars/2, number_codes/2,
% number_chars/2, and atom_number/2, upcase_atom/2, copy_term/2 and
% term_variables/2.
%
% The native cores solve every determinate case; a Result that is an
% integer (the atom's length in characters) asks for enumeration, which
% happens here by binding the missing positions in order and calling the
% core again.  When a core fails, the arguments were of a kind it does not
% accept, and the second clause finds the ISO error for them.

atom_length(Atom, Length) :-
        '$atom_length'(Atom, Length, R), !,
        R == true.
atom_length(Atom, Length) :-
        G = atom_length(Atom, Length),
        must_be(Atom, atom, G, 1),
        must_be(Length, integer(>=(0)), G, 2),
        fail.

% Solutions come in ISO order: by Before, then by Length.
sub_atom(Atom, B, L, A, Sub) :-
        '$sub_atom'(Atom, B, L, A, Sub, R), !,
        sub_atom_(R, Atom, B, L, A, Sub).
sub_atom(Atom, B, L, A, Sub) :-
        G = sub_atom(Atom, B, L, A, Sub),
        must_be(Atom, atom, G, 1),
        position_arg(B, G, 2),
        position_arg(L, G, 3),
        position_arg(A, G, 4),
        (   var(Sub) -> true ; must_be(Sub, atom, G, 5) ),
        fail.

sub_atom_(true, _, _, _, _, _).
sub_atom_(T, Atom, B, L, A, Sub) :-
        integer(T),
        (   var(B) -> text_position(0, T, B) ; true ),
        (   var(L), var(A) -> M is T - B, text_position(0, M, L) ; true ),
        '$sub_atom'(Atom, B, L, A, Sub, true).

position_arg(X, _, _) :- var(X), !.
position_arg(X, G, N) :- must_be(X, integer(>=(0)), G, N).

% text_position(Low, High, X): X from Low up to High.
text_position(L, H, L) :- L =< H.
text_position(L, H, X) :- L < H, L1 is L + 1, text_position(L1, H, X).

atom_concat(A1, A2, A12) :-
        '$atom_concat'(A1, A2, A12, R), !,
        atom_concat_(R, A1, A2, A12).
atom_concat(A1, A2, A12) :-
        G = atom_concat(A1, A2, A12),
        (   var(A12) ->
            must_be(A1, atom, G, 1),
            must_be(A2, atom, G, 2)
        ;   must_be(A12, atom, G, 3),
            (   var(A1) -> true ; must_be(A1, atom, G, 1) ),
            (   var(A2) -> true ; must_be(A2, atom, G, 2) )
        ),
        fail.

% The splits, shortest prefix first.
atom_concat_(true, _, _, _).
atom_concat_(T, A1, A2, A12) :-
        integer(T),
        text_position(0, T, L),
        '$sub_atom'(A12, 0, L, _, A1, true),
        '$sub_atom'(A12, L, _, 0, A2, true).

char_code(Char, Code) :-
        '$char_code'(Char, Code, R), !,
        R == true.
char_code(Char, Code) :-
        G = char_code(Char, Code),
        (   nonvar(Char), \+ character(Char) -> illarg(type(character), G, 1)
        ;   var(Code), var(Char) -> illarg(var, G, 1)
        ;   \+ integer(Code) -> illarg(type(integer), G, 2)
        ;   illarg(representation(character_code), G, 2)
        ).

character(C) :- atom(C), '$atom_length'(C, 1, true).

atom_codes(Atom, Codes) :- '$atom_codes'(Atom, Codes), !.
atom_codes(Atom, Codes) :- atom_elems_error(Atom, Codes, codes, atom_codes(Atom, Codes)).

atom_chars(Atom, Chars) :- '$atom_elems'(Atom, Chars, character), !.
atom_chars(Atom, Chars) :- atom_elems_error(Atom, Chars, chars, atom_chars(Atom, Chars)).

% A core that fails on an atom was given a list that does not match.
atom_elems_error(Atom, _, _, _) :- atom(Atom), !, fail.
atom_elems_error(Atom, List, Kind, G) :-
        (   nonvar(Atom) -> illarg(type(atom), G, 1)
        ;   text_list(List, Kind, G, 2)
        ).

% The core compares a complete list by value, whatever Number is: only a
% number (or a variable) may reach it.
number_codes(Number, Codes) :-
        number_or_var(Number),
        '$number_elems'(Number, Codes, character_code, R), !,
        R == true.
number_codes(Number, Codes) :- number_elems_error(Number, Codes, codes, number_codes(Number, Codes)).

number_chars(Number, Chars) :-
        number_or_var(Number),
        '$number_elems'(Number, Chars, character, R), !,
        R == true.
number_chars(Number, Chars) :- number_elems_error(Number, Chars, chars, number_chars(Number, Chars)).

number_or_var(N) :- var(N), !.
number_or_var(N) :- number(N).

% A well-formed complete list that fails is text that is not a number.
number_elems_error(Number, List, Kind, G) :-
        (   nonvar(Number), \+ number(Number) -> illarg(type(number), G, 1)
        ;   text_list(List, Kind, G, 2),
            raise_exception(error(syntax_error(illegal_number), context(G, 2)))
        ).

% text_list(List, Kind, Goal, ArgNo): succeeds for a complete list of
% codes or characters, else raises the error of its first fault.
text_list(L, _, G, N) :- var(L), !, illarg(var, G, N).
text_list([], _, _, _) :- !.
text_list([E|Es], Kind, G, N) :- !,
        text_element(E, Kind, G, N),
        text_list(Es, Kind, G, N).
text_list(_, _, G, N) :- illarg(type(list), G, N).

text_element(E, _, G, N) :- var(E), !, illarg(var, G, N).
text_element(E, codes, _, _) :- '$char_code'(_, E, true), !.
text_element(E, codes, G, N) :- !, illarg(representation(character_code), G, N, E).
text_element(E, chars, _, _) :- character(E), !.
text_element(E, chars, G, N) :- illarg(type(character), G, N, E).

% atom_number(Atom, Number): Atom is the text of Number; an atom that is
% not a number's text fails.
atom_number(Atom, Number) :-
        atom(Atom), !,
        atom_codes(Atom, Codes),
        '$number_elems'(N, Codes, character_code, true),
        Number = N.
atom_number(Atom, Number) :-
        G = atom_number(Atom, Number),
        (   nonvar(Atom) -> illarg(type(atom), G, 1)
        ;   var(Number) -> illarg(var, G, 2)
        ;   number(Number) -> number_codes(Number, Codes), atom_codes(Atom, Codes)
        ;   illarg(type(number), G, 2)
        ).

% upcase_atom(Atom, Upper): the letters of ASCII and Latin-1 in upper case.
upcase_atom(Atom, Upper) :-
        G = upcase_atom(Atom, Upper),
        must_be(Atom, atom, G, 1),
        (   var(Upper) -> true ; must_be(Upper, atom, G, 2) ),
        atom_codes(Atom, Codes),
        upcase_codes(Codes, Us),
        atom_codes(U, Us),
        Upper = U.

upcase_codes([], []).
upcase_codes([C|Cs], [U|Us]) :- upcase_code(C, U), upcase_codes(Cs, Us).

upcase_code(C, U) :- C >= 0'a, C =< 0'z, !, U is C - 32.
upcase_code(C, U) :- C >= 0xE0, C =< 0xFE, C =\= 0xF7, !, U is C - 32.
upcase_code(C, C).

copy_term(Term, Copy) :- '$copy_term'(Term, Copy).

term_variables(Term, Vars) :-
        (   partial_list(Vars) -> true
        ;   proper_list(Vars) -> true
        ;   illarg(type(list), term_variables(Term, Vars), 2)
        ),
        '$term_variables'(Term, Vs),
        Vars = Vs.
