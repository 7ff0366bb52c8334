/* control_listener.h: the listener of the development environment's
 * control stream, and listeners on the readable event of a stream.
 *
 * The environment sends lines on a binary control stream: commands
 * ("REQUEST n suspend", "TUNNEL APPEND name data", "TUNNEL CLOSE name")
 * and anything else.  $add_stream_listener/2 makes a listener record for
 * the control stream: a background listener notices input and schedules
 * a work item, which reads the lines on the engine thread, acts on the
 * commands, feeds input tunnels (pipes that Prolog reads) and passes
 * every line on to a pass-through pipe.  When the control stream ends,
 * fails or brings a malformed command, the record dies and its streams
 * are closed (its pipes' readers see end of file).
 *
 * The I/O library has one event-listener thread, so one stream at a time
 * has a readable-event listener: attaching one detaches another.
 * Engine thread only, except tessik_control_stream_input_listener, which
 * the listener thread calls.
 */
#ifndef VOSTREL_CONTROL_LISTENER_H
#define VOSTREL_CONTROL_LISTENER_H

#include "streams.h"

struct worker;

/* Attaches `listener` to the readable event of the input stream `s`
   (option 0x1 required, `s` registered, else VRIO_E_PARAMETER_ERROR).
   When input is there at once the listener is called with 0x1 and then
   with 0x3 instead, and the result is VRIO_S_DONE, or 1 when the second
   call answered an error.  Otherwise the stream gets SF_LISTENER and the
   listener is called with 0 from the listener thread when input comes,
   and with 0x2, its last call, when it is removed. */
vrio_t_error_code vr_add_stream_listener(VR_stream *s, vrio_t_event_listener listener, void *data,
                                         unsigned options);
/* VRIO_E_NOT_FOUND for a stream without SF_LISTENER. */
vrio_t_error_code vr_remove_stream_listener(VR_stream *s, vrio_t_event_listener listener, void *data,
                                            unsigned options);

/* The listener of a control stream's records (see the file comment). */
vrio_t_error_code tessik_control_stream_input_listener(void *data, vrio_t_bits options);

/* A listener made the pass-through pipe's read end (a UTF-8 text stream)
   for the binary input stream `control`. */
vrio_t_error_code vr_add_control_listener(VR_stream *control, VR_stream **pass_through);

/* The read end of the input tunnel `name` of the listener of `control`:
   options 0x8 binary (else UTF-8 text), 0x2 interactive, 0x1 standard.
   VRIO_E_NOT_FOUND when `control` has no listener, VRIO_E_INVALID_STATE
   when the tunnel has been opened already. */
vrio_t_error_code vr_open_input_tunnel(VR_stream *control, const char *name, VR_stream **in,
                                       unsigned options);

/* $add_stream_listener(+Control, -Pipe). */
int prolog_add_stream_listener(worker *w);

#endif
