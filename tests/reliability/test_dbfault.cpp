// The database out of reach while calls end: held locked by another process
// for 3 seconds, and made read-only to the station. The calls that end then
// must all be in "cdrtbl" once the database can be written again, and no
// status report may announce one of them before its row is there. Held for 6
// seconds, the database must delay no echo and no silent line; a station
// killed while its calls wait in "cdr.pending" stores each of them once at its
// next start, where the console's check of unsettled calls finds them.
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "reliability.h"

using namespace rel;

namespace {

constexpr int kLines = 10;

// Every line of machine `m` makes one call to base + line and hangs up.
std::string calls_script(const std::string &m, int base)
{
  std::string s;
  for (int l = 1; l <= kLines; l++) {
    std::string sel = m + "/" + std::to_string(l) + " ";
    s += sel + "announce; " + sel + "connect " + std::to_string(base + l) + " 801; " + sel + "talk 0.3; " + sel +
         "hangup; ";
  }
  return s;
}

std::set<std::string> numbers_stored(const WorkDir &dir, const std::string &m)
{
  std::set<std::string> numbers;
  for (const Row &r : cdr_rows(dir, "where machineid='" + m + "'"))
    numbers.insert(r.desnum);
  return numbers;
}

std::set<std::string> expected_numbers(int base)
{
  std::set<std::string> numbers;
  for (int l = 1; l <= kLines; l++)
    numbers.insert(std::to_string(base + l));
  return numbers;
}

// The first moment a report announced an ended call of machine m, or -1.
long long first_flag(const WorkDir &dir, const std::string &m)
{
  for (const StatusEvent &e : status_events(dir))
    if (e.machine == m && e.flag)
      return e.ms;
  return -1;
}

// Another process's exclusive lock on "quentadb", held until release().
struct Holder {
  sqlite3 *db = nullptr;
  explicit Holder(const WorkDir &dir)
  {
    EXPECT_EQ(SQLITE_OK, sqlite3_open(dir.file("quentadb").c_str(), &db));
    sqlite3_busy_timeout(db, 10000);
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, "begin exclusive", nullptr, nullptr, nullptr));
  }
  ~Holder() { release(); }
  void release()
  {
    EXPECT_TRUE(!db || sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK);
    sqlite3_close(db);
    db = nullptr;
  }
};

TEST(DatabaseFaults, AStationKilledWhileTheDatabaseIsHeldStoresItsPendingCallsOnceAtRestart)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  std::string pending;
  {
    Station station(dir);
    ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));
    Holder held(dir);
    EXPECT_EQ(0, gwsim({"-e", calls_script("KILL", 6000), "--echo-timeout", "2000"}));
    EXPECT_TRUE(eventually(
        [&] {
          pending = slurp(dir.file("cdr.pending"));
          return std::count(pending.begin(), pending.end(), '\n') == kLines;
        },
        5000));
    ASSERT_EQ(128 + SIGKILL, station.kill(SIGKILL));
  }
  // the first call again, as if stored just before the kill; another call under
  // its call id; a line cut short
  std::string first = pending.substr(0, pending.find('\n') + 1), other = first;
  other.replace(other.find("\t801\t"), 5, "\t802\t");
  std::ofstream(dir.file("cdr.pending"), std::ios::app) << first << other << "KILL-0";

  Station station(dir);
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));
  // stored once the station answers its gateways
  EXPECT_TRUE(eventually([&] { return file_size(dir.file("cdr.pending")) == 0; }, 10000));
  EXPECT_EQ(expected_numbers(6000), numbers_stored(dir, "KILL"));
  EXPECT_EQ((size_t)kLines, cdr_rows(dir, "where machineid='KILL'").size()) << "every call exactly once";
  EXPECT_EQ(other, slurp(dir.file("cdr.failed")));
  // a line that reports again is checked for unsettled calls, as by the console
  ASSERT_TRUE(RawGateway().exchange(keepalive("KILL", 1, "IDLE")));
  std::vector<Row> line1 = cdr_rows(dir, "where machineid='KILL' and lineid=1");
  ASSERT_EQ(1u, line1.size());
  EXPECT_TRUE(eventually([&] { return slurp(dir.file("unsettled.calls")) == line1[0].callid + "\n"; }, 5000));
}

