/* btree.cpp: the address B-tree (see btree.h for the contract).
 *
 * Leaves hold up to 31 entries, inner nodes up to 30 separators and 31
 * children.  Insertion splits full nodes on the way back up; range deletion
 * frees whole subtrees that lie inside the range, trims the leaves at its
 * edges and then joins or balances the children it left underfull.
 *
 * Separators are not updated when the entries they were copied from go
 * away, so after a deletion the child whose range holds a key need not hold
 * any entry at or below it; the search therefore falls back to the nearest
 * subtree on the left instead of answering "none".
 *
 * Callers: the compiled-code table of the debugger support
 * (source_positions.cpp) and the unit tests.
 */
#include "btree.h"

#include <cstring>

#include "memman.h"

namespace {

constexpr std::uint32_t KEY_MAX = 0xFFFFFFFFu;

btree *new_node(bool leaf)
{
  btree *b = static_cast<btree *>(checkalloc(BTREE_NODE_BYTES, mm_code(MM_BIN_BTREE)));
  std::memset(static_cast<void *>(b), 0, BTREE_NODE_BYTES);
  b->flags = leaf ? BTREE_LEAF : 0;
  return b;
}

void free_node(btree *b) { checkdealloc(b, BTREE_NODE_BYTES, mm_code(MM_BIN_BTREE)); }

void free_tree(btree *b)
{
  if (!btree_is_leaf(b))
    for (int i = 0; i <= b->keynum; ++i)
      free_tree(b->data.n.ptr[i]);
  free_node(b);
}

/* The number of keys not above k: the position after the last equal key. */
int upper_bound(const std::uint32_t *keys, int n, std::uint32_t k)
{
  int lo = 0, hi = n;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (keys[mid] <= k)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

/* The number of keys below k. */
int lower_bound(const std::uint32_t *keys, int n, std::uint32_t k)
{
  int lo = 0, hi = n;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (keys[mid] < k)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

void set_uflow(btree *b, bool on)
{
  b->flags = static_cast<std::uint8_t>(on ? (b->flags | BTREE_UFLOW) : (b->flags & ~BTREE_UFLOW));
}

void leaf_put(btree *b, int p, std::uint32_t key, TAGGED value)
{
  int n = b->keynum;
  std::memmove(&b->data.l.key[p + 1], &b->data.l.key[p], (n - p) * sizeof(std::uint32_t));
  std::memmove(&b->data.l.val[p + 1], &b->data.l.val[p], (n - p) * sizeof(TAGGED));
  b->data.l.key[p] = key;
  b->data.l.val[p] = value;
  b->keynum = n + 1;
}

/* Inserts below b.  When b had to split, returns the new right sibling and
   stores in *sep the separator that goes up; else returns null. */
btree *insert_below(btree *b, std::uint32_t key, TAGGED value, std::uint32_t *sep)
{
  if (btree_is_leaf(b)) {
    int p = upper_bound(b->data.l.key, b->keynum, key);
    if (b->keynum < BTREE_LEAF_KEYS) {
      leaf_put(b, p, key, value);
      return nullptr;
    }
    /* Both halves end with 16 entries: the new one joins the side its
       position falls on. */
    bool goes_left = p <= 15;
    int keep = goes_left ? 15 : 16;
    int move = BTREE_LEAF_KEYS - keep;
    btree *r = new_node(true);
    std::memcpy(r->data.l.key, &b->data.l.key[keep], move * sizeof(std::uint32_t));
    std::memcpy(r->data.l.val, &b->data.l.val[keep], move * sizeof(TAGGED));
    r->keynum = move;
    b->keynum = keep;
    if (goes_left)
      leaf_put(b, p, key, value);
    else
      leaf_put(r, p - keep, key, value);
    *sep = r->data.l.key[0];
    return r;
  }

  int i = upper_bound(b->data.n.key, b->keynum, key);
  std::uint32_t child_sep;
  btree *c = insert_below(b->data.n.ptr[i], key, value, &child_sep);
  if (c == nullptr)
    return nullptr;
  int n = b->keynum;
  if (n < BTREE_INNER_KEYS) {
    std::memmove(&b->data.n.key[i + 1], &b->data.n.key[i], (n - i) * sizeof(std::uint32_t));
    std::memmove(&b->data.n.ptr[i + 2], &b->data.n.ptr[i + 1], (n - i) * sizeof(btree *));
    b->data.n.key[i] = child_sep;
    b->data.n.ptr[i + 1] = c;
    b->keynum = n + 1;
    return nullptr;
  }

  /* Full: lay the 31 separators and 32 children out in order, then cut
     around a middle separator so that the new one stays on its side (15 and
     14 old separators, the new one added to the side it belongs to). */
  std::uint32_t keys[BTREE_INNER_KEYS + 1];
  btree *ptrs[BTREE_INNER_KEYS + 2];
  std::memcpy(keys, b->data.n.key, i * sizeof(std::uint32_t));
  keys[i] = child_sep;
  std::memcpy(&keys[i + 1], &b->data.n.key[i], (n - i) * sizeof(std::uint32_t));
  std::memcpy(ptrs, b->data.n.ptr, (i + 1) * sizeof(btree *));
  ptrs[i + 1] = c;
  std::memcpy(&ptrs[i + 2], &b->data.n.ptr[i + 1], (n - i) * sizeof(btree *));
  int m = i <= 15 ? 16 : 15;
  btree *r = new_node(false);
  std::memcpy(b->data.n.key, keys, m * sizeof(std::uint32_t));
  std::memcpy(b->data.n.ptr, ptrs, (m + 1) * sizeof(btree *));
  b->keynum = m;
  int rn = BTREE_INNER_KEYS - m;
  std::memcpy(r->data.n.key, &keys[m + 1], rn * sizeof(std::uint32_t));
  std::memcpy(r->data.n.ptr, &ptrs[m + 1], (rn + 1) * sizeof(btree *));
  r->keynum = rn;
  *sep = keys[m];
  return r;
}

struct found {
  btree *leaf;
  int index;
};

/* The entry with the greatest key not above `key` in the subtree.  Every key
   of a child left of the one whose range holds `key` is below `key`, so the
   first non-empty answer while stepping left is the right one. */
found search_below(btree *b, std::uint32_t key)
{
  if (btree_is_leaf(b)) {
    int p = upper_bound(b->data.l.key, b->keynum, key);
    return {p > 0 ? b : nullptr, p - 1};
  }
  for (int j = upper_bound(b->data.n.key, b->keynum, key); j >= 0; --j) {
    found f = search_below(b->data.n.ptr[j], key);
    if (f.leaf != nullptr)
      return f;
  }
  return {nullptr, 0};
}

/* ---- Deletion ---- */

/* Removes child `at` and the separator `sep_at` from inner node b. */
void remove_child(btree *b, int at, int sep_at)
{
  int n = b->keynum;
  std::memmove(&b->data.n.key[sep_at], &b->data.n.key[sep_at + 1], (n - 1 - sep_at) * sizeof(std::uint32_t));
  std::memmove(&b->data.n.ptr[at], &b->data.n.ptr[at + 1], (n - at) * sizeof(btree *));
  b->keynum = n - 1;
}

/* Joins child l + 1 into child l (the separator between them comes down
   into an inner node). */
void join(btree *b, int l)
{
  btree *L = b->data.n.ptr[l], *R = b->data.n.ptr[l + 1];
  int a = L->keynum, c = R->keynum;
  if (btree_is_leaf(L)) {
    std::memcpy(&L->data.l.key[a], R->data.l.key, c * sizeof(std::uint32_t));
    std::memcpy(&L->data.l.val[a], R->data.l.val, c * sizeof(TAGGED));
    L->keynum = a + c;
    set_uflow(L, L->keynum <= BTREE_UNDERFULL);
  } else {
    L->data.n.key[a] = b->data.n.key[l];
    std::memcpy(&L->data.n.key[a + 1], R->data.n.key, c * sizeof(std::uint32_t));
    std::memcpy(&L->data.n.ptr[a + 1], R->data.n.ptr, (c + 1) * sizeof(btree *));
    L->keynum = a + c + 1;
    set_uflow(L, L->keynum < BTREE_INNER_KEYS);
  }
  free_node(R);
  remove_child(b, l + 1, l);
}

/* Moves half the difference of the key counts of children l and l + 1 from
   the fuller to the emptier one. */
void balance(btree *b, int l)
{
  btree *L = b->data.n.ptr[l], *R = b->data.n.ptr[l + 1];
  int a = L->keynum, c = R->keynum;
  int m = (a > c ? a - c : c - a) / 2;
  if (m > 0) {
    if (btree_is_leaf(L)) {
      if (a < c) {
        std::memcpy(&L->data.l.key[a], R->data.l.key, m * sizeof(std::uint32_t));
        std::memcpy(&L->data.l.val[a], R->data.l.val, m * sizeof(TAGGED));
        std::memmove(R->data.l.key, &R->data.l.key[m], (c - m) * sizeof(std::uint32_t));
        std::memmove(R->data.l.val, &R->data.l.val[m], (c - m) * sizeof(TAGGED));
        L->keynum = a + m;
        R->keynum = c - m;
      } else {
        std::memmove(&R->data.l.key[m], R->data.l.key, c * sizeof(std::uint32_t));
        std::memmove(&R->data.l.val[m], R->data.l.val, c * sizeof(TAGGED));
        std::memcpy(R->data.l.key, &L->data.l.key[a - m], m * sizeof(std::uint32_t));
        std::memcpy(R->data.l.val, &L->data.l.val[a - m], m * sizeof(TAGGED));
        L->keynum = a - m;
        R->keynum = c + m;
      }
      b->data.n.key[l] = R->data.l.key[0];
    } else if (a < c) {
      /* Rotate left through the separator: it comes down after L's keys,
         R's m - 1 first keys follow, R's key m - 1 goes up. */
      L->data.n.key[a] = b->data.n.key[l];
      std::memcpy(&L->data.n.key[a + 1], R->data.n.key, (m - 1) * sizeof(std::uint32_t));
      std::memcpy(&L->data.n.ptr[a + 1], R->data.n.ptr, m * sizeof(btree *));
      b->data.n.key[l] = R->data.n.key[m - 1];
      std::memmove(R->data.n.key, &R->data.n.key[m], (c - m) * sizeof(std::uint32_t));
      std::memmove(R->data.n.ptr, &R->data.n.ptr[m], (c + 1 - m) * sizeof(btree *));
      L->keynum = a + m;
      R->keynum = c - m;
    } else {
      std::memmove(&R->data.n.key[m], R->data.n.key, c * sizeof(std::uint32_t));
      std::memmove(&R->data.n.ptr[m], R->data.n.ptr, (c + 1) * sizeof(btree *));
      R->data.n.key[m - 1] = b->data.n.key[l];
      std::memcpy(R->data.n.key, &L->data.n.key[a - m + 1], (m - 1) * sizeof(std::uint32_t));
      std::memcpy(R->data.n.ptr, &L->data.n.ptr[a - m + 1], m * sizeof(btree *));
      b->data.n.key[l] = L->data.n.key[a - m];
      L->keynum = a - m;
      R->keynum = c + m;
    }
  }
  set_uflow(L, false);
  set_uflow(R, false);
}

bool fit_together(const btree *L, const btree *R)
{
  if (btree_is_leaf(L))
    return L->keynum + R->keynum <= BTREE_LEAF_KEYS;
  return L->keynum + R->keynum < BTREE_INNER_KEYS;
}

/* Joins or balances every underfull child of b with its left neighbour,
   the first child with its right one. */
void repair(btree *b)
{
  int i = 0;
  while (i <= b->keynum) {
    if (b->keynum == 0 || (b->data.n.ptr[i]->flags & BTREE_UFLOW) == 0) {
      ++i;
      continue;
    }
    int l = i > 0 ? i - 1 : 0;
    if (fit_together(b->data.n.ptr[l], b->data.n.ptr[l + 1])) {
      join(b, l);
      i = l + 1;
    } else {
      balance(b, l);
      i = l + 2;
    }
  }
}

/* Deletes [lo, hi] from the subtree b, whose keys all lie in [lb, ub];
   returns b, or null when it became empty and was freed. */
btree *delete_below(btree *b, std::uint32_t lo, std::uint32_t hi, std::uint32_t lb, std::uint32_t ub)
{
  if (btree_is_leaf(b)) {
    int n = b->keynum;
    int p = lower_bound(b->data.l.key, n, lo);
    int q = upper_bound(b->data.l.key, n, hi);
    if (q > p) {
      std::memmove(&b->data.l.key[p], &b->data.l.key[q], (n - q) * sizeof(std::uint32_t));
      std::memmove(&b->data.l.val[p], &b->data.l.val[q], (n - q) * sizeof(TAGGED));
      b->keynum = n - (q - p);
    }
    if (b->keynum == 0) {
      free_node(b);
      return nullptr;
    }
    set_uflow(b, b->keynum <= BTREE_UNDERFULL);
    return b;
  }

  int n = b->keynum;
  for (int i = 0; i <= n; ++i) {
    std::uint32_t cl = i > 0 ? b->data.n.key[i - 1] : lb;
    std::uint32_t cu = i < n ? b->data.n.key[i] : ub;
    if (lo <= cl && cu <= hi) {
      free_tree(b->data.n.ptr[i]);
      b->data.n.ptr[i] = nullptr;
    } else if (cl <= hi && lo <= cu) {
      b->data.n.ptr[i] = delete_below(b->data.n.ptr[i], lo, hi, cl, cu);
    }
  }

  /* Drop the emptied children; a kept child keeps the separator on its
     left, which only widens the ranges of its neighbours. */
  int kept = 0;
  for (int i = 0; i <= n; ++i) {
    if (b->data.n.ptr[i] == nullptr)
      continue;
    if (kept > 0)
      b->data.n.key[kept - 1] = b->data.n.key[i - 1];
    b->data.n.ptr[kept++] = b->data.n.ptr[i];
  }
  if (kept == 0) {
    free_node(b);
    return nullptr;
  }
  b->keynum = kept - 1;
  repair(b);
  set_uflow(b, b->keynum <= BTREE_UNDERFULL);
  return b;
}

} // namespace

void btree_insert(btree **handle, std::uint32_t key, TAGGED value)
{
  btree *root = *handle;
  if (root == nullptr) {
    root = new_node(true);
    *handle = root;
  }
  std::uint32_t sep;
  btree *r = insert_below(root, key, value, &sep);
  if (r != nullptr) {
    btree *top = new_node(false);
    top->keynum = 1;
    top->data.n.key[0] = sep;
    top->data.n.ptr[0] = root;
    top->data.n.ptr[1] = r;
    *handle = top;
  }
}

TAGGED *btree_search(btree *const *handle, std::uint32_t key, std::uint32_t distance)
{
  if (*handle == nullptr)
    return nullptr;
  found f = search_below(*handle, key);
  if (f.leaf == nullptr || key - f.leaf->data.l.key[f.index] > distance)
    return nullptr;
  return &f.leaf->data.l.val[f.index];
}

void btree_delete(btree **handle, std::uint32_t key1, std::uint32_t key2)
{
  if (*handle == nullptr)
    return;
  std::uint32_t lo = key1 < key2 ? key1 : key2;
  std::uint32_t hi = key1 < key2 ? key2 : key1;
  btree *root = delete_below(*handle, lo, hi, 0, KEY_MAX);
  while (root != nullptr && !btree_is_leaf(root) && root->keynum == 0) {
    btree *only = root->data.n.ptr[0];
    free_node(root);
    root = only;
  }
  *handle = root;
}

void btree_free(btree **handle)
{
  if (*handle != nullptr)
    free_tree(*handle);
  *handle = nullptr;
}
