// The entry list: its orders, its duplicate policies and its index errors.
#include "zip/records/EntryList.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/support/RecordBytes.h"
#include "zip/ZipExceptions.h"

namespace kvelv {
namespace {

using namespace test::record_bytes;

ZipHeaderInfo* Named(const std::string& dir, const std::string& name, uint64_t offset = 0) {
  auto* e = new ZipHeaderInfo;
  e->SetDirectory(dir);
  e->SetFileName(name);
  e->SetRelativeOffset(offset);
  return e;
}

TEST(EntryListTest, ByNameRefusesAsciiCaseDuplicatesOnly) {
  EntryList list(ZipSortMode::ByName, DuplicatePolicy::Refuse, EntryOwnership::Owns);
  list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "report.txt")));
  try {
    list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "REPORT.TXT")));
    FAIL() << "duplicate accepted";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Duplicate Object index");
  }
  // Only A-Z fold: Æ and æ are different names.
  list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "Æ.txt")));
  list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "æ.txt")));
  list.Add(std::unique_ptr<ZipHeaderInfo>(Named("b", "a.txt")));
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list[0].FullName(), Native("b/a.txt"));
  EXPECT_EQ(list[1].FileName(), "report.txt");
  int at = -1;
  std::unique_ptr<ZipHeaderInfo> key(Named("B", "A.TXT"));
  EXPECT_TRUE(list.Find(*key, at));
  EXPECT_EQ(at, 0);
}

TEST(EntryListTest, ByNoneOrdersByDiskThenOffset) {
  EntryList list(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Owns);
  for (uint64_t offset : {500u, 0u, 250u}) list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "x", offset)));
  EXPECT_EQ(list[0].RelativeOffset(), 0u);
  EXPECT_EQ(list[1].RelativeOffset(), 250u);
  EXPECT_EQ(list[2].RelativeOffset(), 500u);
  EXPECT_THROW(list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "other", 250))), EListError);
  EXPECT_EQ(list.Count(), 3);
}

TEST(EntryListTest, PoliciesAndListErrors) {
  EntryList ignore(ZipSortMode::ByFileName, DuplicatePolicy::Ignore, EntryOwnership::Views);
  std::unique_ptr<ZipHeaderInfo> a(Named("x", "a")), b(Named("y", "a"));
  EXPECT_EQ(ignore.Add(a.get()), 0);
  EXPECT_EQ(ignore.Add(b.get()), -1);

  EntryList accept(ZipSortMode::ByFileName, DuplicatePolicy::Accept, EntryOwnership::Views);
  accept.Add(a.get());
  accept.Add(b.get());
  EXPECT_EQ(accept.Items(0), b.get());  // a new equal entry goes before the equal ones

  try {
    accept.Put(0, a.get());
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Cannot <Put> an Object in a sorted list!");
  }
  try {
    accept.Items(2);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index 2 is out of range");
  }
}

TEST(EntryListTest, SizeOrderKeepsPhysicalOrderOfEqualSizes) {
  EntryList list(ZipSortMode::ByCompressedSize, DuplicatePolicy::Accept, EntryOwnership::Views);
  std::unique_ptr<ZipHeaderInfo> a(Named("", "a")), b(Named("", "b")), c(Named("", "c"));
  a->SetCompressedSize(10);
  b->SetCompressedSize(10);
  c->SetCompressedSize(20);
  list.Add(a.get());
  list.Add(b.get());
  list.Add(c.get());
  EXPECT_EQ(list.Items(0), c.get());
  EXPECT_EQ(list.Items(1), a.get());
  EXPECT_EQ(list.Items(2), b.get());
}

TEST(EntryListTest, AssignOrdersLikeOneByOneInsertion) {
  std::mt19937 rng(99);
  std::vector<std::unique_ptr<ZipHeaderInfo>> pool;
  for (int i = 0; i < 300; ++i) {
    auto e = std::make_unique<ZipHeaderInfo>();
    e->SetDirectory(rng() % 2 ? "d" : "");
    e->SetFileName(std::string(1, static_cast<char>("aAbB"[rng() % 4])) + ".txt");
    e->SetCompressedSize(rng() % 5);
    e->SetUncompressedSize(rng() % 9);
    e->SetDateTime(0x50000000u + (rng() % 3));
    e->SetRelativeOffset(rng() % 1000);
    pool.push_back(std::move(e));
  }
  for (ZipSortMode mode :
       {ZipSortMode::ByName, ZipSortMode::ByFileName, ZipSortMode::ByDirectoryName, ZipSortMode::ByDate,
        ZipSortMode::ByCompressedSize, ZipSortMode::ByUnCompressedSize, ZipSortMode::ByRate, ZipSortMode::ByNone}) {
    for (DuplicatePolicy policy : {DuplicatePolicy::Accept, DuplicatePolicy::Ignore}) {
      EntryList oneByOne(mode, policy, EntryOwnership::Views);
      std::vector<ZipHeaderInfo*> raw;
      for (auto& e : pool) {
        oneByOne.Add(e.get());
        raw.push_back(e.get());
      }
      EntryList bulk(mode, policy, EntryOwnership::Views);
      bulk.Assign(raw);
      ASSERT_EQ(bulk.Count(), oneByOne.Count());
      for (int i = 0; i < bulk.Count(); ++i)
        ASSERT_EQ(bulk.Items(i), oneByOne.Items(i)) << static_cast<int>(mode) << " at " << i;
    }
  }
  EntryList refuse(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Views);
  std::vector<ZipHeaderInfo*> raw;
  for (auto& e : pool) raw.push_back(e.get());
  EXPECT_THROW(refuse.Assign(raw), EListError);
}

}  // namespace
}  // namespace kvelv
