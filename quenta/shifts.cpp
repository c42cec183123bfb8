/* The shift record "shifttbl": one row appended per handover of the counter,
 * and the handovers of a range read back beside the bills that each outgoing
 * operator stored during the shift, for the owner to compare. The five
 * columns the chain's collector reads come first; the drawer of the shift
 * (what it should hold, what was counted, the deposits held apart, whether
 * it was handed over at all) follows in columns added to older files. */
#include <stdlib.h>
#include <string.h>

#include <string>

#include "quenta/dbent.h"
#include "quenta/init.h"
#include "quenta/quenta.h"
#include "quenta/sqlite.h"
#include "utils/debug.h"
#include "utils/decimal.h"
#include "utils/text.h"

struct dbent *gpst_shiftdb = nullptr;

namespace {

struct shift_rows {
  USER_CALLBACK cb;
  void *param;
  bool drawers; /* cb takes a shift_drawer_report, else a shift_report */
};

/* The handovers whose moment lies in the range, oldest first, each with the
 * bills of its outgoing operator dated within its shift (index billtbl(admin,
 * date)); a shift without bills still gets its row from the left join. */
const char *const select_shifts =
    "select s.rowid, s.bdate, s.edate, s.outgoing, s.takings, s.incoming, count(b.rowid), "
    "total(round(b.count * 100)), s.drawer, s.counted, s.held, s.handed from shifttbl s "
    "left join billtbl b on b.admin=s.outgoing and b.date>=s.bdate and b.date<=s.edate "
    "where s.edate>=?1 and s.edate<=?2 group by s.rowid order by s.rowid";

const char *const insert_shift =
    "insert into shifttbl(bdate, edate, outgoing, takings, incoming, drawer, counted, held, handed) "
    "values(?, ?, ?, ?, ?, ?, ?, ?, ?)";

/* The drawer's columns, after the five of gst_shift_infos. */
const char *const drawer_columns[] = {"drawer", "counted", "held", "handed"};

int shift_row(void *param, int argc, char **argv, char **colnames)
{
  (void)colnames;
  auto *rows = static_cast<shift_rows *>(param);
  if (argc != 12)
    return 1;
  shift_drawer_report d;
  memset(&d, 0, sizeof d);
  shift_report &r = d.m_report;
  r.m_rowid = strtoll(argv[0], nullptr, 10);
  utils::copy_text(r.m_shift.m_bdate, sizeof r.m_shift.m_bdate, argv[1]);
  utils::copy_text(r.m_shift.m_edate, sizeof r.m_shift.m_edate, argv[2]);
  utils::copy_text(r.m_shift.m_outgoing, sizeof r.m_shift.m_outgoing, argv[3]);
  r.m_shift.m_takings = (float)utils::parse_decimal(argv[4]);
  utils::copy_text(r.m_shift.m_incoming, sizeof r.m_shift.m_incoming, argv[5]);
  r.m_bills = atoi(argv[6]);
  r.m_cents = strtoll(argv[7], nullptr, 10);
  shift_drawer &drawer = d.m_drawer;
  /* a null comes as the empty text: a row without a drawer was handed over */
  drawer.m_flags = argv[11][0] && atoi(argv[11]) == 0 ? 0 : SHIFT_HANDED_OVER;
  if (argv[8][0] && argv[10][0]) {
    drawer.m_flags |= SHIFT_DRAWER_KNOWN;
    drawer.m_expected = strtoll(argv[8], nullptr, 10);
    drawer.m_held = strtoll(argv[10], nullptr, 10);
  }
  if (argv[9][0]) {
    drawer.m_flags |= SHIFT_COUNTED;
    drawer.m_counted = strtoll(argv[9], nullptr, 10);
  }
  if (rows->drawers)
    rows->cb(&d, rows->param);
  else
    rows->cb(&r, rows->param);
  return 0;
}

int column_found(void *param, int argc, char **argv, char **colnames)
{
  (void)argc;
  (void)argv;
  (void)colnames;
  *static_cast<bool *>(param) = true;
  return 0;
}

int select_rows(const char *from, const char *to, USER_CALLBACK cb, void *param, bool drawers)
{
  if (!quenta_running() || !from || !to || !cb) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  const sqlite_value range[] = {{SQLITE_TEXT, from, 0, 0}, {SQLITE_TEXT, to, 0, 0}};
  shift_rows rows{cb, param, drawers};
  DLOG("SQL CMD: %s", select_shifts);
  if (sqlite_exec_bound_wait(gpst_shiftdb->m_dbname, select_shifts, range, 2, SQLITE_WAIT_DEFAULT, shift_row, &rows) !=
      0) {
    DLOG("shifts from %.32s to %.32s not read: %.100s", from, to, sqlite_last_errmsg());
    return -1;
  }
  return 0;
}

} /* namespace */

