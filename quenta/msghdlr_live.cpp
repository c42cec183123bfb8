/* The handler's journal of calls in progress (quenta/journal.h). At start-up
 * the calls an earlier run left in progress are read back: each one either
 * goes on, when its line comes back connected to the same number, or ended
 * while the station was down and is stored with the last moment it was known
 * running as its end, never later. While the station runs, the journal follows
 * the line table after every change and tick: a call is appended when it has a
 * start and a number, and dropped once its row is kept elsewhere. */
#include <string.h>
#include <time.h>

#include <set>
#include <string>
#include <vector>

#include "quenta/msghdlr.h"
#include "quenta/sqlite.h"
#include "utils/debug.h"
#include "utils/text.h"

namespace {

/* Queues a call read back as ended at the moment it was last known running
 * (its start, when the clock was set back since). line: its index in the
 * table, or -1. */
void end_recovered(struct msghdlr *h, const std::string &id, live_call &c, int line)
{
  std::string edate = c.seen < c.bdate ? c.bdate : c.seen;
  DLOG("call %s ended while the station was down: stored with the end %s, when it was last known running", id.c_str(),
       edate.c_str());
  h->m_ended.push_back(cdr_row{.callid = id,
                               .machineid = c.machineid,
                               .lineid = std::to_string((int)c.lineid),
                               .orgnum = c.srcnum,
                               .desnum = c.desnum,
                               .bdate = c.bdate,
                               .edate = edate,
                               .attempts = 0,
                               .line = line});
  c.state = LIVE_ENDED;
}

/* True when the call is stored already: in "cdrtbl" with its number, or
 * waiting in the pending file. A database that cannot tell now counts as not
 * stored; the store then keeps a second copy in the failed file, never none. */
bool stored_before(struct msghdlr *h, const std::string &id, const live_call &c)
{
  for (const cdr_row &row : h->m_retry)
    if (row.callid == id)
      return true;
  std::string cmd = std::string("select count(*) from ") + h->m_cdrtbl_name + " where callid=? and desnum=?";
  sqlite_value values[2] = {{SQLITE_TEXT, id.c_str(), 0, 0}, {SQLITE_TEXT, c.desnum.c_str(), 0, 0}};
  long count = 0;
  auto read_count = [](void *p, int, char **v, char **) {
    *static_cast<long *>(p) = v[0] ? atol(v[0]) : 0;
    return 0;
  };
  if (sqlite_exec_bound_wait(h->m_dbent->m_dbname, cmd.c_str(), values, 2, HANDLER_STORE_WAIT_MS, read_count, &count) !=
      0)
    return false;
  return count > 0;
}

/* True while the call's row waits in memory only: its journal line is all
 * that would keep it across a crash. */
bool waiting_off_file(const struct msghdlr *h, const std::string &id)
{
  for (const cdr_row &row : h->m_ended)
    if (row.callid == id)
      return true;
  for (const cdr_row &row : h->m_retry)
    if (row.callid == id && !row.on_file)
      return true;
  return false;
}

} /* namespace */

int journal_load(struct msghdlr *h)
{
  std::vector<live_call> calls;
  int n = journal_read(CALLS_LIVE_FILE, &calls);
  if (n <= 0)
    return n;
  call_journal *j = &h->m_journal;
  /* Of the calls of one line only the newest can still be in progress. */
  std::map<std::pair<std::string, unsigned>, std::string> newest;
  for (const live_call &c : calls) {
    std::string &bdate = newest[{c.machineid, c.lineid}];
    if (c.bdate > bdate)
      bdate = c.bdate;
  }
  for (live_call &c : calls) {
    std::string id = format_callid(c.machineid.c_str(), c.lineid, c.bdate.c_str());
    if (j->m_calls.count(id))
      continue;
    if (stored_before(h, id, c)) {
      DLOG("call %s of " CALLS_LIVE_FILE " was stored before: dropped", id.c_str());
      j->m_stale = true;
      continue;
    }
    live_call &kept = j->m_calls[id] = std::move(c);
    if (kept.bdate != newest[{kept.machineid, kept.lineid}])
      end_recovered(h, id, kept, -1);
    else
      DLOG("call %s to %s was in progress at the last stop: it goes on if its line comes back connected", id.c_str(),
           kept.desnum.c_str());
  }
  store_ended_calls(h);
  journal_settle(h, false);
  if (j->m_stale)
    journal_rewrite(j);
  return n;
}

