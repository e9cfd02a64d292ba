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

#include "jobs/crypto/CryptoBackend.h"
#include "platform/FileSystem.h"
#include "tests/support/FaultRun.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

namespace fs = std::filesystem;

// The job's fixed initialisation vector, as ASCII text and as the hex openssl takes.
constexpr char kIvText[] = "5170826439915062";
constexpr char kIvHex[] = "35313730383236343339393135303632";

// Every algorithm, MD5 included (the jobs' components leave it out).
std::unique_ptr<CryptComponent> NewComponent() {
  std::string error;
  CryptAlgorithms all;
  all.md5 = "MD5";
  auto component = CryptComponent::Create(all, &error);
  if (!component) ADD_FAILURE() << "Create failed: " << error;
  return component;
}

std::vector<uint8_t> Bytes(const platform::SecretBytes& secret) {
  return {secret.Data(), secret.Data() + secret.Size()};
}

// The set-up both jobs make before they encrypt or decrypt.
std::unique_ptr<CryptComponent> JobComponent(const std::string& password) {
  auto c = NewComponent();
  c->SetCryptAlgorithm("aes");
  c->SetCipherMode("cbc");
  c->SetKeyBits(256);
  c->SetHashAlgorithm("sha256");
  c->LoadKey(c->EncodeBytes(Bytes(c->DigestText(platform::SecretBytes(password))), "hex"), "hex");
  c->LoadIV(kIvText, "ascii");
  return c;
}

std::string Hex(CryptComponent& c, const std::vector<uint8_t>& bytes) { return c.EncodeBytes(bytes, "hex"); }
std::string Hex(CryptComponent& c, const platform::SecretBytes& bytes) { return Hex(c, Bytes(bytes)); }

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  uint32_t state = 12345;
  for (char& ch : data) {
    state = state * 1103515245u + 12345u;
    ch = static_cast<char>(state >> 24);
  }
  return data;
}

int RunCommand(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

// --- Digests and encodings -------------------------------------------------------------------

TEST(CryptDigest, Sha256KnownAnswers) {
  auto c = NewComponent();
  c->SetHashAlgorithm("SHA256");
  // FIPS 180-2, appendix B.1 and B.2; the empty string from NIST's example values.
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes("abc"))), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes(""))), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(CryptDigest, Md5KnownAnswers) {
  auto c = NewComponent();
  c->SetHashAlgorithm("md5");
  // RFC 1321, appendix A.5 test suite.
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes(""))), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes("abc"))), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes("message digest"))), "f96b697d7cb7938d525a2f31aaf161d0");
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
    std::string hash = c->DigestTextEncoded(platform::SecretBytes(test.password));
    EXPECT_EQ(hash, test.hash) << test.password;
    EXPECT_EQ(hash.size(), 24u);
  }
}

