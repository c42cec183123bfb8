/* Storing finished calls in "cdrtbl". A row that the database cannot take now
 * waits in the handler's queue and is tried again at every tick, in order; a
 * row it refuses for good is kept in the plain text file "cdr.failed". Either
 * way no call is ever dropped. Runs on the handler's thread, without the
 * line-table lock, under g_cs for each statement. */
#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "quenta/msghdlr.h"
#include "quenta/sqlite.h"
#include "quenta/sqlite_dbent.h"
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

/* Logs the first failure of a row and then one in a minute of ticks, so a
 * database that stays locked does not flood the log. */
bool worth_logging(const cdr_row &row) { return row.attempts == 1 || row.attempts % 60 == 0; }

} /* namespace */

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
  const char *values[] = {row.callid.c_str(), row.machineid.c_str(), row.lineid.c_str(), row.orgnum.c_str(),
                          row.desnum.c_str(), row.bdate.c_str(),     row.edate.c_str(),  "0",
                          nullptr};
  if (dbent_insert(h->m_dbent, h->m_cdrtbl_name, values) == 0)
    return 0;
  int code = sqlite_last_errcode();
  return refused_for_good(code) ? -1 : 1;
}

int cdr_write_failed(const cdr_row &row)
{
  std::string line;
  for (const std::string *v : {&row.callid, &row.machineid, &row.lineid, &row.orgnum, &row.desnum, &row.bdate,
                               &row.edate}) {
    append_escaped(line, *v);
    line += '\t';
  }
  line += "0\n";

  int fd = open(CDR_FAILED_FILE, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  /* One write keeps the line whole; fsync keeps it across a power cut, which
   * matters for a call that exists nowhere else. */
  int rc = 0;
  if (utils::write_whole(fd, line.data(), line.size()) < 0) {
    LOG_SYS_ERROR();
    rc = -1;
  }
  if (rc == 0 && fsync(fd) < 0) {
    LOG_SYS_ERROR();
    rc = -1;
  }
  close(fd);
  return rc;
}

/* One try at a row: true when it is settled (stored, or kept in the file). */
static bool settle(struct msghdlr *h, cdr_row &row)
{
  row.attempts++;
  int rc = cdrdb_insert(h, row);
  if (rc == 0) {
    if (row.attempts > 1)
      DLOG("call %s stored after %d tries", row.callid.c_str(), row.attempts);
    return true;
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
 * queue exists only in memory: announcing it before it is settled would let a
 * crash lose a call the console was already told about. */
static void raise_flags(struct msghdlr *h, const std::vector<int> &lines)
{
  if (lines.empty())
    return;
  std::scoped_lock lock(h->m_table_lock);
  for (int i : lines)
    if (i >= 0 && i < h->m_micount)
      h->m_infos[i].m_flag = 1;
}

void retry_calls(struct msghdlr *h)
{
  std::vector<int> settled;
  while (!h->m_retry.empty()) {
    if (!settle(h, h->m_retry.front()))
      break;
    settled.push_back(h->m_retry.front().line);
    h->m_retry.pop_front();
  }
  raise_flags(h, settled);
}

void store_ended_calls(struct msghdlr *h)
{
  if (h->m_ended.empty())
    return;
  std::vector<int> settled;
  for (cdr_row &row : h->m_ended) {
    if (h->m_retry.empty() && settle(h, row))
      settled.push_back(row.line);
    else
      h->m_retry.push_back(std::move(row));
  }
  h->m_ended.clear();
  raise_flags(h, settled);
}
