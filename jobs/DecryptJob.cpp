#include "jobs/DecryptJob.h"

#include <exception>
#include <memory>

#include "jobs/CryptComponent.h"
#include "jobs/FileProbes.h"
#include "jobs/JobCrypto.h"
#include "jobs/JobTexts.h"
#include "jobs/TempArchive.h"
#include "platform/FileSystem.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 2;
constexpr int kExitNoComponent = 3;

std::string TargetPath(const std::string& folder, const std::string& name) {
  return folder + platform::kSeparator + name;
}

// Tests the decrypted archive and loads its directory; false when it is damaged, whatever the
// way it shows that (a false result or an error).
bool ArchiveIsSound(ZipReader& reader) {
  try {
    if (!reader.VerifyArchive()) return false;
    reader.ReadDirectory();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

enum class ScanResult { NothingExists, SomethingExists, StillLocked };

// Looks for the first entry whose target already exists; a locked one gets one chance to be
// released by the user.
ScanResult ScanTargets(ZipReader& reader, const std::string& folder, Prompter& prompter) {
  for (int i = 0; i < reader.EntryCount(); ++i) {
    const std::string name = reader.EntryFileName(i);
    const std::string target = TargetPath(folder, name);
    if (!FileExists(target)) continue;
    if (IsFileLocked(target)) {
      prompter.ShowMessageBox(texts::kFileLocked + name, texts::kFileLockedCaption);
      if (IsFileLocked(target)) {
        prompter.ShowMessage(texts::kStillLocked);
        return ScanResult::StillLocked;
      }
    }
    return ScanResult::SomethingExists;
  }
  return ScanResult::NothingExists;
}

}  // namespace

int DecryptFileToFolder(const std::string& password, const std::string& container,
                        const std::string& folder, bool interactive, Prompter& prompter) {
  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  if (!component) {
    if (!interactive) return kExitNoComponent;
    prompter.ShowMessage(texts::kComponentNotRegistered);
    return 0;
  }
  ConfigureForContainer(*component, password);

  TempArchive archive;  // plaintext: removed on every way out
  if (component->DecryptFileTo(container, archive.Path()) != 1) {
    if (!interactive) return kExitFailed;
    prompter.ShowMessage(texts::kDecryptFailed + component->FailureText());
    return 0;
  }

  ZipWriter reader;
  reader.SetZipName(archive.Path());
  reader.SetDestDir(folder);
  reader.SetDoAll(true);
  if (!ArchiveIsSound(reader)) {
    if (!interactive) return kExitFailed;
    prompter.ShowMessage(texts::kArchiveDamaged);
    return 0;
  }

  if (interactive) {
    switch (ScanTargets(reader, folder, prompter)) {
      case ScanResult::StillLocked:
        return 0;
      case ScanResult::SomethingExists:
        if (!prompter.AskYesNo(texts::kOverwrite, texts::kOverwriteCaption)) return 0;
        break;
      case ScanResult::NothingExists:
        break;
    }
  }

  reader.SetOverwriteMode(UZOverwriteMode::Always);
  try {
    (void)reader.ExtractAll();
  } catch (const EZipException& e) {
    // A file that cannot be written (disk full, target folder gone) fails the job; the
    // extractor has already removed the unfinished file.
    archive.Remove();
    if (!interactive) return kExitFailed;
    prompter.ShowMessage(texts::kDecryptFailed + std::string(e.what()));
    return 0;
  }
  archive.Remove();
  if (!interactive) return kExitDone;
  prompter.ShowMessage(texts::kDecryptDone);
  return 0;
}

}  // namespace kvelv
