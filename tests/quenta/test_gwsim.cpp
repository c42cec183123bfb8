// The gateway simulator against a real message handler: random calls as the
// simulator reports and the handler stores them, a load run, and the command
// line. A scripted call played by the simulator is in test_msghdlr.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <tuple>

#include "gateway.h"
#include "quenta/msghdlr.h"

using namespace gwtest;

namespace {

std::string run_gwsim(const std::string &args, int *status)
{
  return run_command(std::string(GWSIM_PATH) + " " + args, status);
}

/* The value of the first "key": in the summary, up to its comma or brace. */
std::string field(const std::string &json, const std::string &key)
{
  size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos)
    return "<none>";
  at += key.size() + 4;
  size_t end = json.find_first_of(",}", at);
  return json.substr(at, end - at);
}

std::atomic<int> g_lines;

int line_count(msghdlr *h)
{
  g_lines = 0;
  msghdlr_get_status(h,
                     [](const char *, int, const char *, const char *, const char *, const char *, int) { g_lines++; });
  return g_lines;
}

class SimTest : public HandlerFixture {};

TEST_F(SimTest, ShortLoadRunIsAcknowledgedWithoutLoss)
{
  int status = 0;
  std::string json = run_gwsim("-m 2 -l 5 -p L --load 500 --duration 1 --linger 3000 --format json", &status);
  ASSERT_EQ(0, status) << json;
  EXPECT_EQ("\"load\"", field(json, "mode"));
  EXPECT_EQ("500", field(json, "sent")) << json;
  EXPECT_EQ("500", field(json, "echoed"));
  EXPECT_EQ("0", field(json, "lost"));
  EXPECT_EQ("0", field(json, "duplicates"));
  EXPECT_NE("0.0", field(json, "p99"));
  EXPECT_EQ(10, line_count(h_));
}

// Random calls from four lines: every call the simulator reports in its CSV
// summary is one row of "cdrtbl", and nothing else is stored.
TEST_F(SimTest, RandomCallsAreStoredAsTheSimulatorReportsThem)
{
  int status = 0;
  std::string csv = run_gwsim("-m 2 -l 2 -p R --random --duration 4 --seed 7 --talk 1:1.5 --idle 0.2:0.5 "
                              "--numbers 114,0085212345678 --digit-interval 20 -k 500 --strict --format csv",
                              &status);
  ASSERT_EQ(0, status) << csv;
  using Call = std::tuple<std::string, int, std::string, std::string>;  // machine, line, src, number
  std::vector<Call> reported, stored;
  std::istringstream in(csv);
  std::string row;
  ASSERT_TRUE(std::getline(in, row));
  EXPECT_EQ("machine,line,src,number,start,end,seconds,ended_by", row);
  while (std::getline(in, row)) {
    std::vector<std::string> f;
    std::istringstream cells(row);
    for (std::string c; std::getline(cells, c, ',');)
      f.push_back(c);
    ASSERT_EQ(8u, f.size()) << row;
    EXPECT_EQ("hangup", f[7]) << "the end of the run hangs up every open call: " << row;
    reported.emplace_back(f[0], std::stoi(f[1]), f[2], f[3]);
  }
  EXPECT_GE(reported.size(), 4u) << csv;
  ASSERT_TRUE(eventually([&] { return read_cdrs(dbpath_).size() >= reported.size(); }, 3000));
  for (const Row &r : read_cdrs(dbpath_))
    stored.emplace_back(r.machineid, r.lineid, r.orgnum, r.desnum);
  std::sort(reported.begin(), reported.end());
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(reported, stored);
}

TEST(SimUsage, HelpAndWrongUsage)
{
  int status = 0;
  std::string help = run_gwsim("--help", &status);
  EXPECT_EQ(0, status);
  for (const char *word : {"--station", "--load", "--duration", "--random", "--seed", "--script", "connect"})
    EXPECT_NE(std::string::npos, help.find(word)) << word;
  for (const char *wrong : {"-e 'GW1/1 fly'", "-e 'connect'", "--seed x", "--duration 2s", "--load 0",
                            "--silent-ratio 2", "--format xml", "--load 10 --random", "-m 0"}) {
    run_gwsim(std::string(wrong) + " 2>/dev/null", &status);
    EXPECT_EQ(2, status) << wrong;
  }
}

// With nobody answering, the lines keep alive until the script ends; the run
// then waits one echo timeout at most and reports every echo as missing.
TEST(SimUsage, RunWithoutAStationEndsAndCountsTheMissingEchoes)
{
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(0, bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a));
  ASSERT_EQ(0, getsockname(s, reinterpret_cast<sockaddr *>(&a), &len));
  close(s);  // nothing listens on that port now

  int status = 0;
  auto start = std::chrono::steady_clock::now();
  std::string json = run_gwsim("--station 127.0.0.1:" + std::to_string(ntohs(a.sin_port)) +
                                   " -k 200 --echo-timeout 300 --strict --format json -e 'A/1 announce; A/1 talk 1'",
                               &status);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(3, status) << json;
  EXPECT_LT(took, 4.0);
  EXPECT_EQ("0", field(json, "echoed"));
  EXPECT_EQ(field(json, "sent"), field(json, "missing"));
  EXPECT_NE("0", field(json, "sent"));
}

}  // namespace
