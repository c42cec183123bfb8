// The timer queue: due order, re-arming and repeat counts, restarts, absolute
// due times, callbacks that stop, restart or destroy their own timer, the wait
// the sweep reports, the time arithmetic and the queue dump.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "utils/debug.h"
#include "utils/timer.h"
#include "testkit.h"

namespace {

using utils::timer;

struct Probe {
  std::vector<int> *log;
  int id;
  std::function<void()> then;  // runs inside the callback
};

void record(void *ctxt)
{
  auto *p = static_cast<Probe *>(ctxt);
  p->log->push_back(p->id);
  if (p->then)
    p->then();
}

/* Sweeps, sleeping as the sweep says, until `done` holds or `ms` have passed. */
void sweep_until(const std::function<bool()> &done, int ms)
{
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < end) {
    int wait = utils::timer_check_timeout();
    if (!done() && wait > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 5)));
  }
}

class TimerTest : public ::testing::Test {
protected:
  timer *make(unsigned interval, int id, std::function<void()> then = {})
  {
    probes.push_back(new Probe{&fired, id, std::move(then)});
    timer *t = utils::create_timer(interval, probes.back(), record);
    timers.push_back(t);
    return t;
  }
  void TearDown() override
  {
    for (timer *t : timers)
      utils::destroy_timer(t);
    for (Probe *p : probes)
      delete p;
    // Nothing of this test stays queued for the next one.
    EXPECT_EQ(-1, utils::timer_check_timeout());
  }
  std::vector<int> fired;
  std::vector<timer *> timers;
  std::vector<Probe *> probes;
};

TEST_F(TimerTest, DueOrderThenStartOrder)
{
  timer *late = make(30, 3);
  timer *a = make(10, 1);
  timer *b = make(10, 2);
  utils::start_timer(late, 1);
  utils::start_timer(a, 1);
  utils::start_timer(b, 1);
  sweep_until([&] { return fired.size() == 3; }, 1000);
  EXPECT_EQ((std::vector<int>{1, 2, 3}), fired);

  fired.clear();
  for (int i = 0; i < 5; i++)
    utils::start_timer(make(0, 10 + i), 1);
  utils::timer_check_timeout();
  EXPECT_EQ((std::vector<int>{10, 11, 12, 13, 14}), fired);
}

TEST_F(TimerTest, NothingQueuedMeansBlock)
{
  EXPECT_EQ(-1, utils::timer_check_timeout());
  timer *t = make(500, 1);
  utils::start_timer(t, 1);
  int wait = utils::timer_check_timeout();
  EXPECT_GT(wait, 400);
  EXPECT_LE(wait, 500);
  EXPECT_EQ(0, utils::stop_timer(t));
  EXPECT_EQ(-1, utils::stop_timer(t));
  EXPECT_EQ(-1, utils::timer_check_timeout());
}

TEST_F(TimerTest, RepeatCountFiresThatOftenAtTheInterval)
{
  std::vector<std::chrono::steady_clock::time_point> at;
  timer *t = make(20, 1, [&] { at.push_back(std::chrono::steady_clock::now()); });
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, utils::start_timer(t, 3));
  sweep_until([&] { return fired.size() == 3; }, 2000);
  ASSERT_EQ(3u, fired.size());
  auto prev = start;
  for (auto when : at) {
    EXPECT_GE(when - prev, std::chrono::milliseconds(19));
    prev = when;
  }
  EXPECT_EQ(-1, utils::timer_check_timeout());  // retired after the third
  EXPECT_EQ(-1, utils::stop_timer(t));
}

TEST_F(TimerTest, ZeroIntervalRestartedFromItsCallbackFiresOncePerSweep)
{
  timer *t = nullptr;
  t = make(0, 1, [&] { utils::start_timer(t, 1); });
  utils::start_timer(t, 1);
  for (int sweep = 1; sweep <= 3; sweep++) {
    EXPECT_EQ(0, utils::timer_check_timeout());  // queued again, due at once
    EXPECT_EQ((size_t)sweep, fired.size());
  }
  // An endless zero-interval timer also fires once per sweep.
  timer *endless = make(0, 2);
  utils::stop_timer(t);
  utils::start_timer(endless, -1);
  fired.clear();
  utils::timer_check_timeout();
  utils::timer_check_timeout();
  EXPECT_EQ((std::vector<int>{2, 2}), fired);
  // the far end of the endless counts is not counted down into an overflow
  utils::start_timer(endless, INT_MIN + 1);
  utils::timer_check_timeout();
  utils::timer_check_timeout();
  EXPECT_EQ(4u, fired.size());
  EXPECT_EQ(0, utils::stop_timer(endless));
}

TEST_F(TimerTest, OneShotRestartingItselfKeepsGoing)
{
  timer *t = nullptr;
  t = make(5, 1, [&] {
    if (fired.size() < 4)
      utils::start_timer(t, 1);
  });
  utils::start_timer(t, 1);
  sweep_until([&] { return fired.size() == 4; }, 1000);
  EXPECT_EQ(4u, fired.size());
  EXPECT_EQ(-1, utils::stop_timer(t));
}

