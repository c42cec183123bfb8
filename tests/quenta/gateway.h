// Test helpers for suites that drive a real message handler: a gateway line on
// a client UDP socket of 127.0.0.1, message composition, a fresh working
// directory with its log, and reading "cdrtbl" with SQLite directly.
#ifndef TESTS_QUENTA_GATEWAY_H
#define TESTS_QUENTA_GATEWAY_H

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quenta/quenta.h"
#include "utils/debug.h"

namespace gwtest {

using Attrs = std::vector<std::pair<std::string, std::string>>;

inline std::string message(const std::string &type, const Attrs &attrs)
{
  std::string text = type + " " + type + " ui/1.0\n";
  for (auto &a : attrs)
    text += a.first + ": " + a.second + "\n";
  return text + "\n";
}

inline std::string keepalive(const std::string &machine, int line, const std::string &state,
                             const std::string &dest = "")
{
  return message("KeepAlive", {{"machine_id", machine}, {"line_id", std::to_string(line)}, {"state", state},
                               {"dest_num", dest}});
}

inline std::string discovery(const std::string &machine, int line, const std::string &state = "IDLE")
{
  return message("Discovery", {{"machine_id", machine}, {"line_id", std::to_string(line)}, {"state", state}});
}

inline std::string connected(const std::string &machine, int line, const std::string &src, const std::string &dest,
                             const std::string &state = "CONNECTED")
{
  return message("Connected", {{"machine_id", machine}, {"line_id", std::to_string(line)}, {"state", state},
                               {"src_num", src}, {"dest_num", dest}});
}

/* One gateway endpoint: a UDP socket on 127.0.0.1 talking to the station. */
class Gateway {
public:
  Gateway()
  {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a));
    station_.sin_family = AF_INET;
    station_.sin_port = htons(SRV_PORT);
    station_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  ~Gateway() { close(fd_); }
  Gateway(const Gateway &) = delete;
  Gateway &operator=(const Gateway &) = delete;

  void send(const std::string &bytes)
  {
    ASSERT_EQ((ssize_t)bytes.size(), sendto(fd_, bytes.data(), bytes.size(), 0,
                                            reinterpret_cast<sockaddr *>(&station_), sizeof station_));
  }
  std::optional<std::string> receive(int timeout_ms = 2000)
  {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
      return std::nullopt;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0)
      return std::nullopt;
    return std::string(buf, (size_t)n);
  }
  /* Sends and waits for the echo: true when the same bytes came back. */
  bool exchange(const std::string &bytes, int timeout_ms = 2000)
  {
    send(bytes);
    auto echo = receive(timeout_ms);
    return echo && *echo == bytes;
  }
  /* Sends and expects no reply within the time. */
  bool unanswered(const std::string &bytes, int wait_ms = 300)
  {
    send(bytes);
    return !receive(wait_ms);
  }

private:
  int fd_ = -1;
  sockaddr_in station_{};
};

struct Row {
  std::string callid, machineid;
  int lineid = 0;
  std::string orgnum, desnum, bdate, edate;
  int flag = -1;
};

inline std::vector<Row> read_cdrs(const std::string &dbpath)
{
  std::vector<Row> rows;
  sqlite3 *db = nullptr;
  if (sqlite3_open(dbpath.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    return rows;
  }
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db,
                         "select callid, machineid, lineid, orgnum, desnum, bdate, edate, flag "
                         "from cdrtbl order by rowid",
                         -1, &st, nullptr) == SQLITE_OK) {
    auto text = [&](int i) {
      const unsigned char *t = sqlite3_column_text(st, i);
      return t ? std::string(reinterpret_cast<const char *>(t)) : std::string();
    };
    while (sqlite3_step(st) == SQLITE_ROW)
      rows.push_back({text(0), text(1), sqlite3_column_int(st, 2), text(3), text(4), text(5), text(6),
                      sqlite3_column_int(st, 7)});
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

/* Seconds since the epoch of a "%Y-%m-%d %H:%M:%S" local time, or -1. */
inline long parse_local_time(const std::string &text)
{
  struct tm tm = {};
  const char *end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  if (!end || *end)
    return -1;
  tm.tm_isdst = -1;
  return (long)mktime(&tm);
}

/* Polls cond every 20 ms for up to timeout_ms. */
inline bool eventually(const std::function<bool()> &cond, int timeout_ms)
{
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < until) {
    if (cond())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return cond();
}

/* Serialises the programs of this machine that bind the gateway port (test
 * suites of every checkout, the gateway benchmark): held while a handler runs. */
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

/* Waits until no socket of this host holds the gateway port. The suites of
 * another checkout may run on the same machine: their handler would share the
 * port (it binds with address reuse) and take our datagrams. */
inline bool gateway_port_free(int timeout_ms = 30000)
{
  return eventually(
      [] {
        int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(SRV_PORT);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        bool free = bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        close(s);
        return free;
      },
      timeout_ms);
}

inline std::string slurp(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

/* The gateway simulator of this build tree, found from the test program. */
inline std::string gwsim_path()
{
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
    return "gwsim";
  std::string dir = self;
  return dir.substr(0, dir.rfind('/')) + "/../../tools/gwsim/gwsim";
}

/* Runs a command and returns its standard output; status gets its exit status. */
inline std::string run_command(const std::string &cmd, int *status)
{
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    out.append(buf, n);
  int rc = pclose(p);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

/* A fresh temporary working directory with its own log file "app.log". */
class WorkDir {
public:
  WorkDir()
  {
    char tmpl[] = "/tmp/quentatestXXXXXX";
    dir_ = mkdtemp(tmpl);
    char *cwd = getcwd(nullptr, 0);
    old_cwd_ = cwd;
    free(cwd);
    EXPECT_EQ(0, chdir(dir_.c_str()));
    saved_logfd_ = utils::logfd;
    EXPECT_EQ(0, utils::set_log_file("app.log"));
  }
  ~WorkDir()
  {
    if (utils::logfd != saved_logfd_)
      close(utils::logfd);
    utils::logfd = saved_logfd_;
    (void)!chdir(old_cwd_.c_str());
    std::string cmd = "rm -rf '" + dir_ + "'";
    (void)!system(cmd.c_str());
  }
  const std::string &path() const { return dir_; }
  std::string log() const { return slurp(dir_ + "/app.log"); }

private:
  std::string dir_, old_cwd_;
  int saved_logfd_ = 2;
};

}  // namespace gwtest

#endif
