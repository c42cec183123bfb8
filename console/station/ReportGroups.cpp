/* The grouped query of the report, the chart's buckets and the group texts. */
#include "ReportGroups.h"

#include "quenta/quenta.h"

#include "LineText.h"
#include "RateFile.h"

namespace {

const char *const kTimeFormat = "yyyy-MM-dd HH:mm:ss";

struct Collect {
  ReportGrouping by;
  const LineNames *lines;
  ReportSummary *summary;
  QByteArray lastKey; /* the group of the last row */
  int lastLine = -1;
};

QString GroupName(ReportGrouping by, const QByteArray &key, int line, const LineNames &lines)
{
  switch (by) {
  case GroupLine:
    return LineCaption(key, line, lines);
  case GroupRule:
    if (key.isEmpty())
      return QStringLiteral("（无费率）");
    return key == DEFAULT_RULE_NAME ? QStringLiteral("默认费率") : EngineText(key.constData());
  default:
    return EngineText(key.constData());
  }
}

/* Rows come ordered by key, line and bucket: a group's buckets are adjacent. */
void GroupArrived(void *record, void *param)
{
  auto *c = static_cast<Collect *>(param);
  const auto *g = static_cast<const report_group *>(record);
  const QByteArray key = FIELD_TEXT(g->m_key);
  if (c->by != GroupNone && (c->summary->groups.isEmpty() || key != c->lastKey || g->m_lineid != c->lastLine)) {
    c->summary->groups.append({GroupName(c->by, key, g->m_lineid, *c->lines), 0, 0, 0});
    c->lastKey = key;
    c->lastLine = g->m_lineid;
  }
  if (c->by != GroupNone) {
    GroupRow &row = c->summary->groups.last();
    row.calls += g->m_calls;
    row.seconds += g->m_seconds;
    row.cents += g->m_cents;
  }
  c->summary->bucketCents[FIELD_TEXT(g->m_bucket)] += g->m_cents;
  c->summary->calls += g->m_calls;
  c->summary->seconds += g->m_seconds;
  c->summary->cents += g->m_cents;
}

QDateTime TimeOf(const QByteArray &text)
{
  return QDateTime::fromString(QString::fromLatin1(text), QLatin1String(kTimeFormat));
}

}  // namespace

QStringList GroupingCaptions()
{
  return {QStringLiteral("不分组"), QStringLiteral("按线路"), QStringLiteral("按费率"), QStringLiteral("按操作员"),
          QStringLiteral("按日期")};
}

QString GroupColumnCaption(ReportGrouping by)
{
  switch (by) {
  case GroupLine:
    return QStringLiteral("线路");
  case GroupRule:
    return QStringLiteral("费率");
  case GroupAdmin:
    return QStringLiteral("操作员");
  case GroupDay:
    return QStringLiteral("日期");
  default:
    return QString();
  }
}

bool ChartByHour(const QByteArray &from, const QByteArray &to)
{
  return from.left(10) == to.left(10);
}

bool QueryReportSummary(const QByteArray &from, const QByteArray &to, ReportGrouping by, const LineNames &lines,
                        ReportSummary *summary)
{
  *summary = ReportSummary();
  Collect collect{by, &lines, summary, QByteArray(), -1};
  const int bucket = ChartByHour(from, to) ? QUENTA_BUCKET_HOUR : QUENTA_BUCKET_DAY;
  return quenta_getReportGroups(from.constData(), to.constData(), by, bucket, GroupArrived, &collect) == 0;
}

QList<ChartPoint> ChartPoints(const QByteArray &from, const QByteArray &to,
                              const QHash<QByteArray, qint64> &bucketCents)
{
  QList<ChartPoint> points;
  QDateTime begin = TimeOf(from), end = TimeOf(to);
  if (!begin.isValid() || !end.isValid() || end < begin)
    return points;
  if (begin.daysTo(end) > CHART_MAX_DAYS) {
    QDate first, last;
    for (auto it = bucketCents.cbegin(); it != bucketCents.cend(); ++it) {
      const QDate day = QDate::fromString(QString::fromLatin1(it.key().left(10)), QStringLiteral("yyyy-MM-dd"));
      if (!day.isValid())
        continue;
      first = first.isValid() ? qMin(first, day) : day;
      last = last.isValid() ? qMax(last, day) : day;
    }
    if (!first.isValid())
      return points;
    begin = qMax(begin, QDateTime(first, QTime(0, 0)));
    end = qMin(end, QDateTime(last, QTime(23, 59, 59)));
  }
  const bool hourly = ChartByHour(from, to);
  QDateTime t = hourly ? QDateTime(begin.date(), QTime(begin.time().hour(), 0)) : QDateTime(begin.date(), QTime(0, 0));
  while (t <= end) {
    const QByteArray bucket =
        t.toString(hourly ? QStringLiteral("yyyy-MM-dd HH") : QStringLiteral("yyyy-MM-dd")).toLatin1();
    points.append({t, bucketCents.value(bucket)});
    // By the calendar, not by 3600 s: a day of a clock change keeps its hours.
    t = hourly ? QDateTime(t.date(), t.time().addSecs(3600)) : QDateTime(t.date().addDays(1), QTime(0, 0));
    if (hourly && t.time().hour() == 0)
      break;
  }
  return points;
}

QString MinutesText(qint64 seconds)
{
  const qint64 tenths = (seconds * 10 + 30) / 60;
  return QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
}

QString LineCaption(const QByteArray &machine, int line, const LineNames &lines)
{
  const QString name = lines.value({machine, line});
  return name.isEmpty() ? QStringLiteral("%1 线路#%2").arg(EngineText(machine.constData())).arg(line + 1) : name;
}
