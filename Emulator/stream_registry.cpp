/* stream_registry.cpp: stream objects, the registry ring, the standard
 * stream slots, designators, closing, and the stream layer's start-up and
 * shutdown.
 *
 * The ring runs through forward/backward from a dummy root (id 0, no
 * flags) in eglobal->root_stream_ptr; new streams go just before the root,
 * so walking forward visits them in order of creation.  Ids come from one
 * 64-bit counter that restarts only with init_stream.
 *
 * The three original slots keep the standard streams made at start-up;
 * the user slots may be redirected ($stdinput/2 and friends).  An ordinary
 * close never closes a standard stream; closing a redirected user slot's
 * stream puts the original back, and the current input and output fall
 * back to the user streams when the stream they name goes.
 *
 * Shutdown flushes every output stream and then closes every stream, so
 * that nothing written is lost whatever kind of descriptor a stream has.
 * Engine thread only.
 */
#include <cstring>

#include "atoms.h"
#include "config.h"
#include "datadefs.h"
#include "embedded_resources.h"
#include "errors.h"
#include "fli.h"
#include "initial_atoms.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "streams.h"
#include "terms.h"
#include "tokenizer.h"
#include "worker.h"

int force_interactive = 0;

namespace {

std::int64_t next_stream_id = 0;

VR_UserStreamHook user_stream_hook = nullptr;
void *user_stream_hook_data = nullptr;
VR_UserStreamPostHook user_stream_post_hook = nullptr;
void *user_stream_post_hook_data = nullptr;

struct stream_event_listener_link {
  stream_event_listener_link *next;
  vr_t_stream_event_listener listener;
  void *cookie;
};
stream_event_listener_link *stream_event_listeners = nullptr;

/* The flag bits behind each mode bit: the one table both directions of
   the mapping read. */
struct mode_bit {
  std::uint32_t mode;
  std::uint32_t flag;
};
constexpr mode_bit mode_bits[] = {
    {SM_INPUT, SF_INPUT},           {SM_OUTPUT, SF_OUTPUT},
    {SM_INTERACTIVE, SF_INTERACTIVE}, {SM_STANDARD, SF_STANDARD},
    {SM_APPEND, SF_APPEND},         {SM_HIDDEN, SF_HIDDEN},
    {SM_REPOSITIONABLE, SF_REPOSITIONABLE}, {SM_EOF_CODE, SF_EOF_CODE},
    {SM_EOF_RESET, SF_EOF_RESET},   {SM_BINARY, SF_BINARY},
    {SM_CLOSE_CLEANUP, SF_CLOSE_CLEANUP}, {SM_TEXT, SF_TEXT},
    {SM_LINE_FLUSHED, SF_LINE_FLUSHED},
};

/* Creation options and the flags they set. */
struct create_bit {
  unsigned option;
  std::uint32_t flag;
};
constexpr create_bit create_bits[] = {
    {VR_CREATE_INPUT, SF_INPUT},       {VR_CREATE_OUTPUT, SF_OUTPUT},
    {VR_CREATE_APPEND, SF_APPEND},     {VR_CREATE_BINARY, SF_BINARY},
    {VR_CREATE_TEXT, SF_TEXT},         {VR_CREATE_HIDDEN, SF_HIDDEN},
    {VR_CREATE_NULL, SF_NULL},         {VR_CREATE_STANDARD, SF_STANDARD},
};

void link_before_root(VR_stream *s)
{
  VR_stream *root = eglobal->root_stream_ptr;
  s->forward = root;
  s->backward = root->backward;
  root->backward->forward = s;
  root->backward = s;
}

void unlink_stream(VR_stream *s)
{
  s->backward->forward = s->forward;
  s->forward->backward = s->backward;
  s->forward = s->backward = nullptr;
}

void free_stream_object(VR_stream *s)
{
  vrio_buf_free(s->input_buf);
  vrio_buf_free(s->output_buf);
  if (s->filename_atom != 0)
    VR_unregister_atom(s->filename_atom);
  VR_free(s);
}

/* A listener may close streams itself, so this runs nested: links whose
   listener was removed are unlinked and freed only by the outermost run,
   since a nested run would free the link an outer run stands on. */
int notify_depth = 0;

void notify_deallocated(VR_stream *s)
{
  ++notify_depth;
  for (stream_event_listener_link *l = stream_event_listeners; l != nullptr; l = l->next)
    if (l->cookie != nullptr)
      l->listener(s, l->cookie, 2);
  if (--notify_depth != 0)
    return;
  stream_event_listener_link **pp = &stream_event_listeners;
  while (stream_event_listener_link *l = *pp) {
    if (l->cookie == nullptr) {
      *pp = l->next;
      VR_free(l);
    } else {
      pp = &l->next;
    }
  }
}

/* close_cleanup/2 of module prolog, once, when the library defines it, as
   VR_query_cut_fail runs a goal (bindings undone), with events disabled. */
void call_close_cleanup(VR_stream *s, TAGGED how)
{
  worker *w = self;
  if (w == nullptr || eglobal->prolog_module == nullptr)
    return;
  const TAGGED name = init_atom_check("close_cleanup", 1);
  if (name == 0)
    return;
  definition *d = insert_definition(eglobal->prolog_module, name, 2, 0);
  if (d == nullptr || predtyp(d) == ENTER_UNDEFINED)
    return;
  const TAGGED args[2] = {stream_address_term(w, s), how};
  vr_query_once(d, args, false, true);
}

} // namespace

