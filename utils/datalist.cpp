/* The pooled list of element pointers. Nodes are carved from the list's pool
 * and recycled through its free chain; the pool goes back to the heap only when
 * the last reference is dropped. */
#include "utils/datalist.h"

#include <stdlib.h>
#include <string.h>

#include "utils/debug.h"

namespace utils {

namespace {

datalist_iterator *alloc_datalist_iterator(datalist *l)
{
  if (l->ref <= 0) {
    dprint(0, "%s(): datalist not initialized!\n", "alloc_datalist_iterator");
    log_abort();
  }
  datalist_iterator *it = l->free;
  if (it) {
    l->free = it->next;
  } else {
    it = static_cast<datalist_iterator *>(memblk_alloc(&l->memblk, sizeof *it));
    if (!it)
      return nullptr;
  }
  memset(it, 0, sizeof *it);
  return it;
}

void release_datalist_iterator(datalist *l, datalist_iterator *it)
{
  memset(it, 0, sizeof *it);
  it->next = l->free;
  l->free = it;
}

void link_at(datalist *l, int index, datalist_iterator *it)
{
  if (index <= 0 || !l->first) {
    it->next = l->first;
    l->first = it;
    if (!l->last)
      l->last = it;
  } else if (index >= l->n) {
    l->last->next = it;
    l->last = it;
  } else {
    datalist_iterator *prev = l->first;
    for (int i = 1; i < index; i++)
      prev = prev->next;
    it->next = prev->next;
    prev->next = it;
  }
  l->n++;
}

/* Unlinks the node after prev (or the first node when prev is null). */
void unlink_after(datalist *l, datalist_iterator *prev, datalist_iterator *it)
{
  if (prev)
    prev->next = it->next;
  else
    l->first = it->next;
  if (l->last == it)
    l->last = prev;
  l->n--;
  release_datalist_iterator(l, it);
}

void *add_typed(datalist *l, int index, const typeinfo *ti, bool append)
{
  void *obj = type_create(ti);
  if (!obj)
    return nullptr;
  datalist_iterator *it = alloc_datalist_iterator(l);
  if (!it) {
    type_free(ti, obj);
    return nullptr;
  }
  it->typeinfo = ti;
  it->data = obj;
  link_at(l, append ? l->n : index, it);
  return obj;
}

int datalist_type_init(void *obj, va_list)
{
  return datalist_init(static_cast<datalist *>(obj));
}

void datalist_type_free(void *obj)
{
  /* type_free releases the record itself afterwards, so only the pool goes. */
  auto *l = static_cast<datalist *>(obj);
  memblk_free(&l->memblk);
  memset(l, 0, sizeof *l);
}

int datalist_type_copy(void *dst, const void *src)
{
  auto *d = static_cast<datalist *>(dst);
  /* A fresh record (zero-filled by type_clone) is started empty; a live list
   * keeps its pool and references and is refilled. */
  if (d->ref <= 0)
    datalist_init(d);
  return datalist_copy(d, static_cast<const datalist *>(src));
}

} /* namespace */

struct datalist *create_datalist()
{
  memblk *pool = nullptr;
  auto *l = static_cast<datalist *>(memblk_alloc(&pool, sizeof(datalist)));
  if (!l)
    return nullptr;
  memset(l, 0, sizeof *l);
  l->memblk = pool;
  l->ref = 1;
  return l;
}

int datalist_init(struct datalist *l)
{
  memset(l, 0, sizeof *l);
  l->ref = 1;
  return 0;
}

void datalist_ref(struct datalist *l)
{
  l->ref++;
}

void datalist_free(struct datalist *l)
{
  if (l->ref > 1) {
    l->ref--;
    return;
  }
  memblk *pool = l->memblk;
  memset(l, 0, sizeof *l);
  memblk_free(&pool);
}

void *datalist_allocmem(struct datalist *l, size_t nbytes)
{
  /* Nodes share this pool and hold pointers: keep every piece pointer-aligned. */
  const size_t align = alignof(void *);
  if (nbytes <= SIZE_MAX - (align - 1))
    nbytes = (nbytes + align - 1) & ~(align - 1);
  return memblk_alloc(&l->memblk, nbytes);
}

int datalist_size(const struct datalist *l)
{
  return l->n;
}

int datalist_insert(struct datalist *l, int index, void *data)
{
  datalist_iterator *it = alloc_datalist_iterator(l);
  if (!it)
    return -1;
  it->data = data;
  link_at(l, index, it);
  return 0;
}

void *datalist_insert_type(struct datalist *l, int index, const struct typeinfo *ti)
{
  return add_typed(l, index, ti, false);
}

int datalist_append(struct datalist *l, void *data)
{
  return datalist_insert(l, l->n, data);
}

void *datalist_append_type(struct datalist *l, const struct typeinfo *ti)
{
  return add_typed(l, 0, ti, true);
}

int datalist_remove_data(struct datalist *l, void *data)
{
  datalist_iterator *prev = nullptr;
  for (datalist_iterator *it = l->first; it; prev = it, it = it->next) {
    if (it->data == data) {
      unlink_after(l, prev, it);
      return 0;
    }
  }
  return -1;
}

int datalist_remove(struct datalist *l, int index)
{
  if (index < 0 || index >= l->n)
    return -1;
  datalist_iterator *prev = nullptr;
  datalist_iterator *it = l->first;
  for (int i = 0; i < index; i++) {
    prev = it;
    it = it->next;
  }
  unlink_after(l, prev, it);
  return 0;
}

int datalist_getdata(const struct datalist *l, int index, void **data)
{
  if (index < 0 || index >= l->n)
    return -1;
  datalist_iterator *it = l->first;
  for (int i = 0; i < index; i++)
    it = it->next;
  *data = it->data;
  return 0;
}

int datalist_copy(struct datalist *dest, const struct datalist *src)
{
  if (dest == src)
    return dest->n;
  while (dest->first) {
    datalist_iterator *it = dest->first;
    dest->first = it->next;
    release_datalist_iterator(dest, it);
  }
  dest->last = nullptr;
  dest->n = 0;
  for (datalist_iterator *s = src->first; s; s = s->next) {
    if (!s->typeinfo) {
      if (datalist_append(dest, s->data) < 0)
        return -1;
      continue;
    }
    void *obj = datalist_append_type(dest, s->typeinfo);
    if (!obj)
      return -1;
    if (type_copy(s->typeinfo, obj, s->data) < 0) {
      /* A half-copied element is not left behind: the destination keeps
       * exactly the elements copied so far. */
      datalist_remove_data(dest, obj);
      type_free(s->typeinfo, obj);
      return -1;
    }
  }
  return dest->n;
}

struct datalist_iterator *datalist_first(const struct datalist *l)
{
  return l->first;
}

struct datalist_iterator *datalist_last(const struct datalist *l)
{
  return l->last;
}

struct datalist_iterator *datalist_next(const struct datalist_iterator *it)
{
  return it ? it->next : nullptr;
}

void *datalist_itdata(const struct datalist_iterator *it)
{
  return it ? it->data : nullptr;
}

TYPEDEF(datalist, datalist, datalist_type_init, datalist_type_free, datalist_type_copy);

} /* namespace utils */
