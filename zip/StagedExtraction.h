#pragma once
// The files of an extraction, decoded, checked and written into a staging folder inside the
// target folder, waiting to be moved into place (zip/ZipExtractor.h makes them). The commit is
// all or nothing: every target name is looked at before the first move, and a file that is
// replaced is kept aside in the staging folder until the last new file is in place, so a move
// that fails undoes the ones before it and the folder is as it was.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Folder.h"
#include "zip/TargetNames.h"
#include "zip/ZipTypes.h"

namespace kvelv {

class StagingFolder;
struct ExtractEvents;

// How a pass chooses and places entries (the reader's published settings).
struct ExtractSettings {
  std::string destDir;  // the target folder; "" is the current folder
  bool recreateDirs = false;
  std::vector<std::string> relativePathList;
  UZOverwriteMode overwriteMode = UZOverwriteMode::Prompt;
  bool retainAttributes = true;
  bool replaceReadOnly = false;
  bool flushFilesOnClose = false;
  bool doAll = false;
  std::vector<std::string> filesList;  // patterns of the entries to take when doAll is false
};

// An entry whose file is written under another name than the stored one, or not at all.
struct NameNotice {
  enum class Kind {
    Renamed,       // written as `written`; `changes` tells why (zip/TargetNames.h)
    Superseded,    // a later entry of the same stored name wrote the file
    NotExtracted,  // no usable file name (".", "..", empty, a NUL in it)
  };
  Kind kind = Kind::Renamed;
  std::string stored;   // the entry's stored name, folders included
  std::string written;  // Renamed: the name written
  unsigned changes = 0;
};

// What holds a name a file goes to, before the commit.
struct TargetCheck {
  enum class State {
    Free,         // nothing
    Existing,     // a file or link, replaced
    SameContent,  // a read-only file holding exactly the entry's bytes: nothing to do
    ReadOnly,     // a read-only file with other content
    Folder,       // a folder
    InUse,        // a file another program holds open
  };
  std::string path;
  State state = State::Free;
  bool Blocks() const { return state == State::ReadOnly || state == State::Folder || state == State::InUse; }
};

class StagedExtraction {
 public:
  enum class CommitMode {
    // The design's rule for the archive library: a folder or a read-only file (unless
    // ReplaceReadOnly) at a name keeps what it is, and its entry is skipped (srCreateError).
    KeepBlocked,
    // Every name is checked first: a folder, a read-only file with other content or a file held
    // open at any name fails the commit before anything moves (a read-only file with the same
    // content counts as written).
    AllOrNothing,
  };

  ~StagedExtraction();
  StagedExtraction(StagedExtraction&&) noexcept;
  StagedExtraction& operator=(StagedExtraction&&) noexcept;

  // Entries of the pass: selected, checked and found sound, and failed (bad CRC, too long,
  // unknown method or size, encrypted). Skipped entries were checked and count as passed.
  int Passed() const { return passed_; }
  int Failed() const { return failed_; }
  // Entries written under another name or not at all; complete once Commit() succeeded.
  const std::vector<NameNotice>& Notices() const { return notices_; }

  // What holds each name a staged file goes to, looked at now, in entry order. With `closely`
  // a read-only file's content is compared and a file held open is found (InUse); otherwise
  // those count as ReadOnly and Existing.
  std::vector<TargetCheck> CheckTargets(bool closely) const;

  // Moves every staged file into place, in entry order, as `mode` says. Returns how many entries
  // were extracted (superseded ones counting with the file that replaced them). When a move
  // fails, or the check of AllOrNothing finds a name blocked, every move already done is undone:
  // MoveFailures() is then 1 and FirstMoveFailure() says why, and nothing counts as extracted.
  int Commit(CommitMode mode = CommitMode::KeepBlocked);
  int MoveFailures() const { return moveFailures_; }
  const std::string& FirstMoveFailure() const { return firstMoveFailure_; }
  // What held the name that stopped an AllOrNothing commit before its first move (Free when none
  // did, or a move failed instead).
  TargetCheck::State BlockedBy() const { return blockedBy_; }

  // For tests: called before the k-th move of a commit (from 0); true makes that move fail.
  void SetMoveFaultForTesting(std::function<bool(int move)> fault) { moveFault_ = std::move(fault); }

 private:
  friend class ZipExtractor;
  struct Staged {
    int index = 0;                        // of the entry in the list
    std::string stagedName;               // in the staging folder ("" for a folder entry)
    std::vector<std::string> subfolders;  // below the target folder, outermost first
    std::string name;                     // the file's final name ("" for a folder entry)
    std::string hookPath;                 // a path OnStartUnZip chose instead, "" when none
    bool superseded = false;              // checked only: a later entry writes the same file
    std::string key;                      // the same for entries of one stored name and folder
    std::string stored;                   // the entry's stored name, for notices
    int notice = -1;                      // its Renamed notice, -1 when none
  };
  struct Place;
  struct Undo;
  StagedExtraction();
  // The folder a staged file goes to and the name there; nullptr folder when it cannot be had.
  const platform::Folder* FolderOf(const Staged& staged, std::string& name, bool create, std::vector<Undo>* undo) const;
  TargetCheck Check(const Staged& staged, bool closely) const;
  bool SameContent(const Staged& staged, const platform::Folder& folder, const std::string& name) const;
  // Moves one file; false with `reason` when it cannot.
  bool MoveOne(Staged& staged, const TargetCheck& check, int move, std::vector<Undo>& undo, std::string& reason);
  void Rollback(std::vector<Undo>& undo);
  void Fail(const std::string& reason);

  std::unique_ptr<platform::Folder> target_;
  bool targetCreated_ = false;
  std::unique_ptr<StagingFolder> staging_;
  std::vector<Staged> staged_;
  std::vector<NameNotice> notices_;
  NameRules rules_;
  ExtractSettings settings_;
  std::shared_ptr<ExtractEvents> events_;
  // Folders opened or made on the way (RecreateDirs, hook paths), by their path.
  mutable std::vector<std::pair<std::string, std::unique_ptr<platform::Folder>>> folders_;
  std::map<std::string, int> nextNumber_;  // per path: the number a clash found at the move tries next
  std::function<bool(int)> moveFault_;
  int passed_ = 0;
  int failed_ = 0;
  int moveFailures_ = 0;
  std::string firstMoveFailure_;
  TargetCheck::State blockedBy_ = TargetCheck::State::Free;
  bool committed_ = false;
};

}  // namespace kvelv
