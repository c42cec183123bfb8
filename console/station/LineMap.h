/* The line map "linemap": the operator's names for the lines and the order of
 * the rows, kept across restarts. One line per row, "machine line name\n"
 * (machine id, line id in decimal, display name in GBK); a line without all
 * three fields is skipped, and so are words after the name.
 *
 * A field is a word. A machine id or a name that holds a blank (or begins
 * with a double quote) is written in double quotes, with a backslash before
 * each backslash and double quote in it and a line feed and a carriage return
 * as "\n" and "\r":
 *
 *   #quoted
 *   GW1 0 "1号 国际台"
 *   "GW 1" 1 VIP
 *
 * and the file then begins with the line QUOTED_FIELDS_MARK. A file without
 * it was written by an earlier release, or holds no such field: there a field
 * is always a word (a name is read up to its first blank, a double quote is a
 * character like any other), as it always was. Earlier releases skip the
 * mark, a line of one word. The deposits' file ("deposits") is written the
 * same way. */
#ifndef CONSOLE_LINEMAP_H
#define CONSOLE_LINEMAP_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

#define LINEMAP_FILE "linemap"
#define QUOTED_FIELDS_MARK "#quoted" /* first line of a file whose fields may be quoted */

struct LineMapEntry {
  QByteArray machineId; /* as the engine reports it, at most 127 bytes */
  int lineId = 0;       /* the engine's line id */
  QString name;         /* display name */
};

/* Splits one line of the file (its line feed removed or not): a field, a
 * decimal integer, a field; fields may be quoted when quoted (the file began
 * with QUOTED_FIELDS_MARK). The machine id is cut to 127 bytes and the name
 * to 127 characters. False when a field is missing or empty, a quote is not
 * closed, or the number does not fit. */
bool ParseLineMapLine(const QByteArray &line, LineMapEntry *entry, bool quoted = false);

/* The field as the file takes it: the bytes themselves when they are one
 * word, else quoted. */
QByteArray FileField(const QByteArray &bytes);
/* True when FileField quotes the bytes: the file then needs QUOTED_FIELDS_MARK. */
bool NeedsQuotes(const QByteArray &bytes);
/* The next field of line from *pos on, which it moves past it: a word, or
 * with quoted a field in quotes, unquoted. Nothing when no field is left or a
 * quote is not closed (or followed by more than a blank). */
std::optional<QByteArray> NextField(const QByteArray &line, qsizetype *pos, bool quoted);
/* True when the line is QUOTED_FIELDS_MARK (blanks around it do not count). */
bool IsQuotedFieldsMark(const QByteArray &line);

/* The entries of the file in file order; false when it cannot be opened. */
bool ReadLineMap(const QString &path, QList<LineMapEntry> *entries);

/* Replaces the file with one line per entry. The old file stays whole until
 * the new one is complete. False when nothing could be written, or when a name
 * has a character with no GBK form (the file is then left as it was); *reason
 * (when given) says why in the operator's words. */
bool WriteLineMap(const QString &path, const QList<LineMapEntry> &entries, QString *reason = nullptr);

#endif
