/* The dispatch of gateway messages and the changes of line records: lines
 * announce themselves, report states and calls, answer commands, and fall
 * silent. Every change of the table happens here, on the handler's thread,
 * with m_table_lock held; a call that ends is only composed here and stored
 * by the caller once the lock is left. */
#include <limits.h>
#include <stdlib.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "quenta/msghdlr.h"
#include "utils/debug.h"
#include "utils/text.h"

namespace {

/* What the handlers read from a message's attributes; the later of two equal
 * names stands. The texts point into the message. */
struct msg_fields {
  char machine_id[MACHINE_ID_LEN];
  int line_id;
  const char *state;
  const char *dest_num;
  const char *src_num;
};

int read_line_id(const char *text)
{
  long v = strtol(text, nullptr, 10);
  if (v > INT_MAX)
    return INT_MAX;
  if (v < INT_MIN)
    return INT_MIN;
  return (int)v;
}

void read_fields(const struct uimsg *msg, msg_fields *f)
{
  f->machine_id[0] = '\0';
  f->line_id = -1;
  f->state = "";
  f->dest_num = "";
  f->src_num = "";
  for (const struct uiattr &a : msg->attrs) {
    if (uimsg_name_is(a.name, "machine_id"))
      utils::copy_text(f->machine_id, sizeof f->machine_id, a.value);
    else if (uimsg_name_is(a.name, "line_id"))
      f->line_id = read_line_id(a.value);
    else if (uimsg_name_is(a.name, "state"))
      f->state = a.value;
    else if (uimsg_name_is(a.name, "dest_num"))
      f->dest_num = a.value;
    else if (uimsg_name_is(a.name, "src_num"))
      f->src_num = a.value;
  }
}

/* The first record of the line, or -1. */
int find_line(const struct msghdlr *h, const msg_fields *f)
{
  for (int i = 0; i < h->m_micount; i++) {
    const struct machine_info *mi = &h->m_infos[i];
    if (mi->m_line_id == (unsigned)f->line_id && strcmp(mi->m_machine_id, f->machine_id) == 0)
      return i;
  }
  return -1;
}

/* With the table full: the place of the line silent longest for at least
 * LINE_EVICT_TICKS with no call in progress, no call ended and unreported,
 * and no call of its own waiting to be stored; -1 when no line may go. Its
 * calls stay in the database and its name in the console's line map; heard
 * again, it comes back as a new line. */
int free_slot(const struct msghdlr *h)
{
  int best = -1;
  for (int i = 0; i < h->m_micount; i++) {
    const struct machine_info *mi = &h->m_infos[i];
    if (mi->m_expire < LINE_EVICT_TICKS || mi->m_flag || mi->m_callinfo.bdate[0] ||
        strcmp(mi->m_state, STATE_CONNECTED) == 0 || (best >= 0 && mi->m_expire <= h->m_infos[best].m_expire))
      continue;
    const std::string lineid = std::to_string((int)mi->m_line_id);
    auto of_line = [&](const cdr_row &row) { return row.lineid == lineid && row.machineid == mi->m_machine_id; };
    if (std::none_of(h->m_retry.begin(), h->m_retry.end(), of_line) &&
        std::none_of(h->m_ended.begin(), h->m_ended.end(), of_line))
      best = i;
  }
  return best;
}

} /* namespace */

void update_address(struct machine_info *mi, const struct sockaddr_in *addr)
{
  mi->m_addr = *addr;
}

void update_expire(struct machine_info *mi)
{
  mi->m_expire = 0;
}

std::string format_callid(const char *machineid, unsigned lineid, const char *bdate)
{
  char line[16];
  snprintf(line, sizeof line, "%08d", (int)lineid);
  std::string id = std::string(machineid) + "-" + line + "@" + bdate;
  if (id.size() > CALLID_LEN - 1)
    id.resize(CALLID_LEN - 1);
  return id;
}

void generate_callid(struct machine_info *mi)
{
  call_info *ci = &mi->m_callinfo;
  memset(ci->callid, 0, sizeof ci->callid);
  utils::copy_text(ci->callid, sizeof ci->callid, format_callid(mi->m_machine_id, mi->m_line_id, ci->bdate).c_str());
}

/* A line that turns "CONNECTED" without a Connected message having started its
 * call (a gateway that sends none, a station restarted during a call) starts
 * it now: its call id and its price need a start. */
