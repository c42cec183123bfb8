// The message handler driven from real UDP sockets on 127.0.0.1 against a real
// database file: acknowledgement, the line table and its limits, whole calls
// stored as rows, commands, the status report taking turns with the handler,
// silence, a locked database and a refused call id.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>

#include "gateway.h"
#include "quenta/msghdlr.h"

using namespace gwtest;

namespace {

struct Status {
  std::string machine;
  int line;
  std::string state, src, dest, bdate;
  int flag;
};

std::vector<Status> *g_collect;

void collect(const char *m, int l, const char *s, const char *src, const char *dst, const char *b, int f)
{
  g_collect->push_back({m, l, s, src, dst, b, f});
}

std::vector<Status> status(msghdlr *h)
{
  std::vector<Status> out;
  g_collect = &out;
  EXPECT_EQ(0, msghdlr_get_status(h, collect));
  g_collect = nullptr;
  return out;
}

const Status *find(const std::vector<Status> &st, const std::string &m, int l)
{
  for (auto &s : st)
    if (s.machine == m && s.line == l)
      return &s;
  return nullptr;
}

class HandlerTest : public HandlerFixture {
protected:
  bool rows_reach(size_t n, int timeout_ms = 3000) const
  {
    return eventually([&] { return rows().size() >= n; }, timeout_ms);
  }
};

TEST_F(HandlerTest, AcceptedMessagesAreEchoedByteForByte)
{
  Gateway gw;
  EXPECT_TRUE(gw.exchange(discovery("GW1", 1)));
  // Types and attribute names in any case, and line ends with carriage returns.
  EXPECT_TRUE(gw.exchange("keepalive x ui/1.0\r\nMACHINE_ID: GW1\r\nLine_Id: 1\r\nSTATE: CONNECTED\r\n\r\n"));
  auto st = status(h_);
  ASSERT_EQ(1u, st.size());
  EXPECT_EQ("CONNECTED", st[0].state) << "the carriage return is not part of the state";
  // A body announced by Content-Length comes back with the rest.
  EXPECT_TRUE(gw.exchange("KEEPALIVE\nmachine_id: GW1\nline_id: 1\nstate: IDLE\nContent-Length: 5\n\nhello"));
  // More than sixteen attribute lines: the first sixteen count.
  std::string many = "KeepAlive\nmachine_id: GW1\nline_id: 1\nstate: BUSY\n";
  for (int i = 0; i < 20; i++)
    many += "x" + std::to_string(i) + ": y\n";
  EXPECT_TRUE(gw.exchange(many + "\n"));
  EXPECT_EQ("BUSY", status(h_)[0].state);
  // The echo ends at the first zero byte.
  std::string zero = keepalive("GW1", 1, "IDLE") + std::string("\0junk", 5);
  gw.send(zero);
  auto echo = gw.receive();
  ASSERT_TRUE(echo);
  EXPECT_EQ(keepalive("GW1", 1, "IDLE"), *echo);
}

TEST_F(HandlerTest, MalformedAndOversizedDatagramsAreDroppedAndTheHandlerGoesOn)
{
  Gateway gw;
  ASSERT_TRUE(gw.exchange(discovery("GW1", 1)));
  EXPECT_TRUE(gw.unanswered("KeepAlive\nmachine_id: GW1\nline_id:1\n\n")) << "no space after the colon";
  EXPECT_TRUE(gw.unanswered("KeepAlive\nmachine_id: GW1\nline_id 1\n\n"));
  EXPECT_TRUE(gw.unanswered("KeepAlive\nmachine_id: GW1\nline_id: 1\ndest_num: " + std::string(600, '9') + "\n\n"))
      << "a 600-character line does not fit in a datagram the station reads";
  EXPECT_TRUE(gw.unanswered("\nmachine_id: GW1\n\n")) << "an empty first line is no message";
  EXPECT_TRUE(gw.unanswered("Hello\nmachine_id: GW1\nline_id: 1\n\n")) << "unknown type";
  EXPECT_TRUE(gw.unanswered(""));
  // A header cut short by the end of its datagram is complete: the next
  // datagram is a message of its own and the handler never waits for more.
  EXPECT_TRUE(gw.exchange("KeepAlive\nmachine_id: GW1\nline_id: 1\nstate: OPEN"));
  EXPECT_TRUE(gw.exchange(keepalive("GW1", 1, "IDLE")));
  EXPECT_EQ("IDLE", status(h_)[0].state);
  EXPECT_NE(std::string::npos, work_.log().find("invalid attribute line: line_id:1"));
  EXPECT_NE(std::string::npos, work_.log().find("unknown message type..."));
}

TEST_F(HandlerTest, WholeCallIsStoredAsOneRow)
{
  Gateway gw;
  ASSERT_TRUE(gw.exchange(discovery("GW7", 2)));
  ASSERT_TRUE(gw.exchange(keepalive("GW7", 2, "IDLE", "1")));
  ASSERT_TRUE(gw.exchange(keepalive("GW7", 2, "IDLE", "11")));
  ASSERT_TRUE(gw.exchange(connected("GW7", 2, "801", "114")));
  long before = time(nullptr);
  auto st = status(h_);
  ASSERT_EQ(1u, st.size());
  EXPECT_EQ("CONNECTED", st[0].state);
  EXPECT_EQ("801", st[0].src);
  EXPECT_EQ("114", st[0].dest);
  EXPECT_LE(std::abs(parse_local_time(st[0].bdate) - before), 2);
  EXPECT_EQ(0, st[0].flag);
  ASSERT_TRUE(gw.exchange(keepalive("GW7", 2, "CONNECTED", "999")));
  EXPECT_EQ("114", status(h_)[0].dest) << "a KeepAlive of a connected line keeps the dialled number";
  ASSERT_TRUE(gw.exchange(keepalive("GW7", 2, "IDLE", "")));

  ASSERT_TRUE(rows_reach(1));
  auto r = rows();
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ("GW7-00000002@" + r[0].bdate, r[0].callid);
  EXPECT_EQ("GW7", r[0].machineid);
  EXPECT_EQ(2, r[0].lineid);
  EXPECT_EQ("801", r[0].orgnum);
  EXPECT_EQ("114", r[0].desnum);
  EXPECT_EQ(st[0].bdate, r[0].bdate);
  EXPECT_GE(parse_local_time(r[0].edate), parse_local_time(r[0].bdate));
  EXPECT_EQ(0, r[0].flag);

  st = status(h_);
  EXPECT_EQ(1, st[0].flag) << "the ended call is reported once";
  EXPECT_EQ("IDLE", st[0].state);
  EXPECT_EQ("", st[0].src) << "the call fields are cleared";
  EXPECT_EQ("", st[0].bdate);
  EXPECT_EQ(0, status(h_)[0].flag);
  EXPECT_NE(std::string::npos, work_.log().find("generate callid: GW7-00000002@"));
}

TEST_F(HandlerTest, CallsEndByAnyOtherStateAndOnlyFromExactlyConnected)
{
  Gateway gw;
  // A KeepAlive without a state ends the call: the empty state is not CONNECTED.
  ASSERT_TRUE(gw.exchange(discovery("A", 1)));
  ASSERT_TRUE(gw.exchange(connected("A", 1, "1", "2")));
  ASSERT_TRUE(gw.exchange(message("KeepAlive", {{"machine_id", "A"}, {"line_id", "1"}})));
  // A CDR message ends a call as well; "connected" in small letters is no call.
  ASSERT_TRUE(gw.exchange(discovery("B", 1)));
  ASSERT_TRUE(gw.exchange(connected("B", 1, "3", "4")));
  ASSERT_TRUE(gw.exchange(message("CDR", {{"machine_id", "B"}, {"line_id", "1"}, {"state", "IDLE"}, {"callid", "x"}})));
  ASSERT_TRUE(gw.exchange(discovery("C", 1)));
  ASSERT_TRUE(gw.exchange(connected("C", 1, "5", "6", "connected")));
  ASSERT_TRUE(gw.exchange(keepalive("C", 1, "IDLE")));
  // Leaving CONNECTED without a dialled number stores nothing.
  ASSERT_TRUE(gw.exchange(discovery("D", 1)));
  ASSERT_TRUE(gw.exchange(connected("D", 1, "7", "")));
  ASSERT_TRUE(gw.exchange(keepalive("D", 1, "IDLE")));
  // A line number of more than seven digits is written whole.
  ASSERT_TRUE(gw.exchange(discovery("E", 123456789)));
  ASSERT_TRUE(gw.exchange(connected("E", 123456789, "8", "9")));
  ASSERT_TRUE(gw.exchange(keepalive("E", 123456789, "IDLE")));

  ASSERT_TRUE(rows_reach(3));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto r = rows();
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ("A", r[0].machineid);
  EXPECT_EQ("2", r[0].desnum);
  EXPECT_EQ("B", r[1].machineid);
  EXPECT_EQ("E-123456789@" + r[2].bdate, r[2].callid);
  EXPECT_EQ(123456789, r[2].lineid);
  EXPECT_EQ("", find(status(h_), "A", 1)->state);
}

// A line that turns CONNECTED by any message but a Connected with a dialled
// number starts its call then; so does a line first heard of while CONNECTED
// (a station started during a call).
TEST_F(HandlerTest, ACallConnectedWithoutAConnectedMessageStartsWhenItConnects)
{
  Gateway gw;
  long before = time(nullptr);
  auto call = [&](const std::string &type) {  // the type names the line's machine
    ASSERT_TRUE(gw.exchange(keepalive(type, 1, "IDLE", "555")));
    std::string connect = message(type, {{"machine_id", type}, {"line_id", "1"}, {"state", "CONNECTED"}});
    if (type == "Action")
      gw.send(connect);  // never echoed
    else
      ASSERT_TRUE(gw.exchange(connect));
    ASSERT_TRUE(gw.exchange(keepalive(type, 1, "IDLE")));
  };
  const std::vector<std::string> types = {"KeepAlive", "Discovery", "CDR", "Action", "Connected"};
  for (const std::string &type : types) {
    ASSERT_TRUE(gw.exchange(discovery(type, 1)));
    call(type);
  }
  ASSERT_TRUE(gw.exchange(keepalive("RS", 1, "CONNECTED")));
  auto st = status(h_);
  ASSERT_NE(nullptr, find(st, "RS", 1));
  EXPECT_LE(std::abs(parse_local_time(find(st, "RS", 1)->bdate) - before), 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  call("KeepAlive");  // a second such call on the line is a call of its own

  ASSERT_TRUE(rows_reach(types.size() + 1));
  for (const Row &r : rows()) {
    EXPECT_EQ(r.machineid + "-00000001@" + r.bdate, r.callid);
    EXPECT_LE(std::abs(parse_local_time(r.bdate) - before), 3) << r.machineid;
    EXPECT_EQ("", r.orgnum);
  }
  EXPECT_EQ("", slurp(work_.path() + "/cdr.failed"));
}

TEST_F(HandlerTest, LinesAreKnownOnlyAfterAnnouncingThemselves)
{
  Gateway gw;
  EXPECT_TRUE(gw.unanswered(connected("GW9", 1, "1", "2")));
  EXPECT_TRUE(gw.unanswered(message("CDR", {{"machine_id", "GW9"}, {"line_id", "1"}, {"state", "IDLE"}})));
  EXPECT_TRUE(gw.unanswered(message("Action", {{"machine_id", "GW9"}, {"line_id", "1"}, {"state", "X"}})));
  EXPECT_TRUE(status(h_).empty());

  // Machine ids differ by case; a message without line_id is line -1.
  ASSERT_TRUE(gw.exchange(discovery("gw9", 1)));
  ASSERT_TRUE(gw.exchange(discovery("GW9", 1, "BUSY")));
  ASSERT_TRUE(gw.exchange(message("KeepAlive", {{"machine_id", "GW9"}, {"state", "NOLINE"}})));
  EXPECT_TRUE(gw.unanswered(connected("GW9", 2, "1", "2")));
  ASSERT_TRUE(gw.exchange(message("Connected", {{"machine_id", "GW9"}, {"state", "OFF"}})));
  auto st = status(h_);
  ASSERT_EQ(3u, st.size());
  EXPECT_EQ("IDLE", find(st, "gw9", 1)->state);
  EXPECT_EQ("BUSY", find(st, "GW9", 1)->state);
  ASSERT_NE(nullptr, find(st, "GW9", -1));
  EXPECT_EQ("OFF", find(st, "GW9", -1)->state);
}

TEST_F(HandlerTest, TheHundredAndFirstLineIsRefusedWhileTheOthersWork)
{
  Gateway gw;
  for (int i = 1; i <= MAX_MACHINE_INFO; i++)
    ASSERT_TRUE(gw.exchange(discovery("FULL", i))) << "line " << i;
  EXPECT_TRUE(gw.unanswered(discovery("FULL", 101)));
  EXPECT_NE(std::string::npos, work_.log().find("Machine info is full..."));
  ASSERT_TRUE(gw.exchange(connected("FULL", 100, "1", "2")));
  ASSERT_TRUE(gw.exchange(keepalive("FULL", 100, "IDLE")));
  EXPECT_TRUE(rows_reach(1));
  auto st = status(h_);
  ASSERT_EQ((size_t)MAX_MACHINE_INFO, st.size());
  EXPECT_EQ(1, st.front().line) << "lines are reported in the order they first reported";
  EXPECT_EQ(100, st.back().line);
  EXPECT_EQ(1, st.back().flag);
}

TEST_F(HandlerTest, CommandsGoToTheLastAddressAndAnswersAreNotEchoed)
{
  Gateway first, second;
  ASSERT_TRUE(first.exchange(discovery("GW3", 4)));
  ASSERT_TRUE(second.exchange(keepalive("GW3", 4, "IDLE")));

  EXPECT_EQ(0, msghdlr_send_command(h_, "GW3", 4, "call: deny\n"));
  auto cmd = second.receive();
  ASSERT_TRUE(cmd);
  EXPECT_EQ("Action Action ui/1.0\ncall: deny\n\n", *cmd);
  EXPECT_FALSE(first.receive(200));

  // The gateway's answer changes the state and gets no echo.
  EXPECT_TRUE(second.unanswered(message("Action", {{"machine_id", "GW3"}, {"line_id", "4"}, {"state", "FORBIDDEN"}})));
  EXPECT_EQ("FORBIDDEN", status(h_)[0].state);

  EXPECT_EQ(0, msghdlr_send_command(h_, "GW3", 5, "call: permit\n")) << "an unknown line is not an error";
  EXPECT_EQ(0, msghdlr_send_command(h_, "gw3", 4, "call: permit\n"));
  EXPECT_FALSE(second.receive(200));
  EXPECT_EQ(-1, msghdlr_send_command(h_, "GW3", 4, std::string(500, 'x').c_str()))
      << "a command that does not fit in one message is refused";
  EXPECT_FALSE(second.receive(200));
}

// The console polls while calls end: every record is reported whole and no
// raised flag is lost between the copy and its reset.
TEST_F(HandlerTest, StatusReportTakesTurnsWithTheHandler)
{
  Gateway gw;
  ASSERT_TRUE(gw.exchange(discovery("P", 1)));
  std::atomic<bool> stop{false};
  std::atomic<int> flags{0};
  std::atomic<int> torn{0};
  static std::atomic<int> *s_flags, *s_torn;
  s_flags = &flags;
  s_torn = &torn;
  std::thread poller([&] {
    while (!stop) {
      msghdlr_get_status(
          h_, [](const char *, int, const char *state, const char *src, const char *dst, const char *bdate, int flag) {
            if (flag)
              (*s_flags)++;
            // Each call below uses one number as calling and dialled number.
            if (strcmp(state, "CONNECTED") == 0 && (strcmp(src, dst) != 0 || !bdate[0]))
              (*s_torn)++;
          });
    }
  });
  const int calls = 30;
  for (int i = 0; i < calls; i++) {
    int seen = flags;
    std::string n = std::to_string(1000 + i);
    ASSERT_TRUE(gw.exchange(connected("P", 1, n, n)));
    ASSERT_TRUE(gw.exchange(keepalive("P", 1, "IDLE")));
    EXPECT_TRUE(eventually([&] { return flags > seen; }, 2000)) << "the flag of call " << i << " was lost";
  }
  stop = true;
  poller.join();
  EXPECT_EQ(calls, flags.load());
  EXPECT_EQ(0, torn.load());
  // Calls that started in the same second share a call id: the database keeps
  // the first, the file the others.
  auto failed_lines = [&] {
    std::string f = slurp(work_.path() + "/cdr.failed");
    return (size_t)std::count(f.begin(), f.end(), '\n');
  };
  EXPECT_TRUE(eventually([&] { return rows().size() + failed_lines() == (size_t)calls; }, 3000))
      << rows().size() << " stored, " << failed_lines() << " in the file";
}

TEST_F(HandlerTest, TenSilentSecondsMakeALineUnknownAndEndItsCall)
{
  Gateway gw;
  // X: a connected line that falls silent.
  ASSERT_TRUE(gw.exchange(discovery("X", 1)));
  ASSERT_TRUE(gw.exchange(connected("X", 1, "801", "114")));
  // Y: connected through KeepAlive messages only, after reporting its number.
  ASSERT_TRUE(gw.exchange(discovery("Y", 1)));
  ASSERT_TRUE(gw.exchange(keepalive("Y", 1, "IDLE", "555")));
  ASSERT_TRUE(gw.exchange(keepalive("Y", 1, "CONNECTED", "")));
  // Z: idle and silent. W: connected and keeping alive.
  ASSERT_TRUE(gw.exchange(discovery("Z", 1)));
  ASSERT_TRUE(gw.exchange(discovery("W", 1)));
  ASSERT_TRUE(gw.exchange(connected("W", 1, "1", "2")));
  long start = time(nullptr);

  for (int i = 0; i < 6; i++) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_TRUE(gw.exchange(keepalive("W", 1, "CONNECTED")));
  }
  ASSERT_TRUE(rows_reach(2, 3000));
  auto st = status(h_);
  EXPECT_EQ("UNKNOWN", find(st, "X", 1)->state);
  EXPECT_EQ(1, find(st, "X", 1)->flag);
  EXPECT_EQ("UNKNOWN", find(st, "Y", 1)->state);
  EXPECT_EQ("UNKNOWN", find(st, "Z", 1)->state);
  EXPECT_EQ(0, find(st, "Z", 1)->flag);
  EXPECT_EQ("CONNECTED", find(st, "W", 1)->state);
  EXPECT_EQ(0, find(status(h_), "X", 1)->flag) << "the flag is raised once";

  auto r = rows();
  ASSERT_EQ(2u, r.size());
  const Row &x = r[0].machineid == "X" ? r[0] : r[1];
  const Row &y = r[0].machineid == "X" ? r[1] : r[0];
  long silent = parse_local_time(x.edate) - parse_local_time(x.bdate);
  EXPECT_GE(silent, 8);
  EXPECT_LE(silent, 11);
  EXPECT_LE(parse_local_time(x.edate) - start, 11);
  EXPECT_EQ("Y-00000001@" + y.bdate, y.callid) << "the call started when the line turned CONNECTED";
  EXPECT_LE(std::abs(parse_local_time(y.bdate) - start), 2);
  EXPECT_EQ("", y.orgnum);
  EXPECT_EQ("555", y.desnum);
}

TEST_F(HandlerTest, CallsEndingWhileTheDatabaseIsLockedAreAllStored)
{
  Gateway gw;
  for (int l = 1; l <= 3; l++) {
    ASSERT_TRUE(gw.exchange(discovery("L", l)));
    ASSERT_TRUE(gw.exchange(connected("L", l, "1", std::to_string(l))));
  }
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(dbpath_.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "begin exclusive", nullptr, nullptr, nullptr));
  for (int l = 1; l <= 3; l++)
    gw.send(keepalive("L", l, "IDLE"));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "commit", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  for (int l = 1; l <= 3; l++)
    EXPECT_TRUE(gw.receive(8000)) << "echo " << l;

