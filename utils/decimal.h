/* Decimal numbers as text, always with a point: the engine's amounts are stored,
 * shown and read back by other programs, so they must not follow the number
 * locale of the host process (a console under de_DE writes "1,10" with printf).
 * Formatting rounds exactly as printf's "%.*f" does in the C locale.
 *
 * Money is whole cents in a long long from the moment it is read or computed:
 * a price text is rounded to the cent on its decimal digits (never through a
 * binary fraction), sums are sums of cents, and every amount text is written
 * from the cents. A float amount (a record field kept for its layout) is only
 * a copy of the cents, and comes back to them through cents_of. */
#ifndef UTILS_DECIMAL_H
#define UTILS_DECIMAL_H

#include <stddef.h>

#include "utils/export.h"

#define DECIMAL_TEXT_SIZE 64              /* a float with up to 6 decimals fits; see decimal_text */
#define CENTS_TEXT_SIZE 32                /* "-92233720368547758.08" and its terminator fit */
#define MONEY_MAX_CENTS 100000000000000LL /* 1,000,000,000,000.00: the largest amount a text may spell */

namespace utils QU_EXPORT {

/* Writes value with `decimals` digits after the point (0-20) and a terminator
 * into buf. Returns the length written, or -1 (buf emptied when size > 0) when
 * it does not fit. Infinities and NaN come out as "inf", "-inf", "nan". */
int format_decimal(char *buf, size_t size, double value, int decimals);

/* The number a text begins with, as atof reads it in the C locale: leading
 * blanks and a sign are skipped, the longest decimal (or "inf"/"nan") prefix
 * is taken, 0.0 when there is none. *end, when given, points behind it. */
double parse_decimal(const char *text, const char **end = nullptr);

/* A formatted number held by value, for log lines and small texts:
 * DLOG("count: %s", utils::decimal_text(amount, 6).s). A value too large for
 * the fixed form is written in exponent form instead, so the text is never empty. */
struct decimal_text {
  char s[DECIMAL_TEXT_SIZE];
  explicit decimal_text(double value, int decimals = 2);
};

/* The amount a text begins with, in cents: leading blanks and a sign are
 * skipped, then digits with at most one point ("12", "12.5", ".5", "12."),
 * rounded half away from zero on the decimal digits themselves ("2.095" is
 * 210, "0.005" is 1, "-0.125" is -13). False (*cents 0) when no digit comes,
 * or when the amount lies beyond MONEY_MAX_CENTS. *end, when given, points
 * behind the number (at text when there is none). */
bool parse_cents(const char *text, long long *cents, const char **end = nullptr);

/* Writes cents as yuan with a point and two decimals ("1234.56", "-0.30",
 * "0.00") and a terminator into buf: the length, or -1 (buf emptied when
 * size > 0) when it does not fit. */
int format_cents(char *buf, size_t size, long long cents);

/* A binary amount to the nearest cent, halves away from zero: 3.6000001f is
 * 360. 0 for NaN; an infinity or an amount beyond MONEY_MAX_CENTS comes out
 * as +-MONEY_MAX_CENTS. */
long long cents_of(double amount);

/* A binary amount to the cent as its two-decimal text reads ("%.2f" of it:
 * 3.6000001f is 360, 0.125 is 12 where cents_of makes it 13), so that amounts
 * shown in a list add up to the total shown under them. 0 for NaN, an
 * infinity, and an amount of 1,000,000,000,000.00 or more either way. */
long long shown_cents(double amount);

/* The float nearest to the amount: the copy a record's float field carries. */
float cents_float(long long cents);

/* An amount text held by value: utils::cents_text(cents).s. */
struct cents_text {
  char s[CENTS_TEXT_SIZE];
  explicit cents_text(long long cents);
};

} /* namespace utils */

#endif
