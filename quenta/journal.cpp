/* The journal of calls in progress as a file: its lines, reading it back,
 * appending a call and writing it anew. What the handler puts in it is in
 * msghdlr_live.cpp. */
#include "quenta/journal.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quenta/stationfile.h"
#include "utils/debug.h"

namespace {

/* A failed write is told once; the next one that succeeds says so. */
int written(call_journal *j, int rc)
{
  if (rc < 0 && !j->m_failing) {
    LOG_SYS_ERROR();
    DLOG(CALLS_LIVE_FILE " cannot be written: calls in progress are still billed, but a restart now would "
                         "bill them from the restart only");
  } else if (rc == 0 && j->m_failing) {
    DLOG(CALLS_LIVE_FILE " written again");
  }
  j->m_failing = rc < 0;
  j->m_stale = rc < 0;
  return rc;
}

} /* namespace */

std::string live_line(const live_call &c)
{
  std::string line;
  for (const std::string *v : {&c.machineid, &c.desnum, &c.srcnum, &c.bdate}) {
    append_escaped(line, *v);
    line += '\t';
    if (v == &c.machineid)
      line += std::to_string(c.lineid) + '\t';
  }
  append_escaped(line, c.seen);
  return line + '\n';
}

bool live_parse_line(const std::string &line, live_call *c)
{
  if (line.empty() || line.back() != '\n')
    return false;
  std::string lineid;
  std::string *values[] = {&c->machineid, &lineid, &c->desnum, &c->srcnum, &c->bdate, &c->seen};
  size_t pos = 0;
  for (std::string *v : values) {
    size_t end = v == &c->seen ? line.size() - 1 : line.find('\t', pos);
    if (end == std::string::npos || !unescape(line.substr(pos, end - pos), v))
      return false;
    pos = end + 1;
  }
  char *rest = nullptr;
  errno = 0;
  unsigned long n = strtoul(lineid.c_str(), &rest, 10);
  if (lineid.empty() || *rest || errno || n > 0xffffffffUL)
    return false;
  c->lineid = (unsigned)n;
  c->state = LIVE_RECOVERED;
  return !c->desnum.empty() && c->bdate.size() == 19 && c->seen.size() == 19;
}

int journal_read(const char *path, std::vector<live_call> *calls)
{
  unique_file f(fopen(path, "r"));
  if (!f) {
    if (errno == ENOENT)
      return 0;
    LOG_SYS_ERROR();
    return -1;
  }
  int count = 0, lineno = 0;
  line_buffer buf;
  ssize_t n;
  while ((n = getline(&buf.p, &buf.cap, f.get())) > 0) {
    lineno++;
    live_call c;
    if (live_parse_line(std::string(buf.p, (size_t)n), &c)) {
      calls->push_back(std::move(c));
      count++;
    } else {
      DLOG("%s: line %d is not a whole call: skipped", path, lineno);
    }
  }
  return count;
}

int journal_rewrite(call_journal *j)
{
  std::string text;
  for (const auto &[id, c] : j->m_calls)
    text += live_line(c);
  return written(j, replace_synced(CALLS_LIVE_FILE, CALLS_LIVE_TMP, text));
}

int journal_append(call_journal *j, const std::vector<const live_call *> &calls)
{
  if (j->m_stale)
    return journal_rewrite(j);
  std::string text;
  for (const live_call *c : calls)
    text += live_line(*c);
  return written(j, append_synced(CALLS_LIVE_FILE, text));
}
