/* The report command: the takings queries and their two layouts. */
#include "report.h"

#include <stdlib.h>

#include <algorithm>

#include "text.h"
#include "utils/decimal.h"

namespace qsync {

namespace {

const char *key_title(const std::string &by)
{
  return by == "day" ? "day" : by == "operator" ? "operator" : "rule";
}

const char *section_title(const std::string &by)
{
  return by == "day"        ? "Takings per shop and day"
         : by == "operator" ? "Takings per operator"
                            : "Takings per destination rule";
}

std::string padded(const std::string &text, size_t width, bool right)
{
  size_t w = display_width(text);
  std::string pad(w < width ? width - w : 0, ' ');
  return right ? pad + text : text + pad;
}

std::string duration(long long seconds)
{
  char buf[32];
  snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

std::string csv_field(const std::string &t)
{
  if (t.find_first_of(",\"\r\n") == std::string::npos)
    return t;
  std::string q = "\"";
  for (char c : t) {
    q += c;
    if (c == '"')
      q += '"';
  }
  return q + "\"";
}

} /* namespace */

void print_table(FILE *out, const std::string &by, const std::vector<takings_row> &rows)
{
  using row_cells = std::vector<std::string>;
  row_cells head{"shop", key_title(by), "bills", "call time", "takings"};
  std::vector<row_cells> body;
  long long bills = 0, seconds = 0, total = 0;
  for (const takings_row &r : rows) {
    body.push_back({r.station, r.key.empty() ? "-" : r.key, std::to_string(r.bills), duration(r.seconds), r.takings});
    bills += r.bills;
    seconds += r.seconds;
    long long cents = 0;
    utils::parse_cents(r.takings.c_str(), &cents);
    total += cents;
  }
  row_cells sum{"all", "", std::to_string(bills), duration(seconds), utils::cents_text(total).s};
  std::vector<size_t> widths(head.size(), 0);
  for (const row_cells *row : {&head, &sum})
    for (size_t c = 0; c < row->size(); c++)
      widths[c] = std::max(widths[c], display_width((*row)[c]));
  for (const row_cells &row : body)
    for (size_t c = 0; c < row.size(); c++)
      widths[c] = std::max(widths[c], display_width(row[c]));
  auto line = [&](const row_cells &row) {
    std::string text;
    for (size_t c = 0; c < row.size(); c++)
      text += (c ? "  " : "") + padded(row[c], widths[c], c >= 2); /* numbers to the right */
    while (!text.empty() && text.back() == ' ')
      text.pop_back();
    fprintf(out, "%s\n", text.c_str());
  };
  auto rule = [&] {
    std::string text;
    for (size_t c = 0; c < widths.size(); c++)
      text += (c ? "  " : "") + std::string(widths[c], '-');
    fprintf(out, "%s\n", text.c_str());
  };
  fprintf(out, "%s\n", section_title(by));
  line(head);
  rule();
  for (const row_cells &row : body)
    line(row);
  rule();
  line(sum);
}

void print_csv(FILE *out, const std::string &by, const std::vector<takings_row> &rows)
{
  for (const takings_row &r : rows)
    fprintf(out, "%s,%s,%s,%lld,%lld,%s\r\n", by.c_str(), csv_field(r.station).c_str(), csv_field(r.key).c_str(),
            r.bills, r.seconds, r.takings.c_str());
}

int run_report(const report_settings &s, FILE *out)
{
  server srv;
  if (!srv.connect(s.dsn)) {
    fprintf(stderr, "quenta-sync report: %s\n", srv.error().c_str());
    return 1;
  }
  schema_state schema = srv.ensure_schema(false);
  if (schema != schema_state::ok) {
    fprintf(stderr, "quenta-sync report: %s\n", srv.error().c_str());
    return schema == schema_state::newer ? 3 : 1;
  }
  std::vector<std::string> groupings =
      s.by.empty() ? std::vector<std::string>{"day", "operator", "rule"} : std::vector<std::string>{s.by};
  if (s.csv)
    fprintf(out, "grouping,station,key,bills,seconds,takings\r\n");
  else
    fprintf(out, "%s to %s, %s\n\n", s.from.c_str(), s.to.c_str(),
            s.station.empty() ? "all shops" : ("shop " + s.station).c_str());
  for (size_t i = 0; i < groupings.size(); i++) {
    std::vector<takings_row> rows;
    if (!srv.takings(groupings[i], s.from, s.to, s.station, rows)) {
      fprintf(stderr, "quenta-sync report: %s\n", srv.error().c_str());
      return 1;
    }
    if (s.csv) {
      print_csv(out, groupings[i], rows);
    } else {
      if (i > 0)
        fprintf(out, "\n");
      print_table(out, groupings[i], rows);
    }
  }
  return 0;
}

} /* namespace qsync */
