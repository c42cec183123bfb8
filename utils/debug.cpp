/* The log calls, per-thread log batches, the log file's rotation and the
 * call-chain record.
 * Formatting happens on the caller's stack; the only shared state is the level,
 * the descriptor, the rotation counter and the log ring (which has its own
 * short lock), so the calls are safe from any thread. */
#include "utils/debug.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "utils/logring.h"
#include "utils/utils.h"

namespace utils {

int loglevel = 0;
int logfd = 2;

void *call_stack[CALL_STACK_DEPTH];
int call_stack_top = 0;

namespace {

/* Rotation state. The path is set before the handler thread starts and is not
 * changed while log lines are written from two threads. */
std::string g_log_path;
std::atomic<size_t> g_log_limit{0};
std::atomic<size_t> g_log_written{0};

/* Holds errno for the life of a log call. */
struct errno_guard {
  int saved = errno;
  ~errno_guard() { errno = saved; }
};

/* The writer whose line carried the file past the limit moves the full file
 * aside and points the log descriptor at a fresh one with dup2: other writers
 * keep writing whole lines to whichever file the descriptor names at that
 * moment, and no line is split or lost. */
void rotate_log()
{
  std::string old = g_log_path + ".1";
  if (rename(g_log_path.c_str(), old.c_str()) != 0)
    return;
  int fd = open(g_log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  /* dup2 would drop close-on-exec from the log descriptor; dup3 keeps it. */
  if (fd != logfd) {
    dup3(fd, logfd, O_CLOEXEC);
    close(fd);
  }
}

thread_local int t_silence = 0;

/* Whether a call at this level writes nothing: tested before any formatting. */
inline bool muted(int level)
{
  return level < loglevel || t_silence > 0;
}

void write_line(int level, const char *text, int len, int limit)
{
  if (muted(level))
    return;
  if (len < 0 || len > limit)
    return;
  log_msg(text, (size_t)len);
}

/* The lines of this thread's open batch. */
struct log_batch {
  bool active = false;
  std::string text;
};
thread_local log_batch t_batch;

void write_log(const char *text, size_t len);

void end_batch()
{
  if (!t_batch.text.empty()) {
    write_log(t_batch.text.data(), t_batch.text.size());
    t_batch.text.clear();
  }
}

} /* namespace */

void log_msg(const char *text, size_t len)
{
  /* Kept even when the write fails: a problem report then still has it. */
  log_ring_record(text, len);
  if (t_batch.active) {
    t_batch.text.append(text, len);
    if (t_batch.text.size() >= LOG_BATCH_LIMIT)
      end_batch();
    return;
  }
  write_log(text, len);
}

void log_batch_begin()
{
  t_batch.active = true;
}

void log_batch_end()
{
  errno_guard keep;
  t_batch.active = false;
  end_batch();
}

void log_abort()
{
  log_batch_end();
  abort();
}

namespace {

void write_log(const char *text, size_t len)
{
  if (write_whole(logfd, text, len) < 0)
    return;
  size_t limit = g_log_limit.load(std::memory_order_relaxed);
  if (limit == 0)
    return;
  size_t before = g_log_written.fetch_add(len, std::memory_order_relaxed);
  if (before < limit && before + len >= limit) {
    rotate_log();
    g_log_written.fetch_sub(before + len, std::memory_order_relaxed);
  }
}

} /* namespace */

void dprint(int level, const char *fmt, ...)
{
  if (muted(level))
    return;
  errno_guard keep;
  char buf[DPRINT_LIMIT + 1];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  write_line(level, buf, n, DPRINT_LIMIT);
}

void dlog(int level, const char *func, const char *file, int line, const char *fmt, ...)
{
  if (muted(level))
    return;
  errno_guard keep;
  char msg[DLOG_MSG_LIMIT + 1];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(msg, sizeof msg, fmt, ap);
  va_end(ap);
  if (n < 0)
    return;
  char buf[DLOG_LINE_LIMIT + 5];
  n = snprintf(buf, sizeof buf, "  %s(): %s: %d: %s\n", func, file, line, msg);
  write_line(level, buf, n, DLOG_LINE_LIMIT);
}

void logsyserr(int level, const char *func, const char *file, int line)
{
  if (muted(level))
    return;
  errno_guard keep;
  char err[128];
  const char *text = strerror_r(keep.saved, err, sizeof err);
  char buf[LOGLINE_LIMIT + 1];
  int n = snprintf(buf, sizeof buf, "  SYSERROR: %s(): %s: %d: %s\n", func, file, line, text);
  write_line(level, buf, n, LOGLINE_LIMIT);
}

void logfail(int level, const char *func, const char *file, int line)
{
  if (muted(level))
    return;
  errno_guard keep;
  char buf[LOGLINE_LIMIT + 1];
  int n = snprintf(buf, sizeof buf, "  FAILED: %s(): %s: %d\n", func, file, line);
  write_line(level, buf, n, LOGLINE_LIMIT);
}

void checkpoint(int level, const char *func, const char *file, int line)
{
  if (muted(level))
    return;
  errno_guard keep;
  char buf[LOGLINE_LIMIT + 1];
  int n = snprintf(buf, sizeof buf, "  CHECKPOINT: %s(): %s: %d\n", func, file, line);
  write_line(level, buf, n, LOGLINE_LIMIT);
}

log_silence::log_silence()
{
  t_silence++;
}

log_silence::~log_silence()
{
  t_silence--;
}

int set_debug_level(int level)
{
  if (level > 0)
    loglevel = level;
  return loglevel;
}

int set_log_file(const char *name)
{
  errno_guard keep;
  int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0)
    return -1;
  logfd = fd;
  set_log_rotation(name, g_log_limit.load() ? g_log_limit.load() : LOG_ROTATE_DEFAULT);
  return 0;
}

void set_log_rotation(const char *name, size_t limit)
{
  g_log_path = name ? name : "";
  /* the cap is on the file's size: what the file already holds counts */
  struct stat st;
  g_log_written.store(fstat(logfd, &st) == 0 && S_ISREG(st.st_mode) ? (size_t)st.st_size : 0);
  g_log_limit.store(g_log_path.empty() ? 0 : limit);
}

size_t log_rotation_limit()
{
  return g_log_limit.load();
}

void flush_log_msg()
{
  errno_guard keep;
  end_batch();
}

void log_function_enter(void *func)
{
  if (call_stack_top >= CALL_STACK_DEPTH)
    return;
  call_stack[call_stack_top++] = func;
}

void log_function_exit(void *func)
{
  if (call_stack_top > 0 && call_stack[call_stack_top - 1] == func)
    call_stack_top--;
}

void __debug_dump_logged_call_stack() {}

} /* namespace utils */
