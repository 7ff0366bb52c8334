/* socket_streams.cpp: socket streams and the socket built-ins.
 *
 * A connected socket becomes one Prolog stream, input and output at once,
 * over the descriptor layers (VR_create_os_stream), binary or text (the
 * encoding term's charset, ISO-8859-1 by default; end of line auto when
 * reading, lf when writing).  The stream owns the socket: closing the
 * stream shuts the socket down and closes it.  Listening sockets stay
 * plain descriptors that Prolog holds as integers.
 *
 * The built-ins take their options in the stream mode word (streams.h,
 * SM_) plus an address-family field in bits 20 and 21, where 3 means a
 * Unix-domain socket at the path given as the host.  An interrupted wait
 * fails quietly (the *_fail_on_interrupt convention: the Prolog caller
 * lets the engine handle the interrupt and calls again); every other
 * failure raises the I/O library's error against argument 1.  Whatever a
 * built-in made before it failed (listener, accepted socket, stream) is
 * closed.  Only listeners that $socket_listen made are accepted on or
 * closed by number: any other integer (a standard descriptor, a stream's
 * own socket) is left alone, so a wrong number cannot pull a descriptor
 * from under a live stream.
 *
 * Callers: library(sockets) through the $ built-ins of module prolog;
 * foreign code through VR_open_socket_stream.  Engine thread only.
 */
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "streams.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr unsigned FAMILY_SHIFT = 20;
constexpr unsigned FAMILY_UNIX = 3;

/* Options of vr_open_socket_stream and vr_socket_connect_stream. */
constexpr unsigned SOCKET_STREAM_TEXT = 0x2;
constexpr unsigned SOCKET_STREAM_ENCODING = 0x4;
constexpr unsigned SOCKET_STREAM_UNIX = 0x8;

/* The mode bits set on a stream after it is made; a connected one may
   also be a standard stream. */
constexpr std::uint32_t ACCEPTED_STREAM_BITS = SM_EOF_CODE | SM_EOF_RESET | SM_CLOSE_CLEANUP | SM_LINE_FLUSHED;

/* The listeners $socket_listen made and $socket_close has not closed. */
std::vector<int> listeners;

bool is_listener(std::int64_t fd)
{
  return std::find(listeners.begin(), listeners.end(), fd) != listeners.end();
}

unsigned family_of(std::int64_t bits) { return static_cast<unsigned>(bits >> FAMILY_SHIFT) & 3; }

/* A service given as an atom or an integer, into buf (32 bytes). */
vrio_t_error_code service_text(TAGGED port, char *buf, vrio_t_error_code too_long_atom)
{
  port = deref(port);
  std::int64_t n;
  if (IsAtom(port)) {
    const char *text = atom_name(port);
    if (std::strlen(text) > 31)
      return too_long_atom;
    std::memcpy(buf, text, std::strlen(text) + 1);
    return VRIO_S_NOERR;
  }
  if (word_integer(port, &n)) {
    const int len = std::snprintf(buf, 32, "%lld", static_cast<long long>(n));
    return len < 0 || len > 31 ? VRIO_E_INTERNAL_ERROR : VRIO_S_NOERR;
  }
  return VRIO_E_INTERNAL_ERROR;
}

/* Text as an atom; "" for none.  0 when the atom cannot be made. */
TAGGED text_atom(const char *text) { return init_atom_check(text != nullptr ? text : "", 0); }

/* A built-in's failure: quiet for an interrupt, else raised. */
int socket_failure(vrio_t_error_code rc, int writeop, const char *name, int arity)
{
  if (rc != VRIO_E_INTERRUPTED)
    raise_vrio_error(rc, writeop, name, arity, 1);
  return 0;
}

} // namespace

