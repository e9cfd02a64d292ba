// The built console program as a caller sees it: standard output byte for byte, standard error
// and the exit code, with standard input closed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ConsoleMessages.h"
#include "tests/support/RunProcess.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

using test::kUsage;

class ConsoleBinaryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plain_ = dir_.Join("plain.txt");
    test::WriteFile(plain_, "Hemmelig innhold\r\nlinje to\n");
  }
  test::TempDir dir_;
  std::string plain_;
};

TEST_F(ConsoleBinaryTest, NoArgumentsAsksForTheMode) {
  auto r = test::RunKvelv({});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Missing parameter: -encrypt/-decrypt\r\n" + kUsage);
  EXPECT_EQ(r.err, "");
}

TEST_F(ConsoleBinaryTest, MissingPasswordAndTarget) {
  auto r = test::RunKvelv({"-Decrypt", "-file=" + plain_, "-to_folder=" + dir_.Path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Missing parameter: -password\r\n" + kUsage);

  r = test::RunKvelv({"-encrypt", "-password=p", "-files=" + plain_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Missing parameter: -to_file\r\n" + kUsage);

  r = test::RunKvelv({"-decrypt", "-password=p", "-file=" + plain_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Missing parameter: -to_folder\r\n" + kUsage);
  EXPECT_EQ(r.err, "");
}

TEST_F(ConsoleBinaryTest, IllegalParameter) {
  auto r = test::RunKvelv({"-encrypt", "-password=p", "-Verbose=yes=no"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, "Illegal parameter:-Verbose\r\n\r\n" + kUsage);
  EXPECT_EQ(r.err, "");

#ifndef _WIN32  // Windows arguments are UTF-16 text: there are no raw bytes to pass.
  // Bytes that are not UTF-8 come back as they were given.
  r = test::RunKvelv({"-\xFF\xFE=1"});
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.out, "Illegal parameter:-\xFF\xFE\r\n\r\n" + kUsage);
#endif
}

TEST_F(ConsoleBinaryTest, MissingInputFiles) {
  auto r = test::RunKvelv({"-decrypt", "-password=p", "-to_folder=" + dir_.Path(), "-file=" + dir_.Path()});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.out, test::MissingFile(dir_.Path()));

  r = test::RunKvelv({"-encrypt", "-password=p", "-to_file=x.orvkvelv", "-files=" + plain_ + ";;" + plain_},
                     dir_.Path());
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.out, test::MissingFilesItem(""));
  EXPECT_FALSE(std::filesystem::exists(dir_.Join("x.orvkvelv")));

  // Relative names are taken from the working folder.
  r = test::RunKvelv({"-encrypt", "-password=p", "-to_file=x.orvkvelv", "-files=plain.txt;nope.txt"}, dir_.Path());
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.out, test::MissingFilesItem("nope.txt"));
  EXPECT_EQ(r.err, "");
}

TEST_F(ConsoleBinaryTest, ValueOptionWithoutValueIsReportedOnStandardError) {
  auto r = test::RunKvelv({"-encrypt", "-password=", "-files=" + plain_, "-to_file=" + dir_.Join("x")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "EConvertError: Missing value for option -password\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.Join("x")));
}

TEST_F(ConsoleBinaryTest, EncryptThenDecryptRoundTrip) {
  const std::string container = dir_.Join("out.orvkvelv");
  auto r = test::RunKvelv({"-encrypt", "-password=Søt passord", "-files=" + plain_, "-to_file=" + container});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(std::filesystem::is_regular_file(container));
  EXPECT_EQ(std::filesystem::file_size(container) % 16, 0u);

  const std::string folder = dir_.Join("back");
  std::filesystem::create_directory(folder);
  r = test::RunKvelv({"-decrypt", "-password=Søt passord", "-file=" + container, "-to_folder=" + folder});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(test::ReadFile(folder + "/plain.txt"), test::ReadFile(plain_));
}

TEST_F(ConsoleBinaryTest, DecryptingSomethingElseEndsWithCodeTwo) {
  const std::string bogus = dir_.Join("bogus.orvkvelv");
  test::WriteFile(bogus, std::string(32, 'x'));
  auto r = test::RunKvelv({"-decrypt", "-password=p", "-file=" + bogus, "-to_folder=" + dir_.Path()});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace kvelv
