/* initial_atoms.cpp: the texts of the predefined atoms, in index order,
 * read by start-up (init_atoms_once) from the list in initial_atoms.h. */
#include "initial_atoms.h"

const char *const initial_atoms[first_unused_atom_number] = {
#define VR_ATOM_TEXT(name, text) text,
  VR_INITIAL_ATOMS(VR_ATOM_TEXT)
#undef VR_ATOM_TEXT
};
