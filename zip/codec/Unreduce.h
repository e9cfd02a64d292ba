#pragma once
// Decoder for ZIP methods 2-5 (reduce with follower sets, reduction factor 1-4).
#include <cstdint>

#include "zip/common/ByteStreams.h"

namespace kvelv {

// Decodes until `uncompressedSize` bytes went to `out` (blocks of at most 32768 bytes);
// `factor` is the method number minus 1 (1-4). Raises EFatalUnzipError "Premature end of file
// reached" when `in` ends first and EBadCompressedData for an index outside its follower set.
void Unreduce(ByteSource& in, ByteSink& out, uint64_t uncompressedSize, int factor);

}  // namespace kvelv
