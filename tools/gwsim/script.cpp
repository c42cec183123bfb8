/* Scripts and random calls: turns script text into the steps of each line.
 *
 *   # comment
 *   [SELECTOR] COMMAND [ARGUMENTS]
 *
 * SELECTOR is MACHINE/LINE, MACHINE/(star) or (star); without one the command is for
 * every line. Commands are separated by line ends or ";". */
#include <ctype.h>
#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "gwsim.h"

namespace gwsim {

namespace {

struct Selector {
  enum { All, Machine, One } kind = All;
  LineKey key;
};

struct Command {
  Selector sel;
  std::vector<std::string> words;
  std::string where;
};

std::vector<std::string> split_words(const std::string &text)
{
  std::vector<std::string> words;
  std::istringstream in(text);
  std::string w;
  while (in >> w)
    words.push_back(w);
  return words;
}

bool parse_int(const std::string &s, int &v)
{
  if (s.empty())
    return false;
  char *end = nullptr;
  long n = strtol(s.c_str(), &end, 10);
  if (*end || n < INT32_MIN || n > INT32_MAX)
    return false;
  v = (int)n;
  return true;
}

bool parse_seconds(const std::string &s, double &v)
{
  if (s.empty())
    return false;
  char *end = nullptr;
  v = strtod(s.c_str(), &end);
  return !*end && v >= 0;
}

bool is_command(const std::string &w)
{
  static const char *names[] = {"announce", "keepalive", "state", "dial",   "connect", "talk",
                                "wait",     "hangup",    "cdr",   "silent", "send",    "move"};
  for (auto n : names)
    if (strcasecmp(w.c_str(), n) == 0)
      return true;
  return false;
}

bool parse_selector(const std::string &w, Selector &sel)
{
  if (w == "*") {
    sel.kind = Selector::All;
    return true;
  }
  size_t slash = w.rfind('/');
  if (slash == std::string::npos || slash == 0)
    return false;
  sel.key.machine = w.substr(0, slash);
  std::string line = w.substr(slash + 1);
  if (line == "*") {
    sel.kind = Selector::Machine;
    return true;
  }
  sel.kind = Selector::One;
  return parse_int(line, sel.key.line);
}

std::string default_src(int line)
{
  return std::to_string(8000 + line);
}

void add_dial(const Options &opt, const std::string &digits, const std::string &where, std::vector<Step> &steps)
{
  for (size_t i = 1; i <= digits.size(); i++) {
    if (i > 1)
      steps.push_back(make_step(Step::Wait, where, "", opt.digit_ms / 1000.0));
    steps.push_back(make_step(Step::Digits, where, digits.substr(0, i)));
  }
}

/* One command's steps for one line; the error text or "". */
std::string make_steps(const Options &opt, const Command &c, const LineKey &line, std::vector<Step> &out)
{
  const auto &w = c.words;
  std::string cmd = w[0];
  std::transform(cmd.begin(), cmd.end(), cmd.begin(), [](unsigned char ch) { return tolower(ch); });
  auto arg = [&](size_t i, const char *def) { return i < w.size() ? w[i] : std::string(def); };
  Step s = make_step(Step::Wait, c.where);

  if (cmd == "announce") {
    s.kind = Step::Announce;
    s.a = arg(1, "IDLE");
  } else if (cmd == "keepalive" || cmd == "state") {
    s.kind = Step::KeepAlive;
    s.a = arg(1, "IDLE");
  } else if (cmd == "dial") {
    if (w.size() != 2)
      return c.where + ": dial needs the digits";
    add_dial(opt, w[1], c.where, out);
    return "";
  } else if (cmd == "connect") {
    if (w.size() < 2 || w.size() > 3)
      return c.where + ": connect NUMBER [CALLING-NUMBER]";
    s.kind = Step::Connect;
    s.a = w[1];
    s.b = arg(2, default_src(line.line).c_str());
  } else if (cmd == "talk" || cmd == "wait") {
    if (w.size() != 2 || !parse_seconds(w[1], s.seconds))
      return c.where + ": " + cmd + " needs a number of seconds";
    s.kind = Step::Wait;
  } else if (cmd == "hangup") {
    s.kind = Step::Hangup;
    s.a = arg(1, "IDLE");
  } else if (cmd == "cdr") {
    s.kind = Step::Cdr;
    s.a = arg(1, "IDLE");
  } else if (cmd == "silent") {
    s.kind = Step::Silent;
    s.seconds = -1;
    if (w.size() > 2 || (w.size() == 2 && !parse_seconds(w[1], s.seconds)))
      return c.where + ": silent [SECONDS]";
  } else if (cmd == "send") {
    if (w.size() < 2)
      return c.where + ": send TYPE [NAME=VALUE ...]";
    s.kind = Step::Send;
    s.a = w[1];
    for (size_t i = 2; i < w.size(); i++) {
      size_t eq = w[i].find('=');
      if (eq == std::string::npos)
        return c.where + ": send wants NAME=VALUE, not " + w[i];
      s.attrs.emplace_back(w[i].substr(0, eq), w[i].substr(eq + 1));
    }
  } else if (cmd == "move") {
    s.kind = Step::Move;
  } else {
    return c.where + ": unknown command " + w[0];
  }
  out.push_back(s);
  return "";
}

std::string read_commands(const std::string &text, const std::string &origin, std::vector<Command> &out)
{
  std::istringstream in(text);
  std::string raw;
  int lineno = 0;
  while (std::getline(in, raw)) {
    lineno++;
    size_t hash = raw.find('#');
    if (hash != std::string::npos)
      raw.erase(hash);
    std::istringstream parts(raw);
    std::string piece;
    while (std::getline(parts, piece, ';')) {
      auto words = split_words(piece);
      if (words.empty())
        continue;
      Command c;
      c.where = origin + ":" + std::to_string(lineno);
      if (!is_command(words[0])) {
        if (!parse_selector(words[0], c.sel))
          return c.where + ": neither a line (MACHINE/LINE) nor a command: " + words[0];
        words.erase(words.begin());
        if (words.empty())
          return c.where + ": a line without a command";
      }
      c.words = std::move(words);
      out.push_back(std::move(c));
    }
  }
  return "";
}

} /* namespace */

std::string build_plan(const Options &opt, Plan &plan)
{
  std::vector<Command> commands;
  for (auto &f : opt.script_files) {
    std::string text;
    if (f == "-") {
      std::stringstream ss;
      ss << std::cin.rdbuf();
      text = ss.str();
    } else {
      std::ifstream in(f);
      if (!in)
        return "cannot read the script " + f;
      std::stringstream ss;
      ss << in.rdbuf();
      text = ss.str();
    }
    std::string err = read_commands(text, f, commands);
    if (!err.empty())
      return err;
  }
  for (size_t i = 0; i < opt.exec_texts.size(); i++) {
    std::string err = read_commands(opt.exec_texts[i], "-e" + std::to_string(i + 1), commands);
    if (!err.empty())
      return err;
  }

  std::map<LineKey, size_t> index;
  auto add_line = [&](const LineKey &k) {
    if (index.count(k))
      return;
    index[k] = plan.lines.size();
    plan.lines.push_back(k);
  };
  bool scripted = !commands.empty();
  if (!scripted || opt.grid_given) {
    for (int m = 1; m <= opt.machines; m++)
      for (int l = 0; l < opt.lines; l++)
        add_line({opt.prefix + std::to_string(m), opt.first_line + l});
  }
  for (auto &c : commands)
    if (c.sel.kind == Selector::One)
      add_line(c.sel.key);
  if (plan.lines.empty())
    return "the script names no line; give one as MACHINE/LINE or use -m and -l";
  plan.steps.assign(plan.lines.size(), {});

  for (auto &c : commands) {
    bool matched = false;
    for (size_t i = 0; i < plan.lines.size(); i++) {
      const LineKey &k = plan.lines[i];
      bool hit = c.sel.kind == Selector::All || (c.sel.kind == Selector::Machine && k.machine == c.sel.key.machine) ||
                 (c.sel.kind == Selector::One && k == c.sel.key);
      if (!hit)
        continue;
      matched = true;
      std::string err = make_steps(opt, c, k, plan.steps[i]);
      if (!err.empty())
        return err;
    }
    if (!matched)
      return c.where + ": no line of the run matches " + c.sel.key.machine + "/*";
  }
  return "";
}

void random_call(const Options &opt, std::mt19937_64 &rng, const LineKey &line, std::vector<Step> &steps)
{
  auto uniform = [&](Range r) { return std::uniform_real_distribution<double>(r.lo, r.hi)(rng); };
  std::string number;
  if (!opt.numbers.empty()) {
    number = opt.numbers[std::uniform_int_distribution<size_t>(0, opt.numbers.size() - 1)(rng)];
  } else {
    int len = std::uniform_int_distribution<int>(3, 11)(rng);
    for (int i = 0; i < len; i++)
      number += (char)('0' + std::uniform_int_distribution<int>(i == 0 ? 1 : 0, 9)(rng));
  }
  steps.push_back(make_step(Step::Wait, "random", "", uniform(opt.idle)));
  add_dial(opt, number, "random", steps);
  steps.push_back(make_step(Step::Connect, "random", number, 0, default_src(line.line)));
  steps.push_back(make_step(Step::Wait, "random", "", uniform(opt.talk)));
  if (std::uniform_real_distribution<double>(0, 1)(rng) < opt.silent_ratio) {
    /* long enough for the station to give the line up */
    steps.push_back(make_step(Step::Silent, "random", "", 12));
  } else {
    steps.push_back(make_step(Step::Hangup, "random", "IDLE"));
  }
}

} /* namespace gwsim */
