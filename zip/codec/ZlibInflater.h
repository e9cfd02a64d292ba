#pragma once
// Raw inflate through zlib: the inflater of builds without ISA-L (the Windows build, say), and
// the reference the faster one is checked against.
#include <memory>

#include "zip/common/ByteStreams.h"

namespace kvelv {

class ZlibInflater {
 public:
  ZlibInflater();  // EZCompressionError "error" when zlib cannot set up
  ~ZlibInflater();
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  // See Inflater::Inflate.
  void Inflate(ByteSource& in, ByteSink& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kvelv
