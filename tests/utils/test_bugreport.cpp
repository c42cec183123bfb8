// The problem report against a small SMTP server that each case runs on
// 127.0.0.1: the accepted dialogue and its body, every failing step with its
// code, reply lines read by _tcp_gets, and the configuration's fallbacks.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "stderr_capture.h"
#include "utils/bugreport.h"
#include "utils/debug.h"
#include "utils/logring.h"
#include "testkit.h"

namespace {

// What the server does at one step of the dialogue instead of its usual reply.
enum class Fault {
  None,
  Reject,           // replies "550 step refused" and closes
  Close,            // closes without a reply
  ResetAfterReply,  // gives its usual code in a long line, then resets the connection
};

// Steps: 0 greeting, 1 HELO, 2 MAIL FROM, 3 RCPT TO, 4 DATA, 5 body, 6 QUIT.
const char *const REPLIES[] = {"220 test server ready", "250 hello",  "250 sender ok", "250 recipient ok",
                               "354 go ahead",          "250 queued", "221 bye"};

class SmtpServer {
public:
  SmtpServer(int fault_step = -1, Fault fault = Fault::None) : fault_step_(fault_step), fault_(fault)
  {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr *>(&sin), sizeof sin);
    listen(fd_, 1);
    socklen_t len = sizeof sin;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&sin), &len);
    port_ = ntohs(sin.sin_port);
  }
  ~SmtpServer()
  {
    join();
    close(fd_);
  }
  void greeting(const std::string &text) { greeting_ = text; }
  void silent() { silent_ = true; }
  void start()
  {
    thread_ = std::thread([this] { run(); });
  }
  void join()
  {
    if (thread_.joinable())
      thread_.join();
  }
  int port() const { return port_; }

  std::vector<std::string> commands;  // command lines as received, CR LF kept
  std::string data;                   // everything after DATA up to and with the final ".\r\n"

