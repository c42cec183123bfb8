/* The online backup of the engine's database: a copy made page by page with
 * SQLite's backup API in short rounds under g_cs, into a ".part" file that is
 * synced and renamed once whole; and its export quenta_backup. The copy's
 * source connection is opened and closed under g_cs like every other; between
 * rounds it stays open, idle (or, once writers have made the copy start over
 * too often, holding its read snapshot: the rest of the copy then runs
 * without g_cs, so that a writer of another thread waits for its end). */
#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "quenta/dbent.h"
#include "quenta/init.h"
#include "quenta/quenta.h"
#include "quenta/sqlite.h"
#include "utils/debug.h"

#define BACKUP_STEP_PAGES 64    /* pages per sqlite3_backup_step */
#define BACKUP_ROUND_MS 20      /* g_cs held by one round of steps at most (plus one step) */
#define BACKUP_BUSY_PAUSE_MS 10 /* before a round tries a database locked by another program again */
#define BACKUP_YIELD_MS 200     /* longest wait between rounds for the statements that want g_cs */
#define BACKUP_FREE_RESTARTS 2  /* restarts writers may cause before the copy keeps its snapshot */
#define BACKUP_SYNC_PAGES 2048  /* pages copied between syncs of the copy (8 MiB of 4 KiB pages) */
#define BACKUP_PART_SUFFIX ".part"

namespace {

using steady = std::chrono::steady_clock;

int ms_since(steady::time_point t)
{
  return (int)std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - t).count();
}

/* What a failed SQLite call means for the operator. */
int backup_result(int rc)
{
  switch (rc & 0xff) {
  case SQLITE_BUSY:
  case SQLITE_LOCKED:
    return QUENTA_BACKUP_BUSY;
  case SQLITE_FULL:
    return QUENTA_BACKUP_FULL;
  case SQLITE_CORRUPT:
  case SQLITE_NOTADB:
    return QUENTA_BACKUP_UNREADABLE;
  default:
    return QUENTA_BACKUP_CANTWRITE;
  }
}

/* The copy under way: both connections and the backup object, released in
 * the right order (the source's close under g_cs) whatever path ends it. */
class backup_job {
public:
  backup_job(const char *dbname, std::string part) : m_dbname(dbname), m_part(std::move(part)) {}
  backup_job(const backup_job &) = delete;
  backup_job &operator=(const backup_job &) = delete;
  ~backup_job()
  {
    end();
    if (!m_kept)
      unlink(m_part.c_str());
  }

  /* Both files open and the backup begun: 0 or a QUENTA_BACKUP_* result. */
  int begin()
  {
    int rc = sqlite3_open_v2(m_part.c_str(), &m_to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
      DLOG("cannot create the backup %s: %s", m_part.c_str(), m_to ? sqlite3_errmsg(m_to) : sqlite3_errstr(rc));
      return backup_result(rc) == QUENTA_BACKUP_FULL ? QUENTA_BACKUP_FULL : QUENTA_BACKUP_CANTWRITE;
    }
    /* A half copy is worth nothing: no journal, and one sync once it is whole
     * (outside g_cs) instead of one at the commit of the last round. */
    sqlite3_exec(m_to, "pragma journal_mode=off; pragma synchronous=off", nullptr, nullptr, nullptr);
    {
      std::scoped_lock lock(g_cs);
      rc = sqlite3_open_v2(m_dbname, &m_from, SQLITE_OPEN_READWRITE, nullptr);
    }
    if (rc != SQLITE_OK) {
      DLOG("Can't open database: %s\n", m_from ? sqlite3_errmsg(m_from) : sqlite3_errstr(rc));
      return QUENTA_BACKUP_UNREADABLE;
    }
    m_backup = sqlite3_backup_init(m_to, "main", m_from, "main");
    if (!m_backup) {
      DLOG("sqlite3_backup_init %s: %s", m_part.c_str(), sqlite3_errmsg(m_to));
      return backup_result(sqlite3_errcode(m_to));
    }
    return 0;
  }

  /* One round under g_cs (once the copy reads its snapshot, without it):
   * SQLITE_OK to go on, SQLITE_DONE, or the failure. */
  int round()
  {
    /* Nothing another statement does changes what the snapshot reads, and a
     * writer that meets it waits for the file's lock holding g_cs: were the
     * rounds to wait for g_cs, the copy would stand still until the writer
     * gave up. Without it the copy goes on to its end, and the writer waits
     * for that only. Both connections are the copy's own. */
    std::unique_lock lock(g_cs, std::defer_lock);
    if (!m_snapshot)
      lock.lock();
    if (m_restarts >= BACKUP_FREE_RESTARTS && !m_snapshot) {
      /* From here the copy reads one state of the file to its end; a writer
       * meanwhile gets SQLITE_BUSY (the handler keeps its call for later). */
      int rc = sqlite3_exec(m_from, "begin; select count(*) from sqlite_master", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) {
        sqlite3_exec(m_from, "rollback", nullptr, nullptr, nullptr);
        return rc;
      }
      m_snapshot = true;
      DLOG("backup %s restarted %d times: the rest is copied from one snapshot", m_part.c_str(), m_restarts);
    }
    if (m_snapshot && lock.owns_lock())
      lock.unlock();
    auto start = steady::now();
    int rc;
    do {
      rc = sqlite3_backup_step(m_backup, BACKUP_STEP_PAGES);
      int done = sqlite3_backup_pagecount(m_backup) - sqlite3_backup_remaining(m_backup);
      if (rc == SQLITE_OK && m_done > 0 && done <= m_done)
        m_restarts++; /* another connection wrote: the copy began again from page 1 */
      m_done = done;
    } while (rc == SQLITE_OK && ms_since(start) < BACKUP_ROUND_MS);
    return rc;
  }

