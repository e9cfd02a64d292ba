// Windows paths in their extended-length form, the one the system takes past 260 characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/LongPaths.h"

namespace kvelv::platform {
namespace {

TEST(LongPathsTest, FullPathsGetTheExtendedForm) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\Users\\a\\fil.txt", "\\\\?\\C:\\Users\\a\\fil.txt"},
      {"c:/Users//a/", "\\\\?\\c:\\Users\\a\\"},
      {"D:\\", "\\\\?\\D:\\"},
      {"\\\\server\\share\\dir\\f.txt", "\\\\?\\UNC\\server\\share\\dir\\f.txt"},
      {"//server/share", "\\\\?\\UNC\\server\\share"},
      // Already extended, or a device: as they are.
      {"\\\\?\\C:\\x\\..\\y.", "\\\\?\\C:\\x\\..\\y."},
      {"\\\\?\\UNC\\server\\share", "\\\\?\\UNC\\server\\share"},
      {"\\??\\C:\\x", "\\??\\C:\\x"},
      {"\\\\.\\CON", "\\\\.\\CON"},
      // Not full: no extended form.
      {"fil.txt", "fil.txt"},
      {"dir\\fil.txt", "dir\\fil.txt"},
      {"\\rooted", "\\rooted"},
      {"C:relative", "C:relative"},
      {"", ""},
  };
  for (const auto& [path, expected] : cases) EXPECT_EQ(ExtendedLengthPath(path), expected) << path;
}

}  // namespace
}  // namespace kvelv::platform
