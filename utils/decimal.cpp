/* Locale-free decimal text: formatting through std::to_chars (which rounds as
 * printf does in the C locale) and reading through strtod_l with the C locale;
 * money as whole cents, read and written digit by digit. */
#include "utils/decimal.h"

#include <ctype.h>
#include <locale.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

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

bool parse_cents(const char *text, long long *cents, const char **end)
{
  *cents = 0;
  if (end)
    *end = text;
  if (!text)
    return false;
  const char *p = text;
  while (isspace((unsigned char)*p))
    p++;
  bool negative = false;
  if (*p == '+' || *p == '-')
    negative = *p++ == '-';
  /* whole cents so far, the digit after them (the one that rounds) and
   * whether any digit came at all */
  long long value = 0;
  int decimals = 0, rounding = 0, digits = 0;
  bool point = false, over = false;
  for (;; p++) {
    if (*p == '.' && !point) {
      point = true;
      continue;
    }
    if (!isdigit((unsigned char)*p))
      break;
    int d = *p - '0';
    digits++;
    if (point && decimals >= 2) {
      if (decimals++ == 2)
        rounding = d;
      continue;
    }
    if (point)
      decimals++;
    if (value > (MONEY_MAX_CENTS - d) / 10)
      over = true;
    else
      value = value * 10 + d;
  }
  if (digits == 0)
    return false;
  if (end)
    *end = p;
  for (; decimals < 2 && !over; decimals++) {
    if (value > MONEY_MAX_CENTS / 10)
      over = true;
    else
      value *= 10;
  }
  if (rounding >= 5)
    value++;
  if (over || value > MONEY_MAX_CENTS)
    return false;
  *cents = negative ? -value : value;
  return true;
}

int format_cents(char *buf, size_t size, long long cents)
{
  if (!buf || size == 0)
    return -1;
  /* by way of the magnitude as unsigned: LLONG_MIN has no positive twin */
  unsigned long long m = cents < 0 ? 0ULL - (unsigned long long)cents : (unsigned long long)cents;
  char tmp[CENTS_TEXT_SIZE];
  char *q = tmp + sizeof tmp;
  *--q = '\0';
  *--q = (char)('0' + m % 10);
  m /= 10;
  *--q = (char)('0' + m % 10);
  m /= 10;
  *--q = '.';
  do {
    *--q = (char)('0' + m % 10);
    m /= 10;
  } while (m > 0);
  if (cents < 0)
    *--q = '-';
  size_t len = (size_t)(tmp + sizeof tmp - 1 - q);
  if (len + 1 > size) {
    buf[0] = '\0';
    return -1;
  }
  memcpy(buf, q, len + 1);
  return (int)len;
}

long long cents_of(double amount)
{
  if (isnan(amount))
    return 0;
  double c = amount * 100.0;
  if (c >= (double)MONEY_MAX_CENTS)
    return MONEY_MAX_CENTS;
  if (c <= -(double)MONEY_MAX_CENTS)
    return -MONEY_MAX_CENTS;
  return llround(c);
}

long long shown_cents(double amount)
{
  if (!isfinite(amount) || fabs(amount) >= (double)(MONEY_MAX_CENTS / 100))
    return 0;
  long long cents = 0;
  parse_cents(decimal_text(amount, 2).s, &cents);
  return cents;
}

float cents_float(long long cents)
{
  return (float)((double)cents / 100.0);
}

cents_text::cents_text(long long cents)
{
  format_cents(s, sizeof s, cents);
}

} /* namespace utils */
