// The socket wrappers on 127.0.0.1: UDP binding (random port, fixed port,
// multicast group), TCP listen and connect, source address, broadcast, the
// single-socket wait, pending socket errors, and the echo-server exchange
// that finds this host's outside address.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "utils/debug.h"
#include "utils/net.h"
#include "testkit.h"

namespace {

sockaddr *sa(sockaddr_in *in)
{
  return reinterpret_cast<sockaddr *>(in);
}

sockaddr_in loopback(int port = 0)
{
  sockaddr_in a;
  utils::parse_ipv4_addr("127.0.0.1", &a);
  a.sin_port = htons((uint16_t)port);
  return a;
}

int local_port(int s)
{
  sockaddr_in a;
  socklen_t len = sizeof a;
  getsockname(s, sa(&a), &len);
  return ntohs(a.sin_port);
}

/* Log lines go to a file of a fresh directory for the test's life. */
class NetTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    saved_ = utils::logfd;
    ASSERT_EQ(0, utils::set_log_file(dir_.file("app.log").c_str()));
  }
  void TearDown() override
  {
    close(utils::logfd);
    utils::logfd = saved_;
    utils::set_log_rotation(nullptr, 0);
    for (const char *v : {"ECHOSVR_ADDR", "GKADDR", "ECHOSVR_PORT"})
      unsetenv(v);
  }
  std::string log() { return testkit::slurp(dir_.file("app.log")); }
  testkit::TempDir dir_{"nettest"};
  int saved_ = 2;
};

TEST_F(NetTest, UdpBindWithPortZeroPicksAPortAndReportsIt)
{
  for (int i = 0; i < 20; i++) {
    sockaddr_in a = loopback();
    int s = utils::udp_bind(0, sa(&a), sizeof a);
    ASSERT_GE(s, 0);
    int port = ntohs(a.sin_port);
    EXPECT_GE(port, 5000);
    EXPECT_EQ(port, local_port(s));
    close(s);
  }
}

TEST_F(NetTest, UdpBindWithPortZeroSkipsAPortInUse)
{
  // Find the port the generator offers first, and take it beforehand with a
  // socket that allows sharing: the random choice must not share it.
  srand(4242);
  int first = rand() & 0xFFFF;
  if (first <= 4999)
    first += 5000;
  sockaddr_in taken = loopback(first);
  int holder = utils::udp_bind(0, sa(&taken), sizeof taken);
  ASSERT_GE(holder, 0);
  srand(4242);
  sockaddr_in a = loopback();
  int s = utils::udp_bind(0, sa(&a), sizeof a);
  ASSERT_GE(s, 0);
  EXPECT_NE(first, ntohs(a.sin_port));
  EXPECT_EQ(ntohs(a.sin_port), local_port(s));
  close(s);
  close(holder);
}

TEST_F(NetTest, UdpBindFixedPortAndFailures)
{
  sockaddr_in a = loopback();
  int first = utils::udp_bind(0, sa(&a), sizeof a);
  ASSERT_GE(first, 0);
  int port = ntohs(a.sin_port);
  close(first);
  sockaddr_in again = loopback(port);
  int s = utils::udp_bind(0, sa(&again), sizeof again);
  ASSERT_GE(s, 0);
  EXPECT_EQ(port, local_port(s));
  close(s);

  EXPECT_EQ(-1, utils::udp_bind(0, sa(&a), 8));
  EXPECT_NE(std::string::npos, log().find("  FAILED: udp_bind(): utils/net.cpp: "));
  sockaddr_in other = a;
  other.sin_family = AF_INET6;
  EXPECT_EQ(-1, utils::udp_bind(0, sa(&other), sizeof other));

  // An address of no local interface fails; a socket passed in stays open.
  sockaddr_in foreign;
  utils::parse_ipv4_addr("198.51.100.77:6000", &foreign);
  int mine = socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_EQ(-1, utils::udp_bind(mine, sa(&foreign), sizeof foreign));
  EXPECT_NE(std::string::npos, log().find("  SYSERROR: udp_bind(): utils/net.cpp: "));
  EXPECT_EQ(0, utils::getsockerr(mine));  // still a valid socket
  close(mine);
}

