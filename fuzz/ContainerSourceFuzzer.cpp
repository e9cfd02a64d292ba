// Fuzz harness: the container layer (jobs/ContainerSource). The first byte chooses the case: the
// rest is a container as it is (any length, any padding), or a plaintext the harness encrypts
// (a valid container) and then damages at one byte when the choice says so. The next four bytes
// seed the reads. The source must open exactly when a plain decryption of the whole container
// finds a sound length and padding, say the plaintext's length, and give at every position what
// that decryption gave: reads at random offsets and of random lengths, past the end included.
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "jobs/CryptComponent.h"
#include "jobs/JobCrypto.h"
#include "platform/SecretBytes.h"

namespace {

constexpr char kPassword[] = "fuzz";

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

std::vector<uint8_t> Key() {
  std::vector<uint8_t> key(32);
  EVP_Digest(kPassword, std::strlen(kPassword), key.data(), nullptr, EVP_sha256(), nullptr);
  return key;
}

// AES-256-CBC under the container's key and vector, with padding when encrypting and none when
// decrypting (the reference looks at the padding itself).
std::vector<uint8_t> Cbc(bool encrypt, const std::vector<uint8_t>& in) {
  static const std::vector<uint8_t> key = Key();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::vector<uint8_t> out(in.size() + 32);
  int length = 0, tail = 0;
  const auto* iv = reinterpret_cast<const unsigned char*>(kvelv::kContainerIV);
  if (ctx == nullptr || EVP_CipherInit_ex2(ctx, EVP_aes_256_cbc(), key.data(), iv, encrypt ? 1 : 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx, encrypt ? 1 : 0) != 1 ||
      EVP_CipherUpdate(ctx, out.data(), &length, in.data(), static_cast<int>(in.size())) != 1 ||
      EVP_CipherFinal_ex(ctx, out.data() + length, &tail) != 1)
    Fail("the reference cipher failed");
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(length + tail));
  return out;
}

std::string ScratchPath() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kvelv-fuzz-container-" +
         std::to_string(getpid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  static const std::unique_ptr<kvelv::CryptComponent> component = [] {
    auto c = kvelv::CryptComponent::Create();
    if (!c) Fail("no crypto component");
    kvelv::ConfigureForContainer(*c, kvelv::platform::SecretBytes(std::string_view(kPassword)));
    return c;
  }();
  static const std::string path = ScratchPath();
  static const bool removed = std::atexit([] { std::remove(ScratchPath().c_str()); }) == 0;
  (void)removed;

  const uint8_t choice = data[0];
  std::mt19937 random(data[1] | data[2] << 8 | data[3] << 16 | static_cast<uint32_t>(data[4]) << 24);
  std::vector<uint8_t> container(data + 5, data + size);
  if ((choice & 1) != 0) {
    container = Cbc(true, container);
    if ((choice & 2) != 0) container[random() % container.size()] ^= static_cast<uint8_t>(1 + random() % 255);
  }
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    if (!container.empty() && std::fwrite(container.data(), 1, container.size(), file) != container.size())
      Fail("cannot write the scratch file");
    std::fclose(file);
  } else {
    Fail("cannot create the scratch file");
  }

  // The reference: the whole container decrypted at once, its padding checked here.
  bool sound = !container.empty() && container.size() % 16 == 0;
  std::vector<uint8_t> plain;
  if (sound) {
    plain = Cbc(false, container);
    const uint8_t padding = plain.back();
    sound = padding >= 1 && padding <= 16;
    for (size_t i = 0; sound && i < padding; ++i) sound = plain[plain.size() - 1 - i] == padding;
    if (sound) plain.resize(plain.size() - padding);
  }

  const std::shared_ptr<kvelv::ArchiveSource> source = component->OpenDecrypted(path);
  if ((source != nullptr) != sound) Fail(sound ? "a sound container was refused" : "an unsound container was opened");
  if (!source) return 0;
  if (source->Size() != static_cast<int64_t>(plain.size())) Fail("wrong plaintext length");
  if (source->ReadAt(-1, nullptr, 1) != -1) Fail("a read before the start did not fail");

  std::vector<uint8_t> buffer;
  for (int read = 0; read < 16; ++read) {
    const int64_t position = static_cast<int64_t>(random() % (plain.size() + 40));
    const int64_t count = static_cast<int64_t>(read % 4 == 3 ? random() % (plain.size() + 64) : random() % 70);
    buffer.assign(static_cast<size_t>(count) + 1, 0xEE);
    const int64_t got = source->ReadAt(position, buffer.data(), count);
    const int64_t expected =
        position >= static_cast<int64_t>(plain.size()) ? 0 : std::min<int64_t>(count, plain.size() - position);
    if (got != expected) Fail("a read gave the wrong count");
    if (expected > 0 && std::memcmp(buffer.data(), plain.data() + position, static_cast<size_t>(expected)) != 0)
      Fail("a read gave other bytes than the plain decryption");
    if (buffer[static_cast<size_t>(count)] != 0xEE) Fail("a read wrote past what it was asked for");
  }
  return 0;
}
