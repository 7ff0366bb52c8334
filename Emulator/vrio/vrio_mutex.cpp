/* vrio_mutex.cpp: mutexes and condition variables over POSIX threads.
 *
 * Thin wrappers that turn error numbers into library codes and accept null
 * mutexes as no-ops.  Condition variables use the default (real-time)
 * clock, so time-outs are real-time deadlines.  pthread_cond_wait and
 * pthread_cond_timedwait are cancellation points: a thread that may be
 * cancelled there brackets them with vrio_mutex_unlock_cleanup, since the
 * mutex is held again when the cancellation unwinds.
 */
#include <pthread.h>
#include <time.h>

#include <cerrno>

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_thread.h"

struct vrio_t_mutex_ {
  pthread_mutex_t mutex;
};

struct vrio_t_cond_var_ {
  pthread_cond_t cond;
};

static vrio_t_error_code mapped(int e)
{
  return e == 0 ? VRIO_S_NOERR : vrio_map_unix_error(e, VRIO_E_OS_ERROR);
}

vrio_t_error_code vrio_mutex_new(vrio_t_mutex **pmutex, vrio_t_bits options)
{
  auto *m = static_cast<vrio_t_mutex *>(vrio_alloc(sizeof(vrio_t_mutex)));
  if (m == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  pthread_mutexattr_t attr;
  int e = pthread_mutexattr_init(&attr);
  if (e == 0) {
    if (options & 1)
      e = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (e == 0)
      e = pthread_mutex_init(&m->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
  }
  if (e != 0) {
    vrio_free(m);
    return mapped(e);
  }
  *pmutex = m;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_mutex_free(vrio_t_mutex *mutex)
{
  if (mutex == nullptr)
    return VRIO_S_NOERR;
  /* A holder finishing its critical section goes first. */
  pthread_mutex_lock(&mutex->mutex);
  pthread_mutex_unlock(&mutex->mutex);
  int e = pthread_mutex_destroy(&mutex->mutex);
  vrio_free(mutex);
  return mapped(e);
}

vrio_t_error_code vrio_mutex_lock(vrio_t_mutex *mutex)
{
  return mutex == nullptr ? VRIO_S_NOERR : mapped(pthread_mutex_lock(&mutex->mutex));
}

vrio_t_error_code vrio_mutex_unlock(vrio_t_mutex *mutex)
{
  return mutex == nullptr ? VRIO_S_NOERR : mapped(pthread_mutex_unlock(&mutex->mutex));
}

void vrio_mutex_unlock_cleanup(void *pmutex)
{
  auto **p = static_cast<vrio_t_mutex **>(pmutex);
  if (*p != nullptr) {
    vrio_mutex_unlock(*p);
    *p = nullptr;
  }
}

vrio_t_error_code vrio_mutex_debug_is_locked_by_other(vrio_t_mutex *mutex)
{
  int e = pthread_mutex_trylock(&mutex->mutex);
  if (e == EBUSY)
    return static_cast<vrio_t_error_code>(1);
  if (e != 0)
    return mapped(e);
  pthread_mutex_unlock(&mutex->mutex);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_mutex_debug_is_unlocked(vrio_t_mutex *mutex)
{
  vrio_t_error_code rc = vrio_mutex_debug_is_locked_by_other(mutex);
  return rc < 0 ? rc : static_cast<vrio_t_error_code>(!rc);
}

vrio_t_error_code vrio_cond_var_new(vrio_t_cond_var **pcond_var, vrio_t_bits options)
{
  auto *c = static_cast<vrio_t_cond_var *>(vrio_alloc(sizeof(vrio_t_cond_var)));
  if (c == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  int e = pthread_cond_init(&c->cond, nullptr);
  if (e != 0) {
    vrio_free(c);
    return mapped(e);
  }
  *pcond_var = c;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_cond_var_free(vrio_t_cond_var *cond_var)
{
  if (cond_var == nullptr)
    return VRIO_S_NOERR;
  int e = pthread_cond_destroy(&cond_var->cond);
  vrio_free(cond_var);
  return mapped(e);
}

vrio_t_error_code vrio_cond_var_wait(vrio_t_cond_var *cond_var, vrio_t_mutex *mutex)
{
  return mapped(pthread_cond_wait(&cond_var->cond, &mutex->mutex));
}

vrio_t_error_code vrio_cond_var_now(vrio_t_timespec *now)
{
  struct timespec ts;
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0)
    return mapped(errno);
  now->sec = static_cast<int32_t>(ts.tv_sec);
  now->nsec = static_cast<int32_t>(ts.tv_nsec);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_cond_var_timedwait(vrio_t_cond_var *cond_var, vrio_t_mutex *mutex,
                                          const vrio_t_timespec *timeout)
{
  struct timespec deadline;
  if (timeout->sec <= 86399) {
    /* Relative: whole milliseconds, the nanoseconds rounded up. */
    clock_gettime(CLOCK_REALTIME, &deadline);
    int64_t ms = static_cast<int64_t>(timeout->sec) * 1000 + (timeout->nsec + 999999) / 1000000;
    int64_t nsec = deadline.tv_nsec + (ms % 1000) * 1000000;
    deadline.tv_sec += static_cast<time_t>(ms / 1000 + nsec / 1000000000);
    deadline.tv_nsec = static_cast<long>(nsec % 1000000000);
  } else {
    deadline.tv_sec = timeout->sec + timeout->nsec / 1000000000;
    deadline.tv_nsec = timeout->nsec % 1000000000;
  }
  int e = pthread_cond_timedwait(&cond_var->cond, &mutex->mutex, &deadline);
  return e == ETIMEDOUT ? VRIO_E_TIMEOUT : mapped(e);
}

vrio_t_error_code vrio_cond_var_signal(vrio_t_cond_var *cond_var, vrio_t_mutex *mutex,
                                       vrio_t_bits options)
{
  return mapped((options & 1) ? pthread_cond_broadcast(&cond_var->cond)
                              : pthread_cond_signal(&cond_var->cond));
}

vrio_t_error_code vrio_init_module_cond_var(vrio_t_bits options)
{
  return VRIO_S_NOERR;
}
