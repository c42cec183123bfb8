/* The sync program's settings. Each comes from the first of: the command
 * line, the environment (QUENTA_SYNC_DSN, for the DSN only), the file
 * "sync.conf" in the working directory ("key = value" lines, '#' comments,
 * UTF-8), the default. */
#ifndef QUENTA_SYNC_SETTINGS_H
#define QUENTA_SYNC_SETTINGS_H

#include <map>
#include <string>

#include "log.h"

namespace qsync {

#define SYNC_CONF_NAME "sync.conf"
#define SYNC_DSN_ENV "QUENTA_SYNC_DSN"
#define STATION_NAME_MAX 128
#define SYNC_BATCH_DEFAULT 5000 /* rows per server transaction */

struct sync_settings {
  std::string station;   /* the shop's name on the server (required) */
  std::string dsn;       /* libpq connection string or URI */
  double interval_s = 5; /* seconds between cycles; the longest retry wait */
  int batch = SYNC_BATCH_DEFAULT;
  std::string db_path = "quentadb";   /* the station's database */
  std::string rate_path = "rateinfo"; /* the station's rate file, beside the database */
  std::string log_path = SYNC_LOG_NAME;
  bool once = false;    /* one cycle, no retries */
  bool adopt = false;   /* the name moves to this file (command line only) */
  std::string warning;  /* said at the start: a password on the command line */
  bool verbose = false; /* log lines also on stderr */
};

struct report_settings {
  std::string dsn;
  std::string from, to; /* days "YYYY-MM-DD", inclusive; today when not given */
  std::string station;  /* one shop, or all when empty (never taken from sync.conf) */
  std::string by;       /* "day", "operator", "rule", or empty: all three */
  bool csv = false;
  std::string warning; /* said before the report: a password on the command line */
};

/* True when a libpq connection string or URI carries a password. */
bool dsn_has_password(const std::string &dsn);

/* "key = value" lines of a settings file; false with a message on a line
 * that is neither blank, a comment nor a setting. */
bool parse_conf(const std::string &text, std::map<std::string, std::string> &out, std::string &error);

/* The settings of a sync run or a report from the arguments after the
 * program's name (and after "report"); false with a message (or "help"). */
bool sync_settings_from(int argc, char **argv, sync_settings &s, std::string &error);
bool report_settings_from(int argc, char **argv, report_settings &s, std::string &error);

} /* namespace qsync */

#endif
