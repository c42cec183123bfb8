// The dynamic symbols of the shipped libquenta.so: the runtime library is
// exported, but never under a C name, so that loading the engine cannot
// replace a function of the C library for the whole process.
#include <gtest/gtest.h>
#include <stdio.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string run(const std::string &cmd)
{
  std::string out;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p)
    return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    out.append(buf, n);
  pclose(p);
  return out;
}

/* Names of `nm -D --defined-only` (or with -C, demangled), without versions. */
std::vector<std::string> defined_symbols(const std::string &lib, bool demangle = false)
{
  std::vector<std::string> names;
  std::istringstream lines(
      run("nm -D --defined-only " + std::string(demangle ? "-C " : "") + "'" + lib + "' 2>/dev/null"));
  std::string line;
  while (std::getline(lines, line)) {
    // "<address> <type> <name>"; demangled names may contain blanks.
    size_t type = line.find(' ');
    if (type == std::string::npos || type + 3 > line.size())
      continue;
    std::string name = line.substr(type + 3);
    if (!demangle)
      name = name.substr(0, name.find('@'));
    names.push_back(name);
  }
  return names;
}

std::string system_library(const char *name)
{
  std::string path = run(std::string(QUENTA_CC) + " -print-file-name=" + name);
  while (!path.empty() && (path.back() == '\n' || path.back() == ' '))
    path.pop_back();
  return path;
}

std::set<std::string> c_library_names()
{
  std::set<std::string> names;
  for (const char *lib : {"libc.so.6", "libm.so.6", "libpthread.so.0"})
    for (const std::string &n : defined_symbols(system_library(lib)))
      names.insert(n);
  // POSIX and BSD names the runtime library has functions of, whether or not
  // this C library happens to define them.
  for (const char *n :
       {"bzero",     "bcopy",    "poll",         "gettimeofday", "inet_aton",     "inet_ntop", "MD5",    "MD5Init",
        "MD5Update", "MD5Final", "MD5Transform", "select",       "sendto",        "recvfrom",  "socket", "bind",
        "connect",   "listen",   "getsockname",  "gethostname",  "gethostbyname", "strdup",    "strlen", "memcpy",
        "memset",    "time",     "rand",         "srand",        "getenv",        "atexit",    "abort",  "write",
        "open",      "close",    "dup2",         "rename",       "timer_create"})
    names.insert(n);
  return names;
}

bool allowed_unmangled(const std::string &n)
{
  static const std::set<std::string> linker = {"_init", "_fini", "__bss_start", "_edata", "_end"};
  static const std::set<std::string> api = {"parser_getRateInfo", "gst_cdr_infos", "gst_bill_infos"};
#ifdef QUENTA_SANITIZED
  // AddressSanitizer's one-definition-rule markers of exported globals.
  if (n.rfind("__odr_asan.", 0) == 0)
    return true;
#endif
  return linker.count(n) || api.count(n) || n.rfind("quenta_", 0) == 0;
}

const std::string kLibrary = QUENTA_SO;

TEST(ExportedSymbols, NoneCollidesWithTheCLibrary)
{
  std::set<std::string> libc = c_library_names();
  ASSERT_TRUE(libc.count("poll") && libc.count("gettimeofday") && libc.count("inet_ntop"))
      << "the C library's symbols could not be listed";
  std::vector<std::string> ours = defined_symbols(kLibrary);
  ASSERT_FALSE(ours.empty()) << kLibrary;
  for (const std::string &n : ours)
    EXPECT_EQ(0u, libc.count(n)) << n << " is exported under a C library name";
}

TEST(ExportedSymbols, UnmangledNamesAreOnlyTheEngineApi)
{
  for (const std::string &n : defined_symbols(kLibrary)) {
    if (n.rfind("_Z", 0) == 0)
      continue;
    EXPECT_TRUE(allowed_unmangled(n)) << n << " is exported with C linkage";
  }
}

TEST(ExportedSymbols, RuntimeLibraryIsExportedInItsNamespace)
{
  std::set<std::string> names;
  for (const std::string &n : defined_symbols(kLibrary, true))
    names.insert(n.substr(0, n.find('(')));
  for (const char *n : {"utils::poll", "utils::bzero", "utils::bcopy", "utils::gettimeofday", "utils::inet_aton",
                        "utils::inet_ntop", "utils::MD5", "utils::app_run", "utils::udp_bind", "utils::create_datalist",
                        "utils::__app_thread_scheduler", "utils::__int_typeinfo", "utils::__sockaddr_typeinfo"})
    EXPECT_EQ(1u, names.count(n)) << n << " is not exported";
}

}  // namespace
