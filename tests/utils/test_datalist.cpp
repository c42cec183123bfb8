// The pooled list: insertion and removal at the ends and in the middle, lookup,
// references, copy (shallow for plain pointers, deep for typed elements, lists
// of lists), the type descriptors and the abort on a released list.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "utils/datalist.h"
#include "utils/sockaddr.h"

namespace {

using utils::datalist;

std::vector<void *> items(const datalist *l)
{
  std::vector<void *> out;
  for (auto *it = utils::datalist_first(l); it; it = utils::datalist_next(it))
    out.push_back(utils::datalist_itdata(it));
  return out;
}

class DatalistTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_NE(nullptr, l = utils::create_datalist()); }
  void TearDown() override
  {
    if (l)
      utils::datalist_free(l);
  }
  datalist *l = nullptr;
  int a = 1, b = 2, c = 3;
};

TEST_F(DatalistTest, FirstElementIsFirstAndLastEitherWay)
{
  ASSERT_EQ(0, utils::datalist_append(l, &a));
  EXPECT_EQ(utils::datalist_first(l), utils::datalist_last(l));
  datalist *m = utils::create_datalist();
  ASSERT_EQ(0, utils::datalist_insert(m, 0, &b));
  EXPECT_EQ(utils::datalist_first(m), utils::datalist_last(m));
  EXPECT_EQ(&b, utils::datalist_itdata(utils::datalist_last(m)));
  utils::datalist_free(m);
}

TEST_F(DatalistTest, InsertAtIndex)
{
  utils::datalist_append(l, &a);
  utils::datalist_append(l, &b);
  ASSERT_EQ(0, utils::datalist_insert(l, 1, &c));
  EXPECT_EQ((std::vector<void *>{&a, &c, &b}), items(l));
  int d = 4, e = 5;
  utils::datalist_insert(l, 0, &d);
  utils::datalist_insert(l, 9, &e);  // beyond the end appends
  EXPECT_EQ((std::vector<void *>{&d, &a, &c, &b, &e}), items(l));
  EXPECT_EQ(&e, utils::datalist_itdata(utils::datalist_last(l)));
  EXPECT_EQ(5, utils::datalist_size(l));
  utils::datalist_insert(l, 5, &a);  // at n: after the last
  EXPECT_EQ(&a, utils::datalist_itdata(utils::datalist_last(l)));
}

TEST_F(DatalistTest, RemoveKeepsEndsRight)
{
  utils::datalist_append(l, &a);
  ASSERT_EQ(0, utils::datalist_remove(l, 0));
  EXPECT_EQ(nullptr, utils::datalist_first(l));
  EXPECT_EQ(nullptr, utils::datalist_last(l));
  EXPECT_EQ(0, utils::datalist_size(l));

  for (int *p : {&a, &b, &c})
    utils::datalist_append(l, p);
  EXPECT_EQ(-1, utils::datalist_remove(l, 3));
  EXPECT_EQ(-1, utils::datalist_remove(l, -1));
  ASSERT_EQ(0, utils::datalist_remove(l, 2));  // the last: last moves back
  EXPECT_EQ(&b, utils::datalist_itdata(utils::datalist_last(l)));
  int d = 4;
  utils::datalist_append(l, &d);  // and appending still works
  EXPECT_EQ((std::vector<void *>{&a, &b, &d}), items(l));
  ASSERT_EQ(0, utils::datalist_remove_data(l, &d));
  EXPECT_EQ(&b, utils::datalist_itdata(utils::datalist_last(l)));
  EXPECT_EQ(-1, utils::datalist_remove_data(l, &c));
}

TEST_F(DatalistTest, RemoveDataTakesTheFirstOccurrenceOnly)
{
  for (int *p : {&a, &b, &a})
    utils::datalist_append(l, p);
  ASSERT_EQ(0, utils::datalist_remove_data(l, &a));
  EXPECT_EQ((std::vector<void *>{&b, &a}), items(l));
}

TEST_F(DatalistTest, GetDataByIndex)
{
  utils::datalist_append(l, &a);
  utils::datalist_append(l, &b);
  void *out = nullptr;
  ASSERT_EQ(0, utils::datalist_getdata(l, 1, &out));
  EXPECT_EQ(&b, out);
  EXPECT_EQ(-1, utils::datalist_getdata(l, 2, &out));
  EXPECT_EQ(-1, utils::datalist_getdata(l, -1, &out));
  EXPECT_EQ(nullptr, utils::datalist_next(nullptr));
  EXPECT_EQ(nullptr, utils::datalist_itdata(nullptr));
}

