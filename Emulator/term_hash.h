/* term_hash.h: hash values of ground terms, down to a depth.
 *
 * Two algorithms: the older one (three accumulators fed word by word) and
 * a driver that feeds a term's bytes to one of several published byte
 * hashes.  A term with an unbound variable has no hash unless variables
 * are to be ignored.  Depth -1 means no limit; a subterm reached with
 * depth 0 contributes nothing; list elements and compound arguments are
 * one level deeper than their list or compound.
 *
 * Callers: the term-hashing built-ins below.  Engine thread only.
 */
#ifndef VOSTREL_TERM_HASH_H
#define VOSTREL_TERM_HASH_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"

struct worker;

/* A byte hash: the running hash after `length` more bytes. */
typedef std::uint32_t (*byte_hash_fn)(const void *data, std::size_t length, std::uint32_t hash);

std::uint32_t hash_hsieh_SuperFastHash(const void *data, std::size_t length, std::uint32_t hash);
std::uint32_t hash_sdbm(const void *data, std::size_t length, std::uint32_t hash);
std::uint32_t hash_djb2(const void *data, std::size_t length, std::uint32_t hash);
std::uint32_t hash_djb2_xor(const void *data, std::size_t length, std::uint32_t hash);
std::uint32_t hash_k_and_r(const void *data, std::size_t length, std::uint32_t hash);
std::uint32_t hash_k_and_r2(const void *data, std::size_t length, std::uint32_t hash);
std::uint32_t hash_DummyHash(const void *data, std::size_t length, std::uint32_t hash);

/* The older hash of t; 0 when t is not ground (the flag tells a real 0
   apart).  ignore_vars: unbound variables add nothing. */
std::uint32_t term_hash_4_0_4(TAGGED t, int depth, bool ignore_vars, bool *ground);

/* The running hash after t's bytes; *ground false (result 0) when an
   unbound variable made t unhashable. */
std::uint32_t term_hash_internal_generic(TAGGED t, int depth, std::uint32_t hash, byte_hash_fn function,
                                         bool ignore_vars, bool *ground);

/* $term_hash_4.0.4(Term, Depth, Range, Hash) */
int prolog_term_hash_4_0_4(worker *w);
/* $term_hash_4_0_5(Term, Options, Depth, Range, Hash) */
int prolog_term_hash_4_0_5(worker *w);

#endif
