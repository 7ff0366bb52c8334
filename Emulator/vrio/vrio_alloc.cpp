/* vrio_alloc.cpp: the allocator hook every allocation of the I/O library
 * goes through.
 *
 * The hook and its cookie are written by vrio_init before any library
 * thread starts and only read afterwards.  Before vrio_init (and after a
 * stop, which leaves the hook in place) the default hook serves, so the
 * value types can be used without the library being started.
 */
#include "vostrel/vrio_alloc.h"

#include <cstdlib>
#include <cstring>

#include "vostrel/vrio_props.h"

vrio_t_default_allocator_cookie default_allocator_cookie;
int vrio_allocator_mallocs;

static vrio_t_allocator_hook allocator = vrio_default_allocator_hook;
static void *allocator_cookie = &default_allocator_cookie;

void *vrio_default_allocator_hook(void *cookie, void *p, size_t size)
{
  auto *counts = static_cast<vrio_t_default_allocator_cookie *>(cookie);
  counts->calls++;
  if (size != 0 && p != nullptr) {
    counts->reallocs++;
    return std::realloc(p, size);
  }
  if (size != 0) {
    counts->allocs++;
    return std::malloc(size);
  }
  if (p != nullptr) {
    counts->frees++;
    std::free(p);
  }
  return nullptr;
}

vrio_t_error_code vrio_init_allocator(vrio_t_allocator_hook hook, void *cookie)
{
  int mallocs = vrio_get_boolean_system_property("VRIO_ALLOCATOR_MALLOCS", -1);
  if (mallocs == -1)
    mallocs = vrio_get_boolean_system_property("VR_USE_MALLOC", 0);
  vrio_allocator_mallocs = mallocs;
  if (hook == nullptr) {
    hook = vrio_default_allocator_hook;
    cookie = &default_allocator_cookie;
  }
  allocator = hook;
  allocator_cookie = cookie;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_deinit_allocator(void)
{
  return VRIO_S_NOERR;
}

void *vrio_allocator_alloc(size_t size)
{
  if (size == 0)
    size = 1;
  return vrio_allocator_mallocs ? std::malloc(size) : allocator(allocator_cookie, nullptr, size);
}

void *vrio_allocator_realloc(void *p, size_t size)
{
  if (size == 0)
    size = 1;
  return vrio_allocator_mallocs ? std::realloc(p, size) : allocator(allocator_cookie, p, size);
}

void vrio_allocator_free(void *p)
{
  if (p == nullptr)
    return;
  if (vrio_allocator_mallocs)
    std::free(p);
  else
    allocator(allocator_cookie, p, 0);
}

void *vrio_alloc(size_t size)
{
  return vrio_allocator_alloc(size);
}

void *vrio_realloc(void *p, size_t size)
{
  return vrio_allocator_realloc(p, size);
}

void vrio_free(void *p)
{
  vrio_allocator_free(p);
}

char *vrio_alloc_string(const char *s)
{
  size_t n = std::strlen(s) + 1;
  auto *copy = static_cast<char *>(vrio_alloc(n));
  if (copy != nullptr)
    std::memcpy(copy, s, n);
  return copy;
}
