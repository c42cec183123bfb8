// IPv4 socket addresses: parsing and printing, validation with its log line,
// ports, comparison and copy.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "utils/debug.h"
#include "utils/sockaddr.h"
#include "testkit.h"

namespace {

sockaddr *sa(sockaddr_in *in)
{
  return reinterpret_cast<sockaddr *>(in);
}

std::string dotted(const sockaddr_in &in)
{
  char buf[32];
  return utils::inet_ntop(AF_INET, &in.sin_addr, buf, sizeof buf);
}

TEST(ParseIpv4, AcceptedForms)
{
  sockaddr_in a;
  memset(&a, 0x55, sizeof a);
  ASSERT_EQ(0, utils::parse_ipv4_addr("192.0.2.1", &a));
  EXPECT_EQ(AF_INET, a.sin_family);
  EXPECT_EQ(htonl(0xC0000201), a.sin_addr.s_addr);
  EXPECT_EQ(0, a.sin_port);
  EXPECT_EQ(0, a.sin_zero[0]);  // comparable as 16 bytes
  ASSERT_EQ(0, utils::parse_ipv4_addr(" 192.0.2.1", &a));
  EXPECT_EQ("192.0.2.1", dotted(a));
  ASSERT_EQ(0, utils::parse_ipv4_addr("192.0.2.1:8080", &a));
  EXPECT_EQ(8080, ntohs(a.sin_port));
  ASSERT_EQ(0, utils::parse_ipv4_addr("0.0.0.0:65535", &a));
  EXPECT_EQ(65535, utils::getsockport(sa(&a)));
  ASSERT_EQ(0, utils::parse_ipv4_addr("10.1.2.3 trailing", &a));  // rest ignored
  EXPECT_EQ("10.1.2.3", dotted(a));
}

TEST(ParseIpv4, RejectedForms)
{
  sockaddr_in a;
  for (const char *bad :
       {"192.0.2", "192.0.2.256", "192.0.2.1:70000", "192.0.x.1", "a.b.c.d", "", "  192.0.2.1",
        "192.0.2.1:", "192.0.2.1:x", "192..2.1", "192.0.2.-1", "192.0.2.99999999999999999999", "192,0,2,1"})
    EXPECT_EQ(-1, utils::parse_ipv4_addr(bad, &a)) << '"' << bad << '"';
}

TEST(ParseIpv4, AtonFormsReturnZeroOnSuccess)
{
  in_addr in;
  EXPECT_EQ(0, utils::inet_aton("127.0.0.1", &in));
  EXPECT_EQ(htonl(INADDR_LOOPBACK), in.s_addr);
  EXPECT_EQ(-1, utils::inet_aton("127.0.0", &in));

  sockaddr_in a;
  memset(&a, 0, sizeof a);
  EXPECT_EQ(0, utils::sock_aton("192.0.2.7:99", sa(&a), sizeof a));
  EXPECT_EQ(99, utils::getsockport(sa(&a)));
  sockaddr_in untouched;
  memset(&untouched, 0x11, sizeof untouched);
  EXPECT_EQ(-1, utils::sock_aton("192.0.2.7", sa(&untouched), 8));  // too short
  EXPECT_EQ(-1, utils::sock_aton("nonsense", sa(&untouched), sizeof untouched));
  EXPECT_EQ(0x11, reinterpret_cast<unsigned char *>(&untouched)[0]);
}

TEST(PrintIpv4, DottedWithPortWhenSet)
{
  sockaddr_in a;
  utils::parse_ipv4_addr("192.0.2.5", &a);
  EXPECT_STREQ("192.0.2.5", utils::sock_ntop_host(sa(&a), sizeof a));
  utils::setsockport(sa(&a), 9849);
  EXPECT_STREQ("192.0.2.5:9849", utils::sock_ntop_host(sa(&a), sizeof a));
  utils::parse_ipv4_addr("255.255.255.255:65535", &a);
  EXPECT_STREQ("255.255.255.255:65535", utils::sock_ntop_host(sa(&a), sizeof a));
  char small[8];
  EXPECT_STREQ("255.255", utils::inet_ntop(AF_INET, &a.sin_addr, small, sizeof small));
  EXPECT_EQ(nullptr, utils::inet_ntop(AF_INET6, &a.sin_addr, small, sizeof small));
  a.sin_family = AF_UNIX;
  EXPECT_EQ(nullptr, utils::sock_ntop_host(sa(&a), sizeof a));
}

TEST(Validity, LengthsFamiliesAndTheLogLine)
{
  testkit::TempDir dir("sockaddr");
  const std::string path = dir.file("app.log");
  int saved = utils::logfd;
  ASSERT_EQ(0, utils::set_log_file(path.c_str()));

  sockaddr_in a;
  utils::parse_ipv4_addr("239.1.2.3", &a);
  EXPECT_EQ(1, utils::is_valid_addr(sa(&a), 0));
  EXPECT_EQ(1, utils::is_valid_addr(sa(&a), 16));
  EXPECT_EQ(1, utils::is_valid_addr(sa(&a), -1));
  EXPECT_EQ(0, utils::is_valid_addr(sa(&a), 8));
  EXPECT_EQ(1, utils::is_multicast_addr(sa(&a), 16));
  EXPECT_EQ(-1, utils::is_multicast_addr(sa(&a), 8));
  utils::parse_ipv4_addr("223.255.255.255", &a);
  EXPECT_EQ(0, utils::is_multicast_addr(sa(&a), 16));
  utils::parse_ipv4_addr("240.0.0.1", &a);
  EXPECT_EQ(0, utils::is_multicast_addr(sa(&a), 16));
  a.sin_family = AF_INET6;
  EXPECT_EQ(0, utils::is_valid_addr(sa(&a), 16));
  EXPECT_EQ(-1, utils::getsockport(sa(&a)));
  EXPECT_EQ(-1, utils::setsockport(sa(&a), 1));

  close(utils::logfd);
  utils::logfd = saved;
  utils::set_log_rotation(nullptr, 0);
  const std::string log = testkit::slurp(path);
  // Only the short IPv4 lengths are logged, each once.
  std::string line = "  FAILED: is_valid_addr(): utils/sockaddr.cpp: ";
  size_t first = log.find(line);
  ASSERT_NE(std::string::npos, first);
  size_t second = log.find(line, first + 1);
  ASSERT_NE(std::string::npos, second);
  EXPECT_EQ(std::string::npos, log.find(line, second + 1));
}

TEST(CompareAndCopy, SixteenBytesOfIpv4Only)
{
  sockaddr_in a, b;
  utils::parse_ipv4_addr("192.0.2.1:10", &a);
  utils::parse_ipv4_addr("192.0.2.1:10", &b);
  EXPECT_EQ(0, utils::sockcmp(sa(&a), sa(&b)));
  utils::setsockport(sa(&b), 11);
  EXPECT_NE(0, utils::sockcmp(sa(&a), sa(&b)));

  sockaddr_in c;
  memset(&c, 0, sizeof c);
  EXPECT_EQ(16, utils::sockcpy(sa(&c), sa(&a)));
  EXPECT_EQ(0, utils::sockcmp(sa(&a), sa(&c)));
  EXPECT_EQ(-1, utils::sockncpy(sa(&c), 8, sa(&b), 16));
  EXPECT_EQ(-1, utils::sockncpy(sa(&c), 16, sa(&b), 8));
  EXPECT_EQ(16, utils::sockncpy(sa(&c), 16, sa(&b), 16));
  EXPECT_EQ(11, utils::getsockport(sa(&c)));

  b.sin_family = AF_INET6;
  EXPECT_EQ(-1, utils::sockcmp(sa(&a), sa(&b)));
  EXPECT_EQ(-1, utils::sockcpy(sa(&c), sa(&b)));
  EXPECT_EQ(AF_INET, c.sin_family);

  sockaddr_in any;
  memset(&any, 0x7f, sizeof any);
  MK_INET_ANYADDR(any);
  EXPECT_STREQ("0.0.0.0", utils::sock_ntop_host(sa(&any), sizeof any));
}

}  // namespace
