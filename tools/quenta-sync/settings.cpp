/* Reading the sync program's settings from the command line, the
 * environment and "sync.conf". */
#include "settings.h"

#include <libpq-fe.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <fstream>
#include <sstream>

namespace qsync {

namespace {

std::string trim(const std::string &s)
{
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos)
    return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

/* The settings file of the working directory, or none. */
bool read_conf(std::map<std::string, std::string> &conf, std::string &error)
{
  std::ifstream in(SYNC_CONF_NAME, std::ios::binary);
  if (!in)
    return true;
  std::stringstream ss;
  ss << in.rdbuf();
  if (!parse_conf(ss.str(), conf, error)) {
    error = SYNC_CONF_NAME ": " + error;
    return false;
  }
  /* A password in the file is as safe as the file: others must not read it. */
  struct stat st;
  if (conf.count("dsn") && dsn_has_password(conf["dsn"]) && stat(SYNC_CONF_NAME, &st) == 0 &&
      (st.st_mode & (S_IRWXG | S_IRWXO))) {
    error = SYNC_CONF_NAME
        " holds a password and other users can read it: run \"chmod 600 " SYNC_CONF_NAME
        "\", or keep the password in a passfile (~/.pgpass, or passfile=... in the dsn) or in PGPASSWORD";
    return false;
  }
  return true;
}

const char *const kPasswordOnCommandLine =
    "the password in --dsn can be read by every user of this machine from its process list: keep it in a "
    "passfile (~/.pgpass, or passfile=... in the dsn), in PGPASSWORD, or in a sync.conf only you can read";

bool valid_day(const std::string &d)
{
  struct tm tm {};
  const char *end = strptime(d.c_str(), "%Y-%m-%d", &tm);
  return end && !*end && d.size() == 10;
}

std::string today()
{
  char buf[16];
  time_t t = time(nullptr);
  struct tm tm;
  localtime_r(&t, &tm);
  strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

bool valid_station(const std::string &name, std::string &error)
{
  if (name.empty()) {
    error = "no station name: give --station NAME or \"station = NAME\" in " SYNC_CONF_NAME;
    return false;
  }
  if (name.size() > STATION_NAME_MAX) {
    error = "the station name is longer than " + std::to_string(STATION_NAME_MAX) + " bytes";
    return false;
  }
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) {
      error = "the station name holds a control character";
      return false;
    }
  return true;
}

/* The value of option argv[i] ("--name value" or "--name=value"). */
bool option_value(int argc, char **argv, int &i, const char *name, std::string &value)
{
  size_t n = strlen(name);
  if (strncmp(argv[i], name, n) != 0)
    return false;
  if (argv[i][n] == '=') {
    value = argv[i] + n + 1;
    return true;
  }
  if (argv[i][n] == '\0' && i + 1 < argc) {
    value = argv[++i];
    return true;
  }
  return false;
}

} /* namespace */

bool dsn_has_password(const std::string &dsn)
{
  char *err = nullptr;
  PQconninfoOption *opts = PQconninfoParse(dsn.c_str(), &err);
  PQfreemem(err);
  if (!opts)
    return false;
  bool found = false;
  for (PQconninfoOption *o = opts; o->keyword; o++)
    if (!strcmp(o->keyword, "password") && o->val && *o->val)
      found = true;
  PQconninfoFree(opts);
  return found;
}

bool parse_conf(const std::string &text, std::map<std::string, std::string> &out, std::string &error)
{
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    number++;
    std::string t = trim(line);
    if (t.empty() || t[0] == '#')
      continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos || trim(t.substr(0, eq)).empty()) {
      error = "line " + std::to_string(number) + ": not \"key = value\"";
      return false;
    }
    out[trim(t.substr(0, eq))] = trim(t.substr(eq + 1));
  }
  return true;
}

