/* fli.h: the runtime's side of the foreign-language interface.
 *
 * Declares, with the public types of vostrel.h, every interface function
 * the runtime defines (fli_dispatch.cpp checks each against its slot's
 * type), and the engine-internal services of the interface: the error
 * number, query internals, the event queue and the shared record of
 * several runtime instances.
 *
 * Files: fli_dispatch.cpp (the tables), fli_terms.cpp (term references
 * and term access), fli_query.cpp (queries, errors, exceptions),
 * fli_events.cpp (events, signals, interrupts), fli_environ.cpp
 * (environment and system properties), fli_instances.cpp (several
 * instances and the interface mutexes).
 */
#ifndef VOSTREL_FLI_H
#define VOSTREL_FLI_H

#include <cstddef>

#include "vostrel/vostrel.h"

#include "globref.h"
#include "termdefs.h"

struct worker;

/* ---- The dispatch tables (fli_dispatch.cpp) ---- */
extern DISPATCH_TABLE_STRUCT_VOSTREL_H dispatch_table_VOSTREL_H;
extern DISPATCH_TABLE_STRUCT_SUPPORT_H dispatch_table_SUPPORT_H;
extern VREnv default_vostrel_api_struct;
/* Fills out with the default tables, stash and fli; returns fli. */
vr_fli_info **init_vrenv(vr_fli_info **fli, VREnv *out, void *stash);

/* ---- Start-up, the boot state, the program's arguments ---- */
#include "startup.h"

/* ---- Term references and term access (fli_terms.cpp) ---- */
int VR_put_variable(VR_term_ref t);
int VR_put_term(VR_term_ref t, VR_term_ref u);
int VR_put_integer(VR_term_ref t, long i);
int VR_put_float(VR_term_ref t, double d);
int VR_put_atom(VR_term_ref t, VR_atom a);
int VR_put_string(VR_term_ref t, const char *text);
int VR_put_address(VR_term_ref t, void *p);
int VR_put_list_codes(VR_term_ref t, VR_term_ref tail, const char *text);
int VR_put_list_n_codes(VR_term_ref t, VR_term_ref tail, std::size_t n, const char *text);
int VR_put_list_n_bytes(VR_term_ref t, VR_term_ref tail, std::size_t n, const unsigned char *bytes);
int VR_put_number_codes(VR_term_ref t, const char *text);
int VR_put_functor(VR_term_ref t, VR_atom name, int arity);
int VR_put_list(VR_term_ref t);
int VR_cons_functor(VR_term_ref t, VR_atom name, int arity, ...);
int VR_cons_functor_array(VR_term_ref t, VR_atom name, int arity, VR_term_ref *args);
int VR_cons_list(VR_term_ref t, VR_term_ref head, VR_term_ref tail);
int VR_put_integer_bytes(VR_term_ref t, const void *buf, std::size_t size, int native);
int VR_get_integer(VR_term_ref t, long *i);
int VR_get_float(VR_term_ref t, double *d);
int VR_get_atom(VR_term_ref t, VR_atom *a);
int VR_get_string(VR_term_ref t, const char **text);
int VR_get_address(VR_term_ref t, void **p);
int VR_get_list_codes(VR_term_ref t, const char **text);
int VR_get_list_n_codes(VR_term_ref t, VR_term_ref tail, std::size_t n, std::size_t *written, char *buf);
int VR_get_list_n_bytes(VR_term_ref t, VR_term_ref tail, std::size_t n, std::size_t *written,
                        unsigned char *buf);
int VR_get_number_codes(VR_term_ref t, const char **text);
int VR_get_functor(VR_term_ref t, VR_atom *name, int *arity);
int VR_get_list(VR_term_ref l, VR_term_ref head, VR_term_ref tail);
int VR_get_arg(int i, VR_term_ref t, VR_term_ref arg);
int VR_get_integer_bytes(VR_term_ref t, void *buf, std::size_t *size, int native);
int VR_term_type(VR_term_ref t);
int VR_is_variable(VR_term_ref t);
int VR_is_integer(VR_term_ref t);
int VR_is_float(VR_term_ref t);
int VR_is_atom(VR_term_ref t);
int VR_is_compound(VR_term_ref t);
int VR_is_list(VR_term_ref t);
int VR_is_atomic(VR_term_ref t);
int VR_is_number(VR_term_ref t);
VR_atom VR_atom_from_string(const char *text);
VR_atom VR_existing_atom_from_string(const char *text);
const char *VR_string_from_atom(VR_atom a);
std::size_t VR_atom_length(VR_atom a);
int VR_unify(VR_term_ref t, VR_term_ref u);
int VR_compare(VR_term_ref t, VR_term_ref u);
void VR_write_term(VR_term_ref t);
char *vr_variable_to_string(VR_term_ref t, char *buf);
int VR_read_from_string(VR_term_ref t, const char *text, VR_term_ref *values);
void *VR_calloc(std::size_t n, std::size_t size);
char *VR_strdup(const char *text);
/* The work of VR_get_integer_bytes: 0 or a negative vrio_t_error_code. */
int get_integer_bytes(TAGGED t, void *buf, std::size_t *size, int native);
/* An argument cell of a structure being built from value: a variable of
   the local stack (at or above the cell) is bound to the cell, which
   becomes a new heap variable (trailed when older than the newest
   choicepoint); anything else is copied. */
