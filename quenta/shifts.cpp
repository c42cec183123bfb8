/* The shift record "shifttbl": one row appended per handover of the counter,
 * and the handovers of a range read back beside the bills that each outgoing
 * operator stored during the shift, for the owner to compare. */
#include <stdlib.h>
#include <string.h>

#include <string>

#include "quenta/dbent.h"
#include "quenta/init.h"
#include "quenta/quenta.h"
#include "quenta/sqlite.h"
#include "utils/debug.h"
#include "utils/decimal.h"

struct dbent *gpst_shiftdb = nullptr;

namespace {

struct shift_rows {
  USER_CALLBACK cb;
  void *param;
};

/* A text of a fixed field that may lack its terminator. */
std::string field_text(const char *field, size_t size)
{
  return std::string(field, strnlen(field, size));
}

void copy_text(char *field, size_t size, const char *value)
{
  size_t len = strnlen(value, size - 1);
  memcpy(field, value, len);
  field[len] = '\0';
}

/* The handovers whose moment lies in the range, oldest first, each with the
 * bills of its outgoing operator dated within its shift (index billtbl(admin,
 * date)); a shift without bills still gets its row from the left join. */
const char *const select_shifts =
    "select s.rowid, s.bdate, s.edate, s.outgoing, s.takings, s.incoming, count(b.rowid), "
    "total(round(b.count * 100)) from shifttbl s left join billtbl b on b.admin=s.outgoing "
    "and b.date>=s.bdate and b.date<=s.edate where s.edate>=?1 and s.edate<=?2 "
    "group by s.rowid order by s.rowid";

int shift_row(void *param, int argc, char **argv, char **colnames)
{
  (void)colnames;
  auto *rows = static_cast<shift_rows *>(param);
  if (argc != 8)
    return 1;
  shift_report r;
  memset(&r, 0, sizeof r);
  r.m_rowid = strtoll(argv[0], nullptr, 10);
  copy_text(r.m_shift.m_bdate, sizeof r.m_shift.m_bdate, argv[1]);
  copy_text(r.m_shift.m_edate, sizeof r.m_shift.m_edate, argv[2]);
  copy_text(r.m_shift.m_outgoing, sizeof r.m_shift.m_outgoing, argv[3]);
  r.m_shift.m_takings = (float)utils::parse_decimal(argv[4]);
  copy_text(r.m_shift.m_incoming, sizeof r.m_shift.m_incoming, argv[5]);
  r.m_bills = atoi(argv[6]);
  r.m_cents = strtoll(argv[7], nullptr, 10);
  rows->cb(&r, rows->param);
  return 0;
}

} /* namespace */

extern "C" {

QUENTA_API int quenta_saveShift(const shift_info *shift)
{
  if (!quenta_running() || !shift) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  std::string bdate = field_text(shift->m_bdate, sizeof shift->m_bdate);
  std::string edate = field_text(shift->m_edate, sizeof shift->m_edate);
  std::string outgoing = operator_name(field_text(shift->m_outgoing, sizeof shift->m_outgoing).c_str());
  std::string incoming = operator_name(field_text(shift->m_incoming, sizeof shift->m_incoming).c_str());
  /* as bills are stored: two decimals and a point, whatever the locale */
  utils::decimal_text takings(shift->m_takings);
  const char *values[] = {bdate.c_str(), edate.c_str(), outgoing.c_str(), takings.s, incoming.c_str(),
                          nullptr};
  if (dbent_insert(gpst_shiftdb, SHIFT_TBL_NAME, values) != 0) {
    DLOG("shift %s - %s of %.63s not stored: %.100s", bdate.c_str(), edate.c_str(), outgoing.c_str(),
         sqlite_last_errmsg());
    return -1;
  }
  DLOG("shift %s - %s handed over by %.63s to %.63s: %s", bdate.c_str(), edate.c_str(), outgoing.c_str(),
       incoming.c_str(), takings.s);
  return 0;
}

QUENTA_API int quenta_selectShifts(const char *from, const char *to, USER_CALLBACK cb, void *param)
{
  if (!quenta_running() || !from || !to || !cb) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  const sqlite_value range[] = {{SQLITE_TEXT, from, 0, 0}, {SQLITE_TEXT, to, 0, 0}};
  shift_rows rows{cb, param};
  DLOG("SQL CMD: %s", select_shifts);
  if (sqlite_exec_bound_wait(gpst_shiftdb->m_dbname, select_shifts, range, 2, SQLITE_WAIT_DEFAULT, shift_row,
                             &rows) != 0) {
    DLOG("shifts from %.32s to %.32s not read: %.100s", from, to, sqlite_last_errmsg());
    return -1;
  }
  return 0;
}

} /* extern "C" */
