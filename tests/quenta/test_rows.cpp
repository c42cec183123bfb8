// Row delivery of the exported selects: column names matched by their
// beginning in a fixed order, texts cut to their fields, nulls read as empty,
// and the report row's repeated call id.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "quenta/init.h"
#include "testkit.h"

namespace {

struct row {
  std::vector<std::string> names, values;
  std::vector<char *> argv, colnames;
  row(std::initializer_list<std::pair<std::string, const char *>> cols)
  {
    for (auto &c : cols) {
      names.push_back(c.first);
      values.push_back(c.second ? c.second : "");
    }
    for (size_t i = 0; i < names.size(); i++) {
      colnames.push_back(names[i].data());
      argv.push_back(cols.begin()[i].second ? values[i].data() : nullptr);
    }
  }
  int argc() const { return (int)names.size(); }
};

template <typename T>
void keep(void *record, void *param)
{
  static_cast<std::vector<T> *>(param)->push_back(*static_cast<T *>(record));
}

TEST(RowDelivery, CdrColumnsByPrefixAndNullsAsEmpty)
{
  std::vector<cdr_info> got;
  user_rows rows{keep<cdr_info>, &got};
  row r{{"callid", "GW7-00000002@2008-01-17 14:03:05"},
        {"machineid", "GW7"},
        {"lineid", "2"},
        {"orgnum", nullptr},
        {"desnumber", "114"},  // a longer name that begins with a known one
        {"bdate", "2008-01-17 14:03:05"},
        {"edate", "2008-01-17 14:04:00"},
        {"flag", "1"},
        {"other", "ignored"}};
  EXPECT_EQ(0, cdr_select_callback(&rows, r.argc(), r.argv.data(), r.colnames.data()));
  ASSERT_EQ(1u, got.size());
  EXPECT_STREQ("GW7-00000002@2008-01-17 14:03:05", got[0].callid);
  EXPECT_STREQ("GW7", got[0].machineid);
  EXPECT_EQ(2, got[0].lineid);
  EXPECT_STREQ("", got[0].orgnum);
  EXPECT_STREQ("114", got[0].desnum);
  EXPECT_STREQ("2008-01-17 14:04:00", got[0].edate);
  EXPECT_EQ(1, got[0].flag);
}

TEST(RowDelivery, TextsAreCutToTheirFields)
{
  std::vector<cdr_info> cdrs;
  user_rows rows{keep<cdr_info>, &cdrs};
  std::string longid(300, 'x');
  row r{{"callid", longid.c_str()}, {"lineid", "notanumber"}};
  cdr_select_callback(&rows, r.argc(), r.argv.data(), r.colnames.data());
  ASSERT_EQ(1u, cdrs.size());
  EXPECT_EQ(std::string(127, 'x'), cdrs[0].callid);
  EXPECT_EQ(0, cdrs[0].lineid);

  std::vector<bill_info> bills;
  user_rows brows{keep<bill_info>, &bills};
  std::string period(500, 'p'), admin(100, 'a');
  row b{{"callid", "c1"},  {"calltime", "125"},      {"period", period.c_str()},
        {"count", "3.80"}, {"admin", admin.c_str()}, {"date", "2026-12-09 10:00:00"}};
  bill_select_callback(&brows, b.argc(), b.argv.data(), b.colnames.data());
  ASSERT_EQ(1u, bills.size());
  EXPECT_STREQ("c1", bills[0].m_callid);
  EXPECT_EQ(125, bills[0].m_calltime);
  EXPECT_EQ(std::string(128, 'p'), bills[0].m_period_record);
  EXPECT_FLOAT_EQ(3.80f, bills[0].m_count);
  EXPECT_EQ(std::string(63, 'a'), bills[0].m_admin);
  EXPECT_STREQ("2026-12-09 10:00:00", bills[0].m_date);
}

TEST(RowDelivery, ReportRowFillsBothRecordsAndDateIsNotBdate)
{
  std::vector<report_info> got;
  user_rows rows{keep<report_info>, &got};
  // The column order of "select * from cdrtbl, billtbl".
  row r{{"callid", "cdr-side"},
        {"machineid", "GW1"},
        {"lineid", "0"},
        {"orgnum", "801"},
        {"desnum", "0105551234"},
        {"bdate", "2026-12-09 09:00:00"},
        {"edate", "2026-12-09 09:01:00"},
        {"flag", "1"},
        {"callid", "bill-side"},
        {"calltime", "60"},
        {"period", "detail"},
        {"count", "1.20"},
        {"admin", "li"},
        {"date", "2026-12-09 09:05:00"}};
  report_select_callback(&rows, r.argc(), r.argv.data(), r.colnames.data());
  ASSERT_EQ(1u, got.size());
  const report_info &ri = got[0];
  EXPECT_STREQ("bill-side", ri.m_cdr.callid);  // the later occurrence stands
  EXPECT_STREQ("bill-side", ri.m_bill.m_callid);
  EXPECT_STREQ("GW1", ri.m_cdr.machineid);
  EXPECT_STREQ("0105551234", ri.m_cdr.desnum);
  EXPECT_STREQ("2026-12-09 09:00:00", ri.m_cdr.bdate);
  EXPECT_STREQ("2026-12-09 09:05:00", ri.m_bill.m_date);
  EXPECT_EQ(60, ri.m_bill.m_calltime);
  EXPECT_FLOAT_EQ(1.20f, ri.m_bill.m_count);
  EXPECT_STREQ("li", ri.m_bill.m_admin);
  EXPECT_EQ(1, ri.m_cdr.flag);
}

TEST(DatabasePath, WorkingDirectoryJoinedWithSlashAndNeverCut)
{
  testkit::TempDir base("pathtest");
  std::string deep = base.path();
  // A working directory longer than any fixed buffer of the old design.
  while (deep.size() < 900) {
    deep += "/" + std::string(60, 'd');
    ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
  }
  char old[4096];
  ASSERT_NE(nullptr, getcwd(old, sizeof old));
  ASSERT_EQ(0, chdir(deep.c_str()));
  std::string path;
  EXPECT_TRUE(build_database_path(path));
  EXPECT_EQ(deep + "/quentadb", path);
  ASSERT_EQ(0, chdir(old));
}

}  // namespace
