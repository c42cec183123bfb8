/* Load mode: every line announces itself, then KeepAlive messages go out at a
 * fixed rate, the lines taking turns, for a fixed time. Each message carries its
 * sequence number and its sending time, so a receiving thread can tell every
 * echo's latency without sharing anything with the sender. Flood mode is the
 * same traffic from a sender the station should not answer: no announcement,
 * and every echo that comes back is counted as an answer. */
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "gwsim.h"

namespace gwsim {

namespace {

int64_t now_ns()
{
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

void sleep_until_ns(int64_t t)
{
  timespec ts{.tv_sec = (time_t)(t / 1000000000), .tv_nsec = (long)(t % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR && !g_stop) {
  }
}

/* The value behind "name: " in text, or -1. */
int64_t number_after(const char *text, size_t len, const char *name)
{
  const char *end = text + len;
  size_t nlen = strlen(name);
  for (const char *p = text; p + nlen <= end; p++) {
    if ((p == text || p[-1] == '\n') && memcmp(p, name, nlen) == 0) {
      int64_t v = 0;
      const char *q = p + nlen;
      if (q >= end || *q < '0' || *q > '9')
        return -1;
      for (; q < end && *q >= '0' && *q <= '9'; q++)
        v = v * 10 + (*q - '0');
      return v;
    }
  }
  return -1;
}

struct Receiver {
  std::vector<int> socks;
  std::vector<uint8_t> seen; /* one per sequence number */
  std::vector<int64_t> latency_ns;
  long unexpected = 0, duplicates = 0;
  std::atomic<bool> stop{false};

  void run()
  {
    std::vector<pollfd> fds;
    for (int s : socks)
      fds.push_back({.fd = s, .events = POLLIN, .revents = 0});
    char buf[2048];
    while (!stop.load(std::memory_order_relaxed)) {
      int n = poll(fds.data(), fds.size(), 50);
      if (n <= 0)
        continue;
      for (auto &f : fds) {
        if (!(f.revents & (POLLIN | POLLERR)))
          continue;
        for (;;) {
          ssize_t len = recv(f.fd, buf, sizeof buf, MSG_DONTWAIT);
          if (len < 0)
            break;
          int64_t t = now_ns();
          int64_t seq = number_after(buf, (size_t)len, "seq: ");
          int64_t sent = number_after(buf, (size_t)len, "sent: ");
          if (seq < 0 || sent < 0 || (size_t)seq >= seen.size()) {
            unexpected++;
            continue;
          }
          if (seen[(size_t)seq]) {
            duplicates++;
            continue;
          }
          seen[(size_t)seq] = 1;
          latency_ns.push_back(t - sent);
        }
      }
    }
  }
};

/* Sends every line's Discovery and waits for the echoes: the number echoed. */
long announce(const Options &opt, const Plan &plan, const std::vector<int> &socks, Report &report)
{
  std::vector<std::string> texts(socks.size());
  std::vector<bool> back(socks.size(), false);
  for (size_t i = 0; i < socks.size(); i++) {
    texts[i] = compose("Discovery", {{"machine_id", plan.lines[i].machine},
                                     {"line_id", std::to_string(plan.lines[i].line)},
                                     {"state", "IDLE"},
                                     {"dest_num", ""}});
    if (sendto(socks[i], texts[i].data(), texts[i].size(), 0, reinterpret_cast<const sockaddr *>(&opt.station),
               sizeof opt.station) < 0)
      report.errors.push_back(std::string("announce: ") + strerror(errno));
  }
  long echoed = 0;
  int64_t deadline = now_ns() + 2000000000LL;
  std::vector<pollfd> fds;
  for (int s : socks)
    fds.push_back({.fd = s, .events = POLLIN, .revents = 0});
  char buf[2048];
  while (echoed < (long)socks.size() && now_ns() < deadline && !g_stop) {
    if (poll(fds.data(), fds.size(), 100) <= 0)
      continue;
    for (size_t i = 0; i < fds.size(); i++) {
      if (!(fds[i].revents & (POLLIN | POLLERR)))
        continue;
      ssize_t len;
      while ((len = recv(socks[i], buf, sizeof buf, MSG_DONTWAIT)) >= 0)
        if (!back[i] && std::string(buf, (size_t)len) == texts[i]) {
          back[i] = true;
          echoed++;
        }
    }
  }
  for (size_t i = 0; i < socks.size(); i++)
    if (!back[i])
      report.errors.push_back("the station did not acknowledge " + plan.lines[i].machine + "/" +
                              std::to_string(plan.lines[i].line));
  return echoed;
}

double percentile(const std::vector<int64_t> &sorted, double p)
{
  if (sorted.empty())
    return 0;
  size_t i = (size_t)std::ceil(p / 100.0 * (double)sorted.size());
  i = std::clamp<size_t>(i, 1, sorted.size());
  return (double)sorted[i - 1] / 1000.0;
}

} /* namespace */

int run_load(const Options &opt, const Plan &plan, Report &report)
{
  report.mode = opt.flood ? "flood" : "load";
  double duration = opt.duration >= 0 ? opt.duration : 10;
  int linger = opt.linger_ms >= 0 ? opt.linger_ms : 1000;
  report.rate = opt.load_rate;
  report.duration = duration;
  (void)prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);

  std::vector<int> socks;
  for (auto &k : plan.lines) {
    sockaddr_in local{};
    int s = open_line_socket(local);
    if (s < 0) {
      report.errors.push_back("cannot open a socket for " + k.machine + "/" + std::to_string(k.line) + ": " +
                              strerror(errno));
      for (int o : socks)
        close(o);
      return 1;
    }
    socks.push_back(s);
    LineReport lr;
    lr.machine = k.machine;
    lr.line = k.line;
    lr.state = "IDLE";
    lr.address = address_text(local);
    report.lines.push_back(lr);
  }
  if (!opt.flood && announce(opt, plan, socks, report) < (long)socks.size()) {
    for (int s : socks)
      close(s);
    return 1;
  }

  const uint64_t total = (uint64_t)std::llround(opt.load_rate * duration);
  Receiver rx;
  rx.socks = socks;
  rx.seen.assign(total, 0);
  rx.latency_ns.reserve(total);
  std::thread receiver([&rx] { rx.run(); });

  std::vector<std::string> prefix(socks.size());
  for (size_t i = 0; i < socks.size(); i++)
    prefix[i] = "KeepAlive KeepAlive ui/1.0\nmachine_id: " + plan.lines[i].machine +
                "\nline_id: " + std::to_string(plan.lines[i].line) + "\nstate: IDLE\ndest_num: \n";
  const double interval_ns = 1e9 / opt.load_rate;
  const int64_t t0 = now_ns();
  uint64_t sent = 0;
  long send_errors = 0;
  char msg[kDatagramMax];
  for (uint64_t i = 0; i < total && !g_stop; i++) {
    int64_t due = t0 + (int64_t)((double)i * interval_ns);
    if (due - now_ns() > 20000)
      sleep_until_ns(due);
    size_t line = i % socks.size();
    int n = snprintf(msg, sizeof msg, "%sseq: %llu\nsent: %lld\n\n", prefix[line].c_str(), (unsigned long long)i,
                     (long long)now_ns());
    if (n < 0 || n >= (int)sizeof msg)
      break;
    ssize_t r;
    do
      r = sendto(socks[line], msg, (size_t)n, 0, reinterpret_cast<const sockaddr *>(&opt.station), sizeof opt.station);
    while (r < 0 && errno == EINTR);
    if (r < 0)
      send_errors++;
    else
      sent++;
  }
  const int64_t t1 = now_ns();
  sleep_until_ns(t1 + (int64_t)linger * 1000000);
  rx.stop = true;
  receiver.join();
  for (int s : socks)
    close(s);

  std::sort(rx.latency_ns.begin(), rx.latency_ns.end());
  report.sent = (long)sent;
  report.echoed = (long)rx.latency_ns.size();
  report.lost = opt.flood ? 0 : report.sent - report.echoed;
  report.missing = report.lost;
  report.unexpected = rx.unexpected;
  report.duplicates = rx.duplicates;
  report.achieved_rate = t1 > t0 ? (double)sent * 1e9 / (double)(t1 - t0) : 0;
  report.p50_us = percentile(rx.latency_ns, 50);
  report.p90_us = percentile(rx.latency_ns, 90);
  report.p99_us = percentile(rx.latency_ns, 99);
  report.max_us = rx.latency_ns.empty() ? 0 : (double)rx.latency_ns.back() / 1000.0;
  if (send_errors)
    report.errors.push_back(std::to_string(send_errors) + " datagrams could not be sent");
  return 0;
}

} /* namespace gwsim */
