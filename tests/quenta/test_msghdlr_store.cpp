// Storing finished calls without the handler's thread: a database that cannot
// be opened keeps calls waiting in order (and in "cdr.pending") until it can, a
// refused call id goes to "cdr.failed", and a release never drops what still
// waits.
#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "gateway.h"
#include "quenta/msghdlr.h"

using namespace gwtest;

namespace {

cdr_row call(const std::string &machine, const std::string &bdate, const std::string &dest)
{
  return cdr_row{.callid = machine + "-00000001@" + bdate,
                 .machineid = machine,
                 .lineid = "1",
                 .orgnum = "801",
                 .desnum = dest,
                 .bdate = bdate,
                 .edate = bdate,
                 .attempts = 0,
                 .line = 0};
}

class StoreTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    dbdir_ = work_.path() + "/db";
    ASSERT_EQ(0, mkdir(dbdir_.c_str(), 0755));
    open_handler();
  }
  void open_handler()
  {
    h_ = new msghdlr{};
    h_->m_sock = -1;
    h_->m_wakefd = -1;
    ASSERT_EQ(0, create_cdr_database(h_, (dbdir_ + "/quentadb").c_str(), "cdrtbl"));
  }
  /* What the next start does with the files this one leaves. */
  void restart()
  {
    msghdlr_release(h_);
    open_handler();
    read_pending_calls(h_);
    retry_calls(h_);
  }
  void write_pending(const std::string &text) { std::ofstream(work_.path() + "/cdr.pending") << text; }
  void TearDown() override
  {
    if (h_)
      msghdlr_release(h_);
  }
  /* The database file disappears from under the handler and comes back. */
  void take_away() { ASSERT_EQ(0, rename(dbdir_.c_str(), (dbdir_ + ".away").c_str())); }
  void bring_back() { ASSERT_EQ(0, rename((dbdir_ + ".away").c_str(), dbdir_.c_str())); }
  std::vector<Row> rows() { return read_cdrs(dbdir_ + "/quentadb"); }
  std::string failed() { return slurp(work_.path() + "/cdr.failed"); }
  std::string pending() { return slurp(work_.path() + "/cdr.pending"); }

  WorkDir work_;
  std::string dbdir_;
  msghdlr *h_ = nullptr;
};

TEST_F(StoreTest, CallsWaitInOrderUntilTheDatabaseCanTakeThem)
{
  take_away();
  h_->m_ended = {call("A", "2024-01-01 10:00:00", "1"), call("A", "2024-01-01 10:00:05", "2")};
  store_ended_calls(h_);
  EXPECT_TRUE(h_->m_ended.empty());
  ASSERT_EQ(2u, h_->m_retry.size());
  EXPECT_EQ(cdr_line(h_->m_retry[0]) + cdr_line(h_->m_retry[1]), pending()) << "on disk at once";
  EXPECT_EQ(0u, msghdlr_unsaved_calls(h_)) << "a call in the pending file is safe";
  retry_calls(h_);
  ASSERT_EQ(2u, h_->m_retry.size()) << "still away: nothing is dropped";
  EXPECT_EQ(2, h_->m_retry.front().attempts);

  bring_back();
  // A call that ends now waits behind the older ones even though the
  // database could take it.
  h_->m_ended = {call("A", "2024-01-01 10:00:09", "3")};
  store_ended_calls(h_);
  EXPECT_EQ(3u, h_->m_retry.size());
  EXPECT_TRUE(rows().empty());
  retry_calls(h_);
  EXPECT_TRUE(h_->m_retry.empty());
  auto r = rows();
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ("1", r[0].desnum);
  EXPECT_EQ("2", r[1].desnum);
  EXPECT_EQ("3", r[2].desnum);
  EXPECT_EQ("", failed());
  EXPECT_EQ("", pending()) << "stored calls leave the file";
  EXPECT_NE(std::string::npos, work_.log().find("kept for the next try"));
  EXPECT_NE(std::string::npos, work_.log().find("stored after 3 tries"));
}

TEST_F(StoreTest, ALineIsFlaggedOnlyOnceItsCallIsSettled)
{
  h_->m_micount = 2;
  // two records of the calls' line (a flag rises only on the line its call was made on)
  for (int i = 0; i < 2; i++) {
    strcpy(h_->m_infos[i].m_machine_id, "D");
    h_->m_infos[i].m_line_id = 1;
  }
  take_away();
  cdr_row waiting = call("D", "2024-01-01 10:00:00", "1");
  h_->m_ended = {waiting};
  store_ended_calls(h_);
  EXPECT_EQ(0, h_->m_infos[0].m_flag) << "a call only in memory is not announced";
  retry_calls(h_);
  EXPECT_EQ(0, h_->m_infos[0].m_flag);

  bring_back();
  retry_calls(h_);
  EXPECT_EQ(1, h_->m_infos[0].m_flag);

  // a refused call id is settled in the failed file: that is announced too
  cdr_row again = waiting;
  again.line = 1;
  h_->m_ended = {again};
  store_ended_calls(h_);
  EXPECT_EQ(1, h_->m_infos[1].m_flag);
  EXPECT_NE("", failed());
}

TEST_F(StoreTest, ARefusedCallIdIsKeptInTheFailedFileOneLineEach)
{
  h_->m_ended = {call("B", "2024-01-01 10:00:00", "1")};
  store_ended_calls(h_);
  cdr_row odd = call("B", "2024-01-01 10:00:00", "a\\b\nc\rd");
  h_->m_ended = {odd, odd};
  store_ended_calls(h_);
  EXPECT_TRUE(h_->m_retry.empty());
  EXPECT_EQ(1u, rows().size());
  std::string line = "B-00000001@2024-01-01 10:00:00\tB\t1\t801\ta\\\\b\\nc\\rd\t2024-01-01 10:00:00\t"
                     "2024-01-01 10:00:00\t0\n";
  EXPECT_EQ(line + line, failed());
}

