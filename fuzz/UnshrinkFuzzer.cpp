// Fuzz harness: method 1 (shrink). Input: 3 bytes of declared size, then the compressed data.
#include "fuzz/DecoderFuzzer.h"
#include "fuzz/FuzzSupport.h"
#include "zip/codec/Unshrink.h"
#include "zip/ZipExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint64_t declared = kvelv::fuzz::TakeSize(data, size);
  kvelv::fuzz::ChunkedSource in(data, size);
  kvelv::fuzz::CappedSink out(declared, true);
  try {
    kvelv::Unshrink(in, out, declared);
  } catch (const kvelv::EZipException&) {
  }
  return 0;
}
