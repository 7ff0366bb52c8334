// The stream core: layer kinds registered by name, layers pushed and
// popped, operations dispatched down the stack, the close protocol, ioctl
// walks, the standard stream slots, the big lock and the library's start.
//
// The bottom layer is a memory device of these tests ("memory"); "pass"
// layers above it hand every operation to the stack below them, as a real
// layer kind does.  Both count what they are asked and when they are
// destroyed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"
#include "vrio_internal.h"

namespace {

struct counters {
  int reads = 0, writes = 0, syncs = 0, seeks = 0, closes = 0;
  std::vector<vrio_t_bits> read_options, sync_options, close_options;
  std::vector<std::string> destroyed;
};

struct mem_layer {
  vrio_t_layer head;
  std::string name;
  counters *count;
  std::string input;
  size_t pos = 0;
  std::string output;
  int empty_reads = 0;       // successes without data before the first byte
  bool never_delivers = false;
  size_t write_chunk = 5;    // bytes consumed per write call (0: none)
  vrio_t_error_code sync_result = VRIO_S_NOERR;
  vrio_t_ioctl_operation answers = VRIO_IOCTL_UNDEFINED;
  vrio_t_error_code answer = VRIO_S_NOERR;
};

mem_layer *mem(VRIO *s)
{
  return reinterpret_cast<mem_layer *>(*s);
}

vrio_t_error_code mem_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits options)
{
  mem_layer *l = mem(s);
  l->count->reads++;
  l->count->read_options.push_back(options);
  if (l->never_delivers)
    return VRIO_S_NOERR;
  if (l->empty_reads > 0) {
    l->empty_reads--;
    return VRIO_S_NOERR;
  }
  if (l->pos == l->input.size())
    return VRIO_E_END_OF_FILE;
  size_t n = std::min<size_t>(7, l->input.size() - l->pos);
  vrio_t_error_code rc = vrio_buf_concat_bytes(buf, l->input.data() + l->pos, n);
  if (rc >= 0)
    l->pos += n;
  return rc;
}

vrio_t_error_code mem_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits)
{
  mem_layer *l = mem(s);
  l->count->writes++;
  size_t n = std::min(l->write_chunk, buf->extent - *offset);
  l->output.append(reinterpret_cast<const char *>(buf->buf) + *offset, n);
  *offset += n;
  return VRIO_S_NOERR;
}

vrio_t_error_code mem_sync(VRIO *s, vrio_t_bits options)
{
  mem(s)->count->syncs++;
  mem(s)->count->sync_options.push_back(options);
  return mem(s)->sync_result;
}

vrio_t_error_code mem_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                           vrio_t_buf *, vrio_t_bits options)
{
  mem(s)->count->seeks++;
  *new_position = offset + options; // tells the test which sides arrived
  return VRIO_S_DONE;               // folded to 0 by vrio_seek
}

// The protocol of every layer's close: the stack below first, then this
// layer's sides; gone once neither side is left.
vrio_t_error_code close_layer(VRIO *s, vrio_t_bits options, counters *count)
{
  vrio_t_layer *l = *s;
  count->closes++;
  count->close_options.push_back(options);
  if (l->next != nullptr) {
    vrio_t_error_code rc = vrio_close(&l->next, options);
    if (rc < 0)
      return rc;
  }
  return vrio_layer_close_sides(s, options);
}

vrio_t_error_code mem_close(VRIO *s, vrio_t_bits options)
{
  return close_layer(s, options, mem(s)->count);
}

void mem_destroy(vrio_t_layer *layer)
{
  auto *l = reinterpret_cast<mem_layer *>(layer);
  l->count->destroyed.push_back(l->name);
  delete l;
}

vrio_t_error_code mem_ioctl(VRIO *s, vrio_t_ioctl_operation op, void *param, vrio_t_bits)
{
  mem_layer *l = mem(s);
  if (op != l->answers)
    return VRIO_E_NOT_SUPPORTED;
  if (op == VRIO_IOCTL_DEVICE_TYPE_)
    *static_cast<vrio_t_device_type *>(param) = VRIO_DEVICE_TYPE_FILE;
  return l->answer;
}

