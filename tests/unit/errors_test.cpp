// The error record, raising errors into Prolog, fatal faults and the
// message printer.  Raising is seen through its registers and the
// choicepoint hook; the fixture gives the one worker a small heap-and-local
// area and a trail, and puts the worker, the atom table, the hooks and the
// abort point back afterwards.
#include <gtest/gtest.h>

#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "errors.h"
#include "memman.h"
#include "streams.h"
#include "support.h"
#include "terms.h"
#include "worker.h"

namespace {

struct hook_call {
  worker *w;
  int which;
};
std::vector<hook_call> hook_calls;
void record_push(worker *w, int which) { hook_calls.push_back({w, which}); }

// Valid UTF-8 throughout, with no sequence cut at the end.
bool valid_utf8(const char *s) { return VR_from_os(s, 0) != nullptr; }

class ErrorsTest : public ::testing::Test {
protected:
  // Heap cells [0, 500), local cells [500, 1000): the local stack lies above
  // the heap, as in the engine.
  TAGGED area[1000];
  TAGGED trail[64];
  vr_fli_info fli{};
  alignas(worker) unsigned char saved_self[sizeof(worker)];

  TAGGED *heap() { return area; }
  TAGGED *local() { return area + 500; }
  static TAGGED unbound(TAGGED *cell) { *cell = PointerToTerm(cell); return *cell; }
  static TAGGED atom(const char *text) { return init_atom_check(text, 0); }

  void SetUp() override
  {
    std::memcpy(saved_self, static_cast<void *>(self), sizeof(worker));
    ASSERT_EQ(memman_init(), 0);
    ASSERT_TRUE(init_atoms_once());
    for (TAGGED &c : area)
      c = 0xDEADBEEF;
    worker *w = self;
    w->global_top = heap() + 10;
    w->global_uncond = heap();
    w->local_top = local() + 300;
    w->local_uncond = local() + 200;
    w->stack_start = local();
    w->stack_end = area + 1000;
    w->heap_start = nullptr;
    trail[0] = 0;
    w->trail_top = trail + 1;
    fli.excp_flag = 1;
    w->fli_data = &fli;
    hook_calls.clear();
    vr_push_error_choicepoint = record_push;
    vr_set_abort_env(nullptr);
    VR_set_errprintf_hook(nullptr, nullptr);
  }
  void TearDown() override
  {
    vr_push_error_choicepoint = nullptr;
    vr_set_abort_env(nullptr);
    VR_set_errprintf_hook(nullptr, nullptr);
    deinit_atoms();
    std::memcpy(static_cast<void *>(self), saved_self, sizeof(worker));
  }

