// Hostile gateways: random bytes, oversized datagrams, a flood of 10,000
// invalid messages a second and attributes full of quotes, semicolons and SQL,
// all while simulated lines make calls; then a flood of KeepAlives from more
// distinct lines than the table holds. The station must stay up, the known
// lines must keep working, a silent line must still turn "UNKNOWN" on time,
// and what a line reported must be stored byte for byte.
#include <atomic>
#include <map>
#include <set>
#include <tuple>
#include <random>

#include "reliability.h"

using namespace rel;

namespace {

// Sends `rate` datagrams a second made by `make` until stop is set.
void flood(std::atomic<bool> &stop, int rate, const std::function<std::string(long)> &make, long *sent)
{
  RawGateway gw;
  long n = 0;
  long long start = now_ms();
  while (!stop) {
    long due = (long)((now_ms() - start) * rate / 1000);
    while (n < due && !stop)
      gw.send(make(n++));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  *sent = n;
}

struct SimCall {
  std::string machine;
  int line;
  std::string number, ended_by;
};

// The calls of a gateway simulator summary in CSV form.
std::vector<SimCall> sim_calls(const std::string &csv)
{
  std::vector<SimCall> calls;
  std::istringstream in(slurp(csv));
  std::string text;
  std::getline(in, text);
  while (std::getline(in, text)) {
    std::vector<std::string> f;
    std::istringstream fields(text);
    std::string field;
    while (std::getline(fields, field, ','))
      f.push_back(field);
    if (f.size() == 8)
      calls.push_back({f[0], atoi(f[1].c_str()), f[3], f[7]});
  }
  return calls;
}

// Every call the simulator ended has a row of its own.
void expect_calls_stored(const WorkDir &dir, const std::vector<SimCall> &calls)
{
  std::map<std::tuple<std::string, int, std::string>, int> rows;
  for (const Row &r : cdr_rows(dir))
    rows[{r.machineid, r.lineid, r.desnum}]++;
  int ended = 0;
  for (const SimCall &c : calls) {
    if (c.ended_by == "open")
      continue;
    ended++;
    int &left = rows[std::make_tuple(c.machine, c.line, c.number)];
    EXPECT_GT(left--, 0) << c.machine << "/" << c.line << " " << c.number;
  }
  EXPECT_GT(ended, 0);
}

TEST(HostileGateways, StationStaysUpKeepsItsLinesAndItsTimerAndStoresBytesExactly)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  Station station(dir);
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));

  // the known lines make calls for the whole scenario
  pid_t sim = spawn({GWSIM_PATH,   "--random", "-m",
                     "2",          "-l",       "5",
                     "--talk",     "1:2",      "--idle",
                     "0.3:1",      "-k",       "1000",
                     "--duration", "14",       "--echo-timeout",
                     "5000",       "--strict", "--format",
                     "csv",        "-o",       dir.file("sim.csv")},
                    {}, "/dev/null");

  std::atomic<bool> stop{false};
  std::mt19937 rng(42);
  long sent_invalid = 0, sent_junk = 0;
  std::thread invalid(
      flood, std::ref(stop), 10000,
      [](long n) {
        switch (n % 4) {
        case 0:
          return std::string("KeepAlive KeepAlive ui/1.0\nmachine_id GW1\n\n");
        case 1:
          return std::string("Register Register ui/1.0\nmachine_id: GW1\n\n");
        case 2:
          return message("Connected", {{"machine_id", "NOBODY"}, {"line_id", "1"}});
        default:
          return std::string("\n\n\n");
        }
      },
      &sent_invalid);
  std::thread junk(
      flood, std::ref(stop), 500,
      [&rng](long n) {
        static const size_t oversized[] = {513, 1000, 8192, 65000};
        size_t size = n % 5 == 4 ? oversized[(n / 5) % 4] : rng() % 513;
        std::string bytes(size, '\0');
        for (char &c : bytes)
          c = (char)(rng() & 0xff);
        return bytes;
      },
      &sent_junk);

  // a call whose every attribute is hostile text, during the flood
  RawGateway evil;
  const std::string machine = "GW'\";--", state = "IDLE'); drop table cdrtbl; --";
  const std::string src = "1'); delete from cdrtbl where ('1'='1", dest = "\"; select * from billtbl; '--";
  ASSERT_TRUE(evil.exchange(keepalive(machine, 1, state)));
  ASSERT_TRUE(evil.exchange(connected(machine, 1, src, dest)));
  ASSERT_TRUE(evil.exchange(keepalive(machine, 1, "CONNECTED")));
  ASSERT_TRUE(evil.exchange(keepalive(machine, 1, state)));

  // a connected line that falls silent in the middle of the flood
  RawGateway quiet;
  ASSERT_TRUE(quiet.exchange(keepalive("SILENT", 1, "IDLE")));
  ASSERT_TRUE(quiet.exchange(connected("SILENT", 1, "801", "114")));
  long long last_message = now_ms();
  long long unknown = -1;
  EXPECT_TRUE(
      eventually([&] { return (unknown = first_state(dir, "SILENT", 1, "UNKNOWN", last_message)) >= 0; }, 20000));
  long long silent_ms = unknown - last_message;
  RecordProperty("silence_ms", (int)silent_ms);
  EXPECT_GE(silent_ms, 9000 - 100) << "the line turned UNKNOWN early";
  EXPECT_LE(silent_ms, 10000 + 1000) << "the line turned UNKNOWN late";

  int sim_rc = wait_exit(sim);
  stop = true;
  invalid.join();
  junk.join();

  EXPECT_EQ(0, sim_rc) << "a known line missed an echo during the flood";
  EXPECT_TRUE(station.alive());
  EXPECT_TRUE(evil.exchange(keepalive(machine, 1, "IDLE")));
  EXPECT_GE(sent_invalid, 100000);
  printf("sent %ld invalid messages and %ld junk datagrams; silence rule after %lld ms\n", sent_invalid, sent_junk,
         silent_ms);

  std::vector<Row> evil_rows;
  for (const Row &r : cdr_rows(dir))
    if (r.lineid == 1 && r.machineid == machine)
      evil_rows.push_back(r);
  ASSERT_EQ(1u, evil_rows.size());
  EXPECT_EQ(src, evil_rows[0].orgnum);
  EXPECT_EQ(dest, evil_rows[0].desnum);
  EXPECT_EQ(machine + "-00000001@" + evil_rows[0].bdate, evil_rows[0].callid);
  EXPECT_EQ(1u, cdr_rows(dir, "where machineid='SILENT'").size());
  expect_calls_stored(dir, sim_calls(dir.file("sim.csv")));
  EXPECT_EQ("ok", integrity_check(dir));
}

