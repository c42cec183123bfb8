/* The charge of a call under one rate rule. A call costs nothing below the free
 * limit; up to the package length it costs the package price; beyond that its
 * rest is charged in whole charging units at the price of the period each
 * stretch falls in, split at period starts and at midnight; the handling charge
 * is added once. All money is single precision: each stretch charge, the
 * running sum and the total; two decimals only in text.
 *
 * Times of day are "%H:%M:%S" texts (a period start may have a one-digit hour);
 * date-times are "%Y-%m-%d %H:%M:%S", the time of day from the twelfth
 * character on. Failures are logged and return -1.0. */
#ifndef QUENTA_CHARGE_H
#define QUENTA_CHARGE_H

#include "quenta/counter.h"

#define DATE_LEN 10              /* "YYYY-MM-DD" */
#define TIME_OFFSET 11           /* the time of day inside a date-time text */
#define DAY_LAST_SECOND "23:59:59"

/* The amount of the call (0.0 when free), or -1.0. Sets the bill's m_calltime,
 * appends the stretch records to its m_period_record and moves the call's start
 * (call->bdate) forward as it prices: the caller passes a scratch copy. */
float caculate_charge_from_rateinfo(struct normal_counter *nc, call_info *call, const RateInfo *rule);

/* The charge after the package, the call split at midnight; -1.0 on failure. */
float get_period_price(struct normal_counter *nc, call_info *call, const RateInfo *rule);

/* The charge of the same-day span btime..etime; btime ("HH:MM:SS", room for
 * its terminator) is advanced in place. -1.0 when etime lies before btime. */
float get_normal_period_price(struct normal_counter *nc, char *btime, const char *etime,
                              const RateInfo *rule);

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

#endif
