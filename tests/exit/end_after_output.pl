% Output written, then the program ends by succeeding: it must all be
% there when the process has ended.
main :-
        put_codes("written before the end"), nl,
        put_codes("no newline at the very end").

put_codes([]).
put_codes([C|Cs]) :- put_code(C), put_codes(Cs).
