// The online backup of a shop's database of 1,000,000 calls with their bills:
// the time one backup takes, and what it costs the gateway handler meanwhile.
// A thread stores a call every 20 ms as the handler does (bound insert, 100 ms
// wait for the lock and the file together) and times every store; the figures
// are the longest store and the stores that failed (whose calls would wait in
// "cdr.pending") during the backups. The database is built in a temporary
// directory (about half a minute) and removed.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "quenta/sqlite.h"

namespace {

constexpr int kCalls = 1000000;

std::string g_dir;

std::string Path(const char *name)
{
  return g_dir + "/" + name;
}

double Megabytes(const std::string &path)
{
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (double)st.st_size / 1e6 : 0;
}

bool BuildDatabase()
{
  const std::string sql =
      "pragma synchronous=off; begin;"
      "create table cdrtbl(callid varchar(128), machineid varchar(128), lineid smallint,"
      " orgnum varchar(128), desnum varchar(128), bdate varchar(128), edate varchar(128),"
      " flag smallint, constraint key1 unique(callid));"
      "create table billtbl(callid varchar(64), calltime smallint, period varchar(128),"
      " count real, admin varchar(64), date varchar(128));"
      "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
      std::to_string(kCalls) +
      ")"
      " insert into cdrtbl select printf('GW%d-%08d@%d', i % 10, i % 10, i), 'GW' || (i % 10), i % 10, '8001',"
      " '00852' || (20000000 + i), '2023-05-01 10:00:00', '2023-05-01 10:01:35', 1 from n;"
      "insert into billtbl select callid, 95, '0:00:00-0.30', 0.6, 'admin', bdate from cdrtbl;"
      "create index cdrtbl_bdate on cdrtbl(bdate); create index billtbl_callid on billtbl(callid);"
      "commit;";
  return sqlite_exec_cmd(Path("quentadb").c_str(), sql.c_str(), nullptr, nullptr) == 0;
}

/* The handler's side: a call stored every 20 ms, each store timed, until it
 * is stopped. */
class Stores {
public:
  explicit Stores(const std::string &db) : m_db(db), m_thread([this] { run(); }) {}
  ~Stores() { stop(); }

  void stop()
  {
    m_stop = true;
    if (m_thread.joinable())
      m_thread.join();
  }

  long longest_us = 0;
  int stored = 0, failed = 0;

private:
  void run()
  {
    static std::atomic<int> calls{0};
    while (!m_stop) {
      std::string id = "NEW-" + std::to_string(calls++);
      sqlite_value v[8] = {{SQLITE_TEXT, id.c_str(), 0, 0},
                           {SQLITE_TEXT, "GW1", 0, 0},
                           {SQLITE_INTEGER, nullptr, 1, 0},
                           {SQLITE_TEXT, "8001", 0, 0},
                           {SQLITE_TEXT, "0085220000000", 0, 0},
                           {SQLITE_TEXT, "2024-01-01 10:00:00", 0, 0},
                           {SQLITE_TEXT, "2024-01-01 10:01:35", 0, 0},
                           {SQLITE_INTEGER, nullptr, 0, 0}};
      auto t = std::chrono::steady_clock::now();
      int rc = sqlite_exec_bound_wait(m_db.c_str(), "insert into cdrtbl values(?, ?, ?, ?, ?, ?, ?, ?)", v, 8,
                                      HANDLER_STORE_WAIT_MS, nullptr, nullptr);
      long us =
          (long)std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t).count();
      (rc == 0 ? stored : failed)++;
      longest_us = std::max(longest_us, us);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  std::string m_db;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

/* range(0) 1: backups one after the other; 0: the same time without them, for
 * the stores' own figures on this disk. */
void BM_BackupWhileCallsAreStored(benchmark::State &state)
{
  const std::string db = Path("quentadb"), copy = Path("copy");
  Stores stores(db);
  for (auto _ : state) {
    if (state.range(0) == 0)
      std::this_thread::sleep_for(std::chrono::seconds(3));
    else if (sqlite_backup(db.c_str(), copy.c_str(), SQLITE_BUSY_TIMEOUT_MS, nullptr, nullptr) != 0)
      state.SkipWithError("the backup failed");
  }
  stores.stop();
  state.counters["MB"] = Megabytes(copy);
  state.counters["longest_store_ms"] = stores.longest_us / 1000.0;
  state.counters["stored"] = stores.stored;
  state.counters["failed"] = stores.failed;
}

BENCHMARK(BM_BackupWhileCallsAreStored)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char **argv)
{
  benchmark::Initialize(&argc, argv);
  char tmpl[] = "/tmp/quenta-bench-backupXXXXXX";
  if (!mkdtemp(tmpl))
    return 1;
  g_dir = tmpl;
  fprintf(stderr, "building a database of %d calls in %s\n", kCalls, tmpl);
  int rc = BuildDatabase() ? 0 : 1;
  if (rc == 0)
    benchmark::RunSpecifiedBenchmarks();
  else
    fprintf(stderr, "cannot build the database\n");
  benchmark::Shutdown();
  std::string cmd = "rm -rf '" + g_dir + "'";
  if (system(cmd.c_str()) != 0)
    fprintf(stderr, "cannot remove %s\n", tmpl);
  return rc;
}
