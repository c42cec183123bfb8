/* The one place where the engine talks to SQLite: the database lock g_cs, the
 * connection handle that opens the file for one statement and closes it again,
 * the runner of plain statements (with row callbacks) and the runner of bound
 * statements used for inserts. */
#include "quenta/sqlite.h"

#include <vector>

#include "utils/debug.h"

std::recursive_mutex &g_cs = *new std::recursive_mutex;

namespace {

thread_local int t_last_errcode = SQLITE_OK;

void note_result(int rc)
{
  t_last_errcode = rc & 0xff;
}

/* One connection, open for the life of one statement. */
class sqlite_conn {
public:
  sqlite_conn() = default;
  sqlite_conn(const sqlite_conn &) = delete;
  sqlite_conn &operator=(const sqlite_conn &) = delete;
  ~sqlite_conn() { close(); }

  /* The busy timeout belongs to the connection, so it is set on every open. */
  int open(const char *dbname)
  {
    int rc = sqlite3_open(dbname, &m_db);
    if (rc == SQLITE_OK)
      sqlite3_busy_timeout(m_db, SQLITE_BUSY_TIMEOUT_MS);
    return rc;
  }

  void close()
  {
    if (m_db) {
      sqlite3_close(m_db);
      m_db = nullptr;
    }
  }

  sqlite3 *get() const { return m_db; }

  const char *errmsg(int rc) const { return m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc); }

private:
  sqlite3 *m_db = nullptr;
};

/* A prepared statement; finalized before its connection closes. */
class sqlite_stmt {
public:
  sqlite_stmt() = default;
  sqlite_stmt(const sqlite_stmt &) = delete;
  sqlite_stmt &operator=(const sqlite_stmt &) = delete;
  ~sqlite_stmt() { sqlite3_finalize(m_stmt); }

  sqlite3_stmt **out() { return &m_stmt; }
  sqlite3_stmt *get() const { return m_stmt; }

private:
  sqlite3_stmt *m_stmt = nullptr;
};

/* Stands between sqlite3_exec and the caller's row callback: null values are
 * handed on as empty texts, so no callback has to test for them. */
struct row_relay {
  sqlite_row_callback cb;
  void *param;
  std::vector<char *> values;
  char empty[1];
};

int relay_row(void *p, int argc, char **argv, char **colnames)
{
  auto *relay = static_cast<row_relay *>(p);
  try {
    relay->values.assign(argv, argv + argc);
  } catch (...) {
    return 1;
  }
  for (char *&v : relay->values) {
    if (!v) {
      relay->empty[0] = '\0';
      v = relay->empty;
    }
  }
  return relay->cb(relay->param, argc, relay->values.data(), colnames);
}

int bind_value(sqlite3_stmt *stmt, int index, const sqlite_value &v)
{
  switch (v.m_type) {
  case SQLITE_INTEGER:
    return sqlite3_bind_int64(stmt, index, v.m_int);
  case SQLITE_FLOAT:
    return sqlite3_bind_double(stmt, index, v.m_real);
  case SQLITE_TEXT:
    /* The value outlives the statement, so SQLite need not copy it. */
    return sqlite3_bind_text(stmt, index, v.m_text ? v.m_text : "", -1, SQLITE_STATIC);
  default:
    return sqlite3_bind_null(stmt, index);
  }
}

/* Prepares, binds and steps to the end; the caller holds g_cs. */
int run_bound(sqlite3 *db, const char *cmd, const sqlite_value *values, int nvalues)
{
  sqlite_stmt stmt;
  int rc = sqlite3_prepare_v2(db, cmd, -1, stmt.out(), nullptr);
  if (rc == SQLITE_OK && !stmt.get())
    rc = SQLITE_MISUSE; /* the text held no statement */
  for (int i = 0; rc == SQLITE_OK && i < nvalues; i++)
    rc = bind_value(stmt.get(), i + 1, values[i]);
  while (rc == SQLITE_OK || rc == SQLITE_ROW)
    rc = sqlite3_step(stmt.get());
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

} /* namespace */

/* g_cs is left only after the connection is closed, so no two statements of
 * the process ever overlap, not even in their open or close. */
int sqlite_exec_cmd2(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param)
{
  if (!dbname || !cmd) {
    LOG_FUNCTION_FAILED();
    note_result(SQLITE_MISUSE);
    return 1;
  }
  std::unique_lock lock(g_cs);
  DLOG("EnterCriticalSession !!!");
  int rc;
  {
    sqlite_conn conn;
    rc = conn.open(dbname);
    if (rc != SQLITE_OK) {
      DLOG("Can't open database: %s\n", conn.errmsg(rc));
    } else {
      row_relay relay{cb, param, {}, {'\0'}};
      char *errmsg = nullptr;
      rc = sqlite3_exec(conn.get(), cmd, cb ? relay_row : nullptr, cb ? &relay : nullptr,
                        &errmsg);
      if (rc != SQLITE_OK)
        DLOG("SQL error: %s:%s\n", cmd, errmsg ? errmsg : conn.errmsg(rc));
      sqlite3_free(errmsg);
    }
  }
  note_result(rc);
  lock.unlock();
  DLOG("LeaveCriticalSection !!!");
  return rc == SQLITE_OK ? 0 : 1;
}

int sqlite_exec_cmd(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param)
{
  return sqlite_exec_cmd2(dbname, cmd, cb, param) == 0 ? 0 : -1;
}

int sqlite_exec_bound(const char *dbname, const char *cmd, const sqlite_value *values,
                      int nvalues)
{
  if (!dbname || !cmd || (nvalues > 0 && !values)) {
    LOG_FUNCTION_FAILED();
    note_result(SQLITE_MISUSE);
    return -1;
  }
  std::unique_lock lock(g_cs);
  DLOG("EnterCriticalSession !!!");
  int rc;
  {
    sqlite_conn conn;
    rc = conn.open(dbname);
    if (rc != SQLITE_OK) {
      DLOG("Can't open database: %s\n", conn.errmsg(rc));
    } else {
      rc = run_bound(conn.get(), cmd, values, nvalues);
      if (rc != SQLITE_OK)
        DLOG("SQL error: %s:%s\n", cmd, conn.errmsg(rc));
    }
  }
  note_result(rc);
  lock.unlock();
  DLOG("LeaveCriticalSection !!!");
  return rc == SQLITE_OK ? 0 : -1;
}

int sqlite_last_errcode()
{
  return t_last_errcode;
}

void sqlite_set_last_errcode(int code)
{
  t_last_errcode = code & 0xff;
}
