/* Leaf utilities: byte operations, 16-bit strings, counted-string test, the
 * memory pool, the r5 hash and the local time-of-day clock. */
#include "utils/utils.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "utils/debug.h"

namespace utils {

void bzero(void *p, size_t n)
{
  memset(p, 0, n);
}

void bcopy(void *dst, const void *src, size_t n)
{
  memmove(dst, src, n);
}

size_t strlen16bit(const uint16_t *s)
{
  size_t n = 0;
  while (s[n])
    n++;
  return n;
}

uint16_t *strcpy16bit(uint16_t *dest, const uint16_t *src)
{
  size_t i = 0;
  do {
    dest[i] = src[i];
  } while (src[i++]);
  return dest;
}

int strcmp16bit(const uint16_t *s1, const uint16_t *s2)
{
  while (*s1 && *s1 == *s2) {
    s1++;
    s2++;
  }
  return (int)*s1 - (int)*s2;
}

uint16_t *strdup16bit(const uint16_t *s)
{
  size_t n = strlen16bit(s) + 1;
  auto *copy = static_cast<uint16_t *>(malloc(n * sizeof(uint16_t)));
  if (!copy)
    return nullptr;
  memcpy(copy, s, n * sizeof(uint16_t));
  return copy;
}

int strto16bit(uint16_t *str16, const char *str)
{
  int n = 0;
  for (; str[n]; n++)
    str16[n] = (uint16_t)(int16_t)(signed char)str[n];
  str16[n] = 0;
  return n;
}

int qnstrcmp(const char *src, int srclen, const char *dest, int destlen)
{
  if (srclen != destlen)
    return srclen - destlen;
  /* Nothing to compare: never equal, and never an index below the strings. */
  if (srclen <= 0)
    return -1;
  if (src[0] != dest[0] || src[srclen - 1] != dest[srclen - 1])
    return -1;
  if (srclen <= 2)
    return 0;
  if (src[srclen / 2] != dest[srclen / 2])
    return -1;
  return strncmp(src + 1, dest + 1, (size_t)(srclen - 2));
}

size_t calc_blksize(size_t n)
{
  size_t size = MEMBLK_MIN_BLOCK;
  for (size_t rest = n >> 12; rest; rest >>= 1)
    size <<= 1;
  return size;
}

void *memblk_alloc(struct memblk **head, size_t nbytes)
{
  if (!head)
    return nullptr;
  /* A size_t near its maximum would wrap to a small request when raised. */
  if (nbytes <= SIZE_MAX - 3)
    nbytes = (nbytes + 3) & ~(size_t)3;
  if (nbytes > MEMBLK_MAX_REQUEST) {
    DLOG("requested block size exceeds the maximun limit(%d): %d", (int)MEMBLK_MAX_REQUEST, (int)nbytes);
    log_abort();
  }
  for (memblk *b = *head; b; b = b->next) {
    if (b->free >= nbytes) {
      char *data = reinterpret_cast<char *>(b + 1);
      void *p = data + (b->size - b->free);
      b->free -= (unsigned)nbytes;
      return p;
    }
  }
  /* The new block must hold its own header as well as the request. */
  size_t blk = calc_blksize(nbytes + sizeof(memblk));
  auto *b = static_cast<memblk *>(calloc(1, blk));
  if (!b)
    return nullptr;
  b->next = *head;
  b->size = (unsigned)(blk - sizeof(memblk));
  b->free = b->size - (unsigned)nbytes;
  *head = b;
  return b + 1;
}

void memblk_free(struct memblk **head)
{
  if (!head)
    return;
  memblk *b = *head;
  while (b) {
    memblk *next = b->next;
    free(b);
    b = next;
  }
  *head = nullptr;
}

uint32_t r5_hash(const char *text, int len)
{
  uint32_t h = 0;
  for (int i = 0; text[i] && (len < 0 || i < len); i++) {
    int32_t c = (signed char)text[i];
    h = (h + (uint32_t)(c * 16) + (uint32_t)(c >> 4)) * 11u;
  }
  return h;
}

int gettimeofday(struct timeval *tv, void *zone)
{
  (void)zone;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local;
  localtime_r(&ts.tv_sec, &local);
  int64_t secs = (int64_t)ts.tv_sec + local.tm_gmtoff;
  tv->tv_sec = (int32_t)(uint32_t)(uint64_t)secs;
  tv->tv_usec = (int32_t)(ts.tv_nsec / 1000000) * 1000;
  return 0;
}

int write_whole(int fd, const void *data, size_t len)
{
  const char *p = static_cast<const char *>(data);
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      if (n == 0)
        errno = EIO; /* a descriptor that takes nothing would loop for ever */
      return -1;
    }
    p += n;
    len -= (size_t)n;
  }
  return 0;
}

} /* namespace utils */
