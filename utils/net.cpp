/* Logged IPv4 socket wrappers (connect, bind, listen, multicast, random UDP
 * port, broadcast, single-socket wait), host names, and the detection of this
 * host's outside address through a UDP echo server ("ECHOGWADDRRQ"/"RP"). */
#include "utils/net.h"

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>

#include "utils/app.h"
#include "utils/debug.h"
#include "utils/utils.h"

namespace utils {

namespace {

const int PORT_ATTEMPTS = 100;
const int ECHO_ATTEMPTS = 3;
const int ECHO_WAIT_MS = 200;
const char ECHO_REQUEST[] = "ECHOGWADDRRQ";
const char ECHO_REPLY[] = "ECHOGWADDRRP";
const size_t ECHO_TAG_LEN = 12;
const size_t ECHO_REPLY_LEN = 18; /* tag, 4 address bytes, 2 port bytes */
const size_t ECHO_BUF_LEN = 20;

bool is_inet(const sockaddr *addr, int len)
{
  return addr && addr->sa_family == AF_INET && is_valid_addr(addr, len);
}

int new_socket(int type)
{
  int s = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (s < 0)
    LOG_SYS_ERROR();
  return s;
}

int set_reuse(int s, int on)
{
  if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  return 0;
}

/* A connect interrupted by a signal goes on in the background; wait for it and
 * take its outcome from the socket's error. */
int connect_retry(int s, const sockaddr *addr, socklen_t len)
{
  if (connect(s, addr, len) == 0)
    return 0;
  if (errno != EINTR)
    return -1;
  if (utils::wait_socket(s, POLLOUT, -1) < 0)
    return -1;
  int err = getsockerr(s);
  if (err != 0) {
    errno = err;
    return -1;
  }
  return 0;
}

/* Binds a random port of 5000..65535, writing it into addr. A port that is
 * taken is simply tried again; other errors end the attempts. Address reuse is
 * off for this: with it, Linux lets two sockets share a UDP port, and a random
 * port would then steal another socket's datagrams. */
int bind_random_port(int s, sockaddr *addr)
{
  if (set_reuse(s, 0) < 0)
    return -1;
  auto *in = reinterpret_cast<sockaddr_in *>(addr);
  for (int i = 0; i < PORT_ATTEMPTS; i++) {
    int port = rand() & 0xFFFF;
    if (port <= 4999)
      port += 5000;
    in->sin_port = htons((uint16_t)port);
    if (bind(s, addr, INET_SOCKLEN) == 0)
      return 0;
    if (errno != EINVAL && errno != EADDRINUSE)
      break;
  }
  LOG_SYS_ERROR();
  in->sin_port = 0;
  return -1;
}

int bind_multicast(int s, const sockaddr *addr)
{
  const auto *group = reinterpret_cast<const sockaddr_in *>(addr);
  sockaddr_in any;
  MK_INET_ANYADDR(any);
  any.sin_port = group->sin_port;
  if (bind(s, reinterpret_cast<sockaddr *>(&any), sizeof any) < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  ip_mreq req;
  req.imr_multiaddr = group->sin_addr;
  req.imr_interface.s_addr = htonl(INADDR_ANY);
  if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  return 0;
}

ssize_t send_retry(int s, const void *msg, size_t len, int flags, const sockaddr *to, socklen_t tolen)
{
  ssize_t n;
  do {
    n = sendto(s, msg, len, flags, to, tolen);
  } while (n < 0 && errno == EINTR);
  return n;
}

ssize_t recv_retry(int s, void *buf, size_t len)
{
  ssize_t n;
  do {
    n = recvfrom(s, buf, len, 0, nullptr, nullptr);
  } while (n < 0 && errno == EINTR);
  return n;
}

/* The echo server: "ECHOSVR_ADDR", else "GKADDR", else the built-in address. */
const char *echo_server_name()
{
  for (const char *var : {"ECHOSVR_ADDR", "GKADDR"}) {
    const char *v = getenv(var);
    if (v && *v)
      return v;
  }
  return ECHOSVR_DEFAULT_ADDR;
}

int echo_server_port()
{
  const char *v = getenv("ECHOSVR_PORT");
  int port = v && *v ? (int)(strtol(v, nullptr, 10) & 0xFFFF) : 0;
  return port ? port : ECHOSVR_DEFAULT_PORT;
}

} /* namespace */

const char *get_hostname()
{
  static thread_local char name[255];
  if (gethostname(name, sizeof name) < 0) {
    LOG_SYS_ERROR();
    return nullptr;
  }
  name[sizeof name - 1] = '\0';
  return name;
}

int gethostaddr(const char *host, struct sockaddr *addr, int len)
{
  if (len > 0 && len < INET_SOCKLEN) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  if (!host && !(host = get_hostname()))
    return -1;
  addrinfo hints;
  utils::bzero(&hints, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo *res = nullptr;
  int rc = getaddrinfo(host, nullptr, &hints, &res);
  if (rc != 0 || !res) {
    DLOG("%s: %s", host, gai_strerror(rc));
    return -1;
  }
  auto *in = reinterpret_cast<sockaddr_in *>(addr);
  in->sin_family = AF_INET;
  in->sin_addr = reinterpret_cast<const sockaddr_in *>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return 0;
}

int tcp_connect(int sock, const struct sockaddr *addr, int len)
{
  if (!is_inet(addr, len))
    return -1;
  int s = sock > 0 ? sock : new_socket(SOCK_STREAM);
  if (s < 0)
    return -1;
  if (connect_retry(s, addr, INET_SOCKLEN) < 0) {
    LOG_SYS_ERROR();
    if (sock <= 0) {
      DPRINT("%s(): close %d\n", "tcp_connect", s);
      close(s);
    }
    return -1;
  }
  return s;
}

int tcp_bind(int sock, const struct sockaddr *addr, int len)
{
  if (!is_inet(addr, len))
    return -1;
  int s = sock > 0 ? sock : new_socket(SOCK_STREAM);
  if (s < 0)
    return -1;
  if (set_reuse(s, 1) < 0)
    goto fail;
  if (bind(s, addr, INET_SOCKLEN) < 0) {
    LOG_SYS_ERROR();
    goto fail;
  }
  return s;
fail:
  if (sock <= 0)
    close(s);
  return -1;
}

int tcp_listen(int sock, const struct sockaddr *addr, int len)
{
  int s = tcp_bind(sock, addr, len);
  if (s < 0)
    return -1;
  if (listen(s, LISTEN_BACKLOG) < 0) {
    LOG_SYS_ERROR();
    if (sock <= 0)
      close(s);
    return -1;
  }
  return s;
}

int udp_connect(int sock, const struct sockaddr *addr, int len)
{
  if (!is_inet(addr, len))
    return -1;
  int s = sock > 0 ? sock : new_socket(SOCK_DGRAM);
  if (s < 0)
    return -1;
  if (connect_retry(s, addr, INET_SOCKLEN) < 0) {
    LOG_SYS_ERROR();
    if (sock <= 0)
      close(s);
    return -1;
  }
  return s;
}

int udp_bind(int sock, struct sockaddr *addr, int len)
{
  if (!addr || addr->sa_family != AF_INET)
    return -1;
  if (!is_valid_addr(addr, len)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  int s = sock > 0 ? sock : new_socket(SOCK_DGRAM);
  if (s < 0)
    return -1;
  /* Buffer sizes are the caller's business: the gateway socket sets its own. */
  if (getsockport(addr) != 0 && set_reuse(s, 1) < 0)
    goto fail;
  if (is_multicast_addr(addr, len) == 1) {
    if (bind_multicast(s, addr) < 0)
      goto fail;
  } else if (getsockport(addr) == 0) {
    if (bind_random_port(s, addr) < 0)
      goto fail;
  } else if (bind(s, addr, INET_SOCKLEN) < 0) {
    LOG_SYS_ERROR();
    goto fail;
  }
  return s;
fail:
  if (sock <= 0)
    close(s);
  return -1;
}

int getsrcaddr_in(struct sockaddr_in *src, const struct sockaddr_in *dst)
{
  int s = udp_connect(0, reinterpret_cast<const sockaddr *>(dst), INET_SOCKLEN);
  if (s < 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  socklen_t len = sizeof *src;
  int rc = getsockname(s, reinterpret_cast<sockaddr *>(src), &len);
  if (rc < 0)
    LOG_SYS_ERROR();
  close(s);
  return rc < 0 ? -1 : 0;
}

int getsrcaddr(struct sockaddr *src, int *srclen, const struct sockaddr *dst, int dstlen)
{
  if (!is_inet(dst, dstlen) || *srclen < INET_SOCKLEN) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  sockaddr_in in;
  if (getsrcaddr_in(&in, reinterpret_cast<const sockaddr_in *>(dst)) < 0)
    return -1;
  memcpy(src, &in, INET_SOCKLEN);
  *srclen = INET_SOCKLEN;
  return 0;
}

int broadcast(int sock, const void *msg, int len, int flags, int port)
{
  DPRINT("%s(): len=%d port=%d\n", "broadcast", len, port);
  int on = 1;
  if (setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  sockaddr_storage local;
  socklen_t locallen = sizeof local;
  if (getsockname(sock, reinterpret_cast<sockaddr *>(&local), &locallen) < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  if (local.ss_family != AF_INET) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  auto *to = reinterpret_cast<sockaddr_in *>(&local);
  to->sin_addr.s_addr = htonl(INADDR_BROADCAST);
  to->sin_port = htons((uint16_t)port);
  ssize_t n = send_retry(sock, msg, (size_t)len, flags, reinterpret_cast<sockaddr *>(to), sizeof *to);
  if (n < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  return (int)n;
}

int wait_socket(int sock, int events, int timeout)
{
  struct pollfd pfd;
  pfd.fd = sock;
  pfd.events = (short)events;
  pfd.revents = 0;
  int n = utils::poll(&pfd, 1, timeout);
  return n > 0 ? pfd.revents : n;
}

int getsockerr(int sock)
{
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  return err;
}

/* Every call probes afresh. On success the result is also copied into the
 * caller's record, which is at least 16 bytes. */
const struct sockaddr_in *echo_gateway_addr(struct sockaddr *addr, int len)
{
  static thread_local sockaddr_in found;
  utils::bzero(&found, sizeof found);
  if (len < INET_SOCKLEN) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }

  const char *name = echo_server_name();
  sockaddr_in server;
  utils::bzero(&server, sizeof server);
  if (gethostaddr(name, reinterpret_cast<sockaddr *>(&server), INET_SOCKLEN) < 0) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }
  int port = echo_server_port();
  server.sin_port = htons((uint16_t)port);
  DLOG("Echo addr: %s:%d", name, port);

  sockaddr_in local;
  MK_INET_ANYADDR(local);
  int s = udp_bind(0, reinterpret_cast<sockaddr *>(&local), INET_SOCKLEN);
  if (s < 0) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }

  const sockaddr_in *result = nullptr;
  for (int attempt = 0; attempt < ECHO_ATTEMPTS; attempt++) {
    if (send_retry(s, ECHO_REQUEST, ECHO_TAG_LEN, 0, reinterpret_cast<sockaddr *>(&server), sizeof server) < 0) {
      LOG_SYS_ERROR();
      break;
    }
    int ready = wait_socket(s, POLLIN, ECHO_WAIT_MS);
    if (ready < 0)
      break; /* the wait has logged it */
    if (ready == 0)
      continue;
    unsigned char reply[ECHO_BUF_LEN];
    ssize_t n = recv_retry(s, reply, sizeof reply);
    if (n < 0) {
      LOG_SYS_ERROR();
      break;
    }
    /* A reply too short to carry the address is no answer either. */
    if ((size_t)n < ECHO_REPLY_LEN || memcmp(reply, ECHO_REPLY, ECHO_TAG_LEN) != 0)
      continue;
    found.sin_family = AF_INET;
    memcpy(&found.sin_addr, reply + 12, 4);
    memcpy(&found.sin_port, reply + 16, 2);
    if (addr)
      memcpy(addr, &found, INET_SOCKLEN);
    result = &found;
    break;
  }
  close(s);
  return result;
}

const struct sockaddr_in *detect_gateway_addr(struct sockaddr *addr, int len)
{
  return echo_gateway_addr(addr, len);
}

} /* namespace utils */
