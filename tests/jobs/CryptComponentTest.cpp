#include "jobs/CryptComponent.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;

// The job's fixed initialisation vector, as ASCII text and as the hex openssl takes.
constexpr char kIvText[] = "5170826439915062";
constexpr char kIvHex[] = "35313730383236343339393135303632";

std::unique_ptr<CryptComponent> NewComponent() {
  std::string error;
  auto component = CryptComponent::Create(&error);
  if (!component) ADD_FAILURE() << "Create failed: " << error;
  return component;
}

// The set-up both jobs make before they encrypt or decrypt.
std::unique_ptr<CryptComponent> JobComponent(const std::string& password) {
  auto c = NewComponent();
  c->SetCryptAlgorithm("aes");
  c->SetCipherMode("cbc");
  c->SetKeyBits(256);
  c->SetHashAlgorithm("sha256");
  c->LoadKey(c->EncodeBytes(c->DigestText(password), "hex"), "hex");
  c->LoadIV(kIvText, "ascii");
  return c;
}

std::string Hex(CryptComponent& c, const std::vector<uint8_t>& bytes) { return c.EncodeBytes(bytes, "hex"); }

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  uint32_t state = 12345;
  for (char& ch : data) {
    state = state * 1103515245u + 12345u;
    ch = static_cast<char>(state >> 24);
  }
  return data;
}

// Names in the folder, so a test sees a temporary file left behind.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int RunCommand(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

// --- Digests and encodings -------------------------------------------------------------------

