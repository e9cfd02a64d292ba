// Private-profile values without the Windows functions: the program's own INI model, and the
// file replaced atomically on every write.
#include "platform/PrivateProfile.h"

#include <filesystem>
#include <system_error>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/IniDocument.h"
#include "platform/TempFiles.h"

namespace kvelv::platform {

namespace {

// Whole file as text; nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::error_code ec;
  File file = File::Open(path, OpenMode::ReadDenyNone, ec);
  if (!file.IsOpen()) return std::nullopt;
  std::string text;
  char buffer[8192];
  for (;;) {
    int64_t count = file.Read(buffer, sizeof buffer);
    if (count < 0) return std::nullopt;
    if (count == 0) break;
    text.append(buffer, static_cast<std::size_t>(count));
  }
  return text;
}

// Everything up to and including the last separator ("" for a bare name).
std::string FolderWithSeparator(const std::string& path) {
  auto pos = path.rfind(kSeparator);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

}  // namespace

std::optional<std::string> ReadPrivateProfileValue(const std::string& path, const std::string& section,
                                                   const std::string& key) {
  std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  return IniDocument::Parse(*text).Find(section, key);
}

bool WritePrivateProfileValue(const std::string& linkOrPath, const std::string& section, const std::string& key,
                              const std::string& value) {
  // A settings file that is a symbolic link (one installed for all users, say) is written where
  // the link points; the link stays.
  std::error_code resolveError;
  const std::filesystem::path resolved = std::filesystem::canonical(linkOrPath, resolveError);
  const std::string path = resolveError ? linkOrPath : resolved.string();
  // Read-only files stay read-only even for root, and the rename below would not notice.
  std::optional<FileInfo> info = GetFileInfo(path);
  if (info && (info->IsFolder() || (info->attributes & kAttrReadOnly) != 0)) return false;
  std::string current;
  if (info) {
    std::optional<std::string> text = ReadWholeFile(path);
    if (!text) return false;  // never replace a file whose content we could not keep
    current = std::move(*text);
  }
  IniDocument document = IniDocument::Parse(current);
  document.Set(section, key, value);
  std::string bytes = document.Serialize();

  // Written beside the target and renamed over it, so readers see the old or the new file whole.
  std::error_code ec;
  std::string tempPath;
  File temp = CreateUniqueFile(FolderWithSeparator(path), ".tmp", tempPath, ec);
  if (!temp.IsOpen()) return false;
  // The new file keeps the old one's permissions and owner; a first one is the user's alone.
  bool written = temp.TakePermissions(path, NewFileMode::Private) &&
                 temp.Write(bytes.data(), static_cast<int64_t>(bytes.size())) == static_cast<int64_t>(bytes.size()) &&
                 temp.Sync();
  written = temp.Close() && written;
  if (!written || !RenameFile(tempPath, path)) {
    DeleteFile(tempPath);
    return false;
  }
  return true;
}

}  // namespace kvelv::platform
