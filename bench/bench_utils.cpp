// The runtime library's hot paths: pool allocation, list append and walk,
// MD5 throughput and a timer sweep over many queued timers.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "utils/datalist.h"
#include "utils/md5.h"
#include "utils/timer.h"
#include "utils/utils.h"

namespace {

void BM_PoolAlloc(benchmark::State &state)
{
  const size_t size = (size_t)state.range(0);
  for (auto _ : state) {
    utils::memblk *pool = nullptr;
    for (int i = 0; i < 1000; i++)
      benchmark::DoNotOptimize(utils::memblk_alloc(&pool, size));
    utils::memblk_free(&pool);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_PoolAlloc)->Arg(16)->Arg(256);

void BM_ListAppendAndWalk(benchmark::State &state)
{
  const int n = (int)state.range(0);
  int value = 0;
  for (auto _ : state) {
    utils::datalist *l = utils::create_datalist();
    for (int i = 0; i < n; i++)
      utils::datalist_append(l, &value);
    long sum = 0;
    for (auto *it = utils::datalist_first(l); it; it = utils::datalist_next(it))
      sum += *static_cast<int *>(utils::datalist_itdata(it));
    benchmark::DoNotOptimize(sum);
    utils::datalist_free(l);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ListAppendAndWalk)->Arg(100)->Arg(10000);

void BM_Md5(benchmark::State &state)
{
  std::string data((size_t)state.range(0), 'x');
  unsigned char digest[MD5_DIGEST_LEN];
  for (auto _ : state) {
    utils::MD5(reinterpret_cast<const unsigned char *>(data.data()), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)data.size());
}
BENCHMARK(BM_Md5)->Arg(64)->Arg(4096)->Arg(1 << 20);

/* n zero-interval endless timers: every sweep fires and re-arms all of them. */
void BM_TimerSweep(benchmark::State &state)
{
  const int n = (int)state.range(0);
  long fired = 0;
  std::vector<utils::timer *> timers;
  for (int i = 0; i < n; i++) {
    timers.push_back(utils::create_timer(0, &fired, [](void *c) { ++*static_cast<long *>(c); }));
    utils::start_timer(timers.back(), -1);
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(utils::timer_check_timeout());
  for (utils::timer *t : timers)
    utils::destroy_timer(t);
  state.SetItemsProcessed(fired);
}
BENCHMARK(BM_TimerSweep)->Arg(10)->Arg(100)->Arg(1000);

/* One due timer among n pending ones far in the future: the common case of a
 * sweep that fires little and re-inserts one entry. */
void BM_TimerSweepMostlyIdle(benchmark::State &state)
{
  const int n = (int)state.range(0);
  long fired = 0;
  std::vector<utils::timer *> timers;
  for (int i = 0; i < n; i++) {
    timers.push_back(utils::create_timer(3600 * 1000u + (unsigned)i, nullptr, [](void *) {}));
    utils::start_timer(timers.back(), 1);
  }
  utils::timer *tick = utils::create_timer(0, &fired, [](void *c) { ++*static_cast<long *>(c); });
  utils::start_timer(tick, -1);
  for (auto _ : state)
    benchmark::DoNotOptimize(utils::timer_check_timeout());
  utils::destroy_timer(tick);
  for (utils::timer *t : timers)
    utils::destroy_timer(t);
  state.SetItemsProcessed(fired);
}
BENCHMARK(BM_TimerSweepMostlyIdle)->Arg(10)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
