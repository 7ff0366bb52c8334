// Result codes of the I/O services library: the public values, the names
// vrio_error_name gives, and the translation of operating-system errors.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <set>
#include <string>

#include "vostrel/vrio_errors.h"

namespace {

struct value_case {
  int value;     // as the enumerator says
  int expected;  // as published
  const char *enumerator;
};
#define CASE(name, v) {name, v, #name}
// Written out independently of the header's list, so that a wrong value or
// a lost name there shows up here.
const value_case all_values[] = {
  CASE(VRIO_S_NOERR, 0), CASE(VRIO_E_NOERR, 0), CASE(VRIO_S_FALSE, 0),
  CASE(VRIO_S_TRUE, 1), CASE(VRIO_S_OPERATION_FAILED, 1), CASE(VRIO_S_DEALLOCATED, 2),
  CASE(VRIO_S_NOT_SUPPORTED, 3), CASE(VRIO_S_DONE, 4), CASE(VRIO_S_SUPPRESSED_INTERRUPT, 5),
  CASE(VRIO_S_PRIVATE_ERROR_0, 30000), CASE(VRIO_S_PRIVATE_ERROR_1, 30001),
  CASE(VRIO_S_PRIVATE_ERROR_2, 30002), CASE(VRIO_S_PRIVATE_ERROR_3, 30003),
  CASE(VRIO_S_PRIVATE_ERROR_4, 30004), CASE(VRIO_S_PRIVATE_ERROR_5, 30005),
  CASE(VRIO_S_PRIVATE_ERROR_6, 30006), CASE(VRIO_E_END_OF_FILE, -1),
  CASE(VRIO_E_ERROR, -10001), CASE(VRIO_E_OUT_OF_MEMORY, -10003),
  CASE(VRIO_E_INSUFFICIENT_BUFFER, -10003), CASE(VRIO_E_PARAMETER_ERROR, -10004),
  CASE(VRIO_E_VERSION_ERROR, -10005), CASE(VRIO_E_NOT_IMPLEMENTED, -10006),
  CASE(VRIO_E_NOT_SUPPORTED, -10007), CASE(VRIO_E_NOT_FOUND, -10008),
  CASE(VRIO_E_FOUND, -10009), CASE(VRIO_E_NOT_READ, -10010), CASE(VRIO_E_NOT_WRITE, -10011),
  CASE(VRIO_E_NOT_OPEN_READ, -10012), CASE(VRIO_E_NOT_OPEN_WRITE, -10013),
  CASE(VRIO_E_INTERRUPTED, -10014), CASE(VRIO_E_IMPOSSIBLE_ERROR, -10015),
  CASE(VRIO_E_INTERNAL_ERROR, -10016), CASE(VRIO_E_OS_ERROR, -10017),
  CASE(VRIO_E_TIMEOUT, -10018), CASE(VRIO_E_WOULD_BLOCK, -10019),
  CASE(VRIO_E_TRY_AGAIN, -10019), CASE(VRIO_E_PERMISSION_ERROR, -10020),
  CASE(VRIO_E_NO_MORE_ENTRIES, -10021), CASE(VRIO_E_IO_ERROR, -10022),
  CASE(VRIO_E_INVALID_STATE, -10023), CASE(VRIO_E_SHUTDOWN, -10024),
  CASE(VRIO_E_LAYER_, -10100), CASE(VRIO_E_OPEN_ERROR, -10101), CASE(VRIO_E_READ_ERROR, -10102),
  CASE(VRIO_E_WRITE_ERROR, -10103), CASE(VRIO_E_SEEK_ERROR, -10104),
  CASE(VRIO_E_CLOSE_ERROR, -10105), CASE(VRIO_E_SYNC_ERROR, -10106),
  CASE(VRIO_E_PUSH_ERROR, -10107), CASE(VRIO_E_TOO_MANY_OPEN_FILES, -10108),
  CASE(VRIO_E_CHAR_CODER_, -10200), CASE(VRIO_E_GRANULARITY_ERROR, -10201),
  CASE(VRIO_E_NOT_ENOUGH_DATA, -10202), CASE(VRIO_E_SYNTAX_ERROR, -10203),
  CASE(VRIO_E_ENCODING_ERROR_, -10203), CASE(VRIO_E_ENCODING_UNMAPPABLE, -10204),
  CASE(VRIO_E_ENCODING_UNASSIGNED, -10204), CASE(VRIO_E_ENCODING_INVALID, -10205),
  CASE(VRIO_E_CHARSET_NOT_FOUND, -10206), CASE(VRIO_E_THREAD_, -10300),
  CASE(VRIO_E_THREAD_ERROR, -10301), CASE(VRIO_E_THREAD_RUNNING, -10302),
  CASE(VRIO_E_AIO_, -10400), CASE(VRIO_E_AIO_ERROR, -10401), CASE(VRIO_E_ASYNC_ERROR, -10401),
  CASE(VRIO_E_AIO_INPROGRESS, -10402), CASE(VRIO_E_ASYNC_INPROGRESS, -10402),
  CASE(VRIO_E_INPROGRESS, -10402), CASE(VRIO_E_CANCELED, -10403),
  CASE(VRIO_E_AIO_CANCELED, -10403), CASE(VRIO_E_AIO_EROFS, -10404),
  CASE(VRIO_E_AIO_EINVAL, -10405), CASE(VRIO_E_FILE_, -10500),
  CASE(VRIO_E_FILE_NOT_FOUND, -10501), CASE(VRIO_E_FILE_ACCESS, -10502),
  CASE(VRIO_E_NET_ACCESS, -10502), CASE(VRIO_E_FILE_IS_DIRECTORY, -10503),
  CASE(VRIO_E_FILE_NOT_DIRECTORY, -10504), CASE(VRIO_E_FILE_NOT_ABSOLUTE, -10505),
  CASE(VRIO_E_FILE_EXISTS, -10506), CASE(VRIO_E_DIR_NOT_EMPTY, -10507),
  CASE(VRIO_E_INVALID_NAME, -10508), CASE(VRIO_E_NOSPACE, -10509), CASE(VRIO_E_NET_, -10600),
  CASE(VRIO_E_NET_ERROR, -10600), CASE(VRIO_E_NET_CONNREFUSED, -10601),
  CASE(VRIO_E_NET_ADDRINUSE, -10602), CASE(VRIO_E_NET_CONNRESET, -10603),
  CASE(VRIO_E_NET_TIMEDOUT, -10604), CASE(VRIO_E_NET_HOST_NOT_FOUND, -10605),
  CASE(VRIO_E_MISC_ERROR_0, -20000), CASE(VRIO_E_MISC_ERROR_1, -20001),
  CASE(VRIO_E_MISC_ERROR_2, -20002), CASE(VRIO_E_MISC_ERROR_3, -20003),
  CASE(VRIO_E_MISC_ERROR_4, -20004), CASE(VRIO_E_MISC_ERROR_5, -20005),
  CASE(VRIO_E_MISC_ERROR_6, -20006), CASE(VRIO_E_PRIVATE_ERROR_0, -30000),
  CASE(VRIO_E_PRIVATE_ERROR_1, -30001), CASE(VRIO_E_PRIVATE_ERROR_2, -30002),
  CASE(VRIO_E_PRIVATE_ERROR_3, -30003), CASE(VRIO_E_PRIVATE_ERROR_4, -30004),
  CASE(VRIO_E_PRIVATE_ERROR_5, -30005), CASE(VRIO_E_LAST_ERROR_CODE, -30005),
  CASE(VRIO_E_PRIVATE_ERROR_6, -30006),
};
#undef CASE

// For each value, the one name vrio_error_name gives when several share it.
struct name_case {
  int value;
  const char *name;
};
const name_case shared_value_names[] = {
  {0, "VRIO_S_NOERR"},            // not VRIO_E_NOERR or VRIO_S_FALSE
  {1, "VRIO_S_OPERATION_FAILED"}, // not VRIO_S_TRUE
  {-10003, "VRIO_E_OUT_OF_MEMORY"},
  {-10019, "VRIO_E_WOULD_BLOCK"},
  {-10203, "VRIO_E_SYNTAX_ERROR"},
  {-10204, "VRIO_E_ENCODING_UNMAPPABLE"},
  {-10401, "VRIO_E_AIO_ERROR"},
  {-10402, "VRIO_E_AIO_INPROGRESS"},
  {-10403, "VRIO_E_CANCELED"},
  {-10502, "VRIO_E_FILE_ACCESS"},
  {-10600, "VRIO_E_NET_ERROR"},   // not the group marker VRIO_E_NET_
  {-30005, "VRIO_E_PRIVATE_ERROR_5"},  // not VRIO_E_LAST_ERROR_CODE
};

} // namespace

