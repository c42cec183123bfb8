// The two lookups a long-running station makes on a large database: the
// unsettled calls of one line (every time the line list changes) and the
// one-day statistics report joining calls with their bills. Both run through
// the database entity, on a file of 1,000,000 call records and 1,000,000 bills,
// once on a file without the secondary indexes and once on a copy that gained
// them by being described, side by side. The files are built here, in one
// transaction, in a temporary directory that is removed at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "quenta/records.h"
#include "quenta/sqlite_dbent.h"
#include "quenta/sqlite_tblent.h"
#include "utils/debug.h"

namespace {

constexpr int kCalls = 1000000;
constexpr int kUnsettled = 200;  // the newest calls, not yet settled
constexpr int kMachines = 24;
constexpr int kLines = 4;
constexpr int kCallsPerDay = 1000;
constexpr int kReportDay = 500;

std::string g_dir;
std::string g_plain;    // the file as an earlier release left it: no secondary indexes
std::string g_indexed;  // a copy that gained them on its first start
double g_index_seconds = 0;

std::string date_text(time_t t)
{
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

time_t day_start(int day)
{
  struct tm tm = {};
  tm.tm_year = 2021 - 1900;
  tm.tm_mday = 1;
  return timegm(&tm) + (time_t)day * 86400;
}

bool check(sqlite3 *db, int rc, const char *what)
{
  if (rc == SQLITE_OK || rc == SQLITE_DONE)
    return true;
  fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
  return false;
}

// Calls spread evenly over 1000 days across 96 lines, each with a bill; the
// newest kUnsettled calls are unsettled and their bills are missing, so the
// bills' count is made up by storing the oldest kUnsettled bills a second time.
bool build_file(const std::string &path)
{
  sqlite3 *db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK;
  ok = ok && check(db, sqlite3_exec(db, "pragma synchronous=off; begin", nullptr, nullptr, nullptr), "begin");
  std::string cdr_create = sqlite_tblent_create_cmd("cdrtbl", gst_cdr_infos);
  std::string bill_create = sqlite_tblent_create_cmd("billtbl", gst_bill_infos);
  ok = ok && check(db, sqlite3_exec(db, cdr_create.c_str(), nullptr, nullptr, nullptr), "cdrtbl");
  ok = ok && check(db, sqlite3_exec(db, bill_create.c_str(), nullptr, nullptr, nullptr), "billtbl");

  sqlite3_stmt *cdr = nullptr, *bill = nullptr;
  std::string cdr_insert = sqlite_tblent_insert_cmd("cdrtbl", 8);
  std::string bill_insert = sqlite_tblent_insert_cmd("billtbl", 6);
  ok = ok && check(db, sqlite3_prepare_v2(db, cdr_insert.c_str(), -1, &cdr, nullptr), "prepare");
  ok = ok && check(db, sqlite3_prepare_v2(db, bill_insert.c_str(), -1, &bill, nullptr), "prepare");

  const time_t base = day_start(0);
  auto call_id = [&](int i, std::string *machine, int *line, std::string *bdate, std::string *edate) {
    int l = i % (kMachines * kLines);
    char m[16];
    snprintf(m, sizeof m, "GW%02d", l / kLines);
    *machine = m;
    *line = l % kLines;
    time_t start = base + (time_t)i * 86400 / kCallsPerDay;
    *bdate = date_text(start);
    *edate = date_text(start + 30 + i % 571);
    char id[128];
    snprintf(id, sizeof id, "%s-%08d@%s", m, *line, bdate->c_str());
    return std::string(id);
  };

  std::string machine, bdate, edate;
  int line = 0;
  for (int i = 0; ok && i < kCalls; i++) {
    std::string id = call_id(i, &machine, &line, &bdate, &edate);
    std::string desnum = "00852" + std::to_string(20000000 + i % 7919);
    sqlite3_bind_text(cdr, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(cdr, 2, machine.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(cdr, 3, line);
    sqlite3_bind_text(cdr, 4, "800100", -1, SQLITE_STATIC);
    sqlite3_bind_text(cdr, 5, desnum.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(cdr, 6, bdate.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(cdr, 7, edate.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(cdr, 8, i >= kCalls - kUnsettled ? 0 : 1);
    ok = check(db, sqlite3_step(cdr), "insert cdrtbl");
    sqlite3_reset(cdr);

    int billed = i < kCalls - kUnsettled ? i : i - (kCalls - kUnsettled);
    if (billed != i)
      id = call_id(billed, &machine, &line, &bdate, &edate);
    sqlite3_bind_text(bill, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(bill, 2, 30 + billed % 571);
    sqlite3_bind_text(bill, 3, "08:00:00-18:00:00 0.30/60s x3; 18:00:00-08:00:00 0.20/60s x2", -1, SQLITE_STATIC);
    sqlite3_bind_double(bill, 4, 0.3 * (1 + billed % 10));
    sqlite3_bind_text(bill, 5, "zhang", -1, SQLITE_STATIC);
    sqlite3_bind_text(bill, 6, edate.c_str(), -1, SQLITE_TRANSIENT);
    ok = ok && check(db, sqlite3_step(bill), "insert billtbl");
    sqlite3_reset(bill);
  }
  sqlite3_finalize(cdr);
  sqlite3_finalize(bill);
  ok = ok && check(db, sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), "commit");
  sqlite3_close(db);
  return ok;
}

// The first start of this release on an old file: describing both tables adds
// the indexes to the existing rows.
bool index_copy()
{
  auto start = std::chrono::steady_clock::now();
  dbent *e = create_sqlite_dbent(g_indexed.c_str());
  bool ok = e && dbent_create(e, "cdrtbl", gst_cdr_infos) == 0 && dbent_create(e, "billtbl", gst_bill_infos) == 0;
  if (e)
    dbent_release(e);
  g_index_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return ok;
}

struct Tally {
  long rows = 0;
  double total = 0;
};

int count_row(void *param, int argc, char **argv, char **colnames)
{
  auto *t = static_cast<Tally *>(param);
  t->rows++;
  for (int i = 0; i < argc; i++)
    if (colnames[i][0] == 'c' && colnames[i][1] == 'o')  // "count"
      t->total += atof(argv[i]);
  return 0;
}

const std::string &file_for(const benchmark::State &state)
{
  return state.range(0) ? g_indexed : g_plain;
}

// Only a query entity: it describes nothing, so the plain file stays as it is.
void BM_UnsettledCallsOfOneLine(benchmark::State &state)
{
  dbent *e = create_sqlite_dbent(file_for(state).c_str());
  const char *conds[] = {"machineid='GW07'", "lineid=2", "flag=0", nullptr};
  long rows = 0;
  for (auto _ : state) {
    Tally t;
    if (dbent_select(e, "cdrtbl", conds, count_row, &t) != 0) {
      state.SkipWithError("select failed");
      break;
    }
    rows = t.rows;
  }
  state.counters["rows"] = (double)rows;
  dbent_release(e);
}

void BM_OneDayReport(benchmark::State &state)
{
  dbent *e = create_sqlite_dbent(file_for(state).c_str());
  std::string day = date_text(day_start(kReportDay)).substr(0, 10);
  std::string from = "cdrtbl.bdate>='" + day + " 00:00:00'";
  std::string to = "cdrtbl.bdate<='" + day + " 23:59:59'";
  const char *conds[] = {from.c_str(), to.c_str(), "billtbl.callid=cdrtbl.callid", nullptr};
  long rows = 0;
  for (auto _ : state) {
    Tally t;
    if (dbent_select(e, nullptr, conds, count_row, &t) != 0) {
      state.SkipWithError("select failed");
      break;
    }
    rows = t.rows;
  }
  state.counters["rows"] = (double)rows;
  dbent_release(e);
}

void BM_DescribeExistingFile(benchmark::State &state)
{
  for (auto _ : state)
    state.SetIterationTime(g_index_seconds);
}

BENCHMARK(BM_UnsettledCallsOfOneLine)->ArgName("indexed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneDayReport)->ArgName("indexed")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DescribeExistingFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;

  char tmpl[] = "/tmp/quenta-bench-dbXXXXXX";
  if (!mkdtemp(tmpl)) {
    perror("mkdtemp");
    return 1;
  }
  g_dir = tmpl;
  g_plain = g_dir + "/plain.db";
  g_indexed = g_dir + "/indexed.db";
  // Every statement logs a few lines; they are not what is measured.
  utils::set_log_file("/dev/null");
  utils::set_log_rotation(nullptr, 0);

  int rc = 1;
  fprintf(stderr, "building %d calls and %d bills in %s ...\n", kCalls, kCalls, g_dir.c_str());
  std::error_code ec;
  if (build_file(g_plain) && std::filesystem::copy_file(g_plain, g_indexed, ec) && index_copy()) {
    benchmark::RunSpecifiedBenchmarks();
    rc = 0;
  } else {
    fprintf(stderr, "could not build the benchmark files %s\n", ec.message().c_str());
  }
  benchmark::Shutdown();
  std::filesystem::remove_all(g_dir, ec);
  return rc;
}
