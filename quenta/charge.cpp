/* Pricing one call under its rule: free limit, package, per-period units across
 * period starts and midnight, handling charge, and the detail text of the bill.
 * Order of work: caculate_charge_from_rateinfo decides free / package / rest;
 * the rest of a multi-period call goes through get_period_price (the split at
 * every midnight) and get_normal_period_price (one day's stretches). Money is
 * cents from the rule's texts on; no float takes part in the arithmetic. */
#include "quenta/charge.h"

#include <ctype.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>

#include "utils/debug.h"
#include "utils/decimal.h"

namespace {

struct time_of_day {
  int hour, minute, second;
};

/* Reads up to n integers as sscanf reads "%d", seps[0], "%d", seps[1], ...:
 * each integer after optional white space and a sign, saturated as strtol
 * saturates, each separator character as it stands (a blank takes any white
 * space). Returns how many integers it read; out holds them. By hand, since
 * the pricing reads a time of day a dozen times a stretch and sscanf was
 * most of its cost. */
int scan_ints(const char *text, const char *seps, int *out, int n)
{
  const char *p = text;
  for (int i = 0; i < n; i++) {
    while (isspace((unsigned char)*p))
      p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
      negative = *p++ == '-';
    if (!isdigit((unsigned char)*p))
      return i;
    unsigned long long v = 0;
    bool over = false;
    for (; isdigit((unsigned char)*p); p++) {
      if (v > (ULLONG_MAX - 9) / 10)
        over = true;
      else
        v = v * 10 + (unsigned)(*p - '0');
    }
    const unsigned long long top = (unsigned long long)LONG_MAX;
    long value;
    if (negative)
      value = over || v > top ? LONG_MIN : -(long)v;
    else
      value = over || v > top ? LONG_MAX : (long)v;
    out[i] = (int)value;
    if (i + 1 == n)
      break;
    if (seps[i] == ' ') {
      while (isspace((unsigned char)*p))
        p++;
    } else if (*p++ != seps[i]) {
      return i + 1;
    }
  }
  return n;
}

/* "%H:%M:%S"; fields the text does not hold stay 0. */
time_of_day parse_time(const char *t)
{
  int f[3] = {0, 0, 0};
  scan_ints(t, "::", f, 3);
  return time_of_day{f[0], f[1], f[2]};
}

/* A "%Y-%m-%d %H:%M:%S" text as seconds on a zone-free calendar. The call's
 * times are wall-clock texts: reading them without daylight saving (and writing
 * them back the same way) keeps a moved start on the same wall clock. */
bool parse_date_time(const char *text, time_t *out)
{
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  int f[6];
  if (scan_ints(text, "-- ::", f, 6) != 6)
    return false;
  tm.tm_year = f[0] - 1900;
  tm.tm_mon = f[1] - 1;
  tm.tm_mday = f[2];
  tm.tm_hour = f[3];
  tm.tm_min = f[4];
  tm.tm_sec = f[5];
  tm.tm_isdst = 0;
  *out = timegm(&tm);
  return true;
}

bool format_date_time(time_t t, char *buf, size_t size)
{
  struct tm tm;
  if (!gmtime_r(&t, &tm))
    return false;
  return strftime(buf, size, "%Y-%m-%d %H:%M:%S", &tm) > 0;
}

/* Whole units of u seconds that cover n seconds. */
int units_of(int n, int u)
{
  return n / u + (n % u != 0 ? 1 : 0);
}

/* total += units x price in cents; false when the amount leaves the range of
 * money (the bill would hold no true amount). */
bool add_units(long long *total, long long units, long long price)
{
  long long charge;
  if (__builtin_mul_overflow(units, price, &charge) || __builtin_add_overflow(*total, charge, total) ||
      *total > MONEY_MAX_CENTS) {
    DLOG("the charge is beyond the range of money");
    return false;
  }
  return true;
}

/* One amount of a rule: its text rounded to the cent, or, for a rule made
 * without texts, its float. */
bool amount_of(const char *text, size_t size, float value, long long *cents)
{
  if (strnlen(text, size) == 0) {
    if (!isfinite(value) || fabs((double)value) * 100.0 > (double)MONEY_MAX_CENTS)
      return false;
    *cents = utils::cents_of(value);
    return true;
  }
  return utils::parse_cents(text, cents);
}

std::string stretch_record(const char *from, const char *to, long long cents)
{
  std::string r(from);
  r += '-';
  r += to;
  r += ' ';
  r += utils::cents_text(cents).s;
  r += ',';
  return r;
}

/* A stretch goes into the detail text whole or not at all; after the first one
 * left out, every later one is left out too, so the text stays the call's
 * first stretches in order. */
void stretch_append(struct charge_run *run, const std::string &record)
{
  bill_info *bill = run->bill;
  size_t cur = strnlen(bill->m_period_record, sizeof bill->m_period_record);
  if (run->stretches_left_out > 0 || cur + record.size() > sizeof bill->m_period_record - 1) {
    run->stretches_left_out++;
    return;
  }
  period_record_append(bill, record.c_str());
}

/* seconds (0 up to a day) as "HH:MM:SS" over t's eight characters */
void write_time_of_day(char *t, long long seconds)
{
  char buf[40];
  int s = (int)(seconds % 86400);
  snprintf(buf, sizeof buf, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  memcpy(t, buf, 8);
  t[8] = '\0';
}

} /* namespace */

void period_record_append(bill_info *bill, const char *text)
{
  size_t cur = strnlen(bill->m_period_record, sizeof bill->m_period_record);
  if (cur >= sizeof bill->m_period_record) {
    bill->m_period_record[sizeof bill->m_period_record - 1] = '\0';
    return;
  }
  size_t room = sizeof bill->m_period_record - 1 - cur;
  size_t n = strlen(text);
  if (n > room)
    n = room;
  memcpy(bill->m_period_record + cur, text, n);
  bill->m_period_record[cur + n] = '\0';
}

int period_record_finish(bill_info *bill, const char *summary)
{
  const size_t limit = sizeof bill->m_period_record - 1;
  size_t len = strnlen(bill->m_period_record, sizeof bill->m_period_record);
  size_t slen = strlen(summary);
  int taken = 0;
  /* every stretch ends in "," and holds no other: take whole ones off the end */
  while (len > 0 && len + slen > limit) {
    size_t cut = len - 1;
    while (cut > 0 && bill->m_period_record[cut - 1] != ',')
      cut--;
    len = cut;
    taken++;
  }
  bill->m_period_record[len] = '\0';
  period_record_append(bill, summary);
  return taken;
}

int get_timeval_from_string(const char *t1, const char *t2)
{
  time_of_day a = parse_time(t1), b = parse_time(t2);
  return (a.hour - b.hour) * 3600 + (a.minute - b.minute) * 60 + (a.second - b.second);
}

void add_timeval(char *t, int seconds)
{
  /* a unit longer than a day comes round to the same time of day */
  seconds %= 86400;
  if (seconds < 0)
    seconds += 86400;
  int h = seconds / 3600, m = (seconds % 3600) / 60, s = seconds % 60;
  DLOG("timeval : %d", seconds);
  time_of_day tod = parse_time(t);
  DLOG("TM: %d:%d:%d", tod.hour, tod.minute, tod.second);
  int carry = 0;
  int sec = s + tod.second;
  if (sec >= 60) {
    sec -= 60;
    carry = 1;
  }
  int min = m + tod.minute + carry;
  carry = 0;
  if (min >= 60) {
    min -= 60;
    carry = 1;
  }
  int hour = h + tod.hour + carry;
  if (hour > 23)
    hour -= 24;
  char buf[40];
  snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, min, sec);
  memcpy(t, buf, 8);
  t[8] = '\0';
  DLOG("result: %s", t);
}