void resync_stream_mode(VR_stream *s)
{
  std::uint32_t mode = SM_ANY;
  for (const mode_bit &b : mode_bits)
    if (s->flags & b.flag)
      mode |= b.mode;
  s->mode = mode;
}

VR_stream *alloc_stream(void)
{
  auto *s = static_cast<VR_stream *>(VR_malloc(sizeof(VR_stream)));
  if (s == nullptr)
    return nullptr;
  std::memset(static_cast<void *>(s), 0, sizeof *s);
  s->previous_line_length = -1;
  s->previous_newline_count = -1;
  s->eof_offset = -1;
  s->id = next_stream_id++;
  return s;
}

vrio_t_error_code VR_create_vrio_stream(VRIO *layer, VR_stream **pstream, unsigned options)
{
  if (options & VR_CREATE_APPEND)
    options |= VR_CREATE_OUTPUT;
  const bool has_layer = layer != nullptr && *layer != nullptr;
  const bool in = options & VR_CREATE_INPUT, out = options & VR_CREATE_OUTPUT;
  const bool binary = options & VR_CREATE_BINARY, text = options & VR_CREATE_TEXT;
  if (((options & VR_CREATE_NULL) != 0) == has_layer || (!in && !out) || binary == text)
    return VRIO_E_PARAMETER_ERROR;
  if (has_layer) {
    const vrio_t_bits lf = (*layer)->flags;
    const vrio_t_bits in_unit = (lf >> VRIO_LAYER_READ_UNIT_SHIFT) & VRIO_LAYER_UNIT_MASK;
    const vrio_t_bits out_unit = (lf >> VRIO_LAYER_WRITE_UNIT_SHIFT) & VRIO_LAYER_UNIT_MASK;
    vrio_t_bits unit;
    if (in) {
      if (!(lf & VRIO_LAYER_READ_ALIVE))
        return VRIO_E_NOT_READ;
      if (out) {
        if (in_unit != out_unit)
          return VRIO_E_PARAMETER_ERROR;
        if (!(lf & VRIO_LAYER_WRITE_ALIVE))
          return VRIO_E_NOT_WRITE;
      }
      unit = in_unit;
    } else {
      if (!(lf & VRIO_LAYER_WRITE_ALIVE))
        return VRIO_E_NOT_WRITE;
      unit = out_unit;
    }
    if (unit != (binary ? 1u : 4u))
      return VRIO_E_GRANULARITY_ERROR;
  }
  VR_stream *s = alloc_stream();
  if (s == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  if (has_layer) {
    s->vrio = *layer;
    if ((*layer)->flags & VRIO_LAYER_CAN_REREAD)
      s->flags |= SF_REPOSITIONABLE;
  }
  for (const create_bit &b : create_bits)
    if (options & b.option)
      s->flags |= b.flag;
  if (options & VR_CREATE_INTERACTIVE)
    s->flags |= SF_INTERACTIVE | (out ? SF_LINE_FLUSHED : 0);
  if (out && (options & VR_CREATE_LINE_FLUSHED))
    s->flags |= SF_LINE_FLUSHED;
  if (in && (options & VR_CREATE_EOF_CODE))
    s->flags |= SF_EOF_CODE;
  if (in && (options & VR_CREATE_EOF_RESET))
    s->flags |= SF_EOF_RESET;
  resync_stream_mode(s);
  link_before_root(s);
  *pstream = s;
  return VRIO_S_NOERR;
}

VR_stream *null_stream(unsigned mode)
{
  unsigned options = VR_CREATE_NULL | VR_CREATE_TEXT;
  if (mode & SM_INPUT)
    options |= VR_CREATE_INPUT;
  if (mode & SM_OUTPUT)
    options |= VR_CREATE_OUTPUT;
  if (mode & SM_HIDDEN)
    options |= VR_CREATE_HIDDEN;
  VR_stream *s = nullptr;
  return VR_create_vrio_stream(nullptr, &s, options) < 0 ? nullptr : s;
}

VR_stream *persistent_null_stream(void)
{
  VR_stream *s = eglobal->persistent_null_stream;
  if (s == nullptr) {
    s = null_stream(SM_INPUT | SM_OUTPUT | SM_HIDDEN);
    eglobal->persistent_null_stream = s;
    return s;
  }
  if (s->input_buf != nullptr)
    s->input_buf->extent = 0;
  if (s->output_buf != nullptr)
    s->output_buf->extent = 0;
  sync_input_pub(s);
  sync_output_pub(s);
  s->item_offset = 0;
  s->buf_items_counted = 0;
  s->line_length = 0;
  s->newline_count = 0;
  s->previous_line_length = -1;
  s->previous_newline_count = -1;
  s->eof_offset = -1;
  s->unget_offset = 0;
  return s;
}

VR_stream *find_stream(VR_stream *s)
{
  if (s == nullptr)
    return nullptr;
  if (s == eglobal->stream_user_input || s == eglobal->stream_user_output ||
      s == eglobal->stream_user_error)
    return s;
  VR_stream *root = eglobal->root_stream_ptr;
  if (root == nullptr)
    return nullptr;
  VR_stream *t = root;
  do {
    if (t == s)
      return s;
    t = t->forward;
  } while (t != root);
  return nullptr;
}

VR_stream *find_stream_by_id(VR_stream *s, std::int64_t id)
{
  if (s != nullptr) {
    if (find_stream(s) == nullptr)
      return nullptr;
    return id == 0 || s->id == id ? s : nullptr;
  }
  VR_stream *root = eglobal->root_stream_ptr;
  if (id == 0 || root == nullptr)
    return nullptr;
  for (VR_stream *t = root->forward; t != root; t = t->forward)
    if (t->id == id)
      return t;
  return nullptr;
}

vrio_t_error_code VR_next_stream(VR_stream *s, VR_stream **pnext)
{
  VR_stream *root = eglobal->root_stream_ptr;
  *pnext = nullptr;
  if (root == nullptr)
    return VRIO_S_NOERR;
  for (VR_stream *t = (s == nullptr ? root : s)->forward; t != root; t = t->forward)
    if (!(t->flags & SF_HIDDEN)) {
      *pnext = t;
      break;
    }
  return VRIO_S_NOERR;
}

VR_stream *VR_get_stdin(void) { return eglobal->stream_user_input; }
VR_stream *VR_get_stdout(void) { return eglobal->stream_user_output; }
VR_stream *VR_get_stderr(void) { return eglobal->stream_user_error; }
VR_stream *VR_get_curin(void) { return eglobal->input_stream_ptr; }
VR_stream *VR_get_curout(void) { return eglobal->output_stream_ptr; }

VR_UserStreamHook VR_set_user_stream_hook(VR_UserStreamHook hook, void *user_data)
{
  VR_UserStreamHook old = user_stream_hook;
  user_stream_hook = hook;
  user_stream_hook_data = user_data;
  return old;
}

VR_UserStreamPostHook VR_set_user_stream_post_hook(VR_UserStreamPostHook hook, void *user_data)
{
  VR_UserStreamPostHook old = user_stream_post_hook;
  user_stream_post_hook = hook;
  user_stream_post_hook_data = user_data;
  return old;
}

void VR_force_interactive(void) { force_interactive = 1; }

VR_stream *stream_to_ptr(TAGGED t, unsigned mode, unsigned notmode)
{
  t = deref(t);
  VR_stream *s = nullptr;
  if (IsAtom(t)) {
    if (!(notmode & (SM_STANDARD | SM_HIDDEN))) {
      if (t == MakeAtom(atom_user_enum))
        s = (mode & SM_INPUT) ? eglobal->stream_user_input : eglobal->stream_user_output;
      else if (t == MakeAtom(atom_user_input_enum))
        s = eglobal->stream_user_input;
      else if (t == MakeAtom(atom_user_output_enum))
        s = eglobal->stream_user_output;
      else if (t == MakeAtom(atom_user_error_enum))
        s = eglobal->stream_user_error;
    }
  } else if (IsSmall(t)) {
    s = find_stream(reinterpret_cast<VR_stream *>(static_cast<std::uintptr_t>(GetSmall(t))));
  } else if (IsStructure(t) && IsBoxHeader(*TagToSTR(t)) && !BoxIsFloat(*TagToSTR(t)) &&
             BoxPayload(*TagToSTR(t)) == 1) {
    s = find_stream(reinterpret_cast<VR_stream *>(static_cast<std::uintptr_t>(
        static_cast<std::uint32_t>(TagToSTR(t)[1]))));
  }
  if (s == nullptr) {
    if (!(mode & SM_QUIET))
      save_error(2306, "", t);
    return nullptr;
  }
  const unsigned wanted = mode & ~SM_QUIET;
  if ((s->mode & wanted) != wanted || (s->mode & notmode) != 0) {
    if (!(mode & SM_QUIET))
      save_error((mode & SM_INPUT) ? 262 : 518, "", t);
    return nullptr;
  }
  return s;
}

TAGGED stream_address_term(worker *w, const VR_stream *s)
{
  return make_integer_term(w, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(s)));
}

