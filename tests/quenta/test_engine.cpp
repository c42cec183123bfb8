// The whole road of a call through the shipped shared library: gateway
// datagrams on the real port, the line report, the stored call record, pricing
// with the rate file, the bill, settling, the report, commands to a line, and
// the console-like polling thread racing the handler.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testkit.h"
#include "quenta/quenta.h"

namespace {

using client = testkit::GatewaySocket;
using testkit::message;

struct line_state {
  std::string machine, state, srcnum, desnum, bdate;
  int line, flag;
};

std::vector<line_state> g_report;

void collect(const char *machineid, int lineid, const char *state, const char *srcnum, const char *desnum,
             const char *bdate, int flag)
{
  g_report.push_back({machineid, state, srcnum, desnum, bdate, lineid, flag});
}

std::vector<line_state> status_of(const std::string &machine_prefix)
{
  g_report.clear();
  EXPECT_EQ(0, quenta_getStatus(collect));
  std::vector<line_state> mine;
  for (auto &l : g_report)
    if (l.machine.rfind(machine_prefix, 0) == 0)
      mine.push_back(l);
  return mine;
}

template <typename T>
void keep(void *record, void *param)
{
  static_cast<std::vector<T> *>(param)->push_back(*static_cast<T *>(record));
}

std::vector<cdr_info> select_cdrs(std::vector<std::string> conds)
{
  std::vector<const char *> list;
  for (auto &c : conds)
    list.push_back(c.c_str());
  list.push_back(nullptr);
  std::vector<cdr_info> rows;
  EXPECT_EQ(0, quenta_selectCDRTable(list.data(), keep<cdr_info>, &rows));
  return rows;
}

std::string announce(const std::string &machine, int line, const std::string &state, const std::string &dest = "")
{
  testkit::Attrs a{{"machine_id", machine}, {"line_id", std::to_string(line)}, {"state", state}};
  if (!dest.empty())
    a.push_back({"dest_num", dest});
  return message("KeepAlive", a);
}

std::string connected(const std::string &machine, int line, const std::string &src, const std::string &dest)
{
  return message("Connected", {{"machine_id", machine},
                               {"line_id", std::to_string(line)},
                               {"state", "CONNECTED"},
                               {"src_num", src},
                               {"dest_num", dest}});
}

// Waits until the report shows flag 1 for the line; the flags of other lines
// seen meanwhile are lost to this test only.
bool wait_for_flag(const std::string &machine, int line, int timeout_ms = 10000)
{
  for (int waited = 0; waited < timeout_ms; waited += 20) {
    for (auto &l : status_of(machine))
      if (l.machine == machine && l.line == line && l.flag == 1)
        return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// One call on a line: announce, connect, hang up. Returns the stored call id.
std::string make_call(client &gw, const std::string &machine, int line, const std::string &dest)
{
  EXPECT_TRUE(gw.exchange(announce(machine, line, "IDLE")));
  EXPECT_TRUE(gw.exchange(connected(machine, line, "801", dest)));
  EXPECT_TRUE(gw.exchange(announce(machine, line, "IDLE")));
  EXPECT_TRUE(wait_for_flag(machine, line)) << machine << "/" << line;
  auto rows = select_cdrs({"machineid='" + machine + "'", "lineid=" + std::to_string(line), "flag=0"});
  EXPECT_EQ(1u, rows.size());
  return rows.empty() ? "" : rows.back().callid;
}

class Engine : public ::testing::Test {
protected:
  static void SetUpTestSuite()
  {
    dir_ = std::make_unique<testkit::TempDir>("enginetest", true);
    ASSERT_FALSE(dir_->path().empty());
    std::ofstream rates("rateinfo");
    rates << ".default||0.00|0:00:00-0.10|60:0.50|0|60\n"
             "Local|0|0.00|0:00:00-0.20|180:1.00|0|60\n"
             "Beijing|010|0.50|0:00:00-0.30,8:00:00-0.60|180:2.00|0|60\n";
    rates.close();
    ASSERT_EQ(0, quenta_init());
    ASSERT_EQ(0, quenta_init()) << "a second start-up does nothing";
  }
  // The engine runs on to the process's end; its folder goes with the suite.
  static void TearDownTestSuite() { dir_.reset(); }
  static std::unique_ptr<testkit::TempDir> dir_;
};
std::unique_ptr<testkit::TempDir> Engine::dir_;

TEST_F(Engine, StartsInTheWorkingDirectory)
{
  struct stat st;
  EXPECT_EQ(0, stat(dir_->file("quentadb").c_str(), &st));
  EXPECT_EQ(0, stat(dir_->file("app.log").c_str(), &st));
}

TEST_F(Engine, LinesAppearInFirstReportOrder)
{
  client gw;
  EXPECT_TRUE(gw.exchange(announce("ORD-B", 1, "IDLE")));
  EXPECT_TRUE(gw.exchange(message("Discovery", {{"machine_id", "ORD-A"}, {"line_id", "0"}, {"state", "IDLE"}})));
  EXPECT_TRUE(gw.exchange(announce("ORD-B", 0, "FORBIDDEN")));
  EXPECT_TRUE(gw.exchange(announce("ORD-B", 1, "IDLE", "01")));
  auto lines = status_of("ORD-");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("ORD-B", lines[0].machine);
  EXPECT_EQ(1, lines[0].line);
  EXPECT_EQ("01", lines[0].desnum);
  EXPECT_EQ("ORD-A", lines[1].machine);
  EXPECT_EQ("ORD-B", lines[2].machine);
  EXPECT_EQ(0, lines[2].line);
  EXPECT_EQ("FORBIDDEN", lines[2].state);
  for (auto &l : lines)
    EXPECT_EQ(0, l.flag);
  // The same lines through the callback that carries the caller's parameter.
  std::vector<std::string> seen;
  quenta_getStatusEx(
      [](const char *m, int line, const char *, const char *, const char *, const char *, int, void *param) {
        if (std::string(m).rfind("ORD-", 0) == 0)
          static_cast<std::vector<std::string> *>(param)->push_back(std::string(m) + "/" + std::to_string(line));
      },
      &seen);
  EXPECT_EQ((std::vector<std::string>{"ORD-B/1", "ORD-A/0", "ORD-B/0"}), seen);
}

TEST_F(Engine, CallIsCapturedPricedSettledAndReported)
{
  client gw;
  EXPECT_TRUE(gw.exchange(announce("ROAD", 3, "IDLE")));
  EXPECT_TRUE(gw.exchange(connected("ROAD", 3, "801", "0105551234")));
  auto during = status_of("ROAD");
  ASSERT_EQ(1u, during.size());
  EXPECT_EQ("CONNECTED", during[0].state);
  EXPECT_EQ("801", during[0].srcnum);
  EXPECT_EQ("0105551234", during[0].desnum);
  ASSERT_EQ(19u, during[0].bdate.size());
  std::string bdate = during[0].bdate;

  EXPECT_TRUE(gw.exchange(announce("ROAD", 3, "IDLE")));
  ASSERT_TRUE(wait_for_flag("ROAD", 3));
  auto after = status_of("ROAD");
  ASSERT_EQ(1u, after.size());
  EXPECT_EQ(0, after[0].flag) << "an ended call is reported once";
  EXPECT_EQ("", after[0].bdate);

  // The console's condition list for a line's unsettled calls.
  auto rows = select_cdrs({"machineid='ROAD'", "lineid=3", "flag=0"});
  ASSERT_EQ(1u, rows.size());
  const cdr_info cdr = rows[0];
  EXPECT_EQ("ROAD-00000003@" + bdate, std::string(cdr.callid));
  EXPECT_STREQ("801", cdr.orgnum);
  EXPECT_STREQ("0105551234", cdr.desnum);
  EXPECT_EQ(bdate, cdr.bdate);
  EXPECT_EQ(19u, strlen(cdr.edate));

  // The 010 rule (longest prefix): package 2.00 plus handling charge 0.50.
  bill_info *priced = quenta_getbill(cdr.callid);
  ASSERT_NE(nullptr, priced);
  bill_info bill = *priced;
  EXPECT_STREQ(cdr.callid, bill.m_callid);
  EXPECT_NEAR(2.50f, bill.m_count, 1e-6);
  EXPECT_LE(bill.m_calltime, 2);
  EXPECT_EQ(nullptr, quenta_getbill("no-such-call"));

  quenta_save(&bill, "operator1");
  std::string bill_cond = std::string("callid='") + cdr.callid + "'";
  const char *bconds[] = {bill_cond.c_str(), nullptr};
  std::vector<bill_info> bills;
  ASSERT_EQ(0, quenta_selectBillTable(bconds, keep<bill_info>, &bills));
  ASSERT_EQ(1u, bills.size());
  EXPECT_STREQ("operator1", bills[0].m_admin);
  EXPECT_FLOAT_EQ(2.50f, bills[0].m_count);
  EXPECT_EQ(19u, strlen(bills[0].m_date));

  const char *settle_conds[] = {"machineid='ROAD'", "lineid=3", bill_cond.c_str(), nullptr};
  const char *settle_sets[] = {"flag=1", nullptr};
  ASSERT_EQ(0, quenta_updateCDRTable(settle_conds, settle_sets));
  EXPECT_TRUE(select_cdrs({"machineid='ROAD'", "lineid=3", "flag=0"}).empty());

  std::string from = "cdrtbl.bdate>='" + bdate + "'";
  std::string to = "cdrtbl.bdate<='" + bdate + "'";
  const char *report_conds[] = {from.c_str(), to.c_str(), "billtbl.callid=cdrtbl.callid", nullptr};
  std::vector<report_info> report;
  ASSERT_EQ(0, quenta_getReport(report_conds, keep<report_info>, &report));
  bool found = false;
  for (auto &r : report) {
    if (std::string(r.m_cdr.callid) != cdr.callid)
      continue;
    found = true;
    EXPECT_STREQ(cdr.callid, r.m_bill.m_callid);
    EXPECT_STREQ("0105551234", r.m_cdr.desnum);
    EXPECT_STREQ("operator1", r.m_bill.m_admin);
    EXPECT_EQ(1, r.m_cdr.flag);
  }
  EXPECT_TRUE(found);

  // Without the join condition every call record meets every bill.
  std::vector<cdr_info> all_cdrs;
  ASSERT_EQ(0, quenta_selectCDRTable(nullptr, keep<cdr_info>, &all_cdrs));
  std::vector<bill_info> all_bills;
  ASSERT_EQ(0, quenta_selectBillTable(nullptr, keep<bill_info>, &all_bills));
  std::vector<report_info> cross;
  ASSERT_EQ(0, quenta_getReport(nullptr, keep<report_info>, &cross));
  EXPECT_EQ(all_cdrs.size() * all_bills.size(), cross.size());
}

// Calls the station learns of without a Connected message: a line first heard
// connected, as after a restart during its call, and a line first heard
// dialling and then connected by KeepAlive messages alone. Each is stored with
// its number and priced like any other call.
TEST_F(Engine, CallsConnectedWithoutAConnectedMessageAreStoredAndPriced)
{
  client gw;
  const struct {
    const char *machine, *first_state, *then_number;
  } cases[] = {{"MIDCALL", "CONNECTED", "0105551234"}, {"DIALLED", "IDLE", ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.machine);
    EXPECT_TRUE(gw.exchange(announce(c.machine, 1, c.first_state, "0105551234")));
    EXPECT_TRUE(gw.exchange(announce(c.machine, 1, "CONNECTED", c.then_number)));
    EXPECT_EQ("0105551234", status_of(c.machine)[0].desnum);
    EXPECT_TRUE(gw.exchange(announce(c.machine, 1, "IDLE")));
    ASSERT_TRUE(wait_for_flag(c.machine, 1));
    auto rows = select_cdrs({std::string("machineid='") + c.machine + "'", "flag=0"});
    ASSERT_EQ(1u, rows.size());
    EXPECT_STREQ("0105551234", rows[0].desnum);
    bill_info *bill = quenta_getbill(rows[0].callid);
    ASSERT_NE(nullptr, bill);
    EXPECT_NEAR(2.50f, bill->m_count, 1e-6) << "the 010 rule's package and handling charge";
  }
}

TEST_F(Engine, RulesAndRatesFollowTheRateFile)
{
  client gw;
  std::string local = make_call(gw, "RATE", 0, "0215551234");  // rule "0"
  std::string other = make_call(gw, "RATE", 1, "8005551234");  // default rule
  bill_info *b = quenta_getbill(local.c_str());
  ASSERT_NE(nullptr, b);
  EXPECT_NEAR(1.00f, b->m_count, 1e-6);
  b = quenta_getbill(other.c_str());
  ASSERT_NE(nullptr, b);
  EXPECT_NEAR(0.50f, b->m_count, 1e-6);
  // The price query takes the first matching rule in file order, not the longest.
  EXPECT_FLOAT_EQ(0.20f, quenta_getrate("0105551234", "09:00:00"));
  EXPECT_FLOAT_EQ(0.30f, quenta_getrate("8005551234", "09:00:00"));
}

TEST_F(Engine, DeletesRowsByCondition)
{
  client gw;
  std::string id = make_call(gw, "DEL", 0, "0215550000");
  std::string cond = "callid='" + id + "'";
  const char *conds[] = {cond.c_str(), nullptr};
  ASSERT_EQ(0, quenta_deleteCDRTableRecord(conds));
  EXPECT_TRUE(select_cdrs({cond}).empty());
  const char *bad[] = {"nosuchcolumn=1", nullptr};
  EXPECT_EQ(-1, quenta_deleteCDRTableRecord(bad));
}

TEST_F(Engine, CommandReachesTheLinesLastAddress)
{
  client first, second;
  EXPECT_TRUE(first.exchange(announce("CMD", 5, "IDLE")));
  EXPECT_TRUE(second.exchange(announce("CMD", 5, "IDLE")));
  EXPECT_EQ(0, quenta_sendCommand("CMD", 5, "call: deny\n"));
  EXPECT_EQ("Action Action ui/1.0\ncall: deny\n\n", second.receive());
  EXPECT_FALSE(first.receive(200));
  // A line the engine never heard of: nothing is sent, and that is no failure.
  EXPECT_EQ(0, quenta_sendCommand("CMD", 6, "call: permit\n"));
  EXPECT_FALSE(second.receive(200));
  // The gateway's answer changes the state and is not echoed.
  EXPECT_TRUE(second.send(message("Action", {{"machine_id", "CMD"}, {"line_id", "5"}, {"state", "FORBIDDEN"}})));
  EXPECT_FALSE(second.receive(300));
  auto lines = status_of("CMD");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("FORBIDDEN", lines[0].state);
}

// The console's thread polls and selects while the handler thread captures
// calls; under ThreadSanitizer this is the race check of the engine.
TEST_F(Engine, PollingThreadRacesTheHandler)
{
  std::atomic<bool> stop{false};
  std::atomic<int> flags{0};
  std::thread console([&] {
    while (!stop) {
      g_report.clear();
      quenta_getStatus(collect);
      for (auto &l : g_report)
        if (l.machine.rfind("RACE", 0) == 0 && l.flag)
          flags++;
      std::vector<cdr_info> rows;
      const char *conds[] = {"flag=0", nullptr};
      quenta_selectCDRTable(conds, keep<cdr_info>, &rows);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const int lines = 10, rounds = 3;
  std::vector<std::unique_ptr<client>> gws;
  for (int l = 0; l < lines; l++) {
    gws.push_back(std::make_unique<client>());
    EXPECT_TRUE(gws[l]->exchange(announce("RACE", l, "IDLE")));
  }
  for (int r = 0; r < rounds; r++) {
    for (int l = 0; l < lines; l++)
      EXPECT_TRUE(gws[l]->exchange(connected("RACE", l, "801", "021" + std::to_string(r))));
    for (int l = 0; l < lines; l++)
      EXPECT_TRUE(gws[l]->exchange(announce("RACE", l, "IDLE")));
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // next start second: new call ids
  }
  testkit::eventually([&] { return flags >= lines * rounds; }, 15000);
  stop = true;
  console.join();
  EXPECT_EQ(lines * rounds, flags.load()) << "each ended call is reported exactly once";
  EXPECT_EQ((size_t)(lines * rounds), select_cdrs({"machineid='RACE'"}).size());
}

}  // namespace

std::vector<audit_info> audit_of(const char *admin = nullptr, const char *action = nullptr, const char *from = "0000",
                                 const char *to = "9999")
{
  std::vector<audit_info> rows;
  EXPECT_EQ(0, quenta_selectAudit(from, to, admin, action, keep<audit_info>, &rows));
  return rows;
}

TEST_F(Engine, AuditTrailIsAppendedAndReadBackFiltered)
{
  const std::string zhang = "\xd5\xc5\xc8\xfd";  // 张三
  ASSERT_EQ(0, quenta_auditAt("2025-06-01 08:00:00", "admin", "login", ""));
  ASSERT_EQ(0, quenta_auditAt("2025-06-01 09:00:00", zhang.c_str(), "checkout", "it's \"1\"; drop table audittbl"));
  ASSERT_EQ(0, quenta_auditAt("2025-06-02 08:00:00", zhang.c_str(), "login", nullptr));
  ASSERT_EQ(0, quenta_audit("admin", "backup", std::string(2000, 'x').c_str()));
  // Refused: no operator, no action, a date of another form, a bare date.
  EXPECT_EQ(-1, quenta_audit("", "login", ""));
  EXPECT_EQ(-1, quenta_audit("admin", nullptr, ""));
  EXPECT_EQ(-1, quenta_auditAt("2025-6-1 08:00:00", "admin", "login", ""));
  EXPECT_EQ(-1, quenta_auditAt("2025-06-01", "admin", "login", ""));

  const struct {
    const char *admin, *action, *from, *to;
    std::vector<std::string> details;
  } cases[] = {
      {nullptr, nullptr, "2025-06-01 00:00:00", "2025-06-02 08:00:00", {"", "it's \"1\"; drop table audittbl", ""}},
      {zhang.c_str(), "", "2025-06-01 00:00:00", "2025-06-30 00:00:00", {"it's \"1\"; drop table audittbl", ""}},
      {"", "login", "2025-06-01 00:00:00", "2025-06-30 00:00:00", {"", ""}},
      {zhang.c_str(), "login", "2025-06-01 00:00:00", "2025-06-30 00:00:00", {""}},
      {nullptr, nullptr, "2025-06-01 08:00:01", "2025-06-02 07:59:59", {"it's \"1\"; drop table audittbl"}},
  };
  for (const auto &c : cases) {
    std::vector<std::string> details;
    for (const audit_info &a : audit_of(c.admin, c.action, c.from, c.to))
      details.push_back(a.m_detail);
    EXPECT_EQ(c.details, details) << (c.admin ? c.admin : "-") << " " << (c.action ? c.action : "-") << " " << c.from;
  }
  const std::vector<audit_info> all = audit_of();
  ASSERT_EQ(4u, all.size());
  EXPECT_EQ(zhang, all[1].m_admin);
  EXPECT_LT(all[0].m_rowid, all[1].m_rowid);
  EXPECT_EQ(std::string(AUDIT_DETAIL_LEN - 1, 'x'), all[3].m_detail);
  time_t now = time(nullptr);
  char today[16];
  strftime(today, sizeof today, "%Y-%m-%d", localtime(&now));
  EXPECT_EQ(0, strncmp(all[3].m_date, today, 10)) << all[3].m_date;
}

TEST_F(Engine, NoOtherOperationCanChangeTheAuditTrail)
{
  ASSERT_EQ(0, quenta_auditAt("2025-07-01 08:00:00", "admin", "login", "kept"));
  const std::vector<audit_info> before = audit_of();
  // Fragments of the generic operations, which reach the database as text.
  const char *const attacks[] = {
      "0; delete from audittbl",
      "0; update audittbl set detail='gone'",
      "0; drop table audittbl",
      "0; alter table audittbl rename to gone",
      "0; insert or replace into audittbl(rowid, date, admin, action, detail) values(1, 'a', 'b', 'c', 'd')",
      "0; create trigger wipe after insert on cdrtbl begin delete from audittbl; end",
      "0; attach 'quentadb' as twin; delete from twin.AUDITTBL",
      "0; pragma writable_schema=1",
      "0; delete from checkouttbl",
      "0; update refundtbl set amount=0",
  };
  for (const char *attack : attacks) {
    const char *conds[] = {attack, nullptr};
    const char *sets[] = {"flag=flag", nullptr};
    quenta_deleteCDRTableRecord(conds);
    quenta_deleteBillTableRecord(conds);
    quenta_updateCDRTable(conds, sets);
    quenta_updateBillTable(conds, sets);
    std::vector<cdr_info> cdrs;
    quenta_selectCDRTable(conds, keep<cdr_info>, &cdrs);
    std::vector<report_info> reports;
    quenta_getReport(conds, keep<report_info>, &reports);
    const std::vector<audit_info> after = audit_of();
    ASSERT_EQ(before.size(), after.size()) << attack;
    for (size_t i = 0; i < after.size(); i++)
      EXPECT_EQ(std::string(before[i].m_detail), after[i].m_detail) << attack;
  }
  // The trail still takes entries, and an ended call is still stored.
  EXPECT_EQ(0, quenta_audit("admin", "login", "after"));
  client gw;
  EXPECT_FALSE(make_call(gw, "AUD", 0, "0105550000").empty());
}

namespace {

/* A checkout as read back, with its call ids kept (the engine's are valid
 * only during the callback). */
struct kept_checkout : checkout_info {
  std::string callids;
};

std::vector<kept_checkout> checkouts_of(const char *admin)
{
  std::vector<kept_checkout> rows;
  auto keep_checkout = [](void *record, void *param) {
    auto *co = static_cast<checkout_info *>(record);
    auto *rows = static_cast<std::vector<kept_checkout> *>(param);
    rows->push_back({*co, co->m_callids ? co->m_callids : ""});
    rows->back().m_callids = nullptr;
  };
  EXPECT_EQ(0, quenta_selectCheckouts("2000-01-01 00:00:00", "2999-01-01 00:00:00", admin, keep_checkout, &rows));
  return rows;
}

checkout_info checkout_of(const char *machine, int line, long long due, long long paid, long long change,
                          long long owed)
{
  checkout_info co{};
  snprintf(co.m_admin, sizeof co.m_admin, "%s", "cashier");
  snprintf(co.m_machineid, sizeof co.m_machineid, "%s", machine);
  co.m_lineid = line;
  co.m_due = due;
  co.m_paid = paid;
  co.m_change = change;
  co.m_owed = owed;
  return co;
}

}  // namespace

// A checkout stores its bills, settles its calls and keeps its own record in
// one transaction: all of it, or, when any call is no longer to be settled
// on the line, none of it.
TEST_F(Engine, ACheckoutIsStoredWholeOrNotAtAll)
{
  client gw;
  std::vector<bill_info> bills;
  std::string id = make_call(gw, "TILL", 1, "0105550001");
  ASSERT_FALSE(id.empty());
  bills.push_back(*quenta_getbill(id.c_str()));
  // A second call on the line: a call's id holds its start to the second.
  for (time_t first = time(nullptr); time(nullptr) == first;)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(gw.exchange(announce("TILL", 1, "IDLE")));
  EXPECT_TRUE(gw.exchange(connected("TILL", 1, "801", "0105550001")));
  EXPECT_TRUE(gw.exchange(announce("TILL", 1, "IDLE")));
  ASSERT_TRUE(wait_for_flag("TILL", 1));
  for (const cdr_info &row : select_cdrs({"machineid='TILL'", "lineid=1", "flag=0"}))
    if (id != row.callid)
      bills.push_back(*quenta_getbill(row.callid));
  ASSERT_EQ(2u, bills.size());
  std::string other = make_call(gw, "TILL", 2, "0105550002");
  bill_info foreign = *quenta_getbill(other.c_str());

  // A call of another line makes the whole checkout fail: nothing is kept.
  std::vector<bill_info> mixed = {bills[0], foreign};
  checkout_info refused = checkout_of("TILL", 1, 500, 500, 0, 0);
  EXPECT_EQ(QUENTA_CHECKOUT_STALE, quenta_checkout(&refused, mixed.data(), 2));
  EXPECT_EQ(2u, select_cdrs({"machineid='TILL'", "lineid=1", "flag=0"}).size());
  std::string first = std::string("callid='") + bills[0].m_callid + "'";
  const char *bconds[] = {first.c_str(), nullptr};
  std::vector<bill_info> stored;
  ASSERT_EQ(0, quenta_selectBillTable(bconds, keep<bill_info>, &stored));
  EXPECT_TRUE(stored.empty()) << "the bill of the first call went with the refusal";
  EXPECT_TRUE(checkouts_of("cashier").empty());

  // 5.00 due, 3.00 paid: 2.00 owed, kept with the calls it settled.
  checkout_info co = checkout_of("TILL", 1, 500, 300, 0, 200);
  ASSERT_EQ(0, quenta_checkout(&co, bills.data(), 2));
  EXPECT_GT(co.m_number, 0);
  EXPECT_EQ(19u, strlen(co.m_date));
  EXPECT_TRUE(select_cdrs({"machineid='TILL'", "lineid=1", "flag=0"}).empty());
  ASSERT_EQ(0, quenta_selectBillTable(bconds, keep<bill_info>, &stored));
  ASSERT_EQ(1u, stored.size());
  EXPECT_STREQ("cashier", stored[0].m_admin);
  auto rows = checkouts_of("cashier");
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(co.m_number, rows[0].m_number);
  EXPECT_EQ(std::string(bills[0].m_callid) + "\n" + bills[1].m_callid, rows[0].callids);
  EXPECT_EQ(2, rows[0].m_calls);
  EXPECT_EQ(200, rows[0].m_owed);
  EXPECT_TRUE(checkouts_of("somebody else").empty());

  // The same calls again: already settled, so refused and nothing doubled.
  checkout_info again = checkout_of("TILL", 1, 500, 500, 0, 0);
  EXPECT_EQ(QUENTA_CHECKOUT_STALE, quenta_checkout(&again, bills.data(), 2));
  EXPECT_EQ(1u, checkouts_of("cashier").size());

  // Read back by number, the ids cut at a whole id when the buffer is short.
  checkout_info read{};
  char ids[CALLID_LEN * 2];
  EXPECT_EQ(1, quenta_getCheckout(co.m_number, &read, ids, sizeof ids));
  EXPECT_EQ(500, read.m_due);
  EXPECT_EQ(rows[0].callids, std::string(ids));
  std::vector<char> short_ids(strlen(bills[0].m_callid) + 5);
  EXPECT_EQ(1, quenta_getCheckout(co.m_number, &read, short_ids.data(), short_ids.size()));
  EXPECT_STREQ(bills[0].m_callid, short_ids.data());
  EXPECT_EQ(0, quenta_getCheckout(co.m_number + 1000, &read, nullptr, 0));

  // Refunds: at most what the customer settled (3.00), in parts.
  const struct {
    long long checkout, amount;
    int result;
  } refunds[] = {
      {co.m_number, 0, QUENTA_REFUND_TOO_MUCH},
      {co.m_number, 301, QUENTA_REFUND_TOO_MUCH},
      {co.m_number + 1000, 100, QUENTA_REFUND_NO_CHECKOUT},
      {co.m_number, 120, 0},
      {co.m_number, 181, QUENTA_REFUND_TOO_MUCH},
      {co.m_number, 180, 0},
      {co.m_number, 1, QUENTA_REFUND_TOO_MUCH},
  };
  for (const auto &c : refunds) {
    refund_info r{};
    snprintf(r.m_admin, sizeof r.m_admin, "%s", "admin");
    snprintf(r.m_reason, sizeof r.m_reason, "%s", "line dropped; it's 'his' word");
    r.m_checkout = c.checkout;
    r.m_amount = c.amount;
    EXPECT_EQ(c.result, quenta_refund(&r)) << c.amount;
  }
  EXPECT_EQ(300, checkouts_of("cashier")[0].m_refunded);
  std::vector<refund_info> given;
  ASSERT_EQ(0, quenta_selectRefunds("2000-01-01 00:00:00", "2999-01-01 00:00:00", "admin", keep<refund_info>, &given));
  ASSERT_EQ(2u, given.size());
  EXPECT_LT(given[0].m_number, given[1].m_number);
  EXPECT_EQ(co.m_number, given[1].m_checkout);
  EXPECT_STREQ("line dropped; it's 'his' word", given[1].m_reason);
  stored.clear();
  ASSERT_EQ(0, quenta_selectBillTable(bconds, keep<bill_info>, &stored));
  ASSERT_EQ(1u, stored.size());
  EXPECT_FLOAT_EQ(bills[0].m_count, stored[0].m_count) << "a refund changes no bill";
}
