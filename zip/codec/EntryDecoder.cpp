#include "zip/codec/EntryDecoder.h"

#include <vector>

#include "zip/codec/Explode.h"
#include "zip/codec/Unreduce.h"
#include "zip/codec/Unshrink.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

bool IsSupportedMethod(uint16_t method) { return method <= 6 || method == 8; }

void CopyStored(ByteSource& in, ByteSink& out, uint64_t uncompressedSize) {
  std::vector<uint8_t> block(32768);
  uint64_t copied = 0;
  for (;;) {
    size_t got = in.Read(block.data(), block.size());
    if (got == 0) break;
    if (got > block.size()) got = block.size();
    out.Write(block.data(), got);
    copied += got;
  }
  if (copied < uncompressedSize) throw EFatalUnzipError(zip_text::kPrematureEnd);
}

bool EntryDecoder::Decode(uint16_t method, uint16_t flags, ByteSource& in, ByteSink& out,
                          uint64_t uncompressedSize) {
  switch (method) {
    case 0:
      CopyStored(in, out, uncompressedSize);
      return true;
    case 1:
      Unshrink(in, out, uncompressedSize);
      return true;
    case 2:
    case 3:
    case 4:
    case 5:
      Unreduce(in, out, uncompressedSize, method - 1);
      return true;
    case 6:
      Explode(in, out, uncompressedSize, flags);
      return true;
    case 8:
      if (!inflater_) inflater_ = std::make_unique<Inflater>();
      inflater_->Inflate(in, out);
      return true;
    default:
      return false;
  }
}

bool DecodeEntry(uint16_t method, uint16_t flags, ByteSource& in, ByteSink& out, uint64_t uncompressedSize) {
  return EntryDecoder().Decode(method, flags, in, out, uncompressedSize);
}

}  // namespace kvelv
