#include "zip/StagedExtraction.h"

#include <algorithm>
#include <map>
#include <utility>

#include "platform/FileSystem.h"
#include "zip/ExtractPaths.h"
#include "zip/StagingFolder.h"
#include "zip/ZipExtractor.h"

namespace kvelv {

namespace {

constexpr int64_t kCompareBlock = 1 << 16;
constexpr int kMaxNumbered = 1000;

bool SameBytes(platform::File& a, platform::File& b) {
  const int64_t size = a.Size();
  if (size < 0 || size != b.Size()) return false;
  std::vector<char> left(static_cast<size_t>(kCompareBlock));
  std::vector<char> right(static_cast<size_t>(kCompareBlock));
  for (int64_t at = 0; at < size; at += kCompareBlock) {
    const int64_t count = std::min(kCompareBlock, size - at);
    if (a.ReadAt(at, left.data(), count) != count || b.ReadAt(at, right.data(), count) != count) return false;
    if (!std::equal(left.begin(), left.begin() + count, right.begin())) return false;
  }
  return true;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

// One step of a commit to undo, in reverse order, when a later one fails.
struct StagedExtraction::Undo {
  enum class Kind { NewFile, Replaced, MadeFolder, MadePath };
  Kind kind = Kind::NewFile;
  const platform::Folder* folder = nullptr;  // where the name is (the parent, for a folder)
  std::string name;
  std::string kept;        // Replaced: the old file's name in the staging folder
  bool readOnly = false;   // Replaced: the old file was read-only (ReplaceReadOnly cleared it)
};

StagedExtraction::StagedExtraction() = default;
StagedExtraction::StagedExtraction(StagedExtraction&&) noexcept = default;
StagedExtraction& StagedExtraction::operator=(StagedExtraction&&) noexcept = default;

StagedExtraction::~StagedExtraction() {
  folders_.clear();
  staging_.reset();  // the staging folder goes with whatever was not moved into place
  if (target_ && targetCreated_ && !committed_) {
    // A target folder made for this extraction goes too when nothing went into it.
    const std::string path = target_->Path();
    target_.reset();
    platform::RemoveEmptyFolder(path);
  }
}

const platform::Folder* StagedExtraction::FolderOf(const Staged& staged, std::string& name, bool create,
                                                   std::vector<Undo>* undo) const {
  auto cached = [&](const std::string& key) -> const platform::Folder* {
    for (const auto& [path, folder] : folders_) {
      if (path == key) return folder.get();
    }
    return nullptr;
  };
  if (!staged.hookPath.empty()) {
    // A path a handler chose: its folder is opened by that path (made when missing).
    name = platform::FileNamePart(staged.hookPath);
    const std::string parent = platform::FolderPart(staged.hookPath);
    const std::string key = "\n" + parent;
    if (const platform::Folder* folder = cached(key)) return folder;
    std::error_code ec;
    bool created = false;
    auto folder = std::make_unique<platform::Folder>(create ? platform::Folder::OpenOrCreate(parent, created, ec)
                                                            : platform::Folder::Open(parent, ec));
    if (!folder->IsOpen()) return nullptr;
    if (created && undo != nullptr) undo->push_back(Undo{Undo::Kind::MadePath, nullptr, parent, {}, false});
    folders_.emplace_back(key, std::move(folder));
    return folders_.back().second.get();
  }
  name = staged.name;
  // The folders below the target, made when missing; never entered through a link.
  const platform::Folder* folder = target_.get();
  std::string key;
  for (const std::string& sub : staged.subfolders) {
    key += "/" + sub;
    if (const platform::Folder* known = cached(key)) {
      folder = known;
      continue;
    }
    std::error_code ec;
    if (!folder->Lookup(sub)) {
      if (!create || !folder->CreateSubfolder(sub, false, ec)) return nullptr;
      if (undo != nullptr) undo->push_back(Undo{Undo::Kind::MadeFolder, folder, sub, {}, false});
    }
    auto next = std::make_unique<platform::Folder>(folder->OpenSubfolder(sub, ec));
    if (!next->IsOpen()) return nullptr;
    folders_.emplace_back(key, std::move(next));
    folder = folders_.back().second.get();
  }
  return folder;
}

bool StagedExtraction::SameContent(const Staged& staged, const platform::Folder& folder,
                                   const std::string& name) const {
  std::error_code ec;
  platform::File existing = folder.OpenForReading(name, ec);
  platform::File mine = staging_->Read(staged.stagedName, ec);
  return existing.IsOpen() && mine.IsOpen() && SameBytes(existing, mine);
}

TargetCheck StagedExtraction::Check(const Staged& staged, bool closely) const {
  TargetCheck check;
  // A target folder this extraction made holds nothing of anyone's: no name to look at (the
  // move still refuses to replace whatever came meanwhile).
  std::string name;
  const platform::Folder* folder =
      targetCreated_ && staged.hookPath.empty() ? nullptr : FolderOf(staged, name, false, nullptr);
  if (folder == nullptr) {
    check.path = staged.hookPath;
    if (check.path.empty()) {
      check.path = target_->Path();
      for (const std::string& sub : staged.subfolders) check.path = JoinOutputPath(check.path, sub);
      check.path = JoinOutputPath(check.path, staged.name);
    }
    return check;  // nothing has the name yet, or its folder is still to be made
  }
  check.path = folder->PathOf(name);
  const auto info = folder->Lookup(name);
  if (!info) return check;
  using Kind = platform::FolderEntryInfo::Kind;
  if (info->kind == Kind::Folder) {
    check.state = TargetCheck::State::Folder;
  } else if (info->kind == Kind::File && info->readOnly && !settings_.replaceReadOnly) {
    check.state = closely && SameContent(staged, *folder, name) ? TargetCheck::State::SameContent
                                                                 : TargetCheck::State::ReadOnly;
  } else if (closely && info->kind == Kind::File && folder->InUse(name)) {
    check.state = TargetCheck::State::InUse;
  } else {
    check.state = TargetCheck::State::Existing;
  }
  return check;
}

std::vector<TargetCheck> StagedExtraction::CheckTargets(bool closely) const {
  std::vector<TargetCheck> checks;
  for (const Staged& staged : staged_) {
    if (!staged.superseded && !staged.stagedName.empty()) checks.push_back(Check(staged, closely));
  }
  return checks;
}

void StagedExtraction::Fail(const std::string& reason) {
  ++moveFailures_;
  if (firstMoveFailure_.empty()) firstMoveFailure_ = reason;
}

bool StagedExtraction::MoveOne(Staged& staged, const TargetCheck& check, int move, std::vector<Undo>& undo,
                               std::string& reason) {
  std::string name;
  const platform::Folder* folder = FolderOf(staged, name, true, &undo);
  const std::string path = folder != nullptr ? folder->PathOf(name) : check.path;
  auto failed = [&](const std::string& why) {
    reason = "Cannot move the new file into place as " + Quoted(path) + (why.empty() ? "" : ". " + why);
    return false;
  };
  if (folder == nullptr) return failed("Its folder cannot be made");
  if (moveFault_ && moveFault_(move)) return failed("A failure made for a test");

  std::error_code ec;
  // A read-only file is replaced only with ReplaceReadOnly, which clears the attribute first.
  std::optional<platform::FolderEntryInfo> existing;
  if (settings_.replaceReadOnly && check.state == TargetCheck::State::Existing) existing = folder->Lookup(name);
  const bool readOnly = existing && existing->readOnly;
  if (check.state != TargetCheck::State::Free) {
    if (readOnly) platform::SetDosAttributes(path, 0);
    std::string kept = "kept-" + std::to_string(move);
    if (staging_->ReplaceKeeping(staged.stagedName, *folder, name, kept, ec)) {
      undo.push_back(Undo{Undo::Kind::Replaced, folder, name, kept, readOnly});
      return true;
    }
    if (readOnly) platform::SetDosAttributes(path, platform::kAttrReadOnly);
    if (ec != std::errc::no_such_file_or_directory) return failed(ec.message());
    // Gone meanwhile: the name is free after all.
  }

  // A new name: moved there only while nothing has it. Something that took the name meanwhile,
  // or that the file system takes for the same name (another form of the same letters), is left
  // alone: the file is numbered instead.
  std::string candidate = name;
  for (int tries = 0; tries < kMaxNumbered; ++tries) {
    if (staging_->MoveToNewName(staged.stagedName, *folder, candidate, ec)) {
      undo.push_back(Undo{Undo::Kind::NewFile, folder, candidate, {}, false});
      if (tries > 0) {
        if (staged.notice < 0) {
          staged.notice = static_cast<int>(notices_.size());
          notices_.push_back(NameNotice{NameNotice::Kind::Renamed, staged.stored, {}, 0});
        }
        notices_[static_cast<size_t>(staged.notice)].written = candidate;
        notices_[static_cast<size_t>(staged.notice)].changes |= kNameNumbered;
      }
      return true;
    }
    // A file system that cannot refuse to replace in the same step tells no file_exists: look.
    if (ec == std::errc::file_exists || folder->Lookup(candidate)) {
      int& next = nextNumber_[path];
      next = std::max(next, 2);
      candidate = NumberedName(name, next++, rules_);
      continue;
    }
    if (staging_->MoveOver(staged.stagedName, *folder, candidate, ec)) {
      undo.push_back(Undo{Undo::Kind::NewFile, folder, candidate, {}, false});
      return true;
    }
    return failed(ec ? ec.message() : std::string());
  }
  return failed("Too many files have the name");
}

void StagedExtraction::Rollback(std::vector<Undo>& undo) {
  int left = 0;
  for (size_t i = undo.size(); i-- > 0;) {
    const Undo& step = undo[i];
    bool ok = true;
    switch (step.kind) {
      case Undo::Kind::NewFile:
        ok = staging_->TakeBack(*step.folder, step.name, "undone-" + std::to_string(i));
        break;
      case Undo::Kind::Replaced:
        ok = staging_->PutBack(step.kept, *step.folder, step.name);
        if (ok && step.readOnly) platform::SetDosAttributes(step.folder->PathOf(step.name), platform::kAttrReadOnly);
        break;
      case Undo::Kind::MadeFolder:
        for (auto it = folders_.begin(); it != folders_.end();) {
          // Closed first: Windows cannot remove a folder held open.
          it = it->second->Path() == step.folder->PathOf(step.name) ? folders_.erase(it) : it + 1;
        }
        ok = step.folder->RemoveSubfolder(step.name);
        break;
      case Undo::Kind::MadePath:
        folders_.clear();
        ok = platform::RemoveEmptyFolder(step.name);
        break;
    }
    if (!ok) ++left;
  }
  if (left > 0) {
    firstMoveFailure_ += "; " + std::to_string(left) + " of the moves before it could not be undone";
  }
}

int StagedExtraction::Commit(CommitMode mode) {
  committed_ = true;
  const bool strict = mode == CommitMode::AllOrNothing;
  const std::vector<TargetCheck> checks = CheckTargets(strict);
  if (strict) {
    for (const TargetCheck& check : checks) {
      if (!check.Blocks()) continue;
      blockedBy_ = check.state;
      switch (check.state) {
        case TargetCheck::State::Folder:
          Fail("A folder has the name " + Quoted(check.path));
          break;
        case TargetCheck::State::ReadOnly:
          Fail("A read-only file has the name " + Quoted(check.path));
          break;
        default:
          Fail("Another program holds the file " + Quoted(check.path) + " open");
          break;
      }
      staging_.reset();
      committed_ = false;
      return 0;
    }
  }

  const ExtractEvents* events = events_.get();
  auto skip = [&](const Staged& staged) {
    bool retry = false;  // nothing is left to retry once the pass is over
    if (events != nullptr && events->skippingFile) {
      events->skippingFile(SkipReason::srCreateError, retry, staged.index, staged.name);
    }
  };
  std::vector<Undo> undo;
  std::vector<bool> done(staged_.size(), false);
  std::map<std::string, bool> keyDone;  // whether the file of a stored name went into place
  size_t next = 0;                      // the next check
  int move = 0;
  for (size_t i = 0; i < staged_.size(); ++i) {
    Staged& staged = staged_[i];
    if (staged.superseded) continue;
    std::string name;
    if (staged.stagedName.empty()) {  // a folder entry: the folder is what it stands for
      done[i] = FolderOf(staged, name, true, &undo) != nullptr;
      if (!done[i]) skip(staged);
      continue;
    }
    const TargetCheck& check = checks[next++];
    using State = TargetCheck::State;
    if (check.state == State::Folder || check.state == State::ReadOnly) {
      skip(staged);
      continue;
    }
    if (check.state == State::SameContent) {
      staging_->Drop(staged.stagedName);
    } else {
      std::string reason;
      if (!MoveOne(staged, check, move++, undo, reason)) {
        Fail(reason);
        Rollback(undo);
        folders_.clear();
        staging_.reset();
        committed_ = false;  // a target folder this extraction made goes again
        return 0;
      }
    }
    done[i] = true;
    keyDone[staged.key] = true;
  }

  int extracted = 0;
  for (size_t i = 0; i < staged_.size(); ++i) {
    const Staged& staged = staged_[i];
    // A superseded entry counts when the file that replaced it went into place, as if it had
    // been written and then overwritten.
    if (!(done[i] || (staged.superseded && keyDone[staged.key]))) continue;
    ++extracted;
    if (staged.stagedName.empty() && !staged.superseded) continue;  // a folder entry
    if (events != nullptr && events->endUnZip) {
      std::string name;
      const platform::Folder* folder = FolderOf(staged, name, false, nullptr);
      events->endUnZip(staged.index, folder != nullptr ? folder->PathOf(name) : name);
    }
  }
  folders_.clear();
  staging_.reset();  // the files replaced, kept aside until now, go with it
  if (events != nullptr && events->unZipComplete) events->unZipComplete(extracted);
  return extracted;
}

}  // namespace kvelv
