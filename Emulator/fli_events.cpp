/* fli_events.cpp: the event queue, signals installed through the
 * interface, the interrupt key and break requests, and $user_event/0,
 * which runs them all on the engine thread.
 *
 * Any thread may post an event (VR_event, vr_schedule_async_event) or ask
 * for the interrupt handlers; a signal handler only counts its signal and
 * wakes someone.  Posting clears the worker's two soft heap limits, so
 * that the emulator's next predicate entry takes the slow path and calls
 * $user_event/0 (run_event), where signal handlers, the I/O library's work
 * items and the queued events run, in that order.  Events run with the
 * real heap limit; one that makes the computation fail or raise stops the
 * run, and the events still queued then are told so and dropped.
 *
 * Locking: the queue's own recursive mutex guards the queue, the free
 * list of preallocated entries, the state, the signal table's entries and
 * the interrupt counts.  The per-signal counts are atomics, touched by
 * signal handlers without the lock.  Posting allocates nothing.
 *
 * The queue, the entries and the interrupt key's record outlive
 * reinitialisation (event_queue_remove, event_queue_init); queued events
 * do not.
 */
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "datadefs.h"
#include "fli.h"
#include "predicates.h"
#include "preds.h"
#include "signals.h"
#include "streams.h"
#include "vostrel/vrio.h"
#include "worker.h"

namespace {

constexpr int PREALLOCATED_EVENTS = 256;
constexpr int SIGNAL_SLOTS = 32;
constexpr unsigned EVENT_SIMPLE = 1;

enum vr_t_event_state {
  EVENT_STATE_UNINITED = 0,
  EVENT_STATE_DISALLOW_ALL = 1,
  EVENT_STATE_ALLOW_VR_EVENT = 2,
  EVENT_STATE_ALLOW_VR_SIGNAL = 3
};

struct vr_t_event_queue {
  vrio_t_queue *q;
  vr_t_async_event *next_preallocated;
  vr_t_async_event preallocated[PREALLOCATED_EVENTS];
};

vr_t_event_queue event_queue;
std::atomic<bool> event_queue_cs_inited{false};
std::atomic<int> event_state{EVENT_STATE_UNINITED};

struct user_signal_handler {
  VR_SigFun *handler;
  void *user_data;
  int mode;
};
user_signal_handler signal_handlers[SIGNAL_SLOTS];
std::atomic<int> signal_has_happened[SIGNAL_SLOTS];
static_assert(std::atomic<int>::is_always_lock_free, "counted from signal handlers");
std::atomic<bool> thread_safe_signals_inited{false};

int vr_ctrlc_pending = 0;
int vr_ctrlc_event_installed = 0;
vr_t_async_event *global_ctrlc_async_event = nullptr;
vr_t_async_event *ctrlc_record = nullptr; /* the record itself, queued or not */
int vr_sigbrk_pending = 0;

inline vrio_t_queue_entry *entry_of(vr_t_async_event *e) { return reinterpret_cast<vrio_t_queue_entry *>(e); }
inline vr_t_async_event *event_of(vrio_t_queue_entry *q) { return reinterpret_cast<vr_t_async_event *>(q); }

void lock_queue() { vrio_queue_lock(event_queue.q); }
int unlock_queue() { return vrio_queue_unlock(event_queue.q); }

/* The free list is linked through queue_entry; caller holds the lock. */
void free_list_push(vr_t_async_event *e)
{
  e->queue_entry = event_queue.next_preallocated;
  event_queue.next_preallocated = e;
}

void relink_free_list()
{
  event_queue.next_preallocated = nullptr;
  for (int i = PREALLOCATED_EVENTS; i-- > 0;)
    free_list_push(&event_queue.preallocated[i]);
}

void noop_handler(int, void *) {}

void real_signal_handler(int signo)
{
  const int saved = errno;
  VR_raise_signal(signo, 0);
  errno = saved;
}

/* Every signal with a handler gets the system's default action back. */
void reset_signals()
{
  for (int s = 1; s < SIGNAL_SLOTS; ++s) {
    if (signal_handlers[s].handler != nullptr) {
      struct sigaction action;
      std::memset(&action, 0, sizeof action);
      action.sa_handler = SIG_DFL;
      sigemptyset(&action.sa_mask);
      sigaction(s, &action, nullptr);
    }
    signal_handlers[s] = user_signal_handler{};
    signal_has_happened[s].store(0);
  }
  signal_handlers[0] = user_signal_handler{};
  signal_has_happened[0].store(0);
  thread_safe_signals_inited.store(false);
}

/* A frame that calls pred (arity 0) before the interrupted code goes on:
   it saves the continuation and frame, and the worker continues at the
   predicate's restart point. */
void push_handler_call(worker *w, definition *pred)
{
  if (pred == nullptr)
    return;
  frame *e = reinterpret_cast<frame *>(w->local_top);
  e->frame_ = w->frame_;
  e->next_insn = w->next_insn;
  w->frame_ = e;
  w->next_insn = &pred->proc.continuation;
  w->local_top += FRAME_HEADER_WORDS;
}

vrio_t_error_code ctrlc_async_event_function(vr_t_async_event *event, unsigned options)
{
  lock_queue();
  if (options == 0)
    push_handler_call(self, preds.ctrlc_handler);
  /* Run or dropped, the request is taken: the next interrupt key posts the
     event again (the counts would otherwise stay raised for ever, and
     every later request would only be counted). */
  vr_ctrlc_pending = 0;
  vr_ctrlc_event_installed = 0;
  global_ctrlc_async_event = event;
  unlock_queue();
  return VRIO_S_NOERR;
}

int sigbrk_event(void *)
{
  push_handler_call(self, preds.ctrlbrk_handler);
  /* Taken: the next break request posts again. */
  vr_sigbrk_pending = 0;
  return 1;
}

/* Calls one event with the given option; returns 0 or a stop code. */
int call_queue_entry(worker *w, vr_t_async_event *e, unsigned option)
{
  const std::int32_t mark = w->fli_stack_index;
  w->fli_data->excp_flag = 1;
  int result = 0;
  if (e->flags & EVENT_SIMPLE) {
    if (option == 0) {
      const int v = reinterpret_cast<int (*)(void *)>(e->u)(e->cookie);
      result = v == -1 ? VR_EVENT_STOP_RAISE : v == 0 ? VR_EVENT_STOP_FAIL : 0;
    }
    lock_queue();
    free_list_push(e);
    unlock_queue();
  } else {
    result = reinterpret_cast<vr_async_event_fn *>(e->u)(e, option);
  }
  w->fli_stack_index = mark;
  if (w->fli_data->excp_flag == 0)
    result = VR_EVENT_STOP_RAISE;
  return result;
}

vr_t_async_event *take_event()
{
  vrio_t_queue_entry *q = nullptr;
  lock_queue();
  if (vrio_queue_get_first(event_queue.q, &q, 0) < 0)
    q = nullptr;
  unlock_queue();
  return q != nullptr ? event_of(q) : nullptr;
}

} // namespace

