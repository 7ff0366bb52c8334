// The indexical store: the records $fd_install/5 builds from the
// compiler's terms, replacing one list and freeing the old records, a
// refused definition leaving the predicate as it was, the engine freeing
// an FD predicate's records, and the saved-state hooks rebuilding every
// literal and literal operand at new addresses (the set behind three
// constants included), refusing payloads that do not hold.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fd_kernel_fixture.h"
#include "indexical_store.h"
#include "memman.h"
#include "modules.h"
#include "saved_state.h"
#include "sw_on_key.h"

namespace {

// f(X, Y, Z): X in (1..3 \/ 5..sup) \/ {7} or 20..21 through a switch
// on Z's value, told with filter flag 1; the set is literal 1, pushed both
// by the switch's targets and, in the relative form, by its index.
const char *const FULL_INFO =
    "[i([0-1, 2-12], 2, 1, [28, 69, h(2), 4, 52, 1, 41, d(1), 41, t(0), 12, 70, 41, d(3), 70], 15,"
    "   [7, d([[1|3], [5|sup]]), table([4-6, 9-12]), d([[20|21]])], 4)]";

struct IndexicalStore : FdKernel {
  definition *def(const char *module, const char *name, int arity)
  {
    return insert_definition(find_module(atom(module), 1), atom(name), arity, 1);
  }
  indexical_info *list(definition *d, int type) { return fd_indexicals(d, type); }
  std::size_t bytes() const
  {
    return eglobal->mm.mm_bins[MM_BIN_MISC] + eglobal->mm.mm_bins[MM_BIN_FLI_STACK] +
           eglobal->mm.mm_bins[MM_BIN_SW_ON_KEY];
  }
  // $fd_install(Name/Arity, Module, Type, Length, Infos); whether it
  // succeeded.
  bool install(const char *spec, const char *module, int type, const char *infos)
  {
    const VR_term_ref s = term(spec), m = term(module), ty = term(std::to_string(type).c_str());
    const VR_term_ref i = term(infos);
    const VR_term_ref n = api->pVR_new_term_ref();
    int len = 0;
    for (TAGGED l = t(i); IsList(l); l = deref(TagToLST(l)[1]))
      len++;
    api->pVR_put_integer(n, len);
    const bool ok = succeeds([&] { prolog_fd_install_vrenv_multi_vr(&env, s, m, ty, n, i); });
    w->fli_data->excp_flag = 1;
    return ok;
  }

