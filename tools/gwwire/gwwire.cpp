/* The gateway message format: a first line "Type Type ui/1.0", attribute
 * lines "name: value", an empty line. */
#include <ctype.h>
#include <string.h>
#include <strings.h>

#include "gwwire.h"

namespace gwwire {

const std::string *Message::find(const std::string &name) const
{
  for (auto &a : attrs)
    if (strcasecmp(a.first.c_str(), name.c_str()) == 0)
      return &a.second;
  return nullptr;
}

std::string compose(const std::string &type, const Attrs &attrs)
{
  std::string text = type + " " + type + " ui/1.0\n";
  for (auto &a : attrs)
    text += a.first + ": " + a.second + "\n";
  text += "\n";
  return text;
}

namespace {

/* Splits the datagram into lines without their line ends. */
std::vector<std::string> split_lines(const char *data, size_t len)
{
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i <= len; i++) {
    if (i == len || data[i] == '\n') {
      if (i == len && start == len)
        break;
      size_t end = i;
      if (end > start && data[end - 1] == '\r')
        end--;
      lines.emplace_back(data + start, end - start);
      start = i + 1;
    }
  }
  return lines;
}

} /* namespace */

bool parse_message(const char *data, size_t len, Message &out)
{
  out = Message{};
  auto lines = split_lines(data, len);
  if (lines.empty() || lines[0].empty())
    return false;
  const std::string &first = lines[0];
  size_t n = 0;
  while (n < first.size() && (isalnum((unsigned char)first[n]) || first[n] == '_' || first[n] == '-'))
    n++;
  if (n == 0)
    return false;
  out.type = first.substr(0, n);
  for (size_t i = 1; i < lines.size() && !lines[i].empty(); i++) {
    size_t colon = lines[i].find(": ");
    if (colon == std::string::npos)
      return false;
    out.attrs.emplace_back(lines[i].substr(0, colon), lines[i].substr(colon + 2));
  }
  return true;
}

std::string attribute_text(const char *data, size_t len)
{
  std::string text(data, len);
  size_t begin = text.find('\n');
  if (begin == std::string::npos)
    return "";
  begin++;
  size_t end = text.find("\n\n", begin - 1);
  if (end == std::string::npos)
    return text.substr(begin);
  if (end < begin)
    return "";
  return text.substr(begin, end + 1 - begin);
}

} /* namespace gwwire */
