/* Tables saved as CSV files for a spreadsheet: UTF-8 with a byte-order mark
 * (without it a spreadsheet on a Chinese system reads the bytes as GBK),
 * fields separated by commas, lines ended by CR LF, and a field quoted as
 * RFC 4180 does it when it holds a comma, a double quote, a CR or an LF (a
 * quote inside is doubled). Dialled numbers come from the gateways: a field
 * that a spreadsheet would run as a formula ("=...", "@...", "+" or "-" before
 * anything but a digit or a point) is written behind an apostrophe. */
#ifndef CONSOLE_CSVFILE_H
#define CONSOLE_CSVFILE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

/* The field as it goes into a line. */
QByteArray CsvField(const QString &text);

/* The file's bytes: the mark, then one line per row (the heading first). */
QByteArray CsvText(const QList<QStringList> &rows);

/* Replaces the file with the rows; the old file stays whole until the new one
 * is complete. False, and *reason in the operator's words, when it could not
 * be written. */
bool WriteCsvFile(const QString &path, const QList<QStringList> &rows, QString *reason);

#endif
