/* The password file: digests, line splitting, reading and writing the file,
 * and the password check with its message. */
#include "Passwd.h"

#include <QCryptographicHash>
#include <QFile>
#include <QPasswordDigestor>
#include <QRandomGenerator>

#include "Gbk.h"
#include "Modal.h"
#include "SaveFile.h"
#include "Words.h"

namespace {

bool IsHexDigit(char c)
{
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsLowerHex(const QByteArray &text)
{
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return false;
  return true;
}

QByteArray LegacyDigestOf(const QByteArray &name, const QByteArray &password)
{
  QCryptographicHash sha1(QCryptographicHash::Sha1);
  sha1.addData(name);
  sha1.addData(password);
  return sha1.result().left(DIGEST_HEX_LEN / 2).toHex();
}

QByteArray SaltedDigestOf(const QByteArray &password, const QByteArray &salt, quint32 iterations)
{
  const QByteArray key = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password, salt, iterations, 32);
  return SALTED_DIGEST_TAG + QByteArray::number(iterations, 16).rightJustified(8, '0') + salt.toHex() + key.toHex();
}

bool IsSalted(const QByteArray &digest)
{
  return digest.size() == SALTED_DIGEST_HEX_LEN && digest.startsWith(SALTED_DIGEST_TAG) && IsLowerHex(digest);
}

bool IsLegacy(const QByteArray &digest)
{
  return digest.size() == DIGEST_HEX_LEN && IsLowerHex(digest);
}

/* Whether the stored text is a digest at all: hexadecimal digits only. */
bool IsDigestText(const QByteArray &digest)
{
  for (char c : digest)
    if (!IsHexDigit(c))
      return false;
  return true;
}

bool GbkDigestMatches(const QByteArray &digest, const QByteArray &name, const QByteArray &password)
{
  if (IsLegacy(digest))
    return LegacyDigestOf(name, password) == digest;
  if (!IsSalted(digest))
    return false;
  bool ok = false;
  const quint32 iterations = digest.mid(2, 8).toUInt(&ok, 16);
  // A count nobody wrote would hold the login for minutes: such a digest matches nothing.
  if (!ok || iterations == 0 || iterations > 100 * DIGEST_ITERATIONS)
    return false;
  const QByteArray salt = QByteArray::fromHex(digest.mid(10, 32));
  return SaltedDigestOf(password, salt, iterations) == digest;
}

/* ParsePasswdLine, and where the digest starts in the line. */
bool SplitLine(const QByteArray &line, PasswdEntry *entry, qsizetype *digestAt)
{
  qsizetype i = 0;
  SkipBlanks(line, &i);
  if (i == line.size() || line[i] == '#')
    return false;
  entry->name = NextWord(line, &i);
  SkipBlanks(line, &i);
  *digestAt = i;
  entry->digest = NextWord(line, &i);
  return true;
}

const QString kWhatToDo = QStringLiteral("请从备份恢复文件 passwd，或者把它移走，"
                                         "以 admin 和空密码重新开始（如同第一次启动）。");

}  // namespace

QByteArray PasswordDigest(const QString &, const QString &password)
{
  std::optional<QByteArray> p = ToGbk(password);
  if (!p)
    return QByteArray();
  QByteArray salt(16, '\0');
  QRandomGenerator::system()->generate(salt.begin(), salt.end());
  return SaltedDigestOf(*p, salt, DIGEST_ITERATIONS);
}

QByteArray LegacyPasswordDigest(const QString &name, const QString &password)
{
  std::optional<QByteArray> n = ToGbk(name);
  std::optional<QByteArray> p = ToGbk(password);
  if (!n || !p)
    return QByteArray();
  return LegacyDigestOf(*n, *p);
}

bool DigestMatches(const QByteArray &digest, const QString &name, const QString &password)
{
  std::optional<QByteArray> n = ToGbk(name);
  std::optional<QByteArray> p = ToGbk(password);
  return n && p && GbkDigestMatches(digest, *n, *p);
}

