/* pred_table.cpp: the rows of the built-in table and their installation.
 *
 * The rows of the design's table come first, in its order (the native
 * built-ins of module prolog, then the rows without a function), then this
 * runtime's own.  A saved row names its `preds` slot; the saved rows fill
 * the slots in table order, which install_builtins checks.  Saved rows
 * are locked (never dropped as dead predicates); true/0 and fail/0 are
 * hidden.
 */
#include "pred_table.h"

#include "atom_text.h"
#include "atoms.h"
#include "attributes.h"
#include "char_conversion.h"
#include "choice_control.h"
#include "clause_counters.h"
#include "compiler.h"
#include "control_listener.h"
#include "copy_term.h"
#include "datadefs.h"
#include "dynamic_clauses.h"
#include "enumeration.h"
#include "errors.h"
#include "exception_store.h"
#include "file_builtins.h"
#include "file_names.h"
#include "fli.h"
#include "foreign_resources.h"
#include "format_numbers.h"
#include "gc.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "instance.h"
#include "memman.h"
#include "meta_decls.h"
#include "modules.h"
#include "operators.h"
#include "pipes.h"
#include "preds.h"
#include "process_builtins.h"
#include "prolog_flags.h"
#include "saved_state.h"
#include "stack_growth.h"
#include "sorting.h"
#include "source_positions.h"
#include "statistics.h"
#include "streams.h"
#include "system_builtins.h"
#include "term_hash.h"
#include "term_reader.h"
#include "term_walkers.h"
#include "term_writer.h"
#include "tokenizer.h"
#include "wam.h"
#include "wamsup.h"

int prolog_decompile_arith(worker *w); /* arith_decompile.cpp */
int prolog_soft_cut(worker *w);        /* soft_cut.cpp */

#define ESCAPE(name, arity, slot) {name, nullptr, arity, ENTER_UNDEFINED, &preds.slot, "prolog"}
#define NATIVE(name, fn, arity) {name, fn, arity, ENTER_C, nullptr, "prolog"}