TEST(DatabaseFaults, AHeldDatabaseDelaysNoEchoAndNoSilentLine)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  // the console's check of unsettled calls twice a second, each waiting out
  // the held file for 5 s with the engine's database lock held
  Station station(dir, {"--select", "500"});
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));
  RawGateway gw;
  for (const char *m : {"SIL", "ECHO", "END"})
    ASSERT_TRUE(gw.exchange(keepalive(m, 1, "IDLE")));
  ASSERT_TRUE(gw.exchange(connected("END", 1, "801", "115")));
  ASSERT_TRUE(gw.exchange(connected("SIL", 1, "801", "114")));
  long long silent_since = now_ms();
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));

  // the silent line's tenth tick comes while the database is held
  Holder held(dir);
  std::vector<long long> echo_ms;
  for (long long start = now_ms(); now_ms() - start < 6000;) {
    long long t = now_ms();
    ASSERT_TRUE(gw.exchange(keepalive(echo_ms.empty() ? "END" : "ECHO", 1, "IDLE")));
    echo_ms.push_back(now_ms() - t);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  long long unknown = -1;
  EXPECT_TRUE(eventually([&] { return (unknown = first_state(dir, "SIL", 1, "UNKNOWN", 0)) >= 0; }, 3000));
  held.release();

  std::sort(echo_ms.begin(), echo_ms.end());
  EXPECT_LT(echo_ms.back(), 250) << "an echo waited for the database";
  EXPECT_GE(unknown - silent_since, 9000);
  EXPECT_LE(unknown - silent_since, 11000) << "the silence rule waited for the database";
  EXPECT_TRUE(eventually([&] { return numbers_stored(dir, "END") == std::set<std::string>{"115"}; }, 10000));
  printf("%zu echoes while held: p50 %lld ms, p99 %lld ms, max %lld ms; silent line unknown after %lld ms\n",
         echo_ms.size(), echo_ms[echo_ms.size() / 2], echo_ms[echo_ms.size() * 99 / 100], echo_ms.back(),
         unknown - silent_since);
}

TEST(DatabaseFaults, CallsEndingWhileAnotherProcessHoldsTheLockAreAllStored)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  Station station(dir);
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));

  Holder held(dir);
  long long locked = now_ms();
  pid_t sim = spawn({GWSIM_PATH, "-e", calls_script("LOCK", 7000), "--echo-timeout", "8000", "--linger", "1000"}, {},
                    "/dev/null");
  std::this_thread::sleep_for(std::chrono::milliseconds(3000 - (now_ms() - locked)));
  long long released = now_ms();
  EXPECT_TRUE(numbers_stored(dir, "LOCK").empty());
  held.release();
  wait_exit(sim);

  EXPECT_TRUE(eventually([&] { return numbers_stored(dir, "LOCK") == expected_numbers(7000); }, 30000));
  EXPECT_TRUE(station.alive());
  // the rows come first, the report that announces them at the next poll
  EXPECT_TRUE(eventually([&] { return first_flag(dir, "LOCK") >= 0; }, 5000));
  long long flagged = first_flag(dir, "LOCK");
  EXPECT_GE(flagged, released - 100) << "a call was announced while its row could not have been written";
  EXPECT_LT(file_size(dir.file("cdr.failed")), 0) << slurp(dir.file("cdr.failed"));
}

TEST(DatabaseFaults, CallsEndingWhileTheFileIsReadOnlyAreStoredOnceItIsWritable)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  std::vector<std::string> args;
  if (geteuid() == 0) {
    // root writes any file: the station runs as an ordinary user instead
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0777));
    args = {"--user", "65534"};
  }
  Station station(dir, args);
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));
  ASSERT_TRUE(eventually([&] { return file_size(dir.file("quentadb")) > 0; }, 10000));

  ASSERT_EQ(0, chmod(dir.file("quentadb").c_str(), 0444));
  int rc = gwsim({"-e", calls_script("RO", 8000), "--echo-timeout", "3000"});
  EXPECT_EQ(0, rc);
  // a few silence ticks go by: every one of them tries again, and is refused
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_TRUE(numbers_stored(dir, "RO").empty());
  EXPECT_EQ(-1, first_flag(dir, "RO")) << "a call was announced that exists only in memory";

  long long writable = now_ms();
  ASSERT_EQ(0, chmod(dir.file("quentadb").c_str(), 0644));
  EXPECT_TRUE(eventually([&] { return numbers_stored(dir, "RO") == expected_numbers(8000); }, 30000));
  EXPECT_TRUE(eventually([&] { return first_flag(dir, "RO") >= writable; }, 10000));
  EXPECT_TRUE(station.alive());
  EXPECT_LT(file_size(dir.file("cdr.failed")), 0) << slurp(dir.file("cdr.failed"));
}

}  // namespace
