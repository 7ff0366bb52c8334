/* vrio_process.cpp: child processes (see vrio_process.h).
 *
 * Everything the child needs (program path, argument vector, environment,
 * the three prepared descriptors, the highest descriptor to close) is made
 * before fork: between fork and exec the child of a threaded process may
 * call only async-signal-safe functions, so it allocates nothing, lists
 * no directory and reads no property.  It moves the prepared descriptors
 * above 2 first and only then onto 0, 1 and 2, so that a prepared
 * descriptor that already is one of 0-2 is not overwritten by another's
 * move, and closes the rest with close_range (a plain loop where the
 * system lacks it).
 *
 * Every descriptor the parent prepares is close-on-exec and above 2; the
 * child's copies on 0-2 are made by dup2 and so are inherited by the
 * program.  The list of released children is the engine thread's.
 */
#include "vostrel/vrio_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vrio_internal.h"

namespace {

/* Released children still to be reaped. */
vrio_t_pid *zombies = nullptr;
size_t nzombies = 0;

vrio_t_error_code os_error(int e, vrio_t_error_code fallback) { return vrio_map_unix_error(e, fallback); }

void close_fd(int &fd)
{
  if (fd >= 0)
    close(fd);
  fd = -1;
}

/* ---- What the child is given ---- */

struct child_plan {
  const char *program = nullptr;
  char **argv = nullptr;     /* one block: pointers, then the texts */
  char **envp = nullptr;     /* a compact environment, entries "k=v"; null: inherit */
  const char *cwd = nullptr;
  int fds[3] = {-1, -1, -1}; /* the child's 0, 1, 2; -1: closed */
  int close_from_limit = 0;  /* close 3 .. limit-1 when close_range is missing */
  bool setsid = false;
};

/* One argument: its list's "string" and "file" values joined. */
vrio_t_error_code argument_length(const vrio_t_property *list, size_t *plen)
{
  size_t len = 0;
  for (const vrio_t_property *p = list; p->key != nullptr; ++p) {
    if (std::strcmp(p->key, "string") != 0 && std::strcmp(p->key, "file") != 0)
      return VRIO_E_OUT_OF_MEMORY;
    if ((p->v.flags & VRIO_VARIANT_TYPE_MASK) == VRIO_VARIANT_STRING && p->v.u.string != nullptr)
      len += std::strlen(p->v.u.string);
  }
  *plen = len;
  return VRIO_S_NOERR;
}

vrio_t_error_code make_argv(const char *program, const char *cmd, bool shell,
                            const vrio_t_property *const *params, char ***pargv)
{
  const char *fixed[3] = {program, shell ? "-c" : nullptr, shell ? cmd : nullptr};
  size_t nfixed = shell ? 3 : 1;
  size_t nparams = 0;
  size_t bytes = 0;
  for (size_t i = 0; i < nfixed; ++i)
    bytes += std::strlen(fixed[i]) + 1;
  if (params != nullptr) {
    for (; params[nparams] != nullptr; ++nparams) {
      size_t len;
      vrio_t_error_code rc = argument_length(params[nparams], &len);
      if (rc < 0)
        return rc;
      bytes += len + 1;
    }
  }
  size_t n = nfixed + nparams;
  auto **argv = static_cast<char **>(vrio_alloc(sizeof(char *) * (n + 1) + bytes));
  if (argv == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  char *p = reinterpret_cast<char *>(argv + n + 1);
  size_t k = 0;
  for (size_t i = 0; i < nfixed; ++i) {
    argv[k++] = p;
    size_t len = std::strlen(fixed[i]) + 1;
    std::memcpy(p, fixed[i], len);
    p += len;
  }
  for (size_t i = 0; i < nparams; ++i) {
    argv[k++] = p;
    for (const vrio_t_property *q = params[i]; q->key != nullptr; ++q) {
      if ((q->v.flags & VRIO_VARIANT_TYPE_MASK) != VRIO_VARIANT_STRING || q->v.u.string == nullptr)
        continue;
      size_t len = std::strlen(q->v.u.string);
      std::memcpy(p, q->v.u.string, len);
      p += len;
    }
    *p++ = '\0';
  }
  argv[n] = nullptr;
  *pargv = argv;
  return VRIO_S_NOERR;
}

/* The explicit environment: the entries over the snapshot without the
   library's own properties (or over nothing), in key order.  The
   library's properties never reach a child. */
vrio_t_error_code make_envp(const char *const *entries, vrio_t_bits options, char ***penvp)
{
  bool have_entries = entries != nullptr && entries[0] != nullptr;
  if (!have_entries) {
    if (options & VRIO_PROCESS_ENV_EMPTY)
      return VRIO_E_PARAMETER_ERROR;
    return vrio_get_system_properties(penvp, nullptr, 8 | 4);
  }
  char **given = nullptr;
  size_t given_size = 0;
  vrio_t_error_code rc = vrio_make_compact_env(
      entries, &given, &given_size, (options & VRIO_PROCESS_ENV_KEY_EQ_VALUE) ? 1 : 0);
  if (rc < 0)
    return rc;
  char *empty[1] = {nullptr};
  char **base = empty;
  size_t base_size = sizeof(char *);
  if (!(options & VRIO_PROCESS_ENV_EMPTY)) {
    rc = vrio_get_system_properties(&base, &base_size, 4);
    if (rc < 0) {
      vrio_free(given);
      return rc;
    }
  }
  char **merged = nullptr;
  rc = vrio_merge_compact_envs(given, given_size, base, base_size, &merged, nullptr, 0);
  vrio_free(given);
  if (base != empty)
    vrio_free(base);
  if (rc < 0)
    return rc;
  vrio_join_compact_env_entries(merged);
  *penvp = merged;
  return VRIO_S_NOERR;
}

/* The child's descriptor i (0 input, 1 output, 2 error) by the first of
   inherit, null device, pipe that `choice` (3 bits) names; the caller's
   pipe end goes to *pmine. */
vrio_t_error_code prepare_fd(int i, vrio_t_bits choice, int *pchild, int *pmine)
{
  *pchild = -1;
  *pmine = -1;
  int fd;
  if (choice & 1) {
    fd = fcntl(i, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
      /* A standard descriptor the process has closed stays closed for
         the child. */
      if (errno == EBADF)
        return VRIO_S_NOERR;
      return os_error(errno, VRIO_E_OS_ERROR);
    }
    *pchild = fd;
    return VRIO_S_NOERR;
  }
  if (choice & 2) {
    do
      fd = open("/dev/null", (i == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
      return os_error(errno, VRIO_E_OS_ERROR);
    vrio_t_error_code rc = vrio_unix_fd_above_standard(fd, pchild);
    return rc;
  }
  if (choice & 4) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
      return os_error(errno, VRIO_E_OS_ERROR);
    int child_end = i == 0 ? ends[0] : ends[1];
    int my_end = i == 0 ? ends[1] : ends[0];
    vrio_t_error_code rc = vrio_unix_fd_above_standard(child_end, &child_end);
    if (rc < 0) {
      close(my_end);
      return rc;
    }
    rc = vrio_unix_fd_above_standard(my_end, &my_end);
    if (rc < 0) {
      close(child_end);
      return rc;
    }
    *pchild = child_end;
    *pmine = my_end;
    return VRIO_S_NOERR;
  }
  return VRIO_E_INTERNAL_ERROR;
}

/* In the child, async-signal-safe calls only.  Never returns. */
[[noreturn]] void run_child(const child_plan &plan)
{
  if (plan.setsid && setsid() < 0)
    _exit(1);
  /* The runtime ignores these; the program must not inherit that. */
  signal(SIGPIPE, SIG_DFL);
  signal(SIGVTALRM, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  /* First every prepared descriptor to 3 or above (the prepared ones
     already are, but a copy costs nothing and keeps the rule local),
     then into place: no move overwrites a descriptor still to be moved. */
  int high[3];
  for (int i = 0; i < 3; ++i) {
    high[i] = -1;
    if (plan.fds[i] >= 0 && (high[i] = fcntl(plan.fds[i], F_DUPFD, 3)) < 0)
      _exit(1);
  }
  for (int i = 0; i < 3; ++i) {
    if (high[i] < 0)
      close(i);
    else if (dup2(high[i], i) < 0)
      _exit(1);
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
    for (int fd = 3; fd < plan.close_from_limit; ++fd)
      close(fd);
  if (chdir(plan.cwd) != 0)
    _exit(1);
  if (plan.envp != nullptr)
    execve(plan.program, plan.argv, plan.envp);
  else
    execv(plan.program, plan.argv);
  _exit(1);
}

int descriptor_limit()
{
  struct rlimit r;
  if (getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY || r.rlim_cur > 1u << 20)
    return 1 << 20;
  return static_cast<int>(r.rlim_cur);
}

vrio_t_error_code fill_status(const siginfo_t &info, vrio_t_process_exit_status *pstatus)
{
  vrio_t_process_exit_status s{0, 0};
  switch (info.si_code) {
  case CLD_EXITED:
    s = {VRIO_PROCESS_EXIT_EXITED, info.si_status};
    break;
  case CLD_KILLED:
    s = {VRIO_PROCESS_EXIT_KILLED, info.si_status};
    break;
  case CLD_DUMPED:
    s = {VRIO_PROCESS_EXIT_KILLED | VRIO_PROCESS_EXIT_CORE, info.si_status};
    break;
  case CLD_STOPPED:
    s = {VRIO_PROCESS_EXIT_STOPPED, info.si_status};
    break;
  case CLD_CONTINUED:
    s = {VRIO_PROCESS_EXIT_CONTINUED, 0};
    break;
  case CLD_TRAPPED:
    s = {VRIO_PROCESS_EXIT_TRAPPED, 0};
    break;
  default:
    return VRIO_E_IMPOSSIBLE_ERROR;
  }
  if (pstatus != nullptr)
    *pstatus = s;
  return VRIO_S_NOERR;
}

vrio_t_error_code wait_error(int e)
{
  switch (e) {
  case ECHILD:
    return VRIO_E_NOT_FOUND;
  case EINVAL:
    return VRIO_E_IMPOSSIBLE_ERROR;
  case EOPNOTSUPP:
    return VRIO_E_NOT_SUPPORTED;
  default:
    return os_error(e, VRIO_E_OS_ERROR);
  }
}

void release_zombies(bool force);

vrio_t_error_code process_wait(vrio_t_os_process_handle process, const vrio_t_timespec *timeout,
                               vrio_t_process_exit_status *pstatus, vrio_t_bits options)
{
  if (!(options & VRIO_PROCESS_WAIT_SKIP_ZOMBIES))
    release_zombies(false);
  if (process <= 0)
    return VRIO_E_PARAMETER_ERROR;
  if (timeout != nullptr)
    return VRIO_E_NOT_SUPPORTED;
  const int keep = (options & VRIO_PROCESS_WAIT_REAP) ? 0 : WNOWAIT;
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  int r;
  do
    r = waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | WNOHANG | keep);
  while (r != 0 && errno == EINTR);
  if (r != 0)
    return wait_error(errno);
  if (info.si_pid == 0) {
    if (options & VRIO_PROCESS_WAIT_NOHANG)
      return VRIO_E_WOULD_BLOCK;
    for (;;) {
      std::memset(&info, 0, sizeof info);
      r = waitid(P_PID, static_cast<id_t>(process), &info, WEXITED | keep);
      if (r == 0)
        break;
      if (errno != EINTR)
        return wait_error(errno);
      if (options & VRIO_PROCESS_WAIT_INTERRUPTIBLE)
        return VRIO_E_INTERRUPTED;
    }
  }
  return fill_status(info, pstatus);
}

vrio_t_error_code remember_zombie(vrio_t_pid pid)
{
  auto *longer = static_cast<vrio_t_pid *>(vrio_alloc(sizeof(vrio_t_pid) * (nzombies + 1)));
  if (longer == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  if (nzombies > 0)
    std::memcpy(longer, zombies, sizeof(vrio_t_pid) * nzombies);
  longer[nzombies] = pid;
  vrio_free(zombies);
  zombies = longer;
  ++nzombies;
  return VRIO_S_NOERR;
}

void release_zombies(bool force)
{
  for (size_t i = 0; i < nzombies;) {
    vrio_t_error_code rc =
        process_wait(zombies[i], nullptr, nullptr,
                     VRIO_PROCESS_WAIT_NOHANG | VRIO_PROCESS_WAIT_REAP | VRIO_PROCESS_WAIT_SKIP_ZOMBIES);
    /* Reaped, or no longer ours to reap. */
    if (rc >= 0 || rc == VRIO_E_NOT_FOUND)
      zombies[i] = zombies[--nzombies];
    else
      ++i;
  }
  if (force || nzombies == 0) {
    vrio_free(zombies);
    zombies = nullptr;
    nzombies = 0;
  }
}

} // namespace

vrio_t_error_code vrio_process_create(const char *cmd, const vrio_t_property *const *params,
                                      const char *cwd, const char *const *env, int *pstdin,
                                      int *pstdout, int *pstderr,
                                      vrio_t_os_process_handle *pprocess, vrio_t_bits options)
{
  if (cmd == nullptr || cwd == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  const bool shell = (options & VRIO_PROCESS_SHELL) != 0;
  child_plan plan;
  plan.cwd = cwd;
  plan.setsid = (options & VRIO_PROCESS_SETSID) != 0;
  plan.close_from_limit = descriptor_limit();
  char *shell_path = nullptr;
  int mine[3] = {-1, -1, -1};
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (shell) {
    shell_path = vrio_get_system_property_allocate("SHELL");
    plan.program = shell_path != nullptr ? shell_path : "/bin/sh";
  } else {
    plan.program = cmd;
  }
  rc = make_argv(plan.program, cmd, shell, params, &plan.argv);
  if (rc >= 0 && (options & VRIO_PROCESS_ENV))
    rc = make_envp(env, options, &plan.envp);
  for (int i = 0; i < 3 && rc >= 0; ++i)
    rc = prepare_fd(i, (options >> (3 * i)) & 7, &plan.fds[i], &mine[i]);
  pid_t pid = -1;
  if (rc >= 0) {
    pid = fork();
    if (pid == 0)
      run_child(plan);
    if (pid < 0)
      rc = os_error(errno, VRIO_E_OS_ERROR);
  }
  for (int &fd : plan.fds)
    close_fd(fd);
  if (rc >= 0) {
    int *out[3] = {pstdin, pstdout, pstderr};
    for (int i = 0; i < 3; ++i) {
      if (out[i] != nullptr) {
        *out[i] = mine[i];
        mine[i] = -1;
      }
    }
    if (pprocess != nullptr)
      *pprocess = pid;
    else
      (void)vrio_process_release(pid, VRIO_PROCESS_RELEASE_KEEP_RUNNING);
  }
  for (int &fd : mine)
    close_fd(fd);
  vrio_free(plan.argv);
  vrio_free(plan.envp);
  vrio_free(shell_path);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_process_wait(vrio_t_os_process_handle process, const vrio_t_timespec *timeout,
                                    vrio_t_process_exit_status *pstatus, vrio_t_bits options)
{
  vrio_t_error_code rc = process_wait(process, timeout, pstatus, options);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_process_release(vrio_t_os_process_handle process, vrio_t_bits options)
{
  if (options & VRIO_PROCESS_RELEASE_NOTHING)
    return VRIO_S_NOERR;
  vrio_t_error_code rc = process_wait(
      process, nullptr, nullptr,
      VRIO_PROCESS_WAIT_NOHANG | VRIO_PROCESS_WAIT_REAP | VRIO_PROCESS_WAIT_SKIP_ZOMBIES);
  if (rc == VRIO_E_WOULD_BLOCK) {
    if (!(options & VRIO_PROCESS_RELEASE_KEEP_RUNNING))
      return VRIO_E_WOULD_BLOCK;
    return remember_zombie(process);
  }
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_process_kill(vrio_t_os_process_handle process, int signal, vrio_t_bits)
{
  /* Never 0 or below: that would signal a process group. */
  if (process <= 0)
    return VRIO_E_PARAMETER_ERROR;
  if (kill(process, signal) == 0)
    return VRIO_S_NOERR;
  switch (errno) {
  case EPERM:
    return VRIO_E_PERMISSION_ERROR;
  case ESRCH:
    return VRIO_E_NOT_FOUND;
  case EINVAL:
    return VRIO_E_PARAMETER_ERROR;
  default:
    return os_error(errno, VRIO_E_OS_ERROR);
  }
}

vrio_t_error_code vrio_process_self_id(vrio_t_pid *ppid)
{
  *ppid = getpid();
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_process_id(vrio_t_os_process_handle process, vrio_t_pid *ppid)
{
  if (process <= 0)
    return VRIO_E_PARAMETER_ERROR;
  *ppid = process;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_process_from_id(vrio_t_pid pid, vrio_t_os_process_handle *pprocess)
{
  if (pid <= 0)
    return VRIO_E_PARAMETER_ERROR;
  *pprocess = pid;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_init_children(vrio_t_bits options)
{
  if (options & 1)
    release_zombies(true);
  else {
    vrio_free(zombies);
    zombies = nullptr;
    nzombies = 0;
  }
  return VRIO_S_NOERR;
}
