// The secret-bytes type: its memory (locked, out of core dumps, zeros in a forked child), what
// it keeps and wipes, and the password line read from a file or a pipe.
#include "platform/SecretBytes.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/SecretLine.h"
#include "tests/support/MemoryScan.h"
#include "tests/support/TestSupport.h"

namespace kvelv::platform {
namespace {

// The VmFlags of the mapping that holds `address`, from /proc/self/smaps.
std::string FlagsAt(const void* address) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    const size_t dash = line.find('-');
    if (dash != std::string::npos && dash < line.find(' ') && line.find(':') > dash) {
      const uintptr_t start = std::stoull(line.substr(0, dash), nullptr, 16);
      const uintptr_t end = std::stoull(line.substr(dash + 1), nullptr, 16);
      inside = at >= start && at < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.substr(8) + " ";
    }
  }
  return {};
}

TEST(SecretBytes, KeepsItsBytesThroughGrowthAndMoves) {
  SecretBytes secret("abc");
  const std::string big(10000, 'x');  // beyond the first page: the bytes move to new memory
  secret.Append(big);
  EXPECT_EQ(secret.View(), "abc" + big);
  SecretBytes moved = std::move(secret);
  EXPECT_TRUE(secret.Empty());  // NOLINT(bugprone-use-after-move): a moved-from secret is empty
  EXPECT_EQ(moved.Size(), 10003u);
  moved.Resize(2);
  EXPECT_EQ(moved.View(), "ab");
  moved.Resize(4);
  EXPECT_EQ(moved.View(), std::string("ab\0\0", 4));
  const SecretBytes copy = moved.Clone();
  EXPECT_EQ(copy.View(), moved.View());
  EXPECT_NE(copy.Data(), moved.Data());
  moved.Clear();
  EXPECT_TRUE(moved.Empty());
}

TEST(SecretBytes, TakesTheTextOverAndWipesItThere) {
  std::string argument = "hand-over-of-a-password";
  const char* storage = argument.data();
  const size_t length = argument.size();
  const SecretBytes secret = SecretBytes::TakeFrom(argument);
  EXPECT_EQ(secret.View(), "hand-over-of-a-password");
  EXPECT_TRUE(argument.empty());
  EXPECT_EQ(std::string(storage, length), std::string(length, '\0'));  // the same storage, kept by the string
}

TEST(SecretBytes, LivesInMemoryLeftOutOfDumpsAndForks) {
  SecretBytes secret("forked-child-sees-zeros");
  const std::string flags = FlagsAt(secret.Data());
  EXPECT_NE(flags.find(" dd "), std::string::npos) << flags;  // not in a core dump
  EXPECT_NE(flags.find(" wf "), std::string::npos) << flags;  // zeros in a forked child
  // (AddressSanitizer answers mlock with success and locks nothing.)
  if (secret.Locked() && !test::UnderSanitizer()) {
    EXPECT_NE(flags.find(" lo "), std::string::npos) << flags;  // never swapped out
  }

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const char seen = secret.Data()[0] == 0 && secret.Data()[secret.Size() - 1] == 0 ? 'z' : 's';
    _exit(write(ends[1], &seen, 1) == 1 ? 0 : 1);
  }
  char seen = '?';
  EXPECT_EQ(read(ends[0], &seen, 1), 1);
  waitpid(child, nullptr, 0);
  close(ends[0]);
  close(ends[1]);
  EXPECT_EQ(seen, 'z');
  EXPECT_EQ(secret.View(), "forked-child-sees-zeros");  // the parent keeps it
}

TEST(SecretLine, KeepsTheFirstLineWithoutItsEndingOrAByteOrderMark) {
  const struct {
    std::string read, kept;
  } cases[] = {
      {"pw", "pw"},          {"pw\n", "pw"},       {"pw\r\nnext\n", "pw"}, {"\xEF\xBB\xBFpw\r\n", "pw"},
      {"", ""},              {"\n", ""},           {"\r\n", ""},           {"a\rb c\t\"=x\"\n", "a\rb c\t\"=x\""},
      {"trailing \n", "trailing "},
  };
  for (const auto& c : cases) {
    SecretBytes text(c.read);
    KeepFirstLine(text);
    EXPECT_EQ(text.View(), c.kept) << c.read;
  }
}

TEST(SecretLine, ReadsFilesAndPipesAndSaysWhyItCannot) {
  test::TempDir dir;
  test::WriteFile(dir.Join("pw"), "first line\r\nsecond\n");
  std::error_code ec;
  EXPECT_EQ(ReadSecretLine(dir.Join("pw"), ec).View(), "first line");
  EXPECT_FALSE(ec);

  // A pipe (as a process substitution gives it): the first line only; the rest stays in it.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "piped\nrest", 10), 10);
  close(ends[1]);
  EXPECT_EQ(ReadSecretLine("/dev/fd/" + std::to_string(ends[0]), ec).View(), "piped");
  char rest[8] = {};
  EXPECT_EQ(read(ends[0], rest, sizeof rest), 4);
  EXPECT_STREQ(rest, "rest");
  close(ends[0]);

  EXPECT_TRUE(ReadSecretLine(dir.Join("missing"), ec).Empty());
  EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
  ReadSecretLine(dir.Path(), ec);
  EXPECT_EQ(ec, std::errc::is_a_directory);
  test::WriteFile(dir.Join("long"), std::string(kMaxSecretLine + 1, 'x'));
  EXPECT_TRUE(ReadSecretLine(dir.Join("long"), ec).Empty());
  EXPECT_EQ(ec, std::errc::value_too_large);
  test::WriteFile(dir.Join("exact"), std::string(kMaxSecretLine, 'x') + "\n");
  EXPECT_EQ(ReadSecretLine(dir.Join("exact"), ec).Size(), kMaxSecretLine);
  EXPECT_FALSE(ec);
}

}  // namespace
}  // namespace kvelv::platform
