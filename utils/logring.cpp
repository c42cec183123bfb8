/* The log ring: recording written log lines, queueing deferred output, its
 * drain on the event loop, and the snapshot a problem report takes.
 * Log lines arrive from the console's thread and the engine's thread, so the
 * ring has a lock of its own; it is held only for copies of at most
 * LOGBUF_SIZE bytes and for the drain's one write, never around a log call. */
#include "utils/logring.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <mutex>

#include "utils/app.h"
#include "utils/debug.h"
#include "utils/utils.h"

namespace utils {

char logbuf[LOGBUF_SIZE];
unsigned long logbuf_head = 0;
unsigned long logbuf_tail = 0;

namespace {

std::mutex g_ring_lock;

inline size_t ring_pos(unsigned long count)
{
  return (size_t)(count % LOGBUF_SIZE);
}

/* Appends at the tail; of a text longer than the ring only its end is kept. */
void ring_append(const char *text, size_t len)
{
  unsigned long start = logbuf_tail;
  if (len > LOGBUF_SIZE) {
    start += len - LOGBUF_SIZE;
    text += len - LOGBUF_SIZE;
  }
  size_t left = len > LOGBUF_SIZE ? LOGBUF_SIZE : len;
  size_t pos = ring_pos(start);
  while (left > 0) {
    size_t n = LOGBUF_SIZE - pos < left ? LOGBUF_SIZE - pos : left;
    memcpy(logbuf + pos, text, n);
    text += n;
    left -= n;
    pos = 0;
  }
  logbuf_tail += len;
}

} /* namespace */

void log_ring_put(const char *text, size_t len)
{
  if (!text || len == 0)
    return;
  {
    std::scoped_lock hold(g_ring_lock);
    ring_append(text, len);
  }
  register_sock(logfd, SOCKOUT, nullptr, write_log_msg);
}

void log_ring_record(const char *text, size_t len)
{
  if (!text || len == 0)
    return;
  std::scoped_lock hold(g_ring_lock);
  if (logbuf_tail != logbuf_head)
    return;
  ring_append(text, len);
  logbuf_head = logbuf_tail;
}

size_t log_ring_newest(char *buf, size_t size)
{
  std::scoped_lock hold(g_ring_lock);
  size_t n = logbuf_tail < LOGBUF_SIZE ? (size_t)logbuf_tail : LOGBUF_SIZE;
  if (n > size)
    n = size;
  size_t pos = ring_pos(logbuf_tail - n);
  size_t first = LOGBUF_SIZE - pos < n ? LOGBUF_SIZE - pos : n;
  memcpy(buf, logbuf + pos, first);
  memcpy(buf + first, logbuf, n - first);
  return n;
}

void write_log_msg(void *, int, int)
{
  bool drained;
  {
    std::scoped_lock hold(g_ring_lock);
    if (logbuf_tail - logbuf_head > LOGBUF_SIZE) {
      static const char lost[] = "log buffer overflow!\n";
      write_whole(2, lost, sizeof lost - 1);
      logbuf_head = logbuf_tail - LOGBUF_SIZE;
    }
    unsigned long pending = logbuf_tail - logbuf_head;
    if (pending > 0) {
      size_t pos = ring_pos(logbuf_head);
      size_t n = LOGBUF_SIZE - pos < pending ? LOGBUF_SIZE - pos : (size_t)pending;
      ssize_t w;
      do {
        w = write(logfd, logbuf + pos, n);
      } while (w < 0 && errno == EINTR);
      if (w < 0)
        return;
      logbuf_head += (unsigned long)w;
    }
    drained = logbuf_head == logbuf_tail;
  }
  if (drained)
    unregister_sock(logfd, nullptr, write_log_msg);
}

} /* namespace utils */
