// The buffered file stream: reads, writes and seeks across its buffer, and a full disk.
#include "zip/common/BufferedFileStream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/RecordBytes.h"
#include "tests/support/TestSupport.h"
#include "zip/ZipExceptions.h"

namespace kvelv {
namespace {

using namespace test::record_bytes;

TEST(BufferedFileStreamTest, MixedReadsWritesAndSeeksAcrossBufferBoundaries) {
  test::TempDir dir;
  const std::string path = dir.Join("f");
  std::string expected;
  for (int i = 0; i < 30000; ++i) expected.push_back(static_cast<char>(i * 7));
  {
    BufferedFileStream s(1000);
    std::error_code ec;
    ASSERT_TRUE(s.Open(path, platform::OpenMode::CreateAlways, ec));
    for (size_t at = 0; at < expected.size(); at += 777)
      s.WriteAll(expected.data() + at, static_cast<int64_t>(std::min<size_t>(777, expected.size() - at)));
    EXPECT_EQ(s.Size(), 30000);
    ASSERT_TRUE(s.Seek(5));
    s.WriteAll("HELLO", 5);  // rewrite in place, like the writer's second local header
    expected.replace(5, 5, "HELLO");
    ASSERT_TRUE(s.Seek(29990));
    char tail[20] = {};
    EXPECT_EQ(s.Read(tail, 20), 10);
    EXPECT_EQ(std::string(tail, 10), expected.substr(29990));
    ASSERT_TRUE(s.Seek(0));
    std::string all(30000, '\0');
    EXPECT_TRUE(s.ReadExact(all.data(), 30000));
    EXPECT_EQ(all, expected);
    EXPECT_TRUE(s.Close());
  }
  EXPECT_EQ(test::ReadFile(path), expected);
}

// Seeking back into bytes not yet flushed rewrites them in the buffer; writes may then run past
// the old end, up to and across the buffer's end.
TEST(BufferedFileStreamTest, RewritesInsidePendingBytesLandInTheFile) {
  test::TempDir dir;
  const std::string path = dir.Join("f");
  BufferedFileStream s(64);
  std::error_code ec;
  ASSERT_TRUE(s.Open(path, platform::OpenMode::CreateAlways, ec));
  std::string expected(150, '.');
  for (int at = 0; at < 150; at += 10) s.WriteAll(expected.data() + at, 10);  // 22 pending from 128
  ASSERT_TRUE(s.Seek(130));
  s.WriteAll("abc", 3);
  expected.replace(130, 3, "abc");
  ASSERT_TRUE(s.Seek(140));
  s.WriteAll(std::string(60, 'Z').data(), 60);  // past the old end and across the buffer's end
  expected.replace(140, 10, std::string(10, 'Z'));
  expected += std::string(50, 'Z');
  EXPECT_EQ(s.Position(), 200);
  EXPECT_EQ(s.Size(), 200);
  ASSERT_TRUE(s.Seek(100));  // before the pending bytes: flushed, then written in place
  s.WriteAll("HEADER", 6);
  expected.replace(100, 6, "HEADER");
  ASSERT_TRUE(s.Seek(200));
  s.WriteAll("!", 1);
  expected += "!";
  EXPECT_TRUE(s.Close());
  EXPECT_EQ(test::ReadFile(path), expected);
}

TEST(BufferedFileStreamTest, FullDiskIsReportedByWriteAllAndClose) {
  BufferedFileStream s;
  std::error_code ec;
  if (!s.Open("/dev/full", platform::OpenMode::WriteExisting, ec))
    GTEST_SKIP() << "/dev/full cannot be opened here: " << ec.message();
  const std::string block(100, 'x');
  s.WriteAll(block.data(), 100);  // still in the buffer
  EXPECT_FALSE(s.Close());        // the final flush fails and says so

  BufferedFileStream t;
  ASSERT_TRUE(t.Open("/dev/full", platform::OpenMode::WriteExisting, ec));
  const std::string big(20000, 'y');
  try {
    t.WriteAll(big.data(), static_cast<int64_t>(big.size()));
    FAIL() << "no exception";
  } catch (const ENotEnoughRoom& e) {
    EXPECT_STREQ(e.what(), "Not enough room to write archive");
  }
  EXPECT_TRUE(t.Failed());
  EXPECT_EQ(t.Write("z", 1), 0);
}

}  // namespace
}  // namespace kvelv