  ASSERT_TRUE(rows_reach(3, 8000));
  auto r = rows();
  ASSERT_EQ(3u, r.size());
  for (int l = 1; l <= 3; l++)
    EXPECT_EQ(std::to_string(l), r[l - 1].desnum) << "stored in the order the calls ended";
}

TEST_F(HandlerTest, ACallIdAlreadyStoredGoesToTheFailedFile)
{
  Gateway gw;
  const std::string machine = "G\tW";
  ASSERT_TRUE(gw.exchange(discovery(machine, 1)));
  // Rows of an earlier run hold the call ids of the next seconds.
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(dbpath_.c_str(), &db));
  time_t now = time(nullptr);
  for (int k = 0; k < 5; k++) {
    time_t t = now + k;
    struct tm tm;
    localtime_r(&t, &tm);
    char when[32];
    strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
    std::string sql = "insert into cdrtbl values('G\tW-00000001@" + std::string(when) +
                      "', 'G\tW', 1, 'old', "
                      "'old', '" +
                      when + "', '" + when + "', 1)";
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
  }
  sqlite3_close(db);

  ASSERT_TRUE(gw.exchange(connected(machine, 1, "802", "115")));
  ASSERT_TRUE(gw.exchange(keepalive(machine, 1, "IDLE")));
  std::string failed;
  ASSERT_TRUE(eventually([&] { return !(failed = slurp(work_.path() + "/cdr.failed")).empty(); }, 3000));
  auto r = rows();
  ASSERT_EQ(5u, r.size()) << "the stored rows stay as they were";
  EXPECT_EQ("old", r[0].orgnum);
  std::vector<std::string> f;
  size_t pos = 0;
  for (size_t tab; (tab = failed.find('\t', pos)) != std::string::npos; pos = tab + 1)
    f.push_back(failed.substr(pos, tab - pos));
  f.push_back(failed.substr(pos));
  ASSERT_EQ(8u, f.size()) << failed;
  const std::string esc = "G\\tW";
  EXPECT_EQ(esc + "-00000001@" + f[5], f[0]);
  EXPECT_LE(std::abs(parse_local_time(f[5]) - now), 2);
  EXPECT_EQ(esc, f[1]) << "a tab inside a value is escaped";
  EXPECT_EQ("1", f[2]);
  EXPECT_EQ("802", f[3]);
  EXPECT_EQ("115", f[4]);
  EXPECT_GE(parse_local_time(f[6]), parse_local_time(f[5]));
  EXPECT_EQ("0\n", f[7]);
  EXPECT_EQ(1, std::count(failed.begin(), failed.end(), '\n'));
  EXPECT_TRUE(eventually([&] { return work_.log().find("written to cdr.failed") != std::string::npos; }, 2000));
}

