// Statements from two threads under the database lock, statements run from
// inside a row callback, and a database file that another connection holds
// locked for a while: no row may be lost in any of them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <string>
#include <thread>

#include "dbtest.h"
#include "quenta/records.h"
#include "quenta/sqlite_dbent.h"

using dbtest::cdr_values;
using dbtest::DbTest;
using dbtest::Rows;
using dbtest::TextList;

namespace {

class DbLockTest : public DbTest {
protected:
  dbent *open_entity(bool bills)
  {
    dbent *e = create_sqlite_dbent(db_.c_str());
    EXPECT_NE(nullptr, e);
    EXPECT_EQ(0, dbent_create(e, "cdrtbl", gst_cdr_infos));
    if (bills) {
      EXPECT_EQ(0, dbent_create(e, "billtbl", gst_bill_infos));
    }
    return e;
  }
};

// What the console's checkout does with each unsettled call it is handed:
// look up the call's bills with a further statement while the select runs.
struct Checkout {
  dbent *query;
  std::vector<std::string> callids;
  int nested_failures = 0;
};

int checkout_row(void *param, int argc, char **argv, char **colnames)
{
  auto *c = static_cast<Checkout *>(param);
  for (int i = 0; i < argc; i++) {
    if (std::string(colnames[i]) != "callid")
      continue;
    c->callids.push_back(argv[i]);
    Rows bills;
    TextList cond{"callid='" + std::string(argv[i]) + "'"};
    if (dbent_select(c->query, "billtbl", cond, dbtest::collect_rows, &bills) != 0 || !bills.rows.empty())
      c->nested_failures++;
  }
  return 0;
}

TEST_F(DbLockTest, HandlerInsertsWhileConsoleSettlesAndNothingIsLost)
{
  const int kCalls = 100;
  dbent *handler = open_entity(false);
  dbent *console = open_entity(true);
  ASSERT_TRUE(handler && console);

  std::atomic<bool> done{false};
  std::atomic<int> insert_failures{0};
  std::thread gateway([&] {
    for (int i = 0; i < kCalls; i++) {
      auto row = cdr_values("gw-" + std::to_string(i), "gw", i % 4);
      if (dbent_insert(handler, "cdrtbl", TextList(row)) != 0)
        insert_failures++;
    }
    done = true;
  });

  std::set<std::string> settled;
  int nested_failures = 0;
  bool last_pass = false;
  while (!last_pass) {
    last_pass = done.load();
    Checkout c{console, {}, 0};
    ASSERT_EQ(0, dbent_select(console, "cdrtbl", TextList{"flag=0"}, checkout_row, &c));
    nested_failures += c.nested_failures;
    for (const auto &id : c.callids) {
      EXPECT_TRUE(settled.insert(id).second) << id << " handed out twice";
      std::vector<std::string> bill = {id, "60", "p", "1.00", "li", "2024-03-01 12:00:00"};
      EXPECT_EQ(0, dbent_insert(console, "billtbl", TextList(bill)));
      EXPECT_EQ(0, dbent_update(console, "cdrtbl", TextList{"callid='" + id + "'"}, TextList{"flag=1"}));
    }
  }
  gateway.join();
  dbent_release(handler);
  dbent_release(console);

  EXPECT_EQ(0, insert_failures.load());
  EXPECT_EQ(0, nested_failures);
  EXPECT_EQ((size_t)kCalls, settled.size());
  EXPECT_EQ(kCalls, raw_count("cdrtbl where flag=1"));
  EXPECT_EQ(kCalls, raw_count("billtbl"));
}

TEST_F(DbLockTest, StatementsWaitForAnotherConnectionsWriteLock)
{
  dbent *handler = open_entity(false);
  dbent *console = open_entity(false);
  ASSERT_TRUE(handler && console);
  const auto hold = std::chrono::seconds(2);

  std::promise<void> locked;
  std::thread holder([&] {
    sqlite3 *db = nullptr;
    int rc = sqlite3_open(db_.c_str(), &db);
    if (rc == SQLITE_OK)
      rc = sqlite3_exec(db,
                        "begin exclusive; insert into cdrtbl values('held', 'x', 1, '', '', "
                        "'', '', 0)",
                        nullptr, nullptr, nullptr);
    locked.set_value();
    if (rc == SQLITE_OK) {
      std::this_thread::sleep_for(hold);
      rc = sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    EXPECT_EQ(SQLITE_OK, rc);
  });
  locked.get_future().wait();

  auto start = std::chrono::steady_clock::now();
  std::atomic<int> select_rc{1};
  Rows seen;
  std::thread reader([&] { select_rc = dbent_select(console, "cdrtbl", nullptr, dbtest::collect_rows, &seen); });
  int insert_rc = dbent_insert(handler, "cdrtbl", TextList(cdr_values("waited", "gw", 1)));
  int insert_code = sqlite_last_errcode();
  reader.join();
  auto waited = std::chrono::steady_clock::now() - start;
  holder.join();
  dbent_release(handler);
  dbent_release(console);

  EXPECT_EQ(0, insert_rc);
  EXPECT_EQ(SQLITE_OK, insert_code);
  EXPECT_EQ(0, select_rc.load());
  EXPECT_FALSE(seen.rows.empty());                           // it read after the holder's commit
  EXPECT_GE(waited, hold - std::chrono::milliseconds(500));  // the lock was really in the way
  EXPECT_EQ((std::vector<std::string>{"held", "waited"}), raw_column("select callid from cdrtbl order by callid"));
}

TEST_F(DbLockTest, FailuresLeaveTheLockFreeAndTheirCodeOnTheirThread)
{
  dbent *e = open_entity(false);
  ASSERT_NE(nullptr, e);
  int other_code = -1;
  std::thread other([&] {
    EXPECT_EQ(0, dbent_insert(e, "cdrtbl", TextList(cdr_values("a", "m", 1))));
    other_code = sqlite_last_errcode();
  });
  other.join();

  auto lock_is_free = [] {
    bool free = false;
    std::thread t([&] {
      free = g_cs.try_lock();
      if (free)
        g_cs.unlock();
    });
    t.join();
    return free;
  };
  Rows stop;
  stop.stop_after = 1;
  EXPECT_EQ(-1, dbent_select(e, "cdrtbl", nullptr, dbtest::collect_rows, &stop));
  EXPECT_TRUE(lock_is_free());
  EXPECT_EQ(-1, dbent_select(e, "nosuchtable", nullptr, dbtest::collect_rows, &stop));
  EXPECT_EQ(SQLITE_ERROR, sqlite_last_errcode());
  EXPECT_TRUE(lock_is_free());
  EXPECT_EQ(-1, sqlite_exec_cmd((dir_ + "/missing/db").c_str(), "select 1", nullptr, nullptr));
  EXPECT_EQ(1, sqlite_exec_cmd2((dir_ + "/missing/db").c_str(), "select 1", nullptr, nullptr));
  EXPECT_EQ(SQLITE_CANTOPEN, sqlite_last_errcode());
  EXPECT_TRUE(lock_is_free());
  EXPECT_EQ(SQLITE_OK, other_code);
  dbent_release(e);
}

}  // namespace
