/* Storing finished calls in "cdrtbl". A row that the database cannot take at
 * its first try is appended at once to "cdr.pending" and waits in the
 * handler's queue; the queue is stored in order, many rows a transaction, one
 * transaction a turn of the loop, so the echoes never wait long for it. Once
 * stored a call leaves the file. A row the database refuses for good is kept
 * in "cdr.failed". The next start reads back what "cdr.pending" still holds and
 * stores it once the handler answers its gateways. Either way no call is ever
 * dropped. Runs on the handler's thread (and reads the file at start-up before
 * it runs), without the line-table lock, each transaction under g_cs with the
 * handler's short wait.
 *
 * Layout: the file helpers, the per-row step and the batch, then the verbs
 * (new calls, the queue's turns, the read-back). */
#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "quenta/frozen_prices.h"
#include "quenta/msghdlr.h"
#include "quenta/sqlite.h"
#include "quenta/sqlite_dbent.h"
#include "quenta/sqlite_tblent.h"
#include "quenta/stationfile.h"
#include "utils/timer.h"
#include "utils/debug.h"
#include "utils/utils.h"

namespace {

/* Refusals that a later try cannot change. */
bool refused_for_good(int code)
{
  return code == SQLITE_CONSTRAINT || code == SQLITE_RANGE || code == SQLITE_MISMATCH || code == SQLITE_ERROR;
}

/* Logs the first failure of a row and then one in a minute of ticks, so a
 * database that stays locked does not flood the log. */
bool worth_logging(const cdr_row &row)
{
  return row.attempts == 1 || row.attempts % 60 == 0;
}

/* Writes CDR_PENDING_FILE anew with what waits: the lines it held that could
 * not be read (until CDR_FAILED_FILE takes them), then the queue. A new file
 * renamed over the old one, so a crash leaves the one or the other whole;
 * nothing waiting empties the file. 0, or -1 with errno set (the old file
 * stays). */
int rewrite_pending(struct msghdlr *h)
{
  if (h->m_pending_kept) {
    h->m_file_stale = false;
    return 0;
  }
  if (h->m_retry.empty() && h->m_unreadable.empty()) {
    int fd = open(CDR_PENDING_FILE, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT)
        return -1;
      h->m_file_stale = false;
      return 0;
    }
    int rc = fsync(fd);
    close(fd);
    if (rc == 0)
      h->m_file_stale = false;
    return rc;
  }
  std::string text;
  for (const std::string &line : h->m_unreadable)
    text += line;
  for (const cdr_row &row : h->m_retry)
    text += cdr_line(row);
  if (replace_synced(CDR_PENDING_FILE, CDR_PENDING_TMP, text) < 0)
    return -1;
  for (cdr_row &row : h->m_retry)
    row.on_file = true;
  h->m_file_stale = false;
  return 0;
}

void sync_pending(struct msghdlr *h)
{
  if (rewrite_pending(h) == 0)
    return;
  if (!h->m_retry.empty() && !worth_logging(h->m_retry.front()))
    return;
  LOG_SYS_ERROR();
  DLOG("%zu calls wait to be stored and " CDR_PENDING_FILE " cannot be written: some are kept in memory only",
       h->m_retry.size());
}

/* Appends the calls of the queue from position `from` on to CDR_PENDING_FILE
 * in one synced write. */
void append_pending(struct msghdlr *h, size_t from)
{
  if (from >= h->m_retry.size())
    return;
  std::string text;
  for (size_t i = from; i < h->m_retry.size(); i++)
    text += cdr_line(h->m_retry[i]);
  if (append_synced(CDR_PENDING_FILE, text) == 0) {
    for (size_t i = from; i < h->m_retry.size(); i++)
      h->m_retry[i].on_file = true;
    return;
  }
  LOG_SYS_ERROR();
  for (size_t i = from; i < h->m_retry.size(); i++)
    DLOG("call %s cannot be written to " CDR_PENDING_FILE ": kept in memory only", h->m_retry[i].callid.c_str());
}

