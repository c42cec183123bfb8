/* The shift history: every handover of the counter is appended to the
 * engine's table "shifttbl" (when the ending shift began, the moment of the
 * handover, the outgoing operator, the shift's takings, the incoming
 * operator), and read back over a range beside the bills each outgoing
 * operator stored during the shift.
 *
 * When a shift began: at the handover that started it, or at the login that
 * started it at 0 (when "lastlog" did not continue a shift of that operator).
 * That moment is kept in the file "shiftstart" ("%Y-%m-%d %H:%M:%S name", GBK,
 * no line feed), written whenever a shift starts, so that a restart that
 * continues the shift through "lastlog" continues its beginning too. A
 * continued shift without a "shiftstart" of its operator (the file was lost,
 * or the station ran a release without it) is counted from that login. */
#ifndef CONSOLE_SHIFTRECORD_H
#define CONSOLE_SHIFTRECORD_H

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "Money.h"

#define SHIFTSTART_FILE "shiftstart"

/* The engine's time text of a moment, "%Y-%m-%d %H:%M:%S". */
QByteArray StationTime(const QDateTime &moment);

/* True, and *when the moment, when the file names operatorName. */
bool ReadShiftStart(const QString &path, const QString &operatorName, QByteArray *when);
/* Replaces the file; false, and *reason in the operator's words, when it could
 * not be written. */
bool WriteShiftStart(const QString &path, const QString &operatorName, const QByteArray &when,
                     QString *reason = nullptr);

/* Appends the handover; false when a name has no GBK form or the engine did
 * not store the row. */
bool StoreHandover(const QByteArray &begin, const QByteArray &end, const QString &outgoing, Cents takings,
                   const QString &incoming);

/* One handover as the report lists it. */
struct ShiftRow {
  QByteArray begin;               /* when the shift began */
  QByteArray end;                 /* the handover */
  QString outgoing;
  QString incoming;
  Cents takingsCents = 0;         /* what was handed over */
  int bills = 0;                  /* bills the outgoing operator stored within begin..end */
  Cents billCents = 0;            /* their amounts */
};

/* The handovers whose moment lies in from..to (both inclusive), oldest first.
 * False when the engine refused the query. */
bool QueryShifts(const QByteArray &from, const QByteArray &to, QList<ShiftRow> *rows);

/* "相符" when what was handed over matches the bills, "短款 2.50" when it is
 * 2.50 less, "长款 1.00" when it is 1.00 more. */
QString ShiftDifferenceText(Cents takingsCents, Cents billCents);

#endif