TEST(CryptDigest, JobPasswordBytesAreWindows1252WhenPossibleElseUtf8) {
  auto c = NewComponent();
  c->SetHashAlgorithm("sha256");
  // sha256("blåbær".encode("cp1252")) and sha256("日本".encode("utf-8")) in python3.
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes("bl\xC3\xA5" "b\xC3\xA6r"))),
            "88762752ac077c4f6d47304515be72daca5b0121ed529ab8cb694945bd01f66d");
  EXPECT_EQ(Hex(*c, c->DigestText(platform::SecretBytes("\xE6\x97\xA5\xE6\x9C\xAC"))),
            "cf2abf0c5be326cb922a70f8163f91079c4d9aa8655c60ead89ad545c9de2e92");
  // One unmappable character makes the whole text UTF-8, never a lossy "?".
  c->SetCharset("utf-8");
  std::string mixed = "\xC3\xB8\xE6\x97\xA5";  // "ø日"
  std::vector<uint8_t> utf8 = Bytes(c->DigestText(platform::SecretBytes(mixed)));
  c->SetCharset("");
  EXPECT_EQ(Bytes(c->DigestText(platform::SecretBytes(mixed))), utf8);
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
  EXPECT_THROW(c->DigestText(platform::SecretBytes("x")), CryptError);  // no hash algorithm
  c->SetHashAlgorithm("sha1");
  EXPECT_THROW(c->DigestText(platform::SecretBytes("x")), CryptError);
  c->SetHashAlgorithm("md5");
  EXPECT_THROW(c->DigestTextEncoded(platform::SecretBytes("x")), CryptError);  // no encoding mode
  c->SetCharset("koi8-r");
  EXPECT_THROW(c->DigestText(platform::SecretBytes("x")), CryptError);

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
  CryptAlgorithms wrongKeystream;
  wrongKeystream.keystream = "AES-256-CBC";  // not a counter mode
  for (const CryptAlgorithms& names : {bogusCipher, bogusSha, bogusMd5, wrongCipher, wrongKeystream}) {
    std::string error;
    EXPECT_EQ(CryptComponent::Create(names, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_NE(CryptComponent::Create(CryptAlgorithms{}, nullptr), nullptr);
}

// The jobs run where MD5 is not allowed: their component never fetches it, and the login
// check's fetches nothing else.
TEST(CryptCreate, FetchesOnlyWhatItsUserNeeds) {
  EXPECT_TRUE(CryptAlgorithms{}.md5.empty());
  auto jobs = CryptComponent::Create();
  ASSERT_NE(jobs, nullptr);
  jobs->SetHashAlgorithm("md5");
  EXPECT_THROW(jobs->DigestText(platform::SecretBytes("x")), CryptError);

  auto login = CryptComponent::Create(CryptAlgorithms::LoginCheck(), nullptr);
  ASSERT_NE(login, nullptr);
  login->SetHashAlgorithm("md5");
  login->SetEncodingMode("base64");
  EXPECT_EQ(login->DigestTextEncoded(platform::SecretBytes("abc")), "kAFQmDzST7DWlj99KOF/cg==");
  login->SetHashAlgorithm("sha256");
  EXPECT_THROW(login->DigestText(platform::SecretBytes("x")), CryptError);
  EXPECT_EQ(login->NewScratchKeystream(), nullptr);
}

TEST(CryptCompare, EqualInConstantTime) {
  EXPECT_TRUE(CryptComponent::EqualInConstantTime("kAFQmDzST7DWlj99KOF/cg==", "kAFQmDzST7DWlj99KOF/cg=="));
  EXPECT_FALSE(CryptComponent::EqualInConstantTime("kAFQmDzST7DWlj99KOF/cg==", "kAFQmDzST7DWlj99KOF/cG=="));
  EXPECT_FALSE(CryptComponent::EqualInConstantTime("abc", "abcd"));
  EXPECT_TRUE(CryptComponent::EqualInConstantTime("", ""));
}

// --- The temporary archive's keystream ---------------------------------------------------------

std::vector<uint8_t> FromHexText(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::unique_ptr<ArchiveTransform> Keystream(const std::string& keyHex, const std::string& ivHex) {
  std::string error;
  auto backend = crypto::Backend::Open(CryptAlgorithms{}, error);
  EXPECT_NE(backend, nullptr) << error;
  const std::vector<uint8_t> key = FromHexText(keyHex), iv = FromHexText(ivHex);
  auto keystream = backend->NewKeystream(platform::SecretBytes(key.data(), key.size()),
                                         platform::SecretBytes(iv.data(), iv.size()), error);
  EXPECT_NE(keystream, nullptr) << error;
  return keystream;
}

// Applied in pieces at their positions, or in place, it gives what it gives in one go.
void ExpectSameInPieces(const ArchiveTransform& keystream, int64_t at, const std::vector<uint8_t>& in) {
  std::vector<uint8_t> whole(in.size());
  ASSERT_TRUE(keystream.Apply(at, in.data(), whole.data(), in.size()));
  for (size_t cut : {size_t{1}, size_t{15}, size_t{16}, size_t{17}, in.size() / 2}) {
    std::vector<uint8_t> pieces = in;
    ASSERT_TRUE(keystream.Apply(at, pieces.data(), pieces.data(), cut));
    ASSERT_TRUE(keystream.Apply(at + static_cast<int64_t>(cut), pieces.data() + cut, pieces.data() + cut, in.size() - cut));
    EXPECT_EQ(pieces, whole) << "cut at " << cut;
  }
  std::vector<uint8_t> back(in.size());
  ASSERT_TRUE(keystream.Apply(at, whole.data(), back.data(), whole.size()));
  EXPECT_EQ(back, in);
}

TEST(CryptKeystream, IsAes256CounterModeAtAnyPosition) {
  // NIST SP 800-38A, F.5.5 CTR-AES256.Encrypt.
  auto keystream = Keystream("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
                             "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  const std::vector<uint8_t> plain = FromHexText(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  std::vector<uint8_t> out(plain.size());
  ASSERT_TRUE(keystream->Apply(0, plain.data(), out.data(), out.size()));
  EXPECT_EQ(out, FromHexText("601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
                             "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"));
  ExpectSameInPieces(*keystream, 0, plain);
  const std::string pattern = Pattern(100000);
  ExpectSameInPieces(*keystream, (int64_t{1} << 40) + 7, std::vector<uint8_t>(pattern.begin(), pattern.end()));
  // The counter carries across all 128 bits.
  ExpectSameInPieces(*Keystream(std::string(64, '1'), std::string(32, 'f')), 3, plain);
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
    EXPECT_EQ(test::ListTree(dir_.Path()), (std::vector<std::string>{"back.zip", "plain.enc", "plain.zip"}));
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
  std::string hex = b->EncodeBytes(Bytes(b->DigestText(platform::SecretBytes("pw"))), "hex");
  for (char& ch : hex) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  b->LoadKey(hex, "hex");
  b->LoadIV("NTE3MDgyNjQzOTkxNTA2Mg==", "base64");
  ASSERT_EQ(b->EncryptFileTo(plain_, back_), 1) << b->FailureText();
  EXPECT_EQ(test::ReadFile(back_), test::ReadFile(container_));
  b->LoadKey(b->EncodeBytes(Bytes(b->DigestText(platform::SecretBytes("pw"))), "base64"), "base64");
  ASSERT_EQ(b->EncryptFileTo(plain_, back_), 1) << b->FailureText();
  EXPECT_EQ(test::ReadFile(back_), test::ReadFile(container_));
}

TEST_F(CryptFiles, OpensslReadsAndWritesTheSameContainers) {
  ASSERT_EQ(RunCommand("openssl version >/dev/null"), 0) << "the openssl command is needed";
  auto c = JobComponent("bl\xC3\xA5" "b\xC3\xA6r");
  std::string keyHex = Hex(*c, c->DigestText(platform::SecretBytes("bl\xC3\xA5" "b\xC3\xA6r")));
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
  EXPECT_EQ(test::ListTree(dir_.Path()), (std::vector<std::string>{"plain.enc", "plain.zip"}));
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
    EXPECT_EQ(test::ListTree(dir_.Path()), (std::vector<std::string>{"plain.enc", "plain.zip"}));
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
  EXPECT_EQ(test::ListTree(dir_.Path()), (std::vector<std::string>{"back.zip", "plain.enc"}));
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
  EXPECT_EQ(test::ListTree(dir_.Path()), (std::vector<std::string>{"plain.enc", "plain.zip"}));
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
  EXPECT_EQ(test::ListTree(dir_.Path()), (std::vector<std::string>{"back.zip", "plain.enc", "plain.zip"}));
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
