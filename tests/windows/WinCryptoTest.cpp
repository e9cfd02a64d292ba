// The crypto component over CNG: the same digests and container bytes as the OpenSSL back end
// (the expected values were made with the openssl command), chunked streaming, clean failures.
#include <gtest/gtest.h>

#include "jobs/CryptComponent.h"
#include "jobs/crypto/CryptoBackend.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace kvelv {
namespace {

// The program's fixed vector, "5170826439915062".
constexpr char kIvHex[] = "35313730383236343339393135303632";
// `openssl enc -aes-256-ctr -K 11..11 -iv ff..ff` over 48 zero bytes.
constexpr char kCarryStream[] =
    "58fa5d98ab39e6e940676209269faacf20ec0fc819042f40a665fc688864093545f0a70806f870662817e81396801b55";

std::unique_ptr<CryptComponent> AesWithPassword(const std::string& password) {
  auto crypt = CryptComponent::Create();
  EXPECT_TRUE(crypt);
  crypt->SetCryptAlgorithm("aes");
  crypt->SetCipherMode("cbc");
  crypt->SetKeyBits(256);
  crypt->SetHashAlgorithm("sha256");
  crypt->SetEncodingMode("hex");
  crypt->LoadKey(crypt->DigestTextEncoded(platform::SecretBytes(password)), "hex");
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
  CryptAlgorithms all;
  all.md5 = "MD5";
  auto crypt = CryptComponent::Create(all, nullptr);
  ASSERT_TRUE(crypt);
  crypt->SetHashAlgorithm("sha256");
  crypt->SetEncodingMode("hex");
  EXPECT_EQ(crypt->DigestTextEncoded(platform::SecretBytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // The login hash line: Base64 of MD5 of the windows-1252 bytes.
  crypt->SetHashAlgorithm("md5");
  crypt->SetEncodingMode("base64");
  crypt->SetCharset("windows-1252");
  EXPECT_EQ(crypt->DigestTextEncoded(platform::SecretBytes("abc")), "kAFQmDzST7DWlj99KOF/cg==");
  EXPECT_EQ(crypt->DigestTextEncoded(platform::SecretBytes("bl\xC3\xA5" "b\xC3\xA6r")), "r16Ub3bQAeNqoXRNnLpWUg==");
  crypt->SetCharset("");
  EXPECT_EQ(crypt->DigestTextEncoded(platform::SecretBytes("")), "1B2M2Y8AsgTpgAmY7PhCfg==");
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

// CNG has no counter mode: the back end builds it over ECB. NIST SP 800-38A, F.5.5, then the
// same bytes at other positions and across a counter carry, as the OpenSSL back end gives them.
TEST(WinCrypto, KeystreamIsAes256CounterModeAtAnyPosition) {
  auto bytes = [](const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
  };
  auto keystream = [&](const std::string& key, const std::string& iv) {
    std::string error;
    auto backend = crypto::Backend::Open(CryptAlgorithms{}, error);
    const auto k = bytes(key), v = bytes(iv);
    return backend->NewKeystream(platform::SecretBytes(k.data(), k.size()), platform::SecretBytes(v.data(), v.size()),
                                 error);
  };
  const auto plain = bytes("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  auto nist = keystream("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
                        "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  ASSERT_TRUE(nist);
  std::vector<uint8_t> out(plain.size());
  ASSERT_TRUE(nist->Apply(0, plain.data(), out.data(), out.size()));
  EXPECT_EQ(out, bytes("601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
                       "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"));
  std::vector<uint8_t> pieces = plain;
  ASSERT_TRUE(nist->Apply(0, pieces.data(), pieces.data(), 21));
  ASSERT_TRUE(nist->Apply(21, pieces.data() + 21, pieces.data() + 21, plain.size() - 21));
  EXPECT_EQ(pieces, out);
  // Counter ff..ff, then 00..00: `openssl enc -aes-256-ctr` over 48 zero bytes from byte 0.
  auto carry = keystream(std::string(64, '1'), std::string(32, 'f'));
  std::vector<uint8_t> zeros(48, 0), stream(48);
  ASSERT_TRUE(carry->Apply(5, zeros.data() + 5, stream.data() + 5, 43));
  ASSERT_TRUE(carry->Apply(0, zeros.data(), stream.data(), 5));
  EXPECT_EQ(stream, bytes(kCarryStream));
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
