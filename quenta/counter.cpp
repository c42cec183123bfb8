/* The charging counter object: creation and release, the rule table, the choice
 * of a rule for a call, the price query and the bill of a call. The loaders are
 * in counter_file.cpp and counter_xml.cpp, the arithmetic in charge.cpp. */
#include "quenta/counter.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quenta/charge.h"
#include "quenta/rate_index.h"
#include "utils/debug.h"
#include "utils/decimal.h"
#include "utils/text.h"

static const struct counter_ops gst_counter_ops = {
    .release = normal_counter_release,
    .setcfg = normal_counter_setcfg,
    .getresult = normal_counter_getresult,
    .getrate = normal_counter_getrate,
    .price = normal_counter_price,
};

struct counter *create_normal_counter(const char *name)
{
  return create_normal_counter_file(name, RATE_FILE_NAME);
}

struct counter *create_normal_counter_file(const char *name, const char *filename)
{
  auto *nc = static_cast<normal_counter *>(calloc(1, sizeof(normal_counter)));
  if (!nc) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }
  nc->ops = &gst_counter_ops;
  nc->name = strdup(name ? name : "");
  if (!nc->name) {
    LOG_FUNCTION_FAILED();
    free(nc);
    return nullptr;
  }
  counter_init(nc, filename);
  if (!nc->m_rate_info) {
    LOG_FUNCTION_FAILED();
    normal_counter_release(reinterpret_cast<counter *>(nc));
    return nullptr;
  }
  return reinterpret_cast<counter *>(nc);
}

void counter_init(struct normal_counter *nc, const char *filename)
{
  nc->m_rate_info = utils::create_datalist();
  if (!nc->m_rate_info) {
    LOG_FUNCTION_FAILED();
    return;
  }
  if (!filename)
    LOG_FUNCTION_FAILED();
  else if (strstr(filename, ".xml"))
    counter_load_rate_xml(nc, filename);
  else
    counter_load_rate_file(nc, filename);
  /* without an index every lookup walks the list, which is slower but the same */
  nc->m_rate_index = create_rate_index(nc->m_rate_info);
  DLOG("%d rules loaded from %s, default rule: %s", utils::datalist_size(nc->m_rate_info),
       filename ? filename : "nothing", nc->m_default_rate ? "yes" : "no");
}

void normal_counter_release(struct counter *c)
{
  if (!c)
    return;
  auto *nc = reinterpret_cast<normal_counter *>(c);
  rate_index_release(nc->m_rate_index);
  if (nc->m_rate_info) {
    for (auto *it = utils::datalist_first(nc->m_rate_info); it; it = utils::datalist_next(it))
      free(utils::datalist_itdata(it));
    utils::datalist_free(nc->m_rate_info);
  }
  free(nc->m_default_rate);
  free(nc->name);
  free(nc);
}

/* "H:MM:SS" with one or two digits in each field, 0-23, 0-59, 0-59: the only
 * period starts the pricing can place on the day. */
static bool valid_time_of_day(const char *t)
{
  int field[3] = {0, 0, 0};
  for (int f = 0; f < 3; f++) {
    int digits = 0;
    while (*t >= '0' && *t <= '9' && digits < 3) {
      field[f] = field[f] * 10 + (*t++ - '0');
      digits++;
    }
    if (digits == 0 || digits > 2)
      return false;
    if (f < 2 && *t++ != ':')
      return false;
  }
  return *t == '\0' && field[0] <= 23 && field[1] <= 59 && field[2] <= 59;
}

/* Why the rule cannot price a call, or null when it can. */
static const char *unpriceable(const RateInfo *rule)
{
  /* every price is a number of charging units */
  if (rule->m_min_bill_time <= 0)
    return "no charging unit";
  if (!isfinite(rule->m_handling_charge) || !isfinite(rule->m_tao_price.m_price))
    return "an amount beyond the range of money";
  for (int i = 0; i <= rule->m_ppcount && i < MAX_PERIODS; i++) {
    if (!valid_time_of_day(rule->m_period_price[i].m_time))
      return "a period start that is no time of day";
    if (!isfinite(rule->m_period_price[i].m_price))
      return "an amount beyond the range of money";
  }
  rule_money money;
  if (!rule_money_of(rule, &money))
    return "an amount beyond the range of money";
  return nullptr;
}

int counter_add_rule(struct normal_counter *nc, RateInfo *rule, bool is_default)
{
  /* a rule that cannot price a call is refused here rather than at the first call */
  if (const char *why = unpriceable(rule)) {
    DLOG("rule %.127s refused: %s", rule->m_prefix, why);
    free(rule);
    return -1;
  }
  if (is_default) {
    free(nc->m_default_rate);
    nc->m_default_rate = rule;
    return 0;
  }
  if (utils::datalist_append(nc->m_rate_info, rule) != 0) {
    LOG_FUNCTION_FAILED();
    free(rule);
    return -1;
  }
  return 0;
}

