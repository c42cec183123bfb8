/* Escaped value lines, synced appends and whole replacements of the engine's
 * files in the working directory. */
#include "quenta/stationfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "utils/utils.h"

void append_escaped(std::string &out, const std::string &value)
{
  for (char c : value) {
    switch (c) {
    case '\\':
      out += "\\\\";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    default:
      out += c;
    }
  }
}

bool unescape(const std::string &field, std::string *value)
{
  value->clear();
  for (size_t i = 0; i < field.size(); i++) {
    if (field[i] != '\\') {
      *value += field[i];
      continue;
    }
    if (++i == field.size())
      return false;
    switch (field[i]) {
    case '\\':
      *value += '\\';
      break;
    case 't':
      *value += '\t';
      break;
    case 'r':
      *value += '\r';
      break;
    case 'n':
      *value += '\n';
      break;
    default:
      return false;
    }
  }
  return true;
}

void sync_working_dir()
{
  int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

int append_synced(const char *path, const std::string &text)
{
  int fd = open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0)
    return -1;
  struct stat st;
  char last = '\n';
  if (fstat(fd, &st) == 0 && st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) != 1)
    last = '\n';
  std::string out(last == '\n' ? 0 : 1, '\n');
  out += text;
  int rc = utils::write_whole(fd, out.data(), out.size()) < 0 || fsync(fd) < 0 ? -1 : 0;
  int err = errno;
  close(fd);
  errno = err;
  return rc;
}

int replace_synced(const char *path, const char *tmp, const std::string &text)
{
  int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0)
    return -1;
  int rc = utils::write_whole(fd, text.data(), text.size()) < 0 || fsync(fd) < 0 ? -1 : 0;
  int err = errno;
  close(fd);
  if (rc == 0 && rename(tmp, path) != 0) {
    err = errno;
    rc = -1;
  }
  if (rc < 0) {
    unlink(tmp);
    errno = err;
    return -1;
  }
  sync_working_dir();
  return 0;
}
