// The console's line monitor in a full shop: the window thread's time for one
// poll of 100 reported lines (10 machines of 10 lines, 20 of them in a call)
// on a database of 1,000,000 calls, with the repaint the poll causes. Three
// cases: a poll that only refreshes the rows, a poll that finds one ended call
// (its line's amount due is priced afresh), and the first poll, which makes
// the 100 rows. The engine runs for real in a temporary directory; gateway
// lines on 127.0.0.1 keep reporting from a thread of their own, as gateways do.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "quenta/quenta.h"

#include "MainFrm.h"
#include "console_lines.h"

namespace {

using namespace bench;

constexpr int kInCall = 20;  // lines 0..19 are in a call all the time
constexpr int kCalls = 1000000;

Gateways *g_gateways = nullptr;

std::string DateText(time_t t)
{
  struct tm tm;
  localtime_r(&t, &tm);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

/* The history of the 100 lines over the last three years: every call settled
 * and billed except the newest of each line. */
bool BuildDatabase(const std::string &path)
{
  sqlite3 *db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
    return false;
  sqlite3_exec(db,
               "pragma synchronous=off; begin;"
               "create table cdrtbl(callid varchar(128), machineid varchar(128), lineid smallint,"
               " orgnum varchar(128), desnum varchar(128), bdate varchar(128), edate varchar(128),"
               " flag smallint, constraint key1 unique(callid));"
               "create table billtbl(callid varchar(64), calltime smallint, period varchar(128),"
               " count real, admin varchar(64), date varchar(128));",
               nullptr, nullptr, nullptr);
  sqlite3_stmt *cdr = nullptr, *bill = nullptr;
  sqlite3_prepare_v2(db, "insert into cdrtbl values(?,?,?,?,?,?,?,?)", -1, &cdr, nullptr);
  sqlite3_prepare_v2(db, "insert into billtbl values(?,?,?,?,?,?)", -1, &bill, nullptr);
  const int lines = kMachines * kLines;
  const time_t now = time(nullptr) - 3600;
  const time_t first = now - 3L * 365 * 86400;
  bool ok = cdr && bill;
  for (int i = 0; ok && i < kCalls; i++) {
    const int line = i % lines;
    const time_t start = first + (now - first) / kCalls * i;
    const std::string machine = MachineOf(line);
    const std::string bdate = DateText(start);
    char callid[128];
    snprintf(callid, sizeof callid, "%s-%08d@%s", machine.c_str(), line % kLines, bdate.c_str());
    const bool settled = i < kCalls - lines;
    sqlite3_bind_text(cdr, 1, callid, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(cdr, 2, machine.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(cdr, 3, line % kLines);
    sqlite3_bind_text(cdr, 4, "8001", -1, SQLITE_STATIC);
    sqlite3_bind_text(cdr, 5, "0085220000000", -1, SQLITE_STATIC);
    sqlite3_bind_text(cdr, 6, bdate.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(cdr, 7, DateText(start + 95).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(cdr, 8, settled ? 1 : 0);
    ok = sqlite3_step(cdr) == SQLITE_DONE;
    sqlite3_reset(cdr);
    if (settled) {
      sqlite3_bind_text(bill, 1, callid, -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(bill, 2, 95);
      sqlite3_bind_text(bill, 3, "0.00 in 0 second, handling charge 0.00 total 0.60", -1, SQLITE_STATIC);
      sqlite3_bind_double(bill, 4, 0.6);
      sqlite3_bind_text(bill, 5, "admin", -1, SQLITE_STATIC);
      sqlite3_bind_text(bill, 6, bdate.c_str(), -1, SQLITE_TRANSIENT);
      ok = sqlite3_step(bill) == SQLITE_DONE;
      sqlite3_reset(bill);
    }
  }
  sqlite3_finalize(cdr);
  sqlite3_finalize(bill);
  ok = ok && sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

void BM_PollOfRefreshedRows(benchmark::State &state)
{
  OpenConsole();
  PollAndPaint();
  for (auto _ : state)
    PollAndPaint();
  state.counters["rows"] = Forms.MainForm->Lines()->LineCount();
  ReleaseForms();
}

void BM_PollWithAnEndedCall(benchmark::State &state)
{
  OpenConsole();
  PollAndPaint();
  int line = kInCall;
  for (auto _ : state) {
    state.PauseTiming();
    const TMainForm *main = Forms.MainForm;
    const int row = main->Lines()->FindLine(QByteArray::fromStdString(MachineOf(line)), line % kLines);
    // Each line already shows its older unsettled call: red, with an amount.
    const QString before = main->Lines()->index(row, 5).data().toString();
    if (!g_gateways->endedCall(line, "0085290000001")) {
      state.SkipWithError("the station did not answer");
      break;
    }
    state.ResumeTiming();
    PollAndPaint();
    state.PauseTiming();
    if (main->Lines()->index(row, 5).data().toString() == before) {
      state.SkipWithError("the ended call did not reach the amount due");
      break;
    }
    line++;
    state.ResumeTiming();
  }
  ReleaseForms();
}

void BM_FirstPollMakesTheRows(benchmark::State &state)
{
  for (auto _ : state) {
    state.PauseTiming();
    QFile::remove(QStringLiteral("linemap"));
    OpenConsole();
    state.ResumeTiming();
    PollAndPaint();
    state.PauseTiming();
    const bool complete = Forms.MainForm->Lines()->LineCount() == kMachines * kLines;
    ReleaseForms();
    if (!complete) {
      state.SkipWithError("rows missing");
      break;
    }
    state.ResumeTiming();
  }
}

BENCHMARK(BM_PollOfRefreshedRows)->Unit(benchmark::kMillisecond)->MinTime(2.0);
// One ended call per line that is not in a call, each line once: call ids
// carry the start second, and a line's second call would meet its first.
BENCHMARK(BM_PollWithAnEndedCall)->Unit(benchmark::kMillisecond)->Iterations(kMachines *kLines - kInCall);
BENCHMARK(BM_FirstPollMakesTheRows)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char *argv[])
{
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);

  QTemporaryDir dir;
  if (!dir.isValid() || !QDir::setCurrent(dir.path()))
    return 1;
  std::fprintf(stderr, "building %d calls in %s ...\n", kCalls, qPrintable(dir.path()));
  if (!BuildDatabase(dir.filePath(QStringLiteral("quentadb")).toStdString()))
    return 1;
  QFile rates(QStringLiteral("rateinfo"));
  if (!rates.open(QIODevice::WriteOnly))
    return 1;
  rates.write("HK|00852|0.00|00:00:00-0.30|180:0.60|0|60\n");
  rates.close();
  // The first start on the file builds the engine's indexes.
  if (quenta_init() != 0)
    return 1;
  Gateways gateways(kInCall, [](int line) { return "008522" + std::to_string(1000000 + line); });
  g_gateways = &gateways;
  gateways.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  dir.remove();
  // The engine's thread has no stop.
  std::fflush(nullptr);
  _exit(0);
}
