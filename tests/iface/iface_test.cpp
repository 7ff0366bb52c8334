// The foreign-language interface as an embedding program sees it: this
// file includes only the public headers and reaches the runtime only
// through the dispatch structure (iface.engine_symbols checks that it names
// no runtime symbol but VR_get_dispatch_40103 and, until the boot state is
// a saved state that slot 0 restores, runtime_start, which starts the
// runtime through slot 0's function and loads its library).  One runtime is
// brought up for the whole program, with a memory ceiling low enough for
// the out-of-memory case; every test leaves it usable for the next.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "vostrel/vostrel.h"

#include <dlfcn.h>

// The one start of a runtime with its library (compiler/runtime_boot.h).
extern "C" int runtime_start(int argc, char **argv);

namespace {

VREnv *env = nullptr;
DISPATCH_TABLE_STRUCT_VOSTREL_H *api = nullptr;

#define VR(f) (api->p##f)

// ---- Helpers, all through the table ----

VR_atom atom(const char *text) { return VR(VR_atom_from_string)(text); }

// The term read from text (without its full stop) in a new reference.
VR_term_ref term(const char *text)
{
  VR_term_ref t = VR(VR_new_term_ref)();
  const std::string clause = std::string(text) + " .";
  EXPECT_EQ(VR(VR_read_from_string)(t, clause.c_str(), nullptr), 1) << "reading " << text;
  return t;
}

VR_pred_ref pred(const char *name, int arity, const char *module = "prolog")
{
  VR_pred_ref p = VR(VR_predicate)(name, arity, module);
  EXPECT_NE(p, nullptr) << module << ":" << name << "/" << arity;
  return p;
}

// Runs the goal once (as VR_query does); the result 1, 0 or -1.
int run(const char *goal_text)
{
  VR_term_ref g = term(goal_text);
  return VR(VR_query)(pred("call", 1), g);
}

// The text of a term, as writeq/1 would give it (through format/3 to an atom).
std::string text_of(VR_term_ref t)
{
  VR_term_ref a = VR(VR_new_term_ref)();
  VR_term_ref list = VR(VR_new_term_ref)();
  VR(VR_put_term)(list, t);
  VR_term_ref goal = VR(VR_new_term_ref)();
  VR(VR_put_variable)(a);
  VR(VR_cons_functor)(goal, atom("term_to_atom"), 2, list, a);
  if (VR(VR_query)(pred("call", 1), goal) != 1)
    return "<term_to_atom failed>";
  const char *s = nullptr;
  if (!VR(VR_get_string)(a, &s))
    return "<not an atom>";
  return s;
}

// The pending exception's text; "" when none.
std::string exception_text()
{
  VR_term_ref e = VR(VR_new_term_ref)();
  if (!VR(VR_exception_term)(e))
    return "";
  return text_of(e);
}

class Env : public ::testing::Environment {
public:
  void SetUp() override
  {
    // Low enough that the out-of-memory query finds the ceiling quickly.
    setenv("PROLOGMAXSIZE", "96M", 1);
    env = VR_get_dispatch_40103(nullptr);
    api = env->dispatch_API_VOSTREL_H;
    ASSERT_EQ(runtime_start(0, nullptr), 1) << VR(VR_error_message)(VR(VR_get_errno)());
  }
  void TearDown() override { VR(VR_deinitialize)(); }
};

} // namespace

// ---- The dispatch structure ----

TEST(Dispatch, TablesHaveTheirFixedShape)
{
  EXPECT_EQ(VR_get_dispatch_40103(nullptr), env) << "one default structure";
  EXPECT_EQ(env->stash, nullptr);
  EXPECT_EQ(env->fli_data, nullptr);
  const DISPATCH_TABLE_STRUCT_SUPPORT_H *sup = env->dispatch_API_SUPPORT_H;
  EXPECT_EQ(api->size, 1612u);
  EXPECT_STREQ(api->name, "vostrel.h");
  EXPECT_EQ(api->version, 197063);
  EXPECT_EQ(sup->size, 348u);
  EXPECT_STREQ(sup->name, "support.h");
  EXPECT_EQ(sup->version, 197063);

  // Slot k read raw: name at 12 + 8k, function at 16 + 8k.
  auto main_name = [&](int k) { return *reinterpret_cast<const char *const *>(reinterpret_cast<const char *>(api) + 12 + 8 * k); };
  auto main_fn = [&](int k) { return *reinterpret_cast<void *const *>(reinterpret_cast<const char *>(api) + 16 + 8 * k); };
  auto sup_name = [&](int k) { return *reinterpret_cast<const char *const *>(reinterpret_cast<const char *>(sup) + 12 + 8 * k); };
  auto sup_fn = [&](int k) { return *reinterpret_cast<void *const *>(reinterpret_cast<const char *>(sup) + 16 + 8 * k); };
  EXPECT_EQ(main_name(199), nullptr);
  EXPECT_EQ(main_fn(199), nullptr);
  EXPECT_EQ(sup_name(41), nullptr);
  EXPECT_EQ(sup_fn(41), nullptr);
  for (int k : {3, 75, 96, 97, 99, 103}) {
    EXPECT_EQ(std::string(main_name(k)), "unavailable_api_" + std::to_string(k + 1));
    EXPECT_EQ(main_fn(k), nullptr) << "reserved slot " << k;
  }
  // Every slot has its name, and the slots a launcher and a simple foreign
  // resource need have their functions.
  struct slot { int k; const char *name; };
  for (const slot &s : {slot{0, "vr_glue_initialize"}, {1, "VR_deinitialize"}, {5, "VR_predicate"},
                        {7, "VR_new_term_ref"}, {12, "VR_query"}, {16, "VR_next_solution"},
                        {27, "VR_put_integer"}, {39, "VR_get_integer"}, {61, "VR_unify"},
                        {63, "VR_exception_term"}, {66, "VR_error_message"}, {67, "VR_get_errno"},
                        {146, "VR_mutex_lock"}, {185, "VR_decode_reserved_exception"},
                        {198, "VR_sigaction"}}) {
    EXPECT_STREQ(main_name(s.k), s.name);
    EXPECT_NE(main_fn(s.k), nullptr) << s.name;
  }
  for (int k = 0; k < 199; ++k)
    EXPECT_NE(main_name(k), nullptr) << "slot " << k;
  // Slots 31 to 33, reserved in the first version, give the handles of $free/1.
  for (const slot &s : {slot{10, "get_current_worker"}, {20, "intoRelocationChain"}, {30, "markTerm"},
                        {31, "vr_issue_free_handle"}, {32, "vr_revoke_free_handle"},
                        {33, "vr_free_handle_issued"}}) {
    EXPECT_STREQ(sup_name(s.k), s.name);
    EXPECT_NE(sup_fn(s.k), nullptr) << s.name;
  }
}

