// Byte layout of the records the archive classes write, the name encoding, DOS times and CRC-32.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/CodePages.h"
#include "tests/support/TestSupport.h"
#include "zip/common/BufferedFileStream.h"
#include "zip/common/Crc32.h"
#include "zip/common/DosDateTime.h"
#include "zip/records/EndRecord.h"
#include "zip/common/LittleEndian.h"
#include "zip/records/EntryList.h"
#include "zip/ZipExceptions.h"
#include "zip/records/ZipHeaderInfo.h"
#include "zip/common/ZipText.h"

namespace kvelv {
namespace {

// An entry name as the library keeps it in memory: "/" written as the system's separator.
std::string Native(std::string name) {
  for (char& c : name) {
    if (c == '/') c = kEntrySeparator;
  }
  return name;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

uint16_t U16(const std::string& b, size_t at) {
  return GetU16(reinterpret_cast<const uint8_t*>(b.data()) + at);
}
uint32_t U32(const std::string& b, size_t at) {
  return GetU32(reinterpret_cast<const uint8_t*>(b.data()) + at);
}
uint64_t U64(const std::string& b, size_t at) {
  return GetU64(reinterpret_cast<const uint8_t*>(b.data()) + at);
}

// Runs `write` on a fresh stream positioned at `start` and returns the bytes after `start`.
template <typename Fn>
std::string Written(Fn write, int64_t start = 0) {
  test::TempDir dir;
  const std::string path = dir.Join("out.bin");
  BufferedFileStream out;
  std::error_code ec;
  EXPECT_TRUE(out.Open(path, platform::OpenMode::CreateAlways, ec)) << ec.message();
  if (start > 0) {
    const std::string pad(static_cast<size_t>(start), '\0');
    out.WriteAll(pad.data(), start);
  }
  write(out);
  EXPECT_TRUE(out.Close());
  return test::ReadFile(path).substr(static_cast<size_t>(start));
}

// --- CRC-32 -------------------------------------------------------------------------------------

TEST(Crc32Test, KnownVectors) {
  // Check values of the standard ZIP CRC-32 ("123456789" is the usual check string).
  EXPECT_EQ(ComputeCrc32(std::string_view("123456789")), 0xCBF43926u);
  EXPECT_EQ(ComputeCrc32(std::string_view("")), 0u);
  EXPECT_EQ(ComputeCrc32(std::string_view("a")), 0xE8B7BE43u);
  EXPECT_EQ(ComputeCrc32(std::string_view("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

TEST(Crc32Test, RegisterCarriesAcrossChunks) {
  const std::string text = "123456789";
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  uint32_t reg = kCrc32Start;
  reg = Crc32Update(reg, p, 4);
  reg = Crc32Update(reg, p + 4, 0);
  reg = Crc32Update(reg, p + 4, 5);
  EXPECT_EQ(~reg, 0xCBF43926u);
}

// --- DOS date and time --------------------------------------------------------------------------

uint32_t Dos(int year, int month, int day, int hour, int minute, int second2) {
  const uint32_t time = static_cast<uint32_t>(hour * 2048 + minute * 32 + second2);
  const uint32_t date = static_cast<uint32_t>((year - 1980) * 512 + month * 32 + day);
  return date << 16 | time;
}

TEST(DosDateTimeTest, PacksTimeLowDateHighAndLosesTheOddSecond) {
  platform::LocalDateTime t{2024, 5, 17, 13, 45, 31};
  EXPECT_EQ(MakeDosDateTime(t), Dos(2024, 5, 17, 13, 45, 15));
  const platform::LocalDateTime back = SplitDosDateTime(MakeDosDateTime(t));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.second, 30);
}

TEST(DosDateTimeTest, TimesWithoutDosFormGetAllBits) {
  EXPECT_EQ(MakeDosDateTime({1979, 12, 31, 23, 59, 59}), kDosDateTimeInvalid);
  EXPECT_EQ(DosDateTimeFromUnix(0 - 86400 * 400), kDosDateTimeInvalid);  // 1968
}

TEST(DosDateTimeTest, LocalTimeRoundTrip) {
  int64_t unix = 0;
  const uint32_t dos = Dos(2021, 3, 14, 15, 9, 13);
  ASSERT_TRUE(UnixFromDosDateTime(dos, unix));
  EXPECT_EQ(DosDateTimeFromUnix(unix), dos);
}

TEST(DosDateTimeTest, NormalizeClampsEachPart) {
  // 24:60:62 on day 0 of month 0 -> 23:59:58 on day 1 of month 1, same year.
  EXPECT_EQ(NormalizeDosDateTime(Dos(2010, 0, 0, 24, 60, 31)), Dos(2010, 1, 1, 23, 59, 29));
  // All bits set -> 31 December 2099, 23:59:58.
  EXPECT_EQ(NormalizeDosDateTime(0xFFFFFFFFu), Dos(2099, 12, 31, 23, 59, 29));
  // Month 13 -> 12, year 2100 -> 2099.
  EXPECT_EQ(NormalizeDosDateTime(Dos(2100, 13, 5, 1, 2, 3)), Dos(2099, 12, 5, 1, 2, 3));
}

TEST(DosDateTimeTest, NormalizeKeepsValidValuesBitForBit) {
  for (uint32_t v : {Dos(1980, 1, 1, 0, 0, 0), Dos(2099, 12, 31, 23, 59, 29), Dos(2024, 2, 31, 5, 6, 7)})
    EXPECT_EQ(NormalizeDosDateTime(v), v);
}

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

TEST(EncodeEntryNameTest, AsciiTakesTheOemRoadUnchanged) {
  ZipHeaderInfo e;
  EXPECT_EQ(e.EncodeEntryName(Native("docs/Report 1.txt")), "docs/Report 1.txt");
  EXPECT_EQ(e.Flag() & kFlagUtf8, 0);
  EXPECT_EQ(e.VersionMadeBy(), 0x002D);
}

TEST(EncodeEntryNameTest, NationalCharactersOfCodePage850TakeTheOemRoad) {
  ZipHeaderInfo e;
  EXPECT_EQ(e.EncodeEntryName("brød.txt"), Bytes({0x62, 0x72, 0xE2, 0x80, 0xBA, 0x64, 0x2E, 0x74, 0x78, 0x74}));
  EXPECT_EQ(e.Flag() & kFlagUtf8, 0);
  EXPECT_EQ(e.VersionMadeBy(), 0x002D);
}

TEST(EncodeEntryNameTest, CharactersWithoutOemFormTakeTheUtf8Road) {
  ZipHeaderInfo e;
  EXPECT_EQ(e.EncodeEntryName("€.txt"), Bytes({0xE2, 0x82, 0xAC, 0x2E, 0x74, 0x78, 0x74}));
  EXPECT_EQ(e.Flag() & kFlagUtf8, kFlagUtf8);
  EXPECT_EQ(e.VersionMadeBy(), 0x0B2D);
  // Outside the ANSI code page altogether.
  ZipHeaderInfo g;
  EXPECT_EQ(g.EncodeEntryName("Ωmega.txt"), "Ωmega.txt");
  EXPECT_EQ(g.VersionMadeBy(), 0x0B2D);
}

TEST(EncodeEntryNameTest, OemNeverAlwaysStoresUtf8) {
  ZipHeaderInfo e(OEMConvert::oemNever);
  EXPECT_EQ(e.EncodeEntryName("plain.txt"), "plain.txt");
  EXPECT_EQ(e.Flag() & kFlagUtf8, kFlagUtf8);
}

TEST(EncodeEntryNameTest, DecodingUndoesBothRoads) {
  for (const std::string& name : std::vector<std::string>{"brød.txt", "Årsrapport.txt", "ÉÜìØå.txt", "€.txt", "Ωmega.txt",
                                 "plain.txt", Native("mappe/æøå.doc")}) {
    ZipHeaderInfo e;
    const std::string stored = e.EncodeEntryName(name);
    EXPECT_EQ(DecodeEntryName(stored, e.Flag(), e.VersionMadeBy(), OEMConvert::oemFlexible), name)
        << name;
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
  EXPECT_EQ(U16(b, 4), 20);            // version needed
  EXPECT_EQ(U16(b, 6), 0);             // flag
  EXPECT_EQ(U16(b, 8), 8);             // deflated
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
  EXPECT_EQ(U16(b, 4), 0x002D);        // version made by
  EXPECT_EQ(U16(b, 6), 20);
  EXPECT_EQ(U16(b, 8), 0);
  EXPECT_EQ(U16(b, 10), 8);
  EXPECT_EQ(U32(b, 12), Dos(2024, 5, 17, 13, 45, 15));
  EXPECT_EQ(U32(b, 16), 0x12345678u);
  EXPECT_EQ(U32(b, 20), 100u);
  EXPECT_EQ(U32(b, 24), 250u);
  EXPECT_EQ(U16(b, 28), 5);
  EXPECT_EQ(U16(b, 30), 0);            // extra length
  EXPECT_EQ(U16(b, 32), 0);            // comment length
  EXPECT_EQ(U16(b, 34), 0);            // disk number start
  EXPECT_EQ(U16(b, 36), 0);            // internal attributes
  EXPECT_EQ(U32(b, 38), 0x21u);        // external attributes
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
  EXPECT_EQ(e.Zip64DataSize(true), 16);
  EXPECT_EQ(e.Zip64DataSize(false), 8);

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
  EXPECT_EQ(e.Zip64DataSize(true), 8);
  EXPECT_EQ(e.Zip64DataSize(false), 8);
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
  std::string f(4, '\0');
  PutU16(reinterpret_cast<uint8_t*>(f.data()), id);
  PutU16(reinterpret_cast<uint8_t*>(f.data()) + 2, static_cast<uint16_t>(data.size()));
  return f + data;
}

std::string Le64(uint64_t v) {
  std::string s(8, '\0');
  PutU64(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
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
  EXPECT_EQ(e.FileName(), "ü.txt");      // from the Unicode path field, split at "/"
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

// --- End records --------------------------------------------------------------------------------

TEST(EndCentralTest, EmptyArchiveIsTwentyTwoBytes) {
  EndCentral end;
  const std::string b = Written([&](BufferedFileStream& out) { end.WriteEndRecords(out); });
  EXPECT_EQ(b, Bytes({0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(EndCentralTest, LayoutWithValues) {
  EndCentral end;
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

TEST(EndCentralTest, Count65534FitsAndCount65535AddsZip64Records) {
  EndCentral fits;
  fits.SetTotalEntries(65534);
  fits.SetEntriesThisDisk(65534);
  EXPECT_EQ(Written([&](BufferedFileStream& out) { fits.WriteEndRecords(out); }).size(), 22u);

  EndCentral over;
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
  EXPECT_EQ(U64(b, 64), 5000u);         // where the Zip64 record was written
  EXPECT_EQ(U32(b, 72), 1u);
  EXPECT_EQ(U16(b, 76 + 8), 0xFFFF);
  EXPECT_EQ(U16(b, 76 + 10), 0xFFFF);
}

TEST(EndCentralTest, LargeOffsetUsesZip64AndOtherwiseDropsIt) {
  EndCentral end;
  end.SetCentralOffset(0x100000000ull);
  EXPECT_EQ(end.CentralOffsetField(), 0xFFFFFFFFu);
  EXPECT_EQ(end.CentralOffset(), 0x100000000ull);
  end.SetCentralOffset(10);  // fits again: no Zip64 records written, record dropped
  EXPECT_EQ(Written([&](BufferedFileStream& out) { end.WriteEndRecords(out); }).size(), 22u);
  EXPECT_FALSE(end.Zip64Record().has_value());
}

// --- SortedZip ----------------------------------------------------------------------------------

ZipHeaderInfo* Named(const std::string& dir, const std::string& name, uint64_t offset = 0) {
  auto* e = new ZipHeaderInfo;
  e->SetDirectory(dir);
  e->SetFileName(name);
  e->SetRelativeOffset(offset);
  return e;
}

TEST(SortedZipTest, ByNameRefusesAsciiCaseDuplicatesOnly) {
  SortedZip list(ZipSortMode::ByName, DuplicatePolicy::Refuse, EntryOwnership::Owns);
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

TEST(SortedZipTest, ByNoneOrdersByDiskThenOffset) {
  SortedZip list(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Owns);
  for (uint64_t offset : {500u, 0u, 250u}) list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "x", offset)));
  EXPECT_EQ(list[0].RelativeOffset(), 0u);
  EXPECT_EQ(list[1].RelativeOffset(), 250u);
  EXPECT_EQ(list[2].RelativeOffset(), 500u);
  EXPECT_THROW(list.Add(std::unique_ptr<ZipHeaderInfo>(Named("", "other", 250))), EListError);
  EXPECT_EQ(list.Count(), 3);
}

TEST(SortedZipTest, PoliciesAndListErrors) {
  SortedZip ignore(ZipSortMode::ByFileName, DuplicatePolicy::Ignore, EntryOwnership::Views);
  std::unique_ptr<ZipHeaderInfo> a(Named("x", "a")), b(Named("y", "a"));
  EXPECT_EQ(ignore.Add(a.get()), 0);
  EXPECT_EQ(ignore.Add(b.get()), -1);

  SortedZip accept(ZipSortMode::ByFileName, DuplicatePolicy::Accept, EntryOwnership::Views);
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

TEST(SortedZipTest, SizeOrderKeepsPhysicalOrderOfEqualSizes) {
  SortedZip list(ZipSortMode::ByCompressedSize, DuplicatePolicy::Accept, EntryOwnership::Views);
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

TEST(SortedZipTest, AssignOrdersLikeOneByOneInsertion) {
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
  for (ZipSortMode mode : {ZipSortMode::ByName, ZipSortMode::ByFileName, ZipSortMode::ByDirectoryName,
                           ZipSortMode::ByDate, ZipSortMode::ByCompressedSize,
                           ZipSortMode::ByUnCompressedSize, ZipSortMode::ByRate, ZipSortMode::ByNone}) {
    for (DuplicatePolicy policy : {DuplicatePolicy::Accept, DuplicatePolicy::Ignore}) {
      SortedZip oneByOne(mode, policy, EntryOwnership::Views);
      std::vector<ZipHeaderInfo*> raw;
      for (auto& e : pool) {
        oneByOne.Add(e.get());
        raw.push_back(e.get());
      }
      SortedZip bulk(mode, policy, EntryOwnership::Views);
      bulk.Assign(raw);
      ASSERT_EQ(bulk.Count(), oneByOne.Count());
      for (int i = 0; i < bulk.Count(); ++i)
        ASSERT_EQ(bulk.Items(i), oneByOne.Items(i)) << static_cast<int>(mode) << " at " << i;
    }
  }
  SortedZip refuse(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Views);
  std::vector<ZipHeaderInfo*> raw;
  for (auto& e : pool) raw.push_back(e.get());
  EXPECT_THROW(refuse.Assign(raw), EListError);
}

// --- BufferedFileStream -------------------------------------------------------------------------

TEST(BufferedFileStreamTest, MixedReadsWritesAndSeeksAcrossBufferBoundaries) {
  test::TempDir dir;
  const std::string path = dir.Join("f");
  std::string expected;
  for (int i = 0; i < 30000; ++i) expected.push_back(static_cast<char>(i * 7));
  {
    BufferedFileStream s(1000);
    std::error_code ec;
    ASSERT_TRUE(s.Open(path, platform::OpenMode::CreateAlways, ec));
    for (size_t at = 0; at < expected.size(); at += 777)
      s.WriteAll(expected.data() + at, static_cast<int64_t>(std::min<size_t>(777, expected.size() - at)));
    EXPECT_EQ(s.Size(), 30000);
    ASSERT_TRUE(s.Seek(5));
    s.WriteAll("HELLO", 5);  // rewrite in place, like the writer's second local header
    expected.replace(5, 5, "HELLO");
    ASSERT_TRUE(s.Seek(29990));
    char tail[20] = {};
    EXPECT_EQ(s.Read(tail, 20), 10);
    EXPECT_EQ(std::string(tail, 10), expected.substr(29990));
    ASSERT_TRUE(s.Seek(0));
    std::string all(30000, '\0');
    EXPECT_TRUE(s.ReadExact(all.data(), 30000));
    EXPECT_EQ(all, expected);
    EXPECT_TRUE(s.Close());
  }
  EXPECT_EQ(test::ReadFile(path), expected);
}

// Seeking back into bytes not yet flushed rewrites them in the buffer; writes may then run past
// the old end, up to and across the buffer's end.
TEST(BufferedFileStreamTest, RewritesInsidePendingBytesLandInTheFile) {
  test::TempDir dir;
  const std::string path = dir.Join("f");
  BufferedFileStream s(64);
  std::error_code ec;
  ASSERT_TRUE(s.Open(path, platform::OpenMode::CreateAlways, ec));
  std::string expected(150, '.');
  for (int at = 0; at < 150; at += 10) s.WriteAll(expected.data() + at, 10);  // 22 pending from 128
  ASSERT_TRUE(s.Seek(130));
  s.WriteAll("abc", 3);
  expected.replace(130, 3, "abc");
  ASSERT_TRUE(s.Seek(140));
  s.WriteAll(std::string(60, 'Z').data(), 60);  // past the old end and across the buffer's end
  expected.replace(140, 10, std::string(10, 'Z'));
  expected += std::string(50, 'Z');
  EXPECT_EQ(s.Position(), 200);
  EXPECT_EQ(s.Size(), 200);
  ASSERT_TRUE(s.Seek(100));  // before the pending bytes: flushed, then written in place
  s.WriteAll("HEADER", 6);
  expected.replace(100, 6, "HEADER");
  ASSERT_TRUE(s.Seek(200));
  s.WriteAll("!", 1);
  expected += "!";
  EXPECT_TRUE(s.Close());
  EXPECT_EQ(test::ReadFile(path), expected);
}

TEST(BufferedFileStreamTest, FullDiskIsReportedByWriteAllAndClose) {
  BufferedFileStream s;
  std::error_code ec;
  if (!s.Open("/dev/full", platform::OpenMode::WriteExisting, ec))
    GTEST_SKIP() << "/dev/full cannot be opened here: " << ec.message();
  const std::string block(100, 'x');
  s.WriteAll(block.data(), 100);  // still in the buffer
  EXPECT_FALSE(s.Close());       // the final flush fails and says so

  BufferedFileStream t;
  ASSERT_TRUE(t.Open("/dev/full", platform::OpenMode::WriteExisting, ec));
  const std::string big(20000, 'y');
  try {
    t.WriteAll(big.data(), static_cast<int64_t>(big.size()));
    FAIL() << "no exception";
  } catch (const ENotEnoughRoom& e) {
    EXPECT_STREQ(e.what(), "Not enough room to write archive");
  }
  EXPECT_TRUE(t.Failed());
  EXPECT_EQ(t.Write("z", 1), 0);
}

}  // namespace
}  // namespace kvelv