/* ---- The queue's life ---- */

int event_queue_init(void)
{
  if (!event_queue_cs_inited.load()) {
    vrio_t_queue *q = nullptr;
    const int r = vrio_queue_new(&q, VRIO_QUEUE_WITH_MUTEX | VRIO_QUEUE_RECURSIVE);
    if (r < 0)
      return r;
    if (ctrlc_record == nullptr) {
      ctrlc_record = static_cast<vr_t_async_event *>(std::calloc(1, sizeof(vr_t_async_event)));
      if (ctrlc_record == nullptr) {
        vrio_queue_free(q);
        return VRIO_E_OUT_OF_MEMORY;
      }
    }
    event_queue.q = q;
    event_queue_cs_inited.store(true);
  }
  lock_queue();
  relink_free_list();
  global_ctrlc_async_event = ctrlc_record;
  vr_ctrlc_pending = vr_ctrlc_event_installed = vr_sigbrk_pending = 0;
  event_state.store(EVENT_STATE_ALLOW_VR_EVENT);
  if (thread_safe_signals_inited.load())
    reset_signals();
  for (auto &h : signal_handlers)
    h = user_signal_handler{};
  for (auto &c : signal_has_happened)
    c.store(0);
  thread_safe_signals_inited.store(true);
  event_state.store(EVENT_STATE_ALLOW_VR_SIGNAL);
  unlock_queue();
  return 0;
}

void event_queue_remove(void)
{
  if (event_queue_cs_inited.load()) {
    lock_queue();
    event_state.store(EVENT_STATE_DISALLOW_ALL);
    event_queue_cs_inited.store(false);
    unlock_queue();
    vrio_queue_free(event_queue.q);
    event_queue.q = nullptr;
  }
  relink_free_list();
  event_state.store(EVENT_STATE_UNINITED);
  reset_signals();
}

/* ---- Posting ---- */

