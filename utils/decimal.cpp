/* Locale-free decimal text: formatting through std::to_chars (which rounds as
 * printf does in the C locale) and reading through strtod_l with the C locale. */
#include "utils/decimal.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>

namespace utils {

int format_decimal(char *buf, size_t size, double value, int decimals)
{
  if (!buf || size == 0)
    return -1;
  if (decimals < 0 || decimals > 20) {
    buf[0] = '\0';
    return -1;
  }
  auto r = std::to_chars(buf, buf + size - 1, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) {
    buf[0] = '\0';
    return -1;
  }
  *r.ptr = '\0';
  return (int)(r.ptr - buf);
}

double parse_decimal(const char *text, const char **end)
{
  /* all of "C": glibc hands out its static C locale object, nothing is allocated */
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
  char *stop = nullptr;
  double v = 0.0;
  if (text)
    v = c_locale ? strtod_l(text, &stop, c_locale) : strtod(text, &stop);
  if (end)
    *end = stop ? stop : text;
  return v;
}

decimal_text::decimal_text(double value, int decimals)
{
  if (format_decimal(s, sizeof s, value, decimals) < 0) {
    auto r = std::to_chars(s, s + sizeof s - 1, value, std::chars_format::scientific,
                           decimals < 0 || decimals > 20 ? 6 : decimals);
    *(r.ec == std::errc() ? r.ptr : s) = '\0';
  }
}

} /* namespace utils */
