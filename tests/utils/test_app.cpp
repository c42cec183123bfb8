// The event loop: the registry (slots, growth, holes, compaction), dispatch
// masks and changes made by callbacks during dispatch, the wait, real loops
// on UDP sockets of 127.0.0.1 with timers and tasks, quitting, start-up and
// the option lookup.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "utils/app.h"
#include "utils/debug.h"
#include "utils/net.h"
#include "utils/scheduler.h"
#include "utils/timer.h"
#include "testkit.h"

namespace {

struct Seen {
  int ctxt_id;
  int events;
  int sock;
};
std::vector<Seen> seen;

void note(void *ctxt, int events, int sock)
{
  seen.push_back({*static_cast<int *>(ctxt), events, sock});
}

void note_too(void *ctxt, int events, int sock)
{
  note(ctxt, events, sock);
}

using testkit::slurp;

/* A UDP socket on 127.0.0.1 with a port of its own. */
int udp_socket(sockaddr_in *where)
{
  sockaddr_in a;
  utils::parse_ipv4_addr("127.0.0.1", &a);
  int s = utils::udp_bind(0, reinterpret_cast<sockaddr *>(&a), sizeof a);
  if (where)
    *where = a;
  return s;
}

void send_to(const sockaddr_in &to, const char *text)
{
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sendto(s, text, strlen(text), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
  close(s);
}

/* Every test leaves the process-wide registry empty. */
class LoopTest : public ::testing::Test {
protected:
  void SetUp() override { seen.clear(); }
  void TearDown() override
  {
    for (int i = 0; i < utils::pfd_count; i++)
      if (utils::pfd_list[i].fd >= 0)
        utils::unregister_sock(utils::pfd_list[i].fd, utils::pfd_call_backs[i].ctxt,
                               utils::pfd_call_backs[i].call_back);
    utils::pfd_defragment();
    for (int s : socks)
      close(s);
    EXPECT_EQ(0, utils::pfd_count);
    EXPECT_EQ(-1, utils::timer_check_timeout());
  }
  int sock(sockaddr_in *where = nullptr)
  {
    int s = udp_socket(where);
    socks.push_back(s);
    return s;
  }
  std::vector<int> socks;
  int one = 1, two = 2, three = 3;
};

TEST_F(LoopTest, RegistrationSlotsAndGrowth)
{
  EXPECT_EQ(1, register_sock(500, POLLIN, &one, note));
  EXPECT_EQ(0, register_sock(500, POLLIN | POLLOUT, &one, note));  // same triple
  EXPECT_EQ(1, utils::pfd_count);
  EXPECT_EQ(POLLIN | POLLOUT, utils::pfd_list[0].events);
  EXPECT_STREQ("note", utils::pfd_call_backs[0].call_back_name);
  EXPECT_EQ(2, register_sock(500, POLLIN, &two, note));      // other context
  EXPECT_EQ(3, register_sock(500, POLLIN, &one, note_too));  // other callback
  EXPECT_EQ(16, utils::pfd_size);
  for (int i = 4; i <= 16; i++)
    EXPECT_EQ(i, register_sock(500 + i, POLLIN, &one, note));
  EXPECT_EQ(16, utils::pfd_size);
  EXPECT_EQ(17, register_sock(600, POLLIN, &one, note));
  EXPECT_EQ(32, utils::pfd_size);
  EXPECT_EQ(2, utils::find_registered_sock(500, &one, note_too));
  EXPECT_EQ(-1, utils::find_registered_sock(500, &three, note));
  EXPECT_EQ(-1, register_sock(-1, POLLIN, &one, note));
}

TEST_F(LoopTest, UnregisterLeavesHolesThatCompactionRemovesInOrder)
{
  for (int i = 0; i < 5; i++)
    register_sock(700 + i, POLLIN, &one, note);
  register_sock(700, POLLIN, &two, note);
  utils::unregister_sock(701, &one, note);
  utils::unregister_sock(701, &one, note);  // already a hole: nothing more
  utils::unregister_sock(799, &one, note);  // unknown: nothing
  utils::unregister_object(&two);
  EXPECT_EQ(6, utils::pfd_count);
  EXPECT_EQ(-1, utils::pfd_list[1].fd);
  EXPECT_EQ(2, utils::pfd_defrag);
  utils::pfd_defragment();
  EXPECT_EQ(0, utils::pfd_defrag);
  ASSERT_EQ(4, utils::pfd_count);
  int expect[] = {700, 702, 703, 704};
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(expect[i], utils::pfd_list[i].fd);
  // A triple can come back after its hole.
  EXPECT_EQ(5, register_sock(701, POLLIN, &one, note));
}

TEST_F(LoopTest, DispatchMasks)
{
  register_sock(800, POLLIN, &one, note);
  register_sock(801, POLLIN, &two, note);
  register_sock(802, POLLIN, &three, note);
  register_sock(803, POLLIN, &one, note);
  utils::pfd_list[0].revents = POLLHUP;
  utils::pfd_list[1].revents = POLLPRI;
  utils::pfd_list[2].revents = POLLIN | POLLOUT | POLLERR;
  utils::pfd_list[3].revents = POLLNVAL;
  utils::dispatch_sock_events(3);  // the fourth is beyond the count
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(SOCKERR, seen[0].events);
  EXPECT_EQ(800, seen[0].sock);
  EXPECT_EQ(SOCKIN, seen[1].events);
  EXPECT_EQ(2, seen[1].ctxt_id);
  EXPECT_EQ(SOCKIN | SOCKOUT | SOCKERR, seen[2].events);
  EXPECT_EQ(0, utils::pfd_list[0].revents);
  EXPECT_EQ(POLLNVAL, utils::pfd_list[3].revents);
}

struct Remover {
  int victim;
  int *victim_ctxt;
  int added;
};
Remover remover;

void remove_later_and_add(void *ctxt, int events, int sock)
{
  note(ctxt, events, sock);
  utils::unregister_sock(remover.victim, remover.victim_ctxt, note);
  remover.added = register_sock(900, POLLIN, ctxt, note);
}

TEST_F(LoopTest, CallbackChangesDuringDispatch)
{
  // The first callback removes the third slot, which has events waiting, and
  // registers a new socket; neither is dispatched in this pass, and the two
  // other slots keep their order through compaction.
  register_sock(901, POLLIN, &one, remove_later_and_add);
  register_sock(902, POLLIN, &two, note);
  register_sock(903, POLLIN, &three, note);
  register_sock(904, POLLIN, &one, note);
  remover = {903, &three, 0};
  for (int i = 0; i < 4; i++)
    utils::pfd_list[i].revents = POLLIN;
  utils::dispatch_sock_events(4);
  ASSERT_EQ(3u, seen.size());
  EXPECT_EQ(901, seen[0].sock);
  EXPECT_EQ(902, seen[1].sock);
  EXPECT_EQ(904, seen[2].sock);
  EXPECT_EQ(5, remover.added);
  utils::pfd_defragment();
  ASSERT_EQ(4, utils::pfd_count);
  int expect[] = {901, 902, 904, 900};
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(expect[i], utils::pfd_list[i].fd);
}

struct Receiver {
  int datagrams = 0;
  int quit_code = 0;
  std::string last;
};

void receive(void *ctxt, int events, int sock)
{
  auto *r = static_cast<Receiver *>(ctxt);
  if (!(events & SOCKIN))
    return;
  char buf[64];
  ssize_t n = recv(sock, buf, sizeof buf, 0);
  if (n <= 0)
    return;
  r->last.assign(buf, (size_t)n);
  if (++r->datagrams == 2)
    utils::app_quit(r->quit_code);
}

TEST_F(LoopTest, RealLoopReadsDatagramsAndQuitsWithTheCode)
{
  sockaddr_in where;
  int s = sock(&where);
  ASSERT_GE(s, 0);
  Receiver r;
  r.quit_code = 65536 + 7;
  register_sock(s, SOCKIN, &r, receive);
  // Datagrams come from a timer of the same loop, 20 ms apart.
  struct Sender {
    sockaddr_in to;
    utils::timer *t;
  } sender = {where, nullptr};
  sender.t = utils::create_timer(20, &sender, [](void *c) { send_to(static_cast<Sender *>(c)->to, "hello"); });
  utils::start_timer(sender.t, 2);
  EXPECT_EQ(7, utils::app_run());
  EXPECT_EQ(2, r.datagrams);
  EXPECT_EQ("hello", r.last);
  EXPECT_EQ(0, utils::quit_flag);  // ready to run again
  utils::destroy_timer(sender.t);

  // And it does run again; code 0 still ends it.
  r.datagrams = 0;
  r.quit_code = 0;
  send_to(where, "a");
  send_to(where, "b");
  EXPECT_EQ(0, utils::app_run());
  EXPECT_EQ("b", r.last);
}

TEST_F(LoopTest, WithoutSocketsTheLoopSleepsUntilTheTimer)
{
  utils::timer *t = utils::create_timer(150, nullptr, [](void *) { utils::app_quit(3); });
  utils::start_timer(t, 1);
  clock_t cpu = clock();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(3, utils::app_run());
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(140));
  // Without a timer or socket left, a wait after the quit would never end.
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_LT((double)(clock() - cpu) / CLOCKS_PER_SEC, 0.1);  // slept, did not spin
  utils::destroy_timer(t);
}

int task_runs, late_runs;

void count_task(void *)
{
  task_runs++;
}

void queue_task_and_quit(void *, int, int fd)
{
  char b[8];
  (void)recv(fd, b, sizeof b, 0);
  utils::schedule_task(&task_runs, count_task, PIOR_MID);
  utils::app_quit(9);
}

TEST_F(LoopTest, QuitFromACallbackStillRunsDueTasksButNotLaterTimers)
{
  sockaddr_in where;
  int s = sock(&where);
  task_runs = late_runs = 0;
  utils::timer *late = utils::create_timer(60000, nullptr, [](void *) { late_runs++; });
  utils::start_timer(late, 1);
  register_sock(s, SOCKIN, &one, queue_task_and_quit);
  send_to(where, "x");
  EXPECT_EQ(9, utils::app_run());
  EXPECT_EQ(1, task_runs);
  EXPECT_EQ(0, late_runs);
  utils::destroy_timer(late);
}

TEST_F(LoopTest, QuitFromAnotherThreadEndsTheLoopAtItsNextWakeUp)
{
  utils::timer *tick = utils::create_timer(10, nullptr, [](void *) {});
  utils::start_timer(tick, -1);
  std::thread other([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    utils::app_quit(4);
  });
  EXPECT_EQ(4, utils::app_run());
  other.join();
  utils::destroy_timer(tick);
}

TEST_F(LoopTest, MoreThanSixtyFourSocketsAreAllWatched)
{
  std::vector<sockaddr_in> addrs(70);
  Receiver r;
  for (auto &a : addrs) {
    int s = sock(&a);
    ASSERT_GE(s, 0);
    register_sock(s, SOCKIN, &r, receive);
  }
  r.quit_code = 1;
  send_to(addrs[69], "last");
  send_to(addrs[65], "late");
  EXPECT_EQ(1, utils::app_run());
  EXPECT_EQ(2, r.datagrams);
}

TEST_F(LoopTest, OnePassForEmbedding)
{
  sockaddr_in where;
  int s = sock(&where);
  Receiver r;
  register_sock(s, SOCKIN, &r, receive);
  static int fired;
  fired = 0;
  utils::timer *t = utils::create_timer(0, nullptr, [](void *) { fired++; });
  utils::start_timer(t, 1);
  send_to(where, "one");
  usleep(10 * 1000);
  auto start = std::chrono::steady_clock::now();
  utils::_app_schedule();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(1, r.datagrams);
  EXPECT_EQ(1, fired);
  utils::_app_schedule();  // nothing pending: returns at once
  EXPECT_EQ(1, r.datagrams);
  utils::destroy_timer(t);
}

TEST(Wait, InterruptedPollWaitsOutItsTimeout)
{
  struct sigaction sa = {};
  sa.sa_handler = [](int) {};
  sigaction(SIGALRM, &sa, nullptr);  // no SA_RESTART: poll sees EINTR
  itimerval every = {{0, 20000}, {0, 20000}};
  setitimer(ITIMER_REAL, &every, nullptr);
  auto start = std::chrono::steady_clock::now();
  int n = utils::poll(nullptr, 0, 120);
  auto elapsed = std::chrono::steady_clock::now() - start;
  itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  EXPECT_EQ(0, n);
  EXPECT_GE(elapsed, std::chrono::milliseconds(115));
}

class OptionTest : public ::testing::Test {
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
    unsetenv("QU_TEST_OPT");
  }
  int with(const char *value)
  {
    setenv("QU_TEST_OPT", value, 1);
    return utils::app_opt_isset("QU_TEST_OPT");
  }
  testkit::TempDir dir_{"opttest"};
  int saved_ = 2;
};

