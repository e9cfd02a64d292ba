// The entry record: its fields, the roads of its name, its local and central headers and their
// Zip64 and other extra fields.
#include "zip/records/ZipHeaderInfo.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/CodePages.h"
#include "tests/support/RecordBytes.h"
#include "zip/ZipExceptions.h"
#include "zip/common/LittleEndian.h"
#include "zip/common/ZipText.h"

namespace kvelv {
namespace {

using namespace test::record_bytes;

// --- ZipHeaderInfo fields -----------------------------------------------------------------------

TEST(ZipHeaderInfoTest, NewEntryHoldsTheResetDefaults) {
  ZipHeaderInfo e;
  EXPECT_EQ(e.VersionMadeBy(), 45);
  EXPECT_EQ(e.VersionNeeded(), 20);
  EXPECT_EQ(e.Flag(), 0);
  EXPECT_EQ(e.CompressionMethod(), 8);
  EXPECT_EQ(e.DateTime(), 0u);
  EXPECT_EQ(e.Crc32(), 0xFFFFFFFFu);
  EXPECT_EQ(e.InternalAttributes(), 1);
  EXPECT_EQ(e.ExternalAttributes(), 0x20u);
  EXPECT_EQ(e.FileNameLength(), 0);
  EXPECT_FALSE(e.HasZip64());

  ZipHeaderInfo changed(OEMConvert::oemNever);
  changed.SetFileName("x");
  changed.SetUncompressedSize(0x100000000ull);
  changed.SetCrc32(7);
  changed.ResetEntry();
  EXPECT_EQ(changed.FileName(), "");
  EXPECT_FALSE(changed.HasZip64());
  EXPECT_EQ(changed.Crc32(), 0xFFFFFFFFu);
  EXPECT_EQ(changed.OEMConvert(), OEMConvert::oemNever);  // the conversion mode is kept
}

TEST(ZipHeaderInfoTest, SixtyFourBitValuesUseZip64AboveTheLimit) {
  ZipHeaderInfo e;
  e.SetUncompressedSize(0xFFFFFFFEull);
  EXPECT_EQ(e.UncompressedSizeField(), 0xFFFFFFFEu);
  EXPECT_FALSE(e.HasZip64());
  e.SetUncompressedSize(0xFFFFFFFFull);
  EXPECT_EQ(e.UncompressedSizeField(), 0xFFFFFFFFu);
  ASSERT_TRUE(e.HasZip64());
  EXPECT_EQ(e.UncompressedSize(), 0xFFFFFFFFull);
  e.SetCompressedSize(5'000'000'000ull);
  e.SetRelativeOffset(6'000'000'000ull);
  EXPECT_EQ(e.CompressedSize(), 5'000'000'000ull);
  EXPECT_EQ(e.RelativeOffset(), 6'000'000'000ull);
  e.SetRelativeOffset(12);
  EXPECT_EQ(e.RelativeOffset(), 12u);
  e.SetDiskNumberStart(70000);
  EXPECT_EQ(e.DiskNumberStartField(), 0xFFFF);
  EXPECT_EQ(e.DiskNumberStart(), 70000u);
}

TEST(ZipHeaderInfoTest, DirectoryGetsTrailingSeparatorAndNamesMarkTheLength) {
  ZipHeaderInfo e;
  e.SetDirectory("docs");
  EXPECT_EQ(e.Directory(), Native("docs/"));
  e.SetDirectory(Native("a/b/"));
  EXPECT_EQ(e.Directory(), Native("a/b/"));
  EXPECT_NE(e.FileNameLength(), 0);

  ZipHeaderInfo empty;
  empty.SetFileName("");
  empty.SetDirectory("");
  EXPECT_EQ(empty.FileNameLength(), 0);
}

// --- Name encoding ------------------------------------------------------------------------------

// ASCII and the national characters of code page 850 take the OEM road, characters without an
// OEM form (or outside the ANSI code page altogether) and every name under oemNever the UTF-8
// road. -1: not checked.
TEST(EncodeEntryNameTest, NamesTakeTheOemOrTheUtf8Road) {
  const struct {
    OEMConvert mode;
    std::string name, stored;
    int utf8Flag, madeBy;
  } cases[] = {
      {OEMConvert::oemFlexible, Native("docs/Report 1.txt"), "docs/Report 1.txt", 0, 0x002D},
      {OEMConvert::oemFlexible, "brød.txt", Bytes({0x62, 0x72, 0xE2, 0x80, 0xBA, 0x64, 0x2E, 0x74, 0x78, 0x74}), 0,
       0x002D},
      {OEMConvert::oemFlexible, "€.txt", Bytes({0xE2, 0x82, 0xAC, 0x2E, 0x74, 0x78, 0x74}), kFlagUtf8, 0x0B2D},
      {OEMConvert::oemFlexible, "Ωmega.txt", "Ωmega.txt", -1, 0x0B2D},
      {OEMConvert::oemNever, "plain.txt", "plain.txt", kFlagUtf8, -1},
  };
  for (const auto& c : cases) {
    ZipHeaderInfo e(c.mode);
    EXPECT_EQ(e.EncodeEntryName(c.name), c.stored) << c.name;
    if (c.utf8Flag >= 0) {
      EXPECT_EQ(e.Flag() & kFlagUtf8, c.utf8Flag) << c.name;
    }
    if (c.madeBy >= 0) {
      EXPECT_EQ(e.VersionMadeBy(), c.madeBy) << c.name;
    }
  }
}

TEST(EncodeEntryNameTest, DecodingUndoesBothRoads) {
  for (const std::string& name : std::vector<std::string>{"brød.txt", "Årsrapport.txt", "ÉÜìØå.txt", "€.txt",
                                                          "Ωmega.txt", "plain.txt", Native("mappe/æøå.doc")}) {
    ZipHeaderInfo e;
    const std::string stored = e.EncodeEntryName(name);
    EXPECT_EQ(DecodeEntryName(stored, e.Flag(), e.VersionMadeBy(), OEMConvert::oemFlexible), name) << name;
  }
}

TEST(EncodeEntryNameTest, DecodingTurnsSlashesAndGivesValidText) {
  EXPECT_EQ(DecodeEntryName("a/b/c.txt", 0, 0x0314, OEMConvert::oemNever), Native("a/b/c.txt"));
  // Invalid UTF-8 marked as UTF-8: the odd byte read as windows-1252.
  EXPECT_EQ(DecodeEntryName(std::string("caf\xE9.txt"), 0x0800, 0x0B2D, OEMConvert::oemFlexible), "café.txt");
  // Not UTF-8 and not marked: a DOS tool's code page 850.
  EXPECT_EQ(DecodeEntryName(std::string("\x8F\x9D\x92\x81.txt"), 0, 0x0014, OEMConvert::oemFlexible), "ÅØÆü.txt");
}

// --- Headers ------------------------------------------------------------------------------------

ZipHeaderInfo SampleEntry() {
  ZipHeaderInfo e;
  e.SetFileName("a.txt");
  e.SetDateTime(Dos(2024, 5, 17, 13, 45, 15));
  e.SetCrc32(0x12345678);
  e.SetCompressedSize(100);
  e.SetUncompressedSize(250);
  e.SetInternalAttributes(0);
  e.SetExternalAttributes(0x21);
  return e;
}

TEST(LocalHeaderTest, LayoutOfAPlainEntry) {
  ZipHeaderInfo e = SampleEntry();
  const std::string b = Written([&](BufferedFileStream& out) { e.WriteLocalHeader(out); }, 77);
  ASSERT_EQ(b.size(), 30u + 5u);
  EXPECT_EQ(U32(b, 0), 0x04034B50u);
  EXPECT_EQ(U16(b, 4), 20);  // version needed
  EXPECT_EQ(U16(b, 6), 0);   // flag
  EXPECT_EQ(U16(b, 8), 8);   // deflated
  EXPECT_EQ(U32(b, 10), Dos(2024, 5, 17, 13, 45, 15));
  EXPECT_EQ(U32(b, 14), 0x12345678u);
  EXPECT_EQ(U32(b, 18), 100u);
  EXPECT_EQ(U32(b, 22), 250u);
  EXPECT_EQ(U16(b, 26), 5);
  EXPECT_EQ(U16(b, 28), 0);
  EXPECT_EQ(b.substr(30), "a.txt");
  EXPECT_EQ(e.RelativeOffset(), 77u);  // the position it was written at
}

TEST(LocalHeaderTest, EmptyNameStaysEmpty) {
  ZipHeaderInfo e;
  const std::string b = Written([&](BufferedFileStream& out) { e.WriteLocalHeader(out); });
  ASSERT_EQ(b.size(), 30u);
  EXPECT_EQ(U16(b, 26), 0);
}

TEST(CentralHeaderTest, LayoutOfAPlainEntry) {
  ZipHeaderInfo e = SampleEntry();
  e.SetRelativeOffset(0x01020304);
  const std::string b = Written([&](BufferedFileStream& out) { e.WriteCentralHeader(out, nullptr); });
  ASSERT_EQ(b.size(), 46u + 5u);
  EXPECT_EQ(U32(b, 0), 0x02014B50u);
  EXPECT_EQ(U16(b, 4), 0x002D);  // version made by
  EXPECT_EQ(U16(b, 6), 20);
  EXPECT_EQ(U16(b, 8), 0);
  EXPECT_EQ(U16(b, 10), 8);
  EXPECT_EQ(U32(b, 12), Dos(2024, 5, 17, 13, 45, 15));
  EXPECT_EQ(U32(b, 16), 0x12345678u);
  EXPECT_EQ(U32(b, 20), 100u);
  EXPECT_EQ(U32(b, 24), 250u);
  EXPECT_EQ(U16(b, 28), 5);
  EXPECT_EQ(U16(b, 30), 0);      // extra length
  EXPECT_EQ(U16(b, 32), 0);      // comment length
  EXPECT_EQ(U16(b, 34), 0);      // disk number start
  EXPECT_EQ(U16(b, 36), 0);      // internal attributes
  EXPECT_EQ(U32(b, 38), 0x21u);  // external attributes
  EXPECT_EQ(U32(b, 42), 0x01020304u);
  EXPECT_EQ(b.substr(46), "a.txt");
}

TEST(CentralHeaderTest, Utf8NameShowsInVersionMadeByAndFlag) {
  ZipHeaderInfo e = SampleEntry();
  e.SetFileName("€.txt");
  const std::string b = Written([&](BufferedFileStream& out) { e.WriteCentralHeader(out, nullptr); });
  EXPECT_EQ(U16(b, 4), 0x0B2D);
  EXPECT_EQ(U16(b, 8), 0x0800);
  EXPECT_EQ(U16(b, 28), 7);
  EXPECT_EQ(b.substr(46), Bytes({0xE2, 0x82, 0xAC, 0x2E, 0x74, 0x78, 0x74}));
}

TEST(Zip64FieldTest, HugeFileInLocalAndCentralForm) {
  ZipHeaderInfo e = SampleEntry();
  e.SetUncompressedSize(5'000'000'000ull);
  e.SetCompressedSize(4'000'000'000ull);  // fits in 32 bits
  EXPECT_EQ(e.Zip64DataSize(ZipHeaderInfo::Header::Local), 16);
  EXPECT_EQ(e.Zip64DataSize(ZipHeaderInfo::Header::Central), 8);

  const std::string local = Written([&](BufferedFileStream& out) { e.WriteLocalHeader(out); });
  EXPECT_EQ(U16(local, 4), 45);
  EXPECT_EQ(U32(local, 18), 0xFFFFFFFFu);
  EXPECT_EQ(U32(local, 22), 0xFFFFFFFFu);
  EXPECT_EQ(U16(local, 28), 20);
  ASSERT_EQ(local.size(), 30u + 5u + 20u);
  EXPECT_EQ(U16(local, 35), 0x0001);
  EXPECT_EQ(U16(local, 37), 16);
  EXPECT_EQ(U64(local, 39), 5'000'000'000ull);
  EXPECT_EQ(U64(local, 47), 4'000'000'000ull);  // compressed size, zero-extended

  const std::string central = Written([&](BufferedFileStream& out) { e.WriteCentralHeader(out, nullptr); });
  EXPECT_EQ(U16(central, 6), 45);
  EXPECT_EQ(U32(central, 20), 4'000'000'000u);
  EXPECT_EQ(U32(central, 24), 0xFFFFFFFFu);
  EXPECT_EQ(U16(central, 30), 12);
  ASSERT_EQ(central.size(), 46u + 5u + 12u);
  EXPECT_EQ(U16(central, 51), 0x0001);
  EXPECT_EQ(U16(central, 53), 8);
  EXPECT_EQ(U64(central, 55), 5'000'000'000ull);
}

TEST(Zip64FieldTest, OffsetBeyondFourGigabytesInBothForms) {
  ZipHeaderInfo e = SampleEntry();
  e.SetRelativeOffset(0x123456789ull);
  EXPECT_EQ(e.Zip64DataSize(ZipHeaderInfo::Header::Local), 8);
  EXPECT_EQ(e.Zip64DataSize(ZipHeaderInfo::Header::Central), 8);
  const std::string central = Written([&](BufferedFileStream& out) { e.WriteCentralHeader(out, nullptr); });
  EXPECT_EQ(U32(central, 42), 0xFFFFFFFFu);
  EXPECT_EQ(U16(central, 51), 0x0001);
  EXPECT_EQ(U64(central, 55), 0x123456789ull);
}

TEST(Zip64FieldTest, CentralWriteDropsUnneededZip64Values) {
  ZipHeaderInfo e = SampleEntry();
  e.SetUncompressedSize(5'000'000'000ull);
  e.SetUncompressedSize(10);
  ASSERT_TRUE(e.HasZip64());
  Written([&](BufferedFileStream& out) { e.WriteCentralHeader(out, nullptr); });
  EXPECT_FALSE(e.HasZip64());
}

// A central header with the given extra field bytes, followed by nothing else.
std::string CentralWithExtra(const std::string& extra) {
  std::string h(46, '\0');
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  PutU32(p, kCentralHeaderSignature);
  PutU16(p + 4, 0x002D);
  PutU16(p + 6, 20);
  PutU32(p + 20, 0xFFFFFFFF);
  PutU32(p + 24, 0xFFFFFFFF);
  PutU16(p + 28, 5);
  PutU16(p + 30, static_cast<uint16_t>(extra.size()));
  return h + "n.txt" + extra;
}

std::string Field(uint16_t id, const std::string& data) {
  return Le16(id) + Le16(static_cast<uint16_t>(data.size())) + data;
}

TEST(CentralHeaderTest, ReadsExtraFieldsAndCarriesOverForeignOnes) {
  const std::string zip64 = Field(0x0001, Le64(6'000'000'000ull) + Le64(7'000'000'000ull));
  const std::string unicode = Field(0x7075, std::string("\x01\0\0\0\0", 5) + "dir/ü.txt");
  const std::string aes = Field(0x9901, Bytes({2, 0, 'A', 'E', 3, 8, 0}));
  const std::string timestamp = Field(0x5455, Bytes({1, 2, 3, 4, 5}));
  test::TempDir dir;
  const std::string path = dir.Join("source.bin");
  test::WriteFile(path, CentralWithExtra(zip64 + unicode + aes + timestamp));

  BufferedFileStream source;
  std::error_code ec;
  ASSERT_TRUE(source.Open(path, platform::OpenMode::ReadDenyNone, ec));
  ZipHeaderInfo e;
  ASSERT_TRUE(e.ReadCentralHeader(source));
  EXPECT_EQ(source.Position(), 46 + 5);  // right after the name
  EXPECT_EQ(e.UncompressedSize(), 6'000'000'000ull);
  EXPECT_EQ(e.CompressedSize(), 7'000'000'000ull);
  EXPECT_EQ(e.FileName(), "ü.txt");  // from the Unicode path field, split at "/"
  EXPECT_EQ(e.Directory(), Native("dir/"));
  ASSERT_TRUE(e.Aes().has_value());
  EXPECT_EQ(e.Aes()->strength, 3);

  // Written again: 0x7075 and 0x5455 carried over byte for byte, Zip64 anew, AES dropped.
  const std::string out = Written([&](BufferedFileStream& o) { e.WriteCentralHeader(o, &source); });
  const size_t nameLength = U16(out, 28);
  const std::string extra = out.substr(46 + nameLength, U16(out, 30));
  EXPECT_EQ(extra, unicode + timestamp + Field(0x0001, Le64(6'000'000'000ull) + Le64(7'000'000'000ull)));
}

TEST(CentralHeaderTest, AesEntryTakesItsRealMethod) {
  std::string h = CentralWithExtra(Field(0x9901, Bytes({2, 0, 'A', 'E', 1, 8, 0})));
  PutU16(reinterpret_cast<uint8_t*>(h.data()) + 8, 1);    // encrypted
  PutU16(reinterpret_cast<uint8_t*>(h.data()) + 10, 99);  // AES
  test::TempDir dir;
  test::WriteFile(dir.Join("h"), h);
  BufferedFileStream in;
  std::error_code ec;
  ASSERT_TRUE(in.Open(dir.Join("h"), platform::OpenMode::ReadDenyNone, ec));
  ZipHeaderInfo e;
  ASSERT_TRUE(e.ReadCentralHeader(in));
  EXPECT_EQ(e.CompressionMethod(), 8);
  EXPECT_EQ(e.EncryptStrength(), EncryptStrength::esAES128);
  EXPECT_TRUE(e.IsEncrypted());
}

TEST(CentralHeaderTest, TruncatedOrForeignBytesFailAndRestoreThePosition) {
  const std::string good = CentralWithExtra(Field(0x5455, "abc"));
  test::TempDir dir;
  for (const std::string& bytes : {good.substr(0, 40), good.substr(0, 48), good.substr(0, good.size() - 1),
                                   std::string("PK\x03\x04") + good.substr(4)}) {
    test::WriteFile(dir.Join("h"), "xx" + bytes);
    BufferedFileStream in;
    std::error_code ec;
    ASSERT_TRUE(in.Open(dir.Join("h"), platform::OpenMode::ReadDenyNone, ec));
    in.Seek(2);
    ZipHeaderInfo e;
    EXPECT_FALSE(e.ReadCentralHeader(in));
    EXPECT_EQ(in.Position(), 2);
  }
}

}  // namespace
}  // namespace kvelv
