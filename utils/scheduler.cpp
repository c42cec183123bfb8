/* Deferred calls on the event-loop thread: a priority-ordered queue run by a
 * zero-interval timer on the next sweep, and the loop thread's own instance
 * with its short-hand calls. */
#include "utils/scheduler.h"

#include <stdlib.h>

#include "utils/debug.h"

namespace utils {

struct scheduler __app_thread_scheduler;

namespace {

/* The entries a run has detached but not yet called. Cancelling reaches them
 * too, so a task that releases an object also stops that object's tasks later
 * in the same run, which would otherwise be called with a dead context. */
thread_local scheduler *running_sched;
thread_local scheduler_entry *running_list;

scheduler_entry *unlink_from(scheduler_entry **list, void *ctxt, task_fn task)
{
  for (scheduler_entry **link = list; *link; link = &(*link)->next) {
    scheduler_entry *e = *link;
    if (e->ctxt == ctxt && e->task == task) {
      *link = e->next;
      return e;
    }
  }
  return nullptr;
}

void free_all_of(scheduler_entry **list, void *ctxt)
{
  while (*list) {
    scheduler_entry *e = *list;
    if (e->ctxt == ctxt) {
      *list = e->next;
      free(e);
    } else {
      list = &e->next;
    }
  }
}

void run_entry(scheduler_entry *e)
{
  int depth = 0;
  while (depth < SCHED_CALL_STACK && e->call_stack[depth])
    log_function_enter(e->call_stack[depth++]);
  log_function_enter(reinterpret_cast<void *>(e->task));
  e->task(e->ctxt);
  log_function_exit(reinterpret_cast<void *>(e->task));
  while (depth > 0)
    log_function_exit(e->call_stack[--depth]);
}

} /* namespace */

void scheduler_init(struct scheduler *s)
{
  s->timer = nullptr;
  s->entries = nullptr;
}

void scheduler_release(struct scheduler *s)
{
  destroy_timer(s->timer);
  s->timer = nullptr;
  while (s->entries) {
    scheduler_entry *e = s->entries;
    s->entries = e->next;
    free(e);
  }
}

int scheduler_add_task(struct scheduler *s, void *ctxt, task_fn task, int pior)
{
  free(unlink_from(&s->entries, ctxt, task));
  auto *e = static_cast<scheduler_entry *>(calloc(1, sizeof(scheduler_entry)));
  if (!e)
    return -1;
  e->pior = pior;
  e->ctxt = ctxt;
  e->task = task;

  bool was_empty = !s->entries;
  /* Behind every entry of the same or a more urgent priority. */
  scheduler_entry **link = &s->entries;
  while (*link && (*link)->pior <= pior)
    link = &(*link)->next;
  e->next = *link;
  *link = e;

  /* A failed enable leaves the task queued for the next successful one. */
  if (was_empty)
    scheduler_enable(s);
  return 0;
}

int scheduler_delete_task(struct scheduler *s, void *ctxt, task_fn task)
{
  scheduler_entry *e = unlink_from(&s->entries, ctxt, task);
  if (!e && running_sched == s)
    e = unlink_from(&running_list, ctxt, task);
  if (!e)
    return -1;
  free(e);
  return 0;
}

void scheduler_delete_all(struct scheduler *s, void *ctxt)
{
  free_all_of(&s->entries, ctxt);
  if (running_sched == s)
    free_all_of(&running_list, ctxt);
}

int scheduler_enable(struct scheduler *s)
{
  if (!s->timer) {
    s->timer = create_timer(0, s, scheduler_callback);
    if (!s->timer)
      return -1;
    s->timer->call_back_name = "scheduler_callback";
  }
  return start_timer(s->timer, -1);
}

int scheduler_disable(struct scheduler *s)
{
  if (s->timer)
    stop_timer(s->timer);
  return 0;
}

void scheduler_callback(void *arg)
{
  auto *s = static_cast<scheduler *>(arg);
  /* Tasks queued by the tasks go into a fresh list and wait for the next sweep. */
  scheduler *outer_sched = running_sched;
  scheduler_entry *outer_list = running_list;
  running_sched = s;
  running_list = s->entries;
  s->entries = nullptr;
  while (running_list) {
    scheduler_entry *e = running_list;
    running_list = e->next;
    run_entry(e);
    free(e);
  }
  running_sched = outer_sched;
  running_list = outer_list;
  if (!s->entries)
    scheduler_disable(s);
}

int schedule_task(void *ctxt, task_fn task, int pior)
{
  return scheduler_add_task(&__app_thread_scheduler, ctxt, task, pior);
}

int cancel_task(void *ctxt, task_fn task)
{
  return scheduler_delete_task(&__app_thread_scheduler, ctxt, task);
}

void cancel_all_task(void *ctxt, task_fn task)
{
  (void)task;
  scheduler_delete_all(&__app_thread_scheduler, ctxt);
}

} /* namespace utils */
