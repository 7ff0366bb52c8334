/* vostrel.h: the foreign-language interface of the runtime.
 *
 * Foreign code (an embedding program, a foreign resource) never calls the
 * runtime by symbol.  It holds a VREnv, the interface structure, and calls
 * through the two dispatch tables it points to: the main table of the
 * interface (vostrel_api.def) and the engine-support table
 * (support_api.def).  The one symbol it finds by name is
 * VR_get_dispatch_40103, which gives the runtime's default structure.
 *
 *   VREnv *env = VR_get_dispatch_40103(NULL);
 *   VR_term_ref t = env->dispatch_API_VOSTREL_H->pVR_new_term_ref();
 *
 * Slot positions and record layouts are a binary contract; every one is
 * checked by a static_assert below.  A slot whose function this runtime
 * does not offer holds its name and a null function.
 *
 * Results: 1 success, 0 failure, -1 error, with the interface's error
 * number (VR_get_errno, texts by VR_error_message) set on failure; I/O
 * flavoured functions return 0 or a negative vrio_t_error_code.  Every
 * function runs on the engine thread, except VR_event, the asynchronous
 * event, signal and interrupt functions and the mutex and instance
 * functions, which any thread may call.  Usable from C and C++.
 */
#ifndef VOSTREL_VOSTREL_H
#define VOSTREL_VOSTREL_H

#include <setjmp.h>
#include <stddef.h>
#include <stdint.h>

#include "vostrel/vrio_device.h"
#include "vostrel/vrio_errors.h"
#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Handles ---- */

/* A term: an atom or functor word as returned by VR_atom_from_string and
   VR_get_atom, or a term word read by vr_ref_term. */
typedef uint32_t VR_atom;
/* A term reference: an index into the engine's term-reference stack, valid
   until the stack is reset below it (VR_reset_term_refs, or the next
   solution of the query that was open when it was made). */
typedef int VR_term_ref;
/* A predicate. */
typedef struct definition *VR_pred_ref;
/* An open query (its choicepoint, as a small-integer word). */
typedef uint32_t VR_qid;
/* A global term reference: survives queries until VR_free_globrefs. */
typedef struct VR_globref_ *VR_globref;
/* A mutex of the interface: a null pointer until its first lock. */
typedef struct VR_mutex_impl *VR_mutex;
/* Start-up options (vr_glue_initialize, VR_set_initial_options): version
   VR_OPTIONS_VERSION and noptions entries, each of type 1 (ignored) or 2
   (a system property: key and value).  The layout is the I/O library's
   initialisation-options record. */
#define VR_OPTIONS_VERSION 0x40100
#define VR_OPTION_TYPE_INVALID 0
#define VR_OPTION_TYPE_NULL 1
#define VR_OPTION_TYPE_SYSTEM_PROPERTY 2
typedef struct VR_option {
  int type;
  union {
    void *reserved;
    struct { const char *key; const char *value; } prop;
  } u;
} VR_option;
typedef struct VR_options {
  unsigned version;
  unsigned noptions;
  VR_option *options;
} VR_options;
/* A Prolog stream. */
typedef struct vr_t_vrio_stream_node_ VR_stream;

/* ---- Streams, encodings and memory: the hooks foreign code installs ---- */

/* Makes standard stream `which` (0 input, 1 output, 2 error) at start-up,
   or returns null for the runtime's own. */
typedef VR_stream *(*VR_UserStreamHook)(void *user_data, int which);
/* Called after standard stream `which` is made. */
typedef void (*VR_UserStreamPostHook)(void *user_data, int which, VR_stream *s);
/* Called while the runtime waits for input; nonzero: it did some work. */
typedef int (*VR_idle_hook)(void *cookie);
/* A named character encoding (VR_get_encoding), counted: every handle is
   given back with VR_encoding_release. */
typedef const struct vr_coder_kind *VR_encoding;
/* An open conversion in one direction, keeping a partial character. */
typedef struct vr_coder_state *VR_encoding_state;
/* The memory source of the engine (VR_set_memalloc_hooks, before
   start-up): initialise with the alignment wanted (nonzero: success), give
   back everything, allocate at least `size` bytes (the size given in
   *actual), release a block (force: even if in use). */
