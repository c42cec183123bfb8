// The statistics report of a shop with three years of history: the window
// thread's time for a one-month query ("确定") on a database of 1,000,000
// settled calls, grouped each way, with the chart and the repaint the query
// causes; the engine's grouped query alone; the month's handovers beside
// their bills (the tab "交班记录"); and, for comparison, the same month listed
// call by call as the report always did.
//
// The calls are spread evenly over three years (1095 days, so a day holds
// about 913 calls and a month about 28,000) on 96 lines of 24 machines, to
// numbers of 40 rate rules, settled by 4 operators in three shifts a day; the
// month queried is the 25th of the 36. Every call has its bill. The engine
// runs for real in a temporary directory, on its own indexes.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "quenta/quenta.h"

#include "console_lines.h"

#include "Forms.h"
#include "Login.h"
#include "MainFrm.h"
#include "Modal.h"
#include "Report.h"

namespace {

bool Exec(sqlite3 *db, const std::string &sql)
{
  char *err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) == SQLITE_OK)
    return true;
  std::fprintf(stderr, "%s: %s\n", sql.substr(0, 60).c_str(), err ? err : "?");
  sqlite3_free(err);
  return false;
}

constexpr int kCalls = 1000000;
constexpr int kDays = 1095;
constexpr int kRules = 40;
constexpr int kQueriedMonth = 24;  // months from the first, from 0

std::string g_from, g_to;  // the queried month

/* The history, made by SQLite itself: call i begins i * 94.6 s after the first
 * midnight, lasts 30 to 600 s, dials "0<rule><number>" and is settled by the
 * operator of its shift (00-08, 08-16, 16-24; the fourth stands in on Sundays)
 * at its end. Three handovers a day hand over what was billed in the shift. */
bool BuildHistory(const std::string &path, const std::string &first)
{
  sqlite3 *db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK;
  const std::string n =
      "with recursive n(i) as (select 0 union all select i + 1 from n where i < " + std::to_string(kCalls - 1) + ") ";
  const std::string step = std::to_string(kDays * 86400.0 / kCalls);
  ok = ok && Exec(db, "pragma synchronous=off; pragma journal_mode=off; begin");
  ok = ok && Exec(db, "create table cdrtbl(callid varchar(128), machineid varchar(128), lineid smallint, "
                      "orgnum varchar(128), desnum varchar(128), bdate varchar(128), edate varchar(128), "
                      "flag smallint, constraint key1 unique(callid))");
  ok = ok && Exec(db, "create table billtbl(callid varchar(64), calltime smallint, period varchar(128), "
                      "count real, admin varchar(64), date varchar(128))");
  ok = ok && Exec(db, "create table shifttbl(bdate varchar(128), edate varchar(128), "
                      "outgoing varchar(64), takings real, incoming varchar(64))");
  ok = ok && Exec(db, n +
                          ", c as (select i, printf('GW%02d', (i % 96) / 4) as m, i % 4 as l, "
                          "datetime('" +
                          first + "', '+' || cast(i * " + step +
                          " as integer) || ' seconds') as b, "
                          "30 + (i * 7919) % 571 as d from n) "
                          "insert into cdrtbl select printf('%s-%08d@%s', m, l, b), m, l, '8001', "
                          "printf('0%02d%08d', i % " +
                          std::to_string(kRules) +
                          ", (i * 104729) % 100000000), "
                          "b, datetime(b, '+' || d || ' seconds'), 1 from c");
  ok = ok && Exec(db, "insert into billtbl select callid, "
                      "cast(strftime('%s', edate) - strftime('%s', bdate) as integer), "
                      "'0.00 in 0 second, handling charge 0.00 total', "
                      "round(0.3 * ((strftime('%s', edate) - strftime('%s', bdate) + 59) / 60), 2), "
                      "case when strftime('%w', bdate) = '0' then 'sunday' "
                      "else 'op' || (cast(strftime('%H', bdate) as integer) / 8) end, edate from cdrtbl");
  // the engine's own index, which the takings of the handovers need too
  ok = ok && Exec(db, "create index billtbl_admin on billtbl(admin, date, count)");
  ok = ok && Exec(db, "with recursive s(k) as (select 0 union all select k + 1 from s where k < " +
                          std::to_string(kDays * 3 - 1) + "), t as (select datetime('" + first +
                          "', '+' || (k * 8) || ' hours') as b, datetime('" + first +
                          "', '+' || "
                          "((k + 1) * 8) || ' hours') as e from s) "
                          "insert into shifttbl select b, e, o, (select total(count) from billtbl "
                          "where admin = x.o and date >= x.b and date <= x.e), 'next' from (select b, e, "
                          "case when strftime('%w', b) = '0' then 'sunday' "
                          "else 'op' || (cast(strftime('%H', b) as integer) / 8) end as o from t) as x");
  ok = ok && Exec(db, "commit");
  sqlite3_close(db);
  return ok;
}

