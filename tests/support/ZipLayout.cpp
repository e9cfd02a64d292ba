#include "tests/support/ZipLayout.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace kvelv::test {

std::string ReadFileRange(const std::string& path, uint64_t offset, size_t count) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  if (static_cast<size_t>(in.gcount()) != count) throw std::runtime_error("short read in " + path);
  return bytes;
}

uint64_t LeValue(const std::string& bytes, size_t at, int width) {
  if (at + static_cast<size_t>(width) > bytes.size()) throw std::runtime_error("field past the end");
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

namespace {

uint64_t FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot open " + path);
  return static_cast<uint64_t>(in.tellg());
}

template <typename T>
T Field(const std::string& bytes, size_t at) {
  return static_cast<T>(LeValue(bytes, at, sizeof(T)));
}

}  // namespace

EndRecordView ReadEndRecordView(const std::string& archive) {
  const uint64_t size = FileSize(archive);
  if (size < 22) throw std::runtime_error("archive shorter than an end record");
  const uint64_t window = size < 65557 ? size : 65557;
  const std::string tail = ReadFileRange(archive, size - window, window);
  size_t at = tail.size() - 22;
  while (Field<uint32_t>(tail, at) != 0x06054B50) {
    if (at == 0) throw std::runtime_error("no end record");
    --at;
  }
  EndRecordView end;
  end.position = size - window + at;
  end.thisDisk = Field<uint16_t>(tail, at + 4);
  end.centralDisk = Field<uint16_t>(tail, at + 6);
  end.entriesThisDisk = Field<uint16_t>(tail, at + 8);
  end.totalEntries = Field<uint16_t>(tail, at + 10);
  end.centralSize = Field<uint32_t>(tail, at + 12);
  end.centralOffset = Field<uint32_t>(tail, at + 16);
  end.commentLength = Field<uint16_t>(tail, at + 20);
  if (end.position >= 20) {
    const std::string locator = ReadFileRange(archive, end.position - 20, 20);
    if (Field<uint32_t>(locator, 0) == 0x07064B50) {
      end.hasZip64 = true;
      end.locatorRecordOffset = Field<uint64_t>(locator, 8);
      end.locatorTotalDisks = Field<uint32_t>(locator, 16);
      const std::string record = ReadFileRange(archive, end.locatorRecordOffset, 56);
      if (Field<uint32_t>(record, 0) != 0x06064B50) throw std::runtime_error("bad Zip64 end record");
      end.zip64Position = end.locatorRecordOffset;
      end.zip64RecordSize = Field<uint64_t>(record, 4);
      end.zip64MadeBy = Field<uint16_t>(record, 12);
      end.zip64Needed = Field<uint16_t>(record, 14);
      end.zip64EntriesThisDisk = Field<uint64_t>(record, 24);
      end.zip64TotalEntries = Field<uint64_t>(record, 32);
      end.zip64CentralSize = Field<uint64_t>(record, 40);
      end.zip64CentralOffset = Field<uint64_t>(record, 48);
    }
  }
  return end;
}