TEST(CryptDigest, Sha256KnownAnswers) {
  auto c = NewComponent();
  c->SetHashAlgorithm("SHA256");
  // FIPS 180-2, appendix B.1 and B.2; the empty string from NIST's example values.
  EXPECT_EQ(Hex(*c, c->DigestText("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(*c, c->DigestText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(*c, c->DigestText("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(CryptDigest, Md5KnownAnswers) {
  auto c = NewComponent();
  c->SetHashAlgorithm("md5");
  // RFC 1321, appendix A.5 test suite.
  EXPECT_EQ(Hex(*c, c->DigestText("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex(*c, c->DigestText("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex(*c, c->DigestText("message digest")), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(CryptDigest, LoginHashIsBase64OfMd5OfWindows1252Bytes) {
  // Expected values: base64(md5(text.encode("cp1252", errors="replace"))) in python3.
  const struct {
    const char* password;
    const char* hash;
  } cases[] = {
      {"passord", "VvSRxWNApvpcFYhjxr+znw=="},
      {"\xC3\xB8\xE2\x82\xAC", "ArmO8GjriLQsg6HeIy4XKw=="},            // "ø€": bytes F8 80
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE2\x82\xAC", "ML/6SnyVbEwq3uWXbSMOYw=="},  // "日本€": "??" 80
  };
  for (const auto& test : cases) {
    auto c = NewComponent();
    c->SetEncodingMode("base64");
    c->SetCharset("windows-1252");
    c->SetHashAlgorithm("md5");
    std::string hash = c->DigestTextEncoded(test.password);
    EXPECT_EQ(hash, test.hash) << test.password;
    EXPECT_EQ(hash.size(), 24u);
  }
}

TEST(CryptDigest, JobPasswordBytesAreWindows1252WhenPossibleElseUtf8) {
  auto c = NewComponent();
  c->SetHashAlgorithm("sha256");
  // sha256("blåbær".encode("cp1252")) and sha256("日本".encode("utf-8")) in python3.
  EXPECT_EQ(Hex(*c, c->DigestText("bl\xC3\xA5" "b\xC3\xA6r")),
            "88762752ac077c4f6d47304515be72daca5b0121ed529ab8cb694945bd01f66d");
  EXPECT_EQ(Hex(*c, c->DigestText("\xE6\x97\xA5\xE6\x9C\xAC")),
            "cf2abf0c5be326cb922a70f8163f91079c4d9aa8655c60ead89ad545c9de2e92");
  // One unmappable character makes the whole text UTF-8, never a lossy "?".
  c->SetCharset("utf-8");
  std::string mixed = "\xC3\xB8\xE6\x97\xA5";  // "ø日"
  std::vector<uint8_t> utf8 = c->DigestText(mixed);
  c->SetCharset("");
  EXPECT_EQ(c->DigestText(mixed), utf8);
}

TEST(CryptEncoding, HexAndBase64) {
  auto c = NewComponent();
  EXPECT_EQ(c->EncodeBytes({0x00, 0x0f, 0xab, 0xff}, "hex"), "000fabff");
  EXPECT_EQ(c->EncodeBytes({}, "hex"), "");
  // RFC 4648, section 10.
  const char* base64[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  std::string foobar = "foobar";
  for (size_t n = 0; n <= foobar.size(); ++n)
    EXPECT_EQ(c->EncodeBytes(std::vector<uint8_t>(foobar.begin(), foobar.begin() + n), "Base64"), base64[n]);
  EXPECT_EQ(c->EncodeBytes({'A', 'b'}, "ascii"), "Ab");
  EXPECT_THROW(c->EncodeBytes({0x80}, "ascii"), CryptError);
  EXPECT_THROW(c->EncodeBytes({1}, "rot13"), CryptError);
}

TEST(CryptEncoding, BadSettingsRaiseCryptError) {
  auto c = NewComponent();
  EXPECT_THROW(c->DigestText("x"), CryptError);  // no hash algorithm
  c->SetHashAlgorithm("sha1");
  EXPECT_THROW(c->DigestText("x"), CryptError);
  c->SetHashAlgorithm("md5");
  EXPECT_THROW(c->DigestTextEncoded("x"), CryptError);  // no encoding mode
  c->SetCharset("koi8-r");
  EXPECT_THROW(c->DigestText("x"), CryptError);

  std::string key(64, 'a');
  EXPECT_THROW(c->LoadKey(key.substr(2), "hex"), CryptError);        // 31 bytes
  EXPECT_THROW(c->LoadKey(key + "aa", "hex"), CryptError);           // 33 bytes
  EXPECT_THROW(c->LoadKey(key.substr(1) + "g", "hex"), CryptError);  // not a hex digit
  EXPECT_THROW(c->LoadKey(key.substr(1), "hex"), CryptError);        // odd digit count
  EXPECT_THROW(c->LoadKey(key, "octal"), CryptError);
  EXPECT_THROW(c->LoadIV("517082643991506", "ascii"), CryptError);
  EXPECT_THROW(c->LoadIV("NTE3MDgyNjQzOTkxNTA2Mg=", "base64"), CryptError);
  EXPECT_THROW(c->LoadIV("NTE3MDgyNjQzOTkxNT=2Mg==", "base64"), CryptError);
  c->SetKeyBits(128);
  EXPECT_THROW(c->LoadKey(key.substr(32), "hex"), CryptError);
}

// --- Creation --------------------------------------------------------------------------------

TEST(CryptCreate, FailsWhenAnAlgorithmCannotBeFetched) {
  CryptAlgorithms bogusCipher;
  bogusCipher.cipher = "NO-SUCH-CIPHER";
  CryptAlgorithms bogusSha;
  bogusSha.sha256 = "NO-SUCH-DIGEST";
  CryptAlgorithms bogusMd5;
  bogusMd5.md5 = "NO-SUCH-MD5";
  CryptAlgorithms wrongCipher;
  wrongCipher.cipher = "AES-128-CBC";  // exists, but would not read our containers
  for (const CryptAlgorithms& names : {bogusCipher, bogusSha, bogusMd5, wrongCipher}) {
    std::string error;
    EXPECT_EQ(CryptComponent::Create(names, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_NE(CryptComponent::Create(CryptAlgorithms{}, nullptr), nullptr);
}

// --- Files -----------------------------------------------------------------------------------

class CryptFiles : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string plain_ = dir_.Join("plain.zip");
  std::string container_ = dir_.Join("plain.enc");
  std::string back_ = dir_.Join("back.zip");
};

TEST_F(CryptFiles, RoundTripKeepsEveryByteAndPadsToTheNextBlock) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{(1 << 20) + 3}}) {
    SCOPED_TRACE(size);
    std::string data = Pattern(size);
    test::WriteFile(plain_, data);
    auto c = JobComponent("hemmelig");
    ASSERT_EQ(c->EncryptFileTo(plain_, container_), 1) << c->FailureText();
    EXPECT_EQ(fs::file_size(container_), (size / 16 + 1) * 16);
    ASSERT_EQ(c->DecryptFileTo(container_, back_), 1) << c->FailureText();
    EXPECT_TRUE(test::ReadFile(back_) == data);
    EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"back.zip", "plain.enc", "plain.zip"}));
  }
}

TEST_F(CryptFiles, KeyAndVectorEncodingsAgree) {
  test::WriteFile(plain_, Pattern(100));
  auto a = JobComponent("pw");
  ASSERT_EQ(a->EncryptFileTo(plain_, container_), 1);
  // Same key in upper-case hex and Base64, same vector in Base64: same container.
  auto b = NewComponent();
  b->SetCryptAlgorithm("AES");
  b->SetCipherMode("CBC");
  b->SetHashAlgorithm("sha256");
  std::string hex = b->EncodeBytes(b->DigestText("pw"), "hex");
  for (char& ch : hex) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  b->LoadKey(hex, "hex");
  b->LoadIV("NTE3MDgyNjQzOTkxNTA2Mg==", "base64");
  ASSERT_EQ(b->EncryptFileTo(plain_, back_), 1) << b->FailureText();
  EXPECT_EQ(test::ReadFile(back_), test::ReadFile(container_));
  b->LoadKey(b->EncodeBytes(b->DigestText("pw"), "base64"), "base64");
  ASSERT_EQ(b->EncryptFileTo(plain_, back_), 1) << b->FailureText();
  EXPECT_EQ(test::ReadFile(back_), test::ReadFile(container_));
}

TEST_F(CryptFiles, OpensslReadsAndWritesTheSameContainers) {
  ASSERT_EQ(RunCommand("openssl version >/dev/null"), 0) << "the openssl command is needed";
  auto c = JobComponent("bl\xC3\xA5" "b\xC3\xA6r");
  std::string keyHex = Hex(*c, c->DigestText("bl\xC3\xA5" "b\xC3\xA6r"));
  std::string openssl = "openssl enc -aes-256-cbc -K " + keyHex + " -iv " + kIvHex;
  std::string data = Pattern(70000);
  test::WriteFile(plain_, data);

  ASSERT_EQ(c->EncryptFileTo(plain_, container_), 1) << c->FailureText();
  ASSERT_EQ(RunCommand(openssl + " -d -in '" + container_ + "' -out '" + back_ + "'"), 0);
  EXPECT_TRUE(test::ReadFile(back_) == data);

  std::string foreign = dir_.Join("foreign.enc");
  std::string fromForeign = dir_.Join("foreign.zip");
  ASSERT_EQ(RunCommand(openssl + " -in '" + plain_ + "' -out '" + foreign + "'"), 0);
  EXPECT_EQ(test::ReadFile(foreign), test::ReadFile(container_));
  ASSERT_EQ(c->DecryptFileTo(foreign, fromForeign), 1) << c->FailureText();
  EXPECT_TRUE(test::ReadFile(fromForeign) == data);
}

TEST_F(CryptFiles, WrongPasswordFailsAndLeavesNoTarget) {
  test::WriteFile(plain_, Pattern(5000));
  ASSERT_EQ(JobComponent("right")->EncryptFileTo(plain_, container_), 1);
  auto c = JobComponent("wrong");
  EXPECT_NE(c->DecryptFileTo(container_, back_), 1);
  EXPECT_FALSE(c->FailureText().empty());
  EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"plain.enc", "plain.zip"}));
}

TEST_F(CryptFiles, DamagedContainersFailAndLeaveNothing) {
  test::WriteFile(plain_, Pattern(40));
  auto c = JobComponent("pw");
  ASSERT_EQ(c->EncryptFileTo(plain_, container_), 1);
  std::string whole = test::ReadFile(container_);
  for (const std::string& damaged : {whole.substr(0, whole.size() - 1), whole.substr(0, 15), std::string()}) {
    SCOPED_TRACE(damaged.size());
    test::WriteFile(container_, damaged);
    EXPECT_EQ(c->DecryptFileTo(container_, back_), 0);
    EXPECT_FALSE(c->FailureText().empty());
    EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"plain.enc", "plain.zip"}));
  }
}