bool journal_recover_line(struct msghdlr *h, struct machine_info *mi, const char *state, const char *dest)
{
  bool going_on = false;
  for (auto &[id, c] : h->m_journal.m_calls) {
    if (c.state != LIVE_RECOVERED || c.lineid != mi->m_line_id || c.machineid != mi->m_machine_id)
      continue;
    if (!going_on && strcmp(state, STATE_CONNECTED) == 0 && c.desnum == dest) {
      call_info *ci = &mi->m_callinfo;
      snprintf(ci->srcnum, sizeof ci->srcnum, "%s", c.srcnum.c_str());
      snprintf(ci->desnum, sizeof ci->desnum, "%s", c.desnum.c_str());
      snprintf(ci->bdate, sizeof ci->bdate, "%s", c.bdate.c_str());
      mi->m_recovered = 1;
      c.state = LIVE_RUNNING;
      going_on = true;
      DLOG("machine %s line %d is still connected to %s: call %s goes on", mi->m_machine_id, (int)mi->m_line_id, dest,
           id.c_str());
    } else {
      end_recovered(h, id, c, (int)(mi - h->m_infos));
    }
  }
  return going_on;
}

bool journal_tick(struct msghdlr *h)
{
  if (h->m_ticks < INT32_MAX)
    h->m_ticks++;
  if (h->m_ticks == EXPIRE_TIME) {
    for (auto &[id, c] : h->m_journal.m_calls)
      if (c.state == LIVE_RECOVERED)
        end_recovered(h, id, c, -1);
  }
  return h->m_ticks % LIVE_REFRESH_TICKS == 0;
}

void journal_settle(struct msghdlr *h, bool refresh)
{
  call_journal *j = &h->m_journal;
  std::vector<const live_call *> started;
  bool rewrite = refresh && j->m_stale;
  if (h->m_live_changed || refresh) {
    std::scoped_lock lock(h->m_table_lock);
    time_t now = time(nullptr);
    std::set<std::string> present;
    for (int i = 0; i < h->m_micount; i++) {
      const struct machine_info *mi = &h->m_infos[i];
      const call_info *ci = &mi->m_callinfo;
      if (strcmp(mi->m_state, STATE_CONNECTED) != 0 || !ci->bdate[0] || !ci->desnum[0])
        continue;
      std::string id = format_callid(mi->m_machine_id, mi->m_line_id, ci->bdate);
      present.insert(id);
      auto [it, added] = j->m_calls.try_emplace(id);
      live_call &c = it->second;
      if (added) {
        c = live_call{mi->m_machine_id, mi->m_line_id, ci->desnum, ci->srcnum, ci->bdate, ci->bdate, LIVE_RUNNING};
        started.push_back(&c);
      } else if (refresh && c.state == LIVE_RUNNING) {
        /* heard of last m_expire ticks ago */
        c.seen = utils::local_time_text(now - mi->m_expire);
        rewrite = true;
      }
    }
    for (auto &[id, c] : j->m_calls)
      if (c.state == LIVE_RUNNING && !present.count(id))
        c.state = LIVE_ENDED;
    h->m_live_changed = false;
  }
  for (auto it = j->m_calls.begin(); it != j->m_calls.end();) {
    if (it->second.state == LIVE_ENDED && !waiting_off_file(h, it->first)) {
      it = j->m_calls.erase(it);
      rewrite = true;
    } else {
      ++it;
    }
  }
  if (rewrite)
    journal_rewrite(j);
  else if (!started.empty())
    journal_append(j, started);
}

int msghdlr_call_recovered(struct msghdlr *h, const char *machineid, unsigned lineid)
{
  if (!h || !machineid)
    return 0;
  std::scoped_lock lock(h->m_table_lock);
  for (int i = 0; i < h->m_micount; i++) {
    const struct machine_info *mi = &h->m_infos[i];
    if (mi->m_line_id == lineid && strcmp(mi->m_machine_id, machineid) == 0)
      return mi->m_recovered && mi->m_callinfo.bdate[0] ? 1 : 0;
  }
  return 0;
}
