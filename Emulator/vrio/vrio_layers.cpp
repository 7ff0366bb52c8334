/* vrio_layers.cpp: the registry of layer kinds and the linking of layer
 * records into a stream's stack.
 *
 * The registry maps a kind's name to its operations table; it exists from
 * the first registration until the last name is removed, and changes only
 * at start-up and shut-down.  A layer kind's own push, pop and close link
 * and unlink its records with vrio_layer_push and vrio_layer_pop.
 */
#include "vrio_internal.h"

#if defined(__i386__)
static_assert(sizeof(vrio_t_funcs) == 60, "the operations table is part of the interface");
static_assert(sizeof(vrio_t_layer) == 16);
#endif

static vrio_t_hash *registered_layers;

vrio_t_error_code vrio_register_layer(const vrio_t_funcs *funcs, vrio_t_bits options)
{
  if (options & 1) {
    if (funcs == nullptr || funcs->name == nullptr)
      return VRIO_E_PARAMETER_ERROR;
    if (registered_layers != nullptr) {
      vrio_hash_delete_string(registered_layers, funcs->name);
      if (vrio_hash_nentries(registered_layers) == 0) {
        vrio_hash_free(registered_layers);
        registered_layers = nullptr;
      }
    }
    return VRIO_S_NOERR;
  }
  if (funcs == nullptr || funcs->name == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  if (funcs->sizeof_vrio_t_funcs != sizeof(vrio_t_funcs))
    return VRIO_E_VERSION_ERROR;
  if (funcs->layer_size < sizeof(vrio_t_layer) || funcs->read == nullptr ||
      funcs->write == nullptr || funcs->sync == nullptr || funcs->seek == nullptr ||
      funcs->destroy == nullptr || funcs->open == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  bool made = false;
  if (registered_layers == nullptr) {
    vrio_t_error_code rc = vrio_hash_new(&registered_layers);
    if (rc < 0)
      return rc;
    made = true;
  }
  vrio_t_variant v;
  v.flags = VRIO_VARIANT_POINTER;
  v.u.p = const_cast<vrio_t_funcs *>(funcs);
  vrio_t_error_code rc = vrio_hash_put_string(registered_layers, funcs->name, &v);
  if (rc < 0 && made) {
    vrio_hash_free(registered_layers);
    registered_layers = nullptr;
  }
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_find_layer(const char *name, const vrio_t_funcs **pfuncs)
{
  vrio_t_variant *v;
  if (registered_layers == nullptr || vrio_hash_get_string(registered_layers, name, &v) < 0)
    return VRIO_E_NOT_FOUND;
  *pfuncs = static_cast<const vrio_t_funcs *>(v->u.p);
  return VRIO_S_NOERR;
}

static vrio_t_error_code folded(vrio_t_error_code rc)
{
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_open(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits options)
{
  return folded(funcs->open(funcs, s, args, vrio_layer_options(options)));
}

vrio_t_error_code vrio_push(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits options)
{
  if (funcs->push == nullptr)
    return VRIO_E_NOT_IMPLEMENTED;
  return folded(funcs->push(funcs, s, args, vrio_layer_options(options)));
}

vrio_t_error_code vrio_open_by_name(const char *name, VRIO *s, vrio_t_arglist args,
                                    vrio_t_bits options)
{
  const vrio_t_funcs *funcs;
  vrio_t_error_code rc = vrio_find_layer(name, &funcs);
  return rc < 0 ? rc : vrio_open(funcs, s, args, options);
}

vrio_t_error_code vrio_push_by_name(const char *name, VRIO *s, vrio_t_arglist args,
                                    vrio_t_bits options)
{
  const vrio_t_funcs *funcs;
  vrio_t_error_code rc = vrio_find_layer(name, &funcs);
  return rc < 0 ? rc : vrio_push(funcs, s, args, options);
}

vrio_t_error_code vrio_pop(const vrio_t_funcs *funcs, VRIO *s, vrio_t_bits options)
{
  if (funcs == nullptr) {
    if (*s == nullptr)
      return VRIO_E_NOT_FOUND;
    funcs = (*s)->funcs;
  }
  if (funcs->pop == nullptr)
    return VRIO_E_NOT_IMPLEMENTED;
  return folded(funcs->pop(funcs, s, vrio_layer_options(options)));
}

void vrio_layer_push(VRIO *s, vrio_t_layer *layer)
{
  layer->next = *s;
  *s = layer;
}

void vrio_layer_pop(VRIO *s)
{
  vrio_t_layer *top = *s;
  *s = top->next;
  top->next = nullptr;
}

vrio_t_error_code vrio_layer_close_sides(VRIO *s, vrio_t_bits options)
{
  vrio_t_layer *l = *s;
  if (options & VRIO_CLOSE_READ)
    l->flags &= ~(VRIO_LAYER_OPEN_READ | VRIO_LAYER_READ_ALIVE);
  if (options & VRIO_CLOSE_WRITE)
    l->flags &= ~(VRIO_LAYER_OPEN_WRITE | VRIO_LAYER_WRITE_ALIVE);
  if (!(l->flags & (VRIO_LAYER_READ_ALIVE | VRIO_LAYER_WRITE_ALIVE))) {
    vrio_layer_pop(s);
    vrio_layer_destroy(l);
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_layer_open_not_implemented(const vrio_t_funcs *, VRIO *, vrio_t_arglist,
                                                  vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

vrio_t_error_code vrio_layer_pop_not_implemented(const vrio_t_funcs *, VRIO *, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

vrio_t_error_code vrio_layer_close_pushed(VRIO *s, vrio_t_bits options)
{
  vrio_t_error_code rc = vrio_close(&(*s)->next, options);
  if (rc < 0)
    return rc;
  return vrio_layer_close_sides(s, options);
}

vrio_t_error_code vrio_layer_sync_pop(const vrio_t_funcs *funcs, VRIO *s)
{
  if (*s == nullptr || (*s)->funcs != funcs)
    return VRIO_E_NOT_FOUND;
  /* Both sides: read-ahead goes back below, pending output is written. */
  vrio_t_error_code rc = funcs->sync(s, 0x26);
  if (rc < 0)
    return rc;
  vrio_t_layer *top = *s;
  vrio_layer_pop(s);
  vrio_layer_destroy(top);
  return VRIO_S_NOERR;
}

void vrio_layer_destroy(vrio_t_layer *layer)
{
  layer->funcs->destroy(layer);
}

vrio_t_error_code vrio_get_vrio_layer(VRIO *s, const vrio_t_funcs *funcs, vrio_t_layer **player,
                                      vrio_t_bits options)
{
  int skip = (options & 1) ? 1 : 0;
  for (vrio_t_layer *l = *s; l != nullptr; l = l->next) {
    if (l->funcs != funcs)
      continue;
    if (skip-- == 0) {
      *player = l;
      return VRIO_S_NOERR;
    }
  }
  return VRIO_E_NOT_FOUND;
}
