// Lists of codes, characters and bytes to and from text: lengths, partial,
// malformed and cyclic lists, code 0, malformed text, and lists built in
// front of a tail that lives on the local stack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "atom_text.h"
#include "database_fixture.h"
#include "memman.h"
#include "term_text.h"
#include "vostrel/vrio_errors.h"

namespace {

struct TextLists : DatabaseFixture {
  TAGGED var()
  {
    TAGGED *h = heap(1);
    *h = PointerToTerm(h);
    return *h;
  }
  TAGGED cons(TAGGED head, TAGGED tail)
  {
    TAGGED *h = heap(2);
    h[0] = head;
    h[1] = tail;
    return MakeLST(h);
  }
  TAGGED list(std::initializer_list<TAGGED> items, TAGGED tail = atom_nil)
  {
    std::vector<TAGGED> v(items);
    for (auto it = v.rbegin(); it != v.rend(); ++it)
      tail = cons(*it, tail);
    return tail;
  }
  static TAGGED code(int c) { return MakeSmall_checked(c); }
  // A list of n cells whose last tail points back at the first.
  TAGGED cycle(int n, TAGGED element)
  {
    TAGGED *cells = heap(2 * n);
    for (int i = 0; i < n; i++) {
      cells[2 * i] = element;
      cells[2 * i + 1] = MakeLST(cells + 2 * ((i + 1) % n));
    }
    return MakeLST(cells);
  }
  std::string text(TAGGED t) { return term_to_text(t); }
};

TEST_F(TextLists, ListLength)
{
  struct tc {
    const char *why;
    TAGGED list;
    long length;
  } cases[] = {
      {"empty", atom_nil, 0},
      {"three", list({code(1), code(2), code(3)}), 3},
      {"partial", list({code(1)}, var()), LIST_PARTIAL},
      {"improper", list({code(1)}, atom("b")), LIST_PARTIAL},
      {"not a list", atom("foo"), LIST_PARTIAL},
      {"cycle of one", cycle(1, code(0)), LIST_CYCLIC},
      {"cycle of seven", cycle(7, code(0)), LIST_CYCLIC},
      {"cycle behind a prefix", cons(code(9), cons(code(8), cycle(3, code(0)))), LIST_CYCLIC},
  };
  for (const tc &c : cases)
    EXPECT_EQ(list_length(c.list), c.length) << c.why;
}

TEST_F(TextLists, ListToString)
{
  struct tc {
    const char *why;
    TAGGED list;
    int codesp;
    int result;
    std::string text;
  } cases[] = {
      {"codes", list({code('a'), code(228), code(0x20AC)}), 1, 1, "a\xC3\xA4\xE2\x82\xAC"},
      {"code 0 is C0 80", list({code('a'), code(0), code('b')}), 1, 1, std::string("a\xC0\x80" "b")},
      {"characters", list({atom("a"), atom("\xC3\xA4")}), 0, 1, "a\xC3\xA4"},
      {"empty", atom_nil, 1, 1, ""},
      {"unbound tail", list({code('a')}, var()), 1, 0, ""},
      {"unbound element", list({code('a'), var()}), 1, 0, ""},
      {"improper tail", list({code('a')}, atom("b")), 1, -1, ""},
      {"negative code", list({code(-1)}), 1, -1, ""},
      {"atom in a code list", list({atom("a")}), 1, -1, ""},
      {"two-character atom", list({atom("ab")}), 0, -1, ""},
      {"empty atom", list({atom("")}), 0, -1, ""},
      {"code in a character list", list({code('a')}), 0, -1, ""},
      {"cyclic, found when the buffer grows", cycle(3, code('a')), 1, -1, ""},
  };
  for (const tc &c : cases) {
    char *s = nullptr;
    EXPECT_EQ(vr_list_to_string(c.list, c.codesp, &s), c.result) << c.why;
    if (c.result == 1) {
      EXPECT_EQ(std::string(s), c.text) << c.why;
    }
  }
}

TEST_F(TextLists, ListToStringGrowsTheBuffer)
{
  TAGGED l = atom_nil;
  for (int i = 0; i < 3000; i++)
    l = cons(code(i % 2 ? 0x20AC : 'x'), l);
  char *s = nullptr;
  ASSERT_EQ(vr_list_to_string(l, 1, &s), 1);
  EXPECT_EQ(std::string(s).size(), 1500u * 3 + 1500u);
}

TEST_F(TextLists, ListToNCodesStopsBeforeAWholeCharacter)
{
  TAGGED l = list({code('a'), code(228), code('b')});
  char buffer[8];
  std::size_t written = 99;
  TAGGED rest = vr_list_to_n_codes(l, 2, &written, buffer);
  EXPECT_EQ(written, 1u) << "the two bytes of the second code do not fit";
  EXPECT_EQ(text(rest), "[228,98]");
  rest = vr_list_to_n_codes(l, 8, &written, buffer);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(rest, atom_nil);
  EXPECT_EQ(std::string(buffer, 4), "a\xC3\xA4" "b");
  EXPECT_EQ(vr_list_to_n_codes(list({code('a'), atom("x")}), 8, &written, buffer), 0u);
  EXPECT_EQ(written, 1u);
}

TEST_F(TextLists, ListToCodes)
{
  std::int32_t *codes = nullptr;
  ASSERT_EQ(vr_list_to_codes(list({code('a'), atom("\xC3\xA4")}), &codes, 3), 2);
  EXPECT_EQ(codes[0], 'a');
  EXPECT_EQ(codes[1], 228);
  VR_free(codes);
  EXPECT_EQ(vr_list_to_codes(list({code('a'), atom("b")}), nullptr, 1), VRIO_E_PARAMETER_ERROR)
      << "atoms are not accepted without option 2";
  EXPECT_EQ(vr_list_to_codes(list({code('a')}), nullptr, 2), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vr_list_to_codes(list({code('a')}), nullptr, 1), 1) << "null array: only the count";
  EXPECT_EQ(vr_list_to_codes(list({code('a')}, var()), nullptr, 1), LIST_PARTIAL);
  EXPECT_EQ(vr_list_to_codes(cycle(2, code('a')), nullptr, 1), LIST_CYCLIC);
  EXPECT_EQ(vr_list_to_codes(atom_nil, &codes, 1), 0);
  VR_free(codes);
}

TEST_F(TextLists, TextToLists)
{
  const char text_bytes[] = "a\xC3\xA4\xF0\x9F\x98\x80";
  EXPECT_EQ(text(vr_n_codes_to_list(w, 7, text_bytes, atom_nil, 1, 0, 0)), "[97,228,128512]");
  EXPECT_EQ(text(vr_n_codes_to_list(w, 3, text_bytes, atom_nil, 0, 0, 0)), "[a,\xC3\xA4]");
  EXPECT_EQ(text(vr_n_codes_to_list(w, 2, text_bytes, atom_nil, 1, 0, 0)), "[97,128]")
      << "a character cut short is malformed: code 128";
  EXPECT_EQ(text(vr_n_codes_to_list(w, 2, "\x80x", atom_nil, 1, 0, 0)), "[128,120]")
      << "a byte that cannot start a character is one character";
  EXPECT_EQ(text(vr_n_codes_to_list(w, 0, "", atom("t"), 1, 0, 0)), "t");

  const std::int32_t ints[] = {'a', 0x20AC, static_cast<std::int32_t>(0x80000062)};
  EXPECT_EQ(text(vr_n_ints_to_list(w, 2, ints, atom_nil, 1, 0, 0)), "[97,8364]");
  EXPECT_EQ(text(vr_n_ints_to_list(w, 3, ints, atom_nil, 0, 0, 0)), "[a,'\xE2\x82\xAC',b]")
      << "the sign bit is cleared for atoms";
  const unsigned char bytes[] = {0, 255, 7};
  EXPECT_EQ(text(vr_n_bytes_to_list(w, 3, bytes, atom_nil, 0, 0)), "[0,255,7]");
}

TEST_F(TextLists, TailOnTheLocalStackMovesToTheHeap)
{
  TAGGED *local = w->local_top + 4;
  *local = PointerToTerm(local);
  TAGGED l = vr_n_codes_to_list(w, 1, "a", *local, 1, 0, 0);
  ASSERT_TRUE(IsList(l));
  const TAGGED tail = TagToLST(l)[1];
  ASSERT_TRUE(IsVar(tail));
  EXPECT_TRUE(TagToRef(tail) >= w->heap_start && TagToRef(tail) < w->global_top)
      << "the list's tail must be a heap cell";
  EXPECT_EQ(deref(*local), deref(tail)) << "the local variable is bound to it";
}

TEST_F(TextLists, CharacterCounting)
{
  EXPECT_EQ(wci_char_count(""), 0);
  EXPECT_EQ(wci_char_count("abc"), 3);
  EXPECT_EQ(wci_char_count("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"), 3);
  EXPECT_EQ(wci_char_count("\xC3x"), 2) << "a lead byte without its continuation ends early";
  EXPECT_EQ(wci_char_count("\x80\x80"), 2) << "stray continuation bytes count one each";
  EXPECT_EQ(char_atom('a'), atom("a"));
  EXPECT_EQ(char_atom(0x20AC), atom("\xE2\x82\xAC"));
  EXPECT_EQ(char_atom(-1), 0u);
}

} // namespace
