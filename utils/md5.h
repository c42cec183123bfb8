/* MD5 message digest (RFC 1321) with the usual public interface, and a one-shot
 * form that writes the raw 16-byte digest. Used by the memory debugger's check
 * sums. */
#ifndef UTILS_MD5_H
#define UTILS_MD5_H

#include <stddef.h>
#include <stdint.h>

#include "utils/export.h"

#define MD5_DIGEST_LEN 16

namespace utils QU_EXPORT {

struct MD5Context {
  uint32_t buf[4];      /* state words A, B, C, D */
  uint32_t bits[2];     /* message length in bits, low word first */
  unsigned char in[64]; /* input block being filled */
};

void MD5Init(struct MD5Context *ctx);
void MD5Update(struct MD5Context *ctx, const unsigned char *data, size_t len);
void MD5Final(unsigned char digest[MD5_DIGEST_LEN], struct MD5Context *ctx);
/* One compression step of the 64-byte block `in` (16 little-endian words). */
void MD5Transform(uint32_t buf[4], const uint32_t in[16]);
/* Init, one update and final: the raw digest (not hexadecimal text). */
void MD5(const unsigned char *data, size_t len, unsigned char digest[MD5_DIGEST_LEN]);

} /* namespace utils */

#endif