bool IsAdministrator(const QString &name)
{
  return name == QLatin1String(ADMIN_NAME);
}

bool ParsePasswdLine(const QByteArray &line, PasswdEntry *entry)
{
  qsizetype digestAt;
  return SplitLine(line, entry, &digestAt);
}

bool ReadPasswdFile(const QString &path, QList<PasswdEntry> *entries, QString *reason)
{
  QFile file(path);
  if (!OpenStationFile(&file, reason))
    return false;
  entries->clear();
  if (!file.isOpen())
    return true;
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
    return PasswordCheck::Unreadable;
  if (!QFile::exists(path))
    return IsAdministrator(name) && password.isEmpty() ? PasswordCheck::Accepted : PasswordCheck::UnknownName;
  std::optional<QByteArray> gbkName = ToGbk(name);
  if (!gbkName)
    return PasswordCheck::UnknownName;
  for (const PasswdEntry &e : entries) {
    if (e.name != *gbkName)
      continue;
    if (!IsDigestText(e.digest))
      return PasswordCheck::DamagedDigest;
    if (e.digest.isEmpty())
      return password.isEmpty() ? PasswordCheck::Accepted : PasswordCheck::WrongPassword;
    std::optional<QByteArray> gbkPassword = ToGbk(password);
    if (!gbkPassword)
      return PasswordCheck::WrongPassword;
    return GbkDigestMatches(e.digest, *gbkName, *gbkPassword) ? PasswordCheck::Accepted : PasswordCheck::WrongPassword;
  }
  return PasswordCheck::UnknownName;
}

bool UpgradeDigest(const QString &path, const QString &name, const QString &password)
{
  std::optional<QByteArray> gbkName = ToGbk(name);
  QFile file(path);
  if (!gbkName || !OpenStationFile(&file, nullptr) || !file.isOpen())
    return false;
  const QByteArray text = file.readAll();
  file.close();
  // Finds the deciding line and splices the new digest over the old one alone,
  // so comments, order and every other account stay byte for byte.
  qsizetype at = 0;
  while (at < text.size()) {
    qsizetype end = text.indexOf('\n', at);
    end = end < 0 ? text.size() : end + 1;
    PasswdEntry e;
    qsizetype digestAt;
    if (SplitLine(text.mid(at, end - at), &e, &digestAt) && e.name == *gbkName) {
      if (!IsLegacy(e.digest))
        return IsSalted(e.digest);
      if (LegacyPasswordDigest(name, password) != e.digest)
        return false;
      const QByteArray digest = PasswordDigest(name, password);
      if (digest.isEmpty())
        return false;
      QByteArray out = text;
      out.replace(at + digestAt, e.digest.size(), digest);
      return ReplaceFile(path, out, nullptr);
    }
    at = end;
  }
  return false;
}

bool CheckPassword(const QString &path, const QString &name, const QString &password, QWidget *parent)
{
  switch (LookupPassword(path, name, password)) {
  case PasswordCheck::Accepted:
    UpgradeDigest(path, name, password);
    return true;
  case PasswordCheck::WrongPassword:
    ShowMessage(parent, QStringLiteral("用户名/密码错误！"), QStringLiteral("密码错误"));
    return false;
  case PasswordCheck::DamagedDigest:
    ShowMessage(parent,
                QStringLiteral("密码文件 passwd 中“%1”的密码记录已损坏，这个用户不能登录。\n").arg(name) + kWhatToDo,
                QStringLiteral("错误"));
    return false;
  case PasswordCheck::Unreadable: {
    QString reason;
    QList<PasswdEntry> entries;
    ReadPasswdFile(path, &entries, &reason);
    ShowMessage(parent, QStringLiteral("无法读取密码文件 passwd：%1，所有用户都不能登录。\n").arg(reason) + kWhatToDo,
                QStringLiteral("错误"));
    return false;
  }
  case PasswordCheck::UnknownName:
    break;
  }
  return false;
}
