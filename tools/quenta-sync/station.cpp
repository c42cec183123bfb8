/* Reading the station's file: the read-only connection and its prepared
 * statements, bounded read transactions, the new rows of each table, and the
 * probes that find calls settled since the last look. */
#include "station.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace qsync {

namespace {

using steady = std::chrono::steady_clock;

std::string column_text(sqlite3_stmt *st, int i)
{
  const void *b = sqlite3_column_blob(st, i);
  return b ? std::string(static_cast<const char *>(b), (size_t)sqlite3_column_bytes(st, i)) : std::string();
}

} /* namespace */

/* One read transaction: begun on construction, ended (always by a rollback,
 * since nothing is written) on destruction; its time is counted. */
class station_db::read_txn {
public:
  explicit read_txn(station_db &db) : m_db(db), m_start(steady::now()), m_wait_before(db.m_wait_us)
  {
    m_ok = sqlite3_exec(db.m_db, "begin", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~read_txn()
  {
    if (m_ok)
      sqlite3_exec(m_db.m_db, "rollback", nullptr, nullptr, nullptr);
    /* the time spent waiting for the station's own lock holds nothing of it */
    long long us = std::chrono::duration_cast<std::chrono::microseconds>(steady::now() - m_start).count();
    m_db.m_db_us += std::max(0LL, us - (m_db.m_wait_us - m_wait_before));
  }
  read_txn(const read_txn &) = delete;
  read_txn &operator=(const read_txn &) = delete;

  bool ok() const { return m_ok; }
  /* The transaction has run its time. */
  bool spent() const { return steady::now() - m_start >= std::chrono::milliseconds(STATION_READ_MS); }

private:
  station_db &m_db;
  steady::time_point m_start;
  long long m_wait_before;
  bool m_ok;
};

bool station_db::ensure_open()
{
  struct stat st;
  if (stat(m_path.c_str(), &st) != 0) {
    close();
    m_error = "no station database \"" + m_path + "\" (yet)";
    return false;
  }
  if (m_db && st.st_ino == m_ino && st.st_dev == m_dev)
    return true;
  close();
  int rc = sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    m_error = std::string("cannot open \"") + m_path + "\": " + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
    close();
    return false;
  }
  sqlite3_busy_handler(m_db, on_busy, this);
  m_opens++;
  m_ino = st.st_ino;
  m_dev = st.st_dev;
  return true;
}

int station_db::on_busy(void *self, int tries)
{
  /* SQLite's own waits, timed: 1, 2, 5, 10 ms, then 20 ms each */
  static const int steps[] = {1, 2, 5, 10};
  auto *db = static_cast<station_db *>(self);
  if (tries == 0)
    db->m_waited_ms = 0;
  int ms = tries < 4 ? steps[tries] : 20;
  if (db->m_waited_ms + ms > STATION_WAIT_MS)
    return 0;
  auto start = steady::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  db->m_wait_us += std::chrono::duration_cast<std::chrono::microseconds>(steady::now() - start).count();
  db->m_waited_ms += ms;
  return 1;
}

void station_db::close()
{
  for (auto &s : m_stmts)
    sqlite3_finalize(s.second);
  m_stmts.clear();
  if (m_db)
    sqlite3_close(m_db);
  m_db = nullptr;
}

sqlite3_stmt *station_db::prepare(const char *sql)
{
  auto it = m_stmts.find(sql);
  if (it != m_stmts.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt *st = nullptr;
  int rc = sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    fail("prepare", rc);
    sqlite3_finalize(st);
    return nullptr;
  }
  m_stmts[sql] = st;
  return st;
}

bool station_db::fail(const char *what, int rc)
{
  bool held = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
  m_error = std::string(what) + ": " + (held ? "the file is held by another connection: " : "") +
            (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
  return false;
}

bool station_db::look(long long &data_version, station_tables &tables)
{
  if (!ensure_open())
    return false;
  read_txn txn(*this);
  if (!txn.ok())
    return fail("begin", sqlite3_errcode(m_db));
  sqlite3_stmt *dv = prepare("pragma data_version");
  if (!dv)
    return false;
  int rc = sqlite3_step(dv);
  if (rc != SQLITE_ROW)
    return fail("data_version", rc);
  data_version = sqlite3_column_int64(dv, 0);
  sqlite3_reset(dv);
  sqlite3_stmt *st = prepare("select name from sqlite_master where type='table' and name in "
                             "('cdrtbl', 'billtbl', 'shifttbl', 'audittbl', 'stationtbl')");
  if (!st)
    return false;
  tables = station_tables{};
  bool identified = false;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    std::string name = column_text(st, 0);
    tables.cdrtbl |= name == "cdrtbl";
    tables.billtbl |= name == "billtbl";
    tables.shifttbl |= name == "shifttbl";
    tables.audittbl |= name == "audittbl";
    identified |= name == "stationtbl";
  }
  sqlite3_reset(st);
  if (rc != SQLITE_DONE)
    return fail("tables", rc);
  if (identified) {
    /* prepared only once the table is there: a statement on a missing table
     * does not prepare */
    sqlite3_stmt *id = prepare("select id from stationtbl order by rowid limit 1");
    if (!id)
      return false;
    rc = sqlite3_step(id);
    if (rc == SQLITE_ROW)
      tables.identity = column_text(id, 0);
    sqlite3_reset(id);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
      return fail("identity", rc);
  }
  struct {
    bool present;
    const char *sql;
    long long *max;
  } lasts[] = {{tables.cdrtbl, "select max(rowid) from cdrtbl", &tables.calls_max},
               {tables.billtbl, "select max(rowid) from billtbl", &tables.bills_max},
               {tables.shifttbl, "select max(rowid) from shifttbl", &tables.shifts_max},
               {tables.audittbl, "select max(rowid) from audittbl", &tables.audits_max}};
  for (auto &l : lasts) {
    if (!l.present)
      continue;
    sqlite3_stmt *m = prepare(l.sql);
    if (!m)
      return false;
    rc = sqlite3_step(m);
    if (rc != SQLITE_ROW) {
      sqlite3_reset(m);
      return fail("last rows", rc);
    }
    *l.max = sqlite3_column_int64(m, 0);
    sqlite3_reset(m);
  }
  return true;
}

/* Reads the rows of sql (its ?1 bound to after) in one read transaction,
 * handing each to take, until the limit, the end, or the transaction's time is
 * spent; more tells whether rows may remain. what names the table in the log. */
template <typename Take>
bool station_db::rows_after(const char *sql, const char *what, long long after, int limit, bool &more, Take take)
{
  more = false;
  read_txn txn(*this);
  if (!txn.ok())
    return fail("begin", sqlite3_errcode(m_db));
  sqlite3_stmt *st = prepare(sql);
  if (!st)
    return false;
  sqlite3_bind_int64(st, 1, after);
  int rc, n = 0;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    take(st);
    if (++n >= limit || txn.spent()) {
      more = true;
      rc = SQLITE_DONE;
      break;
    }
  }
  sqlite3_reset(st);
  return rc == SQLITE_DONE ? true : fail(what, rc);
}

