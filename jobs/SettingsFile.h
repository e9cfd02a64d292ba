#pragma once
// The interactive mode's settings, which the login check and the main window read and write: one
// INI file with the rules of the Windows private-profile functions. Every call opens the file by
// name; nothing is cached between calls.
#include <cstdint>
#include <string>

#include "platform/Error.h"

namespace kvelv {

// Raised when the settings file cannot be written; the message is "Unable to write to <path>".
class EIniFileException : public Error {
 public:
  using Error::Error;
  const char* ClassName() const noexcept override { return "EIniFileException"; }
};

class IniFile {
 public:
  // Longest value a read returns (the private-profile functions read through 2048 characters).
  static constexpr std::size_t kMaxValueLength = 2047;

  explicit IniFile(std::string path);

  // The settings path for an executable: its path with the extension replaced by ".ini". When
  // that file does not exist and the executable's folder cannot be written, the per-user
  // configuration file (platform::UserConfigFolder()) + "/orvkvelv/<base name>.ini" is used;
  // its folder is created then (best effort).
  static std::string DefaultPath(const std::string& executablePath);
  // The executable's path with its extension replaced by (or extended with) ".ini".
  static std::string BesideExecutable(const std::string& executablePath);
  // The per-user fallback path for an executable, without touching the disk.
  static std::string PerUserPath(const std::string& executablePath);

  const std::string& FileName() const { return path_; }

  // The stored value (quotes and blanks removed, at most kMaxValueLength characters), or
  // `defaultValue` when the file, the section or the key is missing. An empty stored value
  // reads as "" whatever the default is.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // The value as a 32-bit integer: "0x"/"0X" + hex (at least three characters in all), "$" + hex,
  // or decimal. Anything else, a value outside the 32-bit range, or a missing key gives
  // `defaultValue`.
  int32_t ReadInteger(const std::string& section, const std::string& key,
                      int32_t defaultValue) const;

  // Stores the value, creating the file, section or key as needed; the file is replaced
  // atomically and written with CRLF line ends. Throws EIniFileException when refused.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  // Stores the value in decimal.
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);

 private:
  std::string path_;
};

// The name the rest of the program knows it by.
using SettingsFile = IniFile;

}  // namespace kvelv
