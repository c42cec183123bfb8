/* Frozen prices: a call costs what the rules in force when it ended make it
 * cost, whenever the customer pays. The handler's thread prices every call as
 * it stores it and writes that price to "pricetbl" in the transaction that
 * writes the call's "cdrtbl" row, so the two are stored together or not at
 * all. The checkout's lookup (countent_getbill) and the bill it stores read
 * the price back from there, so a change of rates and a restart before the
 * customer pays change nothing of the call's amount or its detail text. A call
 * without a frozen price (stored by an earlier release, or while the rate
 * table was not loaded yet) is priced with the rules of the day at its first
 * lookup and frozen then.
 *
 * "pricetbl", one row per call: callid varchar(128) (unique), calltime
 * integer (seconds), cents integer (the amount in cents), period
 * varchar(1024) (the detail text), rule varchar(128) (the rule's display name,
 * GBK; ".default" for the default rule), date varchar(128) (when it was priced,
 * local time "%Y-%m-%d %H:%M:%S"). */
#ifndef QUENTA_FROZEN_PRICES_H
#define QUENTA_FROZEN_PRICES_H

#include <sqlite3.h>

#include <string>

#include "quenta/counter.h"
#include "quenta/records.h"

#define PRICE_TBL_NAME "pricetbl"

struct cdr_row;

/* A call's frozen price. */
struct frozen_price {
  long long cents;    /* the amount */
  int calltime;       /* seconds */
  std::string period; /* the detail text */
  std::string rule;   /* the rule's display name */
};

/* Creates "pricetbl" in the database file at dbpath when the file lacks it:
 * 0, or -1 (logged). */
int frozen_prices_create(const char *dbpath);

/* The counter whose rules price the calls as they are stored, from now on. */
void frozen_prices_use(struct counter *c);
/* Stops the freezing when c is the counter in use. Takes g_cs: once it
 * returns, no store prices with c, which may then be released. */
void frozen_prices_stop(struct counter *c);

/* The hook of storing one call, for a work function of sqlite_exec_write that
 * has just inserted the row into "cdrtbl" on db (g_cs held): prices the call
 * with the counter of frozen_prices_use and writes its price. SQLITE_OK when
 * the transaction may be committed: the price is frozen, or it is not (no
 * counter in use, no rule prices the call, no "pricetbl": logged) and the call
 * will be priced at its first lookup. Any other code when writing the price
 * failed in a way that ended the transaction (a full disk, an I/O error): the
 * store has failed, as if the call's own insert had, and is tried again. */
int freeze_price(sqlite3 *db, const cdr_row &row);

/* Writes the price of a call on db, inside a transaction of the caller,
 * replacing an earlier price of that call id: the SQLite result code. */
int frozen_price_write(sqlite3 *db, const char *callid, int calltime, const char *period, const price_detail &detail);

/* Inside a work function: the frozen price of a call on db. SQLITE_OK with
 * *found telling whether the call has one (and *price filled when it has), or
 * the code of the failed read. */
int frozen_price_lookup(sqlite3 *db, const char *callid, frozen_price *price, bool *found);

/* The same in a turn of its own under g_cs: 1 and *price filled, 0 when the
 * call has none, -1 when it could not be read. */
int frozen_price_read(const char *dbpath, const char *callid, frozen_price *price);

#endif
