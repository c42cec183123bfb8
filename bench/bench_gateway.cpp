// The gateway path under load: a real message handler on UDP port 9849 and, in
// the same run, a bare UDP echo loop (recvfrom and sendto only) as the limit,
// both driven by the gateway simulator's load mode from 100 lines. Reports
// echo latency at fixed rates, the highest rate echoed without loss, and the
// kernel's UDP receive errors (/proc/net/snmp) during each run. The handler's
// "gateways" file lists 127.0.0.1 alone; one run adds a flood from 127.0.0.2,
// which the handler refuses, beside the lines it answers. The last run holds
// the database while the lines make calls, then times a line's echoes while the
// calls that waited are stored.
//
//   build/bench/bench_gateway [--benchmark_filter=...]
//   GWSIM=path/to/gwsim   the simulator (default: ../tools/gwsim/gwsim beside this program)
//   BENCH_SECONDS=N       length of each fixed-rate run (default 5)
//   BENCH_HOLD=N          how long the database is held while calls end (default 30)
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sqlite3.h>
#include <benchmark/benchmark.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "utils/debug.h"

namespace {

std::string g_gwsim;
std::string g_workdir;
int g_bare_port;
double g_seconds = 5;
msghdlr *g_handler;

/* The bare echo loop: what the kernel and the simulator allow at best. */
class BareEcho {
public:
  BareEcho()
  {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int size = GATEWAY_RCVBUF;
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    timeval tick{0, 100000}; /* so the loop sees stop_ */
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~BareEcho()
  {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  int port() const { return port_; }

private:
  void run()
  {
    char buf[2048];
    while (!stop_) {
      sockaddr_in from;
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
      if (n <= 0)
        continue;
      sendto(fd_, buf, (size_t)n, 0, reinterpret_cast<sockaddr *>(&from), len);
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

/* The kernel's UDP counters by name. */
std::map<std::string, long> udp_counters()
{
  std::ifstream in("/proc/net/snmp");
  std::string names, values, line;
  while (std::getline(in, line)) {
    if (line.rfind("Udp: ", 0) != 0)
      continue;
    if (names.empty())
      names = line;
    else
      values = line;
  }
  std::map<std::string, long> out;
  std::istringstream n(names), v(values);
  std::string name, value;
  n >> name;
  v >> value;
  while (n >> name && v >> value)
    out[name] = atol(value.c_str());
  return out;
}

/* Sockets of this host bound to the gateway port: 1 when only our handler
 * holds it (another one would share it through address reuse and take part
 * of the datagrams). */
int gateway_port_sockets()
{
  std::ifstream in("/proc/net/udp");
  std::string line;
  char port[8];
  snprintf(port, sizeof port, ":%04X ", SRV_PORT);
  int n = 0;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string slot, local;
    f >> slot >> local;
    if ((local + " ").find(port) != std::string::npos)
      n++;
  }
  return n;
}

double json_number(const std::string &json, const std::string &key)
{
  size_t at = json.find("\"" + key + "\": ");
  if (at == std::string::npos)
    return -1;
  return atof(json.c_str() + at + key.size() + 4);
}

struct LoadResult {
  double sent = 0, echoed = 0, lost = 0, rate = 0, p50 = 0, p90 = 0, p99 = 0, max = 0;
  long rcv_errors = 0, buf_errors = 0;
  int port_sockets = 0;
  bool ok = false;
};

LoadResult load(int port, double rate, double seconds)
{
  auto before = udp_counters();
  std::string cmd = g_gwsim + " --station 127.0.0.1:" + std::to_string(port) +
                    " -m 10 -l 10 -p B --format json --load " + std::to_string((long)rate) + " --duration " +
                    std::to_string(seconds);
  LoadResult r;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p)
    return r;
  std::string json;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    json.append(buf, n);
  r.ok = pclose(p) == 0;
  auto after = udp_counters();
  r.port_sockets = gateway_port_sockets();
  r.sent = json_number(json, "sent");
  r.echoed = json_number(json, "echoed");
  r.lost = json_number(json, "lost");
  r.rate = json_number(json, "achieved_rate");
  r.p50 = json_number(json, "p50");
  r.p90 = json_number(json, "p90");
  r.p99 = json_number(json, "p99");
  r.max = json_number(json, "max");
  r.rcv_errors = after["InErrors"] - before["InErrors"];
  r.buf_errors = after["RcvbufErrors"] - before["RcvbufErrors"];
  return r;
}

void report(benchmark::State &state, const LoadResult &r)
{
  if (!r.ok)
    state.SkipWithError("the simulator failed");
  else if (r.port_sockets > 1)
    state.SkipWithError("another program shares the gateway port");
  state.counters["sent"] = r.sent;
  state.counters["echoed"] = r.echoed;
  state.counters["lost"] = r.lost;
  state.counters["sent_per_s"] = r.rate;
  state.counters["p50_us"] = r.p50;
  state.counters["p90_us"] = r.p90;
  state.counters["p99_us"] = r.p99;
  state.counters["max_us"] = r.max;
  state.counters["udp_rcv_errors"] = (double)r.rcv_errors;
  state.counters["udp_rcvbuf_errors"] = (double)r.buf_errors;
}

void fixed_rate(benchmark::State &state, int port, double rate)
{
  for (auto _ : state) {
    LoadResult r = load(port, rate, g_seconds);
    state.SetIterationTime(g_seconds);
    report(state, r);
  }
}

/* CPU seconds of this process (the handler's thread does nearly all of it). */
double process_cpu_seconds()
{
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

/* The lines at rate (0: none, the flood alone) while a second simulator
 * floods the handler from 127.0.0.2, a sender its gateways file leaves out, at
 * flood datagrams/s from 100 sockets for the whole run. */
void rate_under_flood(benchmark::State &state, double rate, double flood)
{
  for (auto _ : state) {
    double cpu_before = process_cpu_seconds();
    std::string cmd = g_gwsim + " --bind 127.0.0.2 -m 10 -l 10 -p F --format json --flood " +
                      std::to_string((long)flood) + " --duration " + std::to_string(g_seconds + 3) + " --linger 200";
    uint64_t refused_before = msghdlr_refused(g_handler, nullptr, 0);
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) {
      state.SkipWithError("cannot start the flood");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    LoadResult r;
    if (rate > 0)
      r = load(SRV_PORT, rate, g_seconds);
    std::string json;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
      json.append(buf, n);
    bool flood_ok = pclose(p) == 0;
    double refused = (double)(msghdlr_refused(g_handler, nullptr, 0) - refused_before);
    state.SetIterationTime(g_seconds);
    if (rate > 0)
      report(state, r);
    if (!flood_ok)
      state.SkipWithError("the flood failed");
    state.counters["flood_sent"] = json_number(json, "sent");
    state.counters["flood_answered"] = json_number(json, "echoed");
    state.counters["refused"] = refused;
    if (rate == 0 && refused > 0)
      state.counters["cpu_us_per_refused"] = (process_cpu_seconds() - cpu_before) * 1e6 / refused;
  }
}

/* The highest rate whose every datagram came back: doubling until the first
 * loss (or until the simulator cannot send that fast), then halving the gap. */
void lossless_rate(benchmark::State &state, int port)
{
  const double probe = 2;
  for (auto _ : state) {
    double good = 0, bad = 0, rate = 5000;
    LoadResult best;
    int probes = 0;
    auto clean = [](const LoadResult &r, double asked) {
      return r.ok && r.port_sockets <= 1 && r.lost == 0 && r.rcv_errors == 0 && r.rate >= 0.95 * asked;
    };
    while (probes < 8) {
      LoadResult r = load(port, rate, probe);
      probes++;
      if (clean(r, rate)) {
        good = rate;
        best = r;
        rate *= 2;
      } else {
        bad = rate;
        break;
      }
    }
    for (int i = 0; i < 4 && bad > 0 && bad - good > 0.05 * bad; i++) {
      rate = (good + bad) / 2;
      LoadResult r = load(port, rate, probe);
      probes++;
      if (clean(r, rate)) {
        good = rate;
        best = r;
      } else {
        bad = rate;
      }
    }
    state.SetIterationTime(probe * probes);
    state.counters["lossless_per_s"] = good;
    state.counters["first_loss_per_s"] = bad;
    state.counters["p99_us_at_best"] = best.p99;
    state.counters[port == SRV_PORT ? "handler_lossless" : "bare_lossless"] = good;
    static double handler, bare;
    (port == SRV_PORT ? handler : bare) = good;
    if (handler > 0 && bare > 0)
      state.counters["handler_to_bare"] = handler / bare;
  }
}

double ms_since(std::chrono::steady_clock::time_point t)
{
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

/* Calls that end while another program holds the database wait in the queue
 * (and "cdr.pending"): 99 lines (the probe is the 100th) make calls at random for `hold` seconds with
 * "quentadb" held by `begin exclusive`. From the release on, a probe line's
 * KeepAlive is timed every 10 ms until the file is empty. */
void backlog_after_hold(benchmark::State &state, int hold)
{
  const std::string pending = g_workdir + "/" CDR_PENDING_FILE;
  for (auto _ : state) {
    sqlite3 *db = nullptr;
    sqlite3_open((g_workdir + "/quentadb").c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    if (sqlite3_exec(db, "begin exclusive", nullptr, nullptr, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      state.SkipWithError("cannot hold the database");
      return;
    }
    std::string cmd = g_gwsim + " -m 9 -l 11 -p H --random --duration " + std::to_string(hold) + " >/dev/null";
    bool sim_ok = system(cmd.c_str()) == 0;
    std::ifstream in(pending);
    double waiting = (double)std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
    auto released = std::chrono::steady_clock::now();
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval wait{0, 100000};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in station{};
    station.sin_family = AF_INET;
    station.sin_port = htons(SRV_PORT);
    station.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<double> echoes;
    double stored = -1;
    for (int seq = 0; stored < 0 && ms_since(released) < 120000; seq++) {
      std::string probe =
          "KeepAlive KeepAlive ui/1.0\nmachine_id: PROBE\nline_id: 1\nstate: IDLE\ndest_num: " + std::to_string(seq) +
          "\n\n";
      auto sent = std::chrono::steady_clock::now();
      sendto(sock, probe.data(), probe.size(), 0, reinterpret_cast<sockaddr *>(&station), sizeof station);
      char buf[512];
      ssize_t n;
      while ((n = recv(sock, buf, sizeof buf - 1, 0)) > 0 || (n < 0 && ms_since(sent) < 10000)) {
        if (n > 0 && std::string(buf, (size_t)n) == probe) {
          echoes.push_back(ms_since(sent));
          break;
        }
      }
      struct stat st;
      if (stat(pending.c_str(), &st) == 0 && st.st_size == 0)
        stored = ms_since(released);
      usleep(10000);
    }
    close(sock);
    state.SetIterationTime(stored / 1000);
    if (!sim_ok || stored < 0)
      state.SkipWithError("the simulator failed or the calls were not stored");
    std::sort(echoes.begin(), echoes.end());
    state.counters["calls_waiting"] = waiting;
    state.counters["stored_ms"] = stored;
    state.counters["echoes"] = (double)echoes.size();
    if (!echoes.empty()) {
      state.counters["echo_p50_ms"] = echoes[echoes.size() / 2];
      state.counters["echo_p99_ms"] = echoes[std::min(echoes.size() - 1, echoes.size() * 99 / 100)];
      state.counters["echo_max_ms"] = echoes.back();
    }
  }
}

} /* namespace */

int main(int argc, char **argv)
{
  const char *env = getenv("GWSIM");
  if (env) {
    g_gwsim = env;
  } else {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
      std::string dir = self;
      dir = dir.substr(0, dir.rfind('/'));
      g_gwsim = dir + "/../tools/gwsim/gwsim";
    }
  }
  if (const char *s = getenv("BENCH_SECONDS"))
    g_seconds = atof(s);

  /* The test suites of every checkout take this lock before they bind the
   * gateway port; so do we. */
  int lock = open("/tmp/quenta-gateway-port.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock < 0 || flock(lock, LOCK_EX) < 0) {
    perror("bench_gateway: gateway port lock");
    return 1;
  }
  if (gateway_port_sockets() > 0) {
    fprintf(stderr, "bench_gateway: another program holds UDP port %d\n", SRV_PORT);
    return 1;
  }
  char tmpl[] = "/tmp/benchgwXXXXXX";
  g_workdir = mkdtemp(tmpl);
  if (chdir(g_workdir.c_str()) != 0)
    return 1;
  /* The handler logs as it does in service, to a rotated file. */
  utils::set_log_file("app.log");
  utils::set_log_rotation("app.log", LOG_ROTATE_DEFAULT);
  /* Every run pays the sender check; the flood's sender is not listed. */
  std::ofstream(GATEWAYS_FILE) << "127.0.0.1/32\n";
  g_handler = create_msghdlr((g_workdir + "/quentadb").c_str(), "cdrtbl");
  if (!g_handler) {
    fprintf(stderr, "bench_gateway: cannot start the handler on port %d\n", SRV_PORT);
    return 1;
  }
  BareEcho bare;
  g_bare_port = bare.port();

  for (double rate : {1000.0, 10000.0}) {
    std::string r = std::to_string((int)rate);
    benchmark::RegisterBenchmark(("handler/rate:" + r).c_str(),
                                 [rate](benchmark::State &s) { fixed_rate(s, SRV_PORT, rate); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark(("bare_echo/rate:" + r).c_str(),
                                 [rate](benchmark::State &s) { fixed_rate(s, g_bare_port, rate); })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
  }
  benchmark::RegisterBenchmark("handler/flood:10000", [](benchmark::State &s) { rate_under_flood(s, 0, 10000); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("handler/rate:10000/flood:10000",
                               [](benchmark::State &s) { rate_under_flood(s, 10000, 10000); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("bare_echo/lossless", [](benchmark::State &s) { lossless_rate(s, g_bare_port); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("handler/lossless", [](benchmark::State &s) { lossless_rate(s, SRV_PORT); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);

  int hold = getenv("BENCH_HOLD") ? atoi(getenv("BENCH_HOLD")) : 30;
  benchmark::RegisterBenchmark(("handler/backlog_after_hold:" + std::to_string(hold)).c_str(),
                               [hold](benchmark::State &s) { backlog_after_hold(s, hold); })
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  msghdlr_release(g_handler);
  std::string cmd = "rm -rf '" + g_workdir + "'";
  return system(cmd.c_str()) == 0 ? 0 : 1;
}
