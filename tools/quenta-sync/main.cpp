/* quenta-sync: copies a station's calls, bills, shifts and audit trail to the chain's
 * central PostgreSQL server, beside the running station in its working
 * directory; "quenta-sync report" prints the chain's takings. */
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "log.h"
#include "report.h"
#include "settings.h"
#include "syncer.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int)
{
  g_stop = 1;
}

const char usage_text[] = "usage: quenta-sync [--station NAME] [--dsn DSN] [--interval SECONDS] [--batch ROWS]\n"
                          "                   [--db FILE] [--log FILE] [--once] [--verbose] [--adopt]\n"
                          "       quenta-sync report [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--station NAME]\n"
                          "                   [--by day|operator|rule] [--csv] [--dsn DSN]\n"
                          "\n"
                          "Run in the station's working directory, it copies every call of \"quentadb\"\n"
                          "(with its settled flag), every bill, every shift and every entry of the audit\n"
                          "trail to the PostgreSQL server\n"
                          "named by the DSN, tagged with the station's name, and keeps them up to date.\n"
                          "It reads the station's file read-only in short reads and never stops the\n"
                          "station; what it cannot do goes to its log \"quenta-sync.log\".\n"
                          "  --station NAME      the shop's name on the server (required)\n"
                          "  --dsn DSN           libpq connection string, e.g. \"host=10.0.0.5 dbname=chain\"\n"
                          "  --interval SECONDS  seconds between cycles, and the longest retry wait (default 5)\n"
                          "  --batch ROWS        rows per server transaction (default 5000)\n"
                          "  --db FILE           the station's database (default quentadb); its rate file\n"
                          "                      \"rateinfo\" is read beside it\n"
                          "  --log FILE          the log (default quenta-sync.log)\n"
                          "  --once              one cycle, then exit (status 1 when it failed)\n"
                          "  --verbose           log lines also on standard error\n"
                          "  --adopt             the station's name on the server moves to this file (the\n"
                          "                      shop really moved to a new station file); once, on purpose\n"
                          "The station name, DSN, interval, batch and log may also be given in \"sync.conf\"\n"
                          "in the working directory (\"station = NAME\" lines); the DSN also in QUENTA_SYNC_DSN.\n"
                          "The command line comes first, then the environment, then the file.\n"
                          "\n"
                          "report prints the takings between two days (default: today) for all shops or\n"
                          "one: per shop and day, per operator, per destination rule; --csv writes rows\n"
                          "\"grouping,station,key,bills,seconds,takings\".\n"
                          "\n"
                          "Exit status: 0; 1 a cycle (--once) or the report failed; 2 wrong usage;\n"
                          "3 the server's schema is newer than this program; 4 the server holds the\n"
                          "station's name from another station file (see --adopt).\n";

} /* namespace */

int main(int argc, char **argv)
{
  std::string error;
  if (argc > 1 && !strcmp(argv[1], "report")) {
    qsync::report_settings rs;
    if (!qsync::report_settings_from(argc - 2, argv + 2, rs, error)) {
      bool help = error == "help";
      if (!help)
        fprintf(stderr, "quenta-sync report: %s\n", error.c_str());
      fputs(usage_text, help ? stdout : stderr);
      return help ? 0 : 2;
    }
    if (!rs.warning.empty())
      fprintf(stderr, "quenta-sync report: warning: %s\n", rs.warning.c_str());
    return qsync::run_report(rs, stdout);
  }
  qsync::sync_settings s;
  int first = argc > 1 && !strcmp(argv[1], "sync") ? 2 : 1;
  if (!qsync::sync_settings_from(argc - first, argv + first, s, error)) {
    bool help = error == "help";
    if (!help)
      fprintf(stderr, "quenta-sync: %s\n", error.c_str());
    fputs(usage_text, help ? stdout : stderr);
    return help ? 0 : 2;
  }
  if (!qsync::log_open(s.log_path, s.verbose))
    fprintf(stderr, "quenta-sync: cannot open the log \"%s\": %s; logging to standard error\n", s.log_path.c_str(),
            strerror(errno));
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  qsync::log_line("quenta-sync %s starts: station \"%s\", database \"%s\"", QUENTA_VERSION, s.station.c_str(),
                  s.db_path.c_str());
  if (!s.warning.empty()) {
    fprintf(stderr, "quenta-sync: warning: %s\n", s.warning.c_str());
    qsync::log_line("warning: %s", s.warning.c_str());
  }
  qsync::syncer sync(s);
  int status = sync.run(g_stop);
  if (status == SYNC_EXIT_NEWER_SCHEMA || status == SYNC_EXIT_OTHER_FILE)
    fprintf(stderr, "quenta-sync: %s (see %s)\n", sync.stop_reason().c_str(), s.log_path.c_str());
  return status;
}
