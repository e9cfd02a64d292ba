#pragma once
// Field-by-field views of the records of an archive file, read straight from the file (seeks,
// no full load, so archives past 4 GiB can be checked). Independent of the library's reader.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kvelv::test {

struct LocalHeaderView {
  uint64_t position = 0;
  uint32_t signature = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  std::string name;
  std::string extra;
  uint64_t DataStart() const { return position + 30 + nameLength + extraLength; }
};

struct CentralHeaderView {
  uint64_t position = 0;
  uint32_t signature = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localOffset = 0;
  std::string name;
  std::string extra;
};

struct EndRecordView {
  uint64_t position = 0;
  uint16_t thisDisk = 0;
  uint16_t centralDisk = 0;
  uint16_t entriesThisDisk = 0;
  uint16_t totalEntries = 0;
  uint32_t centralSize = 0;
  uint32_t centralOffset = 0;
  uint16_t commentLength = 0;
  // Zip64 end record and locator, when the locator sits right before the end record.
  bool hasZip64 = false;
  uint64_t zip64Position = 0;
  uint64_t zip64RecordSize = 0;
  uint16_t zip64MadeBy = 0;
  uint16_t zip64Needed = 0;
  uint64_t zip64EntriesThisDisk = 0;
  uint64_t zip64TotalEntries = 0;
  uint64_t zip64CentralSize = 0;
  uint64_t zip64CentralOffset = 0;
  uint64_t locatorRecordOffset = 0;
  uint32_t locatorTotalDisks = 0;
};

// Throws std::runtime_error when the file is not laid out as expected.
EndRecordView ReadEndRecordView(const std::string& archive);
std::vector<CentralHeaderView> ReadCentralViews(const std::string& archive);
LocalHeaderView ReadLocalView(const std::string& archive, uint64_t offset);
// `count` bytes at `offset` of the file.
std::string ReadFileRange(const std::string& path, uint64_t offset, size_t count);

// Extra fields by header ID (data only, without the 4-byte heads).
std::map<uint16_t, std::string> ExtraFields(const std::string& extra);
uint64_t LeValue(const std::string& bytes, size_t at, int width);

// The DOS date/time (date << 16 | time) of a Unix time in the local time zone.
uint32_t ExpectedDosDateTime(int64_t unixSeconds);

}  // namespace kvelv::test

namespace kvelv::test {

// Full path of a program found on $PATH ("" when there is none), for running peer tools.
std::string FindProgram(const std::string& name);

}  // namespace kvelv::test
