/* The summary of a run as text for people, CSV for spreadsheets, or JSON for
 * tests and tools. */
#include <time.h>

#include <string>

#include "gwsim.h"

namespace gwsim {

std::string local_time_text()
{
  time_t t = time(nullptr);
  struct tm tm;
  localtime_r(&t, &tm);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

namespace {

std::string json_text(const std::string &s)
{
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\t':
      out += "\\t";
      break;
    default:
      if (c < 0x20) {
        char esc[8];
        snprintf(esc, sizeof esc, "\\u%04x", c);
        out += esc;
      } else {
        out += (char)c;
      }
    }
  }
  return out + "\"";
}

std::string csv_text(const std::string &s)
{
  if (s.find_first_of(",\"\n") == std::string::npos)
    return s;
  std::string out = "\"";
  for (char c : s)
    out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

void write_text(const Options &opt, const Report &r, FILE *out)
{
  if (r.mode == "flood") {
    fprintf(out, "gwsim flood against %s: %.0f datagrams/s for %.1f s from %zu lines\n", opt.station_text.c_str(),
            r.rate, r.duration, r.lines.size());
    fprintf(out, "  sent %ld (%.1f/s), answered %ld\n", r.sent, r.achieved_rate, r.echoed);
  } else if (r.mode == "load") {
    fprintf(out, "gwsim load against %s: %.0f datagrams/s for %.1f s from %zu lines\n", opt.station_text.c_str(),
            r.rate, r.duration, r.lines.size());
    double loss = r.sent ? 100.0 * (double)r.lost / (double)r.sent : 0;
    fprintf(out, "  sent %ld (%.1f/s), echoed %ld, lost %ld (%.3f%%), duplicates %ld, unexpected %ld\n", r.sent,
            r.achieved_rate, r.echoed, r.lost, loss, r.duplicates, r.unexpected);
    fprintf(out, "  echo latency (us): p50 %.1f  p90 %.1f  p99 %.1f  max %.1f\n", r.p50_us, r.p90_us, r.p99_us,
            r.max_us);
  } else {
    fprintf(out, "gwsim %s run against %s, %zu lines, seed %llu\n", r.mode.c_str(), opt.station_text.c_str(),
            r.lines.size(), (unsigned long long)opt.seed);
    fprintf(out, "  messages: sent %ld, echoed %ld, missing %ld, unexpected %ld; commands %zu\n", r.sent, r.echoed,
            r.missing, r.unexpected, r.commands.size());
    fprintf(out, "calls: %zu\n", r.calls.size());
    for (auto &c : r.calls)
      fprintf(out, "  %s/%d  %s -> %s  %s .. %s  %.1f s  %s\n", c.machine.c_str(), c.line, c.src.c_str(),
              c.number.c_str(), c.start.c_str(), c.end.empty() ? "(open)" : c.end.c_str(), c.seconds,
              c.ended_by.c_str());
    for (auto &c : r.commands)
      fprintf(out, "command to %s/%d: %s  answered %s\n", c.machine.c_str(), c.line, json_text(c.command).c_str(),
              c.answer.empty() ? "(not answered)" : c.answer.c_str());
    fprintf(out, "lines:\n");
    for (auto &l : r.lines)
      fprintf(out, "  %s/%d  %-10s %s  sent %ld echoed %ld missing %ld unexpected %ld\n", l.machine.c_str(), l.line,
              l.state.c_str(), l.address.c_str(), l.sent, l.echoed, l.missing, l.unexpected);
  }
  for (auto &e : r.errors)
    fprintf(out, "error: %s\n", e.c_str());
}

void write_csv(const Report &r, FILE *out)
{
  if (r.mode == "load" || r.mode == "flood") {
    fprintf(out, "rate,duration,lines,sent,achieved_rate,echoed,lost,duplicates,p50_us,p90_us,p99_us,max_us\n");
    fprintf(out, "%.0f,%.1f,%zu,%ld,%.1f,%ld,%ld,%ld,%.1f,%.1f,%.1f,%.1f\n", r.rate, r.duration, r.lines.size(), r.sent,
            r.achieved_rate, r.echoed, r.lost, r.duplicates, r.p50_us, r.p90_us, r.p99_us, r.max_us);
    return;
  }
  fprintf(out, "machine,line,src,number,start,end,seconds,ended_by\n");
  for (auto &c : r.calls)
    fprintf(out, "%s,%d,%s,%s,%s,%s,%.1f,%s\n", csv_text(c.machine).c_str(), c.line, csv_text(c.src).c_str(),
            csv_text(c.number).c_str(), c.start.c_str(), c.end.c_str(), c.seconds, c.ended_by.c_str());
}

void write_json(const Options &opt, const Report &r, FILE *out)
{
  fprintf(out, "{\"mode\": %s, \"station\": %s, \"seed\": %llu,\n", json_text(r.mode).c_str(),
          json_text(opt.station_text).c_str(), (unsigned long long)opt.seed);
  fprintf(out, " \"sent\": %ld, \"echoed\": %ld, \"missing\": %ld, \"unexpected\": %ld,\n", r.sent, r.echoed, r.missing,
          r.unexpected);
  if (r.mode == "load" || r.mode == "flood")
    fprintf(out,
            " \"rate\": %.1f, \"duration\": %.1f, \"achieved_rate\": %.1f, \"lost\": %ld, \"duplicates\": %ld,\n"
            " \"latency_us\": {\"p50\": %.1f, \"p90\": %.1f, \"p99\": %.1f, \"max\": %.1f},\n",
            r.rate, r.duration, r.achieved_rate, r.lost, r.duplicates, r.p50_us, r.p90_us, r.p99_us, r.max_us);
  fprintf(out, " \"calls\": [");
  for (size_t i = 0; i < r.calls.size(); i++) {
    auto &c = r.calls[i];
    fprintf(out,
            "%s\n  {\"machine\": %s, \"line\": %d, \"src\": %s, \"number\": %s, \"start\": %s, \"end\": %s, "
            "\"seconds\": %.1f, \"ended_by\": %s}",
            i ? "," : "", json_text(c.machine).c_str(), c.line, json_text(c.src).c_str(), json_text(c.number).c_str(),
            json_text(c.start).c_str(), json_text(c.end).c_str(), c.seconds, json_text(c.ended_by).c_str());
  }
  fprintf(out, "],\n \"commands\": [");
  for (size_t i = 0; i < r.commands.size(); i++) {
    auto &c = r.commands[i];
    fprintf(out, "%s\n  {\"machine\": %s, \"line\": %d, \"command\": %s, \"answer\": %s}", i ? "," : "",
            json_text(c.machine).c_str(), c.line, json_text(c.command).c_str(), json_text(c.answer).c_str());
  }
  fprintf(out, "],\n \"lines\": [");
  for (size_t i = 0; i < r.lines.size(); i++) {
    auto &l = r.lines[i];
    fprintf(out,
            "%s\n  {\"machine\": %s, \"line\": %d, \"state\": %s, \"address\": %s, \"sent\": %ld, "
            "\"echoed\": %ld, \"missing\": %ld, \"unexpected\": %ld, \"commands\": %ld}",
            i ? "," : "", json_text(l.machine).c_str(), l.line, json_text(l.state).c_str(),
            json_text(l.address).c_str(), l.sent, l.echoed, l.missing, l.unexpected, l.commands);
  }
  fprintf(out, "],\n \"errors\": [");
  for (size_t i = 0; i < r.errors.size(); i++)
    fprintf(out, "%s%s", i ? ", " : "", json_text(r.errors[i]).c_str());
  fprintf(out, "]}\n");
}

} /* namespace */

void write_report(const Options &opt, const Report &report, FILE *out)
{
  switch (opt.format) {
  case Format::Text:
    write_text(opt, report, out);
    break;
  case Format::Csv:
    write_csv(report, out);
    break;
  case Format::Json:
    write_json(opt, report, out);
    break;
  }
}

} /* namespace gwsim */
