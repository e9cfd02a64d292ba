// Fuzz harness: method 8 (deflate). Input: raw deflate data. Output is capped at 4 MiB, as the
// extractor's size check caps a real entry. Where the build has ISA-L, the data goes through
// both inflaters, which must end the same way and, when they end well, give the same bytes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/ZlibInflater.h"
#ifdef KVELV_HAVE_ISAL
#include "zip/IsalInflater.h"
#endif

namespace {

// Keeps the bytes it is given, up to the cap.
class KeptSink : public kvelv::fuzz::CappedSink {
 public:
  KeptSink() : CappedSink(4u << 20, false) {}
  void Write(const uint8_t* data, size_t count) override {
    CappedSink::Write(data, count);
    bytes.append(reinterpret_cast<const char*>(data), count);
  }
  std::string bytes;
};

// How the inflater ends: "ok" and the bytes, or the class of what it raised.
template <typename Inflater>
std::string Outcome(Inflater& inflater, const uint8_t* data, size_t size) {
  kvelv::fuzz::ChunkedSource in(data, size);
  KeptSink out;
  try {
    inflater.Inflate(in, out);
    return "ok:" + out.bytes;
  } catch (const kvelv::EZipException& e) {
    return e.ClassName();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kvelv::ZlibInflater zlib;
  const std::string reference = Outcome(zlib, data, size);
#ifdef KVELV_HAVE_ISAL
  static kvelv::IsalInflater isal;
  const std::string fast = Outcome(isal, data, size);
  if (fast != reference) {
    std::fprintf(stderr, "the inflaters disagree: zlib %.40s, ISA-L %.40s\n", reference.c_str(), fast.c_str());
    std::abort();
  }
#endif
  return 0;
}
