/* The statistics report's groups and chart without a window: the settled
 * calls of a range counted, timed and summed per line, rate rule, operator or
 * day (one grouped query of the engine), the takings per day or per hour of
 * the range for the chart, and the texts the window shows of them. */
#ifndef CONSOLE_REPORTGROUPS_H
#define CONSOLE_REPORTGROUPS_H

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "Money.h"

/* How the listed calls are grouped; the values are the engine's QUENTA_GROUP_*. */
enum ReportGrouping {
  GroupNone = 0, /* the calls one by one, as the report lists them */
  GroupLine = 1,
  GroupRule = 2,  /* the rate rule that prices the dialled number */
  GroupAdmin = 3, /* the operator who settled the call */
  GroupDay = 4,
};

/* The captions of the grouping choice, in the order of ReportGrouping. */
QStringList GroupingCaptions();
/* The caption of the group column for a grouping ("线路", "费率", ...). */
QString GroupColumnCaption(ReportGrouping by);

/* The operator's names of the lines, by machine id and line id. */
using LineNames = QHash<QPair<QByteArray, int>, QString>;

/* The line's name, or "<machine> 线路#<line + 1>" for a line without one. */
QString LineCaption(const QByteArray &machine, int line, const LineNames &lines);

/* One group as the window lists it. */
struct GroupRow {
  QString name; /* the line's name, rule name, operator or day */
  int calls = 0;
  qint64 seconds = 0; /* durations added */
  qint64 cents = 0;   /* amounts added, each to the cent */
};

/* What one query gives the window: the groups in the engine's order (empty
 * for GroupNone) and the takings per bucket of the chart. */
struct ReportSummary {
  QList<GroupRow> groups;
  QHash<QByteArray, qint64> bucketCents; /* "%Y-%m-%d" or "%Y-%m-%d %H": cents */
  int calls = 0;                         /* every listed call */
  qint64 seconds = 0;
  qint64 cents = 0;
};

/* True when the chart of the range goes by hour: both ends on one day. */
bool ChartByHour(const QByteArray &from, const QByteArray &to);

/* One grouped query of the engine over from..to (begin times in the engine's
 * form, both ends inclusive), bucketed for the chart. False when the engine
 * refused it; *summary then holds what arrived. */
bool QueryReportSummary(const QByteArray &from, const QByteArray &to, ReportGrouping by, const LineNames &lines,
                        ReportSummary *summary);

/* A point of the chart: the start of a day or an hour and its takings. */
struct ChartPoint {
  QDateTime start;
  qint64 cents = 0;
};

/* Every day (or hour) from the one holding from to the one holding to, in
 * order, with the takings of the summary's buckets and 0 for the rest. A
 * range of more than CHART_MAX_DAYS days ("everything since 2000") is drawn
 * from its first day with takings to its last: a point per day of the whole
 * range would be millions of points and hold the window for many seconds. */
#define CHART_MAX_DAYS 366
QList<ChartPoint> ChartPoints(const QByteArray &from, const QByteArray &to,
                              const QHash<QByteArray, qint64> &bucketCents);

/* Minutes with one decimal: 95 seconds is "1.6". */
QString MinutesText(qint64 seconds);

#endif
