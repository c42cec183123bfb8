/* Fixed fields, GBK texts cut to a field, SQL literals and time texts. */
#include "utils/text.h"

#include <string.h>

namespace utils {

std::string field_text(const char *field, size_t size)
{
  return std::string(field, strnlen(field, size));
}

void copy_text(char *field, size_t size, const char *value)
{
  size_t len = value ? strnlen(value, size - 1) : 0;
  memcpy(field, value ? value : "", len);
  field[len] = '\0';
}

size_t gbk_fit(const char *text, size_t len, size_t max)
{
  size_t keep = 0;
  while (keep < len) {
    size_t step = ((unsigned char)text[keep] >= 0x81 && keep + 1 < len) ? 2 : 1;
    if (keep + step > max)
      break;
    keep += step;
  }
  return keep;
}

std::string gbk_cut(const char *text, size_t max)
{
  if (!text)
    return std::string();
  size_t len = strlen(text);
  return std::string(text, gbk_fit(text, len, max));
}

std::string sql_quote(const char *text, size_t len)
{
  std::string q;
  q.reserve(len + 2);
  q += '\'';
  for (size_t i = 0; i < len; i++) {
    q += text[i];
    if (text[i] == '\'')
      q += '\'';
  }
  q += '\'';
  return q;
}

std::string sql_quote(const char *text)
{
  return text ? sql_quote(text, strlen(text)) : std::string("''");
}

std::string local_time_text(time_t t)
{
  struct tm tm;
  char text[64];
  if (!localtime_r(&t, &tm) || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0)
    return std::string();
  return text;
}

} /* namespace utils */
