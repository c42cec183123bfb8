// Shared fixture of the database suites: a fresh temporary directory holding
// the database file and the log, raw SQLite access that does not go through the
// layer under test, and helpers to build value lists and collect rows.
#ifndef TESTS_QUENTA_DBTEST_H
#define TESTS_QUENTA_DBTEST_H

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testkit.h"
#include "utils/debug.h"

namespace dbtest {

// A null-terminated list of texts over owned strings, as the layer takes them.
class TextList {
public:
  TextList(std::initializer_list<std::string> items) : items_(items) { build(); }
  explicit TextList(std::vector<std::string> items) : items_(std::move(items)) { build(); }
  TextList(const TextList &o) : items_(o.items_) { build(); }
  const char *const *get() const { return ptrs_.data(); }
  operator const char * const *() const { return get(); }

private:
  void build()
  {
    ptrs_.clear();
    for (const auto &s : items_)
      ptrs_.push_back(s.c_str());
    ptrs_.push_back(nullptr);
  }
  std::vector<std::string> items_;
  std::vector<const char *> ptrs_;
};

using Row = std::map<std::string, std::string>;

// Rows delivered by a select, keyed by column name (a repeated name keeps the
// later value), plus the raw order of the names of the first row.
struct Rows {
  std::vector<Row> rows;
  std::vector<std::string> names;
  bool saw_null = false;
  int stop_after = -1;  // callback asks to stop after this many rows
};

inline int collect_rows(void *param, int argc, char **argv, char **colnames)
{
  auto *r = static_cast<Rows *>(param);
  Row row;
  for (int i = 0; i < argc; i++) {
    if (!argv[i])
      r->saw_null = true;
    row[colnames[i]] = argv[i] ? argv[i] : "";
    if (r->rows.empty())
      r->names.push_back(colnames[i]);
  }
  r->rows.push_back(row);
  return r->stop_after >= 0 && (int)r->rows.size() >= r->stop_after ? 1 : 0;
}

inline std::vector<std::string> cdr_values(const std::string &callid, const std::string &machine, int line,
                                           int flag = 0)
{
  return {callid,
          machine,
          std::to_string(line),
          "800100",
          "0085212345678",
          "2024-03-01 10:00:00",
          "2024-03-01 10:02:05",
          std::to_string(flag)};
}

class DbTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_FALSE(dir_.empty());
    db_ = dir_ + "/quentadb";
    log_ = dir_ + "/app.log";
    saved_fd_ = utils::logfd;
    ASSERT_EQ(0, utils::set_log_file(log_.c_str()));
    utils::set_log_rotation(nullptr, 0);
  }

  void TearDown() override
  {
    close(utils::logfd);
    utils::logfd = saved_fd_;
  }

  std::string log() const { return testkit::slurp(log_); }

  // Raw statements on the file, outside the layer and its lock.
  void raw_exec(const std::string &sql) const
  {
    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(db_.c_str(), &db));
    char *err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    std::string msg = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    ASSERT_EQ(SQLITE_OK, rc) << sql << ": " << msg;
  }

  // One column of every row of a query; null values read as "<null>".
  std::vector<std::string> raw_column(const std::string &sql, int col = 0) const
  {
    std::vector<std::string> out;
    sqlite3 *db = nullptr;
    if (sqlite3_open(db_.c_str(), &db) != SQLITE_OK) {
      sqlite3_close(db);
      ADD_FAILURE() << "cannot open " << db_;
      return out;
    }
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        const unsigned char *t = sqlite3_column_text(st, col);
        int n = sqlite3_column_bytes(st, col);
        out.push_back(t ? std::string(reinterpret_cast<const char *>(t), (size_t)n) : "<null>");
      }
    } else {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
  }

  long raw_count(const std::string &table) const
  {
    auto v = raw_column("select count(*) from " + table);
    return v.empty() ? -1 : std::stol(v[0]);
  }

  testkit::TempDir tmp_{"quentadb"};
  std::string dir_ = tmp_.path();
  std::string db_, log_;
  int saved_fd_ = 2;
};

}  // namespace dbtest

#endif
