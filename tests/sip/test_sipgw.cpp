// SIP booths billed through the bridge quenta-sipgw: a real Kamailio running
// the shop's configuration, real SIP agents (baresip: a carrier that answers
// and booths that call) and a real message handler storing the calls. Every
// test process takes a network namespace of its own when it may (as root),
// so the SIP ports and the event socket are its alone. Kamailio and baresip
// missing is a failure, not a skip: tools/bootstrap.sh installs them.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <memory>
#include <thread>

#include "quenta/gateway.h"

using namespace gwtest;

namespace {

class OwnNetwork : public ::testing::Environment {
public:
  void SetUp() override
  {
    if (unshare(CLONE_NEWNET) != 0)
      return;  // not root: the machine's loopback, ports as they are
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    strcpy(ifr.ifr_name, "lo");
    if (ioctl(s, SIOCGIFFLAGS, &ifr) == 0) {
      ifr.ifr_flags |= IFF_UP;
      (void)ioctl(s, SIOCSIFFLAGS, &ifr);
    }
    close(s);
  }
};
[[maybe_unused]] ::testing::Environment *const g_network = ::testing::AddGlobalTestEnvironment(new OwnNetwork);

// A program run in the background, its output in a log file, its standard
// input a pipe the test writes commands to.
class Proc {
public:
  Proc(const std::vector<std::string> &argv, const std::string &log) : log_(log)
  {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0)
      return;
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      dup2(p[0], 0);
      dup2(out, 1);
      dup2(out, 2);
      std::vector<char *> args;
      for (auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(p[0]);
    in_ = p[1];
  }
  ~Proc()
  {
    stop();
    if (in_ >= 0)
      close(in_);
  }
  void say(const std::string &line) { ASSERT_EQ((ssize_t)line.size(), write(in_, line.data(), line.size())); }
  // SIGTERM, then SIGKILL when the program has not ended within 3 s.
  void stop(int sig = SIGTERM)
  {
    if (pid_ <= 0)
      return;
    kill(pid_, sig);
    for (int i = 0; i < 150 && waitpid(pid_, nullptr, WNOHANG) == 0; i++)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  std::string log() const { return slurp(log_); }
  bool logged(const std::string &text) const { return log().find(text) != std::string::npos; }
  size_t count(const std::string &text) const
  {
    std::string l = log();
    size_t n = 0;
    for (size_t at = l.find(text); at != std::string::npos; at = l.find(text, at + 1))
      n++;
    return n;
  }

private:
  std::string log_;
  pid_t pid_ = -1;
  int in_ = -1;
};

bool on_path(const char *program)
{
  int status = 0;
  return run_command(std::string("command -v ") + program + " >/dev/null 2>&1 && echo yes", &status) == "yes\n";
}

class SipTest : public HandlerFixture {
protected:
  void SetUp() override
  {
    HandlerFixture::SetUp();
    dir_ = work_.path();
    ASSERT_TRUE(on_path("kamailio") && on_path("baresip"))
        << "kamailio and baresip are needed (tools/bootstrap.sh installs them)";
    std::string booths = dir_ + "/booths";
    FILE *f = fopen(booths.c_str(), "w");
    fputs("1001 pw-1001 GW 1\n1002 pw-1002 GW 2\n", f);
    fclose(f);
    chmod(booths.c_str(), 0600);
    mkdir((dir_ + "/run").c_str(), 0700);
    start_kamailio();
    start_bridge();
    carrier_ = agent("carrier", "127.0.0.3", "<sip:114@127.0.0.3>;regint=0;answermode=auto", 1);
  }
  void TearDown() override
  {
    booths_.clear();
    carrier_.reset();
    bridge_.reset();
    kamailio_.reset();
    HandlerFixture::TearDown();
  }