TEST(Dispatch, VersionHandshake)
{
  struct { int version; bool ok; } cases[] = {
      {197063, true},   // the table's own
      {197064, true},   // newer, same major
      {197062, false},  // older than a resource built for this table
      {0x401C7, false}, // another major version
      {0x201C7, false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(vr_dispatch_version_ok(c.version) != 0, c.ok) << std::hex << c.version;
}

TEST(Dispatch, StreamSlotsReachTheStreamLayer)
{
  VR_stream *s = nullptr;
  ASSERT_EQ(VR(VR_stream_from_string)("aé", &s), 1);
  EXPECT_EQ(VR(vr_get_code_helper)(s, 0), 'a');
  EXPECT_EQ(VR(vr_get_code_helper)(s, 0), 0xE9);
  EXPECT_EQ(VR(vr_get_code_helper)(s, 0), -1) << "end of file";
  EXPECT_GE(VR(VR_fclose)(s, 0), 0) << "success codes are 0 or small positive numbers";
  EXPECT_EQ(VR(VR_stream_from_string)("\xFF", &s), 0) << "not UTF-8";
  EXPECT_NE(VR(VR_get_stdout)(), nullptr);
  EXPECT_STREQ(VR(vr_vrio_error_name)(VRIO_E_OUT_OF_MEMORY), "VRIO_E_OUT_OF_MEMORY");
}

// ---- Terms ----

TEST(Terms, IntegersAtTheLimits)
{
  // Each value put, read back, and compared with the same number read as
  // text (which makes small and boxed integers by the reader's own rules).
  const long values[] = {0, 1, -1, 268435455, 268435456, -268435456, -268435457,
                         2147483647, -2147483647 - 1};
  for (long v : values) {
    VR_term_ref t = VR(VR_new_term_ref)();
    ASSERT_EQ(VR(VR_put_integer)(t, v), 1);
    long back = 0;
    EXPECT_EQ(VR(VR_get_integer)(t, &back), 1);
    EXPECT_EQ(back, v);
    EXPECT_EQ(VR(VR_term_type)(t), VR_TERM_INTEGER);
    VR_term_ref u = VR(VR_new_term_ref)();
    ASSERT_EQ(VR(VR_put_number_codes)(u, std::to_string(v).c_str()), 1);
    EXPECT_EQ(VR(VR_compare)(t, u), 0) << v;
    EXPECT_EQ(VR(VR_unify)(t, u), 1) << v;
  }
  // Bignums beyond 32 bits read through the number text.
  VR_term_ref big = VR(VR_new_term_ref)();
  ASSERT_EQ(VR(VR_put_number_codes)(big, "-123456789012345678901234567890"), 1);
  long dummy;
  EXPECT_EQ(VR(VR_get_integer)(big, &dummy), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_TYPE);
  const char *digits = nullptr;
  ASSERT_EQ(VR(VR_get_number_codes)(big, &digits), 1);
  EXPECT_STREQ(digits, "-123456789012345678901234567890");
  EXPECT_EQ(VR(VR_put_number_codes)(big, "12a"), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_INVALID_NUMBER);
}

TEST(Terms, FloatsAndTheirIntegerReading)
{
  VR_term_ref t = VR(VR_new_term_ref)();
  for (double d : {0.0, -0.5, 1.0e300, 2.5e-310}) {
    ASSERT_EQ(VR(VR_put_float)(t, d), 1);
    double back = 1;
    EXPECT_EQ(VR(VR_get_float)(t, &back), 1);
    EXPECT_EQ(back, d);
    EXPECT_EQ(VR(VR_term_type)(t), VR_TERM_FLOAT);
  }
  // Truncated toward zero; a value outside 32 bits is a type error (the
  // plain conversion would be undefined; 2^31 would come back negative).
  struct { double d; int ok; long value; } cases[] = {
      {3.7, 1, 3}, {-3.7, 1, -3}, {2147483647.9, 1, 2147483647}, {-2147483648.5, 1, -2147483647 - 1},
      {2147483648.0, 0, 0}, {4294967295.0, 0, 0}, {-2147483649.0, 0, 0}, {1.0e10, 0, 0},
  };
  for (const auto &c : cases) {
    VR(VR_put_float)(t, c.d);
    long v = 12345;
    EXPECT_EQ(VR(VR_get_integer)(t, &v), c.ok) << c.d;
    if (c.ok)
      EXPECT_EQ(v, c.value) << c.d;
    else
      EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_TYPE) << c.d;
  }
  VR(VR_put_number_codes)(t, "nan");
  double nan_value = std::strtod("nan", nullptr);
  VR(VR_put_float)(t, nan_value);
  long v;
  EXPECT_EQ(VR(VR_get_integer)(t, &v), 0) << "NaN";
  // An integer reads as a float too.
  VR(VR_put_integer)(t, -7);
  double d;
  EXPECT_EQ(VR(VR_get_float)(t, &d), 1);
  EXPECT_EQ(d, -7.0);
}

TEST(Terms, IntegersAsBytes)
{
  VR_term_ref t = VR(VR_new_term_ref)();
  VR_term_ref u = VR(VR_new_term_ref)();
  const unsigned char five[] = {0, 0, 0, 0, 1};
  ASSERT_EQ(VR(VR_put_integer_bytes)(t, five, 5, 0), 1);
  VR(VR_put_number_codes)(u, "4294967296");
  EXPECT_EQ(VR(VR_compare)(t, u), 0);
  const unsigned char minus_one[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(VR(VR_put_integer_bytes)(t, minus_one, 5, 0), 1);
  long v = 0;
  EXPECT_EQ(VR(VR_get_integer)(t, &v), 1);
  EXPECT_EQ(v, -1);
  ASSERT_EQ(VR(VR_put_integer_bytes)(t, five, 0, 0), 1);
  EXPECT_EQ(VR(VR_get_integer)(t, &v), 1);
  EXPECT_EQ(v, 0);
  const long long native = -1234567890123LL;
  ASSERT_EQ(VR(VR_put_integer_bytes)(t, &native, 8, 1), 1);
  VR(VR_put_number_codes)(u, "-1234567890123");
  EXPECT_EQ(VR(VR_compare)(t, u), 0);

  unsigned char buf[32];
  std::size_t size = 1;
  VR(VR_put_integer)(t, 127);
  EXPECT_EQ(VR(VR_get_integer_bytes)(t, buf, &size, 0), 1);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(buf[0], 0x7F);
  VR(VR_put_integer)(t, 128);
  size = 1;
  EXPECT_EQ(VR(VR_get_integer_bytes)(t, buf, &size, 0), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_UNKNOWN) << "the buffer is too small";
  EXPECT_EQ(size, 2u);
  // A bignum round trip through bytes and a native 64-bit read.
  VR(VR_put_number_codes)(u, "-1234567890123");
  long long back = 0;
  size = 8;
  EXPECT_EQ(VR(VR_get_integer_bytes)(u, &back, &size, 1), 1);
  EXPECT_EQ(back, native);
  VR(VR_put_number_codes)(u, "340282366920938463463374607431768211455");  // 2^128 - 1
  size = sizeof buf;
  ASSERT_EQ(VR(VR_get_integer_bytes)(u, buf, &size, 0), 1);
  EXPECT_EQ(size, 17u);
  ASSERT_EQ(VR(VR_put_integer_bytes)(t, buf, size, 0), 1);
  EXPECT_EQ(VR(VR_compare)(t, u), 0);
  VR(VR_put_float)(t, 1.5);
  size = 8;
  EXPECT_EQ(VR(VR_get_integer_bytes)(t, buf, &size, 0), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_TYPE);
}

TEST(Terms, AtomsAndTheirText)
{
  const char *texts[] = {"plain", "", "Üñïçødé €", "with\nnewline", "a'quote"};
  for (const char *s : texts) {
    VR_atom a = atom(s);
    ASSERT_NE(a, 0u) << s;
    EXPECT_STREQ(VR(VR_string_from_atom)(a), s);
    EXPECT_EQ(VR(VR_atom_length)(a), std::strlen(s)) << "bytes";
    EXPECT_EQ(VR(VR_existing_atom_from_string)(s), a);
    VR_term_ref t = VR(VR_new_term_ref)();
    ASSERT_EQ(VR(VR_put_string)(t, s), 1);
    VR_atom back = 0;
    EXPECT_EQ(VR(VR_get_atom)(t, &back), 1);
    EXPECT_EQ(back, a);
    EXPECT_EQ(VR(VR_is_atom)(t), 1);
    EXPECT_EQ(VR(VR_is_atomic)(t), 1);
  }
  EXPECT_EQ(VR(VR_existing_atom_from_string)("surely never made before 8f3a"), 0u);
  EXPECT_EQ(VR(VR_atom_from_string)("\xC3"), 0u) << "a cut UTF-8 sequence";
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_INVALID_STRING);
  VR_term_ref t = VR(VR_new_term_ref)();
  EXPECT_EQ(VR(VR_put_string)(t, nullptr), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_NULL_STRING);
  EXPECT_EQ(VR(VR_string_from_atom)(0x1b), nullptr) << "a small integer word";
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_TYPE);
  // Registration counts saturate: a fresh atom registered and unregistered
  // twice keeps working.
  VR_atom a = atom("registered for a while");
  EXPECT_EQ(VR(VR_register_atom)(a), 1);
  EXPECT_EQ(VR(VR_unregister_atom)(a), 1);
  EXPECT_EQ(VR(VR_unregister_atom)(a), 1);
  EXPECT_EQ(VR(VR_register_atom)(0x1b), 0);
}

