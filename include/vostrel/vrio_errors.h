/* vrio_errors.h: result codes of the I/O services library.
 *
 * Every operation of the library returns a vrio_t_error_code: 0 or more is
 * success, negative is failure.  Test with < 0 and >= 0 only, never against
 * a particular success value: several success codes exist (1 to 5 carry
 * extra information, 30000 to 30006 are free for a module's own protocol).
 * The values are public (foreign code and Prolog see them) and fixed.
 *
 * VRIO_ERROR_CODES is the one list of names and values.  X(name, value,
 * given) is applied to each; `given` is 1 for the name vrio_error_name
 * returns when several names share the value.  The enumeration below and
 * the name table in vrio_errors.cpp both read it.
 *
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_ERRORS_H
#define VOSTREL_VRIO_ERRORS_H

#define VRIO_ERROR_CODES(X) \
  X(VRIO_S_NOERR, 0, 1) \
  X(VRIO_E_NOERR, 0, 0) \
  X(VRIO_S_FALSE, 0, 0) \
  X(VRIO_S_OPERATION_FAILED, 1, 1) \
  X(VRIO_S_TRUE, 1, 0) \
  X(VRIO_S_DEALLOCATED, 2, 1) \
  X(VRIO_S_NOT_SUPPORTED, 3, 1) \
  X(VRIO_S_DONE, 4, 1) \
  X(VRIO_S_SUPPRESSED_INTERRUPT, 5, 1) \
  X(VRIO_S_PRIVATE_ERROR_0, 30000, 1) \
  X(VRIO_S_PRIVATE_ERROR_1, 30001, 1) \
  X(VRIO_S_PRIVATE_ERROR_2, 30002, 1) \
  X(VRIO_S_PRIVATE_ERROR_3, 30003, 1) \
  X(VRIO_S_PRIVATE_ERROR_4, 30004, 1) \
  X(VRIO_S_PRIVATE_ERROR_5, 30005, 1) \
  X(VRIO_S_PRIVATE_ERROR_6, 30006, 1) \
  X(VRIO_E_END_OF_FILE, -1, 1) \
  /* generic errors; there is no -10002 */ \
  X(VRIO_E_ERROR, -10001, 1) \
  X(VRIO_E_OUT_OF_MEMORY, -10003, 1) \
  X(VRIO_E_INSUFFICIENT_BUFFER, -10003, 0) \
  X(VRIO_E_PARAMETER_ERROR, -10004, 1) \
  X(VRIO_E_VERSION_ERROR, -10005, 1) \
  X(VRIO_E_NOT_IMPLEMENTED, -10006, 1) \
  X(VRIO_E_NOT_SUPPORTED, -10007, 1) \
  X(VRIO_E_NOT_FOUND, -10008, 1) \
  X(VRIO_E_FOUND, -10009, 1) \
  X(VRIO_E_NOT_READ, -10010, 1) \
  X(VRIO_E_NOT_WRITE, -10011, 1) \
  X(VRIO_E_NOT_OPEN_READ, -10012, 1) \
  X(VRIO_E_NOT_OPEN_WRITE, -10013, 1) \
  X(VRIO_E_INTERRUPTED, -10014, 1) \
  X(VRIO_E_IMPOSSIBLE_ERROR, -10015, 1) \
  X(VRIO_E_INTERNAL_ERROR, -10016, 1) \
  X(VRIO_E_OS_ERROR, -10017, 1) \
  X(VRIO_E_TIMEOUT, -10018, 1) \
  X(VRIO_E_WOULD_BLOCK, -10019, 1) \
  X(VRIO_E_TRY_AGAIN, -10019, 0) \
  X(VRIO_E_PERMISSION_ERROR, -10020, 1) \
  X(VRIO_E_NO_MORE_ENTRIES, -10021, 1) \
  X(VRIO_E_IO_ERROR, -10022, 1) \
  X(VRIO_E_INVALID_STATE, -10023, 1) \
  X(VRIO_E_SHUTDOWN, -10024, 1) \
  /* layer errors */ \
  X(VRIO_E_LAYER_, -10100, 1) \
  X(VRIO_E_OPEN_ERROR, -10101, 1) \
  X(VRIO_E_READ_ERROR, -10102, 1) \
  X(VRIO_E_WRITE_ERROR, -10103, 1) \
  X(VRIO_E_SEEK_ERROR, -10104, 1) \
  X(VRIO_E_CLOSE_ERROR, -10105, 1) \
  X(VRIO_E_SYNC_ERROR, -10106, 1) \
  X(VRIO_E_PUSH_ERROR, -10107, 1) \
  X(VRIO_E_TOO_MANY_OPEN_FILES, -10108, 1) \
  /* character coder errors */ \
  X(VRIO_E_CHAR_CODER_, -10200, 1) \
  X(VRIO_E_GRANULARITY_ERROR, -10201, 1) \
  X(VRIO_E_NOT_ENOUGH_DATA, -10202, 1) \
  X(VRIO_E_SYNTAX_ERROR, -10203, 1) \
  X(VRIO_E_ENCODING_ERROR_, -10203, 0) \
  X(VRIO_E_ENCODING_UNMAPPABLE, -10204, 1) \
  X(VRIO_E_ENCODING_UNASSIGNED, -10204, 0) \
  X(VRIO_E_ENCODING_INVALID, -10205, 1) \
  X(VRIO_E_CHARSET_NOT_FOUND, -10206, 1) \
  /* thread errors */ \
  X(VRIO_E_THREAD_, -10300, 1) \
  X(VRIO_E_THREAD_ERROR, -10301, 1) \
  X(VRIO_E_THREAD_RUNNING, -10302, 1) \
  /* asynchronous I/O errors */ \
  X(VRIO_E_AIO_, -10400, 1) \
  X(VRIO_E_AIO_ERROR, -10401, 1) \
  X(VRIO_E_ASYNC_ERROR, -10401, 0) \
  X(VRIO_E_AIO_INPROGRESS, -10402, 1) \
  X(VRIO_E_ASYNC_INPROGRESS, -10402, 0) \
  X(VRIO_E_INPROGRESS, -10402, 0) \
  X(VRIO_E_CANCELED, -10403, 1) \
  X(VRIO_E_AIO_CANCELED, -10403, 0) \
  X(VRIO_E_AIO_EROFS, -10404, 1) \
  X(VRIO_E_AIO_EINVAL, -10405, 1) \
  /* file errors */ \
  X(VRIO_E_FILE_, -10500, 1) \
  X(VRIO_E_FILE_NOT_FOUND, -10501, 1) \
  X(VRIO_E_FILE_ACCESS, -10502, 1) \
  X(VRIO_E_NET_ACCESS, -10502, 0) \
  X(VRIO_E_FILE_IS_DIRECTORY, -10503, 1) \
  X(VRIO_E_FILE_NOT_DIRECTORY, -10504, 1) \
  X(VRIO_E_FILE_NOT_ABSOLUTE, -10505, 1) \
  X(VRIO_E_FILE_EXISTS, -10506, 1) \
  X(VRIO_E_DIR_NOT_EMPTY, -10507, 1) \
  X(VRIO_E_INVALID_NAME, -10508, 1) \
  X(VRIO_E_NOSPACE, -10509, 1) \
  /* network errors; the group marker is itself the generic network error */ \
  X(VRIO_E_NET_ERROR, -10600, 1) \
  X(VRIO_E_NET_, -10600, 0) \
  X(VRIO_E_NET_CONNREFUSED, -10601, 1) \
  X(VRIO_E_NET_ADDRINUSE, -10602, 1) \
  X(VRIO_E_NET_CONNRESET, -10603, 1) \
  X(VRIO_E_NET_TIMEDOUT, -10604, 1) \
  X(VRIO_E_NET_HOST_NOT_FOUND, -10605, 1) \
  /* left to users of the library */ \
  X(VRIO_E_MISC_ERROR_0, -20000, 1) \
  X(VRIO_E_MISC_ERROR_1, -20001, 1) \
  X(VRIO_E_MISC_ERROR_2, -20002, 1) \
  X(VRIO_E_MISC_ERROR_3, -20003, 1) \
  X(VRIO_E_MISC_ERROR_4, -20004, 1) \
  X(VRIO_E_MISC_ERROR_5, -20005, 1) \
  X(VRIO_E_MISC_ERROR_6, -20006, 1) \
  X(VRIO_E_PRIVATE_ERROR_0, -30000, 1) \
  X(VRIO_E_PRIVATE_ERROR_1, -30001, 1) \
  X(VRIO_E_PRIVATE_ERROR_2, -30002, 1) \
  X(VRIO_E_PRIVATE_ERROR_3, -30003, 1) \
  X(VRIO_E_PRIVATE_ERROR_4, -30004, 1) \
  X(VRIO_E_PRIVATE_ERROR_5, -30005, 1) \
  X(VRIO_E_LAST_ERROR_CODE, -30005, 0) /* not -30006 */ \
  X(VRIO_E_PRIVATE_ERROR_6, -30006, 1)

#define VRIO_ERROR_CODE_ENUMERATOR_(name, value, given) name = (value),
typedef enum vrio_t_error_code_ {
  VRIO_ERROR_CODES(VRIO_ERROR_CODE_ENUMERATOR_)
} vrio_t_error_code;
#undef VRIO_ERROR_CODE_ENUMERATOR_

#ifdef __cplusplus
extern "C" {
#endif

/* The name of a code (a constant string, never null): for a value that
   several names share, the one marked `given` above; "(unknown VRIO error)"
   or "(unknown VRIO success)" for values not in the list.  Any thread. */
const char *vrio_error_name(vrio_t_error_code code);

/* The code for an operating-system error number; numbers without a code of
   their own give default_code, chosen by the caller.  Any thread. */
vrio_t_error_code vrio_map_unix_error(int errno_value, vrio_t_error_code default_code);

#ifdef __cplusplus
}
#endif

#endif
