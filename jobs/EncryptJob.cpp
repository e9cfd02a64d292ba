#include "jobs/EncryptJob.h"

#include <exception>
#include <memory>

#include "jobs/ConsoleTexts.h"
#include "jobs/CryptComponent.h"
#include "jobs/ExitCodes.h"
#include "jobs/FileProbes.h"
#include "jobs/JobCrypto.h"
#include "jobs/JobTexts.h"
#include "jobs/TempArchive.h"
#include "jobs/sealed/Primitives.h"
#include "jobs/sealed/SealedWriter.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipWriter.h"

namespace kvelv {
namespace {

int Report(bool interactive, Prompter& prompter, bool ok, const std::string& target, const std::string& failure) {
  if (!interactive) {
    if (!ok) prompter.ReportFailure(std::string(console_text::kEncryptFailed) + failure);
    return ok ? exit_code::kDone : exit_code::kFailed;
  }
  prompter.ShowMessage(ok ? texts::kEncryptDone + target : texts::kEncryptFailed + failure);
  return 0;
}

// The files the writer is to pack; the ones the design leaves out (hidden, system) are named in
// a notice instead.
std::vector<std::string> PackableFiles(const std::vector<std::string>& files, Prompter& prompter) {
  std::vector<std::string> packable;
  for (const std::string& path : files) {
    const auto info = platform::GetFileInfo(path);
    if (info && (info->attributes & platform::kAttrHidden) != 0) {
      prompter.Notice(std::string(console_text::kLeftOutHidden) + path);
    } else if (info && (info->attributes & platform::kAttrSystem) != 0) {
      prompter.Notice(std::string(console_text::kLeftOutSystem) + path);
    } else {
      packable.push_back(path);
    }
  }
  return packable;
}

}  // namespace

int EncryptFiles(const std::string& password, const std::vector<std::string>& files, const std::string& target,
                 bool interactive, Prompter& prompter, ContainerFormat format) {
  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  if (!component || (format == ContainerFormat::Sealed && !sealed::PrimitivesReady())) {
    if (!interactive) {
      prompter.ReportFailure(console_text::kNoComponent);
      return exit_code::kNoComponent;
    }
    prompter.ShowMessage(texts::kComponentNotRegistered);
    return 0;
  }

  TempArchive archive;
  if (!archive.Guarded()) prompter.Notice(std::string(console_text::kNotGuarded) + archive.Path());
  std::string failure;  // the first listed file that could not be packed, and why
  try {
    ZipWriter writer;
    writer.SetZipName(archive.Path());
    writer.SetExpandWildcards(false);  // a path is that file, whatever characters it holds
    writer.SetFilesList(PackableFiles(files, prompter));
    writer.OnNoSuchFile = [&](const std::string& item) {
      if (failure.empty()) failure = std::string(console_text::kFileVanished) + item;
    };
    writer.OnSkippingFile = [&](SkipReason reason, bool&, int, const std::string& path) {
      if (reason == SkipReason::srNoOverwrite) {
        prompter.Notice(std::string(console_text::kLeftOutSameName) + path);
      } else if (failure.empty()) {
        std::error_code ec;
        (void)platform::File::Open(path, platform::OpenMode::ReadDenyNone, ec);  // for the reason
        failure = std::string(console_text::kCannotOpenFile) + ("\"" + path + "\": ") +
                  (ec ? ec.message() : std::string("another program holds it"));
      }
    };
    (void)writer.PackFiles();
  } catch (const EZipException& e) {
    // A writer failure (disk full, unreadable source) is a failed encryption, not a crash.
    return Report(interactive, prompter, false, target, e.what());
  }
  // Exit code 0 means every file that is to be packed is in the container.
  if (!failure.empty()) return Report(interactive, prompter, false, target, failure);

  if (format == ContainerFormat::Sealed) {
    std::string sealFailure;
    const bool sealedOk = sealed::SealFileTo(archive.Path(), target, password, {}, sealFailure) == 1;
    archive.Remove();
    return Report(interactive, prompter, sealedOk, target, sealFailure);
  }
  ConfigureForContainer(*component, password);
  const bool ok = component->EncryptFileTo(archive.Path(), target) == 1;
  archive.Remove();
  return Report(interactive, prompter, ok, target, component->FailureText());
}

}  // namespace kvelv
