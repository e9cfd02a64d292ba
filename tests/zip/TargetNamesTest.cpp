// The names extracted files get, under Windows' rules and under POSIX ones, on any system: names
// a file system cannot hold are mapped or shortened, and names that would meet in one file are
// kept apart.
#include "zip/TargetNames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/TestData.h"
#include "zip/common/ZipText.h"

namespace kvelv {
namespace {

const NameRules kWindows{true, 255, true};
const NameRules kPosix{false, 255, false};

using test::Repeat;

TEST(TargetNamesTest, EachStoredNameMapsToOneTheSystemHolds) {
  struct Case {
    NameRules rules;
    std::string stored;
    std::string expected;
    unsigned changes;
  };
  const std::vector<Case> cases = {
      {kWindows, "ok.txt", "ok.txt", 0},
      {kWindows, "log 10:30.txt", "log 10_30.txt", kNameMapped},
      {kWindows, "Hva?.txt", "Hva_.txt", kNameMapped},
      {kWindows, "a<b>.txt", "a_b_.txt", kNameMapped},
      {kWindows, "tab\there\x7F", "tab_here\x7F", kNameMapped},
      {kWindows, "notat.txt.", "notat.txt_", kNameMapped},
      {kWindows, "notat.txt ", "notat.txt_", kNameMapped},
      {kWindows, "end. .", "end___", kNameMapped},
      {kWindows, "aux.txt", "_aux.txt", kNameMapped},
      {kWindows, "CON", "_CON", kNameMapped},
      {kWindows, "nul", "_nul", kNameMapped},
      {kWindows, "COM1.log", "_COM1.log", kNameMapped},
      {kWindows, "com\u00B9.tar.gz", "_com\u00B9.tar.gz", kNameMapped},
      {kWindows, "PRN .txt", "_PRN .txt", kNameMapped},
      {kWindows, "CONSOLE.txt", "CONSOLE.txt", 0},
      {kWindows, "COM10", "COM10", 0},
      {kWindows, "LPT0.txt", "LPT0.txt", 0},
      {kPosix, "log 10:30.txt", "log 10:30.txt", 0},
      {kPosix, "aux.txt", "aux.txt", 0},
      {kPosix, "back\\slash?", "back\\slash?", 0},
      // Too long: cut on a character boundary, the extension kept.
      {kWindows, Repeat("\u00F8", 300) + ".txt", Repeat("\u00F8", 251) + ".txt", kNameShortened},
      {kPosix, Repeat("\u00F8", 300) + ".txt", Repeat("\u00F8", 125) + ".txt", kNameShortened},
      {kPosix, Repeat("\u65E5", 255) + ".txt", Repeat("\u65E5", 83) + ".txt", kNameShortened},
      {kWindows, Repeat("\U0001F600", 200), Repeat("\U0001F600", 127), kNameShortened},
      {kWindows, Repeat("\u65E5", 255), Repeat("\u65E5", 255), 0},
      {kPosix, "a." + Repeat("x", 300), "a." + Repeat("x", 253), kNameShortened},
      {kWindows, Repeat("a", 254) + "?. ", Repeat("a", 253) + "__", kNameMapped | kNameShortened},
      // No usable name at all.
      {kWindows, "", "", 0},
      {kPosix, ".", "", 0},
      {kPosix, std::string("a\0b", 3), "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.rules.windows ? "Windows: " : "POSIX: ") + c.stored.substr(0, 40));
    unsigned changes = 99;
    EXPECT_EQ(TargetName(c.stored, c.rules, &changes), c.expected);
    EXPECT_EQ(changes, c.changes);
  }
}

TEST(TargetNamesTest, NumberedNamesKeepTheExtensionAndFit) {
  EXPECT_EQ(NumberedName("rapport.txt", 2, kWindows), "rapport (2).txt");
  EXPECT_EQ(NumberedName("README", 12, kPosix), "README (12)");
  EXPECT_EQ(NumberedName(".profile", 2, kPosix), ".profile (2)");
  EXPECT_EQ(NumberedName(Repeat("a", 251) + ".txt", 3, kPosix), Repeat("a", 247) + " (3).txt");
}

TEST(TargetNamesTest, NamesThatMeetAreKeptApartAndTheSameStoredNameSupersedes) {
  struct Case {
    const char* what;
    NameRules rules;
    std::vector<NamedEntry> entries;
    std::vector<std::string> names;  // "-" for superseded
  };
  const std::vector<Case> cases = {
      {"letter case, on Windows", kWindows, {{"", "Rapport.txt"}, {"", "rapport.txt"}},
       {"Rapport.txt", "rapport (2).txt"}},
      {"letter case, on POSIX", kPosix, {{"", "Rapport.txt"}, {"", "rapport.txt"}}, {"Rapport.txt", "rapport.txt"}},
      {"letter case beyond ASCII", kWindows, {{"", "\u00D8l.txt"}, {"", "\u00F8l.txt"}},
       {"\u00D8l.txt", "\u00F8l (2).txt"}},
      {"trailing dots and spaces",
       kWindows,
       {{"", "notat.txt"}, {"", "notat.txt."}, {"", "notat.txt "}},
       {"notat.txt", "notat.txt_", "notat (2).txt_"}},
      {"a mapped name and a stored one", kWindows, {{"", "log 10:30.txt"}, {"", "log 10_30.txt"}},
       {"log 10_30.txt", "log 10_30 (2).txt"}},
      {"the same stored name", kPosix, {{"", "a.txt"}, {"", "b.txt"}, {"", "a.txt"}}, {"-", "b.txt", "a.txt"}},
      {"the same name in two folders", kPosix, {{"x", "a.txt"}, {"y", "a.txt"}}, {"a.txt", "a.txt"}},
      {"a number already taken", kWindows, {{"", "a.txt"}, {"", "A.txt"}, {"", "a (2).txt"}},
       {"a.txt", "A (2).txt", "a (2) (2).txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<NameDecision> decisions = NameTargets(c.entries, c.rules);
    ASSERT_EQ(decisions.size(), c.names.size());
    for (size_t i = 0; i < decisions.size(); ++i) {
      EXPECT_EQ(decisions[i].superseded ? "-" : decisions[i].name, c.names[i]) << i;
      EXPECT_EQ((decisions[i].changes & kNameNumbered) != 0, c.names[i].find(" (") != std::string::npos) << i;
    }
  }
}

TEST(TargetNamesTest, ThousandsOfNamesThatMeetCostLittle) {
  // Every name of five characters Windows forbids: 16807 names, all of them "_____".
  const std::string forbidden = "<>:\"|?*";
  std::vector<NamedEntry> entries;
  for (size_t i = 0; i < 16807; ++i) {
    std::string name;
    for (size_t k = i, n = 0; n < 5; ++n, k /= 7) name += forbidden[k % 7];
    entries.push_back({"", name});
  }
  const std::vector<NameDecision> decisions = NameTargets(entries, kWindows);
  std::set<std::string> names;
  for (const NameDecision& decision : decisions) names.insert(decision.name);
  EXPECT_EQ(names.size(), entries.size());
  EXPECT_EQ(decisions.back().name, "_____ (16807)");
}

#ifdef _WIN32
TEST(TargetNamesTest, OnlyALeadingDriveBreaksANameAtItsColon) {
  EXPECT_EQ(LastNameBreak("log 10:30.txt"), std::string_view::npos);
  EXPECT_EQ(LastNameBreak("C:x.txt"), 1u);
  EXPECT_EQ(LastNameBreak("C:\\dir\\x:y.txt"), 6u);
  EXPECT_EQ(LastNameBreak("dir/a:b"), 3u);
}
#endif

}  // namespace
}  // namespace kvelv
