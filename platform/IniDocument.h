#pragma once
// The text of an INI file, kept line by line so that a write changes only the line it must and
// leaves comments, unknown lines and other sections as they were.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvelv {

class IniDocument {
 public:
  // Accepts UTF-8 with or without a byte-order mark, CRLF or LF line ends.
  static IniDocument Parse(std::string_view text);

  // The value of the first matching key in a matching section (names compared without regard to
  // ASCII case), blanks around it trimmed and one pair of surrounding quotes removed;
  // nullopt when there is none.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // Replaces the key's line, or adds the key at the end of its section, or adds the section at
  // the end of the document. A line break in the value ends it, so a value never adds lines.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Every line followed by CRLF, after the byte-order mark when the parsed text had one (so a
  // rewrite never changes how the remaining lines read).
  std::string Serialize() const;

 private:
  std::vector<std::string> lines_;
  bool byteOrderMark_ = false;
};

}  // namespace kvelv