TEST(VrioErrors, EveryNameHasItsPublishedValue)
{
  EXPECT_EQ(std::size(all_values), 106u);
  for (const value_case &c : all_values)
    EXPECT_EQ(c.value, c.expected) << c.enumerator;
  EXPECT_EQ(sizeof(vrio_t_error_code), 4u);
}

TEST(VrioErrors, NameOfEveryListedValue)
{
  std::set<int> shared;
  for (const name_case &c : shared_value_names) {
    EXPECT_STREQ(vrio_error_name(static_cast<vrio_t_error_code>(c.value)), c.name)
        << "value " << c.value;
    shared.insert(c.value);
  }
  // A value with one name gives that name.
  for (const value_case &c : all_values)
    if (shared.count(c.expected) == 0) {
      EXPECT_STREQ(vrio_error_name(static_cast<vrio_t_error_code>(c.value)), c.enumerator)
          << "value " << c.expected;
    }
}

TEST(VrioErrors, UnlistedValuesAreUnknownErrorOrSuccessBySign)
{
  const int unknown_errors[] = {-10002 /* no such code */, -2, -10000, -10025, -10099, -10606,
                                -20007, -30007, -29999, INT_MIN};
  for (int v : unknown_errors)
    EXPECT_STREQ(vrio_error_name(static_cast<vrio_t_error_code>(v)), "(unknown VRIO error)")
        << "value " << v;
  const int unknown_successes[] = {6, 100, 29999, 30007, INT_MAX};
  for (int v : unknown_successes)
    EXPECT_STREQ(vrio_error_name(static_cast<vrio_t_error_code>(v)), "(unknown VRIO success)")
        << "value " << v;
}

