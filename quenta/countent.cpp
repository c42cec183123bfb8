/* The counting entity: creation over the CDR and bill tables, the lookup that
 * reads one CDR and prices it inside the select's row callback, the price of
 * a call without a CDR, and the storing of a bill with operator and time. */
#include "quenta/countent.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "quenta/sqlite.h"
#include "quenta/sqlite_dbent.h"
#include "utils/debug.h"
#include "utils/decimal.h"

namespace {

/* A text of at most size bytes that may lack its terminator, as a string. */
std::string bounded(const char *text, size_t size)
{
  return std::string(text, strnlen(text, size));
}

/* Copies a column value into a call field; a null value is an empty text. */
void copy_field(char *field, size_t size, const char *value)
{
  snprintf(field, size, "%s", value ? value : "");
}

/* A text between single quotes as SQL reads it: a quote inside is doubled, so
 * no call id can end the literal early. */
std::string sql_text(const char *text)
{
  std::string s = "'";
  for (const char *p = text; *p; p++) {
    if (*p == '\'')
      s += '\'';
    s += *p;
  }
  s += '\'';
  return s;
}

std::string local_time_now()
{
  time_t now = time(nullptr);
  struct tm tm;
  char buf[32];
  if (!localtime_r(&now, &tm) || strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0)
    return std::string();
  return buf;
}

int countent_create_database(struct dbent **db, char **name, const char *dbpath, const char *tblname,
                             const column_info *columns)
{
  *db = create_sqlite_dbent(dbpath);
  if (!*db) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  if (dbent_create(*db, tblname, columns) != 0) {
    LOG_FUNCTION_FAILED();
    dbent_release(*db);
    *db = nullptr;
    return -1;
  }
  *name = strdup(tblname);
  if (!*name) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return 0;
}

int countent_create_cdr_database(struct countent *ce, const char *dbpath, const char *tblname)
{
  return countent_create_database(&ce->m_cdrdb, &ce->m_cdrtbl_name, dbpath, tblname, gst_cdr_infos);
}

int countent_create_bill_database(struct countent *ce, const char *dbpath, const char *tblname)
{
  return countent_create_database(&ce->m_billdb, &ce->m_billtbl_name, dbpath, tblname, gst_bill_infos);
}

/* One CDR row: the call is priced here, with g_cs held. 0 goes on, -1 stops
 * the select when the call cannot be priced. */
int cdrdb_callback(void *param, int argc, char **argv, char **colnames)
{
  auto *ce = static_cast<countent *>(param);
  DLOG("argc: %d", argc);
  call_info call;
  memset(&call, 0, sizeof call);
  for (int i = 0; i < argc; i++) {
    const char *name = colnames[i] ? colnames[i] : "";
    const char *value = argv[i];
    DLOG("colname: %s colvalue: %s", name, value ? value : "");
    if (strncmp(name, "callid", 6) == 0)
      copy_field(call.callid, sizeof call.callid, value);
    else if (strncmp(name, "orgnum", 6) == 0)
      copy_field(call.srcnum, sizeof call.srcnum, value);
    else if (strncmp(name, "desnum", 6) == 0)
      copy_field(call.desnum, sizeof call.desnum, value);
    else if (strncmp(name, "bdate", 5) == 0)
      copy_field(call.bdate, sizeof call.bdate, value);
    else if (strncmp(name, "edate", 5) == 0)
      copy_field(call.edate, sizeof call.edate, value);
  }

  ce->m_bill_info = counter_get_result(ce->m_counter, &call);
  if (!ce->m_bill_info) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  /* cut so that the line stays within the log's limit instead of being dropped */
  DLOG("Bill info: callid: %.80s, calltime: %d, period_record: %.100s", ce->m_bill_info->m_callid,
       ce->m_bill_info->m_calltime, ce->m_bill_info->m_period_record);
  DLOG("count: %s", utils::decimal_text(ce->m_bill_info->m_count, 6).s);
  return 0;
}

int select_bill_info(struct countent *ce, const char *callid)
{
  std::string cond = "callid = " + sql_text(callid);
  const char *conds[] = {cond.c_str(), nullptr};
  if (dbent_select(ce->m_cdrdb, ce->m_cdrtbl_name, conds, cdrdb_callback, ce) != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return 0;
}

int billdb_insert(struct countent *ce, const char *const *values)
{
  return dbent_insert(ce->m_billdb, ce->m_billtbl_name, values);
}

} /* namespace */

struct countent *create_countent(const char *dbpath, const char *cdrtbl, const char *billtbl)
{
  auto *ce = static_cast<countent *>(calloc(1, sizeof(countent)));
  if (!ce) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }
  if (countent_create_cdr_database(ce, dbpath, cdrtbl) != 0 ||
      countent_create_bill_database(ce, dbpath, billtbl) != 0 ||
      !(ce->m_counter = create_normal_counter(COUNTER_NAME))) {
    LOG_FUNCTION_FAILED();
    countent_release(ce);
    return nullptr;
  }
  return ce;
}

void countent_release(struct countent *ce)
{
  if (!ce)
    return;
  if (ce->m_counter)
    counter_release(ce->m_counter);
  if (ce->m_cdrdb)
    dbent_release(ce->m_cdrdb);
  if (ce->m_billdb)
    dbent_release(ce->m_billdb);
  free(ce->m_cdrtbl_name);
  free(ce->m_billtbl_name);
  free(ce);
}

bill_info *countent_getbill(struct countent *ce, const char *callid)
{
  if (!callid)
    callid = "";
  DLOG("getbill: %.200s", callid);
  ce->m_bill_info = nullptr;
  if (select_bill_info(ce, callid) != 0) {
    LOG_FUNCTION_FAILED();
    ce->m_bill_info = nullptr;
    return nullptr;
  }
  return ce->m_bill_info;
}

int countent_price_call(struct countent *ce, const char *desnum, const char *bdate, const char *edate,
                        bill_info *bill)
{
  call_info call;
  memset(&call, 0, sizeof call);
  copy_field(call.desnum, sizeof call.desnum, desnum);
  copy_field(call.bdate, sizeof call.bdate, bdate);
  copy_field(call.edate, sizeof call.edate, edate);
  return counter_price(ce->m_counter, &call, bill);
}

int countent_save(struct countent *ce, const bill_info *bill, const char *admin)
{
  if (!bill || !admin) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  char calltime[16];
  snprintf(calltime, sizeof calltime, "%d", bill->m_calltime);
  /* a number column goes into the statement unquoted: "1,10" would be two values */
  utils::decimal_text count(bill->m_count);
  std::string callid = bounded(bill->m_callid, sizeof bill->m_callid);
  std::string period = bounded(bill->m_period_record, sizeof bill->m_period_record);
  std::string date = local_time_now();
  const char *values[] = {callid.c_str(), calltime, period.c_str(), count.s, admin, date.c_str(), nullptr};
  if (billdb_insert(ce, values) != 0) {
    DLOG("bill of call %.100s not stored: %.80s", callid.c_str(), sqlite_last_errmsg());
    return -1;
  }
  return 0;
}

struct counter *countent_getcounter(struct countent *ce)
{
  return ce->m_counter;
}