  // The save hook's output for d.
  std::vector<unsigned char> saved;
  static IndexicalStore *current;
  static int write_fn(const void *p, std::size_t n, saverest_info *)
  {
    const auto *b = static_cast<const unsigned char *>(p);
    current->saved.insert(current->saved.end(), b, b + n);
    return static_cast<int>(n);
  }
  std::size_t read_at = 0;
  std::vector<unsigned char> input;
  static int read_fn(void *p, std::size_t n, saverest_info *)
  {
    if (current->read_at + n > current->input.size())
      return 0;
    std::memcpy(p, current->input.data() + current->read_at, n);
    current->read_at += n;
    return 1;
  }
  std::vector<unsigned char> save(definition *d)
  {
    current = this;
    saved.clear();
    saverest_record rec{};
    EXPECT_EQ(clpfd::fd_save_hook(&env, &rec, d, write_fn, nullptr), 0);
    return saved;
  }
  // Feeds every record of bytes to the restore hook for d; the number of
  // records refused.
  int restore(const std::vector<unsigned char> &state, definition *d)
  {
    current = this;
    input = state;
    read_at = 0;
    int refused = 0;
    while (read_at < input.size()) {
      saverest_record rec;
      if (!read_fn(&rec, sizeof rec, nullptr))
        return refused + 1;
      EXPECT_EQ(rec.tag, static_cast<std::uint32_t>(sr_data_fd));
      rec.body[0] = PointerToTerm(d);
      if (clpfd::fd_restore_hook(&env, &rec, read_fn, nullptr) < 0)
        return refused + 1; // the rest of the payload is out of step
    }
    return refused;
  }
};
IndexicalStore *IndexicalStore::current = nullptr;

TEST_F(IndexicalStore, InstallBuildsTheRecordsFromTheCompilersTerms)
{
  ASSERT_TRUE(install("f/3", "user", 1, FULL_INFO));
  definition *d = def("user", "f", 3);
  ASSERT_EQ(predtyp(d), static_cast<unsigned>(FD_CONSTRAINT));
  for (int type : {0, 2, 3})
    EXPECT_EQ(list(d, type), nullptr) << type;
  indexical_info *ix = list(d, 1);
  ASSERT_NE(ix, nullptr);
  EXPECT_EQ(ix->next, nullptr);
  EXPECT_EQ(ix->pred, d);
  EXPECT_EQ(ix->pruned, 1u);
  EXPECT_EQ(ix->checking, 0u);
  EXPECT_EQ(ix->truth_value, 1u);
  ASSERT_EQ(ix->length_of_linkage, 2u);
  EXPECT_EQ(ix->linkage[0], 1u);
  EXPECT_EQ(ix->linkage[1], 2u * 256 + 12);

  ASSERT_EQ(ix->length_of_literals, 4u);
  EXPECT_EQ(ix->literals[0], MakeSmall_checked(7));
  // The set block: header, then list cell and interval cell per interval.
  ASSERT_TRUE(IsStructure(ix->literals[1]));
  const TAGGED *block = TagToSTR(ix->literals[1]);
  EXPECT_EQ(static_cast<std::int32_t>(block[0]), -(64 * 2 + 9));
  EXPECT_EQ(fdset_model::text(ix->literals[1] + 5), "[[1|3],[5|sup]]");
  EXPECT_EQ(block[1], MakeLST(block + 3));
  EXPECT_EQ(block[2], MakeLST(block + 5));
  EXPECT_EQ(block[6], atom_nil);
  // The table: keys to tagged offsets.
  ASSERT_TRUE(IsList(ix->literals[2]));
  sw_on_key *sw = reinterpret_cast<sw_on_key *>(ix->literals[2] - 2);
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(4))->value.word, MakeSmall_checked(6));
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(9))->value.word, MakeSmall_checked(12));
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(5))->key, 0u);

  // Code words: h(N) the table's address, d(N) the set term, t(N) the entry.
  const std::vector<ix_byte> expected = {28, 69, PointerToTerm(sw), 4, 52, 1, 41, ix->literals[1] + 5, 41,
                                         MakeSmall_checked(7), 12, 70, 41, ix->literals[3] + 5, 70};
  ASSERT_EQ(ix->length_of_bytecode, expected.size());
  for (std::size_t i = 0; i < expected.size(); i++)
    EXPECT_EQ(ix->code[i], expected[i]) << "word " << i;
}

TEST_F(IndexicalStore, ReinstallReplacesOnlyItsListAndFreesTheOldRecords)
{
  const char *leq = "[i([1-4], 1, 0, [39, 46], 2, [], 0), i([0-2], 1, 1, [34, 47], 2, [], 0)]";
  ASSERT_TRUE(install("g/2", "user", 3, "[i([1-7], 1, 0, [35, 54], 2, [], 0)]"));
  ASSERT_TRUE(install("g/2", "user", 1, leq));
  definition *d = def("user", "g", 2);
  indexical_info *checking = list(d, 3);
  const std::size_t before = bytes();
  ASSERT_TRUE(install("g/2", "user", 1, leq));
  EXPECT_EQ(bytes(), before) << "the old list 1 was not freed (or the new one not built alike)";
  EXPECT_EQ(list(d, 3), checking) << "list 3 changed";
  ASSERT_NE(list(d, 1), nullptr);
  EXPECT_EQ(list(d, 1)->pruned, 0u);
  ASSERT_NE(list(d, 1)->next, nullptr);
  EXPECT_EQ(list(d, 1)->next->pruned, 1u);
  // An empty list empties list 1 and frees what it held.
  ASSERT_TRUE(install("g/2", "user", 1, "[]"));
  EXPECT_EQ(list(d, 1), nullptr);
  EXPECT_LT(bytes(), before);
}

TEST_F(IndexicalStore, RefusedDefinitionsLeaveThePredicateAndLeakNothing)
{
  ASSERT_TRUE(install("h/3", "user", 1, FULL_INFO));
  definition *d = def("user", "h", 3);
  indexical_info *old = list(d, 1);
  const std::size_t before = bytes();
  // Each fails late, after literals (a set, a table) were built.
  for (const char *bad : {
           "[i([], 0, 0, [39, 46], 2, [d([[1|2]]), table([1-0])], 2), i([], 0, 0, [46], 1, [d([[1|2]])], 1)]",
           "[i([], 0, 0, [41, d(0), 52, 1, 69], 5, [d([[1|2]]), table([1-0])], 2)]",
           "[i([], 0, 0, [41, d(0), 52, 7], 4, [d([[1|2]])], 1)]",
           "[i([], 0, 0, [41, d(0), 52, 1], 4, [d([[1|2]]), foo], 2)]",
           "[i([0-1], 1, 5, [39, 46], 2, [d([[1|2]])], 1)]",
       }) {
    EXPECT_FALSE(install("h/3", "user", 1, bad)) << bad;
    EXPECT_EQ(list(d, 1), old) << bad;
    EXPECT_EQ(bytes(), before) << "leaked: " << bad;
  }
  // A fresh predicate refused stays undefined.
  EXPECT_FALSE(install("h2/3", "user", 1, "[i([], 0, 0, [46], 1, [], 0)]"));
  EXPECT_EQ(predtyp(def("user", "h2", 3)), static_cast<unsigned>(ENTER_UNDEFINED));
}

