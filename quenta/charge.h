/* The charge of a call under one rate rule. A call costs nothing below the free
 * limit; up to the package length it costs the package price; beyond that its
 * rest is charged in whole charging units at the price of the period each
 * stretch falls in, split at period starts and at every midnight; the handling
 * charge is added once. All money is whole cents (utils/decimal.h): a rule's
 * amounts are read to the cent from its texts, a stretch costs its units times
 * the unit price exactly, and the amount is the exact sum of the handling
 * charge, the package and the stretches, however long the call. The bill's
 * float and every amount text are written from those cents, each text with a
 * point whatever the process's number locale.
 *
 * Midnight. Each day of the call is priced from where its clock stands to
 * "23:59:59". The last unit of a day carries the clock past midnight, and the
 * next day starts where that unit ends; when the day carried nothing (the start
 * moved by the package is 23:59:59 itself) the next day starts at 00:00:00.
 * What lies after a midnight is free only when the last unit charged before it
 * already reaches past the end of the call (23:58:30 to 00:00:20 in one-minute
 * units: two units carry the clock to 00:00:30, and nothing is left to charge).
 *
 * Free bills. A call that ends before it starts (the wall clock stepped back)
 * falls below any free limit: amount 0, its call time shown as 0. A call whose
 * start or end time cannot be read (rows of an earlier release lack a start)
 * gets the same free bill, so that its line can be settled.
 *
 * Detail text. The stretches in order, each ending in ",", then the summary,
 * within the bill's 1024 bytes. A call with more stretches than fit is priced in
 * full all the same; its text keeps the first stretches that leave room for the
 * summary (whole ones only: never part of a stretch) and always ends with the
 * summary, which holds the amount.
 *
 * Times of day are "%H:%M:%S" texts (a period start may have a one-digit hour);
 * date-times are "%Y-%m-%d %H:%M:%S", the time of day from the twelfth
 * character on. Failures are logged and return -1 (an amount is never
 * negative). */
#ifndef QUENTA_CHARGE_H
#define QUENTA_CHARGE_H

#include "quenta/counter.h"

#define DATE_LEN 10    /* "YYYY-MM-DD" */
#define TIME_OFFSET 11 /* the time of day inside a date-time text */
#define DAY_LAST_SECOND "23:59:59"

/* A rule's amounts in cents. */
struct rule_money {
  long long handling;            /* the handling charge */
  long long package;             /* the package price; 0 without a package */
  long long period[MAX_PERIODS]; /* price per charging unit of each period */
};

/* Reads the rule's amounts from the texts it was parsed from, rounded to the
 * cent on their digits (a rule made without texts: from its floats). False
 * when one of them is no amount or lies beyond MONEY_MAX_CENTS. */
bool rule_money_of(const RateInfo *rule, struct rule_money *money);

/* One pricing under way: the bill it fills (the counter's own, or a caller's),
 * the rule's amounts (caculate_charge_from_rateinfo reads them) and how many
 * stretches missed the bill's detail text so far. */
struct charge_run {
  bill_info *bill;
  int stretches_left_out;
  struct rule_money money;
};

/* The amount of the call in cents (0 when free), or -1 (a rule without a unit
 * or without amounts, a call longer than an int of seconds, an amount beyond
 * MONEY_MAX_CENTS). Reads the rule's amounts into the run, sets m_calltime of
 * the run's bill, appends the stretch records to its m_period_record and
 * rewrites the call's times (the start moved forward as it prices, both in
 * canonical form): the caller passes a scratch copy. */
long long caculate_charge_from_rateinfo(struct charge_run *run, call_info *call, const RateInfo *rule);

/* The charge in cents after the package, the call split at every midnight
 * (see above), at the run's amounts; -1 on failure, among them an end date
 * before the start date. */
long long get_period_price(struct charge_run *run, call_info *call, const RateInfo *rule);

/* The charge in cents of the same-day span btime..etime at the run's amounts;
 * btime ("HH:MM:SS", room for its terminator) is advanced in place. -1 when
 * etime lies before btime. */
long long get_normal_period_price(struct charge_run *run, char *btime, const char *etime, const RateInfo *rule);

/* Index of the period that holds the time of day btime; a period's own start
 * belongs to it, and times before the first start belong to the last period. */
int find_period_price_index(const char *btime, const RateInfo *rule);
/* The following period, 0 after the last. */
int get_next_index(int index, const RateInfo *rule);

/* Seconds from t2 to t1 within one day (negative when t1 is earlier). */
int get_timeval_from_string(const char *t1, const char *t2);
/* Adds seconds to the time of day t (whole days drop out), wrapping past midnight,
 * and writes it back over t's eight characters. */
void add_timeval(char *t, int seconds);
/* Sign of the comparison of edate's date part with bdate's: 0 same day,
 * positive when the call ends on a later date. */
int is_span_day(const call_info *call);
void print_call_info(const call_info *call);

/* Appends text to the bill's detail text, cut so that it stays terminated. */
void period_record_append(bill_info *bill, const char *text);
/* Ends the detail text with the summary: the last stretches are taken off,
 * whole, until the summary fits. Returns how many were taken off. */
int period_record_finish(bill_info *bill, const char *summary);

#endif
