// The log ring: log lines recorded once and kept newest-last across the wrap,
// deferred output drained to the log descriptor in pieces that stop at the
// ring's end, the overflow report, a failed write, and the drain running as the
// event loop's SOCKOUT callback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "stderr_capture.h"
#include "utils/app.h"
#include "utils/debug.h"
#include "utils/logring.h"
#include "testkit.h"

namespace {

using testkit::slurp;

std::string newest(size_t size = LOGBUF_SIZE)
{
  std::string buf(size, '\0');
  buf.resize(utils::log_ring_newest(buf.data(), size));
  return buf;
}

bool drain_registered()
{
  return utils::find_registered_sock(utils::logfd, nullptr, utils::write_log_msg) >= 0;
}

// Each case logs into a fresh file and starts with nothing pending.
class LogRingTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    path_ = dir_.file("app.log");
    saved_fd_ = utils::logfd;
    utils::logfd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    ASSERT_GE(utils::logfd, 0);
    while (utils::logbuf_tail != utils::logbuf_head)
      utils::write_log_msg();
  }
  void TearDown() override
  {
    utils::unregister_sock(utils::logfd, nullptr, utils::write_log_msg);
    close(utils::logfd);
    utils::logfd = saved_fd_;
  }
  std::string log() { return slurp(path_); }

  testkit::TempDir dir_{"logring"};
  std::string path_;
  int saved_fd_ = 2;
};

TEST_F(LogRingTest, LogLinesAreRecordedOnceAndNeverDrainedAgain)
{
  DLOG("first %d", 1);
  utils::dprint(0, "second\n");
  EXPECT_EQ(utils::logbuf_head, utils::logbuf_tail);
  std::string ring = newest();
  ASSERT_GE(ring.size(), 7u);
  EXPECT_EQ("second\n", ring.substr(ring.size() - 7));
  EXPECT_NE(std::string::npos, ring.find(": first 1\nsecond\n"));

  utils::write_log_msg();
  EXPECT_EQ(log().find("first 1"), log().rfind("first 1"));
  EXPECT_EQ(log().find("second"), log().rfind("second"));
}

TEST_F(LogRingTest, RingKeepsTheNewestBytesOldestFirstAcrossTheWrap)
{
  std::string all;
  for (int i = 0; all.size() < 3 * LOGBUF_SIZE; i++) {
    std::string piece = "line " + std::to_string(i) + std::string((size_t)(i * 37 % 300), 'a' + i % 26) + "\n";
    utils::log_ring_record(piece.data(), piece.size());
    all += piece;
  }
  EXPECT_EQ(all.substr(all.size() - LOGBUF_SIZE), newest());
  EXPECT_EQ(all.substr(all.size() - 100), newest(100));

  // A single text longer than the ring leaves only its end.
  std::string huge(LOGBUF_SIZE + 500, 'h');
  huge.replace(huge.size() - 5, 5, "tail\n");
  utils::log_ring_record(huge.data(), huge.size());
  EXPECT_EQ(huge.substr(500), newest());
}

TEST_F(LogRingTest, PutBytesAreDrainedAndTheDrainTakesItselfOffTheLoop)
{
  utils::log_ring_put("deferred\n", 9);
  EXPECT_EQ(9u, utils::logbuf_tail - utils::logbuf_head);
  EXPECT_TRUE(drain_registered());

  utils::write_log_msg();
  EXPECT_EQ("deferred\n", log());
  EXPECT_EQ(utils::logbuf_head, utils::logbuf_tail);
  EXPECT_FALSE(drain_registered());
}

TEST_F(LogRingTest, DrainStopsAtTheEndOfTheRingStorage)
{
  // Bring the tail to 96 bytes before the end of the storage.
  std::string lead((2 * LOGBUF_SIZE - 96 - utils::logbuf_tail % LOGBUF_SIZE) % LOGBUF_SIZE, 'l');
  utils::log_ring_record(lead.data(), lead.size());
  const size_t to_end = 96;
  std::string text(to_end + 100, 'w');
  text.back() = '\n';
  utils::log_ring_put(text.data(), text.size());

  utils::write_log_msg();
  EXPECT_EQ(to_end, log().size());
  EXPECT_TRUE(drain_registered());
  utils::write_log_msg();
  EXPECT_EQ(text, log());
  EXPECT_FALSE(drain_registered());
}

TEST_F(LogRingTest, OverflowIsReportedAndOnlyTheNewestAreWritten)
{
  std::string text;
  for (int i = 0; text.size() < LOGBUF_SIZE + 1000; i++)
    text += "overflowing line " + std::to_string(i) + "\n";
  utils::log_ring_put(text.data(), text.size());

  StderrCapture cap;
  while (utils::logbuf_tail != utils::logbuf_head)
    utils::write_log_msg();
  EXPECT_EQ("log buffer overflow!\n", cap.text());
  EXPECT_EQ(text.substr(text.size() - LOGBUF_SIZE), log());
}

TEST_F(LogRingTest, FailedWriteKeepsEverythingPending)
{
  utils::log_ring_put("kept\n", 5);
  int good = utils::logfd;
  utils::logfd = open("/dev/null", O_RDONLY);
  utils::write_log_msg();
  close(utils::logfd);
  utils::logfd = good;
  EXPECT_EQ(5u, utils::logbuf_tail - utils::logbuf_head);

  utils::write_log_msg();
  EXPECT_EQ("kept\n", log());
}

TEST_F(LogRingTest, LinesLoggedWhileOutputIsPendingAreWrittenButNotRecorded)
{
  utils::log_ring_put("queued\n", 7);
  utils::dprint(0, "direct\n");
  EXPECT_EQ("queued\n", newest().substr(newest().size() - 7));
  utils::write_log_msg();
  EXPECT_EQ("direct\nqueued\n", log());
}

TEST_F(LogRingTest, EventLoopDrainsTheRingWhenTheLogIsWritable)
{
  utils::log_ring_put("through the loop\n", 17);
  utils::_app_schedule();
  EXPECT_EQ("through the loop\n", log());
  EXPECT_FALSE(drain_registered());
}

}  // namespace
