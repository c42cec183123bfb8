// The online backup of the database: a copy taken while a gateway's calls are
// being stored opens, passes the integrity check and holds every call stored
// before it began, while the calls go on being stored; a backup that fails
// says why and leaves no file under the backup's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gateway.h"
#include "quenta/quenta.h"
#include "quenta/sqlite.h"

namespace {

using gwtest::eventually;

constexpr int kMachines = 10;
constexpr int kLines = 10;
constexpr int kBulkCalls = 20000;  // some 10 MB

/* The first column of the rows, read under the engine's database lock: a
 * reader of its own would have to win the file from the handler's writes. */
std::vector<std::string> query(const std::string &dbpath, const char *sql)
{
  std::vector<std::string> rows;
  auto row = [](void *p, int, char **v, char **) {
    static_cast<std::vector<std::string> *>(p)->push_back(v[0]);
    return 0;
  };
  sqlite_exec_cmd(dbpath.c_str(), sql, row, &rows);
  return rows;
}

/* The gateways' calls in the database, not the calls of earlier years. */
std::set<std::string> calls(const std::string &dbpath)
{
  std::vector<std::string> ids = query(dbpath, "select callid from cdrtbl where machineid != 'OLD'");
  return {ids.begin(), ids.end()};
}

class Backup : public gwtest::HandlerFixture {};

TEST_F(Backup, ACopyTakenWhileCallsAreStoredIsWholeAndMissesNone)
{
  // Calls of earlier years, long enough to make a file of many rounds.
  const std::string fill = "with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
                           std::to_string(kBulkCalls) +
                           ") insert into cdrtbl select 'OLD-' || i, 'OLD', 1, '8001',"
                           " printf('%.400c', '9'), '2020-01-01 10:00:00', '2020-01-01 10:01:35', 1 from n";
  ASSERT_EQ(0, sqlite_exec_cmd(dbpath_.c_str(), fill.c_str(), nullptr, nullptr));
  // 100 lines take turns: each line calls again only after 2 s, so every
  // call id (machine, line, start second) is new.
  std::atomic<bool> stop{false};
  std::atomic<int> made{0};
  std::thread gateways([&] {
    gwtest::Gateway gw;
    for (int i = 0; i < kMachines * kLines; i++)
      gw.send(gwtest::keepalive("GW" + std::to_string(i / kLines), i % kLines, "IDLE"));
    for (int i = 0; !stop; i = (i + 1) % (kMachines * kLines)) {
      const std::string machine = "GW" + std::to_string(i / kLines);
      gw.send(gwtest::connected(machine, i % kLines, "8001", "00852" + std::to_string(20000000 + made)));
      gw.send(gwtest::keepalive(machine, i % kLines, "IDLE"));
      made++;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  ASSERT_TRUE(eventually([&] { return calls(dbpath_).size() >= 20; }, 10000));

  const std::set<std::string> before = calls(dbpath_);
  const std::string copy = work_.path() + "/copy";
  auto progress = [](int percent, void *) { EXPECT_TRUE(percent >= 0 && percent <= 100) << percent; };
  EXPECT_EQ(0, sqlite_backup(dbpath_.c_str(), copy.c_str(), SQLITE_BUSY_TIMEOUT_MS, progress, nullptr));
  const size_t after = calls(dbpath_).size();
  stop = true;
  gateways.join();

  EXPECT_EQ(std::vector<std::string>{"ok"}, query(copy, "pragma integrity_check"));
  EXPECT_EQ(std::vector<std::string>{std::to_string(kBulkCalls)},
            query(copy, "select count(*) from cdrtbl where machineid = 'OLD'"));
  const std::set<std::string> backed = calls(copy);
  for (const std::string &id : before)
    ASSERT_TRUE(backed.count(id)) << id << " was stored before the backup began";
  EXPECT_EQ(-1, testkit::file_size(copy + ".part"));
  // The rounds let the handler have the database lock: calls were stored
  // meanwhile, and those that had to wait are stored once the copy is done.
  EXPECT_GT(after, before.size());
  EXPECT_TRUE(eventually(
      [&] {
        const std::string failed = gwtest::slurp(work_.path() + "/" CDR_FAILED_FILE);
        return calls(dbpath_).size() + std::count(failed.begin(), failed.end(), '\n') >= (size_t)made;
      },
      10000))
      << made << " calls made, " << calls(dbpath_).size() << " stored";
}

/* Once writers have made the copy start over twice it reads one snapshot to
 * its end; a write of another thread that meets the snapshot then waits for
 * the copy, which goes on meanwhile, and is stored after it. */
TEST(BackupSnapshot, AWriteThatMeetsTheSnapshotWaitsForTheCopy)
{
  gwtest::WorkDir work;
  const std::string db = work.path() + "/quentadb", copy = work.path() + "/copy";
  ASSERT_EQ(0, sqlite_exec_cmd(db.c_str(),
                               "create table t(x); with recursive n(i) as (select 1 union all select i + 1 from n "
                               "where i < 40000) insert into t select printf('%.1000c', 'x') from n",
                               nullptr, nullptr));
  struct Shared {
    const std::string *db;
    std::atomic<int> rounds{0};
    std::atomic<bool> meet{false};
    std::atomic<bool> done{false};
  } shared{&db};
  auto progress = [](int, void *param) {
    auto *sh = static_cast<Shared *>(param);
    // Two writes between rounds: two restarts, and the next round takes the snapshot.
    if (++sh->rounds <= 2)
      EXPECT_EQ(0, sqlite_exec_cmd(sh->db->c_str(), "insert into t values('restart')", nullptr, nullptr));
    else if (sh->rounds == 4 && !sh->meet.exchange(true))
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the writer meets the snapshot
  };
  int result = -1;
  std::thread backup([&] {
    result = sqlite_backup(db.c_str(), copy.c_str(), SQLITE_BUSY_TIMEOUT_MS, progress, &shared);
    shared.done = true;
  });
  while (!shared.meet && !shared.done)
    std::this_thread::yield();
  const bool met = shared.meet;
  const int stored = sqlite_exec_cmd(db.c_str(), "insert into t values('during')", nullptr, nullptr);
  backup.join();
  ASSERT_TRUE(met) << "the copy was done before its fourth round";
  EXPECT_EQ(0, stored);
  EXPECT_EQ(0, result);
  EXPECT_EQ(std::vector<std::string>{"2"}, query(copy, "select count(*) from t where x = 'restart'"));
  EXPECT_EQ(std::vector<std::string>{"1"}, query(db, "select count(*) from t where x = 'during'"));
}

struct Failure {
  const char *name;
  bool garbage;      // the database file holds no database
  bool locked;       // another connection holds the database exclusively
  const char *dest;  // relative to the working directory
  int expected;
};

void PrintTo(const Failure &f, std::ostream *out)
{
  *out << f.name;
}

class BackupFailure : public ::testing::TestWithParam<Failure> {
protected:
  gwtest::WorkDir work_;
};

TEST_P(BackupFailure, SaysWhyAndLeavesNoFile)
{
  const Failure &f = GetParam();
  const std::string db = work_.path() + "/quentadb", dest = work_.path() + "/" + f.dest;
  if (f.garbage)
    std::ofstream(db) << std::string(4096, 'x');
  else
    ASSERT_EQ(0, sqlite_exec_cmd(db.c_str(), "create table t(x)", nullptr, nullptr));
  sqlite3 *holder = nullptr;
  if (f.locked) {
    ASSERT_EQ(SQLITE_OK, sqlite3_open(db.c_str(), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr));
  }
  EXPECT_EQ(f.expected, sqlite_backup(db.c_str(), dest.c_str(), 300, nullptr, nullptr));
  sqlite3_close(holder);
  EXPECT_EQ(-1, testkit::file_size(dest));
  EXPECT_EQ(-1, testkit::file_size(dest + ".part"));
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupFailure,
                         ::testing::Values(Failure{"NoSuchFolder", false, false, "missing/copy",
                                                   QUENTA_BACKUP_CANTWRITE},
                                           Failure{"NotADatabase", true, false, "copy", QUENTA_BACKUP_UNREADABLE},
                                           Failure{"LockedThroughout", false, true, "copy", QUENTA_BACKUP_BUSY}),
                         [](const ::testing::TestParamInfo<Failure> &info) { return std::string(info.param.name); });

}  // namespace
