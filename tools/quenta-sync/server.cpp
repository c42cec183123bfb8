/* The sync program's side of the central server: connecting, the schema and
 * its version, the station's lock, identity and position, the keys of the
 * rows at the position, the stores (COPY straight into the table, or into a
 * temporary table and an insert that skips held rows, and the position in the
 * same transaction) and the takings queries of the report. */
#include "server.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "schema.h"
#include "text.h"
#include "utils/decimal.h"

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
  return utils::decimal_text(isfinite(v) && fabs(v) < 1e10 ? v : 0.0, 2).s;
}

/* The rows a statement inserted or updated. */
long long rows_done(PGresult *r)
{
  return atoll(PQcmdTuples(r));
}

/* A station time as its server timestamp gives it back, or "" for the null
 * that a time the program could not read became. */
std::string key_time(const std::string &t)
{
  return is_station_time(t) ? t : std::string();
}

const char key_sep = '\x1f';

} /* namespace */

std::string row_key(const station_call &c)
{
  return gbk_to_utf8(c.callid);
}

std::string row_key(const station_bill &b)
{
  return gbk_to_utf8(b.callid) + key_sep + key_time(b.date);
}

std::string row_key(const station_shift &s)
{
  return key_time(s.bdate) + key_sep + key_time(s.edate) + key_sep + gbk_to_utf8(s.outgoing);
}

std::string row_key(const station_audit &a)
{
  return key_time(a.date) + key_sep + gbk_to_utf8(a.admin) + key_sep + gbk_to_utf8(a.action);
}

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
  const char *keys[] = {"connect_timeout",
                        "keepalives",
                        "keepalives_idle",
                        "keepalives_interval",
                        "keepalives_count",
                        "application_name",
                        "dbname",
                        "client_encoding",
                        nullptr};
  const char *values[] = {"10", "1", "10", "5", "3", "quenta-sync", dsn.c_str(), "UTF8", nullptr};
  m_conn = PQconnectdbParams(keys, values, 1);
  if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
    fail("cannot connect");
    disconnect();
    return false;
  }
  /* the server's notices ("... already exists, skipping") are no failures */
  PQsetNoticeProcessor(
      m_conn, [](void *, const char *) {}, nullptr);
  /* A commit that a crash of the server loses takes its position with it, and
   * the rows are copied again: the copy need not wait for the server's disk. */
  static const char *const setup = "set statement_timeout = '120s';"
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
  PGresult *r = params.empty()
                    ? PQexec(m_conn, sql)
                    : PQexecParams(m_conn, sql, (int)values.size(), nullptr, values.data(), nullptr, nullptr, 0);
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
    m_error = m_server_version == 0
                  ? "the server holds no station's data (no schema \"quenta\")"
                  : "the server's schema \"quenta\" is version " + std::to_string(m_server_version) + ", older than " +
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

