/* vrio_socket.h: stream sockets of the I/O library.
 *
 * A socket is a plain descriptor (vrio_t_socket), never 0, 1 or 2;
 * streams are made over connected sockets by the descriptor layers.
 * Listening is on a TCP port (IPv4 only) or a Unix-domain path; connecting
 * tries every address name resolution gives.  Every failure leaves no
 * socket behind: a half-made one is closed abortively.  Strings returned
 * are the caller's, freed with vrio_free.
 *
 * No shared state; any thread.  A connect on the library's main thread
 * waits interruptibly (VRIO_E_INTERRUPTED) for the connection.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_SOCKET_H
#define VOSTREL_VRIO_SOCKET_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int vrio_t_socket;

/* Options of vrio_socket_cntl: each pair picks one of two settings, a pair
   with neither bit leaves the setting alone. */
#define VRIO_SOCKET_BLOCKING 0x1u
#define VRIO_SOCKET_NONBLOCKING 0x2u
#define VRIO_SOCKET_NODELAY_OFF 0x4u
#define VRIO_SOCKET_NODELAY_ON 0x8u /* a failure is ignored */
#define VRIO_SOCKET_REUSEADDR 0x10u
#define VRIO_SOCKET_NO_REUSEADDR 0x20u
#define VRIO_SOCKET_INHERITABLE 0x40u
#define VRIO_SOCKET_CLOEXEC 0x80u

/* Options of vrio_socket_listener. */
#define VRIO_LISTEN_LOOPBACK 0x1u     /* only the loopback interface */
#define VRIO_LISTEN_NUMERIC_HOST 0x2u /* nodename is a numeric address */
#define VRIO_LISTEN_NUMERIC_SERV 0x4u /* the service is a number */
#define VRIO_LISTEN_REUSEADDR 0x8u    /* reuse the address (a Unix path: delete it first) */
#define VRIO_LISTEN_UNIX 0x10u        /* a Unix-domain socket at the path nodename */

/* Option of vrio_socket_connect: a Unix-domain socket at the path nodename. */
#define VRIO_CONNECT_UNIX 0x1u

/* Options of vrio_socket_close and vrio_socket_shutdown. */
#define VRIO_SOCKET_CLOSE_ABORTIVE 0x1u /* reset the connection, errors ignored */
#define VRIO_SOCKET_SHUT_READ 0x1u
#define VRIO_SOCKET_SHUT_WRITE 0x2u

vrio_t_error_code vrio_socket_cntl(vrio_t_socket sock, vrio_t_bits options);
/* A listening, non-blocking, close-on-exec socket.  For TCP the port bound
   is written into servname_buf (when servname_buf_size is not 0); an empty
   node and service listen on a port the system picks. */
vrio_t_error_code vrio_socket_listener(const char *nodename, char *servname_buf,
                                       size_t servname_buf_size, vrio_t_socket *psocket,
                                       vrio_t_bits options);
/* One connection from a listener: VRIO_E_WOULD_BLOCK when none waits.  The
   new socket is blocking, close-on-exec (option 1: inheritable) and, over
   TCP, without Nagle's delay; the peer's numeric address and port go to
   *pnode_addr and *pserv_addr when those are not null ("localhost" and ""
   for a Unix-domain peer). */
vrio_t_error_code vrio_socket_accept(vrio_t_socket listener, char **pnode_addr, char **pserv_addr,
                                     vrio_t_socket *psocket, vrio_t_bits options);
/* A connected, blocking, close-on-exec socket; an empty node is this host. */
vrio_t_error_code vrio_socket_connect(const char *nodename, const char *servname,
                                      vrio_t_socket *psocket, vrio_t_bits options);
vrio_t_error_code vrio_socket_close(vrio_t_socket sock, vrio_t_bits options);
/* A peer that is gone (or a socket never connected) is not an error. */
vrio_t_error_code vrio_socket_shutdown(vrio_t_socket sock, vrio_t_bits options);
/* This host's name, in lower case. */
vrio_t_error_code vrio_hostname(char **pnodename);
/* 1 when both addresses have the same family, length and IP address (ports
   are not compared), 0 when not or a length is 1 or less,
   VRIO_E_NOT_SUPPORTED for a family other than IPv4 and IPv6. */
vrio_t_error_code vrio_socket_addr_equal(const void *a, size_t a_len, const void *b, size_t b_len);

/* Module start (0) and stop (1): nothing to do. */
vrio_t_error_code vrio_init_socket(vrio_t_bits flags);

#ifdef __cplusplus
}
#endif

#endif