TEST(Terms, CompoundsListsAndAccess)
{
  VR_term_ref x = VR(VR_new_term_ref)();
  VR_term_ref one = VR(VR_new_term_ref)();
  VR_term_ref f = VR(VR_new_term_ref)();
  VR(VR_put_variable)(x);
  VR(VR_put_integer)(one, 1);
  ASSERT_EQ(VR(VR_cons_functor)(f, atom("point"), 3, x, one, x), 1);
  VR_term_ref a1 = VR(VR_new_term_ref)(), a3 = VR(VR_new_term_ref)();
  VR(VR_get_arg)(1, f, a1);
  VR(VR_get_arg)(3, f, a3);
  EXPECT_EQ(VR(VR_is_variable)(a1), 1);
  EXPECT_EQ(VR(VR_compare)(a1, a3), 0) << "one variable in both places";
  VR_atom name;
  int arity;
  ASSERT_EQ(VR(VR_get_functor)(f, &name, &arity), 1);
  EXPECT_EQ(name, atom("point"));
  EXPECT_EQ(arity, 3);
  VR_term_ref a = VR(VR_new_term_ref)();
  EXPECT_EQ(VR(VR_get_arg)(2, f, a), 1);
  long v;
  EXPECT_EQ(VR(VR_get_integer)(a, &v), 1);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(VR(VR_get_arg)(4, f, a), 0);
  EXPECT_EQ(VR(VR_get_arg)(0, f, a), 0);
  EXPECT_EQ(VR(VR_is_compound)(f), 1);
  EXPECT_EQ(VR(VR_is_list)(f), 0);

  // '.'/2 is a list cell; its arguments are 1 and 2, not 3.
  VR_term_ref l = VR(VR_new_term_ref)();
  VR_term_ref nil = VR(VR_new_term_ref)();
  VR(VR_put_atom)(nil, atom("[]"));
  ASSERT_EQ(VR(VR_cons_list)(l, one, nil), 1);
  EXPECT_EQ(VR(VR_is_list)(l), 1);
  EXPECT_EQ(VR(VR_get_functor)(l, &name, &arity), 1);
  EXPECT_EQ(arity, 2);
  EXPECT_EQ(VR(VR_get_arg)(3, l, a), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_TYPE);
  VR_term_ref h = VR(VR_new_term_ref)(), tl = VR(VR_new_term_ref)();
  EXPECT_EQ(VR(VR_get_list)(l, h, tl), 1);
  EXPECT_EQ(VR(VR_compare)(h, one), 0);
  EXPECT_EQ(VR(VR_get_list)(nil, h, tl), 0);
  ASSERT_EQ(VR(VR_put_functor)(f, atom("."), 2), 1);
  EXPECT_EQ(VR(VR_is_list)(f), 1);
  ASSERT_EQ(VR(VR_put_functor)(f, atom("g"), 0), 1);
  EXPECT_EQ(VR(VR_is_atom)(f), 1);
  EXPECT_EQ(VR(VR_put_functor)(f, atom("g"), 256), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_DOMAIN);
  EXPECT_EQ(VR(VR_put_functor)(f, 0x1b, 1), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_TYPE);
  VR_term_ref args[2] = {one, nil};
  ASSERT_EQ(VR(VR_cons_functor_array)(f, atom("h"), 2, args), 1);
  EXPECT_EQ(text_of(f), "h(1,[])");
}

TEST(Terms, CodeListsAndPartialLists)
{
  VR_term_ref l = VR(VR_new_term_ref)();
  VR_term_ref tail = VR(VR_new_term_ref)();
  VR(VR_put_atom)(tail, atom("[]"));
  ASSERT_EQ(VR(VR_put_list_codes)(l, tail, "héllo €"), 1);
  const char *text = nullptr;
  ASSERT_EQ(VR(VR_get_list_codes)(l, &text), 1);
  EXPECT_STREQ(text, "héllo €");
  EXPECT_EQ(text_of(l), "[104,233,108,108,111,32,8364]") << "codes, not bytes";

  // A partial list: an unbound tail.
  VR(VR_put_variable)(tail);
  ASSERT_EQ(VR(VR_put_list_codes)(l, tail, "ab"), 1);
  EXPECT_EQ(VR(VR_get_list_codes)(l, &text), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_TYPE);
  // Taking it apart in pieces leaves the rest, here the unbound tail.
  char buf[8];
  std::size_t written = 0;
  VR_term_ref rest = VR(VR_new_term_ref)();
  ASSERT_EQ(VR(VR_get_list_n_codes)(l, rest, 1, &written, buf), 1);
  EXPECT_EQ(written, 1u);
  EXPECT_EQ(buf[0], 'a');
  ASSERT_EQ(VR(VR_get_list_n_codes)(rest, rest, 8, &written, buf), 1);
  EXPECT_EQ(written, 1u);
  EXPECT_EQ(VR(VR_is_variable)(rest), 1);
  VR_term_ref bad = term("[0'a, foo]");
  EXPECT_EQ(VR(VR_get_list_n_codes)(bad, rest, 8, &written, buf), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_DOMAIN);

  // Bytes.
  const unsigned char bytes[] = {0, 255, 10};
  VR(VR_put_atom)(tail, atom("[]"));
  ASSERT_EQ(VR(VR_put_list_n_bytes)(l, tail, 3, bytes), 1);
  EXPECT_EQ(text_of(l), "[0,255,10]");
  unsigned char out[4] = {};
  ASSERT_EQ(VR(VR_get_list_n_bytes)(l, rest, 2, &written, out), 1);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(out[1], 255);
  EXPECT_EQ(text_of(rest), "[10]");
  VR_term_ref big = term("[1, 256]");
  EXPECT_EQ(VR(VR_get_list_n_bytes)(big, rest, 2, &written, out), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_DOMAIN);
  EXPECT_EQ(VR(VR_get_list_n_bytes)(l, rest, 2, &written, nullptr), 0);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_NULL_STRING);
}

