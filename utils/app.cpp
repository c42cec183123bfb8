/* The event loop: the socket registry (two parallel growable arrays with
 * deferred removal), the wait over the native poll, dispatch to the callbacks,
 * the loop itself, library start-up and the option lookup. */
#include "utils/app.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "utils/debug.h"
#include "utils/scheduler.h"
#include "utils/timer.h"
#include "utils/utils.h"

namespace utils {

struct pollfd *pfd_list;
struct pfd_call_back *pfd_call_backs;
int pfd_size;
int pfd_count;
int pfd_defrag;
int quit_flag;

namespace {

const int PFD_GROWTH = 16;
const int FINAL_SWEEPS = 1000;

bool g_started; /* app_init has run once */

/* app_quit may come from another thread as well as from a callback. */
int load_quit()
{
  return std::atomic_ref<int>(quit_flag).load();
}

void store_quit(int v)
{
  std::atomic_ref<int>(quit_flag).store(v);
}

void mark_hole(int i)
{
  pfd_list[i].fd = -1;
  pfd_list[i].events = 0;
  pfd_list[i].revents = 0;
  pfd_defrag++;
}

/* Both arrays grow together; when the second fails the first keeps its new,
 * larger block but the capacity stays the old one. */
int grow_registry()
{
  int size = pfd_size + PFD_GROWTH;
  auto *list = static_cast<struct pollfd *>(realloc(pfd_list, sizeof(struct pollfd) * size));
  if (!list)
    return -1;
  pfd_list = list;
  auto *cbs = static_cast<pfd_call_back *>(realloc(pfd_call_backs, sizeof(pfd_call_back) * size));
  if (!cbs)
    return -1;
  pfd_call_backs = cbs;
  pfd_size = size;
  return 0;
}

int64_t monotonic_ms()
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void compact_when_due()
{
  if (pfd_defrag)
    pfd_defragment();
}

void wait_and_dispatch(int timeout)
{
  int n = utils::poll(pfd_list, (unsigned)pfd_count, timeout);
  if (n > 0)
    dispatch_sock_events(n);
}

/* "app.log" of the working directory by its absolute path, so that rotation
 * still finds it after a chdir. */
void open_app_log()
{
  char cwd[PATH_MAX];
  std::string path = getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/app.log" : "app.log";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    /* The lines go on to standard error rather than nowhere. */
    LOG_SYS_ERROR();
    return;
  }
  logfd = fd;
  set_log_rotation(path.c_str(), LOG_ROTATE_DEFAULT);
}

} /* namespace */

int socket_library_startup()
{
  return 0;
}

void init_random_seed()
{
  struct timeval now;
  gettimeofday(&now, nullptr);
  uint32_t seed = (uint32_t)now.tv_sec ^ (uint32_t)now.tv_usec;
  const char *user = getenv("USERNAME");
  if (!user)
    user = getenv("USER");
  if (user)
    seed ^= r5_hash(user, -1);
  srand(seed);
}

void app_atexit()
{
  flush_log_msg();
}

int app_init(int argc, char **argv, const char *appname)
{
  (void)argc;
  (void)argv;
  (void)appname;
  /* A later start in the same process keeps the log of the first one and the
   * scheduler with whatever it has queued. */
  if (g_started) {
    init_random_seed();
    return 0;
  }
  open_app_log();
  init_random_seed();
  /* The instance starts zero-filled; one that was used before start-up keeps
   * its timer and its tasks. */
  if (!__app_thread_scheduler.timer && !__app_thread_scheduler.entries)
    scheduler_init(&__app_thread_scheduler);
  atexit(app_atexit);
  if (socket_library_startup() != 0) {
    DLOG("cannot initialize winsocket library!");
    exit(-1);
  }
  g_started = true;
  return 0;
}

int poll(struct pollfd *list, unsigned count, int timeout)
{
  int64_t deadline = timeout > 0 ? monotonic_ms() + timeout : 0;
  for (;;) {
    int n = ::poll(list, (nfds_t)count, timeout);
    if (n >= 0)
      return n;
    if (errno != EINTR) {
      LOG_SYS_ERROR();
      return n;
    }
    /* Interrupted: wait on for what is left of the timeout. */
    if (timeout > 0) {
      int64_t left = deadline - monotonic_ms();
      timeout = left > 0 ? (int)left : 0;
    }
  }
}

