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

#include <optional>

#include "LineText.h"
#include "Money.h"

#define SHIFTSTART_FILE "shiftstart"

/* True, and *when the moment, when the file names operatorName. */
bool ReadShiftStart(const QString &path, const QString &operatorName, QByteArray *when);
/* Replaces the file; false, and *reason in the operator's words, when it could
 * not be written. */
bool WriteShiftStart(const QString &path, const QString &operatorName, const QByteArray &when,
                     QString *reason = nullptr);

/* What the cash drawer should hold at the end of a shift: the cash its
 * operator's checkouts took (paid, plus the deposits counted as paid, less the
 * change), less the refunds given during the shift; the deposits still held
 * for lines lie in the drawer too, but apart. */
struct ShiftDrawer {
  Cents taken = 0;    /* by the shift's checkouts */
  Cents refunded = 0; /* handed back by refunds within the shift */
  Cents held = 0;     /* deposits of lines not settled yet */
  int checkouts = 0;
  Cents Expected() const { return taken - refunded; }
};

/* The checkouts of operatorName and the refunds dated within begin..end
 * (both inclusive) into *drawer (held untouched). False when the engine
 * refused a query. */
bool ReckonDrawer(const QByteArray &begin, const QByteArray &end, const QString &operatorName, ShiftDrawer *drawer);

/* "应有现金 12.50元（收款 15.00元，退款 2.50元），押金 20.00元另计". */
QString DrawerText(const ShiftDrawer &drawer);

/* Appends the handover; false when a name has no GBK form or the engine did
 * not store the row. With a drawer the row keeps what it should hold, the
 * cash counted (none: not counted) and whether it was handed over at the
 * counter or written later for a shift that ended with the program. */
bool StoreHandover(const QByteArray &begin, const QByteArray &end, const QString &outgoing, Cents takings,
                   const QString &incoming);
bool StoreHandover(const QByteArray &begin, const QByteArray &end, const QString &outgoing, Cents takings,
                   const QString &incoming, const ShiftDrawer &drawer, std::optional<Cents> counted, bool handedOver);

/* One handover as the report lists it. */
struct ShiftRow {
  QByteArray begin; /* when the shift began */
  QByteArray end;   /* the handover */
  QString outgoing;
  QString incoming;
  Cents takingsCents = 0;       /* what was handed over */
  int bills = 0;                /* bills the outgoing operator stored within begin..end */
  Cents billCents = 0;          /* their amounts */
  bool handedOver = true;       /* else written at the next login (未交班) */
  bool drawerKnown = false;     /* expected and held were kept (not by older stations) */
  Cents expected = 0;           /* what the drawer should have held */
  Cents held = 0;               /* deposits held apart */
  std::optional<Cents> counted; /* the cash counted at the handover */
};

/* The handovers whose moment lies in from..to (both inclusive), oldest first.
 * False when the engine refused the query. */
bool QueryShifts(const QByteArray &from, const QByteArray &to, QList<ShiftRow> *rows);

/* "相符" when what was handed over matches the bills, "短款 2.50" when it is
 * 2.50 less, "长款 1.00" when it is 1.00 more. */
QString ShiftDifferenceText(Cents takingsCents, Cents billCents);

/* The counted cash against what the drawer should hold: "0.00", "-2.50"
 * (short), "+1.00" (over). */
QString DrawerDifferenceText(Cents counted, Cents expected);

#endif
