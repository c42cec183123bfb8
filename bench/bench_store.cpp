// Storing one finished call in "cdrtbl", as the handler's thread does when a
// call ends: the row composed, the database file opened, the bound insert and
// the call's price frozen beside it (priced under a 50,000-rule deck) committed
// in one transaction (with its journal and syncs) and the file closed, under
// the engine's database lock. Once on a fresh file and once on a file that
// already holds 1,000,000 calls with their indexes. Besides the mean, the
// 50th and 99th percentile of the single stores.
#include <benchmark/benchmark.h>
#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench_bigfile.h"
#include "quenta/frozen_prices.h"
#include "quenta/msghdlr.h"
#include "rate_deck.h"
#include "utils/debug.h"

namespace {

constexpr int kBigFile = 1000000;
constexpr int kDeckRules = 50000;

/* The rate table the handler prices with, loaded once. */
void use_rate_deck()
{
  static struct counter *rates = [] {
    std::string path = bench::scratch_dir() + "/rateinfo";
    if (bench::write_rate_deck(path, kDeckRules).empty()) {
      fprintf(stderr, "cannot write %s\n", path.c_str());
      exit(1);
    }
    return create_normal_counter_file("counter", path.c_str());
  }();
  frozen_prices_use(rates);
}

struct msghdlr *handler_on(const std::string &path)
{
  auto *h = new msghdlr{};
  h->m_sock = -1;
  h->m_wakefd = -1;
  if (create_cdr_database(h, path.c_str(), "cdrtbl") != 0) {
    fprintf(stderr, "cannot describe cdrtbl in %s\n", path.c_str());
    exit(1);
  }
  return h;
}

std::string file_with(int calls)
{
  std::string path = bench::scratch_dir() + "/calls" + std::to_string(calls) + ".db";
  if (calls > 0 && !bench::build_calls_file(path, calls))
    exit(1);
  return path;
}

void BM_StoreCall(benchmark::State &state)
{
  static std::string files[2];
  int calls = state.range(0) ? kBigFile : 0;
  std::string &path = files[state.range(0) ? 1 : 0];
  if (path.empty())
    path = file_with(calls);
  struct msghdlr *h = handler_on(path);  // describing adds the indexes to a big file once
  use_rate_deck();
  std::vector<double> ms;
  static long serial = 0;
  for (auto _ : state) {
    // a call of three and a half minutes
    char bdate[32], edate[32];
    snprintf(bdate, sizeof bdate, "2030-01-01 %02ld:%02ld:%02ld", serial / 3600 % 24, serial / 60 % 60, serial % 60);
    long end = serial + 210;
    snprintf(edate, sizeof edate, "2030-01-01 %02ld:%02ld:%02ld", end / 3600 % 24, end / 60 % 60, end % 60);
    cdr_row row{.callid = "BENCH-" + std::to_string(serial++) + "@" + bdate,
                .machineid = "BENCH",
                .lineid = "1",
                .orgnum = "801",
                .desnum = "0085212345678",
                .bdate = bdate,
                .edate = edate,
                .attempts = 0,
                .line = 0};
    auto start = std::chrono::steady_clock::now();
    int rc = cdrdb_insert(h, row);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (rc != 0) {
      state.SkipWithError("the insert failed");
      break;
    }
  }
  std::sort(ms.begin(), ms.end());
  if (!ms.empty()) {
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  }
  msghdlr_release(h);
}
BENCHMARK(BM_StoreCall)
    ->ArgName("rows_1M")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char **argv)
{
  // the engine's log lines of every store go nowhere
  utils::logfd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
