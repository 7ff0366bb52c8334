/* vrio_socket.cpp: stream sockets (listen, accept, connect, close,
 * shutdown) and this host's name.
 *
 * Invariants: a socket handed out is never one of the standard
 * descriptors and is close-on-exec unless the caller asked otherwise (the
 * flag is set when the socket is made, so a child started meanwhile never
 * inherits it); every failure closes what it made, abortively.  Listeners
 * are non-blocking, so an accept with no client waiting answers
 * VRIO_E_WOULD_BLOCK; a connect waits for the connection in an event wait,
 * which an interrupt breaks on the main thread.
 *
 * Callers: the socket built-ins and socket streams of the runtime, the
 * descriptor layers (shutdown of a socket's closing half).
 */
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "vrio_internal.h"
#include "vostrel/vrio_socket.h"

namespace {

constexpr size_t unix_path_room = sizeof(sockaddr_un{}.sun_path); /* with the NUL */

vrio_t_error_code socket_error(int err) { return vrio_map_unix_error(err, VRIO_E_OS_ERROR); }

vrio_t_error_code map_gai_res(int res, int err)
{
  switch (res) {
  case EAI_NONAME:
  case EAI_AGAIN:
#ifdef EAI_NODATA
  case EAI_NODATA:
#endif
    return VRIO_E_NET_HOST_NOT_FOUND;
  case EAI_SYSTEM:
    return err == 0 ? VRIO_E_NET_ERROR : vrio_map_unix_error(err, VRIO_E_NET_ERROR);
  default:
    return VRIO_E_NET_ERROR;
  }
}

/* getaddrinfo, once more without AI_ADDRCONFIG if the flags are refused. */
vrio_t_error_code resolve(const char *node, const char *serv, addrinfo *hints, addrinfo **pres)
{
  int res;
  do {
    errno = 0;
    res = getaddrinfo(node, serv, hints, pres);
    if (res == EAI_BADFLAGS && (hints->ai_flags & AI_ADDRCONFIG)) {
      hints->ai_flags &= ~AI_ADDRCONFIG;
      continue;
    }
  } while (res == EAI_SYSTEM && errno == EINTR);
  return res == 0 ? VRIO_S_NOERR : map_gai_res(res, errno);
}

/* A new socket, close-on-exec from birth and above the standard
   descriptors. */
vrio_t_error_code new_socket(int family, int type, int protocol, vrio_t_socket *psock)
{
  int fd = socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd == -1)
    return socket_error(errno);
  vrio_t_error_code rc = vrio_unix_fd_above_standard(fd, &fd);
  if (rc < 0)
    return rc;
  *psock = fd;
  return VRIO_S_NOERR;
}

/* Options of vrio_socket_create. */
constexpr vrio_t_bits create_reuse = 0x1, create_bind = 0x2, create_listen = 0x4,
                      create_nonblocking = 0x8, create_inheritable = 0x10;

vrio_t_error_code socket_create(const sockaddr *addr, socklen_t addrlen, int family, int type,
                                int protocol, vrio_t_socket *psock, vrio_t_bits options)
{
  vrio_t_socket sock = -1;
  vrio_t_error_code rc = new_socket(family, type, protocol, &sock);
  if (rc < 0)
    return rc;
  rc = vrio_socket_cntl(sock, ((options & create_inheritable) ? VRIO_SOCKET_INHERITABLE
                                                               : VRIO_SOCKET_CLOEXEC) |
                                  ((options & create_reuse) ? VRIO_SOCKET_REUSEADDR
                                                            : VRIO_SOCKET_NO_REUSEADDR));
  if (rc >= 0 && (options & create_bind) && bind(sock, addr, addrlen) == -1)
    rc = socket_error(errno);
  if (rc >= 0 && (options & create_listen) && listen(sock, 10) == -1)
    rc = socket_error(errno);
  if (rc >= 0)
    rc = vrio_socket_cntl(sock, (options & create_nonblocking) ? VRIO_SOCKET_NONBLOCKING
                                                               : VRIO_SOCKET_BLOCKING);
  if (rc < 0) {
    vrio_socket_close(sock, VRIO_SOCKET_CLOSE_ABORTIVE);
    return rc;
  }
  *psock = sock;
  return VRIO_S_NOERR;
}

