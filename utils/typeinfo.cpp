/* Type descriptor operations and the "int" descriptor. */
#include "utils/typeinfo.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "utils/datalist.h"

namespace utils {

void *type_create(const struct typeinfo *ti, ...)
{
  void *obj = malloc(ti->size ? ti->size : 1);
  if (!obj)
    return nullptr;
  if (!ti->init) {
    memset(obj, 0, ti->size);
    return obj;
  }
  va_list ap;
  va_start(ap, ti);
  int rc = ti->init(obj, ap);
  va_end(ap);
  if (rc < 0) {
    free(obj);
    return nullptr;
  }
  return obj;
}

void type_free(const struct typeinfo *ti, void *obj)
{
  if (!obj)
    return;
  if (ti->free)
    ti->free(obj);
  free(obj);
}

int type_copy(const struct typeinfo *ti, void *dst, const void *src)
{
  if (ti->copy)
    return ti->copy(dst, src);
  memcpy(dst, src, ti->size);
  return (int)ti->size;
}

void *type_clone(const struct typeinfo *ti, const void *src)
{
  /* Zero-filled, so a copy function can tell a fresh object from a live one. */
  void *obj = calloc(1, ti->size ? ti->size : 1);
  if (!obj)
    return nullptr;
  if (type_copy(ti, obj, src) < 0) {
    free(obj);
    return nullptr;
  }
  return obj;
}

TYPEDEF(int32_t, int, nullptr, nullptr, nullptr);

} /* namespace utils */