int is_span_day(const call_info *call)
{
  return strncmp(call->edate, call->bdate, DATE_LEN);
}

int get_next_index(int index, const RateInfo *rule)
{
  return index + 1 > rule->m_ppcount ? 0 : index + 1;
}

int find_period_price_index(const char *btime, const RateInfo *rule)
{
  int last = rule->m_ppcount;
  if (last < 0)
    return 0;
  if (last >= MAX_PERIODS)
    last = MAX_PERIODS - 1;
  for (int i = 0; i < last; i++) {
    if (get_timeval_from_string(btime, rule->m_period_price[i].m_time) >= 0 &&
        get_timeval_from_string(rule->m_period_price[i + 1].m_time, btime) > 0)
      return i;
  }
  return last;
}

void print_call_info(const call_info *call)
{
  DPRINT("\ncallid: %s, bdate: %s, edata: %s, dest_num: %s, src_num: %s\n", call->callid, call->bdate, call->edate,
         call->desnum, call->srcnum);
}

bool rule_money_of(const RateInfo *rule, struct rule_money *money)
{
  memset(money, 0, sizeof *money);
  if (!amount_of(rule->m_hcbuf, sizeof rule->m_hcbuf, rule->m_handling_charge, &money->handling))
    return false;
  if (rule->m_tao_price.m_category > 0 &&
      !amount_of(rule->m_tao_price.m_buf, sizeof rule->m_tao_price.m_buf, rule->m_tao_price.m_price, &money->package))
    return false;
  for (int i = 0; i <= rule->m_ppcount && i < MAX_PERIODS; i++) {
    const period_price &pp = rule->m_period_price[i];
    if (!amount_of(pp.m_buf, sizeof pp.m_buf, pp.m_price, &money->period[i]))
      return false;
  }
  return true;
}

