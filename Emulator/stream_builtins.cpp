/* stream_builtins.cpp: the native stream built-ins of module prolog and
 * the conversion of I/O-library codes into recorded Prolog errors.
 *
 * Each built-in converts its stream argument with stream_to_ptr, asking
 * for the mode it needs; a quiet built-in fails where the others raise
 * the recorded error against the argument named in the row.  Built-ins
 * whose names end in _fail_on_interrupt fail without an error when the
 * I/O library reports an interruption, so that the calling Prolog
 * predicate lets the engine handle it and tries again; every other error
 * is raised.  The fast paths and the buffered readers never block, flush
 * or raise: their failure sends the caller to the slow built-in.
 *
 * The runtime library (Emulator/lib/streams.pl) maps the recorded error
 * types to ISO exception terms (docs/error_terms.md).
 * Engine thread only.
 */
#include <cstring>

#include "atom_text.h"
#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "instance.h"
#include "predicates.h"
#include "stack_growth.h"
#include "streams.h"
#include "support.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

/* An integer small or boxed in one word. */
bool word_integer(TAGGED t, std::int64_t *v)
{
  t = deref(t);
  if (IsSmall(t)) {
    *v = GetSmall(t);
    return true;
  }
  if (IsStructure(t) && IsBoxHeader(*TagToSTR(t)) && !BoxIsFloat(*TagToSTR(t)) &&
      BoxPayload(*TagToSTR(t)) == 1) {
    *v = static_cast<std::int32_t>(TagToSTR(t)[1]);
    return true;
  }
  return false;
}

namespace {

/* Error types of the stream layer. */
constexpr int ERR_NOT_A_STREAM = 2306;
constexpr int ERR_PAST_END = 260;
constexpr int ERR_NOT_A_CODE = 514;
constexpr int ERR_NOT_A_BYTE = 2;
constexpr int ERR_NOT_AN_INTEGER = 1025;
constexpr int ERR_NEGATIVE = 1281;
constexpr int ERR_ACCESS = 774;
constexpr int ERR_ACCESS_WRITING = 1030;
constexpr int ERR_NOT_FOUND = 1284;
constexpr int ERR_NO_REPOSITION = 1286;
constexpr int ERR_SYSTEM = 5;

bool integer_value(TAGGED t, std::int64_t *v)
{
  t = deref(t);
  if (IsSmall(t)) {
    *v = GetSmall(t);
    return true;
  }
  if (IsStructure(t) && IsBoxHeader(*TagToSTR(t)) && !BoxIsFloat(*TagToSTR(t)) &&
      BoxPayload(*TagToSTR(t)) <= 2) {
    *v = vri_get_int64(t);
    return true;
  }
  return false;
}

/* The stream of a fast path or buffered reader: the current input or
   output for an unbound argument, '$stream'(A), or a designator; quiet. */
VR_stream *fast_stream(TAGGED t, unsigned mode, bool input)
{
  t = deref(t);
  if (IsVar(t)) {
    VR_stream *s = input ? eglobal->input_stream_ptr : eglobal->output_stream_ptr;
    return s != nullptr && (s->mode & mode) == mode ? s : nullptr;
  }
  if (IsStructure(t) && TagToSTR(t)[0] == MakeFunctor(MakeAtom(atom_Dstream_enum), 1))
    t = deref(TagToSTR(t)[1]);
  return stream_to_ptr(t, mode | SM_QUIET, 0);
}

bool unify_int64(worker *w, TAGGED where, std::int64_t v)
{
  return cunify(w, where, make_integer_term(w, v));
}

/* Raises the error that stream_to_ptr recorded. */
int raise_stream_error(const char *name, int arity, int argno)
{
  raise_error("prolog", name, arity, argno);
  return 0;
}

int old_new(worker *w, VR_stream **slot, unsigned mode)
{
  if (*slot == nullptr || !cunify(w, w->term[0], stream_address_term(w, *slot)))
    return 0;
  VR_stream *s = stream_to_ptr(w->term[1], mode | SM_QUIET, 0);
  if (s == nullptr)
    return 0;
  *slot = s;
  return 1;
}

} // namespace

