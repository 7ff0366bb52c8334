/* vrio_file.cpp: file status, access tests, directory listings, renaming,
 * deleting, the working and temporary directories, user and group names,
 * and the descriptor services the layers use.
 *
 * Strings cross to the system unchanged (UTF-8 both ways); a system
 * string that is not UTF-8 is refused, or read as ISO-8859-1 where the
 * caller asks.  Every descriptor made here (and by the events' self-pipes)
 * is moved above the standard descriptors: when the process starts with
 * 0, 1 or 2 closed, a pipe or file of the library that took that number
 * would receive what is written to "standard output".
 */
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vostrel/vrio.h"
#include "vostrel/vrio_file.h"
#include "vrio_internal.h"

static char *cached_dir;

static vrio_t_error_code os_error(vrio_t_error_code default_code)
{
  return vrio_map_unix_error(errno, default_code);
}

static char *copy_of(const char *s, size_t n)
{
  char *copy = static_cast<char *>(vrio_alloc(n + 1));
  if (copy != nullptr) {
    std::memcpy(copy, s, n);
    copy[n] = '\0';
  }
  return copy;
}

/* Strings. */

vrio_t_error_code vrio_from_os_unix(const char *bytes, size_t size, char **putf8,
                                    size_t *putf8_size, vrio_t_bits options)
{
  if (options & 2)
    return VRIO_E_NOT_SUPPORTED;
  auto *u = reinterpret_cast<const unsigned char *>(bytes);
  if (vrio_is_legal_utf8_string(u, size, 0) >= 0) {
    char *result = (options & 1) ? const_cast<char *>(bytes) : copy_of(bytes, size);
    if (result == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    *putf8 = result;
    if (putf8_size != nullptr)
      *putf8_size = size;
    return VRIO_S_NOERR;
  }
  if (!(options & 4))
    return VRIO_E_ENCODING_INVALID;
  size_t high = 0;
  for (size_t i = 0; i < size; ++i)
    high += u[i] >= 0x80;
  char *result = static_cast<char *>(vrio_alloc(size + high + 1));
  if (result == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  size_t n = 0;
  for (size_t i = 0; i < size; ++i) {
    if (u[i] < 0x80) {
      result[n++] = static_cast<char>(u[i]);
    } else {
      result[n++] = static_cast<char>(0xC0 | (u[i] >> 6));
      result[n++] = static_cast<char>(0x80 | (u[i] & 0x3F));
    }
  }
  result[n] = '\0';
  *putf8 = result;
  if (putf8_size != nullptr)
    *putf8_size = n;
  return static_cast<vrio_t_error_code>(1);
}

vrio_t_error_code vrio_file_name_from_os_unix(const char *os_name, char **putf8_name,
                                              vrio_t_bits options)
{
  return vrio_from_os_unix(os_name, std::strlen(os_name), putf8_name, nullptr, options);
}

vrio_t_error_code vrio_file_name_for_os_unix(const char *utf8_name, char **pos_name,
                                             vrio_t_bits options)
{
  char *name = (options & 1) ? const_cast<char *>(utf8_name)
                             : copy_of(utf8_name, std::strlen(utf8_name));
  if (name == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  *pos_name = name;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_unix_default_charset(char **pname)
{
  const char *name = nl_langinfo(CODESET);
  if (name == nullptr || *name == '\0') {
    const char *locale = setlocale(LC_CTYPE, nullptr);
    if (locale == nullptr)
      return VRIO_E_NOT_FOUND;
    if (*locale == '\0' || *locale == '/')
      return VRIO_E_NOT_SUPPORTED;
    const char *dot = std::strrchr(locale, '.');
    name = dot != nullptr ? dot + 1 : locale;
  }
  char *copy = copy_of(name, std::strlen(name));
  if (copy == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  *pname = copy;
  return VRIO_S_NOERR;
}

/* Descriptors. */

vrio_t_error_code vrio_unix_fd_above_standard(int fd, int *pfd)
{
  if (fd > STDERR_FILENO) {
    *pfd = fd;
    return VRIO_S_NOERR;
  }
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  vrio_t_error_code rc = moved < 0 ? os_error(VRIO_E_OS_ERROR) : VRIO_S_NOERR;
  close(fd);
  if (rc >= 0)
    *pfd = moved;
  return rc;
}

vrio_t_error_code vrio_unix_SETFD(int fd, int mask, int value)
{
  int flags = fcntl(fd, F_GETFD);
  if (flags == -1 || fcntl(fd, F_SETFD, (flags & ~mask) | (value & mask)) == -1)
    return os_error(VRIO_E_OS_ERROR);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_unix_open_file(const char *path, int flags, int mode, int *pfd)
{
  int fd;
  do
    fd = open(path, flags, mode);
  while (fd == -1 && errno == EINTR);
  if (fd == -1)
    return os_error(VRIO_E_OPEN_ERROR);
  vrio_t_error_code rc = vrio_unix_SETFD(fd, FD_CLOEXEC, FD_CLOEXEC);
  if (rc >= 0)
    rc = vrio_unix_fd_above_standard(fd, &fd);
  else
    close(fd);
  if (rc < 0)
    return rc;
  *pfd = fd;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_unix_file_pos(int fd, vrio_t_offset *ppos)
{
  off_t pos;
  do
    pos = lseek(fd, 0, SEEK_CUR);
  while (pos == -1 && errno == EINTR);
  if (pos == -1)
    return os_error(VRIO_E_SEEK_ERROR);
  *ppos = pos;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_unix_file_size(int fd, vrio_t_offset *psize)
{
  struct stat st;
  int r;
  do
    r = fstat(fd, &st);
  while (r == -1 && errno == EINTR);
  if (r == -1)
    return os_error(VRIO_E_OS_ERROR);
  if (!S_ISREG(st.st_mode))
    return VRIO_E_NOT_SUPPORTED;
  *psize = st.st_size;
  return VRIO_S_NOERR;
}

int vrio_unix_device_type(int fd)
{
  if (fd == -1)
    return VRIO_DEVICE_TYPE_ILLEGAL;
  if (isatty(fd))
    return VRIO_DEVICE_TYPE_TTY;
  struct stat st;
  int r;
  do
    r = fstat(fd, &st);
  while (r == -1 && errno == EINTR);
  if (r == -1)
    return VRIO_DEVICE_TYPE_ILLEGAL;
  if (S_ISFIFO(st.st_mode))
    return VRIO_DEVICE_TYPE_FIFO;
  if (S_ISCHR(st.st_mode))
    return VRIO_DEVICE_TYPE_CHARACTER;
  if (S_ISDIR(st.st_mode))
    return VRIO_DEVICE_TYPE_DIRECTORY;
  if (S_ISBLK(st.st_mode))
    return VRIO_DEVICE_TYPE_BLOCK;
  if (S_ISREG(st.st_mode))
    return VRIO_DEVICE_TYPE_FILE;
  if (S_ISLNK(st.st_mode))
    return VRIO_DEVICE_TYPE_LINK;
  if (S_ISSOCK(st.st_mode))
    return VRIO_DEVICE_TYPE_SOCKET;
  return VRIO_DEVICE_TYPE_UNKNOWN;
}

vrio_t_error_code vrio_os_file_handle_close_unix(int fd, vrio_t_bits options)
{
  bool ignore_errors = (options & 1) != 0;
  if (!(options & 2) && ignore_errors && vrio_unix_device_type(fd) == VRIO_DEVICE_TYPE_SOCKET) {
    /* An abortive close of a socket resets the connection. */
    struct linger off = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  }
  /* After EINTR the descriptor is closed all the same (Linux). */
  if (close(fd) == -1 && errno != EINTR && !ignore_errors)
    return os_error(VRIO_E_CLOSE_ERROR);
  return VRIO_S_NOERR;
}

/* Streams over descriptors: what both descriptor layers check and how
   both open a file by name. */

vrio_t_error_code vrio_fd_stream_checks(int fd, vrio_t_bits options, int *pstatus,
                                        vrio_t_device_type *ptype)
{
  if (fd == -1 || !(options & (VRIO_FD_READ | VRIO_FD_WRITE)))
    return VRIO_E_PARAMETER_ERROR;
  int status = fcntl(fd, F_GETFL);
  if (status == -1)
    return os_error(VRIO_E_OPEN_ERROR);
  int access = status & O_ACCMODE;
  if ((options & VRIO_FD_READ) && access != O_RDONLY && access != O_RDWR)
    return VRIO_E_NOT_READ;
  if ((options & VRIO_FD_WRITE) && access != O_WRONLY && access != O_RDWR)
    return VRIO_E_NOT_WRITE;
  auto type = static_cast<vrio_t_device_type>(vrio_unix_device_type(fd));
  switch (type) {
  case VRIO_DEVICE_TYPE_FILE:
  case VRIO_DEVICE_TYPE_TTY:
  case VRIO_DEVICE_TYPE_FIFO:
  case VRIO_DEVICE_TYPE_CHARACTER:
  case VRIO_DEVICE_TYPE_SOCKET:
    break;
  case VRIO_DEVICE_TYPE_DIRECTORY:
  case VRIO_DEVICE_TYPE_LINK:
    return VRIO_E_NOT_SUPPORTED;
  case VRIO_DEVICE_TYPE_BLOCK:
    return VRIO_E_NOT_IMPLEMENTED;
  case VRIO_DEVICE_TYPE_ILLEGAL:
    return VRIO_E_OPEN_ERROR;
  default:
    return VRIO_E_IMPOSSIBLE_ERROR;
  }
  *pstatus = status;
  *ptype = type;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_fd_stream_positions(int fd, vrio_t_bits options, int status,
                                           vrio_t_offset *pread_pos, vrio_t_offset *pwrite_pos)
{
  vrio_t_offset read_pos = 0, write_pos = 0;
  bool appending = (options & VRIO_FD_WRITE) && (status & O_APPEND);
  if (options & VRIO_FD_SEQUENTIAL) {
    if (vrio_unix_file_pos(fd, &read_pos) < 0)
      read_pos = 0;
    write_pos = read_pos;
    /* Appending: every write lands at the end, so positions count from
       the size the file had. */
    if (appending && vrio_unix_file_size(fd, &write_pos) < 0)
      write_pos = read_pos;
  } else {
    if (appending)
      return VRIO_E_PARAMETER_ERROR; /* positioned writes would ignore O_APPEND */
    if ((options & VRIO_FD_WRITE_AT_END) && vrio_unix_file_size(fd, &write_pos) < 0)
      write_pos = 0;
  }
  *pread_pos = read_pos;
  *pwrite_pos = write_pos;
  return VRIO_S_NOERR;
}

/* Appending streams open with O_APPEND and write at the descriptor's own
   offset: every write then lands at the end, whoever else appends. */
vrio_t_error_code vrio_open_file_stream(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                                        vrio_t_bits options, vrio_t_fd_stream_maker make)
{
  const char *path;
  if (vrio_get_arg_string(args, "pathname", &path) < 0)
    return VRIO_E_NOT_FOUND;
  bool read = options & VRIO_OPEN_FILE_READ, write = options & VRIO_OPEN_FILE_WRITE;
  bool append = options & VRIO_OPEN_FILE_APPEND;
  vrio_t_bits fd_options = options & (VRIO_FD_READ | VRIO_FD_WRITE);
  int flags;
  if (!read && !write)
    return VRIO_E_PARAMETER_ERROR;
  if (!write) {
    flags = O_RDONLY | O_NOCTTY;
  } else if (read) {
    if (append)
      return VRIO_E_PARAMETER_ERROR;
    flags = O_RDWR | O_CREAT | O_NOCTTY;
  } else if (append) {
    flags = O_WRONLY | O_CREAT | O_APPEND | O_NOCTTY;
    fd_options |= VRIO_FD_WRITE_AT_END | VRIO_FD_SEQUENTIAL;
  } else {
    flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY;
  }
  if (write && (options & VRIO_OPEN_FILE_EXCLUSIVE))
    flags |= O_EXCL;
  int fd;
  vrio_t_error_code rc = vrio_unix_open_file(path, flags, 0666, &fd);
  if (rc < 0)
    return rc;
  rc = make(funcs, s, fd, fd_options);
  if (rc < 0)
    close(fd);
  return rc;
}

/* File status. */

static int stat_path(const char *path, struct stat *st)
{
  int r;
  do
    r = stat(path, st);
  while (r == -1 && errno == EINTR);
  return r;
}

vrio_t_unix_access_class vrio_unix_access_class(vrio_t_uid owner, vrio_t_gid group)
{
  if (geteuid() == owner)
    return VRIO_UNIX_ACCESS_CLASS_OWNER;
  if (getegid() == group)
    return VRIO_UNIX_ACCESS_CLASS_GROUP;
  int n = getgroups(0, nullptr);
  if (n > 0) {
    gid_t *groups = static_cast<gid_t *>(vrio_alloc(static_cast<size_t>(n) * sizeof(gid_t)));
    if (groups != nullptr) {
      n = getgroups(n, groups);
      bool member = false;
      for (int i = 0; i < n && !member; ++i)
        member = groups[i] == group;
      vrio_free(groups);
      if (member)
        return VRIO_UNIX_ACCESS_CLASS_GROUP;
    }
  }
  return VRIO_UNIX_ACCESS_CLASS_OTHER;
}

/* The library's mode bits of a system mode: read, write and execute (a
   file) or search (a directory) for owner, group (<< 4), others (<< 8). */
static vrio_t_bits mode_bits(mode_t mode)
{
  vrio_t_bits x = S_ISDIR(mode) ? VRIO_MODE_SEARCH : VRIO_MODE_EXECUTE;
  vrio_t_bits bits = 0;
  const mode_t rwx[3][3] = {{S_IRUSR, S_IWUSR, S_IXUSR},
                            {S_IRGRP, S_IWGRP, S_IXGRP},
                            {S_IROTH, S_IWOTH, S_IXOTH}};
  for (int who = 0; who < 3; ++who) {
    vrio_t_bits mine = ((mode & rwx[who][0]) ? VRIO_MODE_READ : 0) |
                       ((mode & rwx[who][1]) ? VRIO_MODE_WRITE : 0) |
                       ((mode & rwx[who][2]) ? x : 0);
    bits |= mine << (4 * who);
  }
  return bits;
}

/* The bits of the process's class, shifted down to the owner's place. */
static vrio_t_bits class_bits(const struct stat &st)
{
  vrio_t_unix_access_class c = vrio_unix_access_class(st.st_uid, st.st_gid);
  return (mode_bits(st.st_mode) >> (4 * (c - VRIO_UNIX_ACCESS_CLASS_OWNER))) & 0xF;
}

vrio_t_error_code vrio_stat_unix(const char *path, vrio_t_stat *info, vrio_t_bits options)
{
  struct stat st;
  if (stat_path(path, &st) == -1)
    return os_error(VRIO_E_FILE_NOT_FOUND);
  bool directory = S_ISDIR(st.st_mode);
  if ((options & VRIO_STAT_MUST_BE_DIRECTORY) && !directory)
    return VRIO_E_FILE_NOT_DIRECTORY;
  if ((options & VRIO_STAT_MUST_NOT_BE_DIRECTORY) && directory)
    return VRIO_E_FILE_IS_DIRECTORY;
  if (info == nullptr)
    return VRIO_S_NOERR;
  *info = vrio_t_stat{};
  if (options & VRIO_STAT_MODE)
    info->mode = mode_bits(st.st_mode);
  if (options & VRIO_STAT_PROCESS_MODE) {
    vrio_t_bits mine = class_bits(st);
    info->mode |= ((mine & VRIO_MODE_READ) ? VRIO_MODE_PROCESS_READ : 0) |
                  ((mine & VRIO_MODE_WRITE) ? VRIO_MODE_PROCESS_WRITE : 0) |
                  ((mine & VRIO_MODE_EXECUTE) ? VRIO_MODE_PROCESS_EXECUTE : 0) |
                  ((mine & VRIO_MODE_SEARCH) ? VRIO_MODE_PROCESS_SEARCH : 0);
  }
  if ((options & VRIO_STAT_TYPE) && directory)
    info->type = 1;
  if (options & VRIO_STAT_TIMES) {
    info->access_time = st.st_atime;
    info->modify_time = st.st_mtime;
    info->create_time = st.st_ctime;
  }
  if (options & VRIO_STAT_SIZE)
    info->size = static_cast<uint64_t>(st.st_size);
  if (options & VRIO_STAT_OWNER)
    info->owner = st.st_uid;
  if (options & VRIO_STAT_GROUP)
    info->group = st.st_gid;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_stat(const char *path, vrio_t_stat *info, vrio_t_bits options)
{
  return vrio_stat_unix(path, info, options);
}

/* An entry makes the record one that vrio_stat_deinit cleans up. */
vrio_t_error_code vrio_stat_add_deiniter(vrio_t_stat *info, vrio_t_stat_deinit_fun fun,
                                         void *cookie)
{
  auto *grown = static_cast<vrio_t_stat_deiniter *>(
      vrio_realloc(info->deiniters, (info->deiniters_count + 1) * sizeof(vrio_t_stat_deiniter)));
  if (grown == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  grown[info->deiniters_count++] = vrio_t_stat_deiniter{fun, cookie};
  info->deiniters = grown;
  info->flags |= VRIO_STAT_HAS_DEINITERS;
  return VRIO_S_NOERR;
}

void vrio_stat_deinit(vrio_t_stat *info)
{
  if (info == nullptr)
    return;
  if (info->flags & VRIO_STAT_HAS_DEINITERS) {
    for (size_t i = 0; i < info->deiniters_count; ++i)
      info->deiniters[i].fun(info, info->deiniters[i].cookie);
    vrio_free(info->deiniters);
    info->deiniters = nullptr;
    info->deiniters_count = 0;
  }
  info->flags = 0;
}

/* Access tests. */

/* `wanted` (owner-place bits) against the process's class bits. */
static vrio_t_error_code test_bits(const struct stat &st, vrio_t_bits wanted)
{
  if (wanted == 0)
    return VRIO_S_NOERR;
  return (class_bits(st) & wanted) == wanted ? VRIO_S_NOERR : VRIO_E_FILE_ACCESS;
}

vrio_t_error_code vrio_unix_test_file_access(const char *path, vrio_t_bits options)
{
  struct stat st;
  if (stat_path(path, &st) == 0) {
    bool directory = S_ISDIR(st.st_mode);
    if (directory && !(options & VRIO_ACCESS_DIRECTORY))
      return VRIO_E_FILE_IS_DIRECTORY;
    if (!directory && (options & VRIO_ACCESS_DIRECTORY))
      return VRIO_E_FILE_NOT_DIRECTORY;
    if ((options & VRIO_ACCESS_REGULAR) && !S_ISREG(st.st_mode))
      return VRIO_E_FILE_ACCESS;
    if (options & VRIO_ACCESS_CREATE)
      options |= VRIO_ACCESS_WRITE;
    vrio_t_bits wanted = ((options & VRIO_ACCESS_WRITE) ? VRIO_MODE_WRITE : 0) |
                         ((options & VRIO_ACCESS_READ) ? VRIO_MODE_READ : 0);
    if ((options & VRIO_ACCESS_EXECUTE) && !directory)
      wanted |= VRIO_MODE_EXECUTE;
    if ((options & VRIO_ACCESS_SEARCH) && directory)
      wanted |= VRIO_MODE_SEARCH;
    return test_bits(st, wanted);
  }
  int e = errno;
  if (options & VRIO_ACCESS_REGULAR)
    return VRIO_E_FILE_NOT_FOUND;
  if (!(options & VRIO_ACCESS_CREATE) || e != ENOENT)
    return vrio_map_unix_error(e, VRIO_E_FILE_NOT_FOUND);
  /* Could it be created?  Its directory must exist and be writable. */
  size_t len = std::strlen(path);
  if (len > 0 && path[len - 1] == '/')
    --len;
  size_t cut = len;
  while (cut > 0 && path[cut - 1] != '/')
    --cut;
  if (cut == 0)
    return VRIO_E_FILE_NOT_FOUND;
  char *parent = copy_of(path, cut);
  if (parent == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  int r = stat_path(parent, &st);
  e = errno;
  vrio_free(parent);
  if (r == -1)
    return vrio_map_unix_error(e, VRIO_E_FILE_NOT_FOUND);
  if (!S_ISDIR(st.st_mode))
    return VRIO_E_FILE_NOT_FOUND;
  return test_bits(st, VRIO_MODE_WRITE | ((options & VRIO_ACCESS_READ) ? VRIO_MODE_READ : 0));
}

vrio_t_error_code vrio_test_file_access(const char *path, vrio_t_bits options)
{
  return vrio_unix_test_file_access(path, options);
}

/* Changes. */

vrio_t_error_code vrio_unix_rename_file(const char *old_path, const char *new_path, vrio_t_bits)
{
  int r;
  do
    r = rename(old_path, new_path);
  while (r == -1 && errno == EINTR);
  return r == -1 ? os_error(VRIO_E_FILE_ACCESS) : VRIO_S_NOERR;
}

vrio_t_error_code vrio_rename_file(const char *old_path, const char *new_path, vrio_t_bits options)
{
  return vrio_unix_rename_file(old_path, new_path, options);
}

vrio_t_error_code vrio_unix_delete_file(const char *path, vrio_t_bits options)
{
  if ((options & 1) && (options & 4))
    return VRIO_E_NOT_IMPLEMENTED;
  int r;
  do
    r = (options & 1) ? rmdir(path) : unlink(path);
  while (r == -1 && errno == EINTR);
  if (r == 0)
    return VRIO_S_NOERR;
  if (options & 1) {
    if (errno == EEXIST || errno == ENOTEMPTY)
      return VRIO_E_DIR_NOT_EMPTY;
    if (errno == ENOTDIR)
      return VRIO_E_FILE_NOT_DIRECTORY;
  } else {
    if (errno == EISDIR)
      return VRIO_E_FILE_IS_DIRECTORY;
    if (errno == ENOENT)
      return VRIO_E_FILE_NOT_FOUND;
  }
  return os_error(VRIO_E_FILE_ACCESS);
}

vrio_t_error_code vrio_delete_file(const char *path, vrio_t_bits options)
{
  return vrio_unix_delete_file(path, options);
}

vrio_t_error_code vrio_unix_create_directory(const char *path, vrio_t_bits)
{
  int r;
  do
    r = mkdir(path, 0777);
  while (r == -1 && errno == EINTR);
  return r == -1 ? os_error(VRIO_E_OS_ERROR) : VRIO_S_NOERR;
}

vrio_t_error_code vrio_create_directory(const char *path, vrio_t_bits options)
{
  return vrio_unix_create_directory(path, options);
}

/* Directories: the temporary one, the working one. */

vrio_t_error_code vrio_unix_temp_directory(char **pdir, vrio_t_bits)
{
  char *value = vrio_get_system_property_allocate("TMPDIR");
  const char *dir = value != nullptr && *value != '\0' ? value : "/tmp";
  size_t len = std::strlen(dir);
  bool slash = dir[len - 1] == '/';
  char *result = static_cast<char *>(vrio_alloc(len + 2));
  if (result != nullptr) {
    std::memcpy(result, dir, len);
    if (!slash)
      result[len++] = '/';
    result[len] = '\0';
  }
  vrio_free(value);
  if (result == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  *pdir = result;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_temp_directory(char **pdir, vrio_t_bits options)
{
  return vrio_unix_temp_directory(pdir, options);
}

vrio_t_error_code vrio_get_working_directory(char **pdir, vrio_t_bits options)
{
  char *dir;
  if (options & 2) {
    char *os_dir = get_current_dir_name();
    if (os_dir == nullptr)
      return os_error(VRIO_E_OS_ERROR);
    vrio_t_error_code rc = vrio_file_name_from_os_unix(os_dir, &dir, options & 4);
    std::free(os_dir); /* the C library's */
    if (rc < 0)
      return rc;
  } else {
    if (cached_dir == nullptr)
      return VRIO_E_INVALID_STATE;
    dir = copy_of(cached_dir, std::strlen(cached_dir));
    if (dir == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
  }
  if (pdir != nullptr)
    *pdir = dir;
  else
    vrio_free(dir);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_set_working_directory(const char *dir, vrio_t_bits options)
{
  if (options & 2) {
    int r;
    do
      r = chdir(dir);
    while (r == -1 && errno == EINTR);
    if (r == -1)
      return os_error(VRIO_E_OS_ERROR);
  }
  if (options & 1) {
    char *copy = copy_of(dir, std::strlen(dir));
    if (copy == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    vrio_free(cached_dir);
    cached_dir = copy;
  }
  return VRIO_S_NOERR;
}

/* Users and groups, through the re-entrant calls. */

template <class Record, class Lookup>
static vrio_t_error_code id_name(int size_name, Lookup lookup, const char *(*name_of)(Record &),
                                 char **pname)
{
  long size = sysconf(size_name);
  if (size <= 0)
    size = 16384; /* no limit given: a generous guess */
  char *buf = static_cast<char *>(vrio_alloc(static_cast<size_t>(size)));
  if (buf == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  Record record;
  Record *found = nullptr;
  int e = lookup(&record, buf, static_cast<size_t>(size), &found);
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (e != 0) {
    rc = vrio_map_unix_error(e, VRIO_E_OS_ERROR);
  } else if (found == nullptr) {
    rc = VRIO_E_NOT_FOUND;
  } else {
    const char *name = name_of(record);
    char *copy = copy_of(name, std::strlen(name));
    if (copy == nullptr)
      rc = VRIO_E_OUT_OF_MEMORY;
    else
      *pname = copy;
  }
  vrio_free(buf);
  return rc;
}

vrio_t_error_code vrio_user_id_name_unix(vrio_t_uid id, char **pname, vrio_t_bits)
{
  return id_name<struct passwd>(
      _SC_GETPW_R_SIZE_MAX,
      [id](struct passwd *r, char *buf, size_t size, struct passwd **found) {
        return getpwuid_r(id, r, buf, size, found);
      },
      +[](struct passwd &r) -> const char * { return r.pw_name; }, pname);
}

vrio_t_error_code vrio_user_id_name(vrio_t_uid id, char **pname, vrio_t_bits options)
{
  return vrio_user_id_name_unix(id, pname, options);
}

vrio_t_error_code vrio_group_id_name_unix(vrio_t_gid id, char **pname, vrio_t_bits)
{
  return id_name<struct group>(
      _SC_GETGR_R_SIZE_MAX,
      [id](struct group *r, char *buf, size_t size, struct group **found) {
        return getgrgid_r(id, r, buf, size, found);
      },
      +[](struct group &r) -> const char * { return r.gr_name; }, pname);
}

vrio_t_error_code vrio_group_id_name(vrio_t_gid id, char **pname, vrio_t_bits options)
{
  return vrio_group_id_name_unix(id, pname, options);
}

vrio_t_error_code vrio_unix_path_root_len(const char *path)
{
  return path[0] == '/' ? static_cast<vrio_t_error_code>(1) : VRIO_E_FILE_NOT_ABSOLUTE;
}

vrio_t_error_code vrio_path_root_len(const char *path)
{
  return vrio_unix_path_root_len(path);
}

/* Directory listings. */

struct vrio_t_dirent_ {
  vrio_t_dir *dir;
  char *utf8_name;
  struct dirent *os_ent;
  vrio_t_bits flags; /* 1 directories only, 2 others only, 4 utf8_name allocated */
};

struct vrio_t_dir_ {
  DIR *os_dir;
  vrio_t_buf os_path_buf; /* the path and a final "/", when filtering */
  size_t os_path_len;
  vrio_t_dirent ent;
};

static void forget_name(vrio_t_dirent *ent)
{
  if (ent->flags & 4)
    vrio_free(ent->utf8_name);
  ent->utf8_name = nullptr;
  ent->flags &= ~4u;
}

vrio_t_error_code vrio_open_directory_unix(const char *path, vrio_t_dir **pdir,
                                           vrio_t_bits options)
{
  int fd;
  do
    fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd == -1 && errno == EINTR);
  if (fd == -1)
    return os_error(VRIO_E_OS_ERROR);
  vrio_t_error_code rc = vrio_unix_fd_above_standard(fd, &fd);
  if (rc < 0)
    return rc;
  auto *d = static_cast<vrio_t_dir *>(vrio_alloc(sizeof(vrio_t_dir)));
  if (d == nullptr) {
    close(fd);
    return VRIO_E_OUT_OF_MEMORY;
  }
  *d = vrio_t_dir{};
  vrio_buf_init_buf(&d->os_path_buf);
  d->os_path_buf.flags = VRIO_BUF_CALLER_RECORD;
  d->ent.dir = d;
  d->ent.flags = options & 3;
  if (options & 3) {
    rc = vrio_buf_concat_string(&d->os_path_buf, path);
    if (rc >= 0 && (d->os_path_buf.extent == 0 ||
                    d->os_path_buf.buf[d->os_path_buf.extent - 1] != '/'))
      rc = vrio_buf_push(&d->os_path_buf, '/');
    d->os_path_len = d->os_path_buf.extent;
    if (rc < 0) {
      vrio_buf_free(&d->os_path_buf);
      vrio_free(d);
      close(fd);
      return rc;
    }
  }
  d->os_dir = fdopendir(fd);
  if (d->os_dir == nullptr) {
    rc = os_error(VRIO_E_OS_ERROR);
    close(fd);
    vrio_buf_free(&d->os_path_buf);
    vrio_free(d);
    return rc;
  }
  *pdir = d;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_open_directory(const char *path, vrio_t_dir **pdir, vrio_t_bits options)
{
  return vrio_open_directory_unix(path, pdir, options);
}

/* Whether the entry passes the listing's filter (stat of its full path). */
static bool wanted_entry(vrio_t_dir *d, const char *name)
{
  vrio_t_buf *path = &d->os_path_buf;
  path->extent = d->os_path_len;
  if (vrio_buf_concat_string(path, name) < 0 || vrio_buf_push(path, '\0') < 0)
    return false;
  struct stat st;
  if (stat_path(reinterpret_cast<char *>(path->buf), &st) == -1)
    return false;
  return S_ISDIR(st.st_mode) ? (d->ent.flags & 1) != 0 : (d->ent.flags & 2) != 0;
}

vrio_t_error_code vrio_read_directory_unix(vrio_t_dir *dir, vrio_t_dirent **pent, vrio_t_bits)
{
  forget_name(&dir->ent);
  for (;;) {
    errno = 0;
    struct dirent *e = readdir(dir->os_dir);
    if (e == nullptr) {
      if (errno == EINTR)
        continue;
      return errno == 0 ? VRIO_E_NO_MORE_ENTRIES : os_error(VRIO_E_OS_ERROR);
    }
    if ((dir->ent.flags & 3) && !wanted_entry(dir, e->d_name))
      continue;
    dir->ent.os_ent = e;
    *pent = &dir->ent;
    return VRIO_S_NOERR;
  }
}

vrio_t_error_code vrio_read_directory(vrio_t_dir *dir, vrio_t_dirent **pent, vrio_t_bits options)
{
  return vrio_read_directory_unix(dir, pent, options);
}

vrio_t_error_code vrio_dirent_name_unix(vrio_t_dirent *ent, const char **pname)
{
  forget_name(ent);
  char *name;
  vrio_t_error_code rc = vrio_file_name_from_os_unix(ent->os_ent->d_name, &name, 1);
  if (rc < 0)
    return rc == VRIO_E_ENCODING_INVALID ? VRIO_E_INVALID_NAME : rc;
  if (name != ent->os_ent->d_name)
    ent->flags |= 4;
  ent->utf8_name = name;
  *pname = name;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_dirent_name(vrio_t_dirent *ent, const char **pname)
{
  return vrio_dirent_name_unix(ent, pname);
}

vrio_t_error_code vrio_close_directory_unix(vrio_t_dir *dir)
{
  if (dir == nullptr)
    return VRIO_S_NOERR;
  forget_name(&dir->ent);
  int r = closedir(dir->os_dir);
  vrio_t_error_code rc = r == -1 && errno != EINTR ? os_error(VRIO_E_OS_ERROR) : VRIO_S_NOERR;
  vrio_buf_free(&dir->os_path_buf);
  vrio_free(dir);
  return rc;
}

vrio_t_error_code vrio_close_directory(vrio_t_dir *dir)
{
  return vrio_close_directory_unix(dir);
}

vrio_t_error_code vrio_init_file(vrio_t_bits flags)
{
  vrio_free(cached_dir);
  cached_dir = nullptr;
  if (flags & 1)
    return VRIO_S_NOERR;
  return vrio_get_working_directory(&cached_dir, 2 | 4);
}
