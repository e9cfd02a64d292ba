// The sealed container's core: known answers of its primitives, round trips of every chunk
// geometry, and every way of damaging a container (header bytes, chunk bytes and tags,
// truncation, chunks appended, repeated, swapped or spliced in) failing before any of its bytes
// are handed out.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "jobs/sealed/Primitives.h"
#include "jobs/sealed/SealedSource.h"
#include "tests/support/SealedTestSupport.h"
#include "tests/support/TestData.h"
#include "tests/support/TestPaths.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {
namespace {

using namespace sealed;

std::string Hex(const uint8_t* bytes, size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) (out += digits[bytes[i] >> 4]) += digits[bytes[i] & 15];
  return out;
}

std::shared_ptr<SealedSource> Open(const std::string& container, const std::string& password, std::string& failure) {
  return SealedSource::Open(std::make_shared<MemoryArchiveSource>(container), password, failure);
}

// Opens the container and reads all of it; true only when every chunk opened.
bool OpensAndReads(const std::string& container, const std::string& password, std::string* plain = nullptr) {
  std::string failure;
  auto source = Open(container, password, failure);
  if (!source) return false;
  std::string out(static_cast<size_t>(source->Size()), '\0');
  // Reads of odd sizes, so that many start and end inside chunks and go through the cache.
  for (int64_t at = 0; at < source->Size(); at += 7001) {
    if (source->ReadAt(at, out.data() + at, std::min<int64_t>(7001, source->Size() - at)) < 0) return false;
  }
  if (!source->VerifyRemaining(failure)) return false;
  if (plain) *plain = out;
  return true;
}

TEST(SealedPrimitivesTest, KnownAnswers) {
  ASSERT_TRUE(PrimitivesReady());
  // Argon2id v1.3 of the reference implementation's tests (m = 64 MiB, t = 2, p = 1).
  EXPECT_TRUE(Argon2idVerify("$argon2id$v=19$m=65536,t=2,p=1$c29tZXNhbHQ$CTFhFdXPJO1aFaMaO6Mm5c8y7cJHAph8ArZWb2GRPPc",
                             "password"));
  EXPECT_FALSE(Argon2idVerify("$argon2id$v=19$m=65536,t=2,p=1$c29tZXNhbHQ$CTFhFdXPJO1aFaMaO6Mm5c8y7cJHAph8ArZWb2GRPPc",
                              "passwore"));
  // The same reference implementation with a 16-byte salt and m = 64 KiB, t = 2.
  uint8_t out[kKeySize];
  ASSERT_TRUE(Argon2id("password", 8, reinterpret_cast<const uint8_t*>("somesaltsomesalt"), 2, 64, out));
  EXPECT_EQ(Hex(out, sizeof out), "1a98fba8e6394425c9bdc333a9c750aaf811df070f5fb4a5788e1cf4db5793a1");
  // XChaCha20-Poly1305 against HChaCha20 + OpenSSL's ChaCha20-Poly1305 (tests/jobs/sealed_reference.py).
  uint8_t key[kKeySize], nonce[kNonceSize];
  for (size_t i = 0; i < kKeySize; ++i) key[i] = static_cast<uint8_t>(0x80 + i);
  for (size_t i = 0; i < kNonceSize; ++i) nonce[i] = static_cast<uint8_t>(0x40 + i);
  uint8_t sealed[9 + kAeadTagSize], opened[9];
  AeadSeal(key, nonce, reinterpret_cast<const uint8_t*>("Orv Kvelv"), 9, sealed);
  EXPECT_EQ(Hex(sealed, sizeof sealed), "be7e05d4108691368da8c0de77ec9de48993d03f796356a5ce");
  ASSERT_TRUE(AeadOpen(key, nonce, sealed, sizeof sealed, opened));
  sealed[3] ^= 1;
  EXPECT_FALSE(AeadOpen(key, nonce, sealed, sizeof sealed, opened));
}

