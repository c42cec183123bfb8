// Crash safety: the station is killed with SIGKILL at random moments while 100
// simulated lines make calls, and started again each time. Every call whose
// end a status report announced before a kill (the station wrote its call id
// to disk before counting it) must afterwards be in "cdrtbl" exactly once, no
// line may have had more ended calls announced than it has calls kept (rows,
// and lines of cdr.failed), and the database must pass its integrity check.
// A call the station is killed during is billed once, from its real start.
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

  pid_t sim = spawn({GWSIM_PATH,
                     "--random",
                     "-m",
                     "10",
                     "-l",
                     "10",
                     "--talk",
                     "0.3:1.5",
                     "--idle",
                     "0.1:0.8",
                     "-k",
                     "500",
                     "--digit-interval",
                     "20",
                     "--echo-timeout",
                     "3000",
                     "--duration",
                     "200",
                     "--seed",
                     std::to_string(seed)},
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

// The gateway simulator plays two calls; the station is killed 11 s into them
// and started again 3 s later as quenta-monitor, which settles every call.
// R/1 talks on and goes on from its real start, marked as recovered; R/2 hung
// up while the station was down and ends when it was last known running.
TEST(CrashSafety, ACallTheStationIsKilledDuringIsBilledOnceFromItsStart)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  std::optional<Station> station(dir);
  ASSERT_TRUE(station->start());
  pid_t sim = spawn({GWSIM_PATH, "-k", "500", "--echo-timeout", "5000", "--duration", "60", "-e",
                     "R/1 announce; R/1 dial 0105551234; R/1 connect 0105551234 801; R/1 talk 22; R/1 hangup;"
                     "R/2 announce; R/2 dial 117; R/2 connect 117 802; R/2 talk 12; R/2 hangup"},
                    {}, "/dev/null");
  ASSERT_GT(sim, 0);
  ASSERT_TRUE(eventually([&] { return first_state(dir, "R", 2, "CONNECTED", 0) >= 0; }, 10000));
  time_t connected = time(nullptr);
  std::this_thread::sleep_for(std::chrono::seconds(11));
  ASSERT_EQ(128 + SIGKILL, station->kill(SIGKILL));
  time_t killed = time(nullptr);
  station.reset();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  std::string cmd = "cd '" + dir.path() + "' && exec '" + MONITOR_PATH + "' --settle admin";
  pid_t monitor = spawn({"/bin/sh", "-c", cmd}, {}, dir.file("monitor.out"));
  ASSERT_GT(monitor, 0);
  EXPECT_EQ(0, wait_exit(sim));
  EXPECT_TRUE(eventually([&] { return cdr_rows(dir, "where flag=1").size() == 2; }, 10000)) << "settled";
  kill(monitor, SIGTERM);
  EXPECT_EQ(0, wait_exit(monitor));

  auto seconds = [](const std::string &text) {
    struct tm tm = {};
    strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    tm.tm_isdst = -1;
    return (long)mktime(&tm);
  };
  std::vector<Row> rows = cdr_rows(dir);
  ASSERT_EQ(2u, rows.size()) << "one row a call";
  const Row &r1 = rows[0].lineid == 1 ? rows[0] : rows[1], &r2 = rows[0].lineid == 1 ? rows[1] : rows[0];
  EXPECT_EQ("0105551234", r1.desnum);
  EXPECT_EQ("801", r1.orgnum);
  EXPECT_LE(std::abs(seconds(r1.bdate) - connected), 2) << r1.bdate;
  EXPECT_GE(seconds(r1.edate) - seconds(r1.bdate), 20) << "billed from its real start to its end";
  EXPECT_EQ("117", r2.desnum);
  EXPECT_GE(seconds(r2.edate) - seconds(r2.bdate), 5) << "last known running before the kill";
  EXPECT_LE(seconds(r2.edate), killed) << "never later than the station can vouch for";

  // Priced by the monitor ("<call id> <number> <end> <seconds>s <amount>  settled")
  // like any other call, and marked as recovered while it went on.
  std::string out = slurp(dir.file("monitor.out"));
  size_t at = out.find(r1.callid);
  ASSERT_NE(std::string::npos, at) << out;
  std::istringstream priced(out.substr(at + r1.callid.size()));
  std::string number, day, hour, calltime, settled;
  double amount = 0;
  priced >> number >> day >> hour >> calltime >> amount >> settled;
  EXPECT_EQ(std::to_string(seconds(r1.edate) - seconds(r1.bdate)) + "s", calltime);
  EXPECT_GT(amount, 0);
  EXPECT_EQ("settled", settled);
  EXPECT_NE(std::string::npos, out.find(r1.bdate + "（恢复）")) << out;
  EXPECT_EQ("", slurp(dir.file("calls.live")));
}

}  // namespace