TEST_F(IndexicalStore, UndefiningAnFdPredicateFreesEverything)
{
  definition *d = def("user", "k", 3);
  const std::size_t before = bytes();
  ASSERT_TRUE(install("k/3", "user", 1, FULL_INFO));
  ASSERT_TRUE(install("k/3", "user", 2, FULL_INFO));
  EXPECT_GT(bytes(), before);
  undefine_predicate(d);
  EXPECT_EQ(bytes(), before) << "the records, their literals or the fd_info record were left";
}

// Records items were built from outlive a reinstall and the predicate's
// end, since suspended items still read them; they go when the solver
// unloads.  Records never posted go at once.
TEST_F(IndexicalStore, PostedRecordsAreRetiredUntilTheSolverUnloads)
{
  const char *leq = "[i([1-4], 1, 0, [39, 46], 2, [], 0), i([0-2], 1, 1, [34, 47], 2, [], 0)]";
  definition *d = def("user", "r", 2);
  const std::size_t before = bytes();
  ASSERT_TRUE(install("r/2", "user", 1, leq));
  const std::size_t one_list = bytes();
  list(d, 1)->posted = 1; /* as $fd_post_reified/5 marks what it posts */
  indexical_info *posted = list(d, 1), *unposted = posted->next;
  ASSERT_TRUE(install("r/2", "user", 1, leq));
  EXPECT_NE(list(d, 1), posted);
  EXPECT_NE(list(d, 1), unposted);
  const std::size_t record = sizeof(indexical_info) + 2 * sizeof(ix_byte) + 4;
  EXPECT_GE(bytes(), one_list + record) << "the posted record was freed";
  EXPECT_EQ(posted->code[0], 39u) << "the retired record's code is intact";
  list(d, 1)->next->posted = 1;
  undefine_predicate(d);
  EXPECT_GT(bytes(), before) << "the posted records were freed with the predicate";
  free_retired_indexicals(&env);
  EXPECT_EQ(bytes(), before) << "retired records left after the solver unloaded";
}

TEST_F(IndexicalStore, SavedAndRestoredRecordsAreRebuiltAtNewAddresses)
{
  // Four literals, the set last (index 3): its relative operand must not
  // read back as the constant it would look like.
  ASSERT_TRUE(install("s/3", "user", 1,
                      "[i([0-1], 1, 0, [41, d(3), 41, t(1), 12, 52, 1], 7, [0, 1, 2, d([[5|6]])], 4),"
                      " i([1-9], 1, 1, [39, 46], 2, [], 0)]"));
  ASSERT_TRUE(install("s/3", "user", 2, FULL_INFO));
  definition *from = def("user", "s", 3);
  const std::vector<unsigned char> state = save(from);
  definition *to = def("elsewhere", "s", 3);
  ASSERT_EQ(restore(state, to), 0);
  ASSERT_EQ(predtyp(to), static_cast<unsigned>(FD_CONSTRAINT));
  for (int type = 0; type < 4; type++) {
    indexical_info *a = list(from, type), *b = list(to, type);
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
      EXPECT_EQ(b->pred, to);
      EXPECT_EQ(b->pruned, a->pruned);
      EXPECT_EQ(b->checking, a->checking);
      EXPECT_EQ(b->truth_value, a->truth_value);
      ASSERT_EQ(b->length_of_linkage, a->length_of_linkage);
      for (unsigned i = 0; i < a->length_of_linkage; i++)
        EXPECT_EQ(b->linkage[i], a->linkage[i]);
      ASSERT_EQ(b->length_of_literals, a->length_of_literals);
      for (unsigned i = 0; i < a->length_of_literals; i++) {
        const TAGGED x = a->literals[i], y = b->literals[i];
        if (IsStructure(x)) {
          ASSERT_TRUE(IsStructure(y));
          EXPECT_NE(x, y);
          EXPECT_EQ(fdset_model::text(y + 5), fdset_model::text(x + 5)) << "literal " << i;
        } else if (IsList(x)) {
          ASSERT_TRUE(IsList(y));
          EXPECT_NE(x, y);
          auto *sx = reinterpret_cast<sw_on_key *>(x - 2), *sy = reinterpret_cast<sw_on_key *>(y - 2);
          ASSERT_EQ(sw_slots(sy), sw_slots(sx));
          for (std::uint32_t k = 0; k < sw_slots(sx); k++)
            if (sx->tab[k].key != 0) {
              EXPECT_EQ(incore_gethash(sy, sx->tab[k].key)->value.word, sx->tab[k].value.word);
            }
        } else {
          EXPECT_EQ(y, x) << "literal " << i;
        }
      }
      // Code: equal but for literal operands, which name the new literals.
      ASSERT_EQ(b->length_of_bytecode, a->length_of_bytecode);
      for (unsigned i = 0; i < a->length_of_bytecode; i++) {
        ix_byte want = a->code[i];
        for (unsigned j = 0; j < a->length_of_literals; j++) {
          if (IsStructure(a->literals[j]) && want == a->literals[j] + 5)
            want = b->literals[j] + 5;
          else if (IsList(a->literals[j]) && want == a->literals[j] - 2)
            want = b->literals[j] - 2;
        }
        EXPECT_EQ(b->code[i], want) << "type " << type << " word " << i;
      }
    }
    EXPECT_EQ(a, nullptr) << "restored list " << type << " is short";
    EXPECT_EQ(b, nullptr) << "restored list " << type << " is long";
  }
  // And the restored one saves to a payload of the same length.
  EXPECT_EQ(save(to).size(), state.size());
}

