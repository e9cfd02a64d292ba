// Encrypt and decrypt through the console build, as a user runs it, and containers exchanged
// with other tools (zip writers plus the openssl command).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/FaultRun.h"
#include "tests/support/RunProcess.h"
#include "tests/support/ScopedTempDirEnv.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kPassword = "Sommer2026!";

ProcessResult Encrypt(const std::string& files, const std::string& target,
                      const std::string& password = kPassword) {
  return test::RunKvelv({"-encrypt", "-password=" + password, "-files=" + files, "-to_file=" + target});
}

ProcessResult Decrypt(const std::string& container, const std::string& folder,
                      const std::string& password = kPassword) {
  return test::RunKvelv({"-decrypt", "-password=" + password, "-file=" + container, "-to_folder=" + folder});
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The openssl command with the container's fixed cipher settings.
std::string OpensslEnc(const std::string& direction, const std::string& in, const std::string& out,
                       const std::string& password = kPassword) {
  return "key=$(printf %s " + Quote(password) +
         " | openssl dgst -sha256 -hex | sed 's/.*= //'); openssl enc " + direction +
         " -aes-256-cbc -K $key -iv 35313730383236343339393135303632 -in " + Quote(in) +
         " -out " + Quote(out);
}

class RoundTrip : public ::testing::Test {
 protected:
  TempDir src_, out_, work_;  // made before $TMPDIR is replaced, so they don't land in it
  ScopedTempDirEnv tmp_;
  std::string container_ = work_.Join("x.orvkvelv");
};

TEST_F(RoundTrip, SeveralFilesComeBackUnchanged) {
  std::mt19937 rng(42);
  std::string big(30 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>(rng() % 64 + 32);
  WriteFile(src_.Join("big.bin"), big);
  WriteFile(src_.Join("empty.txt"), "");
  WriteFile(src_.Join("one.txt"), "én linje\n");
  const std::string files = src_.Join("one.txt") + ";" + src_.Join("empty.txt") + ";" + src_.Join("big.bin");
  auto enc = Encrypt(files, container_);
  ASSERT_EQ(enc.exitCode, 0) << enc.out << enc.err;
  EXPECT_EQ(enc.out, "");
  EXPECT_TRUE(tmp_.IsEmpty());

  auto dec = Decrypt(container_, out_.Path());
  ASSERT_EQ(dec.exitCode, 0) << dec.out << dec.err;
  EXPECT_EQ(dec.out, "");
  EXPECT_EQ(test::ListTree(out_.Path()), (std::vector<std::string>{"big.bin", "empty.txt", "one.txt"}));
  EXPECT_EQ(ReadFile(out_.Join("big.bin")), big);
  EXPECT_EQ(ReadFile(out_.Join("empty.txt")), "");
  EXPECT_EQ(ReadFile(out_.Join("one.txt")), "én linje\n");
  EXPECT_TRUE(tmp_.IsEmpty());
}

TEST_F(RoundTrip, NationalNamesSurvive) {
  const std::vector<std::string> names{"brød.txt", "Årsrapport.txt", "€.txt", "Ænima ü ì É.txt"};
  std::string files;
  for (const auto& n : names) {
    WriteFile(src_.Join(n), n);
    files += (files.empty() ? "" : ";") + src_.Join(n);
  }
  ASSERT_EQ(Encrypt(files, container_).exitCode, 0);
  ASSERT_EQ(Decrypt(container_, out_.Path()).exitCode, 0);
  for (const auto& n : names) EXPECT_EQ(ReadFile(out_.Join(n)), n) << n;
}

TEST_F(RoundTrip, DuplicateNamesKeepTheFirst) {
  fs::create_directories(src_.Join("a"));
  fs::create_directories(src_.Join("b"));
  WriteFile(src_.Join("a/report.txt"), "first");
  WriteFile(src_.Join("b/REPORT.TXT"), "second");
  ASSERT_EQ(Encrypt(src_.Join("a/report.txt") + ";" + src_.Join("b/REPORT.TXT"), container_).exitCode, 0);
  ASSERT_EQ(Decrypt(container_, out_.Path()).exitCode, 0);
  EXPECT_EQ(test::ListTree(out_.Path()), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(ReadFile(out_.Join("report.txt")), "first");
}

TEST_F(RoundTrip, HiddenFilesOnlyGiveAnEmptyContainerThatDoesNotDecrypt) {
  WriteFile(src_.Join(".skjult"), "x");
  ASSERT_EQ(Encrypt(src_.Join(".skjult"), container_).exitCode, 0);
  EXPECT_EQ(Decrypt(container_, out_.Path()).exitCode, 2);
  EXPECT_TRUE(fs::is_empty(out_.Path()));
  EXPECT_TRUE(tmp_.IsEmpty());
}

TEST_F(RoundTrip, ExistingTargetsAreOverwrittenAndAReadOnlyOneStopsTheRun) {
  WriteFile(src_.Join("a.txt"), "new a");
  WriteFile(src_.Join("b.txt"), "new b");
  ASSERT_EQ(Encrypt(src_.Join("a.txt") + ";" + src_.Join("b.txt"), container_).exitCode, 0);
  WriteFile(out_.Join("a.txt"), "old a");
  WriteFile(out_.Join("b.txt"), "old b");
  fs::permissions(out_.Join("b.txt"), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(Decrypt(container_, out_.Path()).exitCode, 2);
  EXPECT_EQ(ReadFile(out_.Join("a.txt")), "old a");
  EXPECT_EQ(ReadFile(out_.Join("b.txt")), "old b");
  fs::permissions(out_.Join("b.txt"), fs::perms::owner_write, fs::perm_options::add);
  ASSERT_EQ(Decrypt(container_, out_.Path()).exitCode, 0);
  EXPECT_EQ(ReadFile(out_.Join("a.txt")), "new a");
  EXPECT_EQ(ReadFile(out_.Join("b.txt")), "new b");
}

TEST_F(RoundTrip, TimesAndReadOnlyAttributeAreKept) {
  WriteFile(src_.Join("t.txt"), "time");
  WriteFile(src_.Join("ro.txt"), "read only");
  const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(24 * 40) - std::chrono::seconds(7);
  fs::last_write_time(src_.Join("t.txt"), stamp);
  fs::permissions(src_.Join("ro.txt"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  ASSERT_EQ(Encrypt(src_.Join("t.txt") + ";" + src_.Join("ro.txt"), container_).exitCode, 0);
  ASSERT_EQ(Decrypt(container_, out_.Path()).exitCode, 0);
  const auto got = fs::last_write_time(out_.Join("t.txt"));
  const auto diff = std::chrono::duration_cast<std::chrono::seconds>(stamp - got).count();
  EXPECT_GE(diff, 0);  // DOS time keeps even seconds, rounding down
  EXPECT_LE(diff, 2);
  EXPECT_EQ(fs::status(out_.Join("ro.txt")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(ReadFile(out_.Join("ro.txt")), "read only");
}

TEST_F(RoundTrip, ArchiveInsideOurContainerPassesUnzip) {
  WriteFile(src_.Join("a.txt"), std::string(100000, 'a'));
  WriteFile(src_.Join("b.txt"), "b");
  ASSERT_EQ(Encrypt(src_.Join("a.txt") + ";" + src_.Join("b.txt"), container_).exitCode, 0);
  const std::string zip = work_.Join("plain.zip");
  ASSERT_EQ(Shell(OpensslEnc("-d", container_, zip)), 0);
  EXPECT_EQ(Shell("unzip -tq " + Quote(zip) + " >/dev/null"), 0);
}

TEST_F(RoundTrip, FailuresExtractNothingAndLeaveNoPlaintext) {
  WriteFile(src_.Join("a.txt"), std::string(50000, 'q'));
  ASSERT_EQ(Encrypt(src_.Join("a.txt"), container_).exitCode, 0);
  EXPECT_EQ(Decrypt(container_, out_.Path(), "wrong").exitCode, 2);

  const std::string whole = ReadFile(container_);
  const std::string truncated = work_.Join("truncated.orvkvelv");
  WriteFile(truncated, whole.substr(0, whole.size() - 16));
  EXPECT_EQ(Decrypt(truncated, out_.Path()).exitCode, 2);

  std::string corrupt = whole;
  corrupt[corrupt.size() / 2] ^= 0x55;
  const std::string corrupted = work_.Join("corrupt.orvkvelv");
  WriteFile(corrupted, corrupt);
  EXPECT_EQ(Decrypt(corrupted, out_.Path()).exitCode, 2);

  EXPECT_TRUE(fs::is_empty(out_.Path()));
  EXPECT_TRUE(tmp_.IsEmpty());
}

// Writes a ZIP with python's zipfile, lets `patch` (python code on the bytes `b`) damage it and
// wraps it in a container with the openssl command.
void MakeContainerWithPython(const std::string& container, const std::string& work,
                             const std::string& entries, const std::string& patch) {
  const std::string zip = work + "/made.zip";
  const std::string script = "import zipfile,sys\n"
                             "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n" +
                             entries + "z.close()\nb=bytearray(open(sys.argv[1],'rb').read())\n" +
                             patch + "\nopen(sys.argv[1],'wb').write(bytes(b))\n";
  WriteFile(work + "/make.py", script);
  ASSERT_EQ(Shell("python3 " + Quote(work + "/make.py") + " " + Quote(zip)), 0);
  ASSERT_EQ(Shell(OpensslEnc("-e", zip, container)), 0);
}

TEST_F(RoundTrip, DamagedArchivesInsideValidContainersFail) {
  struct Case {
    const char* name;
    const char* patch;
  } cases[] = {
      // CRC field of the central header of the first entry.
      {"crc", "i=b.find(b'PK\\x01\\x02'); b[i+16]^=0xFF"},
      // Unknown compression method 12 in both headers.
      {"method", "i=b.find(b'PK\\x03\\x04'); b[i+8]=12\ni=b.find(b'PK\\x01\\x02'); b[i+10]=12"},
      // Entry data cut short: compressed size larger than what is there.
      {"short", "i=b.find(b'PK\\x01\\x02'); b[i+20:i+24]=(0x7FFFFFF).to_bytes(4,'little')"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string container = work_.Join(std::string(c.name) + ".orvkvelv");
    MakeContainerWithPython(container, work_.Path(),
                            "z.writestr('a.txt', 'x'*5000)\nz.writestr('b.txt', 'y'*300)\n", c.patch);
    EXPECT_EQ(Decrypt(container, out_.Path()).exitCode, 2);
    EXPECT_TRUE(fs::is_empty(out_.Path()));
    EXPECT_TRUE(tmp_.IsEmpty());
  }
}

TEST_F(RoundTrip, ContainersOfOtherZipWritersExtractFlat) {
  // Folder entries create nothing; docs/a.txt and b/a.txt both land as a.txt, the later winning.
  const std::string container = work_.Join("py.orvkvelv");
  MakeContainerWithPython(container, work_.Path(),
                          "z.writestr('docs/', '')\nz.writestr('docs/a.txt', 'first')\n"
                          "z.writestr('b/a.txt', 'second')\nz.writestr('c.txt', 'c'*1000)\n",
                          "");
  ASSERT_EQ(Decrypt(container, out_.Path()).exitCode, 0);
  EXPECT_EQ(test::ListTree(out_.Path()), (std::vector<std::string>{"a.txt", "c.txt"}));
  EXPECT_EQ(ReadFile(out_.Join("a.txt")), "second");
}

TEST_F(RoundTrip, ContainersOfInfoZipAnd7zExtract) {
  fs::create_directories(src_.Join("sub"));
  WriteFile(src_.Join("sub/one.txt"), std::string(20000, '1'));
  WriteFile(src_.Join("two.txt"), "2");
  const std::string zip = work_.Join("info.zip");
  ASSERT_EQ(Shell("cd " + Quote(src_.Path()) + " && zip -qr " + Quote(zip) + " sub two.txt"), 0);
  ASSERT_EQ(Shell(OpensslEnc("-e", zip, container_)), 0);
  ASSERT_EQ(Decrypt(container_, out_.Path()).exitCode, 0);
  EXPECT_EQ(test::ListTree(out_.Path()), (std::vector<std::string>{"one.txt", "two.txt"}));
  EXPECT_EQ(ReadFile(out_.Join("one.txt")), std::string(20000, '1'));

  if (Shell("command -v 7z >/dev/null 2>&1") != 0) GTEST_SKIP() << "7z is not installed";
  TempDir out2;  // inside the test's $TMPDIR: check the listing only
  const std::string zip7 = work_.Join("seven.zip");
  ASSERT_EQ(Shell("cd " + Quote(src_.Path()) + " && 7z a -tzip -bd " + Quote(zip7) + " sub two.txt >/dev/null"), 0);
  const std::string c7 = work_.Join("seven.orvkvelv");
  ASSERT_EQ(Shell(OpensslEnc("-e", zip7, c7)), 0);
  ASSERT_EQ(Decrypt(c7, out2.Path()).exitCode, 0);
  EXPECT_EQ(test::ListTree(out2.Path()), (std::vector<std::string>{"one.txt", "two.txt"}));
}

TEST_F(RoundTrip, OurContainersDecryptWithOpenssl) {
  WriteFile(src_.Join("a.txt"), "interop");
  ASSERT_EQ(Encrypt(src_.Join("a.txt"), container_, "pässord").exitCode, 0);
  const std::string zip = work_.Join("plain.zip");
  // The key is the SHA-256 of the password's windows-1252 bytes.
  ASSERT_EQ(Shell("key=$(printf 'p\\344ssord' | openssl dgst -sha256 -hex | sed 's/.*= //'); "
                  "openssl enc -d -aes-256-cbc -K $key -iv 35313730383236343339393135303632 -in " +
                  Quote(container_) + " -out " + Quote(zip)),
            0);
  EXPECT_EQ(Shell("unzip -p " + Quote(zip) + " a.txt | grep -qx interop"), 0);
}

}  // namespace
}  // namespace kvelv::test
