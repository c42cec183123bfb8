// The closed gateway network: the lines of the "gateways" file, what a whole
// file means, the refused senders' log under a flood of many addresses, and a
// real handler that lists 127.0.0.1 alone while 127.0.0.2 speaks to it.
#include <arpa/inet.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>

#include "gateway.h"
#include "quenta/gateways.h"

using namespace gwtest;

namespace {

sockaddr_in sender(const char *addr, int port = 40000)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons((uint16_t)port);
  inet_pton(AF_INET, addr, &a.sin_addr);
  return a;
}

size_t count(const std::string &text, const std::string &what)
{
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    n++;
  return n;
}

TEST(GatewayFile, LinesAreEntriesBlanksOrRefusedOnTheirOwn)
{
  struct {
    const char *line;
    int result;
    const char *net = "", *mask = "";
  } cases[] = {
      {"192.168.1.20", 1, "192.168.1.20", "255.255.255.255"},
      {"  10.0.0.0/8\t# the back room\r", 1, "10.0.0.0", "255.0.0.0"},
      {"192.168.1.77/24", 1, "192.168.1.0", "255.255.255.0"},
      {"0.0.0.0/0", 1, "0.0.0.0", "0.0.0.0"},
      {"", 0}, {"  \t\r", 0}, {"# 192.168.1.20", 0},
      {"192.168.1", -1}, {"192.168.1.256", -1}, {"192.168.01.2", -1}, {"1.2.3.4/33", -1},
      {"1.2.3.4/", -1}, {"1.2.3.4/024", -1}, {"1.2.3.4 5.6.7.8", -1}, {"1.2.3.4:9849", -1},
      {"gateway1", -1}, {"1.2.3.4/24x", -1}, {"-1.2.3.4", -1}, {"1.2.3.4.5", -1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    gateway_net net{};
    const char *why = nullptr;
    ASSERT_EQ(c.result, gateway_parse_line(c.line, &net, &why));
    if (c.result < 0) {
      EXPECT_NE(nullptr, why);
    } else if (c.result > 0) {
      in_addr n{htonl(net.m_net)}, m{htonl(net.m_mask)};
      EXPECT_STREQ(c.net, inet_ntoa(n));
      EXPECT_STREQ(c.mask, inet_ntoa(m));
    }
  }
}

TEST(GatewayFile, AFileThatListsNothingValidClosesTheNetwork)
{
  struct {
    const char *name;
    std::optional<std::string> text;    // nothing: no file; "/": a directory in its place
    int result;
    bool local, elsewhere;              // 127.0.0.1 and 192.168.1.9 answered
    const char *logged;
  } cases[] = {
      {"no file", std::nullopt, 0, true, true, "no \"gateways\" file: every sender is answered"},
      {"empty", "", 0, false, false, "lists no address (0 lines refused): no gateway is answered"},
      {"comments", "# nobody yet\n\n", 0, false, false, "no gateway is answered"},
      {"all refused", "127.0.0.256\nshop\n", 0, false, false, "lists no address (2 lines refused)"},
      {"one refused", "bad\n127.0.0.1 # counter\n", 1, true, false,
       "\"gateways\" line 1 refused (not an IPv4 address): bad"},
      {"unreadable", "/", -1, false, false, "\"gateways\" cannot be read: no gateway is answered"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    WorkDir work;
    if (c.text == "/")
      ASSERT_EQ(0, mkdir(GATEWAYS_FILE, 0755));
    else if (c.text)
      std::ofstream(GATEWAYS_FILE) << *c.text;
    gateway_guard g;
    EXPECT_EQ(c.result, gateway_guard_load(&g, GATEWAYS_FILE));
    sockaddr_in local = sender("127.0.0.1"), elsewhere = sender("192.168.1.9");
    EXPECT_EQ(c.local, gateway_admit(&g, &local));
    EXPECT_EQ(c.elsewhere, gateway_admit(&g, &elsewhere));
    EXPECT_NE(std::string::npos, work.log().find(c.logged)) << work.log();
  }
}

TEST(RefusalLog, EverySenderAtMostOnceAMinuteAndTheLogBoundedUnderManySenders)
{
  WorkDir work;
  gateway_guard g;
  g.m_closed = true;
  sockaddr_in one = sender("10.0.0.1");
  ASSERT_FALSE(gateway_admit(&g, &one));
  for (int i = 0; i < 10000; i++) {
    sockaddr_in a = sender("10.1.0.0", 1000 + i % 50);
    a.sin_addr.s_addr = htonl(ntohl(a.sin_addr.s_addr) + (uint32_t)i);
    ASSERT_FALSE(gateway_admit(&g, &a));
  }
  for (int tick = 1; tick <= REFUSAL_LOG_TICKS + 1; tick++) {
    ASSERT_FALSE(gateway_admit(&g, &one));
    gateway_guard_tick(&g);
    std::string log = work.log();
    EXPECT_EQ(tick <= REFUSAL_LOG_TICKS ? 1u : 2u, count(log, "unknown sender 10.0.0.1:40000")) << tick;
    EXPECT_LE(count(log, "unknown sender 10.1."), (size_t)REFUSAL_SLOTS - 1);
    EXPECT_EQ(1u, count(log, "further unknown senders"));
  }
  EXPECT_NE(std::string::npos, work.log().find("10.0.0.1:40000 refused (not in \"gateways\"): 60 datagram(s) since"));
  char last[INET_ADDRSTRLEN];
  EXPECT_EQ(10000u + REFUSAL_LOG_TICKS + 2, gateway_refused(&g, last, sizeof last));
  EXPECT_STREQ("10.0.0.1", last);
}

/* A handler whose gateways file lists 127.0.0.1 alone. */
class ClosedNetwork : public HandlerFixture {
protected:
  void SetUp() override
  {
    std::ofstream(work_.path() + "/" GATEWAYS_FILE) << "# the shop's one gateway\n127.0.0.1/32\n";
    HandlerFixture::SetUp();
  }
};

std::vector<std::string> *g_lines;

std::vector<std::string> lines(msghdlr *h)
{
  std::vector<std::string> out;
  g_lines = &out;
  msghdlr_get_status(h, [](const char *m, int l, const char *s, const char *src, const char *dst, const char *b,
                           int f) {
    g_lines->push_back(std::string(m) + "/" + std::to_string(l) + " " + s + " " + src + " " + dst + " " + b +
                       " " + std::to_string(f));
  });
  return out;
}

TEST_F(ClosedNetwork, ARefusedSenderChangesNothingAndTheShopGatewayWorksOn)
{
  Gateway shop, stranger("127.0.0.2");
  ASSERT_TRUE(shop.exchange(discovery("GW1", 1)));
  ASSERT_TRUE(shop.exchange(connected("GW1", 1, "801", "114")));
  const std::vector<std::string> before = lines(h_);
  const Attrs line = {{"machine_id", "GW1"}, {"line_id", "1"}, {"state", "IDLE"}};
  Attrs cdr = line;
  cdr.push_back({"callid", "x"});
  // Each of these, from the shop, would end the call, add a line or move the
  // line's command address.
  for (const std::string &msg : {keepalive("GW1", 1, "IDLE"), discovery("GW9", 1),
                                 connected("GW1", 1, "666", "999"), message("CDR", cdr), message("Action", line)}) {
    SCOPED_TRACE(msg);
    stranger.send(msg);
    // Read in order: once the shop's echo is back, the stranger's datagram was handled.
    ASSERT_TRUE(shop.exchange(keepalive("GW1", 1, "CONNECTED")));
    EXPECT_FALSE(stranger.receive(20));
    EXPECT_EQ(before, lines(h_));
  }
  EXPECT_TRUE(rows().empty());
  char last[INET_ADDRSTRLEN];
  EXPECT_EQ(5u, msghdlr_refused(h_, last, sizeof last));
  EXPECT_STREQ("127.0.0.2", last);

  ASSERT_EQ(0, msghdlr_send_command(h_, "GW1", 1, "call: deny\n"));
  auto command = shop.receive();
  ASSERT_TRUE(command) << "the command goes to the shop's gateway";
  EXPECT_NE(std::string::npos, command->find("call: deny"));
  ASSERT_TRUE(shop.exchange(keepalive("GW1", 1, "IDLE")));
  ASSERT_TRUE(eventually([&] { return rows().size() == 1; }, 3000));
  EXPECT_EQ("114", rows()[0].desnum);
  EXPECT_TRUE(eventually([&] { return work_.log().find("unknown sender 127.0.0.2:") != std::string::npos; }, 3000));
  EXPECT_EQ(1u, count(work_.log(), "unknown sender 127.0.0.2:"));
}

TEST_F(ClosedNetwork, TheSimulatorFloodsFromAnotherAddressAndIsNotAnswered)
{
  int status = 0;
  std::string json = run_command(
      gwsim_path() + " --bind 127.0.0.2 -m 2 -l 5 --flood 400 --duration 0.5 --linger 300 --format json", &status);
  ASSERT_EQ(0, status) << json;
  EXPECT_NE(std::string::npos, json.find("\"mode\": \"flood\"")) << json;
  EXPECT_NE(std::string::npos, json.find("\"sent\": 200, \"echoed\": 0,")) << json;
  EXPECT_EQ(200u, msghdlr_refused(h_, nullptr, 0));
  EXPECT_TRUE(lines(h_).empty());
}

}  // namespace
