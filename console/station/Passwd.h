/* The password file "passwd" of the working directory and the password check
 * that the login, the shift change and the password changes share.
 *
 * One account per line: optional blanks, the operator name (non-blank bytes),
 * blanks, the account's digest (hexadecimal digits; the rest of the line is
 * ignored). A line whose first non-blank character is "#" is a comment. An
 * empty digest means the account has no password. Names and digests stay GBK
 * bytes here, exactly as the file holds them. */
#ifndef CONSOLE_PASSWD_H
#define CONSOLE_PASSWD_H

#include <QByteArray>
#include <QList>
#include <QString>

class QWidget;

#define PASSWD_FILE "passwd"
#define ADMIN_NAME "admin"        /* the administrator; also the built-in account */
#define DIGEST_HEX_LEN 32         /* first 16 of the 20 SHA-1 bytes, two digits each */

struct PasswdEntry {
  QByteArray name;                /* operator name, GBK */
  QByteArray digest;              /* the digits as stored; empty: no password */
};

enum class PasswordCheck {
  Accepted,
  WrongPassword,                  /* the name is there, the password does not match */
  UnknownName,                    /* no line carries the name */
};

/* SHA-1 over the GBK bytes of name followed by those of password, no separator;
 * its first 16 bytes as 32 lower-case hexadecimal digits. Empty when either
 * text has a character with no GBK form. */
QByteArray PasswordDigest(const QString &name, const QString &password);

/* True for the administrator: the name "admin" exactly, letter case significant. */
bool IsAdministrator(const QString &name);

/* Splits one line (its line feed removed or not). False for a comment and for
 * a line that holds only blanks: such a line would be an account with an empty
 * name and no password, which nobody should be able to log in as. */
bool ParsePasswdLine(const QByteArray &line, PasswdEntry *entry);

/* Every account of the file in file order; false when it cannot be opened. */
bool ReadPasswdFile(const QString &path, QList<PasswdEntry> *entries);

/* Replaces the file with one line per entry, "name digest\n" (an entry without
 * digest gives the name, a blank and the line feed). The old file stays whole
 * until the new one is complete. False when it could not be written, and
 * *reason (when given) says why in the operator's words. */
bool WritePasswdFile(const QString &path, const QList<PasswdEntry> &entries,
                     QString *reason = nullptr);

/* The verdict of the file on a name and password. The first line that carries
 * the name decides. Without a readable file only "admin" with an empty
 * password is accepted. */
PasswordCheck LookupPassword(const QString &path, const QString &name, const QString &password);

/* The check every road of the console uses: true when accepted. A wrong
 * password for a known name also tells the operator ("用户名/密码错误！"); an
 * unknown name is refused silently. */
bool CheckPassword(const QString &path, const QString &name, const QString &password,
                   QWidget *parent = nullptr);

#endif
