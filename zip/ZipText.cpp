#include "zip/ZipText.h"

#include "platform/CodePages.h"

namespace kvelv {

namespace {
unsigned char LowerAsciiChar(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
}  // namespace

int CompareTextAscii(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int ca = LowerAsciiChar(static_cast<unsigned char>(a[i]));
    const int cb = LowerAsciiChar(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(LowerAsciiChar(static_cast<unsigned char>(c)));
  return out;
}

std::string ValidUtf8(std::string_view bytes) {
  return platform::EncodeUtf8(platform::DecodeUtf8(bytes));
}

void SplitEntryName(std::string_view name, std::string& directory, std::string& fileName) {
  // "/" counts too: a Unicode path field keeps its "/" and must not smuggle a folder part into
  // the file name.
  const size_t cut = name.find_last_of("\\/:");
  if (cut == std::string_view::npos) {
    directory.clear();
    fileName = std::string(name);
    return;
  }
  fileName = std::string(name.substr(cut + 1));
  directory = std::string(name.substr(0, cut));
  if (!directory.empty()) directory += '\\';
}

}  // namespace kvelv
