#pragma once
// Decoder for ZIP method 8 (deflate) through zlib's raw inflate.
#include "zip/ByteStreams.h"

namespace kvelv {

// Inflates one raw deflate stream from `in` to `out` (32768-byte blocks) and stops at its end;
// input after the end is left unread or ignored. Raises EZCompressionError "error" for any zlib
// error and EFatalUnzipError "Premature end of file reached" when `in` ends before the stream does.
void Inflate(ByteSource& in, ByteSink& out);

}  // namespace kvelv
