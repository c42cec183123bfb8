/* The grouped statistics report: the settled calls of a range of begin times
 * counted, timed and summed per group (line, rate rule, operator, day) and per
 * time bucket (day, hour), so that a month of calls crosses to the console as
 * a few hundred rows; and the name of the rule that prices a dialled number.
 *
 * The join of a month of calls with their bills is done here rather than by
 * the database: a grouped select probes "billtbl" once per call through its
 * text index, 28,000 descents for a month, which alone takes longer than the
 * console may spend. Instead the calls of the range are read in one range
 * scan and kept by call id; their ids, which the engine forms from machine,
 * line and begin time, lie on few stretches of the bill index (one per line),
 * which are walked in order, each bill kept only when its call id is one of
 * the range's. A call id of any other form is still found: it only widens its
 * line's stretch. Both reads are served by covering indexes (quenta/schema.h),
 * so no table row is read. */
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "quenta/countent.h"
#include "quenta/counter.h"
#include "quenta/dbent.h"
#include "quenta/init.h"
#include "quenta/quenta.h"
#include "utils/debug.h"

namespace {

const char *const select_calls =
    "select callid, machineid, lineid, desnum, bdate from cdrtbl where bdate>=?1 and bdate<=?2";
const char *const select_bills =
    "select callid, calltime, count, admin from billtbl where callid>=?1 and callid<=?2";

/* Maps searched by views of column texts, without making a string of each. */
struct text_hash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using text_map = std::unordered_map<std::string, int, text_hash, std::equal_to<>>;

/* A group within a bucket, and what it adds up to. */
struct group_sum {
  std::string key;
  int line;
  std::string bucket;
  int calls = 0;
  long long seconds = 0;
  long long cents = 0;
};

/* A call of the range: its id (in call_ids' text), its group (or, by
 * operator, -1: the bill names the group) and its bucket. */
struct range_call {
  size_t id;
  unsigned id_len;
  int group;
  int bucket;
};

/* The call ids of the range, found by their text: one text holds them all and
 * an open-addressed table leads to them, since a month holds tens of
 * thousands and a node per id costs more than the lookups themselves. */
class call_ids {
public:
  void add(std::string_view id, int group, int bucket)
  {
    m_calls.push_back({m_text.size(), (unsigned)id.size(), group, bucket});
    m_text.append(id);
  }

  /* After the last add. */
  void build()
  {
    size_t size = 16;
    while (size < m_calls.size() * 2)
      size *= 2;
    m_slots.assign(size, -1);
    for (size_t i = 0; i < m_calls.size(); i++) {
      size_t at = place(id_of(m_calls[i]));
      while (m_slots[at] >= 0)
        at = (at + 1) & (m_slots.size() - 1);
      m_slots[at] = (int)i;
    }
  }

  /* The call of that id, or null. */
  const range_call *find(std::string_view id) const
  {
    for (size_t at = place(id); m_slots[at] >= 0; at = (at + 1) & (m_slots.size() - 1)) {
      const range_call &c = m_calls[(size_t)m_slots[at]];
      if (id_of(c) == id)
        return &c;
    }
    return nullptr;
  }

private:
  std::string_view id_of(const range_call &c) const { return std::string_view(m_text).substr(c.id, c.id_len); }
  size_t place(std::string_view id) const { return std::hash<std::string_view>{}(id) & (m_slots.size() - 1); }

