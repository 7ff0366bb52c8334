/* vrio_file.h: file-system services and the crossing of strings and
 * descriptors to the operating system.
 *
 * Every string in the library is UTF-8, and the system's file names and
 * environment strings are taken to be UTF-8 too; a system string that is
 * not is refused, or (where the caller asks) read as ISO-8859-1.  Strings
 * these functions return are the caller's, freed with vrio_free, unless
 * stated otherwise.  Every system call that can be interrupted is
 * repeated.  Descriptors the library opens are close-on-exec and never 0,
 * 1 or 2, so a closed standard descriptor stays closed.
 *
 * No locks: the working-directory cache belongs to the engine's thread;
 * the rest may run on any thread.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_FILE_H
#define VOSTREL_VRIO_FILE_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int64_t vrio_t_time;
typedef uint32_t vrio_t_uid;
typedef uint32_t vrio_t_gid;

struct vrio_t_stat_;
typedef void (*vrio_t_stat_deinit_fun)(struct vrio_t_stat_ *info, void *cookie);
typedef struct vrio_t_stat_deiniter_ {
  vrio_t_stat_deinit_fun fun;
  void *cookie;
} vrio_t_stat_deiniter;

typedef struct vrio_t_stat_ {
  vrio_t_bits flags; /* VRIO_STAT_HAS_DEINITERS */
  vrio_t_bits mode;  /* VRIO_MODE_ */
  vrio_t_bits type;  /* 1 for a directory (option 0x200) */
  vrio_t_time access_time;
  vrio_t_time modify_time;
  vrio_t_time create_time; /* the status-change time */
  uint64_t size;
  vrio_t_uid owner;
  vrio_t_gid group;
  size_t deiniters_count;
  vrio_t_stat_deiniter *deiniters;
} vrio_t_stat;

#define VRIO_STAT_HAS_DEINITERS 2u

/* Mode bits: the owner's; the group's are these << 4, the others' << 8. */
#define VRIO_MODE_READ 0x1u
#define VRIO_MODE_WRITE 0x2u
#define VRIO_MODE_EXECUTE 0x4u /* a file */
#define VRIO_MODE_SEARCH 0x8u  /* a directory */
/* What the calling process may do. */
#define VRIO_MODE_PROCESS_READ 0x8000u
#define VRIO_MODE_PROCESS_WRITE 0x10000u
#define VRIO_MODE_PROCESS_EXECUTE 0x20000u
#define VRIO_MODE_PROCESS_SEARCH 0x40000u

/* Options of vrio_stat: 2 must be a directory, 4 must not be one; then
   what to fill in. */
#define VRIO_STAT_MUST_BE_DIRECTORY 2u
#define VRIO_STAT_MUST_NOT_BE_DIRECTORY 4u
#define VRIO_STAT_MODE 8u
#define VRIO_STAT_PROCESS_MODE 0x100u
#define VRIO_STAT_TYPE 0x200u
#define VRIO_STAT_TIMES 0x400u
#define VRIO_STAT_SIZE 0x800u
#define VRIO_STAT_OWNER 0x1000u
#define VRIO_STAT_GROUP 0x2000u

/* Options of vrio_test_file_access. */
#define VRIO_ACCESS_EXECUTE 1u
#define VRIO_ACCESS_WRITE 2u
#define VRIO_ACCESS_READ 4u
#define VRIO_ACCESS_CREATE 8u /* a missing file that could be created passes */
#define VRIO_ACCESS_SEARCH 0x10u
#define VRIO_ACCESS_DIRECTORY 0x20u
#define VRIO_ACCESS_REGULAR 0x40u

typedef enum vrio_t_unix_access_class_ {
  VRIO_UNIX_ACCESS_CLASS_INVALID = 0,
  VRIO_UNIX_ACCESS_CLASS_OWNER = 1,
  VRIO_UNIX_ACCESS_CLASS_GROUP = 2,
  VRIO_UNIX_ACCESS_CLASS_OTHER = 3
} vrio_t_unix_access_class;

typedef struct vrio_t_dir_ vrio_t_dir;
typedef struct vrio_t_dirent_ vrio_t_dirent;

vrio_t_error_code vrio_stat(const char *path, vrio_t_stat *info, vrio_t_bits options);
vrio_t_error_code vrio_stat_add_deiniter(vrio_t_stat *info, vrio_t_stat_deinit_fun fun,
                                         void *cookie);
