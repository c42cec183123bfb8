/* The central PostgreSQL server as the sync program uses it: one connection
 * through libpq, the versioned schema "quenta" (created on first contact,
 * refused when newer than this program knows), one session lock per station
 * name, the identity of the file the name belongs to, and the stores that copy
 * rows. Every store is one transaction that writes its rows by their key
 * (COPY, or, when a row is there already, an insert that leaves the rows the
 * server holds as they are) and moves the station's position on the server
 * from the value this program last read to the batch's last row: a batch
 * either lands whole with its position or not at all, so a repeat after a
 * crash lands on the same rows and a committed batch is never sent again.
 *
 * The keys: a call is its station and call id; a bill is its station, row
 * number, call id and time; a shift its station, row number, times and
 * outgoing operator; an audit entry its station, row number, time, operator
 * and action. A bill, a shift or an audit entry on a row number that a
 * restored backup gave out again is therefore a row of its own beside the
 * earlier one. Audit entries are only ever added: one the server holds is
 * never written over.
 *
 * Texts handed to the server are UTF-8 (the connection's client encoding);
 * times are station times "%Y-%m-%d %H:%M:%S" or null when unreadable. */
#ifndef QUENTA_SYNC_SERVER_H
#define QUENTA_SYNC_SERVER_H

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "station.h"

namespace qsync {

#define SCHEMA_VERSION 3

/* Where the station stands on the server: the last station row of each table
 * whose copy committed. */
struct station_position {
  long long call_rowid = 0, bill_rowid = 0, shift_rowid = 0, audit_rowid = 0;
};

/* How the server knows the station's name, as claim_station found it. */
enum class claim_result {
  same,     /* the name belongs to this file */
  first,    /* the name is new: it now belongs to this file */
  recorded, /* the name came from a program that kept no identity: now this file's */
  adopted,  /* --adopt: the name moved from another file to this one */
  foreign,  /* the name belongs to another file: refused (error() says so) */
  failed    /* the server failed or another program holds the name */
};

/* The server's tables of station rows, for the calls that concern one. */
enum class row_table { calls, bills, shifts, audits };

/* What a store did. */
struct store_result {
  bool moved = false;    /* refused: the server's position was no longer `from` */
  long long added = 0;   /* rows the server did not hold before */
  long long settled = 0; /* calls it held as unsettled and now holds settled */
};

/* An unsettled call as the server holds it. */
struct server_unsettled {
  std::string callid, machineid; /* UTF-8 */
  int lineid;
};

/* A bill with its rule, as the server stores it. */
struct bill_row {
  const station_bill *bill;
  std::string rule; /* GBK, as the station's rate file names it */
};

/* A flag that changed on the station. */
struct flag_change {
  std::string callid; /* GBK, as the station holds it */
  int flag;
};

/* One row of a takings report. */
struct takings_row {
  std::string station, key; /* key: the day, the operator or the rule */
  long long bills, seconds;
  std::string takings; /* numeric text, two decimals */
};

enum class schema_state { ok, newer, failed };

class server {
public:
  server() = default;
  ~server() { disconnect(); }
  server(const server &) = delete;
  server &operator=(const server &) = delete;

  /* Connects with the DSN (libpq's "key=value ..." or a URI); false with
   * error(). Time-outs, keep-alives and the client encoding are set first,
   * so the DSN may override them. */
  bool connect(const std::string &dsn);
  void disconnect();
  bool connected() const { return m_conn != nullptr; }

  /* Creates the schema when the server has none, brings an older one up to
   * SCHEMA_VERSION; `newer` (with the server's version in error()) when the
   * server's schema is newer. `create` false: only reads the version. */
  schema_state ensure_schema(bool create = true);

  /* Takes the station's session lock (failed when another sync program holds
   * it), records the station with the identity of its file, or checks the
   * identity against the one recorded, and reads its position. A name that
   * belongs to another file is refused (foreign), unless `adopt`: then it
   * moves to this file, with its position at the start, so the file's rows
   * are copied by key beside what the server holds from the other file.
   * `known` is the identity the server held for the name ("" for none). */
  claim_result claim_station(const std::string &station, const std::string &identity, bool adopt, station_position &pos,
                             std::string &known);
  bool unsettled(const std::string &station, std::vector<server_unsettled> &out);
  /* Whether the server holds a row of the table at the row number with the
   * key (row_key) in `held`; false when the server failed. */
  bool holds_row(const std::string &station, row_table table, long long rowno, const std::string &key, bool &held);
  /* Moves the table's position back to the start from `from` (moved, and
   * false, when it was no longer there). */
  bool rewind(const std::string &station, row_table table, long long from, bool &moved);

  /* The stores. With `held` the rows are likely on the server already (the
   * file is read again after its rows went back), and the insert that skips
   * them is taken at once rather than after a COPY that fails. A call already
   * held keeps its row, except that a settled flag is taken over. */
  bool store_calls(const std::string &station, const std::vector<station_call> &rows, long long from, bool held,
                   store_result &out);
  bool store_bills(const std::string &station, const std::vector<bill_row> &rows, long long from, bool held,
                   store_result &out);
  bool store_shifts(const std::string &station, const std::vector<station_shift> &rows, long long from, bool held,
                    store_result &out);
  bool store_audits(const std::string &station, const std::vector<station_audit> &rows, long long from, bool held,
                    store_result &out);
  bool store_flags(const std::string &station, const std::vector<flag_change> &changes);

  /* Takings between two days (inclusive) per shop and day, operator or rule
   * ("day", "operator", "rule"), of one station or (empty) all. */
  bool takings(const std::string &by, const std::string &from, const std::string &to, const std::string &station,
               std::vector<takings_row> &out);

  const std::string &error() const { return m_error; }

private:
  struct result_free {
    void operator()(PGresult *r) const { PQclear(r); }
  };
  using result = std::unique_ptr<PGresult, result_free>;

  result exec(const char *sql, const std::vector<std::string> &params = {});
  bool run(const char *sql, const std::vector<std::string> &params = {});
  bool copy_in(const char *sql, const std::string &data);
  bool fail(const std::string &what);
  /* A table the stores copy into: its columns in COPY's order, the temporary
   * table of the insert that skips held rows, what follows that insert (null
   * for nothing), the position's column, the key text of a row (row_key). */
  struct copied_table {
    const char *table, *temp, *columns, *after_insert, *position, *key;
  };
  static const copied_table calls_table, bills_table, shifts_table, audits_table;
  static const copied_table &table_of(row_table t);
  bool store_rows(const copied_table &t, const std::string &data, long long nrows, const std::string &station,
                  long long from, long long to, bool held, store_result &out);
  bool commit_position(const std::string &station, const char *column, long long from, long long to, bool &moved);
  void rollback();

  PGconn *m_conn = nullptr;
  std::string m_error;
  std::string m_sqlstate; /* of the last statement */
  int m_server_version = 0;
};

/* The key text of a station row, as keys_at gives the server's rows: the
 * row's key columns (row number and station aside) in the server's form,
 * joined by 0x1f. */
std::string row_key(const station_call &c);
std::string row_key(const station_bill &b);
std::string row_key(const station_shift &s);
std::string row_key(const station_audit &a);

} /* namespace qsync */

#endif
