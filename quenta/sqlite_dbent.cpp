/* The SQLite database entity: its list of described tables, the composition of
 * the delete, select and update statements, and the operations that run them
 * through sqlite_exec_cmd. */
#include "quenta/sqlite_dbent.h"

#include <stdlib.h>
#include <string.h>

#include "quenta/sqlite_tblent.h"
#include "utils/debug.h"

namespace {

const struct dbent_ops gst_sqlite_dbent_ops = {
    .release = sqlite_dbent_release,
    .create = sqlite_dbent_create,
    .insert = sqlite_dbent_insert,
    .del = sqlite_dbent_delete,
    .select = sqlite_dbent_select,
    .update = sqlite_dbent_update,
};

/* The pair the report joins; its callers add the join condition themselves. */
const char *const report_select = "select * from cdrtbl, billtbl";

sqlite_dbent *as_sqlite(struct dbent *ent)
{
  return reinterpret_cast<sqlite_dbent *>(ent);
}

void append_joined(std::string &cmd, const char *const *parts, const char *sep)
{
  for (const char *const *p = parts; p && *p; p++) {
    if (p != parts)
      cmd += sep;
    cmd += *p;
  }
}

void append_conds(std::string &cmd, const char *const *conds)
{
  if (!conds)
    return;
  cmd += " where ";
  append_joined(cmd, conds, " and ");
}

} /* namespace */

std::string sqlite_dbent_delete_cmd(const char *tblname, const char *const *conds)
{
  std::string cmd = "delete from ";
  cmd += tblname;
  append_conds(cmd, conds);
  return cmd;
}

std::string sqlite_dbent_select_cmd(const char *tblname, const char *const *conds)
{
  std::string cmd;
  if (tblname) {
    cmd = "select * from ";
    cmd += tblname;
  } else {
    cmd = report_select;
  }
  append_conds(cmd, conds);
  return cmd;
}

std::string sqlite_dbent_update_cmd(const char *tblname, const char *const *conds, const char *const *sets)
{
  std::string cmd = "update ";
  cmd += tblname;
  cmd += " set ";
  append_joined(cmd, sets, ", ");
  append_conds(cmd, conds);
  return cmd;
}

struct dbent *create_sqlite_dbent(const char *dbname)
{
  sqlite_dbent *ent = nullptr;
  if (!dbname)
    goto fail;
  ent = static_cast<sqlite_dbent *>(calloc(1, sizeof *ent));
  if (!ent)
    goto fail;
  ent->m_dbname = strdup(dbname);
  if (!ent->m_dbname)
    goto fail;
  ent->m_tblents = utils::create_datalist();
  if (!ent->m_tblents)
    goto fail;
  ent->ops = &gst_sqlite_dbent_ops;
  return reinterpret_cast<struct dbent *>(ent);

fail:
  LOG_FUNCTION_FAILED();
  if (ent) {
    free(ent->m_dbname);
    free(ent);
  }
  return nullptr;
}

void sqlite_dbent_release(struct dbent *e)
{
  sqlite_dbent *ent = as_sqlite(e);
  if (!ent)
    return;
  free(ent->m_dbname);
  for (auto *it = utils::datalist_first(ent->m_tblents); it; it = utils::datalist_next(it))
    tblent_release(static_cast<struct tblent *>(utils::datalist_itdata(it)));
  utils::datalist_free(ent->m_tblents);
  free(ent);
}

void sqlite_dbent_set_wait(struct dbent *e, int wait_ms)
{
  sqlite_dbent *ent = as_sqlite(e);
  ent->m_wait_ms = wait_ms;
  for (auto *it = utils::datalist_first(ent->m_tblents); it; it = utils::datalist_next(it))
    static_cast<sqlite_tblent *>(utils::datalist_itdata(it))->m_wait_ms = wait_ms;
}

int sqlite_dbent_create(struct dbent *e, const char *tblname, const column_info *columns)
{
  sqlite_dbent *ent = as_sqlite(e);
  struct tblent *tbl = create_sqlite_tblent(ent->m_dbname, tblname);
  if (!tbl) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  reinterpret_cast<sqlite_tblent *>(tbl)->m_wait_ms = ent->m_wait_ms;
  if (tblent_create(tbl, columns) != 0 || utils::datalist_append(ent->m_tblents, tbl) != 0) {
    LOG_FUNCTION_FAILED();
    tblent_release(tbl);
    return -1;
  }
  return 0;
}

int sqlite_dbent_insert(struct dbent *e, const char *tblname, const char *const *values)
{
  sqlite_dbent *ent = as_sqlite(e);
  sqlite_set_last_errcode(SQLITE_OK);
  if (!tblname)
    return 0;
  for (auto *it = utils::datalist_first(ent->m_tblents); it; it = utils::datalist_next(it)) {
    auto *tbl = static_cast<struct tblent *>(utils::datalist_itdata(it));
    if (strcmp(tbl->m_tblname, tblname) != 0)
      continue;
    if (tblent_insert(tbl, values) != 0)
      return -1; /* the caller names the row in its log line */
  }
  return 0;
}

int sqlite_dbent_delete(struct dbent *e, const char *tblname, const char *const *conds)
{
  if (!tblname) { /* a caller's mistake: refused before anything is composed */
    LOG_FUNCTION_FAILED();
    sqlite_set_last_errcode(SQLITE_MISUSE);
    return -1;
  }
  std::string cmd = sqlite_dbent_delete_cmd(tblname, conds);
  DLOG("SQL CMD: %s", cmd.c_str());
  /* a failure is logged once, with the statement, by sqlite_exec_cmd */
  return sqlite_exec_cmd(as_sqlite(e)->m_dbname, cmd.c_str(), nullptr, nullptr);
}

int sqlite_dbent_select(struct dbent *e, const char *tblname, const char *const *conds, sqlite_row_callback cb,
                        void *param)
{
  std::string cmd = sqlite_dbent_select_cmd(tblname, conds);
  DLOG("SQL CMD: %s", cmd.c_str());
  return sqlite_exec_cmd(as_sqlite(e)->m_dbname, cmd.c_str(), cb, param);
}

int sqlite_dbent_update(struct dbent *e, const char *tblname, const char *const *conds, const char *const *sets)
{
  if (!tblname) { /* a caller's mistake: refused before anything is composed */
    LOG_FUNCTION_FAILED();
    sqlite_set_last_errcode(SQLITE_MISUSE);
    return -1;
  }
  std::string cmd = sqlite_dbent_update_cmd(tblname, conds, sets);
  DLOG("SQL CMD: %s", cmd.c_str());
  /* a failure is logged once, with the statement, by sqlite_exec_cmd */
  return sqlite_exec_cmd(as_sqlite(e)->m_dbname, cmd.c_str(), nullptr, nullptr);
}