int shifts_add_drawer(const char *dbpath)
{
  for (const char *column : drawer_columns) {
    const std::string probe =
        std::string("select 1 from pragma_table_info('" SHIFT_TBL_NAME "') where name=") + utils::sql_quote(column);
    bool found = false;
    if (sqlite_exec_cmd(dbpath, probe.c_str(), column_found, &found) != 0)
      return -1;
    if (found)
      continue;
    const std::string alter = std::string("alter table " SHIFT_TBL_NAME " add column ") + column + " integer";
    if (sqlite_exec_cmd(dbpath, alter.c_str(), nullptr, nullptr) != 0)
      return -1;
  }
  return 0;
}

extern "C" {

QUENTA_API int quenta_saveShift(const shift_info *shift)
{
  return quenta_saveShiftDrawer(shift, nullptr);
}

QUENTA_API int quenta_saveShiftDrawer(const shift_info *shift, const shift_drawer *drawer)
{
  if (!quenta_running() || !shift) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  std::string bdate = utils::field_text(shift->m_bdate, sizeof shift->m_bdate);
  std::string edate = utils::field_text(shift->m_edate, sizeof shift->m_edate);
  std::string outgoing = operator_name(utils::field_text(shift->m_outgoing, sizeof shift->m_outgoing).c_str());
  std::string incoming = operator_name(utils::field_text(shift->m_incoming, sizeof shift->m_incoming).c_str());
  /* as bills are stored: two decimals and a point, whatever the locale */
  utils::decimal_text takings(shift->m_takings);
  const sqlite_value null_value = {SQLITE_NULL, nullptr, 0, 0};
  const bool known = drawer && (drawer->m_flags & SHIFT_DRAWER_KNOWN);
  const bool counted = drawer && (drawer->m_flags & SHIFT_COUNTED);
  const sqlite_value values[] = {
      {SQLITE_TEXT, bdate.c_str(), 0, 0},
      {SQLITE_TEXT, edate.c_str(), 0, 0},
      {SQLITE_TEXT, outgoing.c_str(), 0, 0},
      {SQLITE_FLOAT, nullptr, 0, utils::parse_decimal(takings.s)},
      {SQLITE_TEXT, incoming.c_str(), 0, 0},
      known ? sqlite_value{SQLITE_INTEGER, nullptr, drawer->m_expected, 0} : null_value,
      counted ? sqlite_value{SQLITE_INTEGER, nullptr, drawer->m_counted, 0} : null_value,
      known ? sqlite_value{SQLITE_INTEGER, nullptr, drawer->m_held, 0} : null_value,
      drawer ? sqlite_value{SQLITE_INTEGER, nullptr, (drawer->m_flags & SHIFT_HANDED_OVER) ? 1 : 0, 0} : null_value,
  };
  if (sqlite_exec_bound_wait(gpst_shiftdb->m_dbname, insert_shift, values, 9, SQLITE_WAIT_DEFAULT, nullptr, nullptr) !=
      0) {
    DLOG("shift %s - %s of %.63s not stored: %.100s", bdate.c_str(), edate.c_str(), outgoing.c_str(),
         sqlite_last_errmsg());
    return -1;
  }
  DLOG("shift %s - %s %s by %.63s to %.63s: %s", bdate.c_str(), edate.c_str(),
       drawer && !(drawer->m_flags & SHIFT_HANDED_OVER) ? "not handed over" : "handed over", outgoing.c_str(),
       incoming.c_str(), takings.s);
  return 0;
}

QUENTA_API int quenta_selectShifts(const char *from, const char *to, USER_CALLBACK cb, void *param)
{
  return select_rows(from, to, cb, param, false);
}

QUENTA_API int quenta_selectShiftDrawers(const char *from, const char *to, USER_CALLBACK cb, void *param)
{
  return select_rows(from, to, cb, param, true);
}

} /* extern "C" */
