/* The guard of the append-only tables: every connection on which the engine
 * runs its statements refuses one that would change "audittbl",
 * "checkouttbl" or "refundtbl" other than their own appends
 * (quenta/audit.cpp, quenta/checkouts.cpp), or create a trigger, so that no
 * fragment handed to the generic select, update and delete operations, and no
 * later statement of the engine, can rewrite the trail or the money taken. */
#ifndef QUENTA_AUDIT_H
#define QUENTA_AUDIT_H

#include <sqlite3.h>

/* Installs the guard on a connection just opened. */
void audit_guard_connection(sqlite3 *db);

/* While one lives on a thread, that thread's inserts into the append-only
 * tables pass the guard: held around an append, never longer. */
struct append_scope {
  append_scope();
  ~append_scope();
  append_scope(const append_scope &) = delete;
  append_scope &operator=(const append_scope &) = delete;
};

#endif
