/* The sync program's side of the central server: connecting, the schema and
 * its version, the station's lock and position, the stores (COPY into a
 * temporary table, then one upsert and the position in the same transaction)
 * and the takings queries of the report. */
#include "server.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "schema.h"
#include "text.h"

namespace qsync {

/* 720518 is the first key of every advisory lock this program takes: 0 for the
 * schema, the hash of the station's name for a station. */

namespace {

void time_field(std::string &row, const std::string &t)
{
  if (is_station_time(t))
    copy_field(row, t);
  else
    copy_null(row);
}

std::string money(double v)
{
  char buf[64];
  snprintf(buf, sizeof buf, "%.2f", isfinite(v) && fabs(v) < 1e10 ? v : 0.0);
  return buf;
}

} /* namespace */

bool server::fail(const std::string &what)
{
  std::string msg = m_conn ? PQerrorMessage(m_conn) : "not connected";
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' '))
    msg.pop_back();
  for (char &c : msg)
    if (c == '\n')
      c = ' ';
  m_error = what + ": " + msg;
  if (m_conn && PQstatus(m_conn) != CONNECTION_OK)
    disconnect();
  return false;
}

bool server::connect(const std::string &dsn)
{
  disconnect();
  /* given before the DSN, so the DSN may override them; the encoding after it */
  const char *keys[] = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                        "keepalives_count", "application_name", "dbname", "client_encoding", nullptr};
  const char *values[] = {"10", "1", "10", "5", "3", "quenta-sync", dsn.c_str(), "UTF8", nullptr};
  m_conn = PQconnectdbParams(keys, values, 1);
  if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
    fail("cannot connect");
    disconnect();
    return false;
  }
  /* the server's notices ("... already exists, skipping") are no failures */
  PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
  /* A commit that a crash of the server loses takes its position with it, and
   * the rows are copied again: the copy need not wait for the server's disk. */
  static const char *const setup =
      "set statement_timeout = '120s';"
      "set synchronous_commit = off;";
  if (!run(setup)) {
    disconnect();
    return false;
  }
  return true;
}

void server::disconnect()
{
  if (m_conn)
    PQfinish(m_conn);
  m_conn = nullptr;
}

server::result server::exec(const char *sql, const std::vector<std::string> &params)
{
  if (!m_conn)
    return result(nullptr);
  std::vector<const char *> values;
  for (const std::string &p : params)
    values.push_back(p.c_str());
  PGresult *r = params.empty() ? PQexec(m_conn, sql)
                               : PQexecParams(m_conn, sql, (int)values.size(), nullptr, values.data(), nullptr,
                                              nullptr, 0);
  ExecStatusType st = PQresultStatus(r);
  const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  m_sqlstate = state ? state : "";
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    std::string first(sql, std::min<size_t>(strlen(sql), 60));
    for (char &c : first)
      if (c == '\n')
        c = ' ';
    fail("\"" + first + "...\"");
    PQclear(r);
    return result(nullptr);
  }
  return result(r);
}

bool server::run(const char *sql, const std::vector<std::string> &params)
{
  return exec(sql, params) != nullptr;
}

void server::rollback()
{
  if (m_conn && PQtransactionStatus(m_conn) != PQTRANS_IDLE) {
    PQclear(PQexec(m_conn, "rollback"));
    if (PQstatus(m_conn) != CONNECTION_OK)
      disconnect();
  }
}

bool server::copy_in(const char *sql, const std::string &data)
{
  if (!m_conn)
    return fail("copy");
  PGresult *r = PQexec(m_conn, sql);
  bool started = PQresultStatus(r) == PGRES_COPY_IN;
  PQclear(r);
  if (!started)
    return fail("copy");
  if (PQputCopyData(m_conn, data.data(), (int)data.size()) != 1 || PQputCopyEnd(m_conn, nullptr) != 1)
    return fail("copy");
  bool ok = true;
  m_sqlstate.clear();
  while ((r = PQgetResult(m_conn)) != nullptr) {
    if (PQresultStatus(r) != PGRES_COMMAND_OK) {
      ok = false;
      const char *state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
      m_sqlstate = state ? state : "";
    }
    PQclear(r);
  }
  return ok ? true : fail("copy");
}

