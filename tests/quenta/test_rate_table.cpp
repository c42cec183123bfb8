// The rate table: loading the rate file and the rate XML document, the choice
// of a rule for a call, the price query, and the prefix index against the
// plain walk over the rules.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "quenta/counter.h"
#include "quenta/rate_index.h"
#include "rate_test_util.h"

namespace {

using ratetest::write_file;

class RateTable : public ratetest::WorkDir {
protected:
  void TearDown() override
  {
    if (c_)
      counter_release(c_);
    ratetest::WorkDir::TearDown();
  }
  normal_counter *load(const std::string &text, const char *file = RATE_FILE_NAME)
  {
    write_file(file, text);
    testing::internal::CaptureStdout();
    c_ = strcmp(file, RATE_FILE_NAME) == 0 ? create_normal_counter("counter")
                                           : create_normal_counter_file("counter", file);
    testing::internal::GetCapturedStdout();
    return reinterpret_cast<normal_counter *>(c_);
  }
  std::vector<std::string> prefixes() const
  {
    std::vector<std::string> v;
    auto *nc = reinterpret_cast<normal_counter *>(c_);
    for (auto *it = utils::datalist_first(nc->m_rate_info); it; it = utils::datalist_next(it))
      v.push_back(static_cast<RateInfo *>(utils::datalist_itdata(it))->m_prefix);
    return v;
  }
  bill_info *price(const char *number, const char *bdate = "2024-03-01 10:00:00",
                   const char *edate = "2024-03-01 10:01:00")
  {
    call_info call;
    memset(&call, 0, sizeof call);
    strcpy(call.desnum, number);
    strcpy(call.bdate, bdate);
    strcpy(call.edate, edate);
    strcpy(call.callid, "m1-00000001@2024-03-01 10:00:00");
    return counter_get_result(c_, &call);
  }