TEST(SealedContainerTest, EveryChunkGeometryRoundTrips) {
  for (int64_t size : {int64_t{0}, int64_t{1}, kChunkSize - 1, kChunkSize, kChunkSize + 1, 3 * kChunkSize,
                       3 * kChunkSize + 5}) {
    SCOPED_TRACE(size);
    const std::string plain = RandomBytes(static_cast<size_t>(size), 7);
    const std::string container = SealBytes(plain, "pw");
    EXPECT_EQ(static_cast<int64_t>(container.size()), ContainerSizeFor(size));
    std::string back;
    ASSERT_TRUE(OpensAndReads(container, "pw", &back));
    EXPECT_EQ(back, plain);
  }
}

// Made by tests/jobs/sealed_reference.py from docs/FORMAT.md; the writer makes the same bytes.
TEST(SealedContainerTest, GoldenContainerOpensAndIsRemadeByteForByte) {
  const std::string golden = ReadFile(std::string(SourceDir()) + "/tests/data/sealed/golden.orvkvelv");
  std::string plain;
  ASSERT_TRUE(OpensAndReads(golden, "gyllen n\xC3\xB8kkel", &plain));
  EXPECT_EQ(plain.size(), 76918u);
  EXPECT_EQ(plain.substr(0, 4), "PK\x03\x04");
  EXPECT_EQ(SealBytes(plain, "gyllen n\xC3\xB8kkel"), golden);
}

// The known-answer vector of docs/FORMAT.md.
TEST(SealedContainerTest, DocumentedVectorIsMadeExactly) {
  const std::string container = SealBytes("Hei!\n", "Orv Kvelv");
  EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(container.data()), container.size()),
            "894b564c000d0a1a020101104000000001000000010000000001020304050607"
            "08090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f2021220010a1cda7"
            "4a6927d8464588a61daaecbeb11029071db0830562d67d7f7bf356cc5b277bcb"
            "a628e480f134f0eff84dd28b02f202c6b5");
}

