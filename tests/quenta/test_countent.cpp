// The counting entity on a real database file: a call id yields the priced bill
// of its CDR (a free one when its times are unusable), unknown and unpriceable
// calls yield none, call ids of any length
// and with quotes are looked up safely, and bills are stored with operator,
// time and the amount in two decimals, with a point under any locale. A call
// keeps the price it was stored with across a change of rates and a restart.
#include <gtest/gtest.h>
#include <locale.h>
#include <sqlite3.h>
#include <string.h>
#include <time.h>

#include <sstream>
#include <string>
#include <vector>

#include "quenta/countent.h"
#include "quenta/init.h"
#include "quenta/msghdlr.h"
#include "quenta/sqlite_dbent.h"
#include "rate_test_util.h"
#include "utils/decimal.h"

namespace {

struct bill_row {
  std::string callid, calltime, period, count, admin, date, count_type;
};

class Countent : public ratetest::WorkDir {
protected:
  void SetUp() override
  {
    ratetest::WorkDir::SetUp();
    db_ = dir_ + "/quentadb";
    ratetest::write_file(RATE_FILE_NAME, "Beijing|010|0.50|00:00:00-0.30,08:00:00-0.60,20:00:00-0.40|0:0.00|3|60\n"
                                         "Local|8|0.00|00:00:00-0.10|0:0.00|0|60\n");
    testing::internal::CaptureStdout();
    ce_ = create_countent(db_.c_str(), "cdrtbl", "billtbl");
    testing::internal::GetCapturedStdout();
    ASSERT_NE(nullptr, ce_);
    cdr_ = create_sqlite_dbent(db_.c_str());
    ASSERT_NE(nullptr, cdr_);
    ASSERT_EQ(0, dbent_create(cdr_, "cdrtbl", gst_cdr_infos));
  }
  void TearDown() override
  {
    if (cdr_)
      dbent_release(cdr_);
    countent_release(ce_);
    ratetest::WorkDir::TearDown();
  }
  /* The station stops and starts again with these rates. */
  void restart(const char *rates)
  {
    countent_release(ce_);
    ratetest::write_file(RATE_FILE_NAME, rates);
    testing::internal::CaptureStdout();
    ce_ = create_countent(db_.c_str(), "cdrtbl", "billtbl");
    testing::internal::GetCapturedStdout();
    ASSERT_NE(nullptr, ce_);
  }
  void add_cdr(const std::string &callid, const char *desnum, const char *bdate, const char *edate)
  {
    const char *values[] = {callid.c_str(), "gw1", "1", "8001", desnum, bdate, edate, "0", nullptr};
    ASSERT_EQ(0, dbent_insert(cdr_, "cdrtbl", values));
  }
  std::vector<bill_row> bills()
  {
    std::vector<bill_row> rows;
    sqlite3 *db = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &db));
    auto cb = [](void *p, int argc, char **argv, char **) {
      auto *out = static_cast<std::vector<bill_row> *>(p);
      std::string v[7];
      for (int i = 0; i < argc && i < 7; i++)
        v[i] = argv[i] ? argv[i] : "";
      out->push_back({v[0], v[1], v[2], v[3], v[4], v[5], v[6]});
      return 0;
    };
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db,
                                      "select callid, calltime, period, count, admin, date, typeof(count) "
                                      "from billtbl",
                                      cb, &rows, nullptr));
    sqlite3_close(db);
    return rows;
  }

  std::string db_;
  countent *ce_ = nullptr;
  dbent *cdr_ = nullptr;
};