TEST_F(StoreTest, ACallThePendingFileCannotTakeStaysInMemoryUntilItCan)
{
  std::string file = work_.path() + "/cdr.pending";
  ASSERT_EQ(0, symlink("/dev/full", file.c_str()));
  take_away();
  h_->m_ended = {call("F", "2024-01-01 10:00:00", "9")};
  store_ended_calls(h_);
  ASSERT_EQ(1u, h_->m_retry.size());
  EXPECT_NE(std::string::npos, work_.log().find("cannot be written to cdr.pending: kept in memory only"));
  EXPECT_EQ(1u, msghdlr_unsaved_calls(h_));
  ASSERT_EQ(0, unlink(file.c_str()));
  retry_calls(h_);
  EXPECT_EQ(cdr_line(h_->m_retry.front()), pending()) << "the next tick writes it";
  EXPECT_EQ(0u, msghdlr_unsaved_calls(h_));
}

TEST_F(StoreTest, AFailedStoreIsLoggedOnceNamingTheCallAndWhy)
{
  take_away();
  cdr_row c = call("L", "2024-01-01 10:00:00", "1");
  size_t before = work_.log().size();
  h_->m_ended = {c};
  store_ended_calls(h_);
  retry_calls(h_);  // the next tick's failure, within the minute, adds nothing
  std::istringstream added(work_.log().substr(before));
  std::vector<std::string> told;
  for (std::string line; std::getline(added, line);)
    for (const char *mark : {c.callid.c_str(), "SQL error", "FAILED", "Can't open"})
      if (line.find(mark) != std::string::npos) {
        told.push_back(line);
        break;
      }
  ASSERT_EQ(1u, told.size()) << work_.log().substr(before);
  EXPECT_NE(std::string::npos, told[0].find(c.callid));
  EXPECT_NE(std::string::npos, told[0].find("unable to open database file")) << told[0];
}

TEST_F(StoreTest, ReleaseLeavesWhatStillWaitsInThePendingFile)
{
  take_away();
  h_->m_ended = {call("C", "2024-01-01 10:00:00", "7")};
  store_ended_calls(h_);
  ASSERT_EQ(1u, h_->m_retry.size());
  msghdlr_release(h_);
  h_ = nullptr;
  EXPECT_EQ("C-00000001@2024-01-01 10:00:00\tC\t1\t801\t7\t2024-01-01 10:00:00\t2024-01-01 10:00:00\t0\n", pending());
  EXPECT_EQ("", failed());
}

// "cdr.pending" as an earlier run left it: its calls are stored in order, and
// a line that is no call is kept in "cdr.failed" as it stood, unless it is the
// last line and a stop cut it short.
TEST_F(StoreTest, ThePendingFileIsReadBackWithoutLosingALine)
{
  auto line = [](const std::string &m, const std::string &dest) {
    return cdr_line(call(m, "2024-01-01 10:00:0" + dest, dest));
  };
  auto crlf = [](std::string l) { return l.insert(l.size() - 1, "\r"); };
  std::string lost_tab = line("M1", "2"), bad_escape = line("M1", "3"), cr_last = crlf(line("M4", "2"));
  cr_last.pop_back();
  lost_tab.erase(lost_tab.find('\t'), 1);
  bad_escape.insert(bad_escape.find("\t801"), "\\q");
  struct Case {
    std::string name, machine, file, failed;
    std::vector<std::string> stored;
  } cases[] = {
      {"damaged middle lines",
       "M1",
       line("M1", "1") + lost_tab + bad_escape + line("M1", "4"),
       lost_tab + bad_escape,
       {"1", "4"}},
      {"CRLF line ends",
       "M2",
       crlf(line("M2", "1")) + crlf(line("M2", "2")) + "\r\n" + crlf(line("M2", "3")),
       "",
       {"1", "2", "3"}},
      {"a cut last line", "M3", line("M3", "1") + line("M3", "2").substr(0, 40), "", {"1"}},
      {"a last line ended by CR alone", "M4", line("M4", "1") + cr_last, "", {"1", "2"}},
  };
  for (const Case &c : cases) {
    unlink((work_.path() + "/cdr.failed").c_str());
    write_pending(c.file);
    read_pending_calls(h_);
    retry_calls(h_);
    std::vector<std::string> stored;
    for (const Row &r : rows())
      if (r.machineid == c.machine)
        stored.push_back(r.desnum);
    EXPECT_EQ(c.stored, stored) << c.name;
    EXPECT_EQ(c.failed, failed()) << c.name;
    EXPECT_EQ("", pending()) << c.name;
  }
}

TEST_F(StoreTest, AnUnreadableLineStaysInThePendingFileUntilTheFailedFileTakesIt)
{
  std::string damaged = "no call\n";
  ASSERT_EQ(0, symlink("/dev/full", (work_.path() + "/cdr.failed").c_str()));
  write_pending(cdr_line(call("U", "2024-01-01 10:00:00", "1")) + damaged);
  read_pending_calls(h_);
  retry_calls(h_);
  EXPECT_EQ(1u, rows().size());
  EXPECT_EQ(damaged, pending());
  ASSERT_EQ(0, unlink((work_.path() + "/cdr.failed").c_str()));
  restart();
  EXPECT_EQ(damaged, failed());
  EXPECT_EQ("", pending());
  EXPECT_EQ(1u, rows().size());
}

}  // namespace
