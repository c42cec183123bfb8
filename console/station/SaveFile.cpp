/* Whole-file replacement of the station's files and the message that says
 * one could not be saved. */
#include "SaveFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "Modal.h"

namespace {

/* Why the file could not be written. Qt reports the common system failures
 * with fixed English texts (whatever the locale); those get Chinese words,
 * any other keeps the system's own text for whoever mends the machine. */
QString FailureReason(const QString &path, const QSaveFile &file)
{
  if (QFileInfo(path).isDir())
    return QStringLiteral("已有同名的文件夹");
  if (file.error() == QFileDevice::ResourceError)
    return QStringLiteral("磁盘空间已满");
  const QString system = file.errorString();
  if (system == QLatin1String("Permission denied"))
    return QStringLiteral("没有写入权限");
  if (system == QLatin1String("No such file or directory"))
    return QStringLiteral("找不到文件所在的文件夹");
  return QStringLiteral("写入磁盘时出错（%1）").arg(system);
}

} // namespace

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
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  return RefuseWrite(reason, FailureReason(path, file));
}

bool RefuseWrite(QString *reason, const QString &text)
{
  if (reason)
    *reason = text;
  return false;
}

void ShowSaveFailure(QWidget *parent, const char *fileName, const QString &reason,
                     const QString &consequence)
{
  ShowSaveFailure(parent, QString::fromLatin1(fileName), reason, consequence);
}

void ShowSaveFailure(QWidget *parent, const QString &fileName, const QString &reason,
                     const QString &consequence)
{
  QString text = QStringLiteral("无法保存文件 %1：%2").arg(fileName, reason);
  if (!consequence.isEmpty())
    text += QLatin1Char('\n') + consequence;
  ShowMessage(parent, text, QStringLiteral("错误"), QMessageBox::Critical);
}
