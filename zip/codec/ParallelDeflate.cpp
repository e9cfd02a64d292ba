#include "zip/codec/ParallelDeflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <vector>

#include "zip/Concurrency.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {
constexpr size_t kWindow = 32768;
}  // namespace

namespace parallel_deflate {

struct Chunk {
  std::unique_ptr<uint8_t[]> input;  // chunk-size bytes, not zero-filled either
  size_t inputCapacity = 0;
  size_t size = 0;
  std::vector<uint8_t> dictionary;  // last bytes of the chunk before; empty for the first
  bool last = false;
  // Not zero-filled: only the pages deflate writes become resident, a fifth for text.
  std::unique_ptr<uint8_t[]> output;
  size_t capacity = 0;
  size_t produced = 0;
  bool done = false;
  std::exception_ptr error;
};

// One raw deflate state, reset for every chunk.
class Deflater {
 public:
  explicit Deflater(int level) {
    if (deflateInit2(&zs_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw EZCompressionError("error");
    }
  }
  ~Deflater() { deflateEnd(&zs_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // With `abandoned`, the input goes in in slices and the work stops after the slice during
  // which it was set (the chunk is then of no use). The stream is the same either way.
  void Compress(Chunk& c, const std::atomic<bool>* abandoned = nullptr) {
    if (deflateReset(&zs_) != Z_OK) throw EZCompressionError("error");
    if (!c.dictionary.empty() &&
        deflateSetDictionary(&zs_, c.dictionary.data(), static_cast<uInt>(c.dictionary.size())) != Z_OK) {
      throw EZCompressionError("error");
    }
    // The bound covers the data; the sync flush marker and the final block need a few bytes more.
    c.produced = 0;
    const size_t bound = deflateBound(&zs_, static_cast<uLong>(c.size)) + 64;
    if (c.capacity < bound) Grow(c, bound);
    zs_.next_in = c.input.get();
    size_t left = c.size;
    for (;;) {
      const size_t slice = abandoned != nullptr ? std::min(left, kSlice) : left;
      left -= slice;
      zs_.avail_in = static_cast<uInt>(slice);
      const int flush = left > 0 ? Z_NO_FLUSH : c.last ? Z_FINISH : Z_SYNC_FLUSH;
      for (;;) {
        if (c.produced == c.capacity) Grow(c, c.capacity * 2);
        zs_.next_out = c.output.get() + c.produced;
        zs_.avail_out = static_cast<uInt>(c.capacity - c.produced);
        const int result = deflate(&zs_, flush);
        if (result < 0 && result != Z_BUF_ERROR) throw EZCompressionError("error");
        c.produced = c.capacity - zs_.avail_out;
        if (flush == Z_NO_FLUSH) {
          if (zs_.avail_in == 0) break;
        } else if (c.last ? result == Z_STREAM_END : (zs_.avail_in == 0 && zs_.avail_out > 0)) {
          return;
        }
      }
      if (abandoned->load(std::memory_order_relaxed)) return;
    }
  }

 private:
  static void Grow(Chunk& c, size_t capacity) {
    std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity]);
    if (c.produced > 0) std::memcpy(bigger.get(), c.output.get(), c.produced);
    c.output = std::move(bigger);
    c.capacity = capacity;
  }

  static constexpr size_t kSlice = size_t{256} << 10;
  z_stream zs_{};
};

}  // namespace parallel_deflate

namespace {

using parallel_deflate::Chunk;
using parallel_deflate::Deflater;

// Workers deflate chunks in submission order; the caller writes them in order. Each worker keeps
// its deflate state from one chunk to the next.
using DeflatePool = TaskPool<Chunk, std::unique_ptr<Deflater>>;

// Reads until the chunk is full or the source ends.
void Fill(Chunk& c, size_t chunkSize, const SourceReader& read) {
  if (c.inputCapacity < chunkSize) {
    c.input.reset(new uint8_t[chunkSize]);
    c.inputCapacity = chunkSize;
  }
  c.size = 0;
  while (c.size < chunkSize) {
    const size_t got = read(c.input.get() + c.size, chunkSize - c.size);
    if (got == 0) break;
    c.size += got;
  }
}

}  // namespace

unsigned DeflateThreads() { return HardwareThreads(); }

// Gives the caller's chunks back to the deflater however the call ends, keeping only a few.
struct ParallelDeflater::ReturnChunks {
  ParallelDeflater& owner;
  std::unique_ptr<Chunk>& current;
  std::unique_ptr<Chunk>& next;
  ~ReturnChunks() {
    owner.GiveChunk(std::move(current));
    owner.GiveChunk(std::move(next));
    if (owner.spare_.size() > kKeep) owner.spare_.resize(kKeep);
  }
};

ParallelDeflater::ParallelDeflater() noexcept = default;
ParallelDeflater::~ParallelDeflater() = default;

std::unique_ptr<ParallelDeflater::Chunk> ParallelDeflater::TakeChunk() {
  if (spare_.empty()) return std::make_unique<Chunk>();
  std::unique_ptr<Chunk> c = std::move(spare_.back());
  spare_.pop_back();
  c->done = false;
  c->error = nullptr;
  c->last = false;
  c->dictionary.clear();
  return c;
}

void ParallelDeflater::GiveChunk(std::unique_ptr<Chunk> chunk) {
  if (chunk) spare_.push_back(std::move(chunk));
}

ParallelDeflater::Deflater& ParallelDeflater::SingleStream(int level) {
  if (!deflater_ || level_ != level) {
    deflater_.reset();
    deflater_ = std::make_unique<Deflater>(level);
    level_ = level;
  }
  return *deflater_;
}

void ParallelDeflateEntryData(int level, const SourceReader& read, const ArchiveWriter& write, unsigned threads,
                              size_t chunkSize) {
  ParallelDeflater().Deflate(level, read, write, threads, chunkSize);
}

void ParallelDeflater::Deflate(int level, const SourceReader& read, const ArchiveWriter& write, unsigned threads,
                               size_t chunkSize) {
  threads = std::max(threads, 1u);
  chunkSize = std::max(chunkSize, kWindow);
  const size_t maxInFlight = 2 * static_cast<size_t>(threads);

  std::unique_ptr<Chunk> current = TakeChunk();
  std::unique_ptr<Chunk> next;
  ReturnChunks giveBack{*this, current, next};
  Fill(*current, chunkSize, read);
  next = TakeChunk();
  Fill(*next, chunkSize, read);
  if (next->size == 0) {
    // One chunk: an ordinary single stream on the calling thread, no workers.
    current->last = true;
    try {
      SingleStream(level).Compress(*current);
    } catch (...) {
      deflater_.reset();  // a failed state is not reused
      throw;
    }
    write(current->output.get(), current->produced);
    return;
  }

  std::deque<std::unique_ptr<Chunk>> inFlight;
  // Set as this call ends. Only when it is left early (a read, a write or the check threw) are
  // chunks still being compressed then: they stop within a slice instead of running to their end.
  std::atomic<bool> abandoned{false};
  // Declared after inFlight: joined before the chunks go.
  DeflatePool pool(threads, [level, &abandoned](Chunk& chunk, std::unique_ptr<Deflater>& deflater) {
    if (!deflater) deflater = std::make_unique<Deflater>(level);
    deflater->Compress(chunk, &abandoned);
  });
  struct Abandon {
    std::atomic<bool>& flag;
    ~Abandon() { flag = true; }
  } abandon{abandoned};  // after the pool: set before it joins its workers
  auto writeOldest = [&] {
    // The chunk stays in inFlight until it is done: when the check throws, a worker may still be
    // compressing it, and it must outlive the pool's workers.
    const Chunk* oldest = inFlight.front().get();
    if (check_) {
      check_();
      while (!pool.WaitFor(oldest, std::chrono::milliseconds(50))) check_();
    } else {
      pool.Wait(oldest);
    }
    std::unique_ptr<Chunk> c = std::move(inFlight.front());
    inFlight.pop_front();
    if (c->error) std::rethrow_exception(c->error);
    write(c->output.get(), c->produced);
    GiveChunk(std::move(c));
  };

  for (;;) {
    pool.Submit(current.get());
    inFlight.push_back(std::move(current));
    if (!next) break;
    current = std::move(next);
    const Chunk& before = *inFlight.back();
    const size_t keep = std::min(kWindow, before.size);
    current->dictionary.assign(before.input.get() + (before.size - keep), before.input.get() + before.size);
    while (inFlight.size() >= maxInFlight) writeOldest();
    next = TakeChunk();
    Fill(*next, chunkSize, read);
    if (next->size == 0) {
      current->last = true;
      next.reset();
    }
  }
  while (!inFlight.empty()) writeOldest();
}

}  // namespace kvelv
