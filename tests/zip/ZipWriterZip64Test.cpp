// Zip64: more entries than the end record can count, entries of 4 GiB and more, entries that
// start past 4 GiB. The stored 4 GiB case runs whenever the temporary folder has room for it;
// the deflated 8 GiB case takes minutes and runs only with KVELV_SLOW_TESTS=1.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/RunProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipLayout.h"
#include "zip/pack/PackedLocalHeader.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

constexpr uint64_t k4G = 0x100000000ull;

bool SlowTestsWanted() {
  const char* value = std::getenv("KVELV_SLOW_TESTS");
  return value != nullptr && std::string(value) == "1";
}

// The stored case writes a 4 GiB archive: run it when there is comfortably room for that.
bool RoomForFourGiB(const test::TempDir& dir) {
  std::error_code ec;
  const auto space = std::filesystem::space(dir.Path(), ec);
  return !ec && space.available > 3 * k4G;
}

std::string MakeSparse(const test::TempDir& dir, const std::string& name, uint64_t size) {
  const std::string path = dir.Join(name);
  test::WriteFile(path, "");
  std::filesystem::resize_file(path, size);
  return path;
}

uint32_t CrcOfZeros(uint64_t count) {
  static const std::string zeros(1 << 20, '\0');
  uLong crc = crc32(0, nullptr, 0);
  while (count > 0) {
    const uInt n = static_cast<uInt>(std::min<uint64_t>(count, zeros.size()));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), n);
    count -= n;
  }
  return static_cast<uint32_t>(crc);
}

