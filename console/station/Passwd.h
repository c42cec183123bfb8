/* The password file "passwd" of the working directory and the password check
 * that the login, the shift change and the password changes share.
 *
 * One account per line: optional blanks, the operator name (non-blank bytes),
 * blanks, the account's digest (non-blank bytes; the rest of the line, after
 * a blank, is ignored). A line whose first non-blank character is "#" is a
 * comment. An account without a digest has no password. Names and digests
 * stay GBK bytes here, exactly as the file holds them.
 *
 * Digests come in two forms, both lower-case hexadecimal digits only:
 *   - salted: "01", the PBKDF2 iteration count in 8 digits, a random 16-byte
 *     salt in 32 digits, and PBKDF2-HMAC-SHA256 of the GBK password under that
 *     salt in 64 digits (106 digits in all). Every new or changed password is
 *     stored so. A station from before salted digests reads the run of digits
 *     as a digest that never matches: a wrong password, never an empty one;
 *   - legacy: the first 16 bytes of SHA-1 over the GBK name and password, 32
 *     digits. Still accepted, and rewritten salted at the account's next
 *     successful login.
 * Any other run of hexadecimal digits is a digest that matches no password
 * (digits in upper case included). A digest with any other byte is damaged:
 * its account is refused until the file is restored or the password reset. */
#ifndef CONSOLE_PASSWD_H
#define CONSOLE_PASSWD_H

#include <QByteArray>
#include <QList>
#include <QString>

class QWidget;

#define PASSWD_FILE "passwd"
#define ADMIN_NAME "admin"        /* the administrator; also the built-in account */
#define DIGEST_HEX_LEN 32         /* legacy: first 16 of the 20 SHA-1 bytes, two digits each */
#define SALTED_DIGEST_TAG "01"    /* first digits of a salted digest */
#define SALTED_DIGEST_HEX_LEN 106 /* tag, iterations (8), salt (32), key (64) */
#define DIGEST_ITERATIONS 20000   /* PBKDF2 rounds of a new digest: about 50 ms a login here */

struct PasswdEntry {
  QByteArray name;   /* operator name, GBK */
  QByteArray digest; /* as stored; empty: no password */
};

enum class PasswordCheck {
  Accepted,
  WrongPassword, /* the name is there, the password does not match */
  UnknownName,   /* no line carries the name */
  DamagedDigest, /* the name's digest is not a digest: refused */
  Unreadable,    /* the file is there but cannot be read: nobody gets in */
};

/* A new digest of the password: the salted form with a fresh random salt.
 * name is not part of it (an account renamed keeps its password). Empty when
 * the password has a character with no GBK form. */
QByteArray PasswordDigest(const QString &name, const QString &password);

/* The legacy digest: SHA-1 over the GBK bytes of name followed by those of
 * password, no separator; its first 16 bytes as 32 lower-case hexadecimal
 * digits. Empty when either text has a character with no GBK form. */
QByteArray LegacyPasswordDigest(const QString &name, const QString &password);

/* True when the digest (a salted one with its own salt and iterations, or a
 * legacy one) is that of name and password. */
bool DigestMatches(const QByteArray &digest, const QString &name, const QString &password);

/* True for the administrator: the name "admin" exactly, letter case significant. */
bool IsAdministrator(const QString &name);

/* Splits one line (its line feed removed or not). False for a comment and for
 * a line that holds only blanks: such a line would be an account with an empty
 * name and no password, which nobody should be able to log in as. */
bool ParsePasswdLine(const QByteArray &line, PasswdEntry *entry);

/* Every account of the file in file order; false when it is there and cannot
 * be read (*reason, when given, says why), true with no entries when there is
 * no file. */
bool ReadPasswdFile(const QString &path, QList<PasswdEntry> *entries, QString *reason = nullptr);

/* Replaces the file with one line per entry, "name digest\n" (an entry without
 * digest gives the name, a blank and the line feed). The old file stays whole
 * until the new one is complete. False when it could not be written, and
 * *reason (when given) says why in the operator's words. */
bool WritePasswdFile(const QString &path, const QList<PasswdEntry> &entries, QString *reason = nullptr);

/* The verdict of the file on a name and password. The first line that carries
 * the name decides. Without a file only "admin" with an empty password is
 * accepted; a file that is there but cannot be read accepts nobody. */
PasswordCheck LookupPassword(const QString &path, const QString &name, const QString &password);

/* Rewrites the digest of the first line that carries name, when it is a
 * legacy digest of this password, as a salted one; every other byte of the
 * file stays as it was. True when the file holds a salted digest for the
 * account afterwards (nothing to do included). */
bool UpgradeDigest(const QString &path, const QString &name, const QString &password);

/* The check every road of the console uses: true when accepted. A wrong
 * password for a known name also tells the operator ("用户名/密码错误！"), and
 * so do a damaged digest and an unreadable file (which file, and what to do);
 * an unknown name is refused silently. An accepted legacy digest is rewritten
 * salted. */
bool CheckPassword(const QString &path, const QString &name, const QString &password, QWidget *parent = nullptr);

#endif
