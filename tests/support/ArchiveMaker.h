#pragma once
// Archives and containers made by hand for the tests, on every system: an archive of entries
// whose every field can be made wrong, the container of any archive bytes, and a listing of a
// folder that tells whether anything in it changed.
#include <cstdint>
#include <optional>
#include <string>
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

// A one-disk archive of `entries`: local headers with data, central directory, end record.
std::string MakeArchive(const std::vector<ArchiveEntrySpec>& entries);
// An Info-ZIP Unicode path extra field (0x7075) giving `utf8Name` for the header name `headerName`.
std::string UnicodePathExtra(const std::string& headerName, const std::string& utf8Name);

// Encrypts `zipBytes` with `password` into the container `path`, as the program does.
void WriteContainer(const std::string& path, const std::string& zipBytes, const std::string& password);

// Everything below `folder`, hidden entries included, one line each in name order: the relative
// name (with "/"), and for a file its size and CRC-32 ("a.txt 5 3610a686"; "sub/" for a folder).
std::vector<std::string> Listing(const std::string& folder);

}  // namespace kvelv::test
