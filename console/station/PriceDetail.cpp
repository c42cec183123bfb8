/* Reading the engine's detail text of a price. */
#include "PriceDetail.h"

#include <QRegularExpression>
#include <QStringList>

#include "quenta/quenta.h"

#include "Gbk.h"
#include "Money.h"

namespace {

/* "1.20" as "1.20元"; a text that is no amount stays as it is. */
QString Yuan(const QString &amount)
{
  const std::optional<Cents> cents = ParseMoney(amount);
  return cents ? AmountText(*cents) : amount;
}

} // namespace

QString BreakdownText(const QByteArray &rule, const QByteArray &period)
{
  QStringList lines;
  if (rule == ".default")
    lines << QStringLiteral("费率：默认费率");
  else if (!rule.isEmpty())
    lines << QStringLiteral("费率：") + FromGbk(rule);
  static const QRegularExpression stretch(QStringLiteral("^(\\d+:\\d+:\\d+-\\d+:\\d+:\\d+) (\\S+)$"));
  static const QRegularExpression summary(
      QStringLiteral("^(\\S+) in (\\d+) second, handling charge (\\S+) total (\\S+)$"));
  // Every stretch ends in ","; what follows the last one is the summary,
  // which holds a comma of its own.
  QStringList rest;
  for (const QString &part : QString::fromLatin1(period).split(QLatin1Char(','))) {
    const QRegularExpressionMatch m = stretch.match(part.trimmed());
    if (rest.isEmpty() && m.hasMatch())
      lines << QStringLiteral("时段 %1：%2").arg(m.captured(1), Yuan(m.captured(2)));
    else
      rest << part;
  }
  const QString text = rest.join(QLatin1Char(',')).trimmed();
  const QRegularExpressionMatch m = summary.match(text);
  if (!m.hasMatch()) {
    if (!text.isEmpty())
      lines << text;
  } else {
    if (ParseMoney(m.captured(1)).value_or(0) != 0 || m.captured(2) != QLatin1String("0"))
      lines << QStringLiteral("套餐：%1（%2秒内）").arg(Yuan(m.captured(1)), m.captured(2));
    lines << QStringLiteral("手续费：") + Yuan(m.captured(3));
    lines << QStringLiteral("合计：") + Yuan(m.captured(4));
  }
  return lines.join(QLatin1Char('\n'));
}

QString CallBreakdown(const QByteArray &callId, const QByteArray &billPeriod)
{
  QByteArray rule(128, '\0'), period(1024, '\0');
  if (quenta_getPriceDetail(callId.constData(), rule.data(), static_cast<int>(rule.size()), period.data(),
                            static_cast<int>(period.size())) == 1)
    return BreakdownText(QByteArray(rule.constData()), QByteArray(period.constData()));
  return BreakdownText(QByteArray(), billPeriod);
}
