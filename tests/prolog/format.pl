% format/1,2,3: every directive, column stops with fill characters, the
% number directives (bignums in ~d and ~D, the float layouts), and the
% errors, raised before anything is written.

:- use_module(library(codesio)).

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

fmt(F, A, Text) :- with_output_to_codes(format(F, A), Cs), atom_codes(Text, Cs).

% The cases whose text is not the expected one.
case("~w", [f('A', "b")], 'f(A,[98])').
case("~q", [f('A', 'b c')], 'f(\'A\',\'b c\')').
case("~p", [f(x)], 'f(<x>)').
case("~k", [1 + 'a b'], '+(1,\'a b\')').
case("~a", [abc], 'abc').
case("~a", ['a b'], 'a b').
case("~a", [12], '12').
case("~d", [42], '42').
case("~d", [-42], '-42').
case("~2d", [314], '3.14').
case("~2d", [5], '0.05').
case("~2d", [-5], '-0.05').
case("~0d", [5], '5').
case("~D", [1234567], '1,234,567').
case("~2D", [1234567], '12,345.67').
case("~D", [123], '123').
case("~D", [-1234], '-1,234').
case("~D", [1000], '1,000').
case("~d", [123456789012345678901234567890], '123456789012345678901234567890').
case("~D", [123456789012345678901234567890], '123,456,789,012,345,678,901,234,567,890').
case("~D", [-123456789012345678901234567890], '-123,456,789,012,345,678,901,234,567,890').
case("~3d", [123456789012345678901234567890], '123456789012345678901234567.890').
case("~3D", [-123456789012345678901234567890], '-123,456,789,012,345,678,901,234,567.890').
case("~16r", [255], 'ff').
case("~16R", [255], 'FF').
case("~2r", [10], '1010').
case("~1r", [8], '10').
case("~37r", [8], '10').
case("~36r", [123456789012345678901234567890], 'byw97um9s91dlz68tsi').
case("~e", [12345.678], '1.234568e+04').
case("~3e", [12345.678], '1.235e+04').
case("~0e", [3.7], '4.0e+00').
case("~1e", [1.0e100], '1.0e+100').
case("~3E", [0.000123], '1.230E-04').
case("~f", [3], '3.000000').
case("~0f", [3.7], '4.0').
case("~2f", [0.0004], '0.00').
case("~2f", [1.0e20], '100000000000000000000.00').
case("~2f", [-1.005], '-1.00').
case("~4f", [2.5], '2.5000').
case("~1f", [123456789012345678901234567890], '123456789012345677877719597056.0').
case("~6g", [12345.678], '12345.7').
case("~6g", [100.0], '100.0').
case("~6g", [0.0001], '0.0001').
case("~6g", [0.00001], '1.0e-05').
case("~g", [1.0e7], '1.0e+07').
case("~h", [0.1], '1.0e-01').
case("~3h", [0.1], '0.1').
case("~3H", [1.0e10], '1.0E+10').
case("~3H", [1.0e-5], '1.0E-05').
case("~c", [0'a], 'a').
case("~3c", [0'x], 'xxx').
case("~c", [0x20AC], '\x20AC\').
case("~s", ["abc"], 'abc').
case("~s", [[]], '').
case("a~nb", [], 'a\nb').
case("a~2nb", [], 'a\n\nb').
case("~~", [], '~').
case("~i~w", [skipped, shown], 'shown').
case("~*c", [3, 0'z], 'zzz').
case("~w and ~w", [a, b], 'a and b').
case("no directives", [], 'no directives').
case("~w", hello, 'hello').
case('~a-~a', [x, y], 'x-y').
case([0'~, 0'w], [x], 'x').
case(['~', w, '!'], [x], 'x!').
% column stops and fill
case("~a~t~10|~a", [abc, def], 'abc       def').
case("~t~a~10|~a", [abc, def], '       abcdef').
case("~t~a~t~9|", [abc], '   abc   ').
case("~t~a~t~10|", [abc], '    abc   ').
case("~`-t~30|", [], '------------------------------').
case("~a~`.t~12|~a", [name, value], 'name........value').
case("~t~d~6|~t~d~12|", [1, 22], '     1    22').
case("~a~t~8+~a~t~8+~a", [a, bb, ccc], 'a       bb      ccc').
case("~t~a~8+~t~a~8+", [a, bb], '       a      bb').
case("~a~t~4|~a", [toolong, x], 'toolongx').
case("~a~t~4|~a~t~4+~a", [toolong, x, y], 'toolongx   y').
case("~t~2f~10|", [3.14159], '      3.14').
case("~t~w~10|", [f(x)], '      f(x)').
case("ab~ncd~t~6|e", [], 'ab\ncd    e').
case("~t~*c~5|", [2, 0'x], '   xx').
case("~61t~5|", [], '=====').
case("~a~|~a", [ab, cd], 'abcd').

portray(x) :- write('<x>').

expect(directive_texts, F-A-Got, ( case(F, A, Want), fmt(F, A, Got), Got \== Want ), []).

% The column of the first stop counts from the start of the line, also
% when the line began before format was called.
test(column_from_the_line_start) :-
        with_output_to_codes((write(abc), format("~t~a~8|", [x])), Cs),
        atom_codes('abc    x', Cs).

test(format_3_to_a_stream) :-
        with_output_to_codes((current_output(S), format(S, "~w-~w", [a, b])), Cs),
        atom_codes('a-b', Cs).
test(format_1) :-
        with_output_to_codes(format("plain ~~"), Cs),
        atom_codes('plain ~', Cs).

% ---- Errors ----

ferr(format(_, []), instantiation_error).
ferr(format(f(x), []), type_error(text, f(x))).
ferr(format("~z", []), format('unknown directive ~z')).
ferr(format("abc~", []), format('incomplete directive at the end')).
ferr(format("~w ~w", [a]), format('not enough arguments')).
ferr(format("~w", [a, b]), format('too many arguments')).
ferr(format("~d", [a]), type_error(integer, a)).
ferr(format("~d", [1.0]), type_error(integer, 1.0)).
ferr(format("~d", [_]), instantiation_error).
ferr(format("~D", [x]), type_error(integer, x)).
ferr(format("~e", [a]), type_error(number, a)).
ferr(format("~f", [_]), instantiation_error).
ferr(format("~a", [f(x)]), type_error(atomic, f(x))).
ferr(format("~a", [_]), instantiation_error).
ferr(format("~c", [a]), type_error(integer, a)).
ferr(format("~c", [-1]), representation_error(character_code)).
ferr(format("~s", [abc]), type_error(list, abc)).
ferr(format("~s", [[a]]), representation_error(character_code)).
ferr(format("~*c", [a, 0'x]), type_error(integer, a)).
ferr(format("~*c", [-1, 0'x]), domain_error(not_less_than_zero, -1)).
ferr(format("~20000f", [1.0]), format('numeric argument above 10000')).
ferr(format(foo, "~w", [a]), existence_error(stream, foo)).
ferr(format(user_input, "~w", [a]), permission_error(output, stream, user_input)).
expect(format_errors, G-F, ( ferr(G, Want), error_of(G, F), F \= Want ), []).

% Nothing is written before an error is found.
expect(error_writes_nothing, Cs,
       with_output_to_codes(catch(format("abc~w~d", [x, y]), _, true), Cs), [[]]).

% ---- The native directives' own checks ----

test(native_integer_refuses_non_integers) :-
        current_output(S),
        \+ prolog:'$format_print_integer'(0'd, a, -1, S),
        \+ prolog:'$format_print_integer'(0'd, 1.0, -1, S),
        \+ prolog:'$format_print_integer'(0'd, 1, 20000, S).
test(native_float_refuses_non_numbers) :-
        current_output(S),
        \+ prolog:'$format_print_float'(0'f, a, 2, S),
        \+ prolog:'$format_print_float'(0'f, 1.0, 20000, S).
test(native_bad_stream_raises) :-
        catch(prolog:'$format_print_integer'(0'd, 1, -1, nostream), error(E, _), true),
        nonvar(E).
