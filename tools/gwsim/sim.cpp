/* Script, random and keep-alive runs: one poll loop over the sockets of all
 * lines. Each pass runs the steps that are due, sends keep-alives, ends
 * silences, gives up echoes that are overdue, and reads what the station sent:
 * echoes of our messages, and commands, which are answered with a new state.
 * A command that ends a call cuts it as a gateway does, with a hang-up report
 * before the answer. A line in the denied state makes no calls: its next dial
 * or connect waits until a command permits it again. */
#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "gwsim.h"

namespace gwsim {

volatile int g_stop = 0;

int open_line_socket(sockaddr_in &local)
{
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0)
    return -1;
  int size = 1 << 20;
  (void)setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr = g_source;
  socklen_t len = sizeof local;
  if (bind(s, reinterpret_cast<sockaddr *>(&any), sizeof any) < 0 ||
      getsockname(s, reinterpret_cast<sockaddr *>(&local), &len) < 0) {
    close(s);
    return -1;
  }
  return s;
}

std::string address_text(const sockaddr_in &addr)
{
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

namespace {

using std::chrono::duration;
using std::chrono::milliseconds;

struct Pending {
  std::string text;
  TimePoint sent;
};

struct LineRt {
  LineKey key;
  int sock = -1;
  sockaddr_in local{};
  std::string state, dest; /* what the line reports */
  bool announced = false;
  bool silent = false, silent_forever = false;
  bool call_lost_in_silence = false;
  TimePoint silent_until{}, last_sent{};
  std::vector<Step> steps;
  size_t pc = 0;
  TimePoint next_step{};
  std::mt19937_64 rng;
  std::optional<Call> call;
  TimePoint call_began{};
  std::deque<Pending> pending;
  std::string last_answer; /* our last command answer, not to be taken for a command */
  unsigned cdr_seq = 0;
  LineReport rep;
};

bool denied(const LineRt &l)
{
  return l.state == kDeniedState;
}

/* A denied line is held before the steps that begin a call. */
bool held(const LineRt &l)
{
  if (!denied(l) || l.pc >= l.steps.size())
    return false;
  Step::Kind k = l.steps[l.pc].kind;
  return k == Step::Digits || k == Step::Connect;
}

bool expects_echo(const std::string &type)
{
  for (const char *t : {"Discovery", "KeepAlive", "Connected", "CDR"})
    if (strncasecmp(type.c_str(), t, strlen(t)) == 0)
      return true;
  return false;
}

TimePoint after(TimePoint t, double seconds)
{
  return t + std::chrono::duration_cast<Clock::duration>(duration<double>(seconds));
}

class Sim {
public:
  enum Mode { Script, Random, Keep };

  Sim(const Options &opt, const Plan &plan, Report &rep) : opt_(opt), rep_(rep)
  {
    mode_ = opt.random ? Random : (plan.steps.empty() || all_empty(plan)) ? Keep : Script;
    lines_.resize(plan.lines.size());
    for (size_t i = 0; i < lines_.size(); i++) {
      LineRt &l = lines_[i];
      l.key = plan.lines[i];
      l.steps = plan.steps[i];
      l.rng.seed(opt.seed * 1000003u + i);
      l.rep.machine = l.key.machine;
      l.rep.line = l.key.line;
      if (mode_ != Script && l.steps.empty())
        l.steps.push_back(make_step(Step::Announce, "start", "IDLE"));
    }
  }

  int run()
  {
    rep_.mode = mode_ == Script ? "script" : mode_ == Random ? "random" : "keep-alive";
    for (auto &l : lines_) {
      l.sock = open_line_socket(l.local);
      if (l.sock < 0) {
        rep_.errors.push_back("cannot open a socket for " + name(l) + ": " + strerror(errno));
        return finish(1);
      }
      l.rep.address = address_text(l.local);
    }
    TimePoint t0 = Clock::now();
    for (auto &l : lines_)
      l.next_step = t0;
    double dur = opt_.duration;
    if (dur >= 0)
      stop_at_ = after(t0, dur);
    TimePoint finish_at{};
    int linger = opt_.linger_ms >= 0 ? opt_.linger_ms : 500;

    std::vector<pollfd> fds(lines_.size());
    while (!g_stop) {
      TimePoint now = Clock::now();
      for (auto &l : lines_) {
        if (!finishing_)
          run_steps(l, now);
        end_silence(l, now);
        keepalive(l, now);
        expire(l, now);
      }
      if (!finishing_ && done(now)) {
        finishing_ = true;
        if (mode_ == Random)
          for (auto &l : lines_)
            if (l.announced && !l.silent && l.state != "IDLE" && !denied(l))
              exec(l, make_step(Step::Hangup, "end of run", "IDLE"), now);
        finish_at = now + milliseconds(linger);
      }
      /* Echoes still due are awaited for one echo timeout at most: a station
       * that went away must not keep the run alive. */
      if (finishing_ && now >= finish_at && no_pending())
        break;

      TimePoint wake = now + milliseconds(1000);
      auto sooner = [&](TimePoint t) { wake = std::min(wake, t); };
      for (auto &l : lines_) {
        if (!finishing_ && l.pc < l.steps.size() && !held(l))
          sooner(l.next_step);
        if (l.announced && !l.silent && !finishing_)
          sooner(l.last_sent + milliseconds(opt_.keepalive_ms));
        if (l.silent && !l.silent_forever)
          sooner(l.silent_until);
        if (!l.pending.empty())
          sooner(l.pending.front().sent + milliseconds(opt_.echo_timeout_ms));
      }
      if (finishing_ && finish_at > now)
        sooner(finish_at);
      if (stop_at_)
        sooner(*stop_at_);
      int timeout = (int)std::chrono::ceil<milliseconds>(wake - now).count();
      timeout = std::clamp(timeout, 0, 1000);

      for (size_t i = 0; i < lines_.size(); i++)
        fds[i] = {.fd = lines_[i].sock, .events = POLLIN, .revents = 0};
      int n = poll(fds.data(), fds.size(), timeout);
      if (n < 0 && errno != EINTR) {
        rep_.errors.push_back(std::string("poll: ") + strerror(errno));
        return finish(1);
      }
      /* A pending socket error (a refused datagram) is read and so cleared
       * like a datagram; left alone it would wake every poll at once. */
      for (size_t i = 0; n > 0 && i < lines_.size(); i++)
        if (fds[i].revents & (POLLIN | POLLERR))
          receive(lines_[i], Clock::now());
    }
    return finish(0);
  }

private:
  static bool all_empty(const Plan &plan)
  {
    return std::all_of(plan.steps.begin(), plan.steps.end(), [](auto &s) { return s.empty(); });
  }

  static std::string name(const LineRt &l) { return l.key.machine + "/" + std::to_string(l.key.line); }

  bool done(TimePoint now) const
  {
    if (stop_at_ && now >= *stop_at_)
      return true;
    if (mode_ != Script)
      return false;
    for (auto &l : lines_)
      if (l.pc < l.steps.size() || (l.next_step > now && !l.silent_forever))
        return false;
    return true;
  }

  bool no_pending() const
  {
    return std::all_of(lines_.begin(), lines_.end(), [](auto &l) { return l.pending.empty(); });
  }

  void run_steps(LineRt &l, TimePoint now)
  {
    while (l.next_step <= now && !l.silent_forever) {
      if (l.pc == l.steps.size()) {
        if (mode_ != Random)
          return;
        /* Steps that have run are dropped, so a demo that makes random
         * calls all day does not pile them up. */
        l.steps.clear();
        l.pc = 0;
        random_call(opt_, l.rng, l.key, l.steps);
      }
      if (held(l))
        return;
      const Step s = l.steps[l.pc++];
      exec(l, s, now);
    }
  }

  Attrs ids(const LineRt &l) const { return {{"machine_id", l.key.machine}, {"line_id", std::to_string(l.key.line)}}; }

  void send(LineRt &l, const std::string &type, const Attrs &attrs, TimePoint now)
  {
    std::string text = compose(type, attrs);
    ssize_t n = sendto(l.sock, text.data(), text.size(), 0, reinterpret_cast<const sockaddr *>(&opt_.station),
                       sizeof opt_.station);
    /* A refused send still counts for the keep-alive clock, or it would be
     * tried again at once, over and over. */
    l.last_sent = now;
    if (n < 0) {
      rep_.errors.push_back("send from " + name(l) + ": " + strerror(errno));
      return;
    }
    if (opt_.verbose)
      std::cerr << ">> " << name(l) << " " << text;
    l.rep.sent++;
    if (expects_echo(type))
      l.pending.push_back({text, now});
    else
      l.last_answer = text;
  }

  void start_call(LineRt &l, const std::string &number, const std::string &src, TimePoint now)
  {
    if (l.call) {
      /* a second Connected restarts the call on the station: so here */
      l.call->start = local_time_text();
      l.call_began = now;
      return;
    }
    l.call = Call{};
    l.call->machine = l.key.machine;
    l.call->line = l.key.line;
    l.call->src = src;
    l.call->number = number;
    l.call->start = local_time_text();
    l.call_began = now;
  }

  void end_call(LineRt &l, const char *by, TimePoint now)
  {
    if (!l.call)
      return;
    l.call->end = local_time_text();
    l.call->seconds = duration<double>(now - l.call_began).count();
    l.call->ended_by = by;
    rep_.calls.push_back(*l.call);
    l.call.reset();
  }

  void exec(LineRt &l, const Step &s, TimePoint now)
  {
    switch (s.kind) {
    case Step::Announce: {
      l.state = s.a;
      l.dest.clear();
      l.announced = true;
      Attrs a = ids(l);
      a.insert(a.end(), {{"state", l.state}, {"dest_num", ""}});
      send(l, "Discovery", a, now);
      break;
    }
    case Step::KeepAlive:
    case Step::Digits:
    case Step::Hangup: {
      /* Gateways report dialling as an idle line with the digits so far; a
       * denied line stays denied when its receiver goes down. */
      std::string state = s.a;
      if (s.kind == Step::Digits)
        state = "IDLE";
      else if (s.kind == Step::Hangup && denied(l))
        state = l.state;
      if (state != "CONNECTED")
        end_call(l, s.kind == Step::Hangup ? "hangup" : "state", now);
      l.state = state;
      if (s.kind == Step::Digits)
        l.dest = s.a;
      else if (s.kind == Step::Hangup)
        l.dest.clear();
      l.announced = true;
      Attrs a = ids(l);
      a.insert(a.end(), {{"state", l.state}, {"dest_num", l.dest}});
      send(l, "KeepAlive", a, now);
      break;
    }
    case Step::Connect: {
      start_call(l, s.a, s.b, now);
      l.state = "CONNECTED";
      l.dest = s.a;
      Attrs a = ids(l);
      a.insert(a.end(), {{"state", l.state}, {"src_num", s.b}, {"dest_num", s.a}});
      send(l, "Connected", a, now);
      break;
    }
    case Step::Wait:
      l.next_step = after(now, s.seconds);
      break;
    case Step::Cdr: {
      if (s.a != "CONNECTED")
        end_call(l, "cdr", now);
      l.state = s.a;
      Attrs a = ids(l);
      a.insert(a.end(),
               {{"state", l.state},
                {"callid", l.key.machine + "-" + std::to_string(l.key.line) + "-" + std::to_string(++l.cdr_seq)}});
      send(l, "CDR", a, now);
      break;
    }
    case Step::Silent:
      l.call_lost_in_silence = l.call.has_value();
      end_call(l, "silence", now);
      l.silent = true;
      l.silent_forever = s.seconds < 0;
      if (!l.silent_forever) {
        l.silent_until = after(now, s.seconds);
        l.next_step = l.silent_until;
      }
      break;
    case Step::Send: {
      Attrs a;
      bool named = std::any_of(s.attrs.begin(), s.attrs.end(), [](auto &p) {
        return strcasecmp(p.first.c_str(), "machine_id") == 0 || strcasecmp(p.first.c_str(), "line_id") == 0;
      });
      if (!named)
        a = ids(l);
      a.insert(a.end(), s.attrs.begin(), s.attrs.end());
      send(l, s.a, a, now);
      break;
    }
    case Step::Move: {
      sockaddr_in local{};
      int sock = open_line_socket(local);
      if (sock < 0) {
        rep_.errors.push_back(s.where + ": cannot open a new socket for " + name(l));
        break;
      }
      close(l.sock);
      l.sock = sock;
      l.local = local;
      l.rep.address = address_text(local);
      /* echoes still due would arrive at the old socket */
      l.pending.clear();
      break;
    }
    }
  }

  void end_silence(LineRt &l, TimePoint now)
  {
    if (!l.silent || l.silent_forever || now < l.silent_until)
      return;
    l.silent = false;
    if (l.call_lost_in_silence) {
      /* the station has given the call up; the line comes back idle */
      l.state = "IDLE";
      l.dest.clear();
      l.call_lost_in_silence = false;
    }
    if (l.announced)
      exec(l, make_step(Step::KeepAlive, "after silence", l.state), now);
  }

  /* Keep-alives stop with the run's last step: during the linger only the
   * echoes still due and the station's commands are awaited. */
  void keepalive(LineRt &l, TimePoint now)
  {
    if (finishing_ || !l.announced || l.silent || now < l.last_sent + milliseconds(opt_.keepalive_ms))
      return;
    Attrs a = ids(l);
    a.insert(a.end(), {{"state", l.state}, {"dest_num", l.dest}});
    send(l, "KeepAlive", a, now);
  }

  void expire(LineRt &l, TimePoint now)
  {
    auto overdue = [&] {
      return !l.pending.empty() && now >= l.pending.front().sent + milliseconds(opt_.echo_timeout_ms);
    };
    if (!overdue())
      return;
    /* An echo waiting unread in the socket is not missing: on a busy machine
     * this pass may simply have run late. */
    receive(l, now);
    while (overdue()) {
      if (opt_.verbose)
        std::cerr << "!! " << name(l) << " no echo for " << l.pending.front().text;
      l.rep.missing++;
      l.pending.pop_front();
    }
  }

  void receive(LineRt &l, TimePoint now)
  {
    char buf[2048];
    for (;;) {
      ssize_t n = recv(l.sock, buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0)
        return;
      std::string text(buf, (size_t)n);
      auto it = std::find_if(l.pending.begin(), l.pending.end(), [&](auto &p) { return p.text == text; });
      if (it != l.pending.end()) {
        l.rep.echoed++;
        l.pending.erase(it);
        continue;
      }
      Message m;
      if (text != l.last_answer && parse_message(buf, (size_t)n, m) && strncasecmp(m.type.c_str(), "Action", 6) == 0) {
        command(l, buf, (size_t)n, now);
        continue;
      }
      if (opt_.verbose)
        std::cerr << "?? " << name(l) << " unexpected " << text;
      l.rep.unexpected++;
    }
  }

  void command(LineRt &l, const char *data, size_t len, TimePoint now)
  {
    std::string cmd = attribute_text(data, len);
    if (opt_.verbose)
      std::cerr << "<< " << name(l) << " command " << cmd;
    l.rep.commands++;
    CommandReport cr;
    cr.machine = l.key.machine;
    cr.line = l.key.line;
    cr.command = cmd;
    if (opt_.answer_actions) {
      std::string state = l.state;
      for (auto &[match, next] : opt_.actions)
        if (strcasestr(cmd.c_str(), match.c_str())) {
          state = next;
          break;
        }
      if (l.call && state != "CONNECTED") {
        /* The gateway cuts the call as its receiver going down would end
         * it: the hang-up report first, with the new state and no number,
         * then the command's answer. */
        end_call(l, "command", now);
        l.state = state;
        l.dest.clear();
        Attrs a = ids(l);
        a.insert(a.end(), {{"state", l.state}, {"dest_num", l.dest}});
        send(l, "KeepAlive", a, now);
      }
      l.state = state;
      if (denied(l))
        l.dest.clear(); /* what was dialled so far is dropped */
      Attrs a = ids(l);
      a.emplace_back("state", state);
      send(l, "Action", a, now);
      cr.answer = state;
    }
    rep_.commands.push_back(cr);
  }

  int finish(int rc)
  {
    for (auto &l : lines_) {
      if (l.call) {
        l.call->ended_by = "open";
        rep_.calls.push_back(*l.call);
        l.call.reset();
      }
      for (auto &p : l.pending) {
        (void)p;
        l.rep.missing++;
      }
      l.pending.clear();
      l.rep.state = l.state;
      rep_.sent += l.rep.sent;
      rep_.echoed += l.rep.echoed;
      rep_.missing += l.rep.missing;
      rep_.unexpected += l.rep.unexpected;
      rep_.lines.push_back(l.rep);
      if (l.sock >= 0)
        close(l.sock);
      l.sock = -1;
    }
    std::stable_sort(rep_.calls.begin(), rep_.calls.end(),
                     [](const Call &a, const Call &b) { return a.start < b.start; });
    return rc;
  }

  const Options &opt_;
  Report &rep_;
  Mode mode_;
  std::vector<LineRt> lines_;
  std::optional<TimePoint> stop_at_;
  bool finishing_ = false; /* the last step has run; lingering */
};

} /* namespace */

int run_simulation(const Options &opt, const Plan &plan, Report &report)
{
  Sim sim(opt, plan, report);
  return sim.run();
}

} /* namespace gwsim */
