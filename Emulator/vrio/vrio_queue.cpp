/* vrio_queue.cpp: intrusive first-in-first-out queues.
 *
 * A queue may carry its own mutex (plain or recursive) and a not-empty
 * condition; waiting needs the plain mutex, so the two options exclude
 * each other.  A thread waiting for an entry may be cancelled inside the
 * condition wait: a clean-up step unlocks the queue on the way out.  The
 * queue only links its entries; it never allocates, copies or frees them.
 */
#include <pthread.h>

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_thread.h"

vrio_t_error_code vrio_queue_new(vrio_t_queue **pqueue, vrio_t_bits options)
{
  if ((options & VRIO_QUEUE_RECURSIVE) &&
      (!(options & VRIO_QUEUE_WITH_MUTEX) || (options & VRIO_QUEUE_WITH_COND)))
    return VRIO_E_PARAMETER_ERROR;
  auto *q = static_cast<vrio_t_queue *>(vrio_alloc(sizeof(vrio_t_queue)));
  if (q == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  q->next = nullptr;
  q->tail = nullptr;
  q->mutex = nullptr;
  q->not_empty_cond = nullptr;
  q->size = 0;
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (options & VRIO_QUEUE_WITH_MUTEX)
    rc = vrio_mutex_new(&q->mutex, (options & VRIO_QUEUE_RECURSIVE) ? 1 : 0);
  if (rc >= 0 && (options & VRIO_QUEUE_WITH_COND))
    rc = vrio_cond_var_new(&q->not_empty_cond, 0);
  if (rc < 0) {
    vrio_queue_free(q);
    return rc;
  }
  *pqueue = q;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_queue_free(vrio_t_queue *queue)
{
  if (queue == nullptr)
    return VRIO_S_NOERR;
  vrio_mutex_free(queue->mutex);
  vrio_cond_var_free(queue->not_empty_cond);
  vrio_free(queue);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_queue_lock(vrio_t_queue *queue)
{
  return vrio_mutex_lock(queue->mutex);
}

vrio_t_error_code vrio_queue_unlock(vrio_t_queue *queue)
{
  return vrio_mutex_unlock(queue->mutex);
}

void vrio_queue_unlock_cleanup(void *pqueue)
{
  auto **p = static_cast<vrio_t_queue **>(pqueue);
  if (*p != nullptr) {
    vrio_queue_unlock(*p);
    *p = nullptr;
  }
}

size_t vrio_queue_size(const vrio_t_queue *queue)
{
  return queue->size;
}

/* Locks unless the caller holds the lock already. */
static vrio_t_error_code lock_unless_held(vrio_t_queue *queue, bool held)
{
  return held ? VRIO_S_NOERR : vrio_queue_lock(queue);
}

static void unlock_unless_held(vrio_t_queue *queue, bool held)
{
  if (!held)
    vrio_queue_unlock(queue);
}

vrio_t_error_code vrio_queue_put_last(vrio_t_queue *queue, vrio_t_queue_entry *entry,
                                      vrio_t_bits options)
{
  bool held = (options & 1) != 0;
  vrio_t_error_code rc = lock_unless_held(queue, held);
  if (rc < 0)
    return rc;
  entry->next = nullptr;
  if (queue->tail != nullptr)
    queue->tail->next = entry;
  else
    queue->next = entry;
  queue->tail = entry;
  queue->size++;
  if (queue->not_empty_cond != nullptr)
    rc = vrio_cond_var_signal(queue->not_empty_cond, queue->mutex, 0);
  unlock_unless_held(queue, held);
  return rc;
}

/* Waits (with option 2) until the queue holds an entry; the queue is
   locked.  Cancellation inside the wait unlocks it through `locked`. */
static vrio_t_error_code wait_not_empty(vrio_t_queue *queue, vrio_t_bits options)
{
  if (queue->next != nullptr)
    return VRIO_S_NOERR;
  if (!(options & 2))
    return VRIO_E_NOT_FOUND;
  if (queue->not_empty_cond == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  vrio_t_error_code rc = VRIO_S_NOERR;
  vrio_t_queue *locked = queue;
  pthread_cleanup_push(vrio_queue_unlock_cleanup, &locked);
  while (queue->next == nullptr && rc >= 0)
    rc = vrio_cond_var_wait(queue->not_empty_cond, queue->mutex);
  locked = nullptr; /* still locked: the caller unlocks */
  pthread_cleanup_pop(0);
  return rc;
}

vrio_t_error_code vrio_queue_get_first(vrio_t_queue *queue, vrio_t_queue_entry **pentry,
                                       vrio_t_bits options)
{
  vrio_t_error_code rc = vrio_queue_lock(queue);
  if (rc < 0)
    return rc;
  rc = wait_not_empty(queue, options);
  if (rc >= 0) {
    vrio_t_queue_entry *first = queue->next;
    if (!(options & 1)) {
      queue->next = first->next;
      if (queue->next == nullptr)
        queue->tail = nullptr;
      first->next = nullptr;
      queue->size--;
    }
    if (pentry != nullptr)
      *pentry = first;
    rc = static_cast<vrio_t_error_code>(queue->size);
  }
  vrio_queue_unlock(queue);
  return rc;
}

vrio_t_error_code vrio_queue_get_last(vrio_t_queue *queue, vrio_t_queue_entry **pentry,
                                      vrio_t_bits options)
{
  bool held = (options & 4) != 0;
  vrio_t_error_code rc = lock_unless_held(queue, held);
  if (rc < 0)
    return rc;
  rc = wait_not_empty(queue, options);
  if (rc >= 0) {
    vrio_t_queue_entry *last = queue->tail;
    if (!(options & 1)) {
      vrio_t_queue_entry *before = nullptr;
      for (vrio_t_queue_entry *e = queue->next; e != last; e = e->next)
        before = e;
      if (before != nullptr)
        before->next = nullptr;
      else
        queue->next = nullptr;
      queue->tail = before;
      queue->size--;
    }
    if (pentry != nullptr)
      *pentry = last;
    rc = VRIO_S_NOERR;
  }
  unlock_unless_held(queue, held);
  return rc;
}

vrio_t_error_code vrio_queue_contains(vrio_t_queue *queue, const vrio_t_queue_entry *entry,
                                      vrio_t_bits options)
{
  bool held = (options & 1) != 0;
  vrio_t_error_code rc = lock_unless_held(queue, held);
  if (rc < 0)
    return rc;
  int found = 0;
  for (vrio_t_queue_entry *e = queue->next; e != nullptr && !found; e = e->next)
    found = e == entry;
  unlock_unless_held(queue, held);
  return static_cast<vrio_t_error_code>(found);
}
