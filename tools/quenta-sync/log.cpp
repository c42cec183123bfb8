/* The sync program's log file: timestamped lines, a size cap with one older
 * generation, and the folding of repeated failures. */
#include "log.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <map>

namespace qsync {

namespace {

int g_fd = -1;
bool g_echo = true;
std::string g_path;

struct failure_state {
  std::string message;
  time_t first = 0, last_written = 0;
  long repeats = 0;
};
std::map<std::string, failure_state> g_failures;

void write_all(int fd, const std::string &s)
{
  const char *p = s.data();
  size_t left = s.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    p += n;
    left -= (size_t)n;
  }
}

void rotate_if_full()
{
  struct stat st;
  if (g_fd < 0 || fstat(g_fd, &st) != 0 || st.st_size < SYNC_LOG_CAP)
    return;
  std::string old = g_path + ".1";
  if (rename(g_path.c_str(), old.c_str()) != 0)
    return;
  int fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0) {
    close(g_fd);
    g_fd = fd;
  }
}

void emit(const std::string &text)
{
  char stamp[32];
  time_t t = time(nullptr);
  struct tm tm;
  localtime_r(&t, &tm);
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &tm);
  std::string line = stamp + text + "\n";
  if (g_fd >= 0) {
    rotate_if_full();
    write_all(g_fd, line);
  }
  if (g_echo || g_fd < 0)
    write_all(2, line);
}

} /* namespace */

bool log_open(const std::string &path, bool echo)
{
  g_echo = echo;
  g_path = path;
  if (g_fd >= 0)
    close(g_fd);
  g_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return g_fd >= 0;
}

void log_line(const char *fmt, ...)
{
  char buf[4096];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  emit(buf);
}

void log_failure(const std::string &what, const std::string &message)
{
  time_t now = time(nullptr);
  failure_state &f = g_failures[what];
  if (f.message != message) {
    if (f.repeats > 0)
      emit(what + ": the failure before was repeated " + std::to_string(f.repeats) + " times");
    f.message = message;
    f.first = f.last_written = now;
    f.repeats = 0;
    emit(what + ": " + message);
    return;
  }
  f.repeats++;
  if (now - f.last_written >= 60) {
    emit(what + ": still failing (" + std::to_string(f.repeats) + " more times, since " +
         std::to_string((long)(now - f.first)) + " s): " + message);
    f.last_written = now;
    f.repeats = 0;
  }
}

void log_recovered(const std::string &what)
{
  auto it = g_failures.find(what);
  if (it == g_failures.end() || it->second.message.empty())
    return;
  emit(what + ": works again after " + std::to_string((long)(time(nullptr) - it->second.first)) + " s");
  g_failures.erase(it);
}

} /* namespace qsync */
