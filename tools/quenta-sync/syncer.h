/* The copy cycle of one station to the server.
 *
 * A cycle first looks at the station's file (one short read): when no other
 * connection has committed to it since the last cycle that finished (SQLite's
 * data_version), there is nothing new and the cycle ends there. Otherwise the
 * file's identity must be the one the server holds for the station's name
 * (or the name new, or --adopt given), and the file's row at each position
 * the row the server copied there; a file whose rows went back (a restored
 * backup) is read again from its first row and copied by key. Then the cycle
 * copies the calls, bills, shifts and audit entries after the station's position on the
 * server, batch by batch, each batch one server transaction with the moved
 * position; then it brings the settled flags up to date: for every line that
 * has calls the server still holds as unsettled, the line index counts the
 * line's unsettled calls in the file, and only a line whose count differs is
 * read call by call. A failed cycle is tried again after a wait that doubles
 * from 0.5 s up to the interval, so a server that comes back is seen within
 * one interval. */
#ifndef QUENTA_SYNC_SYNCER_H
#define QUENTA_SYNC_SYNCER_H

#include <signal.h>

#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "rules.h"
#include "server.h"
#include "settings.h"
#include "station.h"

namespace qsync {

enum class cycle_result {
  done,           /* caught up (or nothing new) */
  station_failed, /* the station's file could not be read (or has no identity yet): try again */
  server_failed,  /* the server could not be reached or refused: try again */
  fatal,          /* the server's schema is newer: stop */
  refused         /* the station's name belongs to another file on the server: stop */
};

/* The exit statuses of run() besides 0 and 1. */
#define SYNC_EXIT_NEWER_SCHEMA 3
#define SYNC_EXIT_OTHER_FILE 4

/* What cycles cost the station, for the log and the benchmark. */
struct cycle_stats {
  long long cycles = 0, idle_cycles = 0;
  long long idle_db_us = 0, idle_db_max_us = 0; /* cycles with nothing new */
  long long work_db_us = 0, work_db_max_us = 0; /* cycles that read rows */
  long long calls = 0, bills = 0, shifts = 0, audits = 0, flags = 0;
};

class syncer {
public:
  explicit syncer(const sync_settings &s);

  cycle_result cycle();
  /* Cycles until stop is set (or after one with --once): the exit status,
   * 0, 1 (--once and the cycle failed), SYNC_EXIT_NEWER_SCHEMA or
   * SYNC_EXIT_OTHER_FILE. */
  int run(volatile sig_atomic_t &stop);
  /* Why run() stopped with a status above 1. */
  const std::string &stop_reason() const { return m_stop_reason; }

private:
  /* Per table of station rows (row_table's order): the key of the row at
   * the position, once the server was seen to hold it, and, while the file
   * is read again after its rows went back, the position it had then and
   * what the reading again found new. */
  struct table_state {
    std::string anchor;
    bool anchored = false;
    long long recheck = 0, rechecked = 0, recheck_added = 0;
  };

  bool attach(const std::string &identity);
  cycle_result check_positions(const station_tables &tables);
  template <typename Row, typename Read, typename Store>
  cycle_result copy_rows(row_table t, long long upto, Read read, Store store);
  cycle_result copy_calls(long long upto);
  cycle_result copy_bills(long long upto);
  cycle_result copy_shifts(long long upto);
  cycle_result copy_audits(long long upto);
  cycle_result settle_flags();
  cycle_result station_trouble();
  cycle_result server_trouble(bool moved);
  bool stopping() const { return m_stop && *m_stop; }
  void note_unsettled(const std::string &callid, const line_key &line, int flag);

  sync_settings m_set;
  station_db m_station;
  server m_server;
  rule_book m_rules;
  bool m_attached = false;
  cycle_result m_fatal = cycle_result::done; /* fatal or refused once the program must stop */
  std::string m_stop_reason;
  bool m_adopt = false;   /* --adopt, until the first claim of the name */
  std::string m_identity; /* of the file the name was claimed for */
  station_position m_pos;
  table_state m_tables[4];
  /* the calls the server holds as unsettled, by station call id (GBK), and
   * those the file shows unsettled that the server holds settled */
  std::unordered_map<std::string, line_key> m_unsettled;
  std::map<line_key, std::unordered_set<std::string>> m_lines;
  bool m_gate = false; /* the last cycle finished at m_data_version of open m_gate_open */
  long long m_data_version = 0, m_gate_open = 0;
  cycle_stats m_stats;
  volatile sig_atomic_t *m_stop = nullptr;
};

} /* namespace qsync */

#endif
