/* The grouped statistics report: the settled calls of a range of begin times
 * counted, timed and summed per group (line, rate rule, operator, day) and per
 * time bucket (day, hour), so that a month of calls crosses to the console as
 * a few hundred rows; and the name of the rule that prices a dialled number.
 *
 * The join of a month of calls with their bills is done here rather than by
 * the database: a grouped select probes "billtbl" once per call through its
 * text index, 28,000 descents for a month, which alone takes longer than the
 * console may spend. Instead the calls of the range are read in one range
 * scan and kept per line; their ids, which the engine forms from machine,
 * line and begin time, lie on few stretches of the bill index (one per line)
 * and arrive in the order of that index. Each stretch is walked beside its
 * calls, both in call id order, a bill kept only when its call id is the
 * call's: no call id is hashed or looked up. A call id of any other form is
 * still found: its line's calls are sorted first, and its stretch widens,
 * merged with any it overlaps. Both reads are served by covering indexes
 * (quenta/schema.h), so no table row is read. */
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
const char *const select_bills = "select callid, calltime, count, admin from billtbl where callid>=?1 and callid<=?2";

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
  int bucket_place; /* in m_bucket_texts */
  int calls = 0;
  long long seconds = 0;
  long long cents = 0;
};

/* A call of the range: its id (in its stretch's text), its group (or, by
 * operator, -1: the bill names the group) and its bucket. */
struct range_call {
  size_t id;
  unsigned id_len;
  int group;
  int bucket;
};

/* The calls of one stretch of the bill index, in call id order once sorted.
 * Their ids lie side by side, so that the walk beside the bills reads memory
 * in order. */
struct stretch {
  std::string text;
  std::vector<range_call> calls;
  bool sorted = true;  /* each call came after the one before in id order */
  int last_group = -1; /* the group of the latest call */

  std::string_view id(const range_call &c) const { return std::string_view(text).substr(c.id, c.id_len); }
  std::string_view first() const { return id(calls.front()); }
  std::string_view last() const { return id(calls.back()); }

