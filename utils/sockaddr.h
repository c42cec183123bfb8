/* IPv4 socket-address helpers: validation, ports, comparison and copy, parsing
 * and printing. Only AF_INET is handled; an address record is 16 bytes. */
#ifndef UTILS_SOCKADDR_H
#define UTILS_SOCKADDR_H

#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

#include "utils/export.h"
#include "utils/utils.h"

#define INET_SOCKLEN 16

/* Makes an IPv4 wildcard address: AF_INET, INADDR_ANY, port 0. */
#define MK_INET_ANYADDR(addr)                                                             \
  do {                                                                                    \
    ::utils::bzero(&(addr), sizeof(addr));                                                \
    reinterpret_cast<struct sockaddr_in *>(&(addr))->sin_family = AF_INET;                \
    reinterpret_cast<struct sockaddr_in *>(&(addr))->sin_addr.s_addr = htonl(INADDR_ANY); \
  } while (0)

/* First address byte in 224..239. */
#define IN_IS_ADDR_MULTICAST(a) ((ntohl((a)->s_addr) >> 28) == 0xe)

/* A sockaddr followed by room for any supported address. */
#define SOCKADDR_STORE(name)              \
  union {                                 \
    struct sockaddr name;                 \
    struct sockaddr_storage name##_store; \
  }

namespace utils QU_EXPORT {

/* Address record for storage in lists (66 bytes); __sockaddr_typeinfo. */
struct sockaddr_var {
  uint16_t sa_family;
  char sa_data[64];
};

int is_valid_addr(const struct sockaddr *addr, int len);
int is_multicast_addr(const struct sockaddr *addr, int len);     /* -1 invalid, 1, 0 */
int getsockport(const struct sockaddr *addr);                    /* host order, -1 */
int setsockport(struct sockaddr *addr, int port);                /* the port, -1 */
int sockcmp(const struct sockaddr *a, const struct sockaddr *b); /* -1 families differ */
int sockcpy(struct sockaddr *dest, const struct sockaddr *src);  /* 16, -1 */
int sockncpy(struct sockaddr *dest, int destlen, const struct sockaddr *src, int srclen);

/* Text to address. These return 0 on success and -1 on failure (not the
 * non-zero success of the C library's inet_aton). */
int parse_ipv4_addr(const char *text, struct sockaddr_in *addr);
int sock_aton(const char *text, struct sockaddr *addr, int len);
int inet_aton(const char *text, struct in_addr *addr);

/* Address to text: "%d.%d.%d.%d"; null for a family other than AF_INET. */
const char *inet_ntop(int family, const void *addr, char *buf, size_t size);
/* Static text: dotted address, then ":%d" when the port is not 0. */
const char *sock_ntop_host(const struct sockaddr *addr, int len);

} /* namespace utils */

#endif
