// quenta-monitor over a station with a long list of unsettled calls: the
// amount due under the list is the sum of the amounts printed in it.
#include <sqlite3.h>

#include <fstream>

#include "gateway.h"

using namespace gwtest;

TEST(QuentaMonitor, AmountDueIsTheSumOfTheListedAmounts)
{
  WorkDir dir;
  std::ofstream(dir.path() + "/rateinfo")
      << "A|010|3.60|0:00:00-0.00|0:0.00|0|60\nB|020|14.23|0:00:00-0.00|0:0.00|0|60\n"
         "C|030|0.07|0:00:00-0.00|0:0.00|0|60\n";
  const std::string monitor = "cd '" + dir.path() + "' && " MONITOR_PATH " --once";
  int status = -1;
  run_command(monitor, &status);  // the engine makes its tables
  ASSERT_EQ(0, status);
  std::string sql = "begin;";
  for (int i = 0; i < 3000; i++)
    sql += "insert into cdrtbl values('m" + std::to_string(i) + "', 'GW1', 0, '801', '0" + std::to_string(i % 3 + 1) +
           "05550001', '2024-05-01 10:00:00', '2024-05-01 10:00:30', 0);";
  sqlite3 *db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((dir.path() + "/quentadb").c_str(), &db));
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, (sql + "commit;").c_str(), nullptr, nullptr, nullptr));
  sqlite3_close(db);
  const std::string out = run_command(monitor, &status);
  ASSERT_EQ(0, status);
  EXPECT_NE(std::string::npos, out.find("unsettled calls: 3000\n")) << out.substr(0, 2000);
  EXPECT_NE(std::string::npos, out.find("amount due: 17900.00\n")) << out.substr(out.size() - 200);
}

// The headless station of a service manager: with no terminal, nothing on
// standard output while it runs, the station really held, and a clean stop
// on SIGTERM.
TEST(QuentaMonitor, QuietRunsTheStationWithoutReportsUntilStopped)
{
  WorkDir dir;
  const std::string cmd = "cd '" + dir.path() +
                          "' && { " MONITOR_PATH " --quiet </dev/null >out 2>err & pid=$!; "
                          "sleep 1.5; " MONITOR_PATH " --once >/dev/null 2>&1; echo second $?; "
                          "kill -TERM $pid; wait $pid; echo first $?; }";
  int status = -1;
  const std::string out = run_command(cmd, &status);
  ASSERT_EQ(0, status);
  EXPECT_EQ("second 2\nfirst 0\n", out);
  EXPECT_EQ("", slurp(dir.path() + "/out"));
  const std::string err = slurp(dir.path() + "/err");
  EXPECT_NE(std::string::npos,
            err.find("quenta-monitor: the station runs in " + dir.path() + "\nquenta-monitor: stopped\n"))
      << err;
  EXPECT_EQ(64, (run_command(MONITOR_PATH " --quiet --once 2>/dev/null", &status), status));
}