void save_vrio_error(vrio_t_error_code code, int writeop, TAGGED culprit)
{
  switch (code) {
  case VRIO_E_FILE_EXISTS:
  case VRIO_E_FILE_ACCESS:
  case VRIO_E_PERMISSION_ERROR:
    save_error(writeop ? ERR_ACCESS_WRITING : ERR_ACCESS, "", culprit);
    return;
  case VRIO_E_FILE_NOT_FOUND:
    save_error(ERR_NOT_FOUND, "", culprit);
    return;
  case VRIO_E_SEEK_ERROR:
    save_error(ERR_NO_REPOSITION, "", culprit);
    return;
  case VRIO_E_INTERNAL_ERROR:
    save_error(ERR_SYSTEM, "internal error", culprit);
    return;
  case VRIO_E_INTERRUPTED:
    save_error(ERR_SYSTEM, "interrupted", culprit);
    return;
  default: {
    const char *name = vrio_error_name(code);
    save_error(ERR_SYSTEM, name != nullptr && name[0] != '(' ? name : nullptr, culprit);
  }
  }
}

void raise_vrio_error(vrio_t_error_code code, int writeop, const char *name, int arity, int argno)
{
  if (argno > arity)
    argno = 0;
  const TAGGED culprit = argno >= 1 ? deref(self->term[argno - 1]) : MakeSmall_checked(0);
  save_vrio_error(code, writeop, culprit);
  raise_error("prolog", name, arity, argno);
}

/* $stream_code(?S, ?Code) */
int prolog_stream_code(worker *w)
{
  const TAGGED t = deref(w->term[0]);
  if (!IsVar(t)) {
    if (VR_stream *s = stream_to_ptr(t, SM_ANY | SM_QUIET, 0))
      return cunify(w, w->term[1], stream_address_term(w, s));
  }
  VR_stream *s = stream_to_ptr(w->term[1], SM_ANY | SM_QUIET, 0);
  return s != nullptr && cunify(w, w->term[0], stream_address_term(w, s));
}

/* $stream_id(+S, ?Id) */
int prolog_stream_id(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY | SM_QUIET, 0);
  return s != nullptr && s->id > 0 && unify_int64(w, w->term[1], s->id);
}

/* $stream_flags(+S, ?Mode) */
int prolog_stream_flags(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY | SM_QUIET, 0);
  return s != nullptr && cunify(w, w->term[1], MakeSmall_checked(static_cast<VR_INTEGER>(s->mode)));
}

/* $set_stream_flags(+S, +Bits) */
int prolog_set_stream_flags(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY | SM_QUIET, 0);
  std::int64_t bits;
  if (s == nullptr || !integer_value(w->term[1], &bits))
    return 0;
  if (bits & SM_CLOSE_CLEANUP) {
    s->flags |= SF_CLOSE_CLEANUP;
    resync_stream_mode(s);
  }
  return 1;
}

int prolog_stdinput(worker *w) { return old_new(w, &eglobal->stream_user_input, SM_INPUT); }
int prolog_stdoutput(worker *w) { return old_new(w, &eglobal->stream_user_output, SM_OUTPUT); }
int prolog_stderror(worker *w) { return old_new(w, &eglobal->stream_user_error, SM_OUTPUT); }
int prolog_input(worker *w) { return old_new(w, &eglobal->input_stream_ptr, SM_INPUT); }
int prolog_output(worker *w) { return old_new(w, &eglobal->output_stream_ptr, SM_OUTPUT); }