  void start_kamailio()
  {
    kamailio_ = std::make_unique<Proc>(
        std::vector<std::string>{"kamailio", "-f", KAMAILIO_CFG, "-DD", "-E", "-A", "LISTEN=udp:127.0.0.2:5060", "-A",
                                 "RUN_DIR=\"" + dir_ + "/run\"", "-A", "TRUNK_IP=\"127.0.0.3\"", "-A",
                                 "TRUNK_HOST=\"127.0.0.3:5060\"", "-A", "EVAPI_ADDR=\"127.0.0.1:8448\""},
        dir_ + "/kamailio.log");
    ASSERT_TRUE(eventually(
        [] {
          int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
          sockaddr_in a{};
          a.sin_family = AF_INET;
          a.sin_port = htons(8448);
          a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          bool up = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
          close(s);
          return up;
        },
        10000))
        << slurp(dir_ + "/kamailio.log");
  }
  void start_bridge()
  {
    size_t before = bridge_ ? bridge_->count("in step with the SIP server") : 0;
    bridge_.reset();
    bridge_ = std::make_unique<Proc>(std::vector<std::string>{SIPGW_PATH, "--booths", dir_ + "/booths", "--state",
                                                              dir_ + "/denied", "--keepalive", "500"},
                                     dir_ + "/bridge.log");
    ASSERT_TRUE(eventually([&] { return bridge_->count("in step with the SIP server") > before; }, 10000))
        << bridge_->log();
  }
  // A baresip agent on addr with one account line, in a folder of its own.
  std::unique_ptr<Proc> agent(const std::string &name, const std::string &addr, const std::string &account,
                              int max_calls = 4)
  {
    std::string d = dir_ + "/" + name;
    mkdir(d.c_str(), 0700);
    FILE *f = fopen((d + "/config").c_str(), "w");
    // no sound card: a sine source, which takes 48 kHz stereo only
    fprintf(f,
            "poll_method epoll\nsip_listen %s:5060\nnet_interface %s\ncall_max_calls %d\n"
            "audio_source ausine,440\naudio_alert ausine,440\nausrc_srate 48000\nauplay_srate 48000\n"
            "ausrc_channels 2\nauplay_channels 2\nmodule_path /usr/lib/baresip/modules\n"
            "module stdio.so\nmodule g711.so\nmodule ausine.so\nmodule_tmp account.so\nmodule_app menu.so\n",
            addr.c_str(), addr.c_str(), max_calls);
    fclose(f);
    f = fopen((d + "/accounts").c_str(), "w");
    fprintf(f, "%s\n", account.c_str());
    fclose(f);
    return std::make_unique<Proc>(std::vector<std::string>{"baresip", "-f", d}, d + ".log");
  }
  // Booth 1001 (line 1) or 1002 (line 2), registered: the station shows it.
  Proc &booth(int line)
  {
    std::string account = std::to_string(1000 + line);
    booths_.push_back(agent("booth" + account, "127.0.0." + std::to_string(9 + line),
                            "<sip:" + account + "@127.0.0.2>;auth_pass=pw-" + account + ";regint=60"));
    EXPECT_TRUE(eventually([&] { return state(line) == "IDLE"; }, 8000)) << bridge_->log();
    return *booths_.back();
  }
  struct LineView {
    int line;
    std::string state, dest;
  };
  LineView line(int n)
  {
    LineView v{n, "", ""};
    msghdlr_get_status_ex(
        h_,
        [](const char *m, int l, const char *st, const char *, const char *dn, const char *, int, void *p) {
          auto *v = static_cast<LineView *>(p);
          if (std::string(m) == "GW" && l == v->line) {
            v->state = st;
            v->dest = dn;
          }
        },
        &v);
    return v;
  }
  std::string state(int n) { return line(n).state; }
  bool command(int n, const char *text) { return msghdlr_send_command(h_, "GW", n, text) == 0; }
  // Dials 114 and waits for the station to show the call.
  void call(Proc &b, int n)
  {
    b.say("/dial 114\n");
    ASSERT_TRUE(eventually([&] { return state(n) == "CONNECTED"; }, 8000)) << b.log() << bridge_->log();
  }
  static long seconds(const Row &r) { return parse_local_time(r.edate) - parse_local_time(r.bdate); }

