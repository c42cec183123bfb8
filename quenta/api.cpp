/* The engine's exported operations after start-up: line status and commands,
 * pricing and storing bills, table operations and the report. Each one checks
 * that the engine runs and then hands its arguments to the entity that owns
 * the work. */
#include <string.h>

#include "quenta/counter.h"
#include "quenta/countent.h"
#include "quenta/init.h"
#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "utils/debug.h"
#include "utils/text.h"

std::string operator_name(const char *admin)
{
  return utils::gbk_cut(admin, ADMIN_LEN - 1);
}

namespace {

int select_rows(const char *table, const char *const *conds, sqlite_row_callback deliver, USER_CALLBACK cb, void *param)
{
  if (!quenta_running() || !cb)
    return -1;
  user_rows rows{cb, param};
  return dbent_select(gpst_dbent, table, conds, deliver, &rows);
}

} /* namespace */

extern "C" {

QUENTA_API int quenta_getStatus(STATUS_CALLBACK cb)
{
  if (!quenta_running())
    return 0;
  if (!cb)
    return 0;
  return msghdlr_get_status(gpst_msghdlr, cb);
}

QUENTA_API int quenta_getStatusEx(STATUS_CALLBACK_EX cb, void *param)
{
  if (!quenta_running() || !cb)
    return 0;
  return msghdlr_get_status_ex(gpst_msghdlr, cb, param);
}

QUENTA_API int quenta_sendCommand(const char *machineid, unsigned int lineid, const char *command)
{
  if (!quenta_running() || !machineid || !command)
    return -1;
  return msghdlr_send_command(gpst_msghdlr, machineid, lineid, command);
}

QUENTA_API int quenta_callRecovered(const char *machineid, int lineid)
{
  if (!quenta_running() || !machineid)
    return 0;
  return msghdlr_call_recovered(gpst_msghdlr, machineid, (unsigned)lineid);
}

QUENTA_API unsigned long long quenta_getRefused(char *lastaddr, int size)
{
  if (lastaddr && size > 0)
    lastaddr[0] = '\0';
  if (!quenta_running())
    return 0;
  return msghdlr_refused(gpst_msghdlr, lastaddr, size);
}

QUENTA_API bill_info *quenta_getbill(const char *callid)
{
  if (!quenta_running() || !callid)
    return nullptr;
  bill_info *bill = countent_getbill(gpst_countent, callid);
  if (!bill)
    LOG_FUNCTION_FAILED();
  return bill;
}

QUENTA_API int quenta_priceCall(const char *desnum, const char *bdate, const char *edate, bill_info *bill)
{
  if (!bill)
    return -1;
  if (!quenta_running() || !desnum || !bdate || !edate) {
    memset(bill, 0, sizeof *bill);
    return -1;
  }
  utils::log_silence quiet;
  return countent_price_call(gpst_countent, desnum, bdate, edate, bill);
}

QUENTA_API int quenta_saveBill(bill_info *bill, const char *admin)
{
  if (!quenta_running() || !bill)
    return -1;
  std::string name = operator_name(admin);
  return countent_save(gpst_countent, bill, name.c_str());
}

QUENTA_API void quenta_save(bill_info *bill, const char *admin)
{
  quenta_saveBill(bill, admin);
}

QUENTA_API unsigned int quenta_getUnsavedCalls(void)
{
  if (!quenta_running())
    return 0;
  return msghdlr_unsaved_calls(gpst_msghdlr);
}

QUENTA_API int quenta_selectCDRTable(const char *const *conds, USER_CALLBACK cb, void *param)
{
  return select_rows(CDR_TBL_NAME, conds, cdr_select_callback, cb, param);
}

QUENTA_API int quenta_deleteCDRTableRecord(const char *const *conds)
{
  if (!quenta_running())
    return -1;
  return dbent_delete(gpst_dbent, CDR_TBL_NAME, conds);
}

QUENTA_API int quenta_updateCDRTable(const char *const *conds, const char *const *sets)
{
  if (!quenta_running() || !sets || !sets[0])
    return -1;
  return dbent_update(gpst_dbent, CDR_TBL_NAME, conds, sets);
}

QUENTA_API int quenta_selectBillTable(const char *const *conds, USER_CALLBACK cb, void *param)
{
  return select_rows(BILL_TBL_NAME, conds, bill_select_callback, cb, param);
}

QUENTA_API int quenta_deleteBillTableRecord(const char *const *conds)
{
  if (!quenta_running())
    return -1;
  return dbent_delete(gpst_dbent, BILL_TBL_NAME, conds);
}

QUENTA_API int quenta_updateBillTable(const char *const *conds, const char *const *sets)
{
  if (!quenta_running() || !sets || !sets[0])
    return -1;
  return dbent_update(gpst_dbent, BILL_TBL_NAME, conds, sets);
}

QUENTA_API float quenta_getrate(const char *destnum, const char *time)
{
  if (!quenta_running() || !destnum || !time)
    return 0.0f;
  return counter_getrate(countent_getcounter(gpst_countent), destnum, time);
}

QUENTA_API int quenta_getReport(const char *const *conds, USER_CALLBACK cb, void *param)
{
  return select_rows(nullptr, conds, report_select_callback, cb, param);
}

} /* extern "C" */
