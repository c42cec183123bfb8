/* The password file: digests, line splitting, reading and writing the file,
 * and the password check with its message. */
#include "Passwd.h"

#include <QCryptographicHash>
#include <QFile>

#include "Gbk.h"
#include "Modal.h"
#include "SaveFile.h"

namespace {

/* The C library's white space in the C locale. GBK trail bytes are never
 * among these, so splitting on them never cuts a Chinese character. */
bool IsBlank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsHexDigit(char c)
{
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

QByteArray DigestOf(const QByteArray &name, const QByteArray &password)
{
  QCryptographicHash sha1(QCryptographicHash::Sha1);
  sha1.addData(name);
  sha1.addData(password);
  return sha1.result().left(DIGEST_HEX_LEN / 2).toHex();
}

} // namespace

QByteArray PasswordDigest(const QString &name, const QString &password)
{
  std::optional<QByteArray> n = ToGbk(name);
  std::optional<QByteArray> p = ToGbk(password);
  if (!n || !p)
    return QByteArray();
  return DigestOf(*n, *p);
}

bool IsAdministrator(const QString &name)
{
  return name == QLatin1String(ADMIN_NAME);
}

bool ParsePasswdLine(const QByteArray &line, PasswdEntry *entry)
{
  qsizetype i = 0;
  const qsizetype n = line.size();
  while (i < n && IsBlank(line[i]))
    i++;
  if (i == n || line[i] == '#')
    return false;
  qsizetype start = i;
  while (i < n && !IsBlank(line[i]))
    i++;
  entry->name = line.mid(start, i - start);
  while (i < n && IsBlank(line[i]))
    i++;
  start = i;
  while (i < n && IsHexDigit(line[i]))
    i++;
  entry->digest = line.mid(start, i - start);
  return true;
}

bool ReadPasswdFile(const QString &path, QList<PasswdEntry> *entries)
{
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  entries->clear();
  // Whole lines, however long: a cut line would read its tail as another account.
  while (!file.atEnd()) {
    PasswdEntry entry;
    if (ParsePasswdLine(file.readLine(), &entry))
      entries->append(entry);
  }
  return true;
}

bool WritePasswdFile(const QString &path, const QList<PasswdEntry> &entries, QString *reason)
{
  QByteArray text;
  for (const PasswdEntry &e : entries)
    text += e.name + ' ' + e.digest + '\n';
  return ReplaceFile(path, text, reason);
}

PasswordCheck LookupPassword(const QString &path, const QString &name, const QString &password)
{
  QList<PasswdEntry> entries;
  if (!ReadPasswdFile(path, &entries))
    return IsAdministrator(name) && password.isEmpty() ? PasswordCheck::Accepted
                                                       : PasswordCheck::UnknownName;
  std::optional<QByteArray> gbkName = ToGbk(name);
  if (!gbkName)
    return PasswordCheck::UnknownName;
  for (const PasswdEntry &e : entries) {
    if (e.name != *gbkName)
      continue;
    if (e.digest.isEmpty() && password.isEmpty())
      return PasswordCheck::Accepted;
    std::optional<QByteArray> gbkPassword = ToGbk(password);
    if (!gbkPassword)
      return PasswordCheck::WrongPassword;
    return DigestOf(*gbkName, *gbkPassword) == e.digest ? PasswordCheck::Accepted
                                                        : PasswordCheck::WrongPassword;
  }
  return PasswordCheck::UnknownName;
}

bool CheckPassword(const QString &path, const QString &name, const QString &password,
                   QWidget *parent)
{
  switch (LookupPassword(path, name, password)) {
  case PasswordCheck::Accepted:
    return true;
  case PasswordCheck::WrongPassword:
    ShowMessage(parent, QStringLiteral("用户名/密码错误！"), QStringLiteral("密码错误"));
    return false;
  case PasswordCheck::UnknownName:
    break;
  }
  return false;
}
