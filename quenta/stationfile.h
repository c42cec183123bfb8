/* The engine's own files in the working directory ("cdr.pending", "cdr.failed",
 * "calls.live", and the rate and gateway files it reads): the file and line
 * buffer holders every reader uses, and lines of tab-separated values whose tabs, line ends and
 * backslashes are escaped, appended with a sync, or replaced whole through a
 * temporary file, so a crash at any moment leaves every line that was
 * reported written whole or a last line cut short, which readers skip. */
#ifndef QUENTA_STATIONFILE_H
#define QUENTA_STATIONFILE_H

#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>

/* A file closed when its holder goes. */
struct file_closer {
  void operator()(FILE *f) const { fclose(f); }
};
using unique_file = std::unique_ptr<FILE, file_closer>;

/* getline's buffer, which it may grow between lines, freed when it goes. */
struct line_buffer {
  char *p = nullptr;
  size_t cap = 0;
  line_buffer() = default;
  line_buffer(const line_buffer &) = delete;
  line_buffer &operator=(const line_buffer &) = delete;
  ~line_buffer() { free(p); }
};

/* Appends value to out with "\\", "\t", "\r" and "\n" for a backslash, tab,
 * carriage return and line feed. */
void append_escaped(std::string &out, const std::string &value);

/* One value of a line, escapes undone: false for an escape the writer never
 * makes. */
bool unescape(const std::string &field, std::string *value);

/* Makes a rename or a new file in the working directory survive a power cut. */
void sync_working_dir();

/* Appends text to the file (created 0644) and syncs it: 0, or -1 with errno
 * set. A last line that a crash cut short is ended first, so the new lines
 * stay whole. */
int append_synced(const char *path, const std::string &text);

/* Writes text to tmp, syncs it, renames it over path and syncs the folder:
 * 0, or -1 with errno set, the old file then left whole and tmp removed. */
int replace_synced(const char *path, const char *tmp, const std::string &text);

#endif
