/* vrio_layer_coder.h: the record of a "char-coder" layer, for the library
 * and its tests.  Positions count 4 x characters since the push; the byte
 * position below that matches `read_pos` is `read_buf0_pos +
 * read_buf_consumed`.
 */
#ifndef VOSTREL_VRIO_LAYER_CODER_H
#define VOSTREL_VRIO_LAYER_CODER_H

#include "vostrel/vrio.h"

typedef struct vrio_t_layer_coder_ {
  vrio_t_layer layer;
  vrio_t_buf *read_buf;     /* bytes from below, the first read_buf_consumed decoded */
  size_t read_buf_consumed;
  vrio_t_offset read_buf0_pos;
  vrio_t_offset read_pos;
  vrio_t_buf *write_buf;    /* encoded bytes not yet written below */
  size_t write_buf_offset;
  vrio_t_offset write_pos;
  vrio_t_coder *read_coder; /* owned by the layer */
  vrio_t_coder *write_coder;
  vrio_t_bits read_coder_options; /* fallback bits 2, 8 and 0x10 */
  vrio_t_bits write_coder_options;
} vrio_t_layer_coder;

#endif
