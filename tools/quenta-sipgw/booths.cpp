/* The booths file (which SIP account is which line of the station, and its
 * password) and the deny list the bridge keeps across its restarts. */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "sipgw.h"

namespace sipgw {

namespace {

/* Characters Kamailio's script and the event socket's words can carry. */
bool account_ok(const std::string &a)
{
  if (a.empty() || a.size() > 32)
    return false;
  for (unsigned char c : a)
    if (!isalnum(c) && !strchr("_.+-", c))
      return false;
  return true;
}

bool password_ok(const std::string &p)
{
  if (p.empty() || p.size() > 64)
    return false;
  for (unsigned char c : p)
    if (c <= ' ' || c >= 0x7f || c == '"' || c == '\\')
      return false;
  return true;
}

} /* namespace */

std::string load_booths(const std::string &path, std::vector<BoothEntry> &out)
{
  out.clear();
  std::ifstream in(path);
  if (!in)
    return path + ": " + strerror(errno);
  std::set<std::string> accounts;
  std::set<std::pair<std::string, int>> lines;
  std::string text;
  for (int n = 1; std::getline(in, text); n++) {
    size_t hash = text.find('#');
    if (hash != std::string::npos)
      text.erase(hash);
    std::istringstream words(text);
    BoothEntry e;
    std::string line, extra;
    if (!(words >> e.account))
      continue; /* blank or comment */
    std::string where = path + ":" + std::to_string(n) + ": ";
    if (!(words >> e.password >> e.machine >> line) || (words >> extra))
      return where + "expected ACCOUNT PASSWORD MACHINE LINE";
    if (!account_ok(e.account))
      return where + "an account is 1 to 32 letters, digits, '_', '.', '+' or '-'";
    if (!password_ok(e.password))
      return where + "a password is 1 to 64 printable characters without blank, '\"' or '\\'";
    if (e.machine.size() > 127)
      return where + "the machine id is longer than 127 characters";
    char *end = nullptr;
    long v = strtol(line.c_str(), &end, 10);
    if (*end || v < 0 || v > 9999999)
      return where + "the line is a number from 0 to 9999999";
    e.line = (int)v;
    if (!accounts.insert(e.account).second)
      return where + "account " + e.account + " is listed twice";
    if (!lines.insert({e.machine, e.line}).second)
      return where + "line " + e.machine + "/" + line + " is given twice";
    out.push_back(e);
  }
  if (out.empty())
    return path + ": no booth listed";
  return "";
}

std::string booths_file_warning(const std::string &path)
{
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && (st.st_mode & S_IROTH))
    return path + " holds the booths' passwords and may be read by anyone: chmod 640 it";
  return "";
}

std::set<std::string> load_denied(const std::string &path)
{
  std::set<std::string> denied;
  std::ifstream in(path);
  std::string account;
  while (in >> account)
    denied.insert(account);
  return denied;
}

bool save_denied(const std::string &path, const std::set<std::string> &accounts)
{
  std::string tmp = path + ".new";
  FILE *f = fopen(tmp.c_str(), "w");
  if (!f)
    return false;
  for (auto &a : accounts)
    fprintf(f, "%s\n", a.c_str());
  bool ok = fflush(f) == 0 && fsync(fileno(f)) == 0;
  ok = fclose(f) == 0 && ok;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

} /* namespace sipgw */
