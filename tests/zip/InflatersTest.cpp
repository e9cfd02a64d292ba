// The inflaters: zlib's, and ISA-L's where the build has it. Each reads raw deflate in any chunk
// sizes, stops at the stream's end and raises the library's errors; and the two give the same
// bytes and the same error for every deflated entry of every archive the tests know, the inflate
// fuzz corpus, and damaged variants of them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/FaultRun.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipTestSupport.h"
#include "zip/codec/Inflater.h"
#include "zip/ZipExceptions.h"
#include "zip/codec/ZlibInflater.h"
#ifdef KVELV_HAVE_ISAL
#include "zip/codec/IsalInflater.h"
#endif

namespace kvelv {
namespace {

namespace fs = std::filesystem;
using test::MemorySource;
using test::StringSink;

// What an inflater makes of `data` read in `chunk`-byte pieces: the bytes, then the error.
template <typename InflaterType>
std::string Outcome(InflaterType& inflater, const std::string& data, size_t chunk) {
  MemorySource in(data, chunk);
  StringSink out(8u << 20);
  try {
    inflater.Inflate(in, out);
    return out.bytes + "|ended";
  } catch (const EZipException& e) {
    return out.bytes + "|" + e.ClassName() + ": " + e.what();
  }
}

// The outcome as the inflaters promise it alike: the bytes of a stream that ends well, only the
// error of one that does not (what came out before it is thrown away by every caller).
template <typename InflaterType>
std::string Ending(InflaterType& inflater, const std::string& data, size_t chunk) {
  const std::string outcome = Outcome(inflater, data, chunk);
  return outcome.ends_with("|ended") ? outcome : outcome.substr(outcome.rfind('|'));
}

template <typename InflaterType>
class InflaterTest : public ::testing::Test {};

#ifdef KVELV_HAVE_ISAL
using Inflaters = ::testing::Types<ZlibInflater, IsalInflater, Inflater>;
#else
using Inflaters = ::testing::Types<ZlibInflater, Inflater>;
#endif
TYPED_TEST_SUITE(InflaterTest, Inflaters);

TYPED_TEST(InflaterTest, ReadsRawDeflateInAnyChunksAndStopsAtItsEnd) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  TypeParam inflater;  // one object for every stream, as the extraction uses it
  for (const std::string& data : {std::string(), text, test::RandomBytes(70000, 7), std::string(300000, 'z')}) {
    for (int level : {0, 1, 9}) {
      const std::string packed = test::RawDeflate(data, level);
      const std::string withTrailer = packed + "trailing bytes";  // the source only views it
      for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}}) {
        MemorySource in(withTrailer, chunk);
        StringSink out;
        inflater.Inflate(in, out);
        EXPECT_EQ(out.bytes, data);
        EXPECT_LE(out.largestBlock, 32768u);
      }
      if (!packed.empty()) {
        const std::string cut = Outcome(inflater, packed.substr(0, packed.size() - 1), 4096);
        EXPECT_NE(cut.find("|EFatalUnzipError: Premature end of file reached"), std::string::npos);
      }
    }
  }
}

TYPED_TEST(InflaterTest, RaisesTheLibrarysErrorsAndRecovers) {
  TypeParam inflater;
  EXPECT_EQ(Outcome(inflater, std::string("\xFF\xFF\xFF\xFF", 4), 4), "|EZCompressionError: error");  // block type 3
  EXPECT_EQ(Outcome(inflater, "", 1), "|EFatalUnzipError: Premature end of file reached");
  EXPECT_EQ(Outcome(inflater, test::RawDeflate("after an error", 6), 3), "after an error|ended");
}

// Every raw deflate stream the tests know: the inflate corpus, and the deflated entries of the
// archives in the fuzz corpora and the shared test data.
std::vector<std::string> KnownStreams() {
  std::vector<std::string> streams;
  for (const auto& entry : fs::directory_iterator(std::string(test::SourceDir()) + "/fuzz/corpus/inflate")) {
    streams.push_back(test::ReadFile(entry.path().string()));
  }
  for (const std::string& folder : {std::string(test::SourceDir()) + "/fuzz/corpus/zip_extract",
                                    std::string(test::SharedTestDataDir()) + "/zip-legacy"}) {
    if (!fs::exists(folder)) continue;
    for (const auto& file : fs::directory_iterator(folder)) {
      if (file.path().extension() != ".zip") continue;
      try {
        for (const test::RawEntry& raw : test::ReadRawEntries(test::ReadFile(file.path().string()))) {
          if (raw.method == 8) streams.push_back(raw.data);
        }
      } catch (const std::exception&) {
        // Zip64 and other archives the minimal walker does not read.
      }
    }
  }
  return streams;
}

#ifdef KVELV_HAVE_ISAL
TEST(InflatersAgree, OnEveryKnownStreamAndDamagedVariants) {
  const std::vector<std::string> streams = KnownStreams();
  ASSERT_GE(streams.size(), 5u);
  ZlibInflater zlib;
  IsalInflater isal;
  std::mt19937 random(17);
  size_t compared = 0;
  for (const std::string& stream : streams) {
    std::vector<std::string> variants = {stream, stream.substr(0, stream.size() / 2)};
    for (int i = 0; i < 40 && !stream.empty(); ++i) {
      std::string damaged = stream;
      damaged[random() % damaged.size()] ^= static_cast<char>(1 + random() % 255);
      variants.push_back(damaged);
    }
    for (const std::string& variant : variants) {
      for (size_t chunk : {size_t{5}, size_t{32768}}) {
        ASSERT_EQ(Ending(isal, variant, chunk), Ending(zlib, variant, chunk)) << "stream of " << stream.size();
        ++compared;
      }
    }
  }
  RecordProperty("compared", static_cast<int>(compared));
}
#endif

}  // namespace
}  // namespace kvelv
