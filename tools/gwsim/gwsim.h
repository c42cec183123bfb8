/* The gateway simulator: gateway machines and their lines played against a
 * station over UDP, from a script, at random, or as a load generator. Every
 * line has a socket of its own, so the station's commands reach exactly the
 * line they are meant for; every message a line sends is expected back as the
 * station's echo. Declarations shared by the simulator's files. */
#ifndef GWSIM_GWSIM_H
#define GWSIM_GWSIM_H

#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>

#include <chrono>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "gwwire.h"

namespace gwsim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using gwwire::Attrs;
using gwwire::kDatagramMax;
using gwwire::kDeniedState;

struct Range {
  double lo, hi; /* seconds */
};

enum class Format { Text, Csv, Json };

struct Options {
  sockaddr_in station{}; /* where the station listens */
  std::string station_text = "127.0.0.1:9849";
  int machines = 1; /* grid of simulated lines: machines x lines */
  int lines = 1;
  bool grid_given = false;   /* -m or -l given: the grid takes part in a script run */
  std::string prefix = "GW"; /* machine k (from 1) is prefix + k */
  int first_line = 1;        /* number of the first line of every machine */
  uint64_t seed = 0;
  std::vector<std::string> script_files;
  std::vector<std::string> exec_texts;
  bool random = false;
  double duration = -1; /* seconds of a random, keep-alive or load run, the most a
                                       script run takes; -1: the mode's default */
  Range talk{5, 60};
  Range idle{2, 20};
  std::vector<std::string> numbers; /* random mode dials these; empty: random digits */
  double silent_ratio = 0;          /* share of random calls that end by silence */
  int keepalive_ms = 2000;
  int digit_ms = 150;
  int echo_timeout_ms = 1000;
  int linger_ms = -1;                                       /* -1: the mode's default */
  std::vector<std::pair<std::string, std::string>> actions; /* command text -> new state */
  bool answer_actions = true;
  double load_rate = 0; /* datagrams per second; 0: not load mode */
  bool flood = false;   /* load mode as an unknown sender: no announcement, no echo expected */
  Format format = Format::Text;
  std::string output; /* summary file; empty: standard output */
  bool verbose = false;
  bool strict = false;
};

/* the message format (tools/gwwire) */
using gwwire::attribute_text;
using gwwire::compose;
using gwwire::Message;
using gwwire::parse_message;

/* ---- script.cpp: what the lines do ---- */

struct Step {
  enum Kind {
    Announce,  /* Discovery; a: state */
    KeepAlive, /* one KeepAlive now; a: state */
    Digits,    /* KeepAlive "IDLE" with the digits so far in dest_num; a: digits */
    Connect,   /* Connected; a: number, b: calling number */
    Wait,      /* let seconds pass (keep-alives go on) */
    Hangup,    /* KeepAlive with a: state and no number */
    Cdr,       /* CDR; a: state */
    Silent,    /* send nothing for seconds (< 0: for the rest of the run) */
    Send,      /* raw message; a: type, attrs */
    Move,      /* continue from a new socket (a new source address) */
  } kind;
  std::string a, b;
  double seconds = 0;
  Attrs attrs;
  std::string where; /* "file:line" for messages */
};

/* A step of the given kind; a, b and seconds as the kind reads them. */
inline Step make_step(Step::Kind kind, const std::string &where, const std::string &a = {}, double seconds = 0,
                      const std::string &b = {})
{
  Step s;
  s.kind = kind;
  s.where = where;
  s.a = a;
  s.b = b;
  s.seconds = seconds;
  return s;
}

struct LineKey {
  std::string machine;
  int line;
  auto operator<=>(const LineKey &) const = default;
};

struct Plan {
  std::vector<LineKey> lines;           /* every line of the run, in creation order */
  std::vector<std::vector<Step>> steps; /* per line, same order */
};

/* Builds the run's lines and their steps from the grid and the scripts: the
 * empty string, or the error text. */
std::string build_plan(const Options &opt, Plan &plan);
/* The steps of one random call, appended to steps. */
void random_call(const Options &opt, std::mt19937_64 &rng, const LineKey &line, std::vector<Step> &steps);

/* ---- sim.cpp: the simulation ---- */

struct Call {
  std::string machine;
  int line = 0;
  std::string src, number;
  std::string start, end; /* local time "%Y-%m-%d %H:%M:%S"; end empty while open */
  double seconds = 0;     /* from connect to end, by the simulator's clock */
  std::string ended_by;   /* hangup, cdr, state, command, silence, open */
};

struct LineReport {
  std::string machine;
  int line = 0;
  std::string state;   /* last state the line reported */
  std::string address; /* local address of its socket */
  long sent = 0, echoed = 0, missing = 0, unexpected = 0, commands = 0;
};

struct CommandReport {
  std::string machine;
  int line = 0;
  std::string command; /* the attribute text of the station's command */
  std::string answer;  /* the state answered, empty when not answered */
};

struct Report {
  std::string mode; /* script, random, load */
  long sent = 0, echoed = 0, missing = 0, unexpected = 0;
  std::vector<LineReport> lines;
  std::vector<Call> calls;
  std::vector<CommandReport> commands;
  std::vector<std::string> errors;
  /* load mode */
  double rate = 0, duration = 0, achieved_rate = 0;
  long lost = 0, duplicates = 0;
  double p50_us = 0, p90_us = 0, p99_us = 0, max_us = 0;
};

/* Script and random mode. 0, or 1 with errors in the report. */
int run_simulation(const Options &opt, const Plan &plan, Report &report);

/* ---- load.cpp ---- */
int run_load(const Options &opt, const Plan &plan, Report &report);

/* ---- report.cpp ---- */
void write_report(const Options &opt, const Report &report, FILE *out);
std::string local_time_text();

/* ---- common helpers (sim.cpp) ---- */
int open_line_socket(sockaddr_in &local); /* bound to an ephemeral port of g_source; -1 */
std::string address_text(const sockaddr_in &addr);
extern volatile int g_stop; /* set by SIGINT / SIGTERM */
extern in_addr g_source;    /* --bind: source address of every line socket */

} /* namespace gwsim */

#endif
