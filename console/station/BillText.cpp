/* Durations, amounts, change and the money field's keys. */
#include "BillText.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

QString DurationText(int seconds)
{
  const int s = seconds < 0 ? 0 : seconds;
  QString text;
  if (s >= 3600)
    text += QString::number(s / 3600) + QStringLiteral("小时");
  if (s >= 60)
    text += QString::number(s % 3600 / 60) + QStringLiteral("分");
  text += QString::number(s % 60) + QStringLiteral("秒");
  return text;
}

QString AmountDueText(std::optional<Cents> unsettled, std::optional<Cents> running)
{
  if (!unsettled && !running)
    return QString();
  return AmountText(AmountDue(unsettled, running));
}

Cents AmountDue(std::optional<Cents> unsettled, std::optional<Cents> running)
{
  return unsettled.value_or(0) + running.value_or(0);
}

std::optional<QString> ChangeText(const QString &money, Cents total)
{
  if (money.isEmpty())
    return QStringLiteral("0.00");
  const std::optional<Cents> paid = ParseMoney(money);
  if (!paid)
    return std::nullopt;
  return AmountText(*paid - total);
}

Settlement SettlementOf(Cents total, Cents deposit, Cents paid)
{
  const Cents rest = deposit + paid - total;
  if (rest < 0)
    return {QStringLiteral("还需补交"), -rest};
  return {paid > 0 ? QStringLiteral("找零") : QStringLiteral("退还"), rest};
}

bool MoneyKeyAllowed(const QString &textOutsideSelection, QChar key)
{
  if (key >= QLatin1Char('0') && key <= QLatin1Char('9'))
    return true;
  if (key == QLatin1Char('\b'))
    return true;
  if (key == QLatin1Char('.'))
    return !textOutsideSelection.contains(QLatin1Char('.'));
  return false;
}

bool MoneyTextAllowed(const QString &text)
{
  const qsizetype point = text.indexOf(QLatin1Char('.'));
  const QString whole = point < 0 ? text : text.left(point);
  const QString fraction = point < 0 ? QString() : text.mid(point + 1);
  const auto figures = [](const QString &part) {
    return std::all_of(part.begin(), part.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
  };
  return whole.size() <= MONEY_FIELD_DIGITS && WithinMoneyDecimals(text) && figures(whole) && figures(fraction);
}

CheckoutMoney CheckoutMoneyOf(Cents due, Cents deposit, Cents paid)
{
  const Cents rest = deposit + paid - due;
  return rest >= 0 ? CheckoutMoney{rest, 0} : CheckoutMoney{0, -rest};
}

QString BreakdownText(const QString &rule, const QByteArray &periodRecord, Cents amount)
{
  QStringList lines;
  if (!rule.isEmpty())
    lines << QStringLiteral("费率：%1").arg(rule);
  const QString record = QString::fromLatin1(periodRecord);
  static const QRegularExpression summary(
      QStringLiteral("(\\d+\\.\\d\\d) in (\\d+) second, handling charge (\\d+\\.\\d\\d) total (\\d+\\.\\d\\d)$"));
  const QRegularExpressionMatch m = summary.match(record);
  if (!m.hasMatch()) {
    // A call within the free limit, or priced by an older release: no parts.
    lines << (amount == 0 ? QStringLiteral("免费通话") : QStringLiteral("合计：%1").arg(AmountText(amount)));
    return lines.join(QLatin1Char('\n'));
  }
  const Cents package = ParseMoney(m.captured(1)).value_or(0);
  const int packageSeconds = m.captured(2).toInt();
  const Cents handling = ParseMoney(m.captured(3)).value_or(0);
  const Cents total = ParseMoney(m.captured(4)).value_or(amount);
  if (packageSeconds > 0 || package > 0)
    lines << QStringLiteral("套餐（前%1）：%2").arg(DurationText(packageSeconds), AmountText(package));
  Cents stretches = 0;
  int shown = 0;
  for (const QString &stretch : record.left(m.capturedStart()).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const qsizetype blank = stretch.lastIndexOf(QLatin1Char(' '));
    const std::optional<Cents> price = blank < 0 ? std::nullopt : ParseMoney(stretch.mid(blank + 1));
    if (!price)
      continue;
    stretches += *price;
    shown++;
    lines << QStringLiteral("%1：%2").arg(stretch.left(blank), AmountText(*price));
  }
  // Stretches the detail text had no room for, or a call priced by units
  // without stretches: the part of the amount the lines above do not show.
  const Cents rest = total - package - handling - stretches;
  if (rest > 0)
    lines << (shown > 0 ? QStringLiteral("其余时段：%1") : QStringLiteral("通话费：%1")).arg(AmountText(rest));
  if (handling > 0)
    lines << QStringLiteral("手续费：%1").arg(AmountText(handling));
  lines << QStringLiteral("合计：%1").arg(AmountText(total));
  return lines.join(QLatin1Char('\n'));
}
