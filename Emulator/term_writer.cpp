/* term_writer.cpp: the principal parts of written terms (term_writer.h).
 *
 * Quoting is decided by the atom record's flags, set when the atom was
 * made (classify_atom): needs_quoting, needs_escaping, is_ascii.  Inside
 * quotes a quote or backslash is escaped with a backslash (never doubled),
 * layout other than a space and undecided characters by their escapes, so
 * that every quoted atom reads back as itself on any stream.
 *
 * While a node is written the stream tolerates an interrupted flush (flag
 * SF_INTERRUPT_TOLERANT): an interrupt arriving in the middle of an atom
 * must not leave half of it written and the write failed.
 */
#include "term_writer.h"

#include <cstdio>
#include <cstring>

#include "atoms.h"
#include "chartype.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "number_text.h"
#include "streams.h"
#include "support.h"
#include "terms.h"
#include "worker.h"

namespace {

/* The options term, or 0 when t is not a compound of the options' arity:
   every argument the writer reads must exist. */
TAGGED options_of(TAGGED t)
{
  if (t == 0)
    return 0;
  t = deref(t);
  if (!IsStructure(t) || !IsFunctor(TagToSTR(t)[0]) || Arity(TagToSTR(t)[0]) < WRITE_OPTIONS_ARITY)
    return 0;
  return t;
}

bool quoted(TAGGED style) { return style != 0 && deref(TagToSTR(style)[1]) == MakeAtom(atom_true_enum); }

bool portable(TAGGED style)
{
  const TAGGED set = style != 0 ? deref(TagToSTR(style)[8]) : eglobal->current_quoted_charset_flag;
  return set == MakeAtom(atom_portable_enum);
}

vrio_t_error_code put_text(VR_stream *s, const char *text) { return VR_put_encoded_string(s, text, 0); }

vrio_t_error_code put_code(VR_stream *s, int code)
{
  vr_t_stream_buf_info_text &out = s->pub.output_text;
  if (out.ptr < out.limit) {
    *out.ptr++ = code;
    return VRIO_S_NOERR;
  }
  const int rc = vr_put_code_helper(s, code, 0);
  return rc < 0 ? static_cast<vrio_t_error_code>(rc) : VRIO_S_NOERR;
}

/* One character of a quoted atom. */
vrio_t_error_code put_quoted_char(VR_stream *s, int c, bool portable_set)
{
  if (c == '\'' || c == '\\') {
    vrio_t_error_code rc = put_code(s, '\\');
    return rc < 0 ? rc : put_code(s, c);
  }
  if (c == ' ')
    return put_code(s, c);
  const int type = ch_type(c);
  bool escape = type == CH_WHITE || type == CH_UNDECIDED || (portable_set && c > 127);
  if (escape && type == CH_UNDECIDED && !portable_set &&
      vrio_unicode_nfc_quick_check_yes(static_cast<std::uint32_t>(c)) == 1)
    escape = false;
  if (!escape)
    return put_code(s, c);
  const char *named = nullptr;
  switch (c) {
  case 7: named = "\\a"; break;
  case 8: named = "\\b"; break;
  case 9: named = "\\t"; break;
  case 10: named = "\\n"; break;
  case 11: named = "\\v"; break;
  case 12: named = "\\f"; break;
  case 13: named = "\\r"; break;
  case 27: named = "\\e"; break;
  case 127: named = "\\d"; break;
  default: break;
  }
  if (named != nullptr)
    return put_text(s, named);
  char buf[16];
  std::snprintf(buf, sizeof buf, "\\x%X\\", static_cast<unsigned>(c));
  return put_text(s, buf);
}

/* The next character of internal text; a malformed sequence counts as
   code 128 and one byte. */
const char *next_code(const char *p, int *code)
{
  const int n = VR_wci_code(code, p);
  if (n <= 0) {
    *code = 128;
    return p + 1;
  }
  return p + n;
}

/* Runs the write of one node with interrupted flushes tolerated. */
template <typename F> vrio_t_error_code tolerant(VR_stream *s, F write)
{
  const std::uint32_t before = s->flags & SF_INTERRUPT_TOLERANT;
  s->flags |= SF_INTERRUPT_TOLERANT;
  const vrio_t_error_code rc = write();
  s->flags = (s->flags & ~SF_INTERRUPT_TOLERANT) | before;
  return rc;
}

} // namespace

vrio_t_error_code print_variable(VR_stream *s, TAGGED var)
{
  char *buf = ensure_atom_buffers(BASE_ATOMBUF, 256);
  buf[0] = '_';
  const VR_INTEGER offset = static_cast<VR_INTEGER>(TagToPointer(var) - self->heap_start);
  vr_ltostr(offset, 10, buf + 1);
  return put_text(s, buf);
}