vrio_t_error_code vr_open_socket_stream(int sock, TAGGED encoding, VR_stream **pstream,
                                        unsigned options)
{
  VR_stream *s = nullptr;
  const bool has_encoding = (options & SOCKET_STREAM_ENCODING) && encoding != 0;
  vrio_t_error_code rc = VR_create_os_stream(
      sock, &s, has_encoding ? encoding : 0,
      0x1 | 0x2 | ((options & SOCKET_STREAM_TEXT) ? 0x8 : 0x4) | (has_encoding ? 0x40000 : 0));
  if (rc < 0) {
    if (s != nullptr)
      vr_fclose_internal(s, VR_CLOSE_FORCE);
    return rc;
  }
  *pstream = s;
  return VRIO_S_NOERR;
}

vrio_t_error_code vr_socket_connect_stream(const char *host, const char *service, TAGGED encoding,
                                           VR_stream **pstream, unsigned options)
{
  vrio_t_socket sock = -1;
  vrio_t_error_code rc =
      vrio_socket_connect(host, service, &sock, (options & SOCKET_STREAM_UNIX) ? VRIO_CONNECT_UNIX : 0);
  if (rc < 0)
    return rc;
  rc = vr_open_socket_stream(sock, encoding, pstream, options & 0x7);
  if (rc < 0)
    vrio_socket_close(sock, VRIO_SOCKET_CLOSE_ABORTIVE);
  return rc;
}

vrio_t_error_code VR_open_socket_stream(const char *host, const char *service, TAGGED encoding,
                                        VR_stream **pstream, unsigned options)
{
  return vr_socket_connect_stream(host, service, encoding, pstream, options);
}

/* $hostname(-Host, -Domain) */
int prolog_hostname(worker *w)
{
  char *name = nullptr;
  if (vrio_hostname(&name) < 0)
    return 0;
  const char *dot = std::strchr(name, '.');
  const TAGGED host = text_atom(name), domain = text_atom(dot);
  vrio_free(name);
  return host != 0 && domain != 0 && cunify(w, w->term[0], host) && cunify(w, w->term[1], domain);
}

/* $socket_open_fail_on_interrupt(+Host, +Port, +Bits, +Encoding, -Stream) */
int prolog_socket_open_fail_on_interrupt(worker *w)
{
  constexpr const char *name = "$socket_open";
  std::int64_t bits;
  if (!word_integer(w->term[2], &bits))
    return socket_failure(VRIO_E_INTERNAL_ERROR, 1, name, 5);
  if (bits < 0 || !(bits & (SM_BINARY | SM_TEXT)))
    return socket_failure(VRIO_E_PARAMETER_ERROR, 1, name, 5);
  const TAGGED host = deref(w->term[0]);
  if (!IsAtom(host))
    return socket_failure(VRIO_E_INTERNAL_ERROR, 1, name, 5);
  char service[32];
  vrio_t_error_code rc = service_text(w->term[1], service, VRIO_E_INTERNAL_ERROR);
  if (rc < 0)
    return socket_failure(rc, 1, name, 5);
  const TAGGED encoding = deref(w->term[3]);
  const unsigned options = ((bits & SM_TEXT) ? SOCKET_STREAM_TEXT : 0) |
                           (encoding != atom_nil ? SOCKET_STREAM_ENCODING : 0) |
                           (family_of(bits) == FAMILY_UNIX ? SOCKET_STREAM_UNIX : 0);
  VR_stream *s = nullptr;
  rc = vr_socket_connect_stream(atom_name(host), service, encoding, &s, options);
  if (rc < 0)
    return socket_failure(rc, 1, name, 5);
  add_stream_mode_bits(s, static_cast<std::uint32_t>(bits) & (ACCEPTED_STREAM_BITS | SM_STANDARD));
  if (!cunify(w, w->term[4], stream_address_term(w, s))) {
    vr_fclose_internal(s, VR_CLOSE_FORCE);
    return 0;
  }
  return 1;
}

