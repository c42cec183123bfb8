/* rel_station: a headless station for the reliability scenarios. It starts
 * the engine from libquenta.so in the working directory it is given and polls
 * the line status every few milliseconds, as the console does every second:
 *   - every status change of a line goes to the status file with the time on
 *     the monotonic clock: "<ms> <machine> <line> <state> <flag>";
 *   - for every ended call a report shows, it reads the line's rows of
 *     "cdrtbl" and appends the call id of each row it has not seen yet to the
 *     record file, flushed to disk (fsync) before the call counts as seen.
 *   - for every line a report shows for the first time, it runs the console's
 *     check of unsettled calls (machineid, lineid, flag=0) and appends the
 *     call ids it finds to the unsettled file.
 * "ready" is written to the ready file once quenta_init has returned 0.
 *   rel_station DIR [--poll MS] [--log-cap BYTES] [--user UID] [--select MS]
 * --user runs the station as that user (from root), so that a file made
 * read-only really is read-only to it. --select runs a select of the unsettled
 * calls every MS ms on a thread of its own, as a console's statements would.
 * Files, all in DIR: status.log, seen.calls, unsettled.calls, station.ready. */
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "quenta/quenta.h"
#include "utils/debug.h"

namespace {

long long now_ms()
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* Appends one line and makes it durable before returning. */
void append_durable(int fd, const std::string &line)
{
  const char *p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      perror("rel_station: write");
      exit(3);
    }
    p += n;
    left -= (size_t)n;
  }
  if (fsync(fd) != 0) {
    perror("rel_station: fsync");
    exit(3);
  }
}

struct line_state {
  std::string state;
  int flag = 0;
};

std::map<std::pair<std::string, int>, line_state> g_lines;
std::vector<std::pair<std::string, int>> g_ended, g_new;
int g_status_fd = -1;

void on_status(const char *machineid, int lineid, const char *state, const char *, const char *, const char *, int flag)
{
  auto key = std::make_pair(std::string(machineid), lineid);
  if (!g_lines.count(key))
    g_new.push_back(key);
  line_state &ls = g_lines[key];
  if (ls.state != state || flag) {
    ls.state = state;
    char head[64];
    snprintf(head, sizeof head, "%lld ", now_ms());
    std::string line =
        head + key.first + " " + std::to_string(lineid) + " " + state + " " + std::to_string(flag) + "\n";
    if (write(g_status_fd, line.data(), line.size()) < 0)
      perror("rel_station: status");
  }
  if (flag)
    g_ended.push_back(key);
}

void collect_callid(void *record, void *param)
{
  static_cast<std::vector<std::string> *>(param)->push_back(static_cast<cdr_info *>(record)->callid);
}

/* A text value inside a condition, quoted for SQL. */
std::string quoted(const std::string &text)
{
  std::string q = "'";
  for (char c : text) {
    q += c;
    if (c == '\'')
      q += '\'';
  }
  return q + "'";
}

/* The call ids of the line's rows, those that match `extra` too when given. */
std::vector<std::string> line_calls(const std::pair<std::string, int> &line, const char *extra)
{
  std::string mcond = "machineid=" + quoted(line.first);
  std::string lcond = "lineid=" + std::to_string(line.second);
  const char *conds[] = {mcond.c_str(), lcond.c_str(), extra, nullptr};
  std::vector<std::string> ids;
  if (quenta_selectCDRTable(conds, collect_callid, &ids) != 0)
    fprintf(stderr, "rel_station: select for %s/%d failed\n", line.first.c_str(), line.second);
  return ids;
}

std::set<std::string> load_seen(const char *path)
{
  std::set<std::string> seen;
  FILE *f = fopen(path, "r");
  if (!f)
    return seen;
  char *buf = nullptr;
  size_t cap = 0;
  ssize_t n;
  while ((n = getline(&buf, &cap, f)) > 0) {
    if (buf[n - 1] != '\n')
      break; /* cut by a kill before its fsync: never counted */
    seen.insert(std::string(buf, (size_t)n - 1));
  }
  free(buf);
  fclose(f);
  return seen;
}

} /* namespace */

int main(int argc, char **argv)
{
  if (argc < 2) {
    fprintf(stderr, "usage: rel_station DIR [--poll MS] [--log-cap BYTES] [--user UID]\n");
    return 2;
  }
  int poll_ms = 20;
  long log_cap = -1;
  int drop_to = -1;
  int select_ms = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (!strcmp(argv[i], "--poll"))
      poll_ms = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--log-cap"))
      log_cap = atol(argv[i + 1]);
    else if (!strcmp(argv[i], "--user"))
      drop_to = atoi(argv[i + 1]);
    else if (!strcmp(argv[i], "--select"))
      select_ms = atoi(argv[i + 1]);
  }
  if (chdir(argv[1]) != 0) {
    perror("rel_station: chdir");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);

  std::set<std::string> seen = load_seen("seen.calls");
  int seen_fd = open("seen.calls", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  int unsettled_fd = open("unsettled.calls", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  g_status_fd = open("status.log", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (seen_fd < 0 || unsettled_fd < 0 || g_status_fd < 0) {
    perror("rel_station: open");
    return 2;
  }

  if (drop_to >= 0 && (setgid((gid_t)drop_to) != 0 || setuid((uid_t)drop_to) != 0)) {
    perror("rel_station: setuid");
    return 2;
  }
  /* another station on this machine (another checkout's suite) holds the
   * single-instance lock for a while: wait for it */
  int rc;
  for (int tries = 0; (rc = quenta_init()) == QUENTA_INIT_RUNNING && tries < 600; tries++)
    usleep(100 * 1000);
  if (rc != 0) {
    fprintf(stderr, "rel_station: quenta_init returned %d\n", rc);
    return 2;
  }
  if (log_cap >= 0) {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
      return 2;
    utils::set_log_rotation((std::string(cwd) + "/app.log").c_str(), (size_t)log_cap);
  }
  int ready = open("station.ready", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (ready < 0 || write(ready, "ready\n", 6) != 6) {
    perror("rel_station: ready");
    return 2;
  }
  close(ready);
  if (select_ms > 0)
    std::thread([select_ms] {
      const char *conds[] = {"flag=0", nullptr};
      for (std::vector<std::string> ids;; ids.clear()) {
        quenta_selectCDRTable(conds, collect_callid, &ids);
        usleep((useconds_t)select_ms * 1000);
      }
    }).detach();

  for (;;) {
    g_ended.clear();
    g_new.clear();
    quenta_getStatus(on_status);
    for (const auto &line : g_new) {
      for (const std::string &id : line_calls(line, "flag=0"))
        append_durable(unsettled_fd, id + "\n");
    }
    for (const auto &line : g_ended) {
      for (const std::string &id : line_calls(line, nullptr)) {
        if (seen.insert(id).second)
          append_durable(seen_fd, id + "\n");
      }
    }
    usleep((useconds_t)poll_ms * 1000);
  }
}
