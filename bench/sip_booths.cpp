// SIP booths under load through Kamailio and the bridge quenta-sipgw, against
// a real message handler storing the calls. The booths (100 by default) and
// the carrier are small SIP agents of this program on 127.0.1.1 and
// 127.0.0.3; Kamailio runs tools/sip/kamailio.cfg on 127.0.0.2. Measures, in
// ms, from a call's confirmation (the carrier's 200 OK) to the station's
// CONNECTED and from the booth's BYE to the stored call, while 30 short calls
// run at a time; then checks that every call is stored once. Last, "call:
// deny" during a call, once on each booth: both the booth and the carrier
// must receive a BYE, and the call must be stored.
//
//   build/bench/bench_sip_booths [--seconds N] [--booths N] [--calls N] [--talk MS]
//   SIPGW=path/to/quenta-sipgw   the bridge (default: beside this program's build tree)
//
// As root it runs in a network namespace of its own (ports 5060 and 9849).
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "quenta/msghdlr.h"
#include "utils/debug.h"
#include "utils/md5.h"

namespace {

using Clock = std::chrono::steady_clock;
double ms_since(Clock::time_point t)
{
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

const char *kProxy = "127.0.0.2";
const char *kCarrier = "127.0.0.3";
const char *kBooths = "127.0.1.1";
std::mt19937 g_rng(42);

std::string token()
{
  return std::to_string(g_rng()) + std::to_string(g_rng() % 100000);
}

std::string md5hex(const std::string &s)
{
  unsigned char d[MD5_DIGEST_LEN];
  utils::MD5(reinterpret_cast<const unsigned char *>(s.data()), s.size(), d);
  char hex[33];
  for (int i = 0; i < 16; i++)
    snprintf(hex + 2 * i, 3, "%02x", d[i]);
  return hex;
}

// ---- SIP messages: a first line, headers in order, no body ----

struct Sip {
  std::string first;
  std::vector<std::pair<std::string, std::string>> headers;
  int status = 0;      // of a reply, else 0
  std::string method;  // of a request, or the CSeq's method of a reply
  std::string get(const char *name) const
  {
    for (auto &h : headers)
      if (strcasecmp(h.first.c_str(), name) == 0)
        return h.second;
    return "";
  }
  std::vector<std::string> all(const char *name) const
  {
    std::vector<std::string> v;
    for (auto &h : headers)
      if (strcasecmp(h.first.c_str(), name) == 0)
        v.push_back(h.second);
    return v;
  }
};

bool parse(const std::string &text, Sip &m)
{
  size_t at = text.find("\r\n");
  if (at == std::string::npos)
    return false;
  m.first = text.substr(0, at);
  for (size_t next; (next = text.find("\r\n", at + 2)) != std::string::npos && next > at + 2; at = next) {
    std::string line = text.substr(at + 2, next - at - 2);
    size_t colon = line.find(':');
    if (colon == std::string::npos)
      return false;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    m.headers.emplace_back(line.substr(0, colon), value);
  }
  if (m.first.compare(0, 8, "SIP/2.0 ") == 0)
    m.status = atoi(m.first.c_str() + 8);
  std::string cseq = m.get("CSeq");
  m.method = m.status ? cseq.substr(cseq.find(' ') + 1) : m.first.substr(0, m.first.find(' '));
  return true;
}

std::string param(const std::string &header, const char *name)
{
  std::string key = std::string(name) + "=";
  size_t at = header.find(key);
  if (at == std::string::npos)
    return "";
  at += key.size();
  if (header[at] == '"')
    return header.substr(at + 1, header.find('"', at + 1) - at - 1);
  return header.substr(at, header.find_first_of(",; ", at) - at);
}

std::string uri_of(const std::string &nameaddr)
{
  size_t lt = nameaddr.find('<');
  return lt == std::string::npos ? nameaddr : nameaddr.substr(lt + 1, nameaddr.find('>') - lt - 1);
}

// A reply to a request: its Via, Record-Route, From, To (tagged), Call-ID, CSeq.
std::string reply(const Sip &req, int code, const char *reason, const std::string &to_tag, const std::string &extra)
{
  std::string r = "SIP/2.0 " + std::to_string(code) + " " + reason + "\r\n";
  for (auto &h : req.headers)
    if (!strcasecmp(h.first.c_str(), "Via") || !strcasecmp(h.first.c_str(), "Record-Route") ||
        !strcasecmp(h.first.c_str(), "From") || !strcasecmp(h.first.c_str(), "Call-ID") ||
        !strcasecmp(h.first.c_str(), "CSeq"))
      r += h.first + ": " + h.second + "\r\n";
  std::string to = req.get("To");
  if (to.find(";tag=") == std::string::npos && !to_tag.empty())
    to += ";tag=" + to_tag;
  return r + "To: " + to + "\r\n" + extra + "Content-Length: 0\r\n\r\n";
}

int udp_socket(const char *ip, int port)
{
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip, &a.sin_addr);
  if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    perror("bind");
    exit(1);
  }
  int size = 1 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return s;
}

