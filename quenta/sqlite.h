/* Running one SQL statement on the engine's database file, and the engine's one
 * database lock g_cs. Every statement of the process runs under g_cs: it is
 * entered, the file opened, the statement run (row callbacks included), the
 * file closed and g_cs left. g_cs is recursive, so a row callback may run a
 * further statement on the same thread. Such a statement should only read: the
 * select's connection still reads the file, so a write from inside its callback
 * would wait out the busy timeout and fail.
 *
 * A statement waits up to SQLITE_BUSY_TIMEOUT_MS for a lock that another
 * connection (the console's backup, a reader in another process) holds, so a
 * short hold does not make a statement fail; it waits for g_cs as long as it
 * takes. A statement given a wait of its own (the handler's inserts, which must
 * not stall the gateways) spends at most that many milliseconds on both
 * together and then fails with SQLITE_BUSY. Column values that the database
 * hands over as null reach row callbacks as empty texts. */
#ifndef QUENTA_SQLITE_H
#define QUENTA_SQLITE_H

#include <sqlite3.h>

#include <functional>
#include <mutex>

#define SQLITE_BUSY_TIMEOUT_MS 5000
#define SQLITE_WAIT_DEFAULT 0          /* a statement's wait: g_cs unbounded, the file SQLITE_BUSY_TIMEOUT_MS */

/* Row callback in SQLite's form: parameter, column count, values, names.
 * Returns 0 to go on; anything else stops the statement (which then fails). */
typedef int (*sqlite_row_callback)(void *param, int argc, char **argv, char **colnames);

/* One value for a '?' parameter of a bound statement. */
struct sqlite_value {
  int m_type;           /* SQLITE_TEXT, SQLITE_INTEGER or SQLITE_FLOAT */
  const char *m_text;   /* SQLITE_TEXT: zero-terminated, stored byte for byte */
  sqlite3_int64 m_int;  /* SQLITE_INTEGER */
  double m_real;        /* SQLITE_FLOAT */
};

/* The engine's database lock. It is never destroyed: the handler thread may
 * still store a call while the process runs its exit handlers. */
extern std::recursive_mutex &g_cs;

/* Runs the statement once: 0, or -1 when it failed. */
int sqlite_exec_cmd(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param);
/* The same, returning 0 on success and 1 on failure. */
int sqlite_exec_cmd2(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param);

/* Runs one statement whose '?' parameters take values[0..nvalues-1] in order,
 * under g_cs like sqlite_exec_cmd and with the same log lines; rows it returns
 * are discarded. The values never become part of the statement's text, so no
 * byte of a value can change the statement. 0, or -1 when it failed. */
int sqlite_exec_bound(const char *dbname, const char *cmd, const sqlite_value *values,
                      int nvalues);
/* The same with a wait of wait_ms milliseconds in all for g_cs and the file
 * (SQLITE_WAIT_DEFAULT: as above), handing each row to cb (or to none) as texts. */
int sqlite_exec_bound_wait(const char *dbname, const char *cmd, const sqlite_value *values,
                           int nvalues, int wait_ms, sqlite_row_callback cb, void *param);

/* For a job that holds g_cs in rounds, called between rounds with g_cs free:
 * returns once the statements that wait for g_cs have taken it, or after
 * max_ms. A waiting statement otherwise might never see g_cs free: a thread
 * that leaves a mutex and takes it again at once keeps it. */
void sqlite_yield_lock(int max_ms);

/* Copies the database at dbname to dest while other statements go on: the
 * online backup that quenta_backup exports (include/quenta/quenta.h), which
 * describes the rounds and the restarts. A round that finds the database locked
 * by another program is tried again until busy_ms have passed without
 * progress. 0, or a QUENTA_BACKUP_* result. */
int sqlite_backup(const char *dbname, const char *dest, int busy_ms, void (*progress)(int percent, void *param),
                  void *param);

/* Runs work on a connection of its own, as one statement's turn: under g_cs,
 * the file opened before and closed after, inside one read transaction, so
 * that the several statements work prepares see one state of the file. For
 * a read that one statement cannot do cheaply. work returns an SQLite result
 * code; what names the work in the log. 0, or -1 when it failed. */
int sqlite_exec_work(const char *dbname, const char *what, const std::function<int(sqlite3 *db)> &work);

/* Runs work as one write transaction on a connection of its own, as one
 * statement's turn: g_cs and the file within wait_ms as sqlite_exec_bound_wait
 * waits for them, "begin immediate", work, then "commit" when work returned
 * SQLITE_OK and "rollback" otherwise, so that every row work writes is stored
 * or none is. what names the work in the log. 0, or -1 when it failed
 * (sqlite_last_errcode tells why: work's own code, or the commit's). */
int sqlite_exec_write(const char *dbname, const char *what, int wait_ms,
                      const std::function<int(sqlite3 *db)> &work);

/* Inside a work function: runs one statement whose '?' parameters take
 * values[0..nvalues-1], handing each row to cb (or to none) as texts. The
 * SQLite result code (SQLITE_ABORT when cb stopped it). */
int sqlite_run_bound(sqlite3 *db, const char *cmd, const sqlite_value *values, int nvalues,
                     sqlite_row_callback cb, void *param);

/* The primary SQLite result code of this thread's last failed statement, and
 * SQLITE_OK after a successful one. It tells a refusal that will not change
 * from one that may pass on a later try:
 *   permanent  SQLITE_CONSTRAINT (a call id "cdrtbl" already holds),
 *              SQLITE_RANGE (a value list of the wrong length),
 *              SQLITE_MISMATCH (a number column given a text that is no number),
 *              SQLITE_ERROR (a statement the database does not accept);
 *   transient  SQLITE_BUSY, SQLITE_LOCKED (another connection holds the file
 *              longer than the busy timeout), SQLITE_READONLY, SQLITE_FULL,
 *              SQLITE_CANTOPEN, SQLITE_IOERR, SQLITE_NOMEM.
 * SQLITE_ABORT means a row callback stopped a select. */
int sqlite_last_errcode();
/* Records the outcome of an operation that refused its input before running a
 * statement, so that sqlite_last_errcode tells it too. */
void sqlite_set_last_errcode(int code);

#endif
