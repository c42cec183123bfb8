/* The console's files and every text it hands to the engine are GBK bytes; the
 * windows show Unicode. ToGbk and FromGbk are the only crossing between them;
 * GbkCut fits GBK bytes to a field. */
#ifndef CONSOLE_GBK_H
#define CONSOLE_GBK_H

#include <QByteArray>
#include <QString>

#include <optional>

/* GBK bytes of text; nothing when a character has no GBK form (a substitute
 * character would let two different names or passwords meet in one text). */
std::optional<QByteArray> ToGbk(const QString &text);

/* Unicode of GBK bytes; a malformed byte shows as the replacement character. */
QString FromGbk(const QByteArray &bytes);

/* GBK bytes cut to at most max bytes without splitting a double-byte
 * character, as the engine cuts a text to its field. */
QByteArray GbkCut(const QByteArray &bytes, qsizetype max);

#endif
