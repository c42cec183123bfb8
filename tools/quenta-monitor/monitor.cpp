/* quenta-monitor: starts the engine in the current directory, as the console
 * does, and prints every line and the unsettled calls with their prices once a
 * second (or once, with --once). With --settle it also settles every ended
 * call as an operator at the counter would: a station that keeps its own
 * accounts, for demonstrations. With --quiet it prints no reports: the
 * headless station of a service manager, which says on standard error only
 * its start, its stop and the ended calls it keeps in memory only. It uses
 * only the engine's public interface. */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "quenta/quenta.h"
#include "utils/decimal.h"
#include "utils/text.h"

namespace {

volatile sig_atomic_t g_stop = 0;

struct line_row {
  std::string machine, state, desnum, bdate;
  int line = 0, flag = 0;
  bool recovered = false; /* the call goes on from before the station's restart */
};

std::vector<line_row> g_lines;
const char *g_settle_as = nullptr; /* operator name (GBK) for --settle */

void on_status(const char *machineid, int lineid, const char *state, const char *, const char *desnum,
               const char *bdate, int flag)
{
  g_lines.push_back({machineid, state, desnum, bdate, lineid, flag,
                     bdate[0] != '\0' && quenta_callRecovered(machineid, lineid) == 1});
}

void on_cdr(void *record, void *param)
{
  static_cast<std::vector<cdr_info> *>(param)->push_back(*static_cast<cdr_info *>(record));
}

/* Checkout of one call, in the console's order: the bill, then, only once it
 * is stored, the flag. What came of it, for the call's line of the report. */
const char *settle(const cdr_info &call, const bill_info &bill)
{
  bill_info copy = bill;
  if (quenta_saveBill(&copy, g_settle_as) != 0)
    return "  bill not stored: left unsettled (see app.log)";
  std::string cond = "callid=" + utils::sql_quote(call.callid);
  const char *conds[] = {cond.c_str(), nullptr};
  const char *sets[] = {"flag=1", nullptr};
  if (quenta_updateCDRTable(conds, sets) != 0)
    return "  billed, cannot be marked settled (see app.log)";
  return "  settled";
}

void print_report()
{
  char now[32];
  time_t t = time(nullptr);
  struct tm tm;
  localtime_r(&t, &tm);
  strftime(now, sizeof now, "%Y-%m-%d %H:%M:%S", &tm);

  g_lines.clear();
  quenta_getStatus(on_status);
  printf("== %s  lines: %zu\n", now, g_lines.size());
  if (unsigned unsaved = quenta_getUnsavedCalls())
    printf("!! %u ended calls are kept in memory only (database and cdr.pending cannot take them):"
           " stopping now loses them\n",
           unsaved);
  /* A call that goes on from before a restart is marked after its start; the
   * mark takes eight columns. */
  printf("%-20s %6s %-12s %-20s %-27s %4s\n", "machine", "line", "state", "dialled", "start", "flag");
  for (const line_row &l : g_lines)
    printf("%-20s %6d %-12s %-20s %-19s%s %4d\n", l.machine.c_str(), l.line, l.state.c_str(), l.desnum.c_str(),
           l.bdate.c_str(), l.recovered ? "（恢复）" : "        ", l.flag);

  std::vector<cdr_info> calls;
  const char *conds[] = {"flag=0", nullptr};
  if (quenta_selectCDRTable(conds, on_cdr, &calls) != 0) {
    printf("unsettled calls: cannot read the call records (see app.log)\n");
    return;
  }
  long long total = 0;
  printf("unsettled calls: %zu\n", calls.size());
  for (const cdr_info &c : calls) {
    bill_info *bill = quenta_getbill(c.callid);
    if (bill) {
      total += utils::shown_cents(bill->m_count); /* the sum of the figures printed */
      bill_info priced = *bill;
      printf("  %-48s %-16s %s  %5ds  %8s%s\n", c.callid, c.desnum, c.edate, priced.m_calltime,
             utils::decimal_text(priced.m_count).s, g_settle_as ? settle(c, priced) : "");
    } else {
      printf("  %-48s %-16s %s  cannot be priced\n", c.callid, c.desnum, c.edate);
    }
  }
  printf("amount due: %s\n\n", utils::cents_text(total).s);
  fflush(stdout);
}

void usage(FILE *out)
{
  fprintf(out, "usage: quenta-monitor [--once] [--interval SECONDS] [--settle OPERATOR]\n"
               "       quenta-monitor --quiet\n"
               "Starts the billing engine in the current directory (database \"quentadb\",\n"
               "rate file \"rateinfo\", log \"app.log\") and prints every gateway line and the\n"
               "unsettled calls with their prices.\n"
               "  --once              print one report after one interval and exit\n"
               "  --interval SECONDS  seconds between reports (default 1)\n"
               "  --settle OPERATOR   settle every ended call as OPERATOR (GBK) at the counter\n"
               "  --quiet             no reports: run the station until SIGTERM or SIGINT, saying\n"
               "                      on standard error only its start and stop and when ended\n"
               "                      calls are kept in memory only (for a service manager)\n"
               "  --help              this text\n"
               "Exit status: 0, or 1 when the engine cannot start (2: another station runs).\n");
}

void on_signal(int)
{
  g_stop = 1;
}

/* The headless station: no reports, a line on standard error whenever the
 * number of ended calls that only memory holds changes from or to none. */
void run_quietly()
{
  char dir[4096];
  if (!getcwd(dir, sizeof dir))
    strcpy(dir, ".");
  fprintf(stderr, "quenta-monitor: the station runs in %s\n", dir);
  unsigned held = 0;
  while (!g_stop) {
    sleep(1);
    unsigned now = quenta_getUnsavedCalls();
    if (now && !held)
      fprintf(stderr,
              "quenta-monitor: %u ended calls are kept in memory only (the database and cdr.pending cannot"
              " take them; see app.log): stopping now loses them\n",
              now);
    else if (!now && held)
      fprintf(stderr, "quenta-monitor: every ended call is stored again\n");
    held = now;
  }
  held = quenta_getUnsavedCalls();
  if (held)
    fprintf(stderr, "quenta-monitor: stopped; %u ended calls kept in memory only are lost\n", held);
  else
    fprintf(stderr, "quenta-monitor: stopped\n");
}

} /* namespace */

int main(int argc, char **argv)
{
  bool once = false, quiet = false;
  int interval = 1;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--once")) {
      once = true;
    } else if (!strcmp(argv[i], "--interval") && i + 1 < argc) {
      interval = atoi(argv[++i]);
      if (interval < 1)
        interval = 1;
    } else if (!strcmp(argv[i], "--quiet")) {
      quiet = true;
    } else if (!strcmp(argv[i], "--settle") && i + 1 < argc) {
      g_settle_as = argv[++i];
    } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      usage(stdout);
      return 0;
    } else {
      usage(stderr);
      return 64;
    }
  }
  if (quiet && (once || g_settle_as)) {
    fprintf(stderr, "quenta-monitor: --quiet prints no reports: it goes with neither --once nor --settle\n");
    return 64;
  }

  int rc = quenta_init();
  if (rc == QUENTA_INIT_RUNNING) {
    fprintf(stderr, "quenta-monitor: another station runs on this machine\n");
    return 2;
  }
  if (rc != 0) {
    fprintf(stderr, "quenta-monitor: the engine cannot start (see app.log)\n");
    return 1;
  }
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  if (quiet) {
    run_quietly();
    return 0;
  }
  do {
    for (int s = 0; s < interval && !g_stop; s++)
      sleep(1);
    if (!g_stop)
      print_report();
  } while (!once && !g_stop);
  return 0;
}
