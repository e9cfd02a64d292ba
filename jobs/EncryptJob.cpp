#include "jobs/EncryptJob.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "jobs/ConsoleTexts.h"
#include "jobs/ContainerFollower.h"
#include "jobs/ContainerSink.h"
#include "jobs/CryptComponent.h"
#include "jobs/ExitCodes.h"
#include "jobs/FileProbes.h"
#include "jobs/ContainerCrypto.h"
#include "jobs/JobTexts.h"
#include "jobs/ProgressReport.h"
#include "jobs/TempArchive.h"
#include "jobs/sealed/Primitives.h"
#include "jobs/sealed/SealedWriter.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "zip/ArchiveSource.h"
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

int ReportCancelled(bool interactive, Prompter& prompter) {
  if (!interactive) {
    prompter.ReportFailure(console_text::kEncryptCancelled);
    return exit_code::kFailed;
  }
  prompter.ShowMessage(texts::kEncryptCancelled);
  return 0;
}

// The progress of both steps as one: the bytes of the files packed, then the bytes of the
// archive encrypted. Until the archive is complete it counts as large as the files (it is at
// most a little larger), so the share done never goes back; it jumps ahead when the files
// compressed well.
class EncryptProgress {
 public:
  EncryptProgress(Prompter& prompter, std::string container)
      : report_(prompter), container_(std::move(container)) {}

  void Packing(const PassProgress& pass) {
    packTotal_ = std::max<int64_t>(pass.total, 0);
    report_.Send(std::min(pass.done, packTotal_), 2 * packTotal_, platform::FileNamePart(pass.name));
  }
  void Encrypting(int64_t done, int64_t total) { report_.Send(packTotal_ + done, packTotal_ + total, container_); }
  bool CancelRequested() { return report_.CancelRequested(); }

 private:
  ProgressReport report_;
  std::string container_;
  int64_t packTotal_ = 0;
};

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

int EncryptFiles(const platform::SecretBytes& password, const std::vector<std::string>& files,
                 const std::string& target, JobMode mode, Prompter& prompter, ContainerFormat format) {
  const bool interactive = mode == JobMode::Interactive;
  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  if (!component || (format == ContainerFormat::Sealed && !sealed::PrimitivesReady())) {
    if (!interactive) {
      prompter.ReportFailure(console_text::kNoComponent);
      return exit_code::kNoComponent;
    }
    prompter.ShowMessage(texts::kComponentNotRegistered);
    return 0;
  }

  // The temporary archive holds only ciphertext under a key of its own, which dies with the
  // process: nothing of the files is readable on the disk should the machine stop meanwhile.
  std::shared_ptr<const ArchiveTransform> keystream = component->NewScratchKeystream();
  if (!keystream) return Report(interactive, prompter, false, target, component->FailureText());
  // The container is encrypted while the archive is packed, each part once it is final. Where
  // the container cannot be started now (a target that is refused, say), it is made afterwards
  // from the whole archive, and fails there as it would have.
  // The sealed format is made afterwards from the whole archive: it reads one chunk ahead to
  // flag the last.
  ConfigureForContainer(*component, password);
  std::unique_ptr<ContainerSink> sink =
      format == ContainerFormat::Classic ? component->OpenContainerSink(target) : nullptr;
  std::shared_ptr<ContainerFollower> follower = sink ? std::make_shared<ContainerFollower>(*sink) : nullptr;
  auto containerFailed = [&] { return follower != nullptr && follower->Failed(); };

  TempArchive archive;
  if (!archive.Guarded()) prompter.Notice(std::string(console_text::kNotGuarded) + archive.Path());
  std::string failure;  // the first listed file that could not be packed, and why
  EncryptProgress progress(prompter, platform::FileNamePart(target));
  try {
    ZipWriter writer;
    writer.OnProgress = [&](const PassProgress& pass) { progress.Packing(pass); };
    // Between blocks of work: a cancel request ends the pass as a failure would, the partial
    // archive removed.
    writer.OnProcessMessages = [&] {
      if (progress.CancelRequested() || containerFailed()) writer.SetCancel(true);
    };
    writer.SetZipName(archive.Path());
    writer.SetArchiveTransform(keystream);
    writer.SetArchiveFollower(follower);
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
  } catch (const EUserCanceled&) {
    if (containerFailed()) return Report(interactive, prompter, false, target, follower->FailureText());
    return ReportCancelled(interactive, prompter);
  } catch (const EZipException& e) {
    // A writer failure (disk full, unreadable source) is a failed encryption, not a crash.
    return Report(interactive, prompter, false, target, e.what());
  }
  // Exit code 0 means every file that is to be packed is in the container.
  if (!failure.empty()) return Report(interactive, prompter, false, target, failure);
  if (containerFailed()) return Report(interactive, prompter, false, target, follower->FailureText());

  // The container (the rest of it, when it was begun while packing) comes from the temporary
  // archive, read back through its keystream.
  std::error_code ec;
  std::shared_ptr<FileArchiveSource> plaintext = FileArchiveSource::Open(archive.Path(), ec, keystream);
  if (!plaintext) {
    archive.Remove();
    return Report(interactive, prompter, false, target, "Cannot open \"" + archive.Path() + "\": " + ec.message());
  }
  bool ok = false;
  bool cancelled = false;
  std::string reason;
  if (format == ContainerFormat::Sealed) {
    sealed::SealSettings settings;
    settings.progress = [&](int64_t done, int64_t total) {
      progress.Encrypting(done, total);
      return !progress.CancelRequested();
    };
    ok = sealed::SealSourceTo(*plaintext, archive.Path(), target, password.View(), settings, reason, &cancelled) == 1;
  } else {
    component->SetProgressHandler([&](int64_t done, int64_t total) {
      progress.Encrypting(done, total);
      return !progress.CancelRequested();
    });
    ok = (sink ? component->FinishContainer(*sink, *plaintext) : component->EncryptSourceTo(*plaintext, target)) == 1;
    cancelled = !ok && component->Cancelled();
    reason = component->FailureText();
  }
  plaintext.reset();
  archive.Remove();
  if (cancelled) return ReportCancelled(interactive, prompter);
  return Report(interactive, prompter, ok, target, reason);
}

}  // namespace kvelv
