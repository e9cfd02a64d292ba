// Hostile archives inside valid containers, decrypted by the console binary: every one ends
// with exit code 2 or a clean skip, in bounded time and memory, and nothing is written outside
// the target folder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <map>

#include "tests/support/ArchiveMaker.h"
#include "tests/support/FaultRun.h"
#include "tests/support/RawDeflate.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipTestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::ArchiveEntrySpec;
using test::FaultOptions;
using test::ListTree;
using test::TempDir;

// `records` (local headers and data), then `directory` and a sound end record for `count` entries.
std::string WithDirectory(const std::string& records, const std::string& directory, uint64_t count = 1) {
  return records + directory + test::RawEnd(count, directory.size(), records.size());
}

class HostileContainerTest : public ::testing::Test {
 protected:
  // Decrypts a container of `zip`; checks the invariants and returns the exit code.
  int Run(const std::string& zip, uint64_t maxExtractedBytes = 1 << 20) {
    const std::string container = work_.Join("hostile.kvelv");
    test::WriteContainer(container, zip, "pw");
    const std::string parent = targets_.Join("a/b");
    const std::string folder = parent + "/out";
    fs::create_directories(folder);
    FaultOptions options;
    options.tmpDir = tmp_.Path();
    options.memoryLimit = int64_t{1} << 30;
    auto result = test::RunUnderFault(
        test::KvelvBinary(), {"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + folder}, options);
    EXPECT_EQ(result.signal, 0) << "killed by signal " << result.signal;
    EXPECT_TRUE(result.exitCode == 0 || result.exitCode == 2) << "exit code " << result.exitCode;
    // Only the folders on the way may exist outside the target folder.
    for (const std::string& name : ListTree(targets_.Path())) {
      const bool allowed = name == "a" || name == "a/b" || name == "a/b/out" || name.rfind("a/b/out/", 0) == 0;
      EXPECT_TRUE(allowed) << "written outside the target folder: " << name;
      EXPECT_FALSE(fs::is_symlink(targets_.Join(name))) << name;
    }
    uint64_t total = 0;
    extracted_.clear();
    for (const std::string& name : ListTree(folder)) {
      if (!fs::is_regular_file(folder + "/" + name)) continue;
      total += fs::file_size(folder + "/" + name);
      if (fs::file_size(folder + "/" + name) < 4096) extracted_[name] = test::ReadFile(folder + "/" + name);
    }
    EXPECT_LE(total, maxExtractedBytes);
    EXPECT_TRUE(fs::is_empty(tmp_.Path())) << ListTree(tmp_.Path()).front();
    fs::remove_all(targets_.Join("a"));
    return result.exitCode;
  }

  // Refused (exit code 2, nothing extracted), or recovered from the intact local header: then
  // exactly `name` with `content` was extracted.
  void ExpectRefusedOrRecovered(const std::string& zip, const std::string& name, const std::string& content) {
    const int code = Run(zip);
    if (code == 2) {
      EXPECT_TRUE(extracted_.empty());
    } else {
      EXPECT_EQ(extracted_, (std::map<std::string, std::string>{{name, content}}));
    }
  }

  TempDir work_;
  TempDir targets_;
  TempDir tmp_;
  std::map<std::string, std::string> extracted_;  // small files of the last run
};

TEST_F(HostileContainerTest, ZipSlipNamesInEveryFormStayInsideTheTarget) {
  for (const std::string& name : std::vector<std::string>{"../evil.txt", "../../evil.txt", "../../../../../../../../tmp/evil.txt", "/abs/evil.txt", "//evil.txt",
        "..\\evil.txt", "..\\..\\evil.txt", "sub/../../evil.txt", "sub\\..\\..\\evil.txt", "./../evil.txt",
        "C:\\evil.txt", "C:evil.txt", "C:/evil.txt", "\\\\server\\share\\evil.txt", "\\evil.txt", "sub/..",
        "..", ".", "", "sub/../../../a/b/evil.txt", "...\\..\\evil.txt", std::string("ok\0/../../evil.txt", 19)}) {
    SCOPED_TRACE(name);
    // A clean skip extracts the sound entry beside whatever was made of the bad name.
    if (Run(test::MakeArchive({test::Entry(name, "escaped!"), test::Entry("fine.txt", "fine")})) == 0) {
      EXPECT_EQ(extracted_["fine.txt"], "fine");
    }
  }
  // The Unicode path field is a second source of names.
  ArchiveEntrySpec unicode = test::Entry("harmless.txt", "escaped!");
  unicode.centralExtra = test::UnicodePathExtra("harmless.txt", "../../evil.txt");
  Run(test::MakeArchive({unicode}));
}

TEST_F(HostileContainerTest, AbsurdZip64SizesAndCountsAreRefused) {
  const std::string content = "some content";
  test::RawHeader h = test::RawHeaderFor("big.txt", content, content);
  h.csize = h.usize = h.offset = 0xFFFFFFFF;
  h.extra =
      test::RawZip64Extra(UINT64_C(0x7FFFFFFFFFFFFFFF), UINT64_C(0x4000000000000000), UINT64_C(0x2000000000000000));
  test::RawHeader local = test::RawHeaderFor("big.txt", content, content);
  std::string zip = test::RawLocal(local, content);
  std::string central = test::RawCentral(h);
  const uint64_t cdOffset = zip.size();
  zip += central;
  EXPECT_EQ(Run(zip + test::RawZip64End(1, central.size(), cdOffset, zip.size()) +
                test::RawEnd(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF)),
            2);

  // An entry count of 2^62 and a directory size to match, for a one-entry directory.
  std::string sound = test::RawLocal(local, content);
  test::RawHeader h2 = local;
  std::string central2 = test::RawCentral(h2);
  const uint64_t cd2 = sound.size();
  sound += central2;
  const std::string counts = test::RawZip64End(UINT64_C(1) << 62, UINT64_C(1) << 62, cd2, sound.size()) +
                             test::RawEnd(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
  ExpectRefusedOrRecovered(sound + counts, "big.txt", content);
  // A count of a billion with the true size and offset.
  ExpectRefusedOrRecovered(sound + test::RawZip64End(1000000000, central2.size(), cd2, sound.size()) +
                               test::RawEnd(0xFFFF, 0xFFFF, 0xFFFFFFFF),
                           "big.txt", content);
}

TEST_F(HostileContainerTest, OverlappingEntriesCannotMultiplyTheData) {
  // One deflated megabyte shared by many central entries: extracting them all would write
  // hundreds of megabytes from a tiny archive.
  const std::string content(1 << 20, 'z');
  const std::string data = test::RawDeflate(content, 9);
  test::RawHeader local = test::RawHeaderFor("shared.bin", content, data, 8);
  std::string zip = test::RawLocal(local, data);
  std::string central;
  constexpr int kEntries = 300;
  for (int i = 0; i < kEntries; ++i) {
    test::RawHeader h = local;
    h.name = "copy" + std::to_string(i) + ".bin";
    central += test::RawCentral(h);
  }
  Run(WithDirectory(zip, central, kEntries), 8u << 20);

  // The same with the names matching: every entry is "shared.bin".
  std::string central2;
  for (int i = 0; i < kEntries; ++i) central2 += test::RawCentral(local);
  Run(WithDirectory(test::RawLocal(local, data), central2, kEntries), 8u << 20);
}

TEST_F(HostileContainerTest, StaircaseOfOverlappingStoredEntriesIsRefused) {
  // Each entry's stored data runs over the local headers of the entries after it and over one
  // shared megabyte; every CRC is right. Extracting all would write a quadratic amount.
  constexpr int kEntries = 200;
  const std::string kernel(1 << 20, 'k');
  std::string headers;
  std::vector<test::RawHeader> central;
  for (int i = 0; i < kEntries; ++i) {
    test::RawHeader h;
    h.name = "e" + std::to_string(1000 + i);
    h.offset = static_cast<uint32_t>(i * (30 + h.name.size()));
    central.push_back(h);
  }
  // Sizes and CRCs depend on the bytes after each header, so they are filled from the back.
  std::vector<std::string> locals(kEntries);
  std::string tail = kernel;
  for (int i = kEntries - 1; i >= 0; --i) {
    central[i].csize = central[i].usize = static_cast<uint32_t>(tail.size());
    central[i].crc = test::Crc32Of(tail);
    locals[i] = test::RawLocal(central[i], "");
    tail = locals[i] + tail;
  }
  std::string directory;
  for (const test::RawHeader& h : central) directory += test::RawCentral(h);
  Run(WithDirectory(tail, directory, kEntries), 8u << 20);
}

TEST_F(HostileContainerTest, EntryInflatingFarBeyondItsDeclaredSizeStops) {
  const std::string content(64 << 20, '\0');
  ArchiveEntrySpec bomb = test::Entry("bomb.bin", content);
  bomb.method = 8;
  bomb.uncompressedSize = 1000;
  bomb.crc = test::Crc32Of(content.substr(0, 1000));
  EXPECT_EQ(Run(test::MakeArchive({bomb}), 1000), 2);
}

TEST_F(HostileContainerTest, DirectoryAndHeadersPointingOutsideTheFileAreRefused) {
  const std::string content = "content";
  test::RawHeader h = test::RawHeaderFor("a.txt", content, content);
  const std::string local = test::RawLocal(h, content);
  const std::string central = test::RawCentral(h);
  // The directory offset beyond the end, and near 4 GiB.
  ExpectRefusedOrRecovered(local + central + test::RawEnd(1, central.size(), local.size() + 100000), "a.txt", content);
  ExpectRefusedOrRecovered(local + central + test::RawEnd(1, central.size(), 0xFFFFFFF0u), "a.txt", content);
  // The directory size far beyond the file.
  ExpectRefusedOrRecovered(local + central + test::RawEnd(1, 0x7FFFFFFF, local.size()), "a.txt", content);
  // The local header offset beyond the end.
  test::RawHeader far = h;
  far.offset = 0x7FFFFFF0;
  EXPECT_EQ(Run(WithDirectory(local, test::RawCentral(far))), 2);
  // A data size running past the end.
  test::RawHeader longData = h;
  longData.csize = longData.usize = 0x7FFFFFF0;
  EXPECT_EQ(Run(WithDirectory(test::RawLocal(longData, content), test::RawCentral(longData))), 2);
}

TEST_F(HostileContainerTest, NameLengthsPastTheEndAreRefused) {
  const std::string content = "content";
  test::RawHeader h = test::RawHeaderFor("a.txt", content, content);
  const std::string local = test::RawLocal(h, content);
  test::RawHeader lying = h;
  lying.nameLength = 0xFFFF;
  const std::string central = test::RawCentral(lying);
  ExpectRefusedOrRecovered(WithDirectory(local, central), "a.txt", content);
  // The directory cut short inside the name, with no end record after it.
  EXPECT_EQ(Run(local + central.substr(0, central.size() - 2)), 2);
  // A local header whose name runs past the end of the file.
  std::string cut = test::RawLocal(h, "");
  cut[26] = '\xFF';
  cut[27] = '\xFF';
  EXPECT_EQ(Run(cut), 2);
}

}  // namespace
}  // namespace kvelv