bool station_db::calls_after(long long after, int limit, std::vector<station_call> &out, bool &more)
{
  out.clear();
  return rows_after("select rowid, callid, machineid, lineid, orgnum, desnum, bdate, edate, flag "
                    "from cdrtbl where rowid > ?1 order by rowid",
                    "reading cdrtbl", after, limit, more, [&](sqlite3_stmt *s) {
                      out.push_back({sqlite3_column_int64(s, 0), column_text(s, 1), column_text(s, 2),
                                     sqlite3_column_int(s, 3), column_text(s, 4), column_text(s, 5), column_text(s, 6),
                                     column_text(s, 7), sqlite3_column_int(s, 8)});
                    });
}

bool station_db::bills_after(long long after, int limit, std::vector<station_bill> &out, bool &more)
{
  out.clear();
  return rows_after("select b.rowid, b.callid, b.calltime, b.period, b.count, b.admin, b.date, c.desnum "
                    "from billtbl b left join cdrtbl c on c.callid = b.callid "
                    "where b.rowid > ?1 order by b.rowid",
                    "reading billtbl", after, limit, more, [&](sqlite3_stmt *s) {
                      out.push_back({sqlite3_column_int64(s, 0), column_text(s, 1), sqlite3_column_int64(s, 2),
                                     column_text(s, 3), sqlite3_column_double(s, 4), column_text(s, 5),
                                     column_text(s, 6), column_text(s, 7)});
                    });
}