TEST_F(Countent, CallIdYieldsThePricedBillOfItsRecord)
{
  add_cdr("gw1-00000001@2024-03-01 07:58:30", "0105551234", "2024-03-01 07:58:30", "2024-03-01 08:01:10");
  add_cdr("gw1-00000001@2024-03-01 09:00:00", "8123", "2024-03-01 09:00:00", "2024-03-01 09:02:00");

  bill_info *b = countent_getbill(ce_, "gw1-00000001@2024-03-01 07:58:30");
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("gw1-00000001@2024-03-01 07:58:30", b->m_callid);
  EXPECT_EQ(160, b->m_calltime);
  EXPECT_FLOAT_EQ(1.70f, b->m_count);
  EXPECT_STREQ("07:58:30-08:00:00 0.60,08:00:30-08:01:10 0.60,"
               "0.00 in 0 second, handling charge 0.50 total 1.70",
               b->m_period_record);
  EXPECT_EQ(b, ce_->m_bill_info);

  b = countent_getbill(ce_, "gw1-00000001@2024-03-01 09:00:00");
  ASSERT_NE(nullptr, b);
  EXPECT_FLOAT_EQ(0.20f, b->m_count);

  // an unknown call right after a priced one gives nothing
  EXPECT_EQ(nullptr, countent_getbill(ce_, "gw1-00000009@2024-03-01 09:00:00"));
  EXPECT_EQ(nullptr, ce_->m_bill_info);
  EXPECT_EQ(nullptr, countent_getbill(ce_, nullptr));

  EXPECT_EQ(ce_->m_counter, countent_getcounter(ce_));
  EXPECT_FLOAT_EQ(0.30f, counter_getrate(countent_getcounter(ce_), "010", "07:00:00"));
  std::string l = log();
  EXPECT_NE(std::string::npos, l.find("getbill: gw1-00000001@2024-03-01 07:58:30"));
  EXPECT_NE(std::string::npos, l.find("colname: desnum colvalue: 0105551234"));
}

TEST_F(Countent, UnpriceableCallGivesNoBill)
{
  // ends before it starts on the same day, and an empty start (older releases): free
  add_cdr("gw1-1", "0105551234", "2024-03-01 10:00:00", "2024-03-01 09:59:00");
  add_cdr("gw1-4", "0105551234", "", "2024-03-01 10:00:00");
  // no prefix matches and there is no default rule
  add_cdr("gw1-2", "0205551234", "2024-03-01 10:00:00", "2024-03-01 10:01:00");
  EXPECT_EQ(nullptr, countent_getbill(ce_, "gw1-2"));

  // a record whose end time is null in the table reads as empty: free as well
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db,
                                    "insert into cdrtbl values('gw1-3', 'gw1', 1, null, '0105551234', "
                                    "'2024-03-01 10:00:00', null, 0)",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(db);
  for (const char *id : {"gw1-1", "gw1-3", "gw1-4"}) {
    bill_info *b = countent_getbill(ce_, id);
    ASSERT_NE(nullptr, b) << id;
    EXPECT_EQ(0, b->m_calltime);
    EXPECT_STREQ("0.00 in 0 second, handling charge 0.50 total 0.00", b->m_period_record);
  }
  EXPECT_NE(std::string::npos, log().find("  FAILED: countent_getbill(): quenta/countent.cpp: "));
  EXPECT_TRUE(bills().empty());
}

TEST_F(Countent, CallIdsOfAnyLengthAndWithQuotesAreLookedUpSafely)
{
  std::string quoted = "gw'1-00000001@2024-03-01 07:58:30";
  std::string longid = "gw-" + std::string(200, '7') + "@2024-03-01 07:58:30";
  add_cdr(quoted, "8123", "2024-03-01 10:00:00", "2024-03-01 10:01:00");
  add_cdr(longid, "8123", "2024-03-01 10:00:00", "2024-03-01 10:03:00");

  bill_info *b = countent_getbill(ce_, quoted.c_str());
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(quoted, b->m_callid);
  b = countent_getbill(ce_, longid.c_str());
  ASSERT_NE(nullptr, b);
  EXPECT_FLOAT_EQ(0.30f, b->m_count);
  // only the first 127 characters fit the bill's call id
  EXPECT_EQ(longid.substr(0, 127), b->m_callid);

  // a quote cannot widen the condition to other rows
  EXPECT_EQ(nullptr, countent_getbill(ce_, "x' or '1'='1"));
}

