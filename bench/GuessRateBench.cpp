// How fast a guesser tries passwords against a container: per candidate one SHA-256 of the
// password (the key) and one AES-256 block decrypted under it, compared with the start of a ZIP
// local header, which every container begins with. One thread: the rate of one core, with
// OpenSSL's hardware AES and SHA. docs/SECURITY.md quotes it.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>

namespace kvelv {
namespace {

constexpr unsigned char kIv[] = "5170826439915062";  // the format's fixed vector

void BM_ContainerPasswordGuess(benchmark::State& state) {
  EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
  EVP_CIPHER* ecb = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
  // The first block of a container whose password is none of the candidates.
  unsigned char key[32];
  unsigned int length = 0;
  EVP_Digest("not among them", 14, key, &length, sha256, nullptr);
  unsigned char block[16] = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0};
  for (int i = 0; i < 16; ++i) block[i] ^= kIv[i];
  unsigned char first[16];
  int written = 0;
  EVP_EncryptInit_ex2(cipher, ecb, key, nullptr, nullptr);
  EVP_CIPHER_CTX_set_padding(cipher, 0);
  EVP_EncryptUpdate(cipher, first, &written, block, 16);

  char candidate[8];
  std::memcpy(candidate, "aaaaaaaa", 8);
  size_t found = 0;
  for (auto _ : state) {
    // The next 8-character candidate, as a brute-force run counts them.
    for (int i = 7; i >= 0 && ++candidate[i] > 'z'; --i) candidate[i] = 'a';
    EVP_DigestInit_ex2(md, sha256, nullptr);
    EVP_DigestUpdate(md, candidate, sizeof candidate);
    EVP_DigestFinal_ex(md, key, &length);
    EVP_DecryptInit_ex2(cipher, ecb, key, nullptr, nullptr);
    EVP_CIPHER_CTX_set_padding(cipher, 0);
    unsigned char plain[16];
    EVP_DecryptUpdate(cipher, plain, &written, first, 16);
    found += (plain[0] ^ kIv[0]) == 'P' && (plain[1] ^ kIv[1]) == 'K' && (plain[2] ^ kIv[2]) == 3 &&
             (plain[3] ^ kIv[3]) == 4;
  }
  benchmark::DoNotOptimize(found);
  state.counters["guesses"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  EVP_CIPHER_CTX_free(cipher);
  EVP_MD_CTX_free(md);
  EVP_CIPHER_free(ecb);
  EVP_MD_free(sha256);
}
BENCHMARK(BM_ContainerPasswordGuess);

}  // namespace
}  // namespace kvelv
