// The reader against archives made by other programs, by our own records, and against damaged
// and hostile files.
#include "zip/ZipReader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/support/RecordBytes.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/common/BufferedFileStream.h"
#include "zip/common/Crc32.h"
#include "zip/common/LittleEndian.h"
#include "zip/records/EndRecord.h"
#include "zip/records/ZipHeaderInfo.h"

namespace kvelv {
namespace {

// Builds test archives with python3's zipfile; argv: mode, output path, mode arguments.
const char kMaker[] = R"PY(
import sys, zipfile
mode, out = sys.argv[1], sys.argv[2]
files = [("a.txt", b"hello " * 100), ("docs/b.txt", b"xyz"), ("empty.txt", b"")]
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
if mode == "plain":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("docs/", b"")
        for n, d in files: z.writestr(n, d)
elif mode == "stored":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        for n, d in files: z.writestr(n, d)
elif mode == "stream":
    with open(out, "wb") as f:
        with zipfile.ZipFile(Unseekable(f), "w", zipfile.ZIP_DEFLATED) as z:
            for n, d in files:
                with z.open(n, "w") as w: w.write(d)
elif mode == "zip64":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, allowZip64=True) as z:
        for n, d in files:
            with z.open(n, "w", force_zip64=True) as w: w.write(d)
elif mode == "many":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        for i in range(int(sys.argv[3])): z.writestr("f%d" % i, b"")
elif mode == "comment":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for n, d in files: z.writestr(n, d)
        z.comment = bytes.fromhex(sys.argv[3])
)PY";

void Python(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/env", "python3", "-c", kMaker};
  argv.insert(argv.end(), args.begin(), args.end());
  const test::ProcessResult r = test::RunProcess("/usr/bin/env", argv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

void Tool(const std::vector<std::string>& argv, const std::string& folder) {
  const test::ProcessResult r = test::RunProcess("/usr/bin/env", argv, folder);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
}

using test::record_bytes::Le16;
using test::record_bytes::Le32;
using test::record_bytes::Le64;

std::string EndRecord(uint16_t thisDisk, uint16_t cdDisk, uint16_t count, uint32_t size,
                      uint32_t offset, uint16_t commentLength = 0) {
  return Le32(kEndCentralSignature) + Le16(thisDisk) + Le16(cdDisk) + Le16(count) + Le16(count) +
         Le32(size) + Le32(offset) + Le16(commentLength);
}

// Stored entries written with our own records; names use "\" between folders.
void WriteOwnArchive(const std::string& path, const std::vector<std::string>& names) {
  BufferedFileStream out;
  std::error_code ec;
  ASSERT_TRUE(out.Open(path, platform::OpenMode::CreateAlways, ec)) << ec.message();
  std::vector<ZipHeaderInfo> entries;
  for (const std::string& name : names) {
    ZipHeaderInfo e;
    const size_t cut = name.find_last_of('/');
    if (cut != std::string::npos) e.SetDirectory(name.substr(0, cut));
    e.SetFileName(cut == std::string::npos ? name : name.substr(cut + 1));
    const std::string data = "data of " + name;
    e.SetCompressionMethod(0);
    e.SetCrc32(ComputeCrc32(data));
    e.SetCompressedSize(data.size());
    e.SetUncompressedSize(data.size());
    e.SetDateTime(0x58A16C2F);
    e.WriteLocalHeader(out);
    out.WriteAll(data.data(), static_cast<int64_t>(data.size()));
    entries.push_back(e);
  }
  kvelv::EndRecord end;
  const int64_t start = out.Position();
  end.SetCentralOffset(static_cast<uint64_t>(start));
  for (ZipHeaderInfo& e : entries) {
    e.WriteCentralHeader(out, nullptr);
    end.SetEntriesThisDisk(end.EntriesThisDisk() + 1);
    end.SetTotalEntries(end.TotalEntries() + 1);
  }
  end.SetCentralSize(static_cast<uint64_t>(out.Position() - start));
  end.WriteEndRecords(out);
  ASSERT_TRUE(out.Close());
}

std::vector<std::string> Names(const ZipReader& r) {
  std::vector<std::string> names;
  for (int i = 0; i < r.EntryCount(); ++i) names.push_back(r.EntryDirectory(i) + r.EntryFileName(i));
  return names;
}

class ZipReaderTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Join(name); }
  void Load(ZipReader& r, const std::string& path) {
    r.SetZipName(path);
    r.ReadDirectory();
  }
  test::TempDir dir_;
};

