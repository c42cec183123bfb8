/* Operator accounts as the user manager and the own password change edit
 * them. The user manager rewrites the whole password file from its list
 * (comment lines do not survive that); the own password change replaces only
 * the operator's own lines and keeps every other line as it was. Plain
 * functions over the file; the entries are those of Passwd.h. */
#ifndef CONSOLE_USERS_H
#define CONSOLE_USERS_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "Passwd.h"

/* The accounts of the file in file order; "admin" without a password when the
 * file cannot be read. */
QList<PasswdEntry> LoadUsers(const QString &path);

/* Index of the account whose name equals name without regard to letter case,
 * or -1. */
qsizetype FindUser(const QList<PasswdEntry> &users, const QString &name);

/* Where the account at index of before stands in now (the file read again):
 * the entry with the same name, the same how-many-th of that name (the login
 * heeds only the first); -1 when it is gone or index is not one of before. */
qsizetype FindUserAgain(const QList<PasswdEntry> &before, qsizetype index, const QList<PasswdEntry> &now);

/* Why name and password cannot make an account that logs in as typed, in
 * words for the operator, or empty when they can. A name must be there, hold
 * no blank and not begin with "#" (the file would read it as another account,
 * one without a password, or a comment); both must have a GBK form. */
QString NewUserFault(const QString &name, const QString &password);

/* The account line "name digest\n" of name and password; empty when either
 * has no GBK form. */
QByteArray PasswordLine(const QString &name, const QString &password);

/* The operator's own new password: every line that names the operator (after
 * leading blanks, the name followed by a blank, the line end or nothing) is
 * replaced by the new account line, all other lines stay byte for byte; a
 * missing file gets the one line. False, nothing changed, when the file
 * exists but cannot be read, cannot be replaced, or the texts have no GBK
 * form; *reason (when given) then says why in the operator's words. */
bool SetOwnPassword(const QString &path, const QString &name, const QString &password, QString *reason = nullptr);

#endif
