/* Frozen prices: the table "pricetbl", the counter the handler prices with,
 * the hook that freezes a call's price beside its row as it is stored, and
 * the reading and writing of one call's price. */
#include "quenta/frozen_prices.h"

#include <stdlib.h>
#include <string.h>

#include <optional>

#include "quenta/init.h"
#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "quenta/sqlite.h"
#include "utils/debug.h"
#include "utils/decimal.h"

namespace {

const char *const create_cmd =
    "create table if not exists " PRICE_TBL_NAME "(callid varchar(128), calltime integer, cents integer, "
    "period varchar(1024), rule varchar(128), date varchar(128), constraint key1 unique(callid))";
const char *const write_cmd = "insert or replace into " PRICE_TBL_NAME " values(?, ?, ?, ?, ?, ?)";
const char *const read_cmd = "select cents, calltime, period, rule from " PRICE_TBL_NAME " where callid=?";

/* Written and read under g_cs only. */
struct counter *g_counter = nullptr;

void copy_field(char *field, size_t size, const std::string &value)
{
  snprintf(field, size, "%s", value.c_str());
}

/* Results after which the connection is no longer inside the caller's
 * transaction: SQLite has rolled it back. */
bool transaction_lost(sqlite3 *db)
{
  return sqlite3_get_autocommit(db) != 0;
}

} /* namespace */

int frozen_prices_create(const char *dbpath)
{
  if (!dbpath || sqlite_exec_cmd(dbpath, create_cmd, nullptr, nullptr) != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return 0;
}

void frozen_prices_use(struct counter *c)
{
  std::scoped_lock lock(g_cs);
  g_counter = c;
}

void frozen_prices_stop(struct counter *c)
{
  std::scoped_lock lock(g_cs);
  if (g_counter == c)
    g_counter = nullptr;
}

int frozen_price_write(sqlite3 *db, const char *callid, int calltime, const char *period, const price_detail &detail)
{
  char date[32];
  if (set_local_time(date, sizeof date) != 0)
    date[0] = '\0';
  const sqlite_value values[] = {
      {SQLITE_TEXT, callid, 0, 0},
      {SQLITE_INTEGER, nullptr, calltime, 0},
      {SQLITE_INTEGER, nullptr, detail.cents, 0},
      {SQLITE_TEXT, period, 0, 0},
      {SQLITE_TEXT, detail.rule ? detail.rule : "", 0, 0},
      {SQLITE_TEXT, date, 0, 0},
  };
  return sqlite_run_bound(db, write_cmd, values, 6, nullptr, nullptr);
}

int freeze_price(sqlite3 *db, const cdr_row &row)
{
  if (!g_counter) {
    DLOG("call %s stored without its price: no rate table yet", row.callid.c_str());
    return SQLITE_OK;
  }
  call_info call;
  memset(&call, 0, sizeof call);
  copy_field(call.callid, sizeof call.callid, row.callid);
  copy_field(call.srcnum, sizeof call.srcnum, row.orgnum);
  copy_field(call.desnum, sizeof call.desnum, row.desnum);
  copy_field(call.bdate, sizeof call.bdate, row.bdate);
  copy_field(call.edate, sizeof call.edate, row.edate);
  bill_info bill;
  price_detail detail;
  /* A call that ends now is priced in the log in full, once: the checkout's
   * lookup reads the price back. A backlog read back from the pending file
   * would crowd the log out; the amount line below stands for each of its calls. */
  int priced;
  {
    std::optional<utils::log_silence> quiet;
    if (row.line < 0)
      quiet.emplace();
    priced = counter_price(g_counter, &call, &bill, &detail);
  }
  if (priced != 0) {
    DLOG("call %s stored without its price: no rule prices it", row.callid.c_str());
    return SQLITE_OK;
  }
  int rc = frozen_price_write(db, row.callid.c_str(), bill.m_calltime, bill.m_period_record, detail);
  if (rc == SQLITE_OK) {
    DLOG("call %s priced %s as it was stored", row.callid.c_str(), utils::cents_text(detail.cents).s);
    return SQLITE_OK;
  }
  DLOG("price of call %s not frozen: %s", row.callid.c_str(), sqlite3_errstr(rc));
  return transaction_lost(db) ? (rc & 0xff) : SQLITE_OK;
}

int frozen_price_lookup(sqlite3 *db, const char *callid, frozen_price *price, bool *found)
{
  struct lookup {
    frozen_price *price;
    bool *found;
  } l{price, found};
  auto row = [](void *p, int argc, char **argv, char **) {
    auto *l = static_cast<lookup *>(p);
    if (argc != 4)
      return 1;
    *l->found = true;
    l->price->cents = strtoll(argv[0], nullptr, 10);
    l->price->calltime = atoi(argv[1]);
    l->price->period = argv[2];
    l->price->rule = argv[3];
    return 0;
  };
  *found = false;
  const sqlite_value key = {SQLITE_TEXT, callid, 0, 0};
  return sqlite_run_bound(db, read_cmd, &key, 1, row, &l);
}

int frozen_price_read(const char *dbpath, const char *callid, frozen_price *price)
{
  if (!dbpath || !callid || !price) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  bool found = false;
  if (sqlite_exec_work(dbpath, read_cmd, [&](sqlite3 *db) { return frozen_price_lookup(db, callid, price, &found); }) !=
      0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  return found ? 1 : 0;
}

extern "C" {

QUENTA_API int quenta_getPriceDetail(const char *callid, char *rule, int rsize, char *period, int psize)
{
  if (!quenta_running() || !callid || !rule || rsize <= 0 || !period || psize <= 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  frozen_price price;
  const int rc = frozen_price_read(gpst_dbent->m_dbname, callid, &price);
  if (rc == 1) {
    copy_field(rule, (size_t)rsize, price.rule);
    copy_field(period, (size_t)psize, price.period);
  }
  return rc;
}

} /* extern "C" */