  // module:name(args...) as built, checked word by word.
  void expect_goal(TAGGED goal, const char *module, TAGGED inner)
  {
    ASSERT_TRUE(IsStructure(goal));
    const TAGGED *g = TagToSTR(goal);
    EXPECT_EQ(g[0], functor_colon);
    EXPECT_EQ(g[1], atom(module));
    EXPECT_EQ(g[2], inner);
  }
};

// ---- Recording ----

struct truncation_case {
  const char *why;
  std::string message;
  std::size_t kept;
};

std::string ascii(std::size_t n) { return std::string(n, 'a'); }

TEST_F(ErrorsTest, SaveErrorCutsLongMessagesOnACharacterBoundary)
{
  const truncation_case cases[] = {
    {"short message kept whole", "type error: foo", 15},
    {"2047 bytes fit exactly", ascii(2047), 2047},
    {"3000 ASCII bytes keep 2047", ascii(3000), 2047},
    {"2-byte char at 2046-2047 is dropped whole", ascii(2046) + "\xC3\xA9" + ascii(10), 2046},
    {"lead byte at 2047 is dropped", ascii(2047) + "\xC3\xA9" + ascii(10), 2047},
    {"3-byte char from 2046 is dropped whole", ascii(2046) + "\xE2\x82\xAC" + ascii(10), 2046},
    {"3-byte char from 2045 is dropped whole", ascii(2045) + "\xE2\x82\xAC" + ascii(10), 2045},
    {"4-byte char from 2044 is dropped whole", ascii(2044) + "\xF0\x9F\x98\x80" + ascii(10), 2044},
    {"2-byte char ending at 2046 is kept", ascii(2045) + "\xC3\xA9" + ascii(10), 2047},
    {"nothing but continuation bytes: empty", std::string(3000, '\x80'), 0},
  };
  for (const truncation_case &c : cases) {
    save_error(DOMAIN_ERROR, c.message.c_str(), MakeSmall_checked(7));
    EXPECT_EQ(std::strlen(g_error_msg_ienc), c.kept) << c.why;
    EXPECT_EQ(std::string(g_error_msg_ienc), c.message.substr(0, c.kept)) << c.why;
    EXPECT_EQ(g_error_type, DOMAIN_ERROR);
    EXPECT_EQ(g_culprit, MakeSmall_checked(7));
  }
}

TEST_F(ErrorsTest, SaveErrorNullMessageAndReRecordingItsOwnMessage)
{
  save_error(TYPE_ERROR, nullptr, atom_nil);
  EXPECT_STREQ(g_error_msg_ienc, "INTERNAL ERROR");
  save_error(SYSTEM_ERROR, "again", atom_nil);
  save_error(SYSTEM_ERROR, g_error_msg_ienc, atom_nil);
  EXPECT_STREQ(g_error_msg_ienc, "again");
}

// ---- Building goals ----

TEST_F(ErrorsTest, BuildGoalOfArityZeroIsModuleColonAtom)
{
  TAGGED *top = self->global_top;
  const TAGGED goal = build_goal(self, "lists", "foo", 0);
  EXPECT_EQ(goal, MakeSTR(top));
  expect_goal(goal, "lists", atom("foo"));
  EXPECT_EQ(self->global_top, top + 3);
}

TEST_F(ErrorsTest, BuildGoalMovesLocalVariablesToTheHeap)
{
  worker *w = self;
  TAGGED *old_heap_var = heap() + 3;
  TAGGED *old_local = local() + 50;   // below local_uncond: older than the choicepoint
  TAGGED *new_local = local() + 250;  // above local_uncond: no trail entry
  TAGGED *bound_local = local() + 60;
  unbound(old_heap_var);
  unbound(old_local);
  unbound(new_local);
  *bound_local = MakeSmall_checked(42);
  w->term[0] = PointerToTerm(old_local);
  w->term[1] = PointerToTerm(old_heap_var);
  w->term[2] = PointerToTerm(bound_local);  // a chain to a value: the value
  w->term[3] = PointerToTerm(new_local);
  w->term[4] = PointerToTerm(old_local);    // the same variable again: shared
  w->term[5] = atom("x");

  TAGGED *h = w->global_top;
  const TAGGED goal = build_goal(w, "user", "p", 6);
  const TAGGED *args = h + 1;
  EXPECT_EQ(h[0], MakeFunctor(atom("p"), 6));
  expect_goal(goal, "user", MakeSTR(h));
  EXPECT_EQ(w->global_top, h + 7 + 3);

  EXPECT_EQ(args[0], PointerToTerm(&args[0])) << "a fresh heap variable";
  EXPECT_EQ(*old_local, PointerToTerm(&args[0])) << "the local is bound to it";
  EXPECT_EQ(args[1], PointerToTerm(old_heap_var)) << "older heap variables stay as they are";
  EXPECT_EQ(args[2], MakeSmall_checked(42));
  EXPECT_EQ(args[3], PointerToTerm(&args[3]));
  EXPECT_EQ(*new_local, PointerToTerm(&args[3]));
  EXPECT_EQ(args[4], PointerToTerm(&args[0])) << "a repeated variable keeps its sharing";
  EXPECT_EQ(args[5], atom("x"));

  ASSERT_EQ(w->trail_top, trail + 2) << "only the older local is trailed";
  EXPECT_EQ(trail[1], PointerToTerm(old_local));
}

// ---- Raising ----

TEST_F(ErrorsTest, RaiseErrorPlacesGoalArgumentAndCulprit)
{
  self->term[0] = atom("a");
  save_error(TYPE_ERROR, "m", MakeSmall_checked(9));
  TAGGED *h = self->global_top;
  raise_error("prolog", "atom_length", 1, 1);
  expect_goal(self->term[0], "prolog", MakeSTR(h));
  EXPECT_EQ(h[0], MakeFunctor(atom("atom_length"), 1));
  EXPECT_EQ(h[1], atom("a"));
  EXPECT_EQ(self->term[1], MakeSmall_checked(1));
  EXPECT_EQ(self->term[2], MakeSmall_checked(9));
  ASSERT_EQ(hook_calls.size(), 1u);
  EXPECT_EQ(hook_calls[0].w, self);
  EXPECT_EQ(hook_calls[0].which, ERROR_CHPT_CERROR);
}

TEST_F(ErrorsTest, RaiseFuncErrorWrapsTheExpressionInEval)
{
  self->term[0] = MakeSmall_checked(1);
  self->term[1] = atom("b");
  TAGGED *h = self->global_top;
  raise_func_error("+", 2);
  // prolog:+(1, b) first, then '$eval'(that) and its qualification.
  const TAGGED expression = MakeSTR(h + 3);
  expect_goal(expression, "prolog", MakeSTR(h));
  EXPECT_EQ(h[0], MakeFunctor(atom("+"), 2));
  EXPECT_EQ(h[1], MakeSmall_checked(1));
  EXPECT_EQ(h[2], atom("b"));
  EXPECT_EQ(h[6], MakeFunctor(atom("$eval"), 1));
  EXPECT_EQ(h[7], expression);
  expect_goal(self->term[0], "prolog", MakeSTR(h + 6));
  EXPECT_EQ(self->term[1], MakeSmall_checked(1));
  ASSERT_EQ(hook_calls.size(), 1u);
  EXPECT_EQ(hook_calls[0].which, ERROR_CHPT_CERROR);
}

TEST_F(ErrorsTest, RaiseExceptionPutsTheTermInX0)
{
  raise_exception(atom("oops"));
  EXPECT_EQ(self->term[0], atom("oops"));
  ASSERT_EQ(hook_calls.size(), 1u);
  EXPECT_EQ(hook_calls[0].which, ERROR_CHPT_RAISE_EXCP);
}

TEST_F(ErrorsTest, RaisingWithoutAnEmulatorOnlyPlacesRegisters)
{
  vr_push_error_choicepoint = nullptr;
  raise_exception(atom("oops"));
  EXPECT_EQ(self->term[0], atom("oops"));
}

TEST_F(ErrorsTest, ErrnoErrorMessages)
{
  const struct {
    int e;
    const char *syscall;
    const char *message;
  } cases[] = {
    {ENOENT, "open", "open/4: 'open' failed: No such file or directory"},
    {123456, "read", "open/4: 'read' failed: errno=123456"},  // no system text
    {ENOENT, "not supported", "open/4 not supported"},        // errno ignored
    {EACCES, "not supported", "open/4 not supported"},
  };
  for (const auto &c : cases) {
    hook_calls.clear();
    fli.excp_flag = 1;
    TAGGED *h = self->global_top;
    vr_raise_errno_error(c.e, "open/4", c.syscall);
    EXPECT_STREQ(g_error_msg_ienc, c.message);
    EXPECT_EQ(g_error_type, 5);
    EXPECT_EQ(g_culprit, MakeSmall_checked(0));
    expect_goal(self->term[0], "prolog", atom(""));
    EXPECT_EQ(self->global_top, h + 3);
    EXPECT_EQ(self->term[1], MakeSmall_checked(0));
    EXPECT_EQ(self->term[2], MakeSmall_checked(0));
    EXPECT_EQ(hook_calls.size(), 1u);
    EXPECT_EQ(fli.excp_flag, 0) << "the foreign call must report the error";
  }
}

// A formatted message longer than the record must still end on a character
// boundary: formatting may not cut a sequence in two.
TEST_F(ErrorsTest, ErrnoErrorLongNameIsCutOnACharacterBoundary)
{
  std::string name;
  for (int i = 0; i < 1500; ++i)
    name += "\xC3\xA9";
  vr_raise_errno_error(0, name.c_str(), "not supported");
  EXPECT_EQ(std::strlen(g_error_msg_ienc), 2046u);
  EXPECT_TRUE(valid_utf8(g_error_msg_ienc)) << "a sequence was cut";
}

TEST_F(ErrorsTest, StrerrorTextsAndItsOwnBuffer)
{
  save_error(TYPE_ERROR, "recorded", atom_nil);
  EXPECT_STREQ(vr_strerror(ENOENT), "No such file or directory");
  EXPECT_STREQ(vr_strerror(-3), "errno=-3");
  EXPECT_STREQ(g_error_msg_ienc, "recorded") << "asking for a text overwrote the record";
}

// ---- Built-ins ----

TEST_F(ErrorsTest, CerrorDataGivesTypeAndMessageAtom)
{
  const struct {
    const char *message;  // null: no message
    const char *atom_text;
  } cases[] = {
    {"permission denied \xC3\xA9", "permission denied \xC3\xA9"},
    {nullptr, "INTERNAL ERROR"},
    {"bad \xFF text", "unknown error"},
  };
  for (const auto &c : cases) {
    save_error(1537, c.message, atom_nil);
    self->term[0] = unbound(heap() + 100);
    self->term[1] = unbound(heap() + 101);
    ASSERT_TRUE(prolog_cerror_data(self));
    EXPECT_EQ(heap()[100], MakeSmall_checked(1537));
    EXPECT_EQ(heap()[101], atom(c.atom_text));
    // Reading it again gives the same.
    self->term[0] = MakeSmall_checked(1537);
    self->term[1] = atom(c.atom_text);
    EXPECT_TRUE(prolog_cerror_data(self));
  }
  self->term[0] = MakeSmall_checked(1538);
  EXPECT_FALSE(prolog_cerror_data(self));
}

TEST_F(ErrorsTest, ErrorMessageOfCodes)
{
  const struct {
    VR_int64 code;
    const char *text;
  } cases[] = {
    {-10600, "VRIO_E_NET_ERROR"},
    {-1, "VRIO_E_END_OF_FILE"},
    {-10002, "(unknown VRIO error)"},
    {-300000000, "(unknown VRIO error)"},          // boxed, one digit
    {-4294967297LL, "(unknown VRIO error)"},       // low 32 bits are -1: no aliasing
    {ENOENT, "No such file or directory"},
  };
  for (const auto &c : cases) {
    self->term[0] = make_integer_term(self, c.code);
    self->term[1] = unbound(heap() + 200);
    ASSERT_TRUE(prolog_error_message(self)) << c.code;
    EXPECT_EQ(heap()[200], atom(c.text)) << c.code << ": expected " << c.text << ", got "
                                          << (IsAtom(heap()[200]) ? atom_name(heap()[200]) : "?");
  }
  self->term[0] = atom("abc");
  self->term[1] = unbound(heap() + 200);
  EXPECT_FALSE(prolog_error_message(self)) << "a code that is no integer";
}

// ---- Fatal faults ----

TEST_F(ErrorsTest, FaultWithoutAbortPointPrintsAndExits255)
{
  EXPECT_EXIT(VR_raise_fault("msg"), ::testing::ExitedWithCode(255), "\n! msg\n");
}

TEST_F(ErrorsTest, FaultReturnsToTheAbortPointOnce)
{
  std::jmp_buf env;
  vr_set_abort_env(&env);
  const int jumped = setjmp(env);
  if (jumped == 0) {
    VR_raise_fault("the atom table is full");
    FAIL() << "VR_raise_fault returned";
  }
  EXPECT_EQ(jumped, 3);
  EXPECT_EQ(g_error_type, -1);
  EXPECT_EQ(g_culprit, atom_nil);
  EXPECT_STREQ(g_error_msg_ienc, "the atom table is full");
  // The abort point served once: the next fault ends the process.
  EXPECT_EXIT(VR_raise_fault("second"), ::testing::ExitedWithCode(255), "! second");
}

// vr_get_abort_err_ienc with the engine rebuilt by start-up's hook:
// startup_test.cpp (AnAbortAfterStartUpRebuildsTheWorker...).
TEST_F(ErrorsTest, AbortMessageWithoutAnEngineToRebuild)
{
  save_error(-1, "memman_reinit: internal error", atom_nil);
  EXPECT_STREQ(vr_get_abort_err_ienc(), "memman_reinit: internal error");
}

// ---- Message output ----

namespace {
int hook_flags;
std::string hook_text;
void *hook_data;
int capture(void *user_data, int flags, const char *format, std::va_list args)
{
  hook_data = user_data;
  hook_flags = flags;
  char buf[8192];
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  hook_text = buf;
  return n;
}
} // namespace

TEST_F(ErrorsTest, ErrprintfGoesToTheHookOrAfterANewlineToStderr)
{
  int cookie = 0;
  EXPECT_EQ(VR_set_errprintf_hook(capture, &cookie), nullptr);
  EXPECT_EQ(errprintf(3, "\n! %s %d\n", "x", 5), 7);
  EXPECT_EQ(hook_data, &cookie);
  EXPECT_EQ(hook_flags, 3);
  EXPECT_EQ(hook_text, "\n! x 5\n");
  std::string long_text(5000, 'z');
  errprintf(0, "%s", long_text.c_str());
  EXPECT_EQ(hook_text, long_text) << "long texts are not cut";

  EXPECT_EQ(VR_set_errprintf_hook(nullptr, nullptr), capture) << "the previous hook comes back";
  ::testing::internal::CaptureStderr();
  errprintf(0, "warning %d", 7);
  vr_ttyprintf("[gc %s]", "done");
  vr_ttyflush();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "\nwarning 7[gc done]");
}