typedef int (*VR_InitAllocHook)(size_t alignment, void *cookie);
typedef void (*VR_DeinitAllocHook)(void *cookie);
typedef void *(*VR_AllocHook)(size_t size, size_t *actual, void *cookie);
typedef int (*VR_FreeHook)(void *mem, size_t size, int force, void *cookie);

/* The console window title of an embedding program (set: nonzero when a
   title was replaced; get: the title text). */
typedef int (*VR_SetWindowTitleHook)(const char *title, void *cookie);
typedef const char *(*VR_GetWindowTitleHook)(void *cookie);

/* ---- Interface error numbers (VR_get_errno) ---- */
enum {
  VR_ERR_NONE = 0,
  VR_ERR_NOT_INITIALIZED = 1,
  VR_ERR_INVALID_PREDICATE = 2,
  VR_ERR_BOOTFILE = 3,
  VR_ERR_PREDICATE_NOT_FOUND = 4,
  VR_ERR_BOOT_FAILED = 5,
  VR_ERR_INVALID_QUERY = 6,
  VR_ERR_NULL_STRING = 7,
  VR_ERR_INVALID_ACTION = 8,
  VR_ERR_INVALID_INQUIRY = 9,
  VR_ERR_UNCAUGHT_EXCEPTION = 10,
  VR_ERR_TYPE = 11,
  VR_ERR_DOMAIN = 12,
  VR_ERR_INVALID_NUMBER = 13,
  VR_ERR_INVALID_STRING = 14,
  VR_ERR_SYSTEM = 15,
  VR_ERR_UNKNOWN = 16,
  VR_ERR_MEMORY_INIT = 18
};

/* Term types of VR_term_type. */
enum { VR_TERM_VARIABLE = 1, VR_TERM_INTEGER = 2, VR_TERM_ATOM = 3, VR_TERM_FLOAT = 4, VR_TERM_COMPOUND = 5 };

/* The reserved exception '$reserved'(N): kinds of VR_decode_reserved_exception. */
enum { VR_RESERVED_ABORT = 3, VR_RESERVED_HALT = 4 };

/* ---- Events and signals ---- */

/* An asynchronous event.  A simple event (VR_event) calls func(cookie):
   nonzero continues, 0 makes the interrupted computation fail, -1 makes it
   raise (the exception VR_raise_exception arranged).  Any other event's
   function is called as f(event, options): options 0 run, 0x80 discarded
   at shutdown, 2 discarded after an earlier event failed, 4 after an
   earlier event raised. */
typedef struct vr_t_async_event vr_t_async_event;
typedef vrio_t_error_code vr_async_event_fn(vr_t_async_event *event, unsigned options);
struct vr_t_async_event {
  void *queue_entry;
  void *u;
  unsigned flags;
  void *cookie;
};
enum { VR_EVENT_STOP_FAIL = 30001, VR_EVENT_STOP_RAISE = 30002 };

/* A signal handler installed with VR_signal or VR_sigaction: it runs on
   the engine thread at the next predicate call after the signal. */
typedef void VR_SigFun(int signo, void *user_data);

/* ---- Several runtime instances ---- */

struct VOSTREL_API_STRUCT;
typedef struct VOSTREL_API_STRUCT *VR_get_dispatch_fn(void *reserved);

/* Shared by every runtime instance of the process. */
typedef struct VR_multi_vr_state {
  int refcount;
  void *mutex; /* a recursive pthread_mutex_t */
  int runtimes_loaded;
  void *reserved;
} VR_multi_vr_state;

/* ---- The dispatch tables ---- */

typedef void (*vr_api_fn)(void);

#define VR_API(k, f, r, a) const char *n##f; r (*p##f) a;
#define VR_API_LATER(k, f) const char *n##f; vr_api_fn p##f;
#define VR_API_RESERVED(k, f) const char *n##f; vr_api_fn p##f;
typedef struct DISPATCH_TABLE_STRUCT_VOSTREL_H {
  unsigned long size;
  const char *name;
  int version;
#include "vostrel/vostrel_api.def"
  const char *n_terminator;
  vr_api_fn p_terminator;
} DISPATCH_TABLE_STRUCT_VOSTREL_H;
#undef VR_API
#undef VR_API_LATER
#undef VR_API_RESERVED

