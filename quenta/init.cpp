/* Engine start-up: quenta_init claims the station's single-instance lock,
 * brings up the runtime, builds the database path and creates the message
 * handler, the counting entity, the query entity and the entities of the
 * shift table and the audit trail, and gives a new file its identity. A
 * start-up that fails half way releases what it created, so the
 * process may try again. */
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "quenta/checkouts.h"
#include "quenta/countent.h"
#include "quenta/init.h"
#include "quenta/msghdlr.h"
#include "quenta/quenta.h"
#include "quenta/private_files.h"
#include "quenta/schema.h"
#include "quenta/sqlite_dbent.h"
#include "utils/app.h"
#include "utils/debug.h"

struct msghdlr *gpst_msghdlr = nullptr;
struct countent *gpst_countent = nullptr;
struct dbent *gpst_dbent = nullptr;

namespace {

std::atomic<bool> g_running{false};
std::mutex g_init_lock; /* one start-up at a time */
int g_instance_fd = -1;

/* Undoes the steps that succeeded, newest first. */
void release_engine()
{
  if (gpst_auditdb) {
    dbent_release(gpst_auditdb);
    gpst_auditdb = nullptr;
  }
  if (gpst_shiftdb) {
    dbent_release(gpst_shiftdb);
    gpst_shiftdb = nullptr;
  }
  if (gpst_dbent) {
    dbent_release(gpst_dbent);
    gpst_dbent = nullptr;
  }
  if (gpst_countent) {
    countent_release(gpst_countent);
    gpst_countent = nullptr;
  }
  if (gpst_msghdlr) {
    msghdlr_release(gpst_msghdlr);
    gpst_msghdlr = nullptr;
  }
  release_instance_lock();
}

int start_engine()
{
  /* The lock comes before the log: opening "app.log" truncates it, and a
   * second start in the folder of a running station must leave its log alone.
   * Until then the lines go to standard error. */
  int rc = claim_instance_lock();
  if (rc != 0) {
    LOG_FUNCTION_FAILED();
    return rc;
  }
  CHECKPOINT();
  /* Before the first file is created (the log, the database, the journals):
   * the station's files are its user's alone. */
  umask(077);
  utils::app_init(0, nullptr, APP_NAME);
  station_files_private();
  CHECKPOINT();

  /* g_cs, the database lock, is a process-wide object that exists before the
   * first statement; nothing to initialise here. */

  std::string path;
  if (!build_database_path(path)) {
    LOG_FUNCTION_FAILED();
    return QUENTA_INIT_FAILED;
  }
  DLOG("database path = %s", path.c_str());

  gpst_msghdlr = create_msghdlr(path.c_str(), CDR_TBL_NAME);
  if (!gpst_msghdlr) {
    LOG_FUNCTION_FAILED();
    return QUENTA_INIT_FAILED;
  }
  gpst_countent = create_countent(path.c_str(), CDR_TBL_NAME, BILL_TBL_NAME);
  if (!gpst_countent) {
    LOG_FUNCTION_FAILED();
    return QUENTA_INIT_FAILED;
  }
  gpst_dbent = create_sqlite_dbent(path.c_str());
  if (!gpst_dbent) {
    LOG_FUNCTION_FAILED();
    return QUENTA_INIT_FAILED;
  }
  gpst_shiftdb = create_sqlite_dbent(path.c_str());
  if (!gpst_shiftdb || dbent_create(gpst_shiftdb, SHIFT_TBL_NAME, gst_shift_infos) != 0 ||
      shifts_add_drawer(path.c_str()) != 0) {
    LOG_FUNCTION_FAILED();
    return QUENTA_INIT_FAILED;
  }
  gpst_auditdb = create_sqlite_dbent(path.c_str());
  if (!gpst_auditdb || dbent_create(gpst_auditdb, AUDIT_TBL_NAME, gst_audit_infos) != 0) {
    LOG_FUNCTION_FAILED();
    return QUENTA_INIT_FAILED;
  }
  if (checkouts_create(path.c_str()) != 0)
    return QUENTA_INIT_FAILED;
  /* Like the indexes, the identity is no reason to keep the counter closed: a
   * file that cannot take it now (held, read-only, full) gets it at a later
   * start, and until then the chain's sync program waits for it. */
  if (sqlite_exec_cmd(path.c_str(), schema_identity_cmds, nullptr, nullptr) != 0)
    LOG_FUNCTION_FAILED();
  sqlite_set_last_errcode(SQLITE_OK);
  return 0;
}

} /* namespace */

bool quenta_running()
{
  return g_running.load(std::memory_order_acquire);
}

bool build_database_path(std::string &path)
{
  std::string dir(256, '\0');
  while (!getcwd(dir.data(), dir.size())) {
    if (errno != ERANGE) {
      LOG_SYS_ERROR();
      return false;
    }
    dir.resize(dir.size() * 2);
  }
  dir.resize(strlen(dir.c_str()));
  path = dir + "/" + DB_NAME;
  return true;
}

int claim_instance_lock()
{
  if (g_instance_fd >= 0)
    return 0;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    LOG_SYS_ERROR();
    return QUENTA_INIT_FAILED;
  }
  /* An abstract name: no file to clean up, and the kernel drops it with the
   * process, however the process ends. */
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  char name[64];
  int n = snprintf(name, sizeof name, "quenta-station-%d", SRV_PORT);
  memcpy(addr.sun_path + 1, name, (size_t)n);
  socklen_t len = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + (size_t)n);
  if (bind(fd, reinterpret_cast<struct sockaddr *>(&addr), len) != 0) {
    int err = errno;
    LOG_SYS_ERROR();
    close(fd);
    if (err == EADDRINUSE) {
      DLOG("another station runs on this machine");
      return QUENTA_INIT_RUNNING;
    }
    return QUENTA_INIT_FAILED;
  }
  g_instance_fd = fd;
  return 0;
}

void release_instance_lock()
{
  if (g_instance_fd >= 0) {
    close(g_instance_fd);
    g_instance_fd = -1;
  }
}

extern "C" QUENTA_API int quenta_init(void)
{
  std::scoped_lock lock(g_init_lock);
  if (quenta_running())
    return 0;
  int rc = start_engine();
  if (rc != 0) {
    release_engine();
    return rc;
  }
  g_running.store(true, std::memory_order_release);
  return 0;
}

extern "C" QUENTA_API int quenta_claimStation(void)
{
  std::scoped_lock lock(g_init_lock);
  return claim_instance_lock();
}
