/* The audit trail's guard: every connection on which the engine runs its
 * statements refuses one that would change "audittbl" other than the trail's
 * own append (quenta/audit.cpp), or create a trigger, so that no fragment
 * handed to the generic select, update and delete operations, and no later
 * statement of the engine, can rewrite what the trail holds. */
#ifndef QUENTA_AUDIT_H
#define QUENTA_AUDIT_H

#include <sqlite3.h>

/* Installs the guard on a connection just opened. */
void audit_guard_connection(sqlite3 *db);

#endif