claim_result server::claim_station(const std::string &station, const std::string &identity, bool adopt,
                                   station_position &pos, std::string &known)
{
  result r = exec("select pg_try_advisory_lock(720518, hashtext($1))", {station});
  if (!r)
    return claim_result::failed;
  if (strcmp(PQgetvalue(r.get(), 0, 0), "t") != 0) {
    m_error = "another quenta-sync copies station \"" + station + "\" to this server";
    return claim_result::failed;
  }
  /* the station's lock is held from here on: no other program changes its row */
  r = exec("insert into quenta.station (name, identity) values ($1, $2) on conflict (name) do nothing",
           {station, identity});
  if (!r)
    return claim_result::failed;
  claim_result how = rows_done(r.get()) == 1 ? claim_result::first : claim_result::same;
  r = exec("select call_rowid, bill_rowid, shift_rowid, audit_rowid, coalesce(identity, '') from quenta.station "
           "where name = $1",
           {station});
  if (!r || PQntuples(r.get()) != 1) {
    if (r)
      fail("station row");
    return claim_result::failed;
  }
  pos.call_rowid = atoll(PQgetvalue(r.get(), 0, 0));
  pos.bill_rowid = atoll(PQgetvalue(r.get(), 0, 1));
  pos.shift_rowid = atoll(PQgetvalue(r.get(), 0, 2));
  pos.audit_rowid = atoll(PQgetvalue(r.get(), 0, 3));
  known = PQgetvalue(r.get(), 0, 4);
  if (known == identity)
    return how;
  if (known.empty()) {
    /* copied by a program that kept no identity: the file it finds now is taken
     * for the station's own, and its position's rows are checked by key */
    if (!run("update quenta.station set identity = $2 where name = $1 and identity is null", {station, identity}))
      return claim_result::failed;
    return claim_result::recorded;
  }
  if (!adopt) {
    m_error = "the server holds station \"" + station + "\" from another station file (identity " + known +
              "; this file's is " + identity +
              "): another shop's file under this name, or a file that is not the shop's own? nothing is copied. "
              "Give a shop of its own a name of its own (--station); when this shop really moved to this file, "
              "run quenta-sync once with --adopt";
    return claim_result::foreign;
  }
  if (!run("update quenta.station set identity = $2, call_rowid = 0, bill_rowid = 0, shift_rowid = 0, "
           "audit_rowid = 0 where name = $1",
           {station, identity}))
    return claim_result::failed;
  pos = station_position{};
  return claim_result::adopted;
}

const server::copied_table &server::table_of(row_table t)
{
  switch (t) {
  case row_table::calls:
    return calls_table;
  case row_table::bills:
    return bills_table;
  case row_table::shifts:
    return shifts_table;
  case row_table::audits:
    break;
  }
  return audits_table;
}

bool server::holds_row(const std::string &station, row_table table, long long rowno, const std::string &key, bool &held)
{
  /* a lookup by the key's index: (station, callid) for calls, (station, rowno, ...) for the others */
  const copied_table &t = table_of(table);
  std::string sql =
      std::string("select 1 from ") + t.table + " where station = $1 and rowno = $2 and " + t.key + " = $3 limit 1";
  result r = exec(sql.c_str(), {station, std::to_string(rowno), key});
  if (!r)
    return false;
  held = PQntuples(r.get()) == 1;
  return true;
}

bool server::rewind(const std::string &station, row_table table, long long from, bool &moved)
{
  moved = false;
  return run("begin") && commit_position(station, table_of(table).position, from, 0, moved);
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

bool server::store_rows(const copied_table &t, const std::string &data, long long nrows, const std::string &station,
                        long long from, long long to, bool held, store_result &out)
{
  out = store_result{};
  if (!run("begin"))
    return false;
  /* Rows after the station's position were never committed, so they go
   * straight into the table; a row already there (the file read again after
   * its rows went back, a call id stored again under a new row) turns the
   * batch into an insert through the temporary table that leaves the held
   * rows as they are. */
  bool ok = false, via_temp = held;
  if (!held) {
    std::string copy = std::string("copy ") + t.table + " (" + t.columns + ") from stdin";
    ok = run("savepoint fresh") && copy_in(copy.c_str(), data);
    if (ok)
      out.added = nrows;
    else
      via_temp = m_sqlstate == "23505" && run("rollback to savepoint fresh");
  }
  if (via_temp) {
    std::string temp = std::string("copy ") + t.temp + " (" + t.columns + ") from stdin";
    std::string insert = std::string("insert into ") + t.table + " (" + t.columns + ") select " + t.columns + " from " +
                         t.temp + " on conflict do nothing";
    result added, settled;
    ok = copy_in(temp.c_str(), data) && (added = exec(insert.c_str())) &&
         (!t.after_insert || (settled = exec(t.after_insert, {station})));
    if (ok) {
      out.added = rows_done(added.get());
      out.settled = settled ? rows_done(settled.get()) : 0;
    }
  }
  if (!ok) {
    rollback();
    return false;
  }
  return commit_position(station, t.position, from, to, out.moved);
}

bool server::commit_position(const std::string &station, const char *column, long long from, long long to, bool &moved)
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
    m_error =
        std::string("the server's ") + column + " of station \"" + station + "\" is no longer " + std::to_string(from);
    return false;
  }
  if (!run("commit")) {
    rollback();
    return false;
  }
  return true;
}

