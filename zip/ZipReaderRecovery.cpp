// Rebuilding the entry list from local headers when the central directory is unusable.
#include <algorithm>
#include <vector>

#include "zip/common/LittleEndian.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"
#include "zip/common/ZipText.h"

namespace kvelv {

namespace {

// The extension of the last path component, with its dot ("" when there is none).
std::string ExtensionOf(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t sep = path.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return {};
  return path.substr(dot);
}

// Entries written with a data descriptor carry no sizes in their local header. Finds the
// descriptor (with signature) whose compressed size equals its distance from `dataStart`, and
// fills in crc and sizes. Returns the position after it, or -1 when there is none before the
// next header signature; `nextHeader` is then where that signature is (-1 for none).
int64_t FindDataDescriptor(BufferedFileStream& in, int64_t dataStart, int64_t fileSize, ZipHeaderInfo& entry,
                           int64_t& nextHeader) {
  nextHeader = -1;
  constexpr int64_t kChunk = 65536;
  constexpr int64_t kOverlap = 23;  // a descriptor straddling two chunks is seen in the second
  std::vector<uint8_t> chunk(kChunk);
  for (int64_t at = dataStart; at + 16 <= fileSize;) {
    if (!in.Seek(at)) return -1;
    const int64_t got = in.Read(chunk.data(), kChunk);
    if (got < 16) return -1;
    for (int64_t j = 0; j + 16 <= got; ++j) {
      const uint8_t* p = chunk.data() + j;
      if (p[0] != 'P' || p[1] != 'K') continue;
      // The descriptor comes before the next header; stopping there keeps the whole
      // recovery linear in the file size.
      if ((p[2] == 3 && p[3] == 4) || (p[2] == 1 && p[3] == 2)) {
        if (p[2] == 3) nextHeader = at + j;
        return -1;
      }
      if (p[2] != 7 || p[3] != 8) continue;
      const uint64_t distance = static_cast<uint64_t>(at + j - dataStart);
      if (GetU32(p + 8) == distance && distance < 0xFFFFFFFF) {
        entry.SetCrc32(GetU32(p + 4));
        entry.SetCompressedSize(distance);
        entry.SetUncompressedSize(GetU32(p + 12));
        return at + j + 16;
      }
      if (j + 24 <= got && GetU64(p + 8) == distance) {  // Zip64 form
        entry.SetCrc32(GetU32(p + 4));
        entry.SetCompressedSize(distance);
        entry.SetUncompressedSize(GetU64(p + 16));
        return at + j + 24;
      }
    }
    if (got < kChunk) return -1;
    at += got - kOverlap;
  }
  return -1;
}

}  // namespace

bool ZipReader::RecoverFromLocalHeaders() {
  recoveryTried_ = true;
  rebuilt_ = true;
  sortedView_.reset();
  entries_ = std::make_unique<EntryList>(ZipSortMode::ByNone, DuplicatePolicy::Refuse, EntryOwnership::Owns);
  if (!archive_) return false;
  BufferedFileStream& in = *archive_;
  const int64_t size = in.Size();
  if (size < 0) return false;

  // Find the first local header signature with a plausible version needed to extract.
  int64_t scan = SameTextAscii(ExtensionOf(zipName_), ".exe") ? 14000 : 0;
  int64_t found = -1;
  constexpr int64_t kChunk = 10240;
  std::vector<uint8_t> chunk(kChunk);
  while (found < 0 && scan + 6 <= size) {
    ProcessMessages();
    if (!in.Seek(scan)) break;
    const int64_t got = in.Read(chunk.data(), kChunk);
    if (got < 6) break;
    for (int64_t j = 0; j + 6 <= got; ++j) {
      const uint8_t* p = chunk.data() + j;
      if (p[0] == 'P' && p[1] == 'K' && p[2] == 3 && p[3] == 4 && p[5] < 10) {
        found = scan + j;
        break;
      }
    }
    scan += got - 5;  // a signature may straddle two chunks
  }
  if (found < 0) return false;

  in.Seek(found);
  uint64_t count = 0;
  for (;;) {
    auto entry = std::make_unique<ZipHeaderInfo>(oemConvert_);
    if (!entry->ReadLocalHeader(in)) break;
    // Step over the data (and a data descriptor); never past the end of the file.
    uint64_t skip = entry->LocalExtraLength() + entry->CompressedSize();
    if ((entry->Flag() & kFlagDataDescriptor) != 0) skip += 16;
    const uint64_t here = static_cast<uint64_t>(in.Position());
    uint64_t next = skip > static_cast<uint64_t>(size) - std::min(here, static_cast<uint64_t>(size))
                        ? static_cast<uint64_t>(size)
                        : here + skip;
    if ((entry->Flag() & kFlagDataDescriptor) != 0 && entry->CompressedSize() == 0) {
      const int64_t dataStart = static_cast<int64_t>(here) + entry->LocalExtraLength();
      int64_t nextHeader = -1;
      const int64_t after = FindDataDescriptor(in, dataStart, size, *entry, nextHeader);
      if (after >= 0) {
        next = static_cast<uint64_t>(after);
      } else {
        // No descriptor with the right distance (none, one without its signature, or one whose
        // sizes lie): size and CRC cannot be known, so the entry cannot pass a test. The next
        // entry is wherever the next local header is.
        entry->SetSizesUnknown(true);
        next = nextHeader >= 0 ? static_cast<uint64_t>(nextHeader) : static_cast<uint64_t>(size);
      }
    }
    try {
      entries_->Add(std::move(entry));
      ++count;
    } catch (const EListError&) {
      break;
    }
    in.Seek(static_cast<int64_t>(next));
    if (count % 64 == 0) ProcessMessages();
  }

  endRecord_.ResetEndRecord();
  endRecord_.SetThisDisk(0);
  endRecord_.SetCentralOffset(static_cast<uint64_t>(in.Position()));
  endRecord_.SetTotalEntries(count);
  endRecord_.SetEntriesThisDisk(count);
  return true;
}

}  // namespace kvelv
