#include "zip/SourceFile.h"

#include <algorithm>
#include <vector>

#include "zip/Crc32.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {
constexpr size_t kCheckBlock = size_t{256} << 10;
}  // namespace

bool SourceFile::Open(const std::string& path, std::error_code& ec) {
  path_ = path;
  read_ = 0;
  crcRegister_ = kCrc32Start;
  ended_ = pastLength_ = false;
  file_ = platform::File::Open(path, platform::OpenMode::ReadDenyNone, ec);
  if (!file_.IsOpen()) return false;
  const auto stamp = file_.Stamp();
  if (!stamp) {
    ec = std::make_error_code(std::errc::io_error);
    file_.Close();
    return false;
  }
  atOpen_ = *stamp;
  return true;
}

size_t SourceFile::Read(uint8_t* buffer, size_t max) {
  if (max == 0 || ended_) return 0;
  const uint64_t length = static_cast<uint64_t>(Length());
  const uint64_t left = read_ < length ? length - read_ : 0;
  if (!pastLength_ && left > 0 && left < max) max = static_cast<size_t>(left);
  const int64_t got = file_.Read(buffer, static_cast<int64_t>(max));
  if (got < 0) throw EZipException("Cannot read file \"" + path_ + "\". " + file_.LastError().message());
  if (!pastLength_ && left == 0) {
    // At its length the file should end. When it goes on, it either grew (it is packed as it
    // was when opened; Finish() checks that) or its length tells nothing of its content.
    if (got == 0 || file_.Stamp() != atOpen_) {
      ended_ = true;
      return 0;
    }
    pastLength_ = true;
  }
  crcRegister_ = Crc32Update(crcRegister_, buffer, static_cast<size_t>(got));
  read_ += static_cast<uint64_t>(got);
  return static_cast<size_t>(got);
}

uint32_t SourceFile::Crc() const { return ~crcRegister_; }

void SourceFile::Finish() {
  const auto now = file_.Stamp();
  if (now && *now == atOpen_ && read_ >= static_cast<uint64_t>(Length())) return;
  // Grown since it was opened: fine when it only grew at its end.
  if (now && !pastLength_ && read_ == static_cast<uint64_t>(Length()) && now->size > Length() &&
      StillStartsWithWhatWasRead())
    return;
  throw ESourceChanged("File \"" + path_ + "\" " + zip_text::kSourceChanged);
}

// Reads the first Length() bytes again; true when they sum to what was read before.
bool SourceFile::StillStartsWithWhatWasRead() const {
  std::vector<uint8_t> block(kCheckBlock);
  uint32_t reg = kCrc32Start;
  for (int64_t at = 0; at < Length();) {
    const int64_t want = std::min<int64_t>(Length() - at, static_cast<int64_t>(block.size()));
    const int64_t got = file_.ReadAt(at, block.data(), want);
    if (got != want) return false;
    reg = Crc32Update(reg, block.data(), static_cast<size_t>(got));
    at += got;
  }
  return reg == crcRegister_;
}

}  // namespace kvelv
