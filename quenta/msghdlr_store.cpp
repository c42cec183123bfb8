/* Storing finished calls in "cdrtbl". A row that the database cannot take at
 * its first try is appended at once to "cdr.pending" and waits in the
 * handler's queue, tried again at every tick in order; once stored it leaves
 * the file. A row the database refuses for good is kept in "cdr.failed". The
 * next start stores what "cdr.pending" still holds. Either way no call is ever
 * dropped. Runs on the handler's thread (and at start-up before it runs),
 * without the line-table lock, each statement under g_cs with the handler's
 * short wait. */
#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "quenta/frozen_prices.h"
#include "quenta/msghdlr.h"
#include "quenta/sqlite.h"
#include "quenta/sqlite_dbent.h"
#include "quenta/sqlite_tblent.h"
#include "utils/debug.h"
#include "utils/utils.h"

namespace {

/* Refusals that a later try cannot change. */
bool refused_for_good(int code)
{
  return code == SQLITE_CONSTRAINT || code == SQLITE_RANGE || code == SQLITE_MISMATCH || code == SQLITE_ERROR;
}

void append_escaped(std::string &out, const std::string &value)
{
  for (char c : value) {
    switch (c) {
    case '\\': out += "\\\\"; break;
    case '\t': out += "\\t"; break;
    case '\r': out += "\\r"; break;
    case '\n': out += "\\n"; break;
    default: out += c;
    }
  }
}

/* One value of a line, escapes undone: false for an escape the writer never
 * makes. */
bool unescape(const std::string &field, std::string *value)
{
  value->clear();
  for (size_t i = 0; i < field.size(); i++) {
    if (field[i] != '\\') {
      *value += field[i];
      continue;
    }
    if (++i == field.size())
      return false;
    switch (field[i]) {
    case '\\': *value += '\\'; break;
    case 't': *value += '\t'; break;
    case 'r': *value += '\r'; break;
    case 'n': *value += '\n'; break;
    default: return false;
    }
  }
  return true;
}

/* Logs the first failure of a row and then one in a minute of ticks, so a
 * database that stays locked does not flood the log. */
bool worth_logging(const cdr_row &row) { return row.attempts == 1 || row.attempts % 60 == 0; }

/* Makes a rename or a new file in the working directory survive a power cut. */
void sync_working_dir()
{
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

/* Appends text to the file and syncs it: 0, or -1 with errno set. A last line
 * that a crash cut short is ended first, so the new lines stay whole. */
int append_synced(const char *path, const std::string &text)
{
  int fd = open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0)
    return -1;
  struct stat st;
  char last = '\n';
  if (fstat(fd, &st) == 0 && st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) != 1)
    last = '\n';
  std::string out(last == '\n' ? 0 : 1, '\n');
  out += text;
  int rc = utils::write_whole(fd, out.data(), out.size()) < 0 || fsync(fd) < 0 ? -1 : 0;
  int err = errno;
  close(fd);
  errno = err;
  return rc;
}

/* Writes CDR_PENDING_FILE anew with what waits in the queue: a new file
 * renamed over the old one, so a crash leaves the one or the other whole; an
 * empty queue empties the file. 0, or -1 with errno set (the old file stays). */
