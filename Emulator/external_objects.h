/* external_objects.h: native objects that Prolog terms refer to.
 *
 * A registry of links (the object's data and its type), newest first; a
 * look-up that finds a link moves it to the front.  A link is named by
 * the atom "$ptr " followed by its address in hexadecimal digits, least
 * significant first, spelled with the letters A to P; an object's type
 * decides the term it is put into (by default `$external_object(Name)`).
 * Types live for the whole process.  Engine thread only: nothing locks.
 *
 * Used by the process built-ins.  The interface's slots for these
 * functions wait for the foreign-resource issue, which also makes the
 * collection of objects whose name atom is gone.
 */
#ifndef VOSTREL_EXTERNAL_OBJECTS_H
#define VOSTREL_EXTERNAL_OBJECTS_H

#include "vostrel/vostrel.h"

struct VR_external_object_link_;
typedef void VR_external_object_finalizer(void *data, void *type_data);
typedef int VR_external_object_putter(VR_term_ref t, struct VR_external_object_link_ *link);

struct VR_external_object_info_ {
  VR_external_object_finalizer *finalizer;
  VR_external_object_putter *putter;
  void *type_data;
  VR_external_object_info_ *next;
};
typedef VR_external_object_info_ *VR_external_object_type;

struct VR_external_object_link_ {
  void *data;
  VR_external_object_type object_type;
  VR_external_object_link_ *next;
};
typedef VR_external_object_link_ VR_external_object_link;

/* Null finalizer or putter: the defaults (nothing; `$external_object`). */
VR_external_object_type VR_register_external_object_type(VR_external_object_finalizer *finalizer,
                                                         VR_external_object_putter *putter,
                                                         void *type_data);
VR_external_object_link *VR_register_external_object(void *data, VR_external_object_type type);
/* The type's putter; 0 for a null link. */
int VR_put_external_object(VR_term_ref t, VR_external_object_link *link);
/* Name(LinkAtom). */
int VR_external_object_default_putter_helper(VR_term_ref t, VR_external_object_link *link,
                                             VR_atom name);
/* The link named by the term's first argument: 1 and the link, else 0. */
int VR_get_external_object(VR_term_ref t, VR_external_object_link **plink);
void *VR_get_external_object_data(VR_external_object_link *link);
VR_external_object_type VR_get_external_object_type(VR_external_object_link *link);
/* Out of the registry; finalized (and freed) when found and finalize is
   set, else handed back to the caller, who frees it with
   VR_free_external_object_link. */
void VR_unlink_external_object(VR_external_object_link *link, int finalize);
void VR_free_external_object_link(VR_external_object_link *link);

#endif
