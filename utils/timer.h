/* Millisecond timers of the event loop. Starting a timer queues one entry; the
 * loop calls timer_check_timeout on every pass, which fires what is due, re-arms
 * repeating timers and says how long the loop may block. Due times are kept on
 * the monotonic clock, so changes of the wall clock never stall or rush a timer.
 * All timer state belongs to the loop's thread; nothing is locked. */
#ifndef UTILS_TIMER_H
#define UTILS_TIMER_H

#include "utils/export.h"
#include "utils/utils.h"

#define SECOND 1000u

namespace utils QU_EXPORT {

typedef void (*timer_callback)(void *ctxt);

struct timer {
  unsigned interval;          /* milliseconds */
  void *ctxt;                 /* handed to the callback */
  timer_callback call_back;   /* result ignored */
  const char *call_back_name; /* for dump_timers; create_timer sets "" */
};

struct timer_entry {
  struct timer *timer;    /* the timer this entry fires */
  struct timeval timeout; /* absolute due time (monotonic clock) */
  int repeat;             /* firings still to come; 0 or negative: endless */
  struct timer_entry *next;
};

/* The timers' clock: monotonic time, as a timeval. Absolute times handed to
 * set_timeout are on this clock. */
void timer_now(struct timeval *tv);

/* Create / release. */
struct timer *create_timer(unsigned interval, void *ctxt, timer_callback call_back);
void destroy_timer(struct timer *t); /* removes its queued entry, frees it */

/* Verbs. start and set_timeout first remove any queued entry of the timer. */
int start_timer(struct timer *t, int repeat);                 /* 0, -1 without memory */
int set_timeout(struct timer *t, const struct timeval *when); /* one firing at `when` */
int stop_timer(struct timer *t);                              /* 0 removed, -1 not queued */

/* Fires every due entry (a timer queued during the sweep waits for the next one)
 * and returns the milliseconds until the earliest queued firing, 0 when already
 * due, -1 when nothing is queued. */
int timer_check_timeout();

/* Writes the queue to the log through dprint. */
void dump_timers(const char *info);

/* Signed difference tv1 - tv2 in whole milliseconds (truncated toward zero). */
int tvcmp(const struct timeval *tv1, const struct timeval *tv2);
/* result = t1 - t2, microseconds brought to 0..999999. */
void tvsub(const struct timeval *t1, const struct timeval *t2, struct timeval *result);

} /* namespace utils */

#endif
