#include "jobs/ContainerSource.h"

#include <algorithm>
#include <cstring>

namespace kvelv {

namespace {

constexpr int64_t kBlock = 16;

// Plaintext held only for a moment: wiped before the memory goes.
struct WipedBytes {
  explicit WipedBytes(size_t size) : bytes(size) {}
  ~WipedBytes() { crypto::SecureWipe(bytes.data(), bytes.size()); }
  std::vector<uint8_t> bytes;
};

}  // namespace

std::shared_ptr<ContainerSource> ContainerSource::Open(const std::string& path,
                                                       std::unique_ptr<crypto::BlockDecryptor> decryptor,
                                                       const std::vector<uint8_t>& iv, std::string& failure) {
  std::error_code ec;
  // Others may read the container meanwhile, but nobody may change it under the reader.
  platform::File file = platform::File::Open(path, platform::OpenMode::ReadDenyWrite, ec);
  if (!file.IsOpen()) {
    failure = "Cannot open \"" + path + "\": " + (ec ? ec.message() : std::string("unknown error"));
    return nullptr;
  }
  const int64_t size = file.Size();
  if (size == 0) {
    failure = "The encrypted file \"" + path + "\" is empty";
    return nullptr;
  }
  if (size < 0 || size % kBlock != 0) {
    failure = "The encrypted file \"" + path + "\" is damaged: its length of " + std::to_string(size) +
              " bytes is not a multiple of 16";
    return nullptr;
  }
  std::shared_ptr<ContainerSource> source(new ContainerSource(std::move(file), std::move(decryptor), iv, size));
  // The padding of the last block: 1 to 16 bytes, each holding that count.
  uint8_t last[kBlock];
  if (!source->DecryptBlocks(size / kBlock - 1, 1, last)) {
    failure = "Cannot read \"" + path + "\"";
    return nullptr;
  }
  const uint8_t padding = last[kBlock - 1];
  bool valid = padding >= 1 && padding <= kBlock;
  for (int i = 0; valid && i < padding; ++i) valid = last[kBlock - 1 - i] == padding;
  crypto::SecureWipe(last, sizeof last);
  if (!valid) {
    failure = "wrong password or damaged file (the padding is not valid)";
    return nullptr;
  }
  source->plainSize_ = size - padding;
  return source;
}

ContainerSource::ContainerSource(platform::File file, std::unique_ptr<crypto::BlockDecryptor> decryptor,
                                 const std::vector<uint8_t>& iv, int64_t plainSize)
    : file_(std::move(file)), decryptor_(std::move(decryptor)), plainSize_(plainSize) {
  std::memcpy(iv_, iv.data(), sizeof iv_);
}

ContainerSource::~ContainerSource() { crypto::SecureWipe(iv_, sizeof iv_); }

bool ContainerSource::DecryptBlocks(int64_t first, int64_t blocks, uint8_t* out) const {
  // The ciphertext from the block before the first one (the vector stands in for block -1).
  const int64_t from = first == 0 ? 0 : (first - 1) * kBlock;
  const int64_t length = (first == 0 ? 0 : kBlock) + blocks * kBlock;
  std::vector<uint8_t> cipher(static_cast<size_t>(length));
  if (file_.ReadAt(from, cipher.data(), length) != length) return false;
  const uint8_t* previous = first == 0 ? iv_ : cipher.data();
  const uint8_t* in = first == 0 ? cipher.data() : cipher.data() + kBlock;
  return decryptor_->Decrypt(previous, in, static_cast<size_t>(blocks), out);
}

int64_t ContainerSource::ReadAt(int64_t position, void* buffer, int64_t count) const {
  if (position < 0 || count < 0) return -1;
  if (position >= plainSize_ || count == 0) return 0;
  count = std::min(count, plainSize_ - position);
  const int64_t first = position / kBlock;
  const int64_t last = (position + count - 1) / kBlock;
  const int64_t skip = position - first * kBlock;
  if (skip == 0 && count % kBlock == 0) {
    // Whole blocks: straight into the caller's buffer.
    return DecryptBlocks(first, last - first + 1, static_cast<uint8_t*>(buffer)) ? count : -1;
  }
  WipedBytes plain(static_cast<size_t>((last - first + 1) * kBlock));
  if (!DecryptBlocks(first, last - first + 1, plain.bytes.data())) return -1;
  std::memcpy(buffer, plain.bytes.data() + skip, static_cast<size_t>(count));
  return count;
}

}  // namespace kvelv
