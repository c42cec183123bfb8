/* The audit trail "audittbl": entries appended with the moment, the operator,
 * the action and its particulars, read back over a range with optional
 * filters, and the guard that keeps every other statement of the engine off
 * the table's rows. */
#include "quenta/audit.h"

#include <string.h>
#include <strings.h>
#include <time.h>

#include <string>

#include "quenta/dbent.h"
#include "quenta/init.h"
#include "quenta/quenta.h"
#include "utils/debug.h"
#include "utils/text.h"

struct dbent *gpst_auditdb = nullptr;

namespace {

/* Set on the thread while it runs the trail's own insert. */
thread_local bool t_appending = false;

/* The trail and the records of money taken and handed back. */
bool is_audit_table(const char *name)
{
  return name && (strcasecmp(name, AUDIT_TBL_NAME) == 0 || strcasecmp(name, "checkouttbl") == 0 ||
                  strcasecmp(name, "refundtbl") == 0);
}

/* The authorizer: a write to the trail is refused unless it is the append;
 * so are dropping, renaming or altering it, the pragma that would let the
 * schema itself be edited, and any trigger (the engine makes none, and one on
 * another table could reach the trail, or refuse the calls' own inserts, once
 * it fires). Reads pass. */
int audit_guard(void *, int action, const char *arg1, const char *arg2, const char *, const char *)
{
  switch (action) {
  case SQLITE_INSERT:
    return is_audit_table(arg1) && !t_appending ? SQLITE_DENY : SQLITE_OK;
  case SQLITE_UPDATE:
  case SQLITE_DELETE:
  case SQLITE_DROP_TABLE:
  case SQLITE_DROP_TEMP_TABLE:
    return is_audit_table(arg1) ? SQLITE_DENY : SQLITE_OK;
  case SQLITE_ALTER_TABLE:
    return is_audit_table(arg2) ? SQLITE_DENY : SQLITE_OK;
  case SQLITE_CREATE_TRIGGER:
  case SQLITE_CREATE_TEMP_TRIGGER:
    return SQLITE_DENY;
  case SQLITE_PRAGMA:
    return arg1 && strcasecmp(arg1, "writable_schema") == 0 ? SQLITE_DENY : SQLITE_OK;
  default:
    return SQLITE_OK;
  }
}

/* "%Y-%m-%d %H:%M:%S" exactly: digits where the form has them. */
bool is_time_text(const char *s)
{
  static const char form[] = "dddd-dd-dd dd:dd:dd";
  for (size_t i = 0; i < sizeof form - 1; i++) {
    if (form[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != form[i])
      return false;
  }
  return s[sizeof form - 1] == '\0';
}

struct audit_rows {
  USER_CALLBACK cb;
  void *param;
};

int audit_row(void *param, int argc, char **argv, char **)
{
  auto *rows = static_cast<audit_rows *>(param);
  if (argc != 5)
    return 1;
  audit_info a;
  memset(&a, 0, sizeof a);
  a.m_rowid = strtoll(argv[0], nullptr, 10);
  utils::copy_text(a.m_date, sizeof a.m_date, argv[1]);
  utils::copy_text(a.m_admin, sizeof a.m_admin, argv[2]);
  utils::copy_text(a.m_action, sizeof a.m_action, argv[3]);
  utils::copy_text(a.m_detail, sizeof a.m_detail, argv[4]);
  rows->cb(&a, rows->param);
  return 0;
}

/* A filter given as null or "" matches every row. */
const char *const select_audit = "select rowid, date, admin, action, detail from audittbl where date>=?1 and date<=?2 "
                                 "and (?3='' or admin=?3) and (?4='' or action=?4) order by rowid";

} /* namespace */

void audit_guard_connection(sqlite3 *db)
{
  sqlite3_set_authorizer(db, audit_guard, nullptr);
}

append_scope::append_scope()
{
  t_appending = true;
}

append_scope::~append_scope()
{
  t_appending = false;
}

extern "C" {

QUENTA_API int quenta_auditAt(const char *date, const char *admin, const char *action, const char *detail)
{
  if (!quenta_running() || !admin || !*admin || !action || !*action || (date && !is_time_text(date))) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  std::string now;
  if (!date) {
    now = utils::local_time_text(time(nullptr));
    date = now.c_str();
  }
  std::string who = operator_name(admin);
  std::string what = utils::gbk_cut(action, ADMIN_LEN - 1);
  std::string particulars = utils::gbk_cut(detail, AUDIT_DETAIL_LEN - 1);
  const char *values[] = {date, who.c_str(), what.c_str(), particulars.c_str(), nullptr};
  int rc;
  {
    append_scope appending;
    rc = dbent_insert(gpst_auditdb, AUDIT_TBL_NAME, values);
  }
  if (rc != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return 0;
}

QUENTA_API int quenta_audit(const char *admin, const char *action, const char *detail)
{
  return quenta_auditAt(nullptr, admin, action, detail);
}

QUENTA_API int quenta_selectAudit(const char *from, const char *to, const char *admin, const char *action,
                                  USER_CALLBACK cb, void *param)
{
  if (!quenta_running() || !from || !to || !cb) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  const sqlite_value values[] = {{SQLITE_TEXT, from, 0, 0},
                                 {SQLITE_TEXT, to, 0, 0},
                                 {SQLITE_TEXT, admin ? admin : "", 0, 0},
                                 {SQLITE_TEXT, action ? action : "", 0, 0}};
  audit_rows rows{cb, param};
  DLOG("SQL CMD: %s", select_audit);
  if (sqlite_exec_bound_wait(gpst_auditdb->m_dbname, select_audit, values, 4, SQLITE_WAIT_DEFAULT, audit_row, &rows) !=
      0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return 0;
}

} /* extern "C" */