// --- Archives of other programs -------------------------------------------------------------------

TEST_F(ZipReaderTest, InfoZipArchiveWithFolderAndReadOnlyFile) {
  const std::string src = Path("src");
  ASSERT_TRUE(platform::CreateFolders(src + "/sub"));
  test::WriteFile(src + "/a.txt", std::string(500, 'a'));
  test::WriteFile(src + "/sub/b.txt", "bee");
  test::WriteFile(src + "/ro.txt", "read only");
  ASSERT_EQ(chmod((src + "/ro.txt").c_str(), 0444), 0);
  Tool({"/usr/bin/env", "zip", "-q", "-r", "-X", Path("i.zip"), "a.txt", "sub", "ro.txt"}, src);

  ZipReader r;
  Load(r, Path("i.zip"));
  ASSERT_EQ(r.EntryCount(), 4);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt", "ro.txt"}));
  EXPECT_EQ(r.EntryFileName(1), "");  // a folder entry has no file-name part
  EXPECT_EQ(r.Entry(0).UncompressedSize(), 500u);
  EXPECT_EQ(r.Entry(0).CompressionMethod(), 8);
  EXPECT_EQ(r.Entry(2).UncompressedSize(), 3u);
  EXPECT_EQ(r.Entry(1).ExternalAttributes() & 0x10, 0x10u);
  EXPECT_EQ(r.Entry(3).ExternalAttributes() & 0x01, 0x01u);
  EXPECT_EQ(r.Entry(0).ExternalAttributes() & 0x01, 0x00u);
  EXPECT_EQ(r.Entry(0).Crc32(), ComputeCrc32(std::string(500, 'a')));
  EXPECT_LT(r.Entry(0).RelativeOffset(), r.Entry(1).RelativeOffset());
}

TEST_F(ZipReaderTest, InfoZipUtf8NameFromUnixHost) {
  const std::string src = Path("src");
  ASSERT_TRUE(platform::CreateFolders(src));
  test::WriteFile(src + "/brød.txt", "x");
  Tool({"/usr/bin/env", "zip", "-q", "-X", Path("u.zip"), "brød.txt"}, src);
  ZipReader r;
  Load(r, Path("u.zip"));
  ASSERT_EQ(r.EntryCount(), 1);
  EXPECT_EQ(r.EntryFileName(0), "brød.txt");
}

TEST_F(ZipReaderTest, PythonArchiveWithFolderEntryAndSlashes) {
  Python({"plain", Path("p.zip")});
  ZipReader r;
  Load(r, Path("p.zip"));
  ASSERT_EQ(r.EntryCount(), 4);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"docs/", "a.txt", "docs/b.txt", "empty.txt"}));
  EXPECT_EQ(r.Entry(1).UncompressedSize(), 600u);
  EXPECT_EQ(r.Entry(3).UncompressedSize(), 0u);
  EXPECT_EQ(r.Entry(3).Crc32(), 0u);
  EXPECT_FALSE(r.RebuiltFromLocalHeaders());
}

TEST_F(ZipReaderTest, PythonArchiveWithDataDescriptors) {
  Python({"stream", Path("s.zip")});
  ZipReader r;
  Load(r, Path("s.zip"));
  ASSERT_EQ(r.EntryCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.Entry(i).Flag() & kFlagDataDescriptor, kFlagDataDescriptor);
  EXPECT_EQ(r.Entry(0).UncompressedSize(), 600u);  // sizes come from the central directory
  EXPECT_EQ(r.Entry(1).UncompressedSize(), 3u);
  std::string hello;
  for (int i = 0; i < 100; ++i) hello += "hello ";
  EXPECT_EQ(r.Entry(0).Crc32(), ComputeCrc32(hello));
}

TEST_F(ZipReaderTest, PythonArchiveWithForcedZip64) {
  Python({"zip64", Path("z.zip")});
  ZipReader r;
  Load(r, Path("z.zip"));
  ASSERT_EQ(r.EntryCount(), 3);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"a.txt", "docs/b.txt", "empty.txt"}));
  EXPECT_EQ(r.Entry(0).UncompressedSize(), 600u);
  EXPECT_EQ(r.Entry(1).UncompressedSize(), 3u);
}

