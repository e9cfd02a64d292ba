// Fuzz harness: method 8 (deflate) through zlib. Input: raw deflate data. Output is capped at
// 4 MiB, as the extractor's size check caps a real entry.
#include "fuzz/FuzzSupport.h"
#include "zip/InflateDecoder.h"
#include "zip/ZipExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvelv::fuzz::ChunkedSource in(data, size);
  kvelv::fuzz::CappedSink out(4u << 20, false);
  try {
    kvelv::Inflate(in, out);
  } catch (const kvelv::EZipException&) {
  }
  return 0;
}