TEST_F(IndexicalStore, RestoreRefusesPayloadsThatDoNotHold)
{
  ASSERT_TRUE(install("r/3", "user", 1, FULL_INFO));
  const std::vector<unsigned char> state = save(def("user", "r", 3));
  // Layout: record (28), linkage (8), literal vector (16), set block
  // (2 intervals: 36), table (4 slots: 40), set block (1 interval: 20),
  // code (15 words).
  constexpr std::size_t record = 0, vector = 36, set = 52, table = 88, code = 148;
  ASSERT_EQ(state.size(), code + 60);
  auto word = [](std::vector<unsigned char> &s, std::size_t at, std::uint32_t v) { std::memcpy(&s[at], &v, 4); };
  struct damage {
    const char *what;
    std::size_t at;
    std::uint32_t value;
  };
  const damage cases[] = {
      {"pruned beyond the arity", record + 8, 1 + 2 * 4 + 3 * 1024},
      {"info bits above pruned", record + 8, 1 + 2 * 4 + (1u << 18)},
      {"no code", record + 12, 0},
      {"linkage argument beyond the arity", 28, 3 * 256 + 1},
      {"a literal atom a state renumbers", vector, 0x100007u},
      {"a set length that is no block", vector + 4, 1 + 35},
      {"a set header that disagrees", set, static_cast<std::uint32_t>(-(64 * 3 + 9))},
      {"a set out of order", set + 12, MakeSmall_checked(9)},
      {"a table with a slot count that is no power of two", vector + 8, 2 + 8 + 8 * 3},
      {"a table mask that disagrees", table, 8},
      {"a table key a state renumbers", table + 8, 0x100007u},
      {"a code word jumping out", code + 4 * 3, 40},
      {"a literal index past the vector", code + 4 * 7, 9 << 2},
      {"a switch on no table", code + 4 * 2, 1},
      // 17 joins two sets; the subroutine hands it a set and a value.
      {"a value where an instruction needs a set", code + 4 * 10, 17},
  };
  definition *d = def("user", "r2", 3);
  for (const damage &c : cases) {
    std::vector<unsigned char> s = state;
    word(s, c.at, c.value);
    const std::size_t before = bytes();
    EXPECT_EQ(restore(s, d), 1) << c.what;
    EXPECT_NE(predtyp(d), static_cast<unsigned>(FD_CONSTRAINT)) << c.what;
    EXPECT_EQ(bytes(), before) << "leaked: " << c.what;
  }
  // A truncated payload is refused too.
  std::vector<unsigned char> cut(state.begin(), state.end() - 4);
  EXPECT_EQ(restore(cut, d), 1);
  EXPECT_EQ(restore(state, d), 0);
  EXPECT_EQ(predtyp(d), static_cast<unsigned>(FD_CONSTRAINT));
}

} // namespace
