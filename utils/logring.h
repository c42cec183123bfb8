/* The log ring: the last LOGBUF_SIZE bytes of log output, kept in memory so a
 * problem report can carry them, and a queue of deferred log output drained to
 * the log descriptor by write_log_msg when the event loop finds it writable.
 *
 * The counters only grow; a count's place in the ring is the count modulo
 * LOGBUF_SIZE. logbuf_tail counts every byte that entered the ring and
 * logbuf_head the bytes that need no more writing, so tail - head bytes are
 * pending. Lines the log calls have already written are recorded with head and
 * tail moved together: they show in reports and are never written twice. */
#ifndef UTILS_LOGRING_H
#define UTILS_LOGRING_H

#include <stddef.h>

#include "utils/export.h"

#define LOGBUF_SIZE 4096

namespace utils QU_EXPORT {

extern char logbuf[LOGBUF_SIZE];
extern unsigned long logbuf_head; /* bytes written out (or never needing it) */
extern unsigned long logbuf_tail; /* bytes that entered the ring */

/* Queues len bytes of log output and registers write_log_msg for SOCKOUT on the
 * log descriptor. More than LOGBUF_SIZE pending bytes overwrite the oldest;
 * the drain reports the loss. For the event loop's thread. */
void log_ring_put(const char *text, size_t len);

/* Records bytes that were already written to the log, so that reports carry
 * them. While deferred output is pending they are left out, as recording them
 * would have the drain write them a second time. Safe from any thread. */
void log_ring_record(const char *text, size_t len);

/* Copies the newest bytes of the ring, at most size and at most LOGBUF_SIZE,
 * oldest first, into buf and returns their number. The counters stay as they
 * are. */
size_t log_ring_newest(char *buf, size_t size);

/* Drains the ring; the SOCKOUT callback of the log descriptor (arguments are
 * not used). More than LOGBUF_SIZE pending bytes: "log buffer overflow!" on
 * standard error and the oldest are dropped. Writes the pending bytes up to the
 * end of the ring storage with one write; once nothing is pending it takes
 * itself off the loop. A failed write leaves everything pending. */
void write_log_msg(void *ctxt = nullptr, int events = 0, int sock = -1);

} /* namespace utils */

#endif