schema_state server::ensure_schema(bool create)
{
  m_server_version = 0;
  if (!run("begin"))
    return schema_state::failed;
  /* One program at a time looks at and creates the schema: the look is a
   * statement of its own, so that it sees what the holder before committed. */
  result r = exec("select pg_advisory_xact_lock(720518, 0)");
  if (r)
    r = exec("select to_regclass('quenta.schema_version') is not null");
  if (!r) {
    rollback();
    return schema_state::failed;
  }
  if (strcmp(PQgetvalue(r.get(), 0, 0), "t") == 0) {
    result v = exec("select coalesce(max(version), 0) from quenta.schema_version");
    if (!v) {
      rollback();
      return schema_state::failed;
    }
    m_server_version = atoi(PQgetvalue(v.get(), 0, 0));
  }
  if (m_server_version > SCHEMA_VERSION) {
    rollback();
    m_error = "the server's schema \"quenta\" is version " + std::to_string(m_server_version) +
              ", newer than the version " + std::to_string(SCHEMA_VERSION) +
              " this quenta-sync knows: install the newer quenta-sync";
    return schema_state::newer;
  }
  if (m_server_version < SCHEMA_VERSION && !create) {
    rollback();
    m_error = m_server_version == 0 ? "the server holds no station's data (no schema \"quenta\")"
                                    : "the server's schema \"quenta\" is version " +
                                          std::to_string(m_server_version) + ", older than " +
                                          std::to_string(SCHEMA_VERSION) + ": run quenta-sync once to update it";
    return schema_state::failed;
  }
  for (int v = m_server_version; v < SCHEMA_VERSION && v < schema_migration_count; v++) {
    if (!run(schema_migrations[v]) ||
        !run("update quenta.schema_version set version = $1, installed = now()", {std::to_string(v + 1)})) {
      rollback();
      return schema_state::failed;
    }
  }
  if (!run("commit")) {
    rollback();
    return schema_state::failed;
  }
  m_server_version = SCHEMA_VERSION;
  if (create && !run("create temp table if not exists call_in (like quenta.call) on commit delete rows;"
                     "create temp table if not exists bill_in (like quenta.bill) on commit delete rows;"
                     "create temp table if not exists shift_in (like quenta.shift) on commit delete rows;"
                     "create temp table if not exists audit_in (like quenta.audit) on commit delete rows;"
                     "create temp table if not exists flag_in (callid text, flag smallint) on commit delete rows;"))
    return schema_state::failed;
  return schema_state::ok;
}

bool server::claim_station(const std::string &station, station_position &pos)
{
  result r = exec("select pg_try_advisory_lock(720518, hashtext($1))", {station});
  if (!r)
    return false;
  if (strcmp(PQgetvalue(r.get(), 0, 0), "t") != 0) {
    m_error = "another quenta-sync copies station \"" + station + "\" to this server";
    return false;
  }
  if (!run("insert into quenta.station (name) values ($1) on conflict (name) do nothing", {station}))
    return false;
  r = exec("select call_rowid, bill_rowid, shift_rowid, audit_rowid from quenta.station where name = $1",
           {station});
  if (!r || PQntuples(r.get()) != 1)
    return r ? fail("station row") : false;
  pos.call_rowid = atoll(PQgetvalue(r.get(), 0, 0));
  pos.bill_rowid = atoll(PQgetvalue(r.get(), 0, 1));
  pos.shift_rowid = atoll(PQgetvalue(r.get(), 0, 2));
  pos.audit_rowid = atoll(PQgetvalue(r.get(), 0, 3));
  return true;
}

bool server::unsettled(const std::string &station, std::vector<server_unsettled> &out)
{
  out.clear();
  result r = exec("select callid, machineid, lineid from quenta.call where station = $1 and flag = 0", {station});
  if (!r)
    return false;
  int n = PQntuples(r.get());
  out.reserve((size_t)n);
  for (int i = 0; i < n; i++)
    out.push_back({PQgetvalue(r.get(), i, 0), PQgetvalue(r.get(), i, 1), atoi(PQgetvalue(r.get(), i, 2))});
  return true;
}