TEST_F(DatalistTest, ReleasedNodesAreReused)
{
  for (int i = 0; i < 100; i++)
    utils::datalist_append(l, &a);
  utils::memblk *pool = l->memblk;
  for (int round = 0; round < 50; round++) {
    while (utils::datalist_size(l))
      utils::datalist_remove(l, 0);
    for (int i = 0; i < 100; i++)
      utils::datalist_append(l, &b);
  }
  EXPECT_EQ(pool, l->memblk);  // no block was added
  EXPECT_EQ(100, utils::datalist_size(l));
}

TEST_F(DatalistTest, ExtraReferenceKeepsTheListAlive)
{
  utils::datalist_append(l, &a);
  utils::datalist_ref(l);
  utils::datalist_free(l);
  EXPECT_EQ(1, l->ref);
  ASSERT_EQ(0, utils::datalist_append(l, &b));
  EXPECT_EQ(2, utils::datalist_size(l));
}

TEST_F(DatalistTest, PoolMemoryStaysAlignedForNodes)
{
  // An odd-sized piece of the pool must not misalign the nodes that follow.
  void *p = utils::datalist_allocmem(l, 4);
  ASSERT_NE(nullptr, p);
  for (int i = 0; i < 10; i++) {
    utils::datalist_append(l, &a);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(utils::datalist_last(l)) % alignof(void *));
  }
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(utils::datalist_allocmem(l, 1)) % alignof(void *));
}

TEST_F(DatalistTest, CopyReplacesTheDestination)
{
  datalist *dest = utils::create_datalist();
  int x = 7, y = 8, z = 9;
  for (int *p : {&x, &y, &z})
    utils::datalist_append(dest, p);
  utils::datalist_append(l, &a);
  utils::datalist_append(l, &b);
  EXPECT_EQ(2, utils::datalist_copy(dest, l));
  EXPECT_EQ(2, utils::datalist_size(dest));
  EXPECT_EQ((std::vector<void *>{&a, &b}), items(dest));  // plain pointers are shared
  EXPECT_EQ(&b, utils::datalist_itdata(utils::datalist_last(dest)));
  EXPECT_EQ(2, utils::datalist_copy(dest, dest));
  utils::datalist_free(dest);
}

TEST_F(DatalistTest, CopyOfTypedElementsIsDeep)
{
  auto *one = static_cast<int32_t *>(utils::datalist_append_type(l, &utils::__int_typeinfo));
  ASSERT_NE(nullptr, one);
  EXPECT_EQ(0, *one);  // zero-filled without init
  *one = 41;
  auto *two = static_cast<int32_t *>(utils::datalist_insert_type(l, 0, &utils::__int_typeinfo));
  *two = 42;
  datalist *dest = utils::create_datalist();
  ASSERT_EQ(2, utils::datalist_copy(dest, l));
  std::vector<void *> src = items(l), dst = items(dest);
  for (int i = 0; i < 2; i++) {
    EXPECT_NE(src[i], dst[i]);
    EXPECT_EQ(*static_cast<int32_t *>(src[i]), *static_cast<int32_t *>(dst[i]));
  }
  EXPECT_EQ(42, *static_cast<int32_t *>(dst[0]));
  // The lists never free their elements; the owner does.
  for (auto *list : {l, dest})
    for (void *p : items(list))
      utils::type_free(&utils::__int_typeinfo, p);
  utils::datalist_free(dest);
}

TEST_F(DatalistTest, ListsOfListsCopyDeeply)
{
  auto *inner = static_cast<datalist *>(utils::datalist_append_type(l, &utils::__datalist_typeinfo));
  ASSERT_NE(nullptr, inner);
  EXPECT_EQ(1, inner->ref);
  auto *n = static_cast<int32_t *>(utils::datalist_append_type(inner, &utils::__int_typeinfo));
  *n = 5;
  utils::datalist_append(inner, &a);

  datalist *dest = utils::create_datalist();
  ASSERT_EQ(1, utils::datalist_copy(dest, l));
  auto *copy = static_cast<datalist *>(utils::datalist_itdata(utils::datalist_first(dest)));
  ASSERT_NE(inner, copy);
  ASSERT_EQ(2, utils::datalist_size(copy));
  std::vector<void *> got = items(copy);
  EXPECT_NE(n, got[0]);
  EXPECT_EQ(5, *static_cast<int32_t *>(got[0]));
  EXPECT_EQ(&a, got[1]);

  // type_clone of a list, and type_copy into a live one, keep it usable.
  auto *clone = static_cast<datalist *>(utils::type_clone(&utils::__datalist_typeinfo, inner));
  ASSERT_NE(nullptr, clone);
  EXPECT_EQ(2, utils::datalist_size(clone));
  utils::type_free(&utils::__int_typeinfo, items(clone)[0]);  // about to be replaced
  EXPECT_EQ(2, utils::type_copy(&utils::__datalist_typeinfo, clone, copy));
  EXPECT_EQ(1, clone->ref);

  for (datalist *list : {inner, copy, clone})
    utils::type_free(&utils::__int_typeinfo, items(list)[0]);
  utils::type_free(&utils::__datalist_typeinfo, clone);
  utils::type_free(&utils::__datalist_typeinfo, inner);
  utils::type_free(&utils::__datalist_typeinfo, copy);
  utils::datalist_free(dest);
}

