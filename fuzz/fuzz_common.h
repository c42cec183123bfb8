/* What every harness shares: the engine's chatter (the parser's dumps on
 * standard output, the log) goes to /dev/null so that the fuzzer's own report
 * stays readable, and a scratch directory on a memory file system holds the
 * files a harness needs. */
#ifndef FUZZ_FUZZ_COMMON_H
#define FUZZ_FUZZ_COMMON_H

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "utils/debug.h"

namespace fuzz {

/* Silences the engine; the log calls still format every line. */
inline void quiet()
{
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0)
    abort();
  fflush(stdout);
  dup2(null, STDOUT_FILENO);
  utils::logfd = null;
}

/* A fresh directory that lives as long as the process; prefers /dev/shm. Its
 * name is kept on the heap so that the clean-up at exit still finds it. */
inline const std::string &scratch_dir()
{
  static const std::string *dir = [] {
    char shm[] = "/dev/shm/quentafuzzXXXXXX";
    char tmp[] = "/tmp/quentafuzzXXXXXX";
    const char *d = mkdtemp(shm);
    if (!d)
      d = mkdtemp(tmp);
    if (!d)
      abort();
    auto *made = new std::string(d);
    atexit([] {
      std::string cmd = "rm -rf '" + scratch_dir() + "'";
      (void)!system(cmd.c_str());
    });
    return made;
  }();
  return *dir;
}

/* Writes the bytes to path, replacing what was there. */
inline void write_file(const std::string &path, const uint8_t *data, size_t size)
{
  FILE *f = fopen(path.c_str(), "wb");
  if (!f)
    abort();
  if (size > 0 && fwrite(data, 1, size, f) != size)
    abort();
  fclose(f);
}

/* True when the array holds a zero byte: a text field that stayed terminated. */
template <size_t N>
bool terminated(const char (&field)[N])
{
  return memchr(field, '\0', N) != nullptr;
}

} /* namespace fuzz */

#define FUZZ_CHECK(cond)                                                       \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                 \
    }                                                                          \
  } while (0)

#endif