std::string PythonCheck(const std::string& archive, const std::string& script) {
  auto r = test::RunProcess(test::FindProgram("python3"), {"python3", "-c",
      "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n" + script, archive});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

int Pack(const std::string& archive, const std::vector<std::string>& items, int level) {
  ZipWriter writer;
  writer.SetZipName(archive);
  writer.SetPackLevel(level);
  writer.SetFilesList(items);
  return writer.PackFiles();
}

TEST(ZipWriterZip64Test, EntryCountsUpTo65534FitTheEndRecord65535DoNot) {
  test::TempDir dir;
  std::vector<std::string> items;
  for (int i = 0; i < 65535; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "f%05d", i);
    items.push_back(dir.Join(name));
    std::FILE* f = std::fopen(items.back().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  const std::string archive = dir.Join("count.zip");

  std::vector<std::string> fewer(items.begin(), items.end() - 1);
  ASSERT_EQ(Pack(archive, fewer, 0), 65534);
  auto end = test::ReadEndRecordView(archive);
  EXPECT_FALSE(end.hasZip64);
  EXPECT_EQ(end.entriesThisDisk, 65534);
  EXPECT_EQ(end.totalEntries, 65534);
  std::filesystem::remove(archive);

  ASSERT_EQ(Pack(archive, items, 0), 65535);
  end = test::ReadEndRecordView(archive);
  EXPECT_EQ(end.entriesThisDisk, 0xFFFF);
  EXPECT_EQ(end.totalEntries, 0xFFFF);
  ASSERT_TRUE(end.hasZip64);
  EXPECT_EQ(end.zip64RecordSize, 44u);
  EXPECT_EQ(end.zip64MadeBy, 45);
  EXPECT_EQ(end.zip64Needed, 45);
  EXPECT_EQ(end.zip64EntriesThisDisk, 65535u);
  EXPECT_EQ(end.zip64TotalEntries, 65535u);
  // Sizes that fit stay in the end record too; the Zip64 record holds the same values.
  EXPECT_EQ(end.zip64CentralOffset, end.centralOffset);
  EXPECT_EQ(end.zip64CentralSize, end.centralSize);
  EXPECT_EQ(end.zip64Position, end.zip64CentralOffset + end.zip64CentralSize);
  EXPECT_EQ(end.position, end.zip64Position + 56 + 20);
  EXPECT_EQ(end.locatorTotalDisks, 1u);
  EXPECT_EQ(test::ReadCentralViews(archive).size(), 65535u);

  EXPECT_EQ(PythonCheck(archive, "print(len(z.infolist()), z.infolist()[-1].filename)\n"), "65535 f65534\n");
  ZipReader reader;
  reader.SetZipName(archive);
  reader.ReadDirectory();
  EXPECT_EQ(reader.EntryCount(), 65535);
}

TEST(ZipWriterZip64Test, StoredEntryOfFourGiBAndAnEntryStartingPastIt) {
  test::TempDir dir;
  if (!SlowTestsWanted() && !RoomForFourGiB(dir)) {
    GTEST_SKIP() << "writes a 4 GiB archive and the temporary folder has less than 12 GiB free";
  }
  const uint64_t bigSize = k4G + 5;
  const std::string big = MakeSparse(dir, "big.bin", bigSize);
  const std::string small = dir.Join("small.txt");
  test::WriteFile(small, "after the big one");
  const std::string archive = dir.Join("big.zip");
  ASSERT_EQ(Pack(archive, {big, small}, 0), 2);

  const auto central = test::ReadCentralViews(archive);
  ASSERT_EQ(central.size(), 2u);
  // The big entry: both sizes in Zip64 fields, local and central.
  auto local = test::ReadLocalView(archive, 0);
  EXPECT_EQ(local.versionNeeded, 45);
  EXPECT_EQ(local.compressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(local.uncompressedSize, 0xFFFFFFFFu);
  auto zip64 = test::ExtraFields(local.extra).at(0x0001);
  ASSERT_EQ(zip64.size(), 16u);
  EXPECT_EQ(test::LeValue(zip64, 0, 8), bigSize);
  EXPECT_EQ(test::LeValue(zip64, 8, 8), bigSize);
  EXPECT_EQ(central[0].versionNeeded, 45);
  EXPECT_EQ(central[0].compressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(central[0].uncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(central[0].crc, CrcOfZeros(bigSize));
  zip64 = test::ExtraFields(central[0].extra).at(0x0001);
  ASSERT_EQ(zip64.size(), 16u);
  EXPECT_EQ(test::LeValue(zip64, 0, 8), bigSize);
  EXPECT_EQ(test::LeValue(zip64, 8, 8), bigSize);

  // The small entry starts past 4 GiB: its offset goes into the Zip64 fields.
  const uint64_t smallOffset = local.DataStart() + bigSize;
  EXPECT_EQ(central[1].localOffset, 0xFFFFFFFFu);
  EXPECT_EQ(central[1].versionNeeded, 45);
  zip64 = test::ExtraFields(central[1].extra).at(0x0001);
  ASSERT_EQ(zip64.size(), 8u);
  EXPECT_EQ(test::LeValue(zip64, 0, 8), smallOffset);
  local = test::ReadLocalView(archive, smallOffset);
  EXPECT_EQ(local.versionNeeded, 45);
  EXPECT_EQ(local.uncompressedSize, 17u);
  zip64 = test::ExtraFields(local.extra).at(0x0001);
  ASSERT_EQ(zip64.size(), 8u);
  EXPECT_EQ(test::LeValue(zip64, 0, 8), smallOffset);

  const auto end = test::ReadEndRecordView(archive);
  ASSERT_TRUE(end.hasZip64);
  EXPECT_EQ(end.centralOffset, 0xFFFFFFFFu);
  EXPECT_EQ(end.totalEntries, 2);
  EXPECT_EQ(end.zip64CentralOffset, local.DataStart() + 17);
  EXPECT_EQ(PythonCheck(archive, "print(z.read('small.txt').decode(), z.getinfo('big.bin').file_size)\n"),
            "after the big one " + std::to_string(bigSize) + "\n");
}

TEST(ZipWriterZip64Test, DeflatedEntryOfFourGiBAndOneJustUnderTheReservationLine) {
  if (!SlowTestsWanted()) GTEST_SKIP() << "deflates 8 GiB; set KVELV_SLOW_TESTS=1 to run it";
  test::TempDir dir;
  const std::string huge = MakeSparse(dir, "huge.bin", 0xFFFFFFFFull);
  // Its deflated data could pass 4 GiB, so the header reserves the Zip64 field though no value
  // will need it in the end.
  const uint64_t nearSize = MaxBytesWithoutZip64Reserve() + 1;
  const std::string near = MakeSparse(dir, "near.bin", nearSize);
  const std::string archive = dir.Join("huge.zip");
  ASSERT_EQ(Pack(archive, {huge, near}, 1), 2);

  const auto central = test::ReadCentralViews(archive);
  ASSERT_EQ(central.size(), 2u);
  auto local = test::ReadLocalView(archive, 0);
  EXPECT_EQ(local.versionNeeded, 45);
  EXPECT_EQ(local.uncompressedSize, 0xFFFFFFFFu);
  auto zip64 = test::ExtraFields(local.extra).at(0x0001);
  ASSERT_EQ(zip64.size(), 16u);
  EXPECT_EQ(test::LeValue(zip64, 0, 8), 0xFFFFFFFFull);
  const uint64_t compressed = test::LeValue(zip64, 8, 8);
  EXPECT_LT(compressed, 0xFFFFFFFFull / 100);
  // Central form: only the uncompressed size needs 64 bits.
  EXPECT_EQ(central[0].versionNeeded, 45);
  EXPECT_EQ(central[0].uncompressedSize, 0xFFFFFFFFu);
  EXPECT_EQ(central[0].compressedSize, compressed);
  zip64 = test::ExtraFields(central[0].extra).at(0x0001);
  ASSERT_EQ(zip64.size(), 8u);
  EXPECT_EQ(test::LeValue(zip64, 0, 8), 0xFFFFFFFFull);
  EXPECT_EQ(central[0].crc, CrcOfZeros(0xFFFFFFFFull));

  local = test::ReadLocalView(archive, central[1].localOffset);
  EXPECT_EQ(local.versionNeeded, 45);
  EXPECT_EQ(local.uncompressedSize, 0xFFFFFFFFu);
  zip64 = test::ExtraFields(local.extra).at(0x0001);
  EXPECT_EQ(test::LeValue(zip64, 0, 8), nearSize);
  EXPECT_EQ(central[1].versionNeeded, 20);
  EXPECT_EQ(central[1].uncompressedSize, nearSize);
  EXPECT_EQ(central[1].extraLength, 0);
  EXPECT_EQ(central[1].crc, CrcOfZeros(nearSize));
  EXPECT_EQ(PythonCheck(archive, "print(' '.join(str(i.file_size) for i in z.infolist()))\n"),
            std::to_string(0xFFFFFFFFull) + " " + std::to_string(nearSize) + "\n");
  auto unzip = test::RunProcess(test::FindProgram("unzip"), {"unzip", "-t", archive});
  EXPECT_EQ(unzip.exitCode, 0) << unzip.out << unzip.err;
}

}  // namespace
}  // namespace kvelv