TEST(Terms, CompareUnifyAndReferences)
{
  VR_term_ref v = VR(VR_new_term_ref)();
  VR_term_ref a = VR(VR_new_term_ref)();
  VR(VR_put_variable)(v);
  VR(VR_put_atom)(a, atom("a"));
  EXPECT_EQ(VR(VR_compare)(v, a), -1);
  EXPECT_EQ(VR(VR_compare)(a, v), 1);
  EXPECT_EQ(VR(VR_compare)(v, v), 0);

  // A failed unification leaves no binding behind.
  VR_term_ref t = term("f(X, Y, b)");
  VR_term_ref u = term("f(1, 2, c)");
  EXPECT_EQ(VR(VR_unify)(t, u), 0);
  VR_term_ref x = VR(VR_new_term_ref)();
  VR(VR_get_arg)(1, t, x);
  EXPECT_EQ(VR(VR_is_variable)(x), 1) << "X stays unbound";
  VR(VR_get_arg)(2, t, x);
  EXPECT_EQ(VR(VR_is_variable)(x), 1) << "Y stays unbound";
  VR_term_ref w = term("f(1, Z, b)");
  EXPECT_EQ(VR(VR_unify)(t, w), 1);
  VR(VR_get_arg)(1, t, x);
  long n;
  EXPECT_EQ(VR(VR_get_integer)(x, &n), 1);

  // The stack doubles past its first 256 slots and keeps every index.
  const VR_term_ref mark = VR(VR_new_term_refs)(0);
  VR_term_ref first = VR(VR_new_term_ref)();
  VR(VR_put_integer)(first, 4242);
  VR_term_ref many = VR(VR_new_term_refs)(600);
  for (int i = 0; i < 600; ++i)
    VR(VR_put_integer)(many + i, i);
  EXPECT_EQ(VR(VR_get_integer)(first, &n), 1);
  EXPECT_EQ(n, 4242);
  EXPECT_EQ(VR(VR_get_integer)(many + 599, &n), 1);
  EXPECT_EQ(n, 599);
  VR(VR_reset_term_refs)(mark);
  EXPECT_EQ(VR(VR_new_term_refs)(0), mark);
  VR(VR_reset_term_refs)(mark + 1000);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_DOMAIN);
  EXPECT_EQ(VR(VR_new_term_refs)(0), mark) << "a bad mark changes nothing";

  // Global references outlive the term-reference stack's reset.
  VR_globref g = VR(VR_alloc_globrefs)(2);
  ASSERT_NE(g, nullptr);
  VR(VR_free_globrefs)(g);
}

TEST(Terms, ReadFromString)
{
  VR_term_ref t = VR(VR_new_term_ref)();
  VR_term_ref val = VR(VR_new_term_ref)();
  VR(VR_put_integer)(val, 7);
  VR_term_ref values[2] = {val, 0};
  ASSERT_EQ(VR(VR_read_from_string)(t, "foo(X, Y, X).", values), 1);
  VR_term_ref y = VR(VR_new_term_ref)();
  VR(VR_get_arg)(2, t, y);
  EXPECT_EQ(VR(VR_is_variable)(y), 1) << "the second variable got no value";
  VR_term_ref a = VR(VR_new_term_ref)();
  VR(VR_get_arg)(3, t, a);
  long n = 0;
  EXPECT_EQ(VR(VR_get_integer)(a, &n), 1);
  EXPECT_EQ(n, 7);
  EXPECT_EQ(VR(VR_read_from_string)(t, "\xFF\xFE broken.", nullptr), 0) << "not UTF-8";
}

// ---- Queries ----

TEST(Queries, IterateCutAndClose)
{
  ASSERT_EQ(run("(retractall(user:p(_)), assertz(user:p(1)), assertz(user:p(2)), assertz(user:p(3)))"), 1);
  VR_pred_ref p = pred("p", 1, "user");
  VR_term_ref x = VR(VR_new_term_ref)();

  VR(VR_put_variable)(x);
  VR_qid q = VR(VR_open_query)(p, x);
  ASSERT_NE(q, 0u);
  for (long want = 1; want <= 3; ++want) {
    ASSERT_EQ(VR(VR_next_solution)(q), 1);
    long n = 0;
    EXPECT_EQ(VR(VR_get_integer)(x, &n), 1);
    EXPECT_EQ(n, want);
  }
  EXPECT_EQ(VR(VR_next_solution)(q), 0);
  EXPECT_EQ(VR(VR_close_query)(q), 1);
  EXPECT_EQ(VR(VR_is_variable)(x), 1) << "closing undoes the bindings";

  // Cut keeps the bindings of the solution it cuts at.
  q = VR(VR_open_query)(p, x);
  ASSERT_EQ(VR(VR_next_solution)(q), 1);
  ASSERT_EQ(VR(VR_next_solution)(q), 1);
  EXPECT_EQ(VR(VR_cut_query)(q), 1);
  long n = 0;
  EXPECT_EQ(VR(VR_get_integer)(x, &n), 1);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(VR(VR_close_query)(q), 1) << "closed already";

  // Term references made during a query go at its next solution.
  VR(VR_put_variable)(x);
  q = VR(VR_open_query)(p, x);
  ASSERT_EQ(VR(VR_next_solution)(q), 1);
  VR_term_ref inside = VR(VR_new_term_ref)();
  ASSERT_EQ(VR(VR_next_solution)(q), 1);
  EXPECT_EQ(VR(VR_new_term_ref)(), inside) << "the slot is handed out again";
  VR(VR_close_query)(q);

  EXPECT_EQ(VR(VR_query)(p, x), 1);
  EXPECT_EQ(VR(VR_query_cut_fail)(p, x), 1);
}

TEST(Queries, NestedQueries)
{
  ASSERT_EQ(run("(retractall(user:p(_)), assertz(user:p(1)), assertz(user:p(2)))"), 1);
  VR_pred_ref p = pred("p", 1, "user");
  VR_term_ref x = VR(VR_new_term_ref)(), y = VR(VR_new_term_ref)();
  VR(VR_put_variable)(x);
  VR(VR_put_variable)(y);
  VR_qid outer = VR(VR_open_query)(p, x);
  ASSERT_EQ(VR(VR_next_solution)(outer), 1);
  VR_qid inner = VR(VR_open_query)(p, y);
  EXPECT_EQ(VR(VR_next_solution)(outer), -1) << "only the youngest query runs";
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_INVALID_QUERY);
  int count = 0;
  while (VR(VR_next_solution)(inner) == 1)
    ++count;
  EXPECT_EQ(count, 2);
  EXPECT_EQ(VR(VR_close_query)(inner), 1);
  ASSERT_EQ(VR(VR_next_solution)(outer), 1) << "the outer query goes on";
  long n = 0;
  VR(VR_get_integer)(x, &n);
  EXPECT_EQ(n, 2);
  // Closing the outer query takes an inner one with it.
  inner = VR(VR_open_query)(p, y);
  ASSERT_EQ(VR(VR_next_solution)(inner), 1);
  EXPECT_EQ(VR(VR_close_query)(outer), 1);
  EXPECT_EQ(VR(VR_close_query)(inner), 1) << "removed with the outer one";
  EXPECT_EQ(VR(VR_is_variable)(x), 1);
  EXPECT_EQ(run("true"), 1) << "the runtime is usable";
}

TEST(Queries, ExceptionsWithTermAndMessage)
{
  EXPECT_EQ(run("atom_length(_, _)"), -1);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_UNCAUGHT_EXCEPTION);
  EXPECT_STREQ(VR(VR_error_message)(VR_ERR_UNCAUGHT_EXCEPTION), "Uncaught exception");
  EXPECT_EQ(exception_text().rfind("error(instantiation_error", 0), 0u) << exception_text();
  EXPECT_EQ(exception_text(), "") << "taken out by the first call";

  EXPECT_EQ(run("throw(ball(1, 'two words'))"), -1);
  EXPECT_EQ(exception_text(), "ball(1,'two words')");

  // halt/1 reaches the caller as the reserved exception.
  EXPECT_EQ(run("halt(3)"), -1);
  VR_term_ref e = VR(VR_new_term_ref)();
  ASSERT_EQ(VR(VR_exception_term)(e), 1);
  int data = 0;
  EXPECT_EQ(VR(VR_decode_reserved_exception)(e, &data), VR_RESERVED_HALT);
  EXPECT_EQ(data, 3);
  struct { const char *text; int kind; int data; } cases[] = {
      {"'$reserved'(1028)", 4, 4}, {"'$reserved'(3)", 3, 0}, {"'$reserved'(-252)", 4, -1},
      {"'$reserved'(256)", 0, 0}, {"'$reserved'(a)", 0, 0}, {"reserved(1028)", 0, 0}, {"foo", 0, 0},
  };
  for (const auto &c : cases) {
    data = 0;
    EXPECT_EQ(VR(VR_decode_reserved_exception)(term(c.text), &data), c.kind) << c.text;
    EXPECT_EQ(data, c.data) << c.text;
  }
  EXPECT_STREQ(VR(VR_error_message)(99), "Unknown error");
  EXPECT_STREQ(VR(VR_error_message)(17), "Unknown error");
  EXPECT_STREQ(VR(VR_error_message)(-1), "Unknown error");
  EXPECT_STREQ(VR(VR_error_message)(4), "Predicate not found");
}

