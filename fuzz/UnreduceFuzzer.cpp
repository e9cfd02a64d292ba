// Fuzz harness: methods 2-5 (reduce). Input: 3 bytes of declared size, one byte whose low two
// bits pick the factor, then the compressed data.
#include "fuzz/DecoderFuzzer.h"
#include "fuzz/FuzzSupport.h"
#include "zip/codec/Unreduce.h"
#include "zip/ZipExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint64_t declared = kvelv::fuzz::TakeSize(data, size);
  const int factor = 1 + (kvelv::fuzz::TakeByte(data, size) & 3);
  kvelv::fuzz::ChunkedSource in(data, size);
  kvelv::fuzz::CappedSink out(declared, true);
  try {
    kvelv::Unreduce(in, out, declared, factor);
  } catch (const kvelv::EZipException&) {
  }
  return 0;
}