// The extraction reads one source from several threads at once, through the shared cache.
TEST(SealedContainerTest, ReadsFromManyThreadsAgree) {
  const std::string plain = RandomBytes(20 * kChunkSize + 123, 11);
  std::string failure;
  auto source = Open(SealBytes(plain, "pw"), "pw", failure);
  ASSERT_NE(source, nullptr) << failure;
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::string piece(5000, '\0');
      for (int64_t i = 0; i < 400; ++i) {
        const int64_t at = (i * 7919 + t * 104729) % (static_cast<int64_t>(plain.size()) - 5000);
        if (source->ReadAt(at, piece.data(), 5000) != 5000 || piece != plain.substr(static_cast<size_t>(at), 5000))
          ++mismatches[static_cast<size_t>(t)];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
  EXPECT_TRUE(source->VerifyRemaining(failure));
}

TEST(SealedContainerTest, ProgressIsReportedAndACancelLeavesNothing) {
  TempDir dir;
  // 40 chunks: reports at 0, 1 and 2 MiB, at the end and before the commit; a stop at each of
  // the last two leaves nothing either.
  constexpr int64_t kSize = 40 * kChunkSize;
  const MemoryArchiveSource archive(RandomBytes(kSize, 12));
  for (int stopAfter : {0, 2, 3, 4, -1}) {
    SealSettings settings;
    settings.kdf = kTestKdf;
    int calls = 0;  // the first `stopAfter` reports go on, the next one stops
    int64_t last = -1;
    int reports = 0;
    settings.progress = [&](int64_t done, int64_t total) {
      ++reports;
      EXPECT_EQ(total, kSize);
      EXPECT_GE(done, last);
      last = done;
      return stopAfter < 0 || ++calls <= stopAfter;
    };
    SCOPED_TRACE(stopAfter);
    std::string failure;
    bool cancelled = true;
    std::string name = "c";  // appended, not concatenated: GCC 12 (mingw) warns at "c" + to_string
    name += std::to_string(stopAfter + 1);
    const std::string target = dir.Join(name + ".orvkvelv");
    const int result = SealSourceTo(archive, "archive", target, "pw", settings, failure, &cancelled);
    EXPECT_EQ(result, stopAfter < 0 ? 1 : 0) << failure;
    EXPECT_EQ(cancelled, stopAfter >= 0);
    EXPECT_EQ(std::filesystem::exists(target), stopAfter < 0);
    if (stopAfter < 0) {
      EXPECT_EQ(last, kSize);
      EXPECT_EQ(reports, 5);
      auto source = SealedSource::Open(std::make_shared<MemoryArchiveSource>(ReadFile(target)), "pw", failure);
      ASSERT_NE(source, nullptr);
      EXPECT_FALSE(source->VerifyRemaining(failure, [] { return false; }));
      EXPECT_EQ(failure, "cancelled");
      EXPECT_TRUE(source->VerifyRemaining(failure, [] { return true; }));
    }
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(SealedContainerTest, SaltAndNoncePrefixAreFreshForEveryContainer) {
  const std::string a = SealBytes("same", "pw", true), b = SealBytes("same", "pw", true);
  EXPECT_NE(a.substr(24, 35), b.substr(24, 35));
  EXPECT_NE(a.substr(kHeaderSize), b.substr(kHeaderSize));
}

TEST(SealedContainerTest, WrongPasswordFailsAtTheHeader) {
  std::string failure;
  EXPECT_EQ(Open(SealBytes("x", "right"), "wrong", failure), nullptr);
  EXPECT_EQ(failure, "wrong password or damaged file (the header does not authenticate)");
}

TEST(SealedContainerTest, EveryChangedHeaderByteIsRefused) {
  const std::string good = SealBytes(RandomBytes(1000, 1), "pw");
  for (size_t at = 0; at < kHeaderSize; ++at) {
    for (uint8_t flip : {0x01, 0x80}) {
      std::string bad = good;
      bad[at] = static_cast<char>(bad[at] ^ flip);
      std::string failure;
      EXPECT_EQ(Open(bad, "pw", failure), nullptr) << "byte " << at << " flip " << int{flip};
    }
  }
}

// Three chunks: 64 KiB, 64 KiB and 1000 bytes.
class DamagedContainerTest : public ::testing::Test {
 protected:
  const std::string plain_ = RandomBytes(2 * kChunkSize + 1000, 3);
  const std::string good_ = SealBytes(plain_, "pw");
  static int64_t ChunkAt(int index) { return static_cast<int64_t>(kHeaderSize) + index * kSealedChunkSize; }
  std::string Chunk(int index) const { return good_.substr(static_cast<size_t>(ChunkAt(index)), kSealedChunkSize); }
};

TEST_F(DamagedContainerTest, ChangedChunkBytesAndTagsAreRefused) {
  const int64_t lengths[] = {kSealedChunkSize, kSealedChunkSize, 1000 + static_cast<int64_t>(kAeadTagSize)};
  for (int chunk = 0; chunk < 3; ++chunk) {
    // First, middle and last byte of the chunk's data, and a byte of its tag.
    const int64_t data = lengths[chunk] - static_cast<int64_t>(kAeadTagSize);
    for (int64_t offset : {int64_t{0}, data / 2, data - 1, lengths[chunk] - 5}) {
      std::string bad = good_;
      bad[static_cast<size_t>(ChunkAt(chunk) + offset)] ^= 0x20;
      EXPECT_FALSE(OpensAndReads(bad, "pw")) << "chunk " << chunk << " offset " << offset;
    }
  }
}

// Reads that go on from chunk to chunk have the next chunks opened ahead on a thread: the bytes
// before a damaged chunk come through, the read that reaches it fails and names it, and so does
// every later read of it.
TEST(SealedContainerTest, ChunksOpenedAheadStopAtTheDamagedOne) {
  const std::string plain = RandomBytes(12 * kChunkSize, 4);
  std::string bad = SealBytes(plain, "pw");
  bad[static_cast<size_t>(kHeaderSize + 9 * kSealedChunkSize + 100)] ^= 1;
  std::string failure;
  auto source = Open(bad, "pw", failure);
  ASSERT_NE(source, nullptr) << failure;
  std::string piece(static_cast<size_t>(kChunkSize / 2), '\0');
  int64_t at = 0;
  for (; source->ReadAt(at, piece.data(), kChunkSize / 2) == kChunkSize / 2; at += kChunkSize / 2)
    ASSERT_EQ(piece, plain.substr(static_cast<size_t>(at), piece.size())) << at;
  EXPECT_EQ(at, 9 * kChunkSize);
  EXPECT_EQ(source->Failure(), "the container is damaged (chunk 9 does not authenticate)");
  EXPECT_EQ(source->ReadAt(9 * kChunkSize + 10, piece.data(), 10), -1);
  EXPECT_FALSE(source->VerifyRemaining(failure));
  EXPECT_EQ(failure, "the container is damaged (chunk 9 does not authenticate)");
}

TEST_F(DamagedContainerTest, TruncationAtAndAroundEveryBoundaryIsRefused) {
  std::vector<int64_t> cuts = {0, 1, 7, 8, 59, 60, static_cast<int64_t>(kHeaderSize) - 1};
  for (int chunk = 0; chunk <= 3; ++chunk) {
    const int64_t boundary = std::min<int64_t>(ChunkAt(chunk), static_cast<int64_t>(good_.size()));
    for (int64_t delta : {-1, 0, 1}) cuts.push_back(boundary + delta);
  }
  for (int64_t cut : cuts) {
    if (cut < 0 || cut >= static_cast<int64_t>(good_.size())) continue;
    EXPECT_FALSE(OpensAndReads(good_.substr(0, static_cast<size_t>(cut)), "pw")) << "cut at " << cut;
  }
}

TEST_F(DamagedContainerTest, ChunksAppendedRepeatedSwappedOrSplicedInAreRefused) {
  const std::string other = SealBytes(RandomBytes(2 * kChunkSize + 1000, 4), "pw", true);
  const std::string header = good_.substr(0, kHeaderSize), last = good_.substr(static_cast<size_t>(ChunkAt(2)));
  const struct {
    const char* what;
    std::string container;
  } cases[] = {
      {"a byte appended", good_ + "x"},
      {"a chunk appended", good_ + Chunk(1)},
      {"the last chunk repeated", good_ + last},
      {"a chunk repeated", header + Chunk(0) + Chunk(0) + Chunk(1) + last},
      {"two chunks swapped", header + Chunk(1) + Chunk(0) + last},
      {"a chunk dropped", header + Chunk(0) + last},
      {"a chunk from another container", header + other.substr(kHeaderSize, kSealedChunkSize) + Chunk(1) + last},
      {"another container's header", other.substr(0, kHeaderSize) + good_.substr(kHeaderSize)},
  };
  for (const auto& c : cases) EXPECT_FALSE(OpensAndReads(c.container, "pw")) << c.what;
}

TEST(SealedContainerTest, ParametersBeyondTheLimitsAreRefusedBeforeAllocating) {
  const std::string good = SealBytes("x", "pw");
  const struct {
    size_t at;
    uint32_t value;
  } cases[] = {{12, kMaxMemoryKiB + 1}, {12, 0xFFFFFFFF}, {12, 7}, {16, kMaxPasses + 1}, {16, 0}, {20, 2}};
#ifndef _WIN32
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
#endif
  for (const auto& c : cases) {
    std::string bad = good;
    for (int i = 0; i < 4; ++i) bad[c.at + i] = static_cast<char>(c.value >> (8 * i));
    std::string failure;
    EXPECT_EQ(Open(bad, "pw", failure), nullptr);
    EXPECT_NE(failure.find("beyond this program's limits"), std::string::npos) << failure;
  }
#ifndef _WIN32
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "KiB more at the peak";
#endif
}

}  // namespace
}  // namespace kvelv::test