TEST_F(ZipReaderTest, MoreThan65535EntriesUseTheZip64EndRecords) {
  Python({"many", Path("m.zip"), "65600"});
  ZipReader r;
  Load(r, Path("m.zip"));
  EXPECT_EQ(r.EntryCount(), 65600);
  ASSERT_TRUE(r.EndRecord().Zip64Record().has_value());
  EXPECT_EQ(r.EndRecord().TotalEntriesField(), 0xFFFF);
  EXPECT_EQ(r.EndRecord().TotalEntries(), 65600u);
  EXPECT_EQ(r.EntryFileName(65599), "f65599");
}

TEST_F(ZipReaderTest, SevenZipArchive) {
  const std::string src = Path("src");
  ASSERT_TRUE(platform::CreateFolders(src + "/d"));
  test::WriteFile(src + "/one.txt", std::string(1000, '1'));
  test::WriteFile(src + "/d/two.txt", "2");
  test::WriteFile(src + "/€.txt", "euro");
  Tool({"/usr/bin/env", "7z", "a", "-tzip", Path("7.zip"), "one.txt", "d", "€.txt"}, src);
  ZipReader r;
  r.SetSortMode(ZipSortMode::ByName);
  Load(r, Path("7.zip"));
  ASSERT_EQ(r.EntryCount(), 4);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"d/", "d/two.txt", "one.txt", "€.txt"}));
  EXPECT_EQ(r.Entry(2).UncompressedSize(), 1000u);
  EXPECT_EQ(r.Entry(3).UncompressedSize(), 4u);
  EXPECT_EQ(r.Entry(0).ExternalAttributes() & 0x10, 0x10u);
}

// --- Our own names ------------------------------------------------------------------------------

TEST_F(ZipReaderTest, NationalNamesRoundTripThroughOurEncoding) {
  const std::vector<std::string> names = {"brød.txt", "Årsrapport.txt", "€.txt", "mappe/æøå.doc",
                                          "Ωmega.txt", "plain.txt", "ÉÜìØ.txt"};
  WriteOwnArchive(Path("n.zip"), names);
  ZipReader r;
  Load(r, Path("n.zip"));
  EXPECT_EQ(Names(r), names);
  EXPECT_EQ(r.EntryFileName(3), "æøå.doc");
  EXPECT_EQ(r.EntryDirectory(3), "mappe/");
  EXPECT_EQ(r.EntryDateTime(0), 0x58A16C2Fu);
}

TEST_F(ZipReaderTest, NationalNamesSurviveRecoveryFromLocalHeaders) {
  const std::vector<std::string> names = {"brød.txt", "Årsrapport.txt", "€.txt", "mappe/æøå.doc"};
  WriteOwnArchive(Path("n.zip"), names);
  std::string bytes = test::ReadFile(Path("n.zip"));
  bytes.resize(bytes.find("PK\x01\x02"));
  test::WriteFile(Path("n.zip"), bytes);
  ZipReader r;
  r.SetIncompleteZipMode(IncompleteZipMode::izAssumeBad);
  Load(r, Path("n.zip"));
  EXPECT_TRUE(r.RebuiltFromLocalHeaders());
  EXPECT_EQ(Names(r), names);
}

TEST_F(ZipReaderTest, SortedViewsAndIndexErrors) {
  WriteOwnArchive(Path("v.zip"), {"c.txt", "A.txt", "b.txt"});
  ZipReader r;
  Load(r, Path("v.zip"));
  EXPECT_EQ(Names(r), (std::vector<std::string>{"c.txt", "A.txt", "b.txt"}));  // archive order
  r.SetSortMode(ZipSortMode::ByName);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"A.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(r.EntryCount(), 3);
  try {
    r.EntryFileName(3);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index 3 is out of range");
  }
  EXPECT_THROW(r.EntryFileName(-1), EListError);
  ZipReader none;
  EXPECT_EQ(none.EntryCount(), 0);
  EXPECT_THROW(none.EntryFileName(0), EListError);
}

// --- End record search --------------------------------------------------------------------------

TEST_F(ZipReaderTest, SignatureInTheLastTwentyOneBytesIsNotAnEndRecord) {
  Python({"comment", Path("c.zip"), "414243504b0506"});  // "ABC" + signature near the end
  ZipReader r;
  Load(r, Path("c.zip"));
  EXPECT_EQ(r.EntryCount(), 3);
  EXPECT_EQ(r.EndRecord().CommentLength(), 7);
}

