/* Deposits: money a customer leaves at the counter before he calls, kept per
 * line in "deposits" so that a restart of the station keeps them, and where a
 * line stands against its deposit as its calls cost more. The file is GBK
 * text, one line per line with a deposit: "machine line amount\n" (machine id
 * as the engine reports it, line id in decimal, the amount with a point and
 * two decimals whatever the locale). A machine id with a blank is quoted as
 * in the line map, and the file then begins with QUOTED_FIELDS_MARK
 * (LineMap.h); without it the file reads as earlier releases wrote it. Plain
 * functions, no window. */
#ifndef CONSOLE_DEPOSITS_H
#define CONSOLE_DEPOSITS_H

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>

#include "Money.h"

#define DEPOSITS_FILE "deposits"

#define DEPOSIT_WARNING_PERCENT 90 /* of the deposit used: the row warns */

struct Deposit {
  QByteArray machineId; /* as the engine reports it, at most 127 bytes */
  int lineId = 0;       /* the engine's line id */
  Cents amount = 0;     /* more than 0 */
};

/* Where a line stands against its deposit, in the order a call passes them. */
enum DepositLevel : unsigned char {
  DEPOSIT_NONE,    /* no deposit */
  DEPOSIT_LEFT,    /* less than DEPOSIT_WARNING_PERCENT used */
  DEPOSIT_LOW,     /* that much used: the row warns, the window beeps */
  DEPOSIT_USED_UP, /* all used: the line is denied */
};

/* The deposits of the file in file order. Without a file there are none:
 * true. A line without the three fields, with an amount that is not a
 * positive number, or for a line listed before, is skipped (the first one
 * counts). False when the file is there but cannot be read; *reason (when
 * given) then says why in the operator's words. */
bool ReadDeposits(const QString &path, QList<Deposit> *deposits, QString *reason = nullptr);

/* Replaces the file with one line per deposit; the old file stays whole until
 * the new one is complete. False when it could not be written; *reason (when
 * given) says why in the operator's words. */
bool WriteDeposits(const QString &path, const QList<Deposit> &deposits, QString *reason = nullptr);

/* The index of the line's deposit, or -1. */
qsizetype FindDeposit(const QList<Deposit> &deposits, const QByteArray &machineId, int lineId);

/* The level of a deposit with used of it spent (the line's unsettled calls
 * and its call in progress). DEPOSIT_NONE for a deposit of 0 or less. */
DepositLevel DepositLevelOf(Cents deposit, Cents used);

/* What one check of a line finds, given the level it showed so far: the
 * level from now on, and whether the window beeps and the line is denied
 * now. A level once reached holds (the figures dip for a poll when a call has
 * ended but is not stored yet), so each threshold is crossed once per
 * deposit: the beep when DEPOSIT_LOW is first reached or passed, the denial
 * when DEPOSIT_USED_UP is. Without a deposit the level is DEPOSIT_NONE. */
struct DepositCheck {
  DepositLevel level;
  bool beep;
  bool deny;
};
DepositCheck CheckDeposit(DepositLevel shown, Cents deposit, Cents used);

/* The row's "押金" text at that level: "10.00元，余7.60元", then "…，将用完"
 * from DEPOSIT_LOW on, and "10.00元，押金用完" (", 超出0.30元" when more was
 * used) once used up. Empty without a deposit. */
QString DepositText(Cents deposit, Cents used, DepositLevel level);

/* The row's look from DEPOSIT_LOW on, over whatever state the line is in:
 * white text on a dark red. The states' tints are light with black text
 * (LineText.h), so the warning row is the one dark row with light text,
 * which every kind of colour vision tells at a glance; white keeps a
 * contrast of 6.5:1 on it. The "押金" text says it in words as well. */
QColor DepositWarningTint();
QColor DepositWarningText();

#endif
