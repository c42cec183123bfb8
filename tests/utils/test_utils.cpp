// The leaf utilities: the memory pool and its limits, counted-string equality,
// 16-bit strings, the r5 hash, byte copy, the local clock, money in cents, GBK
// texts cut to a field and SQL literals.
#include <gtest/gtest.h>
#include <stdint.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "utils/decimal.h"
#include "utils/text.h"
#include "utils/utils.h"

namespace {

using utils::memblk;

struct Pool {
  memblk *head = nullptr;
  ~Pool() { utils::memblk_free(&head); }
};

TEST(MemoryPool, SmallRequestsShareTheFirstBlockFourBytesApart)
{
  Pool pool;
  auto *a = static_cast<char *>(utils::memblk_alloc(&pool.head, 1));
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(reinterpret_cast<char *>(pool.head + 1), a);
  EXPECT_EQ(4096u, pool.head->size + sizeof(memblk));
  auto *b = static_cast<char *>(utils::memblk_alloc(&pool.head, 1));
  EXPECT_EQ(a + 4, b);
  auto *c = static_cast<char *>(utils::memblk_alloc(&pool.head, 6));
  EXPECT_EQ(b + 4, c);
  EXPECT_EQ(pool.head->size - 16, pool.head->free);
}

TEST(MemoryPool, NewBlockGoesToTheHeadAndServesFirst)
{
  Pool pool;
  utils::memblk_alloc(&pool.head, 200);
  memblk *first = pool.head;
  ASSERT_LT(first->free, 4000u + 200u);
  void *big = utils::memblk_alloc(&pool.head, 4000);
  memblk *second = pool.head;
  ASSERT_NE(first, second);
  EXPECT_EQ(first, second->next);
  EXPECT_EQ(4096u, second->size + sizeof(memblk));
  EXPECT_EQ(reinterpret_cast<void *>(second + 1), big);
  // The head has 80 bytes left and takes the next small request; a request
  // that only the old block can hold goes there.
  auto *small = static_cast<char *>(utils::memblk_alloc(&pool.head, 8));
  EXPECT_EQ(reinterpret_cast<char *>(second + 1) + 4000, small);
  auto *older = static_cast<char *>(utils::memblk_alloc(&pool.head, 1000));
  EXPECT_EQ(reinterpret_cast<char *>(first + 1) + 200, older);
  EXPECT_EQ(second, pool.head);
}

TEST(MemoryPool, BlockSizes)
{
  EXPECT_EQ(4096u, utils::calc_blksize(0));
  EXPECT_EQ(4096u, utils::calc_blksize(4095));
  EXPECT_EQ(8192u, utils::calc_blksize(4096));
  EXPECT_EQ(8192u, utils::calc_blksize(8191));
  EXPECT_EQ(16384u, utils::calc_blksize(8192));
  EXPECT_EQ(131072u, utils::calc_blksize(65528 + 8));
}

TEST(MemoryPool, RequestNearABlockSizeNeverOverrunsItsBlock)
{
  // A request that fits a 4096-byte block only without its header must get
  // the next size, whole.
  for (size_t n : {4080u, 4084u, 4088u, 8180u, 8188u}) {
    Pool pool;
    auto *p = static_cast<char *>(utils::memblk_alloc(&pool.head, n));
    ASSERT_NE(nullptr, p) << n;
    EXPECT_GE(pool.head->size, n) << n;
    EXPECT_LE(pool.head->free, pool.head->size) << n;
    p[n - 1] = 'x';  // within the block (ASan checks it)
  }
}

TEST(MemoryPool, LargestRequestGetsA128KBlock)
{
  Pool pool;
  ASSERT_NE(nullptr, utils::memblk_alloc(&pool.head, 65528));
  EXPECT_EQ(131072u, pool.head->size + sizeof(memblk));
  EXPECT_EQ(nullptr, utils::memblk_alloc(nullptr, 4));
  utils::memblk_free(&pool.head);
  EXPECT_EQ(nullptr, pool.head);
}

TEST(MemoryPoolDeathTest, OversizeRequestAborts)
{
  memblk *head = nullptr;
  EXPECT_DEATH(utils::memblk_alloc(&head, 65532), "requested block size exceeds the maximun limit\\(65528\\): 65532");
  EXPECT_DEATH(utils::memblk_alloc(&head, 65529), "maximun limit\\(65528\\): 65532");
  // A size_t near its maximum must not wrap into a small request.
  EXPECT_DEATH(utils::memblk_alloc(&head, SIZE_MAX - 1), "maximun limit");
}

TEST(CountedStrings, Equality)
{
  EXPECT_EQ(0, utils::qnstrcmp("ab", 2, "ab", 2));
  EXPECT_EQ(0, utils::qnstrcmp("a", 1, "a", 1));
  EXPECT_EQ(0, utils::qnstrcmp("hello world", 11, "hello world", 11));
  EXPECT_EQ(-1, utils::qnstrcmp("", 0, "", 0));
  EXPECT_EQ(-2, utils::qnstrcmp("abc", 3, "abcde", 5));
  EXPECT_EQ(2, utils::qnstrcmp("abcde", 5, "abc", 3));
  EXPECT_EQ(-1, utils::qnstrcmp("xbc", 3, "abc", 3));         // first byte
  EXPECT_EQ(-1, utils::qnstrcmp("abx", 3, "abc", 3));         // last byte
  EXPECT_EQ(-1, utils::qnstrcmp("abxde", 5, "abcde", 5));     // middle byte
  EXPECT_NE(0, utils::qnstrcmp("abxdefg", 7, "abcdefg", 7));  // the rest
  EXPECT_NE(0, utils::qnstrcmp("abcdexg", 7, "abcdefg", 7));
  // Only the given lengths count, not what follows.
  EXPECT_EQ(0, utils::qnstrcmp("abcd-1", 4, "abcd-2", 4));
  // Negative lengths compare nothing and are never equal.
  EXPECT_EQ(-1, utils::qnstrcmp("a", -1, "a", -1));
}

TEST(Strings16, CopyCompareDuplicateAndWiden)
{
  uint16_t wide[8];
  EXPECT_EQ(3, utils::strto16bit(wide, "ab\xb0"));
  EXPECT_EQ(u'a', wide[0]);
  EXPECT_EQ(0xFFB0, wide[2]);
  EXPECT_EQ(0, wide[3]);
  EXPECT_EQ(3u, utils::strlen16bit(wide));

  uint16_t copy[8];
  EXPECT_EQ(copy, utils::strcpy16bit(copy, wide));
  EXPECT_EQ(0, utils::strcmp16bit(copy, wide));
  uint16_t *dup = utils::strdup16bit(wide);
  ASSERT_NE(nullptr, dup);
  EXPECT_EQ(0, utils::strcmp16bit(dup, wide));
  free(dup);

  // Units compare unsigned: 0xFFB0 is greater than 'c'.
  const uint16_t abc[] = {u'a', u'b', u'c', 0};
  EXPECT_EQ(0xFFB0 - u'c', utils::strcmp16bit(wide, abc));
  EXPECT_EQ(u'c' - 0xFFB0, utils::strcmp16bit(abc, wide));
  const uint16_t ab[] = {u'a', u'b', 0};
  EXPECT_EQ(u'c', utils::strcmp16bit(abc, ab));
  EXPECT_EQ(0, utils::strlen16bit(wide + 3));
}

TEST(Hash, R5)
{
  EXPECT_EQ(2281642u, utils::r5_hash("abc", -1));
  EXPECT_EQ(utils::r5_hash("ab", -1), utils::r5_hash("abc", 2));
  EXPECT_EQ(0u, utils::r5_hash("abc", 0));
  EXPECT_EQ(utils::r5_hash("abc", -1), utils::r5_hash("abc", 10));
  // Bytes above 0x7F count as negative values.
  uint32_t c = (uint32_t)(-80 * 16) + (uint32_t)(-80 >> 4);
  EXPECT_EQ(c * 11u, utils::r5_hash("\xb0", -1));
}

TEST(Bytes, CopyZeroAndOverlap)
{
  char src[] = "0123456789";
  char dst[11] = {};
  utils::bcopy(dst, src, sizeof src);
  EXPECT_STREQ("0123456789", src);
  EXPECT_STREQ("0123456789", dst);
  utils::bcopy(src + 2, src, 5);  // overlapping ranges copy as if buffered
  EXPECT_STREQ("0101234789", src);
  utils::bzero(dst, 4);
  EXPECT_EQ(0, dst[3]);
  EXPECT_EQ('4', dst[4]);
}

TEST(Clock, LocalWallClockInMilliseconds)
{
  time_t before = time(nullptr);
  utils::timeval tv;
  EXPECT_EQ(0, utils::gettimeofday(&tv, nullptr));
  time_t after = time(nullptr);
  struct tm local;
  localtime_r(&before, &local);
  int64_t expected = (int64_t)before + local.tm_gmtoff;
  EXPECT_GE((int64_t)(uint32_t)tv.tv_sec, expected);
  EXPECT_LE((int64_t)(uint32_t)tv.tv_sec, expected + (after - before) + 1);
  EXPECT_EQ(0, tv.tv_usec % 1000);
  EXPECT_GE(tv.tv_usec, 0);
  EXPECT_LT(tv.tv_usec, 1000000);
}

// A pipe takes at most its capacity per write: a block larger than that
// arrives whole, in order, through short writes; a pipe nobody reads fails.
TEST(WriteWhole, LargeBlockThroughShortWritesAndABrokenPipe)
{
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  ASSERT_GT(fcntl(fds[1], F_SETPIPE_SZ, 4096), 0);
  std::string block(256 * 1024, '\0');
  for (size_t i = 0; i < block.size(); i++)
    block[i] = (char)(i * 7 + i / 4096);
  std::string got;
  std::thread reader([&] {
    char buf[1000];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
      got.append(buf, (size_t)n);
  });
  EXPECT_EQ(0, utils::write_whole(fds[1], block.data(), block.size()));
  close(fds[1]);
  reader.join();
  EXPECT_TRUE(got == block);
  close(fds[0]);

  ASSERT_EQ(0, pipe(fds));
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  errno = 0;
  EXPECT_EQ(-1, utils::write_whole(fds[1], "x", 1));
  EXPECT_EQ(EPIPE, errno);
  EXPECT_EQ(0, utils::write_whole(fds[1], "", 0));
  close(fds[1]);
}

TEST(Cents, ReadRoundedOnTheDigitsAndWrittenFromTheCents)
{
  const struct {
    const char *text;
    bool ok;
    long long cents;
    const char *shown;  // format_cents of the cents
    size_t used;        // characters the number takes
  } cases[] = {
      {"2.09", true, 209, "2.09", 4},
      {"2.095", true, 210, "2.10", 5},
      {"0.005", true, 1, "0.01", 5},
      {"0.0049999", true, 0, "0.00", 9},
      {"-0.125", true, -13, "-0.13", 6},
      {" +12.", true, 1200, "12.00", 5},
      {".5|", true, 50, "0.50", 2},
      {"112855.82", true, 11285582, "112855.82", 9},
      {"999999999999.995", true, 100000000000000, "1000000000000.00", 16},
      {"1000000000000", true, 100000000000000, "1000000000000.00", 13},
      {"1000000000000.01", false, 0, "0.00", 0},
      {"abc", false, 0, "0.00", 0},
      {"-", false, 0, "0.00", 0},
  };
  for (const auto &c : cases) {
    long long cents = -7;
    const char *end = nullptr;
    EXPECT_EQ(c.ok, utils::parse_cents(c.text, &cents, &end)) << c.text;
    EXPECT_EQ(c.cents, cents) << c.text;
    EXPECT_STREQ(c.shown, utils::cents_text(cents).s) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.used, (size_t)(end - c.text)) << c.text;
    }
  }
  // a float carries its cents back as long as it can tell them apart
  EXPECT_EQ(360, utils::cents_of(3.6000001f));
  EXPECT_EQ(-30, utils::cents_of(-0.3f));
  EXPECT_EQ(11285582, utils::cents_of(utils::cents_float(11285582)));
  char small[5];
  EXPECT_EQ(-1, utils::format_cents(small, sizeof small, 12345));
  EXPECT_STREQ("", small);
  // the cents of a figure as it is printed, so that a column adds up
  EXPECT_EQ(360 + 12 - 120, utils::shown_cents(3.6000001f) + utils::shown_cents(0.125) + utils::shown_cents(-1.2f));
  EXPECT_EQ(99999999999999, utils::shown_cents(999999999999.99));
  for (double beyond : {1e12, -1e12, (double)INFINITY, (double)NAN})
    EXPECT_EQ(0, utils::shown_cents(beyond)) << beyond;
}