/* $stream_count(+S, ?Items, ?Lines, ?LinePos) */
int prolog_stream_count(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY, 0);
  if (s == nullptr)
    return raise_stream_error("$stream_count", 4, 1);
  std::int64_t items, lines, pos;
  vrio_t_error_code rc = VR_get_stream_counts(s, &items, &lines, &pos, 0);
  if (rc < 0) {
    raise_vrio_error(rc, 0, "$stream_count", 4, 1);
    return 0;
  }
  return unify_int64(w, w->term[1], items) && unify_int64(w, w->term[2], lines) &&
         unify_int64(w, w->term[3], pos);
}

/* $stream_offset(+S, ?Offset) */
int prolog_stream_offset(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY, 0);
  if (s == nullptr)
    return raise_stream_error("$stream_offset", 2, 1);
  std::int64_t items;
  vrio_t_error_code rc = VR_get_stream_counts(s, &items, nullptr, nullptr, 0);
  if (rc < 0) {
    raise_vrio_error(rc, 0, "$stream_offset", 2, 1);
    return 0;
  }
  return unify_int64(w, w->term[1], items);
}

/* $stream_set_line_count(+S, +N) */
int prolog_stream_set_line_count(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY, 0);
  if (s == nullptr)
    return raise_stream_error("$stream_set_line_count", 2, 1);
  std::int64_t n;
  if (!integer_value(w->term[1], &n)) {
    save_error(ERR_NOT_AN_INTEGER, "integer", deref(w->term[1]));
    return raise_stream_error("$stream_set_line_count", 2, 2);
  }
  if (n < 0) {
    save_error(ERR_NEGATIVE, "", deref(w->term[1]));
    return raise_stream_error("$stream_set_line_count", 2, 2);
  }
  sync_stream_counters(s, 0x1);
  if (!(s->flags & SF_TEXT)) {
    if (n == 0)
      return 1;
    raise_vrio_error(VRIO_E_PARAMETER_ERROR, 0, "$stream_set_line_count", 2, 1);
    return 0;
  }
  VR_stream *target = (s->flags & SF_INTERACTIVE) && eglobal->root_stream_ptr != nullptr
                          ? eglobal->root_stream_ptr
                          : s;
  target->newline_count = n;
  target->line_length = 0;
  return 1;
}

/* $set_stream_position(+S, +Chars, +Lines, +LinePos, +Bytes) */
int prolog_set_stream_position(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY, 0);
  if (s == nullptr)
    return raise_stream_error("$stream_set_stream_position", 5, 1);
  std::int64_t v[4];
  for (int i = 0; i < 4; i++) {
    if (!integer_value(w->term[i + 1], &v[i]) || v[i] < 0) {
      raise_vrio_error(VRIO_E_PARAMETER_ERROR, 0, "$stream_set_stream_position", 5, i + 2);
      return 0;
    }
  }
  if (!(s->mode & SM_REPOSITIONABLE))
    return 0;
  vrio_t_error_code rc = set_stream_position(s, v[0], v[1], v[2], 0);
  if (rc < 0 && rc != VRIO_E_PERMISSION_ERROR) {
    save_vrio_error(rc, 0, deref(w->term[0]));
    return raise_stream_error("$stream_set_stream_position", 5, 1);
  }
  return 1;
}

/* $seek(+S, +Offset, +Method, -New) */
int prolog_seek(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY | SM_QUIET, 0);
  std::int64_t offset;
  const TAGGED method = deref(w->term[2]);
  if (s == nullptr || !integer_value(w->term[1], &offset) || !IsAtom(method))
    return 0;
  unsigned options;
  const char *m = atom_name(method);
  if (std::strcmp(m, "bof") == 0)
    options = 0x3;
  else if (std::strcmp(m, "current") == 0)
    options = 0x5;
  else if (std::strcmp(m, "eof") == 0)
    options = 0x9;
  else
    return 0;
  if (set_stream_position(s, offset, 0, 0, options) < 0)
    return 0;
  return unify_int64(w, w->term[3], s->item_offset);
}

