#include "zip/extract/EntryStreams.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "zip/Concurrency.h"
#include "zip/common/LittleEndian.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {
constexpr uint64_t kBlockSize = 32768;
// Entries from this size on get the second thread; below it the thread costs more than it saves.
constexpr uint64_t kWorkerThreshold = uint64_t{1} << 20;
constexpr size_t kWorkerBuffer = 256 * 1024;
}  // namespace

void SeekToEntryData(BufferedFileStream& archive, uint64_t localHeader) {
  uint8_t header[kLocalHeaderSize];
  if (localHeader > static_cast<uint64_t>(INT64_MAX) - 0x30000 || !archive.Seek(static_cast<int64_t>(localHeader)) ||
      !archive.ReadExact(header, kLocalHeaderSize)) {
    throw EFatalUnzipError(zip_text::kPrematureEnd);
  }
  const uint64_t data = localHeader + kLocalHeaderSize + GetU16(&header[26]) + GetU16(&header[28]);
  if (!archive.Seek(static_cast<int64_t>(data))) throw EFatalUnzipError(zip_text::kPrematureEnd);
}

void CheckDeclaredSize(uint64_t written, size_t count, uint64_t declared) {
  if (count > declared - written) throw EBiggerThanUncompressed(zip_text::kBiggerThanUncompressed);
}

size_t EntryDataSource::Read(uint8_t* buffer, size_t max) {
  const uint64_t want = std::min<uint64_t>({max, remaining_, kBlockSize});
  if (want == 0) return 0;
  if (archive_.Read(buffer, static_cast<int64_t>(want)) != static_cast<int64_t>(want)) {
    throw EFatalUnzipError(zip_text::kPrematureEnd);
  }
  remaining_ -= want;
  return static_cast<size_t>(want);
}

bool EntryDataSource::Rewind() {
  if (!archive_.Seek(start_)) return false;
  remaining_ = size_;
  return true;
}

// Two buffers: the caller fills one while the thread sums and writes the other, in order.
class EntryOutput::Worker {
 public:
  explicit Worker(EntryOutput& owner)
      : owner_(owner), filling_(kWorkerBuffer), handed_(kWorkerBuffer), thread_(1, [this] { Run(); }, [this] { Stop(); }) {}
  ~Worker() { Stop(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Free space of the buffer being filled, handed over first when too little is left.
  uint8_t* Room(size_t& size) {
    if (filling_.size() - fill_ < kBlockSize) Hand();
    size = filling_.size() - fill_;
    return filling_.data() + fill_;
  }

  void Append(const uint8_t* data, size_t count) {
    if (data == filling_.data() + fill_ && count <= filling_.size() - fill_) {
      // Decoded into Room(): already in place.
      fill_ += count;
      if (fill_ == filling_.size()) Hand();
      return;
    }
    while (count > 0) {
      const size_t n = std::min(count, filling_.size() - fill_);
      std::memcpy(filling_.data() + fill_, data, n);
      fill_ += n;
      data += n;
      count -= n;
      if (fill_ == filling_.size()) Hand();
    }
  }

  // Hands over what is buffered and waits for the thread; false when a write failed.
  bool Drain() {
    if (fill_ > 0) Hand();
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !pending_; });
    return !failed_;
  }

  bool Failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }

 private:
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.Join();
  }

  void Hand() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      idle_.wait(lock, [this] { return !pending_; });
      std::swap(filling_, handed_);
      handedSize_ = fill_;
      pending_ = true;
    }
    fill_ = 0;
    wake_.notify_one();
  }

  void Run() {
    for (;;) {
      size_t size = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stop_ || pending_; });
        if (stop_) return;
        size = handedSize_;
      }
      const bool ok = failed_ || owner_.Consume(handed_.data(), size);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ok) failed_ = true;
        pending_ = false;
      }
      idle_.notify_all();
    }
  }

  EntryOutput& owner_;
  std::vector<uint8_t> filling_;  // the caller's
  std::vector<uint8_t> handed_;   // the thread's while pending_
  size_t fill_ = 0;
  size_t handedSize_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool pending_ = false;
  bool failed_ = false;
  bool stop_ = false;
  ThreadGroup thread_;  // last: started once the rest is ready
};

EntryOutput::EntryOutput(BufferedFileStream* file, uint64_t declaredSize, std::function<void(size_t)> progress)
    : file_(file), declared_(declaredSize), progress_(std::move(progress)) {
  if (declaredSize >= kWorkerThreshold) worker_ = std::make_unique<Worker>(*this);
}

EntryOutput::~EntryOutput() = default;

bool EntryOutput::Consume(const uint8_t* data, size_t count) {
  crc_ = Crc32Update(crc_, data, count);
  return file_ == nullptr || file_->Write(data, static_cast<int64_t>(count)) == static_cast<int64_t>(count);
}

void EntryOutput::Write(const uint8_t* data, size_t count) {
  CheckDeclaredSize(written_, count, declared_);
  if (worker_) {
    if (worker_->Failed()) throw ECantWriteUCF(zip_text::kCantWriteUcf);
    worker_->Append(data, count);
  } else if (!Consume(data, count)) {
    throw ECantWriteUCF(zip_text::kCantWriteUcf);
  }
  written_ += count;
  if (progress_) progress_(count);
}

void EntryOutput::WriteSummed(const uint8_t* data, size_t count) {
  CheckDeclaredSize(written_, count, declared_);
  // Never through the worker: it has nothing of this entry to write before these bytes.
  const auto size = static_cast<int64_t>(count);
  if (data != nullptr && file_ != nullptr && file_->Write(data, size) != size) throw ECantWriteUCF(zip_text::kCantWriteUcf);
  written_ += count;
  if (progress_) progress_(count);
}

uint8_t* EntryOutput::Room(size_t& size) {
  if (!worker_) return ByteSink::Room(size);
  return worker_->Room(size);
}

void EntryOutput::Finish() {
  if (!worker_) return;
  const bool ok = worker_->Drain();
  worker_.reset();
  if (!ok) throw ECantWriteUCF(zip_text::kCantWriteUcf);
}

}  // namespace kvelv
