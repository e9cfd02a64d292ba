#pragma once
// Decoder for ZIP method 6 (implode: sliding dictionary with Shannon-Fano coded lengths,
// distances and optionally literals).
#include <cstdint>

#include "zip/common/ByteStreams.h"

namespace kvelv {

// Decodes until `uncompressedSize` bytes went to `out` (blocks of at most 32768 bytes).
// `flags` is the entry's general purpose bit flag: bit 1 selects the 8 KiB window (else 4 KiB),
// bit 2 says a literal tree is stored. Raises EFatalUnzipError "Premature end of file reached"
// when `in` ends first and EBadCompressedData for unusable trees or codes.
void Explode(ByteSource& in, ByteSink& out, uint64_t uncompressedSize, uint16_t flags);

}  // namespace kvelv
