// The archive writer's output, field by field, and what it leaves out.
#include "zip/ZipWriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <random>

#include "platform/FileSystem.h"
#include "tests/support/ZipTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipLayout.h"
#include "zip/ZipExceptions.h"
#include "tests/support/TestData.h"

namespace kvelv {
namespace {

using test::CentralHeaderView;
using test::LocalHeaderView;

uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

class ZipWriterTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::string& content) {
    const std::string path = dir_.Join(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    test::WriteFile(path, content);
    return path;
  }
  // Packs `items` into dir/out.zip with the settings `setup` applies.
  int Pack(const std::vector<std::string>& items, const std::function<void(ZipWriter&)>& setup = {}) {
    ZipWriter writer;
    writer.SetZipName(Archive());
    if (setup) setup(writer);
    writer.SetFilesList(items);
    return writer.PackFiles();
  }
  std::string Archive() const { return dir_.Join("out.zip"); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& c : test::ReadCentralViews(Archive())) names.push_back(c.name);
    return names;
  }
  std::string EntryData(const CentralHeaderView& c) const {
    LocalHeaderView local = test::ReadLocalView(Archive(), c.localOffset);
    return test::ReadFileRange(Archive(), local.DataStart(), c.compressedSize);
  }

  test::TempDir dir_;
};

