// The memory debugger: every abort with its message, the live list surviving
// frees at either end and in the middle, the listing, strdup, alignment of the
// user data, foreign pointers and use from two threads.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "stderr_capture.h"
#include "utils/memdebug.h"

namespace {

// Matches the description the call-site macro gives a block allocated here.
const char *const HERE = "tests/utils/test_memdebug.cpp:[0-9]+:TestBody\\(\\)";

std::string pat(const std::string &tail)
{
  return std::string("memory debugger: ") + HERE + tail;
}

std::string ptr_text(const void *p)
{
  char buf[32];
  snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

#define EXPECT_ABORT(stmt, regex) EXPECT_EXIT(stmt, ::testing::KilledBySignal(SIGABRT), regex)

TEST(MemdebugDeath, WriteIntoFillBytesIsReportedAsUnderflowByTheNextAllocation)
{
  EXPECT_ABORT(
      {
        char *p = static_cast<char *>(MEMDEBUG_ALLOC(5));
        p[5] = 'x';
        MEMDEBUG_ALLOC(1);
      },
      pat(":malloc\\(5\\): size=5, ptr=0x[0-9a-f]+: memory underflow!\n"));
}

TEST(MemdebugDeath, WritePastAWordSizedBlockHitsTheTrailerGuardAndIsFoundByFree)
{
  EXPECT_ABORT(
      {
        char *p = static_cast<char *>(MEMDEBUG_ALLOC(8));
        char *q = static_cast<char *>(MEMDEBUG_ALLOC(16));
        p[8] = 0x55;
        MEMDEBUG_FREE(q);
      },
      pat(":malloc\\(8\\): size=8, ptr=0x[0-9a-f]+: memory underflow!\n"));
}

TEST(MemdebugDeath, WriteInFrontOfTheDataIsReportedAsOverflowWithTheTrailersInfo)
{
  EXPECT_ABORT(
      {
        unsigned char *p = static_cast<unsigned char *>(MEMDEBUG_ALLOC(12));
        p[-1] ^= 0xFF;
        ::utils::__memdebug_check();
      },
      pat(":malloc\\(12\\): size=12, ptr=0x[0-9a-f]+: memory overflow!\n"));
}

TEST(MemdebugDeath, CorruptionOnBothSidesNamesTrailerThenHeader)
{
  EXPECT_ABORT(
      {
        unsigned char *p = static_cast<unsigned char *>(MEMDEBUG_ALLOC(3));
        p[-4] = 0;
        p[-3] = 0;
        p[3] = 0;
        ::utils::__memdebug_check();
      },
      std::string("memory debugger: fatal: memory block corrupted in both sides! try to increate the dmz size!\n") +
          pat(":malloc\\(3\\): size=3, ptr=0x[0-9a-f]+\n") + pat(":malloc\\(3\\): size=3, ptr=0x[0-9a-f]+\n"));
}

TEST(MemdebugDeath, CorruptedInfoTextIsCaughtByTheCheckSum)
{
  EXPECT_ABORT(
      {
        void *p = MEMDEBUG_ALLOC(40);
        auto *hdr =
            reinterpret_cast<utils::mem_debug_blk_hdr *>(static_cast<char *>(p) - sizeof(utils::mem_debug_blk_hdr));
        hdr->info[0] = '#';
        ::utils::__memdebug_check();
      },
      "size=40, ptr=0x[0-9a-f]+: memory overflow!\n");
}

TEST(MemdebugDeath, SecondFreeOfTheSamePointerAborts)
{
  EXPECT_ABORT(
      {
        void *p = MEMDEBUG_ALLOC(20);
        MEMDEBUG_FREE(p);
        MEMDEBUG_FREE(p);
      },
      "^free again!\n$");
}

TEST(MemdebugDeath, FreeingNullAbortsNamingTheCallSite)
{
  EXPECT_ABORT(
      {
        void *nothing = nullptr;
        MEMDEBUG_FREE(nothing);
      },
      "memory debugger: tests/utils/test_memdebug.cpp: [0-9]+: TestBody\\(\\): free\\(nothing\\): try to free null "
      "pointer!\n");
}

TEST(MemdebugDeath, RequestAboveTheLimitAborts)
{
  EXPECT_ABORT(
      {
        size_t want = MEM_ALLOC_MAX + 1;
        MEMDEBUG_ALLOC(want);
      },
      "memory debugger: tests/utils/test_memdebug.cpp: [0-9]+: TestBody\\(\\): malloc\\(want\\): malloc too much "
      "memory: 131073!\n");
}

TEST(MemdebugDeath, FreeingAPointerInsideAGuardedBlockAborts)
{
  EXPECT_ABORT(
      {
        char *p = static_cast<char *>(MEMDEBUG_ALLOC(32));
        MEMDEBUG_FREE(p + 4);
      },
      "free\\(p \\+ 4\\): 0x[0-9a-f]+ is inside the guarded block " + std::string(HERE) + ":malloc\\(32\\)!\n");
}

TEST(MemdebugDeath, StrdupOfNullAborts)
{
  EXPECT_ABORT(
      {
        const char *none = nullptr;
        MEMDEBUG_STRDUP(none);
      },
      "strdup\\(none\\): try to duplicate null pointer!\n");
}

TEST(MemdebugDeath, CorruptionIsStillFoundAfterTheOldestAndAMiddleBlockAreFreed)
{
  EXPECT_ABORT(
      {
        void *a = MEMDEBUG_ALLOC(1);
        void *b = MEMDEBUG_ALLOC(2);
        char *c = static_cast<char *>(MEMDEBUG_ALLOC(6));
        void *d = MEMDEBUG_ALLOC(4);
        MEMDEBUG_FREE(a);
        MEMDEBUG_FREE(b);
        c[6] = 0;
        MEMDEBUG_FREE(d);
      },
      pat(":malloc\\(6\\): size=6, ptr=0x[0-9a-f]+: memory underflow!\n"));
}

TEST(Memdebug, LimitItselfIsAllowed)
{
  void *p = MEMDEBUG_ALLOC(MEM_ALLOC_MAX);
  ASSERT_NE(nullptr, p);
  memset(p, 0xEE, MEM_ALLOC_MAX);
  MEMDEBUG_FREE(p);
}

// The lists relink correctly whichever block leaves: the neighbours' sums are
// recomputed, so later checks pass, and the survivors keep their order.
TEST(Memdebug, FreeingOldestNewestAndMiddleKeepsTheOthersChecked)
{
  void *a = MEMDEBUG_ALLOC(10);
  void *b = MEMDEBUG_ALLOC(11);
  void *c = MEMDEBUG_ALLOC(12);
  void *d = MEMDEBUG_ALLOC(13);
  void *e = MEMDEBUG_ALLOC(14);

  MEMDEBUG_FREE(a);
  utils::__memdebug_check();
  MEMDEBUG_FREE(e);
  utils::__memdebug_check();
  MEMDEBUG_FREE(c);
  utils::__memdebug_check();

  StderrCapture cap;
  utils::__memdebug_print();
  std::string out = cap.text();
  EXPECT_NE(std::string::npos, out.find("size=11, ptr=" + ptr_text(b)));
  EXPECT_NE(std::string::npos, out.find("size=13, ptr=" + ptr_text(d)));
  EXPECT_LT(out.find("size=11"), out.find("size=13"));
  EXPECT_EQ(std::string::npos, out.find("size=10,"));
  EXPECT_EQ(std::string::npos, out.find("size=12,"));
  EXPECT_EQ(std::string::npos, out.find("size=14,"));

  MEMDEBUG_FREE(d);
  MEMDEBUG_FREE(b);
  EXPECT_EQ(nullptr, utils::first_blk_hdr);
  EXPECT_EQ(nullptr, utils::last_blk_hdr);
  EXPECT_EQ(nullptr, utils::first_blk_end);
  EXPECT_EQ(nullptr, utils::last_blk_end);

  void *f = MEMDEBUG_ALLOC(1);
  MEMDEBUG_FREE(f);
}

TEST(Memdebug, PrintListsLiveBlocksInOrderWithCountAndTotal)
{
  {
    StderrCapture cap;
    utils::__memdebug_print();
    EXPECT_EQ("memory debugger: allocated memory list:\ncount=0 total=0(0K)\n", cap.text());
  }

  size_t big = 2040;
  void *small = MEMDEBUG_ALLOC(10);
  int line_small = __LINE__ - 1;
  void *large = MEMDEBUG_ALLOC(big);
  int line_large = __LINE__ - 1;

  StderrCapture cap;
  utils::__memdebug_print();
  std::string out = cap.text();
  MEMDEBUG_FREE(large);
  MEMDEBUG_FREE(small);

  std::string expected = "memory debugger: allocated memory list:\n"
                         "#0: tests/utils/test_memdebug.cpp:" +
                         std::to_string(line_small) + ":TestBody():malloc(10): size=10, ptr=" + ptr_text(small) +
                         "\n"
                         "#1: tests/utils/test_memdebug.cpp:" +
                         std::to_string(line_large) + ":TestBody():malloc(big): size=2040, ptr=" + ptr_text(large) +
                         "\n"
                         "count=2 total=2050(2K)\n";
  EXPECT_EQ(expected, out);
}

TEST(Memdebug, StrdupCopiesAndDescribesTheText)
{
  const char *greeting = "hello";
  char *copy = MEMDEBUG_STRDUP(greeting);
  ASSERT_NE(greeting, copy);
  EXPECT_STREQ("hello", copy);

  // A text far longer than the description room still copies whole.
  std::string longtext(5000, 'z');
  char *long_copy = MEMDEBUG_STRDUP(longtext.c_str());
  EXPECT_EQ(longtext, long_copy);

  StderrCapture cap;
  utils::__memdebug_print();
  std::string out = cap.text();
  MEMDEBUG_FREE(long_copy);
  MEMDEBUG_FREE(copy);

  EXPECT_NE(std::string::npos, out.find(":TestBody():malloc(greeting:\"hello\"): size=6,")) << out;
  // Descriptions are cut to the 255 characters of the block's info.
  size_t from = out.find("#1: ");
  size_t to = out.find(": size=5001,");
  ASSERT_NE(std::string::npos, from);
  ASSERT_NE(std::string::npos, to);
  EXPECT_EQ(255u, to - (from + 4));
}

// The user data must hold any object: sanitizers flag misaligned use.
TEST(Memdebug, UserDataIsAlignedForAnyObjectAndCanBeFilled)
{
  std::vector<void *> blocks;
  for (size_t size = 0; size <= 33; size++) {
    void *p = MEMDEBUG_ALLOC(size);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % alignof(max_align_t)) << "size " << size;
    memset(p, 0xA5, size);
    blocks.push_back(p);
  }
  auto *ld = static_cast<long double *>(MEMDEBUG_ALLOC(sizeof(long double) * 4));
  for (int i = 0; i < 4; i++)
    ld[i] = i * 1.5L;
  EXPECT_EQ(4.5L, ld[3]);
  utils::__memdebug_check();
  MEMDEBUG_FREE(ld);
  for (size_t i = blocks.size(); i-- > 0;)
    MEMDEBUG_FREE(blocks[i]);
}

// A pointer from the ordinary heap, even one lying right after a guarded
// block, is released by the heap and leaves the guarded blocks alone.
TEST(Memdebug, ForeignPointerGoesToTheOrdinaryHeap)
{
  void *guarded = MEMDEBUG_ALLOC(24);
  for (int i = 0; i < 16; i++) {
    void *plain = malloc(64);
    ASSERT_NE(nullptr, plain);
    MEMDEBUG_FREE(plain);
  }
  utils::__memdebug_check();
  MEMDEBUG_FREE(guarded);
}

TEST(Memdebug, TwoThreadsAllocatingAndFreeingSeeNoFalseCorruption)
{
  auto worker = [] {
    for (int i = 0; i < 300; i++) {
      char *p = static_cast<char *>(MEMDEBUG_ALLOC((size_t)(i % 50 + 1)));
      memset(p, i, (size_t)(i % 50 + 1));
      MEMDEBUG_FREE(p);
    }
  };
  std::thread t1(worker), t2(worker);
  t1.join();
  t2.join();
  EXPECT_EQ(nullptr, utils::first_blk_hdr);
}

}  // namespace
