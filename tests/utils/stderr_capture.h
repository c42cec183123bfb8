// Captures what the code under test writes to standard error (descriptor 2)
// into a temporary file for the lifetime of the object.
#ifndef TESTS_UTILS_STDERR_CAPTURE_H
#define TESTS_UTILS_STDERR_CAPTURE_H

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

class StderrCapture {
public:
  StderrCapture()
  {
    char tmpl[] = "/tmp/stderrXXXXXX";
    fd_ = mkstemp(tmpl);
    path_ = tmpl;
    fflush(stderr);
    saved_ = dup(2);
    dup2(fd_, 2);
  }
  ~StderrCapture()
  {
    restore();
    close(fd_);
    unlink(path_.c_str());
  }
  // Stops capturing and returns everything written so far.
  std::string text()
  {
    restore();
    std::string out;
    char buf[4096];
    ssize_t n;
    off_t off = 0;
    while ((n = pread(fd_, buf, sizeof buf, off)) > 0) {
      out.append(buf, (size_t)n);
      off += n;
    }
    return out;
  }

private:
  void restore()
  {
    if (saved_ < 0)
      return;
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  int fd_ = -1;
  int saved_ = -1;
  std::string path_;
};

#endif