static void start_call_unannounced(struct machine_info *mi)
{
  call_info *ci = &mi->m_callinfo;
  if (ci->bdate[0])
    return;
  set_local_time(ci->bdate, sizeof ci->bdate);
  DLOG("machine %s line %d connected without a Connected message: bdate: %s", mi->m_machine_id, (int)mi->m_line_id,
       ci->bdate);
}

void update_state(struct msghdlr *h, struct machine_info *mi, const char *state)
{
  call_info *ci = &mi->m_callinfo;
  bool was_connected = strcmp(mi->m_state, STATE_CONNECTED) == 0;
  bool connected = strcmp(state, STATE_CONNECTED) == 0;
  if (was_connected != connected)
    h->m_live_changed = true;
  if (!was_connected && connected)
    start_call_unannounced(mi);
  if (was_connected && !connected)
    mi->m_recovered = 0;
  /* A call without a dialled number leaves no record, nor its start behind. */
  if (was_connected && !connected && !ci->desnum[0])
    memset(ci, 0, sizeof *ci);
  if (was_connected && !connected && ci->desnum[0]) {
    set_local_time(ci->edate, sizeof ci->edate);
    generate_callid(mi);
    /* The line's flag is raised once the row is settled (store_ended_calls,
     * retry_calls), so a report never announces a call that a crash in
     * between could still lose. */
    DLOG("generate callid: %s", ci->callid);
    /* Written as a decimal number of any length; the row never cuts it. */
    h->m_ended.push_back(cdr_row{.callid = ci->callid,
                                 .machineid = mi->m_machine_id,
                                 .lineid = std::to_string((int)mi->m_line_id),
                                 .orgnum = ci->srcnum,
                                 .desnum = ci->desnum,
                                 .bdate = ci->bdate,
                                 .edate = ci->edate,
                                 .attempts = 0,
                                 .line = (int)(mi - h->m_infos)});
    CHECKPOINT();
    memset(ci, 0, sizeof *ci);
  }
  utils::copy_text(mi->m_state, sizeof mi->m_state, state);
  DLOG("machine %s line %d enter state: %s", mi->m_machine_id, (int)mi->m_line_id, mi->m_state);
}

int process_keepalive(struct msghdlr *h, const struct uimsg *msg, const struct sockaddr_in *from)
{
  msg_fields f;
  read_fields(msg, &f);
  std::scoped_lock lock(h->m_table_lock);
  int i = find_line(h, &f);
  if (i >= 0) {
    struct machine_info *mi = &h->m_infos[i];
    if (memcmp(&mi->m_addr, from, sizeof mi->m_addr) != 0)
      update_address(mi, from);
    update_state(h, mi, f.state);
    /* After the state change, so a call it ended keeps its dialled number. A
     * call in progress keeps its number; one that has none yet (connected
     * without a Connected message: a station started during the call) takes
     * the number the gateway reports. */
    call_info *ci = &mi->m_callinfo;
    if (strcmp(f.state, STATE_CONNECTED) != 0) {
      utils::copy_text(ci->desnum, sizeof ci->desnum, f.dest_num);
    } else if (!ci->desnum[0] && f.dest_num[0]) {
      utils::copy_text(ci->desnum, sizeof ci->desnum, f.dest_num);
      h->m_live_changed = true;
      DLOG("machine %s line %d connected to %s", mi->m_machine_id, (int)mi->m_line_id, ci->desnum);
    }
    update_expire(mi);
    return 1;
  }
  int slot = h->m_micount < MAX_MACHINE_INFO ? h->m_micount : free_slot(h);
  if (slot < 0) {
    DLOG("Machine info is full...");
    return -1;
  }
  struct machine_info *mi = &h->m_infos[slot];
  if (slot < h->m_micount)
    DLOG("line table full: machine %s line %d, silent for %d s with no call, gives its place to machine %s line %d",
         mi->m_machine_id, (int)mi->m_line_id, mi->m_expire, f.machine_id, f.line_id);
  memset(mi, 0, sizeof *mi);
  utils::copy_text(mi->m_machine_id, sizeof mi->m_machine_id, f.machine_id);
  mi->m_line_id = (unsigned)f.line_id;
  mi->m_addr = *from;
  utils::copy_text(mi->m_state, sizeof mi->m_state, f.state);
  /* What the line has dialled so far, or the number it is connected to. */
  utils::copy_text(mi->m_callinfo.desnum, sizeof mi->m_callinfo.desnum, f.dest_num);
  bool going_on = journal_recover_line(h, mi, f.state, f.dest_num);
  if (!going_on && strcmp(mi->m_state, STATE_CONNECTED) == 0) {
    start_call_unannounced(mi);
    h->m_live_changed = true;
  }
  if (slot == h->m_micount)
    h->m_micount++;
  return 1;
}

