/* The message handler's life and its two doors: creation with the gateway
 * socket and the handler thread, release, the socket event that reads and
 * echoes datagrams, the status report and the command sent to a line. The
 * dispatch and line updates are in msghdlr_process.cpp, storing calls in
 * msghdlr_store.cpp. */
#include "quenta/msghdlr.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <new>
#include <system_error>

#include "quenta/quenta.h"
#include "utils/app.h"
#include "utils/debug.h"
#include "utils/net.h"
#include "utils/sockaddr.h"
#include "utils/text.h"

namespace {

/* A loop that waits a moment for the database must not drop a hang-up: the
 * default buffer holds only about 160 datagrams. */
void set_receive_buffer(int sock)
{
  int want = GATEWAY_RCVBUF;
  if (setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof want) < 0 &&
      setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &want, sizeof want) < 0)
    LOG_SYS_ERROR();
  int granted = 0;
  socklen_t len = sizeof granted;
  if (getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &len) < 0)
    LOG_SYS_ERROR();
  else
    DLOG("gateway socket receive buffer: %d bytes (asked for %d)", granted, want);
}

/* The socket is bound with address reuse; with the flag left on, Linux lets any
 * later program bind the gateway port as well and hands it the gateways'
 * unicast datagrams, so a stray second station would silently take hang-ups.
 * Cleared after our bind, every later bind of the port fails instead. */
void keep_port_to_ourselves(int sock)
{
  int off = 0;
  if (setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off) < 0)
    LOG_SYS_ERROR();
}

void wake_callback(void *ctxt, int events, int sock)
{
  (void)ctxt;
  (void)events;
  uint64_t n;
  while (read(sock, &n, sizeof n) < 0 && errno == EINTR) {
  }
  utils::app_quit(0);
}

const int RECV_NONE = -2;

/* Receives one datagram without waiting: its length, RECV_NONE when nothing
 * is waiting (after the first datagram of an event), -1 after a logged
 * failure. The first receive of an event retries a try-again up to 5 more
 * times. A datagram longer than the buffer is dropped (-1), like any failed
 * receive. */
int receive_datagram(struct msghdlr *h, struct sockaddr_in *from, socklen_t *fromlen, bool first)
{
  int tries = first ? 5 : 0;
  for (;;) {
    memset(h->m_receiver.recv_buf, 0, sizeof h->m_receiver.recv_buf);
    *fromlen = sizeof *from;
    ssize_t n = recvfrom(h->m_sock, h->m_receiver.recv_buf, sizeof h->m_receiver.recv_buf, MSG_DONTWAIT | MSG_TRUNC,
                         reinterpret_cast<struct sockaddr *>(from), fromlen);
    if (n >= 0) {
      if (n > (ssize_t)sizeof h->m_receiver.recv_buf) {
        DLOG("datagram of %zd bytes from %s is longer than %zu bytes: dropped", n,
             utils::sock_ntop_host(reinterpret_cast<struct sockaddr *>(from), INET_SOCKLEN),
             sizeof h->m_receiver.recv_buf);
        return -1;
      }
      return (int)n;
    }
    if (errno == EINTR)
      continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!first)
        return RECV_NONE;
      if (tries-- > 0)
        continue;
    }
    LOG_SYS_ERROR();
    return -1;
  }
}

void handle_datagram(struct msghdlr *h, const struct sockaddr_in *from, socklen_t fromlen, int len)
{
  struct bill_v2 *rcv = &h->m_receiver;
  rcv->recv_ptr = rcv->recv_buf;
  rcv->recv_remain = len;
  rcv->sock = h->m_sock;
  h->m_recv_len = len;
  if (len <= 0)
    return;
  struct uimsg msg;
  if (receive_and_parse_uimsg(rcv, &msg) != 1)
    return;
  CHECKPOINT();
  if (process_message(h, &msg, from) > 0)
    msghdlr_send_ack(h, from, fromlen);
  uimsg_free_payload(&msg);
  if (!h->m_ended.empty() || h->m_live_changed) {
    /* Storing may wait for the database and the journal for the disk: the
     * lines so far go out first. */
    utils::log_batch_end();
    store_ended_calls(h);
    journal_settle(h, false);
    utils::log_batch_begin();
  }
}

} /* namespace */

