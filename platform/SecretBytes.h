#pragma once
// The one owner of secret bytes: a password, a key, material derived from them. The bytes live
// in memory of their own (platform/LockedMemory.h: locked where the system allows, left out of
// core dumps, zeros in a forked child) and are wiped whenever they die, move or are dropped.
// Nothing copies them implicitly: a copy is an explicit Clone(), a read is in place (View()).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/LockedMemory.h"

namespace kvelv::platform {

class SecretBytes {
 public:
  SecretBytes() noexcept = default;
  // `size` zero bytes.
  explicit SecretBytes(size_t size);
  // A copy of `size` bytes at `data`.
  SecretBytes(const void* data, size_t size);
  // A copy of the text's bytes. The text itself stays where it was: a caller handing over the
  // only other copy of a secret uses TakeFrom() instead.
  explicit SecretBytes(std::string_view text) : SecretBytes(text.data(), text.size()) {}
  ~SecretBytes() { Clear(); }
  SecretBytes(SecretBytes&& other) noexcept;
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  // The hand-over from a string that held a secret it had to hold (an argument, a widget's
  // text): the bytes move here and are wiped in `text`, which is left empty.
  static SecretBytes TakeFrom(std::string& text);

  SecretBytes Clone() const { return SecretBytes(Data(), Size()); }

  uint8_t* Data() noexcept { return static_cast<uint8_t*>(region_.data); }
  const uint8_t* Data() const noexcept { return static_cast<const uint8_t*>(region_.data); }
  size_t Size() const noexcept { return size_; }
  bool Empty() const noexcept { return size_ == 0; }
  // The bytes as text, read in place; valid until the next change.
  std::string_view View() const noexcept { return {reinterpret_cast<const char*>(Data()), size_}; }

  // Appends `size` bytes; growing moves the bytes to new memory and wipes the old.
  void Append(const void* data, size_t size);
  void Append(std::string_view text) { Append(text.data(), text.size()); }
  // Makes room for `capacity` bytes without a move later on.
  void Reserve(size_t capacity);
  // Shrinking wipes the bytes dropped; growing adds zero bytes.
  void Resize(size_t size);
  // Wipes the bytes and gives their memory back.
  void Clear() noexcept;

  // Whether the system locked the memory (false also while nothing is held).
  bool Locked() const noexcept { return region_.locked; }

 private:
  LockedRegion region_;
  size_t size_ = 0;
};

}  // namespace kvelv::platform
