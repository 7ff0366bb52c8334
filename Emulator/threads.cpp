/* threads.cpp: critical sections and thread identity (see threads.h).
 *
 * Plain wrappers of POSIX threads.  Until start-up records the main thread
 * there is none: eglobal's main_thread_set stays 0 and no thread is the
 * main one, since a default pthread_t may equal a real thread's identity.
 */
#include "threads.h"

#include "datadefs.h"

static_assert(sizeof(vr_critical_section) == 24,
              "native code allocates critical sections by the size the interface promises");

int vr_size_of_critical_section(void) { return static_cast<int>(sizeof(vr_critical_section)); }

int vr_init_critical_section(vr_critical_section *cs) { return pthread_mutex_init(cs, nullptr); }

int vr_enter_critical_section(vr_critical_section *cs) { return pthread_mutex_lock(cs); }

int vr_exit_critical_section(vr_critical_section *cs) { return pthread_mutex_unlock(cs); }

int vr_deinit_critical_section(vr_critical_section *cs) { return pthread_mutex_destroy(cs); }

vr_thread_id vr_get_current_thread(void) { return pthread_self(); }

vr_thread_id vr_get_main_thread(void) { return eglobal->main_thread; }

int vr_thread_id_equal(vr_thread_id a, vr_thread_id b) { return pthread_equal(a, b) != 0 ? 1 : 0; }

void init_main_thread_id(void)
{
  eglobal->main_thread = pthread_self();
  eglobal->main_thread_set = 1;
}

int is_in_main_thread(void)
{
  return eglobal->main_thread_set != 0 && vr_thread_id_equal(pthread_self(), eglobal->main_thread);
}