// The simulator plays a whole call, checks every echo and answers the
// station's command; the station stores the call.
TEST_F(HandlerTest, SimulatedGatewayCallIsCapturedAndItsCommandAnswered)
{
  int rc = -1;
  std::string json;
  std::thread sim([&] {
    json =
        run_command(gwsim_path() + " -k 300 --strict --format json --action 'call: note=CONNECTED' -e 'GW5/3 announce; "
                                   "GW5/3 dial 12; GW5/3 connect 12 700; GW5/3 talk 1.5; GW5/3 hangup'",
                    &rc);
  });
  bool connected = eventually(
      [&] {
        auto st = status(h_);
        const Status *s = find(st, "GW5", 3);
        return s && s->state == "CONNECTED";
      },
      5000);
  EXPECT_TRUE(connected);
  EXPECT_EQ(0, msghdlr_send_command(h_, "GW5", 3, "call: note\n"));
  sim.join();
  EXPECT_EQ(0, rc) << json;
  EXPECT_NE(std::string::npos, json.find("\"missing\": 0,")) << json;
  EXPECT_NE(std::string::npos, json.find("\"command\": \"call: note\\n\", \"answer\": \"CONNECTED\"")) << json;
  EXPECT_NE(std::string::npos, json.find("\"number\": \"12\"")) << json;
  ASSERT_TRUE(rows_reach(1));
  auto r = rows();
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ("GW5-00000003@" + r[0].bdate, r[0].callid);
  EXPECT_EQ("700", r[0].orgnum);
  EXPECT_EQ("12", r[0].desnum);
  EXPECT_EQ("IDLE", find(status(h_), "GW5", 3)->state);
}

