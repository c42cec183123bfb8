// Log batches: a thread's lines wait for the end of its batch and then arrive
// whole and in order; a full batch goes out by itself; other threads are not
// held back; errno survives; a fatal path writes the batch before it aborts.
#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "utils/datalist.h"
#include "utils/debug.h"
#include "utils/memdebug.h"
#include "utils/utils.h"
#include "testkit.h"

namespace {

class LogBatchTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    saved_fd_ = utils::logfd;
    ASSERT_EQ(0, utils::set_log_file(dir_.file("app.log").c_str()));
  }
  void TearDown() override
  {
    utils::log_batch_end();
    close(utils::logfd);
    utils::logfd = saved_fd_;
  }
  std::string log() { return testkit::slurp(dir_.file("app.log")); }
  testkit::TempDir dir_{"logbatch"};
  int saved_fd_ = 2;
};

TEST_F(LogBatchTest, LinesWaitForTheEndOfTheBatchAndKeepTheirOrder)
{
  DPRINT("before\n");
  utils::log_batch_begin();
  DPRINT("one\n");
  DLOG("two %d", 2);
  CHECKPOINT();
  EXPECT_EQ("before\n", log());
  errno = EAGAIN;
  utils::log_batch_end();
  EXPECT_EQ(EAGAIN, errno);
  std::string text = log();
  EXPECT_EQ(0u, text.find("before\none\n  TestBody(): "));
  EXPECT_LT(text.find("two 2\n"), text.find("  CHECKPOINT: "));
  DPRINT("after\n");
  EXPECT_EQ("after\n", log().substr(log().size() - 6)) << "no batch is open any more";
}

TEST_F(LogBatchTest, AFullBatchIsWrittenAtOnceAndFlushWritesTheRest)
{
  utils::log_batch_begin();
  std::string line(99, 'x');
  size_t lines = LOG_BATCH_LIMIT / 100 + 1;
  for (size_t i = 0; i < lines; i++)
    DPRINT("%s\n", line.c_str());
  EXPECT_EQ(lines * 100, log().size());
  DPRINT("tail\n");
  EXPECT_EQ(lines * 100, log().size());
  utils::flush_log_msg();
  EXPECT_EQ(lines * 100 + 5, log().size());
}

TEST_F(LogBatchTest, OtherThreadsAreNotHeldBack)
{
  utils::log_batch_begin();
  DPRINT("mine\n");
  std::thread([] { DPRINT("theirs\n"); }).join();
  EXPECT_EQ("theirs\n", log());
  utils::log_batch_end();
  EXPECT_EQ("theirs\nmine\n", log());
}

TEST_F(LogBatchTest, AFatalPathWritesTheBatchAndItsLineBeforeItAborts)
{
  utils::memblk *pool = nullptr;
  utils::datalist zero = {};
  const std::vector<std::pair<std::function<void()>, std::string>> fatal = {
      {[&] { utils::memblk_alloc(&pool, 65532); }, "exceeds the maximun limit(65528): 65532\n"},
      {[&] { utils::datalist_append(&zero, &pool); }, "alloc_datalist_iterator(): datalist not initialized!\n"},
      {[] {
         static_cast<char *>(MEMDEBUG_ALLOC(5))[5] = 0;
         MEMDEBUG_ALLOC(1);
       },
       ""},  // reported on stderr
  };
  for (const auto &[path, line] : fatal) {
    ASSERT_EQ(0, ftruncate(utils::logfd, 0));
    EXPECT_DEATH(utils::log_batch_begin(); DPRINT("before\n"); path(), "");
    EXPECT_EQ(0u, log().find("before\n")) << line;
    EXPECT_NE(std::string::npos, log().find(line));
  }
}

}  // namespace
