// Decrypting with the console binary where names and targets are awkward: names longer than the
// file system holds come out shortened, entries that are not written are named on standard
// error, and a folder or a read-only file at a name fails the run with the folder unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/ArchiveMaker.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using test::TempDir;

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

class ExtractNamesTest : public ::testing::Test {
 protected:
  // A container of entries named `names` (UTF-8, bit 11 set), each holding "data of " + its index.
  std::string Container(const std::vector<std::string>& names) {
    std::vector<test::ArchiveEntrySpec> entries;
    for (size_t i = 0; i < names.size(); ++i) {
      test::ArchiveEntrySpec entry;
      entry.name = names[i];
      entry.content = "data of " + std::to_string(i);
      entry.flags = 0x0800;
      entries.push_back(entry);
    }
    const std::string path = work_.Join("c" + std::to_string(++count_) + ".kvelv");
    test::WriteContainer(path, test::MakeArchive(entries), "pw");
    return path;
  }
  test::ProcessResult Decrypt(const std::string& container, const std::string& folder) {
    return test::RunProcess(test::KvelvBinary(), {test::KvelvBinary(), "-decrypt", "-password=pw",
                                                  "-file=" + container, "-to_folder=" + folder});
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

TEST_F(ExtractNamesTest, AFolderOrAReadOnlyFileAtANameFailsTheRunUnlessItHoldsTheBytes) {
  const std::string container = Container({"a.txt", "b.txt"});
  struct Case {
    const char* what;
    std::string content;  // of a read-only b.txt; "" makes b.txt a folder
    int exitCode;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"a folder", "", 2, "A folder has the name"},
      {"a read-only file", "older data", 2, "A read-only file has the name"},
      {"a read-only file with the entry's bytes", "data of 1", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir out;
    test::WriteFile(out.Join("a.txt"), "old a");
    if (c.content.empty()) {
      ASSERT_EQ(mkdir(out.Join("b.txt").c_str(), 0755), 0);
    } else {
      test::WriteFile(out.Join("b.txt"), c.content);
      ASSERT_EQ(chmod(out.Join("b.txt").c_str(), 0444), 0);
    }
    const std::vector<std::string> before = test::Listing(out.Path());
    const auto result = Decrypt(container, out.Path());
    EXPECT_EQ(result.exitCode, c.exitCode);
    if (c.exitCode == 0) {
      EXPECT_EQ(result.err, "");
      EXPECT_EQ(test::ReadFile(out.Join("a.txt")), "data of 0");
      EXPECT_EQ(test::ReadFile(out.Join("b.txt")), "data of 1");
    } else {
      EXPECT_EQ(test::Listing(out.Path()), before);
      EXPECT_EQ(result.err, "Decryption failed: " + c.err + " \"" + out.Join("b.txt") +
                                "\". Nothing in the folder was changed.\r\n");
    }
  }
}

}  // namespace
}  // namespace kvelv
