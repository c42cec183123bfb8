// Rates at carrier size: parsing one rate line, loading a 50,000-line rate file
// (parse, store, build the prefix index), and choosing the rule and pricing one
// call with that deck, through the prefix index and through the plain walk.
//
// The parser reports on standard output; it is sent to /dev/null while a
// benchmark runs. "Quiet" cases run with the log level raised (no log line is
// formatted); "Logged" cases format and write every log line, to /dev/null, as
// a running station does with its log file.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "quenta/counter.h"
#include "quenta/rate_index.h"
#include "rate_deck.h"
#include "utils/debug.h"

namespace {

constexpr int kDeckRules = 50000;
const char kLine[] = "010|0.50|00:00:00-0.30,08:00:00-0.60,20:00:00-0.40|180:1.00|3|60";

// Points standard output at /dev/null for the life of the object.
class quiet_stdout {
public:
  quiet_stdout()
  {
    fflush(stdout);
    saved_ = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
  }
  ~quiet_stdout()
  {
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

private:
  int saved_;
};

// Log level and descriptor for one benchmark.
class log_mode {
public:
  explicit log_mode(bool logged) : level_(utils::loglevel), fd_(utils::logfd)
  {
    null_fd_ = open("/dev/null", O_WRONLY);
    utils::logfd = null_fd_;
    utils::loglevel = logged ? 0 : 1;
  }
  ~log_mode()
  {
    utils::logfd = fd_;
    utils::loglevel = level_;
    close(null_fd_);
  }

private:
  int level_, fd_, null_fd_;
};

struct deck {
  std::string dir, path;
  std::vector<std::string> prefixes;
  std::vector<std::string> numbers;  // what the lookups dial, in turn
};

// The deck of bench/rate_deck.h, written once; one in four numbers dialled
// matches no prefix.
const deck &the_deck()
{
  static deck d = [] {
    deck d;
    char tmpl[] = "/tmp/bench-ratesXXXXXX";
    d.dir = mkdtemp(tmpl);
    d.path = d.dir + "/rateinfo";
    d.prefixes = bench::write_rate_deck(d.path, kDeckRules);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, kDeckRules - 1);
    for (int i = 0; i < 1024; i++)
      d.numbers.push_back(bench::number_under(i % 4 == 0 ? "9" : d.prefixes[pick(rng)], rng));
    return d;
  }();
  return d;
}

counter *load_deck()
{
  quiet_stdout q;
  log_mode quiet(false);
  return create_normal_counter_file("counter", the_deck().path.c_str());
}

void BM_ParseRateLine(benchmark::State &state)
{
  quiet_stdout q;
  RateInfo info;
  for (auto _ : state) {
    memset(&info, 0, sizeof info);
    benchmark::DoNotOptimize(parser_getRateInfo(kLine, &info));
  }
}
BENCHMARK(BM_ParseRateLine);

void BM_LoadRateFile50k(benchmark::State &state)
{
  the_deck();
  quiet_stdout q;
  log_mode quiet(false);
  for (auto _ : state) {
    counter *c = create_normal_counter_file("counter", the_deck().path.c_str());
    benchmark::DoNotOptimize(c);
    state.PauseTiming();
    counter_release(c);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadRateFile50k)->Unit(benchmark::kMillisecond);

// Choosing the rule alone: the longest matching prefix of 50,000.
void BM_ChooseRule50k(benchmark::State &state, bool use_index)
{
  counter *c = load_deck();
  auto *nc = reinterpret_cast<normal_counter *>(c);
  log_mode quiet(false);
  const auto &numbers = the_deck().numbers;
  size_t i = 0;
  for (auto _ : state) {
    const char *n = numbers[i++ & 1023].c_str();
    RateInfo *r = use_index ? rate_index_longest(nc->m_rate_index, n) : rate_walk_longest(nc->m_rate_info, n);
    benchmark::DoNotOptimize(r);
  }
  counter_release(c);
}
BENCHMARK_CAPTURE(BM_ChooseRule50k, index, true);
BENCHMARK_CAPTURE(BM_ChooseRule50k, walk, false)->Unit(benchmark::kMicrosecond);

// Choosing the rule and pricing one call of about four minutes over 08:00,
// as getresult does for a checkout; without an index the counter walks.
void BM_PriceCall50k(benchmark::State &state, bool use_index, bool logged)
{
  counter *c = load_deck();
  auto *nc = reinterpret_cast<normal_counter *>(c);
  rate_index *idx = nc->m_rate_index;
  if (!use_index)
    nc->m_rate_index = nullptr;
  log_mode mode(logged);
  const auto &numbers = the_deck().numbers;
  size_t i = 0;
  call_info call;
  for (auto _ : state) {
    memset(&call, 0, sizeof call);
    strcpy(call.desnum, numbers[i++ & 1023].c_str());
    strcpy(call.bdate, "2024-03-01 07:58:30");
    strcpy(call.edate, "2024-03-01 08:02:40");
    strcpy(call.callid, "gw1-00000001@2024-03-01 07:58:30");
    benchmark::DoNotOptimize(counter_get_result(c, &call));
  }
  nc->m_rate_index = idx;
  counter_release(c);
}
BENCHMARK_CAPTURE(BM_PriceCall50k, index_quiet, true, false);
BENCHMARK_CAPTURE(BM_PriceCall50k, walk_quiet, false, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PriceCall50k, index_logged, true, true);
BENCHMARK_CAPTURE(BM_PriceCall50k, walk_logged, false, true)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const deck &d = the_deck();
  std::string cmd = "rm -rf '" + d.dir + "'";
  (void)system(cmd.c_str());
  return 0;
}