std::vector<CentralHeaderView> ReadCentralViews(const std::string& archive) {
  const EndRecordView end = ReadEndRecordView(archive);
  const uint64_t offset = end.hasZip64 ? end.zip64CentralOffset : end.centralOffset;
  const uint64_t size = end.hasZip64 ? end.zip64CentralSize : end.centralSize;
  const uint64_t count = end.hasZip64 ? end.zip64TotalEntries : end.totalEntries;
  const std::string central = ReadFileRange(archive, offset, static_cast<size_t>(size));
  std::vector<CentralHeaderView> views;
  size_t at = 0;
  for (uint64_t i = 0; i < count; ++i) {
    CentralHeaderView v;
    v.position = offset + at;
    v.signature = Field<uint32_t>(central, at);
    if (v.signature != 0x02014B50) throw std::runtime_error("bad central header signature");
    v.versionMadeBy = Field<uint16_t>(central, at + 4);
    v.versionNeeded = Field<uint16_t>(central, at + 6);
    v.flags = Field<uint16_t>(central, at + 8);
    v.method = Field<uint16_t>(central, at + 10);
    v.time = Field<uint16_t>(central, at + 12);
    v.date = Field<uint16_t>(central, at + 14);
    v.crc = Field<uint32_t>(central, at + 16);
    v.compressedSize = Field<uint32_t>(central, at + 20);
    v.uncompressedSize = Field<uint32_t>(central, at + 24);
    v.nameLength = Field<uint16_t>(central, at + 28);
    v.extraLength = Field<uint16_t>(central, at + 30);
    v.commentLength = Field<uint16_t>(central, at + 32);
    v.diskNumberStart = Field<uint16_t>(central, at + 34);
    v.internalAttributes = Field<uint16_t>(central, at + 36);
    v.externalAttributes = Field<uint32_t>(central, at + 38);
    v.localOffset = Field<uint32_t>(central, at + 42);
    if (at + 46 + v.nameLength + v.extraLength > central.size()) throw std::runtime_error("central header past the end");
    v.name = central.substr(at + 46, v.nameLength);
    v.extra = central.substr(at + 46 + v.nameLength, v.extraLength);
    at += 46 + v.nameLength + v.extraLength + v.commentLength;
    views.push_back(std::move(v));
  }
  if (at != central.size()) throw std::runtime_error("central directory size does not match its headers");
  return views;
}

LocalHeaderView ReadLocalView(const std::string& archive, uint64_t offset) {
  const std::string head = ReadFileRange(archive, offset, 30);
  LocalHeaderView v;
  v.position = offset;
  v.signature = Field<uint32_t>(head, 0);
  if (v.signature != 0x04034B50) throw std::runtime_error("bad local header signature");
  v.versionNeeded = Field<uint16_t>(head, 4);
  v.flags = Field<uint16_t>(head, 6);
  v.method = Field<uint16_t>(head, 8);
  v.time = Field<uint16_t>(head, 10);
  v.date = Field<uint16_t>(head, 12);
  v.crc = Field<uint32_t>(head, 14);
  v.compressedSize = Field<uint32_t>(head, 18);
  v.uncompressedSize = Field<uint32_t>(head, 22);
  v.nameLength = Field<uint16_t>(head, 26);
  v.extraLength = Field<uint16_t>(head, 28);
  const std::string rest = ReadFileRange(archive, offset + 30, v.nameLength + v.extraLength);
  v.name = rest.substr(0, v.nameLength);
  v.extra = rest.substr(v.nameLength);
  return v;
}

std::map<uint16_t, std::string> ExtraFields(const std::string& extra) {
  std::map<uint16_t, std::string> fields;
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const auto id = static_cast<uint16_t>(LeValue(extra, at, 2));
    const auto size = static_cast<size_t>(LeValue(extra, at + 2, 2));
    if (at + 4 + size > extra.size()) throw std::runtime_error("extra field past its end");
    fields[id] = extra.substr(at + 4, size);
    at += 4 + size;
  }
  if (at != extra.size()) throw std::runtime_error("trailing bytes in extra field");
  return fields;
}

uint32_t ExpectedDosDateTime(int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm local {};
  localtime_r(&t, &local);
  const uint32_t date = static_cast<uint32_t>(((local.tm_year + 1900 - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  const uint32_t time = static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return (date << 16) | time;
}

}  // namespace kvelv::test

namespace kvelv::test {

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!dir.empty()) {
      std::filesystem::path candidate = std::filesystem::path(dir) / name;
      std::error_code ec;
      if (std::filesystem::is_regular_file(candidate, ec) && access(candidate.c_str(), X_OK) == 0) {
        return candidate.string();
      }
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return std::string();
}

}  // namespace kvelv::test