TEST(Texts, GbkCutKeepsWholeCharactersAndSqlLiteralsDoubleTheirQuotes)
{
  // "\xd6\xd0\xce\xc4" is two GBK characters; a trail byte may be a quote
  const struct {
    const char *text;
    size_t max;
    const char *cut;
  } cuts[] = {
      {"ab\xd6\xd0\xce\xc4", 5, "ab\xd6\xd0"},
      {"ab\xd6\xd0\xce\xc4", 6, "ab\xd6\xd0\xce\xc4"},
      {"a\xd6\xd0", 2, "a"},
      {"\x81'x", 2, "\x81'"},
      {"abc\xd6", 4, "abc\xd6"},
      {"abc", 0, ""},
      {nullptr, 5, ""},
  };
  for (const auto &c : cuts)
    EXPECT_EQ(c.cut, utils::gbk_cut(c.text, c.max)) << (c.text ? c.text : "(null)") << " to " << c.max;

  const struct {
    const char *text;
    const char *quoted;
  } literals[] = {
      {"GW1", "'GW1'"}, {"O'Hara", "'O''Hara'"}, {"''", "''''''"}, {"", "''"}, {nullptr, "''"}, {"\x81'", "'\x81'''"},
  };
  for (const auto &l : literals)
    EXPECT_EQ(l.quoted, utils::sql_quote(l.text)) << (l.text ? l.text : "(null)");
  EXPECT_EQ(std::string("'a''\0b'", 7), utils::sql_quote("a'\0b", 4));
}

}  // namespace
