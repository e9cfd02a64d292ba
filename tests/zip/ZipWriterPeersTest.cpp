// Other ZIP tools read what the writer produces and give back the same names and bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "tests/support/RunProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipLayout.h"
#include "tests/support/ZipTestSupport.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

class ZipWriterPeersTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    std::mt19937 gen(9);
    std::string random(300000, '\0');
    for (auto& c : random) c = static_cast<char>(gen());
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "row " + std::to_string(i) + "; ";
    files_ = {{"text.txt", text}, {"random.bin", random}, {"empty.txt", ""}, {"photo.jpg", random.substr(0, 70000)},
              {"docs/inner.txt", "inside a folder"}};
    for (const auto& [name, content] : files_) {
      std::filesystem::create_directories(std::filesystem::path(dir_.Join("in/" + name)).parent_path());
      test::WriteFile(dir_.Join("in/" + name), content);
    }
    ZipWriter writer;
    writer.SetZipName(Archive());
    writer.SetPackLevel(GetParam());
    writer.SetStorePaths(true);
    writer.SetRelativePaths(true);
    writer.SetRootDir(dir_.Join("in"));
    writer.SetNoCompressList({"*.jpg"});
    std::vector<std::string> items{dir_.Join("in/docs") + "/"};
    for (const auto& [name, content] : files_) items.push_back(dir_.Join("in/" + name));
    writer.SetFilesList(items);
    ASSERT_EQ(writer.PackFiles(), 6);
  }
  std::string Archive() const { return dir_.Join("peer.zip"); }
  test::ProcessResult Run(const std::string& tool, std::vector<std::string> args) {
    const std::string program = test::FindProgram(tool);
    if (program.empty()) ADD_FAILURE() << tool << " is not installed";
    args.insert(args.begin(), tool);
    return test::RunProcess(program.empty() ? tool : program, args);
  }
  // "name sha256" lines in archive order, the folder entry first.
  std::string Expected() const {
    std::string lines = "docs/ " + test::Sha256Hex("") + "\n";
    for (const auto& [name, content] : files_) lines += name + " " + test::Sha256Hex(content) + "\n";
    return lines;
  }

  test::TempDir dir_;
  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_P(ZipWriterPeersTest, PeersTestEveryEntryAndReadTheSameBytes) {
  EXPECT_EQ(test::PeersDisagree(Archive(), Expected()), "");
}

TEST_P(ZipWriterPeersTest, BsdtarListsAndExtractsTheSameBytes) {
  auto r = Run("bsdtar", {"-tf", Archive()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "docs/\ntext.txt\nrandom.bin\nempty.txt\nphoto.jpg\ndocs/inner.txt\n");
  for (const auto& [name, content] : files_) {
    auto x = Run("bsdtar", {"-xOf", Archive(), name});
    EXPECT_EQ(x.exitCode, 0) << x.err;
    EXPECT_TRUE(x.out == content) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, ZipWriterPeersTest, ::testing::Values(0, 1, 6, 9),
                         [](const ::testing::TestParamInfo<int>& info) { return "Level" + std::to_string(info.param); });

}  // namespace
}  // namespace kvelv
