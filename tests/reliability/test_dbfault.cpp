// The database out of reach while calls end: held locked by another process
// for 3 seconds, and made read-only to the station. The calls that end then
// must all be in "cdrtbl" once the database can be written again, and no
// status report may announce one of them before its row is there.
#include <sys/stat.h>

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

TEST(DatabaseFaults, CallsEndingWhileAnotherProcessHoldsTheLockAreAllStored)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  Station station(dir);
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));

  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(dir.file("quentadb").c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "begin exclusive", nullptr, nullptr, nullptr));
  long long locked = now_ms();
  pid_t sim = spawn({GWSIM_PATH, "-e", calls_script("LOCK", 7000), "--echo-timeout", "8000", "--linger", "1000"},
                    {}, "/dev/null");
  std::this_thread::sleep_for(std::chrono::milliseconds(3000 - (now_ms() - locked)));
  long long released = now_ms();
  EXPECT_TRUE(numbers_stored(dir, "LOCK").empty());
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "commit", nullptr, nullptr, nullptr));
  sqlite3_close(db);
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