  std::string dir_;
  std::unique_ptr<Proc> kamailio_, bridge_, carrier_;
  std::vector<std::unique_ptr<Proc>> booths_;
};

// An answered call is one row with the booth's line, account and number and
// its length; a call the carrier refuses as busy is none.
TEST_F(SipTest, AnsweredCallIsBilledAndABusyOneIsNot)
{
  Proc &a = booth(1);
  Proc &b = booth(2);
  call(a, 1);
  long long answered = testkit::now_ms();
  b.say("/dial 114\n");  // the carrier takes one call at a time
  ASSERT_TRUE(eventually([&] { return b.logged("486"); }, 8000)) << b.log();
  EXPECT_NE("CONNECTED", state(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(3000 - (testkit::now_ms() - answered)));
  a.say("/hangup\n");
  ASSERT_TRUE(eventually([&] { return rows().size() == 1 && state(1) == "IDLE"; }, 5000)) << bridge_->log();
  Row r = rows()[0];
  EXPECT_EQ("GW", r.machineid);
  EXPECT_EQ(1, r.lineid);
  EXPECT_EQ("1001", r.orgnum);
  EXPECT_EQ("114", r.desnum);
  EXPECT_NEAR(3, seconds(r), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(1u, rows().size());
}

// "call: deny" answered FORBIDDEN: the call in progress is cut on both sides
// and stored, the booth's next call gets 403; "call: permit" lets it call
// again.
TEST_F(SipTest, DenyCutsTheCallOnBothSidesAndRefusesTheNextUntilPermitted)
{
  Proc &a = booth(1);
  call(a, 1);
  ASSERT_TRUE(command(1, "call: deny\n"));
  ASSERT_TRUE(eventually([&] { return state(1) == "FORBIDDEN" && rows().size() == 1; }, 5000)) << bridge_->log();
  EXPECT_EQ("114", rows()[0].desnum);
  EXPECT_TRUE(eventually([&] { return a.logged("session closed") && carrier_->logged("session closed"); }, 5000))
      << a.log() << carrier_->log();
  a.say("/dial 114\n");
  EXPECT_TRUE(eventually([&] { return a.logged("403 Booth closed"); }, 5000)) << a.log();
  ASSERT_TRUE(command(1, "call: permit\n"));
  ASSERT_TRUE(eventually([&] { return state(1) == "IDLE"; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a call's id holds its start second
  call(a, 1);
  a.say("/hangup\n");
  EXPECT_TRUE(eventually([&] { return rows().size() == 2; }, 5000)) << bridge_->log() << a.log();
}

// A booth with a wrong password, and an account the booths file does not
// hold with the password "0", place no call.
TEST_F(SipTest, StrangersAreRefused)
{
  auto wrong = agent("wrong", "127.0.0.20", "<sip:1001@127.0.0.2>;auth_pass=guess;regint=0");
  auto unknown = agent("unknown", "127.0.0.21", "<sip:9999@127.0.0.2>;auth_pass=0;regint=0");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  wrong->say("/dial 114\n");
  unknown->say("/dial 114\n");
  EXPECT_TRUE(eventually([&] { return unknown->logged("403 Unknown account"); }, 5000)) << unknown->log();
  EXPECT_TRUE(eventually([&] { return wrong->logged("session closed"); }, 5000)) << wrong->log();
  EXPECT_FALSE(wrong->logged("Call established"));
  EXPECT_EQ(0u, carrier_->count("Call established"));
  EXPECT_TRUE(bridge_->logged("alarm: the SIP server refused account 9999"));
  EXPECT_TRUE(rows().empty());
}

// Kamailio keeps its deny table in memory: restarted, it gets the bridge's
// list again. A call Kamailio's restart cut is stored. Without a bridge no
// call is placed (503).
TEST_F(SipTest, KamailioRestartEndsItsCallsAndKeepsDeniedBoothsDenied)
{
  Proc &a = booth(1);
  Proc &b = booth(2);
  call(a, 1);
  ASSERT_TRUE(command(2, "call: deny\n"));
  ASSERT_TRUE(eventually([&] { return state(2) == "FORBIDDEN"; }, 5000));
  kamailio_->stop();
  EXPECT_TRUE(eventually([&] { return rows().size() == 1 && state(1) == "IDLE"; }, 5000)) << bridge_->log();
  size_t connected = bridge_->count("in step with the SIP server");
  start_kamailio();
  ASSERT_TRUE(eventually([&] { return bridge_->count("in step with the SIP server") > connected; }, 10000))
      << bridge_->log();
  b.say("/dial 114\n");
  EXPECT_TRUE(eventually([&] { return b.logged("403 Booth closed"); }, 5000)) << b.log();
  bridge_->stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  a.say("/dial 114\n");
  EXPECT_TRUE(eventually([&] { return a.logged("503 Billing not ready"); }, 5000)) << a.log();
  EXPECT_EQ(1u, rows().size());
}

// The bridge stopped mid-call and started again takes the call back from
// Kamailio: one row, as long as the whole call.
TEST_F(SipTest, BridgeRestartedMidCallBillsTheCallOnce)
{
  Proc &a = booth(1);
  call(a, 1);
  long long answered = testkit::now_ms();
  bridge_->stop();
  start_bridge();
  EXPECT_TRUE(bridge_->logged("taken back from the SIP server")) << bridge_->log();
  EXPECT_EQ("CONNECTED", state(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(4000 - (testkit::now_ms() - answered)));
  a.say("/hangup\n");
  ASSERT_TRUE(eventually([&] { return rows().size() == 1 && state(1) == "IDLE"; }, 5000)) << bridge_->log();
  EXPECT_NEAR(4, seconds(rows()[0]), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(1u, rows().size());
}

// A booths file the bridge cannot use stops it at the start, naming the file
// and line; a file others may read starts it with a warning.
TEST(SipgwBooths, UnusableFilesAreRefusedNamingTheLine)
{
  WorkDir work;
  struct Case {
    const char *text, *says;
  } cases[] = {
      {"1001 pw GW\n", "booths:1: expected ACCOUNT PASSWORD MACHINE LINE"},
      {"# booths\n\n1001 pw GW 1 extra\n", "booths:3: expected"},
      {"1001 pw GW 10000000\n", "booths:1: the line is a number"},
      {"1001 pw GW x\n", "booths:1: the line is a number"},
      {"sip:1001 pw GW 1\n", "booths:1: an account is"},
      {"1001 pw\"x GW 1\n", "booths:1: a password is"},
      {"1001 pw GW 1\n1001 pw2 GW 2\n", "booths:2: account 1001 is listed twice"},
      {"1001 pw GW 1\n1002 pw2 GW 1\n", "booths:2: line GW/1 is given twice"},
      {"# none\n", "no booth listed"},
  };
  for (const Case &c : cases) {
    FILE *f = fopen("booths", "w");
    fputs(c.text, f);
    fclose(f);
    chmod("booths", 0600);
    int status = 0;
    std::string out = run_command(std::string(SIPGW_PATH) + " --booths booths 2>&1", &status);
    EXPECT_EQ(1, status) << c.text;
    EXPECT_NE(std::string::npos, out.find(c.says)) << c.text << out;
  }
  int status = 0;
  std::string out = run_command(std::string(SIPGW_PATH) + " --booths missing 2>&1", &status);
  EXPECT_EQ(1, status);
  EXPECT_NE(std::string::npos, out.find("missing: No such file")) << out;
  EXPECT_EQ(2, (run_command(std::string(SIPGW_PATH) + " --keepalive 20000 --booths booths 2>&1", &status), status));
}

}  // namespace
