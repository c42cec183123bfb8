// Timers run on the monotonic clock: a wall clock that jumps hours back or
// forward while a connected line is silent must neither stall nor rush the
// ten-second silence rule. The jump is faked for the station alone by a
// preloaded shim; the stored call's times show that the station saw it.
#include <fstream>

#include "reliability.h"

using namespace rel;

namespace {

long seconds_of(const std::string &local_time)
{
  struct tm tm = {};
  const char *end = strptime(local_time.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  if (!end || *end)
    return -1;
  tm.tm_isdst = -1;
  return (long)mktime(&tm);
}

void silence_rule_holds_across_a_jump(long shift_seconds)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  const char *asan = getenv("ASAN_OPTIONS");
  // the shim comes before the sanitizer runtime in a sanitizer build
  std::vector<std::string> env{"LD_PRELOAD=" CLOCKSHIFT_PATH, "CLOCKSHIFT_FILE=" + dir.file("jumped"),
                               "CLOCKSHIFT_SECONDS=" + std::to_string(shift_seconds),
                               "ASAN_OPTIONS=" + std::string(asan ? asan : "") + (asan ? ":" : "") +
                                   "verify_asan_link_order=0"};
  Station station(dir, {}, env);
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));

  RawGateway gw;
  ASSERT_TRUE(gw.exchange(keepalive("CLK", 1, "IDLE")));
  ASSERT_TRUE(gw.exchange(connected("CLK", 1, "801", "114")));
  long long last_message = now_ms();
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  std::ofstream(dir.file("jumped")) << "now\n";

  long long unknown = -1;
  EXPECT_TRUE(eventually([&] { return (unknown = first_state(dir, "CLK", 1, "UNKNOWN", last_message)) >= 0; }, 30000));
  long long silent_ms = unknown - last_message;
  EXPECT_GE(silent_ms, 9000 - 100) << "the silence rule fired early";
  EXPECT_LE(silent_ms, 10000 + 1000) << "the silence rule fired late";
  printf("wall clock moved by %ld s: the line turned UNKNOWN after %lld ms\n", shift_seconds, silent_ms);

  // the call started before the jump and ended after it
  std::vector<Row> rows;
  ASSERT_TRUE(eventually([&] { return (rows = cdr_rows(dir)).size() == 1; }, 30000))
      << rows.size() << " rows; the end of app.log:\n"
      << [&] {
           std::string log = slurp(dir.file("app.log"));
           return log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
         }();
  long span = seconds_of(rows[0].edate) - seconds_of(rows[0].bdate);
  EXPECT_NEAR((double)(shift_seconds + silent_ms / 1000), (double)span, 3.0)
      << rows[0].bdate << " .. " << rows[0].edate;
  EXPECT_TRUE(station.alive());
}

TEST(WallClockJump, TwoHoursBackDoesNotStallTheSilenceRule)
{
  silence_rule_holds_across_a_jump(-2 * 3600);
}

TEST(WallClockJump, ThreeHoursForwardDoesNotRushTheSilenceRule)
{
  silence_rule_holds_across_a_jump(3 * 3600);
}

}  // namespace
