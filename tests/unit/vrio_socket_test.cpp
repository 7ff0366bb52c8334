// The I/O library's sockets: listening on a port the system picks,
// accepting with the peer's address, refused connections, Unix-domain
// paths at their length limit and left over from an earlier listener, an
// abortive close seen by the peer, shutdown of a gone peer, and the
// descriptor layers' close of one half of a socket stream.  Everything is
// on 127.0.0.1 or under /tmp.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "vrio_fixture.h"

namespace {

using VrioSockets = VrioLibrary;

struct connection {
  vrio_t_socket listener = -1, client = -1, server = -1;
  std::string port;
};

// A loopback listener, a client connected to it and the accepted socket.
void connect_pair(connection *c)
{
  char port[32] = "";
  ASSERT_EQ(vrio_socket_listener("", port, sizeof port, &c->listener, VRIO_LISTEN_LOOPBACK),
            VRIO_S_NOERR);
  c->port = port;
  ASSERT_GT(std::stoi(c->port), 0) << "the port the system chose is reported";
  ASSERT_EQ(vrio_socket_connect("127.0.0.1", port, &c->client, 0), VRIO_S_NOERR);
  char *host = nullptr, *serv = nullptr;
  ASSERT_EQ(vrio_socket_accept(c->listener, &host, &serv, &c->server, 0), VRIO_S_NOERR);
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_GT(std::stoi(serv), 0);
  vrio_free(host);
  vrio_free(serv);
}

void close_pair(connection *c)
{
  for (vrio_t_socket s : {c->client, c->server, c->listener}) {
    if (s != -1) {
      EXPECT_EQ(vrio_socket_close(s, 0), VRIO_S_NOERR);
    }
  }
}

TEST_F(VrioSockets, LoopbackListenerAcceptsWithPeerAddress)
{
  connection c;
  connect_pair(&c);
  EXPECT_GT(c.client, 2);
  EXPECT_GT(c.server, 2);
  // No second client waits: the listener does not block.
  vrio_t_socket none = -1;
  EXPECT_EQ(vrio_socket_accept(c.listener, nullptr, nullptr, &none, 0), VRIO_E_WOULD_BLOCK);
  EXPECT_EQ(none, -1);
  // Both ends are blocking and close-on-exec.
  for (vrio_t_socket s : {c.client, c.server}) {
    EXPECT_EQ(fcntl(s, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(s, F_GETFD) & FD_CLOEXEC, 0);
  }
  EXPECT_EQ(write(c.client, "ping", 4), 4);
  char buf[8] = {};
  EXPECT_EQ(read(c.server, buf, sizeof buf), 4);
  EXPECT_STREQ(buf, "ping");
  close_pair(&c);
}

TEST_F(VrioSockets, NothingListeningIsRefused)
{
  char port[32] = "";
  vrio_t_socket l = -1, s = -1;
  ASSERT_EQ(vrio_socket_listener("", port, sizeof port, &l, VRIO_LISTEN_LOOPBACK), VRIO_S_NOERR);
  ASSERT_EQ(vrio_socket_close(l, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_socket_connect("127.0.0.1", port, &s, 0), VRIO_E_NET_CONNREFUSED);
  EXPECT_EQ(s, -1) << "a failed connect hands out no socket";
}

TEST_F(VrioSockets, UnixPathsAtTheLimitAndLeftOver)
{
  // 107 bytes and the terminating zero fill sun_path exactly.
  std::string path = "/tmp/vrio_socket_test_" + std::to_string(getpid()) + "_";
  path.resize(107, 'x');
  vrio_t_socket l = -1, c = -1, s = -1;
  unlink(path.c_str());
  ASSERT_EQ(vrio_socket_listener(path.c_str(), nullptr, 0, &l, VRIO_LISTEN_UNIX), VRIO_S_NOERR);
  ASSERT_EQ(vrio_socket_connect(path.c_str(), nullptr, &c, VRIO_CONNECT_UNIX), VRIO_S_NOERR);
  char *host = nullptr, *serv = nullptr;
  ASSERT_EQ(vrio_socket_accept(l, &host, &serv, &s, 0), VRIO_S_NOERR);
  EXPECT_STREQ(host, "localhost");
  EXPECT_STREQ(serv, "");
  vrio_free(host);
  vrio_free(serv);
  for (vrio_t_socket x : {c, s, l})
    EXPECT_EQ(vrio_socket_close(x, 0), VRIO_S_NOERR);
  // The socket file stays: a new listener needs the reuse option.
  EXPECT_EQ(vrio_socket_listener(path.c_str(), nullptr, 0, &l, VRIO_LISTEN_UNIX),
            VRIO_E_NET_ADDRINUSE);
  ASSERT_EQ(vrio_socket_listener(path.c_str(), nullptr, 0, &l,
                                 VRIO_LISTEN_UNIX | VRIO_LISTEN_REUSEADDR),
            VRIO_S_NOERR);
  EXPECT_EQ(vrio_socket_close(l, 0), VRIO_S_NOERR);
  unlink(path.c_str());
  std::string too_long = path + "y";
  EXPECT_EQ(vrio_socket_listener(too_long.c_str(), nullptr, 0, &l, VRIO_LISTEN_UNIX),
            VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_socket_connect(too_long.c_str(), nullptr, &c, VRIO_CONNECT_UNIX),
            VRIO_E_PARAMETER_ERROR);
}

TEST_F(VrioSockets, AbortiveCloseResetsThePeer)
{
  connection c;
  connect_pair(&c);
  EXPECT_EQ(vrio_socket_close(c.client, VRIO_SOCKET_CLOSE_ABORTIVE), VRIO_S_NOERR);
  c.client = -1;
  char buf[4];
  errno = 0;
  EXPECT_EQ(read(c.server, buf, sizeof buf), -1);
  EXPECT_EQ(errno, ECONNRESET);
  close_pair(&c);
}

TEST_F(VrioSockets, ShutdownOfAGonePeerIsNoError)
{
  vrio_t_socket s = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  EXPECT_EQ(vrio_socket_shutdown(s, VRIO_SOCKET_SHUT_READ | VRIO_SOCKET_SHUT_WRITE), VRIO_S_NOERR)
      << "a socket never connected";
  EXPECT_EQ(vrio_socket_shutdown(s, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_socket_close(s, 0), VRIO_S_NOERR);
}

// Closing the write half of a two-way stream over a socket shuts that half
// down: the peer reads end of file, and the stream's read half still works.
// Both descriptor layers (threaddevice, the default, and async).
TEST(VrioSocketStreams, WriteHalfCloseIsEndOfFileForThePeer)
{
  for (const char *threaddevice : {"true", "false"}) {
    SCOPED_TRACE(std::string("VRIO_USE_LAYER_THREADDEVICE=") + threaddevice);
    setenv("VRIO_USE_LAYER_THREADDEVICE", threaddevice, 1);
    ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
    connection c;
    connect_pair(&c);
    VRIO s = nullptr;
    ASSERT_EQ(vrio_layer_async_unix_open_file_handle(&s, c.server, VRIO_FD_READ | VRIO_FD_WRITE),
              VRIO_S_NOERR);
    c.server = -1; // the stream owns it now
    ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_WRITE), VRIO_S_NOERR);
    ASSERT_NE(s, nullptr) << "the read half stays open";
    char buf[4];
    EXPECT_EQ(read(c.client, buf, sizeof buf), 0) << "end of file after the shutdown";
    ASSERT_EQ(write(c.client, "ok", 2), 2);
    vrio_t_buf *in = nullptr;
    EXPECT_EQ(vrio_read(&s, &in, 1), VRIO_S_NOERR);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(in->buf), in->extent), "ok");
    vrio_buf_free(in);
    // The peer has gone when the read half closes: no error for that.
    EXPECT_EQ(vrio_socket_close(c.client, 0), VRIO_S_NOERR);
    c.client = -1;
    EXPECT_EQ(vrio_close(&s, VRIO_CLOSE_READ), VRIO_S_NOERR);
    close_pair(&c);
    EXPECT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
    unsetenv("VRIO_USE_LAYER_THREADDEVICE");
  }
}