TEST_F(ZipWriterTest, EmptyListGivesTheBareEndRecord) {
  ZipWriter writer;
  writer.SetZipName(Archive());
  int completed = -1;
  writer.OnZipComplete = [&](int count) { completed = count; };
  EXPECT_EQ(writer.PackFiles(), 0);
  EXPECT_EQ(completed, 0);
  EXPECT_EQ(test::ReadFile(Archive()), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(writer.EntryCount(), 0);
}

TEST_F(ZipWriterTest, ListWithoutSurvivorsStillCreatesTheArchive) {
  EXPECT_EQ(Pack({"", dir_.Join("missing.txt"), dir_.Path()}), 0);
  EXPECT_EQ(std::filesystem::file_size(Archive()), 22u);
}

TEST_F(ZipWriterTest, BlankZipNameWritesNothing) {
  ZipWriter writer;
  writer.SetZipName("  ");
  writer.SetFilesList({Make("a.txt", "a")});
  EXPECT_EQ(writer.PackFiles(), 0);
  EXPECT_TRUE(writer.FilesList().empty());
}

TEST_F(ZipWriterTest, LayoutOfTwoEntriesFieldByField) {
  const std::string text = "hello hello hello hello, the same words again and again\n";
  const std::string binary = test::RandomBytes(5000, 1);
  const std::string a = Make("a.txt", text);
  const std::string b = Make("b.bin", binary);
  const int64_t mtime = 1623764730;  // 2021-06-15, some time of day in any zone
  ASSERT_TRUE(platform::SetLastWriteTime(a, mtime));
  ASSERT_TRUE(platform::SetLastWriteTime(b, mtime + 3601));

  ASSERT_EQ(Pack({a, b}), 2);
  const auto central = test::ReadCentralViews(Archive());
  ASSERT_EQ(central.size(), 2u);
  const std::string contents[] = {text, binary};
  const char* names[] = {"a.txt", "b.bin"};
  const int64_t times[] = {mtime, mtime + 3601};
  uint64_t expectedOffset = 0;
  for (size_t i = 0; i < 2; ++i) {
    const CentralHeaderView& c = central[i];
    const LocalHeaderView l = test::ReadLocalView(Archive(), c.localOffset);
    SCOPED_TRACE(names[i]);
    const uint32_t dos = test::ExpectedDosDateTime(times[i]);
    // Local header.
    EXPECT_EQ(l.position, expectedOffset);
    EXPECT_EQ(l.versionNeeded, 20);
    EXPECT_EQ(l.flags, 0);
    EXPECT_EQ(l.method, 8);
    EXPECT_EQ(l.time, dos & 0xFFFF);
    EXPECT_EQ(l.date, dos >> 16);
    EXPECT_EQ(l.crc, Crc(contents[i]));
    EXPECT_EQ(l.compressedSize, c.compressedSize);
    EXPECT_EQ(l.uncompressedSize, contents[i].size());
    EXPECT_EQ(l.name, names[i]);
    EXPECT_EQ(l.extraLength, 0);
    EXPECT_EQ(test::RawInflate(EntryData(c)), contents[i]);
    // Central header.
    EXPECT_EQ(c.versionMadeBy, 0x002D);
    EXPECT_EQ(c.versionNeeded, 20);
    EXPECT_EQ(c.flags, 0);
    EXPECT_EQ(c.method, 8);
    EXPECT_EQ(c.time, l.time);
    EXPECT_EQ(c.date, l.date);
    EXPECT_EQ(c.crc, l.crc);
    EXPECT_EQ(c.uncompressedSize, contents[i].size());
    EXPECT_EQ(c.name, names[i]);
    EXPECT_EQ(c.extraLength, 0);
    EXPECT_EQ(c.commentLength, 0);
    EXPECT_EQ(c.diskNumberStart, 0);
    EXPECT_EQ(c.internalAttributes, 0);
    EXPECT_EQ(c.externalAttributes, 0x20u);
    expectedOffset = l.DataStart() + c.compressedSize;
  }
  // Incompressible data is deflated all the same.
  EXPECT_GT(central[1].compressedSize, binary.size());
  const auto end = test::ReadEndRecordView(Archive());
  EXPECT_EQ(end.centralOffset, expectedOffset);  // right after the last entry's data
  EXPECT_EQ(end.centralSize, end.position - expectedOffset);
  EXPECT_EQ(end.thisDisk, 0);
  EXPECT_EQ(end.centralDisk, 0);
  EXPECT_EQ(end.entriesThisDisk, 2);
  EXPECT_EQ(end.totalEntries, 2);
  EXPECT_EQ(end.commentLength, 0);
  EXPECT_FALSE(end.hasZip64);
  EXPECT_EQ(end.position + 22, std::filesystem::file_size(Archive()));
}

TEST_F(ZipWriterTest, FlagBitsAndMethodFollowThePackLevel) {
  const std::string content(3000, 'x');
  const std::string path = Make("x.txt", content);
  const std::pair<int, uint16_t> cases[] = {{0, 0x4}, {1, 0x4}, {2, 0x4}, {3, 0}, {6, 0}, {7, 0}, {8, 0x2}, {9, 0x2}};
  for (const auto& [level, flags] : cases) {
    SCOPED_TRACE(level);
    ASSERT_EQ(Pack({path}, [level = level](ZipWriter& w) { w.SetPackLevel(level); }), 1);
    const auto c = test::ReadCentralViews(Archive()).at(0);
    EXPECT_EQ(c.flags, flags);
    EXPECT_EQ(test::ReadLocalView(Archive(), 0).flags, flags);
    EXPECT_EQ(c.method, level == 0 ? 0 : 8);
    EXPECT_EQ(c.crc, Crc(content));
    if (level == 0) {
      EXPECT_EQ(c.compressedSize, content.size());
      EXPECT_EQ(EntryData(c), content);
    } else {
      EXPECT_EQ(test::RawInflate(EntryData(c)), content);
    }
    std::filesystem::remove(Archive());
  }
}

TEST_F(ZipWriterTest, NoCompressListStoresWithTheLevelsFlags) {
  const std::string photo = Make("photo.JPG", test::RandomBytes(1000, 2));
  const std::string text = Make("t.txt", std::string(1000, 't'));
  ASSERT_EQ(Pack({photo, text}, [](ZipWriter& w) {
              w.SetPackLevel(9);
              w.SetNoCompressList({"*.jpg"});
            }),
            2);
  const auto central = test::ReadCentralViews(Archive());
  EXPECT_EQ(central[0].method, 0);
  EXPECT_EQ(central[0].flags, 0x2);
  EXPECT_EQ(EntryData(central[0]), test::ReadFile(photo));
  EXPECT_EQ(central[1].method, 8);
}

TEST_F(ZipWriterTest, ZeroLengthFileIsAnEmptyDeflateStream) {
  ASSERT_EQ(Pack({Make("empty.txt", "")}), 1);
  const auto c = test::ReadCentralViews(Archive()).at(0);
  EXPECT_EQ(c.method, 8);
  EXPECT_EQ(c.compressedSize, 2u);
  EXPECT_EQ(c.uncompressedSize, 0u);
  EXPECT_EQ(c.crc, 0u);
  EXPECT_EQ(EntryData(c), std::string("\x03\x00", 2));
}

TEST_F(ZipWriterTest, AttributesOfReadOnlyAndHiddenFiles) {
  const std::string ro = Make("ro.txt", "r");
  const std::string hidden = Make(".hid", "h");
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  ASSERT_EQ(Pack({ro, hidden}, [](ZipWriter& w) { w.SetIncludeHiddenFiles(true); }), 2);
  const auto central = test::ReadCentralViews(Archive());
  EXPECT_EQ(central[0].externalAttributes, 0x21u);
  EXPECT_EQ(central[1].externalAttributes, 0x22u);
}

TEST_F(ZipWriterTest, FileDatedBefore1980GetsAllDateBitsSet) {
  const std::string old = Make("old.txt", "o");
  ASSERT_TRUE(platform::SetLastWriteTime(old, 86400 * 365));  // 1971
  ASSERT_EQ(Pack({old}), 1);
  const auto c = test::ReadCentralViews(Archive()).at(0);
  EXPECT_EQ(c.time, 0xFFFF);
  EXPECT_EQ(c.date, 0xFFFF);
}

TEST_F(ZipWriterTest, NationalNamesTakeTheOemOrTheUtf8Road) {
  const std::string brod = Make("brød.txt", "b");
  const std::string euro = Make("€.txt", "e");
  ASSERT_EQ(Pack({brod, euro}), 2);
  const auto central = test::ReadCentralViews(Archive());
  // "ø" is OEM byte 0x9B, which read as windows-1252 is U+203A, stored in UTF-8.
  EXPECT_EQ(central[0].name, "\x62\x72\xE2\x80\xBA\x64\x2E\x74\x78\x74");
  EXPECT_EQ(central[0].flags, 0);
  EXPECT_EQ(central[0].versionMadeBy, 0x002D);
  EXPECT_EQ(test::ReadLocalView(Archive(), central[0].localOffset).name, central[0].name);
  EXPECT_EQ(central[1].name, "\xE2\x82\xAC\x2E\x74\x78\x74");
  EXPECT_EQ(central[1].flags, 0x0800);
  EXPECT_EQ(central[1].versionMadeBy, 0x0B2D);
  EXPECT_EQ(test::ReadLocalView(Archive(), central[1].localOffset).flags, 0x0800);

  ZipReader reader;
  reader.SetZipName(Archive());
  reader.ReadDirectory();
  ASSERT_EQ(reader.EntryCount(), 2);
  EXPECT_EQ(reader.EntryFileName(0), "brød.txt");
  EXPECT_EQ(reader.EntryFileName(1), "€.txt");
}

TEST_F(ZipWriterTest, SilentOmissions) {
  const std::string first = Make("one/report.txt", "first");
  const std::string second = Make("two/REPORT.TXT", "second");
  const std::string upper = Make("Æ.txt", "upper");
  const std::string lower = Make("æ.txt", "lower");
  const std::string hidden = Make(".secret", "s");
  const std::string locked = Make("locked.txt", "l");
  const std::string fifo = dir_.Join("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  test::ChildLock lock(locked, true);

  std::vector<std::string> skipped;
  int count = Pack({first, "", dir_.Join("missing.txt"), hidden, fifo, locked, dir_.Join("one"), second, upper, lower},
                   [&](ZipWriter& w) {
                     w.OnSkippingFile = [&](SkipReason reason, bool&, int, const std::string& name) {
                       skipped.push_back(std::to_string(static_cast<int>(reason)) + ":" + name);
                     };
                   });
  EXPECT_EQ(count, 3);
  ZipReader reader;  // names with national letters come back through the reader's decoding
  reader.SetZipName(Archive());
  reader.ReadDirectory();
  ASSERT_EQ(reader.EntryCount(), 3);
  EXPECT_EQ(reader.EntryFileName(0), "report.txt");
  EXPECT_EQ(reader.EntryFileName(1), "Æ.txt");
  EXPECT_EQ(reader.EntryFileName(2), "æ.txt");
  const auto central = test::ReadCentralViews(Archive());
  EXPECT_EQ(test::RawInflate(EntryData(central[0])), "first");
  EXPECT_EQ(skipped, (std::vector<std::string>{"2:" + locked, "1:" + second}));  // open error, duplicate
}

TEST_F(ZipWriterTest, SystemFilesThatCanBeFoundAreStillNotRead) {
  // A fifo would block the pass forever; seen or not, it never becomes an entry.
  const std::string fifo = dir_.Join("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> missing;
  EXPECT_EQ(Pack({fifo, dir_.Join("*")}, [&](ZipWriter& w) {
              w.SetIncludeSysFiles(true);
              w.OnNoSuchFile = [&](const std::string& item) { missing.push_back(item); };
            }),
            0);
  EXPECT_EQ(missing, (std::vector<std::string>{fifo, fifo}));
}

TEST_F(ZipWriterTest, FolderEntriesNeedTheTrailingSeparator) {
  std::filesystem::create_directories(dir_.Join("docs"));
  ASSERT_EQ(Pack({dir_.Join("docs") + "/", dir_.Join("docs")}), 1);
  const auto c = test::ReadCentralViews(Archive()).at(0);
  EXPECT_EQ(c.name, "");
  EXPECT_EQ(c.method, 0);
  EXPECT_EQ(c.compressedSize, 0u);
  EXPECT_EQ(c.uncompressedSize, 0u);
  EXPECT_EQ(c.crc, 0u);
  EXPECT_EQ(c.externalAttributes & 0x10, 0x10u);
  EXPECT_EQ(test::ReadLocalView(Archive(), 0).DataStart(), test::ReadEndRecordView(Archive()).centralOffset);
}

TEST_F(ZipWriterTest, StorePathsKeepsFoldersRelativeToRootDir) {
  const std::string nested = Make("tree/sub/n.txt", "n");
  std::filesystem::create_directories(dir_.Join("tree/empty"));
  ASSERT_EQ(Pack({nested, dir_.Join("tree/empty") + "/"}, [&](ZipWriter& w) {
              w.SetStorePaths(true);
              w.SetRelativePaths(true);
              w.SetRootDir(dir_.Join("tree"));
            }),
            2);
  EXPECT_EQ(Names(), (std::vector<std::string>{"sub/n.txt", "empty/"}));
  std::filesystem::remove(Archive());
  ASSERT_EQ(Pack({nested}, [&](ZipWriter& w) { w.SetStorePaths(true); }), 1);
  // Never an absolute name: the leading separator goes.
  EXPECT_EQ(Names().at(0), dir_.Join("tree/sub/n.txt").substr(1));
}

TEST_F(ZipWriterTest, WildcardItemsAndExcludeList) {
  Make("w/a.txt", "a");
  Make("w/b.txt", "b");
  Make("w/d.log", "d");
  Make("w/sub/c.txt", "c");
  auto sortedNames = [&] {
    auto names = Names();
    std::sort(names.begin(), names.end());
    return names;
  };
  ASSERT_EQ(Pack({dir_.Join("w/*.txt")}), 2);
  EXPECT_EQ(sortedNames(), (std::vector<std::string>{"a.txt", "b.txt"}));
  std::filesystem::remove(Archive());
  ASSERT_EQ(Pack({">" + dir_.Join("w/*.txt")}), 3);
  EXPECT_EQ(sortedNames(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  std::filesystem::remove(Archive());
  ASSERT_EQ(Pack({">" + dir_.Join("w/<a-c>*")}), 3);
  std::filesystem::remove(Archive());
  ASSERT_EQ(Pack({">" + dir_.Join("w/*")}, [](ZipWriter& w) { w.SetExcludeList({"b.*", "*/sub/*"}); }), 2);
  EXPECT_EQ(sortedNames(), (std::vector<std::string>{"a.txt", "d.log"}));
}

TEST_F(ZipWriterTest, ArchiveInsideTheSearchedFolderIsNotPackedIntoItself) {
  Make("a.txt", "a");
  ASSERT_EQ(Pack({dir_.Join("*")}), 1);
  // Second pass rewrites the archive, which now exists in the searched folder.
  ASSERT_EQ(Pack({dir_.Join("*")}, [](ZipWriter& w) { w.SetZipAction(ZipAction::zaReplace); }), 1);
  EXPECT_EQ(Names(), std::vector<std::string>{"a.txt"});
}

TEST_F(ZipWriterTest, WriterKnowsTheDirectoryItWrote) {
  ZipWriter writer;
  writer.SetZipName(Archive());
  writer.SetFilesList({Make("x.txt", "x"), Make("y.txt", "y")});
  ASSERT_EQ(writer.PackFiles(), 2);
  EXPECT_TRUE(writer.FilesList().empty());
  EXPECT_EQ(writer.EntryCount(), 2);
  EXPECT_EQ(writer.EntryFileName(1), "y.txt");
  EXPECT_EQ(writer.EndRecord().TotalEntries(), 2u);
  EXPECT_FALSE(writer.Busy());
}

TEST_F(ZipWriterTest, HooksCanSkipStopAndVetoDisposal) {
  const std::string a = Make("a.txt", "a");
  const std::string b = Make("b.txt", "b");
  ASSERT_EQ(Pack({a, b}, [&](ZipWriter& w) {
              w.OnStartZip = [&](const std::string& path, bool& skip) { skip = path == a; };
              w.SetDispose(true);
              w.OnDisposeFile = [&](const std::string&, bool& veto) { veto = false; };
            }),
            1);
  EXPECT_TRUE(std::filesystem::exists(a));   // skipped, so not disposed
  EXPECT_FALSE(std::filesystem::exists(b));  // packed and disposed
  EXPECT_EQ(Names(), std::vector<std::string>{"b.txt"});

  std::filesystem::remove(Archive());
  try {
    Pack({a}, [](ZipWriter& w) { w.OnStartZipInfo = [](int, int64_t, bool& stop) { stop = true; }; });
    FAIL() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Zip operation");
  }
  EXPECT_FALSE(std::filesystem::exists(Archive()));
}

TEST_F(ZipWriterTest, CancelWhileWritingLeavesNoArchive) {
  const std::string big = Make("big.bin", test::RandomBytes(300000, 4));
  ZipWriter writer;
  writer.SetZipName(Archive());
  writer.SetFilesList({big});
  writer.OnProcessMessages = [&] { writer.SetCancel(true); };
  try {
    writer.PackFiles();
    FAIL() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_FALSE(std::filesystem::exists(Archive()));
  EXPECT_TRUE(writer.FilesList().empty());
}

TEST_F(ZipWriterTest, ReadErrorOnASourceFailsThePassAndNamesTheFile) {
  // Reading /proc/self/mem at offset 0 fails with an I/O error: a source that opens but cannot
  // be read.
  if (!platform::FileExists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem here";
  const std::string a = Make("a.txt", "a");
  try {
    Pack({a, "/proc/self/mem"});
    FAIL() << "no exception";
  } catch (const EZipException& e) {
    EXPECT_NE(std::string(e.what()).find("\"/proc/self/mem\""), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(Archive()));
}

TEST_F(ZipWriterTest, ArchiveThatCannotBeCreated) {
  ZipWriter writer;
  writer.SetZipName(dir_.Join("no/such/folder/out.zip"));
  writer.SetFilesList({Make("a.txt", "a")});
  try {
    writer.PackFiles();
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + dir_.Join("no/such/folder/out.zip") + "\". ", 0), 0u)
        << e.what();
  }
  // A symbolic link at the archive's name is not followed.
  const std::string target = Make("target.txt", "keep");
  std::filesystem::create_symlink("target-missing", dir_.Join("link.zip"));
  writer.SetZipName(dir_.Join("link.zip"));
  writer.SetFilesList({target});
  EXPECT_THROW(writer.PackFiles(), EFCreateError);
  EXPECT_FALSE(std::filesystem::exists(dir_.Join("target-missing")));
}

// A keystream of its own for the test: each byte XORed with a value of its position.
class PositionXor final : public ArchiveTransform {
 public:
  bool Apply(int64_t position, const uint8_t* in, uint8_t* out, size_t count) const override {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(in[i] ^ ((position + static_cast<int64_t>(i)) * 131 + 7));
    return true;
  }
};

// Every byte passes the transform at its place, the headers rewritten after their data and the
// large writes past the buffer too: undone, the file is exactly the archive written without it.
TEST_F(ZipWriterTest, ArchiveTransformCoversEveryByteAndReadsBack) {
  const std::vector<std::string> items = {Make("big.bin", test::RandomBytes(1 << 20, 3)), Make("small.txt", "small"),
                                          Make("kept.raw", std::string(300000, 'k'))};
  auto setup = [](ZipWriter& w) { w.SetNoCompressList({"*.raw"}); };
  ASSERT_EQ(Pack(items, setup), 3);
  const std::string plain = test::ReadFile(Archive());
  std::filesystem::remove(Archive());
  const auto transform = std::make_shared<PositionXor>();
  ASSERT_EQ(Pack(items, [&](ZipWriter& w) {
              setup(w);
              w.SetArchiveTransform(transform);
            }),
            3);
  std::string onDisk = test::ReadFile(Archive());
  ASSERT_EQ(onDisk.size(), plain.size());
  EXPECT_NE(onDisk.compare(0, 4, "PK\x03\x04"), 0);
  auto* bytes = reinterpret_cast<uint8_t*>(onDisk.data());
  ASSERT_TRUE(transform->Apply(0, bytes, bytes, onDisk.size()));
  EXPECT_TRUE(onDisk == plain);

  std::error_code ec;
  const auto source = FileArchiveSource::Open(Archive(), ec, transform);
  ASSERT_NE(source, nullptr);
  std::string middle(1000, '\0');
  ASSERT_EQ(source->ReadAt(12345, middle.data(), 1000), 1000);
  EXPECT_EQ(middle, plain.substr(12345, 1000));
  // An archive that exists is never rewritten under a transform.
  EXPECT_THROW(Pack(items, [&](ZipWriter& w) { w.SetArchiveTransform(transform); }), EFCreateError);
  EXPECT_EQ(test::ReadFile(Archive()).size(), plain.size());
}

// Reads what the writer calls final as soon as it says so, on the writer's thread.
class RecordingFollower final : public ArchiveFollower {
 public:
  void Begin(std::shared_ptr<const ArchiveSource> written) override { written_ = std::move(written); }
  void Final(int64_t end) override {
    ASSERT_NE(written_, nullptr);
    ASSERT_GE(end, static_cast<int64_t>(seen.size()));
    std::string more(static_cast<size_t>(end) - seen.size(), '\0');
    ASSERT_EQ(written_->ReadAt(static_cast<int64_t>(seen.size()), more.data(), static_cast<int64_t>(more.size())),
              static_cast<int64_t>(more.size()));
    seen += more;
  }
  void Stop() override { written_.reset(); }
  std::string seen;

 private:
  std::shared_ptr<const ArchiveSource> written_;
};

// What the writer calls final never changes afterwards: every entry but the last and its header
// are there as the finished archive has them, large ones deflated on several threads and small
// ones ahead of their turn, read back through the transform.
TEST_F(ZipWriterTest, FollowerReadsOnlyBytesThatStayAsTheyAre) {
  std::vector<std::string> items;
  for (int i = 0; i < 40; ++i) items.push_back(Make("s" + std::to_string(i) + ".txt", std::string(5000 + i, 'a' + i % 26)));
  items.insert(items.begin() + 10, Make("big.bin", test::RandomBytes(5 << 20, 4)));
  items.push_back(Make("last.raw", test::RandomBytes(400000, 5)));
  const auto follower = std::make_shared<RecordingFollower>();
  const auto transform = std::make_shared<PositionXor>();
  ASSERT_EQ(Pack(items, [&](ZipWriter& w) {
              w.SetNoCompressList({"*.raw"});
              w.SetArchiveTransform(transform);
              w.SetArchiveFollower(follower);
            }),
            42);
  std::string archive = test::ReadFile(Archive());
  auto* bytes = reinterpret_cast<uint8_t*>(archive.data());
  ASSERT_TRUE(transform->Apply(0, bytes, bytes, archive.size()));
  EXPECT_GT(follower->seen.size(), size_t{5} << 20);
  EXPECT_TRUE(archive.compare(0, follower->seen.size(), follower->seen) == 0);
}

}  // namespace
}  // namespace kvelv