int vr_schedule_async_event(vr_t_async_event *event, unsigned options)
{
  if (!event_queue_cs_inited.load())
    return VRIO_E_INVALID_STATE;
  if (!(options & 1))
    lock_queue();
  int result = VRIO_E_INVALID_STATE;
  if (event_state.load() >= EVENT_STATE_ALLOW_VR_EVENT) {
    if (!(options & 4))
      sync_heap_pointers(self);
    if (event != nullptr && !(options & 2))
      vrio_queue_put_last(event_queue.q, entry_of(event), 1);
    result = 0;
  }
  if (!(options & 1))
    unlock_queue();
  return result;
}

int VR_event(int (*func)(void *cookie), void *cookie)
{
  if (!event_queue_cs_inited.load())
    return 0;
  lock_queue();
  vr_t_async_event *e = event_queue.next_preallocated;
  if (e != nullptr)
    event_queue.next_preallocated = static_cast<vr_t_async_event *>(e->queue_entry);
  unlock_queue();
  if (e == nullptr)
    return 0;
  e->queue_entry = nullptr;
  e->u = reinterpret_cast<void *>(func);
  e->flags = EVENT_SIMPLE;
  e->cookie = cookie;
  if (vr_schedule_async_event(e, 0) < 0) {
    lock_queue();
    free_list_push(e);
    unlock_queue();
    return 0;
  }
  return 1;
}

