#pragma once
// Archives and containers made by hand for the tests, on every system: an archive of entries
// whose every field can be made wrong, the container of any archive bytes, and a listing of a
// folder that tells whether anything in it changed.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvelv::test {

// One entry of a hand-made archive. Defaults give a sound entry; every field can be made wrong.
struct ArchiveEntrySpec {
  std::string name;               // stored name bytes, "/" as separator
  std::string content;            // the uncompressed bytes
  uint16_t method = 0;            // 0 stores, 8 deflates `content`; any other stores it as is
  std::optional<std::string> data;            // compressed bytes instead of the ones made
  std::optional<uint32_t> crc;                // default: CRC-32 of `content`
  std::optional<uint32_t> compressedSize;     // default: size of the compressed bytes
  std::optional<uint32_t> uncompressedSize;   // default: size of `content`
  uint16_t flags = 0;
  uint32_t externalAttributes = 0x20;
  uint32_t dosDateTime = 0x586E645C;          // 2024-03-14 12:34:56
  std::string centralExtra;
};

// A sound entry of `content` under `name`, stored (`method` 8: deflated); set more fields after.
inline ArchiveEntrySpec Entry(std::string name, std::string content, uint16_t method = 0) {
  ArchiveEntrySpec e;
  e.name = std::move(name);
  e.content = std::move(content);
  e.method = method;
  return e;
}

// A one-disk archive of `entries`: local headers with data, central directory, end record.
std::string MakeArchive(const std::vector<ArchiveEntrySpec>& entries);
// An Info-ZIP Unicode path extra field (0x7075) giving `utf8Name` for the header name `headerName`.
std::string UnicodePathExtra(const std::string& headerName, const std::string& utf8Name);

// The raw records, for the archives MakeArchive cannot make: every field given as it is written,
// lies included (a name length that is not the name's, sizes and offsets past the archive).
struct RawHeader {
  std::string name;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t csize = 0;
  uint32_t usize = 0;
  uint32_t offset = 0;  // of the local header (central header only)
  std::string extra;
  int nameLength = -1;  // the stored name length when it must lie (central header only)
};
// The header of a stored (0) or deflated (8) entry of `content` whose data is `data`.
RawHeader RawHeaderFor(const std::string& name, const std::string& content, const std::string& data,
                       uint16_t method = 0);
std::string RawLocal(const RawHeader& header, const std::string& data);  // with the data after it
std::string RawCentral(const RawHeader& header);
std::string RawEnd(uint64_t count, uint64_t size, uint64_t offset);
// The Zip64 end record and its locator, the record at `at`.
std::string RawZip64End(uint64_t count, uint64_t size, uint64_t offset, uint64_t at);
// A Zip64 extra field with all three values.
std::string RawZip64Extra(uint64_t usize, uint64_t csize, uint64_t offset);
// CRC-32 of `bytes`.
uint32_t Crc32Of(const std::string& bytes);

// Encrypts `zipBytes` with `password` into the container `path`, as the program does.
void WriteContainer(const std::string& path, const std::string& zipBytes, const std::string& password);

// Everything below `folder`, hidden entries included, one line each in name order: the relative
// name (with "/"), and for a file its size and CRC-32 ("a.txt 5 3610a686"; "sub/" for a folder).
std::vector<std::string> Listing(const std::string& folder);

}  // namespace kvelv::test