bool server::store_rows(const copied_table &t, const std::string &data, const std::string &station, long long from,
                        long long to, bool &moved)
{
  moved = false;
  if (!run("begin"))
    return false;
  /* Rows after the station's position were never committed, so they go
   * straight into the table; a row already there (a call id stored again under
   * a new row) turns the batch into an upsert through the temporary table. */
  std::string copy = std::string("copy ") + t.table + " (" + t.columns + ") from stdin";
  bool ok = run("savepoint fresh") && copy_in(copy.c_str(), data);
  if (!ok && m_sqlstate == "23505" && run("rollback to savepoint fresh")) {
    std::string temp = std::string("copy ") + t.temp + " (" + t.columns + ") from stdin";
    std::string upsert = std::string("insert into ") + t.table + " (" + t.columns + ") select " + t.columns +
                         " from " + t.temp + " on conflict " + t.conflict;
    ok = copy_in(temp.c_str(), data) && run(upsert.c_str());
  }
  if (!ok) {
    rollback();
    return false;
  }
  return commit_position(station, t.position, from, to, moved);
}

bool server::commit_position(const std::string &station, const char *column, long long from, long long to,
                             bool &moved)
{
  std::string sql = std::string("update quenta.station set ") + column + " = $2, last_contact = now() " +
                    "where name = $1 and " + column + " = $3";
  result r = exec(sql.c_str(), {station, std::to_string(to), std::to_string(from)});
  if (!r) {
    rollback();
    return false;
  }
  if (strcmp(PQcmdTuples(r.get()), "1") != 0) {
    rollback();
    moved = true;
    m_error = std::string("the server's ") + column + " of station \"" + station + "\" is no longer " +
              std::to_string(from);
    return false;
  }
  if (!run("commit")) {
    rollback();
    return false;
  }
  return true;
}

const server::copied_table server::calls_table = {
    "quenta.call", "call_in", "station, callid, rowno, machineid, lineid, orgnum, desnum, bdate, edate, flag",
    "(station, callid) do update set rowno = excluded.rowno, machineid = excluded.machineid, "
    "lineid = excluded.lineid, orgnum = excluded.orgnum, desnum = excluded.desnum, bdate = excluded.bdate, "
    "edate = excluded.edate, flag = excluded.flag",
    "call_rowid"};
const server::copied_table server::bills_table = {
    "quenta.bill", "bill_in", "station, rowno, callid, calltime, period, amount, operator, billed, rule",
    "(station, rowno) do update set callid = excluded.callid, calltime = excluded.calltime, "
    "period = excluded.period, amount = excluded.amount, operator = excluded.operator, "
    "billed = excluded.billed, rule = excluded.rule",
    "bill_rowid"};
const server::copied_table server::shifts_table = {
    "quenta.shift", "shift_in", "station, rowno, began, handed_over, outgoing, takings, incoming",
    "(station, rowno) do update set began = excluded.began, handed_over = excluded.handed_over, "
    "outgoing = excluded.outgoing, takings = excluded.takings, incoming = excluded.incoming",
    "shift_rowid"};
const server::copied_table server::audits_table = {
    "quenta.audit", "audit_in", "station, rowno, happened, operator, action, detail", "(station, rowno) do nothing",
    "audit_rowid"};

bool server::store_calls(const std::string &station, const std::vector<station_call> &rows, long long from,
                         bool &moved)
{
  std::string data, row;
  for (const station_call &c : rows) {
    row.clear();
    copy_field(row, station);
    copy_field(row, gbk_to_utf8(c.callid));
    copy_field(row, std::to_string(c.rowid));
    copy_field(row, gbk_to_utf8(c.machineid));
    copy_field(row, std::to_string(c.lineid));
    copy_field(row, gbk_to_utf8(c.orgnum));
    copy_field(row, gbk_to_utf8(c.desnum));
    time_field(row, c.bdate);
    time_field(row, c.edate);
    copy_field(row, std::to_string(c.flag));
    data += row + "\n";
  }
  return store_rows(calls_table, data, station, from, rows.empty() ? from : rows.back().rowid, moved);
}