/* $save_stream_position(+Pred, +V1, +V2, +V3, +V4): stores V1..V4 as the
   arguments of the compound that is the eighth argument of the head of
   the first clause of the dynamic predicate Pred.  Every offset read from
   the clause image is checked against the image and against the shape
   of the terms it must lead to; anything else fails without writing. */
int prolog_save_stream_position(worker *w)
{
  TAGGED v[5];
  for (int i = 0; i < 5; i++) {
    v[i] = deref(w->term[i]);
    if (!IsSmall(v[i]))
      return 0;
  }
  definition *d = definition_of_word(v[0]);
  if (d == nullptr || predtyp(d) != ENTER_INTERPRETED || d->proc.code.intinfo == nullptr)
    return 0;
  instance *ins = d->proc.code.intinfo->first;
  if (ins == nullptr || ins->death != INSTANCE_ALIVE || ins->objsize % 4 != 0 ||
      ins->objsize < INSTANCE_HEADER_BYTES + 8)
    return 0;
  const std::uint32_t n = instance_words(ins);
  TAGGED *code = ins->code;
  /* The word at byte objsize - 8 is the head: a structure whose offset
     (from the image's start, in bytes) lies inside the image. */
  auto compound_at = [&](TAGGED word, unsigned min_arity, std::uint32_t *index) {
    if (!IsStructure(word))
      return false;
    const std::uint32_t byte_offset = word - STR_TAG;
    if (byte_offset % 4 != 0 || byte_offset / 4 >= n)
      return false;
    const std::uint32_t at = byte_offset / 4;
    const TAGGED functor = code[at];
    if ((functor & 7) != ATOM_TAG)
      return false;
    const unsigned arity = functor >> 23;
    if (arity < min_arity || at + arity >= n)
      return false;
    *index = at;
    return true;
  };
  std::uint32_t head, position;
  if (!compound_at(code[n - 2], 8, &head) || !compound_at(code[head + 8], 4, &position))
    return 0;
  for (int i = 1; i <= 4; i++)
    code[position + static_cast<std::uint32_t>(i)] = v[i];
  return 1;
}

namespace {

int unget_builtin(worker *w, bool text)
{
  const char *name = text ? "$unget_code" : "$unget_byte";
  VR_stream *s = stream_to_ptr(w->term[0], SM_INPUT | (text ? SM_TEXT : SM_BINARY), 0);
  if (s == nullptr)
    return raise_stream_error(name, 3, 1);
  std::int64_t item;
  if (!integer_value(w->term[1], &item)) {
    save_error(ERR_NOT_AN_INTEGER, "integer", deref(w->term[1]));
    return raise_stream_error(name, 3, 2);
  }
  vrio_t_error_code rc = text ? unget_code(s, static_cast<int>(item)) : unget_byte(s, static_cast<int>(item));
  if (rc < 0) {
    raise_vrio_error(rc, 0, name, 3, 2);
    return 0;
  }
  return 1;
}

} // namespace

int prolog_unget_code(worker *w) { return unget_builtin(w, true); }
int prolog_unget_byte(worker *w) { return unget_builtin(w, false); }

/* $flush_output_fail_on_interrupt(+S, +Opts) */
int prolog_flush_output_fail_on_interrupt(worker *w)
{
  const TAGGED opts = deref(w->term[1]);
  if (!IsSmall(opts)) {
    save_error(ERR_NOT_AN_INTEGER, "integer", opts);
    return raise_stream_error("$flush_output", 2, 2);
  }
  VR_stream *s = stream_to_ptr(w->term[0], SM_OUTPUT, 0);
  if (s == nullptr)
    return raise_stream_error("$flush_output", 2, 1);
  vrio_t_error_code rc;
  if (GetSmall(opts) & 0x100) {
    if (!(s->flags & SF_LINE_FLUSHED) || suppress_autoflush)
      return 1;
    rc = vr_flush_output(s, 0x2 | ((s->flags & SF_NONBLOCKING_OUT) ? 0x1 : 0));
    if (rc == VRIO_E_WOULD_BLOCK)
      rc = VRIO_S_NOERR;
  } else {
    rc = VR_flush_output(s, 0);
  }
  if (rc == VRIO_E_INTERRUPTED)
    return 0;
  if (rc < 0) {
    raise_vrio_error(rc, 1, "$flush_output", 2, 1);
    return 0;
  }
  return 1;
}

