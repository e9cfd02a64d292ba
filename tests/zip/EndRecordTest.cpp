// The end records: the end of central directory record, and the Zip64 record and locator when
// the counts or offsets need them.
#include "zip/records/EndRecord.h"

#include <gtest/gtest.h>

#include "tests/support/RecordBytes.h"
#include "zip/common/LittleEndian.h"

namespace kvelv {
namespace {

using namespace test::record_bytes;

TEST(EndRecordTest, EmptyArchiveIsTwentyTwoBytes) {
  EndRecord end;
  const std::string b = Written([&](BufferedFileStream& out) { end.WriteEndRecords(out); });
  EXPECT_EQ(b, Bytes({0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(EndRecordTest, LayoutWithValues) {
  EndRecord end;
  end.SetEntriesThisDisk(3);
  end.SetTotalEntries(3);
  end.SetCentralSize(0x111);
  end.SetCentralOffset(0x2222);
  const std::string b = Written([&](BufferedFileStream& out) { end.WriteEndRecords(out); });
  ASSERT_EQ(b.size(), 22u);
  EXPECT_EQ(U16(b, 8), 3);
  EXPECT_EQ(U16(b, 10), 3);
  EXPECT_EQ(U32(b, 12), 0x111u);
  EXPECT_EQ(U32(b, 16), 0x2222u);
  EXPECT_EQ(U16(b, 20), 0);
}

TEST(EndRecordTest, Count65534FitsAndCount65535AddsZip64Records) {
  EndRecord fits;
  fits.SetTotalEntries(65534);
  fits.SetEntriesThisDisk(65534);
  EXPECT_EQ(Written([&](BufferedFileStream& out) { fits.WriteEndRecords(out); }).size(), 22u);

  EndRecord over;
  over.SetTotalEntries(65535);
  over.SetEntriesThisDisk(65535);
  over.SetCentralSize(65535u * 46u);
  over.SetCentralOffset(1000);
  EXPECT_EQ(over.TotalEntries(), 65535u);
  const std::string b = Written([&](BufferedFileStream& out) { over.WriteEndRecords(out); }, 5000);
  ASSERT_EQ(b.size(), 56u + 20u + 22u);
  EXPECT_EQ(U32(b, 0), 0x06064B50u);
  EXPECT_EQ(U64(b, 4), 44u);
  EXPECT_EQ(U16(b, 12), 45);
  EXPECT_EQ(U16(b, 14), 45);
  EXPECT_EQ(U64(b, 24), 65535u);
  EXPECT_EQ(U64(b, 32), 65535u);
  EXPECT_EQ(U64(b, 40), 65535u * 46u);  // full values copied in
  EXPECT_EQ(U64(b, 48), 1000u);
  EXPECT_EQ(U32(b, 56), 0x07064B50u);
  EXPECT_EQ(U32(b, 60), 0u);
  EXPECT_EQ(U64(b, 64), 5000u);  // where the Zip64 record was written
  EXPECT_EQ(U32(b, 72), 1u);
  EXPECT_EQ(U16(b, 76 + 8), 0xFFFF);
  EXPECT_EQ(U16(b, 76 + 10), 0xFFFF);
}

TEST(EndRecordTest, LargeOffsetUsesZip64AndOtherwiseDropsIt) {
  EndRecord end;
  end.SetCentralOffset(0x100000000ull);
  EXPECT_EQ(end.CentralOffsetField(), 0xFFFFFFFFu);
  EXPECT_EQ(end.CentralOffset(), 0x100000000ull);
  end.SetCentralOffset(10);  // fits again: no Zip64 records written, record dropped
  EXPECT_EQ(Written([&](BufferedFileStream& out) { end.WriteEndRecords(out); }).size(), 22u);
  EXPECT_FALSE(end.Zip64Record().has_value());
}

}  // namespace
}  // namespace kvelv
