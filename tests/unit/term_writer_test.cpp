// The native writer of principal parts and the debug printer, on a code
// stream: quoting and escapes by the atom's flags, the portable character
// set, variables named by their heap offset, and the debug printer's
// depth limit, lists and compound terms.  The whole writer (operators,
// spacing, options) is tested in tests/prolog/term_io.pl.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chartype.h"
#include "initial_atoms.h"
#include "runtime_fixture.h"
#include "streams.h"
#include "term_writer.h"
#include "terms.h"

int prolog_stream_from_codes(worker *w);

namespace {

struct TermWriter : RuntimeFixture {
  // A text stream in memory open both ways.
  VR_stream *code_stream()
  {
    TAGGED *h = w->global_top;
    *h = PointerToTerm(h);
    w->global_top = h + 1;
    w->term[0] = atom_nil;
    w->term[1] = *h;
    w->term[2] = MakeSmall_checked(0x68);
    EXPECT_EQ(prolog_stream_from_codes(w), 1);
    VR_stream *s = stream_to_ptr(deref(w->term[1]), SM_ANY, 0);
    EXPECT_NE(s, nullptr);
    return s;
  }
  // What was written to s (the stream's text as UTF-8).
  static std::string text_of(VR_stream *s)
  {
    EXPECT_GE(VR_flush_output(s, 0), 0);
    std::string out;
    for (int c; (c = vr_get_code_helper(s, 0)) >= 0;) {
      char buf[8];
      const int n = VR_code_wci(buf, c);
      out.append(buf, static_cast<std::size_t>(n > 0 ? n : 0));
    }
    return out;
  }
  std::string quoted(const char *text, bool portable = false)
  {
    VR_stream *s = code_stream();
    const TAGGED saved = eglobal->current_quoted_charset_flag;
    eglobal->current_quoted_charset_flag = portable ? MakeAtom(atom_portable_enum) : atom("prolog");
    EXPECT_EQ(print_atom(s, atom(text), 0), VRIO_S_NOERR);
    eglobal->current_quoted_charset_flag = saved;
    return text_of(s);
  }
  TAGGED compound(const char *name, std::vector<TAGGED> args)
  {
    TAGGED *h = w->global_top;
    h[0] = MakeFunctor(atom(name), static_cast<unsigned>(args.size()));
    for (std::size_t i = 0; i < args.size(); ++i)
      h[1 + i] = args[i];
    w->global_top = h + 1 + args.size();
    return MakeSTR(h);
  }
  TAGGED cons(TAGGED head, TAGGED tail)
  {
    TAGGED *h = w->global_top;
    h[0] = head;
    h[1] = tail;
    w->global_top = h + 2;
    return MakeLST(h);
  }
  std::string debug_text(TAGGED t)
  {
    VR_stream *s = code_stream();
    VR_stream *err = eglobal->stream_user_error;
    eglobal->stream_user_error = s;
    wr_tagged(t);
    eglobal->stream_user_error = err;
    return text_of(s);
  }
};

TEST_F(TermWriter, AtomsAreQuotedAndEscapedByTheirFlags)
{
  struct {
    const char *atom, *want;
  } cases[] = {
      {"hello", "hello"},
      {"hello world", "'hello world'"},
      {"don't", "'don\\'t'"},
      {"a\\b", "'a\\\\b'"},
      {"a\nb", "'a\\nb'"},
      {"tab\there", "'tab\\there'"},
      {"\x01", "'\\x1\\'"},
      {"\xC0\x80", "'\\x0\\'"}, /* code 0 in the internal encoding */
      {"\x7F", "'\\d'"},
      {"[]", "[]"},
      {"{}", "{}"},
      {"!", "!"},
      {";", ";"},
      {"[ ]", "'[ ]'"},
      {".", "'.'"},
      {"", "''"},
      {"Abc", "'Abc'"},
      {"_x", "'_x'"},
      {"+-*", "+-*"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(quoted(c.atom), c.want) << "atom " << c.atom;
}

// Under the portable character set every non-ASCII character is escaped,
// and an atom that needs no quotes otherwise gets them for it.
TEST_F(TermWriter, PortableCharacterSetEscapesNonAscii)
{
  EXPECT_EQ(quoted("\xC3\xA9", true), "'\\xE9\\'");
  EXPECT_EQ(quoted("a\xE2\x82\xAC" "b c", true), "'a\\x20AC\\b c'");
  EXPECT_EQ(quoted("abc", true), "abc");
}

TEST_F(TermWriter, PrincipalPartsOfEachKindOfTerm)
{
  VR_stream *s = code_stream();
  TAGGED *v = w->global_top++;
  *v = PointerToTerm(v);
  const TAGGED f = compound("foo bar", {atom("x")});
  const TAGGED l = cons(atom("x"), atom_nil);
  EXPECT_EQ(output_term(*v, 0, s), VRIO_S_NOERR);
  EXPECT_EQ(output_term(l, 0, s), VRIO_S_NOERR);
  EXPECT_EQ(output_term(f, 0, s), VRIO_S_NOERR);
  EXPECT_EQ(output_term(MakeSmall_checked(-42), 0, s), VRIO_S_NOERR);
  EXPECT_EQ(text_of(s), "_" + std::to_string(v - w->heap_start) + ".foo bar-42");
  EXPECT_EQ(s->flags & SF_INTERRUPT_TOLERANT, 0u) << "the tolerant flag must be restored";
}

TEST_F(TermWriter, DebugPrinterStopsAtDepthTen)
{
  TAGGED t = atom("a");
  for (int i = 0; i < 12; ++i)
    t = compound("f", {t});
  EXPECT_EQ(debug_text(t), "f(f(f(f(f(f(f(f(f(f(...))))))))))\n");
  const TAGGED list = cons(atom("a"), cons(MakeSmall_checked(2), atom("t")));
  EXPECT_EQ(debug_text(compound("g", {list, atom("x y"), atom_nil})), "g([a,2|t],'x y',[])\n");
}

} // namespace
