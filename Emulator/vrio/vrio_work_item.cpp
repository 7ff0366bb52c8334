/* vrio_work_item.cpp: work items, the units of work other threads hand to
 * the main thread.
 *
 * Any thread schedules; only the main thread runs them, at its safe points
 * (vrio_run_work_items).  The list is guarded by the big lock.  Scheduling
 * raises a soft interrupt (while still holding the lock, which is why the
 * lock is recursive) so that a main thread blocked in a wait notices.
 * Nothing can be scheduled before the module starts or once shut-down has
 * begun.
 */
#include <atomic>

#include "vrio_internal.h"

static vrio_t_work_item *global_work_items; /* first */
static vrio_t_work_item *global_work_items_last;
static std::atomic<int> shutting_down{1};

void vrio_init_work_item(vrio_t_work_item *item, const vrio_t_work_item_funcs *funcs, void *cookie)
{
  item->funcs = funcs;
  item->flags = 0;
  item->cookie = cookie;
  item->next = nullptr;
}

void vrio_free_work_item(vrio_t_work_item *item)
{
  if (item != nullptr)
    item->funcs->dealloc(item);
}

vrio_t_error_code vrio_schedule_work_item(vrio_t_work_item *item, vrio_t_bits options)
{
  vrio_biglock_lock();
  if (shutting_down.load()) {
    vrio_biglock_unlock();
    return VRIO_E_SHUTDOWN;
  }
  item->next = nullptr;
  if (global_work_items_last != nullptr)
    global_work_items_last->next = item;
  else
    global_work_items = item;
  global_work_items_last = item;
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (!(options & 1))
    rc = vrio_interrupt(1);
  vrio_biglock_unlock();
  return rc < 0 ? rc : VRIO_S_NOERR;
}

static vrio_t_work_item *take_first(void)
{
  vrio_biglock_lock();
  vrio_t_work_item *item = global_work_items;
  if (item != nullptr) {
    global_work_items = item->next;
    if (global_work_items == nullptr)
      global_work_items_last = nullptr;
    item->next = nullptr;
  }
  vrio_biglock_unlock();
  return item;
}

vrio_t_error_code vrio_run_work_items(vrio_t_bits options)
{
  vrio_t_bits run_options = 0;
  if (options & 1) {
    shutting_down.store(1);
    run_options = 1; /* tells the items that the library shuts down */
  }
  int count = 0;
  while (vrio_t_work_item *item = take_first()) {
    vrio_t_error_code rc = item->funcs->run(item, run_options);
    if (rc != VRIO_S_DEALLOCATED)
      item->funcs->dealloc(item);
    ++count;
  }
  return static_cast<vrio_t_error_code>(count);
}

size_t vrio_work_items_pending(void)
{
  vrio_biglock_lock();
  size_t n = 0;
  for (vrio_t_work_item *item = global_work_items; item != nullptr; item = item->next)
    ++n;
  vrio_biglock_unlock();
  return n;
}

vrio_t_error_code vrio_init_work_items(vrio_t_bits options)
{
  if (options & 1) {
    shutting_down.store(1);
    while (vrio_t_work_item *item = take_first())
      item->funcs->dealloc(item);
    return VRIO_S_NOERR;
  }
  shutting_down.store(0);
  return VRIO_S_NOERR;
}
