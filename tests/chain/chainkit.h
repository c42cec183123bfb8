// What the chain suites share: a PostgreSQL server of their own (a fresh
// cluster copied from a template made once per machine, run by "nobody",
// on 127.0.0.1 and a free port, killed with the suite), station files made in
// one transaction, and the sync program as a child process.
#ifndef TESTS_CHAIN_CHAINKIT_H
#define TESTS_CHAIN_CHAINKIT_H

#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>

#include "reliability.h"

#define AS_NOBODY "setpriv --reuid=nobody --regid=nogroup --clear-groups "
// The first words of a child that a killed test must not leave behind.
#define DIES_WITH_TEST "/usr/bin/setpriv", "--pdeathsig=KILL",

namespace chain {

using rel::spawn;
using rel::wait_exit;
using rel::WorkDir;
using testkit::eventually;

inline int sh(const std::string &cmd)
{
  return system(cmd.c_str());
}

// A free TCP port of 127.0.0.1.
inline int free_port()
{
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

using Rows = std::vector<std::vector<std::string>>;

class PgServer {
public:
  PgServer()
  {
    // made in a directory of its own and moved in whole: a template is never half made
    EXPECT_EQ(0, sh("mkdir -p " PG_TEMPLATE_DIR " && flock " PG_TEMPLATE_DIR ".lock sh -c '"
                    "[ -d " PG_TEMPLATE_DIR "/data ] || { rm -rf " PG_TEMPLATE_DIR "/new && "
                    "chown nobody " PG_TEMPLATE_DIR " && " AS_NOBODY PG_BIN "/initdb -D " PG_TEMPLATE_DIR
                    "/new -U quenta --auth=trust -N -E UTF8 --locale=C.UTF-8 >/dev/null && "
                    "mv " PG_TEMPLATE_DIR "/new " PG_TEMPLATE_DIR "/data; }' && "
                    "cp -a " PG_TEMPLATE_DIR "/data '" +
                    dir_ + "/data' && chown -R nobody '" + dir_ + "'"));
    port_ = free_port();
    EXPECT_TRUE(start());
  }
  ~PgServer() { stop(SIGQUIT); }
  PgServer(const PgServer &) = delete;
  PgServer &operator=(const PgServer &) = delete;

  // Starts the server on its data and waits until it takes connections. The
  // server gets SIGQUIT (its immediate stop) when this process dies.
  bool start()
  {
    pid_ = spawn({"/bin/sh",
                  "-c",
                  "exec \"$@\" 2>>\"$0\"",
                  dir_ + "/postgres.log",
                  "/usr/bin/setpriv",
                  "--reuid=nobody",
                  "--regid=nogroup",
                  "--clear-groups",
                  "--pdeathsig=QUIT",
                  PG_BIN "/postgres",
                  "-D",
                  dir_ + "/data",
                  "-k",
                  dir_,
                  "-h",
                  "127.0.0.1",
                  "-p",
                  std::to_string(port_),
                  "-c",
                  "fsync=off",
                  "-c",
                  "full_page_writes=off"},
                 {}, "/dev/null");
    return eventually([&] { return query("select 1", false).size() == 1; }, 30000);
  }
  // Stops it (SIGINT: a fast shutdown) and reaps it.
  void stop(int sig = SIGINT)
  {
    if (pid_ > 0) {
      kill(pid_, sig);
      wait_exit(pid_);
      pid_ = -1;
    }
  }
  std::string dsn() const { return "host=127.0.0.1 port=" + std::to_string(port_) + " user=quenta dbname=postgres"; }

  // The rows of a statement as texts; none when it fails (a failure of the
  // test when `must`).
  Rows query(const std::string &sql, bool must = true) const
  {
    Rows rows;
    PGconn *c = PQconnectdb((dsn() + " connect_timeout=2").c_str());
    if (PQstatus(c) == CONNECTION_OK) {
      PGresult *r = PQexec(c, sql.c_str());
      for (int i = 0; i < PQntuples(r); i++) {
        rows.emplace_back();
        for (int k = 0; k < PQnfields(r); k++)
          rows.back().push_back(PQgetvalue(r, i, k));
      }
      if (must && PQresultStatus(r) != PGRES_TUPLES_OK && PQresultStatus(r) != PGRES_COMMAND_OK)
        ADD_FAILURE() << sql << ": " << PQerrorMessage(c);
      PQclear(r);
    }
    PQfinish(c);
    return rows;
  }
  // The first value, or "" (while the server or the table is not there yet).
  std::string scalar(const std::string &sql) const
  {
    Rows r = query(sql, false);
    return r.empty() || r[0].empty() ? "" : r[0][0];
  }

private:
  testkit::TempDir tmp_{"quentachain"};
  std::string dir_ = tmp_.path();
  int port_ = 0;
  pid_t pid_ = -1;
};

// A station's database as the engine creates it, with an identity of its own,
// filled by `fill` (statements on the open file) in one transaction; with the
// shift table or, like an older release, without.
inline void make_station(const std::string &path, bool shifts, const std::string &fill)
{
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  std::string sql =
      "create table cdrtbl(callid varchar(128), machineid varchar(128), lineid smallint, orgnum varchar(128), "
      "desnum varchar(128), bdate varchar(128), edate varchar(128), flag smallint, constraint key1 unique(callid));"
      "create table billtbl(callid varchar(64), calltime smallint, period varchar(128), count real, "
      "admin varchar(64), date varchar(128));"
      "create index cdrtbl_line on cdrtbl(machineid, lineid, flag);"
      "create index cdrtbl_bdate on cdrtbl(bdate);"
      "create index billtbl_callid on billtbl(callid);"
      "create table stationtbl(id varchar(32) not null);"
      "insert into stationtbl values(lower(hex(randomblob(16))));";
  if (shifts)
    sql += "create table shifttbl(bdate varchar(128), edate varchar(128), outgoing varchar(64), takings real, "
           "incoming varchar(64));"
           "create table audittbl(date varchar(128), admin varchar(64), action varchar(64), detail varchar(1024));";
  sql += "begin;" + fill + ";commit;";
  char *err = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err)) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

// `n` calls of 10 machines of 8 lines, one a minute from 2024-05-01, unsettled.
inline std::string calls_sql(int n, int first = 0)
{
  return "with recursive k(i) as (select " + std::to_string(first) + " union all select i + 1 from k where i < " +
         std::to_string(first + n - 1) +
         ") insert into cdrtbl select printf('GW%d-%08d@%s', i % 10, i / 10 % 8, datetime(1714521600 + i * 60, "
         "'unixepoch')), printf('GW%d', i % 10), i / 10 % 8, '801', printf('0086%06d', i), "
         "datetime(1714521600 + i * 60, 'unixepoch'), datetime(1714521600 + i * 60 + 30, 'unixepoch'), 0 from k";
}

// Runs statements on a station's file as the station would (waiting for the file).
inline void station_exec(const std::string &path, const std::string &sql)
{
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
  sqlite3_busy_timeout(db, 5000);
  char *err = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err)) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

// The sync program in a station's working directory; killed at the end.
class Sync {
public:
  Sync(const std::string &dir, std::vector<std::string> args) : dir_(dir), args_(std::move(args)) {}
  ~Sync() { kill(SIGKILL); }
  void start()
  {
    std::vector<std::string> argv{DIES_WITH_TEST "/bin/sh", "-c", "cd \"$0\" && exec \"$@\" 2>>sync.err", dir_,
                                  SYNC_PATH};
    argv.insert(argv.end(), args_.begin(), args_.end());
    pid_ = spawn(argv, {}, dir_ + "/sync.out");
  }
  int kill(int sig)
  {
    if (pid_ <= 0)
      return -1;
    ::kill(pid_, sig);
    int rc = wait_exit(pid_);
    pid_ = -1;
    return rc;
  }
  int run()  // to its end
  {
    start();
    int rc = wait_exit(pid_);
    pid_ = -1;
    return rc;
  }
  std::string log() const { return testkit::slurp(dir_ + "/quenta-sync.log") + testkit::slurp(dir_ + "/sync.err"); }

private:
  std::string dir_;
  std::vector<std::string> args_;
  pid_t pid_ = -1;
};

}  // namespace chain

#endif
