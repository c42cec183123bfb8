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

#include "utils/debug.h"

namespace ratetest {

inline std::string slurp(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

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
    char tmpl[] = "/tmp/quenta-ratesXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    char cwd[PATH_MAX];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    old_cwd_ = cwd;
    ASSERT_EQ(0, chdir(dir_.c_str()));
    saved_fd_ = utils::logfd;
    ASSERT_EQ(0, utils::set_log_file("app.log"));
    utils::loglevel = 0;
  }
  void TearDown() override
  {
    close(utils::logfd);
    utils::logfd = saved_fd_;
    utils::loglevel = 0;
    (void)chdir(old_cwd_.c_str());
    std::string cmd = "rm -rf '" + dir_ + "'";
    (void)system(cmd.c_str());
  }
  std::string log() const { return slurp(dir_ + "/app.log"); }
  void truncate_log() { (void)ftruncate(utils::logfd, 0); (void)lseek(utils::logfd, 0, SEEK_SET); }

  std::string dir_, old_cwd_;
  int saved_fd_ = 2;
};

}  // namespace ratetest

#endif
