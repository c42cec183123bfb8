/* Pricing one call under its rule: free limit, package, per-period units across
 * period starts and midnight, handling charge, and the detail text of the bill.
 * Order of work: caculate_charge_from_rateinfo decides free / package / rest;
 * the rest of a multi-period call goes through get_period_price (midnight
 * split) and get_normal_period_price (one day's stretches). */
#include "quenta/charge.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "utils/debug.h"
#include "utils/decimal.h"

namespace {

struct time_of_day {
  int hour, minute, second;
};

/* "%H:%M:%S"; fields the text does not hold stay 0. */
time_of_day parse_time(const char *t)
{
  time_of_day tod{0, 0, 0};
  sscanf(t, "%d:%d:%d", &tod.hour, &tod.minute, &tod.second);
  return tod;
}

/* A "%Y-%m-%d %H:%M:%S" text as seconds on a zone-free calendar. The call's
 * times are wall-clock texts: reading them without daylight saving (and writing
 * them back the same way) keeps a moved start on the same wall clock. */
bool parse_date_time(const char *text, time_t *out)
{
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  int y, mo, d, h, mi, s;
  if (sscanf(text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
    return false;
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
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

std::string stretch_record(const char *from, const char *to, float charge)
{
  std::string r(from);
  r += '-';
  r += to;
  r += ' ';
  r += utils::decimal_text(charge).s;
  r += ',';
  return r;
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
  DPRINT("\ncallid: %s, bdate: %s, edata: %s, dest_num: %s, src_num: %s\n", call->callid, call->bdate,
         call->edate, call->desnum, call->srcnum);
}

float get_normal_period_price(struct normal_counter *nc, char *btime, const char *etime,
                              const RateInfo *rule)
{
  const int u = rule->m_min_bill_time;
  if (u <= 0) {
    LOG_FUNCTION_FAILED();
    return -1.0f;
  }
  int remaining = get_timeval_from_string(etime, btime);
  if (remaining < 0) {
    LOG_FUNCTION_FAILED();
    return -1.0f;
  }
  DLOG("li_calltime: %d", remaining);

  float total = 0.0f;
  while (remaining > 0) {
    int k = find_period_price_index(btime, rule);
    DLOG("li_dex : %d", k);
    float p = rule->m_period_price[k].m_price;
    const char *end_label = rule->m_period_price[get_next_index(k, rule)].m_time;
    int len = get_timeval_from_string(end_label, btime);
    if (len < 0) {
      /* the next period starts after midnight: this stretch ends with the day */
      end_label = DAY_LAST_SECOND;
      len = get_timeval_from_string(DAY_LAST_SECOND, btime);
    }
    DLOG("li_period_time : %d", len);

    std::string record;
    if (len <= remaining) {
      float charge = (float)units_of(len, u) * p;
      total += charge;
      /* the clock moves by whole units, so it ends strictly after the stretch:
       * an exact multiple of the unit moves one uncharged unit further */
      long long advance = (long long)len + u - len % u;
      remaining = advance >= remaining ? 0 : remaining - (int)advance;
      record = stretch_record(btime, end_label, charge);
      add_timeval(btime, (int)(advance % 86400));
      DLOG("new btime : %s", btime);
      DLOG("count : %s", utils::decimal_text(total, 6).s);
    } else {
      float charge = (float)units_of(remaining, u) * p;
      total += charge;
      remaining = 0;
      record = stretch_record(btime, etime, charge);
      DLOG("count : %s", utils::decimal_text(total, 6).s);
    }
    period_record_append(&nc->m_bill_info, record.c_str());
  }
  return total;
}

float get_period_price(struct normal_counter *nc, call_info *call, const RateInfo *rule)
{
  int d = is_span_day(call);
  if (d < 0) {
    LOG_FUNCTION_FAILED();
    return -1.0f;
  }
  char *btime = call->bdate + TIME_OFFSET;
  const char *etime = call->edate + TIME_OFFSET;
  if (d == 0) {
    float charge = get_normal_period_price(nc, btime, etime, rule);
    if (charge < 0) {
      LOG_FUNCTION_FAILED();
      return -1.0f;
    }
    return charge;
  }
  /* to the end of the start day; its last unit carries btime past midnight */
  float first = get_normal_period_price(nc, btime, DAY_LAST_SECOND, rule);
  if (first < 0) {
    LOG_FUNCTION_FAILED();
    return -1.0f;
  }
  /* the day's last unit may already reach past the end of the call */
  if (get_timeval_from_string(etime, btime) <= 0)
    return first;
  float second = get_normal_period_price(nc, btime, etime, rule);
  if (second < 0) {
    LOG_FUNCTION_FAILED();
    return -1.0f;
  }
  return first + second;
}

float caculate_charge_from_rateinfo(struct normal_counter *nc, call_info *call, const RateInfo *rule)
{
  print_call_info(call);
  bill_info *bill = &nc->m_bill_info;
  time_t begin, end;
  if (!parse_date_time(call->bdate, &begin) || !parse_date_time(call->edate, &end)) {
    DLOG("call %s: unreadable start or end time", call->callid);
    return -1.0f;
  }
  bill->m_calltime = (int)(end - begin);
  DLOG("apst_counter->m_bill_info.calltime: %d", bill->m_calltime);
  DLOG("invalid timeval: %d", rule->m_invalid_timeval);
  if (bill->m_calltime < 0) {
    /* an end before the start is a broken record, not a free call */
    DLOG("call %s ends before it starts", call->callid);
    return -1.0f;
  }

  if (bill->m_calltime < rule->m_invalid_timeval)
    return 0.0f;

  const int category = rule->m_tao_price.m_category;
  float package = category > 0 ? rule->m_tao_price.m_price : 0.0f;
  if (bill->m_calltime <= category)
    return rule->m_handling_charge + package;

  float charge;
  if (rule->m_ppcount > 0) {
    char start[20];
    if (!format_date_time(begin + category, start, sizeof start)) {
      LOG_FUNCTION_FAILED();
      return -1.0f;
    }
    memcpy(call->bdate, start, sizeof start);
    charge = get_period_price(nc, call, rule);
    if (charge < 0) {
      LOG_FUNCTION_FAILED();
      return -1.0f;
    }
  } else {
    const int u = rule->m_min_bill_time;
    if (u <= 0) {
      LOG_FUNCTION_FAILED();
      return -1.0f;
    }
    charge = (float)units_of(bill->m_calltime - category, u) * rule->m_period_price[0].m_price;
  }
  float amount = rule->m_handling_charge + package + charge;
  DLOG("count: %s", utils::decimal_text(amount, 6).s);
  return amount;
}
