// Sealed containers through the console program as users meet it: round trips of the payload
// sizes that matter, and every kind of damage or refusal ending with exit code 2, the target
// folder as it was and no staging folder left in it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "jobs/sealed/SealedFormat.h"
#include "tests/support/FaultRun.h"
#include "tests/support/RunProcess.h"
#include "tests/support/SealedTestSupport.h"
#include "tests/support/TestData.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipTestSupport.h"

namespace kvelv::test {
namespace {

namespace sf = sealed;

// Every file below `folder` with its content (names starting with ".~kvelv" are staging folders).
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    files[entry.path().string()] = entry.is_regular_file() ? ReadFile(entry.path().string()) : "<folder>";
  return files;
}

class SealedDecryptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(out_.Join("a.txt"), "old a");
    WriteFile(out_.Join("keep.txt"), "kept");
  }
  // Decrypts `container` into the folder and expects the whole refusal.
  void ExpectRefused(const std::string& container, const std::string& what,
                     const std::vector<std::string>& extra = {}, const std::string& password = "pw") {
    SCOPED_TRACE(what);
    const std::string path = work_.Join("x.orvkvelv");
    WriteFile(path, container);
    const auto before = Snapshot(out_.Path());
    std::vector<std::string> args = {"-decrypt", "-password=" + password, "-file=" + path, "-to_folder=" + out_.Path()};
    args.insert(args.end(), extra.begin(), extra.end());
    const ProcessResult result = RunKvelv(args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err.rfind("Decryption failed: ", 0), 0u) << result.err;
    EXPECT_EQ(Snapshot(out_.Path()), before);
  }

  // Three chunks: 64 KiB, 64 KiB and the rest.
  const std::string archive_ = MakeArchive(
      {Entry("a.txt", RandomBytes(100000, 1)), Entry("b.txt", RandomBytes(40000, 2)), Entry("c.txt", "charlie")});
  const std::string good_ = SealBytes(archive_, "pw");
  TempDir work_, out_;
};

int64_t ChunkAt(int index) { return static_cast<int64_t>(sf::kHeaderSize) + index * sf::kSealedChunkSize; }

TEST_F(SealedDecryptTest, PayloadSizesRoundTrip) {
  const std::string empty = MakeArchive({Entry("e.txt", "")});
  const size_t overhead = empty.size();
  for (int64_t size : {sf::kChunkSize, sf::kChunkSize + 1, 3 * sf::kChunkSize}) {
    SCOPED_TRACE(size);
    const std::string content = RandomBytes(static_cast<size_t>(size) - overhead, 5);
    const std::string archive = MakeArchive({Entry("e.txt", content)});
    ASSERT_EQ(static_cast<int64_t>(archive.size()), size);
    TempDir out;
    WriteFile(work_.Join("s.orvkvelv"), SealBytes(archive, "pw"));
    EXPECT_EQ(RunKvelv({"-decrypt", "-password=pw", "-file=" + work_.Join("s.orvkvelv"), "-to_folder=" + out.Path()})
                  .exitCode,
              0);
    EXPECT_EQ(ReadFile(out.Join("e.txt")), content);
  }
  // An empty payload opens, and holds no archive: damaged, like an archive without entries.
  ExpectRefused(SealBytes("", "pw"), "empty payload");
}

