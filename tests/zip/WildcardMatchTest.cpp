// Wildcard patterns of the writer's item lists, exclude lists and no-compression lists.
#include "zip/common/WildcardMatch.h"

#include <gtest/gtest.h>

namespace kvelv {
namespace {

struct Case {
  const char* name;
  const char* pattern;
  bool matches;
};

TEST(WildcardMatchTest, MatchesAsTheDesignSays) {
  const Case cases[] = {
      // "*" any run, "?" any one character.
      {"report.txt", "*", true}, {"", "*", true}, {"report.txt", "*.txt", true}, {"report.txt", "r*t", true},
      {"report.txt", "r?port.t?t", true}, {"a.b.c", "*.*.*", true}, {"aaa", "*a*a*a*", true},
      {"aa", "*a*a*a*", false}, {"report.txt", "*.doc", false}, {"report.txt", "?", false}, {"", "?", false},
      {"report.txt", "report", false}, {"/data/sub/x.log", "*/sub/*.log", true},
      // Letter case is ignored, national letters too; "?" is one character, not one byte.
      {"REPORT.TXT", "*.txt", true}, {"report.txt", "REPORT.*", true}, {"Ærlig.txt", "æ*", true},
      {"ØYE", "øye", true}, {"ÅR", "år", true}, {"ŁÓDŹ", "łódź", true}, {"ΑΒΓ", "αβγ", true},
      {"ДОМ", "дом", true}, {"æ", "ø", false}, {"brød", "br?d", true},
      // Sets of one character: ranges, members, a trailing "-" as a member, negation.
      {"b.txt", "<a-c>*", true}, {"C.txt", "<a-c>*", true}, {"d.txt", "<a-c>*", false}, {"x7", "x<0-9>", true},
      {"q", "<xyzq>", true}, {"-", "<a->", true}, {"m", "<a-ck-mx>", true}, {"n", "<a-ck-mx>", false},
      {"ab", "<ab>", false}, {"d.txt", "<!a-c>*", true}, {"a.txt", "<!a-c>*", false}, {"z", "<^a-c>", true},
      {"B", "<^a-c>", false},
      // Unclosed or odd sets match nothing; a range written high end first holds nothing.
      {"a", "<a", false}, {"abc", "*<a-z", false}, {"<a", "<a", false}, {"b", "<c-a>", false}, {"x", "<>", false},
  };
  for (const Case& c : cases) EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(WildcardMatchTest, FileNamesWithoutExtensionGetADot) {
  const Case cases[] = {{"README", "*.", true},       {"readme.txt", "*.", false},   {"README", "*.*", true},
                        {"readme.txt", "*.*", true},  {"Makefile", "make*", true},   {"Makefile", "makefile.", true},
                        {"Makefile", "*.txt", false}};
  for (const Case& c : cases) EXPECT_EQ(FileNameMatches(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(WildcardMatchTest, WildcardItemsAreRecognised) {
  for (const char* item : {"*.txt", "a?.txt", "<a-c>.txt", ">x.txt", "|x.txt"}) {
    EXPECT_TRUE(HasWildcards(item)) << item;
  }
  EXPECT_FALSE(HasWildcards("/home/user/report.txt"));
  EXPECT_FALSE(HasWildcards(""));
}

TEST(WildcardMatchTest, LongPatternsStayFast) {
  // Backtracking over many stars must not explode.
  std::string text(2000, 'a');
  EXPECT_FALSE(WildcardMatch(text, "*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(WildcardMatch(text + "b", "*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace kvelv
