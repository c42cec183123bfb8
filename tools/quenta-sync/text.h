/* Texts between the station and the server: the station keeps GBK bytes and
 * "%Y-%m-%d %H:%M:%S" local times, the server takes UTF-8 and timestamps, and
 * rows travel to it in COPY's text format. */
#ifndef QUENTA_SYNC_TEXT_H
#define QUENTA_SYNC_TEXT_H

#include <string>
#include <string_view>

namespace qsync {

/* GBK bytes as UTF-8. A byte that starts no GBK character becomes U+FFFD and
 * the conversion goes on after it; zero bytes are dropped (PostgreSQL's texts
 * cannot hold them). ASCII passes unchanged. */
std::string gbk_to_utf8(std::string_view gbk);
/* UTF-8 back to GBK, for looking a server's text up in the station's file;
 * characters GBK lacks become '?'. */
std::string utf8_to_gbk(std::string_view utf8);

/* True when text is a real local time "YYYY-MM-DD HH:MM:SS" (a day that the
 * calendar has, hours 0 to 23): what PostgreSQL accepts as a timestamp. */
bool is_station_time(std::string_view text);

/* Appends one field of a COPY text-format row: the text escaped (backslash,
 * tab, line ends), or \N for null. */
void copy_field(std::string &row, std::string_view text);
void copy_null(std::string &row);

/* Columns of one text display: CJK and full-width characters count two. */
size_t display_width(std::string_view utf8);

} /* namespace qsync */

#endif
