/* The memory debugger: heap blocks wrapped in a check-summed header and trailer
 * with random guard zones on both sides of the user data. Every allocation and
 * free first checks every live block; any corruption, a second free, a null free
 * or an oversized request writes its message to standard error and aborts.
 *
 * One heap allocation per guarded block:
 *   header | user data (size bytes) | 0..3 fill bytes to a multiple of 4 | trailer
 * The user pointer is the first data byte; the header's size keeps it aligned for
 * any object. Freed blocks are never released, so that a second free of the same
 * pointer is recognised. The debugger is for debugging builds: its checks cost
 * time proportional to the number of live blocks on every call. */
#ifndef UTILS_MEMDEBUG_H
#define UTILS_MEMDEBUG_H

#include <stddef.h>
#include <stdint.h>

#include "utils/export.h"
#include "utils/md5.h"

#define DMZ_SIZE 64                /* guard words on each side of the user data */
#define MEM_ALLOC_MAX (1024 * 128) /* larger requests abort the process */
#define MEM_DEBUG_INFO_LEN 256     /* description text, zero-terminated */
#define MEM_DEBUG_STACK_DEPTH 20
#define MEM_DEBUG_PAD_LEN 3
#define MEM_DEBUG_STRDUP_DESC_MAX 4095 /* strdup's description, characters */

namespace utils QU_EXPORT {

/* In front of each guarded block. */
struct mem_debug_blk_hdr {
  char magic[4];                      /* "mdbh" */
  char info[MEM_DEBUG_INFO_LEN];      /* "file:line:func():malloc(size text)" */
  void *stack[MEM_DEBUG_STACK_DEPTH]; /* room for a call chain; not filled */
  size_t size;                        /* requested size in bytes */
  struct mem_debug_blk_hdr *next;     /* next live header, allocation order */
  struct mem_debug_blk_hdr *prev;     /* previous live header */
  int free;                           /* number of frees; 0 while live */
  unsigned char check_sum[MD5_DIGEST_LEN];
  unsigned char reserved[12]; /* aligns the user data for any object */
  uint32_t dmz[DMZ_SIZE];     /* guard words, adjacent to the user data */
};

/* Behind each guarded block. It starts at the first multiple of 4 after the
 * user data, so it is laid out for 4-byte alignment. */
struct __attribute__((packed, aligned(4))) mem_debug_blk_end {
  uint32_t dmz[DMZ_SIZE];             /* guard words, adjacent to the user data */
  int free;                           /* number of frees; 0 while live */
  struct mem_debug_blk_end *prev;     /* previous live trailer */
  struct mem_debug_blk_end *next;     /* next live trailer, allocation order */
  size_t size;                        /* requested size in bytes */
  void *stack[MEM_DEBUG_STACK_DEPTH]; /* room for a call chain; not filled */
  char info[MEM_DEBUG_INFO_LEN];      /* same description as the header's */
  unsigned char check_sum[MD5_DIGEST_LEN];
  char magic[4]; /* "mdbe" */
};

/* Ends of the live lists, in allocation order. */
extern struct mem_debug_blk_hdr *first_blk_hdr;
extern struct mem_debug_blk_hdr *last_blk_hdr;
extern struct mem_debug_blk_end *first_blk_end;
extern struct mem_debug_blk_end *last_blk_end;
extern const unsigned char padseq[MEM_DEBUG_PAD_LEN]; /* fill bytes 0xAF 0x71 0x80 */

/* Returns a guarded block of size bytes described by the call site. Aborts for
 * a request above MEM_ALLOC_MAX, on corruption of any live block, and without
 * memory. */
void *__memdebug_alloc(size_t size, const char *file, int line, const char *func, const char *size_text);

/* Frees a guarded block: it leaves the live lists but stays allocated. A pointer
 * the debugger never handed out goes to the ordinary heap release. Aborts on a
 * null pointer, a second free, a pointer into the middle of a guarded block, and
 * on corruption of any live block. */
void __memdebug_free(void *ptr, const char *file, int line, const char *func, const char *ptr_text);

/* Guarded copy of text, described by the code text and the text itself. Aborts
 * on a null text and wherever __memdebug_alloc aborts. */
char *__memdebug_strdup(const char *text, const char *file, int line, const char *func, const char *code_text);

/* Checks every live block; aborts on the first corrupted one. */
void __memdebug_check();

/* Lists the live blocks on standard error, with their count and total size. */
void __memdebug_print();

} /* namespace utils */

#define MEMDEBUG_ALLOC(size) ::utils::__memdebug_alloc((size), __FILE__, __LINE__, __func__, #size)
#define MEMDEBUG_FREE(ptr) ::utils::__memdebug_free((ptr), __FILE__, __LINE__, __func__, #ptr)
#define MEMDEBUG_STRDUP(text) ::utils::__memdebug_strdup((text), __FILE__, __LINE__, __func__, #text)

#endif