TEST(HandlerLife, FailedCreationLeavesThePortFreeAndHandlersComeAndGo)
{
  PortLock port_lock;
  WorkDir work;
  ASSERT_TRUE(gateway_port_free()) << "another program holds UDP port " << SRV_PORT;
  auto fds = [] {
    int n = 0;
    for (int fd = 0; fd < 1024; fd++)
      if (fcntl(fd, F_GETFD) >= 0)
        n++;
    return n;
  };
  int before = fds();
  EXPECT_EQ(nullptr, create_msghdlr((work.path() + "/quentadb").c_str(), nullptr));
  EXPECT_EQ(before, fds());
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(SRV_PORT);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  EXPECT_EQ(0, bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a)) << "the gateway port was left bound";
  close(s);

  for (int i = 0; i < 3; i++) {
    msghdlr *h = create_msghdlr((work.path() + "/quentadb").c_str(), "cdrtbl");
    ASSERT_NE(nullptr, h);
    Gateway gw;
    EXPECT_TRUE(gw.exchange(discovery("R", i)));
    // A second program cannot share the running handler's port, address
    // reuse or not, so it cannot take the gateways' datagrams away.
    int thief = socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    setsockopt(thief, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    EXPECT_NE(0, bind(thief, reinterpret_cast<sockaddr *>(&a), sizeof a));
    close(thief);
    EXPECT_TRUE(gw.exchange(discovery("R", i)));
    msghdlr_release(h);
  }
  EXPECT_EQ(before, fds());
  EXPECT_NE(std::string::npos, work.log().find("message handler end..."));
}

