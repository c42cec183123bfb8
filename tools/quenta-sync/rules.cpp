/* Reading rule names and prefixes from the station's rate file and choosing
 * the rule of a dialled number. */
#include "rules.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace qsync {

void rule_book::refresh(const std::string &path)
{
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    m_rules.clear();
    m_has_default = false;
    m_mtime_ns = m_size = -1;
    return;
  }
  long long mtime = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  if (mtime == m_mtime_ns && (long long)st.st_size == m_size)
    return;
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  load_text(ss.str());
  m_mtime_ns = mtime;
  m_size = (long long)st.st_size;
}

void rule_book::load_text(const std::string &text)
{
  m_rules.clear();
  m_has_default = false;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    size_t bar = line.find('|');
    if (bar == std::string::npos)
      continue;
    std::string name = line.substr(0, bar);
    if (name == DEFAULT_RULE_NAME) {
      m_has_default = true;
      continue;
    }
    size_t end = line.find('|', bar + 1);
    std::string prefix = line.substr(bar + 1, end == std::string::npos ? std::string::npos : end - bar - 1);
    m_rules.push_back({name, prefix});
  }
}

std::string rule_book::rule_for(const std::string &desnum) const
{
  const rate_rule *best = nullptr;
  for (const rate_rule &r : m_rules)
    if (desnum.compare(0, r.prefix.size(), r.prefix) == 0 && (!best || r.prefix.size() > best->prefix.size()))
      best = &r;
  if (best)
    return best->name;
  return m_has_default ? DEFAULT_RULE_NAME : "";
}

} /* namespace qsync */