#define VR_SUPPORT(k, f) const char *n##f; vr_api_fn p##f;
#define VR_SUPPORT_RESERVED(k, f) const char *n##f; vr_api_fn p##f;
typedef struct DISPATCH_TABLE_STRUCT_SUPPORT_H {
  unsigned long size;
  const char *name;
  int version;
#include "vostrel/support_api.def"
  const char *n_terminator;
  vr_api_fn p_terminator;
} DISPATCH_TABLE_STRUCT_SUPPORT_H;
#undef VR_SUPPORT
#undef VR_SUPPORT_RESERVED

/* The engine's foreign-interface data, reached through fli_data. */
struct vr_fli_info;

typedef struct VOSTREL_API_STRUCT {
  DISPATCH_TABLE_STRUCT_VOSTREL_H *dispatch_API_VOSTREL_H;
  DISPATCH_TABLE_STRUCT_SUPPORT_H *dispatch_API_SUPPORT_H;
  void *stash;
  struct vr_fli_info **fli_data;
} VOSTREL_API_STRUCT;
typedef VOSTREL_API_STRUCT VREnv;

enum {
  VR_DISPATCH_VERSION = 197063, /* 0x301C7: major 3 in the high half */
  VR_DISPATCH_MAIN_SLOTS = 200,
  VR_DISPATCH_SUPPORT_SLOTS = 42
};

/* The runtime's default interface structure; the argument is ignored. */
VREnv *VR_get_dispatch_40103(void *reserved);

/* The version handshake a foreign resource makes before it uses a table:
   major version 3 and at least the version it was built for. */
static inline int vr_dispatch_version_ok(int version)
{
  return (version >> 16) == 3 && version >= VR_DISPATCH_VERSION;
}

#ifdef __cplusplus
}
#endif

/* ---- The fixed layout ---- */
#ifdef __cplusplus
#define VR_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define VR_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
VR_STATIC_ASSERT(sizeof(VOSTREL_API_STRUCT) == 16, "the interface structure is four words");
VR_STATIC_ASSERT(sizeof(DISPATCH_TABLE_STRUCT_VOSTREL_H) == 1612, "main table: 12 + 200 pairs of 8");
VR_STATIC_ASSERT(sizeof(DISPATCH_TABLE_STRUCT_SUPPORT_H) == 348, "support table: 12 + 42 pairs of 8");
VR_STATIC_ASSERT(sizeof(vr_t_async_event) == 16, "an event is four words");
VR_STATIC_ASSERT(sizeof(VR_multi_vr_state) == 16, "the shared instance record is four words");
/* Slot k: name at 12 + 8k, function at 16 + 8k. */
#define VR_API(k, f, r, a)                                                                                  \
  VR_STATIC_ASSERT(offsetof(DISPATCH_TABLE_STRUCT_VOSTREL_H, n##f) == 12 + 8 * (k) &&                     \
                       offsetof(DISPATCH_TABLE_STRUCT_VOSTREL_H, p##f) == 16 + 8 * (k),                   \
                   "slot of " #f);
#define VR_API_LATER(k, f) VR_API(k, f, , )
#define VR_API_RESERVED(k, f) VR_API(k, f, , )
#include "vostrel/vostrel_api.def"
#undef VR_API
#undef VR_API_LATER
#undef VR_API_RESERVED
#define VR_SUPPORT(k, f)                                                                                    \
  VR_STATIC_ASSERT(offsetof(DISPATCH_TABLE_STRUCT_SUPPORT_H, n##f) == 12 + 8 * (k) &&                     \
                       offsetof(DISPATCH_TABLE_STRUCT_SUPPORT_H, p##f) == 16 + 8 * (k),                   \
                   "support slot of " #f);
#define VR_SUPPORT_RESERVED(k, f) VR_SUPPORT(k, f)
#include "vostrel/support_api.def"
#undef VR_SUPPORT
#undef VR_SUPPORT_RESERVED
VR_STATIC_ASSERT(offsetof(DISPATCH_TABLE_STRUCT_VOSTREL_H, n_terminator) == 12 + 8 * 199, "terminator slot");
VR_STATIC_ASSERT(offsetof(DISPATCH_TABLE_STRUCT_SUPPORT_H, n_terminator) == 12 + 8 * 41, "terminator slot");
#endif

#endif