TEST_F(OptionTest, ValuesThatCountAsSet)
{
  EXPECT_EQ(1, with("TRUE"));
  EXPECT_EQ(1, with("true"));
  EXPECT_EQ(1, with("1"));
  EXPECT_EQ(1, with("0x10"));
  EXPECT_EQ(1, with("010"));
  EXPECT_EQ(0, with("false"));
  EXPECT_EQ(0, with("0"));
  EXPECT_EQ(0, with("abc"));
  EXPECT_EQ(0, with(""));
  unsetenv("QU_TEST_OPT");
  EXPECT_EQ(nullptr, utils::app_getopt("QU_TEST_OPT"));
  EXPECT_EQ(0, utils::app_opt_isset("QU_TEST_OPT"));
  std::string log = slurp(dir_.file("app.log"));
  EXPECT_EQ(0u, log.find("app_opt_isset(): QU_TEST_OPT is set\n"));
  EXPECT_NE(std::string::npos, log.find("\napp_opt_isset(): QU_TEST_OPT not set\n"));
}

TEST(Startup, OpensAppLogInTheWorkingDirectoryOnce)
{
  testkit::TempDir work("appinit", true);
  const std::string &dir = work.path();
  {
    std::ofstream stale("app.log");
    stale << "from the last run\n";
  }
  mode_t mask = umask(022);
  int saved = utils::logfd;
  EXPECT_EQ(0, utils::app_init(0, nullptr, "msghdlr"));
  umask(mask);
  ASSERT_NE(saved, utils::logfd);
  EXPECT_TRUE(fcntl(utils::logfd, F_GETFD) & FD_CLOEXEC);
  EXPECT_EQ((size_t)LOG_ROTATE_DEFAULT, utils::log_rotation_limit());
  DLOG("started");
  int fd = utils::logfd;
  // A later start keeps the log as it is.
  EXPECT_EQ(0, utils::app_init(0, nullptr, "msghdlr"));
  EXPECT_EQ(fd, utils::logfd);
  std::string log = slurp(dir + "/app.log");
  EXPECT_EQ(std::string::npos, log.find("last run"));
  EXPECT_NE(std::string::npos, log.find(": started\n"));
  struct stat st;
  ASSERT_EQ(0, stat((dir + "/app.log").c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777);
  close(utils::logfd);
  utils::logfd = saved;
  utils::set_log_rotation(nullptr, 0);
}

}  // namespace
