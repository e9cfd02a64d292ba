// Wildcard patterns of the writer's item lists, exclude lists and no-compression lists.
#include "zip/WildcardMatch.h"

#include <gtest/gtest.h>

namespace kvelv {
namespace {

TEST(WildcardMatchTest, StarAndQuestionMark) {
  EXPECT_TRUE(WildcardMatch("report.txt", "*"));
  EXPECT_TRUE(WildcardMatch("", "*"));
  EXPECT_TRUE(WildcardMatch("report.txt", "*.txt"));
  EXPECT_TRUE(WildcardMatch("report.txt", "r*t"));
  EXPECT_TRUE(WildcardMatch("report.txt", "r?port.t?t"));
  EXPECT_TRUE(WildcardMatch("a.b.c", "*.*.*"));
  EXPECT_TRUE(WildcardMatch("aaa", "*a*a*a*"));
  EXPECT_FALSE(WildcardMatch("aa", "*a*a*a*"));
  EXPECT_FALSE(WildcardMatch("report.txt", "*.doc"));
  EXPECT_FALSE(WildcardMatch("report.txt", "?"));
  EXPECT_FALSE(WildcardMatch("", "?"));
  EXPECT_FALSE(WildcardMatch("report.txt", "report"));
  EXPECT_TRUE(WildcardMatch("/data/sub/x.log", "*/sub/*.log"));
}

TEST(WildcardMatchTest, IgnoresLetterCaseNationalLettersToo) {
  EXPECT_TRUE(WildcardMatch("REPORT.TXT", "*.txt"));
  EXPECT_TRUE(WildcardMatch("report.txt", "REPORT.*"));
  EXPECT_TRUE(WildcardMatch("Ærlig.txt", "æ*"));
  EXPECT_TRUE(WildcardMatch("ØYE", "øye"));
  EXPECT_TRUE(WildcardMatch("ÅR", "år"));
  EXPECT_TRUE(WildcardMatch("ŁÓDŹ", "łódź"));
  EXPECT_TRUE(WildcardMatch("ΑΒΓ", "αβγ"));
  EXPECT_TRUE(WildcardMatch("ДОМ", "дом"));
  EXPECT_FALSE(WildcardMatch("æ", "ø"));
  // One character, not one byte: "ø" is two bytes in UTF-8.
  EXPECT_TRUE(WildcardMatch("brød", "br?d"));
}

TEST(WildcardMatchTest, CharacterSets) {
  EXPECT_TRUE(WildcardMatch("b.txt", "<a-c>*"));
  EXPECT_TRUE(WildcardMatch("C.txt", "<a-c>*"));
  EXPECT_FALSE(WildcardMatch("d.txt", "<a-c>*"));
  EXPECT_TRUE(WildcardMatch("x7", "x<0-9>"));
  EXPECT_TRUE(WildcardMatch("q", "<xyzq>"));
  EXPECT_TRUE(WildcardMatch("-", "<a->"));  // a trailing "-" is a plain member
  EXPECT_TRUE(WildcardMatch("m", "<a-ck-mx>"));
  EXPECT_FALSE(WildcardMatch("n", "<a-ck-mx>"));
  EXPECT_FALSE(WildcardMatch("ab", "<ab>"));  // a set takes exactly one character
}

TEST(WildcardMatchTest, NegatedSets) {
  EXPECT_TRUE(WildcardMatch("d.txt", "<!a-c>*"));
  EXPECT_FALSE(WildcardMatch("a.txt", "<!a-c>*"));
  EXPECT_TRUE(WildcardMatch("z", "<^a-c>"));
  EXPECT_FALSE(WildcardMatch("B", "<^a-c>"));
}

TEST(WildcardMatchTest, UnclosedOrOddSetsMatchNothing) {
  EXPECT_FALSE(WildcardMatch("a", "<a"));
  EXPECT_FALSE(WildcardMatch("abc", "*<a-z"));
  EXPECT_FALSE(WildcardMatch("<a", "<a"));
  // A range written high end first holds nothing.
  EXPECT_FALSE(WildcardMatch("b", "<c-a>"));
  EXPECT_FALSE(WildcardMatch("x", "<>"));
}

TEST(WildcardMatchTest, FileNamesWithoutExtensionGetADot) {
  EXPECT_TRUE(FileNameMatches("README", "*."));
  EXPECT_FALSE(FileNameMatches("readme.txt", "*."));
  EXPECT_TRUE(FileNameMatches("README", "*.*"));
  EXPECT_TRUE(FileNameMatches("readme.txt", "*.*"));
  EXPECT_TRUE(FileNameMatches("Makefile", "make*"));
  EXPECT_TRUE(FileNameMatches("Makefile", "makefile."));
  EXPECT_FALSE(FileNameMatches("Makefile", "*.txt"));
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
