/* initial_atoms.h: the predefined atoms.
 *
 * Start-up creates these 236 atoms first, in this order, so atom i has the
 * i-th text and native code and stored code can use their words as
 * constants (MakeAtom(atom_xxx_enum)).  The order is fixed by the bytecode
 * and saved-state formats: never insert, remove or reorder an entry.  The
 * list is written once, as an X-macro; the enumeration and the text table
 * (initial_atoms.cpp) are both read from it.
 */
#ifndef VOSTREL_INITIAL_ATOMS_H
#define VOSTREL_INITIAL_ATOMS_H

#include "atoms.h"

#define VR_INITIAL_ATOMS(X) \
  X(atom_nil_enum, "[]") /* 0 */ \
  X(atom_dot_enum, ".") /* 1 */ \
  X(atom_lt_enum, "<") /* 2 */ \
  X(atom_equal_enum, "=") /* 3 */ \
  X(atom_gt_enum, ">") /* 4 */ \
  X(atom_inf_enum, "inf") /* 5 */ \
  X(atom_sup_enum, "sup") /* 6 */ \
  X(atom_exit_enum, "exit") /* 7 */ \
  X(atom_fail_enum, "fail") /* 8 */ \
  X(atom_error_enum, "error") /* 9 */ \
  X(atom_on_enum, "on") /* 10 */ \
  X(atom_off_enum, "off") /* 11 */ \
  X(atom_v_enum, "v") /* 12 */ \
  X(atom_ix_enum, "ix") /* 13 */ \
  X(atom_global_enum, "global") /* 14 */ \
  X(atom_daemon_enum, "daemon") /* 15 */ \
  X(atom_iff_enum, "iff") /* 16 */ \
  X(atom_colon_enum, ":") /* 17 */ \
  X(functor_Dmutable_enum, "$mutable") /* 18 */ \
  X(atom_Dfree_enum, "$free") /* 19 */ \
  X(atom_empty_enum, "") /* 20 */ \
  X(atom_else_enum, "else") /* 21 */ \
  X(atom_encoding_enum, "encoding") /* 22 */ \
  X(atom_void_enum, "void") /* 23 */ \
  X(atom_question_enum, "?") /* 24 */ \
  X(atom_user_input_enum, "user_input") /* 25 */ \
  X(atom_user_output_enum, "user_output") /* 26 */ \
  X(atom_user_error_enum, "user_error") /* 27 */ \
  X(atom_past_enum, "past") /* 28 */ \
  X(atom_prolog_enum, "prolog") /* 29 */ \
  X(atom_user_enum, "user") /* 30 */ \
  X(atom_trace_enum, "trace") /* 31 */ \
  X(atom_debug_enum, "debug") /* 32 */ \
  X(atom_zip_enum, "zip") /* 33 */ \
  X(atom_wci_enum, "wci") /* 34 */ \
  X(atom_write_enum, "write") /* 35 */ \
  X(atom_development_enum, "development") /* 36 */ \
  X(atom_vostrel_enum, "vostrel") /* 37 */ \
  X(atom_iso_enum, "iso") /* 38 */ \
  X(atom_portable_enum, "portable") /* 39 */ \
  X(atom_latin1_enum, "latin1") /* 40 */ \
  X(atom_codes_enum, "codes") /* 41 */ \
  X(atom_character_code_enum, "character_code") /* 42 */ \
  X(atom_terse_enum, "terse") /* 43 */ \
  X(atom_verbose_enum, "verbose") /* 44 */ \
  X(atom_true_enum, "true") /* 45 */ \
  X(atom_DDcatch_hook_enum, "$$catch_hook") /* 46 */ \
  X(atom_compactcode_enum, "compactcode") /* 47 */ \
  X(atom_profiledcode_enum, "profiledcode") /* 48 */ \
  X(atom_debugcode_enum, "debugcode") /* 49 */ \
  X(atom_dynamic_enum, "dynamic") /* 50 */ \
  X(atom_multifile_enum, "multifile") /* 51 */ \
  X(atom_volatile_enum, "volatile") /* 52 */ \
  X(atom_counter_enum, "counter") /* 53 */ \
  X(atom_nan_enum, "nan") /* 54 */ \
  X(atom_not_enum, "not") /* 55 */ \
  X(atom_clpfd_enum, "clpfd") /* 56 */ \
  X(atom_alignments_enum, "alignments") /* 57 */ \
  X(atom_structs_enum, "structs") /* 58 */ \
  X(atom_Duninit_enum, "$uninit") /* 59 */ \
  X(atom_at_enum, "at") /* 60 */ \
  X(atom_atom_enum, "atom") /* 61 */ \
  X(atom_append_enum, "append") /* 62 */ \
  X(atom_number_enum, "number") /* 63 */ \
  X(atom_string_enum, "string") /* 64 */ \
  X(atom_var_enum, "var") /* 65 */ \
  X(atom_variable_enum, "variable") /* 66 */ \
  X(atom_value_enum, "value") /* 67 */ \
  X(atom_unsafe_value_enum, "unsafe_value") /* 68 */ \
  X(atom_blank_lpar_enum, " (") /* 69 */ \
  X(atom_lpar_enum, "(") /* 70 */ \
  X(atom_lbrack_enum, "[") /* 71 */ \
  X(atom_lbrace_enum, "{") /* 72 */ \
  X(atom_rpar_enum, ")") /* 73 */ \
  X(atom_rbrack_enum, "]") /* 74 */ \
  X(atom_rbrace_enum, "}") /* 75 */ \
  X(atom_read_enum, "read") /* 76 */ \
  X(atom_readwrite_enum, "readwrite") /* 77 */ \
  X(atom_bang_enum, "!") /* 78 */ \
  X(atom_semicolon_enum, ";") /* 79 */ \
  X(atom_comma_enum, ",") /* 80 */ \
  X(atom_bar_enum, "|") /* 81 */ \
  X(atom_o_enum, "o") /* 82 */ \
  X(atom_x_enum, "x") /* 83 */ \
  X(atom_y_enum, "y") /* 84 */ \
  X(atom_y_unsafe_enum, "y_unsafe") /* 85 */ \
  X(atom_plus_enum, "+") /* 86 */ \
  X(atom_minus_enum, "-") /* 87 */ \
  X(atom_slash_enum, "/") /* 88 */ \
  X(atom_functor_enum, "functor") /* 89 */ \
  X(atom_tagged_enum, "tagged") /* 90 */ \
  X(atom_emul_entry_enum, "emul_entry") /* 91 */ \
  X(atom_builtin_enum, "builtin") /* 92 */ \
  X(atom_large_enum, "large") /* 93 */ \
  X(atom_long_enum, "long") /* 94 */ \
  X(atom_ref_enum, "ref") /* 95 */ \
  X(atom_try_enum, "try") /* 96 */ \
  X(atom_lineno_enum, "lineno") /* 97 */ \
  X(atom_agc_count_enum, "agc_count") /* 98 */ \
  X(atom_agc_freed_enum, "agc_freed") /* 99 */ \
  X(atom_agc_nbfreed_enum, "agc_nbfreed") /* 100 */ \
  X(atom_agc_time_enum, "agc_time") /* 101 */ \
  X(atom_atoms_nbfree_enum, "atoms_nbfree") /* 102 */ \
  X(atom_atoms_nbused_enum, "atoms_nbused") /* 103 */ \
  X(atom_atoms_used_enum, "atoms_used") /* 104 */ \
  X(atom_choice_free_enum, "choice_free") /* 105 */ \
  X(atom_choice_used_enum, "choice_used") /* 106 */ \
  X(atom_dcgc_count_enum, "dcgc_count") /* 107 */ \
  X(atom_dcgc_time_enum, "dcgc_time") /* 108 */ \
  X(atom_defrag_count_enum, "defrag_count") /* 109 */ \
  X(atom_defrag_time_enum, "defrag_time") /* 110 */ \
  X(atom_dpgc_count_enum, "dpgc_count") /* 111 */ \
  X(atom_dpgc_time_enum, "dpgc_time") /* 112 */ \
  X(atom_gc_count_enum, "gc_count") /* 113 */ \
  X(atom_gc_freed_enum, "gc_freed") /* 114 */ \
  X(atom_gc_time_enum, "gc_time") /* 115 */ \
  X(atom_global_stack_free_enum, "global_stack_free") /* 116 */ \
  X(atom_global_stack_used_enum, "global_stack_used") /* 117 */ \
  X(atom_local_stack_free_enum, "local_stack_free") /* 118 */ \
  X(atom_local_stack_used_enum, "local_stack_used") /* 119 */ \
  X(atom_memory_buckets_enum, "memory_buckets") /* 120 */ \
  X(atom_memory_culprit_enum, "memory_culprit") /* 121 */ \
  X(atom_memory_free_enum, "memory_free") /* 122 */ \
  X(atom_memory_used_enum, "memory_used") /* 123 */ \
  X(atom_runtime_enum, "runtime") /* 124 */ \
  X(atom_ss_choice_enum, "ss_choice") /* 125 */ \
  X(atom_ss_global_enum, "ss_global") /* 126 */ \
  X(atom_ss_local_enum, "ss_local") /* 127 */ \
  X(atom_ss_time_enum, "ss_time") /* 128 */ \
  X(atom_total_runtime_enum, "total_runtime") /* 129 */ \
  X(atom_trail_free_enum, "trail_free") /* 130 */ \
  X(atom_trail_used_enum, "trail_used") /* 131 */ \
  X(atom_walltime_enum, "walltime") /* 132 */ \
  X(atom_Dbdd_pos_enum, "$bdd_pos") /* 133 */ \
  X(atom_Dbdd_neg_enum, "$bdd_neg") /* 134 */ \
  X(atom_Dbdd_key_enum, "$bdd_key") /* 135 */ \
  X(atom_det_enum, "det") /* 136 */ \
  X(atom_nondet_enum, "nondet") /* 137 */ \
  X(atom_flit_call_enum, "flit_call") /* 138 */ \
  X(atom_invst_enum, "invst") /* 139 */ \
  X(atom_call_enum, "call") /* 140 */ \
  X(atom_proceed_enum, "proceed") /* 141 */ \
  X(atom_ask_enum, "ask") /* 142 */ \
  X(atom_redo_enum, "redo") /* 143 */ \
  X(atom_print_enum, "print") /* 144 */ \
  X(atom_flit_enum, "flit") /* 145 */ \
  X(atom_silent_enum, "silent") /* 146 */ \
  X(atom_exec_st_enum, "exec_st") /* 147 */ \
  X(atom_advice_enum, "advice") /* 148 */ \
  X(atom_five_blanks_enum, "     ") /* 149 */ \
  X(atom_resource_error_enum, "resource_error") /* 150 */ \
  X(atom_memory_enum, "memory") /* 151 */ \
  X(atom_mem_stat_enum, "mem_stat") /* 152 */ \
  X(functor_Dref_enum, "$ref") /* 153 */ \
  X(atom_Dstream_enum, "$stream") /* 154 */ \
  X(atom_Dapply_enum, "$apply") /* 155 */ \
  X(atom_Dexternal_object_enum, "$external_object") /* 156 */ \
  X(atom_atom_table_full_enum, "the atom table is full") /* 157 */ \
  X(atom_goal_expansion_enum, "goal_expansion") /* 158 */ \
  X(atom_windows_enum, "windows") /* 159 */ \
  X(atom_win32nt_enum, "win32nt") /* 160 */ \
  X(atom_unix_enum, "unix") /* 161 */ \
  X(atom_SIGABRT_enum, "SIGABRT") /* 162 */ \
  X(atom_SIGALRM_enum, "SIGALRM") /* 163 */ \
  X(atom_SIGBUS_enum, "SIGBUS") /* 164 */ \
  X(atom_SIGCHLD_enum, "SIGCHLD") /* 165 */ \
  X(atom_SIGCONT_enum, "SIGCONT") /* 166 */ \
  X(atom_SIGFPE_enum, "SIGFPE") /* 167 */ \
  X(atom_SIGHUP_enum, "SIGHUP") /* 168 */ \
  X(atom_SIGILL_enum, "SIGILL") /* 169 */ \
  X(atom_SIGINT_enum, "SIGINT") /* 170 */ \
  X(atom_SIGKILL_enum, "SIGKILL") /* 171 */ \
  X(atom_SIGPIPE_enum, "SIGPIPE") /* 172 */ \
  X(atom_SIGQUIT_enum, "SIGQUIT") /* 173 */ \
  X(atom_SIGSEGV_enum, "SIGSEGV") /* 174 */ \
  X(atom_SIGSTOP_enum, "SIGSTOP") /* 175 */ \
  X(atom_SIGTERM_enum, "SIGTERM") /* 176 */ \
  X(atom_SIGTSTP_enum, "SIGTSTP") /* 177 */ \
  X(atom_SIGTTIN_enum, "SIGTTIN") /* 178 */ \
  X(atom_SIGTTOU_enum, "SIGTTOU") /* 179 */ \
  X(atom_SIGUSR1_enum, "SIGUSR1") /* 180 */ \
  X(atom_SIGUSR2_enum, "SIGUSR2") /* 181 */ \
  X(atom_SIGPOLL_enum, "SIGPOLL") /* 182 */ \
  X(atom_SIGPROF_enum, "SIGPROF") /* 183 */ \
  X(atom_SIGSYS_enum, "SIGSYS") /* 184 */ \
  X(atom_SIGTRAP_enum, "SIGTRAP") /* 185 */ \
  X(atom_SIGURG_enum, "SIGURG") /* 186 */ \
  X(atom_SIGVTALRM_enum, "SIGVTALRM") /* 187 */ \
  X(atom_SIGXCPU_enum, "SIGXCPU") /* 188 */ \
  X(atom_SIGXFSZ_enum, "SIGXFSZ") /* 189 */ \
  X(atom_Dprocess_enum, "$process") /* 190 */ \
  X(atom_infinite_enum, "infinite") /* 191 */ \
  X(atom_file_enum, "file") /* 192 */ \
  X(atom_all_enum, "all") /* 193 */ \
  X(atom_close_cleanup_enum, "close_cleanup") /* 194 */ \
  X(atom_times_enum, "times") /* 195 */ \
  X(atom_default_enum, "default") /* 196 */ \
  X(atom_merged_enum, "merged") /* 197 */ \
  X(atom_properties_enum, "properties") /* 198 */ \
  X(atom_environment_enum, "environment") /* 199 */ \
  X(atom_bof_enum, "bof") /* 200 */ \
  X(atom_current_enum, "current") /* 201 */ \
  X(atom_eof_enum, "eof") /* 202 */ \
  X(atom_VRIO_E_ERROR_enum, "VRIO_E_ERROR") /* 203 */ \
  X(atom_VRIO_S_NOERR_enum, "VRIO_S_NOERR") /* 204 */ \
  X(atom_end_of_file_enum, "end_of_file") /* 205 */ \
  X(atom_Dreserved_enum, "$reserved") /* 206 */ \
  X(atom_tessik_enum, "tessik") /* 207 */ \
  X(atom_reserved_enum, "reserved") /* 208 */ \
  X(atom_unknown_enum, "unknown") /* 209 */ \
  X(atom_Dsave_enum, "$save") /* 210 */ \
  X(atom_type_enum, "type") /* 211 */ \
  X(atom_files_enum, "files") /* 212 */ \
  X(atom_bignum_enum, "bignum") /* 213 */ \
  X(atom_clause_enum, "clause") /* 214 */ \
  X(atom_Dunknown_enum, "$unknown") /* 215 */ \
  X(atom_float_enum, "float") /* 216 */ \
  X(atom_lstcase_enum, "lstcase") /* 217 */ \
  X(atom_othercase_enum, "othercase") /* 218 */ \
  X(atom_predicate_enum, "predicate") /* 219 */ \
  X(atom_switch_enum, "switch") /* 220 */ \
  X(atom_varcase_enum, "varcase") /* 221 */ \
  X(atom_address_enum, "address") /* 222 */ \
  X(atom_big_endian_enum, "big_endian") /* 223 */ \
  X(atom_float_32_enum, "float_32") /* 224 */ \
  X(atom_integer_enum, "integer") /* 225 */ \
  X(atom_integer_16_enum, "integer_16") /* 226 */ \
  X(atom_integer_32_enum, "integer_32") /* 227 */ \
  X(atom_integer_8_enum, "integer_8") /* 228 */ \
  X(atom_little_endian_enum, "little_endian") /* 229 */ \
  X(atom_opaque_enum, "opaque") /* 230 */ \
  X(atom_unsigned_enum, "unsigned") /* 231 */ \
  X(atom_unsigned_16_enum, "unsigned_16") /* 232 */ \
  X(atom_unsigned_32_enum, "unsigned_32") /* 233 */ \
  X(atom_unsigned_8_enum, "unsigned_8") /* 234 */ \
  X(atom_term_enum, "term") /* 235 */ \
  /* end of list */

enum atom_sequence_number_enum : std::uint32_t {
#define VR_ATOM_ENUM(name, text) name,
  VR_INITIAL_ATOMS(VR_ATOM_ENUM)
#undef VR_ATOM_ENUM
};
static_assert(atom_term_enum + 1 == first_unused_atom_number, "236 predefined atoms");
static_assert(atom_colon_enum == 17 && functor_Dmutable_enum == 18 && functor_Dref_enum == 153,
              "functor words in termdefs.h rely on these indices");

/* The texts, indexed by atom_sequence_number_enum. */
extern const char *const initial_atoms[first_unused_atom_number];

#endif
