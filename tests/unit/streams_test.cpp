// The stream layer's internals, on a runtime brought up by the production
// start-up (without the library's Prolog code, which these tests do not
// need): counting and push-back, stream creation and its refusals, the
// standard slots and what closing does to them, the registry, array and
// formatted output, the line-flushed autoflush, interrupts, file-name
// expansion and paths, operating-system handles, the clause patching of
// $save_stream_position and its checks, waiting for streams (with its
// deadline), and the tokenizer reading a stream.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "atoms.h"
#include "codesio.h"
#include "datadefs.h"
#include "errors.h"
#include "file_names.h"
#include "initial_atoms.h"
#include "instance.h"
#include "memman.h"
#include "modules.h"
#include "compiler.h"
#include "predicates.h"
#include "runtime_fixture.h"
#include "scratch_dir.h"
#include "streams.h"
#include "support.h"
#include "terms.h"
#include "tokenizer.h"

namespace {

struct Streams : ::testing::Test {
  worker *w = nullptr;
  scratch_dir scratch;
  std::string dir;

  void SetUp() override
  {
    w = start_runtime_without_library();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(scratch.make("streams_test"));
    dir = scratch.dir;
  }
  void TearDown() override
  {
    take_runtime_down();
    EXPECT_TRUE(scratch.remove());
  }

  std::string path(const char *name) const { return scratch.path(name); }

  // A text input stream over the characters of `text`.
  static VR_stream *string_stream(const char *text)
  {
    VR_stream *s = nullptr;
    EXPECT_EQ(VR_stream_from_string(text, &s), 1);
    return s;
  }

  // A code-list stream (text, line-flushed) open both ways, and its
  // device's contents.
  VR_stream *code_stream()
  {
    TAGGED *h = w->global_top;
    w->term[0] = atom_nil;
    w->term[1] = PointerToTerm(h);
    *h = PointerToTerm(h);
    w->global_top = h + 1;
    w->term[2] = MakeSmall_checked(0x68);
    EXPECT_EQ(prolog_stream_from_codes(w), 1);
    VR_stream *s = stream_to_ptr(w->term[1], SM_ANY, 0);
    EXPECT_NE(s, nullptr);
    return s;
  }

  static std::vector<int> drain(VR_stream *s)
  {
    std::vector<int> out;
    for (;;) {
      const int c = vr_get_code_helper(s, 0);
      if (c < 0)
        return out;
      out.push_back(c);
    }
  }

  static void counts(VR_stream *s, std::int64_t *items, std::int64_t *lines, std::int64_t *pos)
  {
    ASSERT_EQ(VR_get_stream_counts(s, items, lines, pos, 0), VRIO_S_NOERR);
  }
};

// ---- Counting and pushing back ----

TEST_F(Streams, CountsCharactersLinesAndLinePositionAndPushesOneBack)
{
  VR_stream *s = string_stream("ab\ncd");
  for (int expected : {'a', 'b', '\n', 'c', 'd'})
    ASSERT_EQ(vr_get_code_helper(s, 0), expected);
  std::int64_t items, lines, pos;
  counts(s, &items, &lines, &pos);
  EXPECT_EQ(items, 5);
  EXPECT_EQ(lines, 1);
  EXPECT_EQ(pos, 2);
  ASSERT_EQ(unget_code(s, 'd'), VRIO_S_NOERR);
  counts(s, &items, &lines, &pos);
  EXPECT_EQ(items, 4);
  EXPECT_EQ(lines, 1);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(unget_code(s, 'c'), VRIO_E_PARAMETER_ERROR) << "a second push-back without a read";
  EXPECT_EQ(vr_get_code_helper(s, 0), 'd') << "the pushed-back item comes again";
  EXPECT_EQ(unget_code(s, 'x'), VRIO_E_PARAMETER_ERROR) << "only the item just read goes back";
  EXPECT_EQ(vr_get_code_helper(s, 0), -1);
  counts(s, &items, &lines, &pos);
  EXPECT_EQ(items, 6) << "the end of file counts as one item";
  vr_fclose_internal(s, 0);
}

// A newline pushed back restores the line position before it.
TEST_F(Streams, PushingBackANewlineRestoresThePreviousLinePosition)
{
  VR_stream *s = string_stream("xyz\nq");
  for (int i = 0; i < 4; i++)
    vr_get_code_helper(s, 0);
  std::int64_t items, lines, pos;
  counts(s, &items, &lines, &pos);
  EXPECT_EQ(lines, 1);
  EXPECT_EQ(pos, 0);
  ASSERT_EQ(unget_code(s, '\n'), VRIO_S_NOERR);
  counts(s, &items, &lines, &pos);
  EXPECT_EQ(lines, 0);
  EXPECT_EQ(pos, 3);
  vr_fclose_internal(s, 0);
}

// The end of file pushed back is delivered again without reading; a peek
// at the end changes nothing.
TEST_F(Streams, EndOfFileCanBePushedBackAndPeekedAt)
{
  VR_stream *s = string_stream("");
  EXPECT_EQ(vr_get_code_helper(s, VR_IO_PEEK), -1);
  EXPECT_EQ(s->flags & (SF_AT_EOF | SF_PAST_EOF), 0u) << "a peek leaves the state";
  EXPECT_EQ(vr_get_code_helper(s, 0), -1);
  EXPECT_NE(s->flags & SF_AT_EOF, 0u);
  ASSERT_EQ(unget_code(s, -1), VRIO_S_NOERR);
  EXPECT_EQ(s->flags & SF_AT_EOF, 0u);
  EXPECT_EQ(vr_get_code_helper(s, 0), -1);
  EXPECT_EQ(vr_get_code_helper(s, 0), -1);
  EXPECT_NE(s->flags & SF_PAST_EOF, 0u) << "the action error: the second read is past the end";
  vr_fclose_internal(s, 0);
}

// ---- Creation ----

TEST_F(Streams, CreationRefusesWhatCannotWork)
{
  VR_stream *s = nullptr;
  struct {
    const char *why;
    unsigned options;
    bool layer;
    vrio_t_error_code expected;
  } cases[] = {
      {"no layer without the null option", VR_CREATE_INPUT | VR_CREATE_TEXT, false, VRIO_E_PARAMETER_ERROR},
      {"the null option with a layer", VR_CREATE_INPUT | VR_CREATE_TEXT | VR_CREATE_NULL, true,
       VRIO_E_PARAMETER_ERROR},
      {"no direction", VR_CREATE_TEXT | VR_CREATE_NULL, false, VRIO_E_PARAMETER_ERROR},
      {"binary and text", VR_CREATE_INPUT | VR_CREATE_TEXT | VR_CREATE_BINARY | VR_CREATE_NULL, false,
       VRIO_E_PARAMETER_ERROR},
      {"text over bytes", VR_CREATE_INPUT | VR_CREATE_TEXT, true, VRIO_E_GRANULARITY_ERROR},
      {"output over a read-only device", VR_CREATE_OUTPUT | VR_CREATE_BINARY, true, VRIO_E_NOT_WRITE},
  };
  for (const auto &c : cases) {
    VRIO layer = nullptr;
    vrio_t_buf *buf = nullptr;
    if (c.layer) {
      buf = vrio_buf_alloc(nullptr, 0, 0);
      ASSERT_EQ(vr_create_vrio_byte_device(&layer, buf, nullptr, nullptr, 1 | 2), VRIO_S_NOERR);
    }
    EXPECT_EQ(VR_create_vrio_stream(c.layer ? &layer : nullptr, &s, c.options), c.expected) << c.why;
    if (layer != nullptr)
      vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ);
  }
}

