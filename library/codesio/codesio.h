/* codesio.h: streams that read from a list of character codes or collect
 * what is written to them into one (the foreign resource codesio).
 *
 * The streams are text user-device streams of the user class
 * codes_to_stream; their record (the codes, a read index or a write
 * count, the capacity) belongs to the stream and is released when its
 * last direction closes.  Their Prolog half is library(codesio).
 *
 * The three foreign predicates ($codes_to_stream/2, $open_buf_stream/1,
 * $stream_to_codes/3 of module codesio) are declared by library(codesio)
 * and loaded through the entry function vr_main_VRENV_codesio.  Engine
 * thread only.
 */
#ifndef TRELIX_CODESIO_H
#define TRELIX_CODESIO_H

#include "globref.h"
#include "streams.h"
#include "vostrel/vostrel_foreign.h"

struct worker;

/* An input stream over the codes of internal text; null on failure
   (malformed text among them). */
VR_stream *codes_to_stream(const char *text, VR_stream **stream);
/* An empty output stream; null on failure. */
VR_stream *open_buf_stream(VR_stream **stream);
/* head gets the codes written so far followed by a fresh variable, which
   tail gets; on failure head gets the atom error. */
void stream_to_codes(VR_stream *stream, VR_term_ref head, VR_term_ref tail);
/* Resource start and end: the end closes every stream of the class. */
void codesio_init(int when);
void codesio_deinit(int when);

/* The resource's entry function (vostrel_foreign.h). */
extern "C" int vr_main_VRENV_codesio(VR_MAINFUN_PARAMS *params);

#endif
