/* term_hash.cpp: term hashing (see term_hash.h).
 *
 * Both algorithms walk the term with an explicit work list, never the
 * machine stack, in the order the hash depends on: depth first, arguments
 * left to right.  A term that is cyclic has no end to walk when the depth
 * is unlimited; the built-ins refuse it (fail) instead of looping.  All
 * hash arithmetic is unsigned and wraps modulo 2^32.
 */
#include "term_hash.h"

#include <cstring>
#include <vector>

#include "atoms.h"
#include "digests.h"
#include "errors.h"
#include "inline_builtins.h"
#include "term_walkers.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

/* The depth of a subterm of a term at depth d; a negative depth never
   reaches 0. */
inline int deeper(int d) { return d > 0 ? d - 1 : d; }

inline bool is_bignum(TAGGED t) { return !IsSmall(t) && is_integer_term(t); }
/* The sign of a big integer is its top digit's. */
inline bool bignum_negative(TAGGED t) { return static_cast<std::int32_t>(TagToSTR(t)[BoxPayload(*TagToSTR(t))]) < 0; }

const unsigned char *atom_bytes(TAGGED a, std::size_t *length)
{
  const atom *r = atom_record(a);
  *length = r->length;
  return reinterpret_cast<const unsigned char *>(r->name);
}

/* ---- The older algorithm ---- */

struct accumulators {
  std::uint32_t h[3] = {0, 0, 0};
  int k = 0;
  void add(std::uint32_t v)
  {
    h[k] += v;
    k = k == 2 ? 0 : k + 1;
  }
  void add_text(const unsigned char *p, std::size_t n)
  {
    for (std::size_t i = 0; i < n; i++)
      add(static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(p[i]))));
  }
};

/* ---- The walk ---- */

/* A work item: a subterm to hash, or an argument position (1 up) that
   comes before the argument it numbers. */
struct step {
  TAGGED t;     /* 0: a position */
  int depth;
  std::uint32_t position;
};

/* Visits t depth first, arguments left to right, as both algorithms feed
   it, calling the visitor's atom() for an atom and for a compound's name
   (before its arguments), number(), list_cell() (before the head and the
   tail) and position(i) (before argument i).  False when an unbound
   variable makes t unhashable. */
template <typename Visitor> bool walk_for_hash(TAGGED t, int depth, bool ignore_vars, Visitor &v)
{
  std::vector<step> work{{t, depth, 0}};
  while (!work.empty()) {
    const step s = work.back();
    work.pop_back();
    if (s.t == 0) {
      v.position(s.position);
      continue;
    }
    const TAGGED x = deref(s.t);
    if (s.depth == 0)
      continue;
    if (IsVar(x)) {
      if (ignore_vars)
        continue;
      return false;
    }
    if (IsAtom(x)) {
      v.atom(x);
    } else if (IsSmall(x) || is_number_box(x)) {
      v.number(x);
    } else if (IsList(x)) {
      v.list_cell();
      work.push_back({TagToLST(x)[1], s.depth, 0});
      work.push_back({TagToLST(x)[0], deeper(s.depth), 0});
    } else {
      const TAGGED *str = TagToSTR(x);
      v.atom(FunctorName(str[0]));
      for (unsigned i = Arity(str[0]); i >= 1; i--) {
        work.push_back({str[i], deeper(s.depth), 0});
        work.push_back({0, 0, i});
      }
    }
  }
  return true;
}

/* ---- The generic driver ---- */

/* A number's bytes as the driver feeds them. */
std::uint32_t hash_number(TAGGED t, std::uint32_t hash, byte_hash_fn function)
{
  unsigned char bytes[8];
  auto feed64 = [&](std::uint64_t v) {
    for (int i = 0; i < 8; i++)
      bytes[i] = static_cast<unsigned char>(v >> (8 * i));
    hash = function(bytes, 8, hash);
  };
  if (IsSmall(t)) {
    feed64(static_cast<std::uint64_t>(static_cast<VR_int64>(GetSmall(t))));
    return hash;
  }
  const TAGGED *box = TagToSTR(t);
  const unsigned digits = BoxPayload(box[0]);
  if (BoxIsFloat(box[0])) {
    std::memcpy(bytes, box + 1, 8);
    return function(bytes, 8, hash);
  }
  if (digits <= 2) {
    feed64(static_cast<std::uint64_t>(vri_get_int64(t)));
    return hash;
  }
  for (unsigned i = 0; i < digits; i += 2) {
    const std::uint64_t high = i + 1 < digits ? box[2 + i] : 0;
    feed64((high << 32) | box[1 + i]);
  }
  return hash;
}

} // namespace

/* ---- Byte hashes ---- */