void fli_place_arg(worker *w, TAGGED *cell, TAGGED value);
/* $ref_term(Key, Value). */
int prolog_ref_term(worker *w);

/* Before start-up only: hints 0 with all four hooks, or hints 1 (the
   system allocator) with no hook and no cookie; 1, else 0 with error
   VR_ERR_UNKNOWN (fli_environ.cpp). */
int VR_set_memalloc_hooks(int hints, VR_InitAllocHook init_hook, VR_DeinitAllocHook deinit_hook,
                          VR_AllocHook alloc_hook, VR_FreeHook free_hook, void *cookie);

/* ---- Queries, errors and exceptions (fli_query.cpp) ---- */
VR_pred_ref VR_predicate(const char *name, int arity, const char *module);
VR_pred_ref VR_pred(VR_atom name, int arity, VR_atom module);
VR_qid VR_open_query(VR_pred_ref pred, ...);
VR_qid VR_open_query_array(VR_pred_ref pred, VR_term_ref *args);
int VR_next_solution(VR_qid q);
int VR_cut_query(VR_qid q);
int VR_close_query(VR_qid q);
int VR_query(VR_pred_ref pred, ...);
int VR_query_cut_fail(VR_pred_ref pred, ...);
int VR_exception_term(VR_term_ref t);
void VR_raise_exception(VR_term_ref t);
void VR_fail(void);
void VR_save_error(int type, const char *message, VR_term_ref culprit);
void VR_raise_error(const char *module, const char *name, int arity, int argno);
const char *VR_error_message(int n);
int VR_get_errno(void);
void vr_set_errno(int n);
int VR_decode_reserved_exception(VR_term_ref t, int *data);
/* current_query: the youngest choicepoint whose alternative is termcode
   or excpcode. */
void refresh_current_query(worker *w);
/* The first solution of d with the arguments args[0..arity-1], then the
   query closed (keep 0) or cut (keep 1); events disabled meanwhile when
   no_events.  1, 0 or -1 as VR_query. */
int vr_query_once(definition *d, const TAGGED *args, bool keep, bool no_events);

/* ---- Events, signals and interrupts (fli_events.cpp) ---- */
int VR_event(int (*func)(void *cookie), void *cookie);
int VR_alloc_async_event(vr_t_async_event **out, vr_async_event_fn *func, void *cookie);
void VR_free_async_event(vr_t_async_event *event);
int VR_schedule_async_event(vr_t_async_event *event);
int vr_schedule_async_event(vr_t_async_event *event, unsigned options);
int VR_async_event_DEPRECATED(void);
int VR_sigaction(int signo, VR_SigFun *handler, void *user_data, unsigned options);
VR_SigFun *VR_signal(int signo, VR_SigFun *handler, void *user_data);
int VR_raise_signal(int signo, unsigned options);
int vr_raise_signal(int signo);
int VR_ctrlc_action(void);
int VR_ctrlbreak_action(void);
void vr_reset_ctrlc_pending(void);
void vr_reset_ctrlc_pending_DEPRECATED(void);
int vr_get_ctrlc_pending_DEPRECATED(void);
int vr_run_event(worker *w, unsigned options);
int disable_events(void);
int enable_events(void);
void sync_heap_pointers(worker *w);
int vr_action(int action);
int event_queue_init(void);
void event_queue_remove(void);
/* $user_event/0. */
int run_event(worker *w);

/* ---- Environment and system properties (fli_environ.cpp) ---- */
int vr_get_system_property_internal(const char *key, char *buf, std::size_t *size, char **value,
                                    unsigned options);
char *vr_getenv_internal(const char *key, char *buf, std::size_t *size, unsigned options);
char *vr_getenv_anyenc(const char *key, char *buf, std::size_t *size);
int vr_checkenv(const char *key);
char *VR_getenv(const char *key);
int VR_get_system_property(const char *key, char **value, unsigned options);
int VR_set_system_property(const char *key, const char *value);
int VR_setenv(const char *key, const char *value);
int VR_system_properties(char ***block, unsigned options);
char **VR_copy_environ(void);
int prolog_getenv(worker *w);        /* $getenv/2 */
int prolog_platform_name(worker *w); /* $platform_name/1 */

/* ---- Several instances and interface mutexes (fli_instances.cpp) ---- */
int multi_vr_init(void);
int VR_set_multi_vr_state(VR_multi_vr_state *state);
int VR_load_vostrel_run_time(VR_get_dispatch_fn **out, void **handle);
int load_vostrel_run_time(VR_get_dispatch_fn **out, void **handle, int counter);
int VR_mutex_lock(VR_mutex *m);
int VR_mutex_unlock(VR_mutex *m);
int VR_mutex_destroy(VR_mutex *m);

#endif