TEST_F(Streams, IdsGrowAndHiddenStreamsAreNeverEnumerated)
{
  EXPECT_EQ(eglobal->root_stream_ptr->id, 0);
  VR_stream *a = null_stream(SM_OUTPUT);
  VR_stream *b = null_stream(SM_OUTPUT);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  const std::int64_t id_a = a->id, id_b = b->id;
  EXPECT_GE(id_a, 1);
  EXPECT_GT(id_b, id_a);
  vr_fclose_internal(a, 0);
  VR_stream *c = null_stream(SM_OUTPUT);
  EXPECT_GT(c->id, id_b) << "ids are never reused";
  EXPECT_EQ(find_stream_by_id(nullptr, id_a), nullptr);
  EXPECT_EQ(find_stream_by_id(nullptr, id_b), b);
  std::vector<VR_stream *> seen;
  VR_stream *t = nullptr;
  for (VR_next_stream(nullptr, &t); t != nullptr; VR_next_stream(t, &t))
    seen.push_back(t);
  for (VR_stream *x : seen)
    EXPECT_FALSE(x->flags & SF_HIDDEN);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), eglobal->persistent_null_stream), 0);
  EXPECT_EQ(seen.front(), eglobal->stream_user_input) << "in order of creation";
  vr_fclose_internal(b, 0);
  vr_fclose_internal(c, 0);
}

TEST_F(Streams, DesignatorsAndTheirErrors)
{
  EXPECT_EQ(stream_to_ptr(MakeAtom(atom_user_enum), SM_INPUT, 0), eglobal->stream_user_input);
  EXPECT_EQ(stream_to_ptr(MakeAtom(atom_user_enum), SM_OUTPUT, 0), eglobal->stream_user_output);
  EXPECT_EQ(stream_to_ptr(MakeAtom(atom_user_error_enum), SM_OUTPUT, 0), eglobal->stream_user_error);
  EXPECT_EQ(stream_to_ptr(MakeAtom(atom_user_input_enum), SM_ANY, SM_HIDDEN), nullptr);
  EXPECT_EQ(g_error_type, 2306) << "with the hidden bit in notmode no atom is a stream";
  EXPECT_EQ(stream_to_ptr(MakeAtom(atom_user_output_enum), SM_INPUT, 0), nullptr);
  EXPECT_EQ(g_error_type, 262);
  EXPECT_EQ(stream_to_ptr(MakeAtom(atom_user_input_enum), SM_OUTPUT, 0), nullptr);
  EXPECT_EQ(g_error_type, 518);
  g_error_type = 0;
  EXPECT_EQ(stream_to_ptr(MakeSmall_checked(12), SM_ANY | SM_QUIET, 0), nullptr);
  EXPECT_EQ(g_error_type, 0) << "quiet";
  VR_stream *s = null_stream(SM_OUTPUT);
  EXPECT_EQ(stream_to_ptr(stream_address_term(w, s), SM_OUTPUT, 0), s);
  vr_fclose_internal(s, 0);
}

// ---- The standard slots and closing ----

TEST_F(Streams, ClosingARedirectedUserOutputPutsTheOriginalBack)
{
  VR_stream *orig = eglobal->stream_user_output;
  VR_stream *file = null_stream(SM_OUTPUT);
  eglobal->stream_user_output = file;
  eglobal->output_stream_ptr = file;
  EXPECT_EQ(vr_fclose_internal(file, 0), VRIO_S_DEALLOCATED);
  EXPECT_EQ(eglobal->stream_user_output, orig);
  EXPECT_EQ(eglobal->output_stream_ptr, orig) << "the current output falls back";
  EXPECT_EQ(vr_fclose_internal(orig, 0), VRIO_S_NOERR);
  EXPECT_EQ(find_stream(orig), orig) << "an ordinary close leaves the standard stream open";
  EXPECT_NE(orig->flags & SF_OUTPUT, 0u);
}

TEST_F(Streams, ClosingTheOriginalStandardInputLeavesTheNullStreamInItsPlace)
{
  VR_stream *in = eglobal->stream_user_input;
  EXPECT_EQ(vr_fclose_internal(in, VR_CLOSE_STANDARD), VRIO_S_DEALLOCATED);
  EXPECT_EQ(eglobal->stream_user_input, eglobal->persistent_null_stream);
  EXPECT_EQ(eglobal->stream_user_input_orig, eglobal->persistent_null_stream);
  EXPECT_EQ(eglobal->input_stream_ptr, eglobal->persistent_null_stream);
  EXPECT_EQ(vr_get_code_helper(eglobal->stream_user_input, 0), -1) << "reads see the end at once";
}

// ---- Output ----

