% The indexical store (library(clpfd)): installing hand-compiled
% indexicals as the code of an FD predicate with '$fd_install'/5, finding
% the predicate again with '$fd_find_definition'/3, and the checks that
% refuse, when a definition is installed, anything the interpreter could
% not run safely (operands out of range, jumps out of the code or into an
% operand, stack underflow, a stack deeper than the argument registers,
% paths that join at different depths or run off the end, literals a saved
% state could not carry).

:- use_module(library(clpfd)).

% ix(+Pruned, +Linkage, +Code, +Literals, -Info): one indexical term with
% its lengths filled in.
ix(P, Link, Code, Lits, i(Link, NL, P, Code, NC, Lits, NLit)) :-
        length(Link, NL), length(Code, NC), length(Lits, NLit).

install(Spec, Type, Infos) :-
        length(Infos, N),
        clpfd:'$fd_install'(Spec, user, Type, N, Infos).

% outcome(+Spec, +Type, +Infos, -R): installed, or the error's formal part
% with the culprit left out.
outcome(Spec, Type, Infos, R) :-
        catch(( install(Spec, Type, Infos), R = installed ), error(E, _), short(E, R)).
short(domain_error(D, _), domain_error(D)) :- !.
short(permission_error(A, T, _), permission_error(A, T)) :- !.
short(type_error(T, _), type_error(T)) :- !.
short(E, E).

is_fd(Goal) :- clpfd:'$fd_find_definition'(Goal, user, D), D \== 0.

member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).

pushes(0, Code, Code) :- !.
pushes(N, Code0, [34|Code]) :- N1 is N - 1, pushes(N1, Code0, Code).

an_ordinary_predicate(a).

% Codes the compiler gives, each accepted: the bounds of X =< Y, the
% choice Z = X or Z = Y (a jump), |X| = Y (a constant literal), a union
% over values (a loop), a switch table with a subroutine, an FD-set
% literal pushed first, and a word past the instruction set (no-op).
good(leq_propagating, 2, [1-4], [], [39, 46]).
good(leq_checking, 2, [], [], [35, 54]).
good(or_jump, 3, [], [], [31, 32, 17, 61, 6, 32, 52, 1]).
good(abs_constant, 2, [], [0], [31, 31, 41, t(0), 73, 13, 52, 1]).
good(union_over_values, 2, [], [], [31, 63, 9, 18, 0, 0, 64, 0, 3, 52, 1]).
good(switch_and_return, 2, [], [table([1-6, 2-6]), d([[5|9]])],
     [27, 69, h(0), 4, 52, 1, 41, d(1), 70]).
good(set_literal_first, 2, [], [d([[inf|-3], [1|3], [5|sup]])], [41, d(0), 52, 0]).
good(empty_set_literal, 2, [], [d([])], [41, d(0), 52, 0]).
good(word_past_the_set, 2, [], [], [87, 1000, 39, 46]).

expect(compiled_codes_install, R,
       (   good(Name, A, Link, Lits, Code),
           ix(0, Link, Code, Lits, I),
           functor(G, Name, A),
           outcome(Name/A, 1, [I], O),
           ( is_fd(G) -> F = fd ; F = not_fd ),
           R = Name:O/F
       ),
       [leq_propagating:installed/fd, leq_checking:installed/fd, or_jump:installed/fd,
        abs_constant:installed/fd, union_over_values:installed/fd, switch_and_return:installed/fd,
        set_literal_first:installed/fd, empty_set_literal:installed/fd, word_past_the_set:installed/fd]).