TEST_F(CryptFiles, FailureLeavesAnExistingTargetAsItWas) {
  test::WriteFile(container_, Pattern(33));  // not a multiple of 16
  test::WriteFile(back_, "keep me");
  auto c = JobComponent("pw");
  EXPECT_EQ(c->DecryptFileTo(container_, back_), 0);
  EXPECT_EQ(test::ReadFile(back_), "keep me");

  test::WriteFile(container_, Pattern(64));  // aligned, but the padding will not check out
  EXPECT_EQ(c->DecryptFileTo(container_, back_), 0);
  EXPECT_EQ(test::ReadFile(back_), "keep me");
  EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"back.zip", "plain.enc"}));
}

TEST_F(CryptFiles, SuccessReplacesAnExistingTarget) {
  test::WriteFile(plain_, "new content");
  test::WriteFile(container_, std::string(5000, 'x'));
  auto c = JobComponent("pw");
  ASSERT_EQ(c->EncryptFileTo(plain_, container_), 1);
  ASSERT_EQ(c->DecryptFileTo(container_, back_), 1);
  EXPECT_EQ(test::ReadFile(back_), "new content");
}

TEST_F(CryptFiles, MissingSourceOrUnusableTargetFailsWithoutThrowing) {
  auto c = JobComponent("pw");
  EXPECT_EQ(c->EncryptFileTo(dir_.Join("absent.zip"), container_), 0);
  EXPECT_NE(c->FailureText().find("absent.zip"), std::string::npos) << c->FailureText();
  EXPECT_EQ(c->DecryptFileTo(dir_.Join("absent.enc"), back_), 0);
  EXPECT_FALSE(c->FailureText().empty());

  test::WriteFile(plain_, "data");
  EXPECT_EQ(c->EncryptFileTo(plain_, dir_.Join("no/such/folder/x.enc")), 0);
  EXPECT_FALSE(c->FailureText().empty());
  // A folder in the target's place stays a folder, and no temporary file is left.
  fs::create_directory(container_);
  EXPECT_EQ(c->EncryptFileTo(plain_, container_), 0);
  EXPECT_FALSE(c->FailureText().empty());
  EXPECT_TRUE(fs::is_directory(container_));
  EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"plain.enc", "plain.zip"}));
}