/* Moves the lines of CDR_PENDING_FILE that could not be read to
 * CDR_FAILED_FILE, as they stood: 0, or -1 when that file cannot take them
 * (they stay in CDR_PENDING_FILE). */
int move_unreadable(struct msghdlr *h)
{
  std::string text;
  for (const std::string &line : h->m_unreadable)
    text += line;
  if (append_synced(CDR_FAILED_FILE, text) < 0) {
    LOG_SYS_ERROR();
    DLOG("%zu unreadable lines of " CDR_PENDING_FILE " cannot be written to " CDR_FAILED_FILE
         ": kept in " CDR_PENDING_FILE,
         h->m_unreadable.size());
    return -1;
  }
  h->m_unreadable.clear();
  return 0;
}

/* Brings CDR_PENDING_FILE up to date once the queue has had its turn: stored
 * calls leave it, calls that only memory holds join it. */
void sync_after_store(struct msghdlr *h)
{
  bool off_file = false;
  for (const cdr_row &row : h->m_retry)
    off_file |= !row.on_file;
  if (!h->m_file_stale && !off_file)
    return;
  if (!h->m_unreadable.empty())
    move_unreadable(h);
  sync_pending(h);
}

/* 1 when "cdrtbl" holds this very call, 0 when its call id holds another one;
 * inside the batch's transaction on db. Otherwise the SQLite result code as a
 * negative number. */
int stored_already(struct msghdlr *h, sqlite3 *db, const cdr_row &row)
{
  std::string cmd = std::string("select count(*) from ") + h->m_cdrtbl_name +
                    " where callid=? and machineid=? and lineid=? and orgnum=? and desnum=? and bdate=? and edate=?";
  const std::string *texts[] = {&row.callid, &row.machineid, nullptr, &row.orgnum, &row.desnum, &row.bdate, &row.edate};
  sqlite_value values[7];
  for (int i = 0; i < 7; i++)
    values[i] = texts[i] ? sqlite_value{SQLITE_TEXT, texts[i]->c_str(), 0, 0}
                         : sqlite_value{SQLITE_INTEGER, nullptr, strtoll(row.lineid.c_str(), nullptr, 10), 0};
  long count = -1;
  auto read_count = [](void *p, int, char **v, char **) {
    *static_cast<long *>(p) = atol(v[0]);
    return 0;
  };
  /* A failure rolls the batch back, which logs it with the call's id. */
  int rc = sqlite_run_bound(db, cmd.c_str(), values, 7, read_count, &count);
  if (rc != SQLITE_OK)
    return -rc;
  return count > 0 ? 1 : 0;
}

/* One call into "cdrtbl", inside the transaction of its batch on db. Every
 * stored call goes through here, so what must be written together with its
 * row belongs here too. The SQLite result code. */
int insert_row(struct msghdlr *h, sqlite3 *db, const cdr_row &row)
{
  const char *values[] = {row.callid.c_str(),
                          row.machineid.c_str(),
                          row.lineid.c_str(),
                          row.orgnum.c_str(),
                          row.desnum.c_str(),
                          row.bdate.c_str(),
                          row.edate.c_str(),
                          "0",
                          nullptr};
  std::vector<sqlite_value> bound;
  int rc = sqlite_bind_row(h->m_cdrtbl_name, gst_cdr_infos, values, &bound);
  if (rc != SQLITE_OK)
    return rc;
  std::string cmd = sqlite_tblent_insert_cmd(h->m_cdrtbl_name, (unsigned)bound.size());
  /* A refusal is logged by the batch, once, with the call it was. The row and
   * its price go in one transaction: a crash leaves both or neither. */
  rc = sqlite_run_bound(db, cmd.c_str(), bound.data(), (int)bound.size(), nullptr, nullptr);
  return rc == SQLITE_OK ? freeze_price(db, row) : rc;
}

/* What became of a row of a committed batch. */
enum row_outcome {
  ROW_STORED,  /* in "cdrtbl" now */
  ROW_KNOWN,   /* read back from the pending file, and "cdrtbl" held it already */
  ROW_REFUSED, /* its call id holds another call: for the failed file */
};

} /* namespace */