bool server::store_bills(const std::string &station, const std::vector<bill_row> &rows, long long from,
                         bool &moved)
{
  std::string data, row;
  for (const bill_row &r : rows) {
    const station_bill &b = *r.bill;
    row.clear();
    copy_field(row, station);
    copy_field(row, std::to_string(b.rowid));
    copy_field(row, gbk_to_utf8(b.callid));
    copy_field(row, std::to_string(b.calltime));
    copy_field(row, gbk_to_utf8(b.period));
    copy_field(row, money(b.amount));
    copy_field(row, gbk_to_utf8(b.admin));
    time_field(row, b.date);
    copy_field(row, gbk_to_utf8(r.rule));
    data += row + "\n";
  }
  return store_rows(bills_table, data, station, from, rows.empty() ? from : rows.back().bill->rowid, moved);
}

bool server::store_shifts(const std::string &station, const std::vector<station_shift> &rows, long long from,
                          bool &moved)
{
  std::string data, row;
  for (const station_shift &s : rows) {
    row.clear();
    copy_field(row, station);
    copy_field(row, std::to_string(s.rowid));
    time_field(row, s.bdate);
    time_field(row, s.edate);
    copy_field(row, gbk_to_utf8(s.outgoing));
    copy_field(row, money(s.takings));
    copy_field(row, gbk_to_utf8(s.incoming));
    data += row + "\n";
  }
  return store_rows(shifts_table, data, station, from, rows.empty() ? from : rows.back().rowid, moved);
}

bool server::store_audits(const std::string &station, const std::vector<station_audit> &rows, long long from,
                          bool &moved)
{
  std::string data, row;
  for (const station_audit &a : rows) {
    row.clear();
    copy_field(row, station);
    copy_field(row, std::to_string(a.rowid));
    time_field(row, a.date);
    copy_field(row, gbk_to_utf8(a.admin));
    copy_field(row, gbk_to_utf8(a.action));
    copy_field(row, gbk_to_utf8(a.detail));
    data += row + "\n";
  }
  return store_rows(audits_table, data, station, from, rows.empty() ? from : rows.back().rowid, moved);
}

bool server::store_flags(const std::string &station, const std::vector<flag_change> &changes)
{
  std::string data, row;
  for (const flag_change &f : changes) {
    row.clear();
    copy_field(row, gbk_to_utf8(f.callid));
    copy_field(row, std::to_string(f.flag));
    data += row + "\n";
  }
  if (!run("begin"))
    return false;
  if (!copy_in("copy flag_in from stdin", data) ||
      !run("update quenta.call c set flag = f.flag from flag_in f where c.station = $1 and c.callid = f.callid",
           {station}) ||
      !run("commit")) {
    rollback();
    return false;
  }
  return true;
}

bool server::takings(const std::string &by, const std::string &from, const std::string &to,
                     const std::string &station, std::vector<takings_row> &out)
{
  out.clear();
  std::string view, key;
  if (by == "day") {
    view = "quenta.takings_daily";
    key = "day::text";
  } else if (by == "operator") {
    view = "quenta.takings_operator";
    key = "operator";
  } else if (by == "rule") {
    view = "quenta.takings_rule";
    key = "rule";
  } else {
    m_error = "no takings by \"" + by + "\"";
    return false;
  }
  std::string sql = "select station, " + key + ", sum(bills)::bigint, coalesce(sum(seconds), 0)::bigint, " +
                    "coalesce(sum(takings), 0)::numeric(14, 2)::text from " + view +
                    " where day between $1::date and $2::date and ($3 = '' or station = $3) " +
                    "group by station, " + key + " order by station, " + key;
  result r = exec(sql.c_str(), {from, to, station});
  if (!r)
    return false;
  for (int i = 0; i < PQntuples(r.get()); i++)
    out.push_back({PQgetvalue(r.get(), i, 0), PQgetvalue(r.get(), i, 1), atoll(PQgetvalue(r.get(), i, 2)),
                   atoll(PQgetvalue(r.get(), i, 3)), PQgetvalue(r.get(), i, 4)});
  return true;
}

} /* namespace qsync */
