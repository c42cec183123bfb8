/* Visibility of the engine library's symbols. The library is built with hidden
 * visibility; the runtime support namespace and the engine's C API are the only
 * things it exports. */
#ifndef UTILS_EXPORT_H
#define UTILS_EXPORT_H

#define QU_EXPORT __attribute__((visibility("default")))

#endif