TEST_F(DatalistTest, FailedElementCopyLeavesWhatWasCopied)
{
  static const utils::typeinfo refusing = {"refusing", sizeof(int), nullptr, nullptr, [](void *, const void *src) {
                                             return *static_cast<const int *>(src) < 0 ? -1 : 0;
                                           }};
  int *ok = static_cast<int *>(utils::datalist_append_type(l, &refusing));
  int *bad = static_cast<int *>(utils::datalist_append_type(l, &refusing));
  *ok = 1;
  *bad = -1;
  datalist *dest = utils::create_datalist();
  EXPECT_EQ(-1, utils::datalist_copy(dest, l));
  ASSERT_EQ(1, utils::datalist_size(dest));
  EXPECT_EQ(utils::datalist_first(dest), utils::datalist_last(dest));
  free(utils::datalist_itdata(utils::datalist_first(dest)));
  utils::datalist_free(dest);
  free(ok);
  free(bad);
}

TEST(TypeInfo, CreateCopyCloneAndFree)
{
  struct pair {
    int x, y;
  };
  static int freed;
  static const utils::typeinfo ti = {"pair", sizeof(pair),
                                     [](void *obj, va_list ap) {
                                       int x = va_arg(ap, int);
                                       if (x < 0)
                                         return -1;
                                       static_cast<pair *>(obj)->x = x;
                                       static_cast<pair *>(obj)->y = va_arg(ap, int);
                                       return 0;
                                     },
                                     [](void *) { freed++; }, nullptr};
  auto *p = static_cast<pair *>(utils::type_create(&ti, 3, 4));
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(3, p->x);
  EXPECT_EQ(4, p->y);
  EXPECT_EQ(nullptr, utils::type_create(&ti, -1, 0));  // init refuses

  pair q = {};
  EXPECT_EQ((int)sizeof(pair), utils::type_copy(&ti, &q, p));  // byte copy
  EXPECT_EQ(4, q.y);
  auto *r = static_cast<pair *>(utils::type_clone(&ti, p));
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(3, r->x);

  freed = 0;
  utils::type_free(&ti, p);
  utils::type_free(&ti, r);
  EXPECT_EQ(2, freed);
}

TEST(TypeInfo, LibraryDescriptors)
{
  EXPECT_STREQ("int", utils::__int_typeinfo.name);
  EXPECT_EQ(4u, utils::__int_typeinfo.size);
  EXPECT_STREQ("datalist", utils::__datalist_typeinfo.name);
  EXPECT_EQ(sizeof(datalist), utils::__datalist_typeinfo.size);
  EXPECT_STREQ("sockaddr", utils::__sockaddr_typeinfo.name);
  EXPECT_EQ(66u, utils::__sockaddr_typeinfo.size);

  // A sockaddr element copies the IPv4 address; anything else fails.
  sockaddr_in in;
  ASSERT_EQ(0, utils::parse_ipv4_addr("192.0.2.9:77", &in));
  void *copy = utils::type_clone(&utils::__sockaddr_typeinfo, &in);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(0, memcmp(copy, &in, 16));
  utils::type_free(&utils::__sockaddr_typeinfo, copy);
  utils::sockaddr_var other = {};
  other.sa_family = AF_INET6;
  EXPECT_EQ(nullptr, utils::type_clone(&utils::__sockaddr_typeinfo, &other));
}

TEST(DatalistDeathTest, AddingToAReleasedListAborts)
{
  datalist l;
  utils::datalist_init(&l);
  utils::datalist_free(&l);
  EXPECT_EQ(0, l.ref);
  int a = 0;
  EXPECT_DEATH(utils::datalist_append(&l, &a), "alloc_datalist_iterator\\(\\): datalist not initialized!");
  datalist zero = {};
  EXPECT_DEATH(utils::datalist_insert_type(&zero, 0, &utils::__int_typeinfo), "datalist not initialized!");
}

}  // namespace
