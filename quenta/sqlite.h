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
 * hands over as null reach row callbacks as empty texts.
 *
 * A failed statement is logged once. sqlite_exec_cmd and sqlite_exec_work
 * write the line themselves ("SQL error: " with the statement and why); a
 * bound statement writes none, because its text does not name what it was
 * for: its caller logs the failure once, naming the call or bill, with
 * sqlite_last_errmsg. */
#ifndef QUENTA_SQLITE_H
#define QUENTA_SQLITE_H

#include <sqlite3.h>

#include <functional>
#include <mutex>

#define SQLITE_BUSY_TIMEOUT_MS 5000
#define SQLITE_WAIT_DEFAULT 0 /* a statement's wait: g_cs unbounded, the file SQLITE_BUSY_TIMEOUT_MS */

/* Row callback in SQLite's form: parameter, column count, values, names.
 * Returns 0 to go on; anything else stops the statement (which then fails). */
typedef int (*sqlite_row_callback)(void *param, int argc, char **argv, char **colnames);

/* One value for a '?' parameter of a bound statement. */
struct sqlite_value {
  int m_type;          /* SQLITE_TEXT, SQLITE_INTEGER or SQLITE_FLOAT */
  const char *m_text;  /* SQLITE_TEXT: zero-terminated, stored byte for byte */
  sqlite3_int64 m_int; /* SQLITE_INTEGER */
  double m_real;       /* SQLITE_FLOAT */
};

/* The engine's database lock. It is never destroyed: the handler thread may
 * still store a call while the process runs its exit handlers. */
extern std::recursive_mutex &g_cs;

/* Runs the statement once: 0, or -1 when it failed. */
int sqlite_exec_cmd(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param);
/* The same, returning 0 on success and 1 on failure. */
int sqlite_exec_cmd2(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param);

/* Runs one statement whose '?' parameters take values[0..nvalues-1] in order,
 * under g_cs like sqlite_exec_cmd; rows it returns are discarded. The values
 * never become part of the statement's text, so no byte of a value can change
 * the statement. 0, or -1 when it failed (not logged here). */
int sqlite_exec_bound(const char *dbname, const char *cmd, const sqlite_value *values, int nvalues);
/* The same with a wait of wait_ms milliseconds in all for g_cs and the file
 * (SQLITE_WAIT_DEFAULT: as above), handing each row to cb (or to none) as texts. */
int sqlite_exec_bound_wait(const char *dbname, const char *cmd, const sqlite_value *values, int nvalues, int wait_ms,
                           sqlite_row_callback cb, void *param);

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

/* Runs work on a connection of its own inside one write transaction, as one
 * statement's turn: under g_cs, the file opened before and closed after, with
 * the wait of sqlite_exec_bound_wait (wait_ms for g_cs and the file together,
 * the commit included; SQLITE_WAIT_DEFAULT: unbounded g_cs). work runs its
 * statements with sqlite_run_bound and returns an SQLite result code: SQLITE_OK
 * commits what it wrote, anything else rolls it all back. For a writer that
 * stores many rows in one turn, with one commit (and its syncs) for them all.
 * 0 when committed, -1 otherwise (sqlite_last_errcode and sqlite_last_errmsg
 * tell why; nothing is logged here, the caller names what the transaction
 * held). what names the work for a reader of the code. */
int sqlite_exec_write(const char *dbname, const char *what, int wait_ms, const std::function<int(sqlite3 *db)> &work);

/* Inside the work of sqlite_exec_write or sqlite_exec_work: prepares cmd, binds
 * values[0..nvalues-1] to its '?' parameters and steps it to the end, handing
 * each row to cb (or to none) as texts. The SQLite result code (SQLITE_ABORT
 * when cb stopped it); nothing is logged. */
int sqlite_run_bound(sqlite3 *db, const char *cmd, const sqlite_value *values, int nvalues, sqlite_row_callback cb,
                     void *param);

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
/* Why this thread's last statement failed: the database's message ("database
 * is locked", "UNIQUE constraint failed: cdrtbl.callid"), "Can't open
 * database: ..." or "database lock not free within 100 ms"; "" after a
 * success. Valid until the thread's next statement. */
const char *sqlite_last_errmsg();
/* Records the outcome of an operation that refused its input before running a
 * statement, so that sqlite_last_errcode (and sqlite_last_errmsg, with SQLite's
 * text of the code or msg) tells it too. */
void sqlite_set_last_errcode(int code);
void sqlite_set_last_error(int code, const char *msg);

#endif
