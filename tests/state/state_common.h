// state_common.h: what the saved-state test programs share: running a
// built-in of module prolog as a query, reading and writing files, and
// walking the record stream of a state (the tests' own reading of the
// format, independent of the reader under test).
#ifndef TRELIX_TESTS_STATE_COMMON_H
#define TRELIX_TESTS_STATE_COMMON_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "exception_store.h"
#include "modules.h"
#include "predicates.h"
#include "query.h"
#include "term_text.h"
#include "terms.h"
#include "worker.h"

namespace state_test {

using bytes = std::vector<unsigned char>;

inline bytes read_file(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string &path, const bytes &b)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline TAGGED mk_atom(const char *text) { return init_atom_check(text, 0); }

// Runs Name/arity of module prolog with the given arguments: 1, 0, or -1
// with the exception's text in *ball.
inline int call_prolog(worker *w, const char *name, std::vector<TAGGED> args, std::string *ball = nullptr)
{
  definition *d = insert_definition(eglobal->prolog_module, mk_atom(name), static_cast<int>(args.size()), 0);
  if (d == nullptr)
    return -2;
  query q;
  TAGGED *mark = w->global_top;
  const int res = query_open(w, &q, d, args.data());
  query_close(w, &q);
  if (res < 0) {
    const TAGGED e = load_stored_exception(w);
    if (ball != nullptr)
      *ball = e != 0 ? term_to_text(e) : std::string("?");
    erase_stored_exception();
  }
  if (w->global_top > mark)
    w->global_top = mark;
  return res;
}

// One record of a state: where it starts, its tag and body, and where its
// payload ends.
struct record {
  std::size_t at;
  std::size_t end;
  std::uint32_t tag;
  std::uint32_t body[6];
};

inline std::uint32_t word_at(const bytes &b, std::size_t at)
{
  std::uint32_t w;
  std::memcpy(&w, b.data() + at, 4);
  return w;
}

inline void set_word_at(bytes &b, std::size_t at, std::uint32_t w) { std::memcpy(b.data() + at, &w, 4); }

// The offset of the first record (after the version line), or 0.
inline std::size_t records_start(const bytes &b)
{
  const std::string text(b.begin(), b.end());
  const std::size_t v = text.find("\nversion=");
  if (v == std::string::npos)
    return 0;
  const std::size_t nl = text.find('\n', v + 1);
  return nl == std::string::npos ? 0 : nl + 1;
}

// The records up to and including sr_eof; atom texts by key in *names.
inline std::vector<record> records_of(const bytes &b, std::map<std::uint32_t, std::string> *names = nullptr)
{
  std::vector<record> out;
  std::map<std::uint32_t, unsigned> arity; // predicate key -> arity
  std::size_t at = records_start(b);
  while (at != 0 && at + 28 <= b.size()) {
    record r{};
    r.at = at;
    r.tag = word_at(b, at);
    for (int i = 0; i < 6; i++)
      r.body[i] = word_at(b, at + 4 + 4 * i);
    std::size_t payload = 0;
    switch (r.tag) {
    case 0: payload = r.body[1]; break;
    case 2: arity[r.body[0]] = (r.body[2] >> 23) & 0xFF; break;
    case 4: payload = r.body[2]; break;
    case 5: payload = r.body[1]; break;
    case 7: payload = 8 + r.body[2]; break;
    case 9: payload = (r.body[1] & 4) ? arity[r.body[0]] + 1 : 0; break;
    case 11: payload = 8 + r.body[3]; break;
    case 12: payload = r.body[5]; break;
    case 14: payload = 60; break;
    default: break;
    }
    r.end = at + 28 + payload;
    if (names != nullptr && r.tag == 0 && r.end <= b.size())
      (*names)[r.body[0]] = std::string(reinterpret_cast<const char *>(b.data() + at + 28));
    out.push_back(r);
    if (r.tag == 16 || r.tag > 16)
      break;
    at = r.end;
  }
  return out;
}

} // namespace state_test

#endif