int process_connected(struct msghdlr *h, const struct uimsg *msg)
{
  msg_fields f;
  read_fields(msg, &f);
  std::scoped_lock lock(h->m_table_lock);
  int i = find_line(h, &f);
  if (i < 0)
    return -1;
  struct machine_info *mi = &h->m_infos[i];
  call_info *ci = &mi->m_callinfo;
  if (f.dest_num[0]) {
    mi->m_recovered = 0;
    h->m_live_changed = true;
    utils::copy_text(ci->srcnum, sizeof ci->srcnum, f.src_num);
    utils::copy_text(ci->desnum, sizeof ci->desnum, f.dest_num);
    set_local_time(ci->bdate, sizeof ci->bdate);
    DLOG("set %d info: srcnum: %s destnum: %s, bdate: %s", i, ci->srcnum, ci->desnum, ci->bdate);
  }
  update_state(h, mi, f.state);
  update_expire(mi);
  return 1;
}

int process_cdr(struct msghdlr *h, const struct uimsg *msg)
{
  msg_fields f;
  read_fields(msg, &f);
  std::scoped_lock lock(h->m_table_lock);
  int i = find_line(h, &f);
  if (i < 0)
    return -1;
  CHECKPOINT();
  update_state(h, &h->m_infos[i], f.state);
  update_expire(&h->m_infos[i]);
  return 1;
}

void process_ack(struct msghdlr *h, const struct uimsg *msg)
{
  msg_fields f;
  read_fields(msg, &f);
  std::scoped_lock lock(h->m_table_lock);
  int i = find_line(h, &f);
  if (i < 0)
    return;
  DLOG("state: %s", f.state);
  update_state(h, &h->m_infos[i], f.state);
  update_expire(&h->m_infos[i]);
}

int process_message(struct msghdlr *h, const struct uimsg *msg, const struct sockaddr_in *from)
{
  /* A machine the gateways file ties to other addresses is not heard from here. */
  msg_fields f;
  read_fields(msg, &f);
  if (h->m_gateways.m_ties && !gateway_admit_machine(&h->m_gateways, from, f.machine_id))
    return -1;
  /* A line keeps the host it speaks from while it is heard: another host may
   * not end its call or take its commands. Silent past the limit, it may move
   * (a gateway whose address changed). */
  {
    std::scoped_lock lock(h->m_table_lock);
    int i = find_line(h, &f);
    if (i >= 0 && h->m_infos[i].m_expire < EXPIRE_TIME &&
        h->m_infos[i].m_addr.sin_addr.s_addr != from->sin_addr.s_addr) {
      gateway_refuse(&h->m_gateways, from, GATEWAY_REFUSED_MOVED);
      return -1;
    }
  }
  if (uimsg_name_is(msg->type, "Discovery") || uimsg_name_is(msg->type, "KeepAlive"))
    return process_keepalive(h, msg, from);
  if (uimsg_name_is(msg->type, "Connected"))
    return process_connected(h, msg);
  if (uimsg_name_is(msg->type, "CDR"))
    return process_cdr(h, msg);
  if (uimsg_name_is(msg->type, "Action")) {
    process_ack(h, msg);
    return 0;
  }
  DLOG("unknown message type...");
  return -1;
}

void timeout_callback(void *ctxt)
{
  struct msghdlr *h = static_cast<struct msghdlr *>(ctxt);
  /* Re-armed first, so the time spent storing below never delays the ticks. */
  if (utils::start_timer(h->m_timer, 1) < 0)
    LOG_FUNCTION_FAILED();
  /* A silent line logs its state at every tick: one write for them all. */
  utils::log_batch_begin();
  {
    std::scoped_lock lock(h->m_table_lock);
    for (int i = 0; i < h->m_micount; i++) {
      struct machine_info *mi = &h->m_infos[i];
      if (mi->m_expire < INT_MAX)
        mi->m_expire++;
      if (mi->m_expire >= EXPIRE_TIME)
        update_state(h, mi, STATE_UNKNOWN);
    }
  }
  gateway_guard_tick(&h->m_gateways);
  bool refresh = journal_tick(h);
  utils::log_batch_end();
  store_waiting_calls(h);
  store_ended_calls(h);
  journal_settle(h, refresh);
}