TEST(HostileGateways, AFloodOfNewLinesLeavesTheHundredKnownLinesWorking)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  Station station(dir);
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));

  pid_t sim = spawn({GWSIM_PATH,   "--random", "-m",
                     "10",         "-l",       "10",
                     "--talk",     "1:3",      "--idle",
                     "0.5:2",      "-k",       "1000",
                     "--duration", "12",       "--echo-timeout",
                     "5000",       "--strict", "--format",
                     "csv",        "-o",       dir.file("sim.csv")},
                    {}, "/dev/null");
  auto known_lines = [&] {
    std::set<std::pair<std::string, int>> lines;
    for (const StatusEvent &e : status_events(dir))
      lines.insert({e.machine, e.line});
    return lines.size();
  };
  ASSERT_TRUE(eventually([&] { return known_lines() == 100; }, 30000));

  std::atomic<bool> stop{false};
  long sent = 0;
  std::thread newcomers(
      flood, std::ref(stop), 5000,
      [](long n) { return keepalive("FLOOD" + std::to_string(n % 150), (int)(n % 7), "IDLE"); }, &sent);
  RawGateway stranger;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(stranger.exchange(keepalive("STRANGER", 1, "IDLE"), 1000)) << "a 101st line was taken";

  int sim_rc = wait_exit(sim);
  stop = true;
  newcomers.join();
  EXPECT_EQ(0, sim_rc) << "a known line missed an echo during the flood";
  EXPECT_TRUE(station.alive());
  EXPECT_EQ(100u, known_lines());
  printf("sent %ld KeepAlives from 150 unknown lines\n", sent);
  expect_calls_stored(dir, sim_calls(dir.file("sim.csv")));
}

}  // namespace