TEST_F(Streams, ArraysAndFormattedTextOfAnyLengthArriveWhole)
{
  VR_stream *s = code_stream();
  std::vector<int> codes(10000);
  for (int i = 0; i < 10000; i++)
    codes[static_cast<std::size_t>(i)] = 'a' + i % 26;
  ASSERT_EQ(VR_put_codes(s, codes.data(), 10000, 0), VRIO_S_NOERR);
  const std::string long_text(3000, 'z');
  ASSERT_EQ(VR_fprintf(s, "<%s>%d", long_text.c_str(), 42), VRIO_S_NOERR);
  ASSERT_EQ(VR_put_encoded_string(s, "\xC3\xA4\xE2\x82\xAC!", 0), VRIO_S_NOERR);
  ASSERT_EQ(VR_flush_output(s, 0), VRIO_S_NOERR);
  const std::vector<int> got = drain(s);
  ASSERT_EQ(got.size(), 10000u + 3004u + 3u);
  EXPECT_TRUE(std::equal(codes.begin(), codes.end(), got.begin()));
  EXPECT_EQ(got[10000], '<');
  EXPECT_EQ(got[13001], '>');
  EXPECT_EQ(got[13002], '4');
  EXPECT_EQ(got[13004], 0xE4);
  EXPECT_EQ(got[13005], 0x20AC);
  vr_fclose_internal(s, 0);
}

// A newline on a line-flushed stream flushes it when the writer asks for
// an autoflush, unless autoflush is suppressed.
TEST_F(Streams, AutoflushOnNewlineUnlessSuppressed)
{
  for (int suppressed : {0, 1}) {
    suppress_autoflush = suppressed;
    VR_stream *s = code_stream();
    w->term[0] = stream_address_term(w, s);
    w->term[1] = MakeSmall_checked('a');
    w->term[2] = MakeSmall_checked(0);
    ASSERT_EQ(prolog_put_code_fail_on_interrupt(w), 1);
    w->term[1] = MakeSmall_checked('\n');
    w->term[2] = MakeSmall_checked(0x100);
    ASSERT_EQ(prolog_put_code_fail_on_interrupt(w), 1);
    const std::vector<int> got = drain(s);
    if (suppressed)
      EXPECT_TRUE(got.empty()) << "suppressed: nothing reached the device";
    else
      EXPECT_EQ(got, (std::vector<int>{'a', '\n'}));
    vr_fclose_internal(s, 0);
  }
  suppress_autoflush = 0;
}

// Two line-flushed streams over one device (a terminal, say): switching
// between them flushes the other first, so the device sees the text in
// the order it was written; writing lines to one of them does not flush
// the other every time.
std::string shared_device;
const char shared_class = 0;
vrio_t_error_code shared_write(void *, const void *buf, std::size_t *size, vrio_t_bits)
{
  const auto *codes = static_cast<const std::int32_t *>(buf);
  for (std::size_t i = 0; i < *size / 4; i++)
    shared_device += static_cast<char>(codes[i]);
  *size -= *size % 4;
  return VRIO_S_NOERR;
}
vrio_t_error_code shared_close(void **data, vrio_t_bits)
{
  *data = nullptr;
  return VRIO_S_NOERR;
}

TEST_F(Streams, LineFlushedStreamsReachTheirDeviceInTheOrderOfWriting)
{
  static int data;
  VR_stream *one = nullptr, *two = nullptr;
  for (VR_stream **s : {&one, &two})
    ASSERT_EQ(VR_create_stream(&data, &shared_class, nullptr, shared_write, nullptr, nullptr, shared_close,
                               nullptr, nullptr, nullptr, 0x2 | 0x8, s),
              VRIO_S_NOERR);
  shared_device.clear();
  auto put = [&](VR_stream *s, const char *text, bool newline_flush) {
    VR_put_encoded_string(s, text, 0);
    if (newline_flush) {
      ASSERT_EQ(vr_flush_output(s, 0x2), VRIO_S_NOERR);
    }
  };
  put(one, "a", false);
  put(two, "b\n", true);
  EXPECT_EQ(shared_device, "ab\n") << "the other stream's text went first";
  put(one, "x", false);
  put(two, "c\n", true);
  EXPECT_EQ(shared_device, "ab\nc\n") << "a second line of the same stream flushes only it";
  put(one, "\n", true);
  EXPECT_EQ(shared_device, "ab\nc\nx\n");
  vr_fclose_internal(one, 0);
  vr_fclose_internal(two, 0);
}

// An interactive stream that would block: the prompt goes to standard
// error once when the terminal's cursor is at the start of a line, and
// busy idle hooks run ten passes before each new attempt to read.
int reads_before_data;
std::vector<int> hook_calls_at_read;
int busy_calls[2];
int busy_a(void *) { return ++busy_calls[0], 1; }
int busy_b(void *) { return ++busy_calls[1], 1; }
const char terminal_class = 0;
vrio_t_error_code terminal_read(void *, void *buf, std::size_t *size, vrio_t_bits options)
{
  if (options & VRIO_DEVICE_NONBLOCKING) {
    hook_calls_at_read.push_back(busy_calls[0]);
    if (reads_before_data-- > 0)
      return VRIO_E_WOULD_BLOCK;
  }
  if (*size < 4)
    return VRIO_E_PARAMETER_ERROR;
  *static_cast<std::int32_t *>(buf) = 'k';
  *size = 4;
  return VRIO_S_NOERR;
}

TEST_F(Streams, AnInteractiveReadThatWouldBlockPromptsOnceAndRunsIdleHooks)
{
  static int data;
  VR_stream *term = nullptr;
  ASSERT_EQ(VR_create_stream(&data, &terminal_class, terminal_read, nullptr, nullptr, nullptr, shared_close,
                             nullptr, nullptr, nullptr, 0x2 | 0x4, &term),
            VRIO_S_NOERR);
  VR_stream *err = code_stream();
  VR_stream *saved_err = eglobal->stream_user_error;
  eglobal->stream_user_error = err;
  eglobal->current_prompt = init_atom_check("|: ", 0);
  eglobal->root_stream_ptr->line_length = 0;
  ASSERT_EQ(VR_install_idle_hook(busy_a, nullptr, 0), VRIO_S_NOERR);
  ASSERT_EQ(VR_install_idle_hook(busy_b, nullptr, 0), VRIO_S_NOERR);
  reads_before_data = 2;
  EXPECT_EQ(vr_get_code_helper(term, 0), 'k');
  EXPECT_EQ(hook_calls_at_read, (std::vector<int>{0, 10, 20})) << "ten busy passes before each attempt";
  EXPECT_EQ(busy_calls[0], busy_calls[1]);
  VR_install_idle_hook(busy_a, nullptr, 1);
  VR_install_idle_hook(busy_b, nullptr, 1);
  EXPECT_EQ(drain(err), (std::vector<int>{'|', ':', ' '})) << "the prompt, once";
  /* With the cursor in mid-line no prompt is written. */
  eglobal->root_stream_ptr->line_length = 3;
  reads_before_data = 1;
  EXPECT_EQ(vr_get_code_helper(term, 0), 'k');
  EXPECT_TRUE(drain(err).empty());
  eglobal->stream_user_error = saved_err;
  vr_fclose_internal(err, 0);
  vr_fclose_internal(term, 0);
}

