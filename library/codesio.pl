% Code-list streams: open_codes_stream/2 reads from a list of character
% codes; with_output_to_codes/2,3,4 collects what a goal writes to its
% current output as a list of codes.  Over the foreign predicates of the
% codesio resource (library/codesio/codesio.cpp), declared below.

:- module(codesio, [open_codes_stream/2, with_output_to_codes/2, with_output_to_codes/3,
                    with_output_to_codes/4]).

:- meta_predicate with_output_to_codes(0, ?), with_output_to_codes(0, ?, ?),
                  with_output_to_codes(0, ?, ?, ?).

foreign_resource(codesio, [codes_to_stream, open_buf_stream, stream_to_codes]).
foreign(codes_to_stream, c, '$codes_to_stream'(+codes, -address('VR_stream'))).
foreign(open_buf_stream, c, '$open_buf_stream'(-address('VR_stream'))).
foreign(stream_to_codes, c, '$stream_to_codes'(+address('VR_stream'), -term, -term)).

:- load_foreign_resource(library(codesio)).

% open_codes_stream(+Codes, -Stream): a text input stream over Codes.
open_codes_stream(Codes, Stream) :-
        G = open_codes_stream(Codes, Stream),
        must_be(Codes, list, G, 1),
        (   '$codes_to_stream'(Codes, A), A =\= 0 -> Stream = '$stream'(A)
        ;   illarg(type(codes), G, 1)
        ).

with_output_to_codes(Goal, Codes) :-
        with_output_to_codes(Goal, _, Codes, []).

with_output_to_codes(Goal, Codes, Tail) :-
        with_output_to_codes(Goal, _, Codes, Tail).

% with_output_to_codes(:Goal, -Stream, ?Codes, ?Tail): runs Goal once with
% the current output on a new code stream (Stream); Codes-Tail is what it
% wrote.  The current output comes back however Goal ends.
with_output_to_codes(Goal, Stream, Codes, Tail) :-
        '$open_buf_stream'(A),
        A =\= 0,
        S = '$stream'(A),
        current_output(Old),
        set_output(S),
        (   catch(Goal, E, (set_output(Old), close(S), throw(E))) -> true
        ;   set_output(Old), close(S), fail
        ),
        set_output(Old),
        '$stream_to_codes'(A, Codes0, Tail0),
        close(S),
        Stream = S,
        Codes = Codes0,
        Tail = Tail0.
