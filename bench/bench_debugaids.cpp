// Cost of the debugging aids: what recording a log line into the log ring adds
// to a log call, and how a guarded allocation with its free grows with the
// number of live guarded blocks that every call checks.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <string.h>

#include <vector>

#include "utils/debug.h"
#include "utils/logring.h"
#include "utils/memdebug.h"

namespace {

const char LINE[] = "  msghdlr_on_message(): quenta/msghdlr.cpp: 412: line 7 of gw-0012 CONNECTED 013912345678\n";

int devnull()
{
  static int fd = open("/dev/null", O_WRONLY);
  return fd;
}

// The write a log call makes, without anything around it.
void BM_WriteLineOnly(benchmark::State &state)
{
  int fd = devnull();
  for (auto _ : state)
    benchmark::DoNotOptimize(write(fd, LINE, sizeof LINE - 1));
}
BENCHMARK(BM_WriteLineOnly);

// The copy into the ring alone (uncontended lock, one memcpy).
void BM_RingRecordOnly(benchmark::State &state)
{
  for (auto _ : state)
    utils::log_ring_record(LINE, sizeof LINE - 1);
}
BENCHMARK(BM_RingRecordOnly);

// A whole log call: format, write, record.
void BM_DlogCall(benchmark::State &state)
{
  int saved = utils::logfd;
  utils::logfd = devnull();
  for (auto _ : state)
    utils::dlog(0, "msghdlr_on_message", "quenta/msghdlr.cpp", 412, "line %d of %s %s %s", 7, "gw-0012", "CONNECTED",
                "013912345678");
  utils::logfd = saved;
}
BENCHMARK(BM_DlogCall);

// The same from two threads at once: the ring's lock is shared.
void BM_DlogCallTwoThreads(benchmark::State &state)
{
  static int saved;
  if (state.thread_index() == 0) {
    saved = utils::logfd;
    utils::logfd = devnull();
  }
  for (auto _ : state)
    utils::dlog(0, "msghdlr_on_message", "quenta/msghdlr.cpp", 412, "line %d of %s %s %s", 7, "gw-0012", "CONNECTED",
                "013912345678");
  if (state.thread_index() == 0)
    utils::logfd = saved;
}
BENCHMARK(BM_DlogCallTwoThreads)->Threads(2)->UseRealTime();

// One guarded allocation and its free with range(0) other blocks live.
void BM_MemdebugAllocFree(benchmark::State &state)
{
  std::vector<void *> live;
  for (int64_t i = 0; i < state.range(0); i++)
    live.push_back(MEMDEBUG_ALLOC(64));
  for (auto _ : state) {
    void *p = MEMDEBUG_ALLOC(64);
    memset(p, 1, 64);
    MEMDEBUG_FREE(p);
  }
  for (auto it = live.rbegin(); it != live.rend(); ++it)
    MEMDEBUG_FREE(*it);
}
// Freed guarded blocks stay allocated, so the iterations are bounded; each
// call checks every live block, so the cost grows with their number.
BENCHMARK(BM_MemdebugAllocFree)->Arg(0)->Arg(10)->Arg(100)->Arg(1000)->Iterations(500);

}  // namespace

BENCHMARK_MAIN();