vrio_t_error_code mem_open(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                           vrio_t_bits options)
{
  void *count;
  if (vrio_get_arg(args, "counters", VRIO_VARIANT_POINTER, &count) < 0)
    return VRIO_E_PARAMETER_ERROR;
  auto *l = new mem_layer{};
  l->head.funcs = funcs;
  l->count = static_cast<counters *>(count);
  l->name = "memory";
  const char *input;
  if (vrio_get_arg_string(args, "input", &input) >= 0)
    l->input = input;
  if (options & VRIO_OPEN_READ)
    l->head.flags |= VRIO_LAYER_READ_SIDE(1);
  if (options & VRIO_OPEN_WRITE)
    l->head.flags |= VRIO_LAYER_WRITE_SIDE(1);
  vrio_layer_push(s, &l->head);
  return VRIO_S_DONE; // folded to 0 by vrio_open
}

const vrio_t_funcs memory_funcs = {sizeof(vrio_t_funcs), "memory", sizeof(mem_layer), 0, 0,
                                   mem_read, mem_write, mem_sync, mem_seek, mem_close,
                                   nullptr, nullptr, mem_destroy, mem_open, mem_ioctl};

// "pass": hands everything to the stack below.
struct pass_layer {
  vrio_t_layer head;
  std::string name;
  counters *count;
  bool has_ioctl;
};

pass_layer *pass(VRIO *s)
{
  return reinterpret_cast<pass_layer *>(*s);
}

vrio_t_error_code pass_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits options)
{
  pass(s)->count->reads++;
  VRIO *below = &(*s)->next;
  return (*below)->funcs->read(below, buf, options);
}

vrio_t_error_code pass_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options)
{
  pass(s)->count->writes++;
  VRIO *below = &(*s)->next;
  return (*below)->funcs->write(below, buf, offset, options);
}

vrio_t_error_code pass_sync(VRIO *s, vrio_t_bits options)
{
  pass(s)->count->syncs++;
  return (options & VRIO_SYNC_BELOW) ? vrio_sync(&(*s)->next, options) : VRIO_S_NOERR;
}

vrio_t_error_code pass_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                            vrio_t_buf *buf, vrio_t_bits options)
{
  return vrio_seek(&(*s)->next, offset, new_position, buf, options);
}

vrio_t_error_code pass_close(VRIO *s, vrio_t_bits options)
{
  return close_layer(s, options, pass(s)->count);
}

void pass_destroy(vrio_t_layer *layer)
{
  auto *l = reinterpret_cast<pass_layer *>(layer);
  l->count->destroyed.push_back(l->name);
  delete l;
}