/* The stretches of the same-day span btime..etime; btime advances in place and
 * *moved receives how far the clock moved in all (it may pass midnight). */
static long long price_span(struct charge_run *run, char *btime, const char *etime, const RateInfo *rule,
                            long long *moved)
{
  *moved = 0;
  const int u = rule->m_min_bill_time;
  if (u <= 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  int remaining = get_timeval_from_string(etime, btime);
  if (remaining < 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  DLOG("li_calltime: %d", remaining);

  long long total = 0;
  while (remaining > 0) {
    int k = find_period_price_index(btime, rule);
    DLOG("li_dex : %d", k);
    const long long p = run->money.period[k];
    const char *end_label = rule->m_period_price[get_next_index(k, rule)].m_time;
    int len = get_timeval_from_string(end_label, btime);
    if (len < 0) {
      /* the next period starts after midnight: this stretch ends with the day */
      end_label = DAY_LAST_SECOND;
      len = get_timeval_from_string(DAY_LAST_SECOND, btime);
    }
    DLOG("li_period_time : %d", len);

    std::string record;
    long long charge = 0;
    if (len <= remaining) {
      if (!add_units(&charge, units_of(len, u), p) || !add_units(&total, 1, charge))
        return -1;
      /* the clock moves by whole units, so it ends strictly after the stretch:
       * an exact multiple of the unit moves one uncharged unit further */
      long long advance = (long long)len + u - len % u;
      remaining = advance >= remaining ? 0 : remaining - (int)advance;
      *moved += advance;
      record = stretch_record(btime, end_label, charge);
      add_timeval(btime, (int)(advance % 86400));
      DLOG("new btime : %s", btime);
      DLOG("count : %s", utils::cents_text(total).s);
    } else {
      if (!add_units(&charge, units_of(remaining, u), p) || !add_units(&total, 1, charge))
        return -1;
      remaining = 0;
      record = stretch_record(btime, etime, charge);
      DLOG("count : %s", utils::cents_text(total).s);
    }
    stretch_append(run, record);
  }
  return total;
}

long long get_normal_period_price(struct charge_run *run, char *btime, const char *etime, const RateInfo *rule)
{
  long long moved;
  return price_span(run, btime, etime, rule, &moved);
}

/* Days from the date of `from` to the date of `to` ("%Y-%m-%d" at the start of
 * each); false when either cannot be read. */
static bool days_between(const char *from, const char *to, long long *days)
{
  int f[3], t[3];
  if (scan_ints(from, "--", f, 3) != 3 || scan_ints(to, "--", t, 3) != 3)
    return false;
  struct tm a, b;
  memset(&a, 0, sizeof a);
  memset(&b, 0, sizeof b);
  a.tm_year = f[0] - 1900, a.tm_mon = f[1] - 1, a.tm_mday = f[2];
  b.tm_year = t[0] - 1900, b.tm_mon = t[1] - 1, b.tm_mday = t[2];
  *days = ((long long)timegm(&b) - (long long)timegm(&a)) / 86400;
  return true;
}

long long get_period_price(struct charge_run *run, call_info *call, const RateInfo *rule)
{
  int d = is_span_day(call);
  long long days = 0;
  if (d < 0 || (d > 0 && (!days_between(call->bdate, call->edate, &days) || days <= 0))) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  char *btime = call->bdate + TIME_OFFSET;
  const char *etime = call->edate + TIME_OFFSET;
  if (d == 0) {
    long long charge = get_normal_period_price(run, btime, etime, rule);
    if (charge < 0) {
      LOG_FUNCTION_FAILED();
      return -1;
    }
    return charge;
  }

  /* The call is split at every midnight; positions count seconds from 00:00:00
   * of the start day. Each day is priced from where the clock stands to
   * 23:59:59. Its last unit carries the clock past midnight, and the next day
   * goes on from there; a day that carried nothing (it began at 23:59:59, or
   * its units stopped short) leaves the next day to start at 00:00:00. */
  const long long end = days * 86400 + get_timeval_from_string(etime, "00:00:00");
  long long pos = get_timeval_from_string(btime, "00:00:00");
  long long total = 0;
  for (long long day = 0; day <= days; day++) {
    const long long midnight = day * 86400;
    /* the last unit charged already covers the rest of the call */
    if (pos >= end)
      break;
    /* a unit longer than a day can carry the clock over whole days */
    if (pos - midnight >= 86400)
      continue;
    if (day > 0)
      write_time_of_day(btime, pos - midnight);
    long long moved;
    long long part = price_span(run, btime, day < days ? DAY_LAST_SECOND : etime, rule, &moved);
    if (part < 0 || !add_units(&total, 1, part)) {
      LOG_FUNCTION_FAILED();
      return -1;
    }
    pos = std::max(pos + moved, midnight + 86400);
  }
  return total;
}

long long caculate_charge_from_rateinfo(struct charge_run *run, call_info *call, const RateInfo *rule)
{
  print_call_info(call);
  bill_info *bill = run->bill;
  run->stretches_left_out = 0;
  if (!rule_money_of(rule, &run->money)) {
    DLOG("rule %.127s: an amount beyond the range of money", rule->m_prefix);
    return -1;
  }
  time_t begin, end;
  if (!parse_date_time(call->bdate, &begin) || !parse_date_time(call->edate, &end)) {
    /* a row without a readable time (an older release stored such rows) is
     * settled as a free call rather than left open for ever */
    DLOG("call %.127s: unreadable start or end time, free", call->callid);
    bill->m_calltime = 0;
    return 0;
  }
  long long calltime = (long long)end - (long long)begin;
  if (calltime > INT_MAX) {
    DLOG("call %.127s lasts %lld seconds, beyond a call time", call->callid, calltime);
    return -1;
  }
  bill->m_calltime = calltime < INT_MIN ? INT_MIN : (int)calltime;
  DLOG("apst_counter->m_bill_info.calltime: %d", bill->m_calltime);
  DLOG("invalid timeval: %d", rule->m_invalid_timeval);

  /* an end before the start (the wall clock stepped back) falls below any free
   * limit: a free call, shown with no duration */
  if (bill->m_calltime < rule->m_invalid_timeval) {
    if (bill->m_calltime < 0)
      bill->m_calltime = 0;
    return 0;
  }

  const int category = rule->m_tao_price.m_category;
  long long amount = 0;
  if (!add_units(&amount, 1, run->money.handling) || !add_units(&amount, 1, run->money.package))
    return -1;
  if (bill->m_calltime <= category)
    return amount;

  long long charge = 0;
  if (rule->m_ppcount > 0) {
    /* the split works on the texts' fixed places: both in the canonical form */
    char start[20], stop[20];
    if (!format_date_time(begin + category, start, sizeof start) || !format_date_time(end, stop, sizeof stop)) {
      LOG_FUNCTION_FAILED();
      return -1;
    }
    memcpy(call->bdate, start, sizeof start);
    memcpy(call->edate, stop, sizeof stop);
    charge = get_period_price(run, call, rule);
    if (charge < 0) {
      LOG_FUNCTION_FAILED();
      return -1;
    }
  } else {
    const int u = rule->m_min_bill_time;
    if (u <= 0) {
      LOG_FUNCTION_FAILED();
      return -1;
    }
    if (!add_units(&charge, units_of(bill->m_calltime - category, u), run->money.period[0]))
      return -1;
  }
  if (!add_units(&amount, 1, charge))
    return -1;
  DLOG("count: %s", utils::cents_text(amount).s);
  return amount;
}
