// A worker, the atom table and the default operator table, with helpers to
// read clauses from text and to show a term in plain functional notation
// (no operators), so that a test states the structure the reader built
// independently of the canonical writer.  TearDown restores the flags and
// tables it set, so the suites also pass in one process.
#ifndef TRELIX_TESTS_READER_FIXTURE_H
#define TRELIX_TESTS_READER_FIXTURE_H

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "atoms.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "number_text.h"
#include "operators.h"
#include "term_reader.h"
#include "term_text.h"
#include "terms.h"
#include "tokenizer.h"
#include "worker_fixture.h"

struct ReaderFixture : WorkerFixture {
  text_source src{};
  std::string source_text;
  read_result r{};

  void SetUp() override
  {
    WorkerFixture::SetUp();
    ASSERT_EQ(init_atoms_once(), 1);
    init_operators();
    eglobal->current_double_quotes = MakeAtom(atom_codes_enum);
  }
  void TearDown() override
  {
    deinit_operators();
    eglobal->current_double_quotes = 0;
    deinit_atoms();
    WorkerFixture::TearDown();
  }

  static TAGGED atom(const char *text) { return init_atom_check(text, 0); }

  void open(const std::string &text)
  {
    source_text = text;
    text_source_init(&src, source_text.c_str(), source_text.size());
  }
  int next() { return read_clause_term(w, &src.base, 0, &r); }

  // The first clause of text in functional notation, or "error: message".
  std::string read_display(const std::string &text)
  {
    open(text);
    const int status = next();
    if (status != READ_OK)
      return std::string("error: ") + r.message;
    return display(r.term);
  }

  // Functional notation: every compound as name(args), lists as [a,b|c],
  // atoms quoted as needed, variables as _.
  static std::string display(TAGGED t)
  {
    t = deref(t);
    if (IsVar(t))
      return "_";
    if (IsAtom(t))
      return atom_text_quoted(t);
    if (IsSmall(t) || (IsStructure(t) && IsBoxHeader(*TagToSTR(t))))
      return vr_number_to_string(t, 10, 0);
    if (IsList(t)) {
      std::string s = "[" + display(TagToLST(t)[0]);
      TAGGED tail = deref(TagToLST(t)[1]);
      for (; IsList(tail); tail = deref(TagToLST(tail)[1]))
        s += "," + display(TagToLST(tail)[0]);
      if (tail != atom_nil)
        s += "|" + display(tail);
      return s + "]";
    }
    const TAGGED *p = TagToSTR(t);
    std::string s = atom_text_quoted(FunctorName(p[0])) + "(";
    for (unsigned i = 1; i <= Arity(p[0]); ++i)
      s += (i > 1 ? "," : "") + display(p[i]);
    return s + ")";
  }

  // True when a and b are the same term up to a renaming of variables.
  static bool variant(TAGGED a, TAGGED b, std::map<TAGGED, TAGGED> &ab, std::map<TAGGED, TAGGED> &ba)
  {
    a = deref(a);
    b = deref(b);
    if (IsVar(a) || IsVar(b)) {
      if (!IsVar(a) || !IsVar(b))
        return false;
      auto i = ab.find(a);
      auto j = ba.find(b);
      if (i == ab.end() && j == ba.end()) {
        ab[a] = b;
        ba[b] = a;
        return true;
      }
      return i != ab.end() && j != ba.end() && i->second == b && j->second == a;
    }
    if (IsAtomic(a) || IsAtomic(b))
      return a == b;
    if (IsList(a) != IsList(b))
      return false;
    if (IsList(a))
      return variant(TagToLST(a)[0], TagToLST(b)[0], ab, ba) && variant(TagToLST(a)[1], TagToLST(b)[1], ab, ba);
    const TAGGED *p = TagToSTR(a), *q = TagToSTR(b);
    if (IsBoxHeader(p[0]) || IsBoxHeader(q[0])) {
      if (p[0] != q[0])
        return false;
      for (unsigned i = 1; i < BoxWords(p[0]); ++i)
        if (p[i] != q[i])
          return false;
      return true;
    }
    if (p[0] != q[0])
      return false;
    for (unsigned i = 1; i <= Arity(p[0]); ++i)
      if (!variant(p[i], q[i], ab, ba))
        return false;
    return true;
  }
};

#endif
