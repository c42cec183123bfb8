/* The backup folder: names and times, the daily check, pruning, and one
 * backup through the engine. */
#include "Backup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QRegularExpression>

#include "quenta/quenta.h"

namespace {

#define BACKUP_TIME_FORMAT "yyyyMMdd-HHmmss"

const QRegularExpression &NamePattern()
{
  static const QRegularExpression pattern(QStringLiteral("^" BACKUP_NAME_PREFIX "(\\d{8}-\\d{6})$"));
  return pattern;
}

QString Folder(const QString &workDir)
{
  return workDir + QStringLiteral("/" BACKUP_DIR);
}

}  // namespace

QString BackupName(const QDateTime &when)
{
  return QStringLiteral(BACKUP_NAME_PREFIX) + when.toString(QStringLiteral(BACKUP_TIME_FORMAT));
}

std::optional<QDateTime> BackupTime(const QString &name)
{
  const QRegularExpressionMatch match = NamePattern().match(name);
  if (!match.hasMatch())
    return std::nullopt;
  const QDateTime when = QDateTime::fromString(match.captured(1), QStringLiteral(BACKUP_TIME_FORMAT));
  if (!when.isValid())
    return std::nullopt;
  return when;
}

QStringList Backups(const QString &workDir)
{
  QStringList names;
  // The names sort as their times do.
  const QStringList files =
      QDir(Folder(workDir)).entryList({QStringLiteral(BACKUP_NAME_PREFIX "*")}, QDir::Files, QDir::Name);
  for (const QString &name : files)
    if (BackupTime(name))
      names.append(name);
  return names;
}

bool HasBackupOf(const QString &workDir, const QDate &day)
{
  const QString stamp = QStringLiteral(BACKUP_NAME_PREFIX) + day.toString(QStringLiteral("yyyyMMdd-"));
  for (const QString &name : Backups(workDir))
    if (name.startsWith(stamp))
      return true;
  return false;
}

void PruneBackups(const QString &workDir, int keep)
{
  QDir folder(Folder(workDir));
  const QStringList names = Backups(workDir);
  for (qsizetype i = 0; i + keep < names.size(); i++)
    if (!folder.remove(names[i]))
      qWarning("cannot remove the old backup %s", qPrintable(folder.filePath(names[i])));
  // No backup runs while the console prunes: a part is what an interruption left.
  const QStringList parts = folder.entryList({QStringLiteral(BACKUP_NAME_PREFIX "*" BACKUP_PART_SUFFIX)}, QDir::Files);
  for (const QString &part : parts)
    folder.remove(part);
}

bool BackUpDatabase(const QString &workDir, const QDateTime &now, QString *path, QString *reason,
                    const std::function<void(int percent)> &progress)
{
  const QString folder = Folder(workDir);
  if (!QDir().mkpath(folder)) {
    *reason = QFileInfo(folder).exists() ? QStringLiteral("已有名为 " BACKUP_DIR " 的文件，无法建立备份文件夹")
                                         : QStringLiteral("无法建立备份文件夹 " BACKUP_DIR);
    return false;
  }
  const QString target = folder + QLatin1Char('/') + BackupName(now);
  BACKUP_CALLBACK relay = [](int percent, void *param) {
    (*static_cast<const std::function<void(int)> *>(param))(percent);
  };
  const int rc = quenta_backup(QFile::encodeName(target).constData(), progress ? relay : nullptr,
                               const_cast<std::function<void(int)> *>(&progress));
  if (rc != 0) {
    *reason = BackupFailureReason(rc);
    return false;
  }
  PruneBackups(workDir);
  *path = target;
  return true;
}

QString BackupFailureReason(int result)
{
  switch (result) {
  case QUENTA_BACKUP_UNREADABLE:
    return QStringLiteral("数据库文件无法读取，可能已经损坏");
  case QUENTA_BACKUP_BUSY:
    return QStringLiteral("数据库一直被其他程序占用");
  case QUENTA_BACKUP_FULL:
    return QStringLiteral("磁盘空间已满");
  case QUENTA_BACKUP_CANTWRITE:
    return QStringLiteral("无法写入备份文件夹 " BACKUP_DIR "（没有写入权限，或磁盘出错）");
  default:
    return QStringLiteral("计费程序没有运行");
  }
}

BackgroundBackup::~BackgroundBackup()
{
  if (m_thread.joinable())
    m_thread.join();
}

bool BackgroundBackup::start(const QString &workDir, const QDateTime &now, Progress progress, Done done)
{
  if (m_thread.joinable())
    return false;
  const unsigned run = ++m_run;
  m_progress = std::move(progress);
  m_done = std::move(done);
  m_result = Result();
  m_percent.store(0, std::memory_order_relaxed);
  m_copying.store(true, std::memory_order_release);
  m_thread = std::thread([this, run, workDir, now] {
    Result result;
    result.made = BackUpDatabase(workDir, now, &result.path, &result.reason, [this, run](int percent) {
      m_percent.store(percent, std::memory_order_relaxed);
      QMetaObject::invokeMethod(
          m_context,
          [this, run, percent] {
            if (run == m_run && m_thread.joinable() && m_progress)
              m_progress(percent);
          },
          Qt::QueuedConnection);
    });
    m_result = result;
    m_copying.store(false, std::memory_order_release);
    QMetaObject::invokeMethod(
        m_context,
        [this, run] {
          if (run == m_run)
            wait();
        },
        Qt::QueuedConnection);
  });
  return true;
}

void BackgroundBackup::wait()
{
  if (!m_thread.joinable())
    return;
  m_thread.join();
  const Done done = std::move(m_done);
  m_done = nullptr;
  m_progress = nullptr;
  if (done)
    done(m_result);
}