TEST(VrioErrors, MapUnixErrorTable)
{
  const struct {
    int errno_value;
    vrio_t_error_code code;
  } table[] = {
    {1, VRIO_E_PERMISSION_ERROR},  {13, VRIO_E_PERMISSION_ERROR},
    {20, VRIO_E_PERMISSION_ERROR} /* ENOTDIR: not FILE_NOT_DIRECTORY */,
    {21, VRIO_E_PERMISSION_ERROR}, {22, VRIO_E_PERMISSION_ERROR}, {25, VRIO_E_PERMISSION_ERROR},
    {26, VRIO_E_PERMISSION_ERROR}, {30, VRIO_E_PERMISSION_ERROR}, {31, VRIO_E_PERMISSION_ERROR},
    {2, VRIO_E_FILE_NOT_FOUND},    {6, VRIO_E_FILE_NOT_FOUND},    {9, VRIO_E_FILE_NOT_FOUND},
    {4, VRIO_E_INTERNAL_ERROR} /* EINTR: not INTERRUPTED */,
    {5, VRIO_E_IO_ERROR},          {11, VRIO_E_WOULD_BLOCK},      {17, VRIO_E_FILE_EXISTS},
    {24, VRIO_E_TOO_MANY_OPEN_FILES}, {28, VRIO_E_NOSPACE},
    {32, VRIO_E_NET_CONNRESET},    {104, VRIO_E_NET_CONNRESET},   {107, VRIO_E_NET_CONNRESET},
    {36, VRIO_E_INVALID_NAME},     {40, VRIO_E_INVALID_NAME},     {39, VRIO_E_DIR_NOT_EMPTY},
    {98, VRIO_E_NET_ADDRINUSE},    {110, VRIO_E_NET_TIMEDOUT},    {111, VRIO_E_NET_CONNREFUSED},
    {115, VRIO_E_INPROGRESS},
  };
  std::set<int> listed;
  for (const auto &row : table) {
    EXPECT_EQ(vrio_map_unix_error(row.errno_value, VRIO_E_OS_ERROR), row.code)
        << "errno " << row.errno_value << " (" << std::strerror(row.errno_value) << ")";
    listed.insert(row.errno_value);
  }
  // Everything else, 0 and negative numbers included, gives the caller's
  // default unchanged, whichever default it is.
  for (int e = -5; e <= 200; ++e) {
    if (listed.count(e) != 0)
      continue;
    EXPECT_EQ(vrio_map_unix_error(e, VRIO_E_OS_ERROR), VRIO_E_OS_ERROR) << "errno " << e;
    EXPECT_EQ(vrio_map_unix_error(e, VRIO_E_READ_ERROR), VRIO_E_READ_ERROR) << "errno " << e;
  }
  EXPECT_EQ(vrio_map_unix_error(INT_MIN, VRIO_E_SYNC_ERROR), VRIO_E_SYNC_ERROR);
}