TEST(OsText, FromOsAcceptsOnlyWellFormedUtf8)
{
  const struct {
    const char *text;
    bool valid;
  } cases[] = {
    {"", true},
    {"plain", true},
    {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
    {"\xF4\x8F\xBF\xBF", true},         // U+10FFFF
    {"\x80", false},                    // stray continuation
    {"\xC3", false},                    // cut at the end
    {"\xE2\x82", false},
    {"\xC0\x80", false},                // overlong zero: internal spelling, not UTF-8
    {"\xC1\xBF", false},                // overlong
    {"\xE0\x80\xAF", false},            // overlong
    {"\xED\xA0\x80", false},            // surrogate
    {"\xF4\x90\x80\x80", false},        // above U+10FFFF
    {"\xFF", false},
  };
  for (const auto &c : cases) {
    const char *out = VR_from_os(c.text, 3);
    if (c.valid) {
      ASSERT_NE(out, nullptr) << "refused valid text";
      EXPECT_STREQ(out, c.text);
      EXPECT_NE(out, c.text) << "the result lives in the conversion's buffer";
    } else {
      EXPECT_EQ(out, nullptr) << "accepted invalid text, case " << &c - cases;
    }
  }
  EXPECT_EQ(VR_from_os(nullptr, 3), nullptr);
}

} // namespace
