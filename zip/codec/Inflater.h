#pragma once
// Decoder for ZIP method 8 (deflate): raw inflate through ISA-L where the build has it (Linux),
// through zlib otherwise (the Windows build, or a machine without it); chosen when building,
// with the same bytes and the same errors either way.
#include <memory>

#include "zip/common/ByteStreams.h"

namespace kvelv {

// The inflate state and buffers, kept from one stream to the next: archives of many small entries
// would otherwise spend their time setting up and clearing fresh ones. An object belongs to one
// thread at a time; whoever runs a thread owns that thread's inflater, so the state never outlives
// the thread's runtime.
class Inflater {
 public:
  Inflater();  // EZCompressionError "error" when the library cannot set up
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Inflates one raw deflate stream from `in` to `out` (32768-byte blocks) and stops at its end;
  // input after the end is left unread or ignored. Raises EZCompressionError "error" for data
  // that is not deflate and EFatalUnzipError "Premature end of file reached" when `in` ends
  // before the stream does; what was written before an error is not defined. The object can be
  // used again afterwards, whatever the outcome.
  void Inflate(ByteSource& in, ByteSink& out);

  // "isa-l" or "zlib": which library this build inflates with.
  static const char* Library();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// One stream with an inflater of its own.
void Inflate(ByteSource& in, ByteSink& out);

}  // namespace kvelv
