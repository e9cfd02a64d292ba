// The crypto component over CNG: the same digests and container bytes as the OpenSSL back end
// (the expected values were made with the openssl command), chunked streaming, clean failures.
#include <gtest/gtest.h>

#include "jobs/CryptComponent.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

// The program's fixed vector, "5170826439915062".
constexpr char kIvHex[] = "35313730383236343339393135303632";

std::unique_ptr<CryptComponent> AesWithPassword(const std::string& password) {
  auto crypt = CryptComponent::Create();
  EXPECT_TRUE(crypt);
  crypt->SetCryptAlgorithm("aes");
  crypt->SetCipherMode("cbc");
  crypt->SetKeyBits(256);
  crypt->SetHashAlgorithm("sha256");
  crypt->SetEncodingMode("hex");
  crypt->LoadKey(crypt->DigestTextEncoded(password), "hex");
  crypt->LoadIV(kIvHex, "hex");
  return crypt;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

TEST(WinCrypto, DigestsMatchTheKnownValues) {
  auto crypt = CryptComponent::Create();
  ASSERT_TRUE(crypt);
  crypt->SetHashAlgorithm("sha256");
  crypt->SetEncodingMode("hex");
  EXPECT_EQ(crypt->DigestTextEncoded("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // The login hash line: Base64 of MD5 of the windows-1252 bytes.
  crypt->SetHashAlgorithm("md5");
  crypt->SetEncodingMode("base64");
  crypt->SetCharset("windows-1252");
  EXPECT_EQ(crypt->DigestTextEncoded("abc"), "kAFQmDzST7DWlj99KOF/cg==");
  EXPECT_EQ(crypt->DigestTextEncoded("bl\xC3\xA5" "b\xC3\xA6r"), "r16Ub3bQAeNqoXRNnLpWUg==");
  crypt->SetCharset("");
  EXPECT_EQ(crypt->DigestTextEncoded(""), "1B2M2Y8AsgTpgAmY7PhCfg==");
}

TEST(WinCrypto, ContainerBytesMatchOpenSsl) {
  test::TempDir dir;
  test::WriteFile(dir.Join("plain.txt"), "Orv Kvelv test data\n");
  auto crypt = AesWithPassword("abc");
  ASSERT_EQ(crypt->EncryptFileTo(dir.Join("plain.txt"), dir.Join("c.kvl")), 1) << crypt->FailureText();
  EXPECT_EQ(Hex(test::ReadFile(dir.Join("c.kvl"))),
            "ea485e58828af6280f90465221ac7f1e2622c1071bf9e89afe06d63c93d6caaa");
}

TEST(WinCrypto, RoundTripsAcrossBlockAndChunkBoundaries) {
  test::TempDir dir;
  auto crypt = AesWithPassword("bl\xC3\xA5" "b\xC3\xA6r\xE2\x82\xAC");
  for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{(1 << 20) - 1},
                      size_t{(1 << 20) + 16}, size_t{3 << 20}}) {
    std::string plain(size, '\0');
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<char>((i * 131 + size) & 0xFF);
    test::WriteFile(dir.Join("p.bin"), plain);
    ASSERT_EQ(crypt->EncryptFileTo(dir.Join("p.bin"), dir.Join("c.kvl")), 1) << crypt->FailureText();
    std::string container = test::ReadFile(dir.Join("c.kvl"));
    EXPECT_EQ(container.size(), (size / 16 + 1) * 16) << size;
    ASSERT_EQ(crypt->DecryptFileTo(dir.Join("c.kvl"), dir.Join("back.bin")), 1) << crypt->FailureText();
    EXPECT_EQ(test::ReadFile(dir.Join("back.bin")) == plain, true) << size;
  }
}

TEST(WinCrypto, WrongPasswordAndDamageFailWithoutOutput) {
  test::TempDir dir;
  test::WriteFile(dir.Join("plain.txt"), std::string(100, 'x'));
  ASSERT_EQ(AesWithPassword("right")->EncryptFileTo(dir.Join("plain.txt"), dir.Join("c.kvl")), 1);
  auto wrong = AesWithPassword("wrong");
  EXPECT_NE(wrong->DecryptFileTo(dir.Join("c.kvl"), dir.Join("out.bin")), 1);
  EXPECT_NE(wrong->FailureText().find("padding"), std::string::npos) << wrong->FailureText();
  EXPECT_FALSE(test::ReadFile(dir.Join("c.kvl")).empty());

  std::string container = test::ReadFile(dir.Join("c.kvl"));
  test::WriteFile(dir.Join("short.kvl"), container.substr(0, 40));
  auto right = AesWithPassword("right");
  EXPECT_NE(right->DecryptFileTo(dir.Join("short.kvl"), dir.Join("out.bin")), 1);
  EXPECT_NE(right->FailureText().find("multiple of 16"), std::string::npos) << right->FailureText();
  // Nothing written: neither the target nor a temporary file beside it.
  test::TempDir empty;
  EXPECT_NE(right->DecryptFileTo(dir.Join("short.kvl"), empty.Join("out.bin")), 1);
  EXPECT_TRUE(platform::ListFolder(empty.Path()).value().empty());
}

TEST(WinCrypto, CreationFailsCleanlyWhenAProviderCannotBeOpened) {
  std::string error;
  CryptAlgorithms names;
  names.md5 = "NO-SUCH-DIGEST";
  EXPECT_EQ(CryptComponent::Create(names, &error), nullptr);
  EXPECT_NE(error.find("NO-SUCH-DIGEST"), std::string::npos) << error;
  names = CryptAlgorithms{};
  names.cipher = "AES-128-ECB";
  error.clear();
  EXPECT_EQ(CryptComponent::Create(names, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace kvelv