  void add(std::string_view callid, int group, int bucket)
  {
    if (!calls.empty() && last() >= callid)
      sorted = false;
    calls.push_back({text.size(), (unsigned)callid.size(), group, bucket});
    text.append(callid);
  }
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
    text_map lines; /* machine id and line: the line's place in m_stretches */
    std::string line_key;
    while (rc == SQLITE_OK && (rc = sqlite3_step(calls.get())) == SQLITE_ROW) {
      sqlite3_stmt *row = calls.get();
      std::string_view callid = column_view(row, 0), machine = column_view(row, 1), bdate = column_view(row, 4);
      int line = sqlite3_column_int(row, 2);
      line_key.assign(machine).append(1, '\0').append(reinterpret_cast<const char *>(&line), sizeof line);
      auto it = lines.find(std::string_view(line_key));
      if (it == lines.end()) {
        it = lines.emplace(line_key, (int)m_stretches.size()).first;
        m_stretches.emplace_back();
      }
      stretch &st = m_stretches[(size_t)it->second];
      int bucket = bucket_slot(bucket_of(bdate));
      int group = -1;
      if (m_by != QUENTA_GROUP_ADMIN)
        group = group_of(key_of(machine, row, bdate), m_by == QUENTA_GROUP_LINE ? line : 0, bucket, &st.last_group);
      st.add(callid, group, bucket);
      rc = SQLITE_OK;
    }
    merge_stretches();
    return step_done(rc);
  }

  /* The bills on the stretches that belong to a call of the range: the bills
   * arrive in call id order, so each stretch's calls are passed over once. */
  int read_bills(sqlite3 *db)
  {
    statement bills(db, select_bills);
    int rc = bills.rc();
    for (size_t i = 0; rc == SQLITE_OK && i < m_stretches.size(); i++) {
      const stretch &st = m_stretches[i];
      const std::vector<range_call> &calls = st.calls;
      rc = bills.bind(std::string(st.first()), std::string(st.last()));
      size_t at = 0;
      int last_group = -1;
      while (rc == SQLITE_OK && (rc = sqlite3_step(bills.get())) == SQLITE_ROW) {
        rc = SQLITE_OK;
        sqlite3_stmt *row = bills.get();
        std::string_view callid = column_view(row, 0);
        while (at < calls.size() && st.id(calls[at]) < callid)
          at++;
        /* not advanced past a match: a call's second bill counts too */
        if (at == calls.size() || st.id(calls[at]) != callid)
          continue;
        const range_call &c = calls[at];
        int group = c.group >= 0 ? c.group : group_of(column_view(row, 3), 0, c.bucket, &last_group);
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
  /* Each line's calls in id order, and the lines whose stretches overlap (ids
   * of other forms) made one, so that no bill counts twice. */
  void merge_stretches()
  {
    for (stretch &st : m_stretches)
      if (!st.sorted)
        std::sort(st.calls.begin(), st.calls.end(),
                  [&st](const range_call &a, const range_call &b) { return st.id(a) < st.id(b); });
    std::sort(m_stretches.begin(), m_stretches.end(),
              [](const stretch &a, const stretch &b) { return a.first() < b.first(); });
    std::vector<stretch> merged;
    for (stretch &st : m_stretches) {
      if (merged.empty() || st.first() > merged.back().last()) {
        merged.push_back(std::move(st));
        continue;
      }
      stretch &into = merged.back();
      size_t middle = into.calls.size(), offset = into.text.size();
      into.text.append(st.text);
      for (range_call c : st.calls) {
        c.id += offset;
        into.calls.push_back(c);
      }
      std::inplace_merge(into.calls.begin(), into.calls.begin() + (ptrdiff_t)middle, into.calls.end(),
                         [&into](const range_call &a, const range_call &b) { return into.id(a) < into.id(b); });
    }
    m_stretches = std::move(merged);
  }

  /* The calls come in begin time order: a bucket mostly is the last one. */
  int bucket_slot(std::string_view bucket)
  {
    if (m_last_bucket >= 0 && m_bucket_texts[(size_t)m_last_bucket] == bucket)
      return m_last_bucket;
    auto it = m_buckets.find(bucket);
    if (it == m_buckets.end()) {
      m_bucket_texts.emplace_back(bucket);
      it = m_buckets.emplace(std::string(bucket), (int)m_bucket_texts.size() - 1).first;
    }
    m_last_bucket = it->second;
    return m_last_bucket;
  }

  /* The group of the key and line within the bucket, made when new. *last
   * is the group found before on the same line: its calls and bills come in
   * time order, mostly of the group before. */
  int group_of(std::string_view key, int line, int bucket, int *last)
  {
    if (*last >= 0) {
      const group_sum &g = m_groups[(size_t)*last];
      if (g.line == line && g.bucket_place == bucket && g.key == key)
        return *last;
    }
    *last = group_place(key, line, bucket);
    return *last;
  }

  int group_place(std::string_view key, int line, int bucket)
  {
    m_scratch.assign(key).append(1, '\0').append(reinterpret_cast<const char *>(&line), sizeof line);
    m_scratch.append(reinterpret_cast<const char *>(&bucket), sizeof bucket);
    auto it = m_group_places.find(std::string_view(m_scratch));
    if (it != m_group_places.end())
      return it->second;
    m_groups.push_back({std::string(key), line, m_bucket_texts[(size_t)bucket], bucket});
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
  std::vector<stretch> m_stretches; /* one per line, until merge_stretches */
  text_map m_buckets;               /* a bucket's text: its place in m_bucket_texts */
  std::vector<std::string> m_bucket_texts;
  int m_last_bucket = -1;
  text_map m_group_places; /* key, line and bucket place: the group's place in m_groups */
  std::vector<group_sum> m_groups;
  std::string m_scratch;
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

QUENTA_API int quenta_getReportGroups(const char *from, const char *to, int by, int bucket, USER_CALLBACK cb,
                                      void *param)
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