void send_to(int s, const char *ip, int port, const std::string &text)
{
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, ip, &a.sin_addr);
  sendto(s, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
}

// ---- the booths (UAC) ----

struct Booth {
  int index = 0, port = 0, sock = -1;
  std::string user, password;
  enum State { Registering, Idle, Inviting, Up, Ending } state = Registering;
  unsigned cseq = 1;
  std::string callid, ftag, ttag, target, branch;
  std::vector<std::string> routes;
  std::string last_request;  // for the retry with credentials
  Clock::time_point up_at, bye_at;
  bool bye_received = false;
};

std::string via(const Booth &b, std::string &branch)
{
  branch = "z9hG4bK" + token();
  return "Via: SIP/2.0/UDP " + std::string(kBooths) + ":" + std::to_string(b.port) + ";branch=" + branch + ";rport\r\n";
}

std::string request(Booth &b, const std::string &method, const std::string &ruri, const std::string &to,
                    const std::string &extra)
{
  std::string r = method + " " + ruri + " SIP/2.0\r\n" + via(b, b.branch) + "Max-Forwards: 70\r\n";
  for (auto &route : b.routes)
    r += "Route: " + route + "\r\n";
  r += "From: <sip:" + b.user + "@" + kProxy + ">;tag=" + b.ftag + "\r\nTo: " + to + "\r\nCall-ID: " + b.callid +
       "\r\nCSeq: " + std::to_string(b.cseq) + " " + method + "\r\nContact: <sip:" + b.user + "@" + kBooths + ":" +
       std::to_string(b.port) + ">\r\n" + extra + "Content-Length: 0\r\n\r\n";
  return r;
}

std::string digest(const Booth &b, const Sip &challenge, const std::string &method, const std::string &uri)
{
  std::string h = challenge.get(challenge.status == 401 ? "WWW-Authenticate" : "Proxy-Authenticate");
  std::string realm = param(h, "realm"), nonce = param(h, "nonce"), cnonce = token();
  std::string ha1 = md5hex(b.user + ":" + realm + ":" + b.password), ha2 = md5hex(method + ":" + uri);
  std::string resp = md5hex(ha1 + ":" + nonce + ":00000001:" + cnonce + ":auth:" + ha2);
  return std::string(challenge.status == 401 ? "Authorization" : "Proxy-Authorization") + ": Digest username=\"" +
         b.user + "\", realm=\"" + realm + "\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"" + resp +
         "\", qop=auth, nc=00000001, cnonce=\"" + cnonce + "\", algorithm=MD5\r\n";
}

void send_proxy(Booth &b, const std::string &text)
{
  send_to(b.sock, kProxy, 5060, text);
}

void do_register(Booth &b, const std::string &auth)
{
  b.callid = "reg-" + b.user;
  b.ftag = "r" + b.user;
  b.routes.clear();
  std::string to = "<sip:" + b.user + "@" + kProxy + ">";
  send_proxy(b, request(b, "REGISTER", std::string("sip:") + kProxy, to, "Expires: 300\r\n" + auth));
  b.cseq++;
}

std::string g_number = "114";

void do_invite(Booth &b, const std::string &auth)
{
  if (auth.empty()) {
    b.callid = "call-" + token();
    b.ftag = "f" + token();
    b.ttag.clear();
    b.routes.clear();
    b.bye_received = false;
  }
  b.state = Booth::Inviting;
  std::string ruri = "sip:" + g_number + "@" + kProxy;
  send_proxy(b, request(b, "INVITE", ruri, "<" + ruri + ">", auth));
}

// ---- the run ----

struct Measure {
  std::vector<double> connect_ms, store_ms;
};

struct LineSeen {
  std::string state;
  int stored = 0;
};

std::map<int, LineSeen> g_lines;

void poll_station(msghdlr *h)
{
  msghdlr_get_status_ex(
      h,
      [](const char *m, int line, const char *state, const char *, const char *, const char *, int flag, void *) {
        if (strcmp(m, "SIPB") != 0)
          return;
        g_lines[line].state = state;
        if (flag)
          g_lines[line].stored++;
      },
      nullptr);
}

