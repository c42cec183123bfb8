/* The memory debugger: building and linking guarded blocks, their check sums,
 * the walk that verifies every live block, free and strdup, and the listing.
 * Every message goes to standard error in one write, never to the log, so that
 * it is seen even when the log descriptor is the thing being corrupted. */
#include "utils/memdebug.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <random>
#include <string>

#include "utils/debug.h"
#include "utils/utils.h"

namespace utils {

static_assert(sizeof(mem_debug_blk_hdr) % alignof(max_align_t) == 0,
              "the user data must follow the header at an alignment fit for any object");
static_assert(offsetof(mem_debug_blk_hdr, dmz) + sizeof(uint32_t) * DMZ_SIZE == sizeof(mem_debug_blk_hdr),
              "the header's guard zone must touch the user data");
static_assert(offsetof(mem_debug_blk_end, dmz) == 0, "the trailer's guard zone must touch the user data");
static_assert(alignof(mem_debug_blk_end) == 4, "the trailer follows the data at a multiple of 4");

mem_debug_blk_hdr *first_blk_hdr = nullptr;
mem_debug_blk_hdr *last_blk_hdr = nullptr;
mem_debug_blk_end *first_blk_end = nullptr;
mem_debug_blk_end *last_blk_end = nullptr;
const unsigned char padseq[MEM_DEBUG_PAD_LEN] = {0xAF, 0x71, 0x80};

namespace {

const char HDR_MAGIC[4] = {'m', 'd', 'b', 'h'};
const char END_MAGIC[4] = {'m', 'd', 'b', 'e'};

/* The lists are meant for one thread, but a library user calling from two
 * would otherwise see false corruption reports; the lock costs little next to
 * the walk over every live block. */
std::recursive_mutex g_lock;

/* Every guarded block ever handed out, live or freed, by its start. Free
 * looks pointers up here instead of reading memory in front of them, which for
 * a foreign pointer would lie outside its block. Ordered, so that a pointer into
 * the middle of a guarded block is recognised too. Never destroyed: freed blocks
 * stay reachable through it until the process ends. */
std::map<uintptr_t, mem_debug_blk_hdr *> &all_blocks()
{
  static auto *blocks = new std::map<uintptr_t, mem_debug_blk_hdr *>;
  return *blocks;
}

/* Formats into a stack buffer and writes it with one write to standard error. */
void __attribute__((format(printf, 1, 2))) report(const char *fmt, ...)
{
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0)
    return;
  size_t len = (size_t)n < sizeof buf ? (size_t)n : sizeof buf - 1;
  write_whole(2, buf, len);
}

/* The report went to standard error; the log keeps the lines that led here. */
[[noreturn]] void die()
{
  log_abort();
}

inline size_t padded(size_t size)
{
  return (size + 3) & ~(size_t)3;
}

inline unsigned char *user_of(mem_debug_blk_hdr *hdr)
{
  return reinterpret_cast<unsigned char *>(hdr) + sizeof(mem_debug_blk_hdr);
}

inline mem_debug_blk_end *end_of(mem_debug_blk_hdr *hdr, size_t size)
{
  return reinterpret_cast<mem_debug_blk_end *>(user_of(hdr) + padded(size));
}

/* The user pointer as the trailer places it. Only printed: when the trailer's
 * size is corrupted it may point anywhere, so it is computed on integers. */
inline void *user_of(const mem_debug_blk_end *end)
{
  size_t size;
  memcpy(&size, reinterpret_cast<const unsigned char *>(end) + offsetof(mem_debug_blk_end, size), sizeof size);
  return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(end) - padded(size));
}

/* The check sum covers magic, size, info, prev, next and the guard zone, in
 * that order; the free count, the call chain and the sum itself are left out.
 * Works on raw bytes because the trailer's fields may be unaligned. */
template <typename Rec>
void compute_sum(const Rec *rec, unsigned char digest[MD5_DIGEST_LEN])
{
  const unsigned char *base = reinterpret_cast<const unsigned char *>(rec);
  MD5Context ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, base + offsetof(Rec, magic), 4);
  MD5Update(&ctx, base + offsetof(Rec, size), sizeof(size_t));
  MD5Update(&ctx, base + offsetof(Rec, info), MEM_DEBUG_INFO_LEN);
  MD5Update(&ctx, base + offsetof(Rec, prev), sizeof(void *));
  MD5Update(&ctx, base + offsetof(Rec, next), sizeof(void *));
  MD5Update(&ctx, base + offsetof(Rec, dmz), sizeof(uint32_t) * DMZ_SIZE);
  MD5Final(digest, &ctx);
}

template <typename Rec>
void seal(Rec *rec)
{
  unsigned char digest[MD5_DIGEST_LEN];
  compute_sum(rec, digest);
  memcpy(reinterpret_cast<unsigned char *>(rec) + offsetof(Rec, check_sum), digest, sizeof digest);
}

