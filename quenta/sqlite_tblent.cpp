/* The SQLite table entity: taking a column list, the create statement and the
 * table's indexes, and the insert of one row. Inserts bind their values
 * (sqlite3_bind_text / _int64 / _double) rather than writing them into the
 * statement, so quotes, semicolons or line feeds in a value from a gateway are
 * stored as they came and can never end the value early. */
#include "quenta/sqlite_tblent.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>
#include <string_view>
#include <vector>

#include "quenta/schema.h"
#include "utils/debug.h"

namespace {

/* SQL type of each COLUMN_TYPE that is a column, indexed by the type. */
const char *const sqlite_type[] = {
    "smallint", /* T_INT */
    "varchar",  /* T_CHAR */
    "real",     /* T_FLOAT */
};

const struct tblent_ops gst_sqlite_tblent_ops = {
    .release = sqlite_tblent_release,
    .create = sqlite_tblent_create,
    .insert = sqlite_tblent_insert,
};

sqlite_tblent *as_sqlite(struct tblent *ent)
{
  return reinterpret_cast<sqlite_tblent *>(ent);
}

void clear_columns(sqlite_tblent *ent)
{
  for (unsigned i = 0; i < ent->m_ncolumn; i++)
    free(const_cast<char *>(ent->m_column[i].m_name));
  memset(ent->m_column, 0, sizeof ent->m_column);
  ent->m_ncolumn = 0;
  ent->m_constraint = 0;
}

bool is_blank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool parse_number(const char *text, sqlite_value *v)
{
  std::string_view s(text);
  while (!s.empty() && is_blank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back()))
    s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-')
      return false;
  }
  if (s.empty())
    return false;
  const char *end = s.data() + s.size();

  sqlite3_int64 i = 0;
  auto ri = std::from_chars(s.data(), end, i);
  if (ri.ec == std::errc() && ri.ptr == end) {
    v->m_type = SQLITE_INTEGER;
    v->m_int = i;
    return true;
  }
  double d = 0;
  auto rd = std::from_chars(s.data(), end, d, std::chars_format::general);
  if (rd.ec == std::errc() && rd.ptr == end && isfinite(d)) {
    v->m_type = SQLITE_FLOAT;
    v->m_real = d;
    return true;
  }
  return false;
}

/* 1 when the file holds the table, 0 when it does not, -1 when it cannot be
 * read now. */
int table_exists(const sqlite_tblent *ent)
{
  const sqlite_value name = {SQLITE_TEXT, ent->m_tblname, 0, 0};
  long count = -1;
  auto read_count = [](void *p, int, char **v, char **) {
    *static_cast<long *>(p) = atol(v[0]);
    return 0;
  };
  if (sqlite_exec_bound_wait(ent->m_dbname, "select count(*) from sqlite_master where type='table' and name=?", &name,
                             1, SQLITE_WAIT_DEFAULT, read_count, &count) != 0)
    return -1;
  return count > 0 ? 1 : 0;
}

} /* namespace */

struct tblent *create_sqlite_tblent(const char *dbname, const char *tblname)
{
  sqlite_tblent *ent = nullptr;
  if (!dbname || !tblname)
    goto fail;
  ent = static_cast<sqlite_tblent *>(calloc(1, sizeof *ent));
  if (!ent)
    goto fail;
  ent->ops = &gst_sqlite_tblent_ops;
  ent->m_dbname = strdup(dbname);
  ent->m_tblname = strdup(tblname);
  if (!ent->m_dbname || !ent->m_tblname)
    goto fail;
  return reinterpret_cast<struct tblent *>(ent);

fail:
  LOG_FUNCTION_FAILED();
  if (ent)
    sqlite_tblent_release(reinterpret_cast<struct tblent *>(ent));
  return nullptr;
}

void sqlite_tblent_release(struct tblent *e)
{
  sqlite_tblent *ent = as_sqlite(e);
  if (!ent)
    return;
  clear_columns(ent);
  free(ent->m_dbname);
  free(ent->m_tblname);
  free(ent);
}

int sqlite_tblent_addColumn(struct sqlite_tblent *ent, const column_info *columns)
{
  if (!ent || !columns) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  unsigned n = 0;
  for (; columns[n].m_name; n++) {
    if (n >= MAX_COLUMN_INFO - 1 || (unsigned)columns[n].m_type > T_CONSTRAINT) {
      LOG_FUNCTION_FAILED();
      return -1;
    }
  }

  clear_columns(ent);
  for (unsigned i = 0; i < n; i++) {
    if (columns[i].m_type == T_CONSTRAINT) {
      ent->m_constraint = 1;
      continue;
    }
    column_info *slot = &ent->m_column[ent->m_ncolumn];
    char *name = strdup(columns[i].m_name);
    if (!name) {
      LOG_FUNCTION_FAILED();
      clear_columns(ent);
      return -1;
    }
    slot->m_name = name;
    slot->m_type = columns[i].m_type;
    slot->m_len = columns[i].m_len;
    ent->m_ncolumn++;
  }
  return 0;
}

