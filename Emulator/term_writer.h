/* term_writer.h: the native half of term output.
 *
 * The runtime library's writer (Emulator/lib/write.pl) walks a term and
 * decides operators, brackets and spacing; the native code writes only the
 * principal part of one node: a variable's name, a number, an atom (quoted
 * and escaped when asked), or a compound term's or list's functor name.
 *
 * The write options term that $write/3 takes is a compound term of at least
 * WRITE_OPTIONS_ARITY arguments (shorter ones count as no options):
 *   1 quoted (true or false)          8 the quoted character set (portable
 *   2-7 the Prolog writer's own         or anything else)
 *                                     9 float_format(Letter, N): the float
 *                                       directive and argument for numbers
 * Without options the quoted character set is the Prolog flag's.
 *
 * Also here: a small recursive printer of terms on the standard error
 * stream for debugging (wr_tagged).  Engine thread only.
 */
#ifndef VOSTREL_TERM_WRITER_H
#define VOSTREL_TERM_WRITER_H

#include "termdefs.h"
#include "vostrel/vrio.h"

struct worker;
typedef struct vr_t_vrio_stream_node_ VR_stream;

constexpr unsigned WRITE_OPTIONS_ARITY = 9;

/* Writes the principal part of the dereferenced term t; style is the
   options term or 0.  0, or the I/O error code of the first failing
   output step.  An interrupted flush does not end the write. */
vrio_t_error_code output_term(TAGGED t, TAGGED style, VR_stream *s);

/* The three leaf writers (0 or an I/O error code). */
vrio_t_error_code print_variable(VR_stream *s, TAGGED var);
vrio_t_error_code print_atom(VR_stream *s, TAGGED atom, TAGGED style);
vrio_t_error_code print_number(VR_stream *s, TAGGED number, TAGGED style);

/* $write(+Stream, +Term, +Options) and $display(+Stream, +Term). */
int prolog_write3(worker *w);
int prolog_display2(worker *w);

/* The debug printer: the term on standard error, "..." from depth 10 on,
   then a newline and a flush. */
void wr_tagged(TAGGED t);
void wr_tagged_rec(TAGGED t, int depth);

#endif
