/* The database entity layer. A dbent is one database file with operations to
 * describe a table and to insert, delete, select and update rows; a tblent is
 * one described table. Both are interfaces: the first field points to a
 * constant operations table, and the SQLite implementations (sqlite_dbent,
 * sqlite_tblent) begin with the same fields.
 *
 * Value, condition and set-value lists are arrays of texts ended by a null
 * pointer. A value list holds one text per value column, in column order. */
#ifndef QUENTA_DBENT_H
#define QUENTA_DBENT_H

#include "quenta/records.h"
#include "quenta/sqlite.h"
#include "utils/datalist.h"

#define MAX_COLUMN_INFO 32

struct dbent;
struct tblent;

struct dbent_ops {
  void (*release)(struct dbent *ent);
  int (*create)(struct dbent *ent, const char *tblname, const column_info *columns);
  int (*insert)(struct dbent *ent, const char *tblname, const char *const *values);
  int (*del)(struct dbent *ent, const char *tblname, const char *const *conds);
  /* tblname null selects from "cdrtbl, billtbl" */
  int (*select)(struct dbent *ent, const char *tblname, const char *const *conds, sqlite_row_callback cb, void *param);
  int (*update)(struct dbent *ent, const char *tblname, const char *const *conds, const char *const *sets);
};

struct dbent {
  const struct dbent_ops *ops;
  char *m_dbname; /* database file path, owned */
};

struct tblent_ops {
  void (*release)(struct tblent *ent);
  int (*create)(struct tblent *ent, const column_info *columns);
  int (*insert)(struct tblent *ent, const char *const *values);
};

struct tblent {
  const struct tblent_ops *ops;
  char *m_dbname;  /* owned */
  char *m_tblname; /* owned */
};

inline void dbent_release(struct dbent *e)
{
  e->ops->release(e);
}
inline int dbent_create(struct dbent *e, const char *t, const column_info *c)
{
  return e->ops->create(e, t, c);
}
inline int dbent_insert(struct dbent *e, const char *t, const char *const *v)
{
  return e->ops->insert(e, t, v);
}
inline int dbent_delete(struct dbent *e, const char *t, const char *const *c)
{
  return e->ops->del(e, t, c);
}
inline int dbent_select(struct dbent *e, const char *t, const char *const *c, sqlite_row_callback cb, void *p)
{
  return e->ops->select(e, t, c, cb, p);
}
inline int dbent_update(struct dbent *e, const char *t, const char *const *c, const char *const *s)
{
  return e->ops->update(e, t, c, s);
}

inline void tblent_release(struct tblent *e)
{
  e->ops->release(e);
}
inline int tblent_create(struct tblent *e, const column_info *c)
{
  return e->ops->create(e, c);
}
inline int tblent_insert(struct tblent *e, const char *const *v)
{
  return e->ops->insert(e, v);
}

#endif