std::string sqlite_tblent_create_cmd(const char *tblname, const column_info *columns)
{
  std::string cmd = "create table ";
  cmd += tblname;
  cmd += '(';
  for (const column_info *c = columns; c && c->m_name; c++) {
    if (c != columns)
      cmd += ", ";
    if (c->m_type == T_CONSTRAINT) {
      cmd += "constraint key1 unique(";
      cmd += c->m_name;
      cmd += ')';
      continue;
    }
    cmd += c->m_name;
    cmd += ' ';
    cmd += sqlite_type[c->m_type];
    if (c->m_type == T_CHAR)
      cmd += "(" + std::to_string(c->m_len) + ")";
  }
  cmd += ')';
  return cmd;
}

std::string sqlite_tblent_insert_cmd(const char *tblname, unsigned ncolumn)
{
  std::string cmd = "insert into ";
  cmd += tblname;
  cmd += " values(";
  for (unsigned i = 0; i < ncolumn; i++)
    cmd += i ? ", ?" : "?";
  cmd += ')';
  return cmd;
}

int sqlite_tblent_create(struct tblent *e, const column_info *columns)
{
  sqlite_tblent *ent = as_sqlite(e);
  if (sqlite_tblent_addColumn(ent, columns) != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  DLOG("ncolumn: %d, constraint: %d", (int)ent->m_ncolumn, ent->m_constraint);

  /* A table from an earlier run is the usual case, not a failure: it is
   * looked for first, so a healthy start logs no error. When the file cannot
   * be read now the create is tried all the same and its failure logged; the
   * station starts and its calls wait in the pending file. */
  if (table_exists(ent) > 0) {
    DLOG("table exist...");
  } else {
    std::string cmd = sqlite_tblent_create_cmd(ent->m_tblname, columns);
    DLOG("CMD: %s", cmd.c_str());
    if (sqlite_exec_cmd(ent->m_dbname, cmd.c_str(), nullptr, nullptr) != 0)
      DLOG("table exist...");
  }

  /* The indexes are an aid to lookups: one that cannot be built is logged
   * where it failed and the table is used without it. */
  for (const char *const *idx = schema_index_cmds(ent->m_tblname); idx && *idx; idx++) {
    DLOG("CMD: %s", *idx);
    sqlite_exec_cmd(ent->m_dbname, *idx, nullptr, nullptr);
  }
  sqlite_set_last_errcode(SQLITE_OK);
  return 0;
}

int sqlite_bind_row(const char *tblname, const column_info *columns, const char *const *values,
                    std::vector<sqlite_value> *bound)
{
  bound->clear();
  size_t v = 0;
  for (const column_info *col = columns; col && col->m_name; col++) {
    if (col->m_type == T_CONSTRAINT)
      continue;
    if (!values || !values[v]) {
      sqlite_set_last_error(SQLITE_RANGE, (std::string("too few values for the columns of ") + tblname).c_str());
      return SQLITE_RANGE;
    }
    sqlite_value value{};
    if (col->m_type == T_CHAR) {
      value.m_type = SQLITE_TEXT;
      value.m_text = values[v];
    } else if (!parse_number(values[v], &value)) {
      std::string why = std::string(tblname) + "." + col->m_name + ": not a number: " + values[v];
      sqlite_set_last_error(SQLITE_MISMATCH, why.c_str());
      return SQLITE_MISMATCH;
    }
    bound->push_back(value);
    v++;
  }
  if (values && values[v]) {
    sqlite_set_last_error(SQLITE_RANGE, (std::string("too many values for the columns of ") + tblname).c_str());
    return SQLITE_RANGE;
  }
  return SQLITE_OK;
}

int sqlite_tblent_insert(struct tblent *e, const char *const *values)
{
  sqlite_tblent *ent = as_sqlite(e);
  std::vector<sqlite_value> bound;
  if (sqlite_bind_row(ent->m_tblname, ent->m_column, values, &bound) != SQLITE_OK)
    return -1;
  std::string cmd = sqlite_tblent_insert_cmd(ent->m_tblname, ent->m_ncolumn);
  return sqlite_exec_bound_wait(ent->m_dbname, cmd.c_str(), bound.data(), (int)bound.size(), ent->m_wait_ms, nullptr,
                                nullptr);
}
