/* Reading and writing the shift record. */
#include "ShiftLog.h"

#include <QFile>

#include "Gbk.h"
#include "SaveFile.h"
#include "Words.h"

namespace {

/* The record's two words, the name in GBK. */
bool ReadRecord(const QString &path, QByteArray *name, QByteArray *amount)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  const QByteArray line = file.readLine();
  qsizetype pos = 0;
  *name = NextWord(line, &pos);
  *amount = NextWord(line, &pos);
  return !name->isEmpty() && !amount->isEmpty();
}

}  // namespace

bool ReadLastLog(const QString &path, const QString &operatorName, Cents *total)
{
  QByteArray name, amount;
  if (!ReadRecord(path, &name, &amount))
    return false;
  std::optional<QByteArray> gbkName = ToGbk(operatorName);
  if (!gbkName || name != *gbkName)
    return false;
  *total = CentsOfText(amount);
  return true;
}

bool ReadLastLogOwner(const QString &path, QString *operatorName, Cents *total)
{
  QByteArray name, amount;
  if (!ReadRecord(path, &name, &amount))
    return false;
  *operatorName = FromGbk(name);
  *total = CentsOfText(amount);
  return true;
}

bool WriteLastLog(const QString &path, const QString &operatorName, Cents total, QString *reason)
{
  std::optional<QByteArray> gbkName = ToGbk(operatorName);
  if (!gbkName)
    return RefuseWrite(reason, QStringLiteral("操作员名中有无法保存的字符"));
  return ReplaceFile(path, *gbkName + ' ' + CentsText(total).toLatin1(), reason);
}
