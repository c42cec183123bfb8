/* gwsim: plays gateway machines against a station. This file holds the
 * command line and the choice of mode; the modes live in sim.cpp (script,
 * random, keep-alive) and load.cpp. */
#include <arpa/inet.h>
#include <errno.h>
#include <getopt.h>
#include <netdb.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>

#include "gwsim.h"

using namespace gwsim;

namespace {

const char kHelp[] = R"(Usage: gwsim [OPTIONS]

Plays gateway machines with telephone lines against a station over UDP: the
lines announce themselves, keep alive, dial, connect and hang up, from a script
or at random; every message a line sends is expected back as the station's
echo; commands from the station ("Action") are answered with a new state. At
the end a summary of the run is printed: messages sent and echoed, the calls
made (machine, line, calling number, dialled number, start, end) and the
commands answered. Every line has a socket of its own.

Station and lines:
  -s, --station HOST[:PORT]  the station (default 127.0.0.1:9849)
  -m, --machines N           gateway machines (default 1)
  -l, --lines M              lines per machine (default 1)
  -p, --prefix TEXT          machine ids are TEXT1, TEXT2, ... (default GW)
      --first-line N         number of every machine's first line (default 1)
      --bind ADDRESS         send from this local IPv4 address (default: any); on
                             one machine 127.0.0.2 plays a host other than 127.0.0.1
      --seed N               seed of the random choices (default: from the clock;
                             the summary names it, so a run can be repeated)

Modes (without any of them the lines announce themselves and keep alive for
--duration seconds, or until interrupted):
  -f, --script FILE          run the script in FILE ("-": standard input); repeatable
  -e, --exec TEXT            run script text given here; repeatable
      --random               every line makes calls at random for --duration seconds
      --load RATE            load mode: RATE datagrams per second in all, the lines
                             taking turns, for --duration seconds (default 10)
      --flood RATE           load mode as a sender the station does not know: the
                             lines never announce themselves and no echo is
                             expected; the summary counts what the station answered
      --duration SECONDS     length of a random, keep-alive or load run (default 60
                             for random, 10 for load); for a script run, the
                             longest it may take

Script: one command per line or separated by ";", "#" starts a comment.
  [SELECTOR] COMMAND [ARGUMENTS]
  SELECTOR is MACHINE/LINE (the line is created if needed), MACHINE/* or *;
  without one the command applies to every line. Each line runs its own
  commands in order; all lines run at the same time.
    announce [STATE]         Discovery (state IDLE); keep-alives start
    keepalive [STATE]        one KeepAlive with STATE now (alias: state)
    dial DIGITS              one KeepAlive per digit, state IDLE, carrying the
                             digits so far in dest_num (as gateways report dialling)
    connect NUMBER [CALLER]  Connected: state CONNECTED, dest_num NUMBER, src_num
                             CALLER (default 8000 + line number); the call starts
    talk SECONDS             let time pass (alias: wait); keep-alives go on
    hangup [STATE]           KeepAlive with STATE (IDLE; FORBIDDEN while the line is
                             denied) and no number; ends a call
    cdr [STATE]              CDR message with a call id of the simulator's own
    silent [SECONDS]         send nothing for SECONDS (default: for the rest of the
                             run); the station gives a call up after ten seconds,
                             and the line comes back IDLE
    send TYPE [NAME=VALUE..] a message of any type; machine_id and line_id are
                             added unless given
    move                     continue from a new socket (a new source address)
  Example:
    gwsim -e 'GW7/2 announce; GW7/2 dial 114; GW7/2 connect 114 801; GW7/2 talk 5; GW7/2 hangup'

Denied lines: a line whose state is FORBIDDEN (after a command answered so, by
default "call: deny", or announced so) makes no calls. It keeps alive with
state FORBIDDEN, and its next dial or connect, scripted or random, waits until
a command answered with another state (by default "call: permit", answered
IDLE) permits it; then its steps go on where they stopped. Being denied
drops the digits dialled so far, and cuts a call in progress as a gateway
does: the line first reports the hang-up (KeepAlive, state FORBIDDEN, no
number), then answers the command; the summary lists the call as ended by
"command" (so does any command answered with a state other than CONNECTED
during a call). A script run lasts as long as one of its lines waits so
(--duration bounds it).

Random mode:
      --talk MIN:MAX         seconds a call lasts (default 5:60)
      --idle MIN:MAX         seconds between calls (default 2:20)
      --numbers N1,N2,...    numbers to dial (default: 3 to 11 random digits)
      --silent-ratio P       share of calls that end by silence (default 0)

Line behaviour:
  -k, --keepalive MS         keep-alive interval (default 2000)
      --digit-interval MS    pause between dialled digits (default 150)
      --action TEXT=STATE    answer a command whose text contains TEXT with STATE;
                             repeatable, first match wins (defaults:
                             "call: deny=FORBIDDEN", "call: permit=IDLE"; other
                             commands are answered with the current state)
      --no-action            do not answer commands
      --echo-timeout MS      an echo not back within MS is missing (default 1000)
      --linger MS            after the last step, wait MS for echoes and commands
                             (default 500; 1000 in load mode)

Output:
      --format text|csv|json summary format (default text); csv lists the calls,
                             or in load mode one row of figures
  -o, --output FILE          write the summary to FILE
  -v, --verbose              print every datagram sent and received on stderr
      --strict               exit with status 3 when an echo was missing
  -h, --help                 this text

Load mode reports datagrams sent (and the rate reached), echoes received, loss,
duplicates and the echo latency percentiles p50, p90, p99 and max in
microseconds. Every line first announces itself; the run stops when one is
not acknowledged. Flood mode reports datagrams sent and answered.

Exit status: 0 done, 1 the run failed (see the errors of the summary), 2 wrong
usage, 3 an echo was missing under --strict.
)";

bool parse_range(const char *text, Range &r)
{
  char *end = nullptr;
  r.lo = strtod(text, &end);
  if (*end != ':')
    return false;
  r.hi = strtod(end + 1, &end);
  return !*end && r.lo >= 0 && r.hi >= r.lo;
}

bool parse_station(const std::string &text, sockaddr_in &addr)
{
  std::string host = text, port = "9849";
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo *res = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0 || !res)
    return false;
  memcpy(&addr, res->ai_addr, sizeof addr);
  freeaddrinfo(res);
  return true;
}

bool parse_int(const char *text, int lo, int &v)
{
  char *end = nullptr;
  long n = strtol(text, &end, 10);
  if (*end || end == text || n < lo || n > 1000000000)
    return false;
  v = (int)n;
  return true;
}

bool parse_double(const char *text, double lo, double hi, double &v)
{
  char *end = nullptr;
  double d = strtod(text, &end);
  if (end == text || *end || !(d >= lo && d <= hi))
    return false;
  v = d;
  return true;
}

int usage(const std::string &msg)
{
  std::cerr << "gwsim: " << msg << "\nTry 'gwsim --help'.\n";
  return 2;
}

void on_signal(int)
{
  g_stop = 1;
}

} /* namespace */

in_addr gwsim::g_source = {htonl(INADDR_ANY)};

int main(int argc, char **argv)
{
  Options opt;
  opt.seed = (uint64_t)time(nullptr) ^ ((uint64_t)getpid() << 16);
  bool actions_given = false;
  enum {
    O_FIRST = 1000,
    O_SEED,
    O_RANDOM,
    O_LOAD,
    O_DURATION,
    O_TALK,
    O_IDLE,
    O_NUMBERS,
    O_SILENT,
    O_DIGIT,
    O_ACTION,
    O_NOACTION,
    O_ECHOTO,
    O_LINGER,
    O_FORMAT,
    O_STRICT,
    O_BIND,
    O_FLOOD
  };
  static const option longopts[] = {{"station", required_argument, nullptr, 's'},
                                    {"machines", required_argument, nullptr, 'm'},
                                    {"lines", required_argument, nullptr, 'l'},
                                    {"prefix", required_argument, nullptr, 'p'},
                                    {"first-line", required_argument, nullptr, O_FIRST},
                                    {"seed", required_argument, nullptr, O_SEED},
                                    {"script", required_argument, nullptr, 'f'},
                                    {"exec", required_argument, nullptr, 'e'},
                                    {"random", no_argument, nullptr, O_RANDOM},
                                    {"load", required_argument, nullptr, O_LOAD},
                                    {"duration", required_argument, nullptr, O_DURATION},
                                    {"talk", required_argument, nullptr, O_TALK},
                                    {"idle", required_argument, nullptr, O_IDLE},
                                    {"numbers", required_argument, nullptr, O_NUMBERS},
                                    {"silent-ratio", required_argument, nullptr, O_SILENT},
                                    {"keepalive", required_argument, nullptr, 'k'},
                                    {"digit-interval", required_argument, nullptr, O_DIGIT},
                                    {"action", required_argument, nullptr, O_ACTION},
                                    {"no-action", no_argument, nullptr, O_NOACTION},
                                    {"echo-timeout", required_argument, nullptr, O_ECHOTO},
                                    {"linger", required_argument, nullptr, O_LINGER},
                                    {"format", required_argument, nullptr, O_FORMAT},
                                    {"output", required_argument, nullptr, 'o'},
                                    {"verbose", no_argument, nullptr, 'v'},
                                    {"strict", no_argument, nullptr, O_STRICT},
                                    {"help", no_argument, nullptr, 'h'},
                                    {"bind", required_argument, nullptr, O_BIND},
                                    {"flood", required_argument, nullptr, O_FLOOD},
                                    {nullptr, 0, nullptr, 0}};

  int c;
  while ((c = getopt_long(argc, argv, "s:m:l:p:f:e:k:o:vh", longopts, nullptr)) != -1) {
    switch (c) {
    case 's':
      opt.station_text = optarg;
      break;
    case 'm':
      if (!parse_int(optarg, 1, opt.machines))
        return usage("--machines wants a number of at least 1");
      opt.grid_given = true;
      break;
    case 'l':
      if (!parse_int(optarg, 1, opt.lines))
        return usage("--lines wants a number of at least 1");
      opt.grid_given = true;
      break;
    case 'p':
      opt.prefix = optarg;
      break;
    case O_FIRST:
      if (!parse_int(optarg, 0, opt.first_line))
        return usage("--first-line wants a number");
      break;
    case O_SEED: {
      char *end = nullptr;
      errno = 0;
      opt.seed = strtoull(optarg, &end, 10);
      if (end == optarg || *end || errno)
        return usage("--seed wants a whole number");
      break;
    }
    case 'f':
      opt.script_files.push_back(optarg);
      break;
    case 'e':
      opt.exec_texts.push_back(optarg);
      break;
    case O_RANDOM:
      opt.random = true;
      break;
    case O_LOAD:
      if (!parse_double(optarg, 0, 1e7, opt.load_rate) || opt.load_rate <= 0)
        return usage("--load wants a rate above 0");
      break;
    case O_DURATION:
      if (!parse_double(optarg, 0, 1e9, opt.duration))
        return usage("--duration wants seconds");
      break;
    case O_TALK:
      if (!parse_range(optarg, opt.talk))
        return usage("--talk wants MIN:MAX seconds");
      break;
    case O_IDLE:
      if (!parse_range(optarg, opt.idle))
        return usage("--idle wants MIN:MAX seconds");
      break;
    case O_NUMBERS: {
      std::string list = optarg;
      size_t start = 0;
      while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string n = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!n.empty())
          opt.numbers.push_back(n);
        if (comma == std::string::npos)
          break;
        start = comma + 1;
      }
      break;
    }
    case O_SILENT:
      if (!parse_double(optarg, 0, 1, opt.silent_ratio))
        return usage("--silent-ratio wants a share from 0 to 1");
      break;
    case 'k':
      if (!parse_int(optarg, 1, opt.keepalive_ms))
        return usage("--keepalive wants milliseconds");
      break;
    case O_DIGIT:
      if (!parse_int(optarg, 0, opt.digit_ms))
        return usage("--digit-interval wants milliseconds");
      break;
    case O_ACTION: {
      std::string a = optarg;
      size_t eq = a.rfind('=');
      if (eq == std::string::npos || eq == 0)
        return usage("--action wants TEXT=STATE");
      opt.actions.emplace_back(a.substr(0, eq), a.substr(eq + 1));
      actions_given = true;
      break;
    }
    case O_NOACTION:
      opt.answer_actions = false;
      break;
    case O_ECHOTO:
      if (!parse_int(optarg, 1, opt.echo_timeout_ms))
        return usage("--echo-timeout wants milliseconds");
      break;
    case O_LINGER:
      if (!parse_int(optarg, 0, opt.linger_ms))
        return usage("--linger wants milliseconds");
      break;
    case O_FORMAT:
      if (!strcmp(optarg, "text"))
        opt.format = Format::Text;
      else if (!strcmp(optarg, "csv"))
        opt.format = Format::Csv;
      else if (!strcmp(optarg, "json"))
        opt.format = Format::Json;
      else
        return usage("--format is text, csv or json");
      break;
    case 'o':
      opt.output = optarg;
      break;
    case 'v':
      opt.verbose = true;
      break;
    case O_STRICT:
      opt.strict = true;
      break;
    case O_BIND:
      if (inet_pton(AF_INET, optarg, &g_source) != 1)
        return usage("--bind wants an IPv4 address");
      break;
    case O_FLOOD:
      if (!parse_double(optarg, 0, 1e7, opt.load_rate) || opt.load_rate <= 0)
        return usage("--flood wants a rate above 0");
      opt.flood = true;
      break;
    case 'h':
      fputs(kHelp, stdout);
      return 0;
    default:
      return usage("unknown option");
    }
  }
  if (optind < argc)
    return usage(std::string("unexpected argument ") + argv[optind]);
  if (!actions_given)
    opt.actions = {{"call: deny", "FORBIDDEN"}, {"call: permit", "IDLE"}};
  if (opt.load_rate > 0 && (opt.random || !opt.script_files.empty() || !opt.exec_texts.empty()))
    return usage("--load runs alone, without a script or --random");
  if (opt.random && opt.duration < 0)
    opt.duration = 60;
  if (!parse_station(opt.station_text, opt.station))
    return usage("cannot resolve the station " + opt.station_text);

  Plan plan;
  Options grid = opt;
  if (opt.load_rate > 0) {
    grid.script_files.clear();
    grid.exec_texts.clear();
  }
  std::string err = build_plan(grid, plan);
  if (!err.empty())
    return usage(err);

  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Report report;
  int rc = opt.load_rate > 0 ? run_load(opt, plan, report) : run_simulation(opt, plan, report);

  FILE *out = stdout;
  if (!opt.output.empty()) {
    out = fopen(opt.output.c_str(), "w");
    if (!out) {
      std::cerr << "gwsim: cannot write " << opt.output << ": " << strerror(errno) << "\n";
      out = stdout;
    }
  }
  write_report(opt, report, out);
  if (out != stdout)
    fclose(out);
  if (rc == 0 && !report.errors.empty())
    rc = 1;
  if (rc == 0 && opt.strict && report.missing > 0)
    rc = 3;
  return rc;
}
