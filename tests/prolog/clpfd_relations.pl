% The arithmetic constraints of library(clpfd) (#=, #\=, #<, #=<, #>,
% #>=): what each shape of expression posts, checked on the domains it
% leaves, and the errors of malformed expressions.

:- use_module(library(clpfd)).

between(L, H, L) :- L =< H.
between(L, H, X) :- L < H, L1 is L + 1, between(L1, H, X).

member(X, [X|_]).
member(X, [_|T]) :- member(X, T).

% ---- Without variables: the relation is decided at once ----

% ground(Name, Goal, Holds)
ground(equal_sums,              3 + 4 #= 10 - 3,        yes).
ground(unequal_products,        2 * 3 #= 5,             no).
ground(strictly_less,           -4 #< -3,               yes).
ground(strictly_less_equal,     -3 #< -3,               no).
ground(at_most,                 -3 #=< -3,              yes).
ground(greater,                 7 // 2 #> 3,            no).    % truncating: 3
ground(greater_equal,           -7 // 2 #>= -3,         yes).   % -3, not -4
ground(mod_takes_divisor_sign,  -7 mod 2 #= 1,          yes).
ground(rem_takes_dividend_sign, -7 rem 2 #= -1,         yes).
ground(zero_divisor_no_value,   7 // 0 #= _,            no).
ground(zero_modulus_no_value,   7 mod 0 #\= 3,          no).
ground(min_max_abs,             min(4, -2) + max(4, -2) + abs(-5) #= 7, yes).
ground(differ,                  2 * 3 #\= 5,            yes).
ground(differ_equal,            6 #\= 2 * 3,            no).

test(ground_relations_decided) :-
        \+ ( ground(Name, Goal, Holds),
             ( call(Goal) -> Got = yes ; Got = no ),
             Got \== Holds,
             format(user_error, "~w: expected ~w, got ~w~n", [Name, Holds, Got]) ).

% ---- One variable: its domain restricted directly ----

% one(Name, X, Goal, Domain): Domain is X's domain after Goal (X first in
% 0..20 when Start says so), or no when Goal fails.
one(le_constant,            X, X #=< 5,             inf..5).
one(lt_constant,            X, X #< 5,              inf..4).
one(ge_scaled,              X, 3 * X #>= 7,         3..sup).
one(gt_negative_scale,      X, -2 * X #> 5,         inf..(-3)).
one(le_negative_scale,      X, -2 * X #=< 5,        (-2)..sup).
one(eq_divisible,           X, 3 * X + 1 #= 10,     3).
one(eq_not_divisible,       X, 2 * X #= 7,          no).
one(ne_divisible,           X, (X in 0..4, X * 2 #\= 4), (0..1)\/(3..4)).
one(ne_not_divisible,       X, (X in 0..4, X * 2 #\= 5), 0..4).
one(same_variable_twice,    X, X + X #= 2 * 4,      4).
one(cancelling_out,         X, X - X #= 0,          inf..sup).
one(cancelling_out_false,   X, X - X #= 1,          no).
one(on_the_right_side,      X, 10 #>= X + 2,        inf..8).
one(product_with_constant,  X, (3 + 1) * (X - 1) #=< 8, inf..3).
one(bound_beyond_small_ints, X, X #=< 100000000000, inf..sup).
one(bound_below_small_ints,  X, -100000000000 #=< X, inf..sup).
one(no_small_int_that_big,   X, X #>= 100000000000, no).

test(one_variable_domains) :-
        \+ ( one(Name, X, Goal, Expected),
             ( call(Goal) -> ( integer(X) -> Got = X ; fd_dom(X, Got) ) ; Got = no ),
             Got \== Expected,
             format(user_error, "~w: expected ~w, got ~w~n", [Name, Expected, Got]) ).

% ---- Nonlinear parts through auxiliary variables ----

expect(max_of_two_variables, D,
       (X in 1..5, Y in 3..9, Z #= max(X, Y), fd_dom(Z, D)), [3..9]).
expect(min_of_two_variables_shifted, D,
       (X in 1..5, Y in 3..9, Z #= min(X, Y) + 10, fd_dom(Z, D)), [11..15]).
expect(min_against_a_constant, D,
       (X in 1..9, 4 #= min(X, 6), ( integer(X) -> D = X ; fd_dom(X, D) )), [4]).

expect(product_of_variables, D,
       (X in 1..3, Y in 2..4, Z #= X * Y, fd_dom(Z, D)), [2..12]).
expect(square_of_one_variable, D,
       (X in -2..3, Z #= X * X + 1, fd_dom(Z, D)), [1..10]).
expect(quotient_truncates, D,
       (X in -7..20, Z #= X // 3, fd_dom(Z, D)), [(-2)..6]).
expect(modulo_and_remainder, D,
       (X in 0..20, Z #= X mod 4 + X rem 3, fd_dom(Z, D)), [0..5]).
expect(scaled_product_goes_through_a_linear_auxiliary, D,
       (X in 1..2, Y in 1..3, Z #= 2 * X * Y, fd_dom(Z, D)), [2..12]).

% ---- The linear propagator for more than two variables ----

expect(sum_of_two_bounds, D,
       (X in 0..5, Y in 0..5, X + Y #= 9, fd_dom(X, DX), fd_dom(Y, DY), D = DX/DY), [(4..5)/(4..5)]).
expect(weighted_sum_at_most, D,
       (domain([X, Y, Z], 0, 10), 3*X + 2*Y - Z #=< -5, fd_dom(Z, D)), [5..10]).
expect(strict_inequality_shifts_by_one, D,
       (domain([X, Y], 0, 10), X + Y #> 18, fd_dom(X, D)), [9..10]).
expect(disequality_of_a_sum, D,
       (X in 0..3, Y = 2, Z = 1, X + Y + Z #\= 4, fd_dom(X, D)), [{0}\/(2..3)]).

% ---- Every shape against enumeration ----

% Each constraint over X and Y (and a third variable Z where named),
% posted on small domains and labeled, must give exactly the pairs that
% satisfy it; the forms cover a difference of two variables in either
% order and sign, auxiliary variables and the linear propagator.
form(-X + Y #= 3, [X, Y]).
form(X - Y #= 3, [X, Y]).
form(3 - X #= -Y + 1, [X, Y]).
form(-X + Y #=< -2, [X, Y]).
form(-X + Y #>= 1, [X, Y]).
form(-X + Y #< 0, [X, Y]).
form(-X + Y #> 2, [X, Y]).
form(Y - X #\= 2, [X, Y]).
form(-X + Y #\= -1, [X, Y]).
form(abs(X - 4) #= Y, [X, Y]).
form(Y #= abs(-X + 2), [X, Y]).
form(min(X, Y) #= X - 1, [X, Y]).
form(max(X - 2, Y) #= 3, [X, Y]).
form(X * Y #= 6, [X, Y]).
form(X * X #= Y + 3, [X, Y]).
form(X // 2 #= Y - 1, [X, Y]).
form(X mod 3 #= Y, [X, Y]).
form(-X rem 3 #= Y - 2, [X, Y]).
form(2*X - 3*Y + Z #= 1, [X, Y, Z]).
form(X + Y + Z #=< 2, [X, Y, Z]).
form(X - Y - Z #\= 0, [X, Y, Z]).
% Constants beyond the integers a domain holds (2^28 up, and a long
% integer): never equal to a domain value or a difference of two, always
% above or below them.
form(X #\= 1099511627776, [X]).
form(X #\= -268435457, [X]).
form(X #< 268435456, [X]).
form(X #\= Y + 268435456, [X, Y]).
form(X #=< Y + 1099511627776, [X, Y]).
form(X #>= Y - 1099511627776, [X, Y]).
form(X - Y #< 536870912, [X, Y]).
form(X #= Y + 1099511627776, [X, Y]).
form(X + Y #\= 1099511627776, [X, Y]).
form(min(X, 1099511627776) #= Y, [X, Y]).
form(max(-1099511627776, X) #= Y, [X, Y]).

% The same relation checked on integers.
holds(L #= R) :- L =:= R.
holds(L #\= R) :- L =\= R.
holds(L #< R) :- L < R.
holds(L #=< R) :- L =< R.
holds(L #> R) :- L > R.
holds(L #>= R) :- L >= R.

domain_values([], []).
domain_values([V|Vs], [V|Ws]) :- between(-3, 5, V), domain_values(Vs, Ws).

test(each_form_gives_exactly_its_solutions) :-
        \+ ( form(C, Vars),
             findall(Vars, ( domain_values(Vars, _), catch(holds(C), error(_, _), fail) ), Want),
             findall(Vars, ( domain(Vars, -3, 5), call(C), labeling([], Vars) ), Got),
             Got \== Want,
             format(user_error, "~w: expected ~w, got ~w~n", [C, Want, Got]) ).

% ---- Errors ----

% error(Name, Goal, Error): Goal raises error(Error, _).
error(atom_constant,        _ #= a,               type_error(integer, a)).
error(float_constant,       _ #< 1.5 + 2,         type_error(integer, 1.5)).
error(unknown_function,     X #=< foo(X),         type_error(integer, foo(_))).
error(list_operand,         _ #\= [1],            type_error(integer, [1])).
error(nested_deep,          X #>= 1 + abs(X * x), type_error(integer, x)).
% A quotient or remainder propagator cannot take a constant beyond the
% domains' integers.
error(long_divisor,         X #= X // 1099511627776, representation_error(max_fd_integer)).
error(long_dividend,        _ #= 1099511627776 mod _, representation_error(max_fd_integer)).

test(malformed_expressions_raise) :-
        \+ ( error(Name, Goal, Error),
             catch(( call(Goal), Got = succeeded ), error(Got0, _), Got = Got0),
             Got \= Error,
             format(user_error, "~w: expected ~w, got ~w~n", [Name, Error, Got]) ).

% An error is raised before anything is posted.
expect(error_before_posting, D,
       (X in 1..9, catch(X + 1 #= foo, _, true), fd_dom(X, D)), [1..9]).
