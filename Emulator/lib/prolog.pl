% The runtime library's core: module prolog, which every module sees.
%
% The files listed below are parts of this one module; the export list is
% the set of predicates a program may call by name.  Predicates that are a
% single instruction (the type tests, arithmetic, term comparison and the
% inline built-ins) are defined by a clause whose body the compiler turns
% into that instruction, so that calling them through call/N behaves
% exactly as the compiled goal does.  call/N needs no entry here: its
% definitions are made, public, when first asked for.

:- module(prolog, [
        true/0, fail/0, false/0, (=)/2, (\=)/2, halt/0, halt/1, abort/0,
        (',')/2, (;)/2, (->)/2, (*->)/2, (\+)/1, once/1, ignore/1, forall/2,
        if/3, (^)/2, catch/3, throw/1, raise_exception/1, call_cleanup/2,
        is/2, (=:=)/2, (=\=)/2, (<)/2, (>)/2, (=<)/2, (>=)/2,
        atom/1, atomic/1, float/1, integer/1, number/1, var/1, nonvar/1,
        simple/1, compound/1, callable/1, ground/1, mutable/1, db_reference/1,
        is_list/1,
        arg/3, functor/3, (=..)/2, compare/3, (==)/2, (\==)/2,
        (@<)/2, (@>)/2, (@=<)/2, (@>=)/2, unify_with_occurs_check/2,
        length/2, append/3, create_mutable/2, get_mutable/2, update_mutable/2,
        must_be/4, illarg/3, illarg/4, get_module/3, must_be_callable/5,
        call_module/3,
        % text, flags and statistics
        atom_length/2, sub_atom/5, atom_concat/3, char_code/2,
        atom_codes/2, atom_chars/2, number_codes/2, number_chars/2,
        atom_number/2, upcase_atom/2, copy_term/2, term_variables/2,
        current_prolog_flag/2, set_prolog_flag/2, statistics/2, statistics/0,
        % term input and output, format, sorting, messages
        read/1, read/2, read_term/2, read_term/3, term_to_atom/2,
        write/1, write/2, print/1, print/2, writeq/1, writeq/2,
        write_canonical/1, write_canonical/2, write_term/2, write_term/3,
        op/3, current_op/3, format/1, format/2, format/3,
        sort/2, msort/2, keysort/2, sort/4, predsort/3, print_message/2,
        % streams
        open/3, open/4, close/1, close/2, current_input/1, current_output/1,
        set_input/1, set_output/1, flush_output/0, flush_output/1,
        stream_property/2, at_end_of_stream/0, at_end_of_stream/1,
        set_stream_position/2, absolute_file_name/2,
        get_char/1, get_char/2, get_code/1, get_code/2, get_byte/1, get_byte/2,
        peek_char/1, peek_char/2, peek_code/1, peek_code/2, peek_byte/1, peek_byte/2,
        put_char/1, put_char/2, put_code/1, put_code/2, put_byte/1, put_byte/2,
        nl/0, nl/1,
        % the dynamic database and all solutions
        assert/1, assert/2, asserta/1, asserta/2, assertz/1, assertz/2,
        retract/1, retractall/1, clause/2, clause/3, abolish/1, abolish/2,
        erase/1, instance/2, recorda/3, recordz/3, recorded/3, current_key/2,
        bb_put/2, bb_get/2, bb_delete/2, bb_update/3,
        current_atom/1, current_predicate/1, current_predicate/2,
        predicate_property/2, garbage_collect/0, garbage_collect_atoms/0,
        findall/3, findall/4, bagof/3, setof/3,
        % coroutining and loading
        freeze/2, frozen/2, dif/2, when/2, prolog_load_context/2,
        % saved states
        save_program/1, save_program/2, save_modules/2, save_predicates/2,
        save_files/2, restore/1,
        % foreign resources
        load_foreign_resource/1, unload_foreign_resource/1
    ]).

:- ensure_loaded(error_terms).
:- ensure_loaded(control).
:- ensure_loaded(arith).
:- ensure_loaded(term_builtins).
:- ensure_loaded(atom_text).
:- ensure_loaded(flags).
:- ensure_loaded(streams).
:- ensure_loaded(os_services).
:- ensure_loaded(database).
:- ensure_loaded(all_solutions).
:- ensure_loaded(read).
:- ensure_loaded(write).
:- ensure_loaded(format).
:- ensure_loaded(sort).
:- ensure_loaded(messages).
:- ensure_loaded(coroutining).
:- ensure_loaded(expansion).
:- ensure_loaded(saved_states).
:- ensure_loaded(foreign).
