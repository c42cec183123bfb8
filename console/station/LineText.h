/* What the line monitor shows of one reported line: the state caption of the
 * engine's status text and the row's tint, the default name of a line met for
 * the first time, and the running time of a call in progress; the poll's
 * moment in the engine's form. Plain functions, no window. */
#ifndef CONSOLE_LINETEXT_H
#define CONSOLE_LINETEXT_H

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QString>

#include <optional>

#define LINE_NAME_MAX 127  /* characters of a display name */
#define MACHINE_ID_MAX 127 /* bytes of a machine id the engine reports */

/* State codes of the "状态" column. */
#define LINE_OFFLINE 0     /* "UNKNOWN": the line has fallen silent */
#define LINE_IDLE 1        /* "IDLE", nothing dialled */
#define LINE_DIALLING 2    /* "IDLE" with digits dialled so far */
#define LINE_IN_CALL 3     /* "CONNECTED" */
#define LINE_DISABLED 4    /* "FORBIDDEN" */
#define LINE_NOT_SHOWN 254 /* nothing shown yet: the next report writes the caption */
#define LINE_OTHER 255     /* any other status text, shown as it is */

struct LineState {
  unsigned char code; /* one of the codes above, never LINE_NOT_SHOWN */
  QString caption;    /* text of the "状态" column */
};

/* The state of a line from its status text and dialled number (GBK bytes, as
 * the engine reports them). */
LineState StateOfLine(const char *status, const char *dialled);

/* The row's background in a state, readable at a glance on a cheap monitor
 * and by colour-blind eyes: the five states step down in lightness, about
 * 10 CIE L* apart (idle white 100, dialling pale yellow 90, in call sky blue
 * 79, disabled orange 67, offline grey 57), with hues on the blue-orange axis
 * that every kind of colour vision tells apart; bold black text keeps a
 * contrast of at least 6:1 on each. The state's caption says it in words as
 * well. An invalid colour for any other state: the list's own background. */
QColor StateTint(unsigned char code);

/* "终端%02d线路#%d": machineNumber counts machines from 1 in the order they were
 * first met; lineId is the engine's (from 0) and shows from 1. */
QString DefaultLineName(int machineNumber, int lineId);

/* Time since the call began, "hh:mm:ss" within one day (it starts again after
 * 23:59:59). begin is the engine's "%Y-%m-%d %H:%M:%S" local time. Nothing when
 * begin cannot be read; a begin later than now (the clock was set back) shows
 * 00:00:00. */
std::optional<QString> CallTimeText(const char *begin, const QDateTime &now);

/* The moment as the engine writes its times (a call's start and end, a bill's,
 * a checkout's, a handover's): "%Y-%m-%d %H:%M:%S" local time, fractions of a
 * second cut off, ASCII digits whatever the locale, so that text order is time
 * order. Empty for an invalid moment. */
QByteArray StationTime(const QDateTime &moment);

/* A text the engine reports (GBK bytes; null reads as empty) for the window. */
QString EngineText(const char *text);

#endif
