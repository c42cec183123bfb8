/* The SQLite database entity: one database file and the tables described
 * through it. Describing a table creates it when the file lacks it; inserts go
 * to the described table of that name; deletes, selects and updates compose
 * their statement from the caller's condition and set-value fragments, which
 * are SQL written by the engine and the console (they quote their own texts).
 * Statements are built whole in a growing text, whatever their length. */
#ifndef QUENTA_SQLITE_DBENT_H
#define QUENTA_SQLITE_DBENT_H

#include <string>

#include "quenta/dbent.h"

struct sqlite_dbent {
  const struct dbent_ops *ops; /* gst_sqlite_dbent_ops */
  char *m_dbname;              /* database file path, owned */
  utils::datalist *m_tblents;  /* described tables (tblent *), in order of description */
  int m_wait_ms;               /* wait of its inserts; SQLITE_WAIT_DEFAULT unless set */
};

/* Create / release. */

/* A new entity on the file at dbname, with no table described; null without
 * memory. Nothing touches the file yet. */
struct dbent *create_sqlite_dbent(const char *dbname);
/* Releases the described tables, then the entity. */
void sqlite_dbent_release(struct dbent *ent);

/* Bounds the wait of the entity's inserts, in the tables described so far and
 * later, to wait_ms for g_cs and the file together (sqlite_exec_bound_wait). */
void sqlite_dbent_set_wait(struct dbent *ent, int wait_ms);

/* Verbs. Each returns 0, or -1 when it failed (sqlite_last_errcode tells why). */

/* Describes the table: creates it (an existing one is kept with its rows) and
 * remembers its columns for inserts. -1 when the column list is refused. */
int sqlite_dbent_create(struct dbent *ent, const char *tblname, const column_info *columns);
/* Inserts one row into every described table of that name. A name that was
 * never described inserts nothing and returns 0. A refused row is not logged:
 * the caller names it (sqlite_last_errmsg tells why). */
int sqlite_dbent_insert(struct dbent *ent, const char *tblname, const char *const *values);
/* A null condition list deletes every row. */
int sqlite_dbent_delete(struct dbent *ent, const char *tblname, const char *const *conds);
/* Calls cb once per row with g_cs held; a null tblname selects from the pair
 * "cdrtbl, billtbl" ("cdrtbl" columns first). A callback that returns non-zero
 * stops the select, which then fails. */
int sqlite_dbent_select(struct dbent *ent, const char *tblname, const char *const *conds, sqlite_row_callback cb,
                        void *param);
int sqlite_dbent_update(struct dbent *ent, const char *tblname, const char *const *conds, const char *const *sets);

/* Statement texts: " where " and the conditions joined by " and " follow when a
 * condition list is given. */
std::string sqlite_dbent_delete_cmd(const char *tblname, const char *const *conds);
std::string sqlite_dbent_select_cmd(const char *tblname, const char *const *conds);
std::string sqlite_dbent_update_cmd(const char *tblname, const char *const *conds, const char *const *sets);

#endif
