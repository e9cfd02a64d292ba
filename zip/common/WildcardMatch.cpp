#include "zip/common/WildcardMatch.h"

#include <optional>
#include <utility>
#include <vector>

#include "platform/CodePages.h"

namespace kvelv {

namespace {

char32_t LowerCase(char32_t c) {
  if (c < 0x80) return (c >= U'A' && c <= U'Z') ? c + 0x20 : c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;  // Latin-1 capitals
  if (c >= 0x100 && c <= 0x17F) {                               // Latin Extended-A pairs
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (c == 0x178) return 0xFF;
    bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    bool capital = oddCapitals ? (c % 2 == 1) : (c % 2 == 0);
    return capital ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

struct Token {
  enum Kind { kStar, kAny, kChar, kSet } kind = kChar;
  char32_t c = 0;
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;

  bool Matches(char32_t ch) const {
    switch (kind) {
      case kStar:
      case kAny:
        return true;
      case kChar:
        return ch == c;
      case kSet: {
        bool inSet = false;
        for (const auto& [low, high] : ranges) {
          if (ch >= low && ch <= high) {
            inSet = true;
            break;
          }
        }
        return inSet != negated;
      }
    }
    return false;
  }
};

// nullopt when the pattern holds a set without its closing ">", which matches nothing.
std::optional<std::vector<Token>> Parse(const std::u32string& pattern) {
  std::vector<Token> tokens;
  for (size_t i = 0; i < pattern.size(); ++i) {
    Token token;
    char32_t c = pattern[i];
    if (c == U'*') {
      // Runs of stars mean the same as one and would only slow the backtracking down.
      if (!tokens.empty() && tokens.back().kind == Token::kStar) continue;
      token.kind = Token::kStar;
    } else if (c == U'?') {
      token.kind = Token::kAny;
    } else if (c == U'<') {
      token.kind = Token::kSet;
      size_t j = i + 1;
      if (j < pattern.size() && (pattern[j] == U'!' || pattern[j] == U'^')) {
        token.negated = true;
        ++j;
      }
      bool closed = false;
      while (j < pattern.size()) {
        char32_t low = pattern[j];
        if (low == U'>') {
          closed = true;
          break;
        }
        char32_t high = low;
        if (j + 2 < pattern.size() && pattern[j + 1] == U'-' && pattern[j + 2] != U'>') {
          high = pattern[j + 2];
          j += 2;
        }
        // A range written high end first holds nothing.
        if (low <= high) token.ranges.emplace_back(low, high);
        ++j;
      }
      if (!closed) return std::nullopt;
      i = j;
    } else {
      token.c = c;
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

}  // namespace

std::u32string LowerCaseText(std::u32string_view text) {
  std::u32string result(text);
  for (char32_t& c : result) c = LowerCase(c);
  return result;
}

bool WildcardMatch(std::string_view text, std::string_view pattern) {
  const std::u32string subject = LowerCaseText(platform::DecodeUtf8(text));
  const auto tokens = Parse(LowerCaseText(platform::DecodeUtf8(pattern)));
  if (!tokens) return false;

  // Greedy matching that backtracks to the last star only: every other token takes exactly one
  // character, so this is enough and stays linear in practice.
  size_t t = 0, s = 0;
  size_t starToken = std::u32string::npos, starSubject = 0;
  while (s < subject.size()) {
    if (t < tokens->size() && (*tokens)[t].kind == Token::kStar) {
      starToken = t++;
      starSubject = s;
    } else if (t < tokens->size() && (*tokens)[t].Matches(subject[s])) {
      ++t;
      ++s;
    } else if (starToken != std::u32string::npos) {
      t = starToken + 1;
      s = ++starSubject;
    } else {
      return false;
    }
  }
  while (t < tokens->size() && (*tokens)[t].kind == Token::kStar) ++t;
  return t == tokens->size();
}

bool FileNameMatches(std::string_view fileName, std::string_view pattern) {
  std::string name(fileName);
  if (name.find('.') == std::string::npos) name += '.';
  if (pattern == "*.*") pattern = "*";
  return WildcardMatch(name, pattern);
}

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?<>|") != std::string_view::npos;
}

}  // namespace kvelv
