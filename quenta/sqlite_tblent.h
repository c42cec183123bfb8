/* The SQLite table entity: one table of the database file, described once by
 * its column list. Creating it runs the table's create statement (an existing
 * table from an earlier run is kept with its rows) and then the table's
 * secondary indexes; inserting writes one row through a bound statement, so a
 * value is stored byte for byte whatever it holds. */
#ifndef QUENTA_SQLITE_TBLENT_H
#define QUENTA_SQLITE_TBLENT_H

#include <string>
#include <vector>

#include "quenta/dbent.h"
#include "quenta/sqlite.h"

struct sqlite_tblent {
  const struct tblent_ops *ops;          /* gst_sqlite_tblent_ops */
  char *m_dbname;                        /* owned */
  char *m_tblname;                       /* owned */
  column_info m_column[MAX_COLUMN_INFO]; /* value columns in order, names owned */
  unsigned m_ncolumn;                    /* value columns in m_column */
  int m_constraint;                      /* 1 when the list held a unique constraint */
  int m_wait_ms;                         /* wait of its inserts (sqlite_exec_bound_wait) */
};

/* Create / release. */

/* A new table entity for the table in the file at dbname, without columns;
 * null without memory. Nothing touches the file yet. */
struct tblent *create_sqlite_tblent(const char *dbname, const char *tblname);
void sqlite_tblent_release(struct tblent *ent);

/* Verbs. */

/* Takes the columns of a list ended by an entry without a name: a T_CONSTRAINT
 * entry sets m_constraint, every other entry takes the next slot of m_column.
 * -1 when the list holds more than MAX_COLUMN_INFO - 1 entries (nothing taken). */
int sqlite_tblent_addColumn(struct sqlite_tblent *ent, const column_info *columns);

/* Takes the columns and, unless the file holds the table already (kept with
 * its rows, as it is), runs the create statement; then the table's index
 * statements. A create that fails is logged and the table is used as it is.
 * 0, or -1 when the column list is refused. */
int sqlite_tblent_create(struct tblent *ent, const column_info *columns);

/* Inserts one row: a value per column, in column order, ended by a null pointer.
 * Texts go to T_CHAR columns as they are; T_INT and T_FLOAT columns take the
 * number the text spells. 0, or -1 when the list does not fit the columns or the
 * database refused the row (sqlite_last_errcode and sqlite_last_errmsg tell
 * which). A refusal is not logged here: the caller knows which call or bill
 * the row was, and logs it once. */
int sqlite_tblent_insert(struct tblent *ent, const char *const *values);

/* The values of one row for a bound insert into the columns of a list ended
 * by an entry without a name (constraint entries hold no value): a T_CHAR
 * column takes its text as it is, T_INT and T_FLOAT the number the text spells.
 * The texts of bound point into values. SQLITE_OK; SQLITE_RANGE when the values
 * are more or fewer than the columns; SQLITE_MISMATCH when a number column's
 * text is no number. A fault is not logged: sqlite_last_errmsg says which
 * column (with tblname), for the caller's one line. */
int sqlite_bind_row(const char *tblname, const column_info *columns, const char *const *values,
                    std::vector<sqlite_value> *bound);

/* Statement texts. */

/* "create table NAME(col type, ..., constraint key1 unique(col))". */
std::string sqlite_tblent_create_cmd(const char *tblname, const column_info *columns);
/* "insert into NAME values(?, ?, ...)" with ncolumn parameters. */
std::string sqlite_tblent_insert_cmd(const char *tblname, unsigned ncolumn);

#endif
