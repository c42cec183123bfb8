// MD5 against the test suite of RFC 1321, one-shot and fed in pieces that
// straddle the 64-byte blocks.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "utils/md5.h"

namespace {

std::string hex(const unsigned char d[MD5_DIGEST_LEN])
{
  std::string out;
  char b[3];
  for (int i = 0; i < MD5_DIGEST_LEN; i++) {
    snprintf(b, sizeof b, "%02x", d[i]);
    out += b;
  }
  return out;
}

const unsigned char *bytes(const std::string &s)
{
  return reinterpret_cast<const unsigned char *>(s.data());
}

const std::vector<std::pair<std::string, std::string>> kRfc1321 = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"1234567890123456789012345678901234567890123456789012345678901234567890"
     "1234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, Rfc1321SuiteOneShot)
{
  for (const auto &[text, digest] : kRfc1321) {
    unsigned char d[MD5_DIGEST_LEN];
    utils::MD5(bytes(text), text.size(), d);
    EXPECT_EQ(digest, hex(d)) << '"' << text << '"';
  }
}

TEST(Md5, Rfc1321SuiteFedInPieces)
{
  for (const auto &[text, digest] : kRfc1321) {
    for (size_t piece : {1u, 3u, 63u, 64u, 65u}) {
      utils::MD5Context ctx;
      utils::MD5Init(&ctx);
      for (size_t at = 0; at < text.size(); at += piece)
        utils::MD5Update(&ctx, bytes(text) + at, std::min(piece, text.size() - at));
      unsigned char d[MD5_DIGEST_LEN];
      utils::MD5Final(d, &ctx);
      EXPECT_EQ(digest, hex(d)) << '"' << text << "\" in pieces of " << piece;
    }
  }
}

TEST(Md5, MillionBytesAcrossManyBlocks)
{
  std::string a(1000, 'a');
  utils::MD5Context ctx;
  utils::MD5Init(&ctx);
  for (int i = 0; i < 1000; i++)
    utils::MD5Update(&ctx, bytes(a), a.size());
  unsigned char d[MD5_DIGEST_LEN];
  utils::MD5Final(d, &ctx);
  EXPECT_EQ("7707d6ae4e027c70eea2a935c2296f21", hex(d));
}

TEST(Md5, PaddingAroundTheBlockEnd)
{
  // From 56 bytes on, the length field no longer fits the last block.
  const std::vector<std::pair<size_t, std::string>> cases = {
      {55, "c932e1b1a97de537d13e0dddd96da42b"},  {56, "266ea7b18061f04ebe140d63ce648567"},
      {63, "7b7cb022759a9f373ef24bf92c05204f"},  {64, "40bfc24c764552cb38083a62855664aa"},
      {65, "4f8d62f3cf50e436dfe277c67b321fbc"},  {119, "4e20e3261348598d351ffb929cec1624"},
      {120, "c976bc0861b17fcb68af3c74b7e12f7a"},
  };
  for (const auto &[len, digest] : cases) {
    std::string text(len, 'q');
    unsigned char d[MD5_DIGEST_LEN];
    utils::MD5(bytes(text), len, d);
    EXPECT_EQ(digest, hex(d)) << len;
  }
}

}  // namespace
