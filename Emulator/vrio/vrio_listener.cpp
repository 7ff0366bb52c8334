/* vrio_listener.cpp: the one event listener, a library thread that watches
 * one event and calls a function whenever it is set.
 *
 * At most one listener thread exists.  It is not cancellable: stopping it
 * sets `quit` and its wake event, and waits for it.  The listener function
 * runs on that thread without any library lock and must consume what set
 * the event (the thread never resets it), or it is called again at once.
 * Adding and removing happen on the engine thread; the listener function
 * must not add or remove listeners itself, since stopping waits for it.
 */
#include <atomic>
#include <new>

#include "vrio_internal.h"

struct vrio_t_listen_thread_cookie_ {
  vrio_t_event *wake_event;
  vrio_t_event *listen_event;
  vrio_t_task *task;
  std::atomic<int> quit;
  std::atomic<int> has_quit;
  vrio_t_event_listener listener;
  void *listener_data;
};
using listen_thread_cookie = vrio_t_listen_thread_cookie_;

static listen_thread_cookie *listen_cookie;

static void *listen_thread(vrio_t_task volatile *, void *arg)
{
  auto *c = static_cast<listen_thread_cookie *>(arg);
  static const vrio_t_timespec half_minute = {30, 0};
  for (;;) {
    vrio_t_event *events[2] = {c->wake_event, c->listen_event};
    vrio_t_error_code rc = vrio_event_wait(events, 2, &half_minute);
    vrio_event_reset(c->wake_event);
    if (c->quit.load())
      break;
    if (rc == VRIO_E_TIMEOUT)
      continue;
    if (rc < 0)
      break;
    vrio_t_error_code answer = c->listener(c->listener_data, 0);
    if (answer < 0 || answer == VRIO_S_DONE)
      break;
  }
  c->has_quit.store(1);
  return nullptr;
}

static void teardown(listen_thread_cookie *c)
{
  vrio_task_free(c->task);
  vrio_event_free(c->wake_event);
  vrio_event_free(c->listen_event);
  c->~listen_thread_cookie();
  vrio_free(c);
}

vrio_t_error_code vrio_stop_event_listener(void)
{
  listen_thread_cookie *c = listen_cookie;
  if (c == nullptr)
    return VRIO_E_ERROR;
  c->quit.store(1);
  vrio_event_set(c->wake_event);
  vrio_t_error_code rc;
  do
    rc = vrio_wait_for_task_termination(c->task, nullptr);
  while (rc == VRIO_E_INTERRUPTED);
  if (!c->has_quit.load())
    return VRIO_E_INTERNAL_ERROR;
  vrio_t_event_listener listener = c->listener;
  void *data = c->listener_data;
  c->listener = nullptr;
  c->listener_data = nullptr;
  if (listener != nullptr)
    listener(data, 2);
  listen_cookie = nullptr;
  teardown(c);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_remove_event_listener(vrio_t_event *event, vrio_t_event_listener listener,
                                             void *data)
{
  listen_thread_cookie *c = listen_cookie;
  if (c != nullptr && c->listen_event == event &&
      (listener == nullptr || c->listener == listener) &&
      (data == nullptr || c->listener_data == data))
    vrio_stop_event_listener();
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_add_event_listener(vrio_t_event *event, vrio_t_event_listener listener,
                                          void *data)
{
  vrio_remove_event_listener(event, listener, data);
  /* A listener for something else goes too (with its last call), so that
     one listener thread at most exists. */
  if (listen_cookie != nullptr) {
    vrio_t_error_code rc = vrio_stop_event_listener();
    if (rc < 0)
      return rc;
  }
  void *mem = vrio_alloc(sizeof(listen_thread_cookie));
  if (mem == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  auto *c = new (mem) listen_thread_cookie{};
  c->listener = listener;
  c->listener_data = data;
  vrio_t_error_code rc = vrio_event_new(0, &c->wake_event);
  if (rc < 0) {
    c->~listen_thread_cookie();
    vrio_free(c);
    return rc;
  }
  vrio_event_add_ref(event);
  c->listen_event = event;
  rc = vrio_task_create(0, listen_thread, c, &c->task);
  if (rc < 0) {
    teardown(c);
    return rc;
  }
  listen_cookie = c;
  return VRIO_S_NOERR;
}
