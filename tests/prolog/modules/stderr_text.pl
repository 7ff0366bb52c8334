% What a goal writes to user_error, for the tests of messages: user_error
% goes to a code stream while the goal runs; variables are written _
% without their numbers.
:- module(stderr_text, [stderr_text/2]).

:- use_module(library(codesio)).
:- meta_predicate stderr_text(0, ?).

stderr_text(G, Text) :-
        with_output_to_codes(
            ( current_output(S), S = '$stream'(A),
              prolog:'$stderror'(Old, A),
              call_cleanup(G, prolog:'$stderror'(_, Old)) ),
            Cs),
        no_var_numbers(Cs, Ds),
        atom_codes(Text, Ds).

no_var_numbers([], []).
no_var_numbers([0'_, D|Cs], [0'_|Ds]) :- D >= 0'0, D =< 0'9, !,
        skip_digits(Cs, Rest), no_var_numbers(Rest, Ds).
no_var_numbers([C|Cs], [C|Ds]) :- no_var_numbers(Cs, Ds).
skip_digits([D|Cs], Rest) :- D >= 0'0, D =< 0'9, !, skip_digits(Cs, Rest).
skip_digits(Cs, Cs).