TEST(Queries, BadHandlesAndPredicates)
{
  EXPECT_EQ(VR(VR_query)(nullptr), -1);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_INVALID_PREDICATE);
  EXPECT_EQ(VR(VR_open_query)(nullptr), 0u);
  EXPECT_EQ(VR(VR_next_solution)(0), -1);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_INVALID_QUERY);
  EXPECT_EQ(VR(VR_close_query)(3), -1);

  // A name that does not exist is looked up, not created: the same look-up
  // fails again, and neither predicate nor module appears.
  EXPECT_EQ(VR(VR_predicate)("no_such_entry_point", 3, "user"), nullptr);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_PREDICATE_NOT_FOUND);
  EXPECT_EQ(VR(VR_predicate)("no_such_entry_point", 3, "user"), nullptr);
  EXPECT_EQ(run("current_predicate(user:no_such_entry_point/_)"), 0);
  EXPECT_EQ(VR(VR_predicate)("main", 0, "no_such_module_q"), nullptr);
  EXPECT_EQ(run("current_predicate(no_such_module_q:_)"), 0);
  EXPECT_EQ(VR(VR_predicate)("p\xFF", 0, "user"), nullptr);
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_INVALID_STRING);
  EXPECT_NE(VR(VR_predicate)("atom_length", 2, ""), nullptr) << "the type-in module sees prolog's";
}

TEST(Queries, CutRunsPendingCleanup)
{
  ASSERT_EQ(run("(retractall(user:cleaned), retractall(user:p(_)), assertz(user:p(1)), assertz(user:p(2)))"), 1);
  VR_term_ref g = term("call_cleanup(user:p(_), assertz(user:cleaned))");
  VR_qid q = VR(VR_open_query)(pred("call", 1), g);
  ASSERT_EQ(VR(VR_next_solution)(q), 1);
  EXPECT_EQ(run("user:cleaned"), 0) << "p/1 has another solution: not yet";
  // That run was a nested query of its own; q is current again.
  EXPECT_EQ(VR(VR_cut_query)(q), 1);
  EXPECT_EQ(run("user:cleaned"), 1) << "cutting ran the clean-up";
}

TEST(Queries, OutOfMemoryIsAResourceErrorAndTheRuntimeGoesOn)
{
  ASSERT_EQ(run("(retractall(user:grow(_)), assertz((user:grow(L) :- user:grow([L|L]))))"), 1);
  EXPECT_EQ(run("user:grow([])"), -1);
  const std::string e = exception_text();
  EXPECT_EQ(e.rfind("error(resource_error(memory)", 0), 0u) << e;
  EXPECT_EQ(run("length(L, 1000), append(L, [x], M), length(M, 1001)"), 1) << "usable after the fault";
}

// ---- Events, interrupts and signals ----

namespace {

std::atomic<int> event_calls{0};
int count_event(void *) { ++event_calls; return 1; }
int failing_event(void *) { return 0; }
// Runs on the engine thread: raises stopped in the interrupted goal.
int raising_event(void *)
{
  VR_term_ref t = VR(VR_new_term_ref)();
  VR(VR_put_atom)(t, atom("stopped"));
  VR(VR_raise_exception)(t);
  return -1;
}

std::atomic<unsigned> seen_option{99};
vrio_t_error_code recording_event(vr_t_async_event *, unsigned options)
{
  seen_option = options;
  return VRIO_S_NOERR;
}

// A loop that calls a predicate at every step, takes no memory (it fails
// back over every step) and ends after some millions of steps, so that a
// missed interrupt fails the test instead of hanging it.
void define_loop()
{
  ASSERT_EQ(run("(retractall(user:tick), retractall(user:spin), assertz(user:tick),"
                "  assertz((user:spin :- length(L, 20),"
                "           (   append(_, _, L), append(_, _, L), append(_, _, L),"
                "               append(_, _, L), append(_, _, L), user:tick, fail"
                "           ;   true"
                "           ))))"),
            1);
}

} // namespace

TEST(Events, PostedEventsRunAtTheNextCall)
{
  event_calls = 0;
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(VR(VR_event)(count_event, nullptr), 1) << i;
  EXPECT_EQ(VR(VR_event)(count_event, nullptr), 0) << "every preallocated entry is queued";
  EXPECT_EQ(event_calls, 0) << "nothing runs outside Prolog";
  EXPECT_EQ(run("true, atom(a)"), 1);
  EXPECT_EQ(event_calls, 256);
  EXPECT_EQ(VR(VR_event)(count_event, nullptr), 1) << "the entries are free again";
  EXPECT_EQ(run("atom(a)"), 1);
  EXPECT_EQ(event_calls, 257);
}

TEST(Events, AFailingEventFailsTheGoalAndDiscardsTheRest)
{
  vr_t_async_event *later = nullptr;
  ASSERT_EQ(VR(VR_alloc_async_event)(&later, recording_event, nullptr), 0);
  EXPECT_EQ(VR(VR_alloc_async_event)(nullptr, recording_event, nullptr), VRIO_E_PARAMETER_ERROR);
  seen_option = 99;
  ASSERT_EQ(VR(VR_event)(failing_event, nullptr), 1);
  ASSERT_EQ(VR(VR_schedule_async_event)(later), 0);
  EXPECT_EQ(run("atom(a)"), 0) << "the event made the goal fail";
  EXPECT_EQ(seen_option, 2u) << "the event behind it was told it was dropped";
  VR(VR_free_async_event)(later);
  EXPECT_EQ(run("atom(a)"), 1);
}

TEST(Events, InterruptFromAnotherThreadStopsALoopingQuery)
{
  define_loop();
  // Twice: the interrupt key's request is taken each time, so a second one
  // stops the engine again instead of being counted for ever.
  for (int round = 0; round < 2; ++round) {
    std::thread other([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      VR(VR_ctrlc_action)();
    });
    const int r = run("user:spin");
    other.join();
    ASSERT_EQ(r, -1) << "round " << round << ": the loop ran to its end";
    VR_term_ref e = VR(VR_new_term_ref)();
    ASSERT_EQ(VR(VR_exception_term)(e), 1);
    EXPECT_EQ(VR(VR_decode_reserved_exception)(e, nullptr), VR_RESERVED_ABORT) << "the interrupt key aborts";
    EXPECT_EQ(VR(vr_get_ctrlc_pending_DEPRECATED)(), 0);
  }
  // A plain event from another thread, raising in the loop.  (Failing
  // would only make the loop's current step fail, and the loop go on.)
  std::thread other([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    VR(VR_event)(raising_event, nullptr);
  });
  const int r = run("user:spin");
  other.join();
  EXPECT_EQ(r, -1);
  EXPECT_EQ(exception_text(), "stopped");
}

TEST(Events, SecondInterruptKeyBeforeTheFirstRanOnlyCounts)
{
  EXPECT_EQ(VR(vr_get_ctrlc_pending_DEPRECATED)(), 0);
  VR(VR_ctrlc_action)();
  VR(VR_ctrlc_action)();
  EXPECT_EQ(VR(vr_get_ctrlc_pending_DEPRECATED)(), 2);
  EXPECT_EQ(run("atom(a)"), -1) << "one abort";
  VR_term_ref e = VR(VR_new_term_ref)();
  VR(VR_exception_term)(e);
  EXPECT_EQ(run("atom(a)"), 1) << "and only one";
}

