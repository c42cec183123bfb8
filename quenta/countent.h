/* The counting entity: the price of a call from its call detail record, and
 * the storing of bills. It owns two database entities on the engine's database
 * file, one for the CDR table and one for the bill table, and the charging
 * counter with the rate table, whose rules it hands to the handler to freeze
 * every call's price as it is stored (quenta/frozen_prices.h). A stored call
 * costs its frozen price; one without (stored by an earlier release) is priced
 * with today's rules at its first lookup and frozen then. Lookups and saves
 * come from one thread (the console's); every statement, and the pricing of a
 * call, runs under g_cs. */
#ifndef QUENTA_COUNTENT_H
#define QUENTA_COUNTENT_H

#include "quenta/counter.h"
#include "quenta/dbent.h"
#include "quenta/records.h"

#define COUNTER_NAME "counter"

struct countent {
  struct counter *m_counter; /* the charging counter, named "counter" */
  struct dbent *m_cdrdb;     /* database entity of the CDR table */
  struct dbent *m_billdb;    /* database entity of the bill table, same file */
  char *m_cdrtbl_name;       /* owned copy, "cdrtbl" in the engine */
  char *m_billtbl_name;      /* owned copy, "billtbl" in the engine */
  bill_info *m_bill_info;    /* bill of the last lookup: &m_bill, or null */
  bill_info m_bill;          /* the bill a lookup fills */
  long long m_cents;         /* its amount in cents, of which m_bill.m_count is a copy */
};

/* Create / release. */

/* Describes (creating when missing) both tables and "pricetbl" on the database
 * file, loads the rate table from "rateinfo" in the current directory and
 * hands it to the freezing of prices. Null on failure, with everything created
 * so far released. */
struct countent *create_countent(const char *dbpath, const char *cdrtbl, const char *billtbl);
/* Takes the rate table back from the freezing of prices when it is the one in
 * use, then releases everything. */
void countent_release(struct countent *ce);

/* Verbs. */

/* Reads the call's CDR and its frozen price: the entity's bill (m_bill, with
 * m_cents), valid until the next lookup, or null when the call id is unknown,
 * the call cannot be priced or the select failed. A call without a frozen
 * price is priced with the rules loaded at start and its price frozen. Any
 * call id text is safe, whatever its length or quotes. */
bill_info *countent_getbill(struct countent *ce, const char *callid);
/* Prices a call that has no CDR (the call in progress on a line, as if it
 * ended at edate) through the counter's one pricing, the one countent_getbill
 * uses, into the caller's *bill; the record countent_getbill returned is left
 * alone. 0, or -1 when no rule prices the call. Texts longer than a call
 * field are cut to it, as a CDR row's are. */
int countent_price_call(struct countent *ce, const char *desnum, const char *bdate, const char *edate, bill_info *bill);
/* Stores the bill with the operator and the current local time; the amount is
 * written with two decimals from its cents: the frozen price of the call when
 * the bill's float is that price's copy (exact at any size), else the float
 * rounded to the cent. 0, or -1 when it was not stored (its amount is no
 * number, or the database refused it: logged once, with the call id and the
 * reason). */
int countent_save(struct countent *ce, const bill_info *bill, const char *admin);
/* The amount countent_save would write for the bill, in cents. */
long long countent_bill_cents(struct countent *ce, const bill_info *bill);
struct counter *countent_getcounter(struct countent *ce);

#endif
