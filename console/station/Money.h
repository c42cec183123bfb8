/* Money in the console: whole fen in an integer from the moment an amount is
 * read from a file, typed, or taken from an engine record, and every figure
 * shown or written made from those fen. Sums are sums of fen, so a total is
 * exactly the sum of the amounts listed beside it. The engine's records carry
 * amounts as float: such a field is rounded to the fen once, as the engine's
 * own two-decimal text of it reads, and a record handed back gets a float made
 * from the fen. Texts always have a point and two decimals, whatever the locale.
 * Every amount the console reads or writes goes through these calls, and they
 * through the engine's own (utils/decimal.h). */
#ifndef CONSOLE_MONEY_H
#define CONSOLE_MONEY_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <type_traits>

using Cents = qint64; /* an amount in fen (0.01 yuan) */

#define MONEY_DECIMALS 2 /* figures after the point of an amount: fen */

/* The fen of an engine amount, rounded as its "%.2f" text rounds (3.6000001 is
 * 360, 0.125 is 12). 0 for an amount that is not finite or from
 * 1,000,000,000,000.00 on: no amount of money is that. */
Cents CentsOf(double amount);

/* The float a record carries for the amount. */
float FloatOf(Cents cents);

/* The leading decimal number of a text as the C library reads it ("12.5x" is
 * 1250, "abc" is 0), rounded to the fen as CentsOf rounds. */
Cents CentsOfText(const QByteArray &text);

/* An amount typed into a money field: digits with at most one point and at
 * least one digit ("5", "5.", ".5"), read as decimal and rounded half up to
 * the fen ("5.555" is 556). Nothing for any other text (a blank, a sign), and
 * for an amount beyond 1,000,000,000,000.00. */
std::optional<Cents> ParseMoney(const QString &text);

/* Whether a typed text has no more figures after its point than an amount
 * (MONEY_DECIMALS): an amount typed so is taken as it reads, never rounded. */
bool WithinMoneyDecimals(const QString &text);

/* "12.50" of 1250, "-0.30" of -30. */
QString CentsText(Cents cents);

/* "3.80元". */
QString AmountText(Cents cents);

/* A float or double is an amount in yuan, never in fen: CentsOf first. */
template <typename T>
requires std::is_floating_point_v<T> QString CentsText(T)
= delete;
template <typename T>
requires std::is_floating_point_v<T> QString AmountText(T)
= delete;

#endif
