// Test helpers for suites that drive a real message handler: a gateway line on
// a client UDP socket of 127.0.0.1, message composition, a fresh working
// directory with its log, and reading "cdrtbl" with SQLite directly.
#ifndef TESTS_QUENTA_GATEWAY_H
#define TESTS_QUENTA_GATEWAY_H

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "testkit.h"
#include "utils/debug.h"

namespace gwtest {

using testkit::Attrs;
using testkit::eventually;
using testkit::gateway_port_free;
using testkit::message;
using testkit::PortLock;
using testkit::slurp;

inline std::string keepalive(const std::string &machine, int line, const std::string &state,
                             const std::string &dest = "")
{
  return message("KeepAlive",
                 {{"machine_id", machine}, {"line_id", std::to_string(line)}, {"state", state}, {"dest_num", dest}});
}

inline std::string discovery(const std::string &machine, int line, const std::string &state = "IDLE")
{
  return message("Discovery", {{"machine_id", machine}, {"line_id", std::to_string(line)}, {"state", state}});
}

inline std::string connected(const std::string &machine, int line, const std::string &src, const std::string &dest,
                             const std::string &state = "CONNECTED")
{
  return message("Connected", {{"machine_id", machine},
                               {"line_id", std::to_string(line)},
                               {"state", state},
                               {"src_num", src},
                               {"dest_num", dest}});
}

/* One gateway endpoint on 127.0.0.1 (or source); a send the socket refuses
 * fails the test. */
class Gateway : public testkit::GatewaySocket {
public:
  explicit Gateway(const char *source = "127.0.0.1") : GatewaySocket(testkit::kGatewayPort, source)
  {
    EXPECT_TRUE(bound());
  }
  void send(const std::string &bytes) { ASSERT_TRUE(GatewaySocket::send(bytes)); }
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
      rows.push_back(
          {text(0), text(1), sqlite3_column_int(st, 2), text(3), text(4), text(5), text(6), sqlite3_column_int(st, 7)});
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
    EXPECT_FALSE(dir_.path().empty());
    saved_logfd_ = utils::logfd;
    EXPECT_EQ(0, utils::set_log_file("app.log"));
  }
  ~WorkDir()
  {
    if (utils::logfd != saved_logfd_)
      close(utils::logfd);
    utils::logfd = saved_logfd_;
  }
  const std::string &path() const { return dir_.path(); }
  std::string log() const { return slurp(dir_.file("app.log")); }

private:
  testkit::TempDir dir_{"quentatest", true};
  int saved_logfd_ = 2;
};

/* A real message handler on the gateway port, storing its calls in
 * "quentadb" of a fresh working directory. */
class HandlerFixture : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(gateway_port_free()) << "another program holds UDP port " << SRV_PORT;
    dbpath_ = work_.path() + "/quentadb";
    h_ = create_msghdlr(dbpath_.c_str(), "cdrtbl");
    ASSERT_NE(nullptr, h_);
  }
  void TearDown() override { msghdlr_release(h_); }

  std::vector<Row> rows() const { return read_cdrs(dbpath_); }

  PortLock port_lock_;
  WorkDir work_;
  std::string dbpath_;
  msghdlr *h_ = nullptr;
};

}  // namespace gwtest

#endif
