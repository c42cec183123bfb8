/* A wall clock that jumps, preloaded into the station by the clock scenario.
 * While the file named by CLOCKSHIFT_FILE exists, the wall clock — clock_gettime
 * of CLOCK_REALTIME, gettimeofday and time — is off by CLOCKSHIFT_SECONDS
 * (negative: back), so the test makes the jump by creating the file at the
 * moment it chooses. The monotonic clock is left alone. */
#define _GNU_SOURCE
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static const char *trigger;
static long long shift_s;

__attribute__((constructor)) static void clockshift_init(void)
{
  const char *by = getenv("CLOCKSHIFT_SECONDS");
  trigger = getenv("CLOCKSHIFT_FILE");
  shift_s = by ? atoll(by) : 0;
}

static long long offset_now(void)
{
  return trigger && access(trigger, F_OK) == 0 ? shift_s : 0;
}

int clock_gettime(clockid_t id, struct timespec *ts)
{
  int rc = (int)syscall(SYS_clock_gettime, id, ts);
  if (rc == 0 && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE))
    ts->tv_sec += offset_now();
  return rc;
}

int gettimeofday(struct timeval *tv, void *tz)
{
  (void)tz;
  struct timespec ts;
  int rc = clock_gettime(CLOCK_REALTIME, &ts);
  if (rc == 0) {
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000;
  }
  return rc;
}

time_t time(time_t *out)
{
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  if (out)
    *out = ts.tv_sec;
  return ts.tv_sec;
}