vrio_t_error_code pass_push(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits)
{
  if (*s == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  void *count;
  const char *name;
  if (vrio_get_arg(args, "counters", VRIO_VARIANT_POINTER, &count) < 0 ||
      vrio_get_arg_string(args, "name", &name) < 0)
    return VRIO_E_PARAMETER_ERROR;
  auto *l = new pass_layer{};
  l->head.funcs = funcs;
  l->count = static_cast<counters *>(count);
  l->name = name;
  if ((*s)->flags & VRIO_LAYER_HAS_READ)
    l->head.flags |= VRIO_LAYER_READ_SIDE(1);
  if ((*s)->flags & VRIO_LAYER_HAS_WRITE)
    l->head.flags |= VRIO_LAYER_WRITE_SIDE(1);
  vrio_layer_push(s, &l->head);
  return VRIO_S_DONE; // folded to 0 by vrio_push
}

vrio_t_error_code pass_pop(const vrio_t_funcs *funcs, VRIO *s, vrio_t_bits)
{
  if (*s == nullptr || (*s)->funcs != funcs)
    return VRIO_E_NOT_FOUND;
  vrio_t_layer *top = *s;
  vrio_layer_pop(s);
  vrio_layer_destroy(top);
  return VRIO_S_NOERR;
}

vrio_t_error_code pass_open(const vrio_t_funcs *, VRIO *, vrio_t_arglist, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED; // only ever pushed
}

vrio_t_error_code pass_ioctl(VRIO *, vrio_t_ioctl_operation, void *, vrio_t_bits)
{
  return VRIO_E_NOT_SUPPORTED;
}

const vrio_t_funcs pass_funcs = {sizeof(vrio_t_funcs), "pass", sizeof(pass_layer), 0, 0,
                                 pass_read, pass_write, pass_sync, pass_seek, pass_close,
                                 pass_push, pass_pop, pass_destroy, pass_open, pass_ioctl};
// The same kind without an ioctl operation at all.
const vrio_t_funcs quiet_funcs = {sizeof(vrio_t_funcs), "quiet", sizeof(pass_layer), 0, 0,
                                  pass_read, pass_write, pass_sync, pass_seek, pass_close,
                                  pass_push, pass_pop, pass_destroy, pass_open, nullptr};

struct VrioStream : VrioLibrary {
  counters count;
  VRIO s = nullptr;

  void SetUp() override
  {
    VrioLibrary::SetUp();
    ASSERT_EQ(vrio_register_layer(&memory_funcs, 0), VRIO_S_NOERR);
    ASSERT_EQ(vrio_register_layer(&pass_funcs, 0), VRIO_S_NOERR);
    ASSERT_EQ(vrio_register_layer(&quiet_funcs, 0), VRIO_S_NOERR);
  }
  void TearDown() override
  {
    if (s != nullptr)
      vrio_close(&s, VRIO_CLOSE_ABORTIVE);
    for (auto f : {&memory_funcs, &pass_funcs, &quiet_funcs})
      EXPECT_EQ(vrio_register_layer(f, 1), VRIO_S_NOERR);
    VrioLibrary::TearDown();
  }

  // memory at the bottom, then the named layers of the given kinds.
  void open(vrio_t_bits sides, const char *input, std::vector<std::string> above = {},
            const vrio_t_funcs *kind = &pass_funcs)
  {
    vrio_t_property args[] = {arg_pointer("counters", &count), arg_string("input", input),
                              arg_end()};
    ASSERT_EQ(vrio_open_by_name("memory", &s, args, sides), VRIO_S_NOERR);
    for (const std::string &name : above) {
      vrio_t_property pargs[] = {arg_pointer("counters", &count), arg_string("name", name.c_str()),
                                 arg_end()};
      ASSERT_EQ(vrio_push(kind, &s, pargs, sides), VRIO_S_NOERR);
    }
  }

  mem_layer *bottom()
  {
    vrio_t_layer *l;
    EXPECT_EQ(vrio_get_vrio_layer(&s, &memory_funcs, &l, 0), VRIO_S_NOERR);
    return reinterpret_cast<mem_layer *>(l);
  }

  std::string read_all(vrio_t_error_code *end)
  {
    std::string got;
    vrio_t_buf *buf = nullptr;
    for (;;) {
      vrio_t_error_code rc = vrio_read(&s, &buf, VRIO_READ_BYTES);
      if (rc < 0) {
        *end = rc;
        break;
      }
      got.append(reinterpret_cast<char *>(buf->buf), buf->extent);
      buf->extent = 0;
    }
    vrio_buf_free(buf);
    return got;
  }
};

TEST_F(VrioStream, RegistryChecksTheTable)
{
  const vrio_t_funcs *found;
  EXPECT_EQ(vrio_find_layer("pass", &found), VRIO_S_NOERR);
  EXPECT_EQ(found, &pass_funcs);
  EXPECT_EQ(vrio_find_layer("absent", &found), VRIO_E_NOT_FOUND);

  // The pass table under another name, spoilt one way at a time.
  const struct {
    const char *why;
    void (*spoil)(vrio_t_funcs &f);
    vrio_t_error_code expected;
  } cases[] = {
      {"taken name", [](vrio_t_funcs &f) { f.name = "pass"; }, VRIO_E_FOUND},
      {"older table", [](vrio_t_funcs &f) { f.sizeof_vrio_t_funcs -= 4; }, VRIO_E_VERSION_ERROR},
      {"layer too small", [](vrio_t_funcs &f) { f.layer_size = sizeof(vrio_t_layer) - 1; },
       VRIO_E_PARAMETER_ERROR},
      {"no name", [](vrio_t_funcs &f) { f.name = nullptr; }, VRIO_E_PARAMETER_ERROR},
      {"read missing", [](vrio_t_funcs &f) { f.read = nullptr; }, VRIO_E_PARAMETER_ERROR},
      {"write missing", [](vrio_t_funcs &f) { f.write = nullptr; }, VRIO_E_PARAMETER_ERROR},
      {"sync missing", [](vrio_t_funcs &f) { f.sync = nullptr; }, VRIO_E_PARAMETER_ERROR},
      {"seek missing", [](vrio_t_funcs &f) { f.seek = nullptr; }, VRIO_E_PARAMETER_ERROR},
      {"destroy missing", [](vrio_t_funcs &f) { f.destroy = nullptr; }, VRIO_E_PARAMETER_ERROR},
      {"open missing", [](vrio_t_funcs &f) { f.open = nullptr; }, VRIO_E_PARAMETER_ERROR},
  };
  vrio_t_funcs v = pass_funcs;
  v.name = "other";
  for (const auto &c : cases) {
    vrio_t_funcs f = v;
    c.spoil(f);
    EXPECT_EQ(vrio_register_layer(&f, 0), c.expected) << c.why;
  }
  EXPECT_EQ(vrio_register_layer(nullptr, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_find_layer("other", &found), VRIO_E_NOT_FOUND) << "none was registered";
  EXPECT_EQ(vrio_register_layer(&v, 1), VRIO_S_NOERR) << "removing an absent name";
}

TEST_F(VrioStream, LayersPushedAndPoppedByName)
{
  open(VRIO_OPEN_READ, "data", {"lower", "upper"});
  vrio_t_layer *l;
  ASSERT_EQ(vrio_get_vrio_layer(&s, &pass_funcs, &l, 0), VRIO_S_NOERR);
  EXPECT_EQ(reinterpret_cast<pass_layer *>(l)->name, "upper");
  ASSERT_EQ(vrio_get_vrio_layer(&s, &pass_funcs, &l, 1), VRIO_S_NOERR);
  EXPECT_EQ(reinterpret_cast<pass_layer *>(l)->name, "lower");
  EXPECT_EQ(vrio_get_vrio_layer(&s, &quiet_funcs, &l, 0), VRIO_E_NOT_FOUND);

  vrio_t_property pargs[] = {arg_pointer("counters", &count), arg_string("name", "quiet"),
                             arg_end()};
  ASSERT_EQ(vrio_push_by_name("quiet", &s, pargs, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_push_by_name("absent", &s, pargs, 0), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_pop(&pass_funcs, &s, 0), VRIO_E_NOT_FOUND) << "the top is another kind";
  ASSERT_EQ(vrio_pop(nullptr, &s, 0), VRIO_S_NOERR) << "the top's own kind";
  EXPECT_EQ(count.destroyed, (std::vector<std::string>{"quiet"}));
  ASSERT_EQ(vrio_pop(&pass_funcs, &s, 0), VRIO_S_NOERR);
  EXPECT_EQ(count.destroyed, (std::vector<std::string>{"quiet", "upper"}));
  EXPECT_EQ(vrio_pop(&memory_funcs, &s, 0), VRIO_E_NOT_IMPLEMENTED) << "memory has no pop";
  EXPECT_EQ(s->next->funcs, &memory_funcs);
}

TEST_F(VrioStream, ReadsAreDispatchedDownTheStack)
{
  const std::string text = "a text longer than one read of the memory device";
  open(VRIO_OPEN_READ, text.c_str(), {"one", "two"});
  vrio_t_error_code end = VRIO_S_NOERR;
  EXPECT_EQ(read_all(&end), text);
  EXPECT_EQ(end, VRIO_E_END_OF_FILE);
  EXPECT_EQ(count.reads, 3 * 8) << "each of 7 chunks and the end crossed three layers";
}

TEST_F(VrioStream, EmptyAnswersAreAskedAgain)
{
  open(VRIO_OPEN_READ, "xyz");
  bottom()->empty_reads = 2;
  vrio_t_buf *buf = nullptr;
  ASSERT_EQ(vrio_read(&s, &buf, 0), VRIO_S_NOERR);
  EXPECT_EQ(count.reads, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf->buf), buf->extent), "xyz");
  EXPECT_EQ(buf->writable_size, 400u) << "a default buffer";
  vrio_buf_free(buf);
}

// A device that answers success without data for ever must not hold the
// reader in an endless loop.
TEST_F(VrioStream, ADeviceThatNeverDeliversEndsTheInput)
{
  open(VRIO_OPEN_READ, "unreachable");
  bottom()->never_delivers = true;
  vrio_t_buf *buf = nullptr;
  EXPECT_EQ(vrio_read(&s, &buf, 0), VRIO_E_END_OF_FILE);
  EXPECT_EQ(buf, nullptr) << "the buffer made for the call is gone again";
  EXPECT_LT(count.reads, 1000);
  vrio_t_buf *own = vrio_buf_alloc(nullptr, 0, 0);
  EXPECT_EQ(vrio_read(&s, &own, 0), VRIO_E_END_OF_FILE);
  EXPECT_NE(own, nullptr) << "the caller's buffer stays the caller's";
  vrio_buf_free(own);
}

TEST_F(VrioStream, DirectionsAreChecked)
{
  open(VRIO_OPEN_WRITE, "");
  vrio_t_buf *buf = nullptr;
  EXPECT_EQ(vrio_read(&s, &buf, 0), VRIO_E_NOT_OPEN_READ);
  EXPECT_EQ(count.reads, 0) << "no layer was asked";
  EXPECT_EQ(buf, nullptr);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  open(VRIO_OPEN_READ, "");
  vrio_t_buf *data = vrio_buf_alloc(nullptr, 0, 0);
  size_t offset = 0;
  EXPECT_EQ(vrio_write(&s, data, &offset, 0), VRIO_E_NOT_OPEN_WRITE);
  EXPECT_EQ(count.writes, 0);
  vrio_buf_free(data);
}

TEST_F(VrioStream, WritesAreDispatchedAndWriteAllLoops)
{
  open(VRIO_OPEN_WRITE, "", {"filter"});
  vrio_t_buf *data = vrio_buf_alloc(nullptr, 0, 0);
  vrio_buf_concat_string(data, "twelve bytes");
  size_t offset = 0;
  ASSERT_EQ(vrio_write(&s, data, &offset, VRIO_WRITE_BYTES), VRIO_S_NOERR);
  EXPECT_EQ(offset, 5u) << "one call without option 0x20";
  ASSERT_EQ(vrio_write(&s, data, &offset, VRIO_WRITE_BYTES | VRIO_WRITE_ALL), VRIO_S_NOERR);
  EXPECT_EQ(offset, 12u);
  EXPECT_EQ(bottom()->output, "twelve bytes");
  offset = 0;
  bottom()->write_chunk = 0; // a device that takes nothing
  EXPECT_EQ(vrio_write(&s, data, &offset, VRIO_WRITE_ALL), VRIO_E_WRITE_ERROR)
      << "write-everything must not spin on a device that makes no progress";
  EXPECT_EQ(offset, 0u);
  vrio_buf_free(data);

  bottom()->write_chunk = 100;
  count.sync_options.clear();
  ASSERT_EQ(vrio_write_dbg(&s, "debug line\n"), VRIO_S_NOERR);
  EXPECT_EQ(bottom()->output, "twelve bytesdebug line\n");
  EXPECT_EQ(count.sync_options, std::vector<vrio_t_bits>{}) << "the filter kept its sync";
  EXPECT_EQ(count.syncs, 1);
}

TEST_F(VrioStream, OnlyTheLowOptionBitsReachALayer)
{
  open(VRIO_OPEN_READ, "abcdefghijklmnopqrstuvwxyz");
  vrio_t_buf *buf = nullptr;
  const vrio_t_bits private_bit = 1u << 21;
  ASSERT_EQ(vrio_read(&s, &buf, VRIO_READ_BYTES | private_bit), VRIO_S_NOERR);
  ASSERT_EQ(vrio_read(&s, &buf, VRIO_READ_BYTES | private_bit | VRIO_OPT_ALL_BITS), VRIO_S_NOERR);
  ASSERT_EQ(vrio_read(&s, &buf, 0xFFFFFu), VRIO_S_NOERR);
  EXPECT_EQ(count.read_options,
            (std::vector<vrio_t_bits>{VRIO_READ_BYTES, VRIO_READ_BYTES | private_bit, 0xFFFFFu}));
  vrio_buf_free(buf);
}

TEST_F(VrioStream, ClosingEverythingReleasesEveryLayerOnce)
{
  open(VRIO_OPEN_READ | VRIO_OPEN_WRITE, "in", {"middle", "top"});
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(count.destroyed, (std::vector<std::string>{"memory", "middle", "top"}));
  EXPECT_EQ(count.closes, 3);
  ASSERT_FALSE(count.sync_options.empty());
  EXPECT_EQ(count.sync_options.front(), VRIO_SYNC_READ | VRIO_SYNC_WRITE | VRIO_SYNC_BELOW |
                                            VRIO_SYNC_KEEP_READ_AHEAD);
  EXPECT_EQ(vrio_close(&s, 0), VRIO_S_NOERR) << "an empty stream";
  EXPECT_EQ(count.destroyed.size(), 3u);
}

TEST_F(VrioStream, ClosingOneSideKeepsTheOther)
{
  open(VRIO_OPEN_READ | VRIO_OPEN_WRITE, "in", {"top"});
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_READ), VRIO_S_NOERR);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(count.destroyed.empty());
  vrio_t_buf *buf = nullptr;
  EXPECT_EQ(vrio_read(&s, &buf, 0), VRIO_E_NOT_OPEN_READ);
  EXPECT_EQ(vrio_write_dbg(&s, "still writable"), VRIO_S_NOERR);
  EXPECT_EQ(bottom()->output, "still writable");
  for (vrio_t_layer *l = s; l != nullptr; l = l->next) {
    EXPECT_EQ(l->flags & (VRIO_LAYER_OPEN_READ | VRIO_LAYER_READ_ALIVE), 0u);
    EXPECT_TRUE(l->flags & VRIO_LAYER_WRITE_ALIVE);
  }
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_WRITE), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(count.destroyed, (std::vector<std::string>{"memory", "top"}));
}

