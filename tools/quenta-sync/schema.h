/* The server's schema "quenta", version by version: migrations[v - 1] brings
 * a schema of version v - 1 (0: none) to version v. docs/chain.md describes
 * the tables and views. */
#ifndef QUENTA_SYNC_SCHEMA_H
#define QUENTA_SYNC_SCHEMA_H

namespace qsync {

/* Each migration is one text of statements, run in one transaction together
 * with the update of quenta.schema_version. */
extern const char *const schema_migrations[];
extern const int schema_migration_count;

} /* namespace qsync */

#endif
