/* vrio_variant.cpp: variants, argument lists and time-out conversions.
 *
 * An argument list is read in order and the first property with the key
 * wins; the values stay owned by the list.
 */
#include <cmath>
#include <cstring>

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_types.h"

void vrio_variant_free(vrio_t_variant *v)
{
  if (v == nullptr)
    return;
  vrio_t_bits flags = v->flags;
  if ((flags & VRIO_VARIANT_TYPE_MASK) == VRIO_VARIANT_STRING && !(flags & VRIO_VARIANT_BORROWED_STRING))
    vrio_free(v->u.string);
  v->flags = 0;
  if (flags & VRIO_VARIANT_ALLOCATED)
    vrio_free(v);
}

vrio_t_error_code vrio_get_arg_variant(vrio_t_arglist args, const char *key,
                                       const vrio_t_variant **pvalue)
{
  for (; args != nullptr && (args->v.flags & VRIO_VARIANT_TYPE_MASK) != VRIO_VARIANT_END; ++args) {
    if (std::strcmp(args->key, key) == 0) {
      *pvalue = &args->v;
      return VRIO_S_NOERR;
    }
  }
  return VRIO_E_NOT_FOUND;
}

vrio_t_error_code vrio_get_arg(vrio_t_arglist args, const char *key, vrio_t_variant_type kind,
                               void **pvalue)
{
  const vrio_t_variant *v;
  vrio_t_error_code rc = vrio_get_arg_variant(args, key, &v);
  if (rc < 0)
    return rc;
  if ((v->flags & VRIO_VARIANT_TYPE_MASK) != static_cast<vrio_t_bits>(kind))
    return VRIO_E_NOT_FOUND;
  if (kind == VRIO_VARIANT_STRING)
    *pvalue = v->u.string;
  else if (kind == VRIO_VARIANT_POINTER)
    *pvalue = v->u.p;
  else
    return VRIO_E_NOT_SUPPORTED;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_get_arg_string(vrio_t_arglist args, const char *key, const char **pstring)
{
  void *value;
  vrio_t_error_code rc = vrio_get_arg(args, key, VRIO_VARIANT_STRING, &value);
  if (rc >= 0)
    *pstring = static_cast<const char *>(value);
  return rc;
}

vrio_t_error_code vrio_ms_to_timespec(int32_t msecs, vrio_t_timespec *ts)
{
  if (msecs < 0)
    return VRIO_E_PARAMETER_ERROR;
  ts->sec = msecs / 1000;
  ts->nsec = (msecs % 1000) * 1000000;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_double_to_timespec(double secs, vrio_t_timespec *ts)
{
  /* Written so that NaN fails every test: a NaN time-out taken as a number
     would wait for ever or not at all, depending on how it is converted. */
  if (!(secs >= 0.0) || !(std::floor(secs) <= 2147483647.0))
    return VRIO_E_PARAMETER_ERROR;
  double whole = std::floor(secs);
  ts->sec = static_cast<int32_t>(whole);
  ts->nsec = static_cast<int32_t>(std::floor((secs - whole) * 1e9));
  return VRIO_S_NOERR;
}