TEST_F(NetTest, UdpBindToAGroupListensOnTheWildcardAndJoins)
{
  sockaddr_in probe = loopback();
  int p = utils::udp_bind(0, sa(&probe), sizeof probe);
  int port = ntohs(probe.sin_port);
  close(p);
  sockaddr_in group;
  utils::parse_ipv4_addr("239.1.2.3", &group);
  group.sin_port = htons((uint16_t)port);
  int s = utils::udp_bind(0, sa(&group), sizeof group);
  ASSERT_GE(s, 0) << log();
  sockaddr_in bound;
  socklen_t len = sizeof bound;
  getsockname(s, sa(&bound), &len);
  EXPECT_EQ(htonl(INADDR_ANY), bound.sin_addr.s_addr);
  EXPECT_EQ(port, ntohs(bound.sin_port));
  // Joined: a second membership of the same group is refused.
  ip_mreq req;
  req.imr_multiaddr = group.sin_addr;
  req.imr_interface.s_addr = htonl(INADDR_ANY);
  EXPECT_EQ(-1, setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req));
  EXPECT_EQ(EADDRINUSE, errno);
  close(s);
}

TEST_F(NetTest, TcpListenConnectAndRefusal)
{
  sockaddr_in probe = loopback();
  int p = utils::udp_bind(0, sa(&probe), sizeof probe);
  close(p);
  sockaddr_in where = probe;
  int l = utils::tcp_listen(0, sa(&where), sizeof where);
  ASSERT_GE(l, 0);
  int c = utils::tcp_connect(0, sa(&where), sizeof where);
  ASSERT_GE(c, 0);
  int accepted = accept(l, nullptr, nullptr);
  EXPECT_GE(accepted, 0);
  close(accepted);
  close(c);
  close(l);

  // Nobody listens now: the created socket is closed again, and said so.
  EXPECT_EQ(-1, utils::tcp_connect(0, sa(&where), sizeof where));
  std::string text = log();
  EXPECT_NE(std::string::npos, text.find("  SYSERROR: tcp_connect(): utils/net.cpp: "));
  EXPECT_NE(std::string::npos, text.find(": Connection refused\ntcp_connect(): close "));
  EXPECT_EQ(-1, utils::tcp_connect(0, sa(&where), 4));
}

TEST_F(NetTest, ConnectedUdpReportsThePendingError)
{
  sockaddr_in probe = loopback();
  int p = utils::udp_bind(0, sa(&probe), sizeof probe);
  close(p);  // now nothing listens on that port
  int s = utils::udp_connect(0, sa(&probe), sizeof probe);
  ASSERT_GE(s, 0);
  EXPECT_EQ(0, utils::wait_socket(s, POLLIN, 0));  // nothing to read yet
  ASSERT_EQ(4, send(s, "ping", 4, 0));
  int ev = utils::wait_socket(s, POLLIN, 1000);
  EXPECT_TRUE(ev & POLLERR) << ev;
  EXPECT_EQ(ECONNREFUSED, utils::getsockerr(s));
  EXPECT_EQ(0, utils::getsockerr(s));  // reading clears it
  close(s);
  EXPECT_EQ(-1, utils::getsockerr(s));
}

TEST_F(NetTest, SourceAddressTowardsLoopback)
{
  sockaddr_in dst = loopback(9), src;
  int len = sizeof src;
  ASSERT_EQ(0, utils::getsrcaddr(sa(&src), &len, sa(&dst), sizeof dst));
  EXPECT_EQ(16, len);
  EXPECT_EQ(htonl(INADDR_LOOPBACK), src.sin_addr.s_addr);
  EXPECT_NE(0, src.sin_port);
  dst.sin_family = AF_INET6;
  EXPECT_EQ(-1, utils::getsrcaddr(sa(&src), &len, sa(&dst), sizeof dst));
  EXPECT_NE(std::string::npos, log().find("  FAILED: getsrcaddr(): "));
}

TEST_F(NetTest, BroadcastLogsAndSendsToTheAllOnesAddress)
{
  sockaddr_in any;
  MK_INET_ANYADDR(any);
  int s = utils::udp_bind(0, sa(&any), sizeof any);
  ASSERT_GE(s, 0);
  int n = utils::broadcast(s, "hello", 5, 0, 9);
  EXPECT_NE(std::string::npos, log().find("broadcast(): len=5 port=9\n"));
  // Machines without a route for it refuse the send; that is logged.
  if (n < 0)
    EXPECT_NE(std::string::npos, log().find("  SYSERROR: broadcast(): "));
  else
    EXPECT_EQ(5, n);
  close(s);
  EXPECT_EQ(-1, utils::broadcast(s, "x", 1, 0, 9));
}

TEST_F(NetTest, HostNames)
{
  const char *name = utils::get_hostname();
  ASSERT_NE(nullptr, name);
  EXPECT_GT(strlen(name), 0u);
  sockaddr_in a;
  memset(&a, 0, sizeof a);
  a.sin_port = htons(77);
  ASSERT_EQ(0, utils::gethostaddr("127.0.0.1", sa(&a), sizeof a));
  EXPECT_EQ(AF_INET, a.sin_family);
  EXPECT_EQ(htonl(INADDR_LOOPBACK), a.sin_addr.s_addr);
  EXPECT_EQ(77, ntohs(a.sin_port));  // the port is left alone
  EXPECT_EQ(-1, utils::gethostaddr("", sa(&a), sizeof a));
}

