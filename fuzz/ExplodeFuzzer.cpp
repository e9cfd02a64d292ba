// Fuzz harness: method 6 (implode). Input: 3 bytes of declared size, one byte of general
// purpose flags (bits 1 and 2 matter), then the compressed data.
#include "fuzz/DecoderFuzzer.h"
#include "fuzz/FuzzSupport.h"
#include "zip/codec/Explode.h"
#include "zip/ZipExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint64_t declared = kvelv::fuzz::TakeSize(data, size);
  const uint16_t flags = kvelv::fuzz::TakeByte(data, size) & 0x06;
  kvelv::fuzz::ChunkedSource in(data, size);
  kvelv::fuzz::CappedSink out(declared, true);
  try {
    kvelv::Explode(in, out, declared, flags);
  } catch (const kvelv::EZipException&) {
  }
  return 0;
}
