/* The line map "linemap": the operator's names for the lines and the order of
 * the rows, kept across restarts. One line per row, "machine line name\n"
 * (machine id, line id in decimal, display name in GBK). A line is read as
 * three blank-separated fields, so a name is read back only up to its first
 * blank; a line without all three fields is skipped. */
#ifndef CONSOLE_LINEMAP_H
#define CONSOLE_LINEMAP_H

#include <QByteArray>
#include <QList>
#include <QString>

#define LINEMAP_FILE "linemap"

struct LineMapEntry {
  QByteArray machineId;           /* as the engine reports it, at most 127 bytes */
  int lineId = 0;                 /* the engine's line id */
  QString name;                   /* display name */
};

/* Splits one line of the file (its line feed removed or not): a word, a
 * decimal integer, a word. The machine id is cut to 127 bytes and the name to
 * 127 characters. False when a field is missing or the number does not fit. */
bool ParseLineMapLine(const QByteArray &line, LineMapEntry *entry);

/* The entries of the file in file order; false when it cannot be opened. */
bool ReadLineMap(const QString &path, QList<LineMapEntry> *entries);

/* Replaces the file with one line per entry. The old file stays whole until
 * the new one is complete. False when nothing could be written, or when a name
 * has a character with no GBK form (the file is then left as it was); *reason
 * (when given) says why in the operator's words. */
bool WriteLineMap(const QString &path, const QList<LineMapEntry> &entries,
                  QString *reason = nullptr);

#endif
