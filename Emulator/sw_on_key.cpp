/* sw_on_key.cpp: the open-addressing hash table behind every keyed look-up
 * of the database (see sw_on_key.h for the layout and its invariants).
 *
 * The probe sequence must match the emulator's inline probe at predicate
 * entry exactly: home slot at key & mask, then steps of 0x5555555D, +8 per
 * probe, all in bytes and masked.  Because the mask clears the low three
 * bits, only the step's multiple of 8 matters.  Callers: modules and
 * predicates (module tables), the blackboard, dynamic clauses, database
 * references and first-argument indexing (indexing.cpp).
 */
#include "sw_on_key.h"

#include "memman.h"

namespace {

sw_on_key *alloc_table(std::uint32_t slots)
{
  return static_cast<sw_on_key *>(checkalloc(sw_on_key_bytes(slots), mm_code(MM_BIN_SW_ON_KEY)));
}

} // namespace

int power_of_two(int n)
{
  if (n <= 0)
    return 0;
  int p = 1;
  while (p < n)
    p <<= 1;
  return p;
}

sw_on_key *new_switch_on_key(int size, void *otherwise)
{
  const std::uint32_t slots = size < 2 ? 2u : static_cast<std::uint32_t>(power_of_two(size));
  sw_on_key *sw = alloc_table(slots);
  sw->mask = 8 * (slots - 1);
  sw->count = 0;
  for (std::uint32_t i = 0; i < slots; i++) {
    sw->tab[i].key = 0;
    sw->tab[i].value.any = otherwise;
  }
  return sw;
}

void dispose_switch_on_key(sw_on_key *sw)
{
  if (sw != nullptr)
    checkdealloc(sw, sw_on_key_bytes(sw_slots(sw)), mm_code(MM_BIN_SW_ON_KEY));
}

sw_on_key_node *incore_gethash(sw_on_key *sw, TAGGED key)
{
  std::uint32_t offset = key & sw->mask;
  sw_on_key_node *n = sw_slot_at(sw, offset);
  if (n->key == key || n->key == 0)
    return n;
  for (std::uint32_t step = SW_PROBE_STEP;; step += 8) {
    offset = (offset + step) & sw->mask;
    n = sw_slot_at(sw, offset);
    if (n->key == key || n->key == 0)
      return n;
  }
}

sw_on_key_node *safe_incore_gethash(sw_on_key *sw, TAGGED key)
{
  const std::uint32_t slots = sw_slots(sw);
  if (static_cast<std::uint32_t>(sw->count) < slots)
    return incore_gethash(sw, key);
  /* Full: the probe would not find an empty slot to stop at. */
  sw_on_key_node *lowest_free = nullptr;
  for (std::uint32_t i = slots; i-- > 0;) {
    if (sw->tab[i].key == key)
      return &sw->tab[i];
    if (sw->tab[i].value.any == nullptr)
      lowest_free = &sw->tab[i];
  }
  return lowest_free;
}

bool expansion_due(const sw_on_key *sw)
{
  const std::int32_t slots = static_cast<std::int32_t>(sw_slots(sw));
  const std::int32_t limit = slots == 2 ? 1 : slots - slots / 4;
  return sw->count > limit;
}

int population_table_size(int pop)
{
  int size = 4;
  while (size - size / 4 < pop)
    size <<= 1;
  return size;
}

sw_on_key_node *expand_sw_on_key(sw_on_key **psw, void *otherwise, sw_on_key_node *precious)
{
  sw_on_key *old = *psw;
  const std::uint32_t slots = sw_slots(old);
  auto live = [precious](const sw_on_key_node &n) {
    return n.key != 0 && (n.value.any != nullptr || &n == precious);
  };
  int pop = 0;
  for (std::uint32_t i = 0; i < slots; i++)
    if (live(old->tab[i]))
      pop++;
  sw_on_key *sw = new_switch_on_key(population_table_size(pop), otherwise);
  sw_on_key_node *moved = nullptr;
  for (std::uint32_t i = slots; i-- > 0;) {
    const sw_on_key_node &n = old->tab[i];
    if (!live(n))
      continue;
    sw_on_key_node *to = incore_gethash(sw, n.key);
    to->key = n.key;
    to->value = n.value;
    if (&n == precious)
      moved = to;
  }
  sw->count = pop;
  dispose_switch_on_key(old);
  *psw = sw;
  return moved;
}

sw_on_key_node *dyn_puthash(sw_on_key **swp, TAGGED key)
{
  sw_on_key_node *n = incore_gethash(*swp, key);
  if (n->key == key)
    return n;
  n->key = key;
  (*swp)->count++;
  if (expansion_due(*swp))
    n = expand_sw_on_key(swp, nullptr, n);
  return n;
}
