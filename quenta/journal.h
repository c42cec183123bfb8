/* The journal of calls in progress, CALLS_LIVE_FILE in the working directory:
 * what the station needs to bill a call that a restart (a crash, a power cut,
 * a stop) cuts in two. A call is appended, and synced, as soon as it has a
 * start and a dialled number; the moment each call was last known running is
 * written, for every call at once, at most every LIVE_REFRESH_TICKS seconds;
 * a call leaves the file once its row is stored ("cdrtbl", or kept in
 * "cdr.pending" or "cdr.failed"). The file is then written anew through
 * CALLS_LIVE_TMP and a rename, so a crash leaves the old or the new file
 * whole, or a last appended line cut short, which the reader skips.
 *
 * One line per call: machine id, line number, dialled number, calling number,
 * start, last known running; tab-separated and escaped as the files of
 * quenta/stationfile.h, ended by a line feed. Times are local
 * "%Y-%m-%d %H:%M:%S" texts, as the engine stamps calls. */
#ifndef QUENTA_JOURNAL_H
#define QUENTA_JOURNAL_H

#include <map>
#include <string>
#include <vector>

#define CALLS_LIVE_FILE "calls.live"
#define CALLS_LIVE_TMP "calls.live.tmp"
#define LIVE_REFRESH_TICKS 10 /* seconds between two writes of "last known running" */

enum live_state {
  LIVE_RUNNING,   /* a call of the line table */
  LIVE_RECOVERED, /* read back at start-up; its line has not been heard of yet */
  LIVE_ENDED,     /* ended; leaves the file once its row is kept elsewhere */
};

/* One call of the journal. */
struct live_call {
  std::string machineid;
  unsigned lineid = 0;
  std::string desnum, srcnum, bdate;
  std::string seen; /* the last moment the call was known running */
  live_state state = LIVE_RUNNING;
};

/* The journal in memory: the calls the file holds, by call id. The handler's
 * thread only. */
struct call_journal {
  std::map<std::string, live_call> m_calls;
  bool m_stale = false;   /* the file lacks what memory has: written whole at the next chance */
  bool m_failing = false; /* the last write failed; logged once until one succeeds */
};

/* The call's line of the file, and back: false for a text that is not a whole
 * line of that form (a line a crash cut short has no line feed). */
std::string live_line(const live_call &c);
bool live_parse_line(const std::string &line, live_call *c);

/* Reads the calls of the file at path, in file order; a damaged line is logged
 * and skipped. The number of calls read (0 without the file), or -1 when the
 * file cannot be read. */
int journal_read(const char *path, std::vector<live_call> *calls);

/* Appends the calls (already in j->m_calls) to the file in one synced write;
 * writes the file whole instead while it is stale. 0, or -1 (logged once). */
int journal_append(call_journal *j, const std::vector<const live_call *> &calls);

/* Writes the file anew with every call of j->m_calls: 0, or -1 (logged once;
 * the old file stays and the journal is stale). */
int journal_rewrite(call_journal *j);

#endif
