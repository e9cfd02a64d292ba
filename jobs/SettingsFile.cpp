#include "jobs/SettingsFile.h"

#include <limits>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/PrivateProfile.h"
#include "platform/TempFiles.h"

namespace kvelv {

namespace {

// Everything up to and including the last separator ("" for a bare name).
std::string FolderWithSeparator(const std::string& path) {
  auto pos = path.rfind(platform::kSeparator);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

// True when a new file can be created in `folder` (checked by creating and deleting one).
bool FolderWritable(const std::string& folder) {
  std::error_code ec;
  std::string probe;
  platform::File file = platform::CreateUniqueFile(folder, ".tmp", probe, ec);
  if (!file.IsOpen()) return false;
  file.Close();
  platform::DeleteFile(probe);
  return true;
}

// At most `limit` characters (UTF-8 sequences are never cut).
std::string LimitCharacters(std::string text, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    if (!continuation && ++characters > limit) {
      text.resize(i);
      break;
    }
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal digits as a 32-bit pattern (up to FFFFFFFF, read as a signed value).
std::optional<int32_t> ParseHex(std::string_view digits, bool negative) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  auto pattern = static_cast<uint32_t>(value);
  if (negative) pattern = 0u - pattern;
  return static_cast<int32_t>(pattern);
}

std::optional<int32_t> ParseInteger(std::string_view text) {
  if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return ParseHex(text.substr(2), false);
  }
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (!text.empty() && text.front() == '$') return ParseHex(text.substr(1), negative);
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::BesideExecutable(const std::string& executablePath) {
  std::string name = platform::FileNamePart(executablePath);
  std::string base = executablePath;
  auto dot = name.rfind('.');
  if (dot != std::string::npos) base.resize(executablePath.size() - (name.size() - dot));
  return base + ".ini";
}

std::string IniFile::PerUserPath(const std::string& executablePath) {
  std::string configHome = platform::UserConfigFolder();
  if (configHome.empty()) return std::string();
  return configHome + platform::kSeparator + "orvkvelv" + platform::kSeparator +
         platform::FileNamePart(BesideExecutable(executablePath));
}

std::string IniFile::DefaultPath(const std::string& executablePath) {
  std::string beside = BesideExecutable(executablePath);
  if (platform::FileExists(beside) || FolderWritable(FolderWithSeparator(beside))) return beside;
  std::string perUser = PerUserPath(executablePath);
  if (perUser.empty()) return beside;
  platform::CreateFolders(platform::FolderPart(perUser));
  return perUser;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
  std::optional<std::string> value = platform::ReadPrivateProfileValue(path_, section, key);
  if (!value) return defaultValue;
  return LimitCharacters(std::move(*value), kMaxValueLength);
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t defaultValue) const {
  return ParseInteger(ReadString(section, key, "")).value_or(defaultValue);
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  if (!platform::WritePrivateProfileValue(path_, section, key, value)) {
    throw EIniFileException("Unable to write to " + path_);
  }
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace kvelv
