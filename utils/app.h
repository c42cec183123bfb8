/* The single-threaded reactor: a process-wide registry of sockets with their
 * callbacks, the loop app_run that waits on them (native poll) and on the timer
 * queue, library start-up (app_init) and an option lookup over the environment.
 * All registry state belongs to the one thread that runs the loop. */
#ifndef UTILS_APP_H
#define UTILS_APP_H

#include <poll.h>

#include "utils/export.h"

/* Event bits handed to callbacks; SOCKIN and SOCKOUT equal POLLIN and POLLOUT. */
#define SOCKIN 0x1
#define SOCKOUT 0x4
#define SOCKERR 0x8

namespace utils QU_EXPORT {

typedef void (*sock_callback)(void *ctxt, int events, int sock);

struct pfd_call_back {
  void *ctxt; /* given back to the callback */
  sock_callback call_back;
  const char *call_back_name; /* diagnostics */
};

/* Registry state: parallel arrays, slot i of one belongs to slot i of the other.
 * A slot whose fd is -1 is a hole awaiting compaction. */
extern struct pollfd *pfd_list;
extern struct pfd_call_back *pfd_call_backs;
extern int pfd_size;   /* capacity, grows by 16 */
extern int pfd_count;  /* slots in use, holes included */
extern int pfd_defrag; /* holes since the last compaction */
extern int quit_flag;  /* non-zero once app_quit was called */

/* Start-up: opens "app.log" of the working directory (by its absolute path,
 * truncated, 0644) as the log with rotation, seeds rand, initialises the
 * scheduler, registers the exit flush. Arguments are ignored; returns 0. A
 * later call only reseeds: the log and the scheduler of the first one stay. */
int app_init(int argc, char **argv, const char *appname);

/* Runs the loop until app_quit, then sweeps the timers 1000 more times so that
 * what is already due (queued tasks among it) still runs, and returns the
 * code's low 16 bits. quit_flag is 0 again on return, so the loop can be run
 * again later, for instance by a restarted handler thread. */
int app_run();
void _app_schedule(); /* one non-blocking pass, for embedding */
/* Asks the loop to end. Meant for callbacks of the loop; from another thread it
 * takes effect when the loop next wakes (socket event or timer). */
void app_quit(int code);

int _register_sock(int sock, int events, void *ctxt, sock_callback call_back, const char *call_back_name);
int find_registered_sock(int sock, void *ctxt, sock_callback call_back);
void unregister_sock(int sock, void *ctxt, sock_callback call_back);
void unregister_object(void *ctxt);
void pfd_defragment();
void dispatch_sock_events(int nevents);

/* Native poll, retried on EINTR with the remaining time; logs a failed wait. */
int poll(struct pollfd *list, unsigned count, int timeout);

const char *app_getopt(const char *optname);
int app_opt_isset(const char *optname);

void init_random_seed();
void app_atexit();

/* The platform socket library needs no start-up here; always 0. */
int socket_library_startup();

} /* namespace utils */

#define register_sock(sock, events, inst, callback) ::utils::_register_sock(sock, events, inst, callback, #callback)

#endif