/* $close_fail_on_interrupt(+S, +Opts) */
int prolog_close_fail_on_interrupt(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY, 0);
  if (s == nullptr)
    return raise_stream_error("$close", 2, 1);
  std::int64_t opts;
  unsigned options = 0;
  if (word_integer(w->term[1], &opts) && opts >= 0)
    options = ((opts & 1) ? VR_CLOSE_FORCE : 0) | ((opts & 2) ? VR_CLOSE_STANDARD : 0) |
              ((opts & 4) ? VR_CLOSE_INPUT : 0) | ((opts & 8) ? VR_CLOSE_OUTPUT : 0);
  vrio_t_error_code rc = vr_fclose_internal(s, options);
  if (rc == VRIO_E_INTERRUPTED)
    return 0;
  if (rc < 0) {
    raise_vrio_error(rc, 1, "$close", 2, 2);
    return 0;
  }
  return 1;
}

namespace {

int get_builtin(worker *w, bool text)
{
  const char *name = text ? "$get_code" : "$get_byte";
  const TAGGED opts = deref(w->term[2]);
  if (!IsSmall(opts)) {
    save_error(ERR_NOT_AN_INTEGER, "integer", opts);
    return raise_stream_error(name, 3, 3);
  }
  VR_stream *s = stream_to_ptr(w->term[0], SM_INPUT | (text ? SM_TEXT : SM_BINARY), 0);
  if (s == nullptr)
    return raise_stream_error(name, 3, 1);
  int c;
  if (text)
    c = s->pub.input_text.ptr < s->pub.input_text.limit ? *s->pub.input_text.ptr++ : vr_get_code_helper(s, 0);
  else
    c = s->pub.input_binary.ptr < s->pub.input_binary.limit ? *s->pub.input_binary.ptr++
                                                          : vr_get_byte_helper(s, 0);
  if (c == VRIO_E_INTERRUPTED)
    return 0;
  if (c < -1) {
    raise_vrio_error(static_cast<vrio_t_error_code>(c), 0, name, 3, 1);
    return 0;
  }
  if (c == -1 && (s->flags & SF_PAST_EOF)) {
    save_error(ERR_PAST_END, "", MakeSmall_checked(0));
    return raise_stream_error(name, 3, 1);
  }
  if (GetSmall(opts) & 0x100) {
    vrio_t_error_code rc = text ? unget_code(s, c) : unget_byte(s, c);
    if (rc == VRIO_E_INTERRUPTED)
      return 0;
    if (rc < 0) {
      raise_vrio_error(rc, 0, name, 3, 1);
      return 0;
    }
  }
  return cunify(w, w->term[1], make_integer_term(w, c));
}

int put_builtin(worker *w, bool text)
{
  const char *name = text ? "$put_code" : "$put_byte";
  const TAGGED item = deref(w->term[1]);
  std::int64_t v = 0;
  if (text) {
    if (!integer_value(item, &v) || v < 0 || v > 0x7FFFFFFF) {
      save_error(ERR_NOT_A_CODE, "", item);
      return raise_stream_error(name, 3, 2);
    }
  } else {
    if (!IsSmall(item)) {
      save_error(ERR_NOT_AN_INTEGER, "integer", item);
      return raise_stream_error(name, 3, 2);
    }
    v = GetSmall(item);
    if (v < 0 || v > 255) {
      save_error(ERR_NOT_A_BYTE, "byte", item);
      return raise_stream_error(name, 3, 2);
    }
  }
  VR_stream *s = stream_to_ptr(w->term[0], SM_OUTPUT | (text ? SM_TEXT : SM_BINARY), 0);
  if (s == nullptr)
    return raise_stream_error(name, 3, 1);
  int rc;
  if (text) {
    vr_t_stream_buf_info_text &out = s->pub.output_text;
    rc = out.ptr < out.limit ? (*out.ptr++ = static_cast<int>(v)) : vr_put_code_helper(s, static_cast<int>(v), 0);
  } else {
    vr_t_stream_buf_info_binary &out = s->pub.output_binary;
    rc = out.ptr < out.limit ? (*out.ptr++ = static_cast<unsigned char>(v))
                             : vr_put_byte_helper(s, static_cast<int>(v), 0);
  }
  if (rc == VRIO_E_INTERRUPTED)
    return 0;
  if (rc < 0) {
    raise_vrio_error(static_cast<vrio_t_error_code>(rc), 1, name, 3, 1);
    return 0;
  }
  const TAGGED opts = deref(w->term[2]);
  if ((s->flags & SF_LINE_FLUSHED) && IsSmall(opts) && (GetSmall(opts) & 0x100) && !suppress_autoflush) {
    vrio_t_error_code frc = vr_flush_output(s, 0x2 | ((s->flags & SF_NONBLOCKING_OUT) ? 0x1 : 0));
    if (frc < 0 && frc != VRIO_E_WOULD_BLOCK && frc != VRIO_E_INTERRUPTED) {
      raise_vrio_error(frc, 1, name, 3, 1);
      return 0;
    }
  }
  return 1;
}

} // namespace

