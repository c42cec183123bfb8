/* The message handler's dispatch over a sequence of datagrams against its line
 * table, with silence ticks and status reports in between, storing calls in a
 * real database file. Driven without the socket and the thread: each record of
 * the input is read and dispatched the way the socket event does it.
 *
 * Input: records separated by "\n~\n". A record is a datagram, or a control:
 *   "!tick N"   N silence ticks (1 to 12, default 1)
 *   "!from N"   later datagrams come from sender port N
 *   "!status"   a status report
 * Checks: the table stays within its bounds with every text terminated, a
 * report never shows more ended calls than ended, and no ended call is lost:
 * each one is a row of "cdrtbl", a line of "cdr.failed" (one tab-separated
 * record of eight fields) or still waits in the handler's queue. */
#include <arpa/inet.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "fuzz_common.h"
#include "quenta/msghdlr.h"
#include "utils/timer.h"

namespace {

struct msghdlr *g_h;
long g_flags_reported;

int count_row(void *param, int, char **, char **)
{
  ++*static_cast<long *>(param);
  return 0;
}

long stored_rows()
{
  long n = 0;
  FUZZ_CHECK(dbent_select(g_h->m_dbent, "cdrtbl", nullptr, count_row, &n) == 0);
  return n;
}

long failed_lines()
{
  FILE *f = fopen(CDR_FAILED_FILE, "r");
  if (!f)
    return 0;
  long n = 0;
  char *line = nullptr;
  size_t cap = 0;
  ssize_t len;
  while ((len = getline(&line, &cap, f)) >= 0) {
    FUZZ_CHECK(len > 0 && line[len - 1] == '\n');
    int tabs = 0;
    for (ssize_t i = 0; i < len; i++)
      tabs += line[i] == '\t';
    FUZZ_CHECK(tabs == 7);
    n++;
  }
  free(line);
  fclose(f);
  return n;
}

void on_status(const char *machineid, int, const char *state, const char *srcnum, const char *desnum, const char *bdate,
               int flag)
{
  FUZZ_CHECK(strnlen(machineid, MACHINE_ID_LEN) < MACHINE_ID_LEN);
  FUZZ_CHECK(strnlen(state, STATE_LEN) < STATE_LEN);
  FUZZ_CHECK(strnlen(srcnum, TEXT_LEN) < TEXT_LEN && strnlen(desnum, TEXT_LEN) < TEXT_LEN);
  FUZZ_CHECK(strnlen(bdate, TEXT_LEN) < TEXT_LEN);
  FUZZ_CHECK(flag == 0 || flag == 1);
  g_flags_reported += flag;
}

void check_table()
{
  FUZZ_CHECK(g_h->m_micount >= 0 && g_h->m_micount <= MAX_MACHINE_INFO);
  for (int i = 0; i < g_h->m_micount; i++) {
    const machine_info &mi = g_h->m_infos[i];
    FUZZ_CHECK(fuzz::terminated(mi.m_machine_id) && fuzz::terminated(mi.m_state));
    FUZZ_CHECK(fuzz::terminated(mi.m_callinfo.srcnum) && fuzz::terminated(mi.m_callinfo.desnum));
    FUZZ_CHECK(fuzz::terminated(mi.m_callinfo.bdate) && fuzz::terminated(mi.m_callinfo.callid));
    FUZZ_CHECK(mi.m_expire >= 0);
  }
}

/* Calls the next tick will end: connected lines with a number that reach the
 * silence limit. */
long calls_ending_at_tick()
{
  long n = 0;
  for (int i = 0; i < g_h->m_micount; i++) {
    const machine_info &mi = g_h->m_infos[i];
    int expire = mi.m_expire < INT_MAX ? mi.m_expire + 1 : mi.m_expire;
    n += expire >= EXPIRE_TIME && strcmp(mi.m_state, STATE_CONNECTED) == 0 && mi.m_callinfo.desnum[0];
  }
  return n;
}

long dispatch(std::string_view datagram, const sockaddr_in &from)
{
  struct bill_v2 *rcv = &g_h->m_receiver;
  memset(rcv->recv_buf, 0, sizeof rcv->recv_buf);
  memcpy(rcv->recv_buf, datagram.data(), datagram.size());
  rcv->recv_ptr = rcv->recv_buf;
  rcv->recv_remain = (int32_t)datagram.size();
  rcv->sock = g_h->m_sock;
  g_h->m_recv_len = (int)datagram.size();
  if (datagram.empty())
    return 0;
  struct uimsg msg;
  if (receive_and_parse_uimsg(rcv, &msg) != 1)
    return 0;
  process_message(g_h, &msg, &from);
  uimsg_free_payload(&msg);
  long ended = (long)g_h->m_ended.size();
  store_ended_calls(g_h);
  FUZZ_CHECK(g_h->m_ended.empty());
  return ended;
}

void reset()
{
  std::scoped_lock lock(g_h->m_table_lock);
  memset(g_h->m_infos, 0, sizeof g_h->m_infos);
  g_h->m_micount = 0;
  g_h->m_ended.clear();
  g_h->m_retry.clear();
}

} /* namespace */

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  fuzz::quiet();
  if (chdir(fuzz::scratch_dir().c_str()) != 0)
    abort();
  g_h = new msghdlr{};
  g_h->m_sock = -1;
  g_h->m_wakefd = -1;
  std::string db = fuzz::scratch_dir() + "/quentadb";
  if (create_cdr_database(g_h, db.c_str(), "cdrtbl") != 0)
    abort();
  g_h->m_timer = utils::create_timer(SECOND, g_h, timeout_callback);
  if (!g_h->m_timer)
    abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  reset();
  FUZZ_CHECK(dbent_delete(g_h->m_dbent, "cdrtbl", nullptr) == 0);
  unlink(CDR_FAILED_FILE);

  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  from.sin_port = htons(40000);

  long ended = 0, ended_since_report = 0;
  std::string_view input(reinterpret_cast<const char *>(data), size);
  while (true) {
    size_t sep = input.find("\n~\n");
    std::string_view record = input.substr(0, sep);
    if (record.substr(0, 5) == "!tick") {
      int n = atoi(std::string(record.substr(5)).c_str());
      n = n < 1 ? 1 : n > 12 ? 12 : n;
      for (int i = 0; i < n; i++) {
        long ending = calls_ending_at_tick();
        timeout_callback(g_h);
        ended += ending;
        ended_since_report += ending;
      }
    } else if (record.substr(0, 5) == "!from") {
      from.sin_port = htons((uint16_t)atoi(std::string(record.substr(5)).c_str()));
    } else if (record == "!status") {
      g_flags_reported = 0;
      msghdlr_get_status(g_h, on_status);
      FUZZ_CHECK(g_flags_reported <= ended_since_report);
      ended_since_report = 0;
    } else if (record.size() <= UIMSG_BUF_LEN) {
      /* a longer datagram fails its receive and never reaches the reader */
      long n = dispatch(record, from);
      ended += n;
      ended_since_report += n;
    }
    check_table();
    if (sep == std::string_view::npos)
      break;
    input.remove_prefix(sep + 3);
  }
  FUZZ_CHECK(stored_rows() + failed_lines() + (long)g_h->m_retry.size() == ended);
  return 0;
}