TEST_F(TimerTest, RestartReplacesTheQueuedFiring)
{
  timer *t = make(10, 1);
  utils::start_timer(t, 1);
  utils::start_timer(t, 1);
  utils::start_timer(t, 2);  // the last start wins: two firings
  sweep_until([&] { return fired.size() >= 2; }, 1000);
  usleep(30 * 1000);
  utils::timer_check_timeout();
  EXPECT_EQ(2u, fired.size());
}

TEST_F(TimerTest, AbsoluteDueTimes)
{
  timer *past = make(1000, 1);
  timer *future = make(0, 2);
  utils::timeval now, then;
  utils::timer_now(&now);
  then = now;
  then.tv_sec -= 5;
  ASSERT_EQ(0, utils::set_timeout(past, &then));
  then = now;
  then.tv_sec += 60;
  ASSERT_EQ(0, utils::set_timeout(future, &then));
  int wait = utils::timer_check_timeout();
  EXPECT_EQ((std::vector<int>{1}), fired);
  EXPECT_GT(wait, 59000);
  EXPECT_EQ(0, utils::stop_timer(future));
}

TEST_F(TimerTest, CallbackMayStopOrDestroyItsOwnRepeatingTimer)
{
  timer *stops = nullptr;
  stops = make(0, 1, [&] { utils::stop_timer(stops); });
  utils::start_timer(stops, -1);
  utils::timer_check_timeout();
  EXPECT_EQ(-1, utils::stop_timer(stops));  // the re-armed entry went too

  timer *gone = utils::create_timer(0, nullptr, nullptr);
  struct Ctx {
    timer *t;
    int calls;
  } ctx = {gone, 0};
  gone->ctxt = &ctx;
  gone->call_back = [](void *c) {
    auto *x = static_cast<Ctx *>(c);
    x->calls++;
    utils::destroy_timer(x->t);
  };
  utils::start_timer(gone, -1);
  utils::timer_check_timeout();
  utils::timer_check_timeout();
  EXPECT_EQ(1, ctx.calls);
  EXPECT_EQ((std::vector<int>{1}), fired);
}

TEST_F(TimerTest, TimerStartedInASweepWaitsForTheNext)
{
  timer *second = make(0, 2);
  timer *first = make(0, 1, [&] { utils::start_timer(second, 1); });
  utils::start_timer(first, 1);
  EXPECT_EQ(0, utils::timer_check_timeout());
  EXPECT_EQ((std::vector<int>{1}), fired);
  EXPECT_EQ(-1, utils::timer_check_timeout());
  EXPECT_EQ((std::vector<int>{1, 2}), fired);
}

TEST(TimeArithmetic, CompareTruncatesAndSubtractBorrows)
{
  utils::timeval a = {10, 500000}, b = {9, 999999};
  EXPECT_EQ(501, utils::tvcmp(&a, &b));  // 1000 + (-499999 / 1000)
  EXPECT_EQ(-501, utils::tvcmp(&b, &a));
  utils::timeval c = {10, 500900};
  EXPECT_EQ(0, utils::tvcmp(&c, &a));  // same millisecond
  utils::timeval d = {10, 499100}, e = {10, 498900};
  EXPECT_EQ(0, utils::tvcmp(&d, &a));  // -0.9 ms truncates toward zero
  EXPECT_EQ(-1, utils::tvcmp(&e, &a));
  utils::timeval r;
  utils::tvsub(&a, &b, &r);
  EXPECT_EQ(0, r.tv_sec);
  EXPECT_EQ(500001, r.tv_usec);
  utils::tvsub(&b, &a, &r);
  EXPECT_EQ(-1, r.tv_sec);
  EXPECT_EQ(499999, r.tv_usec);
  // Far-apart times saturate instead of wrapping around.
  utils::timeval far = {2000000000, 0}, near = {0, 0};
  EXPECT_GT(utils::tvcmp(&far, &near), 0);
  EXPECT_LT(utils::tvcmp(&near, &far), 0);
}

TEST(TimerDump, ListsQueuedTimers)
{
  testkit::TempDir dir("timerdump");
  const std::string path = dir.file("app.log");
  int saved = utils::logfd;
  ASSERT_EQ(0, utils::set_log_file(path.c_str()));
  timer *a = utils::create_timer(1000, nullptr, [](void *) {});
  timer *b = utils::create_timer(250, nullptr, [](void *) {});
  b->call_back_name = "age_lines";
  utils::start_timer(a, 1);
  utils::start_timer(b, 1);
  utils::dump_timers("now");
  utils::destroy_timer(a);
  utils::destroy_timer(b);
  close(utils::logfd);
  utils::logfd = saved;
  utils::set_log_rotation(nullptr, 0);
  EXPECT_EQ("\ndump_timers(): now\n\t250:age_lines()\n\t1000:()\n\n", testkit::slurp(path));
}

}  // namespace
