#include "platform/SecretLine.h"

#include <cstring>

namespace kvelv::platform {

bool KeepFirstLine(SecretBytes& text) {
  const void* feed = text.Empty() ? nullptr : std::memchr(text.Data(), '\n', text.Size());
  if (feed != nullptr) text.Resize(static_cast<size_t>(static_cast<const uint8_t*>(feed) - text.Data()));
  if (!text.Empty() && text.Data()[text.Size() - 1] == '\r') text.Resize(text.Size() - 1);
  static constexpr uint8_t kBom[] = {0xEF, 0xBB, 0xBF};
  if (text.Size() >= sizeof kBom && std::memcmp(text.Data(), kBom, sizeof kBom) == 0) {
    std::memmove(text.Data(), text.Data() + sizeof kBom, text.Size() - sizeof kBom);
    text.Resize(text.Size() - sizeof kBom);
  }
  return feed != nullptr;
}

SecretBytes FirstLineOf(SecretBytes read, std::error_code& ec) {
  KeepFirstLine(read);
  if (read.Size() > kMaxSecretLine) {
    ec = std::make_error_code(std::errc::value_too_large);
    return {};
  }
  ec.clear();
  return read;
}

}  // namespace kvelv::platform
