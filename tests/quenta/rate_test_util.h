// Helpers of the rate suites: a fresh working directory per test with the
// engine's log in it, and small file helpers.
#ifndef TESTS_QUENTA_RATE_TEST_UTIL_H
#define TESTS_QUENTA_RATE_TEST_UTIL_H

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "testkit.h"
#include "utils/debug.h"

namespace ratetest {

using testkit::slurp;

inline void write_file(const std::string &path, const std::string &text)
{
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// Makes a temporary directory the working directory and sends the log to
// "app.log" inside it; undoes both afterwards.
class WorkDir : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_FALSE(dir_.empty());
    saved_fd_ = utils::logfd;
    ASSERT_EQ(0, utils::set_log_file("app.log"));
    utils::loglevel = 0;
  }
  void TearDown() override
  {
    close(utils::logfd);
    utils::logfd = saved_fd_;
    utils::loglevel = 0;
  }
  std::string log() const { return slurp(dir_ + "/app.log"); }
  void truncate_log()
  {
    (void)ftruncate(utils::logfd, 0);
    (void)lseek(utils::logfd, 0, SEEK_SET);
  }

  testkit::TempDir tmp_{"quenta-rates", true};
  std::string dir_ = tmp_.path();
  int saved_fd_ = 2;
};

}  // namespace ratetest

#endif
