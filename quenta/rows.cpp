/* Row delivery of the exported select operations: each result row is turned
 * into a zeroed cdr_info, bill_info or report_info and handed to the caller's
 * callback. Column names are matched by their beginning, in a fixed order. */
#include <stdlib.h>
#include <string.h>

#include "quenta/init.h"
#include "utils/debug.h"
#include "utils/decimal.h"
#include "utils/text.h"

namespace {

bool starts_with(const char *name, const char *known)
{
  return strncmp(name, known, strlen(known)) == 0;
}

/* One column into a call record; false when the name is not a cdrtbl column. */
bool fill_cdr(cdr_info &cdr, const char *name, const char *value)
{
  if (starts_with(name, "callid"))
    utils::copy_text(cdr.callid, sizeof cdr.callid, value);
  else if (starts_with(name, "machineid"))
    utils::copy_text(cdr.machineid, sizeof cdr.machineid, value);
  else if (starts_with(name, "lineid"))
    cdr.lineid = atoi(value);
  else if (starts_with(name, "orgnum"))
    utils::copy_text(cdr.orgnum, sizeof cdr.orgnum, value);
  else if (starts_with(name, "desnum"))
    utils::copy_text(cdr.desnum, sizeof cdr.desnum, value);
  else if (starts_with(name, "bdate"))
    utils::copy_text(cdr.bdate, sizeof cdr.bdate, value);
  else if (starts_with(name, "edate"))
    utils::copy_text(cdr.edate, sizeof cdr.edate, value);
  else if (starts_with(name, "flag"))
    cdr.flag = atoi(value);
  else
    return false;
  return true;
}

/* The bill columns after "callid", which every caller handles itself. */
void fill_bill(bill_info &bill, const char *name, const char *value)
{
  if (starts_with(name, "calltime"))
    bill.m_calltime = atoi(value);
  else if (starts_with(name, "period"))
    utils::copy_text(bill.m_period_record, 129, value); /* only the first 128 characters */
  else if (starts_with(name, "count"))
    bill.m_count = (float)utils::parse_decimal(value);
  else if (starts_with(name, "admin"))
    utils::copy_text(bill.m_admin, sizeof bill.m_admin, value);
  else if (starts_with(name, "date"))
    utils::copy_text(bill.m_date, sizeof bill.m_date, value);
}

inline const char *value_of(char **argv, int i)
{
  return argv[i] ? argv[i] : "";
}

} /* namespace */

int cdr_select_callback(void *param, int argc, char **argv, char **colnames)
{
  auto *rows = static_cast<user_rows *>(param);
  cdr_info cdr;
  memset(&cdr, 0, sizeof cdr);
  for (int i = 0; i < argc; i++)
    fill_cdr(cdr, colnames[i], value_of(argv, i));
  rows->cb(&cdr, rows->param);
  return 0;
}

int bill_select_callback(void *param, int argc, char **argv, char **colnames)
{
  auto *rows = static_cast<user_rows *>(param);
  bill_info bill;
  memset(&bill, 0, sizeof bill);
  for (int i = 0; i < argc; i++) {
    const char *value = value_of(argv, i);
    if (starts_with(colnames[i], "callid")) {
      utils::copy_text(bill.m_callid, sizeof bill.m_callid, value);
      DLOG("info.m_callid = %s", bill.m_callid);
    } else {
      fill_bill(bill, colnames[i], value);
    }
  }
  DLOG("info.m_callid = %s", bill.m_callid);
  rows->cb(&bill, rows->param);
  return 0;
}

int report_select_callback(void *param, int argc, char **argv, char **colnames)
{
  auto *rows = static_cast<user_rows *>(param);
  report_info row;
  memset(&row, 0, sizeof row);
  for (int i = 0; i < argc; i++) {
    const char *name = colnames[i];
    const char *value = value_of(argv, i);
    /* "callid" occurs in both tables; each occurrence fills both records and
     * the later one stands (the same text under the join condition). */
    if (starts_with(name, "callid")) {
      utils::copy_text(row.m_cdr.callid, sizeof row.m_cdr.callid, value);
      utils::copy_text(row.m_bill.m_callid, sizeof row.m_bill.m_callid, value);
    } else if (starts_with(name, "calltime") || starts_with(name, "period") || starts_with(name, "count") ||
               starts_with(name, "admin") || starts_with(name, "date")) {
      fill_bill(row.m_bill, name, value);
    } else {
      fill_cdr(row.m_cdr, name, value);
    }
  }
  rows->cb(&row, rows->param);
  return 0;
}