int prolog_get_code_fail_on_interrupt(worker *w) { return get_builtin(w, true); }
int prolog_get_byte_fail_on_interrupt(worker *w) { return get_builtin(w, false); }
int prolog_put_code_fail_on_interrupt(worker *w) { return put_builtin(w, true); }
int prolog_put_byte_fail_on_interrupt(worker *w) { return put_builtin(w, false); }

namespace {

int fast_get(worker *w, bool text, bool peek)
{
  if (!IsVar(deref(w->term[1])))
    return 0;
  VR_stream *s = fast_stream(w->term[0], SM_INPUT | (text ? SM_TEXT : SM_BINARY), true);
  if (s == nullptr)
    return 0;
  int c;
  if (text) {
    vr_t_stream_buf_info_text &in = s->pub.input_text;
    if (!(in.ptr < in.limit))
      return 0;
    c = peek ? *in.ptr : *in.ptr++;
  } else {
    vr_t_stream_buf_info_binary &in = s->pub.input_binary;
    if (!(in.ptr < in.limit))
      return 0;
    c = peek ? *in.ptr : *in.ptr++;
  }
  return cunify(w, w->term[2], make_integer_term(w, c));
}

int fast_put(worker *w, bool text)
{
  VR_stream *s = fast_stream(w->term[0], SM_OUTPUT | (text ? SM_TEXT : SM_BINARY), false);
  if (s == nullptr || (s->flags & SF_LINE_FLUSHED))
    return 0;
  const TAGGED item = deref(w->term[1]);
  if (!IsSmall(item) || GetSmall(item) < 0 || (!text && GetSmall(item) > 255))
    return 0;
  if (text) {
    vr_t_stream_buf_info_text &out = s->pub.output_text;
    if (!(out.ptr < out.limit))
      return 0;
    *out.ptr++ = GetSmall(item);
  } else {
    vr_t_stream_buf_info_binary &out = s->pub.output_binary;
    if (!(out.ptr < out.limit))
      return 0;
    *out.ptr++ = static_cast<unsigned char>(GetSmall(item));
  }
  return 1;
}

int buffered(worker *w, bool text)
{
  VR_stream *s = fast_stream(w->term[0], SM_INPUT | (text ? SM_TEXT : SM_BINARY), true);
  std::int64_t stop;
  if (s == nullptr || !word_integer(w->term[1], &stop) || stop < -1 || (!text && stop > 255))
    return 0;
  std::size_t n = 0;
  if (text) {
    vr_t_stream_buf_info_text &in = s->pub.input_text;
    if (!(in.ptr < in.limit))
      return 0;
    while (in.ptr + n < in.limit && in.ptr[n] != stop)
      n++;
    const std::int32_t *from = in.ptr;
    in.ptr += n;
    /* The window does not move with the heap: the codes are copied out
       of the stream's buffer, which is not on the heap. */
    const TAGGED list = vr_n_ints_to_list(w, n, from, w->term[3], 1, 0, 4);
    return list != 0 && cunify(w, w->term[2], list);
  }
  vr_t_stream_buf_info_binary &in = s->pub.input_binary;
  if (!(in.ptr < in.limit))
    return 0;
  while (in.ptr + n < in.limit && in.ptr[n] != stop)
    n++;
  const unsigned char *from = in.ptr;
  in.ptr += n;
  const TAGGED list = vr_n_bytes_to_list(w, n, from, w->term[3], 0, 4);
  return list != 0 && cunify(w, w->term[2], list);
}

} // namespace