// ---- Interrupts and idle hooks ----

TEST_F(Streams, AHardInterruptComesBackFromTheNextWorkItemRun)
{
  setinterrupt_interrupt_hook(nullptr, 0x1);
  EXPECT_EQ(vr_test_and_clear_hard_interrupt(), 0) << "option 1 does nothing";
  w->heap_warn_soft = w->heap_warn;
  setinterrupt_interrupt_hook(nullptr, 0);
  EXPECT_EQ(w->heap_warn_soft, nullptr) << "the emulator stops at the next predicate entry";
  EXPECT_EQ(vr_test_and_clear_hard_interrupt(), 0) << "a soft interrupt";
  setinterrupt_interrupt_hook(nullptr, 0x2);
  EXPECT_EQ(run_work_items(nullptr), VRIO_E_INTERRUPTED);
  EXPECT_EQ(run_work_items(nullptr), VRIO_S_NOERR) << "the flag is cleared";
  w->heap_warn_soft = w->heap_warn;
  w->int_heap_warn = w->heap_warn;
}

int idle_calls[2];
int idle_a(void *) { return ++idle_calls[0], 1; }
int idle_b(void *) { return ++idle_calls[1], 0; }

TEST_F(Streams, IdleHooksAreAddedReplacedAndRemoved)
{
  EXPECT_EQ(VR_install_idle_hook(nullptr, nullptr, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(VR_install_idle_hook(idle_a, nullptr, 1), VRIO_E_NOT_FOUND);
  EXPECT_EQ(VR_install_idle_hook(idle_a, nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(VR_install_idle_hook(idle_b, nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(VR_install_idle_hook(idle_a, &idle_calls, 0), VRIO_S_NOERR) << "a new cookie";
  EXPECT_EQ(VR_install_idle_hook(idle_a, nullptr, 1), VRIO_S_NOERR);
  EXPECT_EQ(VR_install_idle_hook(idle_a, nullptr, 1), VRIO_E_NOT_FOUND);
  EXPECT_EQ(VR_install_idle_hook(idle_b, nullptr, 1), VRIO_S_NOERR);
}

// ---- File names ----

TEST_F(Streams, FileNamesExpandAgainstTheRuntimesDirectory)
{
  struct {
    const char *name;
    unsigned options;
    const char *expected; /* null: fails */
  } cases[] = {
      {"x/./y//z/", 0, "/home/u/x/y/z"},
      {"x/./y//z/", 0x1, "/home/u/x/y/z/"},
      {"../v", 0, "/home/v"},
      {"/..", 0, nullptr},
      {"/a/..", 0, nullptr},
      {"/a/..", 0x1, "/"},
      {"/a/..", 0x20, "/"},
      {"/a/..", 0x10, "/."},
      {"/a//b/../c", 0, "/a/c"},
      {"abc", 0x2, nullptr},
      {"/abc", 0x2, "/abc"},
      {"$/x", 0, nullptr},
      {"$STREAMS_TEST_UNSET/x", 0, nullptr},
      {"$STREAMS_TEST_DIR/x", 0, "/opt/base/x"},
      {"$x", 0x4, "/home/u/$x"},
      {"~streams_test_no_such_user/x", 0, nullptr},
  };
  // Variables are looked up as system properties (the library's own
  // properties, then the environment it saw at start-up).
  ASSERT_EQ(vrio_set_system_property("STREAMS_TEST_DIR", "/opt//base/"), VRIO_S_NOERR);
  char *saved = eglobal->cwd_ienc;
  eglobal->cwd_ienc = const_cast<char *>("/home/u/");
  struct restore {
    char *saved;
    ~restore() { eglobal->cwd_ienc = saved; }
  } guard{saved};
  for (const auto &c : cases) {
    char *got = vr_expand_file_name(c.name, nullptr, c.options);
    if (c.expected == nullptr) {
      EXPECT_EQ(got, nullptr) << c.name << " with " << c.options << " gave " << got;
    } else {
      ASSERT_NE(got, nullptr) << c.name << " with " << c.options;
      EXPECT_STREQ(got, c.expected) << c.name << " with " << c.options;
    }
    if (got != nullptr)
      VR_free(got);
  }
}

TEST_F(Streams, HomeDirectoriesExpand)
{
  ASSERT_EQ(vrio_set_system_property("HOME", "/home/someone/"), VRIO_S_NOERR);
  char *home = vr_expand_file_name("~", nullptr, 0);
  char *below = vr_expand_file_name("~/x", nullptr, 0);
  ASSERT_NE(home, nullptr);
  ASSERT_NE(below, nullptr);
  EXPECT_STREQ(home, "/home/someone");
  EXPECT_STREQ(below, "/home/someone/x");
  VR_free(home);
  VR_free(below);
  ASSERT_EQ(vrio_set_system_property("HOME", "~"), VRIO_S_NOERR);
  EXPECT_EQ(vr_expand_file_name("~/x", nullptr, 0), nullptr) << "a home that names a home does not recurse";
}

TEST_F(Streams, PathsSplitIntoDirectoryNameAndSuffix)
{
  const char *name = nullptr, *suffix = nullptr, *root = nullptr;
  vr_split_path("/a/b.c.d", &root, &name, &suffix);
  EXPECT_STREQ(name, "b.c.d");
  EXPECT_STREQ(suffix, ".d");
  char *base = vr_basename("/a/b.c.d", 1);
  EXPECT_STREQ(base, "b.c");
  VR_free(base);
  EXPECT_STREQ(vr_path_suffix(".profile"), ".profile");
  EXPECT_EQ(vr_path_suffix("/a.b/c"), nullptr) << "a dot in a directory is no suffix";
  struct {
    const char *path, *dir;
  } dirs[] = {{"/a/b", "/a/"}, {"a/b", "a/"}, {"/a/b/", "/a/"}, {"/a", nullptr},
              {"/", nullptr},  {"a", nullptr}, {"a/", nullptr}};
  for (const auto &d : dirs) {
    char *got = vr_dirname(d.path);
    if (d.dir == nullptr) {
      EXPECT_EQ(got, nullptr) << d.path;
    } else {
      ASSERT_NE(got, nullptr) << d.path;
      EXPECT_STREQ(got, d.dir) << d.path;
      VR_free(got);
    }
  }
}

TEST_F(Streams, TheCurrentDirectoryChangesForRelativeNames)
{
  // The process's directory moves too: it is put back before the
  // temporary directory goes.
  struct back {
    std::string to;
    ~back() { VR_set_current_dir(to.c_str()); }
  } guard{vr_cwd_ienc()};
  ASSERT_EQ(VR_set_current_dir(dir.c_str()), 0);
  EXPECT_EQ(std::string(vr_cwd_ienc()), dir + "/");
  EXPECT_EQ(VR_set_current_dir((dir + "/no_such").c_str()), VRIO_E_FILE_NOT_DIRECTORY);
  VR_stream *s = nullptr;
  ASSERT_EQ(VR_fopen("relative.txt", 0, VR_FOPEN_WRITE | VR_FOPEN_TEXT, &s), VRIO_S_NOERR);
  VR_put_encoded_string(s, "here", 0);
  vr_fclose_internal(s, 0);
  EXPECT_EQ(access(path("relative.txt").c_str(), F_OK), 0);
  EXPECT_STREQ(atom_name(init_atom_check((dir + "/relative.txt").c_str(), 0)),
               (dir + "/relative.txt").c_str());
}

TEST_F(Streams, ProgramsAreFoundOnTheSearchPath)
{
  const std::string bin = path("bin");
  ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
  const std::string prog = bin + "/streams_test_prog";
  ASSERT_EQ(close(open(prog.c_str(), O_CREAT | O_WRONLY, 0755)), 0);
  ASSERT_EQ(vrio_set_system_property("STREAMS_TEST_PATH", ("::/nonexistent:" + bin + "/").c_str()),
            VRIO_S_NOERR);
  char *found = resolve_argv_execpath("streams_test_prog", "STREAMS_TEST_PATH");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), prog);
  VR_free(found);
  EXPECT_EQ(resolve_argv_execpath("streams_test_missing", "STREAMS_TEST_PATH"), nullptr);
  char *literal = resolve_argv_execpath("./x", "STREAMS_TEST_PATH");
  EXPECT_STREQ(literal, "./x");
  VR_free(literal);
}

// ---- Files and handles ----

TEST_F(Streams, RepositionableTextNeedsLineFeedsAndNoAppend)
{
  VR_stream *s = nullptr;
  const std::string f = path("r.txt");
  TAGGED crlf = 0;
  {
    TAGGED *h = w->global_top;
    h[0] = MakeFunctor(init_atom_check("encoding", 0), 3);
    h[1] = init_atom_check("default", 0);
    h[2] = init_atom_check("default", 0);
    h[3] = init_atom_check("crlf", 0);
    w->global_top = h + 4;
    crlf = MakeSTR(h);
  }
  EXPECT_EQ(VR_fopen(f.c_str(), crlf, VR_FOPEN_WRITE | VR_FOPEN_TEXT | VR_FOPEN_REPOSITIONABLE | VR_FOPEN_ENCODING_TERM, &s),
            VRIO_E_SEEK_ERROR);
  EXPECT_EQ(VR_fopen(f.c_str(), 0, VR_FOPEN_APPEND | VR_FOPEN_BINARY | VR_FOPEN_REPOSITIONABLE, &s),
            VRIO_E_SEEK_ERROR);
  EXPECT_EQ(VR_fopen(f.c_str(), 0, VR_FOPEN_READ | VR_FOPEN_WRITE | VR_FOPEN_TEXT, &s), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(VR_fopen(dir.c_str(), 0, VR_FOPEN_READ | VR_FOPEN_TEXT, &s), VRIO_E_PERMISSION_ERROR)
      << "a directory is not opened as a file";
}

// Seeking an input stream back discards its buffer; the counters restart.
TEST_F(Streams, SeekingToTheStartRereadsAndRecounts)
{
  const std::string f = path("seek.txt");
  VR_stream *s = nullptr;
  ASSERT_EQ(VR_fopen(f.c_str(), 0, VR_FOPEN_WRITE | VR_FOPEN_TEXT, &s), VRIO_S_NOERR);
  VR_put_encoded_string(s, "one\ntwo\n", 0);
  ASSERT_EQ(vr_fclose_internal(s, 0), VRIO_S_DEALLOCATED);
  ASSERT_EQ(VR_fopen(f.c_str(), 0, VR_FOPEN_READ | VR_FOPEN_TEXT | VR_FOPEN_REPOSITIONABLE, &s), VRIO_S_NOERR);
  ASSERT_EQ(drain(s).size(), 8u);
  ASSERT_EQ(set_stream_position(s, 0, 0, 0, 0x3), VRIO_S_NOERR);
  std::int64_t items, lines, pos;
  counts(s, &items, &lines, &pos);
  EXPECT_EQ(items, 0);
  EXPECT_EQ(lines, 0);
  EXPECT_EQ(vr_get_code_helper(s, 0), 'o');
  ASSERT_EQ(set_stream_position(s, 4, 1, 0, 0), VRIO_S_NOERR);
  EXPECT_EQ(vr_get_code_helper(s, 0), 't');
  counts(s, &items, &lines, &pos);
  EXPECT_EQ(items, 5);
  EXPECT_EQ(lines, 1);
  EXPECT_EQ(pos, 1);
  vr_fclose_internal(s, 0);
}

TEST_F(Streams, OperatingSystemHandlesBecomeStreams)
{
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  VR_stream *in = nullptr, *out = nullptr;
  ASSERT_EQ(VR_create_os_stream(fds[0], &in, 0, 0x1 | 0x8), VRIO_S_NOERR);
  ASSERT_EQ(VR_create_os_stream(fds[1], &out, 0, 0x2 | 0x8 | 0x20), VRIO_S_NOERR);
  ASSERT_EQ(VR_put_encoded_string(out, "pipe\xC3\xA9", 0), VRIO_S_NOERR);
  ASSERT_EQ(vr_fclose_internal(out, 0), VRIO_S_DEALLOCATED);
  EXPECT_EQ(fcntl(fds[1], F_GETFD), 0) << "option 0x20 leaves the handle open";
  close(fds[1]);
  EXPECT_EQ(drain(in), (std::vector<int>{'p', 'i', 'p', 'e', 0xE9})) << "ISO-8859-1 both ways by default";
  vr_fclose_internal(in, 0);
  EXPECT_EQ(fcntl(fds[0], F_GETFD), -1) << "the stream owned the read handle";
}

// ---- $save_stream_position: the offsets it follows are checked ----

struct SaveStreamPosition : Streams {
  definition *d = nullptr;
  instance *ins = nullptr;

  void SetUp() override
  {
    Streams::SetUp();
    mod_def *user = find_module(init_atom_check("user", 0), 1);
    d = insert_definition(user, init_atom_check("pos_fact", 0), 8, 1);
    redefine_predicate(d, ENTER_INTERPRETED);
    // [pos_fact(a, ..., g, '$pos'(0, 0, 0, 0)) | true]
    TAGGED *h = w->global_top;
    TAGGED *pos = h;
    pos[0] = MakeFunctor(init_atom_check("$pos", 0), 4);
    for (int i = 1; i <= 4; i++)
      pos[i] = MakeSmall_checked(0);
    TAGGED *head = h + 5;
    head[0] = MakeFunctor(init_atom_check("pos_fact", 0), 8);
    for (int i = 1; i <= 7; i++)
      head[i] = MakeAtom(atom_nil);
    head[8] = MakeSTR(pos);
    TAGGED *pair = h + 14;
    pair[0] = MakeSTR(head);
    pair[1] = init_atom_check("true", 0);
    w->global_top = h + 16;
    ins = compile_term(w, MakeLST(pair), 0);
    ins->forward = reinterpret_cast<instance *>(reinterpret_cast<std::uintptr_t>(ins) | 1);
    ins->backward = ins;
    ins->root = d;
    ins->death = INSTANCE_ALIVE;
    d->proc.code.intinfo->first = ins;
  }

  int save(TAGGED pred, int a, int b, int c, int e)
  {
    w->term[0] = pred;
    w->term[1] = MakeSmall_checked(a);
    w->term[2] = MakeSmall_checked(b);
    w->term[3] = MakeSmall_checked(c);
    w->term[4] = MakeSmall_checked(e);
    return prolog_save_stream_position(w);
  }

  // The four arguments of the stored '$pos'/4.
  std::vector<int> stored() const
  {
    const std::uint32_t n = instance_words(ins);
    const std::uint32_t head = (ins->code[n - 2] - STR_TAG) / 4;
    const std::uint32_t pos = (ins->code[head + 8] - STR_TAG) / 4;
    std::vector<int> v;
    for (int i = 1; i <= 4; i++)
      v.push_back(GetSmall(ins->code[pos + static_cast<std::uint32_t>(i)]));
    return v;
  }
};

TEST_F(SaveStreamPosition, StoresTheFourValuesInTheFirstClause)
{
  ASSERT_EQ(save(definition_word(d), 11, 22, 33, 44), 1);
  EXPECT_EQ(stored(), (std::vector<int>{11, 22, 33, 44}));
}

TEST_F(SaveStreamPosition, RefusesOffsetsThatLeaveTheImageOrMeetTheWrongTerm)
{
  const std::uint32_t n = instance_words(ins);
  const TAGGED head_word = ins->code[n - 2];
  const std::uint32_t head = (head_word - STR_TAG) / 4;
  const TAGGED arg8 = ins->code[head + 8];
  struct {
    const char *why;
    std::uint32_t where;
    TAGGED word;
  } corruptions[] = {
      {"head beyond the image", n - 2, STR_TAG + 4 * (n + 100)},
      {"head far beyond the image", n - 2, STR_TAG + 0x7FFFFFF0u},
      {"head not a structure", n - 2, MakeSmall_checked(5)},
      {"head misaligned", n - 2, head_word + 2},
      {"eighth argument beyond the image", head + 8, STR_TAG + 4 * (n + 10)},
      {"eighth argument not a compound", head + 8, MakeSmall_checked(7)},
      {"eighth argument at a constant", head + 8, STR_TAG + 4 * (head + 1)},
      {"a compound that runs past the image's end", (arg8 - STR_TAG) / 4,
       MakeFunctor(init_atom_check("$pos", 0), 200)},
      {"a compound of too few arguments", (arg8 - STR_TAG) / 4, MakeFunctor(init_atom_check("$pos", 0), 3)},
  };
  for (const auto &c : corruptions) {
    const TAGGED saved = ins->code[c.where];
    ins->code[c.where] = c.word;
    EXPECT_EQ(save(definition_word(d), 1, 2, 3, 4), 0) << c.why;
    ins->code[c.where] = saved;
    EXPECT_EQ(stored(), (std::vector<int>{0, 0, 0, 0})) << c.why << ": nothing written";
  }
  EXPECT_EQ(ins->code[head + 8], arg8);
  EXPECT_EQ(save(MakeSmall_checked(12345), 1, 2, 3, 4), 0) << "not a predicate";
  mod_def *user = find_module(init_atom_check("user", 0), 1);
  definition *compiled = insert_definition(user, init_atom_check("not_dynamic", 0), 8, 1);
  EXPECT_EQ(save(definition_word(compiled), 1, 2, 3, 4), 0) << "not a dynamic predicate";
  w->term[0] = definition_word(d);
  w->term[1] = init_atom_check("x", 0);
  EXPECT_EQ(prolog_save_stream_position(w), 0) << "a value that is not a small integer";
  ins->objsize = 52;
  EXPECT_EQ(save(definition_word(d), 1, 2, 3, 4), 0) << "an image too short for a pair";
  ins->objsize = static_cast<std::uint32_t>(INSTANCE_HEADER_BYTES + 4 * n);
}

// ---- Waiting ----

TEST_F(Streams, ABufferedStreamIsReadyAtOnceAndNothingReadyTimesOut)
{
  VR_stream *s = string_stream("abc");
  ASSERT_EQ(vr_get_code_helper(s, 0), 'a');
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  VR_stream *r[1] = {s};
  unsigned nr = 1;
  int rfd[1] = {fds[0]};
  unsigned nrfd = 1;
  const vrio_t_timespec forever_ish{30, 0};
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(VR_select(rfd, &nrfd, nullptr, nullptr, r, &nr, nullptr, nullptr, &forever_ish, 0), VRIO_S_NOERR);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10)) << "no wait";
  EXPECT_EQ(nr, 1u);
  EXPECT_EQ(r[0], s);
  EXPECT_EQ(nrfd, 0u);
  EXPECT_EQ(rfd[0], -1);
  int rfd2[1] = {fds[0]};
  nrfd = 1;
  const vrio_t_timespec zero{0, 0};
  EXPECT_EQ(VR_select(rfd2, &nrfd, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &zero, 0),
            VRIO_E_TIMEOUT);
  int wfd[3] = {fds[1], fds[1], fds[1]};
  unsigned nwfd = 3;
  int rfd3[1] = {fds[0]};
  nrfd = 1;
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  ASSERT_EQ(VR_select(rfd3, &nrfd, wfd, &nwfd, nullptr, nullptr, nullptr, nullptr, &zero, 0), VRIO_S_NOERR);
  EXPECT_EQ(nrfd, 1u);
  EXPECT_EQ(nwfd, 3u);
  vr_fclose_internal(s, 0);
  close(fds[0]);
  close(fds[1]);
}

// A device that is signalled readable but never has an item (its event
// stays set, its reads would block): the wait must end when its time is
// up, instead of starting again with the whole time after every wake-up.
vrio_t_event *always_set = nullptr;
const char never_ready_class = 0;
vrio_t_error_code never_ready_read(void *, void *, std::size_t *, vrio_t_bits) { return VRIO_E_WOULD_BLOCK; }
vrio_t_error_code never_ready_close(void **data, vrio_t_bits)
{
  *data = nullptr;
  return VRIO_S_NOERR;
}
vrio_t_error_code never_ready_ioctl(void *, uintptr_t operation, void *param, vrio_t_bits)
{
  if (operation != VRIO_IOCTL_READABLE_EVENT_)
    return VRIO_E_NOT_SUPPORTED;
  *static_cast<vrio_t_event **>(param) = always_set;
  return VRIO_S_NOERR;
}

TEST_F(Streams, WaitingKeepsItsDeadlineWhenAStreamIsSignalledButNeverReady)
{
  ASSERT_EQ(vrio_event_new(0, &always_set), VRIO_S_NOERR);
  ASSERT_EQ(vrio_event_set(always_set), VRIO_S_NOERR);
  static int data;
  VR_stream *s = nullptr;
  ASSERT_EQ(VR_create_stream(&data, &never_ready_class, never_ready_read, nullptr, nullptr, nullptr,
                             never_ready_close, nullptr, never_ready_ioctl, nullptr, 0x2, &s),
            VRIO_S_NOERR);
  VR_stream *r[1] = {s};
  unsigned nr = 1;
  const vrio_t_timespec limit{0, 300000000};
  const auto t0 = std::chrono::steady_clock::now();
  alarm(120); /* a wait that never ends fails the test instead of hanging it */
  EXPECT_EQ(VR_select(nullptr, nullptr, nullptr, nullptr, r, &nr, nullptr, nullptr, &limit, 0), VRIO_E_TIMEOUT);
  alarm(0);
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(took, std::chrono::milliseconds(300));
  EXPECT_LT(took, std::chrono::seconds(20));
  vr_fclose_internal(s, VR_CLOSE_FORCE);
  vrio_event_free(always_set);
}

// ---- Code-list streams (the codesio resource) ----

TEST_F(Streams, CodeStreamsRefuseMalformedTextAndTheResourceEndClosesThem)
{
  VR_stream *s = nullptr;
  EXPECT_EQ(codes_to_stream("ok\xFF", &s), nullptr) << "a byte that starts no character";
  VR_stream *a = nullptr, *b = nullptr, *in = nullptr;
  ASSERT_NE(open_buf_stream(&a), nullptr);
  ASSERT_NE(open_buf_stream(&b), nullptr);
  ASSERT_NE(codes_to_stream("xyz", &in), nullptr);
  VR_stream *other = null_stream(SM_OUTPUT);
  codesio_deinit(0);
  EXPECT_EQ(find_stream(a), nullptr);
  EXPECT_EQ(find_stream(b), nullptr);
  EXPECT_EQ(find_stream(in), nullptr);
  EXPECT_EQ(find_stream(other), other) << "streams of other kinds stay";
  vr_fclose_internal(other, 0);
}

// ---- The tokenizer over a stream ----

TEST_F(Streams, TheTokenizerReadsAStreamAndReportsTheSameLinesAsOverText)
{
  eglobal->current_double_quotes = MakeAtom(atom_codes_enum);
  const char *text = "foo(X,\n  'bar' ). % c\n\n[1, 2.5]\n.\n";
  const std::string f = path("tokens.pl");
  VR_stream *s = nullptr;
  ASSERT_EQ(VR_fopen(f.c_str(), 0, VR_FOPEN_WRITE | VR_FOPEN_TEXT, &s), VRIO_S_NOERR);
  VR_put_encoded_string(s, text, 0);
  vr_fclose_internal(s, 0);
  ASSERT_EQ(VR_fopen(f.c_str(), 0, VR_FOPEN_READ | VR_FOPEN_TEXT, &s), VRIO_S_NOERR);
  stream_source ss;
  stream_source_init(&ss, s);
  text_source ts;
  text_source_init(&ts, text);
  int sc = ss.base.get(&ss.base), tc = ts.base.get(&ts.base);
  for (int n = 0; n < 40; n++) {
    token a, b;
    ASSERT_EQ(read_token(w, &ss.base, sc, 0, 0, &a), 1);
    ASSERT_EQ(read_token(w, &ts.base, tc, 0, 0, &b), 1);
    EXPECT_EQ(a.kind, b.kind) << "token " << n;
    EXPECT_EQ(a.status, b.status) << "token " << n;
    EXPECT_EQ(a.line, b.line) << "token " << n;
    EXPECT_EQ(a.next, b.next) << "token " << n;
    if (a.kind == TOKEN_ATOM || a.kind == TOKEN_PUNCT || a.kind == TOKEN_END) {
      EXPECT_EQ(a.value, b.value) << "token " << n;
    }
    if (a.kind == TOKEN_EOF)
      break;
    sc = a.next;
    tc = b.next;
  }
  vr_fclose_internal(s, 0);
  eglobal->current_double_quotes = 0;
}

// $read_token/6 reads the current input.
TEST_F(Streams, ReadTokenReadsTheCurrentInput)
{
  VR_stream *s = string_stream("hello.");
  eglobal->input_stream_ptr = s;
  TAGGED *h = w->global_top;
  for (int i = 0; i < 4; i++)
    h[i] = PointerToTerm(h + i);
  w->global_top = h + 4;
  w->term[0] = MakeSmall_checked(' ');
  w->term[1] = MakeSmall_checked(0);
  w->term[2] = PointerToTerm(h);
  w->term[3] = PointerToTerm(h + 1);
  w->term[4] = PointerToTerm(h + 2);
  w->term[5] = PointerToTerm(h + 3);
  ASSERT_EQ(prolog_read_token(w), 1);
  const TAGGED token_term = deref(PointerToTerm(h));
  ASSERT_TRUE(IsStructure(token_term));
  EXPECT_EQ(deref(TagToSTR(token_term)[1]), init_atom_check("hello", 0));
  EXPECT_EQ(deref(PointerToTerm(h + 1)), MakeSmall_checked('.'));
  eglobal->input_stream_ptr = eglobal->stream_user_input;
  vr_fclose_internal(s, 0);
}

} // namespace

namespace {

// Losing a direction of a stream with the close-cleanup flag calls the
// library's close_cleanup/2 with what was lost: write (input remains),
// then all.
using StreamsWithLibrary = RuntimeFixture;

TEST_F(StreamsWithLibrary, LosingADirectionCallsCloseCleanup)
{
  std::vector<std::string> errors;
  consult_text(w,
               "close_cleanup(_, How) :- ( '$bb_get'(user, cleanups, L) -> true ; L = [] ),"
               " '$bb_put'(user, cleanups, [How|L]).",
               eglobal->prolog_module, &errors);
  ASSERT_TRUE(errors.empty()) << errors.front();
  TAGGED *h = w->global_top;
  *h = PointerToTerm(h);
  w->global_top = h + 1;
  w->term[0] = atom_nil;
  w->term[1] = PointerToTerm(h);
  w->term[2] = MakeSmall_checked(0x68);
  ASSERT_EQ(prolog_stream_from_codes(w), 1);
  VR_stream *s = stream_to_ptr(w->term[1], SM_ANY, 0);
  ASSERT_NE(s, nullptr);
  s->flags |= SF_CLOSE_CLEANUP;
  ASSERT_EQ(vr_fclose_internal(s, VR_CLOSE_OUTPUT), VRIO_S_NOERR);
  ASSERT_EQ(vr_fclose_internal(s, 0), VRIO_S_DEALLOCATED);
  TAGGED *v = w->global_top;
  *v = PointerToTerm(v);
  w->global_top = v + 1;
  w->term[0] = init_atom_check("user", 0);
  w->term[1] = init_atom_check("cleanups", 0);
  w->term[2] = PointerToTerm(v);
  ASSERT_EQ(prolog_bb_get(w), 1);
  TAGGED l = deref(PointerToTerm(v));
  std::vector<std::string> got;
  for (; IsList(l); l = deref(TagToLST(l)[1]))
    got.push_back(atom_name(deref(TagToLST(l)[0])));
  EXPECT_EQ(got, (std::vector<std::string>{"all", "write"}));
}


// ---- Deallocation listeners that close streams themselves ----

// A listener that closes another stream runs the listeners again, nested;
// one of them leaving then must not free the link the outer run stands on.
struct nested_close {
  VR_stream *to_close = nullptr;
  VR_stream *leave_on = nullptr;
  int calls = 0;
};

void closes_another(VR_stream *, void *cookie, unsigned options)
{
  auto *n = static_cast<nested_close *>(cookie);
  if (options & 2 && n->to_close != nullptr) {
    VR_stream *s = n->to_close;
    n->to_close = nullptr;
    vr_fclose_internal(s, VR_CLOSE_FORCE);
  }
}

void leaves_when_told(VR_stream *s, void *cookie, unsigned options)
{
  auto *n = static_cast<nested_close *>(cookie);
  ++n->calls;
  if ((options & 2) && s == n->leave_on)
    remove_stream_event_listener(cookie);
}

TEST_F(Streams, ListenersMayCloseStreamsWhileTheyAreCalled)
{
  VR_stream *first = nullptr, *second = nullptr;
  ASSERT_EQ(VR_stream_from_string("a", &first), 1);
  ASSERT_EQ(VR_stream_from_string("b", &second), 1);
  nested_close closer, leaver;
  closer.to_close = second;
  leaver.leave_on = second;
  // The leaver is added last, so it is called first.
  ASSERT_EQ(add_stream_event_listener(closes_another, &closer), VRIO_S_NOERR);
  ASSERT_EQ(add_stream_event_listener(leaves_when_told, &leaver), VRIO_S_NOERR);
  EXPECT_EQ(vr_fclose_internal(first, VR_CLOSE_FORCE), VRIO_S_DEALLOCATED);
  EXPECT_EQ(leaver.calls, 2) << "told of the first, then (nested) of the second";
  EXPECT_EQ(find_stream(second), nullptr);
  VR_stream *third = nullptr;
  ASSERT_EQ(VR_stream_from_string("c", &third), 1);
  vr_fclose_internal(third, VR_CLOSE_FORCE);
  EXPECT_EQ(leaver.calls, 2) << "gone";
  remove_stream_event_listener(&closer);
}

} // namespace
