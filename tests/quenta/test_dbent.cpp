// The database entity over a real file: statement texts, describing tables,
// inserting, selecting, updating and deleting rows, values that try to break
// out of the statement, and the failures callers must be able to tell apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbtest.h"
#include "quenta/init.h"
#include "quenta/records.h"
#include "quenta/sqlite_dbent.h"
#include "quenta/sqlite_tblent.h"

using dbtest::cdr_values;
using dbtest::DbTest;
using dbtest::Rows;
using dbtest::TextList;

namespace {

const char kCdrCreate[] = "create table cdrtbl(callid varchar(128), machineid varchar(128), lineid smallint, "
                          "orgnum varchar(128), desnum varchar(128), bdate varchar(128), edate varchar(128), "
                          "flag smallint, constraint key1 unique(callid))";
const char kBillCreate[] = "create table billtbl(callid varchar(64), calltime smallint, period varchar(128), "
                           "count real, admin varchar(64), date varchar(128))";

// sqlite_master keeps a create statement as given, except for its first two
// words, which it writes in capitals.
std::vector<std::string> as_stored(const std::string &create)
{
  return {"CREATE TABLE" + create.substr(std::string("create table").size())};
}

std::vector<std::string> bill_values(const std::string &callid, const std::string &period)
{
  return {callid, "125", period, "3.50", "zhang", "2024-03-01 18:00:00"};
}

// Every byte from 1 to 255 in turn, n bytes long.
std::string all_bytes(size_t n)
{
  std::string s;
  for (size_t i = 0; i < n; i++)
    s += static_cast<char>(1 + i % 255);
  return s;
}

class DbentTest : public DbTest {
protected:
  void SetUp() override
  {
    DbTest::SetUp();
    ent_ = create_sqlite_dbent(db_.c_str());
    ASSERT_NE(nullptr, ent_);
  }
  void TearDown() override
  {
    if (ent_)
      dbent_release(ent_);
    DbTest::TearDown();
  }
  void describe_both()
  {
    ASSERT_EQ(0, dbent_create(ent_, "cdrtbl", gst_cdr_infos));
    ASSERT_EQ(0, dbent_create(ent_, "billtbl", gst_bill_infos));
  }
  int insert(const char *table, const std::vector<std::string> &values)
  {
    return dbent_insert(ent_, table, TextList(values));
  }
  Rows select(const char *table, const TextList *conds = nullptr, int *rc = nullptr)
  {
    Rows r;
    int res = dbent_select(ent_, table, conds ? conds->get() : nullptr, dbtest::collect_rows, &r);
    if (rc)
      *rc = res;
    else
      EXPECT_EQ(0, res);
    return r;
  }
  dbent *ent_ = nullptr;
};

TEST(StatementText, CreateStatementsFollowTheColumnLists)
{
  EXPECT_EQ(kCdrCreate, sqlite_tblent_create_cmd("cdrtbl", gst_cdr_infos));
  EXPECT_EQ(kBillCreate, sqlite_tblent_create_cmd("billtbl", gst_bill_infos));
  EXPECT_EQ("insert into billtbl values(?, ?, ?, ?, ?, ?)", sqlite_tblent_insert_cmd("billtbl", 6));
}

TEST(StatementText, ConditionsAndSetValuesAreJoined)
{
  TextList line{"lineid=1", "flag=0"};
  TextList byid{"callid='X'"};
  TextList flag1{"flag=1"};
  TextList two_sets{"flag=1", "lineid=3"};
  EXPECT_EQ("select * from cdrtbl where lineid=1 and flag=0", sqlite_dbent_select_cmd("cdrtbl", line));
  EXPECT_EQ("select * from cdrtbl, billtbl", sqlite_dbent_select_cmd(nullptr, nullptr));
  EXPECT_EQ("select * from billtbl", sqlite_dbent_select_cmd("billtbl", nullptr));
  EXPECT_EQ("update cdrtbl set flag=1 where callid='X'", sqlite_dbent_update_cmd("cdrtbl", byid, flag1));
  EXPECT_EQ("update cdrtbl set flag=1, lineid=3 where lineid=1 and flag=0",
            sqlite_dbent_update_cmd("cdrtbl", line, two_sets));
  EXPECT_EQ("delete from billtbl where callid='X'", sqlite_dbent_delete_cmd("billtbl", byid));
  EXPECT_EQ("delete from cdrtbl", sqlite_dbent_delete_cmd("cdrtbl", nullptr));
}

TEST(StatementText, LongFragmentsAreNeverCut)
{
  std::string big = "callid='" + std::string(3000, 'a') + "'";
  TextList conds{"flag=0", big};
  std::string cmd = sqlite_dbent_select_cmd("cdrtbl", conds);
  EXPECT_EQ("select * from cdrtbl where flag=0 and " + big, cmd);
}

TEST_F(DbentTest, DescribingCreatesTablesAndIndexesOnce)
{
  describe_both();
  EXPECT_EQ(as_stored(kCdrCreate), raw_column("select sql from sqlite_master where type='table' and name='cdrtbl'"));
  EXPECT_EQ(as_stored(kBillCreate), raw_column("select sql from sqlite_master where type='table' and name='billtbl'"));
  EXPECT_EQ((std::vector<std::string>{"billtbl_admin", "billtbl_callid", "billtbl_report", "cdrtbl_bdate",
                                      "cdrtbl_line", "cdrtbl_report"}),
            raw_column("select name from sqlite_master where type='index' and sql is not null "
                       "order by name"));
  std::string first = log();
  EXPECT_NE(std::string::npos, first.find("ncolumn: 8, constraint: 1"));
  EXPECT_NE(std::string::npos, first.find(std::string("CMD: ") + kCdrCreate));
  EXPECT_NE(std::string::npos, first.find("ncolumn: 6, constraint: 0"));
  EXPECT_EQ(std::string::npos, first.find("table exist..."));

  ASSERT_EQ(0, insert("cdrtbl", cdr_values("c1", "m1", 1)));

  // A second entity (or the next start) finds the table and keeps its rows.
  dbent *again = create_sqlite_dbent(db_.c_str());
  ASSERT_NE(nullptr, again);
  EXPECT_EQ(0, dbent_create(again, "cdrtbl", gst_cdr_infos));
  std::string second = log().substr(first.size());
  EXPECT_EQ(std::string::npos, second.find("SQL error: ")) << "a table of an earlier run is no error";
  EXPECT_NE(std::string::npos, second.find("table exist..."));
  EXPECT_EQ(0, dbent_insert(again, "cdrtbl", TextList(cdr_values("c2", "m1", 1))));
  dbent_release(again);
  EXPECT_EQ(2, raw_count("cdrtbl"));
}

TEST_F(DbentTest, FileFromEarlierRunGainsIndexesAndKeepsRows)
{
  raw_exec(kCdrCreate);
  raw_exec("insert into cdrtbl values(\"old\", \"m1\", 1, \"a\", \"b\", \"2020-01-01 00:00:00\", "
           "\"2020-01-01 00:01:00\", 1)");
  ASSERT_EQ(0, dbent_create(ent_, "cdrtbl", gst_cdr_infos));
  EXPECT_EQ((std::vector<std::string>{"cdrtbl_bdate", "cdrtbl_line", "cdrtbl_report"}),
            raw_column("select name from sqlite_master where type='index' and sql is not null "
                       "order by name"));
  EXPECT_EQ(std::vector<std::string>{"old"}, raw_column("select callid from cdrtbl"));
  // The checks the console runs use the indexes rather than a scan.
  auto plan = raw_column("explain query plan select * from cdrtbl "
                         "where machineid='m1' and lineid=1 and flag=0",
                         3);
  ASSERT_FALSE(plan.empty());
  EXPECT_NE(std::string::npos, plan[0].find("cdrtbl_line")) << plan[0];
}

TEST_F(DbentTest, ShiftTableOfAnEarlierRunGainsTheDrawerAtItsEnd)
{
  raw_exec("create table shifttbl(bdate varchar(128), edate varchar(128), outgoing varchar(64), takings real, "
           "incoming varchar(64));"
           "insert into shifttbl values('2020-01-01 08:00:00', '2020-01-01 20:00:00', 'x', 1.5, 'y')");
  ASSERT_EQ(0, shifts_add_drawer(db_.c_str()));
  ASSERT_EQ(0, shifts_add_drawer(db_.c_str()));  // the next start finds them
  // The five that other programs read stay first and in their order.
  EXPECT_EQ((std::vector<std::string>{"bdate", "edate", "outgoing", "takings", "incoming", "drawer", "counted", "held",
                                      "handed"}),
            raw_column("select name from pragma_table_info('shifttbl') order by cid"));
  EXPECT_EQ(std::vector<std::string>{"x|1.5|1"},
            raw_column("select outgoing || '|' || takings || '|' || (drawer is null and handed is null) "
                       "from shifttbl"));
}

TEST_F(DbentTest, InsertWritesColumnsInOrderWithTheirTypes)
{
  describe_both();
  ASSERT_EQ(0, insert("cdrtbl", cdr_values("gw1-00000002@2024-03-01 10:00:00", "gw1", 2)));
  ASSERT_EQ(0, insert("billtbl", bill_values("gw1-00000002@2024-03-01 10:00:00", "p")));
  EXPECT_EQ(std::vector<std::string>{"gw1-00000002@2024-03-01 10:00:00|gw1|2|800100|"
                                     "0085212345678|2024-03-01 10:00:00|2024-03-01 10:02:05|0"},
            raw_column("select callid||'|'||machineid||'|'||lineid||'|'||orgnum||'|'||desnum||'|'"
                       "||bdate||'|'||edate||'|'||flag from cdrtbl"));
  EXPECT_EQ(std::vector<std::string>{"text integer integer"},
            raw_column("select typeof(callid)||' '||typeof(lineid)||' '||typeof(flag) from cdrtbl"));
  EXPECT_EQ(std::vector<std::string>{"integer real 3.5"},
            raw_column("select typeof(calltime)||' '||typeof(count)||' '||count from billtbl"));
  EXPECT_EQ(SQLITE_OK, sqlite_last_errcode());
}

TEST_F(DbentTest, DuplicateCallIdIsRefusedButDuplicateBillIsStored)
{
  describe_both();
  ASSERT_EQ(0, insert("cdrtbl", cdr_values("dup", "m1", 1)));
  std::string before = log();
  EXPECT_EQ(-1, insert("cdrtbl", cdr_values("dup", "m2", 2)));
  EXPECT_EQ(SQLITE_CONSTRAINT, sqlite_last_errcode());
  // The layer tells why; the caller, which knows the call, logs it once.
  EXPECT_STREQ("UNIQUE constraint failed: cdrtbl.callid", sqlite_last_errmsg());
  std::string after = log().substr(before.size());
  EXPECT_EQ(std::string::npos, after.find("SQL error: "));
  EXPECT_EQ(std::string::npos, after.find("FAILED: "));
  EXPECT_EQ(std::vector<std::string>{"m1"}, raw_column("select machineid from cdrtbl"));

  ASSERT_EQ(0, insert("billtbl", bill_values("dup", "p")));
  ASSERT_EQ(0, insert("billtbl", bill_values("dup", "p")));
  EXPECT_EQ(2, raw_count("billtbl"));
  EXPECT_EQ(SQLITE_OK, sqlite_last_errcode());
}

TEST_F(DbentTest, InsertRefusesValueListsThatDoNotFitTheColumns)
{
  describe_both();
  auto seven = cdr_values("c1", "m1", 1);
  seven.pop_back();
  EXPECT_EQ(-1, insert("cdrtbl", seven));
  EXPECT_EQ(SQLITE_RANGE, sqlite_last_errcode());
  auto nine = cdr_values("c1", "m1", 1);
  nine.push_back("0");
  EXPECT_EQ(-1, insert("cdrtbl", nine));
  EXPECT_EQ(SQLITE_RANGE, sqlite_last_errcode());

  // A number column takes only a number, so no text can slip into the statement there.
  for (const char *bad : {"", "abc", "1); drop table cdrtbl; --", "1,2", "nan", "+-1"}) {
    auto row = cdr_values("c1", "m1", 1);
    row[2] = bad;
    EXPECT_EQ(-1, insert("cdrtbl", row)) << bad;
    EXPECT_EQ(SQLITE_MISMATCH, sqlite_last_errcode());
  }
  EXPECT_EQ(0, raw_count("cdrtbl"));

  auto spaced = cdr_values("c2", "m1", 1);
  spaced[2] = " +7 ";
  EXPECT_EQ(0, insert("cdrtbl", spaced));
  EXPECT_EQ(std::vector<std::string>{"7"}, raw_column("select lineid from cdrtbl"));
}

TEST_F(DbentTest, InsertIntoUndescribedTableStoresNothing)
{
  ASSERT_EQ(0, dbent_create(ent_, "cdrtbl", gst_cdr_infos));
  raw_exec(kBillCreate);
  EXPECT_EQ(0, insert("billtbl", bill_values("c1", "p")));
  EXPECT_EQ(0, raw_count("billtbl"));
}

TEST_F(DbentTest, HostileValuesAreStoredByteForByte)
{
  describe_both();
  ASSERT_EQ(0, insert("billtbl", bill_values("keep", "p")));

  std::vector<std::string> hostile = {
      "\"); drop table cdrtbl; --",
      "it's a \"quoted\" 'value'",
      "'; delete from billtbl; --",
      "line\nfeed;\r\ttab",
      all_bytes(2000),
      std::string(2000, '"'),
      "",
  };
  for (size_t i = 0; i < hostile.size(); i++) {
    const std::string &v = hostile[i];
    std::vector<std::string> row = {v + "#" + std::to_string(i), v, "3", v, v, v, v, "0"};
    ASSERT_EQ(0, insert("cdrtbl", row)) << i;
  }
  std::string period = all_bytes(1023);
  ASSERT_EQ(0, insert("billtbl", bill_values("\"); drop table billtbl; --", period)));

  Rows cdrs = select("cdrtbl");
  ASSERT_EQ(hostile.size(), cdrs.rows.size());
  for (size_t i = 0; i < hostile.size(); i++) {
    const auto &r = cdrs.rows[i];
    EXPECT_EQ(hostile[i] + "#" + std::to_string(i), r.at("callid"));
    for (const char *col : {"machineid", "orgnum", "desnum", "bdate", "edate"})
      EXPECT_EQ(hostile[i], r.at(col)) << "row " << i << " column " << col;
  }
  Rows bills = select("billtbl");
  ASSERT_EQ(2u, bills.rows.size());
  EXPECT_EQ("\"); drop table billtbl; --", bills.rows[1].at("callid"));
  EXPECT_EQ(period, bills.rows[1].at("period"));
  EXPECT_EQ(as_stored(kCdrCreate), raw_column("select sql from sqlite_master where name='cdrtbl'"));
}

TEST_F(DbentTest, SelectUpdateAndDeleteTouchOnlyMatchingRows)
{
  describe_both();
  ASSERT_EQ(0, insert("cdrtbl", cdr_values("a", "m1", 1)));
  ASSERT_EQ(0, insert("cdrtbl", cdr_values("b", "m1", 1)));
  ASSERT_EQ(0, insert("cdrtbl", cdr_values("c", "m1", 2)));
  ASSERT_EQ(0, insert("cdrtbl", cdr_values("d", "m2", 1)));
  ASSERT_EQ(0, insert("billtbl", bill_values("a", "p")));

  TextList unsettled{"machineid='m1'", "lineid=1", "flag=0"};
  EXPECT_EQ(2u, select("cdrtbl", &unsettled).rows.size());
  EXPECT_NE(std::string::npos,
            log().find("SQL CMD: select * from cdrtbl where machineid='m1' and lineid=1 and flag=0"));

  TextList byid{"machineid='m1'", "lineid=1", "callid='a'"};
  EXPECT_EQ(0, dbent_update(ent_, "cdrtbl", byid, TextList{"flag=1"}));
  Rows left = select("cdrtbl", &unsettled);
  ASSERT_EQ(1u, left.rows.size());
  EXPECT_EQ("b", left.rows[0].at("callid"));

  // The report pair: "cdrtbl" columns first, bare names, only joined rows.
  TextList join{"billtbl.callid=cdrtbl.callid"};
  Rows report = select(nullptr, &join);
  ASSERT_EQ(1u, report.rows.size());
  EXPECT_EQ((std::vector<std::string>{"callid", "machineid", "lineid", "orgnum", "desnum", "bdate", "edate", "flag",
                                      "callid", "calltime", "period", "count", "admin", "date"}),
            report.names);
  EXPECT_EQ("1", report.rows[0].at("flag"));
  EXPECT_EQ("zhang", report.rows[0].at("admin"));

  EXPECT_EQ(0, dbent_delete(ent_, "cdrtbl", TextList{"machineid='m2'"}));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), raw_column("select callid from cdrtbl"));
  EXPECT_EQ(0, dbent_delete(ent_, "billtbl", nullptr));
  EXPECT_EQ(0, raw_count("billtbl"));

  EXPECT_EQ(-1, dbent_update(ent_, "cdrtbl", byid, TextList{"nosuchcolumn=1"}));
  EXPECT_EQ(SQLITE_ERROR, sqlite_last_errcode());
  EXPECT_EQ(-1, dbent_delete(ent_, "nosuchtable", nullptr));
}

