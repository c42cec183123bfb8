/* Fen from engine amounts, file texts and typed texts, and the texts of fen.
 * The runtime library's decimal texts do the reading, the rounding and the
 * writing, so that a figure here is the figure the engine writes for the same
 * amount. */
#include "Money.h"

#include "utils/decimal.h"

Cents CentsOf(double amount)
{
  return utils::shown_cents(amount);
}

float FloatOf(Cents cents)
{
  return utils::cents_float(cents);
}

Cents CentsOfText(const QByteArray &text)
{
  return CentsOf(utils::parse_decimal(text.constData()));
}

std::optional<Cents> ParseMoney(const QString &text)
{
  // What the operator typed is decimal and nothing else: no blank, no sign,
  // no exponent. The digits themselves are then read as the engine reads a
  // price, a third decimal rounding half up as he would round it himself.
  int points = 0;
  for (QChar c : text) {
    if (c == QLatin1Char('.'))
      points++;
    else if (c < QLatin1Char('0') || c > QLatin1Char('9'))
      return std::nullopt;
  }
  if (points > 1)
    return std::nullopt;
  const QByteArray digits = text.toLatin1();
  long long cents = 0;
  if (!utils::parse_cents(digits.constData(), &cents))
    return std::nullopt;
  return cents;
}

bool WithinMoneyDecimals(const QString &text)
{
  const qsizetype point = text.indexOf(QLatin1Char('.'));
  return point < 0 || text.size() - point - 1 <= MONEY_DECIMALS;
}

QString CentsText(Cents cents)
{
  return QString::fromLatin1(utils::cents_text(cents).s);
}

QString AmountText(Cents cents)
{
  return CentsText(cents) + QStringLiteral("元");
}