TEST_F(CryptFiles, ReadOnlyTargetIsNotReplaced) {
  test::WriteFile(plain_, "data");
  test::WriteFile(container_, "old");
  ASSERT_TRUE(platform::SetDosAttributes(container_, platform::kAttrReadOnly));
  auto c = JobComponent("pw");
  EXPECT_EQ(c->EncryptFileTo(plain_, container_), 0);
  EXPECT_NE(c->FailureText().find("read-only"), std::string::npos) << c->FailureText();
  EXPECT_EQ(test::ReadFile(container_), "old");
}

// A file-size limit makes writes fail part-way, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

TEST_F(CryptFiles, WriteFailureIsReportedAndCleanedUp) {
  std::string data = Pattern((1 << 20) + 3);
  test::WriteFile(plain_, data);
  test::WriteFile(container_, "old container");
  auto c = JobComponent("pw");
  ASSERT_EQ(c->EncryptFileTo(plain_, back_), 1);
  {
    FileSizeLimit limit(100000);
    EXPECT_EQ(c->EncryptFileTo(plain_, container_), 0);
    EXPECT_NE(c->FailureText().find("plain.enc"), std::string::npos) << c->FailureText();
    EXPECT_EQ(c->DecryptFileTo(back_, dir_.Join("again.zip")), 0);
    EXPECT_FALSE(c->FailureText().empty());
  }
  EXPECT_TRUE(test::ReadFile(container_) == "old container");
  EXPECT_EQ(Entries(dir_.Path()), (std::vector<std::string>{"back.zip", "plain.enc", "plain.zip"}));
}

TEST_F(CryptFiles, UnconfiguredComponentFailsWithAReason) {
  test::WriteFile(plain_, "data");
  auto c = NewComponent();
  c->SetCryptAlgorithm("aes");
  c->SetCipherMode("cbc");
  EXPECT_EQ(c->EncryptFileTo(plain_, container_), 0);  // no key yet
  EXPECT_FALSE(c->FailureText().empty());
  auto d = JobComponent("pw");
  d->SetCipherMode("ecb");
  EXPECT_EQ(d->EncryptFileTo(plain_, container_), 0);
  EXPECT_NE(d->FailureText().find("ecb"), std::string::npos);
  EXPECT_FALSE(fs::exists(container_));
}

}  // namespace
}  // namespace kvelv
