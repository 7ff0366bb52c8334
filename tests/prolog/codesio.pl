% Code-list streams (library(codesio)): reading a list of codes through a
% stream, and collecting what a goal writes into one.

:- use_module(library(codesio)).

read_codes(S, Cs) :-
        get_code(S, C),
        (   C =:= -1 -> Cs = [] ; Cs = [C|Cs1], read_codes(S, Cs1) ).

put_codes([]).
put_codes([C|Cs]) :- put_code(C), put_codes(Cs).

test(read_a_code_list) :-
        open_codes_stream("h\xe9\llo\n\x20ac\", S),
        read_codes(S, Cs),
        close(S),
        atom_codes('h\xe9\llo\n\x20ac\', Cs).

test(empty_code_list_is_at_end_at_once) :-
        open_codes_stream([], S),
        get_code(S, -1),
        close(S).

test(the_stream_is_an_input_stream_of_text) :-
        open_codes_stream("x", S),
        stream_property(S, input), stream_property(S, type(text)),
        \+ stream_property(S, output),
        close(S).

expect(output_collected, Cs, with_output_to_codes((put_char(a), nl, put_code(0x20AC)), Cs),
       [[97, 10, 8364]]).

test(output_with_a_tail) :-
        with_output_to_codes(put_char(x), Cs, T),
        Cs = [0'x|T0], T0 == T, var(T).

test(output_goes_to_the_stream_argument) :-
        with_output_to_codes(current_output(S0), S, Cs, []),
        S0 == S, Cs == [].

% 1025 codes are more than a new stream holds at first.
test(many_codes) :-
        length(L, 1025), fill(L),
        with_output_to_codes(put_codes(L), Cs),
        length(Cs, 1025), Cs == L.

fill([]).
fill([0'z|T]) :- fill(T).

test(output_comes_back_after_failure_and_errors) :-
        current_output(O),
        \+ with_output_to_codes(fail, _),
        current_output(O),
        catch(with_output_to_codes(throw(oops), _), oops, true),
        current_output(O).

% A stream that is not a code stream gives no codes.
test(stream_to_codes_of_another_stream) :-
        prolog:'$stream_code'(user_output, A),
        codesio:'$stream_to_codes'(A, H, _),
        H == error.

expect(not_codes, F, catch((open_codes_stream(foo, _), F = none), error(F, _), true), [type_error(list, foo)]).