private:
  void run()
  {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1)
      return;
    int c = accept(fd_, nullptr, nullptr);
    timeval tv{10, 0};
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (silent_) {
      char b;
      (void)recv(c, &b, 1, 0);  // until the client gives up
      close(c);
      return;
    }
    for (int step = 0; step <= 6; step++) {
      if (step == 5) {
        if (!read_until(c, "\r\n.\r\n", data))
          break;
      } else if (step > 0) {
        std::string line;
        if (!read_until(c, "\r\n", line))
          break;
        commands.push_back(line);
      }
      std::string reply = step == 0 && !greeting_.empty() ? greeting_ : std::string(REPLIES[step]) + "\r\n";
      if (step == fault_step_) {
        if (fault_ == Fault::Reject)
          send_text(c, "550 step refused\r\n");
        if (fault_ == Fault::ResetAfterReply)
          reset_after(c, std::string(REPLIES[step], 3) + " " + std::string(32768, 'x') + "\r\n");
        else
          close(c);
        return;
      }
      send_text(c, reply);
    }
    close(c);
  }

  static bool read_until(int c, const char *end, std::string &into)
  {
    char b;
    while (into.size() < strlen(end) || into.compare(into.size() - strlen(end), strlen(end), end) != 0) {
      if (recv(c, &b, 1, 0) != 1)
        return false;
      into += b;
    }
    return true;
  }
  static void send_text(int c, const std::string &text) { (void)send(c, text.data(), text.size(), MSG_NOSIGNAL); }

  // The long line keeps the client reading until well after the reset has
  // arrived, so its next send is the one that fails. On the loopback a byte
  // that has left the send queue lies in the client's receive queue, which a
  // reset does not empty.
  static void reset_after(int c, const std::string &reply)
  {
    send_text(c, reply);
    int unsent = 1;
    for (int i = 0; i < 5000 && unsent > 0; i++) {
      ioctl(c, SIOCOUTQNSD, &unsent);
      if (unsent > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    linger lg{1, 0};
    setsockopt(c, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(c);
  }

  int fd_ = -1;
  int port_ = 0;
  int fault_step_;
  Fault fault_;
  bool silent_ = false;
  std::string greeting_;
  std::thread thread_;
};

class BugreportTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    for (const char *name : {"BUGREPORT_SERVER", "BUGREPORT_ADDR", "BUGREPORT_PORT", "BUGREPORT_MAILBOX",
                             "BUGREPORT_HELO", "BUGREPORT_TIMEOUT"})
      unsetenv(name);
    setenv("BUGREPORT_SERVER", "127.0.0.1", 1);
    setenv("BUGREPORT_MAILBOX", "maint@shop.test", 1);
    setenv("BUGREPORT_HELO", "station.shop.test", 1);
    saved_fd_ = utils::logfd;
    utils::logfd = open(dir_.file("app.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  void TearDown() override
  {
    close(utils::logfd);
    utils::logfd = saved_fd_;
  }
  // Runs one report against the server and keeps what it wrote to standard error.
  int report(SmtpServer &server)
  {
    setenv("BUGREPORT_PORT", std::to_string(server.port()).c_str(), 1);
    server.start();
    StderrCapture cap;
    int rc = utils::bugreport();
    err_ = cap.text();
    server.join();
    return rc;
  }

  std::string err_;
  testkit::TempDir dir_{"bugreport"};
  int saved_fd_ = 2;
};

TEST_F(BugreportTest, AcceptedReportCarriesTheRecentLogAndTheEnvironment)
{
  setenv("BUGREPORT_TEST_MARK", "marker-value", 1);
  std::string recent = "  worker(): quenta/msghdlr.cpp: 120: line 3 stuck\n";
  utils::log_ring_record(recent.data(), recent.size());
  unsigned long head = utils::logbuf_head, tail = utils::logbuf_tail;

  SmtpServer server;
  ASSERT_EQ(0, report(server)) << err_;

  ASSERT_EQ(5u, server.commands.size());
  EXPECT_EQ("HELO station.shop.test\r\n", server.commands[0]);
  EXPECT_EQ("MAIL FROM:<maint@shop.test>\r\n", server.commands[1]);
  EXPECT_EQ("RCPT TO:<maint@shop.test>\r\n", server.commands[2]);
  EXPECT_EQ("DATA\r\n", server.commands[3]);
  EXPECT_EQ("QUIT\r\n", server.commands[4]);

  const std::string &d = server.data;
  std::string recent_wire = "  worker(): quenta/msghdlr.cpp: 120: line 3 stuck\r\n\r\n";
  size_t at = d.find(recent_wire);
  ASSERT_NE(std::string::npos, at) << d;
  size_t mark = d.find("BUGREPORT_TEST_MARK=marker-value\r\n");
  EXPECT_GT(mark, at);
  EXPECT_NE(std::string::npos, d.find("BUGREPORT_MAILBOX=maint@shop.test\r\n"));
  ASSERT_GE(d.size(), 7u);
  EXPECT_EQ("\r\n\r\n.\r\n", d.substr(d.size() - 7));
  for (size_t i = 0; i < d.size(); i++) {
    if (d[i] == '\n') {
      ASSERT_TRUE(i > 0 && d[i - 1] == '\r') << "bare line feed at " << i;
    }
  }

  // Reading the ring left its counters alone.
  EXPECT_EQ(head, utils::logbuf_head);
  EXPECT_EQ(tail, utils::logbuf_tail);

  // Standard error shows each read and the body as built.
  EXPECT_NE(std::string::npos, err_.find("tcp_gets(): 81\ntcp_gets(): 220 test server ready\n"));
  EXPECT_NE(std::string::npos, err_.find("tcp_gets(): 194\ntcp_gets(): 250 queued\n"));
  size_t body = err_.find(recent + "\n");
  ASSERT_NE(std::string::npos, body);
  size_t body_end = err_.find("\n\n.\r\n", body);
  ASSERT_NE(std::string::npos, body_end);
  size_t env_mark = err_.find("\nBUGREPORT_TEST_MARK=marker-value\n", body);
  EXPECT_LT(env_mark, body_end);
  unsetenv("BUGREPORT_TEST_MARK");
}

// A log line that is a lone dot, or that carries an SMTP command after a line
// break, stays inside the message.
TEST_F(BugreportTest, DotLinesAreDoubledSoTheLogCannotEndTheMessage)
{
  std::string hostile = "gateway said:\n.\nRCPT TO:<other@evil.test>\n.hidden\r\n";
  utils::log_ring_record(hostile.data(), hostile.size());

  SmtpServer server;
  ASSERT_EQ(0, report(server)) << err_;
  EXPECT_NE(std::string::npos, server.data.find("gateway said:\r\n..\r\nRCPT TO:<other@evil.test>\r\n..hidden\r\n"));
  EXPECT_EQ(server.data.size() - 5, server.data.find("\r\n.\r\n"));
  EXPECT_EQ(5u, server.commands.size());
}

TEST_F(BugreportTest, BodyStaysWithinItsBufferWhenTheEnvironmentIsLarge)
{
  std::string big(3000, 'e');
  setenv("BUGREPORT_BIG1", big.c_str(), 1);
  setenv("BUGREPORT_BIG2", big.c_str(), 1);
  setenv("BUGREPORT_BIG3", big.c_str(), 1);
  std::string filler(LOGBUF_SIZE, 'r');
  utils::log_ring_record(filler.data(), filler.size());

  SmtpServer server;
  int rc = report(server);
  unsetenv("BUGREPORT_BIG1");
  unsetenv("BUGREPORT_BIG2");
  unsetenv("BUGREPORT_BIG3");
  ASSERT_EQ(0, rc) << err_.substr(0, 400);

  size_t start = err_.find(filler);
  size_t end = err_.find("\n\n.\r\n", start);
  ASSERT_NE(std::string::npos, start);
  ASSERT_NE(std::string::npos, end);
  EXPECT_LE(end + 5 - start, (size_t)BUGREPORT_BODY_SIZE);
  EXPECT_EQ("\r\n.\r\n", server.data.substr(server.data.size() - 5));
}

TEST_F(BugreportTest, MultiLineRepliesAreReadToTheirLastLine)
{
  SmtpServer server;
  server.greeting("220-first banner line\r\n220-second\r\n220 ready\r\n");
  ASSERT_EQ(0, report(server)) << err_;
  EXPECT_EQ(5u, server.commands.size());
}

TEST_F(BugreportTest, UnresolvableServerNameFallsBackToTheConfiguredAddress)
{
  setenv("BUGREPORT_SERVER", "no-such-host.invalid", 1);
  setenv("BUGREPORT_ADDR", "127.0.0.1", 1);
  SmtpServer server;
  EXPECT_EQ(0, report(server)) << err_;
}

TEST_F(BugreportTest, UnusableSettingsAreReportedAndReplacedByDefaults)
{
  setenv("BUGREPORT_MAILBOX", "a>\r\nRCPT TO:<b", 1);
  setenv("BUGREPORT_TIMEOUT", "soon", 1);
  SmtpServer server;
  ASSERT_EQ(0, report(server)) << err_;
  EXPECT_NE(std::string::npos,
            err_.find("bugreport: BUGREPORT_MAILBOX: unusable value, using \"station@localhost\"\n"));
  EXPECT_NE(std::string::npos, err_.find("bugreport: BUGREPORT_TIMEOUT: unusable value, using 30\n"));
  EXPECT_EQ("MAIL FROM:<station@localhost>\r\n", server.commands[1]);
}

// A process may run with standard input closed; the report's socket is then
// descriptor 0 and must still be the one that is connected.
TEST_F(BugreportTest, ReportIsSentWithStandardInputClosed)
{
  EXPECT_EXIT(
      {
        SmtpServer server;
        setenv("BUGREPORT_PORT", std::to_string(server.port()).c_str(), 1);
        server.start();
        close(0);
        int rc = utils::bugreport();
        server.join();
        exit(rc == 0 && server.commands.size() == 5 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(BugreportTest, NoServerListeningIsStepConnect)
{
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr *>(&sin), sizeof sin);
  socklen_t len = sizeof sin;
  getsockname(probe, reinterpret_cast<sockaddr *>(&sin), &len);
  close(probe);
  setenv("BUGREPORT_PORT", std::to_string(ntohs(sin.sin_port)).c_str(), 1);

  StderrCapture cap;
  EXPECT_EQ(-1, utils::bugreport());
  EXPECT_EQ("bugreport: E076 cannot connect to server!\n", cap.text());
}

// The listener's queue is full, so the handshake is never answered.
TEST_F(BugreportTest, ServerThatNeverAcceptsTimesOutAtTheConnect)
{
  int lsn = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(lsn, reinterpret_cast<sockaddr *>(&sin), sizeof sin));
  ASSERT_EQ(0, listen(lsn, 0));
  socklen_t len = sizeof sin;
  getsockname(lsn, reinterpret_cast<sockaddr *>(&sin), &len);
  int filler = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(0, connect(filler, reinterpret_cast<sockaddr *>(&sin), sizeof sin));
  setenv("BUGREPORT_PORT", std::to_string(ntohs(sin.sin_port)).c_str(), 1);
  setenv("BUGREPORT_TIMEOUT", "1", 1);

  StderrCapture cap;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, utils::bugreport());
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ("bugreport: E076 cannot connect to server!\n", cap.text());
  EXPECT_LT(waited, std::chrono::seconds(10));
  close(filler);
  close(lsn);
}

TEST_F(BugreportTest, SilentServerTimesOutAtTheGreeting)
{
  setenv("BUGREPORT_TIMEOUT", "1", 1);
  SmtpServer server;
  server.silent();
  EXPECT_EQ(-1, report(server));
  EXPECT_NE(std::string::npos, err_.find("bugreport: E081: connection error\n")) << err_;
}

TEST_F(BugreportTest, QuitGoingWrongAfterAcceptanceStillCounts)
{
  SmtpServer server(6, Fault::Close);
  EXPECT_EQ(0, report(server)) << err_;
}

struct FailingStep {
  int step;
  Fault fault;
  const char *message;
};

const char *const STEP_NAMES[] = {"Greeting", "Helo", "MailFrom", "RcptTo", "Data", "Body", "Quit"};
const char *const FAULT_NAMES[] = {"None", "Reject", "Close", "Reset"};

void PrintTo(const FailingStep &f, std::ostream *os)
{
  *os << STEP_NAMES[f.step] << " " << FAULT_NAMES[(int)f.fault];
}

std::string step_name(const ::testing::TestParamInfo<FailingStep> &info)
{
  return std::string(STEP_NAMES[info.param.step]) + FAULT_NAMES[(int)info.param.fault];
}

class BugreportStepTest : public BugreportTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(BugreportStepTest, FailingStepGivesItsCodeAndNothingAfterIt)
{
  const FailingStep &f = GetParam();
  SmtpServer server(f.step, f.fault);
  EXPECT_EQ(-1, report(server));
  size_t at = err_.find("bugreport: E");
  ASSERT_NE(std::string::npos, at) << err_.substr(0, 300);
  EXPECT_EQ(f.message, err_.substr(at));
  EXPECT_EQ(std::string::npos, err_.find("bugreport: E", at + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, BugreportStepTest,
    ::testing::Values(FailingStep{0, Fault::Close, "bugreport: E081: connection error\n"},
                      FailingStep{0, Fault::Reject, "bugreport: E087: server error: 550 step refused\n"},
                      FailingStep{0, Fault::ResetAfterReply, "bugreport: E093: connection error\n"},
                      FailingStep{1, Fault::Close, "bugreport: E098: connection error\n"},
                      FailingStep{1, Fault::Reject, "bugreport: E104: server error: 550 step refused\n"},
                      FailingStep{1, Fault::ResetAfterReply, "bugreport: E110: connection error\n"},
                      FailingStep{2, Fault::Close, "bugreport: E115: connection error\n"},
                      FailingStep{2, Fault::Reject, "bugreport: E121: server error: 550 step refused\n"},
                      FailingStep{2, Fault::ResetAfterReply, "bugreport: E127: connection error\n"},
                      FailingStep{3, Fault::Close, "bugreport: E132: connection error\n"},
                      FailingStep{3, Fault::Reject, "bugreport: E138: server error: 550 step refused\n"},
                      FailingStep{3, Fault::ResetAfterReply, "bugreport: E144: connection error\n"},
                      FailingStep{4, Fault::Close, "bugreport: E149: connection error\n"},
                      FailingStep{4, Fault::Reject, "bugreport: E155: server error: 550 step refused\n"},
                      FailingStep{4, Fault::ResetAfterReply, "bugreport: E189: connection error\n"},
                      FailingStep{5, Fault::Close, "bugreport: E194: connection error\n"},
                      FailingStep{5, Fault::Reject, "bugreport: E200: server error: 550 step refused\n"}),
    step_name);

TEST(TcpGets, ReadsLinesCutsLongOnesAndFailsAtTheEnd)
{
  int sv[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
  std::string input = "250 ok\r\nplain\n0123456789abcdef\nnext\r\n\npartial";
  ASSERT_EQ((ssize_t)input.size(), write(sv[1], input.data(), input.size()));
  close(sv[1]);

  StderrCapture cap;
  char buf[64];
  EXPECT_EQ(6, utils::_tcp_gets(sv[0], buf, sizeof buf, 42));
  EXPECT_STREQ("250 ok", buf);
  EXPECT_EQ(5, utils::_tcp_gets(sv[0], buf, sizeof buf, 43));
  EXPECT_STREQ("plain", buf);
  EXPECT_EQ(7, utils::_tcp_gets(sv[0], buf, 8, 44));
  EXPECT_STREQ("0123456", buf);
  EXPECT_EQ(4, utils::_tcp_gets(sv[0], buf, sizeof buf, 45)) << "the rest of a cut line is dropped";
  EXPECT_STREQ("next", buf);
  EXPECT_EQ(0, utils::_tcp_gets(sv[0], buf, sizeof buf, 46));
  EXPECT_STREQ("", buf);
  EXPECT_EQ(-1, utils::_tcp_gets(sv[0], buf, sizeof buf, 47));
  close(sv[0]);

  EXPECT_EQ("tcp_gets(): 42\ntcp_gets(): 250 ok\n"
            "tcp_gets(): 43\ntcp_gets(): plain\n"
            "tcp_gets(): 44\ntcp_gets(): 0123456\n"
            "tcp_gets(): 45\ntcp_gets(): next\n"
            "tcp_gets(): 46\ntcp_gets(): \n"
            "tcp_gets(): 47\n",
            cap.text());
}

}  // namespace
