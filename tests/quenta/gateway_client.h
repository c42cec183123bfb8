// A gateway line as the engine's tests see it: a UDP socket on 127.0.0.1 that
// sends gateway messages to the station's port and reads what comes back.
#ifndef TESTS_GATEWAY_CLIENT_H
#define TESTS_GATEWAY_CLIENT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace testgw {

using attrs = std::vector<std::pair<std::string, std::string>>;

// "<type> <type> ui/1.0\n", one "name: value\n" per attribute, and the empty line.
inline std::string message(const std::string &type, const attrs &a)
{
  std::string m = type + " " + type + " ui/1.0\n";
  for (const auto &kv : a)
    m += kv.first + ": " + kv.second + "\n";
  m += "\n";
  return m;
}

class client {
public:
  explicit client(int station_port = 9849)
  {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in me{};
    me.sin_family = AF_INET;
    me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr *>(&me), sizeof me);
    station_.sin_family = AF_INET;
    station_.sin_port = htons((uint16_t)station_port);
    station_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~client() { close(fd_); }
  client(const client &) = delete;
  client &operator=(const client &) = delete;

  bool send(const std::string &datagram)
  {
    return sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&station_),
                  sizeof station_) == (ssize_t)datagram.size();
  }

  // The next datagram, or "" after timeout_ms without one.
  std::string receive(int timeout_ms = 1000)
  {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0)
      return "";
    char buf[2048];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, (size_t)n) : "";
  }

  // Sends and waits for the echo of exactly what was sent.
  bool send_acked(const std::string &datagram, int timeout_ms = 3000)
  {
    return send(datagram) && receive(timeout_ms) == datagram;
  }

  int port() const
  {
    sockaddr_in me{};
    socklen_t len = sizeof me;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&me), &len);
    return ntohs(me.sin_port);
  }

private:
  int fd_ = -1;
  sockaddr_in station_{};
};

}  // namespace testgw

#endif