// A start with 20,000 calls waiting in "cdr.pending": the gateways are
// answered at once and promptly while the calls are stored, each once and in
// order, and a line first heard meanwhile is flagged once, when its call from
// the file is stored.
TEST(HandlerBacklog, PendingCallsAreStoredOnceInOrderWhileTheGatewaysAreAnswered)
{
  PortLock port_lock;
  WorkDir work;
  ASSERT_TRUE(gateway_port_free()) << "another program holds UDP port " << SRV_PORT;
  const int calls = 20000;
  std::string file;
  for (int i = 0; i < calls; i++) {
    time_t t = 1700000000 + (time_t)i * 60;
    char bdate[32];
    strftime(bdate, sizeof bdate, "%Y-%m-%d %H:%M:%S", gmtime(&t));
    std::string m = i == calls - 1 ? "BIG" : "OLD";
    file += cdr_line({.callid = m + "-00000001@" + bdate,
                      .machineid = m,
                      .lineid = "1",
                      .orgnum = "801",
                      .desnum = std::to_string(i),
                      .bdate = bdate,
                      .edate = bdate,
                      .attempts = 0,
                      .line = -1});
  }
  const std::string pending = work.path() + "/cdr.pending";
  std::ofstream(pending) << file;
  auto waiting = [&] {
    struct stat st;
    return stat(pending.c_str(), &st) == 0 && st.st_size > 0;
  };
  auto ms_since = [](std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
  };

  auto start = std::chrono::steady_clock::now();
  msghdlr *h = create_msghdlr((work.path() + "/quentadb").c_str(), "cdrtbl");
  ASSERT_NE(nullptr, h);
  Gateway gw;
  ASSERT_TRUE(gw.exchange(keepalive("BIG", 1, "IDLE"), 10000));
  EXPECT_LT(ms_since(start), 10000);
  EXPECT_TRUE(waiting()) << "the first echo waited for the whole backlog";
  int flags = 0;
  long long worst = 0;
  while (waiting() && ms_since(start) < 60000) {
    auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(gw.exchange(keepalive("BIG", 1, "IDLE")));
    worst = std::max(worst, (long long)ms_since(sent));
    flags += find(status(h), "BIG", 1)->flag;
  }
  EXPECT_LT(worst, 250) << "an echo waited for the backlog";
  flags += find(status(h), "BIG", 1)->flag + find(status(h), "BIG", 1)->flag;
  EXPECT_EQ(1, flags);
  auto r = read_cdrs(work.path() + "/quentadb");
  ASSERT_EQ((size_t)calls, r.size());
  int out_of_place = 0;
  for (int i = 0; i < calls; i++)
    out_of_place += r[(size_t)i].desnum != std::to_string(i);
  EXPECT_EQ(0, out_of_place);
  EXPECT_EQ("", slurp(work.path() + "/cdr.failed"));
  printf("%d pending calls stored in %lld ms, worst echo meanwhile %lld ms\n", calls, (long long)ms_since(start),
         worst);
  msghdlr_release(h);
}

TEST(LocalTime, FormatAndBufferLimit)
{
  char buf[128];
  EXPECT_EQ(-1, set_local_time(buf, 18));
  EXPECT_EQ(0, set_local_time(buf, sizeof buf));
  EXPECT_EQ(19u, strlen(buf));
  EXPECT_LE(std::abs(parse_local_time(buf) - time(nullptr)), 2);
  char small[19];
  EXPECT_EQ(0, set_local_time(small, sizeof small));
  EXPECT_EQ(18u, strlen(small));
}

}  // namespace