vrio_t_error_code unix_address(const char *path, sockaddr_un *sa)
{
  if (path == nullptr || std::strlen(path) + 1 > unix_path_room)
    return VRIO_E_PARAMETER_ERROR;
  *sa = sockaddr_un{};
  sa->sun_family = AF_UNIX;
  std::memcpy(sa->sun_path, path, std::strlen(path) + 1);
  return VRIO_S_NOERR;
}

vrio_t_error_code tcp_listener(const char *nodename, char *servname_buf, size_t servname_buf_size,
                               vrio_t_socket *psocket, vrio_t_bits options)
{
  addrinfo hints{};
  hints.ai_flags = AI_ADDRCONFIG;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  const char *node = (options & VRIO_LISTEN_LOOPBACK) || nodename == nullptr || *nodename == '\0'
                         ? nullptr
                         : nodename;
  const char *serv = servname_buf != nullptr && *servname_buf != '\0' ? servname_buf : nullptr;
  if ((nodename == nullptr || *nodename == '\0') && !(options & VRIO_LISTEN_LOOPBACK))
    hints.ai_flags |= AI_PASSIVE;
  if (options & VRIO_LISTEN_NUMERIC_HOST)
    hints.ai_flags |= AI_NUMERICHOST;
  if (options & VRIO_LISTEN_NUMERIC_SERV)
    hints.ai_flags |= AI_NUMERICSERV;
  if (node == nullptr && serv == nullptr) {
    /* Neither: the system picks a free port. */
    node = (options & VRIO_LISTEN_LOOPBACK) ? "127.0.0.1" : "0.0.0.0";
    hints.ai_flags |= AI_NUMERICHOST;
  }
  addrinfo *res = nullptr;
  vrio_t_error_code rc = resolve(node, serv, &hints, &res);
  if (rc < 0)
    return rc;
  vrio_t_error_code last = VRIO_E_INTERNAL_ERROR;
  bool seen_ipv4 = false;
  vrio_t_socket sock = -1;
  for (addrinfo *ai = res; ai != nullptr && sock == -1; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET) {
      if (!seen_ipv4)
        last = VRIO_E_NOT_SUPPORTED;
      continue;
    }
    seen_ipv4 = true;
    char host[NI_MAXHOST], port[NI_MAXSERV];
    int gai = getnameinfo(ai->ai_addr, ai->ai_addrlen, host, sizeof host, port, sizeof port,
                          NI_NUMERICHOST | NI_NUMERICSERV);
    if (gai != 0) {
      last = map_gai_res(gai, errno);
      continue;
    }
    vrio_t_socket s = -1;
    rc = socket_create(ai->ai_addr, ai->ai_addrlen, ai->ai_family, SOCK_STREAM, ai->ai_protocol,
                       &s,
                       create_bind | create_listen | create_nonblocking |
                           ((options & VRIO_LISTEN_REUSEADDR) ? create_reuse : 0));
    if (rc < 0)
      last = rc;
    else
      sock = s;
  }
  freeaddrinfo(res);
  if (sock == -1)
    return last;
  if (servname_buf_size != 0) {
    sockaddr_storage own{};
    socklen_t len = sizeof own;
    char port[NI_MAXSERV];
    if (getsockname(sock, reinterpret_cast<sockaddr *>(&own), &len) == 0 &&
        getnameinfo(reinterpret_cast<sockaddr *>(&own), len, nullptr, 0, port, sizeof port,
                    NI_NUMERICSERV) == 0 &&
        std::strlen(port) < servname_buf_size)
      std::memcpy(servname_buf, port, std::strlen(port) + 1);
    else
      servname_buf[0] = '\0';
  }
  *psocket = sock;
  return VRIO_S_NOERR;
}

