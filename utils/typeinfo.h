/* Type descriptors: how to create, release and copy objects of one type, so that
 * a datalist can create its elements and deep-copy itself. Descriptors are
 * constant data declared with TYPEDEF and named with TYPEINFO. */
#ifndef UTILS_TYPEINFO_H
#define UTILS_TYPEINFO_H

#include <stdarg.h>
#include <stddef.h>

#include "utils/export.h"

namespace utils QU_EXPORT {

struct typeinfo {
  const char *name;                        /* type name, for diagnostics */
  size_t size;                             /* bytes of one object */
  int (*init)(void *obj, va_list ap);      /* < 0 fails; null: zero-fill */
  void (*free)(void *obj);                 /* releases what obj holds, not obj; may be null */
  int (*copy)(void *dst, const void *src); /* < 0 fails; null: byte copy returning size */
};

/* A new object of the type (heap), initialised with the extra arguments; null
 * without memory or when init fails. */
void *type_create(const struct typeinfo *ti, ...);
/* Calls the descriptor's free on obj, then releases obj's memory. */
void type_free(const struct typeinfo *ti, void *obj);
/* The descriptor's copy, or a byte copy of size bytes returning size. */
int type_copy(const struct typeinfo *ti, void *dst, const void *src);
/* A new copy of src, or null. */
void *type_clone(const struct typeinfo *ti, const void *src);

} /* namespace utils */

/* TYPEDEF(type, name, init, free, copy) defines the descriptor __<name>_typeinfo
 * in the current namespace; TYPEINFO(name) is its address (found by ordinary
 * lookup, so the library's own descriptors need `using namespace utils` or a
 * scope inside it); TYPEDECL(name) declares it for other files. */
#define TYPEDEF(type, name, init, free, copy)         \
  extern const ::utils::typeinfo __##name##_typeinfo; \
  const ::utils::typeinfo __##name##_typeinfo = {#name, sizeof(type), init, free, copy}
#define TYPEINFO(name) (&__##name##_typeinfo)
#define TYPEDECL(name) extern const ::utils::typeinfo __##name##_typeinfo

#endif
