/* Decimal numbers as text, always with a point: the engine's amounts are stored,
 * shown and read back by other programs, so they must not follow the number
 * locale of the host process (a console under de_DE writes "1,10" with printf).
 * Formatting rounds exactly as printf's "%.*f" does in the C locale. */
#ifndef UTILS_DECIMAL_H
#define UTILS_DECIMAL_H

#include <stddef.h>

#include "utils/export.h"

#define DECIMAL_TEXT_SIZE 64 /* a float with up to 6 decimals fits; see decimal_text */

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

} /* namespace utils */

#endif