int prolog_get_code_fast(worker *w) { return fast_get(w, true, false); }
int prolog_peek_code_fast(worker *w) { return fast_get(w, true, true); }
int prolog_get_byte_fast(worker *w) { return fast_get(w, false, false); }
int prolog_peek_byte_fast(worker *w) { return fast_get(w, false, true); }
int prolog_put_code_fast(worker *w) { return fast_put(w, true); }
int prolog_put_byte_fast(worker *w) { return fast_put(w, false); }
int prolog_get_buffered_codes(worker *w) { return buffered(w, true); }
int prolog_get_buffered_bytes(worker *w) { return buffered(w, false); }

/* $end_of_stream(+S, ?State) */
int prolog_end_of_stream(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_INPUT, 0);
  if (s == nullptr)
    return raise_stream_error("$eof", 2, 1);
  const char *state = "not";
  if (s->flags & SF_AT_EOF) {
    state = "past";
  } else {
    const unsigned peek = VR_IO_NONBLOCKING | VR_IO_PEEK | VR_IO_NO_RESTART;
    const int c = (s->flags & SF_TEXT) ? vr_get_code_helper(s, peek) : vr_get_byte_helper(s, peek);
    if (c == -1)
      state = "at";
  }
  return cunify(w, w->term[1], init_atom_check(state, 0));
}

/* $next_stream(?FileName, ?Mode, ?S, +Exclude, +Mask) */
int prolog_next_stream(worker *w)
{
  const TAGGED mask_term = deref(w->term[4]);
  if (!IsSmall(mask_term) || GetSmall(mask_term) < 0)
    return 0;
  const auto mask = static_cast<std::uint32_t>(GetSmall(mask_term));
  VR_stream *found = nullptr;
  if (!IsVar(deref(w->term[2]))) {
    VR_stream *s = stream_to_ptr(w->term[2], SM_ANY | SM_QUIET, 0);
    if (s != nullptr && (s->mode & mask) == 0 && !(s->mode & SM_HIDDEN))
      found = s;
  } else if (VR_stream *root = eglobal->root_stream_ptr) {
    for (VR_stream *s = root->forward; s != root && found == nullptr; s = s->forward) {
      if ((s->mode & (mask | SM_HIDDEN)) != 0)
        continue;
      bool excluded = false;
      for (TAGGED l = deref(w->term[3]); IsList(l) && !excluded; l = deref(TagToLST(l)[1])) {
        std::int64_t a;
        if (word_integer(TagToLST(l)[0], &a) &&
            static_cast<std::uint32_t>(a) == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(s)))
          excluded = true;
      }
      if (!excluded)
        found = s;
    }
  }
  if (found == nullptr)
    return 0;
  const char *mode = "read";
  if ((found->flags & SF_INPUT) && (found->flags & SF_OUTPUT))
    mode = "readwrite";
  else if (found->flags & SF_APPEND)
    mode = "append";
  else if (found->flags & SF_OUTPUT)
    mode = "write";
  const TAGGED file = found->filename_atom != 0 ? found->filename_atom : init_atom_check("", 0);
  return cunify(w, w->term[2], stream_address_term(w, found)) && cunify(w, w->term[0], file) &&
         cunify(w, w->term[1], init_atom_check(mode, 0));
}