bool sync_settings_from(int argc, char **argv, sync_settings &s, std::string &error)
{
  std::map<std::string, std::string> conf;
  if (!read_conf(conf, error))
    return false;
  std::string station, dsn, interval, batch, log;
  bool have_station = false, have_dsn = false, have_interval = false, have_batch = false, have_log = false;
  for (int i = 0; i < argc; i++) {
    std::string v;
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      error = "help";
      return false;
    } else if (!strcmp(argv[i], "--once")) {
      s.once = true;
    } else if (!strcmp(argv[i], "--adopt")) {
      s.adopt = true;
    } else if (!strcmp(argv[i], "--verbose") || !strcmp(argv[i], "-v")) {
      s.verbose = true;
    } else if (option_value(argc, argv, i, "--station", v)) {
      station = v, have_station = true;
    } else if (option_value(argc, argv, i, "--dsn", v)) {
      dsn = v, have_dsn = true;
    } else if (option_value(argc, argv, i, "--interval", v)) {
      interval = v, have_interval = true;
    } else if (option_value(argc, argv, i, "--batch", v)) {
      batch = v, have_batch = true;
    } else if (option_value(argc, argv, i, "--log", v)) {
      log = v, have_log = true;
    } else if (option_value(argc, argv, i, "--db", v)) {
      /* The rate file, which names each bill's rule, lies beside the database. */
      s.db_path = v;
      size_t slash = v.rfind('/');
      s.rate_path = slash == std::string::npos ? "rateinfo" : v.substr(0, slash + 1) + "rateinfo";
    } else {
      error = std::string("unknown option or missing value: ") + argv[i];
      return false;
    }
  }
  const char *env = getenv(SYNC_DSN_ENV);
  s.station = have_station ? station : conf["station"];
  s.dsn = have_dsn ? dsn : env ? env : conf["dsn"];
  if (have_dsn && dsn_has_password(dsn))
    s.warning = kPasswordOnCommandLine;
  if (!have_interval && conf.count("interval"))
    interval = conf["interval"], have_interval = true;
  if (!have_batch && conf.count("batch"))
    batch = conf["batch"], have_batch = true;
  if (!have_log && conf.count("log"))
    log = conf["log"], have_log = true;
  if (!valid_station(s.station, error))
    return false;
  if (have_interval) {
    char *end = nullptr;
    s.interval_s = strtod(interval.c_str(), &end);
    if (end == interval.c_str() || *end || !(s.interval_s >= 0.05 && s.interval_s <= 86400)) {
      error = "the interval is seconds from 0.05 to 86400, not \"" + interval + "\"";
      return false;
    }
  }
  if (have_batch) {
    char *end = nullptr;
    long n = strtol(batch.c_str(), &end, 10);
    if (end == batch.c_str() || *end || n < 1 || n > 1000000) {
      error = "the batch is 1 to 1000000 rows, not \"" + batch + "\"";
      return false;
    }
    s.batch = (int)n;
  }
  if (have_log)
    s.log_path = log;
  return true;
}

bool report_settings_from(int argc, char **argv, report_settings &s, std::string &error)
{
  std::map<std::string, std::string> conf;
  if (!read_conf(conf, error))
    return false;
  bool have_dsn = false;
  for (int i = 0; i < argc; i++) {
    std::string v;
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      error = "help";
      return false;
    } else if (!strcmp(argv[i], "--csv")) {
      s.csv = true;
    } else if (option_value(argc, argv, i, "--from", v)) {
      s.from = v;
    } else if (option_value(argc, argv, i, "--to", v)) {
      s.to = v;
    } else if (option_value(argc, argv, i, "--station", v)) {
      s.station = v;
    } else if (option_value(argc, argv, i, "--by", v)) {
      s.by = v;
    } else if (option_value(argc, argv, i, "--dsn", v)) {
      s.dsn = v, have_dsn = true;
    } else {
      error = std::string("unknown option or missing value: ") + argv[i];
      return false;
    }
  }
  const char *env = getenv(SYNC_DSN_ENV);
  if (!have_dsn)
    s.dsn = env ? env : conf["dsn"];
  else if (dsn_has_password(s.dsn))
    s.warning = kPasswordOnCommandLine;
  if (s.from.empty())
    s.from = today();
  if (s.to.empty())
    s.to = today();
  for (const std::string *d : {&s.from, &s.to})
    if (!valid_day(*d)) {
      error = "a day is YYYY-MM-DD, not \"" + *d + "\"";
      return false;
    }
  if (!s.by.empty() && s.by != "day" && s.by != "operator" && s.by != "rule") {
    error = "--by is day, operator or rule, not \"" + s.by + "\"";
    return false;
  }
  return true;
}

} /* namespace qsync */
