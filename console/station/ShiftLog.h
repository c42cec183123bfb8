/* The shift record "lastlog": who is on duty and what the shift has taken so
 * far, so that a restart does not lose the takings. One line, "name total"
 * with two decimals and no line feed; the name is GBK. */
#ifndef CONSOLE_SHIFTLOG_H
#define CONSOLE_SHIFTLOG_H

#include <QByteArray>
#include <QString>

#include "Money.h"

#define LASTLOG_FILE "lastlog"

/* True when the record names operatorName (byte comparison of the GBK name);
 * *total then takes the record's amount in fen (CentsOfText: 0 when it is no
 * amount of money). False,
 * *total untouched, when the file cannot be read, holds fewer than two words,
 * or names someone else. */
bool ReadLastLog(const QString &path, const QString &operatorName, Cents *total);

/* Whoever the record names, with the record's amount; false when the file
 * cannot be read or holds fewer than two words. */
bool ReadLastLogOwner(const QString &path, QString *operatorName, Cents *total);

/* Replaces the record with operatorName and total. The old record stays whole
 * until the new one is complete; false when nothing could be written, and
 * *reason (when given) says why in the operator's words. */
bool WriteLastLog(const QString &path, const QString &operatorName, Cents total, QString *reason = nullptr);

#endif
