/* The station's database file "quentadb" as the sync program reads it: its
 * own read-only connection, kept open between cycles, and short read
 * transactions only. In the file's rollback-journal mode a reader blocks the
 * station's commits while it holds the file, and the station's statements
 * wait at most 5 s (the gateway handler's at most 100 ms), so every read
 * transaction here ends after STATION_READ_ROWS rows or STATION_READ_MS
 * milliseconds, whichever comes first. A station that holds the file itself
 * makes a read wait at most STATION_WAIT_MS, then fail as busy; that wait
 * holds nothing of the station and is counted apart.
 *
 * The tables: "cdrtbl" (rows appended, callid unique, flag turned from 0 to 1
 * in place at checkout), "billtbl" (appended, no key: the row's SQLite rowid
 * is the bill's number), "shifttbl" (appended, one row per handover) and
 * "audittbl" (appended, one row per entry of the audit trail; an older station
 * has neither of the last two), and "stationtbl", the file's identity: one row, a
 * random id the engine makes at its first start, carried by the file's backups
 * (a file of an older release gets it at the station's next start). Texts
 * come as the file holds them: GBK bytes. */
#ifndef QUENTA_SYNC_STATION_H
#define QUENTA_SYNC_STATION_H

#include <sqlite3.h>
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace qsync {

#define STATION_READ_ROWS 5000
#define STATION_READ_MS 10
#define STATION_WAIT_MS 1000

struct station_call {
  long long rowid;
  std::string callid, machineid;
  int lineid;
  std::string orgnum, desnum, bdate, edate;
  int flag;
};

struct station_bill {
  long long rowid;
  std::string callid;
  long long calltime;
  std::string period;
  double amount;
  std::string admin, date;
  std::string desnum; /* the call's dialled number, for its rule; empty without the call */
};

struct station_shift {
  long long rowid;
  std::string bdate, edate, outgoing;
  double takings;
  std::string incoming;
};

struct station_audit {
  long long rowid;
  std::string date, admin, action, detail;
};

/* A line of the station: machine id (GBK) and line number. */
using line_key = std::pair<std::string, int>;

/* The tables a station's file holds, with their last rowid (0 when empty),
 * and the file's identity (empty when the station has not given it one yet). */
struct station_tables {
  bool cdrtbl = false, billtbl = false, shifttbl = false, audittbl = false;
  long long calls_max = 0, bills_max = 0, shifts_max = 0, audits_max = 0;
  std::string identity;
};

class station_db {
public:
  explicit station_db(std::string path) : m_path(std::move(path)) {}
  ~station_db() { close(); }
  station_db(const station_db &) = delete;
  station_db &operator=(const station_db &) = delete;

  /* Opens the file read-only, or again when it was replaced (another inode).
   * False (with error()) when it cannot: no file yet, unreadable. */
  bool ensure_open();
  void close();

  /* The file's change counter for other connections' commits, which tables
   * it holds and how far, and its identity, in one short read. False on
   * failure. */
  bool look(long long &data_version, station_tables &tables);

  /* Rows after `after` in rowid order: at most `limit`, within one bounded
   * read transaction (so possibly fewer while more follow). `more` tells
   * whether the read stopped at its bound. False on failure. */
  bool calls_after(long long after, int limit, std::vector<station_call> &out, bool &more);
  bool bills_after(long long after, int limit, std::vector<station_bill> &out, bool &more);
  bool shifts_after(long long after, int limit, std::vector<station_shift> &out, bool &more);
  bool audits_after(long long after, int limit, std::vector<station_audit> &out, bool &more);

  /* For each line: the number of its unsettled calls at rowid <= upto.
   * Several bounded transactions when there are many lines. */
  bool unsettled_counts(const std::vector<line_key> &lines, long long upto, std::vector<long long> &counts);
  /* The call ids of a line's unsettled calls at rowid <= upto. */
  bool unsettled_calls(const line_key &line, long long upto, std::vector<std::string> &callids);
  /* The flag of each call id, -1 for a call the file no longer holds. */
  bool flags_of(const std::vector<std::string> &callids, std::vector<int> &flags);

  const std::string &error() const { return m_error; }
  /* How many times the file was opened: a change counter means nothing to
   * another connection's. */
  long long opens() const { return m_opens; }
  /* Microseconds spent inside read transactions since the start, less the
   * time spent waiting for the file while another connection held it. */
  long long db_time_us() const { return m_db_us; }
  /* Microseconds spent waiting for the file. */
  long long wait_us() const { return m_wait_us; }

private:
  class read_txn;
  friend class read_txn;
  static int on_busy(void *self, int tries);
  sqlite3_stmt *prepare(const char *sql);
  template <typename Take>
  bool rows_after(const char *sql, const char *what, long long after, int limit, bool &more, Take take);
  bool fail(const char *what, int rc);

  std::string m_path;
  sqlite3 *m_db = nullptr;
  ino_t m_ino = 0;
  dev_t m_dev = 0;
  std::map<std::string, sqlite3_stmt *> m_stmts;
  std::string m_error;
  long long m_db_us = 0, m_wait_us = 0;
  int m_waited_ms = 0; /* of the current wait */
  long long m_opens = 0;
};

} /* namespace qsync */

#endif