TEST_F(VrioSockets, AddressComparison)
{
  sockaddr_in a{}, b{};
  a.sin_family = b.sin_family = AF_INET;
  a.sin_addr.s_addr = b.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(1);
  b.sin_port = htons(2);
  EXPECT_EQ(vrio_socket_addr_equal(&a, sizeof a, &b, sizeof b), 1) << "ports are not compared";
  b.sin_addr.s_addr = htonl(INADDR_ANY);
  EXPECT_EQ(vrio_socket_addr_equal(&a, sizeof a, &b, sizeof b), 0);
  EXPECT_EQ(vrio_socket_addr_equal(&a, 1, &a, 1), 0) << "too short";
  sockaddr_in6 six{};
  six.sin6_family = AF_INET6;
  EXPECT_EQ(vrio_socket_addr_equal(&a, sizeof a, &six, sizeof six), 0) << "lengths differ";
  EXPECT_EQ(vrio_socket_addr_equal(&six, sizeof six, &six, sizeof six), 1);
  sockaddr_storage unix_like{};
  unix_like.ss_family = AF_UNIX;
  EXPECT_EQ(vrio_socket_addr_equal(&unix_like, sizeof unix_like, &unix_like, sizeof unix_like),
            VRIO_E_NOT_SUPPORTED);
}

TEST_F(VrioSockets, HostNameIsLowerCase)
{
  char *name = nullptr;
  vrio_t_error_code rc = vrio_hostname(&name);
  if (rc == VRIO_E_NET_HOST_NOT_FOUND)
    GTEST_SKIP() << "this host's name does not resolve here";
  ASSERT_EQ(rc, VRIO_S_NOERR);
  ASSERT_NE(name, nullptr);
  EXPECT_NE(name[0], '\0');
  for (const char *p = name; *p != '\0'; p++)
    EXPECT_FALSE(*p >= 'A' && *p <= 'Z') << name;
  vrio_free(name);
}

} // namespace