TEST_F(DbentTest, CallbackThatAsksToStopEndsTheSelectAsFailure)
{
  describe_both();
  for (const char *id : {"a", "b", "c"})
    ASSERT_EQ(0, insert("cdrtbl", cdr_values(id, "m1", 1)));
  Rows r;
  r.stop_after = 1;
  EXPECT_EQ(-1, dbent_select(ent_, "cdrtbl", nullptr, dbtest::collect_rows, &r));
  EXPECT_EQ(1u, r.rows.size());
  EXPECT_EQ(SQLITE_ABORT, sqlite_last_errcode());
  EXPECT_NE(std::string::npos, log().find("SQL error: select * from cdrtbl:"));
}

TEST_F(DbentTest, NullColumnsReachTheCallbackAsEmptyTexts)
{
  describe_both();
  raw_exec("insert into billtbl(callid) values('n1')");
  Rows r = select("billtbl");
  ASSERT_EQ(1u, r.rows.size());
  EXPECT_FALSE(r.saw_null);
  EXPECT_EQ("n1", r.rows[0].at("callid"));
  EXPECT_EQ("", r.rows[0].at("period"));
  EXPECT_EQ("", r.rows[0].at("count"));
}

TEST_F(DbentTest, ColumnListsLongerThanTheEntityHoldsAreRefused)
{
  std::vector<std::string> names;
  for (int i = 0; i < 32; i++)
    names.push_back("c" + std::to_string(i));
  std::vector<column_info> cols;
  for (int i = 0; i < 31; i++)
    cols.push_back({names[i].c_str(), T_INT, 0});
  cols.push_back({nullptr, T_INT, 0});
  EXPECT_EQ(0, dbent_create(ent_, "wide", cols.data()));
  EXPECT_EQ(1, raw_count("sqlite_master where name='wide'"));

  cols.back() = {names[31].c_str(), T_INT, 0};
  cols.push_back({nullptr, T_INT, 0});
  std::string before = log();
  EXPECT_EQ(-1, dbent_create(ent_, "wider", cols.data()));
  EXPECT_NE(std::string::npos, log().substr(before.size()).find("FAILED: "));
  EXPECT_EQ(0, raw_count("sqlite_master where name='wider'"));
  std::vector<std::string> values(32, "1");
  EXPECT_EQ(0, insert("wider", values));  // never described: nothing is written
}

TEST_F(DbentTest, UnopenableFileFailsWithATransientCode)
{
  dbent *gone = create_sqlite_dbent((dir_ + "/missing/quentadb").c_str());
  ASSERT_NE(nullptr, gone);
  // Describing goes on so that the station can start; the rows then fail.
  EXPECT_EQ(0, dbent_create(gone, "cdrtbl", gst_cdr_infos));
  EXPECT_EQ(-1, dbent_insert(gone, "cdrtbl", TextList(cdr_values("c1", "m1", 1))));
  EXPECT_EQ(SQLITE_CANTOPEN, sqlite_last_errcode());
  Rows r;
  EXPECT_EQ(-1, dbent_select(gone, "cdrtbl", nullptr, dbtest::collect_rows, &r));
  dbent_release(gone);
  std::string text = log();
  EXPECT_NE(std::string::npos, text.find("Can't open database: "));
  EXPECT_NE(std::string::npos, text.find("table exist..."));
}

}  // namespace
