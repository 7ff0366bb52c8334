/* vrio_hash.cpp: the chained hash table of the library's registries.
 *
 * Thirteen buckets for the table's whole life; new entries go to the end of
 * their bucket's chain, so a map visits a bucket's entries in insertion
 * order.  Keys and values are owned copies (strings duplicated).  Keys of
 * kind INT64 (and the non-value kinds) hash to all ones and never compare
 * equal, so they can be stored but never found again.
 */
#include <cstring>

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_types.h"

struct vrio_t_hash_link_ {
  vrio_t_hashcode hash;
  vrio_t_variant key;
  vrio_t_variant value;
  vrio_t_hash_link_ *next;
};
using link = vrio_t_hash_link_;

static constexpr size_t bucket_count = 13;

static vrio_t_bits kind_of(const vrio_t_variant *v)
{
  return v->flags & VRIO_VARIANT_TYPE_MASK;
}

static vrio_t_hashcode hash_variant(const vrio_t_variant *v)
{
  switch (kind_of(v)) {
  case VRIO_VARIANT_STRING: {
    vrio_t_hashcode h = 0;
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(v->u.string); *s; ++s)
      h = h * 31 + *s;
    return h;
  }
  case VRIO_VARIANT_POINTER:
    /* The 32-bit value sign-extended, as on the library's own target. */
    return static_cast<vrio_t_hashcode>(static_cast<int64_t>(
        static_cast<int32_t>(reinterpret_cast<uintptr_t>(v->u.p))));
  case VRIO_VARIANT_INT:
    return static_cast<vrio_t_hashcode>(static_cast<int64_t>(v->u.i));
  case VRIO_VARIANT_FLAGS:
    return static_cast<vrio_t_hashcode>(v->u.flags);
  default:
    return ~static_cast<vrio_t_hashcode>(0);
  }
}

static bool same_key(const vrio_t_variant *stored, const vrio_t_variant *key)
{
  if (stored == key)
    return true;
  if (kind_of(stored) != kind_of(key))
    return false;
  switch (kind_of(key)) {
  case VRIO_VARIANT_POINTER:
    return stored->u.p == key->u.p;
  case VRIO_VARIANT_FLAGS:
    return stored->u.flags == key->u.flags;
  case VRIO_VARIANT_INT:
    return stored->u.i == key->u.i;
  case VRIO_VARIANT_STRING:
    return std::strcmp(stored->u.string, key->u.string) == 0;
  default:
    return false;
  }
}

/* The slot holding the matching link, or the empty slot at the end of the
   key's chain. */
static link **locate(vrio_t_hash *table, const vrio_t_variant *key, vrio_t_hashcode h)
{
  link **slot = &table->links[h % table->nlinks];
  while (*slot != nullptr && !((*slot)->hash == h && same_key(&(*slot)->key, key)))
    slot = &(*slot)->next;
  return slot;
}

/* An owned copy of `from`: strings duplicated into plain STRING variants. */
static bool copy_variant(vrio_t_variant *to, const vrio_t_variant *from)
{
  if (kind_of(from) == VRIO_VARIANT_STRING) {
    char *s = vrio_alloc_string(from->u.string);
    if (s == nullptr)
      return false;
    to->flags = VRIO_VARIANT_STRING;
    to->u.string = s;
  } else {
    *to = *from;
  }
  return true;
}

static void free_link(link *l)
{
  vrio_variant_free(&l->key);
  vrio_variant_free(&l->value);
  vrio_free(l);
}

vrio_t_error_code vrio_hash_new(vrio_t_hash **ptable)
{
  auto *table = static_cast<vrio_t_hash *>(vrio_alloc(sizeof(vrio_t_hash)));
  if (table == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  table->links = static_cast<link **>(vrio_alloc(bucket_count * sizeof(link *)));
  if (table->links == nullptr) {
    vrio_free(table);
    return VRIO_E_OUT_OF_MEMORY;
  }
  for (size_t i = 0; i < bucket_count; ++i)
    table->links[i] = nullptr;
  table->nentries = 0;
  table->nlinks = bucket_count;
  *ptable = table;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_hash_put(vrio_t_hash *table, const vrio_t_variant *key,
                                const vrio_t_variant *value)
{
  auto *l = static_cast<link *>(vrio_alloc(sizeof(link)));
  if (l == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  l->key.flags = 0;
  l->value.flags = 0;
  l->next = nullptr;
  if (!copy_variant(&l->key, key) || !copy_variant(&l->value, value)) {
    free_link(l);
    return VRIO_E_OUT_OF_MEMORY;
  }
  l->hash = hash_variant(&l->key);
  link **slot = locate(table, &l->key, l->hash);
  if (*slot != nullptr) {
    free_link(l);
    return VRIO_E_FOUND;
  }
  *slot = l;
  table->nentries++;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_hash_get(vrio_t_hash *table, const vrio_t_variant *key,
                                vrio_t_variant **pvalue)
{
  link *l = *locate(table, key, hash_variant(key));
  if (l == nullptr)
    return VRIO_E_NOT_FOUND;
  if (pvalue != nullptr)
    *pvalue = &l->value;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_hash_delete(vrio_t_hash *table, const vrio_t_variant *key)
{
  link **slot = locate(table, key, hash_variant(key));
  link *l = *slot;
  if (l == nullptr)
    return VRIO_E_NOT_FOUND;
  *slot = l->next;
  free_link(l);
  table->nentries--;
  return VRIO_S_NOERR;
}

static vrio_t_variant borrowed_string(const char *key)
{
  vrio_t_variant v;
  v.flags = VRIO_VARIANT_STRING | VRIO_VARIANT_BORROWED_STRING;
  v.u.string = const_cast<char *>(key);
  return v;
}

vrio_t_error_code vrio_hash_put_string(vrio_t_hash *table, const char *key,
                                       const vrio_t_variant *value)
{
  vrio_t_variant k = borrowed_string(key);
  return vrio_hash_put(table, &k, value);
}

vrio_t_error_code vrio_hash_get_string(vrio_t_hash *table, const char *key, vrio_t_variant **pvalue)
{
  vrio_t_variant k = borrowed_string(key);
  return vrio_hash_get(table, &k, pvalue);
}

vrio_t_error_code vrio_hash_delete_string(vrio_t_hash *table, const char *key)
{
  vrio_t_variant k = borrowed_string(key);
  return vrio_hash_delete(table, &k);
}

size_t vrio_hash_nentries(const vrio_t_hash *table)
{
  return table->nentries;
}

vrio_t_error_code vrio_hash_map(vrio_t_hash *table, vrio_t_hash_map_fun fun, void *cookie)
{
  vrio_t_error_code rc = VRIO_E_ERROR;
  for (size_t i = 0; i < table->nlinks; ++i) {
    for (link *l = table->links[i]; l != nullptr;) {
      link *next = l->next; /* the function may delete the entry it is given */
      rc = fun(&l->key, &l->value, cookie);
      if (rc < 0)
        return rc;
      l = next;
    }
  }
  return rc;
}

void vrio_hash_free(vrio_t_hash *table)
{
  if (table == nullptr)
    return;
  for (size_t i = 0; i < table->nlinks; ++i) {
    for (link *l = table->links[i]; l != nullptr;) {
      link *next = l->next;
      free_link(l);
      l = next;
    }
  }
  vrio_free(table->links);
  vrio_free(table);
}