void vrio_stat_deinit(vrio_t_stat *info);
/* Options: 1 only directories, 2 only other entries. */
vrio_t_error_code vrio_open_directory(const char *path, vrio_t_dir **pdir, vrio_t_bits options);
vrio_t_error_code vrio_read_directory(vrio_t_dir *dir, vrio_t_dirent **pent, vrio_t_bits options);
/* Valid until the next read or the close. */
vrio_t_error_code vrio_dirent_name(vrio_t_dirent *ent, const char **pname);
vrio_t_error_code vrio_close_directory(vrio_t_dir *dir);
vrio_t_error_code vrio_test_file_access(const char *path, vrio_t_bits options);
vrio_t_error_code vrio_rename_file(const char *old_path, const char *new_path, vrio_t_bits options);
/* Option 1: a directory. */
vrio_t_error_code vrio_delete_file(const char *path, vrio_t_bits options);
vrio_t_error_code vrio_create_directory(const char *path, vrio_t_bits options);
vrio_t_error_code vrio_temp_directory(char **pdir, vrio_t_bits options);
/* Option 2: the process's own (4: a name that is not UTF-8 read as
   ISO-8859-1); otherwise the library's cached copy. */
vrio_t_error_code vrio_get_working_directory(char **pdir, vrio_t_bits options);
/* Option 2: change the process's; option 1: record in the cache. */
vrio_t_error_code vrio_set_working_directory(const char *dir, vrio_t_bits options);
vrio_t_error_code vrio_user_id_name(vrio_t_uid id, char **pname, vrio_t_bits options);
vrio_t_error_code vrio_group_id_name(vrio_t_gid id, char **pname, vrio_t_bits options);
vrio_t_error_code vrio_path_root_len(const char *path);

/* The Unix implementations behind the entry points above. */
vrio_t_error_code vrio_stat_unix(const char *path, vrio_t_stat *info, vrio_t_bits options);
vrio_t_error_code vrio_open_directory_unix(const char *path, vrio_t_dir **pdir,
                                           vrio_t_bits options);
vrio_t_error_code vrio_read_directory_unix(vrio_t_dir *dir, vrio_t_dirent **pent,
                                           vrio_t_bits options);
vrio_t_error_code vrio_dirent_name_unix(vrio_t_dirent *ent, const char **pname);
vrio_t_error_code vrio_close_directory_unix(vrio_t_dir *dir);
vrio_t_error_code vrio_unix_test_file_access(const char *path, vrio_t_bits options);
vrio_t_error_code vrio_unix_rename_file(const char *old_path, const char *new_path,
                                        vrio_t_bits options);
vrio_t_error_code vrio_unix_delete_file(const char *path, vrio_t_bits options);
vrio_t_error_code vrio_unix_create_directory(const char *path, vrio_t_bits options);
vrio_t_error_code vrio_unix_temp_directory(char **pdir, vrio_t_bits options);
vrio_t_error_code vrio_user_id_name_unix(vrio_t_uid id, char **pname, vrio_t_bits options);
vrio_t_error_code vrio_group_id_name_unix(vrio_t_gid id, char **pname, vrio_t_bits options);
vrio_t_error_code vrio_unix_path_root_len(const char *path);
vrio_t_unix_access_class vrio_unix_access_class(vrio_t_uid owner, vrio_t_gid group);

/* Strings to and from the system.  For the system: option 1 gives the
   same pointer, else a copy (free it only when it differs).  From the
   system: option 1 gives the input itself when it is UTF-8; option 4
   reads other bytes as ISO-8859-1 (result code 1); option 2 is not
   supported.  Results are NUL-terminated; *putf8_size excludes the NUL. */
vrio_t_error_code vrio_file_name_for_os_unix(const char *utf8_name, char **pos_name,
                                             vrio_t_bits options);
vrio_t_error_code vrio_file_name_from_os_unix(const char *os_name, char **putf8_name,
                                              vrio_t_bits options);
vrio_t_error_code vrio_from_os_unix(const char *bytes, size_t size, char **putf8,
                                    size_t *putf8_size, vrio_t_bits options);
vrio_t_error_code vrio_unix_default_charset(char **pname);

/* Descriptors. */
vrio_t_error_code vrio_unix_open_file(const char *path, int flags, int mode, int *pfd);
vrio_t_error_code vrio_unix_SETFD(int fd, int mask, int value);
vrio_t_error_code vrio_unix_file_pos(int fd, vrio_t_offset *ppos);
vrio_t_error_code vrio_unix_file_size(int fd, vrio_t_offset *psize);
/* A vrio_t_device_type (vrio.h). */
int vrio_unix_device_type(int fd);
/* Option 1: errors ignored (a socket is reset); option 2: not a socket. */
vrio_t_error_code vrio_os_file_handle_close_unix(int fd, vrio_t_bits options);
/* A descriptor the library made, moved to 3 or above when it is one of
   the standard descriptors (the original is closed); close-on-exec. */
vrio_t_error_code vrio_unix_fd_above_standard(int fd, int *pfd);

/* Module start (0) and stop (1): the working-directory cache. */
vrio_t_error_code vrio_init_file(vrio_t_bits flags);

#ifdef __cplusplus
}
#endif

#endif
