// A disk that fills up while the archive is written, simulated with a file size limit in a
// forked child: every failed write, wherever it falls (entry data, headers, central directory,
// end record, the last buffered bytes), must end in ENotEnoughRoom and leave no archive.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "tests/support/FaultRun.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

enum ChildResult { kRightException = 0, kOtherException = 2, kNoException = 3, kWrongText = 4 };

// Runs one PackFiles call in a child whose files may not grow past `limit` bytes.
int PackWithLimit(const std::string& archive, const std::vector<std::string>& items, rlim_t limit,
                  const std::string& tempPath = std::string()) {
  return test::InChildUnderFileSizeLimit(static_cast<int64_t>(limit), [&] {
    try {
      ZipWriter writer;
      writer.SetZipName(archive);
      writer.SetTempPath(tempPath);
      writer.SetFilesList(items);
      writer.PackFiles();
    } catch (const ENotEnoughRoom& e) {
      return std::string(e.what()) == "Not enough room to write archive" ? kRightException : kWrongText;
    } catch (...) {
      return kOtherException;
    }
    return kNoException;
  });
}

class ZipWriterDiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 gen(5);
    for (int i = 0; i < 4; ++i) {
      std::string bytes(i == 3 ? 100000 : 6000, '\0');
      for (auto& c : bytes) c = static_cast<char>(gen());
      items_.push_back(dir_.Join("f" + std::to_string(i) + ".bin"));
      test::WriteFile(items_.back(), bytes);
    }
    for (int i = 0; i < 50; ++i) {  // many small entries make a central directory of some size
      items_.push_back(dir_.Join("small" + std::to_string(i) + ".txt"));
      test::WriteFile(items_.back(), "s");
    }
    ZipWriter writer;
    writer.SetZipName(dir_.Join("reference.zip"));
    writer.SetFilesList(items_);
    ASSERT_EQ(writer.PackFiles(), 54);
    size_ = static_cast<rlim_t>(std::filesystem::file_size(dir_.Join("reference.zip")));
  }
  test::TempDir dir_;
  std::vector<std::string> items_;
  rlim_t size_ = 0;
};

TEST_F(ZipWriterDiskFullTest, EveryFailedWriteLeavesNoArchive) {
  const std::string archive = dir_.Join("out.zip");
  // From the first header to the last byte of the end record.
  for (rlim_t limit : {rlim_t{0}, rlim_t{29}, rlim_t{100}, rlim_t{8191}, rlim_t{8192}, rlim_t{40000},
                       size_ - 3000, size_ - 23, size_ - 10, size_ - 1}) {
    SCOPED_TRACE(limit);
    EXPECT_EQ(PackWithLimit(archive, items_, limit), kRightException);
    EXPECT_FALSE(std::filesystem::exists(archive));
  }
  EXPECT_EQ(PackWithLimit(archive, items_, size_), kNoException);
  EXPECT_EQ(std::filesystem::file_size(archive), size_);
}

TEST_F(ZipWriterDiskFullTest, FailedRewriteKeepsTheOldArchive) {
  const std::string archive = dir_.Join("reference.zip");
  const std::string before = test::ReadFile(archive);
  test::TempDir temp;
  const std::string extra = dir_.Join("extra.bin");
  test::WriteFile(extra, std::string(50000, 'e'));
  EXPECT_EQ(PackWithLimit(archive, {extra}, size_ + 10, temp.Path()), kRightException);
  EXPECT_EQ(test::ReadFile(archive), before);
  EXPECT_TRUE(std::filesystem::is_empty(temp.Path()));
}

}  // namespace
}  // namespace kvelv
