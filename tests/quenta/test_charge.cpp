// Pricing a call: the worked examples, free limit, package, single- and
// multi-period rules, period boundaries, midnight, exact unit multiples,
// one-digit hours, free bills, the failures, the detail text and its cut,
// whole cents, and a table of hand-computed calls.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "quenta/charge.h"
#include "quenta/counter.h"
#include "rate_test_util.h"
#include "utils/decimal.h"

namespace {

// Every rule of this suite, one prefix each.
const char kRules[] =
    // the worked example: night, day and evening, handling charge, free limit
    "R1|010|0.50|00:00:00-0.30,08:00:00-0.60,20:00:00-0.40|0:0.00|3|60\n"
    // the midnight example
    "R2|020|0|00:00:00-0.20,08:00:00-0.50|0:0|0|60\n"
    // one period
    "R3|030|0.10|00:00:00-0.25|0:0|0|60\n"
    // one period, a package and a free limit
    "R4|040|0.20|00:00:00-0.30|180:1.00|5|60\n"
    // one-digit hour, a package and half-minute units; the night is the last period
    "R5|050|0.00|7:00:00-0.40,19:00:00-0.20|60:0.50|0|30\n"
    // six-second units
    "R6|060|0|00:00:00-0.06,12:00:00-0.12|0:0|0|6\n"
    // four periods with one-digit hours
    "R7|070|0.05|0:00:00-0.10,6:00:00-0.20,12:00:00-0.30,18:00:00-0.40|0:0|0|60\n"
    // a handling charge below a cent
    "R8|080|0.005|00:00:00-0.10|60:0.00|0|60\n"
    // the midnight example with a package
    "R9|090|0|00:00:00-0.20,08:00:00-0.50|180:1.00|0|60\n"
    // a dear rule in one-second units, and prices written to the tenth of a cent
    "R10|100|0|00:00:02-2.09,15:00:00-0.50|0:0|0|1\n"
    "R11|110|0.125|00:00:00-2.095|30:0.994|0|60\n";

class Charge : public ratetest::WorkDir {
protected:
  void SetUp() override
  {
    ratetest::WorkDir::SetUp();
    ratetest::write_file(RATE_FILE_NAME, kRules);
    testing::internal::CaptureStdout();
    c_ = create_normal_counter("counter");
    testing::internal::GetCapturedStdout();
    ASSERT_NE(nullptr, c_);
    ASSERT_EQ(11, utils::datalist_size(reinterpret_cast<normal_counter *>(c_)->m_rate_info));
  }
  void TearDown() override
  {
    counter_release(c_);
    ratetest::WorkDir::TearDown();
  }
  bill_info *price(const char *prefix, const char *bdate, const char *edate)
  {
    memset(&call_, 0, sizeof call_);
    snprintf(call_.desnum, sizeof call_.desnum, "%s5551234", prefix);
    snprintf(call_.srcnum, sizeof call_.srcnum, "8001");
    snprintf(call_.bdate, sizeof call_.bdate, "%s", bdate);
    snprintf(call_.edate, sizeof call_.edate, "%s", edate);
    snprintf(call_.callid, sizeof call_.callid, "gw1-00000002@%s", bdate);
    return counter_get_result(c_, &call_);
  }
  RateInfo *rule(const char *prefix)
  {
    return normal_counter_choose_rate(reinterpret_cast<normal_counter *>(c_), prefix);
  }

