/* Fen from engine amounts, file texts and typed texts, and the texts of fen.
 * The runtime library's decimal texts do the rounding, so that a figure here
 * is the figure the engine writes for the same amount. */
#include "Money.h"

#include <cmath>

#include "utils/decimal.h"

namespace {

const Cents kMaxCents = 100000000000000LL; /* 1,000,000,000,000.00 */

} // namespace

Cents CentsOf(double amount)
{
  if (!std::isfinite(amount) || std::fabs(amount) >= kMaxCents / 100.0)
    return 0;
  char text[DECIMAL_TEXT_SIZE];
  if (utils::format_decimal(text, sizeof text, amount, 2) < 0)
    return 0;
  // "-12.34": the digits without the point are the fen.
  const char *p = text;
  const bool negative = *p == '-';
  if (negative)
    p++;
  Cents fen = 0;
  for (; *p; p++) {
    if (*p != '.')
      fen = fen * 10 + (*p - '0');
  }
  return negative ? -fen : fen;
}

float FloatOf(Cents cents)
{
  return static_cast<float>(static_cast<double>(cents) / 100.0);
}

Cents CentsOfText(const QByteArray &text)
{
  return CentsOf(utils::parse_decimal(text.constData()));
}

std::optional<Cents> ParseMoney(const QString &text)
{
  // Read digit by digit: what the operator typed is decimal, and a third
  // decimal rounds half up, as he would round it himself.
  Cents whole = 0;
  int digits = 0, decimals = -1, fen = 0;
  bool roundUp = false;
  for (QChar c : text) {
    if (c == QLatin1Char('.')) {
      if (decimals >= 0)
        return std::nullopt;
      decimals = 0;
    } else if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
      const int d = c.unicode() - '0';
      digits++;
      if (decimals < 0) {
        whole = whole * 10 + d;
        if (whole >= kMaxCents / 100)
          return std::nullopt;
      } else if (++decimals <= 2) {
        fen = fen * 10 + d;
      } else if (decimals == 3) {
        roundUp = d >= 5;
      }
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0)
    return std::nullopt;
  for (int d = qMax(decimals, 0); d < 2; d++)
    fen *= 10;
  return whole * 100 + fen + (roundUp ? 1 : 0);
}

QString CentsText(Cents cents)
{
  const Cents whole = cents / 100, part = qAbs(cents % 100);
  const QString sign = cents < 0 && whole == 0 ? QStringLiteral("-") : QString();
  return sign + QString::number(whole) + QLatin1Char('.') + QStringLiteral("%1").arg(part, 2, 10, QLatin1Char('0'));
}

QString AmountText(Cents cents)
{
  return CentsText(cents) + QStringLiteral("元");
}
