/* pipes.h: in-memory pipes between the engine's own streams, and output
 * tunnels: streams whose bytes travel as protocol lines on a binary
 * control stream ("TUNNEL APPEND name data", the data quoted so that it
 * holds no line end).
 *
 * A pipe never blocks its writer: the bytes wait in memory until they
 * are read.  A reader of an empty pipe whose writer is open waits for an
 * interrupt of the engine (what fills a pipe runs as a work item); a
 * writer whose reader has gone gets end of file.  A tunnel remembers its
 * control stream with the stream's id and checks both before each use;
 * once the control stream is gone, writes give end of file.
 * Engine thread only.
 */
#ifndef VOSTREL_PIPES_H
#define VOSTREL_PIPES_H

#include <cstddef>

#include "streams.h"

struct worker;

/* A null encoding makes that end binary, else a text end with that
   encoding and line ends lf.  Options: 0x1 both ends standard streams,
   0x2 interactive. */
vrio_t_error_code vr_create_pipe(const char *read_encoding, VR_stream **read_end,
                                 const char *write_encoding, VR_stream **write_end,
                                 unsigned options);
/* An output tunnel over a binary output control stream: options 0x8
   binary (else UTF-8 text, lf), 0x2 interactive, 0x4 standard; it is
   line-flushed. */
vrio_t_error_code vr_create_tunneled_stream(VR_stream *control, const char *name, VR_stream **out,
                                            unsigned options);

/* Quoting of tunnel data: a line feed is 0, 0 is 1 2, 1 is 1 1 and a
   carriage return 1 3.  Unquoting works in place and returns the new
   length, VRIO_E_ENCODING_INVALID for 1 followed by another byte and
   VRIO_E_NOT_ENOUGH_DATA for a 1 at the end. */
std::size_t tunnel_stream_quoted_length(const unsigned char *bytes, std::size_t len);
unsigned char *tunnel_stream_quote(const unsigned char *bytes, std::size_t len, unsigned char *out);
long tunnel_stream_unquote(unsigned char *bytes, std::size_t len);
long tunnel_stream_unquoted_length(const unsigned char *bytes, std::size_t len);

/* $open_tunnel_stream(+Control, +Name, +Bits, -Stream): bit 0x4 an
   input tunnel fed by the control stream's listener (control_listener.h),
   else an output tunnel. */
int prolog_open_tunnel_stream(worker *w);

#endif