  counter *c_ = nullptr;
  call_info call_;
};

TEST_F(Charge, WorkedExampleSameDay)
{
  bill_info *b = price("010", "2024-03-01 07:58:30", "2024-03-01 08:01:10");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(160, b->m_calltime);
  EXPECT_EQ((0.50f + 0.0f) + ((0.0f + 2 * 0.30f) + 1 * 0.60f), b->m_count);
  EXPECT_STREQ("07:58:30-08:00:00 0.60,08:00:30-08:01:10 0.60,"
               "0.00 in 0 second, handling charge 0.50 total 1.70",
               b->m_period_record);
  EXPECT_STREQ("gw1-00000002@2024-03-01 07:58:30", b->m_callid);
  EXPECT_STREQ("", b->m_admin);
  EXPECT_STREQ("", b->m_date);
  // the scratch call leaves with its start moved to where pricing stopped
  EXPECT_STREQ("2024-03-01 08:00:30", call_.bdate);
}

TEST_F(Charge, WorkedExampleOverMidnight)
{
  bill_info *b = price("020", "2024-03-01 23:59:00", "2024-03-02 00:01:30");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(150, b->m_calltime);
  EXPECT_EQ((0.0f + 0.0f) + ((0.0f + 1 * 0.50f) + (0.0f + 2 * 0.20f)), b->m_count);
  EXPECT_STREQ("23:59:00-23:59:59 0.50,00:00:00-00:01:30 0.40,"
               "0.00 in 0 second, handling charge 0.00 total 0.90",
               b->m_period_record);
}

TEST_F(Charge, CallsThatCannotBePricedGiveNoBill)
{
  // longer than a call time holds: a wall clock stepped a century forward
  EXPECT_EQ(nullptr, price("010", "1925-03-01 10:00:00", "2025-03-01 10:00:00"));
  EXPECT_NE(std::string::npos, log().find("  FAILED: normal_counter_price(): quenta/counter.cpp: "));
  // a priced call right after still gets its own bill
  bill_info *b = price("030", "2024-03-01 10:00:00", "2024-03-01 10:01:00");
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("0.00 in 0 second, handling charge 0.10 total 0.35", b->m_period_record);
}

TEST_F(Charge, LongCallIsPricedInFullAndItsTextCutAtAStretch)
{
  // twelve whole days of four stretches each: far more than the detail text holds
  bill_info *b = price("070", "2024-03-01 00:00:00", "2024-03-13 00:00:00");
  ASSERT_NE(nullptr, b);
  EXPECT_NEAR(12 * (36.00 + 71.80 + 107.70 + 143.60) + 0.05, b->m_count, 0.01);
  std::string days;
  for (int i = 0; i < 10; i++)  // ten days and the summary take 1022 of the 1023 characters
    days += "00:00:00-6:00:00 36.00,06:01:00-12:00:00 71.80,12:01:00-18:00:00 107.70,18:01:00-23:59:59 143.60,";
  EXPECT_EQ(days + "0.00 in 0 second, handling charge 0.05 total 4309.25", b->m_period_record);
  EXPECT_NE(std::string::npos, log().find("stretches left out of the detail text"));
}

TEST_F(Charge, AmountsAreWholeCents)
{
  // 0.005 is just below half a cent in single precision: read on its digits, it is a cent
  bill_info *b = price("080", "2024-03-01 10:00:00", "2024-03-01 10:00:30");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(utils::cents_float(1), b->m_count);
  EXPECT_STREQ("0.00 in 60 second, handling charge 0.01 total 0.01", b->m_period_record);

  // the float is the copy of the cents, not a float sum of the stretches
  b = price("070", "2024-03-01 05:59:00", "2024-03-01 18:00:30");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(utils::cents_float(17965), b->m_count);
  EXPECT_EQ(17965, reinterpret_cast<normal_counter *>(c_)->m_cents);
}

TEST_F(Charge, MovedStartStaysOnTheWallClockInSummerTime)
{
  const char *old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  bill_info *b = price("050", "2024-07-01 06:59:00", "2024-07-01 07:01:00");
  std::string record = b ? b->m_period_record : "no bill";
  int calltime = b ? b->m_calltime : -1;
  b = price("010", "2024-07-01 07:58:30", "2024-07-01 08:01:10");
  std::string record2 = b ? b->m_period_record : "no bill";
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  EXPECT_EQ(120, calltime);
  EXPECT_EQ("07:00:00-07:01:00 0.80,0.50 in 60 second, handling charge 0.00 total 1.30", record);
  EXPECT_EQ("07:58:30-08:00:00 0.60,08:00:30-08:01:10 0.60,0.00 in 0 second, handling charge 0.50 total 1.70", record2);
}

TEST_F(Charge, TimeOfDayHelpers)
{
  EXPECT_EQ(90, get_timeval_from_string("08:00:00", "07:58:30"));
  EXPECT_EQ(-90, get_timeval_from_string("07:58:30", "08:00:00"));
  EXPECT_EQ(0, get_timeval_from_string("8:00:00", "08:00:00"));

  char t[16];
  struct {
    const char *from;
    int add;
    const char *to;
  } adds[] = {
      {"23:59:00", 60, "00:00:00"},    {"10:59:59", 1, "11:00:00"},     {"07:58:30", 120, "08:00:30"},
      {"23:58:30", 120, "00:00:30"},   {"8:00:00", 3600, "09:00:00"},   {"12:34:56", 0, "12:34:56"},
      {"00:00:00", 86399, "23:59:59"}, {"01:00:00", 86400, "01:00:00"},
  };
  for (auto &a : adds) {
    snprintf(t, sizeof t, "%s", a.from);
    add_timeval(t, a.add);
    EXPECT_STREQ(a.to, t) << a.from << " + " << a.add;
  }

  RateInfo *r7 = rule("070");  // 0:00:00, 6:00:00, 12:00:00, 18:00:00
  EXPECT_EQ(0, find_period_price_index("00:00:00", r7));
  EXPECT_EQ(0, find_period_price_index("05:59:59", r7));
  EXPECT_EQ(1, find_period_price_index("06:00:00", r7));
  EXPECT_EQ(2, find_period_price_index("17:59:59", r7));
  EXPECT_EQ(3, find_period_price_index("18:00:00", r7));
  EXPECT_EQ(3, find_period_price_index("23:59:59", r7));
  EXPECT_EQ(1, get_next_index(0, r7));
  EXPECT_EQ(0, get_next_index(3, r7));
  RateInfo *r5 = rule("050");  // 7:00:00, 19:00:00
  EXPECT_EQ(1, find_period_price_index("06:59:59", r5));
  EXPECT_EQ(0, find_period_price_index("07:00:00", r5));
  EXPECT_EQ(0, find_period_price_index("00:00:00", rule("030")));
  EXPECT_EQ(0, get_next_index(0, rule("030")));

  call_info c;
  memset(&c, 0, sizeof c);
  strcpy(c.bdate, "2024-03-01 23:00:00");
  strcpy(c.edate, "2024-03-01 22:00:00");
  EXPECT_EQ(0, is_span_day(&c));
  strcpy(c.edate, "2024-03-02 00:00:00");
  EXPECT_GT(is_span_day(&c), 0);
  strcpy(c.edate, "2024-02-29 23:59:59");
  EXPECT_LT(is_span_day(&c), 0);
}

TEST_F(Charge, DetailTextStaysTerminatedAndRuleWithoutUnitFails)
{
  bill_info bill;
  memset(&bill, 0, sizeof bill);
  for (int i = 0; i < 100; i++)
    period_record_append(&bill, "07:58:30-08:00:00 0.60,");
  EXPECT_EQ(sizeof bill.m_period_record - 1, strlen(bill.m_period_record));
  period_record_append(&bill, "more");
  EXPECT_EQ(sizeof bill.m_period_record - 1, strlen(bill.m_period_record));

  // the loader refuses such a rule; the arithmetic refuses it as well
  RateInfo r = *rule("010");
  r.m_min_bill_time = 0;
  call_info c;
  memset(&c, 0, sizeof c);
  strcpy(c.bdate, "2024-03-01 10:00:00");
  strcpy(c.edate, "2024-03-01 10:05:00");
  charge_run run{&bill, 0, {}};
  EXPECT_EQ(-1, caculate_charge_from_rateinfo(&run, &c, &r));
  r.m_ppcount = 0;
  strcpy(c.bdate, "2024-03-01 10:00:00");
  EXPECT_EQ(-1, caculate_charge_from_rateinfo(&run, &c, &r));
}

// Hand-computed calls: every amount and detail text worked out from the rule
// by the pricing steps (units rounded up, clock advanced by whole units).
struct priced_call {
  const char *prefix;
  const char *bdate, *edate;
  int calltime;  // -1: no bill
  long long cents;
  const char *record;
};

const priced_call kCalls[] = {
    // R1: 0.30 night, 0.60 from 08:00, 0.40 from 20:00, handling 0.50, free below 3 s
    {"010", "2024-03-01 07:58:30", "2024-03-01 08:01:10", 160, 170,
     "07:58:30-08:00:00 0.60,08:00:30-08:01:10 0.60,0.00 in 0 second, handling charge 0.50 total 1.70"},
    {"010", "2024-03-01 10:00:00", "2024-03-01 10:00:02", 2, 0, "0.00 in 0 second, handling charge 0.50 total 0.00"},
    {"010", "2024-03-01 10:00:00", "2024-03-01 10:00:03", 3, 110,
     "10:00:00-10:00:03 0.60,0.00 in 0 second, handling charge 0.50 total 1.10"},
    {"010", "2024-03-01 08:00:00", "2024-03-01 08:02:00", 120, 170,
     "08:00:00-08:02:00 1.20,0.00 in 0 second, handling charge 0.50 total 1.70"},
    {"010", "2024-03-01 07:59:00", "2024-03-01 08:01:00", 120, 80,
     "07:59:00-08:00:00 0.30,0.00 in 0 second, handling charge 0.50 total 0.80"},
    {"010", "2024-03-01 19:59:30", "2024-03-01 20:00:30", 60, 110,
     "19:59:30-20:00:00 0.60,0.00 in 0 second, handling charge 0.50 total 1.10"},
    {"010", "2024-03-01 19:58:45", "2024-03-01 20:03:00", 255, 290,
     "19:58:45-20:00:00 1.20,20:00:45-20:03:00 1.20,0.00 in 0 second, handling charge 0.50 total 2.90"},
    {"010", "2024-03-01 00:00:00", "2024-03-01 00:00:59", 59, 80,
     "00:00:00-00:00:59 0.30,0.00 in 0 second, handling charge 0.50 total 0.80"},
    {"010", "2024-03-01 23:59:30", "2024-03-02 00:00:40", 70, 120,
     "23:59:30-23:59:59 0.40,00:00:30-00:00:40 0.30,0.00 in 0 second, handling charge 0.50 total 1.20"},
    // two units carry the clock to 00:00:30, past the end: nothing is left after midnight
    {"010", "2024-03-01 23:58:30", "2024-03-02 00:00:20", 110, 130,
     "23:58:30-23:59:59 0.80,0.00 in 0 second, handling charge 0.50 total 1.30"},
    // an end before the start: a free bill of no duration
    {"010", "2024-03-01 10:00:00", "2024-03-01 09:59:00", 0, 0, "0.00 in 0 second, handling charge 0.50 total 0.00"},
    {"010", "2024-03-02 10:00:00", "2024-03-01 11:00:00", 0, 0, "0.00 in 0 second, handling charge 0.50 total 0.00"},
    {"040", "2024-03-01 10:00:10", "2024-03-01 10:00:00", 0, 0, "1.00 in 180 second, handling charge 0.20 total 0.00"},
    // R2: 0.20 night, 0.50 from 08:00
    {"020", "2024-03-01 23:59:00", "2024-03-02 00:01:30", 150, 90,
     "23:59:00-23:59:59 0.50,00:00:00-00:01:30 0.40,0.00 in 0 second, handling charge 0.00 total 0.90"},
    {"020", "2024-03-01 23:50:00", "2024-03-02 00:05:00", 900, 600,
     "23:50:00-23:59:59 5.00,00:00:00-00:05:00 1.00,0.00 in 0 second, handling charge 0.00 total 6.00"},
    {"020", "2024-03-01 23:59:00", "2024-03-02 00:00:00", 60, 50,
     "23:59:00-23:59:59 0.50,0.00 in 0 second, handling charge 0.00 total 0.50"},
    // nothing before midnight carries the clock: the day after starts at 00:00:00
    {"020", "2024-03-01 23:59:59", "2024-03-02 00:30:00", 1801, 600,
     "00:00:00-00:30:00 6.00,0.00 in 0 second, handling charge 0.00 total 6.00"},
    {"090", "2024-03-01 23:56:59", "2024-03-02 00:30:00", 1981, 700,
     "00:00:00-00:30:00 6.00,1.00 in 180 second, handling charge 0.00 total 7.00"},
    // every midnight splits the call; whole days priced from their carried start
    {"020", "2026-01-05 23:59:00", "2026-01-07 00:01:30", 86550, 57640,
     "23:59:00-23:59:59 0.50,00:00:00-08:00:00 96.00,08:01:00-23:59:59 479.50,00:00:00-00:01:30 0.40,"
     "0.00 in 0 second, handling charge 0.00 total 576.40"},
    {"020", "2024-03-01 07:00:00", "2024-03-01 09:00:00", 7200, 4150,
     "07:00:00-08:00:00 12.00,08:01:00-09:00:00 29.50,0.00 in 0 second, handling charge 0.00 total 41.50"},
    // R3: one period at 0.25, handling 0.10
    {"030", "2024-03-01 10:00:00", "2024-03-01 10:01:01", 61, 60, "0.00 in 0 second, handling charge 0.10 total 0.60"},
    {"030", "2024-03-01 10:00:00", "2024-03-01 10:01:00", 60, 35, "0.00 in 0 second, handling charge 0.10 total 0.35"},
    {"030", "2024-03-01 10:00:00", "2024-03-01 10:00:00", 0, 10, "0.00 in 0 second, handling charge 0.10 total 0.10"},
    {"030", "2024-03-01 23:59:30", "2024-03-02 00:00:31", 61, 60, "0.00 in 0 second, handling charge 0.10 total 0.60"},
    // R4: package 180 s at 1.00, then 0.30 a minute, handling 0.20, free below 5 s
    {"040", "2024-03-01 10:00:00", "2024-03-01 10:00:04", 4, 0, "1.00 in 180 second, handling charge 0.20 total 0.00"},
    {"040", "2024-03-01 10:00:00", "2024-03-01 10:00:05", 5, 120,
     "1.00 in 180 second, handling charge 0.20 total 1.20"},
    {"040", "2024-03-01 10:00:00", "2024-03-01 10:03:00", 180, 120,
     "1.00 in 180 second, handling charge 0.20 total 1.20"},
    {"040", "2024-03-01 10:00:00", "2024-03-01 10:03:01", 181, 150,
     "1.00 in 180 second, handling charge 0.20 total 1.50"},
    {"040", "2024-03-01 10:00:00", "2024-03-01 10:03:20", 200, 150,
     "1.00 in 180 second, handling charge 0.20 total 1.50"},
    {"040", "2024-03-01 10:00:00", "2024-03-01 10:05:00", 300, 180,
     "1.00 in 180 second, handling charge 0.20 total 1.80"},
    // R5: package 60 s at 0.50, 0.40 from 7:00, 0.20 from 19:00 and through the night, 30 s units
    {"050", "2024-03-01 06:59:00", "2024-03-01 07:01:00", 120, 130,
     "07:00:00-07:01:00 0.80,0.50 in 60 second, handling charge 0.00 total 1.30"},
    {"050", "2024-03-01 06:58:00", "2024-03-01 07:00:10", 130, 90,
     "06:59:00-7:00:00 0.40,0.50 in 60 second, handling charge 0.00 total 0.90"},
    {"050", "2024-03-01 18:59:50", "2024-03-01 19:01:00", 70, 70,
     "19:00:50-19:01:00 0.20,0.50 in 60 second, handling charge 0.00 total 0.70"},
    {"050", "2024-03-01 10:00:00", "2024-03-01 10:01:00", 60, 50, "0.50 in 60 second, handling charge 0.00 total 0.50"},
    {"050", "2024-03-01 23:59:30", "2024-03-02 00:01:00", 90, 70,
     "00:00:30-00:01:00 0.20,0.50 in 60 second, handling charge 0.00 total 0.70"},
    // R6: 0.06 then 0.12 from noon, 6 s units
    {"060", "2024-03-01 11:59:57", "2024-03-01 12:00:09", 12, 18,
     "11:59:57-12:00:00 0.06,12:00:03-12:00:09 0.12,0.00 in 0 second, handling charge 0.00 total 0.18"},
    {"060", "2024-03-01 11:59:54", "2024-03-01 12:00:06", 12, 6,
     "11:59:54-12:00:00 0.06,0.00 in 0 second, handling charge 0.00 total 0.06"},
    // R7: four periods from one-digit hours, handling 0.05
    {"070", "2024-03-01 05:59:00", "2024-03-01 18:00:30", 43290, 17965,
     "05:59:00-6:00:00 0.10,06:01:00-12:00:00 71.80,12:01:00-18:00:00 107.70,"
     "0.00 in 0 second, handling charge 0.05 total 179.65"},
    // a whole unit to the boundary moves the clock past the call's last second
    {"070", "2024-03-01 17:59:00", "2024-03-01 18:00:01", 61, 35,
     "17:59:00-18:00:00 0.30,0.00 in 0 second, handling charge 0.05 total 0.35"},
    // R10: 53,998 units at 2.09 in one stretch, then over midnight; the total is the sum of its lines
    {"100", "2024-03-01 00:00:02", "2024-03-02 00:00:10", 86408, 12907045,
     "00:00:02-15:00:00 112855.82,15:00:01-23:59:59 16199.00,00:00:00-00:00:02 1.00,00:00:03-00:00:10 14.63,"
     "0.00 in 0 second, handling charge 0.00 total 129070.45"},
    // R11: charge 0.125, package 0.994 and price 2.095 are read as 0.13, 0.99 and 2.10
    {"110", "2024-03-01 10:00:00", "2024-03-01 10:01:30", 90, 322,
     "0.99 in 30 second, handling charge 0.13 total 3.22"},
};

TEST_F(Charge, HandComputedCalls)
{
  ASSERT_GE(sizeof kCalls / sizeof kCalls[0], 30u);
  for (const priced_call &k : kCalls) {
    SCOPED_TRACE(std::string(k.prefix) + " " + k.bdate + " .. " + k.edate);
    bill_info *b = price(k.prefix, k.bdate, k.edate);
    if (k.calltime < 0) {
      EXPECT_EQ(nullptr, b);
      continue;
    }
    if (!b) {
      ADD_FAILURE() << "no bill";
      continue;
    }
    EXPECT_EQ(k.calltime, b->m_calltime);
    EXPECT_EQ(k.cents, reinterpret_cast<normal_counter *>(c_)->m_cents);
    EXPECT_EQ(utils::cents_float(k.cents), b->m_count);
    EXPECT_STREQ(k.record, b->m_period_record);
  }
}

}  // namespace