int set_local_time(char *buf, int size)
{
  if (!buf || size < LOCAL_TIME_MIN) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  snprintf(buf, (size_t)size, "%s", utils::local_time_text(time(nullptr)).c_str());
  return 0;
}

void register_sock_callback(void *ctxt, int events, int sock)
{
  struct msghdlr *h = static_cast<struct msghdlr *>(ctxt);
  if (events & SOCKIN) {
    /* The ten or so lines a message logs go out in one write per event. */
    utils::log_batch_begin();
    /* Everything waiting is read, so a backlog that built up while the
     * database held us is cleared at once; a socket that never runs dry is
     * left after a while, so the timer still gets its turn. */
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (bool first = true;; first = false) {
      struct sockaddr_in from;
      socklen_t fromlen;
      int n = receive_datagram(h, &from, &fromlen, first);
      if (n == RECV_NONE || (n < 0 && first))
        break;
      /* A sender the gateways file does not list is not even parsed. */
      if (n >= 0 && gateway_admit(&h->m_gateways, &from))
        handle_datagram(h, &from, fromlen, n);
      clock_gettime(CLOCK_MONOTONIC, &now);
      if ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 >= BATCH_BUDGET_MS)
        break;
    }
    utils::log_batch_end();
  }
  if (events & SOCKERR) {
    int err = utils::getsockerr(sock);
    DPRINT("%s\n", err >= 0 ? strerror(err) : "socket error unknown");
  }
}

void msghdlr_send_ack(struct msghdlr *h, const struct sockaddr_in *addr, socklen_t len)
{
  size_t n = strnlen(h->m_receiver.recv_buf, (size_t)h->m_recv_len);
  ssize_t r;
  do
    r = sendto(h->m_sock, h->m_receiver.recv_buf, n, 0, reinterpret_cast<const struct sockaddr *>(addr), len);
  while (r < 0 && errno == EINTR);
  if (r < 0)
    LOG_SYS_ERROR();
}

void msghdlr_start(struct msghdlr *h, std::promise<int> *started)
{
  if (register_sock(h->m_sock, SOCKIN, h, register_sock_callback) < 0 ||
      register_sock(h->m_wakefd, SOCKIN, h, wake_callback) < 0 || utils::start_timer(h->m_timer, 1) < 0 ||
      (!h->m_retry.empty() && utils::start_timer(h->m_store_timer, 1) < 0)) {
    LOG_FUNCTION_FAILED();
    utils::unregister_object(h);
    utils::stop_timer(h->m_timer);
    utils::stop_timer(h->m_store_timer);
    started->set_value(-1);
    return;
  }
  started->set_value(0);
  DLOG("message handler start...");
  utils::app_run();
  utils::unregister_sock(h->m_sock, h, register_sock_callback);
  utils::unregister_sock(h->m_wakefd, h, wake_callback);
  utils::stop_timer(h->m_timer);
  utils::stop_timer(h->m_store_timer);
  DLOG("message handler end...");
}

struct msghdlr *create_msghdlr(const char *dbpath, const char *tblname)
{
  struct msghdlr *h = new (std::nothrow) msghdlr{};
  if (!h) {
    LOG_FUNCTION_FAILED();
    return nullptr;
  }
  h->m_sock = -1;
  h->m_wakefd = -1;
  gateway_guard_load(&h->m_gateways, GATEWAYS_FILE);

  struct sockaddr_in addr;
  MK_INET_ANYADDR(addr);
  utils::setsockport(reinterpret_cast<struct sockaddr *>(&addr), SRV_PORT);
  h->m_sock = utils::udp_bind(0, reinterpret_cast<struct sockaddr *>(&addr), INET_SOCKLEN);
  if (h->m_sock < 0) {
    LOG_FUNCTION_FAILED();
    goto failure;
  }
  keep_port_to_ourselves(h->m_sock);
  set_receive_buffer(h->m_sock);

  if (create_cdr_database(h, dbpath, tblname) < 0) {
    LOG_FUNCTION_FAILED();
    goto failure;
  }
  /* Calls an earlier run could not store come first, before any new one (the
   * thread stores them once it answers the gateways); then the calls it left
   * in progress. */
  read_pending_calls(h);
  journal_load(h);
  h->m_wakefd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (h->m_wakefd < 0) {
    LOG_SYS_ERROR();
    goto failure;
  }
  h->m_timer = utils::create_timer(SECOND, h, timeout_callback);
  h->m_store_timer = utils::create_timer(0, h, store_timer_callback);
  if (!h->m_timer || !h->m_store_timer) {
    LOG_FUNCTION_FAILED();
    goto failure;
  }