TEST_F(Countent, BillsAreStoredWithOperatorTimeAndTwoDecimals)
{
  add_cdr("gw1-1", "0105551234", "2024-03-01 07:58:30", "2024-03-01 08:01:10");
  add_cdr("gw1-2", "0105551234", "2024-03-01 10:00:00", "2024-03-01 10:00:02");

  bill_info copy = *countent_getbill(ce_, "gw1-1");
  time_t before = time(nullptr);
  EXPECT_EQ(0, countent_save(ce_, &copy, "alice"));
  countent_save(ce_, &copy, "alice");
  bill_info free_call = *countent_getbill(ce_, "gw1-2");
  EXPECT_EQ(0.0f, free_call.m_count);
  countent_save(ce_, &free_call, "bob");
  copy.m_count = 1.705f;  // a float just above the half cent rounds up
  countent_save(ce_, &copy, "carol");
  EXPECT_EQ(-1, countent_save(ce_, nullptr, "carol"));

  std::vector<bill_row> rows = bills();
  ASSERT_EQ(4u, rows.size());
  EXPECT_EQ("gw1-1", rows[0].callid);
  EXPECT_EQ("160", rows[0].calltime);
  EXPECT_EQ("07:58:30-08:00:00 0.60,08:00:30-08:01:10 0.60,0.00 in 0 second, handling charge 0.50 total 1.70",
            rows[0].period);
  EXPECT_EQ("1.7", rows[0].count);
  EXPECT_EQ("real", rows[0].count_type);
  EXPECT_EQ("alice", rows[0].admin);
  EXPECT_EQ(rows[0].callid, rows[1].callid);  // the same bill twice: two rows
  EXPECT_EQ(rows[0].period, rows[1].period);
  EXPECT_EQ("gw1-2", rows[2].callid);
  EXPECT_EQ("0.0", rows[2].count);
  EXPECT_EQ("0.00 in 0 second, handling charge 0.50 total 0.00", rows[2].period);
  EXPECT_EQ("bob", rows[2].admin);
  EXPECT_EQ("1.71", rows[3].count);

  struct tm tm;
  memset(&tm, 0, sizeof tm);
  ASSERT_NE(nullptr, strptime(rows[0].date.c_str(), "%Y-%m-%d %H:%M:%S", &tm)) << rows[0].date;
  EXPECT_EQ(19u, rows[0].date.size());
  tm.tm_isdst = -1;
  double age = difftime(mktime(&tm), before);
  EXPECT_GE(age, -1);
  EXPECT_LE(age, 60);
}

TEST_F(Countent, AStoredCallKeepsThePriceOfTheRulesItEndedUnder)
{
  const char *before = "Japan|0081|0.00|00:00:00-3.60|0:0|0|60\nLong|0099|0.01|00:00:00-2.00|0:0|0|1\n";
  const char *after = "Japan|0081|0.00|00:00:00-4.20|0:0|0|60\nLong|0099|0.01|00:00:00-3.00|0:0|0|1\n";
  struct {
    const char *id, *desnum, *bdate, *edate;
    long long cents, today; /* under the rates it was stored with, under today's */
    const char *count;      /* as billtbl stores it */
  } calls[] = {
      {"J-1", "00815551234", "2024-03-01 10:00:00", "2024-03-01 10:00:30", 360, 420, "3.6"},
      // 100,000 one-second units: an amount whose cents a float cannot carry
      {"L-1", "00995551234", "2024-03-01 00:00:00", "2024-03-02 03:46:40", 20000001, 30000001, "200000.01"},
  };
  restart(before);
  // the handler stores the calls (their prices frozen with them), and one
  // more stored without a price, as an earlier release stored calls
  auto *h = new msghdlr{};
  h->m_sock = -1;
  h->m_wakefd = -1;
  ASSERT_EQ(0, create_cdr_database(h, db_.c_str(), "cdrtbl"));
  for (const auto &c : calls)
    ASSERT_EQ(0, cdrdb_insert(h, cdr_row{c.id, "gw1", "1", "8001", c.desnum, c.bdate, c.edate, 0, 0}));
  msghdlr_release(h);
  add_cdr("J-0", "00815551234", "2024-03-01 09:00:00", "2024-03-01 09:00:30");

  restart(after);
  for (const auto &c : calls) {
    SCOPED_TRACE(c.id);
    bill_info *b = countent_getbill(ce_, c.id);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(c.cents, ce_->m_cents);
    EXPECT_EQ(utils::cents_float(c.cents), b->m_count);
    EXPECT_NE(std::string::npos, std::string(b->m_period_record).find(utils::cents_text(c.cents).s));
    bill_info copy = *b;
    countent_save(ce_, &copy, "alice");
    // a call in progress with the same times costs what today's rates say
    bill_info running;
    ASSERT_EQ(0, countent_price_call(ce_, c.desnum, c.bdate, c.edate, &running));
    EXPECT_EQ(utils::cents_float(c.today), running.m_count);
  }
  std::vector<bill_row> rows = bills();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ(calls[0].count, rows[0].count);
  EXPECT_EQ(calls[1].count, rows[1].count) << "the frozen cents, not the float's";

  // the call without a price gets today's at its first lookup, and keeps it
  ASSERT_NE(nullptr, countent_getbill(ce_, "J-0"));
  EXPECT_EQ(420, ce_->m_cents);
  restart(before);
  ASSERT_NE(nullptr, countent_getbill(ce_, "J-0"));
  EXPECT_EQ(420, ce_->m_cents);
}

