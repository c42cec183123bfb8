/* Running one SQL statement on the engine's database file, and the engine's one
 * database lock g_cs. Every statement of the process runs under g_cs: it is
 * entered, the file opened, the statement run (row callbacks included), the
 * file closed and g_cs left. g_cs is recursive, so a row callback may run a
 * further statement on the same thread. */
#ifndef QUENTA_SQLITE_H
#define QUENTA_SQLITE_H

#include <mutex>

/* Row callback in SQLite's form: parameter, column count, values, names.
 * Returns 0 to go on; anything else stops the statement (which then fails). */
typedef int (*sqlite_row_callback)(void *param, int argc, char **argv, char **colnames);

/* The engine's database lock. */
extern std::recursive_mutex g_cs;

/* Runs the statement once: 0, or -1 when it failed. */
int sqlite_exec_cmd(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param);
/* The same, returning 0 on success and 1 on failure. */
int sqlite_exec_cmd2(const char *dbname, const char *cmd, sqlite_row_callback cb, void *param);

#endif
