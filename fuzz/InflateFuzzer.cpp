// Fuzz harness: method 8 (deflate). Input: raw deflate data. Output is capped at 4 MiB, as the
// extractor's size check caps a real entry. Where the build has ISA-L, the data goes through
// both inflaters, which must end the same way and, when they end well, give the same bytes
// (what comes out before an error is thrown away by every caller, so it may differ). One known
// difference is let through: ISA-L decodes with a Huffman code that leaves codes unused, which
// zlib rejects as a whole; the entry's CRC check then judges the bytes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <zlib.h>

#include "fuzz/FuzzSupport.h"
#include "zip/ZipExceptions.h"
#include "zip/codec/ZlibInflater.h"
#ifdef KVELV_HAVE_ISAL
#include "zip/codec/IsalInflater.h"
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

// zlib's own words on why it rejects the stream, "" when it does not.
std::string ZlibComplaint(const uint8_t* data, size_t size) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) std::abort();
  std::string out(64 * 1024, '\0');
  zs.next_in = const_cast<uint8_t*>(data);
  zs.avail_in = static_cast<uInt>(size);
  int result = Z_OK;
  while (result == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    result = inflate(&zs, Z_NO_FLUSH);
  }
  const std::string complaint = result == Z_DATA_ERROR && zs.msg != nullptr ? zs.msg : "";
  inflateEnd(&zs);
  return complaint;
}

bool IncompleteCode(const std::string& complaint) {
  return complaint == "invalid literal/lengths set" || complaint == "invalid distances set" ||
         complaint == "invalid code lengths set";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kvelv::ZlibInflater zlib;
  const std::string reference = Outcome(zlib, data, size);
#ifdef KVELV_HAVE_ISAL
  static kvelv::IsalInflater isal;
  const std::string fast = Outcome(isal, data, size);
  if (fast != reference && !(fast.starts_with("ok:") && IncompleteCode(ZlibComplaint(data, size)))) {
    std::fprintf(stderr, "the inflaters disagree: zlib %.40s, ISA-L %.40s\n", reference.c_str(), fast.c_str());
    std::abort();
  }
#endif
  return 0;
}