std::string cdr_line(const cdr_row &row)
{
  std::string line;
  for (const std::string *v :
       {&row.callid, &row.machineid, &row.lineid, &row.orgnum, &row.desnum, &row.bdate, &row.edate}) {
    append_escaped(line, *v);
    line += '\t';
  }
  return line + "0\n";
}

bool cdr_parse_line(const std::string &line, cdr_row *row)
{
  std::string *values[] = {&row->callid, &row->machineid, &row->lineid, &row->orgnum,
                           &row->desnum, &row->bdate,     &row->edate};
  size_t pos = 0;
  for (std::string *v : values) {
    size_t tab = line.find('\t', pos);
    if (tab == std::string::npos || !unescape(line.substr(pos, tab - pos), v))
      return false;
    pos = tab + 1;
  }
  std::string flag = line.substr(pos);
  if (!flag.empty() && flag.back() == '\n')
    flag.pop_back();
  return flag == "0" && !row->lineid.empty() && !row->callid.empty();
}

int create_cdr_database(struct msghdlr *h, const char *dbpath, const char *tblname)
{
  if (!dbpath || !tblname) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  h->m_dbent = create_sqlite_dbent(dbpath);
  if (!h->m_dbent) {
    LOG_FUNCTION_FAILED();
    return -1;
  }
  if (dbent_create(h->m_dbent, tblname, gst_cdr_infos) < 0) {
    LOG_FUNCTION_FAILED();
    dbent_release(h->m_dbent);
    h->m_dbent = nullptr;
    return -1;
  }
  /* Every call's price is frozen beside it (quenta/frozen_prices.h); without
   * the table the calls are stored all the same and priced when looked up. */
  frozen_prices_create(dbpath);
  /* The table is described with the ordinary wait; storing calls must not
   * keep the gateways waiting. */
  sqlite_dbent_set_wait(h->m_dbent, HANDLER_STORE_WAIT_MS);
  h->m_cdrtbl_name = strdup(tblname);
  if (!h->m_cdrtbl_name) {
    LOG_FUNCTION_FAILED();
    dbent_release(h->m_dbent);
    h->m_dbent = nullptr;
    return -1;
  }
  return 0;
}

int cdrdb_insert(struct msghdlr *h, const cdr_row &row)
{
  int rc = sqlite_exec_write(h->m_dbent->m_dbname, "store a call", HANDLER_STORE_WAIT_MS,
                             [&](sqlite3 *db) { return insert_row(h, db, row); });
  if (rc == 0)
    return 0;
  return refused_for_good(sqlite_last_errcode()) ? -1 : 1;
}