int rewrite_pending(struct msghdlr *h)
{
  if (h->m_retry.empty()) {
    int fd = open(CDR_PENDING_FILE, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
      return errno == ENOENT ? 0 : -1;
    int rc = fsync(fd);
    close(fd);
    return rc;
  }
  std::string text;
  for (const cdr_row &row : h->m_retry)
    text += cdr_line(row);
  int fd = open(CDR_PENDING_TMP, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0)
    return -1;
  int rc = utils::write_whole(fd, text.data(), text.size()) < 0 || fsync(fd) < 0 ? -1 : 0;
  int err = errno;
  close(fd);
  if (rc == 0 && rename(CDR_PENDING_TMP, CDR_PENDING_FILE) != 0) {
    err = errno;
    rc = -1;
  }
  if (rc < 0) {
    unlink(CDR_PENDING_TMP);
    errno = err;
    return -1;
  }
  sync_working_dir();
  for (cdr_row &row : h->m_retry)
    row.on_file = true;
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

/* 1 when "cdrtbl" holds this very call, 0 when its call id holds another one,
 * -1 when the database cannot tell now. */
int stored_already(struct msghdlr *h, const cdr_row &row)
{
  std::string cmd = std::string("select count(*) from ") + h->m_cdrtbl_name +
                    " where callid=? and machineid=? and lineid=? and orgnum=? and desnum=? and bdate=? and edate=?";
  const std::string *texts[] = {&row.callid, &row.machineid, nullptr, &row.orgnum, &row.desnum, &row.bdate,
                                &row.edate};
  sqlite_value values[7];
  for (int i = 0; i < 7; i++)
    values[i] = texts[i] ? sqlite_value{SQLITE_TEXT, texts[i]->c_str(), 0, 0}
                         : sqlite_value{SQLITE_INTEGER, nullptr, strtoll(row.lineid.c_str(), nullptr, 10), 0};
  long count = -1;
  auto read_count = [](void *p, int, char **v, char **) {
    *static_cast<long *>(p) = atol(v[0]);
    return 0;
  };
  if (sqlite_exec_bound_wait(h->m_dbent->m_dbname, cmd.c_str(), values, 7, HANDLER_STORE_WAIT_MS, read_count,
                             &count) != 0)
    return -1;
  sqlite_set_last_errcode(SQLITE_CONSTRAINT);
  return count > 0 ? 1 : 0;
}

} /* namespace */

std::string cdr_line(const cdr_row &row)
{
  std::string line;
  for (const std::string *v : {&row.callid, &row.machineid, &row.lineid, &row.orgnum, &row.desnum, &row.bdate,
                               &row.edate}) {
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
  sqlite_value values[8];
  const std::string *texts[] = {&row.callid, &row.machineid, nullptr, &row.orgnum, &row.desnum, &row.bdate,
                                &row.edate};
  for (int i = 0; i < 7; i++)
    values[i] = sqlite_value{SQLITE_TEXT, texts[i] ? texts[i]->c_str() : nullptr, 0, 0};
  if (!sqlite_parse_number(row.lineid.c_str(), &values[2])) {
    DLOG("call %s: line %s is no number", row.callid.c_str(), row.lineid.c_str());
    sqlite_set_last_errcode(SQLITE_MISMATCH);
    return -1;
  }
  values[7] = sqlite_value{SQLITE_INTEGER, nullptr, 0, 0};
  std::string cmd = sqlite_tblent_insert_cmd(h->m_cdrtbl_name, 8);
  /* the row and its price in one transaction: a crash leaves both or neither */
  int rc = sqlite_exec_write(h->m_dbent->m_dbname, cmd.c_str(), HANDLER_STORE_WAIT_MS, [&](sqlite3 *db) {
    int r = sqlite_run_bound(db, cmd.c_str(), values, 8, nullptr, nullptr);
    return r == SQLITE_OK ? freeze_price(db, row) : r;
  });
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

/* One try at a row: true when it is settled (stored, or kept in the failed
 * file). *announce tells whether its line's flag is to rise: not for a call
 * read back from the pending file that an earlier run had stored. */
static bool settle(struct msghdlr *h, cdr_row &row, bool *announce)
{
  *announce = true;
  row.attempts++;
  int rc = cdrdb_insert(h, row);
  if (rc == 0) {
    if (row.line < 0)
      DLOG("call %s of " CDR_PENDING_FILE " stored", row.callid.c_str());
    else if (row.attempts > 1)
      DLOG("call %s stored after %d tries", row.callid.c_str(), row.attempts);
    return true;
  }
  if (rc < 0 && row.line < 0 && sqlite_last_errcode() == SQLITE_CONSTRAINT) {
    int same = stored_already(h, row);
    if (same > 0) {
      DLOG("call %s of " CDR_PENDING_FILE " was stored before: dropped from the file", row.callid.c_str());
      *announce = false;
      return true;
    }
    if (same < 0)
      rc = 1;
  }
  if (rc < 0) {
    if (cdr_write_failed(row) == 0) {
      DLOG("call %s refused by the database (code %d): written to " CDR_FAILED_FILE, row.callid.c_str(),
           sqlite_last_errcode());
      return true;
    }
    if (worth_logging(row))
      DLOG("call %s refused by the database and " CDR_FAILED_FILE " cannot be written: kept for the next try",
           row.callid.c_str());
    return false;
  }
  if (worth_logging(row))
    DLOG("call %s cannot be stored now (code %d): kept for the next try", row.callid.c_str(),
         sqlite_last_errcode());
  return false;
}

/* Raises the flags of the lines whose calls are settled. A call waiting in the
 * queue is not announced: the console's select would not find it yet. A call
 * read back from the pending file flags its line when the line is known. */
static void raise_flags(struct msghdlr *h, const std::vector<cdr_row> &rows)
{
  if (rows.empty())
    return;
  std::scoped_lock lock(h->m_table_lock);
  for (const cdr_row &row : rows) {
    int i = row.line;
    for (int k = 0; i < 0 && k < h->m_micount; k++)
      if (row.machineid == h->m_infos[k].m_machine_id && row.lineid == std::to_string((int)h->m_infos[k].m_line_id))
        i = k;
    if (i >= 0 && i < h->m_micount)
      h->m_infos[i].m_flag = 1;
  }
}

void retry_calls(struct msghdlr *h)
{
  std::vector<cdr_row> settled;
  bool left_file = false, announce;
  while (!h->m_retry.empty() && settle(h, h->m_retry.front(), &announce)) {
    left_file |= h->m_retry.front().on_file;
    if (announce)
      settled.push_back(std::move(h->m_retry.front()));
    h->m_retry.pop_front();
  }
  bool off_file = false;
  for (const cdr_row &row : h->m_retry)
    off_file |= !row.on_file;
  if (left_file || off_file)
    sync_pending(h);
  raise_flags(h, settled);
}

void store_ended_calls(struct msghdlr *h)
{
  if (h->m_ended.empty())
    return;
  std::vector<cdr_row> settled;
  size_t queued = h->m_retry.size();
  bool announce;
  for (cdr_row &row : h->m_ended) {
    if (h->m_retry.empty() && settle(h, row, &announce))
      settled.push_back(std::move(row));
    else
      h->m_retry.push_back(std::move(row));
  }
  h->m_ended.clear();
  if (h->m_retry.size() > queued)
    append_pending(h, queued);
  raise_flags(h, settled);
}

int store_pending_calls(struct msghdlr *h)
{
  FILE *f = fopen(CDR_PENDING_FILE, "r");
  if (!f) {
    if (errno == ENOENT)
      return 0;
    LOG_SYS_ERROR();
    return -1;
  }
  int calls = 0, damaged = 0;
  char *buf = nullptr;
  size_t cap = 0;
  ssize_t n;
  while ((n = getline(&buf, &cap, f)) > 0) {
    cdr_row row{};
    row.line = -1;
    row.on_file = true;
    if (cdr_parse_line(std::string(buf, (size_t)n), &row)) {
      h->m_retry.push_back(std::move(row));
      calls++;
    } else {
      /* the end of a line a crash cut short, or a line that was never one */
      DLOG(CDR_PENDING_FILE ": line %d is not a whole call: skipped", calls + damaged + 1);
      damaged++;
    }
  }
  free(buf);
  fclose(f);
  DLOG("%d calls read back from " CDR_PENDING_FILE, calls);
  retry_calls(h);
  if (damaged)
    sync_pending(h);
  return calls;
}
