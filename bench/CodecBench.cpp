// Throughput of the pieces the pipeline is made of, on fixed-seed data.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "zip/Crc32.h"
#include "zip/EntryCompressor.h"
#include "zip/InflateDecoder.h"
#include "zip/ParallelDeflate.h"

namespace kvelv {
namespace {

std::vector<uint8_t> RandomData(size_t n) {
  std::mt19937_64 gen(42);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i + 8 <= n; i += 8) {
    const uint64_t x = gen();
    std::memcpy(&v[i], &x, 8);
  }
  return v;
}

// Log-like text that deflates to about a fifth.
std::vector<uint8_t> TextData(size_t n) {
  std::mt19937 gen(7);
  static const char* words[] = {"request", "session", "worker", "cache", "retry", "status=200", "timeout",
                                "commit", "upload", "accepted"};
  std::string s;
  while (s.size() < n) {
    s += "2026-03-01 12:" + std::to_string(gen() % 60) + ":" + std::to_string(gen() % 60) + " INFO [http] ";
    for (int i = 0; i < 7; ++i) s += std::string(words[gen() % 10]) + " ";
    s += "id=" + std::to_string(gen() % 1000000) + "\n";
  }
  return std::vector<uint8_t>(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
}

const std::vector<uint8_t>& Text() {
  static const std::vector<uint8_t> text = TextData(32u << 20);
  return text;
}

SourceReader MemoryReader(const std::vector<uint8_t>& data, size_t& pos) {
  return [&data, &pos](uint8_t* buffer, size_t max) {
    const size_t n = std::min(max, data.size() - pos);
    std::memcpy(buffer, data.data() + pos, n);
    pos += n;
    return n;
  };
}

void BM_Crc32Slicing16(benchmark::State& state) {
  const auto data = RandomData(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(Crc32Update(kCrc32Start, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Crc32Slicing16);

void BM_Crc32Bytewise(benchmark::State& state) {
  const auto data = RandomData(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(Crc32UpdateBytewise(kCrc32Start, data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Crc32Bytewise);

void BM_DeflateSingleStream(benchmark::State& state) {
  const auto& text = Text();
  size_t out = 0;
  for (auto _ : state) {
    size_t pos = 0;
    out = 0;
    // One chunk the size of the input: a single stream on this thread.
    ParallelDeflateEntryData(6, MemoryReader(text, pos), [&](const uint8_t*, size_t n) { out += n; }, 1, text.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["ratio"] = static_cast<double>(out) / static_cast<double>(text.size());
}
BENCHMARK(BM_DeflateSingleStream)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeflateParallel(benchmark::State& state) {
  const auto& text = Text();
  size_t out = 0;
  for (auto _ : state) {
    size_t pos = 0;
    out = 0;
    ParallelDeflateEntryData(6, MemoryReader(text, pos), [&](const uint8_t*, size_t n) { out += n; },
                             static_cast<unsigned>(state.range(0)));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  state.counters["ratio"] = static_cast<double>(out) / static_cast<double>(text.size());
}
BENCHMARK(BM_DeflateParallel)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const std::vector<uint8_t>& data) : data_(data) {}
  size_t Read(uint8_t* buffer, size_t max) override {
    const size_t n = std::min({max, data_.size() - pos_, size_t{32768}});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t pos_ = 0;
};

class CrcSink : public ByteSink {
 public:
  void Write(const uint8_t* data, size_t count) override { reg = Crc32Update(reg, data, count); }
  uint32_t reg = kCrc32Start;
};

void BM_InflateWithCrc(benchmark::State& state) {
  const auto& text = Text();
  std::vector<uint8_t> packed;
  size_t pos = 0;
  ParallelDeflateEntryData(6, MemoryReader(text, pos), [&](const uint8_t* p, size_t n) {
    packed.insert(packed.end(), p, p + n);
  });
  for (auto _ : state) {
    MemorySource source(packed);
    CrcSink sink;
    Inflate(source, sink);
    benchmark::DoNotOptimize(sink.reg);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_InflateWithCrc)->Unit(benchmark::kMillisecond)->UseRealTime();

void Cipher(benchmark::State& state, bool encrypt) {
  const auto data = RandomData(1 << 20);
  std::vector<uint8_t> out(data.size() + 16);
  const unsigned char key[32] = {1, 2, 3};
  const unsigned char iv[16] = {4, 5, 6};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex2(ctx, EVP_aes_256_cbc(), key, iv, encrypt ? 1 : 0, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  for (auto _ : state) {
    int length = 0;
    EVP_CipherUpdate(ctx, out.data(), &length, data.data(), static_cast<int>(data.size()));
    benchmark::DoNotOptimize(length);
  }
  EVP_CIPHER_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
void BM_Aes256CbcEncrypt(benchmark::State& state) { Cipher(state, true); }
void BM_Aes256CbcDecrypt(benchmark::State& state) { Cipher(state, false); }
BENCHMARK(BM_Aes256CbcEncrypt);
BENCHMARK(BM_Aes256CbcDecrypt);

// The temporary archive's keystream (AES-256-CTR), as its writer applies it to a buffer.
void BM_Aes256CtrKeystream(benchmark::State& state) {
  const std::vector<uint8_t> data = RandomData(256 << 10);
  std::vector<uint8_t> out(data.size());
  unsigned char key[32] = {1}, iv[16] = {2};
  for (auto _ : state) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();  // one per call, as the keystream makes it
    int length = 0;
    EVP_EncryptInit_ex2(ctx, EVP_aes_256_ctr(), key, iv, nullptr);
    EVP_EncryptUpdate(ctx, out.data(), &length, data.data(), static_cast<int>(data.size()));
    EVP_CIPHER_CTX_free(ctx);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Aes256CtrKeystream);

}  // namespace
}  // namespace kvelv

BENCHMARK_MAIN();