% Each definition is refused when installed, never run; the predicate
% stays what it was (not an FD predicate).  Arity 2 throughout.
bad(arg_operand_beyond_arity, 0, [], [], [29, 2, 46]).
bad(implicit_arg_beyond_arity, 0, [], [], [32, 46]).
bad(loop_slot_128, 0, [], [], [18, 128, 0, 52, 0]).
bad(multiplier_not_a_constant, 0, [], [], [35, 21, 4, 46]).
bad(jump_past_the_end, 0, [], [], [31, 61, 9, 31, 46]).
bad(jump_into_an_operand, 0, [], [], [31, 61, 2, 31, 52, 1]).
bad(runs_off_the_end, 0, [], [], [31, 9]).
bad(ends_without_a_run_ender, 0, [], [], [87]).
bad(empty_code, 0, [], [], []).
bad(stack_underflow, 0, [], [], [46]).
bad(binary_on_one_entry, 0, [], [], [31, 13, 46]).
bad(joins_at_two_depths, 0, [], [], [31, 61, 5, 31, 31, 13, 52, 1]).
% The flag word of a tell in a set may be left out at the very end (it
% then reads as 0): not refused, listed here since it ends the list.
bad(flag_missing, 0, [], [], [31, 52]).
bad(flag_not_0_or_1, 0, [], [], [31, 52, 2]).
bad(operand_missing, 0, [], [], [31, 61]).
bad(loop_without_its_closing, 0, [], [], [31, 63, 5, 45, 45, 45]).
bad(loop_closing_elsewhere, 0, [], [], [31, 63, 9, 18, 0, 0, 64, 0, 2, 52, 1]).
bad(pushed_word_not_a_literal, 0, [], [], [41, 5, 52, 1]).
bad(switch_on_a_set, 0, [], [d([[1|2]])], [27, 69, h(0), 4, 52, 1]).
bad(switch_target_outside, 0, [], [table([1-40])], [27, 69, h(0), 4, 52, 1]).
bad(literal_reference_missing, 0, [], [], [41, d(0), 52, 1]).
bad(atom_literal, 0, [], [foo], [41, t(0), 52, 1]).
bad(atom_table_key, 0, [], [table([foo-4])], [27, 69, h(0), 4, 52, 1]).
bad(float_literal, 0, [], [1.5], [39, 46]).
bad(set_out_of_order, 0, [], [d([[5|7], [1|2]])], [41, d(0), 52, 1]).
bad(set_adjacent_intervals, 0, [], [d([[1|2], [3|4]])], [41, d(0), 52, 1]).
bad(set_inf_inside, 0, [], [d([[1|2], [inf|4]])], [41, d(0), 52, 1]).
bad(set_interval_reversed, 0, [], [d([[3|1]])], [41, d(0), 52, 1]).
bad(linkage_beyond_arity, 0, [2-1], [], [39, 46]).
bad(linkage_key_too_big, 0, [1-32], [], [39, 46]).
bad(pruned_beyond_arity, 2, [], [], [39, 46]).
bad(code_word_unknown_token, 0, [], [], [39, q(1), 46]).

expect(unsafe_definitions_refused, R,
       (   bad(Name, P, Link, Lits, Code),
           ix(P, Link, Code, Lits, I),
           outcome(Name/2, 1, [I], O),
           functor(G, Name, 2),
           ( is_fd(G) -> F = fd ; F = not_fd ),
           R = Name:O/F
       ),
       [arg_operand_beyond_arity:domain_error('an argument beyond the arity')/not_fd,
        implicit_arg_beyond_arity:domain_error('an argument beyond the arity')/not_fd,
        loop_slot_128:domain_error('a loop slot out of range')/not_fd,
        multiplier_not_a_constant:domain_error('a multiplier that is not a constant')/not_fd,
        jump_past_the_end:domain_error('code runs past its end')/not_fd,
        jump_into_an_operand:domain_error('a jump into an operand')/not_fd,
        runs_off_the_end:domain_error('code runs past its end')/not_fd,
        ends_without_a_run_ender:domain_error('code runs past its end')/not_fd,
        empty_code:domain_error('empty code')/not_fd,
        stack_underflow:domain_error('an instruction finds too few stack entries')/not_fd,
        binary_on_one_entry:domain_error('an instruction finds too few stack entries')/not_fd,
        joins_at_two_depths:domain_error('paths join with different stack depths')/not_fd,
        flag_missing:installed/fd,
        flag_not_0_or_1:domain_error('a filter flag other than 0 or 1')/not_fd,
        operand_missing:domain_error('an operand past the end of the code')/not_fd,
        loop_without_its_closing:domain_error('a loop without its closing instruction')/not_fd,
        loop_closing_elsewhere:domain_error('a jump into an operand')/not_fd,
        pushed_word_not_a_literal:domain_error('a pushed literal that is not one of the indexical''s')/not_fd,
        switch_on_a_set:domain_error('a table reference to a literal that is no table')/not_fd,
        switch_target_outside:domain_error('code runs past its end')/not_fd,
        literal_reference_missing:domain_error('a reference to a literal that does not exist')/not_fd,
        atom_literal:domain_error('a literal that is neither an FD set, a table nor a constant')/not_fd,
        atom_table_key:domain_error('a table entry that is not Key-Offset')/not_fd,
        float_literal:domain_error('a literal that is neither an FD set, a table nor a constant')/not_fd,
        set_out_of_order:domain_error('an FD set out of order')/not_fd,
        set_adjacent_intervals:domain_error('an FD set out of order')/not_fd,
        set_inf_inside:domain_error('an FD set out of order')/not_fd,
        set_interval_reversed:domain_error('an FD set out of order')/not_fd,
        linkage_beyond_arity:domain_error('a linkage that is not ArgIndex-Key with an argument of the predicate')/not_fd,
        linkage_key_too_big:domain_error('a linkage that is not ArgIndex-Key with an argument of the predicate')/not_fd,
        pruned_beyond_arity:domain_error('a pruned argument that is not an argument of the predicate')/not_fd,
        code_word_unknown_token:domain_error('a code word that is neither an integer nor a(N), l(N), t(N), d(N), h(N)')/not_fd]).