int _register_sock(int sock, int events, void *ctxt, sock_callback call_back, const char *call_back_name)
{
  if (sock < 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  int i = find_registered_sock(sock, ctxt, call_back);
  if (i >= 0) {
    pfd_list[i].events = (short)events;
    return i;
  }
  if (pfd_count + 1 > pfd_size && grow_registry() < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  i = pfd_count;
  pfd_list[i].fd = sock;
  pfd_list[i].events = (short)events;
  pfd_list[i].revents = 0;
  pfd_call_backs[i].ctxt = ctxt;
  pfd_call_backs[i].call_back = call_back;
  pfd_call_backs[i].call_back_name = call_back_name;
  return ++pfd_count;
}

int find_registered_sock(int sock, void *ctxt, sock_callback call_back)
{
  for (int i = 0; i < pfd_count; i++) {
    if (pfd_list[i].fd == sock && pfd_call_backs[i].ctxt == ctxt && pfd_call_backs[i].call_back == call_back)
      return i;
  }
  return -1;
}

/* Removal only marks the slot; it is safe from inside any callback, including
 * the one of the slot being dispatched. */
void unregister_sock(int sock, void *ctxt, sock_callback call_back)
{
  if (sock < 0)
    return;
  int i = find_registered_sock(sock, ctxt, call_back);
  if (i >= 0)
    mark_hole(i);
}

void unregister_object(void *ctxt)
{
  for (int i = 0; i < pfd_count; i++) {
    if (pfd_list[i].fd >= 0 && pfd_call_backs[i].ctxt == ctxt)
      mark_hole(i);
  }
  scheduler_delete_all(&__app_thread_scheduler, ctxt);
}

void pfd_defragment()
{
  int to = 0;
  for (int from = 0; from < pfd_count; from++) {
    if (pfd_list[from].fd < 0)
      continue;
    if (to != from) {
      pfd_list[to] = pfd_list[from];
      pfd_call_backs[to] = pfd_call_backs[from];
    }
    to++;
  }
  pfd_count = to;
  pfd_defrag = 0;
}

void dispatch_sock_events(int nevents)
{
  /* pfd_count is read at every step: a callback may register (and so grow the
   * arrays) or unregister while we walk. New slots have no revents yet. */
  for (int i = 0; i < pfd_count && nevents > 0; i++) {
    int revents = pfd_list[i].revents;
    int sock = pfd_list[i].fd;
    if (revents == 0 || sock < 0)
      continue;
    int mask = 0;
    if (revents & (POLLIN | POLLPRI))
      mask |= SOCKIN;
    if (revents & POLLOUT)
      mask |= SOCKOUT;
    if (revents & ~(POLLIN | POLLPRI | POLLOUT))
      mask |= SOCKERR;
    sock_callback cb = pfd_call_backs[i].call_back;
    log_function_enter(reinterpret_cast<void *>(cb));
    cb(pfd_call_backs[i].ctxt, mask, sock);
    log_function_exit(reinterpret_cast<void *>(cb));
    pfd_list[i].revents = 0;
    nevents--;
  }
}

/* One pass of the loop, in this order:
 *   1. compact, look at the sockets without waiting, dispatch;
 *   2. sweep the timers, which says how long we may block;
 *   3. compact, wait that long (or until a socket is ready), dispatch.
 * A quit asked for by a callback of this pass makes step 3 look without
 * waiting, so the loop ends at once instead of at the next event. */
int app_run()
{
  while (!load_quit()) {
    compact_when_due();
    wait_and_dispatch(0);
    int timeout = timer_check_timeout();
    compact_when_due();
    wait_and_dispatch(load_quit() ? 0 : timeout);
  }
  /* Timers already due (the scheduler's zero-interval tick among them) still
   * fire; later ones do not. */
  for (int i = 0; i < FINAL_SWEEPS; i++)
    timer_check_timeout();
  int code = load_quit() & 0xFFFF;
  store_quit(0);
  return code;
}

void _app_schedule()
{
  compact_when_due();
  wait_and_dispatch(0);
  timer_check_timeout();
}

void app_quit(int code)
{
  store_quit((code & 0xFFFF) | 0xFF0000);
}

const char *app_getopt(const char *optname)
{
  return getenv(optname);
}

int app_opt_isset(const char *optname)
{
  const char *value = app_getopt(optname);
  bool set = false;
  if (value) {
    if (strcasecmp(value, "true") == 0) {
      set = true;
    } else {
      char *end;
      long long n = strtoll(value, &end, 0);
      set = end != value && n != 0;
    }
  }
  if (set)
    DPRINT("%s(): %s is set\n", "app_opt_isset", optname);
  else
    DPRINT("%s(): %s not set\n", "app_opt_isset", optname);
  return set ? 1 : 0;
}

} /* namespace utils */