/* A settled flag is taken over; a flag the server holds settled stays so (a
 * restored file may show the call unsettled again, its bill stays too). The
 * keys are those of the unique indexes (see schema.cpp), times as their
 * station texts. */
const server::copied_table server::calls_table = {
    "quenta.call",
    "call_in",
    "station, callid, rowno, machineid, lineid, orgnum, desnum, bdate, edate, flag",
    "update quenta.call c set flag = i.flag from call_in i "
    "where c.station = $1 and i.station = $1 and c.callid = i.callid and c.flag = 0 and i.flag <> 0",
    "call_rowid",
    "callid"};
const server::copied_table server::bills_table = {
    "quenta.bill", "bill_in",    "station, rowno, callid, calltime, period, amount, operator, billed, rule",
    nullptr,       "bill_rowid", "callid || chr(31) || coalesce(to_char(billed, 'YYYY-MM-DD HH24:MI:SS'), '')"};
const server::copied_table server::shifts_table = {
    "quenta.shift",
    "shift_in",
    "station, rowno, began, handed_over, outgoing, takings, incoming",
    nullptr,
    "shift_rowid",
    "coalesce(to_char(began, 'YYYY-MM-DD HH24:MI:SS'), '') || chr(31) || "
    "coalesce(to_char(handed_over, 'YYYY-MM-DD HH24:MI:SS'), '') || chr(31) || outgoing"};
/* An audit entry the server holds stays as it was first copied. */
const server::copied_table server::audits_table = {
    "quenta.audit",
    "audit_in",
    "station, rowno, happened, operator, action, detail",
    nullptr,
    "audit_rowid",
    "coalesce(to_char(happened, 'YYYY-MM-DD HH24:MI:SS'), '') || chr(31) || operator || chr(31) || action"};

bool server::store_calls(const std::string &station, const std::vector<station_call> &rows, long long from, bool held,
                         store_result &out)
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
  long long to = rows.empty() ? from : rows.back().rowid;
  return store_rows(calls_table, data, (long long)rows.size(), station, from, to, held, out);
}

bool server::store_bills(const std::string &station, const std::vector<bill_row> &rows, long long from, bool held,
                         store_result &out)
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
  long long to = rows.empty() ? from : rows.back().bill->rowid;
  return store_rows(bills_table, data, (long long)rows.size(), station, from, to, held, out);
}

bool server::store_shifts(const std::string &station, const std::vector<station_shift> &rows, long long from, bool held,
                          store_result &out)
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
  long long to = rows.empty() ? from : rows.back().rowid;
  return store_rows(shifts_table, data, (long long)rows.size(), station, from, to, held, out);
}

bool server::store_audits(const std::string &station, const std::vector<station_audit> &rows, long long from, bool held,
                          store_result &out)
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
  long long to = rows.empty() ? from : rows.back().rowid;
  return store_rows(audits_table, data, (long long)rows.size(), station, from, to, held, out);
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

bool server::takings(const std::string &by, const std::string &from, const std::string &to, const std::string &station,
                     std::vector<takings_row> &out)
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
                    " where day between $1::date and $2::date and ($3 = '' or station = $3) " + "group by station, " +
                    key + " order by station, " + key;
  result r = exec(sql.c_str(), {from, to, station});
  if (!r)
    return false;
  for (int i = 0; i < PQntuples(r.get()); i++)
    out.push_back({PQgetvalue(r.get(), i, 0), PQgetvalue(r.get(), i, 1), atoll(PQgetvalue(r.get(), i, 2)),
                   atoll(PQgetvalue(r.get(), i, 3)), PQgetvalue(r.get(), i, 4)});
  return true;
}

} /* namespace qsync */
