// Calls in progress across a restart of the message handler: the journal
// "calls.live" carries a call on from its real start, stores the calls that
// ended while the handler was down with the last moment they were known
// running, skips what a crash cut short, never stores a call twice, and a
// journal that cannot be written costs no call.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>

#include "gateway.h"

using namespace gwtest;

namespace {

class JournalTest : public HandlerFixture {
protected:
  // The handler stops and starts again on the same working directory;
  // while_down runs in between.
  void restart(const std::function<void()> &while_down = {})
  {
    msghdlr_release(h_);
    h_ = nullptr;
    if (while_down)
      while_down();
    h_ = create_msghdlr(dbpath_.c_str(), "cdrtbl");
    ASSERT_NE(nullptr, h_);
  }
  const Row *row_of(const std::string &machine)
  {
    rows_ = rows();
    auto r = std::find_if(rows_.begin(), rows_.end(), [&](const Row &r) { return r.machineid == machine; });
    return r == rows_.end() ? nullptr : &*r;
  }
  std::string journal() const { return slurp(work_.path() + "/calls.live"); }
  // The start of the last line's call in progress.
  std::string start() const
  {
    static std::string bdate;
    msghdlr_get_status(
        h_, [](const char *, int, const char *, const char *, const char *, const char *b, int) { bdate = b; });
    return bdate;
  }

  std::vector<Row> rows_;
};

TEST_F(JournalTest, ACallGoesOnAcrossARestartFromItsRealStart)
{
  Gateway gw;
  ASSERT_TRUE(gw.exchange(discovery("J", 1)));
  ASSERT_TRUE(gw.exchange(connected("J", 1, "801", "114")));
  std::string bdate = start();
  eventually([&] { return !journal().empty(); }, 3000);  // written once the message is answered
  EXPECT_EQ("J\t1\t114\t801\t" + bdate + "\t" + bdate + "\n", journal());
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // a new start would be another second
  restart();
  ASSERT_TRUE(gw.exchange(keepalive("J", 1, "CONNECTED", "114")));
  EXPECT_EQ(bdate, start());
  EXPECT_EQ(1, msghdlr_call_recovered(h_, "J", 1));
  ASSERT_TRUE(gw.exchange(keepalive("J", 1, "IDLE")));
  ASSERT_TRUE(eventually([&] { return row_of("J"); }, 3000));
  EXPECT_EQ("J-00000001@" + bdate, row_of("J")->callid);
  EXPECT_EQ("801", row_of("J")->orgnum);
  EXPECT_EQ("114", row_of("J")->desnum);
  EXPECT_EQ(0, msghdlr_call_recovered(h_, "J", 1));
  EXPECT_TRUE(eventually([&] { return journal().empty(); }, 3000)) << journal();
}

TEST_F(JournalTest, CallsThatEndedWhileDownEndWhenLastKnownRunning)
{
  const std::string begin = "2026-01-02 03:04:05", seen = "2026-01-02 03:09:05";
  auto entry = [&](const std::string &machine, const std::string &number) {
    return machine + "\t1\t" + number + "\t80\t" + begin + "\t" + seen + "\n";
  };
  restart([&] {
    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dbpath_.c_str(), &db));
    std::string sql =
        "insert into cdrtbl values('S-00000001@" + begin + "','S',1,'80','121','" + begin + "','" + seen + "',0)";
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
    // B comes back idle, C is never heard again, D is connected to another
    // number, S was stored before the crash; a crash cut E's line short.
    std::ofstream("calls.live") << entry("B", "117") << entry("C", "119") << entry("D", "120") << entry("S", "121")
                                << "E\t1\t122\t80\t2026-01";
  });
  Gateway gw;
  ASSERT_TRUE(gw.exchange(keepalive("B", 1, "IDLE")));
  ASSERT_TRUE(gw.exchange(keepalive("D", 1, "CONNECTED", "999")));
  EXPECT_NE(std::string::npos, work_.log().find("calls.live: line 5 is not a whole call: skipped"));
  for (int i = 0; i < EXPIRE_TIME && !row_of("C"); i++) {  // D keeps alive meanwhile
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_TRUE(gw.exchange(keepalive("D", 1, "CONNECTED", "999")));
  }
  ASSERT_TRUE(eventually([&] { return row_of("C"); }, 3000)) << "an unheard line";
  ASSERT_EQ(4u, rows_.size()) << "one row each of B, C, D and S";
  for (const Row &r : rows_) {
    EXPECT_EQ(r.machineid + "-00000001@" + begin, r.callid);
    EXPECT_EQ(seen, r.edate) << r.machineid;
  }
  std::string d_start = start();
  // D's new call alone, with the moment it was last heard of, written at the
  // tenth tick.
  std::string head = "D\t1\t999\t\t" + d_start + "\t", text = journal();
  ASSERT_EQ(head, text.substr(0, head.size()));
  long heard = parse_local_time(text.substr(head.size(), 19));
  EXPECT_GE(heard - parse_local_time(d_start), EXPIRE_TIME / 2);
  EXPECT_LE(heard, time(nullptr));
}

TEST_F(JournalTest, AJournalThatCannotBeWrittenCostsNoCall)
{
  restart([] { ASSERT_EQ(0, mkdir("calls.live", 0755)); });
  Gateway gw;
  for (const char *m : {"F1", "F2"}) {
    ASSERT_TRUE(gw.exchange(discovery(m, 1)));
    ASSERT_TRUE(gw.exchange(connected(m, 1, "801", "114")));
    ASSERT_TRUE(gw.exchange(keepalive(m, 1, "IDLE")));
  }
  EXPECT_TRUE(eventually([&] { return rows().size() == 2; }, 3000));
  std::string log = work_.log();
  size_t first = log.find("calls.live cannot be written");
  EXPECT_NE(std::string::npos, first);
  EXPECT_EQ(std::string::npos, log.find("calls.live cannot be written", first + 1)) << "told once";
}

}  // namespace
