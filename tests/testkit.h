// What the suites share: a temporary folder that goes with its contents,
// waiting for a condition, reading a file whole, the machine-wide gateway-port
// lock, and a gateway endpoint on a UDP socket of 127.0.0.1 with the messages
// it sends.
#ifndef TESTS_TESTKIT_H
#define TESTS_TESTKIT_H

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testkit {

constexpr int kGatewayPort = 9849;

// A fresh folder /tmp/<prefix>XXXXXX, removed with everything in it when the
// object goes (kept for a look afterwards when QUENTA_KEEP_TEST_DIRS is set).
// Entered, it is also the working directory meanwhile, and the one before
// comes back at the end. path() is empty when no folder could be made (the
// suite's own checks then fail on it).
class TempDir {
public:
  explicit TempDir(const char *prefix = "quentatest", bool enter = false)
  {
    std::string tmpl = std::string("/tmp/") + prefix + "XXXXXX";
    if (mkdtemp(tmpl.data()))
      path_ = tmpl;
    if (enter && !path_.empty()) {
      std::error_code ec;
      previous_ = std::filesystem::current_path(ec).string();
      std::filesystem::current_path(path_, ec);
    }
  }
  ~TempDir()
  {
    std::error_code ec;
    if (!previous_.empty())
      std::filesystem::current_path(previous_, ec);
    if (!path_.empty() && !getenv("QUENTA_KEEP_TEST_DIRS"))
      std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
  std::string previous_; /* the working directory before, when entered */
};

// Milliseconds on the monotonic clock.
inline long long now_ms()
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Polls cond every 20 ms until it holds or timeout_ms have passed: the wait
// ends as soon as the condition holds, so a generous limit costs nothing.
inline bool eventually(const std::function<bool()> &cond, int timeout_ms)
{
  long long until = now_ms() + timeout_ms;
  while (now_ms() < until) {
    if (cond())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return cond();
}

inline std::string slurp(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The file's size in bytes, or -1 when there is no such file.
inline long file_size(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

// Serialises the programs of this machine that bind the gateway port (the
// suites of every checkout, the gateway benchmark): held while a station runs.
class PortLock {
public:
  PortLock()
  {
    fd_ = open("/tmp/quenta-gateway-port.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) < 0 && errno == EINTR) {
      }
  }
  ~PortLock()
  {
    if (fd_ >= 0)
      close(fd_);
  }
  PortLock(const PortLock &) = delete;
  PortLock &operator=(const PortLock &) = delete;

private:
  int fd_ = -1;
};

// Waits until no socket of this host holds the gateway port: a station left
// by another checkout's suites would take our datagrams.
inline bool gateway_port_free(int timeout_ms = 60000)
{
  return eventually(
      [] {
        int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kGatewayPort);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        bool free = bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        close(s);
        return free;
      },
      timeout_ms);
}

using Attrs = std::vector<std::pair<std::string, std::string>>;

// "<type> <type> ui/1.0\n", one "name: value\n" per attribute, and the empty line.
inline std::string message(const std::string &type, const Attrs &attrs)
{
  std::string text = type + " " + type + " ui/1.0\n";
  for (const auto &a : attrs)
    text += a.first + ": " + a.second + "\n";
  return text + "\n";
}

// One gateway endpoint: a UDP socket of its own on 127.0.0.1 (or on source:
// any 127.x.y.z is this host too, seen by the station as another sender),
// talking to the station's port. The send buffer is large so that a burst is
// not cut short.
class GatewaySocket {
public:
  explicit GatewaySocket(int station_port = kGatewayPort, const char *source = "127.0.0.1")
  {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in me{};
    me.sin_family = AF_INET;
    inet_pton(AF_INET, source, &me.sin_addr);
    bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&me), sizeof me) == 0;
    int big = 1 << 20;
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    station_.sin_family = AF_INET;
    station_.sin_port = htons((uint16_t)station_port);
    station_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~GatewaySocket() { close(fd_); }
  GatewaySocket(const GatewaySocket &) = delete;
  GatewaySocket &operator=(const GatewaySocket &) = delete;

  bool bound() const { return bound_; }

  bool send(const std::string &bytes)
  {
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&station_), sizeof station_) ==
           (ssize_t)bytes.size();
  }

  // The next datagram, or nothing after timeout_ms without one.
  std::optional<std::string> receive(int timeout_ms = 2000)
  {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
      return std::nullopt;
    std::string buf(65536, '\0');
    ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0)
      return std::nullopt;
    buf.resize((size_t)n);
    return buf;
  }

  // Sends and waits for the echo: true when the same bytes came back, that is
  // once the station has handled the message.
  bool exchange(const std::string &bytes, int timeout_ms = 3000)
  {
    if (!send(bytes))
      return false;
    auto echo = receive(timeout_ms);
    return echo && *echo == bytes;
  }

  // Sends and expects no reply within the time.
  bool unanswered(const std::string &bytes, int wait_ms = 300) { return send(bytes) && !receive(wait_ms); }

  int port() const
  {
    sockaddr_in me{};
    socklen_t len = sizeof me;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&me), &len);
    return ntohs(me.sin_port);
  }

private:
  int fd_ = -1;
  bool bound_ = false;
  sockaddr_in station_{};
};

}  // namespace testkit

#endif
