/* Whole-file replacement of the station's files and the message that says
 * one could not be saved. */
#include "SaveFile.h"

#include <QFile>
#include <QFileInfo>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Modal.h"

namespace {

/* Why a system call on the file failed, in the operator's words; a failure
 * without Chinese words keeps the system's own text for whoever mends the
 * machine. */
QString FailureReason(int error)
{
  switch (error) {
  case ENOSPC:
  case EDQUOT:
    return QStringLiteral("磁盘空间已满");
  case EACCES:
  case EPERM:
    return QStringLiteral("没有写入权限");
  case ENOENT:
  case ENOTDIR:
    return QStringLiteral("找不到文件所在的文件夹");
  case EISDIR:
    return QStringLiteral("已有同名的文件夹");
  case EROFS:
    return QStringLiteral("磁盘只能读取，不能写入");
  default:
    return QStringLiteral("写入磁盘时出错（%1）").arg(QString::fromLocal8Bit(strerror(error)));
  }
}

/* write(2) until every byte is out: 0, or the errno. */
int WriteAll(int fd, const char *data, qsizetype size)
{
  while (size > 0) {
    const ssize_t n = write(fd, data, static_cast<size_t>(size));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    data += n;
    size -= n;
  }
  return 0;
}

int SyncFd(int fd)
{
  while (fsync(fd) != 0)
    if (errno != EINTR)
      return errno;
  return 0;
}

/* The process's file mode mask, read without setting it (umask(2) would,
 * for a moment, for every thread); 077 where the system does not tell. */
mode_t ProcessUmask()
{
  QFile status(QStringLiteral("/proc/self/status"));
  if (status.open(QIODevice::ReadOnly)) {
    while (!status.atEnd()) {
      const QByteArray line = status.readLine();
      bool ok = false;
      const uint mask = line.startsWith("Umask:") ? line.mid(6).trimmed().toUInt(&ok, 8) : 0;
      if (ok)
        return static_cast<mode_t>(mask & 0777);
    }
  }
  return 077;
}

/* The new contents in a file of their own beside the old one, on the disk
 * before they take its name: a disk that fills up, a failing disk or a crash
 * at any moment leaves the old file whole. 0, or the errno of the first step
 * that failed (the new file is then gone). */
int ReplaceBytes(const QByteArray &target, const QByteArray &bytes)
{
  QByteArray temp = target + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0)
    return errno;
  // The old file's permissions go over to the new one; a new file has the
  // process's (the engine keeps the station's files to their owner).
  struct stat old;
  int error = 0;
  if (stat(target.constData(), &old) == 0) {
    if (fchmod(fd, old.st_mode & 07777) != 0)
      error = errno;
  } else {
    if (fchmod(fd, 0666 & ~ProcessUmask()) != 0)
      error = errno;
  }
  if (error == 0)
    error = WriteAll(fd, bytes.constData(), bytes.size());
  if (error == 0)
    error = SyncFd(fd);
  if (close(fd) != 0 && error == 0 && errno != EINTR)
    error = errno;
  if (error == 0 && rename(temp.constData(), target.constData()) != 0)
    error = errno;
  if (error != 0) {
    unlink(temp.constData());
    return error;
  }
  // The new name on the disk as well: without it a crash could bring the old
  // contents back. The contents themselves are safe by now, so a folder that
  // cannot be synced is logged, not refused.
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
  const int dirFd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int dirError = dirFd < 0 ? errno : SyncFd(dirFd);
  if (dirFd >= 0)
    close(dirFd);
  if (dirError != 0 && dirError != EINVAL)
    qWarning("cannot sync the folder %s: %s", folder.constData(), strerror(dirError));
  return 0;
}

}  // namespace

bool OpenStationFile(QFile *file, QString *reason)
{
  if (!file->exists())
    return true;
  const bool folder = QFileInfo(file->fileName()).isDir();
  if (!folder && file->open(QIODevice::ReadOnly))
    return true;
  return RefuseWrite(reason, folder ? QStringLiteral("已有同名的文件夹") : QStringLiteral("没有读取权限"));
}

bool ReplaceFile(const QString &path, const QByteArray &bytes, QString *reason)
{
  const QFileInfo info(path);
  if (info.isDir())
    return RefuseWrite(reason, QStringLiteral("已有同名的文件夹"));
  // A link is followed: the file it names takes the new contents.
  const QString target = info.isSymLink() ? info.symLinkTarget() : path;
  const int error = ReplaceBytes(QFile::encodeName(target), bytes);
  if (error != 0) {
    qWarning("cannot write %s: %s", qPrintable(target), strerror(error));
    return RefuseWrite(reason, FailureReason(error));
  }
  return true;
}

bool RefuseWrite(QString *reason, const QString &text)
{
  if (reason)
    *reason = text;
  return false;
}

void ShowSaveFailure(QWidget *parent, const char *fileName, const QString &reason, const QString &consequence)
{
  ShowSaveFailure(parent, QString::fromLatin1(fileName), reason, consequence);
}

void ShowSaveFailure(QWidget *parent, const QString &fileName, const QString &reason, const QString &consequence)
{
  QString text = QStringLiteral("无法保存文件 %1：%2").arg(fileName, reason);
  if (!consequence.isEmpty())
    text += QLatin1Char('\n') + consequence;
  ShowMessage(parent, text, QStringLiteral("错误"), QMessageBox::Critical);
}
