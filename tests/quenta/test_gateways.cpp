// The closed gateway network: the lines of the "gateways" file, what a whole
// file means, the refused senders' log under a flood of many addresses, and a
// real handler that lists 127.0.0.1 alone while 127.0.0.2 speaks to it.
#include "gateway.h"
#include "quenta/gateways.h"

using namespace gwtest;

namespace {

sockaddr_in sender(const char *addr, int port = 40000)
{
  return sockaddr_in{
      .sin_family = AF_INET, .sin_port = htons((uint16_t)port), .sin_addr = {inet_addr(addr)}, .sin_zero = {}};
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
  // What the line reads as: "net/prefix" and its machines, "" for no entry, or "refused".
  const std::string long_id = "1.2.3.4 " + std::string(MACHINE_TIE_LEN, 'M');
  const std::pair<const char *, const char *> cases[] = {
      {"192.168.1.20", "192.168.1.20/32"},
      {"  10.0.0.0/8\t# the back room\r", "10.0.0.0/8"},
      {"", ""},
      {"192.168.1.77/24", "192.168.1.0/24"},
      {"0.0.0.0/0", "0.0.0.0/0"},
      {"  \t\r", ""},
      {"# 192.168.1.20", ""},
      {"192.168.1", "refused"},
      {"192.168.1.256", "refused"},
      {"192.168.01.2", "refused"},
      {"1.2.3.4/", "refused"},
      {"1.2.3.4/33", "refused"},
      {"1.2.3.4/024", "refused"},
      {"-1.2.3.4", "refused"},
      {"192.168.1.20 GW1\tGW2  # the counter's pair", "192.168.1.20/32 GW1 GW2"},
      {"10.0.0.0/8 GW1", "10.0.0.0/8 GW1"},
      {"1.2.3.4x GW1", "refused"},
      {long_id.c_str(), "refused"},
      {"1.2.3.4:9849", "refused"},
      {"gateway1", "refused"},
      {"1.2.3.4/24x", "refused"},
      {"1.2.3.4.5", "refused"},
  };
  for (const auto &[line, want] : cases) {
    gateway_net net;
    const char *why = nullptr;
    int r = gateway_parse_line(line, &net, &why);
    in_addr n{htonl(net.m_net)};
    std::string got = r < 0    ? std::string("refused") + (why ? "" : " without a reason")
                      : r == 0 ? ""
                               : inet_ntoa(n) + ("/" + std::to_string(__builtin_popcount(net.m_mask)));
    for (size_t i = 0; r > 0 && i < net.m_machines.size(); i++)
      got += " " + net.m_machines[i];
    EXPECT_EQ(want, got) << line;
  }
}

TEST(GatewayFile, AFileThatListsNothingValidClosesTheNetwork)
{
  struct {
    const char *text;  // null: no file; "/": a directory in its place
    int result;
    bool local, elsewhere;  // 127.0.0.1 and 192.168.1.9 answered
    const char *logged;
  } cases[] = {
      {nullptr, 0, true, true, "no \"gateways\" file: every sender is answered"},
      {"", 0, false, false, "lists no address (0 lines refused): no gateway is answered"},
      {"# nobody yet\n\n", 0, false, false, "no gateway is answered"},
      {"127.0.0.256\nshop\n", 0, false, false, "lists no address (2 lines refused)"},
      {"bad\n127.0.0.1 # counter\n", 1, true, false, "\"gateways\" line 1 refused (not an IPv4 address): bad"},
      {"/", -1, false, false, "\"gateways\" cannot be read: no gateway is answered"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.logged);
    WorkDir work;
    if (c.text && c.text == std::string("/"))
      ASSERT_EQ(0, mkdir(GATEWAYS_FILE, 0755));
    else if (c.text)
      std::ofstream(GATEWAYS_FILE) << c.text;
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
  for (uint32_t i = 0; i < 10000; i++) {
    sockaddr_in a = sender("10.1.0.0", 1000 + (int)i % 50);
    a.sin_addr.s_addr = htonl(ntohl(a.sin_addr.s_addr) + i);
    ASSERT_FALSE(gateway_admit(&g, &a));
  }
  // Its second line comes at the 61st tick, 60 datagrams later; the 10,000 share their slots and one line.
  for (int tick = 1; tick <= REFUSAL_LOG_TICKS + 1; tick++) {
    ASSERT_FALSE(gateway_admit(&g, &one));
    gateway_guard_tick(&g);
  }
  std::string log = work.log();
  EXPECT_EQ(2u, count(log, "unknown sender 10.0.0.1:40000"));
  EXPECT_NE(std::string::npos, log.find("10.0.0.1:40000 refused (not in \"gateways\"): 60 datagram(s) since"));
  EXPECT_LE(count(log, "unknown sender 10.1."), (size_t)REFUSAL_SLOTS - 1);
  EXPECT_EQ(1u, count(log, "further unknown senders"));
  EXPECT_EQ(10000u + REFUSAL_LOG_TICKS + 2, gateway_refused(&g, nullptr, 0));
}

/* A handler whose gateways file lists 127.0.0.1 alone. */
class ClosedNetwork : public HandlerFixture {
protected:
  void SetUp() override
  {
    std::ofstream(work_.path() + "/" GATEWAYS_FILE) << "# the shop's one gateway\n127.0.0.1/32\n";
    HandlerFixture::SetUp();
  }
  // The line table as it stands, silence counters aside (a tick may come between two looks).
  std::string table()
  {
    std::scoped_lock lock(h_->m_table_lock);
    std::string t(reinterpret_cast<const char *>(h_->m_infos), sizeof(machine_info) * (size_t)h_->m_micount);
    for (size_t i = 0; i < (size_t)h_->m_micount; i++)
      memset(&t[i * sizeof(machine_info) + offsetof(machine_info, m_expire)], 0, sizeof(int));
    return t;
  }
};

TEST_F(ClosedNetwork, ARefusedSenderChangesNothingAndTheShopGatewayWorksOn)
{
  Gateway shop, stranger("127.0.0.2");
  ASSERT_TRUE(shop.exchange(discovery("GW1", 1)));
  ASSERT_TRUE(shop.exchange(connected("GW1", 1, "801", "114")));
  const std::string before = table();
  const Attrs line = {{"machine_id", "GW1"}, {"line_id", "1"}, {"state", "IDLE"}};
  // Each of these, from the shop, would end the call, add a line or move the line's command address.
  for (const std::string &msg : {keepalive("GW1", 1, "IDLE"), discovery("GW9", 1), connected("GW1", 1, "666", "999"),
                                 message("CDR", line), message("Action", line)}) {
    stranger.send(msg);
    // Read in order: once the shop's echo is back, the stranger's datagram was handled.
    ASSERT_TRUE(shop.exchange(keepalive("GW1", 1, "CONNECTED")));
    EXPECT_FALSE(stranger.receive(20)) << msg;
    EXPECT_TRUE(before == table()) << msg;
  }
  EXPECT_TRUE(rows().empty());
  char last[INET_ADDRSTRLEN];
  EXPECT_EQ(5u, msghdlr_refused(h_, last, sizeof last));
  EXPECT_STREQ("127.0.0.2", last);

  ASSERT_EQ(0, msghdlr_send_command(h_, "GW1", 1, "call: deny\n"));
  EXPECT_NE(std::string::npos, shop.receive().value_or("").find("call: deny")) << "the command goes to the shop";
  ASSERT_TRUE(shop.exchange(keepalive("GW1", 1, "IDLE")));
  EXPECT_TRUE(eventually([&] { return rows().size() == 1 && rows()[0].desnum == "114"; }, 3000));
  EXPECT_TRUE(eventually([&] { return count(work_.log(), "unknown sender 127.0.0.2:") == 1; }, 3000));

  // The simulator's flood from 127.0.0.2: 200 datagrams from ten sockets, none answered.
  int status = 0;
  std::string json =
      run_command(gwsim_path() + " --bind 127.0.0.2 -m 2 -l 5 --flood 400 --duration 0.5 --format json", &status);
  EXPECT_TRUE(status == 0 && json.find("\"sent\": 200, \"echoed\": 0,") != std::string::npos) << json;
  EXPECT_EQ(205u, msghdlr_refused(h_, nullptr, 0));
}

/* GW1 tied to 127.0.0.1; the rest of 127/8 listed for every other machine. */
class TiedMachines : public ClosedNetwork {
protected:
  void SetUp() override
  {
    std::ofstream(work_.path() + "/" GATEWAYS_FILE) << "127.0.0.1 GW1 GW3\n127.0.0.0/8\n";
    HandlerFixture::SetUp();
  }
};

TEST_F(TiedMachines, ATiedMachineIsHeardOnlyFromItsAddress)
{
  Gateway shop, neighbour("127.0.0.2");
  ASSERT_TRUE(shop.exchange(discovery("GW1", 1)));
  ASSERT_TRUE(shop.exchange(connected("GW1", 1, "801", "114")));
  const std::string before = table();
  for (const std::string &msg : {keepalive("GW1", 1, "IDLE"), connected("GW1", 1, "666", "999"), discovery("GW3", 1)}) {
    neighbour.send(msg);
    ASSERT_TRUE(shop.exchange(keepalive("GW1", 1, "CONNECTED")));
    EXPECT_FALSE(neighbour.receive(20)) << msg;
    EXPECT_TRUE(before == table()) << msg;
  }
  EXPECT_EQ(3u, msghdlr_refused(h_, nullptr, 0));
  // A machine the file ties to no address speaks from any listed one.
  ASSERT_TRUE(neighbour.exchange(discovery("GW2", 1)));
  EXPECT_EQ(3u, msghdlr_refused(h_, nullptr, 0));
  EXPECT_TRUE(eventually([&] { return count(work_.log(), "sender 127.0.0.2:") == 1; }, 3000));
  EXPECT_NE(std::string::npos, work_.log().find("ties to another address"));
}

/* Any sender, no gateways file: the line table's own rules. */
class LineTable : public HandlerFixture {
protected:
  void silence(const char *machine, int ticks)
  {
    std::scoped_lock lock(h_->m_table_lock);
    for (int i = 0; i < h_->m_micount; i++)
      if (strcmp(h_->m_infos[i].m_machine_id, machine) == 0)
        h_->m_infos[i].m_expire = ticks;
  }
  std::string state(const char *machine)
  {
    std::scoped_lock lock(h_->m_table_lock);
    for (int i = 0; i < h_->m_micount; i++)
      if (strcmp(h_->m_infos[i].m_machine_id, machine) == 0)
        return std::string(h_->m_infos[i].m_state) + " " + h_->m_infos[i].m_callinfo.desnum;
    return "absent";
  }
};

TEST_F(LineTable, ALineHeardKeepsItsAddressUntilItFallsSilent)
{
  Gateway shop, other("127.0.0.2");
  ASSERT_TRUE(shop.exchange(discovery("GW1", 1)));
  ASSERT_TRUE(shop.exchange(connected("GW1", 1, "801", "114")));
  for (const std::string &msg : {keepalive("GW1", 1, "IDLE"), connected("GW1", 1, "666", "999")}) {
    other.send(msg);
    ASSERT_TRUE(shop.exchange(keepalive("GW1", 1, "CONNECTED")));
    EXPECT_FALSE(other.receive(20)) << msg;
    EXPECT_EQ("CONNECTED 114", state("GW1")) << msg;
  }
  EXPECT_EQ(2u, msghdlr_refused(h_, nullptr, 0));
  ASSERT_EQ(0, msghdlr_send_command(h_, "GW1", 1, "call: deny\n"));
  EXPECT_NE(std::string::npos, shop.receive().value_or("").find("call: deny"));
  EXPECT_TRUE(eventually([&] { return count(work_.log(), "a line that another address reported") == 1; }, 3000));

  // Silent past the limit, the line may move: its call ends there and then.
  silence("GW1", EXPIRE_TIME);
  ASSERT_TRUE(other.exchange(keepalive("GW1", 1, "IDLE")));
  EXPECT_TRUE(eventually([&] { return rows().size() == 1; }, 3000));
  ASSERT_EQ(0, msghdlr_send_command(h_, "GW1", 1, "call: permit\n"));
  EXPECT_NE(std::string::npos, other.receive().value_or("").find("call: permit"));
}

TEST_F(LineTable, AFullTableGivesTheLongestSilentIdleLineItsPlace)
{
  Gateway shop;
  for (int i = 0; i < MAX_MACHINE_INFO; i++)
    ASSERT_TRUE(shop.exchange(discovery("GW" + std::to_string(i), 1)));
  ASSERT_TRUE(shop.exchange(connected("GW5", 1, "801", "114")));
  ASSERT_TRUE(shop.exchange(keepalive("GW5", 1, "IDLE")));
  ASSERT_TRUE(eventually([&] { return rows().size() == 1; }, 3000));
  EXPECT_FALSE(shop.exchange(discovery("NEW1", 1))) << "nobody silent for a minute yet";
  silence("GW5", LINE_EVICT_TICKS + 9);  // its ended call not yet reported to the console: stays
  silence("GW7", LINE_EVICT_TICKS - 1);  // not long enough
  silence("GW8", LINE_EVICT_TICKS);
  silence("GW9", LINE_EVICT_TICKS + 5);
  ASSERT_TRUE(shop.exchange(discovery("NEW1", 1)));
  EXPECT_EQ("absent", state("GW9"));
  ASSERT_TRUE(shop.exchange(discovery("NEW2", 1)));
  EXPECT_EQ("absent", state("GW8"));
  EXPECT_FALSE(shop.exchange(discovery("NEW3", 1)));
  EXPECT_NE("absent", state("GW5"));
  EXPECT_NE("absent", state("GW7"));
  EXPECT_EQ(MAX_MACHINE_INFO, h_->m_micount);
  EXPECT_TRUE(eventually([&] { return count(work_.log(), "gives its place to machine NEW1") == 1; }, 3000));
}

}  // namespace
