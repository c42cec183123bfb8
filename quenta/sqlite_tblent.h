/* The SQLite table entity: one table of the database file, described once by
 * its column list. Creating it runs the table's create statement (an existing
 * table from an earlier run is kept with its rows) and then the table's
 * secondary indexes; inserting writes one row through a bound statement, so a
 * value is stored byte for byte whatever it holds. */
#ifndef QUENTA_SQLITE_TBLENT_H
#define QUENTA_SQLITE_TBLENT_H

#include <string>

#include "quenta/dbent.h"
#include "quenta/sqlite.h"

struct sqlite_tblent {
  const struct tblent_ops *ops;           /* gst_sqlite_tblent_ops */
  char *m_dbname;                         /* owned */
  char *m_tblname;                        /* owned */
  column_info m_column[MAX_COLUMN_INFO];  /* value columns in order, names owned */
  unsigned m_ncolumn;                     /* value columns in m_column */
  int m_constraint;                       /* 1 when the list held a unique constraint */
  int m_wait_ms;                          /* wait of its inserts (sqlite_exec_bound_wait) */
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

/* Takes the columns and runs the create statement, then the table's index
 * statements. A create that fails (the table exists) is logged and the table is
 * used as it is. 0, or -1 when the column list is refused. */
int sqlite_tblent_create(struct tblent *ent, const column_info *columns);

/* Inserts one row: a value per column, in column order, ended by a null pointer.
 * Texts go to T_CHAR columns as they are; T_INT and T_FLOAT columns take the
 * number the text spells. 0, or -1 when the list does not fit the columns or the
 * database refused the row (sqlite_last_errcode tells which). */
int sqlite_tblent_insert(struct tblent *ent, const char *const *values);

/* The number a value text spells, as an integer when it is one, else as a real,
 * as an insert binds it to a T_INT or T_FLOAT column. Parsed without the
 * locale, so a decimal point is always ".". False for a text that is no finite
 * number. */
bool sqlite_parse_number(const char *text, sqlite_value *v);

/* Statement texts. */

/* "create table NAME(col type, ..., constraint key1 unique(col))". */
std::string sqlite_tblent_create_cmd(const char *tblname, const column_info *columns);
/* "insert into NAME values(?, ?, ...)" with ncolumn parameters. */
std::string sqlite_tblent_insert_cmd(const char *tblname, unsigned ncolumn);

#endif