TEST_F(ZipReaderTest, FullEndRecordInsideTheCommentWins) {
  std::string fake = EndRecord(0, 0, 0, 0, 0);
  std::string hex;
  for (unsigned char c : fake) {
    char buf[3];
    snprintf(buf, sizeof buf, "%02x", c);
    hex += buf;
  }
  Python({"comment", Path("c.zip"), hex});
  ZipReader r;
  Load(r, Path("c.zip"));
  EXPECT_EQ(r.EntryCount(), 0);  // the match nearest the end of the file is taken
}

TEST_F(ZipReaderTest, EmptyFileIsAnArchiveWithoutEntries) {
  test::WriteFile(Path("e.zip"), "");
  ZipReader r;
  Load(r, Path("e.zip"));
  EXPECT_EQ(r.EntryCount(), 0);
  EXPECT_EQ(r.ZipName(), Path("e.zip"));
}

TEST_F(ZipReaderTest, ShortFilesAndFilesWithoutEndRecordLoadNothing) {
  for (size_t n = 1; n <= 21; ++n) {
    test::WriteFile(Path("s.zip"), std::string(n, 'P'));
    ZipReader r;
    Load(r, Path("s.zip"));
    EXPECT_EQ(r.EntryCount(), 0) << n;
    EXPECT_EQ(r.ZipName(), Path("s.zip"));
  }
  std::string noise(100000, '\0');
  std::mt19937 rng(7);
  for (char& c : noise) c = static_cast<char>(rng() % 0x50);  // never "P"
  test::WriteFile(Path("n.zip"), noise);
  ZipReader r;
  Load(r, Path("n.zip"));
  EXPECT_EQ(r.EntryCount(), 0);
}

TEST_F(ZipReaderTest, IncompleteZipModes) {
  Python({"stored", Path("t.zip")});
  std::string bytes = test::ReadFile(Path("t.zip"));
  const size_t cd = bytes.find("PK\x01\x02");
  test::WriteFile(Path("t.zip"), bytes.substr(0, cd));  // directory and end record cut off

  ZipReader notZip;
  notZip.SetIncompleteZipMode(IncompleteZipMode::izAssumeNotAZip);
  notZip.SetZipName(Path("t.zip"));
  try {
    notZip.ReadDirectory();
    FAIL();
  } catch (const ENotAZipFile& e) {
    EXPECT_STREQ(e.what(), "Not a valid zip file!");
  }
  EXPECT_EQ(notZip.ZipName(), "");

  ZipReader bad;
  bad.SetIncompleteZipMode(IncompleteZipMode::izAssumeBad);
  Load(bad, Path("t.zip"));
  EXPECT_TRUE(bad.RebuiltFromLocalHeaders());
  EXPECT_EQ(Names(bad), (std::vector<std::string>{"a.txt", "docs/b.txt", "empty.txt"}));
  EXPECT_EQ(bad.Entry(0).UncompressedSize(), 600u);

  ZipReader hooked;
  int calls = 0;
  hooked.OnInCompleteZip = [&](IncompleteZipMode& mode) {
    ++calls;
    mode = IncompleteZipMode::izAssumeBad;
  };
  Load(hooked, Path("t.zip"));
  EXPECT_EQ(hooked.EntryCount(), 3);
  EXPECT_EQ(calls, 1);
}

TEST_F(ZipReaderTest, CorruptCentralDirectoryIsRebuiltFromLocalHeaders) {
  Python({"stored", Path("r.zip")});
  std::string bytes = test::ReadFile(Path("r.zip"));
  const size_t first = bytes.find("PK\x01\x02");
  const size_t second = bytes.find("PK\x01\x02", first + 4);
  bytes[second + 2] = 'X';  // the second central header is unreadable
  test::WriteFile(Path("r.zip"), bytes);
  ZipReader r;
  Load(r, Path("r.zip"));
  EXPECT_TRUE(r.RebuiltFromLocalHeaders());
  ASSERT_EQ(r.EntryCount(), 3);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"a.txt", "docs/b.txt", "empty.txt"}));
  EXPECT_EQ(r.Entry(1).UncompressedSize(), 3u);
  EXPECT_EQ(r.Entry(0).CentralHeaderPosition(), static_cast<int64_t>(first));  // completed by the directory
}

