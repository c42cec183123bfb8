// Helpers of the reliability scenarios: a station process (rel_station) in a
// fresh working directory, runs of the gateway simulator, a raw gateway socket
// for what the simulator would never send, the station's status file, and
// reading "cdrtbl" straight from the database file.
#ifndef TESTS_RELIABILITY_RELIABILITY_H
#define TESTS_RELIABILITY_RELIABILITY_H

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
#include <vector>

#include "testkit.h"

extern char **environ;

namespace rel {

using testkit::eventually;
using testkit::file_size;
using testkit::gateway_port_free;
using testkit::message;
using testkit::now_ms;
using testkit::PortLock;
using testkit::slurp;

// A fresh working directory with a small rate file, removed at the end.
class WorkDir : public testkit::TempDir {
public:
  WorkDir() : TempDir("quentarel")
  {
    std::ofstream(file("rateinfo")) << "Local|0|0.00|0:00:00-0.10|60:0.50|0|60\n"
                                    << ".default||0.00|0:00:00-0.20|0:0.00|0|60\n";
  }
};

inline pid_t spawn(const std::vector<std::string> &args, const std::vector<std::string> &extra_env = {},
                   const std::string &out = "")
{
  std::vector<char *> argv;
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_store(extra_env);
  std::vector<char *> envp;
  for (char **e = environ; *e; e++)
    envp.push_back(*e);
  for (std::string &e : env_store)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (!out.empty())
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, args[0].c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  EXPECT_EQ(0, rc) << args[0];
  return rc == 0 ? pid : -1;
}

// Exit status, or 128 + signal.
inline int wait_exit(pid_t pid)
{
  int status = 0;
  if (waitpid(pid, &status, 0) != pid)
    return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The station program in a working directory. Killed when it goes out of scope.
class Station {
public:
  explicit Station(const WorkDir &dir, std::vector<std::string> args = {}, std::vector<std::string> env = {})
      : dir_(dir.path()), args_(std::move(args)), env_(std::move(env))
  {
  }
  ~Station() { kill(SIGKILL); }
  Station(const Station &) = delete;
  Station &operator=(const Station &) = delete;

  // Starts it and waits until its engine runs; false when it did not come up.
  bool start(int timeout_ms = 60000)
  {
    unlink((dir_ + "/station.ready").c_str());
    std::vector<std::string> argv{STATION_PATH, dir_};
    argv.insert(argv.end(), args_.begin(), args_.end());
    pid_ = spawn(argv, env_, dir_ + "/station.out");
    if (pid_ < 0)
      return false;
    return eventually([&] { return !alive() ? true : file_size(dir_ + "/station.ready") > 0; }, timeout_ms) && alive();
  }
  bool alive()
  {
    if (pid_ <= 0)
      return false;
    int status;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      pid_ = -1;
      return false;
    }
    return true;
  }
  // Ends it with sig and reaps it; its exit status, or -1 when it was not running.
  int kill(int sig)
  {
    if (!alive())
      return -1;
    ::kill(pid_, sig);
    int rc = wait_exit(pid_);
    pid_ = -1;
    return rc;
  }
  int exit_status() const { return exit_; }

private:
  std::string dir_;
  std::vector<std::string> args_, env_;
  pid_t pid_ = -1;
  int exit_ = -1;
};

// Runs the gateway simulator to its end; returns its exit status. Its summary
// goes to `out` when given.
inline int gwsim(const std::vector<std::string> &args, const std::string &out = "")
{
  std::vector<std::string> argv{GWSIM_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  if (!out.empty()) {
    argv.push_back("-o");
    argv.push_back(out);
  }
  pid_t pid = spawn(argv, {}, "/dev/null");
  return pid < 0 ? -1 : wait_exit(pid);
}

// One gateway endpoint on 127.0.0.1 for datagrams the simulator never sends.
class RawGateway : public testkit::GatewaySocket {
public:
  RawGateway() { EXPECT_TRUE(bound()); }
  // Sends and waits for the very same bytes back; other datagrams are skipped.
  bool exchange(const std::string &bytes, int timeout_ms = 5000)
  {
    if (!send(bytes))
      return false;
    long long until = now_ms() + timeout_ms;
    while (now_ms() < until) {
      auto echo = receive((int)(until - now_ms()));
      if (echo && *echo == bytes)
        return true;
    }
    return false;
  }
  void drain()
  {
    while (receive(0)) {
    }
  }
};

inline std::string keepalive(const std::string &m, int line, const std::string &state, const std::string &dest = "")
{
  return message("KeepAlive",
                 {{"machine_id", m}, {"line_id", std::to_string(line)}, {"state", state}, {"dest_num", dest}});
}

inline std::string connected(const std::string &m, int line, const std::string &src, const std::string &dest)
{
  return message("Connected", {{"machine_id", m},
                               {"line_id", std::to_string(line)},
                               {"state", "CONNECTED"},
                               {"src_num", src},
                               {"dest_num", dest}});
}

// One line of the station's status file.
struct StatusEvent {
  long long ms;
  std::string machine;
  int line;
  std::string state;
  int flag;
};

inline std::vector<StatusEvent> status_events(const WorkDir &dir)
{
  std::vector<StatusEvent> events;
  std::istringstream in(slurp(dir.file("status.log")));
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream f(text);
    StatusEvent e;
    if (f >> e.ms >> e.machine >> e.line >> e.state >> e.flag)
      events.push_back(e);
  }
  return events;
}

// The first time after `since` that the line was reported in `state`, or -1.
inline long long first_state(const WorkDir &dir, const std::string &machine, int line, const std::string &state,
                             long long since)
{
  for (const StatusEvent &e : status_events(dir))
    if (e.ms >= since && e.machine == machine && e.line == line && e.state == state)
      return e.ms;
  return -1;
}

struct Row {
  std::string callid, machineid;
  int lineid = 0;
  std::string orgnum, desnum, bdate, edate;
  int flag = -1;
};

inline std::vector<Row> cdr_rows(const WorkDir &dir, const std::string &where = "")
{
  std::vector<Row> rows;
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(dir.file("quentadb").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return rows;
  }
  sqlite3_busy_timeout(db, 10000);
  std::string sql =
      "select callid, machineid, lineid, orgnum, desnum, bdate, edate, flag from cdrtbl " + where + " order by rowid";
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    auto text = [&](int i) {
      const void *b = sqlite3_column_blob(st, i);
      return b ? std::string(static_cast<const char *>(b), (size_t)sqlite3_column_bytes(st, i)) : std::string();
    };
    while (sqlite3_step(st) == SQLITE_ROW)
      rows.push_back(
          {text(0), text(1), sqlite3_column_int(st, 2), text(3), text(4), text(5), text(6), sqlite3_column_int(st, 7)});
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return rows;
}

inline std::string integrity_check(const WorkDir &dir)
{
  sqlite3 *db = nullptr;
  std::string result;
  if (sqlite3_open_v2(dir.file("quentadb").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, "pragma integrity_check", -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW)
        result += reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return result;
}

}  // namespace rel

#endif
