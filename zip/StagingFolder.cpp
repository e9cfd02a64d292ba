#include "zip/StagingFolder.h"

#include <cctype>

#include "platform/TempGuardian.h"
#include "zip/DosDateTime.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

constexpr char kPrefix[] = ".~kvelv-";
constexpr char kSuffix[] = ".tmp";

std::string Describe(const std::error_code& ec) { return ec ? ec.message() : std::string("unknown error"); }

// A staging folder's name: the prefix, random hexadecimal digits, the suffix.
bool IsStagingName(const std::string& name) {
  const size_t prefix = sizeof kPrefix - 1;
  const size_t suffix = sizeof kSuffix - 1;
  if (name.size() < prefix + suffix + 8 || name.size() > prefix + suffix + 16) return false;
  if (name.compare(0, prefix, kPrefix) != 0 || name.compare(name.size() - suffix, suffix, kSuffix) != 0) return false;
  for (size_t i = prefix; i < name.size() - suffix; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// Removes the staging folders of runs that ended without removing them (killed with no watcher
// left, a power loss): their files are partial plaintext. A run still working holds its own.
void RemoveAbandoned(const platform::Folder& target) {
  for (const std::string& name : target.NamesStartingWith(kPrefix)) {
    if (IsStagingName(name)) target.RemoveSubfolderIfAbandoned(name);
  }
}

#ifndef _WIN32
// `name` with its letters' case swapped where ASCII has one.
std::string OtherCase(std::string name) {
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (std::islower(u)) {
      c = static_cast<char>(std::toupper(u));
    } else if (std::isupper(u)) {
      c = static_cast<char>(std::tolower(u));
    }
  }
  return name;
}
#endif

}  // namespace

StagingFolder::StagingFolder(const platform::Folder& target) : target_(target) {
  RemoveAbandoned(target_);
  // A dot name keeps it out of ordinary folder listings while the user is asked about overwriting
  // (hidden on Windows too).
  name_ = platform::CreateGuardedFolder(target_, kPrefix, kSuffix);
  std::error_code ec;
  if (!name_.empty()) staging_ = target_.OpenSubfolder(name_, ec);
  if (staging_.IsOpen() && !staging_.MarkInUse()) staging_ = platform::Folder();
  if (!staging_.IsOpen()) {
    const std::error_code reason = ec;
    if (!name_.empty()) platform::RemoveGuardedFolder(target_, name_);
    throw EDestDirError("Cannot write into the folder \"" + target_.Path() + "\". " +
                        (name_.empty() ? std::string("A folder for the new files cannot be made there")
                                       : Describe(reason)));
  }
#ifdef _WIN32
  ignoreCase_ = true;
#else
  // The folder's own name in the other letter case finds it where the file system ignores case.
  ignoreCase_ = target_.Lookup(OtherCase(name_)).has_value();
#endif
}

StagingFolder::~StagingFolder() {
  staging_ = platform::Folder();  // closed first: Windows cannot remove a folder held open
  platform::RemoveGuardedFolder(target_, name_);
}

platform::File StagingFolder::NewFile(size_t item, std::string& name, std::error_code& ec) {
  name = std::to_string(item) + ".part";
  return staging_.CreateTransientFile(name, ec);
}

void StagingFolder::Stamp(platform::File& file, uint32_t dosDateTime, bool retainAttributes, uint32_t attributes) {
  int64_t seconds = 0;
  if (UnixFromDosDateTime(NormalizeDosDateTime(dosDateTime), seconds)) file.SetLastWriteTime(seconds);
  if (retainAttributes) file.SetDosAttributes(attributes);
}

void StagingFolder::Drop(const std::string& name) { staging_.RemoveFile(name); }

bool StagingFolder::MoveToNewName(const std::string& name, const platform::Folder& folder,
                                  const std::string& finalName, std::error_code& ec) const {
  ec.clear();
  if (!staging_.Keep(name)) {
    ec = std::make_error_code(std::errc::io_error);
    return false;
  }
  return staging_.RenameToNewName(name, folder, finalName, ec);
}

bool StagingFolder::MoveOver(const std::string& name, const platform::Folder& folder, const std::string& finalName,
                             std::error_code& ec) const {
  ec.clear();
  if (!staging_.Keep(name)) {
    ec = std::make_error_code(std::errc::io_error);
    return false;
  }
  return staging_.Rename(name, folder, finalName, ec);
}

bool StagingFolder::ReplaceKeeping(const std::string& name, const platform::Folder& folder,
                                   const std::string& finalName, std::string& keptName,
                                   std::error_code& ec) const {
  ec.clear();
  if (!staging_.Keep(name)) {
    ec = std::make_error_code(std::errc::io_error);
    return false;
  }
  return staging_.ReplaceKeeping(name, folder, finalName, keptName, ec);
}

bool StagingFolder::PutBack(const std::string& keptName, const platform::Folder& folder,
                            const std::string& finalName) const {
  std::error_code ec;
  return staging_.Rename(keptName, folder, finalName, ec);
}

bool StagingFolder::TakeBack(const platform::Folder& folder, const std::string& finalName,
                             const std::string& name) const {
  std::error_code ec;
  return folder.RenameToNewName(finalName, staging_, name, ec) || folder.RemoveFile(finalName);
}

}  // namespace kvelv