TEST_F(VrioStream, AFailedFlushKeepsTheStreamOpen)
{
  open(VRIO_OPEN_WRITE, "", {"top"});
  bottom()->sync_result = VRIO_E_SYNC_ERROR;
  EXPECT_EQ(vrio_close(&s, 0), VRIO_E_SYNC_ERROR);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(count.closes, 0);
  EXPECT_TRUE(s->flags & VRIO_LAYER_OPEN_WRITE) << "still usable";
  int syncs = count.syncs;
  EXPECT_EQ(vrio_close(&s, VRIO_CLOSE_ABORTIVE), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(count.syncs, syncs) << "VRIO_SKIP_ABORTIVE_SYNC is true by default: no flush";
}

TEST(VrioStreamAbortiveSync, AnAbortiveCloseIgnoresTheFlushError)
{
  setenv("VRIO_SKIP_ABORTIVE_SYNC", "false", 1);
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_register_layer(&memory_funcs, 0), VRIO_S_NOERR);
  counters count;
  VRIO s = nullptr;
  vrio_t_property args[] = {arg_pointer("counters", &count), arg_end()};
  ASSERT_EQ(vrio_open(&memory_funcs, &s, args, VRIO_OPEN_WRITE), VRIO_S_NOERR);
  reinterpret_cast<mem_layer *>(s)->sync_result = VRIO_E_SYNC_ERROR;
  EXPECT_EQ(vrio_close(&s, VRIO_CLOSE_ABORTIVE), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(count.syncs, 1) << "flushed, and the error ignored";
  EXPECT_EQ(count.close_options, (std::vector<vrio_t_bits>{7}));
  vrio_register_layer(&memory_funcs, 1);
  EXPECT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
}

TEST_F(VrioStream, SeekingNeedsALiveSide)
{
  open(VRIO_OPEN_READ, "x");
  vrio_t_offset pos = -1;
  EXPECT_EQ(vrio_seek(&s, 10, &pos, nullptr, VRIO_SEEK_WRITE | VRIO_SEEK_ABSOLUTE),
            VRIO_E_SEEK_ERROR);
  EXPECT_EQ(count.seeks, 0);
  ASSERT_EQ(vrio_seek(&s, 10, &pos, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR);
  EXPECT_EQ(pos, 10 + (VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ)) << "only the read side asked";
  EXPECT_EQ(vrio_seek(&s, 10, nullptr, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  open(VRIO_OPEN_READ | VRIO_OPEN_WRITE, "x");
  ASSERT_EQ(vrio_seek(&s, 0, &pos, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR);
  EXPECT_EQ(pos, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ | VRIO_SEEK_WRITE);
}

TEST_F(VrioStream, IoctlWalksDownOnlyWhenAsked)
{
  open(VRIO_OPEN_READ, "", {"lower"});
  vrio_t_property pargs[] = {arg_pointer("counters", &count), arg_string("name", "quiet"),
                             arg_end()};
  ASSERT_EQ(vrio_push(&quiet_funcs, &s, pargs, VRIO_OPEN_READ), VRIO_S_NOERR);
  // Nobody answers: the unknown device type, and the fallback's success code.
  vrio_t_device_type type = VRIO_DEVICE_TYPE_ILLEGAL;
  EXPECT_EQ(vrio_ioctl_device_type(&s, &type, 0), VRIO_S_NOERR);
  EXPECT_EQ(type, VRIO_DEVICE_TYPE_UNKNOWN);
  EXPECT_EQ(vrio_ioctl_encoding_fallback(&s, 1), VRIO_S_NOT_SUPPORTED);

  // Only the bottom of three layers answers.
  bottom()->answers = VRIO_IOCTL_DEVICE_TYPE_;
  ASSERT_EQ(vrio_ioctl_device_type(&s, &type, 0), VRIO_S_NOERR);
  EXPECT_EQ(type, VRIO_DEVICE_TYPE_FILE);
  EXPECT_EQ(vrio_ioctl(&s, VRIO_IOCTL_DEVICE_TYPE_, &type, 0), VRIO_E_NOT_SUPPORTED)
      << "without option 1 the top's answer stands";
  bottom()->answer = VRIO_S_DONE;
  EXPECT_EQ(vrio_ioctl(&s, VRIO_IOCTL_DEVICE_TYPE_, &type, 1), VRIO_S_DONE)
      << "ioctl passes a success code on";
  bottom()->answer = VRIO_E_NOT_IMPLEMENTED;
  type = VRIO_DEVICE_TYPE_TTY;
  EXPECT_EQ(vrio_ioctl_device_type(&s, &type, 0), VRIO_E_NOT_IMPLEMENTED);

  bottom()->answers = VRIO_IOCTL_SIZE_;
  bottom()->answer = VRIO_S_NOERR;
  int64_t size = -1;
  EXPECT_EQ(vrio_ioctl_size(&s, &size, 1), VRIO_S_NOERR);
  const char *name = "unchanged";
  EXPECT_EQ(vrio_ioctl_get_encoding_name(&s, &name, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_ioctl_get_encoding_name(&s, &name, 6), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_ioctl_get_encoding_name(&s, &name, 2), VRIO_E_NOT_SUPPORTED);
  EXPECT_STREQ(name, "unchanged");
  vrio_t_event *event = nullptr;
  EXPECT_EQ(vrio_ioctl_readable_event(&s, &event, 0), VRIO_E_NOT_SUPPORTED);
  EXPECT_EQ(event, nullptr);
}

TEST_F(VrioStream, OpenAndPushFoldSuccessCodes)
{
  // Both layer kinds answer VRIO_S_DONE from open and push.
  open(VRIO_OPEN_READ, "", {"top"});
  ASSERT_NE(s, nullptr);
}

TEST_F(VrioStream, StandardStreamSlots)
{
  // The library's own standard streams leave first (closing them).
  for (vrio_t_bits slot : {1u, 3u, 5u})
    ASSERT_EQ(vrio_set_standard_stream(nullptr, slot), VRIO_S_NOERR);
  open(VRIO_OPEN_WRITE, "");
  VRIO out = s;
  s = nullptr;
  ASSERT_EQ(vrio_set_standard_stream(&out, 3 | 16), VRIO_S_NOERR);
  EXPECT_EQ(out, nullptr) << "the slot took the stream over";
  VRIO empty = nullptr;
  EXPECT_EQ(vrio_set_standard_stream(&empty, 5), VRIO_E_PARAMETER_ERROR);

  VRIO got = nullptr;
  EXPECT_EQ(vrio_get_standard_stream(&got, 1), VRIO_E_NOT_FOUND) << "input is empty";
  ASSERT_EQ(vrio_get_standard_stream(&got, 3), VRIO_S_NOERR);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(vrio_get_standard_stream(&s, 3), VRIO_E_NOT_FOUND) << "taken once only";

  // Replacing a stream closes the sides its stored bits name.
  ASSERT_EQ(vrio_set_standard_stream(&got, 5 | 16), VRIO_S_NOERR);
  open(VRIO_OPEN_WRITE, "");
  VRIO second = s;
  s = nullptr;
  ASSERT_EQ(vrio_set_standard_stream(&second, 5), VRIO_S_NOERR);
  EXPECT_EQ(count.destroyed, (std::vector<std::string>{"memory"}));
  ASSERT_EQ(vrio_get_standard_stream(&s, 5), VRIO_S_NOERR);
  EXPECT_EQ(vrio_set_standard_stream(nullptr, 5), VRIO_S_NOERR) << "emptying an empty slot";
}

// The big lock nests, and vrio_ensure_interrupts_done waits for a pass of
// hook calls that is under way.
std::atomic<int> slow_hook_state;

void slow_hook(void *, vrio_t_bits options)
{
  if (options == 1)
    return;
  slow_hook_state = 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  slow_hook_state = 2;
}

TEST_F(VrioLibrary, BigLock)
{
  EXPECT_EQ(vrio_biglock_lock(), 1);
  EXPECT_EQ(vrio_biglock_lock(), 2);
  EXPECT_EQ(vrio_biglock_unlock(), 1);
  EXPECT_EQ(vrio_biglock_unlock(), 0);
  EXPECT_EQ(vrio_owns_biglock(), VRIO_E_NOT_SUPPORTED);
  ASSERT_EQ(vrio_register_interrupt_hook(slow_hook, nullptr, 0), VRIO_S_NOERR);
  vrio_interrupt(0);
  while (slow_hook_state == 0)
    std::this_thread::yield();
  vrio_ensure_interrupts_done();
  EXPECT_EQ(slow_hook_state, 2);
}

void *refuse_all(void *, void *p, size_t size)
{
  if (size == 0)
    std::free(p);
  return nullptr;
}

// A module that fails stops the start with its code; the modules started
// before it stay started (here tracing, which knows the main thread).
TEST(VrioInit, AFailingModuleEndsTheStart)
{
  EXPECT_EQ(vrio_init(refuse_all, nullptr, nullptr, 0), VRIO_E_OUT_OF_MEMORY);
  int elsewhere = -1;
  std::thread([&] { elsewhere = vrio_is_in_main_thread(); }).join();
  EXPECT_EQ(elsewhere, 0) << "tracing started and recorded this thread";
  vrio_t_buf b;
  vrio_buf_init_buf(&b);
  EXPECT_EQ(vrio_buf_push(&b, 1), VRIO_E_OUT_OF_MEMORY) << "the refusing hook is installed";
}

TEST(VrioInit, StartStopStart)
{
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
    ASSERT_EQ(vrio_set_system_property("VRIO_TEST_ROUND", std::to_string(i).c_str()),
              VRIO_S_NOERR);
    ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
  }
}

} // namespace