/* $stream_properties(+S, ?ReadEnc, ?WriteEnc, ?Bits) */
int prolog_stream_properties(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_ANY, 0);
  if (s == nullptr)
    return raise_stream_error("$stream_properties", 4, 1);
  TAGGED enc[2] = {atom_nil, atom_nil};
  std::uint32_t bits = 0;
  if (s->flags & SF_BINARY)
    bits |= 0x1;
  if (s->flags & SF_TEXT) {
    bits |= 0x2;
    for (int side = 0; side < 2; side++) {
      if (!(s->flags & (side == 0 ? SF_INPUT : SF_OUTPUT)) || s->vrio == nullptr)
        continue;
      const char *name = nullptr;
      if (vrio_ioctl_get_encoding_name(&s->vrio, &name, side == 0 ? 2 : 4) >= 0 && name != nullptr) {
        const TAGGED a = init_atom_check(name, 0);
        if (a != 0)
          enc[side] = a;
      }
    }
    if (s->flags & SF_INPUT) {
      if (s->flags & SF_BOM)
        bits |= 0x4;
      if (s->flags & SF_IN_CRLF)
        bits |= 0x8;
      if (s->flags & SF_IN_AUTO)
        bits |= 0x10;
    }
    if (s->flags & SF_OUTPUT) {
      if (s->flags & SF_OUT_CRLF)
        bits |= 0x20;
      if (s->flags & SF_OUT_AUTO)
        bits |= 0x40;
    }
  }
  if (s->flags & SF_LINE_FLUSHED)
    bits |= 0x80;
  if (s->flags & SF_INTERACTIVE)
    bits |= 0x100;
  return cunify(w, w->term[1], enc[0]) && cunify(w, w->term[2], enc[1]) &&
         cunify(w, w->term[3], MakeSmall_checked(static_cast<VR_INTEGER>(bits)));
}

/* $open_null(-S) */
int prolog_open_null(worker *w)
{
  VR_stream *s = null_stream(SM_OUTPUT);
  return s != nullptr && cunify(w, w->term[0], stream_address_term(w, s));
}

/* $vrio_error_name(+Code, ?Name) */
int prolog_vrio_error_name(worker *w)
{
  std::int64_t code;
  if (!integer_value(w->term[0], &code))
    return 0;
  const char *name = code < INT32_MIN || code > INT32_MAX
                         ? "(unknown)"
                         : vrio_error_name(static_cast<vrio_t_error_code>(code));
  if (name == nullptr || name[0] == '(')
    name = code < 0 ? "VRIO_E_ERROR" : "VRIO_S_NOERR";
  return cunify(w, w->term[1], init_atom_check(name, 0));
}

/* $errprintf(+Atom) */
int prolog_errprintf(worker *w)
{
  const TAGGED a = deref(w->term[0]);
  if (!IsAtom(a))
    return 0;
  errprintf(1, "%s", atom_name(a));
  return 1;
}

/* $flush_all_output: every open output stream reaches its device (halt
   runs it before the process may end). */
int prolog_flush_all_output(worker *)
{
  vr_flush_all_output();
  return 1;
}
