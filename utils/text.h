/* Texts the engine and the programs built on it compose for others: the text
 * of a record's fixed field and a text copied into one, a GBK text cut to a
 * field without splitting a double-byte character, a text value written as an
 * SQL literal for the condition lists of the engine's table operations, and
 * the station's time text. */
#ifndef UTILS_TEXT_H
#define UTILS_TEXT_H

#include <stddef.h>
#include <time.h>

#include <string>

#include "utils/export.h"

namespace utils QU_EXPORT {

/* The text of a fixed field of size bytes that may lack its terminator. */
std::string field_text(const char *field, size_t size);

/* Copies at most size - 1 bytes of value into a field of size bytes and
 * terminates it; null reads as empty. A byte cut: for a GBK text that a
 * reader shows, cut it with gbk_cut first. */
void copy_text(char *field, size_t size, const char *value);

/* How many of the len bytes of a GBK text fit in max bytes without cutting a
 * double-byte character in two: a byte from 0x81 on opens a character of two
 * bytes (a lone one at the very end counts as one byte). */
size_t gbk_fit(const char *text, size_t len, size_t max);

/* The zero-terminated text (null reads as empty) cut to at most max bytes,
 * never inside a double-byte character. */
std::string gbk_cut(const char *text, size_t max);

/* The text as an SQL string literal: in single quotes, a quote inside written
 * twice ("O'Hara" is 'O''Hara'). The bytes are kept as they are, so a GBK
 * text stays GBK. */
std::string sql_quote(const char *text, size_t len);
std::string sql_quote(const char *text); /* zero-terminated; null reads as empty */

/* The moment as the station writes every time it keeps (a call's start and
 * end, a bill's, a checkout's, an entry of the audit trail): local time,
 * "%Y-%m-%d %H:%M:%S", so that text order is time order. Empty when the
 * moment has no local time. */
std::string local_time_text(time_t t);

} /* namespace utils */

#endif
