// The gateway simulator against a real message handler: a scripted run whose
// call the simulator reports just as the handler stores it, with a command
// answered in between, and a short load run that loses nothing.
#include <stdio.h>
#include <sys/wait.h>

#include <future>
#include <map>

#include "gateway.h"
#include "quenta/msghdlr.h"

using namespace gwtest;

namespace {

/* Runs the simulator with the arguments; its standard output, and its exit
 * status in *status. */
std::string run_gwsim(const std::string &args, int *status)
{
  std::string cmd = std::string(GWSIM_PATH) + " " + args;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) {
    *status = -1;
    return "";
  }
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    out.append(buf, n);
  *status = pclose(p);
  return out;
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

struct Line {
  std::string state;
  int flag = 0;
};
std::map<std::string, Line> *g_lines;

std::map<std::string, Line> lines(msghdlr *h)
{
  std::map<std::string, Line> out;
  g_lines = &out;
  msghdlr_get_status(h, [](const char *m, int l, const char *state, const char *, const char *, const char *,
                           int flag) { (*g_lines)[std::string(m) + "/" + std::to_string(l)] = {state, flag}; });
  g_lines = nullptr;
  return out;
}

class SimTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(gateway_port_free()) << "another program holds UDP port " << SRV_PORT;
    dbpath_ = work_.path() + "/quentadb";
    h_ = create_msghdlr(dbpath_.c_str(), "cdrtbl");
    ASSERT_NE(nullptr, h_);
  }
  void TearDown() override { msghdlr_release(h_); }

  WorkDir work_;
  std::string dbpath_;
  msghdlr *h_ = nullptr;
};

TEST_F(SimTest, ScriptedCallIsReportedAsTheHandlerStoresIt)
{
  const std::string script = "GW1/1 announce; GW1/1 dial 114; GW1/1 connect 114 801; GW1/1 talk 1.5; GW1/1 hangup;"
                             "GW2/3 announce; GW2/3 talk 2.5";
  auto run = std::async(std::launch::async, [&] {
    int status = 0;
    std::string out = run_gwsim("--keepalive 400 --format json -e '" + script + "'", &status);
    return std::make_pair(status, out);
  });
  // The console's command reaches the line while the run goes on.
  ASSERT_TRUE(eventually([&] { return lines(h_).count("GW2/3") > 0; }, 5000));
  EXPECT_EQ(0, msghdlr_send_command(h_, "GW2", 3, "call: deny\n"));
  auto [status, json] = run.get();
  ASSERT_EQ(0, status) << json;

  EXPECT_EQ("\"script\"", field(json, "mode"));
  // Every message is echoed but the answer to the command.
  EXPECT_EQ(std::stol(field(json, "sent")) - 1, std::stol(field(json, "echoed"))) << json;
  EXPECT_EQ("0", field(json, "missing"));
  EXPECT_EQ("0", field(json, "unexpected"));
  EXPECT_NE(std::string::npos,
            json.find("{\"machine\": \"GW1\", \"line\": 1, \"src\": \"801\", \"number\": \"114\", \"start\": "))
      << json;
  EXPECT_EQ("\"hangup\"", field(json, "ended_by"));
  EXPECT_NE(std::string::npos, json.find("\"command\": \"call: deny\\n\", \"answer\": \"FORBIDDEN\"")) << json;

  auto r = read_cdrs(dbpath_);
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ("GW1-00000001@" + r[0].bdate, r[0].callid);
  EXPECT_EQ("801", r[0].orgnum);
  EXPECT_EQ("114", r[0].desnum);
  std::string start = field(json, "start"), end = field(json, "end");
  EXPECT_LE(std::abs(parse_local_time(start.substr(1, 19)) - parse_local_time(r[0].bdate)), 1);
  EXPECT_LE(std::abs(parse_local_time(end.substr(1, 19)) - parse_local_time(r[0].edate)), 1);

  auto st = lines(h_);
  EXPECT_EQ("IDLE", st["GW1/1"].state);
  EXPECT_EQ(1, st["GW1/1"].flag);
  EXPECT_EQ("FORBIDDEN", st["GW2/3"].state) << "the simulator answered the command with its new state";
}

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
  EXPECT_EQ(10u, lines(h_).size());
}

TEST(SimUsage, HelpAndWrongUsage)
{
  int status = 0;
  std::string help = run_gwsim("--help", &status);
  EXPECT_EQ(0, status);
  for (const char *word : {"--station", "--load", "--duration", "--random", "--seed", "--script", "connect"})
    EXPECT_NE(std::string::npos, help.find(word)) << word;
  run_gwsim("-e 'GW1/1 fly' 2>/dev/null", &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

}  // namespace
