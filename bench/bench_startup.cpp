// Start-up of the engine on a large database: quenta_init in a working
// directory whose "quentadb" holds 1,000,000 calls and as many bills, each
// start in a fresh process (the engine starts once per process). indexed:1 is
// an everyday start on a file this release has opened before; indexed:0 the
// first start on a file an older release left, which adds the indexes.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "bench_bigfile.h"
#include "quenta/dbent.h"
#include "quenta/quenta.h"
#include "quenta/sqlite_dbent.h"

namespace {

constexpr int kCalls = 1000000;

std::string g_plain, g_indexed;

bool copy_file(const std::string &from, const std::string &to)
{
  std::string cmd = "cp '" + from + "' '" + to + "'";
  return system(cmd.c_str()) == 0;
}

void prepare()
{
  if (!g_plain.empty())
    return;
  const std::string &dir = bench::scratch_dir();
  g_plain = dir + "/plain.db";
  g_indexed = dir + "/indexed.db";
  if (!bench::build_calls_file(g_plain, kCalls) || !copy_file(g_plain, g_indexed))
    exit(1);
  dbent *e = create_sqlite_dbent(g_indexed.c_str());
  if (!e || dbent_create(e, "cdrtbl", gst_cdr_infos) != 0 || dbent_create(e, "billtbl", gst_bill_infos) != 0)
    exit(1);
  dbent_release(e);
}

// quenta_init in a child process working in dir: its seconds, or -1.
double timed_start(const std::string &dir)
{
  int fds[2];
  if (pipe(fds) != 0)
    return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    double secs = -1;
    if (chdir(dir.c_str()) == 0) {
      for (int tries = 0; tries < 600; tries++) {
        auto start = std::chrono::steady_clock::now();
        int rc = quenta_init();
        auto end = std::chrono::steady_clock::now();
        if (rc == 0)
          secs = std::chrono::duration<double>(end - start).count();
        if (rc != QUENTA_INIT_RUNNING)
          break;
        usleep(100000); /* another station on this machine: wait for it */
      }
    }
    (void)!write(fds[1], &secs, sizeof secs);
    _exit(0);
  }
  close(fds[1]);
  double secs = -1;
  if (read(fds[0], &secs, sizeof secs) != (ssize_t)sizeof secs)
    secs = -1;
  close(fds[0]);
  int status;
  waitpid(pid, &status, 0);
  return secs;
}

void BM_QuentaInit(benchmark::State &state)
{
  prepare();
  // the programs of this machine that bind the gateway port take turns
  int lock = open("/tmp/quenta-gateway-port.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock >= 0)
    while (flock(lock, LOCK_EX) < 0 && errno == EINTR) {
    }
  std::string dir = bench::scratch_dir() + "/station";
  std::string cmd = "rm -rf '" + dir + "' && mkdir '" + dir + "'";
  if (system(cmd.c_str()) != 0)
    exit(1);
  std::ofstream(dir + "/rateinfo") << "Local|0|0.00|0:00:00-0.10|60:0.50|0|60\n"
                                   << ".default||0.00|0:00:00-0.20|0:0.00|0|60\n";
  for (auto _ : state) {
    state.PauseTiming();
    if (!copy_file(state.range(0) ? g_indexed : g_plain, dir + "/quentadb")) {
      state.SkipWithError("cannot copy the database");
      break;
    }
    state.ResumeTiming();
    double secs = timed_start(dir);
    if (secs < 0) {
      state.SkipWithError("quenta_init failed");
      break;
    }
    state.SetIterationTime(secs);
  }
  if (lock >= 0)
    close(lock);
}
BENCHMARK(BM_QuentaInit)->ArgName("indexed")->Arg(1)->Arg(0)->Iterations(3)->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
