// Amounts under a decimal-comma locale, as the console runs the engine: rate
// file and rate XML read, calls priced, detail texts, the bill stored and read
// back, all with the point. The locale is generated when the machine lacks it.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "quenta/countent.h"
#include "quenta/init.h"
#include "quenta/sqlite_dbent.h"
#include "rate_test_util.h"

namespace {

class CommaLocale : public ratetest::WorkDir {
protected:
  static void SetUpTestSuite()
  {
    for (const char *n : {"de_DE.UTF-8", "fr_FR.UTF-8"}) {
      if (setlocale(LC_ALL, n)) {
        locale_ = n;
        break;
      }
    }
    if (locale_.empty()) {
      char tmpl[] = "/tmp/quenta-localeXXXXXX";
      if (mkdtemp(tmpl)) {
        locpath_ = tmpl;
        std::string cmd = "localedef -i de_DE -f UTF-8 " + locpath_ + "/de_DE.UTF-8 >/dev/null 2>&1";
        (void)system(cmd.c_str());
        setenv("LOCPATH", tmpl, 1);
        if (setlocale(LC_ALL, "de_DE.UTF-8"))
          locale_ = "de_DE.UTF-8";
      }
    }
    setlocale(LC_ALL, "C");
  }
  static void TearDownTestSuite()
  {
    if (!locpath_.empty())
      (void)system(("rm -rf '" + locpath_ + "'").c_str());
  }
  void SetUp() override
  {
    if (locale_.empty())
      GTEST_SKIP() << "no decimal-comma locale, and localedef could not make de_DE.UTF-8";
    ratetest::WorkDir::SetUp();
    ASSERT_NE(nullptr, setlocale(LC_ALL, locale_.c_str()));
    ASSERT_STREQ(",", localeconv()->decimal_point);
  }
  void TearDown() override
  {
    setlocale(LC_ALL, "C");
    if (!locale_.empty())
      ratetest::WorkDir::TearDown();
  }

  static std::string locale_, locpath_;
};
std::string CommaLocale::locale_, CommaLocale::locpath_;

void keep_bill(void *record, void *param)
{
  static_cast<std::vector<bill_info> *>(param)->push_back(*static_cast<bill_info *>(record));
}

TEST_F(CommaLocale, BillsRatesAndDetailTextsKeepThePoint)
{
  ratetest::write_file(RATE_FILE_NAME, "Beijing|010|0.50|00:00:00-0.30,08:00:00-0.60|0:0.00|3|60\n");
  std::string db = dir_ + "/quentadb";
  testing::internal::CaptureStdout();
  countent *ce = create_countent(db.c_str(), "cdrtbl", "billtbl");
  testing::internal::GetCapturedStdout();
  ASSERT_NE(nullptr, ce);
  const char *cdr[] = {"gw1-1", "gw1", "1", "8001", "0105551234", "2024-03-01 07:58:30",
                       "2024-03-01 08:01:10", "0", nullptr};
  ASSERT_EQ(0, dbent_insert(ce->m_cdrdb, "cdrtbl", cdr));

  bill_info *b = countent_getbill(ce, "gw1-1");
  ASSERT_NE(nullptr, b);
  EXPECT_FLOAT_EQ(1.70f, b->m_count);
  EXPECT_STREQ("07:58:30-08:00:00 0.60,08:00:30-08:01:10 0.60,"
               "0.00 in 0 second, handling charge 0.50 total 1.70",
               b->m_period_record);
  countent_save(ce, b, "admin");
  std::vector<bill_info> rows;
  user_rows deliver{keep_bill, &rows};
  ASSERT_EQ(0, dbent_select(ce->m_billdb, "billtbl", nullptr, bill_select_callback, &deliver));
  ASSERT_EQ(1u, rows.size());
  EXPECT_FLOAT_EQ(1.70f, rows[0].m_count);
  EXPECT_EQ(160, rows[0].m_calltime);
  countent_release(ce);

  ratetest::write_file("rates.xml", "<RateInfoDataSet><RateInfo><pattern>020</pattern>"
                                    "<service_charge>0.25</service_charge><period1>00:00:00</period1>"
                                    "<rate1>0.15</rate1><unit>60</unit></RateInfo></RateInfoDataSet>");
  testing::internal::CaptureStdout();
  counter *c = create_normal_counter_file("counter", "rates.xml");
  testing::internal::GetCapturedStdout();
  ASSERT_NE(nullptr, c);
  EXPECT_FLOAT_EQ(0.15f, counter_getrate(c, "0201", "10:00:00"));
  call_info call;
  memset(&call, 0, sizeof call);
  strcpy(call.desnum, "0201");
  strcpy(call.bdate, "2024-03-01 10:00:00");
  strcpy(call.edate, "2024-03-01 10:01:01");
  b = counter_get_result(c, &call);
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("0.00 in 0 second, handling charge 0.25 total 0.55", b->m_period_record);
  counter_release(c);
}

}  // namespace