int cdr_write_failed(const cdr_row &row)
{
  /* fsync keeps the line across a power cut, which matters for a call that
   * exists nowhere else. */
  if (append_synced(CDR_FAILED_FILE, cdr_line(row)) < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  return 0;
}

/* Publishes how many waiting calls are in memory only, for the console. */
static void count_unsaved(struct msghdlr *h)
{
  unsigned n = 0;
  for (const cdr_row &row : h->m_retry)
    n += row.on_file ? 0 : 1;
  h->m_unsaved.store(n, std::memory_order_relaxed);
}

unsigned msghdlr_unsaved_calls(const struct msghdlr *h)
{
  return h ? h->m_unsaved.load(std::memory_order_relaxed) : 0;
}

/* Raises the flags of the lines whose calls are settled. A call waiting in the
 * queue is not announced: the console's select would not find it yet. A call
 * read back from the pending file flags its line when the line is known, also
 * when the line first reported after the start. */
static void raise_flags(struct msghdlr *h, const std::vector<cdr_row> &rows)
{
  if (rows.empty())
    return;
  std::scoped_lock lock(h->m_table_lock);
  for (const cdr_row &row : rows) {
    int i = row.line;
    /* The line may have given its place to another since (a full table). */
    if (i >= 0 && (i >= h->m_micount || row.machineid != h->m_infos[i].m_machine_id ||
                   row.lineid != std::to_string((int)h->m_infos[i].m_line_id)))
      i = -1;
    for (int k = 0; i < 0 && k < h->m_micount; k++)
      if (row.machineid == h->m_infos[k].m_machine_id && row.lineid == std::to_string((int)h->m_infos[k].m_line_id))
        i = k;
    if (i >= 0 && i < h->m_micount)
      h->m_infos[i].m_flag = 1;
  }
}

/* One turn of the queue: the rows at its front, at most STORE_BATCH_ROWS and
 * STORE_BATCH_MS of them, in one transaction. A row refused for a passing
 * reason rolls the whole turn back, to be tried again later. Once committed,
 * the stored rows and those kept in the failed file leave the queue and their
 * lines are flagged; a refused row that the failed file cannot take keeps its
 * place. The rows settled, or -1 when the transaction did not commit. */
static int store_batch(struct msghdlr *h)
{
  size_t n = std::min(h->m_retry.size(), (size_t)STORE_BATCH_ROWS);
  if (n == 0)
    return 0;
  std::vector<row_outcome> outcome(n, ROW_STORED);
  std::vector<int> code(n, SQLITE_OK);
  std::vector<std::string> why(n);
  size_t tried = 0;
  auto start = std::chrono::steady_clock::now();
  int rc = sqlite_exec_write(h->m_dbent->m_dbname, "store calls", HANDLER_STORE_WAIT_MS, [&](sqlite3 *db) {
    while (tried < n) {
      const cdr_row &row = h->m_retry[tried];
      int r = insert_row(h, db, row);
      if (r != SQLITE_OK && !refused_for_good(r))
        return r;
      if (r != SQLITE_OK) {
        outcome[tried] = ROW_REFUSED;
        code[tried] = r;
        /* the database's words, or the row's own fault found before it was sent */
        why[tried] = (sqlite3_errcode(db) & 0xff) == r ? sqlite3_errmsg(db) : sqlite_last_errmsg();
        if (row.line < 0 && r == SQLITE_CONSTRAINT) {
          int same = stored_already(h, db, row);
          if (same < 0)
            return -same;
          if (same > 0)
            outcome[tried] = ROW_KNOWN;
        }
      }
      tried++;
      if (std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(STORE_BATCH_MS))
        break;
    }
    return SQLITE_OK;
  });
  if (rc != 0) {
    /* the row that failed had its try too */
    for (size_t i = 0; i <= tried && i < n; i++)
      h->m_retry[i].attempts++;
    /* call id and reason are cut so that the line stays within the log's limit */
    if (worth_logging(h->m_retry.front()))
      DLOG("call %.100s cannot be stored now (%.60s, code %d): kept for the next try",
           h->m_retry.front().callid.c_str(), sqlite_last_errmsg(), sqlite_last_errcode());
    return -1;
  }

  std::string failed;
  for (size_t i = 0; i < tried; i++)
    if (outcome[i] == ROW_REFUSED)
      failed += cdr_line(h->m_retry[i]);
  bool failed_written = failed.empty() || append_synced(CDR_FAILED_FILE, failed) == 0;
  if (!failed_written)
    LOG_SYS_ERROR();

  std::vector<cdr_row> announced, kept;
  int settled = 0, from_file = 0, known = 0;
  for (size_t i = 0; i < tried; i++) {
    cdr_row &row = h->m_retry[i];
    row.attempts++;
    if (outcome[i] == ROW_REFUSED && !failed_written) {
      if (worth_logging(row))
        DLOG("call %.100s refused by the database (%.40s) and " CDR_FAILED_FILE
             " cannot be written: kept for the next try",
             row.callid.c_str(), why[i].c_str());
      kept.push_back(std::move(row));
      continue;
    }
    if (outcome[i] == ROW_REFUSED)
      DLOG("call %.100s refused by the database (%.60s, code %d): written to " CDR_FAILED_FILE, row.callid.c_str(),
           why[i].c_str(), code[i]);
    else if (outcome[i] == ROW_KNOWN)
      known++;
    else if (row.line < 0)
      from_file++;
    else if (row.attempts > 1)
      DLOG("call %s stored after %d tries", row.callid.c_str(), row.attempts);
    settled++;
    h->m_file_stale |= row.on_file;
    if (outcome[i] != ROW_KNOWN)
      announced.push_back(std::move(row));
  }
  h->m_retry.erase(h->m_retry.begin(), h->m_retry.begin() + (long)tried);
  h->m_retry.insert(h->m_retry.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
  if (from_file || known)
    DLOG("%d calls of " CDR_PENDING_FILE " stored, %d of them stored before and dropped; %zu calls wait",
         from_file + known, known, h->m_retry.size());
  raise_flags(h, announced);
  return settled;
}

void retry_calls(struct msghdlr *h)
{
  while (!h->m_retry.empty() && store_batch(h) > 0) {
  }
  sync_after_store(h);
  count_unsaved(h);
}

void store_waiting_calls(struct msghdlr *h)
{
  if (!h->m_retry.empty()) {
    /* A statement of the console that waits for g_cs gets it first: the
     * batches must not starve it. */
    sqlite_yield_lock(STORE_YIELD_MS);
    if (store_batch(h) > 0 && !h->m_retry.empty() && h->m_store_timer) {
      if (utils::start_timer(h->m_store_timer, 1) == 0) {
        count_unsaved(h);
        return;
      }
      LOG_FUNCTION_FAILED();
    }
  }
  sync_after_store(h);
  count_unsaved(h);
}

void store_timer_callback(void *ctxt)
{
  store_waiting_calls(static_cast<struct msghdlr *>(ctxt));
}

void store_ended_calls(struct msghdlr *h)
{
  if (h->m_ended.empty())
    return;
  /* A call that ends behind others waits its turn; otherwise the calls of
   * this event have their first try together. */
  size_t queued = h->m_retry.size();
  for (cdr_row &row : h->m_ended)
    h->m_retry.push_back(std::move(row));
  h->m_ended.clear();
  if (queued == 0)
    store_batch(h);
  append_pending(h, queued);
  count_unsaved(h);
}

int read_pending_calls(struct msghdlr *h)
{
  unique_file f(fopen(CDR_PENDING_FILE, "r"));
  if (!f) {
    if (errno == ENOENT)
      return 0;
    LOG_SYS_ERROR();
    return -1;
  }
  int calls = 0, number = 0;
  bool dropped = false;
  line_buffer buf;
  ssize_t n;
  while ((n = getline(&buf.p, &buf.cap, f.get())) > 0) {
    number++;
    std::string text(buf.p, (size_t)n);
    bool ended = text.back() == '\n';
    /* a carriage return before the line feed ends the line too */
    size_t len = text.size() - (ended ? 1 : 0);
    if (len > 0 && text[len - 1] == '\r')
      len--;
    cdr_row row{};
    row.line = -1;
    row.on_file = true;
    if (len == 0) {
      dropped = true; /* an empty line holds no call */
    } else if (cdr_parse_line(text.substr(0, len), &row)) {
      h->m_retry.push_back(std::move(row));
      calls++;
    } else if (!ended) {
      DLOG(CDR_PENDING_FILE ": line %d was cut short by a stop while it was written: skipped", number);
      dropped = true;
    } else {
      DLOG(CDR_PENDING_FILE ": line %d is not a call: moved to " CDR_FAILED_FILE " as it stood", number);
      h->m_unreadable.push_back(std::move(text));
    }
  }
  if (ferror(f.get())) {
    /* What follows the error is unknown: from now on the file is only
     * appended to, never written anew from what was read, so nothing of it is
     * lost (the next start drops what it finds stored already). */
    LOG_SYS_ERROR();
    DLOG("%d calls read back from " CDR_PENDING_FILE " before a read error: the file is kept as it is", calls);
    h->m_pending_kept = true;
    return calls;
  }
  DLOG("%d calls read back from " CDR_PENDING_FILE, calls);
  if (!h->m_unreadable.empty() && move_unreadable(h) == 0)
    dropped = true;
  if (dropped)
    sync_pending(h);
  return calls;
}
