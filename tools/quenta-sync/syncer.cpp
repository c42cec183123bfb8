/* The copy cycle: the look at the station's file, the copies of new rows in
 * batches, the settled flags, and the loop with its retry waits. */
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

} /* namespace */

syncer::syncer(const sync_settings &s) : m_set(s), m_station(s.db_path) {}

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

bool syncer::attach()
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
    log_line("server: %s; quenta-sync stops (the station goes on)", m_server.error().c_str());
    m_fatal = true;
    m_server.disconnect();
    return false;
  }
  std::vector<server_unsettled> unsettled;
  if (schema != schema_state::ok || !m_server.claim_station(m_set.station, m_pos) ||
      !m_server.unsettled(m_set.station, unsettled)) {
    log_failure("server", m_server.error());
    m_server.disconnect();
    return false;
  }
  m_unsettled.clear();
  m_lines.clear();
  for (const server_unsettled &u : unsettled)
    note_unsettled(utf8_to_gbk(u.callid), {utf8_to_gbk(u.machineid), u.lineid}, 0);
  log_recovered("server");
  log_line("server: station \"%s\" copied up to call row %lld, bill row %lld, shift row %lld, audit row %lld; "
           "%zu calls unsettled",
           m_set.station.c_str(), m_pos.call_rowid, m_pos.bill_rowid, m_pos.shift_rowid, m_pos.audit_rowid,
           m_unsettled.size());
  m_attached = true;
  return true;
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

cycle_result syncer::copy_calls(long long upto)
{
  std::vector<station_call> batch;
  while (m_pos.call_rowid < upto && !stopping()) {
    if (!gather(m_pos.call_rowid, (size_t)m_set.batch, batch,
                [&](long long after, int limit, std::vector<station_call> &part, bool &more) {
                  return m_station.calls_after(after, limit, part, more);
                }))
      return station_trouble();
    if (batch.empty())
      break;
    bool moved = false;
    if (!m_server.store_calls(m_set.station, batch, m_pos.call_rowid, moved))
      return server_trouble(moved);
    m_pos.call_rowid = batch.back().rowid;
    for (const station_call &c : batch)
      note_unsettled(c.callid, {c.machineid, c.lineid}, c.flag);
    long long before = m_stats.calls;
    m_stats.calls += (long long)batch.size();
    if (m_stats.calls / 100000 != before / 100000)
      log_line("station: %lld calls copied, up to row %lld", m_stats.calls, m_pos.call_rowid);
  }
  return cycle_result::done;
}

cycle_result syncer::copy_bills(long long upto)
{
  std::vector<station_bill> batch;
  std::vector<bill_row> rows;
  while (m_pos.bill_rowid < upto && !stopping()) {
    if (!gather(m_pos.bill_rowid, (size_t)m_set.batch, batch,
                [&](long long after, int limit, std::vector<station_bill> &part, bool &more) {
                  return m_station.bills_after(after, limit, part, more);
                }))
      return station_trouble();
    if (batch.empty())
      break;
    m_rules.refresh(m_set.rate_path);
    rows.clear();
    for (const station_bill &b : batch)
      rows.push_back({&b, m_rules.rule_for(b.desnum)});
    bool moved = false;
    if (!m_server.store_bills(m_set.station, rows, m_pos.bill_rowid, moved))
      return server_trouble(moved);
    m_pos.bill_rowid = batch.back().rowid;
    long long before = m_stats.bills;
    m_stats.bills += (long long)batch.size();
    if (m_stats.bills / 100000 != before / 100000)
      log_line("station: %lld bills copied, up to row %lld", m_stats.bills, m_pos.bill_rowid);
  }
  return cycle_result::done;
}

cycle_result syncer::copy_shifts(long long upto)
{
  std::vector<station_shift> batch;
  while (m_pos.shift_rowid < upto && !stopping()) {
    if (!gather(m_pos.shift_rowid, (size_t)m_set.batch, batch,
                [&](long long after, int limit, std::vector<station_shift> &part, bool &more) {
                  return m_station.shifts_after(after, limit, part, more);
                }))
      return station_trouble();
    if (batch.empty())
      break;
    bool moved = false;
    if (!m_server.store_shifts(m_set.station, batch, m_pos.shift_rowid, moved))
      return server_trouble(moved);
    m_pos.shift_rowid = batch.back().rowid;
    m_stats.shifts += (long long)batch.size();
  }
  return cycle_result::done;
}

cycle_result syncer::copy_audits(long long upto)
{
  std::vector<station_audit> batch;
  while (m_pos.audit_rowid < upto && !stopping()) {
    if (!gather(m_pos.audit_rowid, (size_t)m_set.batch, batch,
                [&](long long after, int limit, std::vector<station_audit> &part, bool &more) {
                  return m_station.audits_after(after, limit, part, more);
                }))
      return station_trouble();
    if (batch.empty())
      break;
    bool moved = false;
    if (!m_server.store_audits(m_set.station, batch, m_pos.audit_rowid, moved))
      return server_trouble(moved);
    m_pos.audit_rowid = batch.back().rowid;
    m_stats.audits += (long long)batch.size();
  }
  return cycle_result::done;
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
    std::vector<std::string> ids, candidates;
    if (!m_station.unsettled_calls(lines[i], m_pos.call_rowid, ids))
      return station_trouble();
    std::unordered_set<std::string> open(ids.begin(), ids.end());
    for (const std::string &id : known)
      if (!open.count(id))
        candidates.push_back(id);
    /* unsettled in the file, settled on the server: turned back */
    for (const std::string &id : ids)
      if (!known.count(id))
        changes.push_back({id, 0});
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
  if (!attach())
    return m_fatal ? cycle_result::fatal : cycle_result::server_failed;
  struct {
    const char *what;
    long long last, copied;
  } ends[] = {{"calls", tables.calls_max, m_pos.call_rowid},
              {"bills", tables.bills_max, m_pos.bill_rowid},
              {"shifts", tables.shifts_max, m_pos.shift_rowid},
              {"audit entries", tables.audits_max, m_pos.audit_rowid}};
  for (const auto &e : ends)
    if (e.last < e.copied) {
      log_failure("station", std::string("the file's ") + e.what + " end at row " + std::to_string(e.last) +
                                 " but the server holds rows up to " + std::to_string(e.copied) +
                                 " from station \"" + m_set.station +
                                 "\": another station's file, or an older copy? nothing is copied");
      return cycle_result::station_failed;
    }
  cycle_result r = cycle_result::done;
  if (tables.cdrtbl)
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
    if (r == cycle_result::fatal) {
      status = 3;
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
