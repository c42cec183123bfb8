// The task scheduler: priority order, one entry per (context, task), tasks
// queued by tasks, cancelling (also from a running task), and the timer going
// idle once the queue is empty.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/scheduler.h"
#include "utils/timer.h"

namespace {

std::vector<std::string> ran;

struct Job {
  std::string name;
};

void run_job(void *ctxt)
{
  ran.push_back(static_cast<Job *>(ctxt)->name);
}

void other_task(void *ctxt)
{
  ran.push_back(static_cast<Job *>(ctxt)->name + "*");
}

class SchedulerTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ran.clear();
    utils::scheduler_init(&s);
  }
  void TearDown() override
  {
    utils::scheduler_release(&s);
    EXPECT_EQ(-1, utils::timer_check_timeout());
  }
  utils::scheduler s;
};

TEST_F(SchedulerTest, RunsByPriorityThenQueueOrder)
{
  Job a{"a"}, b{"b"}, c{"c"}, d{"d"};
  utils::scheduler_add_task(&s, &a, run_job, PIOR_MID);
  utils::scheduler_add_task(&s, &b, run_job, PIOR_URG);
  utils::scheduler_add_task(&s, &c, run_job, PIOR_MID);
  utils::scheduler_add_task(&s, &d, run_job, PIOR_LOW);
  EXPECT_TRUE(ran.empty());  // nothing runs before the sweep
  EXPECT_EQ(-1, utils::timer_check_timeout());
  EXPECT_EQ((std::vector<std::string>{"b", "a", "c", "d"}), ran);
}

TEST_F(SchedulerTest, QueuingAPairAgainMovesIt)
{
  Job a{"a"}, b{"b"};
  utils::scheduler_add_task(&s, &a, run_job, PIOR_MID);
  utils::scheduler_add_task(&s, &b, run_job, PIOR_MID);
  utils::scheduler_add_task(&s, &a, other_task, PIOR_MID);  // another pair
  utils::scheduler_add_task(&s, &a, run_job, PIOR_MID);
  utils::timer_check_timeout();
  EXPECT_EQ((std::vector<std::string>{"b", "a*", "a"}), ran);
}

struct Self {
  utils::scheduler *s;
  int runs;
};

/* Queues itself again, twice. */
void self_task(void *c)
{
  auto *x = static_cast<Self *>(c);
  if (++x->runs < 3)
    utils::scheduler_add_task(x->s, x, self_task, PIOR_HIGH);
}

TEST_F(SchedulerTest, TaskQueuingItselfRunsOncePerSweep)
{
  Self self = {&s, 0};
  utils::scheduler_add_task(&s, &self, self_task, PIOR_HIGH);
  EXPECT_EQ(0, utils::timer_check_timeout());  // more to run: no blocking
  EXPECT_EQ(1, self.runs);
  EXPECT_EQ(0, utils::timer_check_timeout());
  EXPECT_EQ(2, self.runs);
  EXPECT_EQ(-1, utils::timer_check_timeout());  // the last run leaves it idle
  EXPECT_EQ(3, self.runs);
  EXPECT_EQ(-1, utils::timer_check_timeout());
  EXPECT_EQ(3, self.runs);
}

TEST_F(SchedulerTest, CancelOneOrAllOfAContext)
{
  Job a{"a"}, b{"b"};
  utils::scheduler_add_task(&s, &a, run_job, 1);
  utils::scheduler_add_task(&s, &a, other_task, 2);
  utils::scheduler_add_task(&s, &b, run_job, 3);
  utils::scheduler_add_task(&s, &b, other_task, 4);
  EXPECT_EQ(0, utils::scheduler_delete_task(&s, &b, other_task));
  EXPECT_EQ(-1, utils::scheduler_delete_task(&s, &b, other_task));
  utils::scheduler_delete_all(&s, &a);
  utils::timer_check_timeout();
  EXPECT_EQ((std::vector<std::string>{"b"}), ran);
}

TEST_F(SchedulerTest, TaskCancellingALaterTaskOfTheSameRun)
{
  // A task that releases an object cancels that object's tasks; those queued
  // behind it in the same run must not be called with the dead object.
  struct Killer {
    utils::scheduler *s;
    Job *victim;
  };
  Job victim{"victim"}, after{"after"};
  Killer k = {&s, &victim};
  utils::scheduler_add_task(
      &s, &k,
      [](void *c) {
        auto *x = static_cast<Killer *>(c);
        ran.push_back("killer");
        utils::scheduler_delete_all(x->s, x->victim);
      },
      PIOR_URG);
  utils::scheduler_add_task(&s, &victim, run_job, PIOR_MID);
  utils::scheduler_add_task(&s, &victim, other_task, PIOR_MID);
  utils::scheduler_add_task(&s, &after, run_job, PIOR_LOW);
  utils::timer_check_timeout();
  EXPECT_EQ((std::vector<std::string>{"killer", "after"}), ran);
}

TEST_F(SchedulerTest, ReleaseDropsQueuedTasksAndTheTimer)
{
  Job a{"a"};
  utils::scheduler_add_task(&s, &a, run_job, 0);
  ASSERT_NE(nullptr, s.timer);
  EXPECT_EQ(0u, s.timer->interval);
  utils::scheduler_release(&s);
  EXPECT_EQ(nullptr, s.timer);
  EXPECT_EQ(nullptr, s.entries);
  EXPECT_EQ(-1, utils::timer_check_timeout());
  EXPECT_TRUE(ran.empty());
}

TEST(AppThreadScheduler, ShortHandCallsUseTheLoopInstance)
{
  ran.clear();
  Job a{"a"}, b{"b"};
  ASSERT_EQ(0, utils::schedule_task(&a, run_job, PIOR_LOW));
  ASSERT_EQ(0, SCHEDULE(&b, run_job, PIOR_URG));
  ASSERT_EQ(0, utils::schedule_task(&b, other_task, PIOR_HIGH));
  EXPECT_EQ(0, utils::cancel_task(&a, run_job));
  utils::cancel_all_task(&b, run_job);  // the task argument does not matter
  ASSERT_EQ(0, utils::schedule_task(&a, other_task, PIOR_MID));
  CANCEL_ALL_SCHEDULE(&b);
  utils::timer_check_timeout();
  EXPECT_EQ((std::vector<std::string>{"a*"}), ran);
  EXPECT_EQ(-1, utils::timer_check_timeout());
}

}  // namespace
