/* Closing the station's files to other users at the start (see
 * private_files.h). */
#include "quenta/private_files.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "utils/debug.h"

namespace {

/* What the engine and the console keep in the working directory. */
const char *const station_files[] = {
    "quentadb",      "quentadb-journal", "quentadb-wal",    "quentadb-shm", "cdr.pending", "cdr.pending.tmp",
    "cdr.failed",    "calls.live",       "calls.live.tmp",  "app.log",      "app.log.1",   "rateinfo",
    "passwd",        "linemap",          "lastlog",         "deposits",     "shopinfo",    "shiftstart",
    "audit.pending", "sync.conf",        "quenta-sync.log",
};
const char *const station_dirs[] = {"backups", "receipts"};

/* Takes group and other permissions off path when it has any. */
void close_to_others(const std::string &path)
{
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode) || !(st.st_mode & (S_IRWXG | S_IRWXO)))
    return;
  if (chmod(path.c_str(), st.st_mode & ~(mode_t)(S_IRWXG | S_IRWXO)) == 0)
    DLOG("\"%s\" was open to other users: closed to them", path.c_str());
  else
    LOG_SYS_ERROR();
}

} /* namespace */

int station_files_private(void)
{
  umask(077);
  for (const char *name : station_files)
    close_to_others(name);
  for (const char *name : station_dirs) {
    close_to_others(name);
    if (DIR *d = opendir(name)) {
      while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
          close_to_others(std::string(name) + "/" + e->d_name);
      closedir(d);
    }
  }
  struct stat st;
  if (stat(".", &st) != 0) {
    LOG_SYS_ERROR();
    return -1;
  }
  if (!(st.st_mode & (S_IRWXG | S_IRWXO)))
    return 0;
  DLOG("the station's folder can be entered or read by other users (mode %03o): \"chmod 700\" it, or keep the "
       "station in a folder of its own user",
       (unsigned)(st.st_mode & 0777));
  return 1;
}
