/* Backups of the station's database: consistent copies of "quentadb" that the
 * engine writes while the station runs (quenta_backup), named by the time they
 * were made, in the folder "backups" of the working directory:
 *
 *   backups/quentadb-20240501-083005
 *
 * The newest BACKUPS_KEPT are kept. Whether today's backup is made yet is read
 * off the names, so it survives a restart: a day without a backup gets one at
 * its next login. Plain functions; no window. */
#ifndef CONSOLE_BACKUP_H
#define CONSOLE_BACKUP_H

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#define BACKUP_DIR "backups"
#define BACKUP_NAME_PREFIX "quentadb-"
#define BACKUP_PART_SUFFIX ".part"    /* a copy under way, or one an interruption left */
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

#endif
