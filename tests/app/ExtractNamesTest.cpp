// Decrypting with the console binary where names are awkward: names longer than the file system
// holds come out shortened, and every name changed or entry not written is named on standard
// error. (A folder or a read-only file at a name: zip/CommitTest, app/RoundTripTest.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ArchiveMaker.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestData.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using test::TempDir;

using test::Repeat;

class ExtractNamesTest : public ::testing::Test {
 protected:
  // A container of entries named `names` (UTF-8, bit 11 set), each holding "data of " + its index.
  std::string Container(const std::vector<std::string>& names) {
    std::vector<test::ArchiveEntrySpec> entries;
    for (size_t i = 0; i < names.size(); ++i) {
      test::ArchiveEntrySpec entry = test::Entry(names[i], "data of " + std::to_string(i));
      entry.flags = 0x0800;
      entries.push_back(entry);
    }
    const std::string path = work_.Join("c" + std::to_string(++count_) + ".kvelv");
    test::WriteContainer(path, test::MakeArchive(entries), "pw");
    return path;
  }
  test::ProcessResult Decrypt(const std::string& container, const std::string& folder) {
    return test::RunKvelv({"-decrypt", "-password=pw", "-file=" + container, "-to_folder=" + folder});
  }

  TempDir work_;
  int count_ = 0;
};

TEST_F(ExtractNamesTest, NamesTooLongComeOutShortenedAndNamed) {
  // 255 Japanese characters (765 bytes) and 255 Norwegian letters (510 bytes), as a Windows user
  // stores them; and two that meet once shortened.
  const std::string japanese = Repeat("\u65E5", 251) + ".txt";
  const std::string norwegian = Repeat("\u00F8", 251) + ".txt";
  const std::string twin = Repeat("\u00F8", 252) + ".txt";
  TempDir out;
  const auto result = Decrypt(Container({japanese, norwegian, twin}), out.Path());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const std::string shortJapanese = Repeat("\u65E5", 83) + ".txt";
  const std::string shortNorwegian = Repeat("\u00F8", 125) + ".txt";
  const std::string numbered = Repeat("\u00F8", 123) + " (2).txt";
  EXPECT_EQ(test::ReadFile(out.Join(shortJapanese)), "data of 0");
  EXPECT_EQ(test::ReadFile(out.Join(shortNorwegian)), "data of 1");
  EXPECT_EQ(test::ReadFile(out.Join(numbered)), "data of 2");
  EXPECT_EQ(test::Listing(out.Path()).size(), 3u);
  EXPECT_EQ(result.err, "Renamed (too long for the file system): \"" + japanese + "\" -> \"" + shortJapanese +
                            "\"\r\nRenamed (too long for the file system): \"" + norwegian + "\" -> \"" +
                            shortNorwegian + "\"\r\nRenamed (too long for the file system, another file has the "
                            "name): \"" + twin + "\" -> \"" + numbered + "\"\r\n");

  // Our own container of a Linux name of 200 bytes that are not UTF-8: 400 bytes as text.
  TempDir in, again;
  const std::string latin = in.Join(std::string(200, '\xE9'));
  test::WriteFile(latin, "latin");
  ASSERT_EQ(test::RunProcess(test::KvelvBinary(), {test::KvelvBinary(), "-encrypt", "-password=pw", "-files=" + latin,
                                                   "-to_file=" + work_.Join("latin.kvelv")})
                .exitCode,
            0);
  EXPECT_EQ(Decrypt(work_.Join("latin.kvelv"), again.Path()).exitCode, 0);
  EXPECT_EQ(test::ReadFile(again.Join(Repeat("\u00E9", 127))), "latin");
}

TEST_F(ExtractNamesTest, EntriesNotWrittenAreNamed) {
  TempDir out;
  const auto result =
      Decrypt(Container({".", "docs/a.txt", "x/..", "", std::string("nul\0here", 8), "b/a.txt", "ok.txt"}), out.Path());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(test::Listing(out.Path()), (std::vector<std::string>{"a.txt 9 0da1d3a6", "ok.txt 9 94a8821c"}));
  EXPECT_EQ(test::ReadFile(out.Join("a.txt")), "data of 5");
  EXPECT_EQ(result.err,
            "Not extracted (no usable file name): \".\"\r\n"
            "Replaced by a later entry of the same name: \"docs/a.txt\"\r\n"
            "Not extracted (no usable file name): \"x/..\"\r\n"
            "Not extracted (no usable file name): \"\"\r\n"
            "Not extracted (no usable file name): \"nul\\x00here\"\r\n");
}

}  // namespace
}  // namespace kvelv