TEST_F(ZipReaderTest, RecoveryFindsEntriesWrittenWithDataDescriptors) {
  Python({"stream", Path("dd.zip")});
  std::string bytes = test::ReadFile(Path("dd.zip"));
  bytes.resize(bytes.find("PK\x01\x02"));  // only local headers, data and descriptors remain
  test::WriteFile(Path("dd.zip"), bytes);
  ZipReader r;
  r.SetIncompleteZipMode(IncompleteZipMode::izAssumeBad);
  Load(r, Path("dd.zip"));
  ASSERT_EQ(r.EntryCount(), 3);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"a.txt", "docs/b.txt", "empty.txt"}));
  EXPECT_EQ(r.Entry(0).UncompressedSize(), 600u);
  EXPECT_EQ(r.Entry(1).UncompressedSize(), 3u);
}

// Rebuilt entries whose sizes and CRC live in a data descriptor that cannot be trusted fail their
// test (never an empty file), and the entries after them are still found.
TEST_F(ZipReaderTest, RebuiltEntryWithoutAUsableDescriptorFailsAndTheNextIsKept) {
  Python({"stream", Path("dd.zip")});
  const std::string base = test::ReadFile(Path("dd.zip"));
  const size_t descriptor = base.find("PK\x07\x08");  // the first entry's (a.txt)
  struct Case {
    const char* what;
    std::string bytes;
    bool sound;
  };
  std::string unsigned_ = base;
  unsigned_.erase(descriptor, 4);
  std::string lying = base;
  lying[descriptor + 8] = static_cast<char>(lying[descriptor + 8] + 1);  // its compressed size
  for (const Case& c : {Case{"sound descriptors", base, true}, Case{"a descriptor without signature", unsigned_, false},
                        Case{"a descriptor with a wrong size", lying, false}}) {
    SCOPED_TRACE(c.what);
    std::string bytes = c.bytes;
    bytes[bytes.find("PK\x01\x02") + 3] = 'X';  // the directory's first header is unreadable
    test::WriteFile(Path("r.zip"), bytes);
    const std::string out = Path(std::string("out-") + (c.sound ? "s" : "d") + std::to_string(bytes.size()));
    ZipReader r;
    r.SetZipName(Path("r.zip"));
    r.SetDestDir(out);
    r.SetDoAll(true);
    r.SetOverwriteMode(UZOverwriteMode::Always);
    EXPECT_EQ(r.VerifyArchive(), c.sound);
    EXPECT_TRUE(r.RebuiltFromLocalHeaders());
    ASSERT_EQ(r.EntryCount(), 3);
    EXPECT_EQ(r.ExtractAll(), c.sound ? 3 : 2);
    EXPECT_EQ(platform::FileExists(out + "/a.txt"), c.sound);
    EXPECT_EQ(test::ReadFile(out + "/b.txt"), "xyz");
  }
}

