/* Replacing a file of the station whole, and telling the operator when that
 * fails. Every file the console keeps ("passwd", "lastlog", "shiftstart",
 * "linemap", "deposits", "rateinfo", "shopinfo") is written through
 * ReplaceFile: the new contents go to a file of their own beside the old one,
 * are synced to the disk, and only then take its name, so a full or failing
 * disk or a crash leaves the old file whole; a failure comes back in words an
 * operator at the counter can act on, for a message box that names the file. */
#ifndef CONSOLE_SAVEFILE_H
#define CONSOLE_SAVEFILE_H

#include <QByteArray>
#include <QString>

class QFile;
class QWidget;

/* Opens a station file (named by the QFile) for reading. A missing file is no
 * failure: true with the file left closed, for the caller's defaults. False,
 * and *reason (when given) in the operator's words, when the file is there but
 * cannot be read. */
bool OpenStationFile(QFile *file, QString *reason);

/* Replaces the file at path with bytes (a link: the file it names). True
 * when they are on the disk under that name; otherwise false, the file as it
 * was, and *reason (when given) says why in the operator's words ("磁盘空间已
 * 满"). A replaced file keeps its permissions; a new one has the process's
 * (the engine keeps the station's files to their owner). */
bool ReplaceFile(const QString &path, const QByteArray &bytes, QString *reason);

/* Sets *reason, when given, to text and returns false: for the writers'
 * own refusals ("名称中有无法保存的字符"). */
bool RefuseWrite(QString *reason, const QString &text);

/* Tells the operator, caption "错误": "无法保存文件 lastlog：<reason>", then
 * what that means for him (consequence, a line of its own; may be empty). */
void ShowSaveFailure(QWidget *parent, const char *fileName, const QString &reason, const QString &consequence);
/* The same for a file the operator named. */
void ShowSaveFailure(QWidget *parent, const QString &fileName, const QString &reason, const QString &consequence);

#endif