const pred_row pred_table[] = {
    /* Native built-ins of module prolog, in the order of the design's
       table; $user_event/0, $read_token/6 and $zap_chpt/1 fill the first
       three `preds` slots. */
    {"$user_event", run_event, 0, ENTER_C, &preds.user_event, "prolog"},
    NATIVE("$ref_term", prolog_ref_term, 2),
    NATIVE("$defer_gc", prolog_defer_gc, 0),
    NATIVE("$resume_gc", prolog_resume_gc, 0),
    NATIVE("$stream_from_codes", prolog_stream_from_codes, 3),
    NATIVE("$save", prolog_save, 3),
    NATIVE("$save_doit", prolog_save_doit, 7),
    NATIVE("$restore", prolog_restore, 2),
    NATIVE("$save_increment", prolog_save_increment, 5),
    NATIVE("$restore_increment", prolog_restore_increment, 2),
    NATIVE("$state_resources", prolog_state_resources, 2),
    NATIVE("$atom_mode", prolog_atom_mode, 3),
    NATIVE("$replace_suffix", prolog_replace_suffix, 4),
    NATIVE("$getenv", prolog_getenv, 2),
    NATIVE("$close_fail_on_interrupt", prolog_close_fail_on_interrupt, 2),
    NATIVE("$flush_output_fail_on_interrupt", prolog_flush_output_fail_on_interrupt, 2),
    NATIVE("$input", prolog_input, 2),
    NATIVE("$output", prolog_output, 2),
    NATIVE("$stream_code", prolog_stream_code, 2),
    NATIVE("$stream_properties", prolog_stream_properties, 4),
    NATIVE("$stream_count", prolog_stream_count, 4),
    NATIVE("$stream_set_line_count", prolog_stream_set_line_count, 2),
    NATIVE("$stream_offset", prolog_stream_offset, 2),
    NATIVE("$set_stream_position", prolog_set_stream_position, 5),
    NATIVE("$save_stream_position", prolog_save_stream_position, 5),
    NATIVE("$seek", prolog_seek, 4),
    NATIVE("$open", prolog_open, 5),
    NATIVE("$socket_open_fail_on_interrupt", prolog_socket_open_fail_on_interrupt, 5),
    NATIVE("$socket_listen_fail_on_interrupt", prolog_socket_listen_fail_on_interrupt, 5),
    NATIVE("$socket_close", prolog_socket_close, 1),
    NATIVE("$socket_accept_fail_on_interrupt", prolog_socket_accept_fail_on_interrupt, 6),
    NATIVE("$select", prolog_select, 10),
    NATIVE("$hostname", prolog_hostname, 2),
    NATIVE("$next_stream", prolog_next_stream, 5),
    NATIVE("$stream_flags", prolog_stream_flags, 2),
    NATIVE("$set_stream_flags", prolog_set_stream_flags, 2),
    NATIVE("$stream_id", prolog_stream_id, 2),
    NATIVE("$open_null", prolog_open_null, 1),
    NATIVE("$platform_name", prolog_platform_name, 1),
    NATIVE("$stdoutput", prolog_stdoutput, 2),
    NATIVE("$stdinput", prolog_stdinput, 2),
    NATIVE("$stderror", prolog_stderror, 2),
    NATIVE("$purge", prolog_purge, 1),
    NATIVE("$erase", prolog_erase, 1),
    NATIVE("$inserta", prolog_inserta, 3),
    NATIVE("$insertz", prolog_insertz, 3),
    NATIVE("$instance_file", prolog_instance_file, 3),
    NATIVE("$patch_fact", prolog_patch_fact, 3),
    NATIVE("$bb_put", prolog_bb_put, 3),
    NATIVE("$bb_get", prolog_bb_get, 3),
    NATIVE("$bb_delete", prolog_bb_delete, 3),
    NATIVE("$bb_update", prolog_bb_update, 5),
    NATIVE("$module", prolog_module3, 3),
    NATIVE("$module", prolog_module4, 4),
    NATIVE("$module_hiding", prolog_module_hiding, 1),
    NATIVE("$curmod", prolog_curmod, 3),
    NATIVE("$import_preds", prolog_import_preds, 3),
    NATIVE("$typein_module", prolog_typein_module, 2),
    NATIVE("$imported", prolog_imported, 3),
    NATIVE("$predicate_file", prolog_predicate_file, 3),
    NATIVE("$retractall", prolog_retractall, 2),
    NATIVE("$multifile_retractall", prolog_multifile_retractall, 3),
    NATIVE("$load_exception", prolog_load_exception, 1),
    NATIVE("$store_exception", prolog_store_exception, 1),
    NATIVE("$erase_exception", prolog_erase_exception, 0),
    NATIVE("$add_setof_root", prolog_add_setof_root, 1),
    NATIVE("$remove_setof_root", prolog_remove_setof_root, 1),
    NATIVE("$setof_inserta", prolog_setof_inserta, 3),
    NATIVE("$setof_list_instances", prolog_setof_list_instances, 3),
    NATIVE("$set_clock", prolog_set_clock, 1),
    NATIVE("$term_ref", prolog_term_ref, 2),
    NATIVE("$char_code", prolog_char_code, 3),
    NATIVE("$atom_elems", prolog_atom_elems, 3),
    NATIVE("$atom_codes", prolog_atom_codes, 2),
    NATIVE("$number_elems", prolog_number_elems, 4),
    NATIVE("$copy_term", prolog_copy_term, 2),
    NATIVE("$atom_length", prolog_atom_length, 3),
    NATIVE("$atom_concat", prolog_atom_concat, 4),
    NATIVE("$sub_atom", prolog_sub_atom, 6),
    NATIVE("$sort", prolog_sort, 2),
    NATIVE("$keysort", prolog_keysort, 2),
    NATIVE("$abolish", prolog_abolish, 2),
    NATIVE("$undefine_all", prolog_undefine_all, 1),
    NATIVE("$define_predicate", prolog_define_predicate, 2),
    NATIVE("$erase_clause", prolog_erase_clause, 1),
    NATIVE("$compiled_clause", prolog_compiled_clause, 4),
    NATIVE("$make_bytecode_object", prolog_make_bytecode_object, 4),
    NATIVE("$set_property", prolog_set_property, 3),
    NATIVE("$get_code_fail_on_interrupt", prolog_get_code_fail_on_interrupt, 3),
    NATIVE("$get_code_fast", prolog_get_code_fast, 3),
    NATIVE("$peek_code_fast", prolog_peek_code_fast, 3),
    NATIVE("$get_byte_fail_on_interrupt", prolog_get_byte_fail_on_interrupt, 3),
    NATIVE("$get_byte_fast", prolog_get_byte_fast, 3),
    NATIVE("$peek_byte_fast", prolog_peek_byte_fast, 3),
    NATIVE("$get_buffered_codes", prolog_get_buffered_codes, 4),
    NATIVE("$get_buffered_bytes", prolog_get_buffered_bytes, 4),
    NATIVE("$end_of_stream", prolog_end_of_stream, 2),
    NATIVE("$vrio_error_name", prolog_vrio_error_name, 2),
    NATIVE("$unget_code", prolog_unget_code, 3),
    NATIVE("$unget_byte", prolog_unget_byte, 3),
    {"$read_token", prolog_read_token, 6, ENTER_C, &preds.rdtok, "prolog"},
    NATIVE("$put_byte_fail_on_interrupt", prolog_put_byte_fail_on_interrupt, 3),
    NATIVE("$put_code_fail_on_interrupt", prolog_put_code_fail_on_interrupt, 3),
    NATIVE("$put_code_fast", prolog_put_code_fast, 2),
    NATIVE("$put_byte_fast", prolog_put_byte_fast, 2),
    NATIVE("$display", prolog_display2, 2),
    NATIVE("$write", prolog_write3, 3),
    NATIVE("$prompt", prolog_prompt, 2),
    NATIVE("$char_conversion", prolog_char_conversion, 2),
    NATIVE("$add_char_conversion", prolog_add_char_conversion, 2),
    NATIVE("$double_quotes", prolog_double_quotes, 2),
    NATIVE("$free", prolog_free, 1),
    NATIVE("$trail_cleanup", prolog_trail_cleanup, 1),
    NATIVE("$trail_undo", prolog_trail_undo, 1),
    NATIVE("$undo_cleanup", prolog_undo_cleanup, 1),
    NATIVE("$unknown", prolog_unknown, 2),
    NATIVE("$source_info", prolog_source_info, 2),
    NATIVE("$syntax", prolog_syntax, 2),
    NATIVE("$compiling", prolog_compiling, 2),
    NATIVE("$quoted_charset_flag", prolog_quoted_charset_flag, 2),
    NATIVE("$compatibility_flag", prolog_compatibility_flag, 2),
    NATIVE("$ferror_flag", prolog_ferror_flag, 2),
    NATIVE("$single_var_flag", prolog_single_var_flag, 2),
    NATIVE("$multiple_flag", prolog_multiple_flag, 2),
    NATIVE("$discontiguous_flag", prolog_discontiguous_flag, 2),
    NATIVE("$informational_flag", prolog_informational_flag, 2),
    NATIVE("$system_type_flag", prolog_system_type_flag, 1),
    NATIVE("$version_flag", prolog_version_flag, 1),
    NATIVE("$version_data", prolog_version_data, 4),
    NATIVE("$os_data", prolog_os_data, 4),
    NATIVE("$tagged_integer_range", prolog_tagged_integer_range, 2),
    NATIVE("$constraint_list", prolog_constraint_list, 2),
    NATIVE("$acyclic", prolog_acyclic, 1),
    NATIVE("$unify_with_occurs_check", prolog_unify_with_occurs_check, 2),
    NATIVE("$term_variables", prolog_term_variables, 2),
    NATIVE("$term_attributed_variables", prolog_term_attributed_variables, 2),
    NATIVE("$subsumes", prolog_subsumes, 2),
    NATIVE("$term_hash_4.0.4", prolog_term_hash_4_0_4, 4),
    NATIVE("$term_hash_4_0_5", prolog_term_hash_4_0_5, 5),
    NATIVE("$eq", prolog_eq, 2),
    NATIVE("$mgu_variables", prolog_mgu_variables, 3),
    NATIVE("$large_data", prolog_large_data, 3),
    NATIVE("$block_declaration", prolog_block_declaration, 3),
    NATIVE("$meta_declaration", prolog_meta_declaration, 3),
    NATIVE("$nth_choicepoint", prolog_nth_choicepoint, 2),
    NATIVE("$clean_up", prolog_clean_up, 2),
    {"$zap_chpt", prolog_zap_chpt, 1, ENTER_C, &preds.zap_chpt, "prolog"},
    NATIVE("$instance_module", prolog_instance_module, 2),
    NATIVE("$nth_instance", prolog_nth_instance, 2),
    NATIVE("$window_title", prolog_window_title, 2),
    NATIVE("$legacy_char_classification_flag", prolog_legacy_char_classification_flag, 2),
    NATIVE("$fast_goal", prolog_fast_goal, 2),
    NATIVE("$w32_get_registry_value", prolog_w32_get_registry_value, 4),
    NATIVE("$create_directory", prolog_create_directory, 3),
    NATIVE("$list_directory", prolog_list_directory, 4),
    NATIVE("$delete_file", prolog_delete_file, 3),
    NATIVE("$rename_file", prolog_rename_file, 4),
    NATIVE("$file_property", prolog_file_property, 4),
    NATIVE("$disjunctive_geler", prolog_disjunctive_geler, 2),
    NATIVE("$save_attribute_info", prolog_save_attribute_info, 1),
    NATIVE("$get_all_attribute_modules", prolog_get_all_attribute_modules, 1),
    NATIVE("$get_attribute_modules", prolog_get_attribute_modules, 2),
    NATIVE("$get_cva", prolog_get_cva, 3),
    NATIVE("$put_cva", prolog_put_cva, 3),
    NATIVE("$unix_cd", prolog_unix_cd, 2),
    NATIVE("$argv", prolog_argv, 1),
    NATIVE("$set_argv", prolog_set_argv, 1),
    NATIVE("$unix_exit", prolog_unix_exit, 1),
    NATIVE("$set_current_dir_options", prolog_set_current_dir_options, 2),
    NATIVE("$absolute_path", prolog_absolute_path, 4),
    NATIVE("$directory_path", prolog_directory_path, 2),
    NATIVE("$test_file_access", prolog_test_file_access, 4),
    NATIVE("$file_type", prolog_file_type, 3),
    NATIVE("$split_env_path", prolog_split_env_path, 3),
    NATIVE("$get_system_property", prolog_get_system_property, 3),
    NATIVE("$get_system_properties", prolog_get_system_properties, 2),
    NATIVE("$set_system_property", prolog_set_system_property, 2),
    NATIVE("$datime", prolog_datime6, 6),
    NATIVE("$datime", prolog_datime7, 7),
    NATIVE("$time", prolog_time, 1),
    NATIVE("$mktime", prolog_mktime, 7),
    NATIVE("$format_print_float", prolog_format_print_float, 4),
    NATIVE("$format_print_integer", prolog_format_print_integer, 4),
    NATIVE("$agc_margin", prolog_agc_margin, 2),
    NATIVE("$trimcore", prolog_trimcore, 1),
    NATIVE("$reclaim_misc_usage", prolog_reclaim_misc_usage, 1),
    NATIVE("$minfo", prolog_minfo, 0),
    NATIVE("$gc_mode", prolog_gc_mode, 2),
    NATIVE("$gc_trace", prolog_gc_trace, 2),
    NATIVE("$gc_margin", prolog_gc_margin, 2),
    NATIVE("$garbage_collect", prolog_garbage_collect, 1),
    NATIVE("garbage_collect_atoms", prolog_garbage_collect_atoms, 0),
    NATIVE("current_atom", prolog_current_atom, 1),
    NATIVE("$predicate_arities", prolog_predicate_arities, 4),
    NATIVE("$current_module", prolog_current_module, 1),
    NATIVE("$predicate_property", prolog_predicate_property, 5),
    NATIVE("$current_clauses", prolog_current_clauses, 3),
    NATIVE("$current_key", prolog_current_key, 4),
    NATIVE("$cerror_data", prolog_cerror_data, 2),
    NATIVE("$error_message", prolog_error_message, 2),
    NATIVE("$statistics", prolog_statistics, 2),
    NATIVE("$errprintf", prolog_errprintf, 1),

    /* Rows without a native function: entry kinds of their own and the
       escape predicates, whose clauses come from the runtime library;
       every one but $instance/3, call_module/3, $current_instance/4,
       $apply/3 and :/2 fills the next `preds` slot. */
    {"true", nullptr, 0, BUILTIN_TRUE, &preds.true0, "prolog"},
    {"fail", nullptr, 0, BUILTIN_FAIL, &preds.fail, "prolog"},
    ESCAPE("metacall", 3, metacall),
    ESCAPE("metacall_pc", 4, metacall_pc),
    ESCAPE("meta_colon_pc", 3, meta_colon_pc),
    ESCAPE("call_illarg_pc", 2, call_illarg_pc),
    ESCAPE("undefined_goal", 3, undefined_goal),
    ESCAPE("solve_fd_constraint", 2, solve_fd_constraint),
    ESCAPE("debug_goal", 3, debug_goal),
    ESCAPE("call_internal", 1, call_int),
    {"$instance", nullptr, 3, BUILTIN_INSTANCE, nullptr, "prolog"},
    ESCAPE("unify_cva", 2, unify_cva),
    ESCAPE("call_goals", 1, call_goals),
    ESCAPE("slow_apply", 3, slow_apply),
    ESCAPE("slow_functor", 3, slow_functor),
    ESCAPE("slow_append", 3, slow_append),
    ESCAPE("slow_arg", 3, slow_arg),
    ESCAPE("slow_univ", 2, slow_univ),
    ESCAPE("slow_length", 2, slow_length),
    ESCAPE("slow_create_mutable", 2, slow_create_mutable),
    ESCAPE("slow_get_mutable", 2, slow_get_mutable),
    ESCAPE("slow_update_mutable", 2, slow_update_mutable),
    {"call_module", nullptr, 3, BUILTIN_CALL_MODULE, nullptr, "prolog"},
    {"$nodebug_call", nullptr, 3, BUILTIN_NODEBUG_CALL, &preds.call, "prolog"},
    ESCAPE("call_cleanup", 1, call_cleanup),
    {"$current_instance", nullptr, 4, BUILTIN_CURRENT_INSTANCE, nullptr, "prolog"},
    {"$apply", nullptr, 3, BUILTIN_APPLY, nullptr, "prolog"},
    {"$unwind_stack", nullptr, 0, BUILTIN_UNWIND_STACK, &preds.unwind_stack, "prolog"},
    {"$resume", nullptr, 7, BUILTIN_RESUME, &preds.resume, "prolog"},
    {":", nullptr, 2, BUILTIN_COLON, nullptr, "prolog"},
    ESCAPE("$cerror", 3, cerror),
    ESCAPE("raise_exception", 1, raise_excp),
    ESCAPE("control_c_handler", 0, ctrlc_handler),
    ESCAPE("control_break_handler", 0, ctrlbrk_handler),
    ESCAPE("evaluate", 4, evaluate),
    ESCAPE("loaded_resource", 1, loaded_resource),
    ESCAPE("load_clpfd_resource", 0, load_clpfd_resource),
    ESCAPE("unload_clpfd_resource", 0, unload_clpfd_resource),
    {"fd_unify", nullptr, 2, ENTER_UNDEFINED, &preds.fd_unify, "clpfd"},

    /* Native built-ins of this runtime beyond the design's table: the
       operator table, debugger support, the compiler's helpers, the
       declaration forms its library uses, term input, and the foreign
       predicates of the codesio resource until the loader of foreign
       resources exists. */
    NATIVE("$op", prolog_op, 3),
    NATIVE("$current_ops", prolog_current_ops, 1),
    NATIVE("$new_table_interp", prolog_new_table_interp, 3),
    NATIVE("$search_table_interp", prolog_search_table_interp, 3),
    NATIVE("$get_counters", prolog_get_counters, 6),
    NATIVE("$reset_counters", prolog_reset_counters, 2),
    NATIVE("$clause_number", prolog_clause_number, 3),
    NATIVE("$decompile_arith", prolog_decompile_arith, 3),
    NATIVE("$soft_cut", prolog_soft_cut, 1),
    NATIVE("$meta_predicate", prolog_meta_predicate, 1),
    NATIVE("$block", prolog_block, 1),
    NATIVE("$cleanup_done", prolog_cleanup_done, 1),
    NATIVE("$load_context", prolog_load_context, 2),
    NATIVE("$flush_all_output", prolog_flush_all_output, 0),
    NATIVE("$read_term", prolog_read_term, 5),

    /* Tunnels over a control stream, and the control stream's listener. */
    NATIVE("$open_tunnel_stream", prolog_open_tunnel_stream, 4),
    NATIVE("$add_stream_listener", prolog_add_stream_listener, 2),

    /* Child processes. */
    NATIVE("$process_create", prolog_process_create, 10),
    NATIVE("$process_wait", prolog_process_wait, 6),
    NATIVE("$process_kill", prolog_process_kill, 3),
    NATIVE("$process_release", prolog_process_release, 3),
    NATIVE("$process_id", prolog_process_id, 3),
    NATIVE("$is_process", prolog_is_process, 1),
    NATIVE("$process_self_id", prolog_process_self_id, 1),

    /* Foreign resources. */
    NATIVE("$foreign_resource_suffix", prolog_foreign_resource_suffix, 1),
    NATIVE("$prelinked_foreign_resource", prolog_prelinked_foreign_resource, 1),
    NATIVE("$foreign_resource_symbols", prolog_foreign_resource_symbols, 3),
    NATIVE("$load_foreign_resource", prolog_load_foreign_resource, 3),
    NATIVE("$unload_foreign_resource", prolog_unload_foreign_resource, 3),
    NATIVE("$VR_MAINFUN_PARAMS_VERSION", prolog_mainfun_params_version, 1),
};

