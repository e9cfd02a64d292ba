#pragma once
// The names extracted files get. An entry's stored file-name part is mapped to a name the target
// file system can hold (Windows forbids some characters, device names and trailing dots and
// spaces; every file system has a longest name), and names that would meet in one file are kept
// apart. Pure functions of the names and the rules, so Windows' rules are tested on any system.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kvelv {

// How a file system takes names.
struct NameRules {
  bool windows = false;     // Windows' rules for characters, device names and name ends
  size_t maxLength = 255;   // the longest name: UTF-16 units with `windows`, bytes otherwise
  bool ignoreCase = false;  // names that differ in letter case only name one file
  // This build's system with its usual limits (Windows: 255 units, letter case ignored).
  static NameRules Native();
};

// Why a written name differs from the stored one (bits).
enum NameChange : unsigned {
  kNameMapped = 1,     // characters or a name the system does not allow
  kNameShortened = 2,  // longer than the file system holds
  kNameNumbered = 4,   // another file of the extraction has the name
};

// The name a stored file-name part is written under, before clashes with other names are seen;
// "" when it is no usable name ("", ".", "..", or holding a NUL). `changes` receives NameChange
// bits. On Windows: `< > : " | ? * \ /` and control characters become "_", trailing dots and
// spaces become "_", and a device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an
// extension) gets a leading "_". A name too long is cut on a character boundary, its extension
// kept.
std::string TargetName(std::string_view stored, const NameRules& rules, unsigned* changes = nullptr);

// `name` numbered: "name (n).ext", shortened as needed to fit.
std::string NumberedName(std::string_view name, int n, const NameRules& rules);

// What identifies a name in a folder under `rules`: the name itself, or with letter case ignored.
std::string NameKey(std::string_view name, const NameRules& rules);

// One file of an extraction: the folder it goes to (its own key, already mapped) and its stored
// file-name part.
struct NamedEntry {
  std::string folder;
  std::string stored;
};

// What becomes of each file: its `name` ("" when it has no usable one), or `superseded` when a
// later entry of the same stored name in the same folder writes the file (then `name` is the
// one it would have had).
struct NameDecision {
  std::string name;
  bool superseded = false;
  unsigned changes = 0;
};

// Names every file of an extraction in order. A later entry of exactly the same stored name wins
// (the earlier is superseded); names that meet otherwise (after mapping, or by letter case) are
// kept apart: the later one is numbered.
std::vector<NameDecision> NameTargets(const std::vector<NamedEntry>& entries, const NameRules& rules);

}  // namespace kvelv
