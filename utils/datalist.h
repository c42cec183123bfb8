/* datalist: the library's one container, a singly linked list of element
 * pointers with a reference count. Its nodes (and, for create_datalist lists,
 * the record itself) come from a memory pool that belongs to the list; released
 * nodes are kept on a free chain. The list never frees element data, not even
 * elements it created from a descriptor: their owner releases them before
 * dropping the last reference. Lists are not synchronised.
 *
 * Walk:   for (auto *it = datalist_first(l); it; it = datalist_next(it))
 *             use(datalist_itdata(it)); */
#ifndef UTILS_DATALIST_H
#define UTILS_DATALIST_H

#include <stddef.h>

#include "utils/export.h"
#include "utils/typeinfo.h"
#include "utils/utils.h"

namespace utils QU_EXPORT {

struct datalist_iterator {
  const struct typeinfo *typeinfo; /* descriptor when the list created the element */
  void *data;                      /* the element */
  struct datalist_iterator *next;  /* following node, null at the end */
};

struct datalist {
  struct memblk *memblk; /* the list's pool */
  int n;                 /* element count */
  int ref;               /* references; 1 after creation, 0 once released */
  struct datalist_iterator *first;
  struct datalist_iterator *last;
  struct datalist_iterator *free; /* released nodes for reuse */
};

/* Create / release. */
struct datalist *create_datalist();    /* record in its own pool; null without memory */
int datalist_init(struct datalist *l); /* caller's record: empty, ref 1, no pool */
void datalist_ref(struct datalist *l);
void datalist_free(struct datalist *l);                     /* drops a reference; the last one releases the pool */
void *datalist_allocmem(struct datalist *l, size_t nbytes); /* pointer-aligned, lives with the pool */

/* Verbs. Adding to a list whose ref is 0 or less aborts the process. */
int datalist_size(const struct datalist *l);
int datalist_insert(struct datalist *l, int index, void *data); /* 0 / -1 */
void *datalist_insert_type(struct datalist *l, int index, const struct typeinfo *ti);
int datalist_append(struct datalist *l, void *data); /* 0 / -1 */
void *datalist_append_type(struct datalist *l, const struct typeinfo *ti);
int datalist_remove_data(struct datalist *l, void *data); /* first occurrence */
int datalist_remove(struct datalist *l, int index);
int datalist_getdata(const struct datalist *l, int index, void **data);
int datalist_copy(struct datalist *dest, const struct datalist *src); /* dest's n, or -1 */

/* Iteration; next and itdata of null are null. */
struct datalist_iterator *datalist_first(const struct datalist *l);
struct datalist_iterator *datalist_last(const struct datalist *l);
struct datalist_iterator *datalist_next(const struct datalist_iterator *it);
void *datalist_itdata(const struct datalist_iterator *it);

/* The library's descriptors: "datalist" (a list record; copies deeply),
 * "sockaddr" (a sockaddr_var of 66 bytes, copied with sockcpy), "int" (4 bytes). */
TYPEDECL(datalist);
TYPEDECL(sockaddr);
TYPEDECL(int);

} /* namespace utils */

#endif