  counter *c_ = nullptr;
};

const char kThreeLines[] = "Beijing|010|0.50|00:00:00-0.30,08:00:00-0.60|180:1.00|3|60\n"
                           "China|0|0.00|0:00:00-0.20|0:0.00|0|60\n"
                           ".default||0.00|0:00:00-0.00|0:0.00|0|60\n";

TEST_F(RateTable, RateFileLoadsRulesInOrderAndTheDefaultRule)
{
  normal_counter *nc = load(kThreeLines);
  ASSERT_NE(nullptr, nc);
  EXPECT_STREQ("counter", nc->name);
  EXPECT_EQ((std::vector<std::string>{"010", "0"}), prefixes());
  ASSERT_NE(nullptr, nc->m_default_rate);
  EXPECT_STREQ("000000000", nc->m_default_rate->m_prefix);
  EXPECT_EQ(60, nc->m_default_rate->m_min_bill_time);
  EXPECT_STREQ("", nc->m_default_rate->m_name);
  EXPECT_EQ(0, counter_setcfg(c_, F_ADD, nullptr));
}

TEST_F(RateTable, CrLfAndLfLinesLoadAlike)
{
  std::string crlf;
  for (char ch : std::string(kThreeLines)) {
    if (ch == '\n')
      crlf += '\r';
    crlf += ch;
  }
  normal_counter *nc = load(crlf);
  std::vector<RateInfo> a;
  for (auto *it = utils::datalist_first(nc->m_rate_info); it; it = utils::datalist_next(it))
    a.push_back(*static_cast<RateInfo *>(utils::datalist_itdata(it)));
  RateInfo def_a = *nc->m_default_rate;
  counter_release(c_);

  nc = load(kThreeLines);
  ASSERT_EQ(2, utils::datalist_size(nc->m_rate_info));
  ASSERT_EQ(2u, a.size());
  int i = 0;
  for (auto *it = utils::datalist_first(nc->m_rate_info); it; it = utils::datalist_next(it), i++)
    EXPECT_EQ(0, memcmp(&a[i], utils::datalist_itdata(it), sizeof(RateInfo)));
  EXPECT_EQ(0, memcmp(&def_a, nc->m_default_rate, sizeof(RateInfo)));
}

TEST_F(RateTable, LoadingStopsAtTheFirstLineThatIsNotARule)
{
  const std::string third[] = {
      "Bad|020|0.50|00:00:00-0.30|180:1.00|3|60 \n",  // ends in a space
      "Bad|020|x|00:00:00-0.30|180:1.00|3|60\n",      // does not parse
      "no bar at all\n",
      "\n",  // empty line
      "Long|020|0.50|00:00:00-0.30|180:1.00|3|60" + std::string(500, '0') + "\n",
  };
  for (const std::string &bad : third) {
    load(std::string("A|010|0.50|00:00:00-0.30|0:0|0|60\nB|0|0|00:00:00-0.20|0:0|0|60\n") + bad +
         "C|030|0|00:00:00-0.20|0:0|0|60\n.default||0.00|0:00:00-0.00|0:0.00|0|60\n");
    EXPECT_EQ((std::vector<std::string>{"010", "0"}), prefixes()) << bad;
    EXPECT_EQ(nullptr, reinterpret_cast<normal_counter *>(c_)->m_default_rate);
    counter_release(c_);
    c_ = nullptr;
  }
  EXPECT_NE(std::string::npos, log().find("  FAILED: counter_load_rate_file(): quenta/counter_file.cpp: "));
}

TEST_F(RateTable, ALineOfExactlyTheBufferLengthStillLoads)
{
  // 510 characters without the line end, the longest a line may be
  std::string rule = "|0|0:00:00-1|0:0|0|60";
  std::string name(510 - 3 - rule.size(), 'n');
  load(name + "|" + "77" + rule + "\n");
  EXPECT_EQ((std::vector<std::string>{"77"}), prefixes());
}

TEST_F(RateTable, RuleWithoutChargingUnitIsRefusedAlone)
{
  load("A|010|0.50|00:00:00-0.30|0:0|0|0\nB|0|0|00:00:00-0.20|0:0|0|60\n.default||0|0:00:00-0|0:0|0|00\n");
  EXPECT_EQ((std::vector<std::string>{"0"}), prefixes());
  EXPECT_EQ(nullptr, reinterpret_cast<normal_counter *>(c_)->m_default_rate);
  EXPECT_NE(std::string::npos, log().find("rule 010 refused: no charging unit"));
}

TEST_F(RateTable, RulesThatCannotPriceACallAreRefusedAlone)
{
  load("A|010|0|00:00:00-0.30,999912:10:00-0.10|0:0|0|60\n"  // a start hours past any day
       "B|011|0|00:00:00-0.30,8:60:00-0.10|0:0|0|60\n"       // minute 60
       "C|012|0|0::0-0.30|0:0|0|60\n"                        // empty fields
       "D|013|0|00:00:00-1" +
       std::string(40, '0') +
       "|0:0|0|60\n"  // beyond a float
       "E|014|0|00:00:00-0.10|60:1" +
       std::string(40, '0') +
       "|0|60\n"
       "F|015|0|0:00:00-0.10,23:59:59-0.20|0:0|0|60\n");
  EXPECT_EQ((std::vector<std::string>{"015"}), prefixes());
  std::string l = log();
  EXPECT_NE(std::string::npos, l.find("rule 010 refused: a period start that is no time of day"));
  EXPECT_NE(std::string::npos, l.find("rule 013 refused: an amount beyond the range of money"));
  EXPECT_NE(std::string::npos, l.find("rule 014 refused: an amount beyond the range of money"));
}

TEST_F(RateTable, LaterDefaultLineReplacesEarlierAndKeepsItsPrefixDigits)
{
  normal_counter *nc = load(".default||0.00|0:00:00-0.10|0:0.00|0|60\n"
                            ".default|123|0.00|0:00:00-0.20|0:0.00|0|30\n");
  EXPECT_TRUE(prefixes().empty());
  ASSERT_NE(nullptr, nc->m_default_rate);
  EXPECT_STREQ("000000000123", nc->m_default_rate->m_prefix);
  EXPECT_EQ(0.2f, nc->m_default_rate->m_period_price[0].m_price);
}

TEST_F(RateTable, MissingRateFileGivesAnEmptyTable)
{
  testing::internal::CaptureStdout();
  c_ = create_normal_counter("counter");
  testing::internal::GetCapturedStdout();
  ASSERT_NE(nullptr, c_);
  EXPECT_TRUE(prefixes().empty());
  EXPECT_EQ(nullptr, reinterpret_cast<normal_counter *>(c_)->m_default_rate);
  EXPECT_EQ(nullptr, price("0105551234"));
  EXPECT_EQ(UNMATCHED_RATE, counter_getrate(c_, "0105551234", "10:00:00"));
  EXPECT_NE(std::string::npos, log().find("  FAILED: counter_load_rate_file(): "));
}

// --- the rate XML document ---

const char kXml[] =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
    "<RateInfoDataSet>\n"
    "  <RateInfo><pattern>010</pattern><area>\xB1\xB1\xBE\xA9</area>\n"
    "    <service_charge>0.50</service_charge>\n"
    "    <period1>00:00:00</period1><rate1>0.30</rate1>\n"
    "    <period2>08:00:00</period2><rate2>0.60</rate2>\n"
    "    <three_one>180:1.00</three_one><freelimit>3</freelimit><unit> 60 </unit></RateInfo>\n"
    "  <RateInfo><pattern>020</pattern><period1>0:00:00</period1><rate1>0.40</rate1></RateInfo>\n"
    "  <rateinfo><PATTERN>021</PATTERN><period2>8:00:00</period2><rate2>0.70</rate2><unit>30</unit>"
    "</rateinfo>\n"
    "  <RateInfo><pattern>022</pattern><period1><x/></period1><rate1>1</rate1><unit>6</unit></RateInfo>\n"
    "  <RateInfo><pattern>023</pattern><period1>0:00:00</period1><unit>6</unit></RateInfo>\n"
    "  <RateInfo><pattern>.DEFAULT</pattern><period1>0:00:00</period1><rate1>0.90</rate1>"
    "<unit>60</unit></RateInfo>\n"
    "  <Other><pattern>024</pattern><period1>0:00:00</period1><rate1>1</rate1><unit>6</unit></Other>\n"
    "</RateInfoDataSet>\n";

TEST_F(RateTable, XmlDocumentBuildsRateLinesFromItsElements)
{
  normal_counter *nc = load(kXml, "rates.xml");
  ASSERT_NE(nullptr, nc);
  // 020 has no unit, 022 a period without text, 023 no period left once its rate is missing
  EXPECT_EQ((std::vector<std::string>{"010", "021"}), prefixes());
  std::string l = log();
  EXPECT_NE(std::string::npos, l.find("rateinfo str: \"010|0.50|00:00:00-0.30,08:00:00-0.60|180:1.00|3|60\""));
  EXPECT_NE(std::string::npos, l.find("rateinfo str: \"021|0.00|8:00:00-0.70|00:0.00|0|30\""));
  EXPECT_NE(std::string::npos, l.find("rateinfo str: \"023|0.00||00:0.00|0|6\""));
  EXPECT_EQ(std::string::npos, l.find("rateinfo str: \"020"));
  EXPECT_EQ(std::string::npos, l.find("rateinfo str: \"022"));
  EXPECT_NE(std::string::npos, l.find("default rule: 012345678911|0.00|0:00:00-0.90|00:0.00|0|60"));
  EXPECT_NE(std::string::npos, l.find("buffer length: " + std::to_string(strlen(kXml))));
  EXPECT_NE(std::string::npos, l.find("xmlStart: <?xml"));
  EXPECT_NE(std::string::npos, l.find("<area>XXXX</area>"));
  ASSERT_NE(nullptr, nc->m_default_rate);
  EXPECT_STREQ("012345678911", nc->m_default_rate->m_prefix);
  RateInfo *r021 = static_cast<RateInfo *>(utils::datalist_itdata(utils::datalist_last(nc->m_rate_info)));
  EXPECT_EQ(0, r021->m_ppcount);
  EXPECT_EQ(0.7f, r021->m_period_price[0].m_price);
}

TEST_F(RateTable, XmlDocumentWithoutDeclarationAndLongerThanOneRead)
{
  std::string doc = "<RateInfoDataSet>";
  for (int i = 0; i < 100; i++)
    doc += "<RateInfo><pattern>9" + std::to_string(100 + i) +
           "</pattern><period1>00:00:00</period1><rate1>0.10</rate1><unit>60</unit></RateInfo>\n";
  doc += "</RateInfoDataSet>";
  ASSERT_GT(doc.size(), 4096u);
  load(doc, "deck.xml");
  std::vector<std::string> p = prefixes();
  ASSERT_EQ(100u, p.size());
  EXPECT_EQ("9100", p.front());
  EXPECT_EQ("9199", p.back());
}

TEST_F(RateTable, BrokenXmlDocumentLeavesTheTableEmpty)
{
  load("<RateInfoDataSet><RateInfo><pattern>010</pattern></RateInfoDataSet>", "bad.xml");
  EXPECT_TRUE(prefixes().empty());
  EXPECT_NE(std::string::npos, log().find("  FAILED: counter_load_rate_xml(): "));
}

TEST_F(RateTable, BrokenXmlDocumentWithSeveralTopLevelElementsIsReleasedWhole)
{
  // found by fuzzing: Mini-XML left the top-level nodes after the first
  // unowned when the document failed to parse (the sanitizer build sees the leak)
  load("\xEF\xBB\xBF<Fxml version=\"1.0\" encodi<RateInfng=\"g.b2312\"?:00</period1><rate1>0.10</rate1>"
       "<unit>60</unit></RateInfo>\n<RateInfo><pattern>9104</pattern><unit>60</unit></RateInfo>\n"
       "<RateInfo><pattern>9105</pattern></RateInfo>\n",
       "leak.xml");
  EXPECT_TRUE(prefixes().empty());
  EXPECT_NE(std::string::npos, log().find("  FAILED: counter_load_rate_xml(): "));
}

// --- choosing the rule and the price query ---

TEST_F(RateTable, LongestPrefixWinsAndTheFirstAmongEquals)
{
  normal_counter *nc = load("A|0|0|00:00:00-0.10|0:0|0|60\n"
                            "B|010|0|00:00:00-0.20|0:0|0|60\n"
                            "C|010|0|00:00:00-0.30|0:0|0|60\n"
                            "D|0105|0|00:00:00-0.40|0:0|0|60\n"
                            ".default||0.00|0:00:00-0.90|0:0.00|0|60\n");
  EXPECT_EQ(0.2f, normal_counter_choose_rate(nc, "0102345")->m_period_price[0].m_price);
  EXPECT_EQ(0.4f, normal_counter_choose_rate(nc, "0105")->m_period_price[0].m_price);
  EXPECT_EQ(0.1f, normal_counter_choose_rate(nc, "02")->m_period_price[0].m_price);
  EXPECT_EQ(0.1f, normal_counter_choose_rate(nc, "01")->m_period_price[0].m_price);
  EXPECT_EQ(nc->m_default_rate, normal_counter_choose_rate(nc, "8613900000000"));
  EXPECT_EQ(nc->m_default_rate, normal_counter_choose_rate(nc, ""));

  bill_info *b = price("8613900000000");  // one minute on the default rule
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(0.9f, b->m_count);
}

// The report groups calls by the name of the rule that prices them: the same
// choice, by the index or by the walk, without a log line per call.
TEST_F(RateTable, RuleNamesFollowTheChoiceQuietly)
{
  const std::string deck = "A|0|0|00:00:00-0.10|0:0|0|60\n"
                           "B|010|0|00:00:00-0.20|0:0|0|60\n"
                           "C|010|0|00:00:00-0.30|0:0|0|60\n"
                           "\xb1\xb1\xbe\xa9|0105|0|00:00:00-0.40|0:0|0|60\n";  // 北京
  const struct {
    const char *number, *with_default, *without;
  } cases[] = {{"0102345", "B", "B"},
               {"0105", "\xb1\xb1\xbe\xa9", "\xb1\xb1\xbe\xa9"},
               {"02", "A", "A"},
               {"8613900000000", ".default", ""},
               {"", ".default", ""}};
  for (bool with_default : {true, false}) {
    for (bool walk : {false, true}) {
      if (c_)
        counter_release(c_);
      normal_counter *nc = load(deck + (with_default ? ".default||0.00|0:00:00-0.90|0:0.00|0|60\n" : ""));
      if (walk) {
        rate_index_release(nc->m_rate_index);
        nc->m_rate_index = nullptr;
      }
      truncate_log();
      for (const auto &c : cases)
        EXPECT_STREQ(with_default ? c.with_default : c.without, normal_counter_rule_name(nc, c.number))
            << c.number << (walk ? " walked" : " indexed");
      EXPECT_EQ("", log());
    }
  }
}

TEST_F(RateTable, NoMatchAndNoDefaultRuleGivesNoBill)
{
  load("A|010|0|00:00:00-0.20|0:0|0|60\n");
  EXPECT_EQ(nullptr, price("0201234"));
  ASSERT_NE(nullptr, price("0101234"));
}

TEST_F(RateTable, LookupLogsOnlyTheRulesItExamines)
{
  normal_counter *nc = load("A|0|0|00:00:00-0.10|0:0|0|60\n"
                            "B|8610|0|00:00:00-0.20|0:0|0|60\n"
                            "C|010|0|00:00:00-0.30|0:0|0|60\n"
                            "D|020|0|00:00:00-0.40|0:0|0|60\n");
  truncate_log();
  RateInfo *r = normal_counter_choose_rate(nc, "0105551234");
  char matched[128];
  snprintf(matched, sizeof matched, "matched 0105551234/010 current=%p\n", (void *)r);
  std::string l = log();
  EXPECT_NE(std::string::npos, l.find("matching 0105551234 with 0\n"));
  EXPECT_NE(std::string::npos, l.find("matching 0105551234 with 010\n"));
  EXPECT_NE(std::string::npos, l.find(matched));
  EXPECT_LT(l.find("with 0\n"), l.find("with 010\n"));
  EXPECT_EQ(std::string::npos, l.find("with 8610"));
  EXPECT_EQ(std::string::npos, l.find("with 020"));
}

TEST_F(RateTable, GetrateTakesTheFirstMatchAndIgnoresTheDefault)
{
  load("A|0|0|00:00:00-0.20|0:0|0|60\n"
       "B|010|0|00:00:00-0.30,8:00:00-0.60,20:00:00-0.40|0:0|0|60\n"
       "C|020|0|06:00:00-0.50,18:00:00-0.70|0:0|0|60\n"
       ".default||0.00|0:00:00-0.90|0:0.00|0|60\n");
  EXPECT_EQ(0.2f, counter_getrate(c_, "0105551234", "09:00:00"));
  EXPECT_EQ(UNMATCHED_RATE, counter_getrate(c_, "8613900000000", "09:00:00"));
  EXPECT_EQ(UNMATCHED_RATE, counter_getrate(c_, nullptr, "09:00:00"));
  counter_release(c_);

  load("B|010|0|00:00:00-0.30,8:00:00-0.60,20:00:00-0.40|0:0|0|60\n"
       "C|020|0|06:00:00-0.50,18:00:00-0.70|0:0|0|60\n");
  EXPECT_EQ(0.3f, counter_getrate(c_, "0105551234", "07:59:59"));
  EXPECT_EQ(0.6f, counter_getrate(c_, "0105551234", "08:00:00"));
  EXPECT_EQ(0.6f, counter_getrate(c_, "0105551234", "19:59:59"));
  EXPECT_EQ(0.4f, counter_getrate(c_, "0105551234", "20:00:00"));
  EXPECT_EQ(0.4f, counter_getrate(c_, "0105551234", "23:59:59"));
  // before the first period's start the last period runs on from the night before
  EXPECT_EQ(0.7f, counter_getrate(c_, "0201234", "05:59:59"));
  EXPECT_EQ(0.5f, counter_getrate(c_, "0201234", "06:00:00"));
}

// --- the index against the plain walk ---

std::string random_digits(std::mt19937 &rng, int min_len, int max_len, const char *alphabet)
{
  std::uniform_int_distribution<int> len(min_len, max_len), pick(0, (int)strlen(alphabet) - 1);
  std::string s;
  for (int n = len(rng); n > 0; n--)
    s += alphabet[pick(rng)];
  return s;
}

TEST(RateIndex, AgreesWithTheWalkOnRandomTables)
{
  std::mt19937 rng(20240301);
  utils::datalist *rules = utils::create_datalist();
  ASSERT_NE(nullptr, rules);
  std::vector<RateInfo> store(5000);
  for (RateInfo &r : store) {
    memset(&r, 0, sizeof r);
    // few digits, so prefixes nest and repeat as in a real deck
    std::string p = random_digits(rng, 1, 7, "0126");
    strcpy(r.m_prefix, p.c_str());
    r.m_prefixlen = (int)p.size();
    ASSERT_EQ(0, utils::datalist_append(rules, &r));
  }
  rate_index *idx = create_rate_index(rules);
  ASSERT_NE(nullptr, idx);

  int saved = utils::loglevel;
  utils::loglevel = 1;  // the walk logs every rule it compares
  int found_longest = 0, found_first = 0;
  for (int i = 0; i < 10000; i++) {
    std::string number = random_digits(rng, 0, 12, i % 10 == 0 ? "0126#*" : "01269");
    RateInfo *walk = rate_walk_longest(rules, number.c_str());
    ASSERT_EQ(walk, rate_index_longest(idx, number.c_str())) << number;
    RateInfo *first = rate_walk_first(rules, number.c_str());
    ASSERT_EQ(first, rate_index_first(idx, number.c_str())) << number;
    found_longest += walk != nullptr;
    found_first += first != walk;
  }
  utils::loglevel = saved;
  // the table must exercise both answers, not only misses
  EXPECT_GT(found_longest, 5000);
  EXPECT_GT(found_first, 1000);

  rate_index_release(idx);
  utils::datalist_free(rules);
}

TEST(RateIndex, PrefixWithANonDigitGivesNoIndex)
{
  utils::datalist *rules = utils::create_datalist();
  RateInfo r;
  memset(&r, 0, sizeof r);
  strcpy(r.m_prefix, "01#");
  ASSERT_EQ(0, utils::datalist_append(rules, &r));
  EXPECT_EQ(nullptr, create_rate_index(rules));
  EXPECT_EQ(&r, rate_walk_longest(rules, "01#5"));
  utils::datalist_free(rules);
}

}  // namespace