double pct(std::vector<double> v, double p)
{
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, (size_t)(p / 100 * v.size()))];
}

pid_t spawn(const std::vector<std::string> &argv, const std::string &log)
{
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char *> args;
    for (auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

int main(int argc, char **argv)
{
  int seconds = 20, nbooths = 100, parallel = 30, talk_ms = 1500;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string o = argv[i];
    int v = atoi(argv[i + 1]);
    if (o == "--seconds")
      seconds = v;
    else if (o == "--booths")
      nbooths = std::min(v, 100);
    else if (o == "--calls")
      parallel = v;
    else if (o == "--talk")
      talk_ms = v;
  }
  if (unshare(CLONE_NEWNET) == 0) {
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    strcpy(ifr.ifr_name, "lo");
    ioctl(s, SIOCGIFFLAGS, &ifr);
    ifr.ifr_flags |= IFF_UP;
    ioctl(s, SIOCSIFFLAGS, &ifr);
    close(s);
  }
  signal(SIGPIPE, SIG_IGN);
  char tmpl[] = "/tmp/quenta-sipbench.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  if (chdir(dir.c_str()) != 0)
    return 1;
  utils::set_log_file("app.log");
  msghdlr *h = create_msghdlr((dir + "/quentadb").c_str(), "cdrtbl");
  if (!h) {
    fprintf(stderr, "the message handler cannot start (port 9849 taken?)\n");
    return 1;
  }

  std::string self(4096, '\0');
  self.resize(std::max<ssize_t>(0, readlink("/proc/self/exe", self.data(), self.size())));
  std::string build = self.substr(0, self.rfind('/')) + "/..";
  std::string sipgw = getenv("SIPGW") ? getenv("SIPGW") : build + "/tools/quenta-sipgw/quenta-sipgw";
  std::string top = SOURCE_DIR;
  mkdir((dir + "/run").c_str(), 0700);
  FILE *f = fopen((dir + "/booths").c_str(), "w");
  std::vector<Booth> booths(nbooths);
  for (int i = 0; i < nbooths; i++) {
    Booth &b = booths[i];
    b.index = i;
    b.port = 20000 + i;
    b.user = "b" + std::to_string(100 + i);
    b.password = "pw" + std::to_string(i);
    b.sock = udp_socket(kBooths, b.port);
    fprintf(f, "%s %s SIPB %d\n", b.user.c_str(), b.password.c_str(), i + 1);
  }
  fclose(f);
  chmod((dir + "/booths").c_str(), 0600);
  pid_t kam =
      spawn({"kamailio", "-f", top + "/tools/sip/kamailio.cfg", "-DD", "-E", "-A",
             std::string("LISTEN=udp:") + kProxy + ":5060", "-A", "RUN_DIR=\"" + dir + "/run\"", "-A",
             std::string("TRUNK_IP=\"") + kCarrier + "\"", "-A", std::string("TRUNK_HOST=\"") + kCarrier + ":5060\""},
            dir + "/kamailio.log");
  sleep(2);
  pid_t bridge = spawn({sipgw, "--booths", dir + "/booths"}, dir + "/bridge.log");
  int carrier = udp_socket(kCarrier, 5060);
  sleep(1);

  Measure m;
  std::map<std::string, Clock::time_point> confirmed;  // call-id -> carrier's 200 OK
  std::map<std::string, int> carrier_byes;
  std::map<int, Clock::time_point> connect_wait, store_wait;  // line -> since
  long placed = 0, answered = 0, ended = 0, failed = 0;
  char buf[4096];

  // One pass of every socket and the station; the booths act on what came.
  auto pump = [&](int wait_ms) {
    std::vector<pollfd> fds;
    fds.push_back({carrier, POLLIN, 0});
    for (auto &b : booths)
      fds.push_back({b.sock, POLLIN, 0});
    poll(fds.data(), fds.size(), wait_ms);
    ssize_t n;
    sockaddr_in from{};
    socklen_t fl = sizeof from;
    while ((n = recvfrom(carrier, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &fl)) > 0) {
      Sip q;
      if (!parse(std::string(buf, n), q) || q.status)
        continue;
      std::string ci = q.get("Call-ID");
      std::string text;
      if (q.method == "INVITE") {
        text = reply(q, 200, "OK", "c" + ci.substr(0, 8),
                     std::string("Contact: <sip:") + g_number + "@" + kCarrier + ":5060>\r\n");
        if (!confirmed.count(ci))
          confirmed[ci] = Clock::now();
      } else if (q.method == "BYE") {
        carrier_byes[ci]++;
        text = reply(q, 200, "OK", "", "");
      } else if (q.method != "ACK") {
        text = reply(q, 200, "OK", "", "");
      }
      if (!text.empty())
        sendto(carrier, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&from), fl);
    }
    for (auto &b : booths) {
      while ((n = recv(b.sock, buf, sizeof buf, 0)) > 0) {
        Sip r;
        if (!parse(std::string(buf, n), r))
          continue;
        if (!r.status) {  // a request within the call: BYE (denied) or a keep-alive
          if (r.method == "BYE" && r.get("Call-ID") == b.callid) {
            b.bye_received = true;
            if (b.state == Booth::Up) {
              b.state = Booth::Idle;
              ended++;
              store_wait[b.index + 1] = Clock::now();
            }
          }
          std::string text = reply(r, 200, "OK", "", "");
          send_proxy(b, text);
          continue;
        }
        if (r.get("Call-ID") != b.callid || r.status < 200)
          continue;
        if (r.method == "REGISTER") {
          if (r.status == 401)
            do_register(b, digest(b, r, "REGISTER", std::string("sip:") + kProxy));
          else if (r.status == 200)
            b.state = Booth::Idle;
        } else if (r.method == "INVITE" && b.state == Booth::Inviting) {
          std::string ruri = "sip:" + g_number + "@" + kProxy;
          std::string to = r.get("To");
          if (r.status >= 300) {
            // ACK the refusal (the same branch), then with credentials or give up
            std::string ack = "ACK " + ruri + " SIP/2.0\r\nVia: SIP/2.0/UDP " + kBooths + ":" + std::to_string(b.port) +
                              ";branch=" + b.branch + ";rport\r\nMax-Forwards: 70\r\nFrom: <sip:" + b.user + "@" +
                              kProxy + ">;tag=" + b.ftag + "\r\nTo: " + to + "\r\nCall-ID: " + b.callid +
                              "\r\nCSeq: " + std::to_string(b.cseq) + " ACK\r\nContent-Length: 0\r\n\r\n";
            send_proxy(b, ack);
            b.cseq++;
            if (r.status == 407 && b.last_request.empty()) {
              b.last_request = "auth";
              do_invite(b, digest(b, r, "INVITE", ruri));
            } else {
              b.state = Booth::Idle;
              failed++;
            }
            continue;
          }
          b.last_request.clear();
          b.ttag = param(to, "tag");
          b.target = uri_of(r.get("Contact"));
          std::vector<std::string> rr = r.all("Record-Route");
          b.routes.assign(rr.rbegin(), rr.rend());
          send_proxy(b, request(b, "ACK", b.target, to, ""));
          b.state = Booth::Up;
          b.up_at = Clock::now();
          answered++;
          connect_wait[b.index + 1] = confirmed.count(b.callid) ? confirmed[b.callid] : Clock::now();
        } else if (r.method == "BYE" && b.state == Booth::Ending) {
          b.state = Booth::Idle;
        }
      }
    }
    poll_station(h);
    for (auto it = connect_wait.begin(); it != connect_wait.end();)
      if (g_lines[it->first].state == "CONNECTED") {
        m.connect_ms.push_back(ms_since(it->second));
        it = connect_wait.erase(it);
      } else
        ++it;
    for (auto it = store_wait.begin(); it != store_wait.end();)
      if (g_lines[it->first].stored > 0) {
        g_lines[it->first].stored--;
        m.store_ms.push_back(ms_since(it->second));
        it = store_wait.erase(it);
      } else
        ++it;
  };
  auto hang_up = [&](Booth &b) {
    std::string to = "<sip:" + g_number + "@" + kProxy + ">;tag=" + b.ttag;
    b.cseq++;
    send_proxy(b, request(b, "BYE", b.target, to, ""));
    b.state = Booth::Ending;
    b.bye_at = Clock::now();
    ended++;
    store_wait[b.index + 1] = b.bye_at;
  };

  for (auto &b : booths)
    do_register(b, "");
  auto t0 = Clock::now();
  while (ms_since(t0) < 15000) {
    pump(5);
    int idle = 0;
    for (auto &b : booths)
      idle += b.state == Booth::Idle && g_lines[b.index + 1].state == "IDLE";
    if (idle == nbooths)
      break;
  }
  printf("%d booths registered and shown IDLE in %.0f ms\n", nbooths, ms_since(t0));

  // Short calls, `parallel` at a time, each booth at most one call a
  // second (a station call id holds the start second).
  std::vector<Clock::time_point> last_start(nbooths, Clock::now() - std::chrono::seconds(5));
  t0 = Clock::now();
  for (int busy = 1; ms_since(t0) < seconds * 1000.0 || busy || !connect_wait.empty() || !store_wait.empty();) {
    busy = 0;
    for (auto &b : booths)
      busy += b.state == Booth::Inviting || b.state == Booth::Up || b.state == Booth::Ending;
    for (auto &b : booths) {
      if (ms_since(t0) >= seconds * 1000.0 || busy >= parallel)
        break;
      if (b.state == Booth::Idle && g_lines[b.index + 1].state == "IDLE" && ms_since(last_start[b.index]) > 1500 &&
          !store_wait.count(b.index + 1)) {
        do_invite(b, "");
        last_start[b.index] = Clock::now();
        placed++;
        busy++;
      }
    }
    for (auto &b : booths)
      if (b.state == Booth::Up && ms_since(b.up_at) >= talk_ms)
        hang_up(b);
    pump(2);
    if (ms_since(t0) > seconds * 1000.0 + 20000)
      break;
  }
  for (int i = 0; i < 300; i++)
    pump(10);
  long ended_calls = ended, answered_calls = answered;

  // "call: deny" during a call on every booth in turn.
  int both = 0, stored_denied = 0, tries = 0;
  sqlite3 *db = nullptr;
  auto rows = [&] {
    sqlite3_open((dir + "/quentadb").c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt *st;
    long n = -1;
    if (sqlite3_prepare_v2(db, "select count(*), count(distinct callid) from cdrtbl", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int64(st, 0) * 1000000 + sqlite3_column_int64(st, 1);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
  };
  long before = rows();
  for (auto &b : booths) {
    while (ms_since(last_start[b.index]) < 1500)
      pump(5);
    tries++;
    do_invite(b, "");
    last_start[b.index] = Clock::now();
    auto t = Clock::now();
    while (!(b.state == Booth::Up && g_lines[b.index + 1].state == "CONNECTED") && ms_since(t) < 5000)
      pump(2);
    if (b.state != Booth::Up)
      continue;
    msghdlr_send_command(h, "SIPB", b.index + 1, "call: deny\n");
    t = Clock::now();
    std::string ci = b.callid;
    while (!(b.bye_received && carrier_byes[ci] > 0) && ms_since(t) < 5000)
      pump(2);
    both += b.bye_received && carrier_byes[ci] > 0;
    if (b.state == Booth::Up)
      b.state = Booth::Idle;
    msghdlr_send_command(h, "SIPB", b.index + 1, "call: permit\n");
    t = Clock::now();
    while (g_lines[b.index + 1].state != "IDLE" && ms_since(t) < 5000)
      pump(2);
  }
  for (int i = 0; i < 100; i++)
    pump(10);
  long after = rows();
  stored_denied = (int)(after / 1000000 - before / 1000000);

  printf("%ld calls placed in %d s, %d at a time, %d ms each: %ld answered, %ld ended, %ld refused\n", placed, seconds,
         parallel, talk_ms, answered_calls, ended_calls, failed);
  printf("confirmation -> station CONNECTED: p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms (%zu calls)\n",
         pct(m.connect_ms, 50), pct(m.connect_ms, 90), pct(m.connect_ms, 99), pct(m.connect_ms, 100),
         m.connect_ms.size());
  printf("BYE -> call stored: p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms (%zu calls)\n", pct(m.store_ms, 50),
         pct(m.store_ms, 90), pct(m.store_ms, 99), pct(m.store_ms, 100), m.store_ms.size());
  long stored = before / 1000000, distinct = before % 1000000;
  printf("stored: %ld rows, %ld distinct calls, for %ld ended calls (lost %ld, doubled %ld)\n", stored, distinct,
         ended_calls, std::max(0L, ended_calls - distinct), stored - distinct);
  printf("deny during a call: BYE to both sides %d of %d, calls stored %d\n", both, tries, stored_denied);

  kill(bridge, SIGTERM);
  kill(kam, SIGTERM);
  waitpid(bridge, nullptr, 0);
  waitpid(kam, nullptr, 0);
  msghdlr_release(h);
  bool ok =
      ended_calls == distinct && stored == distinct && both == tries && stored_denied == tries && tries == nbooths;
  if (ok) {
    std::string cmd = "rm -rf '" + dir + "'";
    (void)!system(cmd.c_str());
  } else {
    printf("files kept in %s\n", dir.c_str());
  }
  return ok ? 0 : 1;
}
