// Small entries decoded ahead on worker threads: the bytes and the way decoding ends are those
// the extraction pass would meet itself, and entries that do not suit are left to the pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tests/support/ZipTestSupport.h"
#include "platform/FileSystem.h"
#include "zip/extract/DecodeAhead.h"
#include "zip/common/DosDateTime.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"
#include "tests/support/TestData.h"

namespace kvelv {
namespace {

using test::ArchiveEntrySpec;

ArchiveEntrySpec Entry(std::string name, std::string content, uint16_t method = 8) {
  ArchiveEntrySpec e;
  e.name = std::move(name);
  e.content = std::move(content);
  e.method = method;
  return e;
}

// An archive on disk, its directory loaded, and a decoder ahead over all of its entries.
struct Loaded {
  explicit Loaded(const std::vector<ArchiveEntrySpec>& specs) {
    path = dir.Join("a.zip");
    test::WriteFile(path, test::MakeArchive(specs));
    reader.SetZipName(path);
    reader.ReadDirectory();
    for (int i = 0; i < reader.EntryCount(); ++i) entries.push_back(&reader.Entry(i));
  }
  std::shared_ptr<const ArchiveSource> Source() const {
    std::error_code ec;
    return FileArchiveSource::Open(path, ec);
  }
  test::TempDir dir;
  std::string path;
  ZipReader reader;
  std::vector<const ZipHeaderInfo*> entries;
};

std::string Bytes(const DecodedEntry& d) { return std::string(reinterpret_cast<const char*>(d.data.get()), d.size); }

template <typename E>
bool Raised(const DecodedEntry& d) {
  try {
    if (d.error) std::rethrow_exception(d.error);
  } catch (const E&) {
    return true;
  } catch (...) {
  }
  return false;
}

TEST(DecodeAheadTest, DecodesDeflatedAndStoredEntriesToTheirBytes) {
  std::vector<ArchiveEntrySpec> specs;
  for (int i = 0; i < 60; ++i) {
    specs.push_back(Entry("f" + std::to_string(i), test::LogText(static_cast<size_t>(i * 1777 % 70000), i), i % 3 ? 8 : 0));
  }
  specs.push_back(Entry("limit", test::LogText(DecodeAhead::kMaxEntrySize, 7)));
  Loaded a(specs);
  DecodeAhead ahead(a.Source(), a.entries, 2);
  for (size_t i = 0; i < specs.size(); ++i) {
    auto d = ahead.Take(i);
    ASSERT_TRUE(d) << i;
    EXPECT_FALSE(d->error) << i;
    EXPECT_TRUE(Bytes(*d) == specs[i].content) << i;
  }
}

TEST(DecodeAheadTest, EndsDamagedEntriesWithTheErrorThePassWouldRaise) {
  std::vector<ArchiveEntrySpec> specs = {
      Entry("sound", "fine"),
      Entry("longer than declared", test::LogText(50000, 1)),
      Entry("not deflate data", "x"),
      Entry("runs past the end", test::LogText(3000, 2), 0),
  };
  specs[1].uncompressedSize = 40000;
  specs[2].data = std::string(64, '\xff');
  specs[3].compressedSize = 900000;  // more than the archive holds
  Loaded a(specs);
  DecodeAhead ahead(a.Source(), a.entries, 2);
  auto sound = ahead.Take(0);
  ASSERT_TRUE(sound);
  EXPECT_EQ(Bytes(*sound), "fine");

  auto longer = ahead.Take(1);
  ASSERT_TRUE(longer);
  EXPECT_TRUE(Raised<EBiggerThanUncompressed>(*longer));
  EXPECT_LE(longer->size, 40000u);  // whole blocks only, as the output step accepts them
  EXPECT_EQ(Bytes(*longer), specs[1].content.substr(0, longer->size));

  auto broken = ahead.Take(2);
  ASSERT_TRUE(broken);
  EXPECT_TRUE(Raised<EZipException>(*broken));

  auto past = ahead.Take(3);
  ASSERT_TRUE(past);
  EXPECT_TRUE(Raised<EFatalUnzipError>(*past));
}

TEST(DecodeAheadTest, LeavesToThePassWhatDoesNotSuit) {
  std::vector<ArchiveEntrySpec> specs = {
      Entry("big", test::LogText(DecodeAhead::kMaxEntrySize + 1, 3)),
      Entry("encrypted", "secret"),
      Entry("unknown method", "??", 99),
      Entry("folder/", ""),
      Entry("small", "ok"),
      Entry("also small", "ok too"),
  };
  specs[1].flags = 1;
  Loaded a(specs);
  std::vector<const ZipHeaderInfo*> entries = a.entries;
  entries[5] = nullptr;  // the pass handles this one itself
  DecodeAhead ahead(a.Source(), entries, 2);
  for (size_t i = 0; i < 4; ++i) EXPECT_FALSE(ahead.Take(i)) << i;
  EXPECT_TRUE(ahead.Take(4));
  EXPECT_FALSE(ahead.Take(5));
  EXPECT_FALSE(ahead.Take(4));  // already taken

  DecodeAhead missing(nullptr, a.entries, 2);  // no archive to read: the pass does it all
  EXPECT_FALSE(missing.Take(4));
}

// The whole pass with entries decoded ahead: every outcome is the one the pass reaches alone.
TEST(DecodeAheadTest, ExtractionOfManySmallEntriesIncludingDamagedOnes) {
  std::vector<ArchiveEntrySpec> specs;
  for (int i = 0; i < 80; ++i) specs.push_back(Entry("f" + std::to_string(i) + ".txt", test::LogText(900 + 37 * i, i)));
  specs[10].crc = 0x12345678;           // bad CRC: fails, no file
  specs[20].uncompressedSize = 500;     // more data than declared: fails, no file
  specs[30].data = std::string(40, 'z');  // not deflate data: the pass ends with an error
  std::vector<ArchiveEntrySpec> sound(specs.begin(), specs.begin() + 30);
  test::TempDir dir;
  const std::string archive = dir.Join("many.zip");
  test::WriteFile(archive, test::MakeArchive(specs));

  ZipReader reader;
  reader.SetZipName(archive);
  reader.SetDestDir(dir.Join("out"));
  reader.SetDoAll(true);
  std::vector<int> bad;
  reader.OnBadCRC = [&](uint32_t, int index, uint32_t) { bad.push_back(index); };
  EXPECT_THROW(reader.VerifyArchive(), EZipException);
  EXPECT_THROW(reader.ExtractAll(), EZipException);
  EXPECT_EQ(bad, (std::vector<int>{10, 20, 10, 20}));  // once in the test, once on extraction
  // The pass that ended with an error left nothing behind, not even the folder it made.
  EXPECT_FALSE(std::filesystem::exists(dir.Join("out")));

  // Without the undecodable entry the sound ones are extracted and the failed ones are not.
  test::WriteFile(archive, test::MakeArchive(sound));
  bad.clear();
  EXPECT_EQ(reader.ExtractAll(), 28);
  EXPECT_EQ(bad, (std::vector<int>{10, 20}));
  for (int i = 0; i < 30; ++i) {
    const std::string out = dir.Join("out/f" + std::to_string(i) + ".txt");
    if (i == 10 || i == 20) {
      EXPECT_FALSE(std::filesystem::exists(out)) << i;
    } else {
      EXPECT_EQ(test::ReadFile(out), specs[static_cast<size_t>(i)].content) << i;
    }
  }
}

// Files the workers write: their bytes, time and read-only attribute as the pass would set them,
// and nothing left of those the pass does not keep (an existing file kept, an entry superseded).
TEST(DecodeAheadTest, StagedFilesWrittenByWorkersAreThoseThePassWouldWrite) {
  std::vector<ArchiveEntrySpec> specs;
  for (int i = 0; i < 40; ++i) specs.push_back(Entry("f" + std::to_string(i) + ".txt", test::LogText(700 + 53 * i, i)));
  specs[5].externalAttributes = 0x21;  // read-only
  specs[6].dosDateTime = 0x3C2A5B1E;   // 2010-01-10 11:24:60
  specs.push_back(Entry("f7.txt", "the later f7"));
  test::TempDir dir;
  const std::string archive = dir.Join("a.zip");
  test::WriteFile(archive, test::MakeArchive(specs));
  const std::string out = dir.Join("out");
  std::filesystem::create_directory(out);
  test::WriteFile(out + "/f9.txt", "kept");

  ZipReader reader;
  reader.SetZipName(archive);
  reader.SetDestDir(out);
  reader.SetDoAll(true);
  reader.SetOverwriteMode(UZOverwriteMode::Never);
  EXPECT_EQ(reader.ExtractAll(), 40);

  size_t names = 0;
  for (const auto& file : std::filesystem::directory_iterator(out)) {
    ++names;
    EXPECT_TRUE(file.is_regular_file()) << file.path();
  }
  EXPECT_EQ(names, 40u);
  for (int i = 0; i < 40; ++i) {
    const std::string path = out + "/f" + std::to_string(i) + ".txt";
    const std::string expected = i == 9 ? "kept" : i == 7 ? "the later f7" : specs[static_cast<size_t>(i)].content;
    EXPECT_EQ(test::ReadFile(path), expected) << i;
  }
  const auto perms = std::filesystem::status(out + "/f5.txt").permissions();
  EXPECT_EQ(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none);
  int64_t seconds = 0;
  ASSERT_TRUE(UnixFromDosDateTime(NormalizeDosDateTime(specs[6].dosDateTime), seconds));
  EXPECT_EQ(platform::GetFileInfo(out + "/f6.txt")->lastWriteTime, seconds);
}

}  // namespace
}  // namespace kvelv
