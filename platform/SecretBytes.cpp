#include "platform/SecretBytes.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kvelv::platform {

SecretBytes::SecretBytes(size_t size) { Resize(size); }

SecretBytes::SecretBytes(const void* data, size_t size) { Append(data, size); }

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : region_(std::exchange(other.region_, LockedRegion{})), size_(std::exchange(other.size_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Clear();
    region_ = std::exchange(other.region_, LockedRegion{});
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

SecretBytes SecretBytes::TakeFrom(std::string& text) {
  SecretBytes secret(text.data(), text.size());
  // The string's whole storage, its spare capacity included: an earlier, longer value of it
  // may still stand there.
  WipeMemory(text.data(), text.capacity());
  text.clear();
  return secret;
}

void SecretBytes::Reserve(size_t capacity) {
  if (capacity <= region_.size) return;
  LockedRegion grown = AllocateLocked(capacity);
  if (size_ != 0) std::memcpy(grown.data, region_.data, size_);
  FreeLocked(region_);  // wipes the old copy
  region_ = grown;
}

void SecretBytes::Append(const void* data, size_t size) {
  if (size == 0) return;
  if (size_ + size > region_.size) Reserve(std::max(size_ + size, region_.size * 2));
  std::memcpy(Data() + size_, data, size);
  size_ += size;
}

void SecretBytes::Resize(size_t size) {
  if (size > region_.size) Reserve(size);
  if (size < size_) {
    WipeMemory(Data() + size, size_ - size);
  } else if (size > size_) {
    std::memset(Data() + size_, 0, size - size_);
  }
  size_ = size;
}

void SecretBytes::Clear() noexcept {
  FreeLocked(region_);
  size_ = 0;
}

}  // namespace kvelv::platform