// The console runs the engine under the user's locale: with a decimal comma
// the rate file and the rate XML are read, and bills written and read, alike.
class CountentUnderCommaLocale : public Countent {
protected:
  static const char *comma_locale()
  {
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8"})
      if (setlocale(LC_ALL, name))
        return name;
    return nullptr;
  }
  // a machine without one gets it made in the build tree, kept for the next run
  static void SetUpTestSuite()
  {
    if (!comma_locale()) {
      (void)system("test -d '" LOCALE_DIR "/de_DE.UTF-8' || (mkdir -p '" LOCALE_DIR "' && localedef -i de_DE "
                   "-f UTF-8 '" LOCALE_DIR "/de_DE.UTF-8') >/dev/null 2>&1");
      setenv("LOCPATH", LOCALE_DIR, 1);
    }
    name_ = comma_locale();
    setlocale(LC_ALL, "C");
  }
  void SetUp() override
  {
    if (!name_)
      GTEST_SKIP() << "no decimal-comma locale, and localedef could not make de_DE.UTF-8";
    setlocale(LC_ALL, name_);
    Countent::SetUp();
    ASSERT_STREQ(",", localeconv()->decimal_point);
  }
  void TearDown() override
  {
    setlocale(LC_ALL, "C");
    if (name_)
      Countent::TearDown();
  }
  static inline const char *name_ = nullptr;
};

TEST_F(CountentUnderCommaLocale, AmountsKeepThePoint)
{
  add_cdr("gw1-1", "0105551234", "2024-03-01 07:58:30", "2024-03-01 08:01:10");
  bill_info *b = countent_getbill(ce_, "gw1-1");
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("07:58:30-08:00:00 0.60,08:00:30-08:01:10 0.60,0.00 in 0 second, handling charge 0.50 total 1.70",
               b->m_period_record);
  countent_save(ce_, b, "alice");
  std::vector<bill_info> back;
  user_rows rows{[](void *r, void *p) { static_cast<std::vector<bill_info> *>(p)->push_back(*(bill_info *)r); }, &back};
  ASSERT_EQ(0, dbent_select(cdr_, "billtbl", nullptr, bill_select_callback, &rows));
  ASSERT_EQ(1u, back.size());
  EXPECT_EQ(1.70f, back[0].m_count);

  ratetest::write_file("rates.xml", "<RateInfoDataSet><RateInfo><pattern>020</pattern><period1>00:00:00"
                                    "</period1><rate1>0.15</rate1><unit>60</unit></RateInfo></RateInfoDataSet>");
  testing::internal::CaptureStdout();
  counter *c = create_normal_counter_file("counter", "rates.xml");
  testing::internal::GetCapturedStdout();
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(0.15f, counter_getrate(c, "0201", "10:00:00"));
  counter_release(c);
}

TEST_F(Countent, ABillTheDatabaseRefusesIsToldOnceNamingItsCall)
{
  add_cdr("gw1-7", "0105551234", "2024-03-01 10:00:00", "2024-03-01 10:01:00");
  bill_info copy = *countent_getbill(ce_, "gw1-7");
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &db));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db,
                                    "create trigger refuse before insert on billtbl "
                                    "begin select raise(abort, 'bills refused'); end",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(db);
  size_t before = log().size();
  EXPECT_EQ(-1, countent_save(ce_, &copy, "alice"));
  EXPECT_TRUE(bills().empty());
  std::istringstream added(log().substr(before));
  int naming = 0;
  for (std::string line; std::getline(added, line);) {
    EXPECT_EQ(std::string::npos, line.find("FAILED")) << line;
    EXPECT_EQ(std::string::npos, line.find("SQL error")) << line;
    if (line.find("gw1-7") != std::string::npos) {
      naming++;
      EXPECT_NE(std::string::npos, line.find("bills refused")) << line;
    }
  }
  EXPECT_EQ(1, naming);
}

}  // namespace
