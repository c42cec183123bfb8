/* The shift record "lastlog": who is on duty and what the shift has taken so
 * far, so that a restart does not lose the takings. One line, "name total"
 * with two decimals and no line feed; the name is GBK. Also the money text
 * the console shows and stores everywhere. */
#ifndef CONSOLE_SHIFTLOG_H
#define CONSOLE_SHIFTLOG_H

#include <QByteArray>
#include <QString>

#define LASTLOG_FILE "lastlog"

/* True when the record names operatorName (byte comparison of the GBK name);
 * *total then takes the record's amount (0 when no float can hold it). False,
 * *total untouched, when the file cannot be read, holds fewer than two words,
 * or names someone else. */
bool ReadLastLog(const QString &path, const QString &operatorName, float *total);

/* Replaces the record with operatorName and total. The old record stays whole
 * until the new one is complete; false when nothing could be written, and
 * *reason (when given) says why in the operator's words. */
bool WriteLastLog(const QString &path, const QString &operatorName, float total,
                  QString *reason = nullptr);

/* The leading decimal number of a word as the C library reads it ("12.5x" is
 * 12.5, "abc" is 0), independent of the process's locale. A value that is not
 * finite ("inf", "nan", out of range) reads as 0: no amount of money is that. */
double ParseDecimal(const QByteArray &word);

/* An amount with two decimals and a point, whatever the locale: 12.5 -> "12.50". */
QString FormatMoney(float amount);

#endif
