/* The timer queue of the event loop: a list of entries sorted by due time, a
 * stack of entries queued while a sweep runs, and a free chain of entry records
 * so that steady re-arming allocates nothing. Due times are monotonic. */
#include "utils/timer.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <time.h>

#include "utils/debug.h"

namespace utils {

namespace {

timer_entry *timer_list;   /* ascending due time */
timer_entry *pending_list; /* queued during a sweep; newest first */
timer_entry *free_entries; /* recycled records, never returned to the heap */
int in_check_timeout_lock; /* set while timer_check_timeout runs */

int clamp_ms(int64_t ms)
{
  if (ms > INT_MAX)
    return INT_MAX;
  if (ms < INT_MIN)
    return INT_MIN;
  return (int)ms;
}

/* The sweep's clock reading; a microsecond part outside 0..1000000 counts as 0. */
void read_clock(timeval *tv)
{
  timer_now(tv);
  if (tv->tv_usec > 1000000 || tv->tv_usec < 0)
    tv->tv_usec = 0;
}

timer_entry *take_entry()
{
  timer_entry *e = free_entries;
  if (e) {
    free_entries = e->next;
    return e;
  }
  return static_cast<timer_entry *>(malloc(sizeof(timer_entry)));
}

void recycle_entry(timer_entry *e)
{
  e->timer = nullptr;
  e->next = free_entries;
  free_entries = e;
}

/* In front of the first entry due strictly later: equal due times keep the
 * order of insertion. */
void insert_sorted(timer_entry *e)
{
  timer_entry **link = &timer_list;
  while (*link && tvcmp(&(*link)->timeout, &e->timeout) <= 0)
    link = &(*link)->next;
  e->next = *link;
  *link = e;
}

/* A sweep must not fire what its own callbacks queue: those entries wait on the
 * pending stack until the sweep ends. */
void enqueue(timer_entry *e)
{
  if (in_check_timeout_lock) {
    e->next = pending_list;
    pending_list = e;
  } else {
    insert_sorted(e);
  }
}

void enqueue_after(timer_entry *e, unsigned interval)
{
  timeval now;
  read_clock(&now);
  e->timeout.tv_sec = now.tv_sec + (int32_t)(interval / 1000);
  e->timeout.tv_usec = now.tv_usec + (int32_t)(interval % 1000) * 1000;
  if (e->timeout.tv_usec >= 1000000) {
    e->timeout.tv_usec -= 1000000;
    e->timeout.tv_sec++;
  }
  enqueue(e);
}

bool unlink_from(timer_entry **list, const timer *t)
{
  for (timer_entry **link = list; *link; link = &(*link)->next) {
    timer_entry *e = *link;
    if (e->timer == t) {
      *link = e->next;
      recycle_entry(e);
      return true;
    }
  }
  return false;
}

/* A timer has at most one entry, in timer_list or pending_list. */
bool remove_entry(const timer *t)
{
  return unlink_from(&timer_list, t) || unlink_from(&pending_list, t);
}

int ms_until_head()
{
  if (!timer_list)
    return -1;
  timeval now, left;
  read_clock(&now);
  tvsub(&timer_list->timeout, &now, &left);
  int64_t ms = (int64_t)left.tv_sec * 1000 + left.tv_usec / 1000;
  return ms < 0 ? 0 : clamp_ms(ms);
}

} /* namespace */

void timer_now(struct timeval *tv)
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  tv->tv_sec = (int32_t)ts.tv_sec;
  tv->tv_usec = (int32_t)(ts.tv_nsec / 1000);
}

struct timer *create_timer(unsigned interval, void *ctxt, timer_callback call_back)
{
  auto *t = static_cast<timer *>(malloc(sizeof(timer)));
  if (!t)
    return nullptr;
  t->interval = interval;
  t->ctxt = ctxt;
  t->call_back = call_back;
  t->call_back_name = "";
  return t;
}

void destroy_timer(struct timer *t)
{
  if (!t)
    return;
  remove_entry(t);
  free(t);
}

int start_timer(struct timer *t, int repeat)
{
  remove_entry(t);
  timer_entry *e = take_entry();
  if (!e)
    return -1;
  e->timer = t;
  e->repeat = repeat;
  enqueue_after(e, t->interval);
  return 0;
}

int set_timeout(struct timer *t, const struct timeval *when)
{
  remove_entry(t);
  timer_entry *e = take_entry();
  if (!e)
    return -1;
  e->timer = t;
  e->repeat = 1;
  e->timeout = *when;
  enqueue(e);
  return 0;
}

int stop_timer(struct timer *t)
{
  return remove_entry(t) ? 0 : -1;
}

int timer_check_timeout()
{
  /* A callback that sweeps again fires nothing; the outer sweep owns the queue. */
  if (in_check_timeout_lock)
    return pending_list ? 0 : ms_until_head();

  timeval now;
  read_clock(&now);
  in_check_timeout_lock = 1;
  while (timer_list && tvcmp(&now, &timer_list->timeout) >= 0) {
    timer_entry *e = timer_list;
    timer_list = e->next;
    timer *t = e->timer;
    timer_callback cb = t->call_back;
    void *ctxt = t->ctxt;
    /* Re-arm before the call, counted from now: the callback may then stop,
     * restart or destroy its own timer and finds the entry where it expects. */
    if (e->repeat <= 0 || --e->repeat != 0) /* endless: never counted, so never overflows */
      enqueue_after(e, t->interval);
    else
      recycle_entry(e);
    log_function_enter(reinterpret_cast<void *>(cb));
    cb(ctxt);
    log_function_exit(reinterpret_cast<void *>(cb));
  }
  in_check_timeout_lock = 0;

  /* Newest first, so of two entries queued for the same millisecond during the
   * sweep the later one fires first. */
  while (pending_list) {
    timer_entry *e = pending_list;
    pending_list = e->next;
    insert_sorted(e);
  }
  return ms_until_head();
}

void dump_timers(const char *info)
{
  dprint(0, "\n");
  dprint(0, "%s(): %s\n", "dump_timers", info);
  for (timer_entry *e = timer_list; e; e = e->next)
    dprint(0, "\t%d:%s()\n", (int)e->timer->interval, e->timer->call_back_name);
  for (timer_entry *e = pending_list; e; e = e->next)
    dprint(0, "\t>%d:%s()\n", (int)e->timer->interval, e->timer->call_back_name);
  dprint(0, "\n");
}

int tvcmp(const struct timeval *tv1, const struct timeval *tv2)
{
  int64_t ms = ((int64_t)tv1->tv_sec - tv2->tv_sec) * 1000 + ((int64_t)tv1->tv_usec - tv2->tv_usec) / 1000;
  return clamp_ms(ms);
}

void tvsub(const struct timeval *t1, const struct timeval *t2, struct timeval *result)
{
  int32_t sec = t1->tv_sec - t2->tv_sec;
  int32_t usec = t1->tv_usec - t2->tv_usec;
  if (usec < 0) {
    usec += 1000000;
    sec--;
  }
  result->tv_sec = sec;
  result->tv_usec = usec;
}

} /* namespace utils */
