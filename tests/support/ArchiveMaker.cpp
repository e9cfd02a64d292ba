#include "tests/support/ArchiveMaker.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "jobs/CryptComponent.h"
#include "jobs/JobCrypto.h"
#include "tests/support/RawDeflate.h"
#include "tests/support/TestSupport.h"

namespace kvelv::test {

namespace {

void Put(std::string& out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t Crc(std::string_view bytes) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}


}  // namespace

std::string MakeArchive(const std::vector<ArchiveEntrySpec>& entries) {
  std::string archive;
  std::string central;
  for (const ArchiveEntrySpec& e : entries) {
    const std::string data = e.data ? *e.data : (e.method == 8 ? RawDeflate(e.content, 6) : e.content);
    const uint32_t crc = e.crc ? *e.crc : Crc(e.content);
    const uint32_t csize = e.compressedSize ? *e.compressedSize : static_cast<uint32_t>(data.size());
    const uint32_t usize = e.uncompressedSize ? *e.uncompressedSize : static_cast<uint32_t>(e.content.size());
    const size_t offset = archive.size();
    Put(archive, 0x04034b50, 4);
    Put(archive, 20, 2);
    Put(archive, e.flags, 2);
    Put(archive, e.method, 2);
    Put(archive, e.dosDateTime, 4);
    Put(archive, crc, 4);
    Put(archive, csize, 4);
    Put(archive, usize, 4);
    Put(archive, e.name.size(), 2);
    Put(archive, 0, 2);
    archive += e.name;
    archive += data;

    Put(central, 0x02014b50, 4);
    Put(central, 20, 2);  // made by MS-DOS, 2.0
    Put(central, 20, 2);
    Put(central, e.flags, 2);
    Put(central, e.method, 2);
    Put(central, e.dosDateTime, 4);
    Put(central, crc, 4);
    Put(central, csize, 4);
    Put(central, usize, 4);
    Put(central, e.name.size(), 2);
    Put(central, e.centralExtra.size(), 2);
    Put(central, 0, 2);  // comment length
    Put(central, 0, 2);  // disk number start
    Put(central, 0, 2);  // internal attributes
    Put(central, e.externalAttributes, 4);
    Put(central, offset, 4);
    central += e.name;
    central += e.centralExtra;
  }
  const size_t centralOffset = archive.size();
  archive += central;
  Put(archive, 0x06054b50, 4);
  Put(archive, 0, 2);
  Put(archive, 0, 2);
  Put(archive, entries.size(), 2);
  Put(archive, entries.size(), 2);
  Put(archive, central.size(), 4);
  Put(archive, centralOffset, 4);
  Put(archive, 0, 2);
  return archive;
}

std::string UnicodePathExtra(const std::string& headerName, const std::string& utf8Name) {
  std::string field;
  Put(field, 0x7075, 2);
  Put(field, 5 + utf8Name.size(), 2);
  Put(field, 1, 1);
  Put(field, Crc(headerName), 4);
  field += utf8Name;
  return field;
}

void WriteContainer(const std::string& path, const std::string& zipBytes, const std::string& password) {
  TempDir work;
  const std::string zip = work.Join("plain.zip");
  WriteFile(zip, zipBytes);
  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  if (!component) throw std::runtime_error("no crypto component");
  ConfigureForContainer(*component, platform::SecretBytes(password));
  if (component->EncryptFileTo(zip, path) != 1) throw std::runtime_error(component->FailureText());
}

std::vector<std::string> Listing(const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path root = fs::u8path(folder);
  std::vector<std::string> lines;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::u8string relative = it->path().lexically_relative(root).generic_u8string();
    std::string line(relative.begin(), relative.end());
    if (it->is_directory(ec)) {
      line += "/";
    } else {
      const std::string bytes = ReadFile(std::string(reinterpret_cast<const char*>(it->path().u8string().c_str())));
      char sizeAndCrc[48];
      std::snprintf(sizeAndCrc, sizeof sizeAndCrc, " %zu %08x", bytes.size(), static_cast<unsigned>(Crc(bytes)));
      line.append(sizeAndCrc);
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace kvelv::test