std::uint32_t hash_hsieh_SuperFastHash(const void *data, std::size_t length, std::uint32_t hash)
{
  const unsigned char *p = static_cast<const unsigned char *>(data);
  auto get16 = [](const unsigned char *d) {
    return static_cast<std::uint32_t>(d[0]) | (static_cast<std::uint32_t>(d[1]) << 8);
  };
  /* The published function reads its one or three odd bytes as signed. */
  auto signed_byte = [](unsigned char c) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
  };
  if (length == 0 || data == nullptr)
    return 0;
  const std::size_t rem = length & 3;
  for (std::size_t n = length >> 2; n > 0; n--) {
    hash += get16(p);
    const std::uint32_t tmp = (get16(p + 2) << 11) ^ hash;
    hash = (hash << 16) ^ tmp;
    p += 4;
    hash += hash >> 11;
  }
  switch (rem) {
  case 3:
    hash += get16(p);
    hash ^= hash << 16;
    hash ^= signed_byte(p[2]) << 18;
    hash += hash >> 11;
    break;
  case 2:
    hash += get16(p);
    hash ^= hash << 11;
    hash += hash >> 17;
    break;
  case 1:
    hash += signed_byte(p[0]);
    hash ^= hash << 10;
    hash += hash >> 1;
    break;
  }
  /* Avalanching of the final 127 bits. */
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

std::uint32_t hash_sdbm(const void *data, std::size_t length, std::uint32_t hash)
{
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < length; i++)
    hash = p[i] + (hash << 6) + (hash << 16) - hash;
  return hash;
}

std::uint32_t hash_djb2(const void *data, std::size_t length, std::uint32_t hash)
{
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < length; i++)
    hash = ((hash << 5) + hash) + p[i];
  return hash;
}

std::uint32_t hash_djb2_xor(const void *data, std::size_t length, std::uint32_t hash)
{
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < length; i++)
    hash = ((hash << 5) + hash) ^ p[i];
  return hash;
}

std::uint32_t hash_k_and_r(const void *data, std::size_t length, std::uint32_t hash)
{
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < length; i++)
    hash += p[i];
  return hash;
}

std::uint32_t hash_k_and_r2(const void *data, std::size_t length, std::uint32_t hash)
{
  const unsigned char *p = static_cast<const unsigned char *>(data);
  for (std::size_t i = 0; i < length; i++)
    hash = p[i] + 31 * hash;
  return hash;
}

std::uint32_t hash_DummyHash(const void *data, std::size_t length, std::uint32_t hash)
{
  return length == 0 ? 0 : hash;
}

namespace {

std::uint32_t lookup3_hashlittle(const void *data, std::size_t length, std::uint32_t hash)
{
  return jenkins_lookup3_hashlittle(data, length, hash);
}

/* The byte hashes by option number (bits 0 to 3 of Options), with their
   initial hashes; option 1 is the older algorithm, and the rest hash to 0. */
struct byte_hash_row {
  byte_hash_fn function;
  std::uint32_t initial;
};
const byte_hash_row byte_hashes[16] = {
    {nullptr, 0},
    {nullptr, 0},
    {hash_hsieh_SuperFastHash, 0},
    {hash_sdbm, 0},
    {lookup3_hashlittle, 0},
    {hash_djb2, 5381},
    {hash_djb2_xor, 5381},
    {hash_k_and_r, 0},
    {hash_k_and_r2, 0},
    {hash_DummyHash, 4711},
};

/* Depth as the built-ins take it: a small integer of at least -1, or a
   positive big integer (no limit in practice). */
bool get_depth(TAGGED t, int *depth)
{
  t = deref(t);
  if (IsSmall(t) && GetSmall(t) >= -1) {
    *depth = static_cast<int>(GetSmall(t));
    return true;
  }
  if (is_bignum(t) && !bignum_negative(t)) {
    *depth = -1;
    return true;
  }
  return false;
}

/* A walk without end: a cyclic term at unlimited depth. */
bool endless(worker *w, TAGGED t, int depth)
{
  if (depth >= 0 || !IsComplex(t))
    return false;
  const int acyclic = dfs_acyclic(w, t);
  dfs_undo(w, t);
  return !acyclic;
}

} // namespace

std::uint32_t term_hash_4_0_4(TAGGED t, int depth, bool ignore_vars, bool *ground)
{
  struct older_visitor {
    accumulators acc;
    void atom(TAGGED a)
    {
      std::size_t n;
      const unsigned char *text = atom_bytes(a, &n);
      acc.add_text(text, n);
    }
    void number(TAGGED x)
    {
      if (IsSmall(x)) {
        acc.add(static_cast<std::uint32_t>(GetSmall(x)));
        return;
      }
      const TAGGED *box = TagToSTR(x);
      for (unsigned i = 0; i < BoxWords(box[0]); i++)
        acc.add(box[i]);
    }
    void list_cell() { acc.add('.'); }
    void position(std::uint32_t) {}
  } v;
  *ground = walk_for_hash(t, depth, ignore_vars, v);
  if (!*ground)
    return 0;
  const std::uint32_t h0 = v.acc.h[0], h1 = v.acc.h[1], h2 = v.acc.h[2];
  return ((h2 ^ h1) + h2 * 128) * 128 + (h2 ^ h1 ^ h0);
}