TEST_F(ZipReaderTest, EntriesFollowPhysicalOrderNotDirectoryOrder) {
  WriteOwnArchive(Path("o.zip"), {"first", "second", "third"});
  std::string bytes = test::ReadFile(Path("o.zip"));
  // Swap the first and the last central header (all three have the same length).
  const size_t a = bytes.find("PK\x01\x02");
  const size_t b = bytes.find("PK\x01\x02", a + 4);
  const size_t c = bytes.find("PK\x01\x02", b + 4);
  const size_t length = b - a;
  const std::string first = bytes.substr(a, length);
  bytes.replace(a, length, bytes.substr(c, length));
  bytes.replace(c, length, first);
  test::WriteFile(Path("o.zip"), bytes);
  ZipReader r;
  Load(r, Path("o.zip"));
  EXPECT_FALSE(r.RebuiltFromLocalHeaders());
  EXPECT_EQ(Names(r), (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(ZipReaderTest, DuplicateOffsetsTriggerRecovery) {
  WriteOwnArchive(Path("d.zip"), {"one.txt", "two.txt"});
  std::string bytes = test::ReadFile(Path("d.zip"));
  const size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
  PutU32(reinterpret_cast<uint8_t*>(bytes.data()) + second + 42, 0);  // same offset as the first
  test::WriteFile(Path("d.zip"), bytes);
  ZipReader r;
  Load(r, Path("d.zip"));
  EXPECT_TRUE(r.RebuiltFromLocalHeaders());
  EXPECT_EQ(r.EntryCount(), 2);
}

// --- Lifecycle ----------------------------------------------------------------------------------

TEST_F(ZipReaderTest, DirectoryIsKeptUntilTheFileChanges) {
  WriteOwnArchive(Path("k.zip"), {"a", "b"});
  ZipReader r;
  Load(r, Path("k.zip"));
  const ZipHeaderInfo* first = &r.Entry(0);
  r.SetZipName(Path("k.zip"));  // the same name again resets nothing
  r.ReadDirectory();
  EXPECT_EQ(&r.Entry(0), first);
  WriteOwnArchive(Path("k.zip"), {"a", "b", "c"});
  r.ReadDirectory();
  EXPECT_EQ(r.EntryCount(), 3);
  r.SetZipName(Path("other.zip"));
  EXPECT_EQ(r.EntryCount(), 0);
}

TEST_F(ZipReaderTest, MissingArchiveRaisesOpenErrorAndResets) {
  ZipReader r;
  r.SetZipName(Path("missing.zip"));
  EXPECT_THROW(r.ReadDirectory(), EFOpenError);
  EXPECT_EQ(r.ZipName(), "");
  EXPECT_EQ(r.EntryCount(), 0);
}

TEST_F(ZipReaderTest, ArchiveHeldExclusivelyByAnotherProgramCannotBeOpened) {
  WriteOwnArchive(Path("l.zip"), {"a"});
  test::ChildLock lock(Path("l.zip"), true);
  ZipReader r;
  r.SetZipName(Path("l.zip"));
  EXPECT_THROW(r.ReadDirectory(), EFOpenError);
}

TEST_F(ZipReaderTest, CancelFromTheMessageHookStopsLoading) {
  WriteOwnArchive(Path("c.zip"), {"a", "b", "c"});
  ZipReader r;
  r.SetCancel(true);  // cleared by ReadDirectory itself
  int calls = 0;
  r.OnProcessMessages = [&] {
    if (++calls == 2) r.SetCancel(true);
  };
  r.SetZipName(Path("c.zip"));
  try {
    r.ReadDirectory();
    FAIL();
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_FALSE(r.Cancel());
  EXPECT_FALSE(r.Busy());
}

TEST_F(ZipReaderTest, FolderSettersKeepTheirSeparatorRules) {
  ZipReader r;
  r.SetDestDir("/tmp/out/");
  EXPECT_EQ(r.DestDir(), "/tmp/out");
  r.SetDestDir("?");
  EXPECT_EQ(r.DestDir(), "?");
  r.SetRootDir("/data");
  EXPECT_EQ(r.RootDir(), "/data/");
  EXPECT_EQ(r.RelativePathList(), (std::vector<std::string>{"/data/"}));
  r.SetZipName("whatever?");
  EXPECT_EQ(r.ZipName(), "whatever?");
}

// --- Hostile input ------------------------------------------------------------------------------

class HostileArchiveTest : public ZipReaderTest {};

// Lying counts, lengths and offsets: the load ends in one of the library's exceptions and keeps
// no entry.
TEST_F(HostileArchiveTest, LyingDirectoryEndsInALibraryError) {
  const std::string nameLengthPastTheEnd =
      Le32(kCentralHeaderSignature) + std::string(24, '\0') + Le16(0xFFFF) + std::string(16, '\0') + "abc";
  const std::string extraLengthPastTheEnd = Le32(kCentralHeaderSignature) + std::string(24, '\0') + Le16(1) +
                                            Le16(0xFFF0) + std::string(14, '\0') + "a" + Le16(0x0001) + Le16(0xFFEC);
  const std::string zip64End = EndRecord(0, 0, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
  const std::string selfLocator = Le32(kZip64LocatorSignature) + Le32(0) + Le64(0) + Le32(1);
  const std::string astronomicalCount = Le32(kZip64EndCentralSignature) + Le64(44) + Le16(45) + Le16(45) + Le32(0) +
                                        Le32(0) + Le64(1ull << 62) + Le64(1ull << 62) + Le64(1ull << 40) + Le64(0);
  const std::pair<const char*, std::string> cases[] = {
      {"a huge entry count without a directory", EndRecord(0, 0, 0xFFFF, 0x7FFFFFFF, 0)},
      {"a name length past the end",
       nameLengthPastTheEnd + EndRecord(0, 0, 1, static_cast<uint32_t>(nameLengthPastTheEnd.size()), 0)},
      {"an extra length past the end",
       extraLengthPastTheEnd + EndRecord(0, 0, 1, static_cast<uint32_t>(extraLengthPastTheEnd.size()), 0)},
      {"a directory offset outside the file", std::string(100, 'x') + EndRecord(0, 0, 3, 138, 0xFFFFFF00)},
      {"a Zip64 locator pointing outside",
       Le32(kZip64LocatorSignature) + Le32(0) + Le64(0x7FFFFFFFFFFFFFF0ull) + Le32(1) + zip64End},
      {"a Zip64 locator pointing at itself", selfLocator + zip64End},
      {"a Zip64 record with an astronomical count", astronomicalCount + selfLocator + zip64End},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    test::WriteFile(Path("h.zip"), bytes);
    ZipReader r;
    r.SetIncompleteZipMode(IncompleteZipMode::izAssumeMulti);
    r.SetZipName(Path("h.zip"));
    EXPECT_THROW(r.ReadDirectory(), EZipException);
    EXPECT_EQ(r.EntryCount(), 0);
  }
}

TEST_F(HostileArchiveTest, PartOfAMultiPartSet) {
  test::WriteFile(Path("h.zip"), EndRecord(1, 1, 0, 0, 0));
  ZipReader r;
  r.SetZipName(Path("h.zip"));
  EXPECT_THROW(r.ReadDirectory(), EMultiPartUnsupported);
}

TEST_F(HostileArchiveTest, LocalHeaderWithHugeSizeEndsTheRecoveryScan) {
  std::string local = Le32(kLocalHeaderSignature) + Le16(20) + Le16(0) + Le16(0) + Le32(0) + Le32(0) +
                      Le32(0xFFFFFFF0) + Le32(0xFFFFFFF0) + Le16(1) + Le16(0xFFFF) + "a";
  test::WriteFile(Path("h.zip"), local + std::string(64, 'z'));
  ZipReader r;
  r.SetIncompleteZipMode(IncompleteZipMode::izAssumeBad);
  Load(r, Path("h.zip"));
  EXPECT_EQ(r.EntryCount(), 1);
  EXPECT_TRUE(r.RebuiltFromLocalHeaders());
}

TEST_F(HostileArchiveTest, ManyDescriptorEntriesWithoutDescriptorsStayLinear) {
  // Local headers that claim a data descriptor, each followed by 16 bytes of filler, no descriptor.
  std::string local = Le32(kLocalHeaderSignature) + Le16(20) + Le16(kFlagDataDescriptor) + Le16(0) + Le32(0) +
                      Le32(0) + Le32(0) + Le32(0) + Le16(1) + Le16(0) + "a" + std::string(16, 'q');
  std::string bytes;
  for (int i = 0; i < 40000; ++i) bytes += local;
  test::WriteFile(Path("h.zip"), bytes);
  ZipReader r;
  r.SetIncompleteZipMode(IncompleteZipMode::izAssumeBad);
  Load(r, Path("h.zip"));
  EXPECT_EQ(r.EntryCount(), 40000);
}

TEST_F(HostileArchiveTest, RandomDamageNeverEscapesTheLibrary) {
  Python({"plain", Path("base.zip")});
  const std::string base = test::ReadFile(Path("base.zip"));
  std::mt19937 rng(12345);
  for (int round = 0; round < 600; ++round) {
    std::string bytes = base;
    const int kind = static_cast<int>(rng() % 3);
    if (kind == 0) {
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < flips; ++i) bytes[rng() % bytes.size()] = static_cast<char>(rng());
    } else if (kind == 1) {
      bytes.resize(rng() % bytes.size());
    } else {
      // Put 0xFF runs into the directory, where counts and lengths live.
      const size_t at = base.find("PK\x01\x02") + rng() % (base.size() - base.find("PK\x01\x02"));
      for (size_t i = at; i < std::min(bytes.size(), at + 1 + rng() % 4); ++i) bytes[i] = '\xFF';
    }
    test::WriteFile(Path("f.zip"), bytes);
    for (IncompleteZipMode mode : {IncompleteZipMode::izAssumeMulti, IncompleteZipMode::izAssumeBad}) {
      ZipReader r;
      r.SetIncompleteZipMode(mode);
      r.SetSortMode(ZipSortMode::ByName);
      r.SetZipName(Path("f.zip"));
      try {
        r.ReadDirectory();
        for (int i = 0; i < r.EntryCount(); ++i) (void)r.EntryFileName(i);
      } catch (const EZipException&) {
        // fine: damaged archives end in the library's exceptions
      }
    }
  }
}

}  // namespace
}  // namespace kvelv