  std::string m_text;
  std::vector<range_call> m_calls;
  std::vector<int> m_slots;       /* index into m_calls, -1 free */
};

normal_counter *rate_table()
{
  return reinterpret_cast<normal_counter *>(countent_getcounter(gpst_countent));
}

std::string_view column_view(sqlite3_stmt *stmt, int i)
{
  const unsigned char *t = sqlite3_column_text(stmt, i);
  return t ? std::string_view(reinterpret_cast<const char *>(t), (size_t)sqlite3_column_bytes(stmt, i))
           : std::string_view();
}

class statement {
public:
  statement(sqlite3 *db, const char *cmd) { m_rc = sqlite3_prepare_v2(db, cmd, -1, &m_stmt, nullptr); }
  statement(const statement &) = delete;
  statement &operator=(const statement &) = delete;
  ~statement() { sqlite3_finalize(m_stmt); }
  int rc() const { return m_rc; }
  sqlite3_stmt *get() const { return m_stmt; }
  /* Binds the two texts to ?1 and ?2 for a fresh run. */
  int bind(const std::string &a, const std::string &b)
  {
    sqlite3_reset(m_stmt);
    int rc = sqlite3_bind_text(m_stmt, 1, a.c_str(), (int)a.size(), SQLITE_TRANSIENT);
    return rc == SQLITE_OK ? sqlite3_bind_text(m_stmt, 2, b.c_str(), (int)b.size(), SQLITE_TRANSIENT) : rc;
  }

private:
  sqlite3_stmt *m_stmt = nullptr;
  int m_rc;
};

int step_done(int rc)
{
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

class grouping {
public:
  grouping(int by, int bucket) : m_by(by), m_bucket(bucket) {}

  /* The calls of the range, and the stretch of call ids of each line. */
  int read_calls(sqlite3 *db, const std::string &from, const std::string &to)
  {
    statement calls(db, select_calls);
    int rc = calls.rc() == SQLITE_OK ? calls.bind(from, to) : calls.rc();
    /* machine id and line: the first and last call id of the line */
    std::unordered_map<std::string, std::pair<std::string, std::string>, text_hash, std::equal_to<>> lines;
    std::string line_id;
    while (rc == SQLITE_OK && (rc = sqlite3_step(calls.get())) == SQLITE_ROW) {
      sqlite3_stmt *row = calls.get();
      std::string_view callid = column_view(row, 0), machine = column_view(row, 1), bdate = column_view(row, 4);
      int line = sqlite3_column_int(row, 2);
      line_id.assign(machine).append(1, '\n').append(std::to_string(line));
      auto it = lines.find(std::string_view(line_id));
      if (it == lines.end()) {
        lines.emplace(line_id, std::make_pair(std::string(callid), std::string(callid)));
      } else if (callid < it->second.first) {
        it->second.first = callid;
      } else if (callid > it->second.second) {
        it->second.second = callid;
      }
      int bucket = bucket_slot(bucket_of(bdate));
      int group = m_by == QUENTA_GROUP_ADMIN
                      ? -1
                      : group_of(key_of(machine, row, bdate), m_by == QUENTA_GROUP_LINE ? line : 0, bucket);
      m_calls.add(callid, group, bucket);
      rc = SQLITE_OK;
    }
    m_calls.build();
    /* stretches that overlap are walked once, so that no bill counts twice */
    std::vector<std::pair<std::string, std::string>> stretches;
    for (auto &l : lines)
      stretches.push_back(std::move(l.second));
    std::sort(stretches.begin(), stretches.end());
    for (auto &st : stretches) {
      if (!m_stretches.empty() && st.first <= m_stretches.back().second)
        m_stretches.back().second = std::max(m_stretches.back().second, st.second);
      else
        m_stretches.push_back(std::move(st));
    }
    return step_done(rc);
  }

  /* The bills on the stretches that belong to a call of the range. */
  int read_bills(sqlite3 *db)
  {
    statement bills(db, select_bills);
    int rc = bills.rc();
    for (size_t i = 0; rc == SQLITE_OK && i < m_stretches.size(); i++) {
      rc = bills.bind(m_stretches[i].first, m_stretches[i].second);
      while (rc == SQLITE_OK && (rc = sqlite3_step(bills.get())) == SQLITE_ROW) {
        rc = SQLITE_OK;
        sqlite3_stmt *row = bills.get();
        const range_call *call = m_calls.find(column_view(row, 0));
        if (!call)
          continue;
        const range_call &c = *call;
        int group = c.group >= 0 ? c.group : group_of(column_view(row, 3), 0, c.bucket);
        group_sum &g = m_groups[(size_t)group];
        g.calls++;
        g.seconds += std::max<sqlite3_int64>(sqlite3_column_int64(row, 1), 0);
        /* each bill to the cent, as it was stored: a float sum of a month of
         * amounts would drift from the sum of their two-decimal texts */
        g.cents += std::llround(sqlite3_column_double(row, 2) * 100.0);
      }
      rc = step_done(rc);
    }
    return rc;
  }

  /* Every group that has calls, by key (bytes), line and bucket. */
  void deliver(USER_CALLBACK cb, void *param) const
  {
    std::vector<const group_sum *> order;
    for (const group_sum &g : m_groups)
      if (g.calls > 0)
        order.push_back(&g);
    std::sort(order.begin(), order.end(), [](const group_sum *a, const group_sum *b) {
      return std::tie(a->key, a->line, a->bucket) < std::tie(b->key, b->line, b->bucket);
    });
    for (const group_sum *sum : order) {
      report_group g;
      memset(&g, 0, sizeof g);
      snprintf(g.m_key, sizeof g.m_key, "%s", sum->key.c_str());
      g.m_lineid = sum->line;
      snprintf(g.m_bucket, sizeof g.m_bucket, "%s", sum->bucket.c_str());
      g.m_calls = sum->calls;
      g.m_seconds = sum->seconds;
      g.m_cents = sum->cents;
      cb(&g, param);
    }
  }

private:
  int bucket_slot(std::string_view bucket)
  {
    auto it = m_buckets.find(bucket);
    if (it != m_buckets.end())
      return it->second;
    m_bucket_texts.emplace_back(bucket);
    m_buckets.emplace(std::string(bucket), (int)m_bucket_texts.size() - 1);
    return (int)m_bucket_texts.size() - 1;
  }

  /* The group of the key and line within the bucket, made when new. */
  int group_of(std::string_view key, int line, int bucket)
  {
    m_scratch.assign(key).append(1, '\0').append(std::to_string(line)).append(1, '\0');
    m_scratch.append(std::to_string(bucket));
    auto it = m_group_places.find(std::string_view(m_scratch));
    if (it != m_group_places.end())
      return it->second;
    m_groups.push_back({std::string(key), line, m_bucket_texts[(size_t)bucket]});
    m_group_places.emplace(m_scratch, (int)m_groups.size() - 1);
    return (int)m_groups.size() - 1;
  }

  std::string_view key_of(std::string_view machine, sqlite3_stmt *row, std::string_view bdate) const
  {
    switch (m_by) {
    case QUENTA_GROUP_LINE:
      return machine;
    case QUENTA_GROUP_RULE: {
      const unsigned char *number = sqlite3_column_text(row, 3);
      return normal_counter_rule_name(rate_table(), number ? reinterpret_cast<const char *>(number) : "");
    }
    case QUENTA_GROUP_DAY:
      return bdate.substr(0, 10);
    default:
      return std::string_view();
    }
  }

  std::string_view bucket_of(std::string_view bdate) const
  {
    if (m_bucket == QUENTA_BUCKET_DAY)
      return bdate.substr(0, 10);
    if (m_bucket == QUENTA_BUCKET_HOUR)
      return bdate.substr(0, 13);
    return std::string_view();
  }

  int m_by;
  int m_bucket;
  call_ids m_calls;
  text_map m_buckets;                /* a bucket's text: its place in m_bucket_texts */
  std::vector<std::string> m_bucket_texts;
  text_map m_group_places;           /* key, line and bucket place: the group's place in m_groups */
  std::vector<group_sum> m_groups;
  std::string m_scratch;
  std::vector<std::pair<std::string, std::string>> m_stretches;  /* call ids, first and last */
};

bool known_grouping(int by, int bucket)
{
  return by >= QUENTA_GROUP_NONE && by <= QUENTA_GROUP_DAY && bucket >= QUENTA_BUCKET_NONE &&
         bucket <= QUENTA_BUCKET_HOUR;
}

} /* namespace */

extern "C" {

QUENTA_API const char *quenta_getRuleName(const char *destnum)
{
  if (!quenta_running() || !destnum)
    return nullptr;
  return normal_counter_rule_name(rate_table(), destnum);
}

QUENTA_API int quenta_getReportGroups(const char *from, const char *to, int by, int bucket,
                                      USER_CALLBACK cb, void *param)
{
  if (!quenta_running() || !from || !to || !cb || !known_grouping(by, bucket)) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  grouping groups(by, bucket);
  DLOG("report groups %d/%d: %s .. %s", by, bucket, from, to);
  int rc = sqlite_exec_work(gpst_dbent->m_dbname, "report groups", [&](sqlite3 *db) {
    int r = groups.read_calls(db, from, to);
    return r == SQLITE_OK ? groups.read_bills(db) : r;
  });
  if (rc != 0) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  groups.deliver(cb, param);
  return 0;
}

} /* extern "C" */
