/* The rate file loader: one rule per line, "name|rate-info line", the default
 * rule on a line beginning ".default|". Loading stops at the first line that
 * cannot be read as a rule; the rules before it stay. Each rule keeps its
 * name, which the statistics report groups calls by. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "quenta/counter.h"
#include "quenta/stationfile.h"
#include "utils/debug.h"

namespace {

/* Parses one line (line end removed) into a rule and adds it; false when the
 * line is not a rule, which ends the loading. */
bool load_line(struct normal_counter *nc, char *line)
{
  bool is_default = strncmp(line, DEFAULT_LINE_TAG, strlen(DEFAULT_LINE_TAG)) == 0;
  const char *text;
  const char *name = "";
  int namelen = 0;
  if (is_default) {
    /* the default line's own prefix field may be empty: the nine zeros give it
     * the digits the line grammar needs, and no number is matched against it */
    memcpy(line, DEFAULT_PREFIX_FILL, strlen(DEFAULT_PREFIX_FILL));
    text = line;
  } else {
    const char *bar = strchr(line, '|');
    if (!bar) {
      DLOG("rate line without a name: \"%s\"", line);
      return false;
    }
    name = line;
    namelen = (int)(bar - line);
    text = bar + 1;
  }

  auto *rule = static_cast<RateInfo *>(calloc(1, sizeof(RateInfo)));
  if (!rule) {
    LOG_FUNCTION_FAILED();
    return false;
  }
  if (parser_getRateInfo(text, rule) != 0) {
    free(rule);
    return false;
  }
  /* the parser clears the name; the report groups calls by it (the default
   * rule needs none: it is known as the default) */
  rule_set_name(rule, name, namelen);
  /* a rule without a charging unit is refused on its own; the next lines still load */
  counter_add_rule(nc, rule, is_default);
  return true;
}

} /* namespace */

void counter_load_rate_file(struct normal_counter *nc, const char *filename)
{
  unique_file f(fopen(filename, "r"));
  if (!f) {
    LOG_FUNCTION_FAILED();
    return;
  }
  line_buffer buf;
  ssize_t n;
  int lineno = 0;
  while ((n = getline(&buf.p, &buf.cap, f.get())) >= 0) {
    char *raw = buf.p;
    lineno++;
    if (n > 0 && raw[n - 1] == '\n')
      raw[--n] = '\0';
    if (n > 0 && raw[n - 1] == '\r')
      raw[--n] = '\0';
    /* a longer line would be read in pieces, and a piece may look like a rule
     * with a cut field (a unit of 6 instead of 60): the line is refused whole */
    if (n > RATE_LINE_BUFSIZE - 1) {
      DLOG("%s: line %d longer than %d characters", filename, lineno, RATE_LINE_BUFSIZE - 1);
      LOG_FUNCTION_FAILED();
      return;
    }
    if (!load_line(nc, raw)) {
      DLOG("%s: line %d is not a rate rule; loading stops", filename, lineno);
      LOG_FUNCTION_FAILED();
      return;
    }
  }
}
