/* The counting entity: prices a call from its call detail record and stores
 * bills. It owns two database entities on the engine's database file, one for
 * the CDR table and one for the bill table, and the charging counter with the
 * rate table. Lookups and saves come from one thread (the console's); every
 * statement, and the pricing inside a select's row callback, runs under g_cs. */
#ifndef QUENTA_COUNTENT_H
#define QUENTA_COUNTENT_H

#include "quenta/counter.h"
#include "quenta/dbent.h"
#include "quenta/records.h"

#define COUNTER_NAME "counter"

struct countent {
  struct counter *m_counter;   /* the charging counter, named "counter" */
  struct dbent *m_cdrdb;       /* database entity of the CDR table */
  struct dbent *m_billdb;      /* database entity of the bill table, same file */
  char *m_cdrtbl_name;         /* owned copy, "cdrtbl" in the engine */
  char *m_billtbl_name;        /* owned copy, "billtbl" in the engine */
  bill_info *m_bill_info;      /* bill of the last lookup, inside the counter; not owned */
};

/* Create / release. */

/* Describes (creating when missing) both tables on the database file and loads
 * the rate table from "rateinfo" in the current directory. Null on failure,
 * with everything created so far released. */
struct countent *create_countent(const char *dbpath, const char *cdrtbl, const char *billtbl);
void countent_release(struct countent *ce);

/* Verbs. */

/* Reads the call's CDR and prices it: the counter's bill, valid until the next
 * lookup, or null when the call id is unknown, the call cannot be priced or the
 * select failed. Any call id text is safe, whatever its length or quotes. */
bill_info *countent_getbill(struct countent *ce, const char *callid);
/* Prices a call that has no CDR (the call in progress on a line, as if it
 * ended at edate) through the counter's one pricing, the one countent_getbill
 * uses, into the caller's *bill; the record countent_getbill returned is left
 * alone. 0, or -1 when no rule prices the call. Texts longer than a call
 * field are cut to it, as a CDR row's are. */
int countent_price_call(struct countent *ce, const char *desnum, const char *bdate, const char *edate,
                        bill_info *bill);
/* Stores the bill with the operator and the current local time; the amount is
 * written with two decimals. 0, or -1 when it was not stored (logged once,
 * with the call id and the database's reason). */
int countent_save(struct countent *ce, const bill_info *bill, const char *admin);
struct counter *countent_getcounter(struct countent *ce);

#endif
