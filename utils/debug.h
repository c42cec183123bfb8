/* Logging of the runtime library: one line per call, written with one write to
 * the log descriptor (or with the other lines of the thread's log batch), no
 * timestamps, no locks. Also the call-chain record of the
 * callbacks the event loop is running, and the call-site macros every module uses.
 *
 * Line shapes:
 *   dlog       "  %s(): %s: %d: %s\n"            function, file, line, message
 *   logsyserr  "  SYSERROR: %s(): %s: %d: %s\n"  ... and strerror(errno)
 *   logfail    "  FAILED: %s(): %s: %d\n"
 *   checkpoint "  CHECKPOINT: %s(): %s: %d\n"
 *   dprint     the formatted text as it is
 * A line longer than its limit is dropped (dlog cuts the message at 255 first).
 * Every call leaves errno as it found it. */
#ifndef UTILS_DEBUG_H
#define UTILS_DEBUG_H

#include <stddef.h>

#include "utils/export.h"

#define DEBUG_LEVEL 0

#define DPRINT_LIMIT 255    /* dprint: characters of formatted text */
#define DLOG_MSG_LIMIT 255  /* dlog: the caller's message is cut here */
#define DLOG_LINE_LIMIT 299 /* dlog: the whole line */
#define LOGLINE_LIMIT 255   /* logsyserr, logfail, checkpoint */
#define CALL_STACK_DEPTH 256
#define LOG_ROTATE_DEFAULT (64u * 1024u * 1024u) /* "app.log" is rotated past this */

namespace utils QU_EXPORT {

extern int loglevel; /* calls below this level write nothing; starts at 0 */
extern int logfd;    /* log descriptor; standard error until app_init */

void dprint(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void dlog(int level, const char *func, const char *file, int line, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
void logsyserr(int level, const char *func, const char *file, int line);
void logfail(int level, const char *func, const char *file, int line);
void checkpoint(int level, const char *func, const char *file, int line);

/* Writes len bytes to logfd with one write call (retried on EINTR), then rotates
 * the log file when this write carried it past the rotation limit. A copy of
 * the bytes goes into the log ring (utils/logring.h) for problem reports. */
void log_msg(const char *text, size_t len);

/* Log batches. The lines this thread logs between log_batch_begin and
 * log_batch_end reach the log descriptor together, with one write, when the
 * batch ends (or as soon as it holds LOG_BATCH_LIMIT bytes): every line still
 * arrives whole and in order, for a fraction of the system calls. Meant for a
 * loop that logs several lines per event; batches do not nest, and a thread
 * that is about to wait (for a lock, the database) ends its batch first.
 * flush_log_msg writes the calling thread's pending batch. */
#define LOG_BATCH_LIMIT 16384
void log_batch_begin();
void log_batch_end();

/* Fatal paths of the library: writes the calling thread's pending batch (the
 * fatal line with it), so the log keeps what led there, then aborts. */
[[noreturn]] void log_abort();

/* Log silence of the calling thread: while a silence is held (they nest), the
 * thread's log calls write nothing and format nothing; other threads log as
 * before. For work repeated so often that its lines would crowd the log out
 * and rotate away what matters (the running price of every call in progress,
 * once a second); the same work done once still logs in full. */
class log_silence {
public:
  log_silence();
  ~log_silence();
  log_silence(const log_silence &) = delete;
  log_silence &operator=(const log_silence &) = delete;
};

/* A level above 0 replaces loglevel; returns the level in force. */
int set_debug_level(int level);

/* Opens name write-only, created, truncated, mode 0600, and makes it logfd.
 * 0, or -1 when the open fails (logfd unchanged). The old descriptor stays open. */
int set_log_file(const char *name);

/* The log file that app_init or set_log_file opened: it is renamed to
 * "<name>.1" (replacing an older one) once it grows past `limit` bytes, and a
 * fresh file continues on the same descriptor. A limit of 0 turns rotation off. */
void set_log_rotation(const char *name, size_t limit);
size_t log_rotation_limit();

void flush_log_msg();

/* Call-chain record of the event loop's thread. */
extern void *call_stack[CALL_STACK_DEPTH];
extern int call_stack_top;
void log_function_enter(void *func);
void log_function_exit(void *func);
void __debug_dump_logged_call_stack();

} /* namespace utils */

#define DLOG(...) ::utils::dlog(DEBUG_LEVEL, __func__, __FILE__, __LINE__, __VA_ARGS__)
#define DPRINT(...) ::utils::dprint(DEBUG_LEVEL, __VA_ARGS__)
#define LOG_SYS_ERROR() ::utils::logsyserr(DEBUG_LEVEL, __func__, __FILE__, __LINE__)
#define LOG_FUNCTION_FAILED() ::utils::logfail(DEBUG_LEVEL, __func__, __FILE__, __LINE__)
#define CHECKPOINT() ::utils::checkpoint(DEBUG_LEVEL, __func__, __FILE__, __LINE__)

/* CALL(func, args...) records entry into func in the call chain, calls it, and
 * records the exit. The result of the call is discarded. */
#define CALL(func, ...)                                          \
  do {                                                           \
    ::utils::log_function_enter(reinterpret_cast<void *>(func)); \
    (void)(func)(__VA_ARGS__);                                   \
    ::utils::log_function_exit(reinterpret_cast<void *>(func));  \
  } while (0)

#endif
