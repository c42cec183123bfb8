/* IPv4 socket addresses: validation, ports, comparison and copy, the text form
 * "a.b.c.d[:port]" both ways, and the "sockaddr" type descriptor. */
#include "utils/sockaddr.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "utils/datalist.h"
#include "utils/debug.h"
#include "utils/utils.h"

namespace utils {

namespace {

const sockaddr_in *as_in(const sockaddr *a)
{
  return reinterpret_cast<const sockaddr_in *>(a);
}

/* Decimal digits only (no sign, no blanks), at most `max`. Returns the
 * character after the number, or null when no digit was read or it is too big. */
const char *read_number(const char *p, unsigned long max, unsigned long *out)
{
  unsigned long v = 0;
  const char *start = p;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + (unsigned long)(*p - '0');
    if (v > max)
      return nullptr;
    p++;
  }
  if (p == start)
    return nullptr;
  *out = v;
  return p;
}

int sockaddr_copy(void *dst, const void *src)
{
  return sockcpy(static_cast<sockaddr *>(dst), static_cast<const sockaddr *>(src));
}

} /* namespace */

int is_valid_addr(const struct sockaddr *addr, int len)
{
  if (!addr || addr->sa_family != AF_INET)
    return 0;
  if (len > 0 && len < INET_SOCKLEN) {
    LOG_FUNCTION_FAILED();
    return 0;
  }
  return 1;
}

int is_multicast_addr(const struct sockaddr *addr, int len)
{
  if (!is_valid_addr(addr, len))
    return -1;
  return IN_IS_ADDR_MULTICAST(&as_in(addr)->sin_addr) ? 1 : 0;
}

int getsockport(const struct sockaddr *addr)
{
  if (addr->sa_family != AF_INET)
    return -1;
  return ntohs(as_in(addr)->sin_port);
}

int setsockport(struct sockaddr *addr, int port)
{
  if (addr->sa_family != AF_INET)
    return -1;
  reinterpret_cast<sockaddr_in *>(addr)->sin_port = htons((uint16_t)port);
  return port;
}

int sockcmp(const struct sockaddr *a, const struct sockaddr *b)
{
  if (a->sa_family != b->sa_family)
    return -1;
  return memcmp(a, b, INET_SOCKLEN);
}

int sockcpy(struct sockaddr *dest, const struct sockaddr *src)
{
  if (!is_valid_addr(src, 0)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  memcpy(dest, src, INET_SOCKLEN);
  return INET_SOCKLEN;
}

int sockncpy(struct sockaddr *dest, int destlen, const struct sockaddr *src, int srclen)
{
  if (destlen < INET_SOCKLEN || !is_valid_addr(src, srclen)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  memcpy(dest, src, INET_SOCKLEN);
  return INET_SOCKLEN;
}

int parse_ipv4_addr(const char *text, struct sockaddr_in *addr)
{
  const char *p = text;
  if (isspace((unsigned char)*p))
    p++;
  unsigned char bytes[4];
  for (int i = 0; i < 4; i++) {
    unsigned long v;
    p = read_number(p, 255, &v);
    if (!p || (i < 3 && *p != '.'))
      return -1;
    bytes[i] = (unsigned char)v;
    if (i < 3)
      p++;
  }
  unsigned long port = 0;
  if (*p == ':' && !read_number(p + 1, 65535, &port))
    return -1;
  /* Anything else after the address is ignored. */
  utils::bzero(addr, sizeof *addr);
  addr->sin_family = AF_INET;
  memcpy(&addr->sin_addr, bytes, 4);
  addr->sin_port = htons((uint16_t)port);
  return 0;
}

int sock_aton(const char *text, struct sockaddr *addr, int len)
{
  sockaddr_in tmp;
  if (parse_ipv4_addr(text, &tmp) < 0 || len < INET_SOCKLEN)
    return -1;
  memcpy(addr, &tmp, INET_SOCKLEN);
  return 0;
}

int inet_aton(const char *text, struct in_addr *addr)
{
  sockaddr_in tmp;
  if (parse_ipv4_addr(text, &tmp) < 0)
    return -1;
  *addr = tmp.sin_addr;
  return 0;
}

const char *inet_ntop(int family, const void *addr, char *buf, size_t size)
{
  if (family != AF_INET)
    return nullptr;
  const auto *b = static_cast<const unsigned char *>(addr);
  snprintf(buf, size, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return buf;
}

/* One buffer per thread: the engine's thread and the console's thread may both
 * print addresses. */
const char *sock_ntop_host(const struct sockaddr *addr, int len)
{
  (void)len;
  if (addr->sa_family != AF_INET)
    return nullptr;
  static thread_local char text[32];
  const sockaddr_in *in = as_in(addr);
  utils::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
  int port = ntohs(in->sin_port);
  if (port) {
    size_t used = strlen(text);
    snprintf(text + used, sizeof text - used, ":%d", port);
  }
  return text;
}

TYPEDEF(sockaddr_var, sockaddr, nullptr, nullptr, sockaddr_copy);

} /* namespace utils */