template <typename Rec>
bool sum_matches(const Rec *rec)
{
  unsigned char digest[MD5_DIGEST_LEN];
  compute_sum(rec, digest);
  return memcmp(reinterpret_cast<const unsigned char *>(rec) + offsetof(Rec, check_sum), digest, sizeof digest) == 0;
}

bool hdr_valid(const mem_debug_blk_hdr *hdr)
{
  return memcmp(hdr->magic, HDR_MAGIC, 4) == 0 && sum_matches(hdr);
}

/* A trailer is valid with its magic and sum intact and the fill bytes between
 * the data and the trailer untouched. */
bool end_valid(const mem_debug_blk_end *end)
{
  if (memcmp(end->magic, END_MAGIC, 4) != 0 || !sum_matches(end))
    return false;
  size_t size = end->size;
  size_t pad = padded(size) - size;
  const unsigned char *fill = reinterpret_cast<const unsigned char *>(end) - pad;
  return memcmp(fill, padseq, pad) == 0;
}

/* Random guard words from a generator of our own, seeded like the C library's
 * would be (microseconds XOR seconds of the clock), so that the process-wide
 * rand() sequence other modules draw from is left alone. */
void fill_dmz(unsigned char *dmz)
{
  timeval tv;
  gettimeofday(&tv, nullptr);
  std::minstd_rand gen((uint32_t)tv.tv_usec ^ (uint32_t)tv.tv_sec);
  uint32_t words[DMZ_SIZE];
  for (auto &w : words)
    w = (uint32_t)gen();
  memcpy(dmz, words, sizeof words);
}

void check_locked()
{
  mem_debug_blk_hdr *hdr = first_blk_hdr;
  mem_debug_blk_end *end = first_blk_end;
  while (hdr && end) {
    bool h = hdr_valid(hdr);
    bool e = end_valid(end);
    if (h && e) {
      hdr = hdr->next;
      end = end->next;
      continue;
    }
    if (!h && e) {
      report("memory debugger: %.256s: size=%d, ptr=%p: memory overflow!\n", end->info, (int)end->size, user_of(end));
    } else if (h && !e) {
      report("memory debugger: %.256s: size=%d, ptr=%p: memory underflow!\n", hdr->info, (int)hdr->size,
             (void *)user_of(hdr));
    } else {
      report("memory debugger: fatal: memory block corrupted in both sides! try to increate the dmz size!\n");
      report("memory debugger: %.256s: size=%d, ptr=%p\n", end->info, (int)end->size, user_of(end));
      report("memory debugger: %.256s: size=%d, ptr=%p\n", hdr->info, (int)hdr->size, (void *)user_of(hdr));
    }
    die();
  }
}

/* The guarded block whose user pointer is ptr, live or freed, or null. A
 * pointer strictly inside a guarded block (header to trailer) is a caller's
 * fault that no heap release could survive: it aborts. */
mem_debug_blk_hdr *mem_debug_find_blk(void *ptr, const char *file, int line, const char *func, const char *ptr_text)
{
  auto &blocks = all_blocks();
  uintptr_t p = reinterpret_cast<uintptr_t>(ptr);
  auto it = blocks.upper_bound(p);
  if (it == blocks.begin())
    return nullptr;
  --it;
  mem_debug_blk_hdr *hdr = it->second;
  uintptr_t user = reinterpret_cast<uintptr_t>(user_of(hdr));
  if (p == user)
    return hdr;
  uintptr_t stop = user + padded(hdr->size) + sizeof(mem_debug_blk_end);
  if (p < stop) {
    report("memory debugger: %s: %d: %s(): free(%s): %p is inside the guarded block %.256s!\n", file, line, func,
           ptr_text, ptr, hdr->info);
    die();
  }
  return nullptr;
}

/* Takes a block off both live lists. Its memory stays allocated and is no
 * longer examined, so a second free still finds it and is reported. */
void mem_debug_free_blk(mem_debug_blk_hdr *hdr)
{
  mem_debug_blk_end *end = end_of(hdr, hdr->size);
  if (hdr->free > 0 || end->free > 0) {
    report("free again!\n");
    die();
  }

  if (hdr->prev) {
    hdr->prev->next = hdr->next;
    seal(hdr->prev);
  } else {
    first_blk_hdr = hdr->next;
  }
  if (hdr->next) {
    hdr->next->prev = hdr->prev;
    seal(hdr->next);
  } else {
    last_blk_hdr = hdr->prev;
  }

  if (end->prev) {
    end->prev->next = end->next;
    seal(end->prev);
  } else {
    first_blk_end = end->next;
  }
  if (end->next) {
    end->next->prev = end->prev;
    seal(end->next);
  } else {
    last_blk_end = end->prev;
  }

  hdr->free++;
  end->free++;
}

