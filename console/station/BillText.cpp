/* Durations, amounts, change and the money field's keys. */
#include "BillText.h"

#include <cmath>
#include <cstdlib>

#include "ShiftLog.h"

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

QString AmountText(float amount)
{
  return FormatMoney(amount) + QStringLiteral("元");
}

QString AmountDueText(std::optional<float> unsettled, std::optional<float> running)
{
  if (!unsettled && !running)
    return QString();
  return AmountText(AmountDue(unsettled, running));
}

float AmountDue(std::optional<float> unsettled, std::optional<float> running)
{
  return unsettled.value_or(0.0f) + running.value_or(0.0f);
}

std::optional<double> ParseMoney(const QString &text)
{
  int digits = 0;
  int points = 0;
  for (QChar c : text) {
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
      digits++;
    else if (c == QLatin1Char('.'))
      points++;
    else
      return std::nullopt;
  }
  if (digits == 0 || points > 1)
    return std::nullopt;
  return ParseDecimal(text.toLatin1());
}

std::optional<QString> ChangeText(const QString &money, float total)
{
  if (money.isEmpty())
    return QStringLiteral("0.00");
  std::optional<double> paid = ParseMoney(money);
  if (!paid)
    return std::nullopt;
  // In single precision, as the total is: paying exactly the amount shown
  // then gives 0.00 rather than a stray "-0.00".
  const float change = static_cast<float>(*paid) - total;
  QString text = FormatMoney(change);
  if (text == QLatin1String("-0.00"))
    text = QStringLiteral("0.00");
  return text + QStringLiteral("元");
}

Settlement SettlementOf(float total, float deposit, float paid)
{
  // In fen, so that an exact payment is 0.00 and never a stray "-0.00".
  const long long fen = std::llround((static_cast<double>(deposit) + paid - total) * 100);
  const float amount = static_cast<float>(std::llabs(fen) / 100.0);
  if (fen < 0)
    return {QStringLiteral("还需补交"), amount};
  return {paid > 0 ? QStringLiteral("找零") : QStringLiteral("退还"), amount};
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
