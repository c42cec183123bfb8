/* What the two rate-loader harnesses check once a table is loaded: the prefix
 * index answers exactly as the plain walks over the list do, and every call
 * priced with the loaded rules comes out as a bill with terminated texts and a
 * finite, non-negative amount, or as no bill at all; a call that ends before it
 * starts is a free bill of no duration. */
#ifndef FUZZ_FUZZ_RATES_H
#define FUZZ_FUZZ_RATES_H

#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "quenta/counter.h"
#include "quenta/rate_index.h"

namespace fuzz {

/* Numbers to look up: each rule's prefix, cut by one digit and grown by two, and
 * a few that no table is likely to hold. */
inline std::vector<std::string> probe_numbers(const struct normal_counter *nc)
{
  std::vector<std::string> numbers = {"", "0", "010", "13800138000", "999999999999"};
  int n = 0;
  for (auto *it = utils::datalist_first(nc->m_rate_info); it && n < 64; it = utils::datalist_next(it), n++) {
    const RateInfo *r = static_cast<const RateInfo *>(utils::datalist_itdata(it));
    std::string p = r->m_prefix;
    numbers.push_back(p);
    numbers.push_back(p + "42");
    if (!p.empty())
      numbers.push_back(p.substr(0, p.size() - 1));
  }
  return numbers;
}

inline void check_bill(const bill_info *bill)
{
  if (!bill)
    return;
  FUZZ_CHECK(terminated(bill->m_callid));
  FUZZ_CHECK(terminated(bill->m_period_record));
  FUZZ_CHECK(isfinite(bill->m_count) && bill->m_count >= 0.0f);
  FUZZ_CHECK(bill->m_calltime >= 0);
}

/* True when every amount of the rule is below the point where the longest
 * call of price_calls (a day and a half in units of one second) could leave
 * the range of money, MONEY_MAX_CENTS: a call beyond it is refused a bill. */
inline bool modest(const RateInfo *r)
{
  const float most = 1e6f;
  bool ok = fabsf(r->m_handling_charge) < most && fabsf(r->m_tao_price.m_price) < most;
  for (int i = 0; i <= r->m_ppcount && i < MAX_PERIODS; i++)
    ok = ok && fabsf(r->m_period_price[i].m_price) < most;
  return ok;
}

/* Calls of several shapes: short, across a period start, across one and two
 * midnights, and one that ends before it starts (free). A call the table has a
 * rule for must be priced. */
inline void price_calls(struct counter *c, const std::string &number)
{
  const RateInfo *rule = normal_counter_choose_rate(reinterpret_cast<struct normal_counter *>(c), number.c_str());
  static const char *const spans[][2] = {
      {"2024-01-17 07:59:30", "2024-01-17 08:04:10"}, {"2024-01-17 12:00:00", "2024-01-17 12:00:00"},
      {"2024-01-17 23:58:00", "2024-01-18 00:03:01"}, {"2024-01-17 23:59:30", "2024-01-18 00:00:10"},
      {"2024-01-17 23:59:59", "2024-01-19 00:30:00"}, {"2024-01-17 10:00:00", "2024-01-17 09:00:00"},
  };
  for (const auto &span : spans) {
    call_info call;
    memset(&call, 0, sizeof call);
    snprintf(call.desnum, sizeof call.desnum, "%s", number.c_str());
    snprintf(call.bdate, sizeof call.bdate, "%s", span[0]);
    snprintf(call.edate, sizeof call.edate, "%s", span[1]);
    snprintf(call.callid, sizeof call.callid, "GW1-00000001@%s", span[0]);
    bool well_formed = strcmp(span[1], span[0]) >= 0;
    const bill_info *bill = counter_get_result(c, &call);
    check_bill(bill);
    if (rule && modest(rule))
      FUZZ_CHECK(bill != nullptr);
    if (bill && !well_formed)
      FUZZ_CHECK(bill->m_count == 0.0f && bill->m_calltime == 0);
  }
  float rate = counter_getrate(c, number.c_str(), "08:00:00");
  FUZZ_CHECK(!isnan(rate));
}

inline void check_table(struct counter *c)
{
  auto *nc = reinterpret_cast<struct normal_counter *>(c);
  FUZZ_CHECK(nc->m_rate_info);
  for (const std::string &number : probe_numbers(nc)) {
    if (nc->m_rate_index) {
      FUZZ_CHECK(rate_index_longest(nc->m_rate_index, number.c_str()) ==
                 rate_walk_longest(nc->m_rate_info, number.c_str()));
      FUZZ_CHECK(rate_index_first(nc->m_rate_index, number.c_str()) ==
                 rate_walk_first(nc->m_rate_info, number.c_str()));
    }
    price_calls(c, number);
  }
}

/* Loads the bytes as the file name, checks the table, releases it. */
inline void load_and_check(const char *name, const uint8_t *data, size_t size)
{
  std::string path = scratch_dir() + "/" + name;
  write_file(path, data, size);
  struct counter *c = create_normal_counter_file("counter", path.c_str());
  FUZZ_CHECK(c);
  check_table(c);
  counter_release(c);
}

} /* namespace fuzz */

#endif