void *alloc_locked(size_t size, const char *file, int line, const char *func, const char *size_text)
{
  if (size > MEM_ALLOC_MAX) {
    report("memory debugger: %s: %d: %s(): malloc(%s): malloc too much memory: %zu!\n", file, line, func, size_text,
           size);
    die();
  }
  check_locked();

  size_t total = sizeof(mem_debug_blk_hdr) + padded(size) + sizeof(mem_debug_blk_end);
  void *raw = malloc(total);
  if (!raw) {
    report("memory debugger: %s: %d: %s(): malloc(%s): not enought memory!\n", file, line, func, size_text);
    die();
  }
  /* Indexed before any list changes: running out of memory here ends the
   * process with the lists still consistent. */
  mem_debug_blk_hdr *hdr = static_cast<mem_debug_blk_hdr *>(raw);
  all_blocks()[reinterpret_cast<uintptr_t>(hdr)] = hdr;

  char info[MEM_DEBUG_INFO_LEN];
  memset(info, 0, sizeof info);
  snprintf(info, sizeof info, "%s:%d:%s():malloc(%s)", file, line, func, size_text);

  unsigned char *fill = user_of(hdr) + size;
  for (size_t i = 0; i < padded(size) - size; i++)
    fill[i] = padseq[i];

  memset(hdr, 0, sizeof *hdr);
  memcpy(hdr->magic, HDR_MAGIC, 4);
  memcpy(hdr->info, info, sizeof info);
  hdr->size = size;
  hdr->free = 0;
  fill_dmz(reinterpret_cast<unsigned char *>(hdr) + offsetof(mem_debug_blk_hdr, dmz));
  hdr->next = nullptr;
  hdr->prev = last_blk_hdr;
  if (last_blk_hdr) {
    last_blk_hdr->next = hdr;
    seal(last_blk_hdr);
  } else {
    first_blk_hdr = hdr;
  }
  last_blk_hdr = hdr;
  seal(hdr);

  mem_debug_blk_end *end = end_of(hdr, size);
  memset(static_cast<void *>(end), 0, sizeof *end);
  memcpy(end->magic, END_MAGIC, 4);
  memcpy(end->info, info, sizeof info);
  end->size = size;
  end->free = 0;
  fill_dmz(reinterpret_cast<unsigned char *>(end) + offsetof(mem_debug_blk_end, dmz));
  end->next = nullptr;
  end->prev = last_blk_end;
  if (last_blk_end) {
    last_blk_end->next = end;
    seal(last_blk_end);
  } else {
    first_blk_end = end;
  }
  last_blk_end = end;
  seal(end);

  return user_of(hdr);
}

/* The guarded copy proper: the description becomes the allocation's size text,
 * so it shows in the block's info. */
char *__memdebug_do_strdup(const char *text, const char *file, int line, const char *func, const char *desc)
{
  size_t len = strlen(text);
  char *copy = static_cast<char *>(alloc_locked(len + 1, file, line, func, desc));
  memcpy(copy, text, len + 1);
  return copy;
}

} /* namespace */

void *__memdebug_alloc(size_t size, const char *file, int line, const char *func, const char *size_text)
{
  std::scoped_lock hold(g_lock);
  return alloc_locked(size, file, line, func, size_text);
}

void __memdebug_free(void *ptr, const char *file, int line, const char *func, const char *ptr_text)
{
  std::scoped_lock hold(g_lock);
  check_locked();
  if (!ptr) {
    report("memory debugger: %s: %d: %s(): free(%s): try to free null pointer!\n", file, line, func, ptr_text);
    die();
  }
  mem_debug_blk_hdr *hdr = mem_debug_find_blk(ptr, file, line, func, ptr_text);
  if (hdr)
    mem_debug_free_blk(hdr);
  else
    free(ptr);
}

char *__memdebug_strdup(const char *text, const char *file, int line, const char *func, const char *code_text)
{
  std::scoped_lock hold(g_lock);
  if (!text) {
    report("memory debugger: %s: %d: %s(): strdup(%s): try to duplicate null pointer!\n", file, line, func, code_text);
    die();
  }
  char desc[MEM_DEBUG_STRDUP_DESC_MAX + 1];
  snprintf(desc, sizeof desc, "%s:\"%s\"", code_text, text);
  return __memdebug_do_strdup(text, file, line, func, desc);
}

void __memdebug_check()
{
  std::scoped_lock hold(g_lock);
  check_locked();
}

void __memdebug_print()
{
  std::scoped_lock hold(g_lock);
  report("memory debugger: allocated memory list:\n");
  int count = 0;
  size_t total = 0;
  for (mem_debug_blk_hdr *hdr = first_blk_hdr; hdr; hdr = hdr->next) {
    report("#%d: %.256s: size=%d, ptr=%p\n", count, hdr->info, (int)hdr->size, (void *)user_of(hdr));
    count++;
    total += hdr->size;
  }
  report("count=%d total=%zu(%zuK)\n", count, total, total / 1024);
}

} /* namespace utils */
