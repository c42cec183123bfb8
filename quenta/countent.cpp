/* The counting entity: creation over the CDR and bill tables, the lookup that
 * reads one CDR with its frozen price (pricing and freezing a call that has
 * none), the price of a call without a CDR, and the storing of a bill with
 * operator and time. */
#include "quenta/countent.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "quenta/sqlite.h"
#include "quenta/frozen_prices.h"
#include "quenta/sqlite_dbent.h"
#include "utils/debug.h"
#include "utils/decimal.h"
#include "utils/text.h"

namespace {

/* Copies a column value into a call field; a null value is an empty text. */
void copy_field(char *field, size_t size, const char *value)
{
  snprintf(field, size, "%s", value ? value : "");
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

/* One lookup: the call read from its CDR row. */
struct lookup {
  call_info call;
  bool found;
};

/* One CDR row, with g_cs held: the call it holds. Always 0. */
int cdrdb_callback(void *param, int argc, char **argv, char **colnames)
{
  auto *lk = static_cast<lookup *>(param);
  DLOG("argc: %d", argc);
  call_info &call = lk->call;
  memset(&call, 0, sizeof call);
  lk->found = true;
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
  return 0;
}

/* The bill of a frozen price. */
void frozen_bill(struct countent *ce, const call_info &call, const frozen_price &price)
{
  bill_info *bill = &ce->m_bill;
  memset(bill, 0, sizeof *bill);
  copy_field(bill->m_callid, sizeof bill->m_callid, call.callid);
  bill->m_calltime = price.calltime;
  bill->m_count = utils::cents_float(price.cents);
  copy_field(bill->m_period_record, sizeof bill->m_period_record, price.period.c_str());
  ce->m_cents = price.cents;
}

/* Reads the call and its frozen price in one read of the file; a call without
 * one is priced here, with g_cs held, and *fresh tells the caller to freeze
 * it. 0, or -1 when the read failed or the call cannot be priced (logged). */
int select_bill_info(struct countent *ce, const char *callid, price_detail *fresh, bool *priced_now)
{
  std::string cmd = "select * from " + std::string(ce->m_cdrtbl_name) + " where callid = ?";
  const sqlite_value key = {SQLITE_TEXT, callid, 0, 0};
  lookup lk{};
  *priced_now = false;
  DLOG("SQL CMD: %s", cmd.c_str());
  int rc = sqlite_exec_work(ce->m_cdrdb->m_dbname, cmd.c_str(), [&](sqlite3 *db) {
    int r = sqlite_run_bound(db, cmd.c_str(), &key, 1, cdrdb_callback, &lk);
    if (r != SQLITE_OK || !lk.found)
      return r;
    frozen_price price;
    bool frozen = false;
    if (frozen_price_lookup(db, callid, &price, &frozen) != SQLITE_OK)
      DLOG("call %.200s: its frozen price cannot be read: priced with today's rules", callid);
    if (frozen) {
      frozen_bill(ce, lk.call, price);
      DLOG("call %.200s: frozen price %s (%.100s)", callid, utils::cents_text(price.cents).s, price.rule.c_str());
    } else {
      call_info scratch = lk.call;
      if (counter_price(ce->m_counter, &scratch, &ce->m_bill, fresh) != 0) {
        LOG_FUNCTION_FAILED();
        return SQLITE_ABORT;
      }
      ce->m_cents = fresh->cents;
      *priced_now = true;
    }
    ce->m_bill_info = &ce->m_bill;
    return SQLITE_OK;
  });
  if (rc != 0) {
    ce->m_bill_info = nullptr;
    LOG_FUNCTION_FAILED();
    return -1;
  }
  if (ce->m_bill_info) {
    /* cut so that the line stays within the log's limit instead of being dropped */
    DLOG("Bill info: callid: %.80s, calltime: %d, period_record: %.100s", ce->m_bill.m_callid, ce->m_bill.m_calltime,
         ce->m_bill.m_period_record);
    DLOG("count: %s", utils::cents_text(ce->m_cents).s);
  }
  return 0;
}

/* Freezes the price the lookup has just made; a failure is logged, and the
 * next lookup prices the call again. */
void freeze_looked_up(struct countent *ce, const char *callid, const price_detail &detail)
{
  const bill_info &bill = ce->m_bill;
  std::string period = utils::field_text(bill.m_period_record, sizeof bill.m_period_record);
  if (sqlite_exec_write(ce->m_cdrdb->m_dbname, "freeze price", SQLITE_WAIT_DEFAULT, [&](sqlite3 *db) {
        return frozen_price_write(db, callid, bill.m_calltime, period.c_str(), detail);
      }) != 0)
    DLOG("call %.200s: its price cannot be frozen now", callid);
}

/* The bill's amount in cents: its frozen price when the float is that price's
 * copy (a price beyond a float's cents is stored exactly), else the float
 * rounded to the cent. */
long long bill_cents(struct countent *ce, const bill_info *bill, const std::string &callid)
{
  long long cents = utils::cents_of(bill->m_count);
  frozen_price price;
  if (frozen_price_read(ce->m_billdb->m_dbname, callid.c_str(), &price) == 1 &&
      utils::cents_float(price.cents) == bill->m_count)
    cents = price.cents;
  return cents;
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
  /* a file the table cannot be added to still serves: its calls are priced
   * when they are looked up */
  frozen_prices_create(dbpath);
  frozen_prices_use(ce->m_counter);
  return ce;
}

void countent_release(struct countent *ce)
{
  if (!ce)
    return;
  if (ce->m_counter) {
    frozen_prices_stop(ce->m_counter);
    counter_release(ce->m_counter);
  }
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
  price_detail fresh;
  bool priced_now = false;
  if (select_bill_info(ce, callid, &fresh, &priced_now) != 0) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }
  if (priced_now)
    freeze_looked_up(ce, callid, fresh);
  return ce->m_bill_info;
}

int countent_price_call(struct countent *ce, const char *desnum, const char *bdate, const char *edate, bill_info *bill)
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
  std::string callid = utils::field_text(bill->m_callid, sizeof bill->m_callid);
  if (!isfinite(bill->m_count)) {
    DLOG("bill of call %.200s: its amount is no number: not stored", callid.c_str());
    return -1;
  }
  char calltime[16];
  snprintf(calltime, sizeof calltime, "%d", bill->m_calltime);
  /* a number column goes into the statement unquoted: "1,10" would be two values */
  utils::cents_text count(bill_cents(ce, bill, callid));
  std::string period = utils::field_text(bill->m_period_record, sizeof bill->m_period_record);
  std::string date = utils::local_time_text(time(nullptr));
  const char *values[] = {callid.c_str(), calltime, period.c_str(), count.s, admin, date.c_str(), nullptr};
  if (billdb_insert(ce, values) != 0) {
    DLOG("bill of call %.100s not stored: %.80s", callid.c_str(), sqlite_last_errmsg());
    return -1;
  }
  return 0;
}

long long countent_bill_cents(struct countent *ce, const bill_info *bill)
{
  return bill_cents(ce, bill, utils::field_text(bill->m_callid, sizeof bill->m_callid));
}

struct counter *countent_getcounter(struct countent *ce)
{
  return ce->m_counter;
}
