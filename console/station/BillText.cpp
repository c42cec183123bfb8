/* Durations, amounts, change and the money field's keys. */
#include "BillText.h"

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
