/* Words of the station's text files ("passwd", "lastlog", "linemap",
 * "deposits", "rateinfo"), split as the C library's scanf splits them in the C
 * locale: on spaces, tabs, line ends, vertical tabs and form feeds. GBK trail
 * bytes are never among these, so splitting on them never cuts a Chinese
 * character. */
#ifndef CONSOLE_WORDS_H
#define CONSOLE_WORDS_H

#include <QByteArray>

/* True for the C library's white space in the C locale. */
bool IsBlank(char c);

/* Moves *pos past the blanks that start there. */
void SkipBlanks(const QByteArray &text, qsizetype *pos);

/* The word after the blanks from *pos on, *pos behind it; empty at the end. */
QByteArray NextWord(const QByteArray &text, qsizetype *pos);

#endif
