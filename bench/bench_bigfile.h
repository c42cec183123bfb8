// A station database of many calls for the benchmarks that need one: "cdrtbl"
// and "billtbl" as the engine creates them, filled by SQLite itself in one
// statement per table (calls spread over the days on 96 lines, one bill per
// call), without the secondary indexes, which the engine adds when it
// describes the tables. Also a scratch directory removed at exit.
#ifndef BENCH_BENCH_BIGFILE_H
#define BENCH_BENCH_BIGFILE_H

#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "quenta/records.h"
#include "quenta/sqlite_tblent.h"

namespace bench {

inline bool exec(sqlite3 *db, const std::string &sql)
{
  char *err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) == SQLITE_OK)
    return true;
  fprintf(stderr, "%s: %s\n", sql.substr(0, 60).c_str(), err ? err : "?");
  sqlite3_free(err);
  return false;
}

// Builds path with `calls` calls (and as many bills); false on failure.
inline bool build_calls_file(const std::string &path, int calls)
{
  sqlite3 *db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK;
  const std::string numbers =
      "with recursive n(i) as (select 0 union all select i + 1 from n where i < " + std::to_string(calls - 1) + ") ";
  // call i: line i % 96, started i * 86.4 s after the first day, 30 to 600 s long
  const std::string call = "printf('GW%02d', (i % 96) / 4) as m, (i % 96) % 4 as l, "
                           "datetime('2021-01-01', '+' || (i * 864 / 10) || ' seconds') as b, "
                           "datetime('2021-01-01', '+' || (i * 864 / 10 + 30 + i % 571) || ' seconds') as e";
  ok = ok && exec(db, "pragma synchronous=off; pragma journal_mode=off; begin");
  ok = ok && exec(db, sqlite_tblent_create_cmd("cdrtbl", gst_cdr_infos));
  ok = ok && exec(db, sqlite_tblent_create_cmd("billtbl", gst_bill_infos));
  ok = ok && exec(db, numbers + ", c as (select i, " + call + " from n) " +
                          "insert into cdrtbl select printf('%s-%08d@%s', m, l, b), m, l, '800100', "
                          "'00852' || (20000000 + i % 7919), b, e, i >= " +
                          std::to_string(calls - 200) + " from c");
  ok = ok && exec(db, "insert into billtbl select callid, 30, "
                      "'08:00:00-18:00:00 0.30/60s x3', 0.9, 'zhang', edate from cdrtbl");
  ok = ok && exec(db, "commit");
  sqlite3_close(db);
  return ok;
}

// A directory for the run's files, removed when the program ends. Its name is
// kept on the heap so that the clean-up at exit still finds it.
inline const std::string &scratch_dir()
{
  static const std::string *dir = [] {
    char tmpl[] = "/tmp/quentabenchXXXXXX";
    const char *d = mkdtemp(tmpl);
    if (!d) {
      perror("mkdtemp");
      exit(1);
    }
    auto *made = new std::string(d);
    atexit([] {
      std::string cmd = "rm -rf '" + scratch_dir() + "'";
      (void)!system(cmd.c_str());
    });
    return made;
  }();
  return *dir;
}

}  // namespace bench

#endif
