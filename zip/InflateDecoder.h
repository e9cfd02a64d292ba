#pragma once
// Decoder for ZIP method 8 (deflate) through zlib's raw inflate.
#include <memory>

#include "zip/ByteStreams.h"

namespace kvelv {

// The inflate state and buffers, kept from one stream to the next: archives of many small entries
// would otherwise spend their time setting up and clearing fresh ones. An object belongs to one
// thread at a time; whoever runs a thread owns that thread's inflater, so the state never outlives
// the thread's runtime.
class Inflater {
 public:
  Inflater();  // EZCompressionError "error" when zlib cannot set up
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Inflates one raw deflate stream from `in` to `out` (32768-byte blocks) and stops at its end;
  // input after the end is left unread or ignored. Raises EZCompressionError "error" for any zlib
  // error and EFatalUnzipError "Premature end of file reached" when `in` ends before the stream
  // does. The object can be used again afterwards, whatever the outcome.
  void Inflate(ByteSource& in, ByteSink& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// One stream with an inflater of its own.
void Inflate(ByteSource& in, ByteSink& out);

}  // namespace kvelv
