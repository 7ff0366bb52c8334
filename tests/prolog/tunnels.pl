% Output tunnels ('$open_tunnel_stream'/4): what is written to a tunnel
% reaches its binary control stream as "TUNNEL APPEND name data" lines,
% the data quoted (line feed 0, 0 as 1 2, 1 as 1 1, carriage return 1 3);
% a text tunnel writes UTF-8; once the control stream is closed the
% tunnel reports end of file; the arguments it refuses.

:- use_module(library(process)).

tmp_file(F) :-
        process_id(Pid),
        number_codes(Pid, Cs),
        atom_codes(P, Cs),
        atom_concat('/tmp/trelix_tunnel_', P, F).

file_bytes(F, Bs) :-
        open(F, read, S, [type(binary)]),
        read_bytes(S, Bs),
        close(S).

read_bytes(S, Bs) :-
        get_byte(S, B),
        (   B =:= -1 -> Bs = [] ; Bs = [B|Bs1], read_bytes(S, Bs1) ).

put_bytes(_, []).
put_bytes(S, [B|Bs]) :- put_byte(S, B), put_bytes(S, Bs).

tunnel('$stream'(C), Name, Bits, '$stream'(A)) :-
        prolog:'$open_tunnel_stream'(C, Name, Bits, A).

test(binary_tunnel_quotes_its_bytes) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        tunnel(C, t1, 8, T),
        put_bytes(T, [1, 10, 13]),
        close(T),
        close(C),
        file_bytes(F, Bs),
        atom_codes('TUNNEL APPEND t1 ', Head),
        append_(Head, [1, 1, 0, 1, 3, 10], Bs).

% However the writes are cut into lines, the data of the lines, unquoted,
% is the UTF-8 text written.
test(text_tunnel_writes_utf8_lines) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        tunnel(C, out, 0, T),
        write(T, 'h\xe9\'), nl(T),
        put_char(T, z), flush_output(T),
        close(T),
        close(C),
        file_bytes(F, Bs),
        atom_codes('TUNNEL APPEND out ', Head),
        tunnel_data(Bs, Head, Quoted),
        unquote(Quoted, Data),
        Data == [0'h, 0xC3, 0xA9, 10, 0'z].

tunnel_data([], _, []).
tunnel_data(Bs, Head, Data) :-
        append_(Head, Rest, Bs),
        append_(Line, [10|More], Rest), \+ member_(10, Line), !,
        append_(Line, Data1, Data),
        tunnel_data(More, Head, Data1).

member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).

unquote([], []).
unquote([0|Xs], [10|Ys]) :- !, unquote(Xs, Ys).
unquote([1, 2|Xs], [0|Ys]) :- !, unquote(Xs, Ys).
unquote([1, 1|Xs], [1|Ys]) :- !, unquote(Xs, Ys).
unquote([1, 3|Xs], [13|Ys]) :- !, unquote(Xs, Ys).
unquote([X|Xs], [X|Ys]) :- X > 1, unquote(Xs, Ys).

test(tunnel_without_its_control_stream) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        tunnel(C, gone, 8, T),
        close(C),
        catch(( put_byte(T, 65), flush_output(T), E = none ), E, true),
        E \== none,
        close(T, [force(true)]).

test(refused_arguments) :-
        tmp_file(F),
        open(F, write, C, [type(binary)]),
        \+ tunnel(C, 7, 8, _),
        \+ tunnel(C, t, -1, _),
        \+ tunnel(C, t, 0x4, _),       % input tunnels need the control listener
        open(F, write, Text, []),
        \+ tunnel(Text, t, 8, _),      % the control stream must be binary
        close(Text),
        close(C).

append_([], L, L).
append_([X|Xs], L, [X|Ys]) :- append_(Xs, L, Ys).
