/* vrio_errors.cpp: names of the library's result codes and the translation
 * of operating-system error numbers.
 *
 * Both functions are pure table look-ups over constant data: they take no
 * lock, never fail, and any thread may call them.  The names come from the
 * one code list in vrio_errors.h.
 */
#include "vostrel/vrio_errors.h"

#include <cerrno>
#include <cstddef>

namespace {

struct code_name {
  vrio_t_error_code code;
  const char *name;
};

#define VRIO_COUNT_(name, value, given) +1
constexpr std::size_t all_names = 0 VRIO_ERROR_CODES(VRIO_COUNT_);
#undef VRIO_COUNT_
static_assert(all_names == 106, "the code list has 106 names");

/* Only the names that vrio_error_name gives, one per value. */
#define VRIO_GIVEN_COUNT_(name, value, given) +(given)
constexpr std::size_t given_names = 0 VRIO_ERROR_CODES(VRIO_GIVEN_COUNT_);
#undef VRIO_GIVEN_COUNT_

constexpr auto make_given_table()
{
  struct table { code_name row[given_names]; } t{};
  std::size_t n = 0;
#define VRIO_GIVEN_ROW_(name_, value, given) \
  if (given) t.row[n++] = code_name{name_, #name_};
  VRIO_ERROR_CODES(VRIO_GIVEN_ROW_)
#undef VRIO_GIVEN_ROW_
  return t;
}
constexpr auto given_table = make_given_table();

/* Every value has exactly one given name. */
constexpr bool given_names_unique()
{
  for (std::size_t i = 0; i < given_names; ++i)
    for (std::size_t j = i + 1; j < given_names; ++j)
      if (given_table.row[i].code == given_table.row[j].code)
        return false;
  return true;
}
static_assert(given_names_unique(), "two names marked given for one value");

/* Linux i386 error numbers with a code of their own; the rest take the
   caller's default.  EINTR is an internal error: the library's interrupts
   are its own events and never arrive as EINTR. */
struct errno_row {
  int errno_value;
  vrio_t_error_code code;
};
constexpr errno_row errno_table[] = {
  {EPERM, VRIO_E_PERMISSION_ERROR},       {EACCES, VRIO_E_PERMISSION_ERROR},
  {ENOTDIR, VRIO_E_PERMISSION_ERROR},     {EISDIR, VRIO_E_PERMISSION_ERROR},
  {EINVAL, VRIO_E_PERMISSION_ERROR},      {ENOTTY, VRIO_E_PERMISSION_ERROR},
  {ETXTBSY, VRIO_E_PERMISSION_ERROR},     {EROFS, VRIO_E_PERMISSION_ERROR},
  {EMLINK, VRIO_E_PERMISSION_ERROR},
  {ENOENT, VRIO_E_FILE_NOT_FOUND},        {ENXIO, VRIO_E_FILE_NOT_FOUND},
  {EBADF, VRIO_E_FILE_NOT_FOUND},
  {EINTR, VRIO_E_INTERNAL_ERROR},
  {EIO, VRIO_E_IO_ERROR},
  {EAGAIN, VRIO_E_WOULD_BLOCK},
  {EEXIST, VRIO_E_FILE_EXISTS},
  {EMFILE, VRIO_E_TOO_MANY_OPEN_FILES},
  {ENOSPC, VRIO_E_NOSPACE},
  {EPIPE, VRIO_E_NET_CONNRESET},          {ECONNRESET, VRIO_E_NET_CONNRESET},
  {ENOTCONN, VRIO_E_NET_CONNRESET},
  {ENAMETOOLONG, VRIO_E_INVALID_NAME},    {ELOOP, VRIO_E_INVALID_NAME},
  {ENOTEMPTY, VRIO_E_DIR_NOT_EMPTY},
  {EADDRINUSE, VRIO_E_NET_ADDRINUSE},
  {ETIMEDOUT, VRIO_E_NET_TIMEDOUT},
  {ECONNREFUSED, VRIO_E_NET_CONNREFUSED},
  {EINPROGRESS, VRIO_E_INPROGRESS},
};
/* The numbers are the platform's; the table was drawn up for these. */
static_assert(EPERM == 1 && ENOENT == 2 && EINTR == 4 && EIO == 5 && ENXIO == 6 && EBADF == 9 &&
              EAGAIN == 11 && EACCES == 13 && EEXIST == 17 && ENOTDIR == 20 && EISDIR == 21 &&
              EINVAL == 22 && EMFILE == 24 && ENOTTY == 25 && ETXTBSY == 26 && ENOSPC == 28 &&
              EROFS == 30 && EMLINK == 31 && EPIPE == 32 && ENAMETOOLONG == 36 &&
              ENOTEMPTY == 39 && ELOOP == 40 && EADDRINUSE == 98 && ECONNRESET == 104 &&
              ENOTCONN == 107 && ETIMEDOUT == 110 && ECONNREFUSED == 111 && EINPROGRESS == 115,
              "Linux error numbers");

} // namespace

extern "C" const char *vrio_error_name(vrio_t_error_code code)
{
  for (const code_name &row : given_table.row)
    if (row.code == code)
      return row.name;
  return code < 0 ? "(unknown VRIO error)" : "(unknown VRIO success)";
}

extern "C" vrio_t_error_code vrio_map_unix_error(int errno_value, vrio_t_error_code default_code)
{
  for (const errno_row &row : errno_table)
    if (row.errno_value == errno_value)
      return row.code;
  return default_code;
}
