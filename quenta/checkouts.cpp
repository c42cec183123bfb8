/* Checkouts and refunds: "checkouttbl", one row per confirmed checkout,
 * written in the transaction that stores its bills and marks its calls
 * settled; "refundtbl", one row per refund of a settled checkout. Both are
 * appended to and never changed (the guard of quenta/audit.h); their integer
 * primary keys are the running numbers receipts carry. */
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "quenta/checkouts.h"

#include "quenta/audit.h"
#include "quenta/countent.h"
#include "quenta/dbent.h"
#include "quenta/init.h"
#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "quenta/sqlite.h"
#include "utils/debug.h"
#include "utils/decimal.h"
#include "utils/text.h"

namespace {

const char *const create_cmds =
    "create table if not exists checkouttbl(number integer primary key autoincrement, date varchar(128), "
    "admin varchar(64), machineid varchar(128), lineid integer, due integer, deposit integer, paid integer, "
    "change integer, owed integer, calls integer, callids text);"
    "create index if not exists checkouttbl_date on checkouttbl(date);"
    "create table if not exists refundtbl(number integer primary key autoincrement, date varchar(128), "
    "admin varchar(64), checkout integer, amount integer, reason varchar(256));"
    "create index if not exists refundtbl_checkout on refundtbl(checkout);"
    "create index if not exists refundtbl_date on refundtbl(date)";

const char *const insert_bill_cmd =
    "insert into billtbl(callid, calltime, period, count, admin, date) values(?, ?, ?, ?, ?, ?)";
/* Only an unsettled call of the checkout's line is settled by it. */
const char *const settle_cmd = "update cdrtbl set flag=1 where callid=? and machineid=? and lineid=? and flag=0";
const char *const insert_checkout_cmd =
    "insert into checkouttbl(date, admin, machineid, lineid, due, deposit, paid, change, owed, calls, callids) "
    "values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

const char *const checkout_columns =
    "c.number, c.date, c.admin, c.machineid, c.lineid, c.due, c.deposit, c.paid, c.change, c.owed, c.calls, "
    "c.callids, (select total(r.amount) from refundtbl r where r.checkout=c.number)";
const std::string select_checkouts_cmd = std::string("select ") + checkout_columns +
                                         " from checkouttbl c where c.date>=?1 and c.date<=?2 and "
                                         "(?3='' or c.admin=?3) order by c.number";
const std::string get_checkout_cmd =
    std::string("select ") + checkout_columns + " from checkouttbl c where c.number=?1";

/* What is left to refund of a checkout: a row only when it exists. */
const char *const refundable_cmd =
    "select c.due - c.owed - (select total(r.amount) from refundtbl r where r.checkout=c.number) "
    "from checkouttbl c where c.number=?1";
const char *const insert_refund_cmd =
    "insert into refundtbl(date, admin, checkout, amount, reason) values(?, ?, ?, ?, ?)";
const char *const select_refunds_cmd =
    "select number, date, admin, checkout, amount, reason from refundtbl where date>=?1 and date<=?2 and "
    "(?3='' or admin=?3) order by number";

sqlite_value text_value(const char *s)
{
  return {SQLITE_TEXT, s, 0, 0};
}

sqlite_value int_value(long long v)
{
  return {SQLITE_INTEGER, nullptr, v, 0};
}

bool now_text(char *buf, int size)
{
  return set_local_time(buf, size) == 0;
}

/* One row of the checkout selects into *co; callids and refunded filled. */
bool checkout_of_row(int argc, char **argv, checkout_info *co)
{
  if (argc != 13)
    return false;
  memset(co, 0, sizeof *co);
  co->m_number = strtoll(argv[0], nullptr, 10);
  utils::copy_text(co->m_date, sizeof co->m_date, argv[1]);
  utils::copy_text(co->m_admin, sizeof co->m_admin, argv[2]);
  utils::copy_text(co->m_machineid, sizeof co->m_machineid, argv[3]);
  co->m_lineid = argv[4] ? atoi(argv[4]) : 0;
  long long *amounts[] = {&co->m_due, &co->m_deposit, &co->m_paid, &co->m_change, &co->m_owed};
  for (int i = 0; i < 5; i++)
    *amounts[i] = argv[5 + i] ? strtoll(argv[5 + i], nullptr, 10) : 0;
  co->m_calls = argv[10] ? atoi(argv[10]) : 0;
  co->m_callids = argv[11] ? argv[11] : "";
  /* total() is a real: whole cents added stay exact far beyond any till */
  co->m_refunded = argv[12] ? llround(strtod(argv[12], nullptr)) : 0;
  return true;
}

int checkout_row(void *param, int argc, char **argv, char **)
{
  auto *rows = static_cast<user_rows *>(param);
  checkout_info co;
  if (!checkout_of_row(argc, argv, &co))
    return 1;
  rows->cb(&co, rows->param);
  return 0;
}

int refund_row(void *param, int argc, char **argv, char **)
{
  auto *rows = static_cast<user_rows *>(param);
  if (argc != 6)
    return 1;
  refund_info r;
  memset(&r, 0, sizeof r);
  r.m_number = strtoll(argv[0], nullptr, 10);
  utils::copy_text(r.m_date, sizeof r.m_date, argv[1]);
  utils::copy_text(r.m_admin, sizeof r.m_admin, argv[2]);
  r.m_checkout = argv[3] ? strtoll(argv[3], nullptr, 10) : 0;
  r.m_amount = argv[4] ? strtoll(argv[4], nullptr, 10) : 0;
  utils::copy_text(r.m_reason, sizeof r.m_reason, argv[5]);
  rows->cb(&r, rows->param);
  return 0;
}

const char *database()
{
  return gpst_dbent->m_dbname;
}

/* A bill as the checkout stores it: the values bound to insert_bill_cmd. */
struct bill_values {
  std::string callid;
  std::string calltime;
  std::string period;
  utils::cents_text count;
};

/* The rows of a range select (from, to, admin or every operator) handed to
 * row, which hands each record to cb: 0, or -1 (logged). */
int select_range(const char *cmd, sqlite_row_callback row, const char *from, const char *to, const char *admin,
                 USER_CALLBACK cb, void *param)
{
  if (!quenta_running() || !from || !to || !cb) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  const sqlite_value values[] = {text_value(from), text_value(to), text_value(admin ? admin : "")};
  user_rows rows{cb, param};
  if (sqlite_exec_bound_wait(database(), cmd, values, 3, SQLITE_WAIT_DEFAULT, row, &rows) != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return 0;
}

} /* namespace */

int checkouts_create(const char *dbpath)
{
  if (!dbpath || sqlite_exec_cmd(dbpath, create_cmds, nullptr, nullptr) != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return 0;
}

extern "C" {

QUENTA_API int quenta_checkout(checkout_info *co, const bill_info *bills, int nbills)
{
  if (!quenta_running() || !co || nbills < 0 || (nbills > 0 && !bills)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  const long long amounts[] = {co->m_due, co->m_deposit, co->m_paid, co->m_change, co->m_owed};
  for (long long a : amounts) {
    if (a < 0) {
      DLOG("checkout of %.100s line %d refused: a negative amount", co->m_machineid, co->m_lineid);
      return -1;
    }
  }
  std::string admin = operator_name(utils::field_text(co->m_admin, sizeof co->m_admin).c_str());
  std::string machine = utils::field_text(co->m_machineid, sizeof co->m_machineid);
  std::vector<bill_values> values;
  values.reserve(nbills);
  std::string callids;
  for (int i = 0; i < nbills; i++) {
    const bill_info &b = bills[i];
    if (!isfinite(b.m_count)) {
      DLOG("checkout of %.100s line %d refused: a bill's amount is no number", machine.c_str(), co->m_lineid);
      return -1;
    }
    /* Priced before the transaction: the frozen price is read on a
     * connection of its own. */
    values.push_back({utils::field_text(b.m_callid, sizeof b.m_callid), std::to_string(b.m_calltime),
                      utils::field_text(b.m_period_record, sizeof b.m_period_record),
                      utils::cents_text(countent_bill_cents(gpst_countent, &b))});
    if (i)
      callids += '\n';
    callids += values.back().callid;
  }
  char date[32];
  if (!now_text(date, sizeof date)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }

  bool stale = false;
  long long number = 0;
  int rc = sqlite_exec_write(database(), "checkout", SQLITE_WAIT_DEFAULT, [&](sqlite3 *db) {
    for (const bill_values &v : values) {
      const sqlite_value bill[] = {text_value(v.callid.c_str()), text_value(v.calltime.c_str()),
                                   text_value(v.period.c_str()), text_value(v.count.s),
                                   text_value(admin.c_str()),    text_value(date)};
      int rc = sqlite_run_bound(db, insert_bill_cmd, bill, 6, nullptr, nullptr);
      if (rc != SQLITE_OK)
        return rc;
      const sqlite_value settle[] = {text_value(v.callid.c_str()), text_value(machine.c_str()),
                                     int_value(co->m_lineid)};
      rc = sqlite_run_bound(db, settle_cmd, settle, 3, nullptr, nullptr);
      if (rc != SQLITE_OK)
        return rc;
      if (sqlite3_changes(db) != 1) {
        stale = true;
        return SQLITE_ABORT;
      }
    }
    const sqlite_value row[] = {text_value(date),        text_value(admin.c_str()),  text_value(machine.c_str()),
                                int_value(co->m_lineid), int_value(co->m_due),       int_value(co->m_deposit),
                                int_value(co->m_paid),   int_value(co->m_change),    int_value(co->m_owed),
                                int_value(nbills),       text_value(callids.c_str())};
    append_scope appending;
    int rc = sqlite_run_bound(db, insert_checkout_cmd, row, 11, nullptr, nullptr);
    if (rc == SQLITE_OK)
      number = sqlite3_last_insert_rowid(db);
    return rc;
  });
  if (stale) {
    DLOG("checkout of %.100s line %d not stored: a call was no longer unsettled on the line", machine.c_str(),
         co->m_lineid);
    return QUENTA_CHECKOUT_STALE;
  }
  if (rc != 0) {
    DLOG("checkout of %.100s line %d (%d calls) not stored: %.80s", machine.c_str(), co->m_lineid, nbills,
         sqlite_last_errmsg());
    return -1;
  }
  co->m_number = number;
  utils::copy_text(co->m_date, sizeof co->m_date, date);
  co->m_calls = nbills;
  co->m_callids = nullptr;
  DLOG("checkout %lld of %.100s line %d: %d calls, due %s", number, machine.c_str(), co->m_lineid, nbills,
       utils::cents_text(co->m_due).s);
  return 0;
}

QUENTA_API int quenta_selectCheckouts(const char *from, const char *to, const char *admin, USER_CALLBACK cb,
                                      void *param)
{
  return select_range(select_checkouts_cmd.c_str(), checkout_row, from, to, admin, cb, param);
}

QUENTA_API int quenta_getCheckout(long long number, checkout_info *co, char *callids, int size)
{
  if (!quenta_running() || !co || (callids && size <= 0)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  struct lookup {
    checkout_info *co;
    char *callids;
    int size;
    bool found;
  } l{co, callids, size, false};
  auto row = [](void *p, int argc, char **argv, char **) {
    auto *l = static_cast<lookup *>(p);
    if (!checkout_of_row(argc, argv, l->co))
      return 1;
    l->found = true;
    if (l->callids) {
      /* cut after the last whole id that fits */
      std::string ids = l->co->m_callids;
      if (ids.size() >= static_cast<size_t>(l->size)) {
        size_t cut = ids.rfind('\n', l->size - 1);
        ids.resize(cut == std::string::npos ? 0 : cut);
      }
      memcpy(l->callids, ids.c_str(), ids.size() + 1);
    }
    l->co->m_callids = nullptr;
    return 0;
  };
  const sqlite_value key = int_value(number);
  if (sqlite_exec_bound_wait(database(), get_checkout_cmd.c_str(), &key, 1, SQLITE_WAIT_DEFAULT, row, &l) != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return l.found ? 1 : 0;
}

QUENTA_API int quenta_refund(refund_info *r)
{
  if (!quenta_running() || !r) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  if (r->m_amount <= 0) {
    DLOG("refund of checkout %lld refused: nothing to hand back", r->m_checkout);
    return QUENTA_REFUND_TOO_MUCH;
  }
  std::string admin = operator_name(utils::field_text(r->m_admin, sizeof r->m_admin).c_str());
  std::string reason =
      utils::gbk_cut(utils::field_text(r->m_reason, sizeof r->m_reason).c_str(), REFUND_REASON_LEN - 1);
  char date[32];
  if (!now_text(date, sizeof date)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  int outcome = 0;
  long long number = 0;
  int rc = sqlite_exec_write(database(), "refund", SQLITE_WAIT_DEFAULT, [&](sqlite3 *db) {
    struct left {
      bool found = false;
      long long cents = 0;
    } l;
    auto row = [](void *p, int argc, char **argv, char **) {
      auto *l = static_cast<left *>(p);
      if (argc != 1)
        return 1;
      l->found = true;
      l->cents = argv[0] ? llround(strtod(argv[0], nullptr)) : 0;
      return 0;
    };
    const sqlite_value key = int_value(r->m_checkout);
    int rc = sqlite_run_bound(db, refundable_cmd, &key, 1, row, &l);
    if (rc != SQLITE_OK)
      return rc;
    if (!l.found || r->m_amount > l.cents) {
      outcome = l.found ? QUENTA_REFUND_TOO_MUCH : QUENTA_REFUND_NO_CHECKOUT;
      return SQLITE_ABORT;
    }
    const sqlite_value values[] = {text_value(date), text_value(admin.c_str()), int_value(r->m_checkout),
                                   int_value(r->m_amount), text_value(reason.c_str())};
    append_scope appending;
    rc = sqlite_run_bound(db, insert_refund_cmd, values, 5, nullptr, nullptr);
    if (rc == SQLITE_OK)
      number = sqlite3_last_insert_rowid(db);
    return rc;
  });
  if (outcome != 0) {
    DLOG("refund of %s on checkout %lld refused: %s", utils::cents_text(r->m_amount).s, r->m_checkout,
         outcome == QUENTA_REFUND_TOO_MUCH ? "more than is left of it" : "no such checkout");
    return outcome;
  }
  if (rc != 0) {
    DLOG("refund on checkout %lld not stored: %.80s", r->m_checkout, sqlite_last_errmsg());
    return -1;
  }
  r->m_number = number;
  utils::copy_text(r->m_date, sizeof r->m_date, date);
  DLOG("refund %lld: %s of checkout %lld", number, utils::cents_text(r->m_amount).s, r->m_checkout);
  return 0;
}

QUENTA_API int quenta_selectRefunds(const char *from, const char *to, const char *admin, USER_CALLBACK cb, void *param)
{
  return select_range(select_refunds_cmd, refund_row, from, to, admin, cb, param);
}

} /* extern "C" */
