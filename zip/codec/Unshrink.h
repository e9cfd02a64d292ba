#pragma once
// Decoder for ZIP method 1 (shrink: LZW with 9-13 bit codes and partial clearing).
#include <cstdint>

#include "zip/common/ByteStreams.h"

namespace kvelv {

// Decodes until `uncompressedSize` bytes went to `out` (blocks of at most 32768 bytes).
// Raises EFatalUnzipError "Premature end of file reached" when `in` ends first and
// EBadCompressedData for codes the table cannot explain.
void Unshrink(ByteSource& in, ByteSink& out, uint64_t uncompressedSize);

}  // namespace kvelv
