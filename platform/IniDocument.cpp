#include "platform/IniDocument.h"

#include <cstddef>
#include <utility>

namespace kvelv {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view text = Trim(line);
  if (text.empty() || text.front() != '[') return std::nullopt;
  text.remove_prefix(1);
  auto close = text.find(']');
  if (close != std::string_view::npos) text = text.substr(0, close);
  return Trim(text);
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

// Key and raw value of a "key=value" line; comments and lines without "=" are no key lines.
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';' || text.front() == '[') return std::nullopt;
  auto equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return KeyLine{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == '"' || value.front() == '\'')) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  IniDocument document;
  if (text.substr(0, kBom.size()) == kBom) {
    text.remove_prefix(kBom.size());
    document.byteOrderMark_ = true;
  }
  while (!text.empty()) {
    auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    document.lines_.emplace_back(line);
  }
  return document;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
  bool inSection = false;
  for (const std::string& line : lines_) {
    if (auto name = SectionName(line)) {
      inSection = SameName(*name, section);
      continue;
    }
    if (!inSection) continue;
    auto parsed = ParseKeyLine(line);
    if (parsed && SameName(parsed->key, key)) return Unquote(parsed->value);
  }
  return std::nullopt;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  value = value.substr(0, value.find_first_of("\r\n"));
  std::string newLine = std::string(key) + "=" + std::string(value);

  // Where the key goes when it is not there yet: after the last non-blank line of the first
  // matching section, so blank lines that separate sections stay where they are.
  std::optional<std::size_t> insertAt;
  bool inSection = false;
  bool inFirstSection = false;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (auto name = SectionName(lines_[i])) {
      inSection = SameName(*name, section);
      inFirstSection = inSection && !insertAt;
      if (inFirstSection) insertAt = i + 1;
      continue;
    }
    if (!inSection) continue;
    auto parsed = ParseKeyLine(lines_[i]);
    if (parsed && SameName(parsed->key, key)) {
      lines_[i] = newLine;
      return;
    }
    if (inFirstSection && !Trim(lines_[i]).empty()) insertAt = i + 1;
  }
  if (insertAt) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*insertAt), newLine);
    return;
  }
  std::string header(1, '[');
  header.append(section);
  header += ']';
  lines_.push_back(std::move(header));
  lines_.push_back(std::move(newLine));
}

std::string IniDocument::Serialize() const {
  std::string text = byteOrderMark_ ? "\xEF\xBB\xBF" : "";
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

}  // namespace kvelv
