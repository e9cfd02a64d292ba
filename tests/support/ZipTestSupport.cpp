#include "tests/support/ZipTestSupport.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "tests/support/RunProcess.h"
#include "tests/support/ZipLayout.h"
#include "zip/ParallelDeflate.h"

namespace kvelv::test {

std::string WriterDeflate(const std::string& data, bool parallel) {
  size_t pos = 0;
  SourceReader read = [&](uint8_t* buffer, size_t max) {
    const size_t n = std::min(max, data.size() - pos);
    std::copy_n(data.data() + pos, n, buffer);
    pos += n;
    return n;
  };
  std::string out;
  ArchiveWriter write = [&](const uint8_t* p, size_t n) { out.append(reinterpret_cast<const char*>(p), n); };
  if (!parallel) return RawDeflate(data, 6);
  ParallelDeflateEntryData(6, read, write);
  return out;
}

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

namespace {

uint32_t Le(const std::string& s, size_t at, size_t width) {
  if (at + width > s.size()) throw std::runtime_error("archive too short");
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return value;
}

}  // namespace

std::vector<RawEntry> ReadRawEntries(const std::string& archive) {
  if (archive.size() < 22) throw std::runtime_error("no end record");
  size_t end = archive.size() - 22;
  while (Le(archive, end, 4) != 0x06054b50) {
    if (end == 0) throw std::runtime_error("no end record");
    --end;
  }
  uint32_t count = Le(archive, end + 10, 2);
  size_t at = Le(archive, end + 16, 4);
  std::vector<RawEntry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    if (Le(archive, at, 4) != 0x02014b50) throw std::runtime_error("bad central header");
    RawEntry e;
    e.flags = static_cast<uint16_t>(Le(archive, at + 8, 2));
    e.method = static_cast<uint16_t>(Le(archive, at + 10, 2));
    e.crc = Le(archive, at + 16, 4);
    e.compressedSize = Le(archive, at + 20, 4);
    e.uncompressedSize = Le(archive, at + 24, 4);
    size_t nameLength = Le(archive, at + 28, 2);
    size_t extraLength = Le(archive, at + 30, 2);
    size_t commentLength = Le(archive, at + 32, 2);
    size_t local = Le(archive, at + 42, 4);
    if (at + 46 + nameLength > archive.size()) throw std::runtime_error("bad central header");
    e.name = archive.substr(at + 46, nameLength);
    size_t data = local + 30 + Le(archive, local + 26, 2) + Le(archive, local + 28, 2);
    if (data + e.compressedSize > archive.size()) throw std::runtime_error("entry data past the end");
    e.data = archive.substr(data, e.compressedSize);
    entries.push_back(std::move(e));
    at += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
}

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

size_t MemorySource::Read(uint8_t* buffer, size_t max) {
  size_t n = std::min({max, chunk_, data_.size() - pos_});
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

void StringSink::Write(const uint8_t* data, size_t count) {
  if (count > 32768) throw std::logic_error("block larger than 32768 bytes");
  largestBlock = std::max(largestBlock, count);
  if (bytes.size() + count > limit_) throw std::length_error("sink limit exceeded");
  bytes.append(reinterpret_cast<const char*>(data), count);
}

std::string PeersDisagree(const std::string& archive, const std::string& listing) {
  auto run = [](const std::string& tool, std::vector<std::string> args) {
    const std::string program = FindProgram(tool);
    args.insert(args.begin(), tool);
    return program.empty() ? ProcessResult{127, "", tool + " is not installed"} : RunProcess(program, args);
  };
  std::string problems;
  const ProcessResult unzip = run("unzip", {"-t", archive});
  if (unzip.exitCode != 0 || unzip.out.find("No errors detected") == std::string::npos) {
    problems += "unzip -t: " + unzip.out + unzip.err + "\n";
  }
  const ProcessResult sevenZip = run("7z", {"t", archive});
  if (sevenZip.exitCode != 0 || sevenZip.out.find("Everything is Ok") == std::string::npos) {
    problems += "7z t: " + sevenZip.out + sevenZip.err + "\n";
  }
  const ProcessResult python = run("python3", {"-c",
      "import sys, zipfile, hashlib\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "for i in z.infolist():\n"
      "    print(i.filename, hashlib.sha256(z.read(i)).hexdigest())\n",
      archive});
  if (python.exitCode != 0 || python.out != listing) problems += "zipfile: " + python.out + python.err + "\n";
  return problems;
}

}  // namespace kvelv::test
