#include "tests/support/ZipTestSupport.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/RunProcess.h"
#include "tests/support/TestPaths.h"
#include "tests/support/ZipLayout.h"
#include "zip/codec/ParallelDeflate.h"

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

std::string LegacyArchiveDir() { return std::string(SharedTestDataDir()) + "/zip-legacy"; }

std::vector<ManifestRow> ReadLegacyManifest() {
  std::ifstream in(LegacyArchiveDir() + "/MANIFEST.tsv");
  std::vector<ManifestRow> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ManifestRow row;
    std::string method, flags, size;
    std::getline(fields, row.archive, '\t');
    std::getline(fields, row.entry, '\t');
    std::getline(fields, method, '\t');
    std::getline(fields, flags, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, row.sha256, '\t');
    row.method = std::stoi(method);
    row.size = std::stoull(size);
    rows.push_back(row);
  }
  return rows;
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