#undef ESCAPE
#undef NATIVE

const int pred_table_size = sizeof pred_table / sizeof pred_table[0];

int install_builtins(void)
{
  definition **next_slot = &preds.user_event;
  for (int i = 0; i < pred_table_size; i++) {
    const pred_row &r = pred_table[i];
    mod_def *m = find_module(init_atom_check(r.module, 0), 1);
    if (m == nullptr)
      return 0;
    definition *d = insert_definition(m, init_atom_check(r.name, 0), r.arity, 1);
    if (d == nullptr)
      return 0;
    if (r.type != ENTER_UNDEFINED) {
      redefine_predicate(d, r.type);
      if (r.type == ENTER_C)
        d->proc.code.cinfo = r.function;
    }
    if (r.save != nullptr) {
      /* The saved rows fill `preds` in table order; a row out of that
         order is a fault of the table. */
      if (r.save != next_slot++)
        return 0;
      *r.save = d;
      d->proc.properties |= PROP_LOCKED;
    }
    if (r.type == BUILTIN_TRUE || r.type == BUILTIN_FAIL)
      d->proc.properties |= PROP_HIDDEN;
  }
  if (next_slot != &preds.fd_unify + 1)
    return 0;
  preds.nd_cerror = def_retry_prolog(preds.cerror, 3);
  preds.nd_raise_excp = def_retry_prolog(preds.raise_excp, 1);
  eglobal->memory_fault_exception = reinterpret_cast<TAGGED>(memory_fault_term());
  for (TAGGED &v : eglobal->global_vars)
    v = MakeAtom(atom_off_enum);
  const TAGGED atoms = init_atom_check("atoms", 0);
  VR_register_atom(atoms);
  eglobal->atom_table_full_exception = reinterpret_cast<TAGGED>(atom_table_full_term(atoms));
  wam_erase_exception_hook = erase_stored_exception;
  prolog_free_hook = prolog_free;
  return 1;
}
