// Start-up of the engine on a large database: quenta_init in a working
// directory whose "quentadb" holds 1,000,000 calls and as many bills, each
// start in a fresh process (the engine starts once per process). indexed:1 is
// an everyday start on a file this release has opened before; indexed:0 the
// first start on a file an older release left, which adds the indexes.
//
// The start with a backlog: "cdr.pending" holds 20,000 calls (a database held
// for hours, then the station restarted), on an empty database (rows_1M:0) or
// on the indexed 1,000,000-row file (rows_1M:1). A gateway line sends a
// KeepAlive every 10 ms from the moment quenta_init is called: the time to its
// first echo, the time until the file is empty (every call stored), and the
// echo's round trip while the calls are stored (p50, p99, max).
#include <benchmark/benchmark.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "bench_bigfile.h"
#include "quenta/dbent.h"
#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "quenta/sqlite_dbent.h"

namespace {

constexpr int kCalls = 1000000;
constexpr int kPending = 20000;

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

/* The programs of this machine that bind the gateway port take turns. */
int take_port_lock()
{
  int lock = open("/tmp/quenta-gateway-port.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock >= 0)
    while (flock(lock, LOCK_EX) < 0 && errno == EINTR) {
    }
  return lock;
}

void BM_QuentaInit(benchmark::State &state)
{
  prepare();
  int lock = take_port_lock();
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
BENCHMARK(BM_QuentaInit)
    ->ArgName("indexed")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double ms_since(std::chrono::steady_clock::time_point t)
{
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

/* 20,000 calls on 40 lines of 10 machines, a minute apart, as the handler
 * writes them. */
bool write_pending(const std::string &path)
{
  std::string text;
  for (int i = 0; i < kPending; i++) {
    char machine[16], bdate[32], edate[32];
    snprintf(machine, sizeof machine, "BACK%02d", i % 10);
    time_t t = 1893456000 + (time_t)i * 60; /* 2030-01-01 */
    struct tm tm;
    gmtime_r(&t, &tm);
    strftime(bdate, sizeof bdate, "%Y-%m-%d %H:%M:%S", &tm);
    t += 30 + i % 300;
    gmtime_r(&t, &tm);
    strftime(edate, sizeof edate, "%Y-%m-%d %H:%M:%S", &tm);
    std::string line = std::to_string(i / 10 % 4 + 1);
    char id[64];
    snprintf(id, sizeof id, "%s-%08d@%s", machine, atoi(line.c_str()), bdate);
    cdr_row row{.callid = id,
                .machineid = machine,
                .lineid = line,
                .orgnum = "800100",
                .desnum = "00852" + std::to_string(20000000 + i),
                .bdate = bdate,
                .edate = edate,
                .attempts = 0,
                .line = -1};
    text += cdr_line(row);
  }
  std::ofstream out(path);
  out << text;
  return out.good();
}

long stored_calls(const std::string &db)
{
  sqlite3 *h = nullptr;
  long n = -1;
  if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
    sqlite3_exec(
        h, "select count(*) from cdrtbl where machineid like 'BACK%'",
        [](void *p, int, char **v, char **) {
          *static_cast<long *>(p) = atol(v[0]);
          return 0;
        },
        &n, nullptr);
  sqlite3_close(h);
  return n;
}

void BM_StartWithPendingCalls(benchmark::State &state)
{
  if (state.range(0))
    prepare();
  int lock = take_port_lock();
  std::string dir = bench::scratch_dir() + "/backlog";
  std::string cmd = "rm -rf '" + dir + "' && mkdir '" + dir + "'";
  if (system(cmd.c_str()) != 0)
    exit(1);
  std::ofstream(dir + "/rateinfo") << ".default||0.00|0:00:00-0.20|0:0.00|0|60\n";
  const std::string pending = dir + "/" CDR_PENDING_FILE;
  const std::string keepalive = "KeepAlive KeepAlive ui/1.0\nmachine_id: PROBE\nline_id: 1\nstate: IDLE\ndest_num: ";
  sockaddr_in station{};
  station.sin_family = AF_INET;
  station.sin_port = htons(SRV_PORT);
  station.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (auto _ : state) {
    state.PauseTiming();
    unlink((dir + "/quentadb").c_str());
    if ((state.range(0) && !copy_file(g_indexed, dir + "/quentadb")) || !write_pending(pending)) {
      state.SkipWithError("cannot prepare the station's files");
      break;
    }
    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval wait{0, 10000};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    state.ResumeTiming();

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0 || quenta_init() != 0)
        _exit(1);
      for (;;)
        pause();
    }
    double first_echo = -1, all_stored = -1;
    std::vector<double> echoes;
    for (int seq = 0; all_stored < 0 && ms_since(start) < 600000; seq++) {
      std::string probe = keepalive + std::to_string(seq) + "\n\n";
      auto sent = std::chrono::steady_clock::now();
      sendto(sock, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr *>(&station), sizeof station);
      /* Before the first echo any echo will do; after it, this probe's own,
       * however late (echoes of probes queued while the station did not read
       * its socket are passed over). */
      bool echoed = false;
      char buf[512];
      ssize_t n;
      do {
        n = recv(sock, buf, sizeof buf - 1, 0);
        if (n > 0) {
          buf[n] = '\0';
          echoed = first_echo < 0 || probe == buf;
        }
      } while (!echoed && first_echo >= 0 && ms_since(sent) < 10000);
      if (echoed && first_echo < 0)
        first_echo = ms_since(start);
      else if (echoed)
        echoes.push_back(ms_since(sent));
      struct stat st;
      if (first_echo >= 0 && stat(pending.c_str(), &st) == 0 && st.st_size == 0)
        all_stored = ms_since(start);
      if (echoed)
        usleep(10000);
    }
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
    close(sock);
    state.SetIterationTime(all_stored / 1000);
    long stored = stored_calls(dir + "/quentadb");
    if (first_echo < 0 || all_stored < 0 || stored != kPending) {
      state.SkipWithError(("not every call was stored: " + std::to_string(stored)).c_str());
      break;
    }
    std::sort(echoes.begin(), echoes.end());
    state.counters["first_echo_ms"] = first_echo;
    state.counters["all_stored_ms"] = all_stored;
    state.counters["echoes"] = (double)echoes.size();
    if (!echoes.empty()) {
      state.counters["echo_p50_ms"] = echoes[echoes.size() / 2];
      state.counters["echo_p99_ms"] = echoes[std::min(echoes.size() - 1, echoes.size() * 99 / 100)];
      state.counters["echo_max_ms"] = echoes.back();
    }
  }
  if (lock >= 0)
    close(lock);
}
BENCHMARK(BM_StartWithPendingCalls)
    ->ArgName("rows_1M")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