TEST(Events, EveryBreakRequestPostsItsEventOnceTheLastOneRan)
{
  // The break request's event takes one of the 256 entries: with it queued,
  // 255 more posts fit.  Taken by the engine, the next request posts again
  // (a count never lowered would leave every later request unanswered).
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(VR(VR_ctrlbreak_action)(), 1);
    int posted = 0;
    while (posted < 300 && VR(VR_event)(count_event, nullptr) == 1)
      ++posted;
    EXPECT_EQ(posted, 255) << "round " << round << ": the break event holds an entry";
    EXPECT_EQ(run("atom(a)"), 1) << "the break handler does nothing in a runtime";
  }
}

namespace {

std::atomic<int> signal_calls{0};
std::atomic<int> signal_number{0};
void prolog_signal_handler(int signo, void *user_data)
{
  ++signal_calls;
  signal_number = signo;
  // The handler runs on the engine thread, inside Prolog: it may run a
  // query of its own.
  VR_term_ref g = VR(VR_new_term_ref)();
  VR(VR_read_from_string)(g, "assertz(user:got_signal) .", nullptr);
  VR(VR_query)(VR(VR_predicate)("call", 1, "prolog"), g);
}

} // namespace

TEST(Signals, HandlerInstalledThroughTheInterfaceRunsInProlog)
{
  ASSERT_EQ(run("retractall(user:got_signal)"), 1);
  ASSERT_EQ(run("retractall(user:got_signal)"), 1);
  signal_calls = 0;
  ASSERT_EQ(VR(VR_signal)(SIGUSR1, prolog_signal_handler, nullptr) == reinterpret_cast<VR_SigFun *>(-1), false);
  // Raised twice before the engine runs: one call.
  VR(vr_raise_signal)(SIGUSR1);
  VR(vr_raise_signal)(SIGUSR1);
  EXPECT_EQ(signal_calls, 0);
  EXPECT_EQ(run("atom(a), user:got_signal"), 1) << "the handler ran at the first call";
  EXPECT_EQ(signal_calls, 1);
  EXPECT_EQ(signal_number, SIGUSR1);
  EXPECT_EQ(VR(VR_sigaction)(32, prolog_signal_handler, nullptr, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(VR(VR_sigaction)(SIGUSR2, nullptr, nullptr, 0), VRIO_E_NOT_SUPPORTED) << "no handler to reset";
}

TEST(Signals, OperatingSystemSignalReachesTheHandler)
{
#ifdef TRELIX_EMULATED
  // qemu-i386 keeps one descriptor table for all threads: returning from a
  // signal handler in a program with threads (the I/O library has several)
  // reloads the thread-local segment of the newest thread.
  GTEST_SKIP() << "signal handlers in threaded programs break under the emulator";
#endif
  ASSERT_EQ(run("retractall(user:got_signal)"), 1);
  signal_calls = 0;
  VR(VR_signal)(SIGUSR2, prolog_signal_handler, nullptr);
  std::raise(SIGUSR2);
  EXPECT_EQ(run("atom(a), user:got_signal"), 1);
  EXPECT_EQ(signal_calls, 1);
  EXPECT_EQ(signal_number, SIGUSR2);
  VR(VR_sigaction)(SIGUSR2, nullptr, nullptr, 0);
}

// ---- Environment and system properties ----

TEST(Environment, PropertiesAreTheRuntimesOwn)
{
  ASSERT_EQ(VR(VR_setenv)("TRELIX_IFACE_KEY", "a value of twenty-five ch"), 0);
  char *v = VR(VR_getenv)("TRELIX_IFACE_KEY");
  ASSERT_NE(v, nullptr);
  EXPECT_STREQ(v, "a value of twenty-five ch") << "longer than the first guess of 20 bytes";
  VR(VR_free)(v);
  EXPECT_EQ(std::getenv("TRELIX_IFACE_KEY"), nullptr) << "the process environment is unchanged";
  char **block = VR(VR_copy_environ)();
  ASSERT_NE(block, nullptr);
  bool own = false, process = false;
  for (char **p = block; *p != nullptr; ++p) {
    own = own || std::strncmp(*p, "TRELIX_IFACE_KEY=", 17) == 0;
    process = process || std::strncmp(*p, "PROLOGMAXSIZE=", 14) == 0;
  }
  EXPECT_TRUE(own);
  EXPECT_FALSE(process) << "only the runtime's own properties";
  VR(VR_free)(block);
  // Option 1 separates key and value by a zero byte; option 2 adds the
  // process environment.
  ASSERT_EQ(VR(VR_system_properties)(&block, 1 | 2), 0);
  own = process = false;
  for (char **p = block; *p != nullptr; ++p) {
    own = own || (std::strcmp(*p, "TRELIX_IFACE_KEY") == 0 && std::strcmp(*p + 17, "a value of twenty-five ch") == 0);
    process = process || std::strcmp(*p, "PROLOGMAXSIZE") == 0;
  }
  EXPECT_TRUE(own);
  EXPECT_TRUE(process) << "the process environment as it was at start-up";
  VR(VR_free)(block);
  EXPECT_EQ(VR(VR_system_properties)(nullptr, 0), 0) << "a null block only tests";
  EXPECT_EQ(VR(VR_getenv)("TRELIX_IFACE_SURELY_UNSET"), nullptr);
  EXPECT_EQ(run("'$getenv'('TRELIX_IFACE_KEY', 'a value of twenty-five ch')"), 1);
  EXPECT_EQ(run("'$getenv'('TRELIX_IFACE_SURELY_UNSET', _)"), 0);
  EXPECT_EQ(run("'$platform_name'('x86-linux-glibc2.7')"), 1);
}

// ---- Streams foreign code makes, waiting, encodings, memory hooks ----

namespace {

// A character device over a string that has nothing to give until `ready`
// is set (a non-blocking read would block, a blocking one cannot happen in
// this test), counting its closes.
struct text_device {
  const char *text;
  std::size_t pos = 0;
  bool ready = true;
  int closes = 0;
};
const int device_class = 0;

vrio_t_error_code device_read(void *user_data, void *buf, size_t *size, vrio_t_bits options)
{
  auto *d = static_cast<text_device *>(user_data);
  if (!d->ready) {
    EXPECT_NE(options & VRIO_DEVICE_NONBLOCKING, 0u) << "a blocking read while no data can come";
    *size = 0;
    return VRIO_E_WOULD_BLOCK;
  }
  std::size_t n = 0;
  auto *out = static_cast<int32_t *>(buf);
  while (d->text[d->pos] != '\0' && (n + 1) * sizeof(int32_t) <= *size)
    out[n++] = static_cast<unsigned char>(d->text[d->pos++]);
  *size = n * sizeof(int32_t);
  return n == 0 ? VRIO_E_END_OF_FILE : VRIO_S_NOERR;
}

vrio_t_error_code device_close(void **puser_data, vrio_t_bits)
{
  static_cast<text_device *>(*puser_data)->closes++;
  return VRIO_S_NOERR;
}

int idle_calls = 0;
int idle_until_ready(void *cookie)
{
  // The third call makes the data arrive.
  if (++idle_calls == 3)
    static_cast<text_device *>(cookie)->ready = true;
  return 0;
}

VR_stream *never_called_hook(void *, int) { return nullptr; }
void never_called_post_hook(void *, int, VR_stream *) {}

} // namespace

TEST(ForeignStreams, DeviceStreamReadsCountsAndCloses)
{
  text_device dev{"ab\ncd"};
  VR_stream *s = nullptr;
  EXPECT_EQ(VR(VR_create_stream)(&dev, &device_class, device_read, nullptr, nullptr, nullptr, device_close,
                                 nullptr, nullptr, nullptr, 0x1 | 0x2, &s),
            VRIO_E_PARAMETER_ERROR)
      << "bytes and text at once";
  EXPECT_EQ(VR(VR_create_stream)(&dev, &device_class, nullptr, nullptr, nullptr, nullptr, device_close,
                                 nullptr, nullptr, nullptr, 0x2, &s),
            VRIO_E_PARAMETER_ERROR)
      << "neither read nor write";
  ASSERT_EQ(VR(VR_create_stream)(&dev, &device_class, device_read, nullptr, nullptr, nullptr, device_close,
                                 nullptr, nullptr, nullptr, 0x2, &s),
            VRIO_S_NOERR);
  void *data = nullptr;
  ASSERT_EQ(VR(VR_get_stream_user_data)(s, &device_class, &data), VRIO_S_NOERR);
  EXPECT_EQ(data, &dev);
  std::string got;
  for (int i = 0; i < 5; ++i)
    got += static_cast<char>(VR(vr_get_code_helper)(s, 0));
  EXPECT_EQ(got, "ab\ncd");
  int64_t items = -1, lines = -1, length = -1;
  ASSERT_EQ(VR(VR_get_stream_counts)(s, &items, &lines, &length, 0x1), VRIO_S_NOERR);
  EXPECT_EQ(items, 5);
  EXPECT_EQ(lines, 1);
  EXPECT_EQ(length, 2) << "characters since the last newline";
  EXPECT_EQ(VR(vr_get_code_helper)(s, 0), -1);
  EXPECT_GE(VR(VR_fclose)(s, 0), 0);
  EXPECT_EQ(dev.closes, 1);
}

TEST(ForeignStreams, IdleHooksRunWhileAnInteractiveReadWaits)
{
  text_device dev{"x"};
  dev.ready = false;
  idle_calls = 0;
  VR_stream *s = nullptr;
  ASSERT_EQ(VR(VR_create_stream)(&dev, &device_class, device_read, nullptr, nullptr, nullptr, device_close,
                                 nullptr, nullptr, nullptr, 0x2 | 0x4, &s),
            VRIO_S_NOERR);
  EXPECT_EQ(VR(VR_install_idle_hook)(nullptr, nullptr, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(VR(VR_install_idle_hook)(idle_until_ready, &dev, 0x1), VRIO_E_NOT_FOUND) << "removing a stranger";
  ASSERT_EQ(VR(VR_install_idle_hook)(idle_until_ready, &dev, 0), VRIO_S_NOERR);
  EXPECT_EQ(VR(vr_get_code_helper)(s, 0), 'x');
  EXPECT_EQ(idle_calls, 3) << "the hook ran until the data came, then no more";
  ASSERT_EQ(VR(VR_install_idle_hook)(idle_until_ready, &dev, 0x1), VRIO_S_NOERR);
  EXPECT_EQ(VR(VR_install_idle_hook)(idle_until_ready, &dev, 0x1), VRIO_E_NOT_FOUND) << "removed once";
  EXPECT_GE(VR(VR_fclose)(s, 0), 0);
}

TEST(ForeignStreams, OsHandleStreamAndSelect)
{
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  VR_stream *in = nullptr;
  EXPECT_EQ(VR(VR_create_os_stream)(fds[0], &in, 0, 0x1 | 0x4 | 0x8), VRIO_E_PARAMETER_ERROR)
      << "binary and text at once";
  ASSERT_EQ(VR(VR_create_os_stream)(fds[0], &in, 0, 0x1 | 0x8), VRIO_S_NOERR);
  // Nothing written yet: neither the stream nor its descriptor is ready.
  const vrio_t_timespec now = {0, 0};
  VR_stream *rs[1] = {in};
  unsigned nrs = 1, nrf = 1;
  int rf[1] = {fds[0]};
  EXPECT_EQ(VR(VR_select)(rf, &nrf, nullptr, nullptr, rs, &nrs, nullptr, nullptr, &now, 0), VRIO_E_TIMEOUT);
  ASSERT_EQ(write(fds[1], "\xE9z", 2), 2);
  nrs = 1;
  nrf = 0;
  const vrio_t_timespec second = {1, 0};
  ASSERT_EQ(VR(VR_select)(nullptr, &nrf, nullptr, nullptr, rs, &nrs, nullptr, nullptr, &second, 0), VRIO_S_NOERR);
  EXPECT_EQ(nrs, 1u);
  EXPECT_EQ(rs[0], in);
  EXPECT_EQ(VR(vr_get_code_helper)(in, 0), 0xE9) << "Latin-1 unless an encoding is given";
  EXPECT_EQ(VR(vr_get_code_helper)(in, 0), 'z');
  close(fds[1]);
  EXPECT_EQ(VR(vr_get_code_helper)(in, 0), -1);
  EXPECT_GE(VR(VR_fclose)(in, 0), 0);
}

// The socket stream of the interface: a client connected to a listener on
// 127.0.0.1 that the test made itself, one stream both ways; a port where
// nothing listens is refused and hands out no stream.
TEST(ForeignStreams, SocketStreamConnectsBothWays)
{
  int l = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(l, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ASSERT_EQ(listen(l, 1), 0);
  ASSERT_EQ(getsockname(l, reinterpret_cast<sockaddr *>(&a), &len), 0);
  const std::string port = std::to_string(ntohs(a.sin_port));
  VR_stream *s = nullptr;
  ASSERT_EQ(VR(VR_open_socket_stream)("127.0.0.1", port.c_str(), 0, &s, 0x2), VRIO_S_NOERR);
  int peer = accept(l, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(write(peer, "\xE9\n", 2), 2);
  EXPECT_EQ(VR(vr_get_code_helper)(s, 0), 0xE9) << "Latin-1 without an encoding";
  EXPECT_EQ(VR(vr_get_code_helper)(s, 0), '\n');
  EXPECT_GE(VR(VR_put_codes)(s, std::vector<int>{'o', 'k'}.data(), 2, 0), 0);
  EXPECT_GE(VR(VR_flush_output)(s, 0), 0);
  char buf[4] = {};
  EXPECT_EQ(read(peer, buf, sizeof buf), 2);
  EXPECT_STREQ(buf, "ok");
  EXPECT_GE(VR(VR_fclose)(s, 0), 0);
  EXPECT_EQ(read(peer, buf, sizeof buf), 0) << "closing the stream closes the connection";
  close(peer);
  close(l);
  VR_stream *none = nullptr;
  EXPECT_EQ(VR(VR_open_socket_stream)("127.0.0.1", port.c_str(), 0, &none, 0),
            VRIO_E_NET_CONNREFUSED);
  EXPECT_EQ(none, nullptr);
}

TEST(ForeignStreams, StandardStreamHooksAnswerThePreviousHook)
{
  // Installed after start-up they take no effect, but the previous hook
  // comes back so that a program can put it back.
  VR_UserStreamHook old = VR(VR_set_user_stream_hook)(never_called_hook, nullptr);
  EXPECT_EQ(VR(VR_set_user_stream_hook)(old, nullptr), never_called_hook);
  VR_UserStreamPostHook old_post = VR(VR_set_user_stream_post_hook)(never_called_post_hook, nullptr);
  EXPECT_EQ(VR(VR_set_user_stream_post_hook)(old_post, nullptr), never_called_post_hook);
  EXPECT_NE(VR(VR_get_stdout)(), nullptr);
}

TEST(Encodings, ConvertAcrossCallsAndCountReferences)
{
  VR_encoding utf8 = nullptr, latin1 = nullptr, none = nullptr;
  ASSERT_GE(VR(VR_get_encoding)("utf_8", &utf8, 0), 0) << "names are matched loosely";
  ASSERT_GE(VR(VR_get_encoding)("latin1", &latin1, 0), 0);
  EXPECT_EQ(VR(VR_get_encoding)("no-such-charset", &none, 0), VRIO_E_CHARSET_NOT_FOUND);
  EXPECT_EQ(none, nullptr);

  // "é€" in UTF-8, fed a byte at a time through one decoding state: a
  // character split over calls comes out whole.
  const unsigned char bytes[] = {0xC3, 0xA9, 0xE2, 0x82, 0xAC};
  VR_encoding_state st = nullptr;
  ASSERT_GE(VR(VR_encoding_open)(utf8, &st, nullptr, 2), 0);
  std::vector<int32_t> codes;
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    int32_t out[2];
    size_t read = 0, wrote = 0;
    const unsigned final_part = i + 1 == sizeof bytes ? 2 : 0;
    const int rc = VR(VR_encode_to_codes)(utf8, bytes + i, 1, &st, out, sizeof out, &read, &wrote, final_part);
    ASSERT_GE(rc, 0) << "byte " << i;
    EXPECT_EQ(read, 1u);
    codes.insert(codes.end(), out, out + wrote / sizeof(int32_t));
  }
  EXPECT_EQ(codes, (std::vector<int32_t>{0xE9, 0x20AC}));
  if (st != nullptr)
    VR(VR_encode_to_codes)(utf8, nullptr, 0, &st, nullptr, 0, nullptr, nullptr, 4);

  // Codes to Latin-1 with a fresh state for the call.
  const int32_t word[] = {'c', 0xE9};
  unsigned char out[4] = {};
  size_t read = 0, wrote = 0;
  VR_encoding_state once = nullptr;
  ASSERT_GE(VR(VR_encode_from_codes)(latin1, word, sizeof word, &once, out, sizeof out, &read, &wrote, 1 | 2), 0);
  EXPECT_EQ(read, sizeof word);
  ASSERT_EQ(wrote, 2u);
  EXPECT_EQ(out[0], 'c');
  EXPECT_EQ(out[1], 0xE9);
  VR(VR_encoding_release)(utf8);
  VR(VR_encoding_release)(latin1);
}

namespace {
int hook_init(size_t, void *) { return 1; }
void hook_deinit(void *) {}
void *hook_alloc(size_t, size_t *, void *) { return nullptr; }
int hook_free(void *, size_t, int, void *) { return 1; }
} // namespace

TEST(Memory, AllocatorHooksAreRefusedAfterStartUp)
{
  int cookie = 0;
  struct row {
    int hints;
    VR_InitAllocHook init;
    VR_DeinitAllocHook deinit;
    VR_AllocHook alloc;
    VR_FreeHook free;
    void *cookie;
  };
  // Well-formed requests first: once the runtime is up they are refused too.
  for (const row &r : {row{0, hook_init, hook_deinit, hook_alloc, hook_free, &cookie},
                       row{1, nullptr, nullptr, nullptr, nullptr, nullptr},
                       row{0, nullptr, hook_deinit, hook_alloc, hook_free, nullptr},
                       row{1, hook_init, nullptr, nullptr, nullptr, nullptr},
                       row{1, nullptr, nullptr, nullptr, nullptr, &cookie},
                       row{2, hook_init, hook_deinit, hook_alloc, hook_free, nullptr}}) {
    EXPECT_EQ(VR(VR_set_memalloc_hooks)(r.hints, r.init, r.deinit, r.alloc, r.free, r.cookie), 0) << r.hints;
    EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_UNKNOWN);
  }
  EXPECT_EQ(run("atom_length(still_running, 13)"), 1);
  EXPECT_NE(api->pvr_memory_fault, nullptr);
}

// ---- Interface mutexes ----

TEST(Mutexes, LockUnlockFromTwoThreads)
{
  VR_mutex m = nullptr;
  EXPECT_EQ(VR(VR_mutex_unlock)(&m), 0) << "never locked";
  EXPECT_EQ(VR(VR_get_errno)(), VR_ERR_UNKNOWN);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      VR(VR_mutex_lock)(&m);
      VR(VR_mutex_lock)(&m);  // recursive
      ++counter;
      VR(VR_mutex_unlock)(&m);
      VR(VR_mutex_unlock)(&m);
    }
  };
  VR(VR_mutex_lock)(&m);
  std::thread a(work), b(work);
  VR(VR_mutex_unlock)(&m);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
  EXPECT_EQ(VR(VR_mutex_destroy)(&m), 1);
  EXPECT_EQ(m, nullptr);
}

// ---- Several runtime instances ----

namespace {

// A goal run once in the runtime of the given table.
int run_in(DISPATCH_TABLE_STRUCT_VOSTREL_H *t, const char *goal_text)
{
  VR_term_ref g = t->pVR_new_term_ref();
  const std::string clause = std::string(goal_text) + " .";
  if (t->pVR_read_from_string(g, clause.c_str(), nullptr) != 1)
    return -2;
  return t->pVR_query(t->pVR_predicate("call", 1, "prolog"), g);
}

} // namespace

TEST(Instances, TwoRuntimesFromTwoThreadsWithTheInterfaceMutexes)
{
  VR_get_dispatch_fn *getter = nullptr;
  void *handle = nullptr;
  ASSERT_EQ(VR(VR_load_vostrel_run_time)(&getter, &handle), 1) << "libvrrt4-1-3-instance-02.so beside the program";
  ASSERT_NE(handle, nullptr);
  VREnv *env2 = getter(nullptr);
  ASSERT_NE(env2, env) << "a copy of the runtime of its own";
  DISPATCH_TABLE_STRUCT_VOSTREL_H *api2 = env2->dispatch_API_VOSTREL_H;
  EXPECT_EQ(api2->pVR_set_multi_vr_state(nullptr), 0) << "it adopted the shared record when loaded";
  VR_get_dispatch_fn *getter3 = nullptr;
  void *handle3 = nullptr;
  ASSERT_EQ(VR(VR_load_vostrel_run_time)(&getter3, &handle3), 1) << "then -instance-03";
  EXPECT_NE(handle3, handle);
  EXPECT_NE(getter3(nullptr), env2);

  // Instance 2 runs on a thread of its own, instance 1 on this one, at
  // the same time; both count under one interface mutex, each through its
  // own table.
  VR_mutex m = nullptr;
  long counter = 0;
  constexpr int rounds = 3000;
  std::atomic<int> second_ok{0};
  std::thread second([&] {
    // The instance's own start (it exports it beside the dispatch getter).
    auto start2 = reinterpret_cast<int (*)(int, char **)>(dlsym(handle, "runtime_start"));
    if (start2 == nullptr || start2(0, nullptr) != 1)
      return;
    if (run_in(api2, "assertz(user:where(two))") != 1)
      return;
    for (int i = 0; i < rounds; ++i) {
      api2->pVR_mutex_lock(&m);
      ++counter;
      api2->pVR_mutex_unlock(&m);
    }
    if (run_in(api2, "findall(X, user:where(X), [two])") == 1 &&
        run_in(api2, "length(L, 10000), msort(L, _)") == 1)
      second_ok = 1;
  });
  ASSERT_EQ(run("(retractall(user:where(_)), assertz(user:where(one)))"), 1);
  for (int i = 0; i < rounds; ++i) {
    VR(VR_mutex_lock)(&m);
    ++counter;
    VR(VR_mutex_unlock)(&m);
  }
  EXPECT_EQ(run("length(L, 10000), msort(L, _)"), 1);
  second.join();
  EXPECT_EQ(second_ok, 1) << "instance 2 started, kept its own clauses and ran";
  EXPECT_EQ(counter, 2 * rounds);
  EXPECT_EQ(run("findall(X, user:where(X), [one])"), 1) << "instance 1 sees only its own clauses";
  VR(VR_mutex_destroy)(&m);
}

int main(int argc, char **argv)
{
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new Env);
  return RUN_ALL_TESTS();
}