vrio_t_error_code print_number(VR_stream *s, TAGGED number, TAGGED style)
{
  const char *text = vr_number_to_string(number, 10, style);
  return text == nullptr ? VRIO_E_PARAMETER_ERROR : put_text(s, text);
}

vrio_t_error_code print_atom(VR_stream *s, TAGGED atom_word, TAGGED style)
{
  const atom *a = atom_record(atom_word);
  const bool portable_set = portable(style);
  if (!a->needs_quoting && (a->is_ascii || !portable_set))
    return put_text(s, a->name);
  vrio_t_error_code rc = put_code(s, '\'');
  if (rc < 0)
    return rc;
  if (a->needs_escaping || (!a->is_ascii && portable_set)) {
    for (const char *p = a->name; *p != '\0';) {
      int c;
      p = next_code(p, &c);
      if ((rc = put_quoted_char(s, c, portable_set)) < 0)
        return rc;
    }
  } else if ((rc = put_text(s, a->name)) < 0) {
    return rc;
  }
  return put_code(s, '\'');
}

vrio_t_error_code output_term(TAGGED t, TAGGED style, VR_stream *s)
{
  style = options_of(style);
  return tolerant(s, [&]() -> vrio_t_error_code {
    TAGGED name;
    if (IsVar(t))
      return print_variable(s, t);
    if (IsList(t))
      return put_code(s, '.');
    if (IsSmall(t))
      return print_number(s, t, style);
    if (IsStructure(t)) {
      const TAGGED head = TagToSTR(t)[0];
      if (IsBoxHeader(head))
        return print_number(s, t, style);
      name = FunctorName(head);
    } else {
      name = t;
    }
    if (style != 0 && quoted(style))
      return print_atom(s, name, style);
    return put_text(s, atom_name(name));
  });
}

namespace {

/* Resolves the stream and writes; errors are raised in the context of
   `pred`/2, as the library's writer reports them against its stream. */
int write_builtin(worker *w, TAGGED style, const char *pred)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_OUTPUT | SM_TEXT, 0);
  if (s == nullptr) {
    raise_error("prolog", pred, 2, 1);
    return 0;
  }
  const vrio_t_error_code rc = output_term(deref(w->term[1]), style, s);
  if (rc < 0) {
    raise_vrio_error(rc, 1, pred, 2, 1);
    return 0;
  }
  return 1;
}

} // namespace

int prolog_write3(worker *w) { return write_builtin(w, w->term[2], "$writeq"); }
int prolog_display2(worker *w) { return write_builtin(w, 0, "$write"); }

/* ---- The debug printer ---- */

void wr_tagged_rec(TAGGED t, int depth)
{
  VR_stream *err = eglobal->stream_user_error;
  if (depth >= 10) {
    vr_ttyprintf("...");
    return;
  }
  t = deref(t);
  if (IsVar(t)) {
    if (err != nullptr)
      print_variable(err, t);
    else
      vr_ttyprintf("_%ld", static_cast<long>(TagToPointer(t) - self->heap_start));
    return;
  }
  if (IsList(t)) {
    vr_ttyprintf("[");
    wr_tagged_rec(TagToLST(t)[0], depth + 1);
    TAGGED tail = deref(TagToLST(t)[1]);
    while (IsList(tail)) {
      vr_ttyprintf(",");
      wr_tagged_rec(TagToLST(tail)[0], depth + 1);
      tail = deref(TagToLST(tail)[1]);
    }
    if (tail != atom_nil) {
      vr_ttyprintf("|");
      wr_tagged_rec(tail, depth + 1);
    }
    vr_ttyprintf("]");
    return;
  }
  if (IsStructure(t) && !IsBoxHeader(TagToSTR(t)[0])) {
    /* The name belongs to this level; the arguments are one deeper. */
    const TAGGED f = TagToSTR(t)[0];
    wr_tagged_rec(FunctorName(f), depth);
    vr_ttyprintf("(");
    for (unsigned i = 1; i <= Arity(f); ++i) {
      if (i > 1)
        vr_ttyprintf(",");
      wr_tagged_rec(TagToSTR(t)[i], depth + 1);
    }
    vr_ttyprintf(")");
    return;
  }
  if (err == nullptr) {
    const char *text = IsAtom(t) ? atom_name(t) : vr_number_to_string(t, 10, 0);
    vr_ttyprintf("%s", text != nullptr ? text : "?");
    return;
  }
  if (IsAtom(t))
    print_atom(err, t, 0);
  else
    print_number(err, t, 0);
}

void wr_tagged(TAGGED t)
{
  wr_tagged_rec(t, 0);
  vr_ttyprintf("\n");
  vr_ttyflush();
}