bool station_db::shifts_after(long long after, int limit, std::vector<station_shift> &out, bool &more)
{
  out.clear();
  return rows_after("select rowid, bdate, edate, outgoing, takings, incoming "
                    "from shifttbl where rowid > ?1 order by rowid",
                    "reading shifttbl", after, limit, more, [&](sqlite3_stmt *s) {
                      out.push_back({sqlite3_column_int64(s, 0), column_text(s, 1), column_text(s, 2),
                                     column_text(s, 3), sqlite3_column_double(s, 4), column_text(s, 5)});
                    });
}

bool station_db::audits_after(long long after, int limit, std::vector<station_audit> &out, bool &more)
{
  out.clear();
  return rows_after("select rowid, date, admin, action, detail from audittbl where rowid > ?1 order by rowid",
                    "reading audittbl", after, limit, more, [&](sqlite3_stmt *s) {
                      out.push_back({sqlite3_column_int64(s, 0), column_text(s, 1), column_text(s, 2),
                                     column_text(s, 3), column_text(s, 4)});
                    });
}

bool station_db::unsettled_counts(const std::vector<line_key> &lines, long long upto, std::vector<long long> &counts)
{
  counts.assign(lines.size(), 0);
  size_t i = 0;
  while (i < lines.size()) {
    read_txn txn(*this);
    if (!txn.ok())
      return fail("begin", sqlite3_errcode(m_db));
    /* the line index (machineid, lineid, flag) answers this without the table */
    sqlite3_stmt *st = prepare("select count(*) from cdrtbl where machineid = ?1 and lineid = ?2 and flag = 0 "
                               "and rowid <= ?3");
    if (!st)
      return false;
    do {
      sqlite3_bind_text(st, 1, lines[i].first.data(), (int)lines[i].first.size(), SQLITE_STATIC);
      sqlite3_bind_int(st, 2, lines[i].second);
      sqlite3_bind_int64(st, 3, upto);
      int rc = sqlite3_step(st);
      if (rc != SQLITE_ROW) {
        sqlite3_reset(st);
        return fail("counting unsettled calls", rc);
      }
      counts[i] = sqlite3_column_int64(st, 0);
      sqlite3_reset(st);
      i++;
    } while (i < lines.size() && !txn.spent());
  }
  return true;
}

bool station_db::unsettled_calls(const line_key &line, long long upto, std::vector<std::string> &callids)
{
  callids.clear();
  read_txn txn(*this);
  if (!txn.ok())
    return fail("begin", sqlite3_errcode(m_db));
  sqlite3_stmt *st = prepare("select callid from cdrtbl where machineid = ?1 and lineid = ?2 and flag = 0 "
                             "and rowid <= ?3");
  if (!st)
    return false;
  sqlite3_bind_text(st, 1, line.first.data(), (int)line.first.size(), SQLITE_STATIC);
  sqlite3_bind_int(st, 2, line.second);
  sqlite3_bind_int64(st, 3, upto);
  int rc;
  /* one line's calls in one transaction: cut short, a call would look settled */
  while ((rc = sqlite3_step(st)) == SQLITE_ROW)
    callids.push_back(column_text(st, 0));
  sqlite3_reset(st);
  return rc == SQLITE_DONE ? true : fail("reading unsettled calls", rc);
}

bool station_db::flags_of(const std::vector<std::string> &callids, std::vector<int> &flags)
{
  flags.assign(callids.size(), -1);
  size_t i = 0;
  while (i < callids.size()) {
    read_txn txn(*this);
    if (!txn.ok())
      return fail("begin", sqlite3_errcode(m_db));
    sqlite3_stmt *st = prepare("select flag from cdrtbl where callid = ?1");
    if (!st)
      return false;
    do {
      sqlite3_bind_text(st, 1, callids[i].data(), (int)callids[i].size(), SQLITE_STATIC);
      int rc = sqlite3_step(st);
      if (rc == SQLITE_ROW)
        flags[i] = sqlite3_column_int(st, 0);
      else if (rc != SQLITE_DONE) {
        sqlite3_reset(st);
        return fail("reading flags", rc);
      }
      sqlite3_reset(st);
      i++;
    } while (i < callids.size() && !txn.spent());
  }
  return true;
}

} /* namespace qsync */
