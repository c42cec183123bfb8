/* Leaf utilities of the runtime library: byte fill and copy, strings of 16-bit
 * units, a quick equality test of counted strings, the growing memory pool behind
 * every datalist, the r5 string hash and the local time-of-day clock.
 * (MD5 has its own header, utils/md5.h.) */
#ifndef UTILS_UTILS_H
#define UTILS_UTILS_H

#include <stddef.h>
#include <stdint.h>

#include "utils/export.h"

#define MEMBLK_MAX_REQUEST 65528u /* 0xFFF8: larger pool requests abort the process */
#define MEMBLK_MIN_BLOCK 4096u

namespace utils QU_EXPORT {

/* Sets n bytes to 0. */
void bzero(void *p, size_t n);
/* Copies n bytes from src to dst. The destination comes FIRST, unlike BSD bcopy. */
void bcopy(void *dst, const void *src, size_t n);

/* Zero-terminated strings of 16-bit units. */
size_t strlen16bit(const uint16_t *s);
uint16_t *strcpy16bit(uint16_t *dest, const uint16_t *src);
int strcmp16bit(const uint16_t *s1, const uint16_t *s2); /* first differing units, s1 - s2 */
uint16_t *strdup16bit(const uint16_t *s);                /* heap copy (free()), or null */
int strto16bit(uint16_t *str16, const char *str);        /* sign-extends each byte; units written */

/* 0 when the counted strings are equal, non-zero otherwise; two empty strings
 * are not equal (-1), strings of different length give srclen - destlen. */
int qnstrcmp(const char *src, int srclen, const char *dest, int destlen);

/* One block of a pool; the data area follows the header. The newest block is
 * the head of the chain. */
struct memblk {
  struct memblk *next; /* the block allocated before this one */
  unsigned size;       /* capacity of the data area */
  unsigned free;       /* bytes of the data area not yet handed out */
};

/* Returns nbytes (raised to a multiple of 4) from the pool at *head, growing it
 * by a block of calc_blksize(nbytes + header) when no block has room; null without
 * memory or for a null head pointer. A request above MEMBLK_MAX_REQUEST logs
 * "requested block size exceeds the maximun limit(%d): %d" and aborts. */
void *memblk_alloc(struct memblk **head, size_t nbytes);
/* Smallest power of two >= 4096 and > n. */
size_t calc_blksize(size_t n);
/* Releases every block of the pool and sets *head to null. */
void memblk_free(struct memblk **head);

/* h = (h + c*16 + (c >> 4)) * 11 over the signed bytes of text, up to its zero
 * and at most len bytes (-1: no limit). "abc" gives 2281642. */
uint32_t r5_hash(const char *text, int len);

/* Time value of the runtime library. */
struct timeval {
  int32_t tv_sec;
  int32_t tv_usec;
};

/* Local wall-clock time as seconds since 1970-01-01 00:00:00 of the local clock,
 * millisecond resolution. For seeds and callers that want the wall clock;
 * timers run on the monotonic clock (timer_now in utils/timer.h). The seconds
 * wrap modulo 2^32 rather than overflow. zone is not used; returns 0. */
int gettimeofday(struct timeval *tv, void *zone);

/* Writes all len bytes to fd, going on after a short write or an interrupted
 * one. 0 when every byte was written, -1 (errno set) at the first other failure. */
int write_whole(int fd, const void *data, size_t len);

} /* namespace utils */

#endif
