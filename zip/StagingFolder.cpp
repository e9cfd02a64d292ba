#include "zip/StagingFolder.h"

#include "platform/TempGuardian.h"
#include "zip/DosDateTime.h"
#include "zip/ZipExceptions.h"

namespace kvelv {

namespace {

std::string Describe(const std::error_code& ec) { return ec ? ec.message() : std::string("unknown error"); }

}  // namespace

StagingFolder::StagingFolder(const platform::Folder& target) : target_(target) {
  // A dot name keeps it out of ordinary folder listings while the user is asked about overwriting.
  name_ = platform::CreateGuardedFolder(target_, ".~kvelv-", ".tmp");
  std::error_code ec;
  if (!name_.empty()) staging_ = target_.OpenSubfolder(name_, ec);
  if (!staging_.IsOpen()) {
    const std::error_code reason = ec;
    if (!name_.empty()) platform::RemoveGuardedFolder(target_, name_);
    throw EDestDirError("Cannot write into the folder \"" + target_.Path() + "\". " +
                        (name_.empty() ? std::string("A folder for the new files cannot be made there")
                                       : Describe(reason)));
  }
}

StagingFolder::~StagingFolder() {
  staging_ = platform::Folder();  // closed first: Windows cannot remove a folder held open
  platform::RemoveGuardedFolder(target_, name_);
}

platform::File StagingFolder::NewFile(size_t item, std::string& name, std::error_code& ec) {
  name = std::to_string(item) + ".part";
  // The usual mode for new files: the staging folder itself keeps others out meanwhile.
  return staging_.CreateNewFile(name, false, ec);
}

void StagingFolder::Stamp(platform::File& file, uint32_t dosDateTime, bool retainAttributes, uint32_t attributes) {
  int64_t seconds = 0;
  if (UnixFromDosDateTime(NormalizeDosDateTime(dosDateTime), seconds)) file.SetLastWriteTime(seconds);
  if (retainAttributes) file.SetDosAttributes(attributes);
}

void StagingFolder::Drop(const std::string& name) { staging_.RemoveFile(name); }

bool StagingFolder::MoveIntoPlace(const std::string& name, const platform::Folder& folder,
                                  const std::string& finalName, std::error_code& ec) {
  return staging_.Rename(name, folder, finalName, ec);
}

bool StagingFolder::MoveToNewName(const std::string& name, const platform::Folder& folder,
                                  const std::string& finalName) const {
  return staging_.RenameToNewName(name, folder, finalName);
}

}  // namespace kvelv
