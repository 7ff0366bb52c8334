/* vrio_std_streams.cpp: the standard stream slots.
 *
 * Slots 1, 2 and 3 hold standard input, output and error, slot 4 nothing
 * standard.  A slot owns the stream put in it; taking it out hands the
 * stream over and empties the slot, so each standard stream is taken once.
 * Changed only at start-up, shut-down and on the engine thread.
 */
#include "vrio_internal.h"

struct standard_stream {
  VRIO layer;
  vrio_t_bits flags; /* 8: close the read side when replaced; 16: the write side */
};
static standard_stream standard_streams[5];

static standard_stream &slot_of(vrio_t_bits options)
{
  return standard_streams[1 + ((options & 2) ? 1 : 0) + ((options & 4) ? 2 : 0)];
}

vrio_t_error_code vrio_set_standard_stream(VRIO *s, vrio_t_bits options)
{
  if (s != nullptr && *s == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  standard_stream &slot = slot_of(options);
  standard_stream old = slot;
  slot.layer = s != nullptr ? *s : nullptr;
  slot.flags = s != nullptr ? (options & ~7u) : 0;
  if (s != nullptr)
    *s = nullptr;
  vrio_t_bits close_options = ((old.flags & 8) ? VRIO_CLOSE_READ : 0) |
                              ((old.flags & 16) ? VRIO_CLOSE_WRITE : 0);
  if (old.layer == nullptr || close_options == 0)
    return VRIO_S_NOERR;
  return vrio_close(&old.layer, close_options);
}

vrio_t_error_code vrio_get_standard_stream(VRIO *s, vrio_t_bits options)
{
  standard_stream &slot = slot_of(options);
  if (slot.layer == nullptr) {
    /* Option 8 asks for a null stream, a simple device that the library
       does not have yet. */
    return (options & 8) ? VRIO_E_NOT_IMPLEMENTED : VRIO_E_NOT_FOUND;
  }
  *s = slot.layer;
  slot.layer = nullptr;
  slot.flags = 0;
  return VRIO_S_NOERR;
}
