/* Deferred calls for the event-loop thread: tasks queued with a priority run,
 * lowest value first, on the loop's next timer sweep. A task is identified by
 * its (context, function) pair; queuing a pair again moves it. */
#ifndef UTILS_SCHEDULER_H
#define UTILS_SCHEDULER_H

#include "utils/export.h"
#include "utils/timer.h"

#define PIOR_URG 0
#define PIOR_HIGH 16
#define PIOR_MID 128
#define PIOR_LOW 256
#define SCHED_CALL_STACK 20

namespace utils QU_EXPORT {

typedef void (*task_fn)(void *ctxt);

struct scheduler_entry {
  int pior; /* lower runs earlier */
  void *ctxt;
  task_fn task;
  struct scheduler_entry *next;
  void *call_stack[SCHED_CALL_STACK]; /* call chain replayed around the task; ends at null */
};

struct scheduler {
  struct timer *timer;             /* interval 0, created on first use */
  struct scheduler_entry *entries; /* ascending pior, FIFO within a pior */
};

void scheduler_init(struct scheduler *s);
void scheduler_release(struct scheduler *s);
int scheduler_add_task(struct scheduler *s, void *ctxt, task_fn task, int pior);
int scheduler_delete_task(struct scheduler *s, void *ctxt, task_fn task);
void scheduler_delete_all(struct scheduler *s, void *ctxt);
int scheduler_enable(struct scheduler *s);
int scheduler_disable(struct scheduler *s);
void scheduler_callback(void *s);

/* The loop thread's instance, initialised by app_init. */
extern struct scheduler __app_thread_scheduler;
int schedule_task(void *ctxt, task_fn task, int pior);
int cancel_task(void *ctxt, task_fn task);
void cancel_all_task(void *ctxt, task_fn task); /* task is ignored */

} /* namespace utils */

#define SCHEDULE(ctxt, task, pior) ::utils::scheduler_add_task(&::utils::__app_thread_scheduler, ctxt, task, pior)
#define CANCEL_ALL_SCHEDULE(ctxt) ::utils::scheduler_delete_all(&::utils::__app_thread_scheduler, ctxt)

#endif
