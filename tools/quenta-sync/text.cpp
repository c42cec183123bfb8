/* GBK and UTF-8 through glibc's iconv, the station's time texts, and the
 * escaping of COPY's text format. */
#include "text.h"

#include <errno.h>
#include <iconv.h>

namespace qsync {

namespace {

/* One conversion descriptor per direction, opened on first use. */
class converter {
public:
  converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
  ~converter()
  {
    if (m_cd != (iconv_t)-1)
      iconv_close(m_cd);
  }
  converter(const converter &) = delete;
  converter &operator=(const converter &) = delete;

  /* Converts in; an unconvertible byte is replaced by `bad` and skipped. */
  std::string run(std::string_view in, std::string_view bad)
  {
    std::string out;
    if (m_cd == (iconv_t)-1) {
      for (char c : in)
        out += (unsigned char)c < 0x80 ? std::string(1, c) : std::string(bad);
      return out;
    }
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    out.reserve(in.size() * 3 / 2 + 4);
    char *src = const_cast<char *>(in.data());
    size_t left = in.size();
    char buf[1024];
    while (left > 0) {
      char *dst = buf;
      size_t room = sizeof buf;
      size_t rc = iconv(m_cd, &src, &left, &dst, &room);
      out.append(buf, (size_t)(dst - buf));
      if (rc == (size_t)-1 && errno != E2BIG) {
        /* EILSEQ, or EINVAL for a character cut at the end */
        out += bad;
        src++;
        left--;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

private:
  iconv_t m_cd;
};

bool digits(std::string_view t, size_t from, size_t n, int &v)
{
  v = 0;
  for (size_t i = from; i < from + n; i++) {
    if (t[i] < '0' || t[i] > '9')
      return false;
    v = v * 10 + (t[i] - '0');
  }
  return true;
}

} /* namespace */

std::string gbk_to_utf8(std::string_view gbk)
{
  bool plain = true;
  for (char c : gbk)
    if ((unsigned char)c >= 0x80 || c == '\0')
      plain = false;
  if (plain)
    return std::string(gbk);
  std::string in;
  in.reserve(gbk.size());
  for (char c : gbk)
    if (c != '\0')
      in += c;
  static converter conv("UTF-8", "GBK");
  return conv.run(in, "\xEF\xBF\xBD");
}

std::string utf8_to_gbk(std::string_view utf8)
{
  for (char c : utf8)
    if ((unsigned char)c >= 0x80) {
      static converter conv("GBK", "UTF-8");
      return conv.run(utf8, "?");
    }
  return std::string(utf8);
}

bool is_station_time(std::string_view t)
{
  if (t.size() != 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':')
    return false;
  int y, mo, d, h, mi, s;
  if (!digits(t, 0, 4, y) || !digits(t, 5, 2, mo) || !digits(t, 8, 2, d) || !digits(t, 11, 2, h) ||
      !digits(t, 14, 2, mi) || !digits(t, 17, 2, s))
    return false;
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59)
    return false;
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= days[mo - 1] + (mo == 2 && leap ? 1 : 0);
}

void copy_field(std::string &row, std::string_view text)
{
  if (!row.empty())
    row += '\t';
  for (char c : text) {
    switch (c) {
    case '\\':
      row += "\\\\";
      break;
    case '\t':
      row += "\\t";
      break;
    case '\n':
      row += "\\n";
      break;
    case '\r':
      row += "\\r";
      break;
    default:
      row += c;
    }
  }
}

void copy_null(std::string &row)
{
  if (!row.empty())
    row += '\t';
  row += "\\N";
}

size_t display_width(std::string_view utf8)
{
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    unsigned cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len && i + k < utf8.size(); k++)
      cp = (cp << 6) | ((unsigned char)utf8[i + k] & 0x3F);
    /* Hangul Jamo, CJK and its punctuation, Hangul, compatibility forms, full-width */
    bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
                (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
    i += len;
  }
  return width;
}

} /* namespace qsync */
