// File-system probes shared by the command line, the jobs and the main window.
#include "jobs/FileProbes.h"

#include <system_error>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"

namespace kvelv {

namespace {

constexpr char kProbeName[] = "asdf.asdf";
constexpr char kProbeLine[] = "Skrivetilgang?\r\n";

bool PathTaken(const std::string& path) {
  return platform::FileExists(path) || platform::FolderExists(path) || platform::IsSymlink(path);
}

// Writes the probe line into a freshly created probe file and removes it again.
bool WriteProbe(platform::File& file, const std::string& path) {
  const int64_t length = sizeof kProbeLine - 1;
  bool ok = file.Write(kProbeLine, length) == length;
  ok = file.Close() && ok;
  platform::DeleteFile(path);
  return ok;
}

}  // namespace

std::vector<std::string> SplitString(const std::string& text, const std::string& separator) {
  std::vector<std::string> items;
  if (separator.empty()) {
    // Nothing to split at; one item, like a text without the separator.
    if (!text.empty()) items.push_back(text);
    return items;
  }
  std::string current;
  size_t position = 0;
  while (position < text.size()) {
    if (text.compare(position, separator.size(), separator) == 0) {
      items.push_back(current);
      current.clear();
      position += separator.size();
    } else {
      current.push_back(text[position]);
      ++position;
    }
  }
  if (!current.empty()) items.push_back(current);
  return items;
}

std::string GetTempArchiveName(const std::string& extension) {
  std::string name;
  // Bounded: a temporary folder that cannot even be looked into must not hang the program;
  // the caller's exclusive create then reports the failure.
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = platform::UniqueName(platform::TempFolder(), extension);
    if (!PathTaken(name)) break;
  }
  return name;
}

bool HasWriteAccess(const std::string& folder) {
  // Joined literally: a folder text ending in "/" gives a doubled separator, which is harmless.
  const std::string probe = folder + platform::kSeparator + kProbeName;
  std::error_code ec;
  platform::File file = platform::File::Open(probe, platform::OpenMode::CreateNew, ec);
  if (file.IsOpen()) return WriteProbe(file, probe);
  if (ec != std::errc::file_exists) return false;
  // Something already carries the probe name: leave it alone and probe with a free name.
  std::string other;
  file = platform::CreateUniqueFile(folder + platform::kSeparator, ".asdf", other, ec);
  if (!file.IsOpen()) return false;
  return WriteProbe(file, other);
}

bool IsFileLocked(const std::string& path) {
  if (!platform::FileExists(path)) return false;
  std::error_code ec;
  platform::File file = platform::File::Open(path, platform::OpenMode::ReadWriteDenyAll, ec);
  return !file.IsOpen();
}

}  // namespace kvelv
