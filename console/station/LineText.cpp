/* State captions and tints, default line names and call times of the line
 * monitor. */
#include "LineText.h"

#include <cstdio>
#include <cstring>

#include "Gbk.h"

LineState StateOfLine(const char *status, const char *dialled)
{
  if (std::strcmp(status, "IDLE") == 0) {
    if (dialled[0] != '\0')
      return {LINE_DIALLING, QStringLiteral("拨号中")};
    return {LINE_IDLE, QStringLiteral("空闲")};
  }
  if (std::strcmp(status, "CONNECTED") == 0)
    return {LINE_IN_CALL, QStringLiteral("通话中")};
  if (std::strcmp(status, "UNKNOWN") == 0)
    return {LINE_OFFLINE, QStringLiteral("离线")};
  if (std::strcmp(status, "FORBIDDEN") == 0)
    return {LINE_DISABLED, QStringLiteral("禁用")};
  return {LINE_OTHER, EngineText(status)};
}

QColor StateTint(unsigned char code)
{
  switch (code) {
  case LINE_IDLE:
    return QColor(0xFF, 0xFF, 0xFF);
  case LINE_DIALLING:
    return QColor(0xFC, 0xE3, 0x8A);
  case LINE_IN_CALL:
    return QColor(0x9C, 0xC9, 0xF0);
  case LINE_DISABLED:
    return QColor(0xE5, 0x90, 0x50);
  case LINE_OFFLINE:
    return QColor(0x8A, 0x8A, 0x8A);
  default:
    return QColor();
  }
}

QString DefaultLineName(int machineNumber, int lineId)
{
  return QStringLiteral("终端%1线路#%2")
      .arg(machineNumber, 2, 10, QLatin1Char('0'))
      .arg(static_cast<long long>(lineId) + 1);
}

std::optional<QString> CallTimeText(const char *begin, const QDateTime &now)
{
  int year, month, day, hour, minute, second;
  if (std::sscanf(begin, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
    return std::nullopt;
  const QDateTime start(QDate(year, month, day), QTime(hour, minute, second));
  if (!start.isValid())
    return std::nullopt;
  long long seconds = start.secsTo(now);
  if (seconds < 0)
    seconds = 0;
  seconds %= 24 * 3600;
  const int h = static_cast<int>(seconds / 3600);
  const int m = static_cast<int>(seconds % 3600 / 60);
  const int s = static_cast<int>(seconds % 60);
  return QStringLiteral("%1:%2:%3")
      .arg(h, 2, 10, QLatin1Char('0'))
      .arg(m, 2, 10, QLatin1Char('0'))
      .arg(s, 2, 10, QLatin1Char('0'));
}

QByteArray StationTime(const QDateTime &moment)
{
  if (!moment.isValid())
    return QByteArray();
  // By hand rather than QDateTime::toString: the digits stay ASCII whatever
  // locale the window shows its dates in.
  const QDate d = moment.date();
  const QTime t = moment.time();
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                t.second());
  return QByteArray(text);
}

QString EngineText(const char *text)
{
  if (!text)
    return QString();
  // Numbers and times are plain ASCII: they need no decoder, and every poll
  // converts a few hundred of them.
  const char *p = text;
  while (*p && static_cast<unsigned char>(*p) < 0x80)
    p++;
  if (!*p)
    return QString::fromLatin1(text, p - text);
  return FromGbk(QByteArray(text));
}
