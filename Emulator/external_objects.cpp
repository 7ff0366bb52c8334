/* external_objects.cpp: the registry of external objects (see
 * external_objects.h).
 */
#include "external_objects.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fli.h"
#include "initial_atoms.h"
#include "termdefs.h"

namespace {

VR_external_object_type types = nullptr;
VR_external_object_link *registry = nullptr;

void default_finalizer(void *, void *) {}

int default_putter(VR_term_ref t, VR_external_object_link *link)
{
  return VR_external_object_default_putter_helper(t, link, MakeAtom(atom_Dexternal_object_enum));
}

/* "$ptr " and at most 8 letters: 14 bytes with the NUL. */
constexpr std::size_t NAME_SIZE = 14;

bool link_name(const VR_external_object_link *link, char (&buf)[NAME_SIZE])
{
  std::memcpy(buf, "$ptr ", 5);
  std::size_t n = 5;
  for (std::uintptr_t a = reinterpret_cast<std::uintptr_t>(link); a != 0; a >>= 4) {
    if (n + 1 >= NAME_SIZE)
      return false;
    buf[n++] = static_cast<char>('A' + (a & 15));
  }
  buf[n] = '\0';
  return true;
}

std::uintptr_t address_of_name(const char *text)
{
  if (std::strncmp(text, "$ptr ", 5) != 0)
    return 0;
  const char *digits = text + 5;
  std::size_t n = std::strlen(digits);
  std::uintptr_t a = 0;
  for (std::size_t i = n; i-- > 0;) {
    if (digits[i] < 'A' || digits[i] > 'P')
      return 0;
    a = (a << 4) | static_cast<std::uintptr_t>(digits[i] - 'A');
  }
  return a;
}

/* Takes the link out of the list; true when it was there. */
bool take_out(VR_external_object_link *link)
{
  for (VR_external_object_link **p = &registry; *p != nullptr; p = &(*p)->next) {
    if (*p == link) {
      *p = link->next;
      link->next = nullptr;
      return true;
    }
  }
  return false;
}

} // namespace

VR_external_object_type VR_register_external_object_type(VR_external_object_finalizer *finalizer,
                                                         VR_external_object_putter *putter,
                                                         void *type_data)
{
  auto *t = static_cast<VR_external_object_info_ *>(std::malloc(sizeof(VR_external_object_info_)));
  if (t == nullptr)
    return nullptr;
  t->finalizer = finalizer != nullptr ? finalizer : default_finalizer;
  t->putter = putter != nullptr ? putter : default_putter;
  t->type_data = type_data;
  t->next = types;
  types = t;
  return t;
}

VR_external_object_link *VR_register_external_object(void *data, VR_external_object_type type)
{
  auto *l = static_cast<VR_external_object_link *>(std::malloc(sizeof(VR_external_object_link)));
  if (l == nullptr)
    return nullptr;
  l->data = data;
  l->object_type = type;
  l->next = registry;
  registry = l;
  return l;
}

int VR_put_external_object(VR_term_ref t, VR_external_object_link *link)
{
  if (link == nullptr)
    return 0;
  return link->object_type->putter(t, link);
}

int VR_external_object_default_putter_helper(VR_term_ref t, VR_external_object_link *link,
                                             VR_atom name)
{
  char buf[NAME_SIZE];
  if (link == nullptr || !link_name(link, buf))
    return 0;
  const VR_term_ref mark = VR_new_term_refs(0);
  const VR_term_ref arg = VR_new_term_ref();
  int ok = VR_put_atom(arg, VR_atom_from_string(buf)) && VR_cons_functor(t, name, 1, arg);
  VR_reset_term_refs(mark);
  return ok;
}

int VR_get_external_object(VR_term_ref t, VR_external_object_link **plink)
{
  const VR_term_ref mark = VR_new_term_refs(0);
  const VR_term_ref arg = VR_new_term_ref();
  VR_atom a;
  std::uintptr_t address = 0;
  if (VR_is_compound(t) && VR_get_arg(1, t, arg) && VR_get_atom(arg, &a))
    address = address_of_name(VR_string_from_atom(a));
  VR_reset_term_refs(mark);
  if (address == 0)
    return 0;
  auto *link = reinterpret_cast<VR_external_object_link *>(address);
  if (!take_out(link))
    return 0;
  link->next = registry;
  registry = link;
  *plink = link;
  return 1;
}

void *VR_get_external_object_data(VR_external_object_link *link) { return link->data; }

VR_external_object_type VR_get_external_object_type(VR_external_object_link *link)
{
  return link->object_type;
}

void VR_unlink_external_object(VR_external_object_link *link, int finalize)
{
  if (!take_out(link) || !finalize)
    return;
  VR_external_object_type type = link->object_type;
  type->finalizer(link->data, type->type_data);
  std::memset(link, 0, sizeof *link);
  std::free(link);
}

void VR_free_external_object_link(VR_external_object_link *link) { std::free(link); }
