/* path_suffix.cpp: the suffix of a path's file name, as the path splitter
 * sees it: the root ("/" at the start) is never part of the file name; the
 * file name is what follows the last "/"; the suffix runs from its last dot
 * to the end, so a name that starts with its only dot (".profile") is all
 * suffix.  Used by $replace_suffix. */
#include <cstring>

#include "support.h"

const char *vr_path_suffix(const char *path)
{
  const char *name = path + (path[0] == '/' ? 1 : 0);
  if (const char *slash = std::strrchr(name, '/'))
    name = slash + 1;
  return std::strrchr(name, '.');
}