  {
    std::promise<int> started;
    std::future<int> result = started.get_future();
    try {
      h->m_thread = std::thread(msghdlr_start, h, &started);
    } catch (const std::system_error &e) {
      DLOG("cannot start the handler thread: %s", e.what());
      goto failure;
    }
    if (result.get() < 0) {
      h->m_thread.join();
      LOG_FUNCTION_FAILED();
      goto failure;
    }
  }
  return h;

failure:
  msghdlr_release(h);
  return nullptr;
}

void msghdlr_release(struct msghdlr *h)
{
  if (!h)
    return;
  if (h->m_thread.joinable()) {
    uint64_t one = 1;
    while (write(h->m_wakefd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    h->m_thread.join();
  }
  /* The thread has ended: its queue is ours now. What still waits is in the
   * pending file for the next start. */
  if (h->m_dbent) {
    retry_calls(h);
    for (const cdr_row &row : h->m_retry) {
      if (!row.on_file && cdr_write_failed(row) == 0)
        DLOG("call %s could not be stored or kept before release: written to " CDR_FAILED_FILE, row.callid.c_str());
    }
    h->m_retry.clear();
    /* The calls in progress stay in the journal, with the last moment they
     * were heard of, for the next start. */
    journal_settle(h, true);
  }
  if (h->m_timer)
    utils::destroy_timer(h->m_timer);
  if (h->m_store_timer)
    utils::destroy_timer(h->m_store_timer);
  if (h->m_wakefd >= 0)
    close(h->m_wakefd);
  if (h->m_sock >= 0)
    close(h->m_sock);
  if (h->m_dbent)
    dbent_release(h->m_dbent);
  free(h->m_cdrtbl_name);
  delete h;
}

namespace {

/* quenta_getStatus's callback, called through the one with a parameter. */
void status_without_param(const char *machineid, int lineid, const char *state, const char *srcnum, const char *desnum,
                          const char *bdate, int flag, void *param)
{
  (*static_cast<STATUS_CALLBACK *>(param))(machineid, lineid, state, srcnum, desnum, bdate, flag);
}

} /* namespace */

int msghdlr_get_status(struct msghdlr *h, STATUS_CALLBACK cb)
{
  if (!cb)
    return 0;
  return msghdlr_get_status_ex(h, status_without_param, &cb);
}

int msghdlr_get_status_ex(struct msghdlr *h, STATUS_CALLBACK_EX cb, void *param)
{
  if (!h || !cb)
    return 0;
  for (int i = 0;; i++) {
    struct machine_info copy;
    {
      std::scoped_lock lock(h->m_table_lock);
      if (i >= h->m_micount)
        break;
      copy = h->m_infos[i];
      h->m_infos[i].m_flag = 0;
    }
    cb(copy.m_machine_id, (int)copy.m_line_id, copy.m_state, copy.m_callinfo.srcnum, copy.m_callinfo.desnum,
       copy.m_callinfo.bdate, copy.m_flag, param);
  }
  return 0;
}

uint64_t msghdlr_refused(const struct msghdlr *h, char *buf, int size)
{
  return gateway_refused(&h->m_gateways, buf, size);
}

int msghdlr_send_command(struct msghdlr *h, const char *machineid, unsigned lineid, const char *command)
{
  if (!h || !machineid)
    return -1;
  struct sockaddr_in addr;
  bool found = false;
  {
    std::scoped_lock lock(h->m_table_lock);
    for (int i = 0; i < h->m_micount; i++) {
      const struct machine_info *mi = &h->m_infos[i];
      if (mi->m_line_id == lineid && strcmp(mi->m_machine_id, machineid) == 0) {
        addr = mi->m_addr;
        found = true;
        break;
      }
    }
  }
  if (!found)
    return 0;
  char buf[UIMSG_BUF_LEN] = {};
  int n = pack_event(buf, "Action", command);
  if (n < 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  ssize_t r;
  do
    r = sendto(h->m_sock, buf, (size_t)n, 0, reinterpret_cast<const struct sockaddr *>(&addr), sizeof addr);
  while (r < 0 && errno == EINTR);
  if (r < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  return 0;
}
