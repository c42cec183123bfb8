/* Logged wrappers over the IPv4 socket interface: connect and bind with
 * address reuse, multicast membership, a random local UDP port, broadcast, a
 * single-socket wait, host names, and the detection of this host's address as
 * seen from outside a NAT gateway through a UDP echo server.
 * A socket argument of 0 or less asks the function to create the socket; a
 * socket it created is closed again when the operation fails. */
#ifndef UTILS_NET_H
#define UTILS_NET_H

#include <netinet/in.h>
#include <sys/socket.h>

#include "utils/export.h"
#include "utils/sockaddr.h"

#define ECHOSVR_DEFAULT_ADDR "127.0.0.1"
#define ECHOSVR_DEFAULT_PORT 54210
#define LISTEN_BACKLOG 8

namespace utils QU_EXPORT {

const char *get_hostname();                                        /* static buffer, or null */
int gethostaddr(const char *host, struct sockaddr *addr, int len); /* 0 / -1 */

int tcp_connect(int sock, const struct sockaddr *addr, int len);
int tcp_bind(int sock, const struct sockaddr *addr, int len);
int tcp_listen(int sock, const struct sockaddr *addr, int len);
int udp_connect(int sock, const struct sockaddr *addr, int len);
/* Address reuse is enabled, except that port 0 picks a random port of
 * 5000..65535 that no other socket holds and writes it into addr; a multicast
 * address binds the wildcard address and joins the group. */
int udp_bind(int sock, struct sockaddr *addr, int len);

int getsrcaddr(struct sockaddr *src, int *srclen, const struct sockaddr *dst, int dstlen);
int getsrcaddr_in(struct sockaddr_in *src, const struct sockaddr_in *dst);
int broadcast(int sock, const void *msg, int len, int flags, int port);
int wait_socket(int sock, int events, int timeout);
int getsockerr(int sock);

/* Static record with the external address and port, or null. */
const struct sockaddr_in *echo_gateway_addr(struct sockaddr *addr, int len);
const struct sockaddr_in *detect_gateway_addr(struct sockaddr *addr, int len);

} /* namespace utils */

#endif