% The stack lives in the argument registers above the three the run
% holds: 253 entries fit, 254 do not.
expect(stack_depth_limit, R,
       (   member_(N, [253, 254]),
           pushes(N, [46], Code),
           ix(0, [], Code, [], I),
           outcome(deep/2, 1, [I], O),
           R = N:O
       ),
       [253:installed, 254:domain_error('the evaluation stack exceeds the argument registers')]).

% Lengths that do not match their lists, and arguments of the wrong kind.
expect(malformed_calls_refused, R,
       (   member_(Case-Call, [
               code_length-install(m1/2, 1, [i([], 0, 0, [39, 46], 3, [], 0)]),
               linkage_length-install(m2/2, 1, [i([0-1], 0, 0, [39, 46], 2, [], 0)]),
               info_count-(clpfd:'$fd_install'(m3/2, user, 1, 2, [i([], 0, 0, [39, 46], 2, [], 0)])),
               partial_list-(clpfd:'$fd_install'(m4/2, user, 1, 1, [i([], 0, 0, [39, 46|_], 2, [], 0)])),
               type_4-install(m5/2, 4, []),
               not_a_spec-install(m6, 1, []),
               module_not_atom-(clpfd:'$fd_install'(m7/2, 7, 1, 0, []))]),
           catch(( call(Call), O = installed ), error(E, _), short(E, O)),
           R = Case:O
       ),
       [code_length:domain_error('a list that does not match its length'),
        linkage_length:domain_error('a list that does not match its length'),
        info_count:domain_error('a list that does not match its length'),
        partial_list:domain_error('a list that does not match its length'),
        type_4:domain_error(indexical_type),
        not_a_spec:type_error(predicate_indicator),
        module_not_atom:type_error(atom)]).

% An ordinary predicate, or one of another module, is not replaced.
expect(other_predicates_kept, R,
       (   member_(Spec, [an_ordinary_predicate/1, atom_length/2]),
           ix(0, [], [39, 46], [], I),
           outcome(Spec, 1, [I], R)
       ),
       [permission_error(modify, procedure), permission_error(modify, procedure)]).

% Only FD predicates give a definition; an ordinary, an undefined one and
% an unknown module give 0.
expect(find_definition_kinds, R,
       (   ix(0, [], [39, 46], [], I),
           install(lookup/2, 1, [I]),
           member_(M:G, [user:lookup(_, _), user:an_ordinary_predicate(_), user:nowhere(_),
                         no_such_module:lookup(_, _), user:lookup]),
           clpfd:'$fd_find_definition'(G, M, D),
           ( D == 0 -> R = zero ; integer(D) -> R = handle )
       ),
       [handle, zero, zero, zero, zero]).

% A second installation of a list is refused whole: the predicate keeps
% its first list; installing list 1 again leaves it an FD predicate.
test(refused_reinstall_keeps_the_predicate) :-
        ix(0, [], [39, 46], [], I),
        install(again/2, 1, [I]),
        ix(0, [], [46], [], Bad),
        outcome(again/2, 1, [Bad], domain_error(_)),
        is_fd(again(_, _)),
        install(again/2, 1, [I, I]),
        install(again/2, 3, [I]),
        is_fd(again(_, _)).
