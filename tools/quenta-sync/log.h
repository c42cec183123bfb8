/* The sync program's own log, "quenta-sync.log" in the station's working
 * directory beside (never inside) the station's "app.log": one line per event,
 * with the local time, written whole with one write. A failure that repeats
 * is written once, then at most once a minute with the count of repeats, and
 * its end is written when the same kind of step succeeds again. */
#ifndef QUENTA_SYNC_LOG_H
#define QUENTA_SYNC_LOG_H

#include <string>

namespace qsync {

#define SYNC_LOG_NAME "quenta-sync.log"
#define SYNC_LOG_CAP (16L << 20) /* past this the log is renamed to ".1" */

/* Opens (appending) the log file; echo also copies every line to stderr.
 * False when the file cannot be opened: lines then go to stderr only. */
bool log_open(const std::string &path, bool echo);

/* One line. */
void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* A failure of the step named `what` (e.g. "server", "station"): written when
 * it is new or differs from the last one of that step, else counted. */
void log_failure(const std::string &what, const std::string &message);
/* The step succeeded: closes an open failure of it with one line. */
void log_recovered(const std::string &what);

} /* namespace qsync */

#endif
