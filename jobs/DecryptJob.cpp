#include "jobs/DecryptJob.h"

#include <exception>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

#include "jobs/ConsoleTexts.h"
#include "jobs/CryptComponent.h"
#include "jobs/ExitCodes.h"
#include "jobs/FileProbes.h"
#include "jobs/ContainerCrypto.h"
#include "jobs/JobTexts.h"
#include "jobs/NameNotices.h"
#include "jobs/ProgressReport.h"
#include "jobs/sealed/SealedSource.h"
#include "platform/FileSystem.h"
#include "zip/ZipExceptions.h"
#include "zip/ZipReader.h"

namespace kvelv {
namespace {

using State = TargetCheck::State;

const TargetCheck* First(const std::vector<TargetCheck>& checks, std::initializer_list<State> states) {
  for (const TargetCheck& check : checks) {
    for (State state : states) {
      if (check.state == state) return &check;
    }
  }
  return nullptr;
}

// The design's questions in the window, asked now about every target name: a file another
// program holds open is named until it is closed (one chance each), then the question whether to
// overwrite the files that exist comes once. False when the job is to stop.
bool AskAboutTargets(StagedExtraction& staged, Prompter& prompter) {
  std::vector<TargetCheck> checks = staged.CheckTargets(true);
  for (size_t i = 0; i < checks.size(); ++i) {
    if (checks[i].state != State::InUse) continue;
    prompter.ShowMessageBox(texts::kFileLocked + platform::FileNamePart(checks[i].path), texts::kFileLockedCaption);
    checks = staged.CheckTargets(true);
    if (checks[i].state == State::InUse) {
      prompter.ShowMessage(texts::kStillLocked);
      return false;
    }
  }
  if (First(checks, {State::Existing, State::SameContent, State::InUse}) == nullptr) return true;
  return prompter.AskYesNo(texts::kOverwrite, texts::kOverwriteCaption);
}

// The classic format's text when a sealed one was required.
constexpr const char kClassicRefused[] =
    "the container is in format 1 (AES-256-CBC without authentication), and format 2 is required";

// The plaintext of a sealed container, every chunk checked as it is read; nullptr with `failure`.
std::shared_ptr<sealed::SealedSource> OpenSealed(const std::string& container, std::string_view password,
                                                 std::string& failure) {
  std::error_code ec;
  std::shared_ptr<FileArchiveSource> raw = FileArchiveSource::Open(container, ec);
  if (!raw) {
    failure = "Cannot open \"" + container + "\": " + (ec ? ec.message() : std::string("unknown error"));
    return nullptr;
  }
  return sealed::SealedSource::Open(std::move(raw), password, failure);
}

}  // namespace

int DecryptFileToFolder(const platform::SecretBytes& password, const std::string& container, const std::string& folder,
                        JobMode mode, Prompter& prompter, ContainerFormat oldest) {
  const bool interactive = mode == JobMode::Interactive;
  const bool isSealed = IsSealedContainer(container);
  std::unique_ptr<CryptComponent> component = CryptComponent::Create();
  if (!component || (isSealed && !sealed::PrimitivesReady())) {
    if (!interactive) {
      prompter.ReportFailure(console_text::kNoComponent);
      return exit_code::kNoComponent;
    }
    prompter.ShowMessage(texts::kComponentNotRegistered);
    return 0;
  }

  // The archive is read from the container itself, decrypted where it is read: no plaintext
  // archive is ever written to disk.
  std::shared_ptr<sealed::SealedSource> sealedSource;
  std::shared_ptr<ArchiveSource> plaintext;
  std::string openFailure;
  if (isSealed) {
    sealedSource = OpenSealed(container, password.View(), openFailure);
    plaintext = sealedSource;
  } else if (oldest == ContainerFormat::Sealed) {
    openFailure = kClassicRefused;
  } else {
    ConfigureForContainer(*component, password);
    plaintext = component->OpenDecrypted(container);
    openFailure = component->FailureText();
  }
  if (!plaintext) {
    if (!interactive) {
      prompter.ReportFailure(std::string(console_text::kDecryptFailed) + openFailure);
      return exit_code::kFailed;
    }
    prompter.ShowMessage(texts::kDecryptFailed + openFailure);
    return 0;
  }

  ProgressReport progress(prompter);
  ZipReader reader;
  reader.OnProgress = [&](const PassProgress& pass) {
    progress.Send(pass.done, pass.total, platform::FileNamePart(pass.name));
  };
  // Between blocks of work: a cancel request ends the pass as a damaged entry would, with
  // nothing changed in the folder.
  reader.OnProcessMessages = [&] {
    if (progress.CancelRequested()) reader.SetCancel(true);
  };
  reader.SetArchiveSource(plaintext, container);
  reader.SetDestDir(folder);
  reader.SetDoAll(true);
  reader.SetOverwriteMode(UZOverwriteMode::Always);
  auto fail = [&](const std::string& reason) {
    if (!interactive) {
      prompter.ReportFailure(std::string(console_text::kDecryptFailed) + reason);
      return exit_code::kFailed;
    }
    prompter.ShowMessage(texts::kDecryptFailed + reason);
    return 0;
  };
  auto damaged = [&](const std::string& detail) {
    if (!interactive) {
      prompter.ReportFailure(std::string(console_text::kArchiveDamaged) + (detail.empty() ? detail : " (" + detail + ")"));
      return exit_code::kFailed;
    }
    prompter.ShowMessage(texts::kArchiveDamaged);
    return 0;
  };
  auto cancelled = [&] {
    if (!interactive) {
      prompter.ReportFailure(console_text::kDecryptCancelled);
      return exit_code::kFailed;
    }
    prompter.ShowMessage(texts::kDecryptCancelled);
    return 0;
  };

  // One pass tests every entry and writes it, under a private name, into a staging folder inside
  // the target folder: each entry is decoded once, and nothing in the folder changes yet.
  std::optional<StagedExtraction> staged;
  try {
    staged.emplace(reader.StageAll());
  } catch (const EUserCanceled&) {
    return cancelled();
  } catch (const EDestDirError& e) {
    return fail(e.what());
  } catch (const ECantWriteUCF& e) {
    return fail(e.what());
  } catch (const std::exception& e) {
    // A chunk of a sealed container that fails its check is the reason, whatever the reader made of it.
    if (sealedSource && !sealedSource->Failure().empty()) return fail(sealedSource->Failure());
    return damaged(e.what());  // an archive that cannot be read through is damaged, however it shows it
  }
  if (sealedSource) {
    // Nothing is committed before every chunk of the container has passed its check, also the
    // chunks no entry's data lies in.
    std::string failure;
    bool stopped = false;
    const bool verified = sealedSource->VerifyRemaining(failure, [&] {
      stopped = progress.CancelRequested();
      return !stopped;
    });
    if (stopped) return cancelled();
    if (!verified) return fail(failure);
  }
  if (staged->Failed() > 0) return damaged(std::to_string(staged->Failed()) + " entries fail their check");
  if (reader.EntryCountRead() == 0) return damaged("it holds no entries");
  // The last moment a cancel request is taken: past the questions the files go into place.
  if (progress.CancelRequested()) return cancelled();

  // In the window, the design's questions about the targets; a folder or a read-only file with
  // other content at a name (one with the entry's very bytes counts as written) fails the job
  // first, and in batch mode the commit's own check finds it.
  if (interactive) {
    const std::vector<TargetCheck> checks = staged->CheckTargets(true);
    if (const TargetCheck* blocked = First(checks, {State::Folder, State::ReadOnly})) {
      return fail((blocked->state == State::Folder ? "A folder has the name \"" : "A read-only file has the name \"") +
                  blocked->path + "\"." + console_text::kNothingChanged);
    }
    if (!AskAboutTargets(*staged, prompter)) return 0;
  }

  // All of the files or none: every name is checked before the first move, and a move that fails
  // undoes the ones before it.
  (void)staged->Commit(StagedExtraction::CommitMode::AllOrNothing);
  if (staged->MoveFailures() > 0) {
    const int code = fail(staged->FirstMoveFailure() + "." + console_text::kNothingChanged);
    // The design's code for a target file another program holds locked.
    return !interactive && staged->BlockedBy() == State::InUse ? exit_code::kTargetLocked : code;
  }
  if (!interactive) {
    ReportNames(staged->Notices(), JobMode::Batch, prompter);
    return exit_code::kDone;
  }
  prompter.ShowMessage(texts::kDecryptDone);
  ReportNames(staged->Notices(), JobMode::Interactive, prompter);
  return 0;
}

}  // namespace kvelv
