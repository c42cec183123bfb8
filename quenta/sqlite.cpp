/* The one place where the engine talks to SQLite: the database lock g_cs, the
 * connection handle that opens the file for one statement and closes it again,
 * the runner of plain statements (with row callbacks), the runner of bound
 * statements used for inserts, and the write transaction of a batch. */
#include "quenta/sqlite.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "quenta/audit.h"
#include "utils/debug.h"

std::recursive_mutex &g_cs = *new std::recursive_mutex;

namespace {

/* Threads waiting for g_cs in take_turn: a long job that takes g_cs in
 * rounds lets them have it between rounds (sqlite_yield_lock). */
std::atomic<int> g_cs_waiting{0};

/* The least a bounded write transaction waits for its commit. */
const int COMMIT_WAIT_MIN_MS = 10;

thread_local int t_last_errcode = SQLITE_OK;
thread_local std::string t_last_errmsg;

/* The outcome of this thread's statement: its code, and when it failed the
 * database's words for it (or, without them, SQLite's text of the code). */
void note_result(int rc, const char *msg = nullptr)
{
  t_last_errcode = rc & 0xff;
  if (rc == SQLITE_OK)
    t_last_errmsg.clear();
  else
    t_last_errmsg = msg && *msg ? msg : sqlite3_errstr(rc);
}

/* The one line of a statement that failed: the statement and why. */
void log_failure(const char *cmd)
{
  DLOG("SQL error: %s:%s", cmd, t_last_errmsg.c_str());
}

/* One connection, open for the life of one statement. */
class sqlite_conn {
public:
  sqlite_conn() = default;
  sqlite_conn(const sqlite_conn &) = delete;
  sqlite_conn &operator=(const sqlite_conn &) = delete;
  ~sqlite_conn() { close(); }

