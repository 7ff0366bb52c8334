/* vrio_init.cpp: start and stop of the whole I/O library.
 *
 * The modules start in the order of `modules` and stop in the reverse
 * order; a failed start leaves the modules before it running, a failed
 * stop leaves the allocator installed.  The caller's initial options are
 * read only while vrio_init runs.
 */
#include <iterator>

#include "vrio_internal.h"

namespace {

struct module {
  const char *name;
  vrio_t_error_code (*init)(vrio_t_bits options); /* 0 start, 1 stop */
};

const module modules[] = {
    {"buffers", vrio_init_buf},
    {"tracing", vrio_init_debug},
    {"events", vrio_init_event},
    {"condition variables", vrio_init_module_cond_var},
    {"threads", vrio_init_thread},
    {"interrupts", vrio_interrupt_init},
    {"work items", vrio_init_work_items},
    {"character coders", vrio_init_char_coder},
    {"files", vrio_init_file},
    {"sockets", vrio_init_socket},
    {"async layer", vrio_init_layer_async},
    {"threaddevice layer", vrio_init_layer_threaddevice},
    {"seek layer", vrio_init_layer_seek},
    {"char-coder layer", vrio_init_layer_coder},
    {"standard streams", vrio_init_standard_streams},
    {"processes", vrio_init_process},
    {"released children", vrio_init_children},
};

} // namespace

vrio_t_error_code vrio_init(vrio_t_allocator_hook allocator_hook, void *cookie,
                            const vrio_t_init_options *init_options, vrio_t_bits options)
{
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (!(options & 1)) {
    rc = vrio_set_initial_options(init_options, 0);
    if (rc < 0)
      return rc;
    vrio_skip_abortive_sync = vrio_get_boolean_system_property("VRIO_SKIP_ABORTIVE_SYNC", 1);
    vrio_init_allocator(allocator_hook, cookie);
    for (const module &m : modules) {
      rc = m.init(0);
      if (rc < 0)
        break;
    }
  } else {
    for (auto m = std::rbegin(modules); m != std::rend(modules) && rc >= 0; ++m)
      rc = m->init(1);
    if (rc >= 0)
      vrio_deinit_allocator();
  }
  vrio_t_error_code cleared = vrio_set_initial_options(nullptr, options & 1);
  if (rc < 0)
    return rc;
  return cleared < 0 ? cleared : VRIO_S_NOERR;
}
