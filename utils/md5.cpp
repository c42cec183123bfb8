/* MD5 (RFC 1321). The block is kept as bytes and read as little-endian words,
 * so the code does not depend on the host's byte order. */
#include "utils/md5.h"

#include <string.h>

namespace utils {

namespace {

inline uint32_t rotl(uint32_t x, int n)
{
  return (x << n) | (x >> (32 - n));
}

inline uint32_t load_le32(const unsigned char *p)
{
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline void store_le32(unsigned char *p, uint32_t v)
{
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

void transform_block(uint32_t buf[4], const unsigned char block[64])
{
  uint32_t in[16];
  for (int i = 0; i < 16; i++)
    in[i] = load_le32(block + 4 * i);
  MD5Transform(buf, in);
}

} /* namespace */

#define F1(x, y, z) (z ^ (x & (y ^ z)))
#define F2(x, y, z) F1(z, x, y)
#define F3(x, y, z) (x ^ y ^ z)
#define F4(x, y, z) (y ^ (x | ~z))
#define STEP(f, w, x, y, z, data, s) (w += f(x, y, z) + (data), w = rotl(w, s) + x)

void MD5Transform(uint32_t buf[4], const uint32_t in[16])
{
  uint32_t a = buf[0], b = buf[1], c = buf[2], d = buf[3];

  STEP(F1, a, b, c, d, in[0] + 0xd76aa478, 7);
  STEP(F1, d, a, b, c, in[1] + 0xe8c7b756, 12);
  STEP(F1, c, d, a, b, in[2] + 0x242070db, 17);
  STEP(F1, b, c, d, a, in[3] + 0xc1bdceee, 22);
  STEP(F1, a, b, c, d, in[4] + 0xf57c0faf, 7);
  STEP(F1, d, a, b, c, in[5] + 0x4787c62a, 12);
  STEP(F1, c, d, a, b, in[6] + 0xa8304613, 17);
  STEP(F1, b, c, d, a, in[7] + 0xfd469501, 22);
  STEP(F1, a, b, c, d, in[8] + 0x698098d8, 7);
  STEP(F1, d, a, b, c, in[9] + 0x8b44f7af, 12);
  STEP(F1, c, d, a, b, in[10] + 0xffff5bb1, 17);
  STEP(F1, b, c, d, a, in[11] + 0x895cd7be, 22);
  STEP(F1, a, b, c, d, in[12] + 0x6b901122, 7);
  STEP(F1, d, a, b, c, in[13] + 0xfd987193, 12);
  STEP(F1, c, d, a, b, in[14] + 0xa679438e, 17);
  STEP(F1, b, c, d, a, in[15] + 0x49b40821, 22);

  STEP(F2, a, b, c, d, in[1] + 0xf61e2562, 5);
  STEP(F2, d, a, b, c, in[6] + 0xc040b340, 9);
  STEP(F2, c, d, a, b, in[11] + 0x265e5a51, 14);
  STEP(F2, b, c, d, a, in[0] + 0xe9b6c7aa, 20);
  STEP(F2, a, b, c, d, in[5] + 0xd62f105d, 5);
  STEP(F2, d, a, b, c, in[10] + 0x02441453, 9);
  STEP(F2, c, d, a, b, in[15] + 0xd8a1e681, 14);
  STEP(F2, b, c, d, a, in[4] + 0xe7d3fbc8, 20);
  STEP(F2, a, b, c, d, in[9] + 0x21e1cde6, 5);
  STEP(F2, d, a, b, c, in[14] + 0xc33707d6, 9);
  STEP(F2, c, d, a, b, in[3] + 0xf4d50d87, 14);
  STEP(F2, b, c, d, a, in[8] + 0x455a14ed, 20);
  STEP(F2, a, b, c, d, in[13] + 0xa9e3e905, 5);
  STEP(F2, d, a, b, c, in[2] + 0xfcefa3f8, 9);
  STEP(F2, c, d, a, b, in[7] + 0x676f02d9, 14);
  STEP(F2, b, c, d, a, in[12] + 0x8d2a4c8a, 20);

  STEP(F3, a, b, c, d, in[5] + 0xfffa3942, 4);
  STEP(F3, d, a, b, c, in[8] + 0x8771f681, 11);
  STEP(F3, c, d, a, b, in[11] + 0x6d9d6122, 16);
  STEP(F3, b, c, d, a, in[14] + 0xfde5380c, 23);
  STEP(F3, a, b, c, d, in[1] + 0xa4beea44, 4);
  STEP(F3, d, a, b, c, in[4] + 0x4bdecfa9, 11);
  STEP(F3, c, d, a, b, in[7] + 0xf6bb4b60, 16);
  STEP(F3, b, c, d, a, in[10] + 0xbebfbc70, 23);
  STEP(F3, a, b, c, d, in[13] + 0x289b7ec6, 4);
  STEP(F3, d, a, b, c, in[0] + 0xeaa127fa, 11);
  STEP(F3, c, d, a, b, in[3] + 0xd4ef3085, 16);
  STEP(F3, b, c, d, a, in[6] + 0x04881d05, 23);
  STEP(F3, a, b, c, d, in[9] + 0xd9d4d039, 4);
  STEP(F3, d, a, b, c, in[12] + 0xe6db99e5, 11);
  STEP(F3, c, d, a, b, in[15] + 0x1fa27cf8, 16);
  STEP(F3, b, c, d, a, in[2] + 0xc4ac5665, 23);

  STEP(F4, a, b, c, d, in[0] + 0xf4292244, 6);
  STEP(F4, d, a, b, c, in[7] + 0x432aff97, 10);
  STEP(F4, c, d, a, b, in[14] + 0xab9423a7, 15);
  STEP(F4, b, c, d, a, in[5] + 0xfc93a039, 21);
  STEP(F4, a, b, c, d, in[12] + 0x655b59c3, 6);
  STEP(F4, d, a, b, c, in[3] + 0x8f0ccc92, 10);
  STEP(F4, c, d, a, b, in[10] + 0xffeff47d, 15);
  STEP(F4, b, c, d, a, in[1] + 0x85845dd1, 21);
  STEP(F4, a, b, c, d, in[8] + 0x6fa87e4f, 6);
  STEP(F4, d, a, b, c, in[15] + 0xfe2ce6e0, 10);
  STEP(F4, c, d, a, b, in[6] + 0xa3014314, 15);
  STEP(F4, b, c, d, a, in[13] + 0x4e0811a1, 21);
  STEP(F4, a, b, c, d, in[4] + 0xf7537e82, 6);
  STEP(F4, d, a, b, c, in[11] + 0xbd3af235, 10);
  STEP(F4, c, d, a, b, in[2] + 0x2ad7d2bb, 15);
  STEP(F4, b, c, d, a, in[9] + 0xeb86d391, 21);

  buf[0] += a;
  buf[1] += b;
  buf[2] += c;
  buf[3] += d;
}

void MD5Init(struct MD5Context *ctx)
{
  ctx->buf[0] = 0x67452301;
  ctx->buf[1] = 0xefcdab89;
  ctx->buf[2] = 0x98badcfe;
  ctx->buf[3] = 0x10325476;
  ctx->bits[0] = 0;
  ctx->bits[1] = 0;
}

void MD5Update(struct MD5Context *ctx, const unsigned char *data, size_t len)
{
  uint32_t t = ctx->bits[0];
  uint64_t total = ((uint64_t)ctx->bits[1] << 32 | t) + ((uint64_t)len << 3);
  ctx->bits[0] = (uint32_t)total;
  ctx->bits[1] = (uint32_t)(total >> 32);

  size_t used = (t >> 3) & 0x3f;
  if (used) {
    size_t room = 64 - used;
    if (len < room) {
      memcpy(ctx->in + used, data, len);
      return;
    }
    memcpy(ctx->in + used, data, room);
    transform_block(ctx->buf, ctx->in);
    data += room;
    len -= room;
  }
  while (len >= 64) {
    transform_block(ctx->buf, data);
    data += 64;
    len -= 64;
  }
  memcpy(ctx->in, data, len);
}

void MD5Final(unsigned char digest[MD5_DIGEST_LEN], struct MD5Context *ctx)
{
  size_t used = (ctx->bits[0] >> 3) & 0x3f;
  unsigned char *p = ctx->in + used;
  *p++ = 0x80;
  size_t room = 64 - 1 - used;
  if (room < 8) {
    memset(p, 0, room);
    transform_block(ctx->buf, ctx->in);
    p = ctx->in;
    room = 56;
  } else {
    room -= 8;
  }
  memset(p, 0, room);
  store_le32(ctx->in + 56, ctx->bits[0]);
  store_le32(ctx->in + 60, ctx->bits[1]);
  transform_block(ctx->buf, ctx->in);
  for (int i = 0; i < 4; i++)
    store_le32(digest + 4 * i, ctx->buf[i]);
  memset(ctx, 0, sizeof *ctx);
}

void MD5(const unsigned char *data, size_t len, unsigned char digest[MD5_DIGEST_LEN])
{
  MD5Context ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, data, len);
  MD5Final(digest, &ctx);
}

} /* namespace utils */
