/* The copy cycle: the look at the station's file, its identity and the rows
 * at the positions, the copies of new rows in batches, the settled flags, and
 * the loop with its retry waits. */
#include "syncer.h"

#include <math.h>
#include <time.h>

#include <algorithm>

#include "log.h"
#include "text.h"

namespace qsync {

namespace {

/* Sleeps `seconds` in short steps, so that a stop request ends it. */
void pause_for(double seconds, volatile sig_atomic_t &stop)
{
  struct timespec until;
  clock_gettime(CLOCK_MONOTONIC, &until);
  long long end_ns = (long long)until.tv_sec * 1000000000LL + until.tv_nsec + (long long)(seconds * 1e9);
  while (!stop) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long left = end_ns - ((long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    if (left <= 0)
      return;
    long long step = std::min(left, 100000000LL);
    struct timespec ts = {(time_t)(step / 1000000000LL), (long)(step % 1000000000LL)};
    nanosleep(&ts, nullptr);
  }
}

/* Rows after `after` up to `want` of them, in as many bounded station reads
 * as it takes. False when a read failed. */
template <typename Row, typename Read>
bool gather(long long after, size_t want, std::vector<Row> &batch, Read read)
{
  batch.clear();
  std::vector<Row> part;
  while (batch.size() < want) {
    bool more = false;
    int limit = (int)std::min<size_t>(STATION_READ_ROWS, want - batch.size());
    if (!read(batch.empty() ? after : batch.back().rowid, limit, part, more))
      return false;
    batch.insert(batch.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    if (!more)
      break;
  }
  return true;
}

/* The file's row at `rowid`: found, with its key, or not. False when the
 * read failed. */
template <typename Row, typename Read>
bool key_of_row(long long rowid, Read read, bool &found, std::string &key)
{
  std::vector<Row> rows;
  bool more = false;
  if (!read(rowid - 1, 1, rows, more))
    return false;
  found = !rows.empty() && rows[0].rowid == rowid;
  if (found)
    key = row_key(rows[0]);
  return true;
}

long long &position_of(station_position &pos, row_table t)
{
  switch (t) {
  case row_table::calls:
    return pos.call_rowid;
  case row_table::bills:
    return pos.bill_rowid;
  case row_table::shifts:
    return pos.shift_rowid;
  case row_table::audits:
    break;
  }
  return pos.audit_rowid;
}

struct table_names {
  const char *row, *rows;
  long long cycle_stats::*count;
};

const table_names &names_of(row_table t)
{
  static const table_names names[] = {{"call", "calls", &cycle_stats::calls},
                                      {"bill", "bills", &cycle_stats::bills},
                                      {"shift", "shifts", &cycle_stats::shifts},
                                      {"audit entry", "audit entries", &cycle_stats::audits}};
  return names[(int)t];
}

const row_table all_tables[] = {row_table::calls, row_table::bills, row_table::shifts, row_table::audits};

} /* namespace */

syncer::syncer(const sync_settings &s) : m_set(s), m_station(s.db_path), m_adopt(s.adopt) {}

cycle_result syncer::station_trouble()
{
  log_failure("station", m_station.error());
  return cycle_result::station_failed;
}

cycle_result syncer::server_trouble(bool moved)
{
  log_failure("server", m_server.error() + (moved ? " (reading the station's position again)" : ""));
  /* after a failure the server may or may not have committed: read the
   * position again before the next copy */
  m_server.disconnect();
  m_attached = false;
  return cycle_result::server_failed;
}

bool syncer::attach(const std::string &identity)
{
  if (m_attached && m_server.connected())
    return true;
  m_attached = false;
  m_gate = false;
  if (!m_server.connected() && !m_server.connect(m_set.dsn)) {
    log_failure("server", m_server.error());
    return false;
  }
  schema_state schema = m_server.ensure_schema();
  if (schema == schema_state::newer) {
    m_stop_reason = m_server.error();
    log_line("server: %s; quenta-sync stops (the station goes on)", m_stop_reason.c_str());
    m_fatal = cycle_result::fatal;
    m_server.disconnect();
    return false;
  }
  std::string known;
  claim_result claim = schema == schema_state::ok
                           ? m_server.claim_station(m_set.station, identity, m_adopt, m_pos, known)
                           : claim_result::failed;
  if (claim == claim_result::foreign) {
    m_stop_reason = m_server.error();
    log_line("server: %s; quenta-sync stops (the station goes on)", m_stop_reason.c_str());
    m_fatal = cycle_result::refused;
    m_server.disconnect();
    return false;
  }
  std::vector<server_unsettled> unsettled;
  if (claim == claim_result::failed || !m_server.unsettled(m_set.station, unsettled)) {
    log_failure("server", m_server.error());
    m_server.disconnect();
    return false;
  }
  m_unsettled.clear();
  m_lines.clear();
  for (const server_unsettled &u : unsettled)
    note_unsettled(utf8_to_gbk(u.callid), {utf8_to_gbk(u.machineid), u.lineid}, 0);
  log_recovered("server");
  if (claim == claim_result::first)
    log_line("server: station \"%s\" is new on the server: it belongs to this file (identity %s)",
             m_set.station.c_str(), identity.c_str());
  else if (claim == claim_result::recorded)
    log_line("server: station \"%s\" was copied by a program that kept no identity: it belongs to this file "
             "(identity %s) from now on",
             m_set.station.c_str(), identity.c_str());
  else if (claim == claim_result::adopted)
    log_line("server: station \"%s\" adopted this file (identity %s) in place of the file %s: the file's rows are "
             "copied by key from its first row; what the server holds from the other file stays",
             m_set.station.c_str(), identity.c_str(), known.c_str());
  else if (m_adopt)
    log_line("server: station \"%s\" belongs to this file already: nothing to adopt", m_set.station.c_str());
  log_line("server: station \"%s\" copied up to call row %lld, bill row %lld, shift row %lld, audit row %lld; "
           "%zu calls unsettled",
           m_set.station.c_str(), m_pos.call_rowid, m_pos.bill_rowid, m_pos.shift_rowid, m_pos.audit_rowid,
           m_unsettled.size());
  m_adopt = false; /* adopts the file found at the start, never a later one */
  m_identity = identity;
  for (table_state &ts : m_tables)
    ts.anchored = false; /* the positions' rows are checked with the server again */
  m_attached = true;
  return true;
}

cycle_result syncer::check_positions(const station_tables &tables)
{
  for (row_table t : all_tables) {
    long long &pos = position_of(m_pos, t);
    table_state &ts = m_tables[(int)t];
    if (pos == 0)
      continue;
    bool ok = true, found = false;
    std::string key;
    if (t == row_table::calls && tables.cdrtbl)
      ok = key_of_row<station_call>(
          pos,
          [&](long long a, int l, std::vector<station_call> &p, bool &m) { return m_station.calls_after(a, l, p, m); },
          found, key);
    else if (t == row_table::bills && tables.billtbl)
      ok = key_of_row<station_bill>(
          pos,
          [&](long long a, int l, std::vector<station_bill> &p, bool &m) { return m_station.bills_after(a, l, p, m); },
          found, key);
    else if (t == row_table::shifts && tables.shifttbl)
      ok = key_of_row<station_shift>(
          pos,
          [&](long long a, int l, std::vector<station_shift> &p, bool &m) {
            return m_station.shifts_after(a, l, p, m);
          },
          found, key);
    else if (t == row_table::audits && tables.audittbl)
      ok = key_of_row<station_audit>(
          pos,
          [&](long long a, int l, std::vector<station_audit> &p, bool &m) {
            return m_station.audits_after(a, l, p, m);
          },
          found, key);
    if (!ok)
      return station_trouble();
    if (found && !ts.anchored) {
      bool held = false;
      if (!m_server.holds_row(m_set.station, t, pos, key, held))
        return server_trouble(false);
      ts.anchor = key;
      ts.anchored = held;
    }
    if (found && ts.anchored && ts.anchor == key)
      continue;
    /* The file's rows went back (a restored backup) or were taken away: the
     * rows after the position are no longer all rows the server lacks, and
     * rows the server lacks may lie before it. The table is read again from
     * its first row; what the server holds is skipped by key. */
    const table_names &n = names_of(t);
    log_line("station: the file's %s row %lld is %s (a restored backup?): its %s are read again from the first row "
             "and those the server lacks are copied",
             n.row, pos, found ? "not the one the server copied there" : "gone", n.rows);
    bool moved = false;
    if (!m_server.rewind(m_set.station, t, pos, moved))
      return server_trouble(moved);
    ts.recheck = std::max(ts.recheck, pos);
    ts.rechecked = ts.recheck_added = 0;
    ts.anchored = false;
    pos = 0;
  }
  return cycle_result::done;
}

void syncer::note_unsettled(const std::string &callid, const line_key &line, int flag)
{
  auto it = m_unsettled.find(callid);
  if (it != m_unsettled.end()) {
    auto l = m_lines.find(it->second);
    if (l != m_lines.end()) {
      l->second.erase(callid);
      if (l->second.empty())
        m_lines.erase(l);
    }
    m_unsettled.erase(it);
  }
  if (flag == 0) {
    m_unsettled.emplace(callid, line);
    m_lines[line].insert(callid);
  }
}

/* The rows after the table's position up to `upto`, batch by batch: read,
 * stored with the moved position, and the position and its key kept. */
template <typename Row, typename Read, typename Store>
cycle_result syncer::copy_rows(row_table t, long long upto, Read read, Store store)
{
  long long &pos = position_of(m_pos, t);
  table_state &ts = m_tables[(int)t];
  const table_names &n = names_of(t);
  std::vector<Row> batch;
  while (pos < upto && !stopping()) {
    if (!gather(pos, (size_t)m_set.batch, batch, read))
      return station_trouble();
    if (batch.empty())
      break;
    store_result out;
    if (!store(batch, pos, batch.front().rowid <= ts.recheck, out))
      return server_trouble(out.moved);
    pos = batch.back().rowid;
    ts.anchor = row_key(batch.back());
    ts.anchored = true;
    long long before = m_stats.*n.count;
    m_stats.*n.count += out.added;
    m_stats.flags += out.settled;
    if (m_stats.*n.count / 100000 != before / 100000)
      log_line("station: %lld %s copied, up to row %lld", m_stats.*n.count, n.rows, pos);
    if (ts.recheck) {
      ts.rechecked += (long long)batch.size();
      ts.recheck_added += out.added;
    }
  }
  if (ts.recheck && (pos >= ts.recheck || pos >= upto) && !stopping()) {
    log_line("station: the file's %s read again up to row %lld: %lld of its %lld %s were on the server, %lld "
             "copied",
             n.rows, pos, ts.rechecked - ts.recheck_added, ts.rechecked, n.rows, ts.recheck_added);
    ts.recheck = 0;
  }
  return cycle_result::done;
}

cycle_result syncer::copy_calls(long long upto)
{
  return copy_rows<station_call>(
      row_table::calls, upto,
      [&](long long after, int limit, std::vector<station_call> &part, bool &more) {
        return m_station.calls_after(after, limit, part, more);
      },
      [&](const std::vector<station_call> &batch, long long from, bool held, store_result &out) {
        if (!m_server.store_calls(m_set.station, batch, from, held, out))
          return false;
        for (const station_call &c : batch)
          note_unsettled(c.callid, {c.machineid, c.lineid}, c.flag);
        return true;
      });
}

cycle_result syncer::copy_bills(long long upto)
{
  std::vector<bill_row> rows;
  return copy_rows<station_bill>(
      row_table::bills, upto,
      [&](long long after, int limit, std::vector<station_bill> &part, bool &more) {
        return m_station.bills_after(after, limit, part, more);
      },
      [&](const std::vector<station_bill> &batch, long long from, bool held, store_result &out) {
        m_rules.refresh(m_set.rate_path);
        rows.clear();
        for (const station_bill &b : batch)
          rows.push_back({&b, m_rules.rule_for(b.desnum)});
        return m_server.store_bills(m_set.station, rows, from, held, out);
      });
}

cycle_result syncer::copy_shifts(long long upto)
{
  return copy_rows<station_shift>(
      row_table::shifts, upto,
      [&](long long after, int limit, std::vector<station_shift> &part, bool &more) {
        return m_station.shifts_after(after, limit, part, more);
      },
      [&](const std::vector<station_shift> &batch, long long from, bool held, store_result &out) {
        return m_server.store_shifts(m_set.station, batch, from, held, out);
      });
}

cycle_result syncer::copy_audits(long long upto)
{
  return copy_rows<station_audit>(
      row_table::audits, upto,
      [&](long long after, int limit, std::vector<station_audit> &part, bool &more) {
        return m_station.audits_after(after, limit, part, more);
      },
      [&](const std::vector<station_audit> &batch, long long from, bool held, store_result &out) {
        return m_server.store_audits(m_set.station, batch, from, held, out);
      });
}

cycle_result syncer::settle_flags()
{
  if (m_lines.empty())
    return cycle_result::done;
  std::vector<line_key> lines;
  for (const auto &l : m_lines)
    lines.push_back(l.first);
  std::vector<long long> counts;
  if (!m_station.unsettled_counts(lines, m_pos.call_rowid, counts))
    return station_trouble();
  std::vector<flag_change> changes;
  for (size_t i = 0; i < lines.size(); i++) {
    const std::unordered_set<std::string> &known = m_lines[lines[i]];
    if (counts[i] == (long long)known.size())
      continue;
    std::vector<std::string> ids, candidates, watch;
    if (!m_station.unsettled_calls(lines[i], m_pos.call_rowid, ids))
      return station_trouble();
    std::unordered_set<std::string> open(ids.begin(), ids.end());
    for (const std::string &id : known)
      if (!open.count(id))
        candidates.push_back(id);
    /* Unsettled in the file, settled on the server: a restored file shows a
     * call settled since its backup unsettled again. The server keeps it
     * settled (its bill stays there too); watched from now on, the call keeps
     * its line's count true. */
    for (const std::string &id : ids)
      if (!known.count(id))
        watch.push_back(id);
    for (const std::string &id : watch)
      note_unsettled(id, lines[i], 0);
    std::vector<int> flags;
    if (!m_station.flags_of(candidates, flags))
      return station_trouble();
    for (size_t k = 0; k < candidates.size(); k++) {
      if (flags[k] < 0)
        note_unsettled(candidates[k], lines[i], 1); /* gone from the file: the server keeps its copy */
      else if (flags[k] != 0)
        changes.push_back({candidates[k], flags[k]});
    }
  }
  if (changes.empty())
    return cycle_result::done;
  if (!m_server.store_flags(m_set.station, changes))
    return server_trouble(false);
  for (const flag_change &c : changes) {
    line_key line;
    auto it = m_unsettled.find(c.callid);
    if (it != m_unsettled.end())
      line = it->second;
    note_unsettled(c.callid, line, c.flag);
  }
  m_stats.flags += (long long)changes.size();
  return cycle_result::done;
}

cycle_result syncer::cycle()
{
  long long db_before = m_station.db_time_us();
  long long calls = m_stats.calls, bills = m_stats.bills, shifts = m_stats.shifts, audits = m_stats.audits,
            flags = m_stats.flags;
  m_stats.cycles++;
  long long version = 0;
  station_tables tables;
  if (!m_station.look(version, tables))
    return station_trouble();
  if (m_gate && version == m_data_version && m_station.opens() == m_gate_open) {
    long long us = m_station.db_time_us() - db_before;
    m_stats.idle_cycles++;
    m_stats.idle_db_us += us;
    m_stats.idle_db_max_us = std::max(m_stats.idle_db_max_us, us);
    return cycle_result::done;
  }
  if (tables.identity.empty()) {
    /* nothing to tell this file from another shop's by: the engine gives it
     * its identity when it starts, and this program only reads */
    log_failure("station", "the file \"" + m_set.db_path +
                               "\" has no identity yet: the station gives it one when it starts (this release "
                               "or newer); nothing is copied until then");
    return cycle_result::station_failed;
  }
  if (tables.identity.size() != 32 || tables.identity.find_first_not_of("0123456789abcdef") != std::string::npos) {
    log_failure("station", "the identity in the file \"" + m_set.db_path +
                               "\" is damaged (not the 32 hex digits the station makes): nothing is copied");
    return cycle_result::station_failed;
  }
  if (m_attached && tables.identity != m_identity) {
    log_line("station: the file \"%s\" is another file now (identity %s, before %s)", m_set.db_path.c_str(),
             tables.identity.c_str(), m_identity.c_str());
    m_attached = false;
  }
  if (!attach(tables.identity))
    return m_fatal != cycle_result::done ? m_fatal : cycle_result::server_failed;
  cycle_result r = check_positions(tables);
  if (r == cycle_result::done && tables.cdrtbl)
    r = copy_calls(tables.calls_max);
  if (r == cycle_result::done && tables.billtbl)
    r = copy_bills(tables.bills_max);
  if (r == cycle_result::done && tables.shifttbl)
    r = copy_shifts(tables.shifts_max);
  if (r == cycle_result::done && tables.audittbl)
    r = copy_audits(tables.audits_max);
  if (r == cycle_result::done && tables.cdrtbl)
    r = settle_flags();
  long long us = m_station.db_time_us() - db_before;
  m_stats.work_db_us += us;
  m_stats.work_db_max_us = std::max(m_stats.work_db_max_us, us);
  if (r != cycle_result::done || stopping())
    return r;
  m_gate = true;
  m_data_version = version;
  m_gate_open = m_station.opens();
  log_recovered("station");
  std::string done;
  const std::pair<long long, const char *> counts[] = {{m_stats.calls - calls, " calls"},
                                                       {m_stats.bills - bills, " bills"},
                                                       {m_stats.shifts - shifts, " shifts"},
                                                       {m_stats.audits - audits, " audit entries"},
                                                       {m_stats.flags - flags, " changed flags"}};
  for (const auto &c : counts)
    if (c.first > 0)
      done += (done.empty() ? "" : ", ") + std::to_string(c.first) + c.second;
  if (!done.empty())
    log_line("station: copied %s", done.c_str());
  return r;
}

int syncer::run(volatile sig_atomic_t &stop)
{
  m_stop = &stop;
  int status = 0, failures = 0;
  while (!stop) {
    cycle_result r = cycle();
    if (r == cycle_result::fatal || r == cycle_result::refused) {
      status = r == cycle_result::fatal ? SYNC_EXIT_NEWER_SCHEMA : SYNC_EXIT_OTHER_FILE;
      break;
    }
    if (m_set.once) {
      status = r == cycle_result::done ? 0 : 1;
      break;
    }
    double wait = m_set.interval_s;
    if (r == cycle_result::done) {
      failures = 0;
    } else {
      failures++;
      wait = std::min(wait, 0.5 * pow(2.0, std::min(failures - 1, 20)));
    }
    pause_for(wait, stop);
  }
  const cycle_stats &s = m_stats;
  long long work = s.cycles - s.idle_cycles;
  log_line("stopped after %lld cycles (%lld with nothing new): station database time per cycle with nothing new "
           "%.3f ms at most, %.3f ms on average; per cycle with rows %.1f ms at most, %.1f ms on average; "
           "%.1f ms waited in all for the file while the station held it",
           s.cycles, s.idle_cycles, s.idle_db_max_us / 1000.0,
           s.idle_cycles ? s.idle_db_us / 1000.0 / (double)s.idle_cycles : 0.0, s.work_db_max_us / 1000.0,
           work ? s.work_db_us / 1000.0 / (double)work : 0.0, m_station.wait_us() / 1000.0);
  m_server.disconnect();
  return status;
}

} /* namespace qsync */
