// Crash safety: the station is killed with SIGKILL at random moments while 100
// simulated lines make calls, and started again each time. Every call whose
// end a status report announced before a kill (the station wrote its call id
// to disk before counting it) must afterwards be in "cdrtbl" exactly once, no
// line may have had more ended calls announced than it has calls kept (rows,
// and lines of cdr.failed), and the database must pass its integrity check.
#include <map>
#include <random>
#include <set>

#include "reliability.h"

using namespace rel;

namespace {

constexpr int kKills = 20;

std::vector<std::string> seen_calls(const WorkDir &dir)
{
  std::vector<std::string> ids;
  std::istringstream in(slurp(dir.file("seen.calls")));
  std::string id;
  while (std::getline(in, id))
    ids.push_back(id);
  return ids;
}

TEST(CrashSafety, ReportedCallsSurviveRepeatedKillsExactlyOnce)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  unsigned seed = (unsigned)time(nullptr);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);

  pid_t sim = spawn({GWSIM_PATH, "--random", "-m", "10", "-l", "10", "--talk", "0.3:1.5", "--idle", "0.1:0.8",
                     "-k", "500", "--digit-interval", "20", "--echo-timeout", "3000", "--duration", "200",
                     "--seed", std::to_string(seed)},
                    {}, "/dev/null");
  ASSERT_GT(sim, 0);

  std::uniform_int_distribution<int> pause_ms(0, 1500);
  int kills = 0;
  for (; kills < kKills; kills++) {
    Station station(dir);
    ASSERT_TRUE(station.start()) << "start " << kills << ": " << slurp(dir.file("station.out"));
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(rng)));
    ASSERT_EQ(128 + SIGKILL, station.kill(SIGKILL));
  }

  // One more start: the database opens after the last kill and takes calls.
  size_t before = cdr_rows(dir).size();
  {
    Station station(dir);
    ASSERT_TRUE(station.start());
    EXPECT_TRUE(eventually([&] { return cdr_rows(dir).size() > before; }, 30000));
    EXPECT_EQ(128 + SIGTERM, station.kill(SIGTERM));
  }
  kill(sim, SIGINT);
  wait_exit(sim);

  EXPECT_EQ("ok", integrity_check(dir));

  std::vector<Row> rows = cdr_rows(dir);
  std::map<std::string, int> copies;
  std::map<std::pair<std::string, int>, int> rows_of_line;
  for (const Row &r : rows) {
    copies[r.callid]++;
    rows_of_line[{r.machineid, r.lineid}]++;
  }
  std::vector<std::string> seen = seen_calls(dir);
  EXPECT_GE(seen.size(), 20u) << "too few calls were reported to prove anything";
  for (const std::string &id : seen)
    EXPECT_EQ(1, copies[id]) << id;

  // two calls of a line that start in the same second share a call id: the
  // second one is kept in cdr.failed, and announced like a stored one
  std::istringstream failed(slurp(dir.file("cdr.failed")));
  std::string record;
  int failed_calls = 0;
  while (std::getline(failed, record)) {
    std::istringstream fields(record);
    std::string callid, machine, line;
    std::getline(fields, callid, '\t');
    std::getline(fields, machine, '\t');
    std::getline(fields, line, '\t');
    rows_of_line[{machine, atoi(line.c_str())}]++;
    failed_calls++;
  }
  std::map<std::pair<std::string, int>, int> flags_of_line;
  for (const StatusEvent &e : status_events(dir))
    flags_of_line[{e.machine, e.line}] += e.flag;
  for (const auto &[line, flags] : flags_of_line)
    EXPECT_LE(flags, rows_of_line[line]) << line.first << "/" << line.second;

  RecordProperty("kills", kills);
  RecordProperty("reported_calls", (int)seen.size());
  RecordProperty("rows", (int)rows.size());
  printf("%d kills, %zu calls reported before a kill, %zu rows in cdrtbl, %d in cdr.failed\n", kills, seen.size(),
         rows.size(), failed_calls);
}

}  // namespace