/* A stand-in echo server on 127.0.0.1: answers each request with `bad` first
 * (as many times as asked), then with the proper reply. */
struct EchoServer {
  int sock = -1;
  int port = 0;
  int bad_replies = 0;
  const char *bad = "ECHOGWADDRXX0000000";
  std::atomic<int> requests{0};
  std::atomic<bool> stop{false};
  std::thread thread;

  bool start(int fixed_port = 0)
  {
    sockaddr_in a = loopback(fixed_port);
    sock = fixed_port ? socket(AF_INET, SOCK_DGRAM, 0) : utils::udp_bind(0, sa(&a), sizeof a);
    if (fixed_port && bind(sock, sa(&a), sizeof a) < 0)
      return false;
    port = local_port(sock);
    thread = std::thread([this] { serve(); });
    return true;
  }
  void serve()
  {
    while (!stop) {
      if (utils::wait_socket(sock, POLLIN, 20) <= 0)
        continue;
      char req[32];
      sockaddr_in from;
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(sock, req, sizeof req, 0, sa(&from), &len);
      if (n != 12 || memcmp(req, "ECHOGWADDRRQ", 12) != 0)
        continue;
      requests++;
      unsigned char reply[18];
      if (bad_replies > 0) {
        bad_replies--;
        sendto(sock, bad, strlen(bad), 0, sa(&from), len);
        continue;
      }
      memcpy(reply, "ECHOGWADDRRP", 12);
      memcpy(reply + 12, &from.sin_addr, 4);
      memcpy(reply + 16, &from.sin_port, 2);
      sendto(sock, reply, sizeof reply, 0, sa(&from), len);
    }
  }
  ~EchoServer()
  {
    stop = true;
    if (thread.joinable())
      thread.join();
    if (sock >= 0)
      close(sock);
  }
};

TEST_F(NetTest, EchoServerTellsTheOutsideAddress)
{
  EchoServer server;
  server.bad_replies = 1;  // the first answer is not a reply and is ignored
  ASSERT_TRUE(server.start());
  setenv("ECHOSVR_ADDR", "127.0.0.1", 1);
  setenv("ECHOSVR_PORT", std::to_string(server.port).c_str(), 1);
  sockaddr_in out;
  memset(&out, 0, sizeof out);
  const sockaddr_in *got = utils::detect_gateway_addr(sa(&out), sizeof out);
  ASSERT_NE(nullptr, got) << log();
  EXPECT_EQ(2, server.requests.load());
  EXPECT_EQ(AF_INET, got->sin_family);
  EXPECT_EQ(htonl(INADDR_LOOPBACK), got->sin_addr.s_addr);
  EXPECT_GE(ntohs(got->sin_port), 5000);
  EXPECT_EQ(0, memcmp(got, &out, 16));
  EXPECT_NE(std::string::npos, log().find(": Echo addr: 127.0.0.1:" + std::to_string(server.port) + "\n"));
}

TEST_F(NetTest, EchoShortRepliesAndTooFewAnswers)
{
  EchoServer server;
  server.bad_replies = 3;
  server.bad = "ECHOGWADDRRP";  // the right tag but no address behind it
  ASSERT_TRUE(server.start());
  setenv("ECHOSVR_ADDR", "", 1);  // empty: the next variable counts
  setenv("GKADDR", "127.0.0.1", 1);
  setenv("ECHOSVR_PORT", std::to_string(server.port).c_str(), 1);
  sockaddr_in out;
  EXPECT_EQ(nullptr, utils::echo_gateway_addr(sa(&out), sizeof out));
  EXPECT_EQ(3, server.requests.load());
  EXPECT_EQ(nullptr, utils::echo_gateway_addr(sa(&out), 8));
  EXPECT_NE(std::string::npos, log().find("  FAILED: echo_gateway_addr(): "));
}

TEST_F(NetTest, EchoServerDefaultsToItsWellKnownPort)
{
  EchoServer server;
  if (!server.start(ECHOSVR_DEFAULT_PORT))
    GTEST_SKIP() << "port " << ECHOSVR_DEFAULT_PORT << " is taken on this machine";
  sockaddr_in out;
  ASSERT_NE(nullptr, utils::echo_gateway_addr(sa(&out), sizeof out));
  EXPECT_EQ(1, server.requests.load());
  EXPECT_NE(std::string::npos, log().find(": Echo addr: 127.0.0.1:54210\n"));
}

}  // namespace
