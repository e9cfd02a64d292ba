#include "jobs/EncryptJob.h"

#include <exception>
#include <memory>

#include "jobs/CryptComponent.h"
#include "jobs/FileProbes.h"
#include "jobs/JobCrypto.h"
#include "jobs/JobTexts.h"
#include "jobs/TempArchive.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 2;
constexpr int kExitNoComponent = 3;

int Report(bool interactive, Prompter& prompter, bool ok, const std::string& target,
           const std::string& failure) {
  if (!interactive) return ok ? kExitDone : kExitFailed;
  prompter.ShowMessage(ok ? texts::kEncryptDone + target : texts::kEncryptFailed + failure);
  return 0;
}

}  // namespace

int EncryptFiles(const std::string& password, const std::string& files, const std::string& target,
                 bool interactive, Prompter& prompter) {
  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  if (!component) {
    if (!interactive) return kExitNoComponent;
    prompter.ShowMessage(texts::kComponentNotRegistered);
    return 0;
  }

  TempArchive archive;
  try {
    ZipWriter writer;
    writer.SetZipName(archive.Path());
    writer.SetFilesList(SplitString(files, ";"));
    (void)writer.PackFiles();  // left-out files are silently missing from the container
  } catch (const EZipException& e) {
    // A writer failure (disk full, unreadable source) is a failed encryption, not a crash.
    return Report(interactive, prompter, false, target, e.what());
  }

  ConfigureForContainer(*component, password);
  const bool ok = component->EncryptFileTo(archive.Path(), target) == 1;
  archive.Remove();
  return Report(interactive, prompter, ok, target, component->FailureText());
}

}  // namespace kvelv