/* One connection attempt on a new socket: non-blocking connect, then a
   wait for writability and the socket's pending error. */
vrio_t_error_code connect_attempt(vrio_t_socket sock, const sockaddr *addr, socklen_t len)
{
  vrio_t_error_code rc = vrio_socket_cntl(sock, VRIO_SOCKET_NONBLOCKING);
  if (rc < 0)
    return rc;
  if (connect(sock, addr, len) == -1) {
    if (errno == EINPROGRESS || errno == EINTR) {
      vrio_t_event *e = nullptr;
      rc = vrio_fd_event_new(-1, sock, 0, &e);
      if (rc >= 0) {
        rc = vrio_event_wait(&e, 1, nullptr);
        vrio_event_free(e);
      }
      if (rc >= 0) {
        int err = 0;
        socklen_t errlen = sizeof err;
        if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &errlen) == -1)
          err = errno;
        rc = err == 0 ? VRIO_S_NOERR : socket_error(err);
      }
    } else {
      rc = socket_error(errno);
    }
  }
  vrio_t_error_code rc2 = vrio_socket_cntl(sock, VRIO_SOCKET_BLOCKING);
  return rc < 0 ? rc : rc2;
}

} // namespace

vrio_t_error_code vrio_socket_cntl(vrio_t_socket sock, vrio_t_bits options)
{
  if (options & (VRIO_SOCKET_BLOCKING | VRIO_SOCKET_NONBLOCKING)) {
    int fl = fcntl(sock, F_GETFL);
    if (fl == -1)
      return socket_error(errno);
    int want = (options & VRIO_SOCKET_BLOCKING) ? fl & ~O_NONBLOCK : fl | O_NONBLOCK;
    if (want != fl && fcntl(sock, F_SETFL, want) == -1)
      return socket_error(errno);
  }
  if (options & (VRIO_SOCKET_NODELAY_OFF | VRIO_SOCKET_NODELAY_ON)) {
    int on = (options & VRIO_SOCKET_NODELAY_OFF) ? 0 : 1;
    if (setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == -1 && on == 0)
      return socket_error(errno);
  }
  if (options & VRIO_SOCKET_REUSEADDR) {
    int on = 1;
    if (setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1)
      return socket_error(errno);
  }
  if (options & (VRIO_SOCKET_INHERITABLE | VRIO_SOCKET_CLOEXEC)) {
    vrio_t_error_code rc =
        vrio_unix_SETFD(sock, FD_CLOEXEC, (options & VRIO_SOCKET_INHERITABLE) ? 0 : FD_CLOEXEC);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_socket_listener(const char *nodename, char *servname_buf,
                                       size_t servname_buf_size, vrio_t_socket *psocket,
                                       vrio_t_bits options)
{
  if (psocket == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  if (!(options & VRIO_LISTEN_UNIX))
    return tcp_listener(nodename, servname_buf, servname_buf_size, psocket, options);
  sockaddr_un sa;
  vrio_t_error_code rc = unix_address(nodename, &sa);
  if (rc < 0)
    return rc;
  if (options & VRIO_LISTEN_REUSEADDR)
    vrio_delete_file(nodename, 0);
  return socket_create(reinterpret_cast<sockaddr *>(&sa), sizeof sa, AF_UNIX, SOCK_STREAM, 0,
                       psocket, create_bind | create_listen | create_nonblocking);
}

vrio_t_error_code vrio_socket_accept(vrio_t_socket listener, char **pnode_addr, char **pserv_addr,
                                     vrio_t_socket *psocket, vrio_t_bits options)
{
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  int fd;
  do
    fd = accept4(listener, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_CLOEXEC);
  while (fd == -1 && errno == EINTR);
  if (fd == -1)
    return errno == EWOULDBLOCK ? VRIO_E_WOULD_BLOCK : socket_error(errno);
  vrio_t_error_code rc = vrio_unix_fd_above_standard(fd, &fd);
  if (rc < 0)
    return rc;
  const bool unix_peer = peer.ss_family == AF_UNIX;
  rc = vrio_socket_cntl(fd, VRIO_SOCKET_BLOCKING | (unix_peer ? 0 : VRIO_SOCKET_NODELAY_ON) |
                                ((options & 1) ? VRIO_SOCKET_INHERITABLE : VRIO_SOCKET_CLOEXEC));
  char host[NI_MAXHOST] = "localhost", port[NI_MAXSERV] = "";
  if (rc >= 0 && !unix_peer) {
    int gai = getnameinfo(reinterpret_cast<sockaddr *>(&peer), len, host, sizeof host, port,
                          sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    if (gai != 0)
      rc = map_gai_res(gai, errno);
  }
  char *h = nullptr, *p = nullptr;
  if (rc >= 0 && pnode_addr != nullptr && (h = vrio_alloc_string(host)) == nullptr)
    rc = VRIO_E_OUT_OF_MEMORY;
  if (rc >= 0 && pserv_addr != nullptr && (p = vrio_alloc_string(port)) == nullptr)
    rc = VRIO_E_OUT_OF_MEMORY;
  if (rc < 0) {
    vrio_free(h);
    vrio_socket_close(fd, VRIO_SOCKET_CLOSE_ABORTIVE);
    return rc;
  }
  if (pnode_addr != nullptr)
    *pnode_addr = h;
  if (pserv_addr != nullptr)
    *pserv_addr = p;
  *psocket = fd;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_socket_connect(const char *nodename, const char *servname,
                                      vrio_t_socket *psocket, vrio_t_bits options)
{
  if (psocket == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  vrio_t_socket sock = -1;
  vrio_t_error_code rc;
  if (options & VRIO_CONNECT_UNIX) {
    sockaddr_un sa;
    rc = unix_address(nodename, &sa);
    if (rc < 0)
      return rc;
    rc = socket_create(nullptr, 0, AF_UNIX, SOCK_STREAM, 0, &sock, 0);
    if (rc < 0)
      return rc;
    rc = connect_attempt(sock, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    if (rc >= 0)
      rc = vrio_socket_cntl(sock, VRIO_SOCKET_BLOCKING | VRIO_SOCKET_CLOEXEC);
  } else {
    addrinfo hints{};
    hints.ai_flags = AI_ADDRCONFIG;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *res = nullptr;
    rc = resolve(nodename != nullptr && *nodename != '\0' ? nodename : nullptr,
                 servname != nullptr && *servname != '\0' ? servname : nullptr, &hints, &res);
    if (rc < 0)
      return rc;
    rc = VRIO_E_ERROR; /* an empty result */
    for (addrinfo *ai = res; ai != nullptr; ai = ai->ai_next) {
      rc = socket_create(nullptr, 0, ai->ai_family, SOCK_STREAM, ai->ai_protocol, &sock, 0);
      if (rc < 0)
        continue;
      rc = connect_attempt(sock, ai->ai_addr, ai->ai_addrlen);
      if (rc >= 0)
        break;
      vrio_socket_close(sock, VRIO_SOCKET_CLOSE_ABORTIVE);
      sock = -1;
    }
    freeaddrinfo(res);
    if (rc >= 0)
      rc = vrio_socket_cntl(sock, VRIO_SOCKET_BLOCKING | VRIO_SOCKET_CLOEXEC |
                                      VRIO_SOCKET_NODELAY_ON);
  }
  if (rc < 0) {
    if (sock != -1)
      vrio_socket_close(sock, VRIO_SOCKET_CLOSE_ABORTIVE);
    return rc;
  }
  *psocket = sock;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_socket_close(vrio_t_socket sock, vrio_t_bits options)
{
  const bool abortive = (options & VRIO_SOCKET_CLOSE_ABORTIVE) != 0;
  if (abortive) {
    linger off = {1, 0};
    setsockopt(sock, SOL_SOCKET, SO_LINGER, &off, sizeof off);
  }
  vrio_t_error_code rc = vrio_os_file_handle_close_unix(sock, abortive ? 1 | 2 : 2);
  return abortive ? VRIO_S_NOERR : rc;
}

vrio_t_error_code vrio_socket_shutdown(vrio_t_socket sock, vrio_t_bits options)
{
  const vrio_t_bits halves = options & (VRIO_SOCKET_SHUT_READ | VRIO_SOCKET_SHUT_WRITE);
  if (halves == 0)
    return VRIO_S_NOERR;
  const int how = halves == VRIO_SOCKET_SHUT_READ    ? SHUT_RD
                  : halves == VRIO_SOCKET_SHUT_WRITE ? SHUT_WR
                                                     : SHUT_RDWR;
  while (shutdown(sock, how) == -1) {
    if (errno == EINTR)
      continue;
    vrio_t_error_code rc = socket_error(errno);
    if (rc != VRIO_E_NET_CONNRESET && rc != VRIO_E_PARAMETER_ERROR)
      return rc;
    break;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_hostname(char **pnodename)
{
  if (pnodename == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  size_t room = 255;
  char *name = nullptr;
  for (;;) {
    name = static_cast<char *>(vrio_alloc(room + 1));
    if (name == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    std::memset(name, 0, room + 1);
    if (gethostname(name, room) == -1 && errno != ENAMETOOLONG) {
      vrio_free(name);
      return socket_error(errno);
    }
    if (std::strlen(name) < room)
      break;
    /* It may have been cut: try again with twice the room. */
    vrio_free(name);
    room *= 2;
  }
  if (std::strchr(name, '.') == nullptr) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME | AI_ADDRCONFIG;
    hints.ai_family = AF_UNSPEC;
    addrinfo *res = nullptr;
    vrio_t_error_code rc = resolve(name, nullptr, &hints, &res);
    if (rc < 0) {
      vrio_free(name);
      return rc;
    }
    if (res != nullptr && res->ai_canonname != nullptr && res->ai_canonname[0] != '\0') {
      char *canon = vrio_alloc_string(res->ai_canonname);
      if (canon == nullptr) {
        freeaddrinfo(res);
        vrio_free(name);
        return VRIO_E_OUT_OF_MEMORY;
      }
      vrio_free(name);
      name = canon;
    }
    freeaddrinfo(res);
  }
  for (char *c = name; *c != '\0'; c++)
    if (*c >= 'A' && *c <= 'Z')
      *c = static_cast<char>(*c - 'A' + 'a');
  *pnodename = name;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_socket_addr_equal(const void *a, size_t a_len, const void *b, size_t b_len)
{
  if (a_len <= 1 || b_len <= 1 || a_len != b_len)
    return VRIO_S_FALSE;
  const auto *sa = static_cast<const sockaddr *>(a);
  const auto *sb = static_cast<const sockaddr *>(b);
  if (sa->sa_family != sb->sa_family)
    return VRIO_S_FALSE;
  bool same;
  if (sa->sa_family == AF_INET)
    same = std::memcmp(&static_cast<const sockaddr_in *>(a)->sin_addr,
                       &static_cast<const sockaddr_in *>(b)->sin_addr, sizeof(in_addr)) == 0;
  else if (sa->sa_family == AF_INET6)
    same = std::memcmp(&static_cast<const sockaddr_in6 *>(a)->sin6_addr,
                       &static_cast<const sockaddr_in6 *>(b)->sin6_addr, sizeof(in6_addr)) == 0;
  else
    return VRIO_E_NOT_SUPPORTED;
  return same ? VRIO_S_TRUE : VRIO_S_FALSE;
}

vrio_t_error_code vrio_init_socket(vrio_t_bits) { return VRIO_S_NOERR; }
