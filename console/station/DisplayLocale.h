/* The console shows every date and time in Chinese form, whatever locale the
 * machine runs under: the date pickers, the calendar, the receipt, and Qt's
 * own dialogs where their Chinese texts are installed. Only what is shown
 * changes: files and the engine keep their fixed forms ("%Y-%m-%d %H:%M:%S",
 * money with a point, Money.h). */
#ifndef CONSOLE_DISPLAYLOCALE_H
#define CONSOLE_DISPLAYLOCALE_H

#include <QDateTime>
#include <QLocale>
#include <QString>

/* zh_CN. */
QLocale ChineseLocale();

/* Makes zh_CN the locale of every window made from now on, and loads Qt's
 * Chinese texts for its standard dialogs (print, file, message box buttons)
 * when the machine has them. Call once the application exists. */
void UseChineseDisplay();

/* "2026年12月9日 14:03:05". */
QString DateTimeText(const QDateTime &time);

#endif