  /* The backup object finished and both connections closed: the SQLite
   * result of the finish and the destination's close. */
  int end()
  {
    int rc = SQLITE_OK;
    if (m_backup) {
      rc = sqlite3_backup_finish(m_backup);
      m_backup = nullptr;
    }
    if (m_from) {
      /* The snapshot is let go before g_cs is taken: a writer may hold g_cs
       * waiting for it. */
      if (m_snapshot)
        sqlite3_exec(m_from, "commit", nullptr, nullptr, nullptr);
      std::scoped_lock lock(g_cs);
      sqlite3_close(m_from);
      m_from = nullptr;
    }
    if (m_to) {
      int closed = sqlite3_close(m_to);
      if (rc == SQLITE_OK)
        rc = closed;
      m_to = nullptr;
    }
    return rc;
  }

  void keep() { m_kept = true; }
  int pages() const { return m_done; }
  int percent() const
  {
    int total = m_backup ? sqlite3_backup_pagecount(m_backup) : 0;
    return total > 0 ? (int)(100LL * m_done / total) : 0;
  }
  int restarts() const { return m_restarts; }
  bool snapshot() const { return m_snapshot; }

private:
  const char *m_dbname;
  std::string m_part; /* the copy until it is whole */
  sqlite3 *m_from = nullptr;
  sqlite3 *m_to = nullptr;
  sqlite3_backup *m_backup = nullptr;
  int m_done = 0; /* pages copied in the current pass */
  int m_restarts = 0;
  bool m_snapshot = false; /* m_from holds a read transaction */
  bool m_kept = false;     /* renamed: not to be removed */
};

/* fsync of a file or a folder: 0, or the errno. */
int sync_path(const char *path, int flags)
{
  int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0)
    return errno;
  int rc = 0;
  while (fsync(fd) != 0) {
    if (errno != EINTR) {
      rc = errno;
      break;
    }
  }
  close(fd);
  return rc;
}

std::string folder_of(const std::string &path)
{
  size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

} /* namespace */

int sqlite_backup(const char *dbname, const char *dest, int busy_ms, void (*progress)(int percent, void *param),
                  void *param)
{
  if (!dbname || !dest || !*dest) {
    LOG_FUNCTION_FAILED();
    return QUENTA_BACKUP_FAILED;
  }
  std::string part = std::string(dest) + BACKUP_PART_SUFFIX;
  unlink(part.c_str()); /* what an interrupted backup left */
  backup_job job(dbname, part);
  int result = job.begin();
  if (result != 0)
    return result;

  auto moved = steady::now();
  int rc, synced = 0;
  while ((rc = job.round()) != SQLITE_DONE) {
    if (rc == SQLITE_OK) {
      moved = steady::now();
      /* The copy's pages reach the disk a few MiB at a time: a store's fsync
       * on the same disk would otherwise wait behind all of them. */
      if (job.pages() < synced || job.pages() - synced >= BACKUP_SYNC_PAGES) {
        sync_path(part.c_str(), O_RDONLY);
        synced = job.pages();
      }
    } else if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
      if (ms_since(moved) >= busy_ms) {
        DLOG("backup %s: the database stayed locked for %d ms", part.c_str(), busy_ms);
        return QUENTA_BACKUP_BUSY;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(BACKUP_BUSY_PAUSE_MS));
    } else {
      DLOG("backup %s failed: %s", part.c_str(), sqlite3_errstr(rc));
      return backup_result(rc);
    }
    if (!job.snapshot())
      sqlite_yield_lock(BACKUP_YIELD_MS);
    if (progress)
      progress(job.percent(), param);
  }
  int pages = job.pages(), restarts = job.restarts();
  rc = job.end();
  if (rc != SQLITE_OK) {
    DLOG("backup %s cannot be completed: %s", part.c_str(), sqlite3_errstr(rc));
    return backup_result(rc);
  }
  int err = sync_path(part.c_str(), O_RDONLY);
  if (err == 0 && rename(part.c_str(), dest) != 0)
    err = errno;
  if (err != 0) {
    errno = err;
    LOG_SYS_ERROR();
    return err == ENOSPC ? QUENTA_BACKUP_FULL : QUENTA_BACKUP_CANTWRITE;
  }
  job.keep();
  sync_path(folder_of(dest).c_str(), O_RDONLY | O_DIRECTORY);
  DLOG("database backed up to %s: %d pages, %d restarts", dest, pages, restarts);
  return 0;
}

extern "C" QUENTA_API int quenta_backup(const char *path, BACKUP_CALLBACK progress, void *param)
{
  if (!quenta_running() || !path || !*path)
    return QUENTA_BACKUP_FAILED;
  return sqlite_backup(gpst_dbent->m_dbname, path, SQLITE_BUSY_TIMEOUT_MS, progress, param);
}