std::uint32_t term_hash_internal_generic(TAGGED t, int depth, std::uint32_t hash, byte_hash_fn function,
                                         bool ignore_vars, bool *ground)
{
  /* Without a function the walk only decides groundness. */
  if (function == nullptr)
    function = [](const void *, std::size_t, std::uint32_t h) { return h; };
  struct generic_visitor {
    std::uint32_t hash;
    byte_hash_fn function;
    void atom(TAGGED a)
    {
      std::size_t n;
      const unsigned char *text = atom_bytes(a, &n);
      hash = function(text, n, hash);
    }
    void number(TAGGED x) { hash = hash_number(x, hash, function); }
    void list_cell() { hash = function(".", 1, hash); }
    /* Argument i starts from i xor the running hash (the last one from
       the arity xor it, its position being the arity). */
    void position(std::uint32_t i) { hash ^= i; }
  } v{hash, function};
  *ground = walk_for_hash(t, depth, ignore_vars, v);
  return *ground ? v.hash : 0;
}

int prolog_term_hash_4_0_4(worker *w)
{
  int depth;
  if (!get_depth(w->term[1], &depth))
    return 0;
  const TAGGED range = deref(w->term[2]);
  const bool small = IsSmall(range);
  if (!is_integer_term(range))
    return 0;
  if (small ? GetSmall(range) <= 0 : bignum_negative(range)) {
    /* A range of 0 or less has no remainders to give. */
    save_error(DOMAIN_ERROR | (4 << 8), "", range);
    raise_error("prolog", "$term_hash_4.0.4", 4, 3);
    return 0;
  }
  /* 0: a range beyond 32 bits, which leaves every hash as it is. */
  const VR_int64 r = small ? GetSmall(range) : BoxPayload(*TagToSTR(range)) <= 2 ? vri_get_int64(range) : 0;
  const std::uint32_t modulus = r <= 0xFFFFFFFFLL ? static_cast<std::uint32_t>(r) : 0;
  const TAGGED t = deref(w->term[0]);
  if (endless(w, t, depth))
    return 0;
  bool ground;
  std::uint32_t h = term_hash_4_0_4(t, depth, false, &ground);
  if (!ground)
    return 1;
  if (modulus != 0)
    h %= modulus;
  return cunify(w, w->term[3], make_integer_term(w, h));
}

int prolog_term_hash_4_0_5(worker *w)
{
  const TAGGED options = deref(w->term[1]);
  if (!IsSmall(options))
    return 0;
  int depth;
  if (!get_depth(w->term[2], &depth))
    return 0;
  const TAGGED range_term = deref(w->term[3]);
  VR_int64 range = 0;
  if (IsSmall(range_term)) {
    range = GetSmall(range_term);
  } else if (is_bignum(range_term)) {
    /* Beyond 64 bits only the sign matters: a positive range that large
       leaves the hash as it is, a negative one is refused below. */
    range = BoxPayload(*TagToSTR(range_term)) <= 2 ? vri_get_int64(range_term)
            : bignum_negative(range_term)         ? -6
                                                  : 0x100000000LL;
  }
  if (range < -5)
    return 0;
  const TAGGED t = deref(w->term[0]);
  if (endless(w, t, depth))
    return 0;
  const int option = static_cast<int>(GetSmall(options) & 15);
  const bool ignore_vars = (GetSmall(options) & 16) != 0;
  bool ground;
  std::uint32_t h;
  if (option == 1) {
    h = term_hash_4_0_4(t, depth, ignore_vars, &ground);
  } else {
    const byte_hash_row &row = byte_hashes[option];
    h = term_hash_internal_generic(t, depth, row.initial, row.function, ignore_vars, &ground);
    if (row.function == nullptr)
      h = 0;
  }
  if (!ground)
    return 1;
  VR_int64 result;
  if (range > 0)
    result = range > 0xFFFFFFFFLL ? h : h % static_cast<std::uint32_t>(range);
  else if (range == -2 || range == -4)
    result = h & 0x0FFFFFFF;
  else if (range == -1)
    result = h == 0xFFFFFFFFu ? 0 : static_cast<std::int32_t>(h);
  else
    result = h;
  return cunify(w, w->term[4], make_integer_term(w, result));
}