/* $socket_listen_fail_on_interrupt(+Host, ?Port, +Bits, _, -Socket) */
int prolog_socket_listen_fail_on_interrupt(worker *w)
{
  constexpr const char *name = "$socket_listen";
  std::int64_t bits;
  if (!word_integer(w->term[2], &bits) || bits < 0)
    return socket_failure(VRIO_E_INTERNAL_ERROR, 1, name, 5);
  const vrio_t_bits options =
      static_cast<vrio_t_bits>(bits & 0xF) | (family_of(bits) == FAMILY_UNIX ? VRIO_LISTEN_UNIX : 0);
  const TAGGED host = deref(w->term[0]);
  if (!IsAtom(host))
    return socket_failure(VRIO_E_INTERNAL_ERROR, 1, name, 5);
  char service[32] = "";
  const bool any_port = IsVar(deref(w->term[1]));
  if (!any_port) {
    vrio_t_error_code rc = service_text(w->term[1], service, VRIO_E_PARAMETER_ERROR);
    if (rc < 0)
      return socket_failure(rc, 1, name, 5);
  }
  vrio_t_socket sock = -1;
  vrio_t_error_code rc = vrio_socket_listener(atom_name(host), service, sizeof service, &sock, options);
  if (rc < 0)
    return socket_failure(rc, 1, name, 5);
  bool ok = true;
  if (any_port) {
    TAGGED port = text_atom(service);
    if (port == 0)
      port = text_atom("VRIO ERROR UNKNOWN");
    ok = port != 0 && cunify(w, w->term[1], port);
  }
  if (ok)
    ok = cunify(w, w->term[4], MakeSmall_checked(sock));
  if (!ok)
    vrio_socket_close(sock, 0);
  else
    listeners.push_back(sock);
  return ok;
}

/* $socket_accept_fail_on_interrupt(+Listener, +Bits, +Encoding, -Host, -Port, -Stream) */
int prolog_socket_accept_fail_on_interrupt(worker *w)
{
  constexpr const char *name = "$socket_accept";
  std::int64_t listener, bits;
  if (!word_integer(w->term[0], &listener) || !word_integer(w->term[1], &bits))
    return socket_failure(VRIO_E_INTERNAL_ERROR, 0, name, 6);
  if (bits < 0 || !(bits & (SM_BINARY | SM_TEXT)) || !is_listener(listener))
    return socket_failure(VRIO_E_PARAMETER_ERROR, 0, name, 6);
  char *peer_host = nullptr, *peer_service = nullptr;
  vrio_t_socket sock = -1;
  vrio_t_error_code rc;
  for (;;) {
    rc = vrio_socket_accept(static_cast<vrio_t_socket>(listener), &peer_host, &peer_service, &sock, 0);
    if (rc != VRIO_E_WOULD_BLOCK)
      break;
    int fd = static_cast<int>(listener);
    unsigned nfds = 1;
    rc = VR_select(&fd, &nfds, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    if (rc < 0)
      break;
  }
  if (rc < 0)
    return socket_failure(rc, 0, name, 6);
  const TAGGED host = text_atom(peer_host), service = text_atom(peer_service);
  vrio_free(peer_host);
  vrio_free(peer_service);
  const TAGGED encoding = deref(w->term[2]);
  VR_stream *s = nullptr;
  rc = vr_open_socket_stream(sock,
                             encoding, &s,
                             ((bits & SM_TEXT) ? SOCKET_STREAM_TEXT : 0) |
                                 (encoding != atom_nil ? SOCKET_STREAM_ENCODING : 0));
  if (rc < 0) {
    vrio_socket_close(sock, VRIO_SOCKET_CLOSE_ABORTIVE);
    return socket_failure(rc, 0, name, 6);
  }
  add_stream_mode_bits(s, static_cast<std::uint32_t>(bits) & ACCEPTED_STREAM_BITS);
  if (host == 0 || service == 0 || !cunify(w, w->term[3], host) || !cunify(w, w->term[4], service) ||
      !cunify(w, w->term[5], stream_address_term(w, s))) {
    vr_fclose_internal(s, VR_CLOSE_FORCE);
    return 0;
  }
  return 1;
}

/* $socket_close(+Socket) */
int prolog_socket_close(worker *w)
{
  std::int64_t sock;
  if (word_integer(w->term[0], &sock) && is_listener(sock)) {
    listeners.erase(std::find(listeners.begin(), listeners.end(), sock));
    vrio_socket_close(static_cast<vrio_t_socket>(sock), 0);
  }
  return 1;
}