int VR_alloc_async_event(vr_t_async_event **out, vr_async_event_fn *func, void *cookie)
{
  if (out == nullptr || func == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  vr_t_async_event *e = static_cast<vr_t_async_event *>(VR_malloc(sizeof(vr_t_async_event)));
  if (e == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  e->queue_entry = nullptr;
  e->u = reinterpret_cast<void *>(func);
  e->flags = 0;
  e->cookie = cookie;
  *out = e;
  return 0;
}

void VR_free_async_event(vr_t_async_event *event) { VR_free(event); }

int VR_schedule_async_event(vr_t_async_event *event) { return vr_schedule_async_event(event, event == nullptr ? 2 : 0); }

int VR_async_event_DEPRECATED(void) { return VRIO_E_NOT_SUPPORTED; }

/* ---- Signals ---- */

int VR_sigaction(int signo, VR_SigFun *handler, void *user_data, unsigned options)
{
  if (signo < 0 || signo >= SIGNAL_SLOTS)
    return VRIO_E_PARAMETER_ERROR;
  if (!event_queue_cs_inited.load())
    return VRIO_E_INTERNAL_ERROR;
  lock_queue();
  int result = 0;
  if (event_state.load() < EVENT_STATE_ALLOW_VR_SIGNAL) {
    result = VRIO_E_INVALID_STATE;
  } else {
    signal_has_happened[signo].store(0);
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handler);
    if (value > 1) {
      signal_handlers[signo] = user_signal_handler{handler, user_data, (options & 1) ? 1 : (options & 2) ? 2 : 4};
      struct sigaction action;
      std::memset(&action, 0, sizeof action);
      action.sa_handler = real_signal_handler;
      sigemptyset(&action.sa_mask);
      if (sigaction(signo, &action, nullptr) != 0) {
        signal_handlers[signo] = user_signal_handler{};
        result = VRIO_E_OS_ERROR;
      }
    } else if (signal_handlers[signo].handler != nullptr) {
      signal_handlers[signo] = user_signal_handler{noop_handler, nullptr, 1};
    } else {
      result = VRIO_E_NOT_SUPPORTED;
    }
  }
  unlock_queue();
  return result;
}

VR_SigFun *VR_signal(int signo, VR_SigFun *handler, void *user_data)
{
  if (VR_sigaction(signo, handler, user_data, 2) < 0)
    return reinterpret_cast<VR_SigFun *>(-1);
  return noop_handler;
}

int VR_raise_signal(int signo, unsigned options)
{
  if (signo < 0 || signo >= SIGNAL_SLOTS || !thread_safe_signals_inited.load())
    return 0;
  /* A count of -1 becomes 1.  No local of the handler's frame has its
     address taken: this runs inside signal handlers. */
  if (signal_has_happened[signo].fetch_add(1) == -1)
    signal_has_happened[signo].fetch_add(1);
  /* Who to wake: an interrupt breaks pending I/O waits, a soft wake-up
     goes through the interrupt thread, or only the engine's limits. */
  unsigned how;
  if (options & 2)
    how = 0x2;
  else if (options & 1)
    how = 0x1;
  else if (options & 4)
    how = 0x4;
  else
    how = signal_handlers[signo].mode == 1 ? 0x1 : signal_handlers[signo].mode == 4 ? 0x4 : 0x2;
  vr_os_signal_delivered(how);
  return 1;
}

int vr_raise_signal(int signo) { return VR_raise_signal(signo, 2); }

/* ---- The interrupt key and break requests ---- */

int VR_ctrlc_action(void)
{
  if (!event_queue_cs_inited.load())
    return 0;
  lock_queue();
  ++vr_ctrlc_pending;
  if (global_ctrlc_async_event != nullptr && vr_ctrlc_event_installed == 0) {
    vr_t_async_event *e = global_ctrlc_async_event;
    global_ctrlc_async_event = nullptr;
    e->queue_entry = nullptr;
    e->u = reinterpret_cast<void *>(&ctrlc_async_event_function);
    e->flags = 0;
    e->cookie = nullptr;
    ++vr_ctrlc_event_installed;
    if (vr_schedule_async_event(e, 1) < 0) {
      global_ctrlc_async_event = e;
      vr_ctrlc_pending = vr_ctrlc_event_installed = 0;
    }
  } else {
    ++vr_ctrlc_event_installed;
  }
  return unlock_queue();
}

int VR_ctrlbreak_action(void)
{
  if (!event_queue_cs_inited.load())
    return 0;
  lock_queue();
  const bool post = vr_sigbrk_pending++ == 0;
  unlock_queue();
  if (post && !VR_event(sigbrk_event, nullptr)) {
    lock_queue();
    vr_sigbrk_pending = 0;
    unlock_queue();
  }
  return 1;
}

void vr_reset_ctrlc_pending(void)
{
  if (event_queue_cs_inited.load())
    lock_queue();
  vr_ctrlc_pending = vr_ctrlc_event_installed = 0;
  if (event_queue_cs_inited.load())
    unlock_queue();
}

void vr_reset_ctrlc_pending_DEPRECATED(void) { vr_reset_ctrlc_pending(); }

int vr_get_ctrlc_pending_DEPRECATED(void) { return vr_ctrlc_event_installed; }

/* ---- Running on the engine thread ---- */

void sync_heap_pointers(worker *w)
{
  if (w != nullptr) {
    w->int_heap_warn = nullptr;
    w->heap_warn_soft = nullptr;
  }
}

int disable_events(void) { return static_cast<int>(++self->events_disabled); }

int enable_events(void)
{
  worker *w = self;
  const int n = static_cast<int>(--w->events_disabled);
  if (n == 0)
    sync_heap_pointers(w);
  return n;
}

int vr_run_event(worker *w, unsigned options)
{
  const bool shutdown = (options & 1) != 0;
  if (!shutdown && w->events_disabled != 0)
    return 1;
  const int saved_flag = w->fli_data->excp_flag;
  const bool have_queue = event_queue_cs_inited.load();
  if (shutdown && have_queue) {
    lock_queue();
    event_state.store(EVENT_STATE_ALLOW_VR_EVENT);
    unlock_queue();
  }
  for (int s = 0; s < SIGNAL_SLOTS; ++s) {
    if (signal_has_happened[s].load() == 0)
      continue;
    signal_has_happened[s].store(0);
    const user_signal_handler h = signal_handlers[s];
    if (h.handler != nullptr)
      h.handler(s, h.user_data);
  }
  if (shutdown) {
    if (have_queue) {
      lock_queue();
      event_state.store(EVENT_STATE_DISALLOW_ALL);
      unlock_queue();
    }
  } else {
    vrio_ensure_interrupts_done();
    vrio_run_work_items(0);
    vr_test_and_clear_hard_interrupt();
  }
  int stop = 0;
  if (have_queue) {
    while (vr_t_async_event *e = take_event()) {
      if (shutdown) {
        call_queue_entry(w, e, 0x80);
        continue;
      }
      /* The event runs with the real limit; a post meanwhile clears it
         again, and the engine comes back here at its next call. */
      w->int_heap_warn = w->heap_warn;
      w->heap_warn_soft = w->heap_warn;
      const int r = call_queue_entry(w, e, 0);
      if (r == VR_EVENT_STOP_FAIL || r == VR_EVENT_STOP_RAISE) {
        stop = r;
        break;
      }
    }
    if (stop != 0) {
      disable_events();
      const unsigned why = stop == VR_EVENT_STOP_FAIL ? 2 : 4;
      while (vr_t_async_event *e = take_event())
        call_queue_entry(w, e, why);
      /* Not enable_events: nothing is left to notice, and a stop must
         reach the interrupted goal first. */
      --w->events_disabled;
    }
  }
  w->fli_data->excp_flag = saved_flag;
  return stop == 0 ? 1 : 0;
}

int run_event(worker *w) { return vr_run_event(w, 0); }

int vr_action(int action)
{
  if (action == 1)
    return 1; /* the debugger's trap comes with the debugger */
  vr_errno = VR_ERR_INVALID_ACTION;
  return 0;
}