int normal_counter_setcfg(struct counter *c, CONFIG_FLAG flag, void *param)
{
  (void)c;
  (void)flag;
  (void)param;
  return 0;
}

RateInfo *normal_counter_choose_rate(struct normal_counter *nc, const char *desnum)
{
  RateInfo *current = nullptr;
  if (nc->m_rate_index) {
    /* the index hands over only the rules whose prefixes match, shortest first:
     * the same rules the walk reports as matched, and the last is the longest */
    rate_match m[RATE_INDEX_MAX_DEPTH];
    int n = rate_index_matches(nc->m_rate_index, desnum, m);
    for (int i = 0; i < n; i++) {
      DPRINT("matching %s with %s\n", desnum, m[i].rule->m_prefix);
      DPRINT("matched %s/%s current=%p\n", desnum, m[i].rule->m_prefix, (void *)m[i].rule);
      current = m[i].rule;
    }
  } else if (nc->m_rate_info) {
    current = rate_walk_longest(nc->m_rate_info, desnum);
  }
  return current ? current : nc->m_default_rate;
}

const char *normal_counter_rule_name(struct normal_counter *nc, const char *desnum)
{
  const RateInfo *rule = nullptr;
  if (nc->m_rate_index) {
    rule = rate_index_longest(nc->m_rate_index, desnum);
  } else if (nc->m_rate_info) {
    /* the walk of rate_walk_longest without its log lines */
    size_t best = 0;
    for (auto *it = utils::datalist_first(nc->m_rate_info); it; it = utils::datalist_next(it)) {
      auto *r = static_cast<const RateInfo *>(utils::datalist_itdata(it));
      size_t len = strnlen(r->m_prefix, sizeof r->m_prefix);
      if (rate_prefix_matches(r, desnum) && (!rule || len > best)) {
        rule = r;
        best = len;
      }
    }
  }
  if (rule)
    return rule->m_name;
  return nc->m_default_rate ? DEFAULT_RULE_NAME : "";
}

void rule_set_name(RateInfo *rule, const char *name, int len)
{
  int keep = len > 0 ? (int)utils::gbk_fit(name, (size_t)len, sizeof rule->m_name - 1) : 0;
  memcpy(rule->m_name, name, (size_t)keep);
  rule->m_name[keep] = '\0';
  rule->m_namelen = keep;
}

bill_info *normal_counter_getresult(struct counter *c, call_info *call)
{
  auto *nc = reinterpret_cast<normal_counter *>(c);
  price_detail detail;
  nc->m_cents = 0;
  if (normal_counter_price(c, call, &nc->m_bill_info, &detail) != 0)
    return nullptr;
  nc->m_cents = detail.cents;
  return &nc->m_bill_info;
}

int normal_counter_price(struct counter *c, call_info *call, bill_info *bill, struct price_detail *detail)
{
  auto *nc = reinterpret_cast<normal_counter *>(c);
  memset(bill, 0, sizeof *bill);

  RateInfo *rule = normal_counter_choose_rate(nc, call->desnum);
  if (!rule) {
    DLOG("no rule and no default rule prices %s", call->desnum);
    return -1;
  }

  charge_run run{bill, 0, {}};
  long long amount = caculate_charge_from_rateinfo(&run, call, rule);
  if (amount < 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  snprintf(bill->m_callid, sizeof bill->m_callid, "%.*s", (int)sizeof call->callid - 1, call->callid);
  bill->m_count = utils::cents_float(amount);
  DLOG("count: %s", utils::cents_text(amount).s);

  char summary[256];
  snprintf(summary, sizeof summary, "%s in %d second, handling charge %s total %s",
           utils::cents_text(run.money.package).s, rule->m_tao_price.m_category,
           utils::cents_text(run.money.handling).s, utils::cents_text(amount).s);
  int left_out = run.stretches_left_out + period_record_finish(bill, summary);
  if (left_out > 0)
    DLOG("call %.127s: %d stretches left out of the detail text", bill->m_callid, left_out);
  if (detail) {
    detail->cents = amount;
    detail->rule = rule == nc->m_default_rate ? DEFAULT_RULE_NAME : rule->m_name;
  }
  return 0;
}

float normal_counter_getrate(struct counter *c, const char *destnum, const char *bdate)
{
  auto *nc = reinterpret_cast<normal_counter *>(c);
  if (!destnum)
    return UNMATCHED_RATE;
  RateInfo *rule = nullptr;
  if (nc->m_rate_index)
    rule = rate_index_first(nc->m_rate_index, destnum);
  else if (nc->m_rate_info)
    rule = rate_walk_first(nc->m_rate_info, destnum);
  if (!rule)
    return UNMATCHED_RATE;
  if (rule->m_ppcount <= 0)
    return rule->m_period_price[0].m_price;
  return rule->m_period_price[find_period_price_index(bdate ? bdate : "", rule)].m_price;
}
