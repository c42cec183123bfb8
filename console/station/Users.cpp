/* Loading and checking accounts for the user manager, and the own password
 * change's rewrite of the password file. */
#include "Users.h"

#include <QFile>

#include <algorithm>

#include "Gbk.h"
#include "SaveFile.h"
#include "Words.h"

namespace {

/* True when the line, after its leading blanks, is name's account line. */
bool NamesOperator(const QByteArray &line, const QByteArray &name)
{
  qsizetype i = 0;
  SkipBlanks(line, &i);
  if (line.mid(i, name.size()) != name)
    return false;
  i += name.size();
  return i == line.size() || IsBlank(line[i]);
}

}  // namespace

QList<PasswdEntry> LoadUsers(const QString &path)
{
  QList<PasswdEntry> users;
  if (!ReadPasswdFile(path, &users) || !QFile::exists(path))
    users = {PasswdEntry{QByteArray(ADMIN_NAME), QByteArray()}};
  return users;
}

qsizetype FindUser(const QList<PasswdEntry> &users, const QString &name)
{
  for (qsizetype i = 0; i < users.size(); i++)
    if (FromGbk(users[i].name).compare(name, Qt::CaseInsensitive) == 0)
      return i;
  return -1;
}

qsizetype FindUserAgain(const QList<PasswdEntry> &before, qsizetype index, const QList<PasswdEntry> &now)
{
  if (index < 0 || index >= before.size())
    return -1;
  const QByteArray &name = before[index].name;
  qsizetype nth = 0;
  for (qsizetype i = 0; i < index; i++)
    nth += before[i].name == name;
  for (qsizetype i = 0; i < now.size(); i++)
    if (now[i].name == name && nth-- == 0)
      return i;
  return -1;
}

QString NewUserFault(const QString &name, const QString &password)
{
  if (name.isEmpty())
    return QStringLiteral("操作员名不能为空");
  const std::optional<QByteArray> gbk = ToGbk(name);
  if (!gbk || !ToGbk(password))
    return QStringLiteral("操作员名或密码中有无法使用的字符");
  if (std::any_of(gbk->begin(), gbk->end(), IsBlank) || gbk->startsWith('#'))
    return QStringLiteral("操作员名中不能有空格，也不能以“#”开头");
  return QString();
}

QByteArray PasswordLine(const QString &name, const QString &password)
{
  const std::optional<QByteArray> gbk = ToGbk(name);
  const QByteArray digest = PasswordDigest(name, password);
  if (!gbk || digest.isEmpty())
    return QByteArray();
  return *gbk + ' ' + digest + '\n';
}

bool SetOwnPassword(const QString &path, const QString &name, const QString &password, QString *reason)
{
  const QByteArray account = PasswordLine(name, password);
  if (name.isEmpty() || account.isEmpty())
    return RefuseWrite(reason, QStringLiteral("操作员名或密码中有无法使用的字符"));
  const QByteArray gbkName = *ToGbk(name);

  QByteArray text;
  QFile old(path);
  if (old.exists()) {
    if (!old.open(QIODevice::ReadOnly))
      return RefuseWrite(reason, QStringLiteral("原有的文件无法读取"));
    // Every line, however many and however long: none is lost on the way.
    while (!old.atEnd()) {
      QByteArray line = old.readLine();
      text += NamesOperator(line, gbkName) ? account : line;
    }
    old.close();
  } else {
    text = account;
  }
  return ReplaceFile(path, text, reason);
}
