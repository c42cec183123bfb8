// The log's size under a long load: a flood of invalid messages, each logged,
// carries "app.log" past its cap again and again. The file never grows beyond
// the cap by more than the write that crossed it, the older part is kept once
// in "app.log.1", and the station goes on answering its lines.
#include <atomic>

#include "reliability.h"
#include "utils/debug.h"

using namespace rel;

namespace {

constexpr long kCap = 1 << 20;
// The file is rotated after the write that carried it past its cap: that write
// is at most one batch of lines (and a line of the other thread besides).
constexpr long kSlack = LOG_BATCH_LIMIT + 2 * (DLOG_LINE_LIMIT + 1);

TEST(LogCap, AppLogStaysUnderItsCapThroughALongLoad)
{
  PortLock port_lock;
  ASSERT_TRUE(gateway_port_free());
  WorkDir dir;
  Station station(dir, {"--log-cap", std::to_string(kCap)});
  ASSERT_TRUE(station.start()) << slurp(dir.file("station.out"));

  std::atomic<bool> stop{false};
  long sent = 0;
  std::thread load([&] {
    RawGateway gw;
    long long start = now_ms();
    while (!stop) {
      long due = (long)((now_ms() - start) * 10000 / 1000);
      while (sent < due)
        gw.send("KeepAlive KeepAlive ui/1.0\nmachine_id: GW1\nline_id " + std::to_string(sent++) + "\n\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  long biggest = 0, rotations_seen = 0, last = 0;
  long long until = now_ms() + 8000;
  while (now_ms() < until) {
    long size = file_size(dir.file("app.log"));
    biggest = std::max(biggest, size);
    if (size < last)
      rotations_seen++;
    last = size;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  stop = true;
  load.join();

  RawGateway line;
  EXPECT_TRUE(line.exchange(keepalive("GW1", 1, "IDLE")));
  EXPECT_TRUE(station.alive());
  printf("%ld messages, app.log at most %ld bytes, %ld rotations seen\n", sent, biggest, rotations_seen);
  EXPECT_LE(biggest, kCap + kSlack);
  EXPECT_GE(rotations_seen, 2) << "the load never carried the log past its cap";
  long older = file_size(dir.file("app.log.1"));
  EXPECT_GE(older, kCap);
  EXPECT_LE(older, kCap + kSlack);
}

}  // namespace
