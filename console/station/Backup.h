/* Backups of the station's database: consistent copies of "quentadb" that the
 * engine writes while the station runs (quenta_backup), named by the time they
 * were made, in the folder "backups" of the working directory:
 *
 *   backups/quentadb-20240501-083005
 *
 * The newest BACKUPS_KEPT are kept. Whether today's backup is made yet is read
 * off the names, so it survives a restart: a day without a backup gets one at
 * its next login. Plain functions and one copy at a time off the window
 * thread; no window. */
#ifndef CONSOLE_BACKUP_H
#define CONSOLE_BACKUP_H

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

class QObject;

#define BACKUP_DIR "backups"
#define BACKUP_NAME_PREFIX "quentadb-"
#define BACKUP_PART_SUFFIX ".part" /* a copy under way, or one an interruption left */
#define BACKUPS_KEPT 30

/* "quentadb-YYYYMMDD-HHMMSS" of the time. */
QString BackupName(const QDateTime &when);

/* The time in a backup's name; nothing for any other name. */
std::optional<QDateTime> BackupTime(const QString &name);

/* The names of the complete backups in the working directory's backup
 * folder, oldest first. */
QStringList Backups(const QString &workDir);

/* True when a backup made on day is there. */
bool HasBackupOf(const QString &workDir, const QDate &day);

/* Removes all but the newest keep backups, and the ".part" files that
 * interrupted backups left. */
void PruneBackups(const QString &workDir, int keep = BACKUPS_KEPT);

/* Makes a backup now, named by now, and prunes the folder. True and *path
 * (the backup's full path) when made; false and *reason in the operator's
 * words otherwise. progress, when given, hears the share copied (0 to 100)
 * between the copy's rounds, with the engine's database lock free. */
bool BackUpDatabase(const QString &workDir, const QDateTime &now, QString *path, QString *reason,
                    const std::function<void(int percent)> &progress = {});

/* What a quenta_backup result means, in the operator's words. */
QString BackupFailureReason(int result);

/* BackUpDatabase on a thread of its own, so that the window thread goes on
 * taking the operator's input and polling the lines while a big file is
 * copied (the engine's copy holds the database lock only in short rounds, on
 * a connection of its own). One copy at a time. The callbacks run on the
 * thread of context (the window thread), from its event loop; the object must
 * live on that thread and no longer than context. */
class BackgroundBackup {
public:
  struct Result {
    bool made = false;
    QString path;   /* the backup's full path, when made */
    QString reason; /* why not, in the operator's words */
  };
  using Progress = std::function<void(int percent)>;
  using Done = std::function<void(const Result &result)>;

  explicit BackgroundBackup(QObject *context) : m_context(context) {}
  /* Waits for a copy under way; its done is not called any more. */
  ~BackgroundBackup();
  BackgroundBackup(const BackgroundBackup &) = delete;
  BackgroundBackup &operator=(const BackgroundBackup &) = delete;

  /* Starts a backup named by now. progress hears the share copied now and
   * then; done hears the result once, after the last progress. False, and
   * nothing started, while a copy runs. */
  bool start(const QString &workDir, const QDateTime &now, Progress progress, Done done);
  /* A copy runs, or has ended and its done has not been called yet. */
  bool running() const { return m_thread.joinable(); }
  /* A copy runs: wait() would wait for it. */
  bool copying() const { return m_copying.load(std::memory_order_acquire); }
  /* The share of the copy under way copied so far (0 to 100). */
  int percent() const { return m_percent.load(std::memory_order_relaxed); }
  /* Waits for the copy under way, then calls its done; nothing without one. */
  void wait();

private:
  QObject *m_context;
  std::thread m_thread;
  unsigned m_run = 0; /* counts the copies: a late call of an earlier one is dropped */
  Progress m_progress;
  Done m_done;
  Result m_result; /* written by the copy's thread, read once it has ended */
  std::atomic<int> m_percent{0};
  std::atomic<bool> m_copying{false};
};

#endif
