/* The console's files and every text it hands to the engine are GBK bytes; the
 * windows show Unicode. These two calls are the only crossing between them. */
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

#endif
