// The rate-info line parser: what a complete line fills in, which lines are
// refused, the messages on standard output and standard error, feeding a line
// in pieces, and the bounds of every stored text and number.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "quenta/parser.h"

namespace {

struct parsed {
  int rc;
  RateInfo info;
  std::string out, err;
};

parsed parse(const std::string &line)
{
  parsed p;
  memset(&p.info, 0, sizeof p.info);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  p.rc = parser_getRateInfo(line.c_str(), &p.info);
  p.err = testing::internal::GetCapturedStderr();
  p.out = testing::internal::GetCapturedStdout();
  return p;
}

size_t count_of(const std::string &text, const std::string &what)
{
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
    n++;
  return n;
}

TEST(RateInfoParser, CompleteLineFillsEveryField)
{
  parsed p = parse("010|0.50|00:00:00-0.30,08:00:00-0.60|180:1.00|3|60");
  ASSERT_EQ(0, p.rc);
  const RateInfo &r = p.info;
  EXPECT_STREQ("010", r.m_prefix);
  EXPECT_EQ(3, r.m_prefixlen);
  EXPECT_STREQ("0.50", r.m_hcbuf);
  EXPECT_EQ(0.5f, r.m_handling_charge);
  EXPECT_EQ(1, r.m_ppcount);
  EXPECT_STREQ("00:00:00", r.m_period_price[0].m_time);
  EXPECT_EQ(8, r.m_period_price[0].m_timelen);
  EXPECT_STREQ("0.30", r.m_period_price[0].m_buf);
  EXPECT_EQ(0.3f, r.m_period_price[0].m_price);
  EXPECT_STREQ("08:00:00", r.m_period_price[1].m_time);
  EXPECT_EQ(0.6f, r.m_period_price[1].m_price);
  EXPECT_STREQ("", r.m_period_price[2].m_time);
  EXPECT_EQ(180, r.m_tao_price.m_category);
  EXPECT_STREQ("1.00", r.m_tao_price.m_buf);
  EXPECT_EQ(1.0f, r.m_tao_price.m_price);
  EXPECT_EQ(3, r.m_invalid_timeval);
  EXPECT_EQ(60, r.m_min_bill_time);
  EXPECT_EQ(22, r.curs);
  EXPECT_EQ("", p.err);
}

TEST(RateInfoParser, StartMessageAndOneDumpPerUnitDigit)
{
  parsed p = parse("010|0.50|00:00:00-0.30|180:1.00|3|600");
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ(0u, p.out.find("fsm initiate...\n"));
  EXPECT_EQ(1u, count_of(p.out, "fsm initiate...\n"));
  EXPECT_EQ(3u, count_of(p.out, "fsm struct {\n"));
  EXPECT_EQ(3u, count_of(p.out, "\n}\n"));
  EXPECT_EQ(std::string::npos, p.out.find("test parsing error"));
}

TEST(RateInfoParser, AcceptedForms)
{
  // a charge without decimals, a one-digit hour, a price without decimals
  parsed p = parse("9|1|8:00:00-2,20:00:00-0.125|0:0|0|1");
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ(1.0f, p.info.m_handling_charge);
  EXPECT_STREQ("8:00:00", p.info.m_period_price[0].m_time);
  EXPECT_EQ(2.0f, p.info.m_period_price[0].m_price);
  // a price is rounded to the cent on its digits; the text stays as written
  EXPECT_EQ(0.13f, p.info.m_period_price[1].m_price);
  EXPECT_STREQ("0.125", p.info.m_period_price[1].m_buf);
  EXPECT_EQ(0, p.info.m_tao_price.m_category);

  // the default line as the rate loader hands it over
  p = parse("000000000|0.00|0:00:00-0.00|0:0.00|0|60");
  ASSERT_EQ(0, p.rc);
  EXPECT_STREQ("000000000", p.info.m_prefix);
  EXPECT_EQ(0, p.info.m_ppcount);
}

TEST(RateInfoParser, RefusedLinesPrintTheParsingError)
{
  const char *bad[] = {
      "010|1.|00:00:00-0.30|180:1.00|3|60",      // charge ends in its point
      "010|.5|00:00:00-0.30|180:1.00|3|60",      // charge begins with its point
      "010|0.50|00:00:00-0.30|180:1.00|3|60 ",   // trailing space
      "010|0.50|00:00:00-0.30|180:1.00|3|60\r",  // trailing carriage return
      "010|0.50|00:00:00-0.30|180:1.00|3|60\n",  // trailing line feed
      "010|0.50|00:00:00-0.30|1801.00|3|60",     // package without ":"
      "|0.50|00:00:00-0.30|180:1.00|3|60",       // empty prefix
      "010|0.50||180:1.00|3|60",                 // no period
      "010|0.50|00:00:00-|180:1.00|3|60",        // period without price
      "010|0.50|00:00:00-0.30,|180:1.00|3|60",   // trailing comma
      "010|0.50|00:00:00-0.30|:1.00|3|60",       // package without seconds
      "010|0.50|00:00:00-0.30|180:1.00||60",     // empty free limit
      "010|0.50|00:00:00-0.30|180:1.00|3|",      // stops before the unit
      "010|0.50|00:00:00-0.30|180:1.00|3",       // stops inside the free limit
      "01a|0.50|00:00:00-0.30|180:1.00|3|60",    // letter in the prefix
      "",
  };
  for (const char *line : bad) {
    parsed p = parse(line);
    EXPECT_EQ(-1, p.rc) << line;
    EXPECT_NE(std::string::npos, p.out.find("test parsing error\n")) << line;
  }
  RateInfo info;
  memset(&info, 0, sizeof info);
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, parser_getRateInfo(nullptr, &info));
  EXPECT_EQ("test parsing error\n", testing::internal::GetCapturedStdout());
}

