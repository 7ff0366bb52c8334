% ac_linear/3,6: argument checks and posting of the domain-consistent
% linear equation of ac_linear.cpp.  Part of module clpfd.
%
% The equation is posted as Σ Ci*Xi = Rhs over distinct variables with
% non-zero coefficients (linear_terms/6 of linear.pl folds integer terms
% into Rhs and merges repeated variables), each variable with finite
% bounds.  State ac_linear(Terms, N, Rhs, Handle, Stamp): Terms a list of
% N records t(C, X, Attribute, FailedMutable), FailedMutable a mutable
% holding the FD set of the term's failed partial sums, [] at first.  The
% constraint wakes on any domain change of its variables.

% ac_linear(+Coeffs, +Xs, +Rhs): Σ Coeffs[i]*Xs[i] = Rhs, Coeffs a list of
% integers, Xs a list of the same length of integers and domain variables
% with finite bounds, Rhs an integer.  Every value left in a variable's
% domain takes part in some solution.
ac_linear(Coeffs, Xs, Rhs) :-
        Goal = ac_linear(Coeffs, Xs, Rhs),
        ac_linear(Coeffs, Xs, Rhs, Goal, 1-2-3, clpfd:Goal).

% ac_linear(+Coeffs, +Xs, +Rhs, +Goal, +ArgNos, +Source): the same, for
% front ends that post the equation on behalf of another goal: errors
% name Goal and the positions CoeffsArg-XsArg-RhsArg of ArgNos; Source is
% the goal the constraint's item shows in messages.
ac_linear(Coeffs, Xs, Rhs, Goal, CA-XA-RA, Source) :-
        must_be(Coeffs, list, Goal, CA),
        coefficients(Coeffs, Goal, CA),
        must_be_dvar_list(Xs, Goal, XA),
        length(Coeffs, N),
        (   length(Xs, N) -> true
        ;   illarg(domain(list, same_length_as_coefficients), Goal, XA, Xs)
        ),
        (   integer(Rhs) -> true
        ;   var(Rhs) -> illarg(var, Goal, RA)
        ;   illarg(type(integer), Goal, RA, Rhs)
        ),
        linear_terms(Coeffs, Xs, Rhs, Rhs1, [], Pairs),
        (   Pairs == [] ->
            Rhs1 =:= 0
        ;   small_fd_integer(Rhs1) ->
            ac_linear_terms(Pairs, Goal, XA, Terms, Susp),
            length(Terms, Count),
            fd_global_internal(ac_linear(Coeffs, Xs, Rhs),
                               ac_linear(Terms, Count, Rhs1, _, 0),
                               Susp, _, Source, 0)
        ;   raise_exception(error(representation_error(max_fd_integer), Goal))
        ).

% ac_linear_terms(+Pairs, +Goal, +ArgNo, -Terms, -Susp): the state's
% records of the C-X pairs and a dom/1 suspension on each X.
ac_linear_terms([], _, _, [], []).
ac_linear_terms([C-X|Ps], Goal, ArgNo, [t(C, X, A, M)|Ts], [dom(X)|Susp]) :-
        (   small_fd_integer(C) -> true
        ;   raise_exception(error(representation_error(max_fd_integer), Goal))
        ),
        finite_arg_attribute(X, A, Goal, ArgNo),
        create_mutable([], M),
        ac_linear_terms(Ps, Goal, ArgNo, Ts, Susp).
