/* fli_dispatch.cpp: the two dispatch tables, the default interface
 * structure and VR_get_dispatch_40103, the one function foreign code finds
 * by symbol.
 *
 * Both tables are expanded from their slot lists (vostrel_api.def,
 * support_api.def), so a slot's name string, its position and its function
 * come from one line; each function of the main table is taken through
 * its slot's public type, so a definition whose type drifts from the
 * public header does not compile.  Tables and structure are constant after
 * start-up; any thread may read them.
 */
#include "fli.h"

#include "atoms.h"
#include "attributes.h"
#include "chartype.h"
#include "choice_control.h"
#include "encodings.h"
#include "errors.h"
#include "file_names.h"
#include "gc.h"
#include "indexing.h"
#include "memman.h"
#include "modules.h"
#include "numstack.h"
#include "predicates.h"
#include "prolog_flags.h"
#include "saved_state.h"
#include "stack_growth.h"
#include "streams.h"
#include "support.h"
#include "sw_on_key.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

template <typename F> vr_api_fn untyped(F *f) { return reinterpret_cast<vr_api_fn>(f); }

} // namespace

#define VR_API(k, f, r, a) #f, static_cast<r(*) a>(&f),
#define VR_API_LATER(k, f) #f, nullptr,
#define VR_API_RESERVED(k, f) #f, nullptr,
DISPATCH_TABLE_STRUCT_VOSTREL_H dispatch_table_VOSTREL_H = {
    sizeof(DISPATCH_TABLE_STRUCT_VOSTREL_H), "vostrel.h", VR_DISPATCH_VERSION,
#include "vostrel/vostrel_api.def"
    nullptr, nullptr};
#undef VR_API
#undef VR_API_LATER
#undef VR_API_RESERVED

/* The support table's functions, one per slot name: the engine function,
   or null where the runtime does not have it yet. */
namespace {
vr_api_fn support_find_module() { return untyped(&find_module); }
vr_api_fn support_find_definition() { return untyped(&find_definition); }
vr_api_fn support_call_overflow() { return untyped(&call_overflow); }
vr_api_fn support_find_def_in_module() { return untyped(&find_def_in_module); }
vr_api_fn support_numstack_overflow() { return untyped(&numstack_overflow); }
vr_api_fn support_vr_make_integer() { return untyped(&vr_make_integer); }
vr_api_fn support_cunify() { return untyped(&cunify); }
vr_api_fn support_vr_init_ds() { return nullptr; }
vr_api_fn support_incore_gethash() { return untyped(&incore_gethash); }
vr_api_fn support_choice_overflow() { return untyped(&choice_overflow); }
vr_api_fn support_get_current_worker() { return untyped(&get_current_worker); }
vr_api_fn support_vr_checkalloc() { return untyped(&vr_checkalloc); }
vr_api_fn support_vr_checkdealloc() { return untyped(&vr_checkdealloc); }
vr_api_fn support_vr_checkrealloc() { return untyped(&vr_checkrealloc); }
vr_api_fn support_dyn_puthash() { return untyped(&dyn_puthash); }
vr_api_fn support_new_switch_on_key() { return untyped(&new_switch_on_key); }
vr_api_fn support_dispose_switch_on_key() { return untyped(&dispose_switch_on_key); }
vr_api_fn support_parse_definition() { return untyped(&parse_definition); }
vr_api_fn support_VR_install_fd_hooks() { return untyped(&VR_install_fd_hooks); }
vr_api_fn support_reinitialize() { return untyped(&reinitialize); }
vr_api_fn support_intoRelocationChain() { return untyped(&intoRelocationChain); }
vr_api_fn support_update_exports() { return untyped(&update_exports); }
vr_api_fn support_large_insn_offset() { return untyped(&large_insn_offset); }
vr_api_fn support_vr_exitmsg() { return untyped(&vr_exitmsg); }
vr_api_fn support_vr_expand_file_name() { return untyped(&vr_expand_file_name); }
vr_api_fn support_errprintf() { return untyped(&errprintf); }
vr_api_fn support_delete_attributes() { return untyped(&delete_attributes); }
vr_api_fn support_get_attributes() { return untyped(&get_attributes); }
vr_api_fn support_put_attributes() { return untyped(&put_attributes); }
vr_api_fn support_set_enter_instr() { return untyped(&set_enter_instr); }
vr_api_fn support_markTerm() { return untyped(&markTerm); }
vr_api_fn support_vr_issue_free_handle() { return untyped(&vr_issue_free_handle); }
vr_api_fn support_vr_revoke_free_handle() { return untyped(&vr_revoke_free_handle); }
vr_api_fn support_vr_free_handle_issued() { return untyped(&vr_free_handle_issued); }
vr_api_fn support_VR_set_errprintf_hook() { return untyped(&VR_set_errprintf_hook); }
vr_api_fn support_numstack_trim() { return untyped(&numstack_trim); }
vr_api_fn support_pure_attributes() { return untyped(&pure_attributes); }
vr_api_fn support_MakeSmall_checked() { return untyped(&MakeSmall_checked); }
vr_api_fn support_vr_get_globref_checked() { return untyped(&vr_get_globref_checked); }
vr_api_fn support_vr_action() { return untyped(&vr_action); }
vr_api_fn support_single_attribute() { return untyped(&single_attribute); }
} // namespace

#define VR_SUPPORT(k, f) #f, support_##f(),
#define VR_SUPPORT_RESERVED(k, f) #f, nullptr,
DISPATCH_TABLE_STRUCT_SUPPORT_H dispatch_table_SUPPORT_H = {
    sizeof(DISPATCH_TABLE_STRUCT_SUPPORT_H), "support.h", VR_DISPATCH_VERSION,
#include "vostrel/support_api.def"
    nullptr, nullptr};
#undef VR_SUPPORT
#undef VR_SUPPORT_RESERVED

VREnv default_vostrel_api_struct = {&dispatch_table_VOSTREL_H, &dispatch_table_SUPPORT_H, nullptr, nullptr};

extern "C" VREnv *VR_get_dispatch_40103(void *) { return &default_vostrel_api_struct; }

vr_fli_info **init_vrenv(vr_fli_info **fli, VREnv *out, void *stash)
{
  out->dispatch_API_VOSTREL_H = default_vostrel_api_struct.dispatch_API_VOSTREL_H;
  out->dispatch_API_SUPPORT_H = default_vostrel_api_struct.dispatch_API_SUPPORT_H;
  out->stash = stash;
  out->fli_data = fli;
  return fli;
}

