/* The central PostgreSQL server as the sync program uses it: one connection
 * through libpq, the versioned schema "quenta" (created on first contact,
 * refused when newer than this program knows), one session lock per station
 * name, and the stores that copy rows. Every store is one transaction that
 * writes its rows by their key (COPY, or an upsert when a row is there
 * already) and moves the station's position on the server from the value
 * this program last read to the batch's last row: a
 * batch either lands whole with its position or not at all, so a repeat after
 * a crash lands on the same rows and a committed batch is never sent again.
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

#define SCHEMA_VERSION 2

/* Where the station stands on the server: the last station row of each table
 * whose copy committed. */
struct station_position {
  long long call_rowid = 0, bill_rowid = 0, shift_rowid = 0, audit_rowid = 0;
};

/* An unsettled call as the server holds it. */
struct server_unsettled {
  std::string callid, machineid;  /* UTF-8 */
  int lineid;
};

/* A bill with its rule, as the server stores it. */
struct bill_row {
  const station_bill *bill;
  std::string rule;  /* GBK, as the station's rate file names it */
};

/* A flag that changed on the station. */
struct flag_change {
  std::string callid;  /* GBK, as the station holds it */
  int flag;
};

/* One row of a takings report. */
struct takings_row {
  std::string station, key;  /* key: the day, the operator or the rule */
  long long bills, seconds;
  std::string takings;       /* numeric text, two decimals */
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

  /* Takes the station's session lock (false when another sync program
   * holds it), records the station and reads its position. */
  bool claim_station(const std::string &station, station_position &pos);
  bool unsettled(const std::string &station, std::vector<server_unsettled> &out);

  /* The stores. `moved` comes back true (and false is returned) when the
   * server's position was no longer `from`: another copy moved it. */
  bool store_calls(const std::string &station, const std::vector<station_call> &rows, long long from, bool &moved);
  bool store_bills(const std::string &station, const std::vector<bill_row> &rows, long long from, bool &moved);
  bool store_shifts(const std::string &station, const std::vector<station_shift> &rows, long long from,
                    bool &moved);
  /* Audit entries are appended: a row the server holds already stays as it is. */
  bool store_audits(const std::string &station, const std::vector<station_audit> &rows, long long from,
                    bool &moved);
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
   * table of the upsert, what a conflict updates, the position's column. */
  struct copied_table {
    const char *table, *temp, *columns, *conflict, *position;
  };
  static const copied_table calls_table, bills_table, shifts_table, audits_table;
  bool store_rows(const copied_table &t, const std::string &data, const std::string &station, long long from,
                  long long to, bool &moved);
  bool commit_position(const std::string &station, const char *column, long long from, long long to, bool &moved);
  void rollback();

  PGconn *m_conn = nullptr;
  std::string m_error;
  std::string m_sqlstate;  /* of the last statement */
  int m_server_version = 0;
};

} /* namespace qsync */

#endif
