// The running cost of calls in progress in a full shop: every one of the 100
// lines (10 machines of 10) is in a call to a number under a 50,000-rule deck,
// and each poll of the line monitor prices all 100 as if they ended then.
// Cases: the pricing alone, as the poll does it for each line (the engine's
// export and the console's copy of its bill), for calls of a few seconds and
// of 13 h 20 min over two period starts; the whole poll with its repaint, at
// the real moment and with the poll's moment set 3 h 10 min ahead. The engine
// runs for real in a temporary directory with an empty database; the gateway
// lines keep reporting from a thread of their own.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "quenta/quenta.h"

#include "Calls.h"
#include "LineText.h"
#include "MainFrm.h"
#include "console_lines.h"
#include "rate_deck.h"

namespace {

using namespace bench;

constexpr int kDeckRules = 50000;
constexpr int kAhead = 3 * 3600 + 600;  // "three hours": 3 h 10 min

std::vector<std::string> g_numbers;  // what each line dials

/* The numbers of the calls in progress as the engine reports them. */
std::vector<std::string> g_running;

void CollectRunning(const char *, int, const char *state, const char *, const char *desnum, const char *, int)
{
  if (std::string(state) == "CONNECTED")
    g_running.push_back(desnum);
}

QDateTime PollMoment(const benchmark::State &state)
{
  return QDateTime::currentDateTime().addSecs(state.range(0) ? kAhead : 0);
}

/* The numbers the engine reports for the 100 calls, each priced from 06:50:00
 * to five seconds later, or to 20:10:00 (three stretches). */
void BM_PricingOfCallsInProgress(benchmark::State &state)
{
  g_running.clear();
  quenta_getStatus(CollectRunning);
  if (g_running.size() != (size_t)(kMachines * kLines)) {
    state.SkipWithError("not every line is in a call");
    return;
  }
  const char *begin = "2024-03-01 06:50:00";
  const QByteArray end = state.range(0) ? "2024-03-01 20:10:00" : "2024-03-01 06:50:05";
  for (auto _ : state) {
    for (const std::string &dialled : g_running) {
      std::optional<bill_info> bill = PriceCallSoFar(dialled.c_str(), begin, end);
      benchmark::DoNotOptimize(bill);
    }
  }
  state.counters["calls"] = (double)g_running.size();
}

void BM_PollOfCallsInProgress(benchmark::State &state)
{
  OpenConsole();
  TMainForm *main = Forms.MainForm;
  // A second later at every poll, as the timer's: each row's call time and
  // cost change and are painted anew.
  QDateTime moment = PollMoment(state);
  main->PollLines(moment);
  QCoreApplication::processEvents();
  for (auto _ : state) {
    moment = moment.addSecs(1);
    main->PollLines(moment);
    QCoreApplication::processEvents();
  }
  int priced = 0;
  for (int row = 0; row < main->Lines()->LineCount(); row++)
    priced += main->Lines()->index(row, COLUMN_RUNNING_COST).data().toString().endsWith(QStringLiteral("元"));
  state.counters["priced"] = priced;
  ReleaseForms();
}

BENCHMARK(BM_PricingOfCallsInProgress)->ArgName("long_calls")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PollOfCallsInProgress)
    ->ArgName("three_hours")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

int main(int argc, char *argv[])
{
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);

  QTemporaryDir dir;
  if (!dir.isValid() || !QDir::setCurrent(dir.path()))
    return 1;
  const std::vector<std::string> prefixes = write_rate_deck("rateinfo", kDeckRules);
  if (prefixes.empty())
    return 1;
  std::mt19937 rng(11);
  std::uniform_int_distribution<size_t> pick(0, prefixes.size() - 1);
  for (int i = 0; i < kMachines * kLines; i++)
    g_numbers.push_back(number_under(prefixes[pick(rng)], rng));
  // The rule parser reports every rule it reads on standard output.
  std::fflush(stdout);
  const int out = dup(1);
  if (!freopen("/dev/null", "w", stdout))
    return 1;
  const int rc = quenta_init();
  std::fflush(stdout);
  dup2(out, 1);
  close(out);
  if (rc != 0)
    return 1;
  Gateways gateways(kMachines * kLines, [](int line) { return g_numbers[line]; });
  gateways.start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  dir.remove();
  // The engine's thread has no stop.
  std::fflush(nullptr);
  _exit(0);
}