  /* The busy timeout belongs to the connection, so it is set on every open.
   * A connection lives for one turn on one thread, so SQLite need not lock
   * it on every call (a month's report makes hundreds of thousands). */
  int open(const char *dbname, int busy_ms)
  {
    int rc = sqlite3_open_v2(dbname, &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(m_db, busy_ms);
      audit_guard_connection(m_db);
    }
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

/* Hands the current row to cb as texts (null as the empty text): its result. */
int hand_row(sqlite3_stmt *stmt, sqlite_row_callback cb, void *param)
{
  int n = sqlite3_column_count(stmt);
  std::vector<std::string> texts((size_t)n);
  std::vector<char *> values((size_t)n), names((size_t)n);
  for (int i = 0; i < n; i++) {
    const unsigned char *t = sqlite3_column_text(stmt, i);
    texts[(size_t)i] = t ? reinterpret_cast<const char *>(t) : "";
    values[(size_t)i] = texts[(size_t)i].data();
    names[(size_t)i] = const_cast<char *>(sqlite3_column_name(stmt, i));
  }
  return cb(param, n, values.data(), names.data());
}

} /* namespace */

int sqlite_run_bound(sqlite3 *db, const char *cmd, const sqlite_value *values, int nvalues, sqlite_row_callback cb,
                     void *param)
{
  sqlite_stmt stmt;
  int rc = sqlite3_prepare_v2(db, cmd, -1, stmt.out(), nullptr);
  if (rc == SQLITE_OK && !stmt.get())
    rc = SQLITE_MISUSE; /* the text held no statement */
  for (int i = 0; rc == SQLITE_OK && i < nvalues; i++)
    rc = bind_value(stmt.get(), i + 1, values[i]);
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW && cb && hand_row(stmt.get(), cb, param) != 0)
      return SQLITE_ABORT;
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

namespace {

/* Takes g_cs within wait_ms. Tried every millisecond rather than with a timed
 * lock: ThreadSanitizer does not follow pthread_mutex_clocklock, and the
 * handler's statements run under it in the test builds. */
bool lock_within(std::unique_lock<std::recursive_mutex> &lock, int wait_ms)
{
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!lock.try_lock()) {
    if (std::chrono::steady_clock::now() >= until)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/* One statement's turn: g_cs, a connection, the statement (run), the
 * connection closed and g_cs left, in that order, so that no two statements of
 * the process ever overlap, not even in their open or close. With a wait of
 * its own the statement gives up on g_cs after wait_ms, and what is left of
 * the wait bounds its wait for the file. The SQLite result code; the
 * caller logs a failure, sqlite_last_errmsg tells it why. */
template <typename Run>
int take_turn(const char *dbname, int wait_ms, Run run)
{
  using namespace std::chrono;
  std::unique_lock lock(g_cs, std::defer_lock);
  int busy_ms = SQLITE_BUSY_TIMEOUT_MS;
  g_cs_waiting++;
  if (wait_ms <= SQLITE_WAIT_DEFAULT) {
    lock.lock();
  } else {
    auto start = steady_clock::now();
    if (!lock_within(lock, wait_ms)) {
      g_cs_waiting--;
      note_result(SQLITE_BUSY, ("database lock not free within " + std::to_string(wait_ms) + " ms").c_str());
      return SQLITE_BUSY;
    }
    long left = wait_ms - (long)duration_cast<milliseconds>(steady_clock::now() - start).count();
    busy_ms = left > 1 ? (int)left : 1;
  }
  g_cs_waiting--;
  DLOG("EnterCriticalSession !!!");
  int rc;
  {
    sqlite_conn conn;
    rc = conn.open(dbname, busy_ms);
    if (rc != SQLITE_OK) {
      note_result(rc, (std::string("Can't open database: ") + conn.errmsg(rc)).c_str());
    } else {
      rc = run(conn);
      note_result(rc, conn.errmsg(rc));
    }
  }
  lock.unlock();
  DLOG("LeaveCriticalSection !!!");
  return rc;
}

} /* namespace */

int sqlite_exec_cmd2(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param)
{
  if (!dbname || !cmd) {
    LOG_FUNCTION_FAILED();
    note_result(SQLITE_MISUSE);
    return 1;
  }
  int rc = take_turn(dbname, SQLITE_WAIT_DEFAULT, [&](sqlite_conn &conn) {
    row_relay relay{cb, param, {}, {'\0'}};
    return sqlite3_exec(conn.get(), cmd, cb ? relay_row : nullptr, cb ? &relay : nullptr, nullptr);
  });
  if (rc != SQLITE_OK)
    log_failure(cmd);
  return rc == SQLITE_OK ? 0 : 1;
}

int sqlite_exec_cmd(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param)
{
  return sqlite_exec_cmd2(dbname, cmd, cb, param) == 0 ? 0 : -1;
}

int sqlite_exec_bound(const char *dbname, const char *cmd, const sqlite_value *values, int nvalues)
{
  return sqlite_exec_bound_wait(dbname, cmd, values, nvalues, SQLITE_WAIT_DEFAULT, nullptr, nullptr);
}

int sqlite_exec_bound_wait(const char *dbname, const char *cmd, const sqlite_value *values, int nvalues, int wait_ms,
                           sqlite_row_callback cb, void *param)
{
  if (!dbname || !cmd || (nvalues > 0 && !values)) {
    LOG_FUNCTION_FAILED();
    note_result(SQLITE_MISUSE);
    return -1;
  }
  int rc = take_turn(dbname, wait_ms,
                     [&](sqlite_conn &conn) { return sqlite_run_bound(conn.get(), cmd, values, nvalues, cb, param); });
  return rc == SQLITE_OK ? 0 : -1;
}

void sqlite_yield_lock(int max_ms)
{
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
  while (g_cs_waiting.load() > 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int sqlite_exec_work(const char *dbname, const char *what, const std::function<int(sqlite3 *db)> &work)
{
  if (!dbname || !what || !work) {
    LOG_FUNCTION_FAILED();
    note_result(SQLITE_MISUSE);
    return -1;
  }
  int rc = take_turn(dbname, SQLITE_WAIT_DEFAULT, [&](sqlite_conn &conn) {
    int r = sqlite3_exec(conn.get(), "begin", nullptr, nullptr, nullptr);
    if (r == SQLITE_OK) {
      r = work(conn.get());
      /* nothing was written: the end of the transaction cannot fail in a way that matters */
      sqlite3_exec(conn.get(), "commit", nullptr, nullptr, nullptr);
    }
    return r;
  });
  if (rc != SQLITE_OK)
    log_failure(what);
  return rc == SQLITE_OK ? 0 : -1;
}

int sqlite_exec_write(const char *dbname, const char *what, int wait_ms, const std::function<int(sqlite3 *db)> &work)
{
  if (!dbname || !what || !work) {
    LOG_FUNCTION_FAILED();
    note_result(SQLITE_MISUSE);
    return -1;
  }
  auto start = std::chrono::steady_clock::now();
  std::string why; /* the database's words, taken before a rollback resets them */
  int rc = take_turn(dbname, wait_ms, [&](sqlite_conn &conn) {
    sqlite3 *db = conn.get();
    /* The write lock is taken at the start, within the wait; a transaction
     * that could not get it has done nothing to undo. */
    int r = sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr);
    if (r != SQLITE_OK) {
      why = std::string("begin: ") + conn.errmsg(r);
      return r;
    }
    r = work(db);
    if (r == SQLITE_OK && wait_ms > SQLITE_WAIT_DEFAULT) {
      /* The commit waits for readers to leave: only what is left of the wait,
       * with a few milliseconds at least, so that a reader's short turn does
       * not throw the batch away. */
      auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      sqlite3_busy_timeout(db, std::max(wait_ms - (int)spent.count(), COMMIT_WAIT_MIN_MS));
    }
    if (r == SQLITE_OK)
      r = sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    if (r != SQLITE_OK) {
      why = conn.errmsg(r);
      if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
    }
    return r;
  });
  /* Not logged here: the caller names what the transaction held. */
  if (rc != SQLITE_OK && !why.empty())
    note_result(rc, why.c_str());
  return rc == SQLITE_OK ? 0 : -1;
}

int sqlite_last_errcode()
{
  return t_last_errcode;
}

const char *sqlite_last_errmsg()
{
  return t_last_errmsg.c_str();
}

void sqlite_set_last_errcode(int code)
{
  note_result(code);
}

void sqlite_set_last_error(int code, const char *msg)
{
  note_result(code, msg);
}
