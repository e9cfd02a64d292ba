#include "zip/TargetNames.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "platform/CodePages.h"

namespace kvelv {

namespace {

using Text = std::u32string;

size_t Units(char32_t c, bool windows) {
  if (windows) return c >= 0x10000 ? 2 : 1;
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

size_t Length(const Text& text, bool windows) {
  size_t length = 0;
  for (char32_t c : text) length += Units(c, windows);
  return length;
}

// The code points of `text` that fit in `room` units.
Text Head(const Text& text, size_t room, bool windows) {
  size_t used = 0;
  size_t count = 0;
  while (count < text.size() && used + Units(text[count], windows) <= room) used += Units(text[count++], windows);
  return text.substr(0, count);
}

// Where a name's extension starts (its last dot, not a leading one); npos when it has none or
// one so long that keeping it would leave too little of the name.
size_t ExtensionAt(const Text& name, size_t limit, bool windows) {
  const size_t dot = name.rfind(U'.');
  if (dot == Text::npos || dot == 0) return Text::npos;
  if (Length(name.substr(dot), windows) > limit / 4) return Text::npos;
  return dot;
}

// `stem` + `insert` + extension within `limit` units, the stem cut as far as needed.
Text Fit(const Text& name, const Text& insert, size_t limit, bool windows) {
  const size_t dot = ExtensionAt(name, limit, windows);
  const Text stem = dot == Text::npos ? name : name.substr(0, dot);
  const Text extension = dot == Text::npos ? Text() : name.substr(dot);
  const size_t tail = Length(insert, windows) + Length(extension, windows);
  if (tail >= limit) return Head(stem + insert + extension, limit, windows);
  return Head(stem, limit - tail, windows) + insert + extension;
}

bool IsForbiddenOnWindows(char32_t c) { return c < 0x20 || Text(U"<>:\"|?*\\/").find(c) != Text::npos; }

char32_t UpperAscii(char32_t c) { return c >= U'a' && c <= U'z' ? c - 0x20 : c; }

// A name Windows takes for a device, whatever the extension: CON, PRN, AUX, NUL, COM1-9 and
// LPT1-9 (also with the superscript digits 1-3), CONIN$ and CONOUT$; blanks before the
// extension do not count.
bool IsDeviceName(const Text& name) {
  Text stem = name.substr(0, name.find(U'.'));
  while (!stem.empty() && stem.back() == U' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(), UpperAscii);
  if (stem == U"CON" || stem == U"PRN" || stem == U"AUX" || stem == U"NUL" || stem == U"CONIN$" ||
      stem == U"CONOUT$")
    return true;
  if (stem.size() != 4 || (stem.substr(0, 3) != U"COM" && stem.substr(0, 3) != U"LPT")) return false;
  const char32_t digit = stem[3];
  return (digit >= U'1' && digit <= U'9') || digit == U'\u00B9' || digit == U'\u00B2' || digit == U'\u00B3';
}

}  // namespace

NameRules NameRules::Native() {
  NameRules rules;
#ifdef _WIN32
  rules.windows = true;
  rules.ignoreCase = true;
#endif
  return rules;
}

std::string TargetName(std::string_view stored, const NameRules& rules, unsigned* changes) {
  unsigned changed = 0;
  if (changes != nullptr) *changes = 0;
  if (stored.empty() || stored == "." || stored == ".." || stored.find('\0') != std::string_view::npos) return {};
  Text name = platform::DecodeUtf8(stored);
  const bool windows = rules.windows;
  if (windows) {
    for (char32_t& c : name) {
      if (IsForbiddenOnWindows(c)) c = U'_', changed |= kNameMapped;
    }
  }
  if (Length(name, windows) > rules.maxLength) {
    name = Fit(name, {}, rules.maxLength, windows);
    changed |= kNameShortened;
  }
  if (windows) {
    // Windows drops trailing dots and spaces, so such a name would open another file.
    for (size_t i = name.size(); i > 0 && (name[i - 1] == U'.' || name[i - 1] == U' '); --i) {
      name[i - 1] = U'_';
      changed |= kNameMapped;
    }
    if (IsDeviceName(name)) {
      name = Fit(U"_" + name, {}, rules.maxLength, windows);
      changed |= kNameMapped;
    }
  }
  if (changes != nullptr) *changes = changed;
  return platform::EncodeUtf8(name);
}

std::string NumberedName(std::string_view name, int n, const NameRules& rules) {
  const std::string number = " (" + std::to_string(n) + ")";
  return platform::EncodeUtf8(
      Fit(platform::DecodeUtf8(name), platform::DecodeUtf8(number), rules.maxLength, rules.windows));
}

std::string NameKey(std::string_view name, const NameRules& rules) {
  return rules.ignoreCase ? platform::UpperCase(name) : std::string(name);
}

std::vector<NameDecision> NameTargets(const std::vector<NamedEntry>& entries, const NameRules& rules) {
  std::vector<NameDecision> decisions(entries.size());
  // The last entry of each stored name writes the file; the earlier ones are superseded.
  std::map<std::pair<std::string, std::string>, size_t> last;
  for (size_t i = 0; i < entries.size(); ++i) {
    auto [at, fresh] = last.emplace(std::make_pair(entries[i].folder, entries[i].stored), i);
    if (!fresh) {
      decisions[at->second].superseded = true;
      at->second = i;
    }
  }
  std::set<std::string> taken;
  // Per name that had to be numbered, the number to try next: many names that meet in one (a
  // hostile archive's thousands) cost one try each, not one per name before them.
  std::map<std::string, int> nextNumber;
  for (size_t i = 0; i < entries.size(); ++i) {
    NameDecision& decision = decisions[i];
    const std::string name = TargetName(entries[i].stored, rules, &decision.changes);
    if (decision.superseded) decision.name = name;
    if (decision.superseded || name.empty()) continue;
    auto key = [&](const std::string& candidate) { return NameKey(entries[i].folder + '/' + candidate, rules); };
    decision.name = name;
    const std::string base = key(name);
    if (taken.count(base) != 0) {
      int& n = nextNumber.emplace(base, 2).first->second;
      do {
        decision.name = NumberedName(name, n++, rules);
      } while (taken.count(key(decision.name)) != 0);
      decision.changes |= kNameNumbered;
    }
    taken.insert(key(decision.name));
  }
  return decisions;
}

}  // namespace kvelv