TEST(RateInfoParser, AtMostFourPeriods)
{
  parsed four = parse("1|0|0:00:00-1,6:00:00-2,12:00:00-3,18:00:00-4|0:0|0|60");
  ASSERT_EQ(0, four.rc);
  EXPECT_EQ(3, four.info.m_ppcount);
  EXPECT_EQ(4.0f, four.info.m_period_price[3].m_price);

  parsed five = parse("1|0|0:00:00-1,6:00:00-2,12:00:00-3,18:00:00-4,20:00:00-5|0:0|0|60");
  EXPECT_EQ(-1, five.rc);
  EXPECT_EQ(3, five.info.m_ppcount);
  EXPECT_EQ(1, five.info.curs);
}

TEST(RateInfoParser, OverlongTextsAreCutAndStayTerminated)
{
  std::string prefix(200, '7');
  parsed p = parse(prefix + "|0.50|00:00:00-0.30|180:1.00|3|60");
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ(127, p.info.m_prefixlen);
  EXPECT_EQ(std::string(127, '7'), std::string(p.info.m_prefix));
  EXPECT_EQ(73u, count_of(p.err, "prefix buffer is not enough\n"));

  std::string charge = "1." + std::string(70, '5');
  p = parse("1|" + charge + "|00:00:00-0.30|0:0|0|60");
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ(63u, strlen(p.info.m_hcbuf));
  EXPECT_EQ(9u, count_of(p.err, "handling charge buffer is not enough\n"));

  p = parse("1|0|00:00:00:00:00:00:00-0.30|0:0|0|60");
  ASSERT_EQ(0, p.rc);
  EXPECT_STREQ("00:00:00:00:00:", p.info.m_period_price[0].m_time);
  EXPECT_EQ(5u, count_of(p.err, "startTime buffer is not enough\n"));

  p = parse("1|0|00:00:00-0." + std::string(70, '3') + "|0:0|0|60");
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ(63u, strlen(p.info.m_period_price[0].m_buf));
  EXPECT_EQ(9u, count_of(p.err, "price buffer is not enough\n"));

  // the package price's message goes to standard output
  p = parse("1|0|00:00:00-1|10:0." + std::string(70, '3') + "|0|60");
  ASSERT_EQ(0, p.rc);
  EXPECT_EQ(63u, strlen(p.info.m_tao_price.m_buf));
  EXPECT_EQ(9u, count_of(p.out, "tao price buffer is not enough\n"));
  EXPECT_EQ("", p.err);
}

TEST(RateInfoParser, IntegerFieldsThatDoNotFitAreRefused)
{
  EXPECT_EQ(0, parse("1|0|00:00:00-1|2147483647:0|0|60").rc);
  EXPECT_EQ(-1, parse("1|0|00:00:00-1|2147483648:0|0|60").rc);
  EXPECT_EQ(-1, parse("1|0|00:00:00-1|0:0|99999999999|60").rc);
  EXPECT_EQ(-1, parse("1|0|00:00:00-1|0:0|0|" + std::string(40, '9')).rc);
}

TEST(RateInfoParser, PiecesContinueFromTheKeptState)
{
  const std::string line = "010|0.50|00:00:00-0.30,08:00:00-0.60|180:1.00|3|60";
  RateInfo whole, pieces;
  memset(&whole, 0, sizeof whole);
  memset(&pieces, 0, sizeof pieces);
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, parser_getRateInfo(line.c_str(), &whole));

  EXPECT_EQ(0, RateInfo_init(&pieces));
  EXPECT_EQ(0, RateInfo_finish(&pieces));
  EXPECT_EQ(0, RateInfo_execute(&pieces, line.data(), 10));
  EXPECT_EQ(0, RateInfo_execute(&pieces, line.data() + 10, 0));
  EXPECT_EQ(0, RateInfo_finish(&pieces));
  EXPECT_EQ(1, RateInfo_execute(&pieces, line.data() + 10, line.size() - 10));
  EXPECT_EQ(1, RateInfo_finish(&pieces));
  EXPECT_EQ(0, memcmp(&whole, &pieces, sizeof whole));

  // once in error, further input is skipped
  EXPECT_EQ(-1, RateInfo_execute(&pieces, " 7", 2));
  EXPECT_EQ(-1, RateInfo_execute(&pieces, "7", 1));
  EXPECT_EQ(-1, RateInfo_finish(&pieces));
  EXPECT_EQ(60, pieces.m_min_bill_time);
  testing::internal::GetCapturedStdout();
}

TEST(RateInfoParser, StartClearsTheRecordButNotFreeLimitAndUnit)
{
  RateInfo info;
  memset(&info, 0x41, sizeof info);
  info.m_invalid_timeval = 5;
  info.m_min_bill_time = 0;
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, parser_getRateInfo("12|0|00:00:00-1|0:0|0|6", &info));
  testing::internal::GetCapturedStdout();
  EXPECT_STREQ("12", info.m_prefix);
  EXPECT_STREQ("", info.m_name);
  EXPECT_STREQ("", info.m_period_price[1].m_time);
  EXPECT_EQ(50, info.m_invalid_timeval);  // accumulated onto what was there
  EXPECT_EQ(6, info.m_min_bill_time);
}

}  // namespace