void OpenReport()
{
  bench::OpenConsole();
  Forms.MainForm->findChild<QAction *>(QStringLiteral("N8"))->trigger();
  QCoreApplication::processEvents();
}

/* One month, grouped as the argument says (0: the calls one by one). */
void BM_OneMonthReport(benchmark::State &state)
{
  OpenReport();
  TReportFrm *report = Forms.ReportFrm;
  report->GroupBy->setCurrentIndex(static_cast<int>(state.range(0)));
  const QByteArray from = QByteArray::fromStdString(g_from), to = QByteArray::fromStdString(g_to);
  for (auto _ : state) {
    report->RunReport(from, to);
    // Until nothing is left: the chart's repaint is posted from the first
    // round of events, and the window thread pays for it before it is free.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1000);
  }
  const bool grouped = state.range(0) != 0;
  QTreeWidget *list = grouped ? report->GroupTable : report->ReportTable;
  state.counters["rows"] = list->topLevelItemCount();
  state.SetLabel(report->Info->text().toStdString());
  ReleaseForms();
}

/* The engine's part alone: the grouped query, no window. */
void BM_GroupedQuery(benchmark::State &state)
{
  const QByteArray from = QByteArray::fromStdString(g_from), to = QByteArray::fromStdString(g_to);
  const auto by = static_cast<ReportGrouping>(state.range(0));
  ReportSummary summary;
  for (auto _ : state) {
    if (!QueryReportSummary(from, to, by, LineNames(), &summary)) {
      state.SkipWithError("query failed");
      break;
    }
  }
  state.counters["groups"] = summary.groups.size();
  state.counters["calls"] = summary.calls;
}

/* The handovers of the month beside their bills: what showing the tab
 * "交班记录" reads. */
void BM_ShiftHistory(benchmark::State &state)
{
  const QByteArray from = QByteArray::fromStdString(g_from), to = QByteArray::fromStdString(g_to);
  QList<ShiftRow> shifts;
  for (auto _ : state) {
    if (!QueryShifts(from, to, &shifts)) {
      state.SkipWithError("query failed");
      break;
    }
  }
  state.counters["shifts"] = shifts.size();
}

BENCHMARK(BM_GroupedQuery)->ArgName("grouping")->DenseRange(1, 4)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ShiftHistory)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OneMonthReport)->ArgName("grouping")->DenseRange(1, 4)->Unit(benchmark::kMillisecond)->MinTime(2.0);
// The ungrouped list makes a row per call: for comparison only.
BENCHMARK(BM_OneMonthReport)->ArgName("grouping")->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char *argv[])
{
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);

  QTemporaryDir dir;
  if (!dir.isValid() || !QDir::setCurrent(dir.path()))
    return 1;
  const QDate first = QDate::currentDate().addDays(-kDays);
  const QDate month = QDate(first.year(), first.month(), 1).addMonths(kQueriedMonth);
  g_from = month.toString(QStringLiteral("yyyy-MM-dd 00:00:00")).toStdString();
  g_to = month.addMonths(1).addDays(-1).toString(QStringLiteral("yyyy-MM-dd 23:59:59")).toStdString();
  std::fprintf(stderr, "building %d calls over %d days in %s; the month %s .. %s ...\n", kCalls, kDays,
               qPrintable(dir.path()), g_from.c_str(), g_to.c_str());
  if (!BuildHistory(dir.filePath(QStringLiteral("quentadb")).toStdString(),
                    first.toString(QStringLiteral("yyyy-MM-dd")).toStdString()))
    return 1;
  QFile rates(QStringLiteral("rateinfo"));
  if (!rates.open(QIODevice::WriteOnly))
    return 1;
  rates.write(".default||0.00|0:00:00-0.30|0:0.00|0|60\n");
  for (int r = 0; r < kRules; r++)
    rates.write(
        QStringLiteral("R%1|0%2|0.00|0:00:00-0.30|0:0.00|0|60\n").arg(r).arg(r, 2, 10, QLatin1Char('0')).toLatin1());
  rates.close();
  // The first start on the file builds the engine's indexes. The rate
  // parser prints every rule it reads: not wanted among the figures.
  std::fflush(stdout);
  const int out = dup(1);
  const bool started = std::freopen("/dev/null", "w", stdout) && quenta_init() == 0;
  std::fflush(stdout);
  dup2(out, 1);
  close(out);
  if (!started) {
    std::fprintf(stderr, "quenta_init failed: is the gateway port %d free?\n", SRV_PORT);
    return 1;
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  dir.remove();
  // The engine's thread has no stop.
  std::fflush(nullptr);
  _exit(0);
}