/* ---- Start-up and shutdown ---- */

namespace {

void clear_stream_slots(void)
{
  eglobal->stream_user_input = eglobal->stream_user_output = eglobal->stream_user_error = nullptr;
  eglobal->persistent_null_stream = nullptr;
  eglobal->stream_user_input_orig = eglobal->stream_user_output_orig =
      eglobal->stream_user_error_orig = nullptr;
  eglobal->input_stream_ptr = eglobal->output_stream_ptr = nullptr;
  eglobal->embedded_resources = nullptr;
}

/* Frees every stream without flushing or closing devices: a start-up that
   failed half-way. */
void drop_registry(void)
{
  VR_stream *root = eglobal->root_stream_ptr;
  if (root == nullptr)
    return;
  while (root->forward != root) {
    VR_stream *s = root->forward;
    unlink_stream(s);
    if (s->vrio != nullptr)
      vrio_close(&s->vrio, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    free_stream_object(s);
  }
  VR_free(root);
  eglobal->root_stream_ptr = nullptr;
  clear_stream_slots();
}

} // namespace

int init_stream(void)
{
  next_stream_id = 0;
  free_idle_hooks();
  VR_stream *root = alloc_stream();
  if (root == nullptr)
    return 0;
  root->forward = root->backward = root;
  eglobal->root_stream_ptr = root;
  clear_stream_slots();
  if (persistent_null_stream() == nullptr) {
    drop_registry();
    return 0;
  }
  if (user_stream_hook == nullptr) {
    user_stream_hook = vr_userstreamhook_default;
    user_stream_hook_data = nullptr;
  }
  if (user_stream_post_hook == nullptr) {
    user_stream_post_hook = [](void *, int, VR_stream *) {};
    user_stream_post_hook_data = nullptr;
  }
  VR_stream **slots[3] = {&eglobal->stream_user_input, &eglobal->stream_user_output,
                          &eglobal->stream_user_error};
  for (int which = 0; which < 3; which++) {
    VR_stream *s = user_stream_hook(user_stream_hook_data, which);
    if (s == nullptr) {
      drop_registry();
      return 0;
    }
    s->flags |= SF_STANDARD;
    resync_stream_mode(s);
    *slots[which] = s;
  }
  for (int which = 0; which < 3; which++)
    user_stream_post_hook(user_stream_post_hook_data, which, *slots[which]);
  eglobal->stream_user_input_orig = eglobal->stream_user_input;
  eglobal->stream_user_output_orig = eglobal->stream_user_output;
  eglobal->stream_user_error_orig = eglobal->stream_user_error;
  eglobal->input_stream_ptr = eglobal->stream_user_input;
  eglobal->output_stream_ptr = eglobal->stream_user_output;
  suppress_autoflush = get_boolean("VR_SUPPRESS_AUTOFLUSH", 0);
  autoflush_on_prompt = get_boolean("VR_AUTOFLUSH_ON_PROMPT", suppress_autoflush);
  autoflush_flush_other_streams = get_boolean("VR_AUTOFLUSH_FLUSH_OTHER_STREAMS", 1);
  last_flushed_autoflush_stream = nullptr;
  if (vrio_register_interrupt_hook(setinterrupt_interrupt_hook, nullptr, 0) < 0) {
    drop_registry();
    return 0;
  }
  stream_token_source_install();
  worker_hooks.init_stream_again = init_stream_again;
  return 1;
}

void init_stream_again(worker *)
{
  eglobal->input_stream_ptr = eglobal->stream_user_input;
  eglobal->output_stream_ptr = eglobal->stream_user_output;
  eglobal->current_prompt = init_atom_check("|: ", 0);
}

vrio_t_error_code vr_flush_all_output(void)
{
  VR_stream *root = eglobal->root_stream_ptr;
  if (root == nullptr)
    return VRIO_S_NOERR;
  vrio_t_error_code first = VRIO_S_NOERR;
  for (VR_stream *s = root->forward; s != root; s = s->forward) {
    if (!(s->flags & SF_OUTPUT) || s->output_buf == nullptr)
      continue;
    vrio_t_error_code rc = vr_flush_output(s, 0);
    if (rc < 0 && first >= 0)
      first = rc;
  }
  return first;
}

int deinit_stream(void)
{
  VR_stream *root = eglobal->root_stream_ptr;
  if (root == nullptr)
    return 1;
  free_idle_hooks();
  /* The files scanned for resource trailers, with their streams. */
  free_meta_info_header(static_cast<vr_t_meta_info_header *>(eglobal->embedded_resources));
  eglobal->embedded_resources = nullptr;
  /* Everything written reaches its device first; then every stream is
     closed, the standard ones and the persistent null stream included. */
  vr_flush_all_output();
  while (root->forward != root) {
    VR_stream *s = root->forward;
    vr_fclose_internal(s, VR_CLOSE_FORCE | VR_CLOSE_STANDARD | VR_CLOSE_FINAL);
    if (root->forward == s) { /* nothing left open to close: drop it */
      unlink_stream(s);
      if (s->vrio != nullptr)
        vrio_close(&s->vrio, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
      free_stream_object(s);
    }
  }
  VR_free(root);
  eglobal->root_stream_ptr = nullptr;
  clear_stream_slots();
  last_flushed_autoflush_stream = nullptr;
  stream_token_source_remove();
  vrio_register_interrupt_hook(setinterrupt_interrupt_hook, nullptr, 1);
  vrio_ensure_interrupts_done();
  worker_hooks.init_stream_again = nullptr;
  return 1;
}

/* ---- Closing ---- */

vrio_t_error_code vr_fclose_internal(VR_stream *s, unsigned options)
{
  if (!(options & (VR_CLOSE_INPUT | VR_CLOSE_OUTPUT))) {
    if (s->flags & SF_INPUT)
      options |= VR_CLOSE_INPUT;
    if (s->flags & SF_OUTPUT)
      options |= VR_CLOSE_OUTPUT;
  }
  if (!(s->flags & SF_INPUT))
    options &= ~VR_CLOSE_INPUT;
  if (!(s->flags & SF_OUTPUT))
    options &= ~VR_CLOSE_OUTPUT;
  const bool close_in = options & VR_CLOSE_INPUT, close_out = options & VR_CLOSE_OUTPUT;
  if (!close_in && !close_out)
    return VRIO_S_NOERR;
  const bool in_remains = (s->flags & SF_INPUT) && !close_in;
  const bool out_remains = (s->flags & SF_OUTPUT) && !close_out;
  const bool all_closed = !in_remains && !out_remains;
  VR_stream *read_target = close_in || all_closed ? s : nullptr;
  VR_stream *write_target = close_out || all_closed ? s : nullptr;
  if ((close_in && (s->flags & SF_NONBLOCKING_IN)) || (close_out && (s->flags & SF_NONBLOCKING_OUT)))
    options |= VR_CLOSE_NONBLOCKING;

  if (!(options & VR_CLOSE_FORCE) && close_out) {
    vrio_t_error_code rc = vr_flush_output(s, (options & VR_CLOSE_NONBLOCKING) ? 0x1 | 0x4 : 0x4);
    if (rc < 0)
      return rc;
  }

  engine_global *g = eglobal;
  if (options & VR_CLOSE_FINAL) {
    VR_stream **slots[] = {&g->stream_user_input_orig, &g->stream_user_output_orig,
                           &g->stream_user_error_orig, &g->stream_user_input,
                           &g->stream_user_output, &g->stream_user_error,
                           &g->input_stream_ptr, &g->output_stream_ptr,
                           &g->persistent_null_stream};
    for (VR_stream **slot : slots)
      if (*slot == s)
        *slot = nullptr;
    if (last_flushed_autoflush_stream == s)
      last_flushed_autoflush_stream = nullptr;
  } else {
    if (options & VR_CLOSE_STANDARD) {
      if (read_target != nullptr && read_target == g->stream_user_input_orig)
        g->stream_user_input_orig = persistent_null_stream();
      if (write_target != nullptr && write_target == g->stream_user_output_orig)
        g->stream_user_output_orig = persistent_null_stream();
      if (write_target != nullptr && write_target == g->stream_user_error_orig)
        g->stream_user_error_orig = persistent_null_stream();
    } else if (s->mode & SM_STANDARD) {
      return VRIO_S_NOERR;
    }
    if (read_target != nullptr && read_target == g->stream_user_input)
      g->stream_user_input = g->stream_user_input_orig;
    if (write_target != nullptr && write_target == g->stream_user_output)
      g->stream_user_output = g->stream_user_output_orig;
    if (write_target != nullptr && write_target == g->stream_user_error)
      g->stream_user_error = g->stream_user_error_orig;
    if ((read_target != nullptr &&
         (read_target == g->stream_user_input_orig || read_target == g->stream_user_input)) ||
        (write_target != nullptr &&
         (write_target == g->stream_user_output_orig || write_target == g->stream_user_error_orig ||
          write_target == g->stream_user_output || write_target == g->stream_user_error)) ||
        s == g->persistent_null_stream)
      return VRIO_S_NOERR;
    if (read_target != nullptr && read_target == g->input_stream_ptr)
      g->input_stream_ptr = g->stream_user_input;
    if (write_target != nullptr && write_target == g->output_stream_ptr)
      g->output_stream_ptr = g->stream_user_output;
    if (last_flushed_autoflush_stream == s && all_closed)
      last_flushed_autoflush_stream = nullptr;
  }

  if (s->vrio != nullptr) {
    vrio_t_bits close_options = (close_in ? VRIO_CLOSE_READ : 0) | (close_out ? VRIO_CLOSE_WRITE : 0) |
                                ((options & VR_CLOSE_FORCE) ? VRIO_CLOSE_ABORTIVE : 0) |
                                ((options & VR_CLOSE_NONBLOCKING) ? 0x8 : 0);
    VRIO layer = s->vrio;
    vrio_t_error_code rc = vrio_close(&layer, close_options);
    if (rc < 0) {
      if (!(options & VR_CLOSE_FORCE))
        return rc;
      layer = nullptr; /* dropped: a forced close goes on */
    }
    /* vrio_close frees the stack once every side is closed. */
    s->vrio = all_closed ? nullptr : layer;
  }

  if (close_in)
    s->flags &= ~SF_INPUT;
  if (close_out)
    s->flags &= ~(SF_OUTPUT | SF_APPEND);
  resync_stream_mode(s);

  if (s->flags & SF_CLOSE_CLEANUP) {
    const TAGGED how = all_closed ? init_atom_check("all", 0)
                       : close_out ? MakeAtom(atom_write_enum)
                                   : MakeAtom(atom_read_enum);
    call_close_cleanup(s, how);
  }

  if (!all_closed) {
    if (out_remains)
      s->buf_items_counted = 0;
    return VRIO_S_NOERR;
  }
  unlink_stream(s);
  s->vrio = nullptr;
  free_stream_object(s);
  notify_deallocated(s);
  return VRIO_S_DEALLOCATED;
}

vrio_t_error_code VR_fclose(VR_stream *s, unsigned options)
{
  if (!(options & VR_CLOSE_USER_CLASS))
    return vr_fclose_internal(s, options);
  const void *user_class = s;
  options &= ~VR_CLOSE_USER_CLASS;
  VR_stream *t = nullptr;
  VR_next_stream(nullptr, &t);
  while (t != nullptr) {
    VR_stream *next = nullptr;
    VR_next_stream(t, &next);
    void *data = nullptr;
    if (VR_get_stream_user_data(t, user_class, &data) >= 0) {
      vrio_t_error_code rc = vr_fclose_internal(t, options);
      if (rc < 0 && !(options & VR_CLOSE_FORCE))
        return rc;
    }
    t = next;
  }
  return VRIO_S_NOERR;
}

/* ---- Stream event listeners ---- */

vrio_t_error_code add_stream_event_listener(vr_t_stream_event_listener listener, void *cookie)
{
  if (cookie == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  auto *l = static_cast<stream_event_listener_link *>(VR_malloc(sizeof(stream_event_listener_link)));
  if (l == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  l->next = stream_event_listeners;
  l->listener = listener;
  l->cookie = cookie;
  stream_event_listeners = l;
  return VRIO_S_NOERR;
}

int remove_stream_event_listener(void *cookie)
{
  int found = 1;
  for (stream_event_listener_link *l = stream_event_listeners; l != nullptr; l = l->next)
    if (l->cookie == cookie) {
      l->cookie = nullptr;
      l->listener = nullptr;
      found = 2;
    }
  return found;
}

void init_stream_event_listeners(void) { stream_event_listeners = nullptr; }

void free_stream_event_listeners(void)
{
  while (stream_event_listeners != nullptr) {
    stream_event_listener_link *l = stream_event_listeners;
    stream_event_listeners = l->next;
    if (l->cookie != nullptr)
      l->listener(nullptr, l->cookie, 1);
    VR_free(l);
  }
}