TEST_F(SealedDecryptTest, GoldenContainerDecrypts) {
  TempDir out;
  const ProcessResult r = RunKvelv({"-decrypt", "-format=2", "-password=gyllen n\xC3\xB8kkel",
                                    "-file=" + std::string(SourceDir()) + "/tests/data/sealed/golden.orvkvelv",
                                    "-to_folder=" + out.Path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string text = ReadFile(out.Join("linjer.txt"));
  EXPECT_EQ(text.size(), 76800u);
  EXPECT_EQ(text.substr(0, 48), "linje 00000: Orv Kvelv forsegler dette arkivet.\n");
}

TEST_F(SealedDecryptTest, DamageAndRefusalsChangeNothing) {
  const std::string header = good_.substr(0, sf::kHeaderSize);
  auto chunk = [&](int i) { return good_.substr(static_cast<size_t>(ChunkAt(i)), sf::kSealedChunkSize); };
  auto flipped = [&](int64_t at) {
    std::string bad = good_;
    bad[static_cast<size_t>(at)] ^= 0x04;
    return bad;
  };
  const int64_t lastData = static_cast<int64_t>(good_.size()) - ChunkAt(2) - static_cast<int64_t>(sf::kAeadTagSize);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"magic", flipped(0)},
      {"memory", flipped(12)},
      {"salt", flipped(30)},
      {"header tag", flipped(91)},
      {"first chunk, first byte", flipped(ChunkAt(0))},
      {"first chunk, tag", flipped(ChunkAt(1) - 1)},
      {"middle chunk, middle byte", flipped(ChunkAt(1) + sf::kChunkSize / 2)},
      {"last chunk, last byte", flipped(ChunkAt(2) + lastData - 1)},
      {"last chunk, tag", flipped(static_cast<int64_t>(good_.size()) - 1)},
      {"0 bytes", ""},
      {"the header alone", header},
      {"cut at the last chunk", good_.substr(0, static_cast<size_t>(ChunkAt(2)))},
      {"cut a byte after", good_.substr(0, static_cast<size_t>(ChunkAt(2)) + 1)},
      {"cut a byte short", good_.substr(0, good_.size() - 1)},
      {"chunk appended", good_ + chunk(1)},
      {"chunks swapped", header + chunk(1) + chunk(0) + good_.substr(static_cast<size_t>(ChunkAt(2)))},
      {"chunk spliced from another container",
       header + SealBytes(archive_, "pw", true).substr(sf::kHeaderSize, sf::kSealedChunkSize) +
           good_.substr(static_cast<size_t>(ChunkAt(1)))},
  };
  for (const auto& [what, container] : cases) ExpectRefused(container, what);
  ExpectRefused(good_, "wrong password", {}, "pW");

  // A script can forbid the classic format: -format=2 refuses it, with the reason.
  const std::string classic = work_.Join("c.orvkvelv");
  WriteFile(work_.Join("c.txt"), "classic");
  ASSERT_EQ(RunKvelv({"-encrypt", "-password=pw", "-files=" + work_.Join("c.txt"), "-to_file=" + classic}).exitCode, 0);
  ExpectRefused(ReadFile(classic), "format 1 under -format=2", {"-format=2"});
  EXPECT_EQ(
      RunKvelv({"-decrypt", "-password=pw", "-file=" + classic, "-to_folder=" + out_.Path(), "-format=1"}).exitCode, 0);
}

TEST_F(SealedDecryptTest, EncryptWritesTheChosenFormat) {
  WriteFile(work_.Join("f.txt"), LogText(200000, 9));
  // Format 1 with or without the option: the same bytes as before the option existed.
  const std::string plainOption = work_.Join("none.orvkvelv"), one = work_.Join("one.orvkvelv");
  ASSERT_EQ(RunKvelv({"-encrypt", "-password=pw", "-files=" + work_.Join("f.txt"), "-to_file=" + plainOption}).exitCode,
            0);
  ASSERT_EQ(
      RunKvelv({"-encrypt", "-format=1", "-password=pw", "-files=" + work_.Join("f.txt"), "-to_file=" + one}).exitCode,
      0);
  EXPECT_EQ(ReadFile(plainOption), ReadFile(one));
  for (const char* format : {"-format=1", "-format=2"}) {
    const std::string container = work_.Join(std::string(format + 8) + ".orvkvelv");
    ASSERT_EQ(RunKvelv({"-encrypt", format, "-password=pw", "-files=" + work_.Join("f.txt"), "-to_file=" + container})
                  .exitCode,
              0);
    const std::string bytes = ReadFile(container);
    EXPECT_EQ(sf::HasMagic(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), format[8] == '2');
    TempDir out;
    ASSERT_EQ(RunKvelv({"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + out.Path()}).exitCode, 0);
    EXPECT_EQ(ReadFile(out.Join("f.txt")), ReadFile(work_.Join("f.txt")));
  }
}

// The disk fills while the sealed container is written: exit code 2, the old container kept,
// nothing else left beside it.
TEST_F(SealedDecryptTest, FullDiskKeepsTheExistingContainer) {
  WriteFile(work_.Join("f.bin"), RandomBytes(300000, 8));
  const std::string probe = work_.Join("probe.orvkvelv"), target = work_.Join("out.orvkvelv");
  ASSERT_EQ(RunKvelv({"-encrypt", "-format=2", "-password=pw", "-files=" + work_.Join("f.bin"), "-to_file=" + probe})
                .exitCode,
            0);
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(probe));
  std::filesystem::remove(probe);
  WriteFile(target, "the previous container");
  FaultOptions options;
  options.fileSizeLimit = size - 1;  // the archive fits, the container does not
  const FaultResult result = RunUnderFault(KvelvBinary(), {"-encrypt", "-format=2", "-password=pw",
                                                           "-files=" + work_.Join("f.bin"), "-to_file=" + target}, options);
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(ReadFile(target), "the previous container");
  EXPECT_EQ(ListTree(work_.Path()), (std::vector<std::string>{"f.bin", "out.orvkvelv"}));
}

}  // namespace
}  // namespace kvelv::test
