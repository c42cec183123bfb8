/* The bridge: every booth a gateway line towards the station, Kamailio's
 * events turned into the lines' states, the station's commands into
 * Kamailio's deny table. The loop polls the event socket and the booths'
 * sockets; each pass first reconnects the event socket when it is due and
 * sends the reports that are due, then waits at most 100 ms. */
#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>

#include "sipgw.h"

namespace sipgw {

using gwwire::Attrs;

namespace {

constexpr int kBackoffFirstMs = 500;
constexpr int kBackoffMaxMs = 10000;
/* An INVITE Kamailio said nothing more of is forgotten after this long (it
 * gives an unanswered INVITE two minutes). */
constexpr auto kDiallingLimit = std::chrono::seconds(180);

std::vector<std::string> words(const std::string &text)
{
  std::vector<std::string> w;
  std::istringstream in(text);
  for (std::string s; in >> s;)
    w.push_back(s);
  return w;
}

std::string address_text(const sockaddr_in &a)
{
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

} /* namespace */

void logf(const char *fmt, ...)
{
  char when[32];
  time_t t = time(nullptr);
  struct tm tm;
  localtime_r(&t, &tm);
  strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  char text[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  fprintf(stderr, "%s quenta-sipgw: %s\n", when, text);
}

Bridge::Bridge(const Options &opt) : opt_(opt) {}

Bridge::~Bridge()
{
  for (auto &b : booths_)
    if (b.sock >= 0)
      close(b.sock);
  if (ev_ >= 0)
    close(ev_);
}

std::string Bridge::start()
{
  std::vector<BoothEntry> entries;
  std::string err = load_booths(opt_.booths_file, entries);
  if (!err.empty())
    return err;
  std::string warning = booths_file_warning(opt_.booths_file);
  if (!warning.empty())
    logf("warning: %s", warning.c_str());
  std::set<std::string> denied;
  if (!opt_.state_file.empty())
    denied = load_denied(opt_.state_file);
  booths_.reserve(entries.size());
  for (auto &e : entries) {
    Booth b;
    b.entry = e;
    b.denied = denied.count(e.account) > 0;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = opt_.source;
    b.sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    /* connected: the kernel passes on only what comes from the station */
    if (b.sock < 0 || bind(b.sock, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0 ||
        connect(b.sock, reinterpret_cast<const sockaddr *>(&opt_.station), sizeof opt_.station) < 0) {
      err = "cannot open the socket of booth " + e.account + ": " + strerror(errno);
      if (b.sock >= 0)
        close(b.sock);
      return err;
    }
    by_account_[e.account] = booths_.size();
    booths_.push_back(std::move(b));
  }
  logf("%zu booths from %s, %zu of them denied; station at %s", booths_.size(), opt_.booths_file.c_str(), denied.size(),
       address_text(opt_.station).c_str());
  return "";
}

Booth *Bridge::booth(const std::string &account)
{
  auto it = by_account_.find(account);
  return it == by_account_.end() ? nullptr : &booths_[it->second];
}

Booth *Bridge::booth_of_call(const std::string &callid)
{
  for (auto &b : booths_)
    if (b.call_id == callid)
      return &b;
  return nullptr;
}

/* A booth is reported while it is registered or busy; otherwise it falls
 * silent and the station shows it offline. */
bool Bridge::active(const Booth &b) const
{
  return b.registered_until > time(nullptr) || !b.dialling.empty() || !b.call_id.empty();
}

const char *Bridge::state_of(const Booth &b) const
{
  if (!b.call_id.empty())
    return "CONNECTED";
  return b.denied ? gwwire::kDeniedState : "IDLE";
}

void Bridge::send_station(Booth &b, const std::string &type, const Attrs &attrs)
{
  std::string msg = gwwire::compose(type, attrs);
  if (send(b.sock, msg.data(), msg.size(), MSG_NOSIGNAL) < 0 && opt_.verbose)
    logf("booth %s: sending to the station: %s", b.entry.account.c_str(), strerror(errno));
  if (opt_.verbose)
    logf("booth %s >> %s", b.entry.account.c_str(), type.c_str());
}

/* The booth's state as a Discovery (first) or KeepAlive: the dialled number
 * while an INVITE is on its way or a call is up. */
void Bridge::report(Booth &b, TimePoint now, const char *type)
{
  if (!type)
    type = b.announced ? "KeepAlive" : "Discovery";
  const std::string &number = b.call_id.empty() ? b.dialling : b.number;
  send_station(b, type,
               {{"machine_id", b.entry.machine},
                {"line_id", std::to_string(b.entry.line)},
                {"state", state_of(b)},
                {"dest_num", number}});
  b.announced = true;
  b.next_report = now + std::chrono::milliseconds(opt_.keepalive_ms);
}

void Bridge::call_answered(Booth &b, const std::string &callid, const std::string &number, const std::string &he,
                           const std::string &hid, bool adopted, TimePoint now)
{
  if (b.dialling_callid == callid) {
    b.dialling.clear();
    b.dialling_callid.clear();
  }
  if (b.denied && adopted) {
    /* a call the station never saw start while the booth is denied */
    logf("booth %s is denied: ending its call to %s", b.entry.account.c_str(), number.c_str());
    send_evapi("end " + callid + " " + he + " " + hid);
    return;
  }
  if (!b.call_id.empty() && b.call_id != callid)
    call_ended(b, "ended (a second call took the line)", now);
  b.call_id = callid;
  b.number = number;
  b.h_entry = he;
  b.h_id = hid;
  logf("booth %s: call to %s %s", b.entry.account.c_str(), number.c_str(),
       adopted ? "taken back from the SIP server" : "answered");
  if (syncing_)
    return; /* reported when the SIP server has told everything */
  if (adopted) {
    /* the station goes on with the call it knows from its real start */
    report(b, now);
  } else {
    send_station(b, "Connected",
                 {{"machine_id", b.entry.machine},
                  {"line_id", std::to_string(b.entry.line)},
                  {"state", "CONNECTED"},
                  {"src_num", b.entry.account},
                  {"dest_num", number}});
    b.announced = true;
    b.next_report = now + std::chrono::milliseconds(opt_.keepalive_ms);
  }
  if (b.denied) {
    /* answered after the booth was denied: cut at once, the call is stored */
    std::string h = "end " + callid + " " + he + " " + hid;
    call_ended(b, "cut: the booth is denied", now);
    send_evapi(h);
  }
}

void Bridge::call_ended(Booth &b, const char *how, TimePoint now)
{
  if (b.call_id.empty())
    return;
  logf("booth %s: call to %s %s", b.entry.account.c_str(), b.number.c_str(), how);
  b.call_id.clear();
  b.number.clear();
  b.h_entry.clear();
  b.h_id.clear();
  if (!syncing_)
    report(b, now); /* the state leaves CONNECTED: the station stores the call */
}

void Bridge::keep_denied()
{
  if (opt_.state_file.empty())
    return;
  std::set<std::string> denied;
  for (auto &b : booths_)
    if (b.denied)
      denied.insert(b.entry.account);
  if (!save_denied(opt_.state_file, denied))
    logf("cannot write %s: %s", opt_.state_file.c_str(), strerror(errno));
}

void Bridge::deny(Booth &b, TimePoint now)
{
  if (!b.denied)
    logf("booth %s denied", b.entry.account.c_str());
  b.denied = true;
  keep_denied();
  send_evapi("deny " + b.entry.account + " " + std::to_string(generation_));
  b.dialling.clear();
  b.dialling_callid.clear();
  if (!b.call_id.empty()) {
    /* the station first hears the hang-up, then Kamailio sends BYE both ways */
    std::string h = "end " + b.call_id + " " + b.h_entry + " " + b.h_id;
    call_ended(b, "cut: the booth was denied", now);
    send_evapi(h);
  }
}

void Bridge::permit(Booth &b, TimePoint)
{
  if (b.denied)
    logf("booth %s permitted", b.entry.account.c_str());
  b.denied = false;
  keep_denied();
  send_evapi("permit " + b.entry.account);
}

/* A datagram from the station on a booth's socket: the echo of a report, or
 * a command, answered as a gateway does with the line's new state. */
void Bridge::on_station(Booth &b, const char *data, size_t len, TimePoint now)
{
  gwwire::Message m;
  if (!gwwire::parse_message(data, len, m) || strncasecmp(m.type.c_str(), "Action", 6) != 0)
    return;
  std::string cmd = gwwire::attribute_text(data, len);
  if (strcasestr(cmd.c_str(), "call: deny"))
    deny(b, now);
  else if (strcasestr(cmd.c_str(), "call: permit"))
    permit(b, now);
  else
    logf("booth %s: command not understood: %s", b.entry.account.c_str(), cmd.c_str());
  send_station(b, "Action",
               {{"machine_id", b.entry.machine}, {"line_id", std::to_string(b.entry.line)}, {"state", state_of(b)}});
}

/* One event of Kamailio (see tools/sip/kamailio.cfg): words separated by
 * blanks, the kind first. */
void Bridge::on_event(const std::string &ev, TimePoint now)
{
  std::vector<std::string> w = words(ev);
  if (w.empty())
    return;
  if (opt_.verbose)
    logf("<< %s", ev.c_str());
  const std::string &kind = w[0];
  auto unknown = [&](const std::string &account) {
    logf("alarm: the SIP server reports account %s, which is no booth of %s (%s)", account.c_str(),
         opt_.booths_file.c_str(), ev.c_str());
  };
  if (kind == "reg" && w.size() >= 3) {
    Booth *b = booth(w[1]);
    if (!b)
      return unknown(w[1]);
    bool was = active(*b);
    b->registered_until = (time_t)strtoll(w[2].c_str(), nullptr, 10);
    if (!syncing_ && !was && active(*b)) {
      logf("booth %s registered", b->entry.account.c_str());
      report(*b, now);
    } else if (was && !active(*b)) {
      logf("booth %s unregistered", b->entry.account.c_str());
    }
  } else if (kind == "invite" && w.size() >= 4) {
    Booth *b = booth(w[2]);
    if (!b)
      return unknown(w[2]);
    b->dialling = w[3];
    b->dialling_callid = w[1];
    b->dialling_since = now;
    if (b->call_id.empty() && !syncing_)
      report(*b, now);
  } else if (kind == "failed" && w.size() >= 2) {
    for (auto &b : booths_)
      if (b.dialling_callid == w[1]) {
        logf("booth %s: call to %s not answered", b.entry.account.c_str(), b.dialling.c_str());
        b.dialling.clear();
        b.dialling_callid.clear();
        if (b.call_id.empty() && !syncing_)
          report(b, now);
      }
  } else if (kind == "start" && w.size() >= 6) {
    Booth *b = booth(w[2]);
    if (!b)
      return unknown(w[2]);
    call_answered(*b, w[1], w[3], w[4], w[5], false, now);
  } else if ((kind == "end" || kind == "bye") && w.size() >= 2) {
    if (Booth *b = booth_of_call(w[1]))
      call_ended(*b, kind == "end" ? "ended" : "ended by the SIP server", now);
  } else if (kind == "call" && w.size() >= 6) {
    synced_calls_.insert(w[1]);
    Booth *b = booth(w[2]);
    if (!b)
      return unknown(w[2]);
    if (b->call_id != w[1])
      call_answered(*b, w[1], w[3], w[4], w[5], true, now);
  } else if (kind == "synced") {
    syncing_ = false;
    for (auto &b : booths_)
      if (!b.call_id.empty() && !synced_calls_.count(b.call_id))
        call_ended(b, "gone with the SIP server's restart", now);
    synced_calls_.clear();
    size_t online = 0;
    for (auto &b : booths_)
      if (active(b)) {
        report(b, now);
        online++;
      }
    logf("in step with the SIP server: %zu booths online", online);
  } else if (kind == "stranger") {
    logf("alarm: the SIP server refused account %s from %s: no such booth", w.size() > 1 ? w[1].c_str() : "?",
         w.size() > 2 ? w[2].c_str() : "?");
  } else {
    logf("event not understood: %s", ev.c_str());
  }
}

/* ---- the event socket ---- */

void Bridge::connect_evapi(TimePoint now)
{
  ev_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (ev_ < 0) {
    drop_evapi(strerror(errno), now);
    return;
  }
  if (connect(ev_, reinterpret_cast<const sockaddr *>(&opt_.evapi), sizeof opt_.evapi) == 0) {
    hand_over();
  } else if (errno == EINPROGRESS) {
    ev_connecting_ = true;
  } else {
    drop_evapi(strerror(errno), now);
  }
}

void Bridge::drop_evapi(const char *why, TimePoint now)
{
  bool was_up = ev_ >= 0 && !ev_connecting_;
  if (ev_ >= 0)
    close(ev_);
  ev_ = -1;
  ev_connecting_ = false;
  ev_in_.clear();
  ev_out_.clear();
  syncing_ = false;
  ev_backoff_ms_ = ev_backoff_ms_ ? std::min(ev_backoff_ms_ * 2, kBackoffMaxMs) : kBackoffFirstMs;
  ev_retry_ = now + std::chrono::milliseconds(ev_backoff_ms_);
  if (was_up) {
    logf("lost the SIP server at %s (%s)", address_text(opt_.evapi).c_str(), why);
    /* Kamailio keeps its calls in memory alone: gone with it */
    for (auto &b : booths_) {
      b.dialling.clear();
      b.dialling_callid.clear();
      call_ended(b, "cut: the SIP server went away", now);
    }
  } else if (ev_backoff_ms_ == kBackoffFirstMs || ev_backoff_ms_ == kBackoffMaxMs || opt_.verbose) {
    logf("cannot reach the SIP server at %s (%s); trying again", address_text(opt_.evapi).c_str(), why);
  }
}

void Bridge::send_evapi(const std::string &msg)
{
  if (ev_ < 0 || ev_connecting_) {
    if (opt_.verbose)
      logf("not connected, not sent: %s", msg.c_str());
    return;
  }
  if (opt_.verbose)
    logf(">> %s", msg.c_str());
  ev_out_ += netstring(msg);
  ssize_t n = send(ev_, ev_out_.data(), ev_out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n > 0)
    ev_out_.erase(0, (size_t)n);
}

/* Connected: the accounts, the deny list (both replacing what Kamailio held
 * before), then the registrations and calls Kamailio holds. */
void Bridge::hand_over()
{
  ev_connecting_ = false;
  ev_backoff_ms_ = 0;
  generation_ = (long)time(nullptr);
  size_t denied = 0;
  for (auto &b : booths_)
    send_evapi("acct " + b.entry.account + " " + b.entry.password + " " + std::to_string(generation_));
  send_evapi("prune " + std::to_string(generation_));
  for (auto &b : booths_)
    if (b.denied) {
      send_evapi("deny " + b.entry.account + " " + std::to_string(generation_));
      denied++;
    }
  send_evapi("denyprune " + std::to_string(generation_));
  syncing_ = true;
  synced_calls_.clear();
  send_evapi("sync");
  logf("connected to the SIP server at %s: %zu booths, %zu denied", address_text(opt_.evapi).c_str(), booths_.size(),
       denied);
}

void Bridge::read_evapi(TimePoint now)
{
  char buf[65536];
  for (;;) {
    ssize_t n = recv(ev_, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) {
      drop_evapi("closed", now);
      return;
    }
    if (n < 0) {
      if (errno == EINTR)
        continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        drop_evapi(strerror(errno), now);
      return;
    }
    ev_in_.append(buf, (size_t)n);
    std::vector<std::string> events;
    bool ok = take_netstrings(ev_in_, events);
    int fd = ev_;
    for (auto &e : events) {
      on_event(e, now);
      if (ev_ != fd)
        return;
    }
    if (!ok) {
      drop_evapi("garbled data", now);
      return;
    }
  }
}

int Bridge::run(volatile int &stop)
{
  std::vector<pollfd> fds;
  char buf[gwwire::kDatagramMax + 1];
  while (!stop) {
    TimePoint now = Clock::now();
    if (ev_ < 0 && now >= ev_retry_)
      connect_evapi(now);
    for (auto &b : booths_) {
      if (!b.dialling.empty() && now - b.dialling_since > kDiallingLimit) {
        b.dialling.clear();
        b.dialling_callid.clear();
      }
      if (!syncing_ && active(b) && now >= b.next_report)
        report(b, now);
    }

    fds.clear();
    int evfd = ev_;
    if (evfd >= 0)
      fds.push_back({evfd, (short)(POLLIN | (ev_connecting_ || !ev_out_.empty() ? POLLOUT : 0)), 0});
    for (auto &b : booths_)
      fds.push_back({b.sock, POLLIN, 0});
    int n = poll(fds.data(), fds.size(), 100);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      logf("poll: %s", strerror(errno));
      return 1;
    }
    now = Clock::now();
    size_t i = 0;
    if (evfd >= 0) {
      short re = fds[i++].revents;
      if (ev_connecting_ && (re & (POLLOUT | POLLERR | POLLHUP))) {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(evfd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err)
          drop_evapi(strerror(err), now);
        else
          hand_over();
      } else if (re & (POLLIN | POLLERR | POLLHUP)) {
        read_evapi(now);
      }
      if (ev_ == evfd && !ev_connecting_ && !ev_out_.empty() && (re & POLLOUT)) {
        ssize_t sent = send(ev_, ev_out_.data(), ev_out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
          ev_out_.erase(0, (size_t)sent);
        else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
          drop_evapi(strerror(errno), now);
      }
    }
    for (auto &b : booths_) {
      if (!(fds[i++].revents & POLLIN))
        continue;
      ssize_t got;
      while ((got = recv(b.sock, buf, sizeof buf - 1, MSG_DONTWAIT)) >= 0)
        on_station(b, buf, (size_t)got, now);
    }
  }
  logf("stopped");
  return 0;
}

} /* namespace sipgw */
