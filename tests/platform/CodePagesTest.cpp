// windows-1252 and code page 850 against points of the published tables, plus full round trips.
#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kvelv::platform {
namespace {

std::string Byte(int value) { return std::string(1, static_cast<char>(value)); }

// In either code page every byte decodes to one distinct character, which encodes back to the
// same byte.
TEST(CodePagesTest, EveryByteRoundTripsInBoth) {
  const struct {
    const char* name;
    std::string (*decode)(std::string_view);
    std::string (*encode)(std::string_view, bool*);
  } pages[] = {{"windows-1252", Utf8FromAnsi, AnsiFromUtf8}, {"850", Utf8FromOem, OemFromUtf8}};
  for (const auto& page : pages) {
    std::set<std::string> seen;
    for (int b = 0; b < 256; ++b) {
      SCOPED_TRACE(std::string(page.name) + " byte " + std::to_string(b));
      std::string text = page.decode(Byte(b));
      EXPECT_EQ(DecodeUtf8(text).size(), 1u);
      EXPECT_TRUE(seen.insert(text).second) << "shares its character";
      bool allMapped = false;
      EXPECT_EQ(page.encode(text, &allMapped), Byte(b));
      EXPECT_TRUE(allMapped);
    }
  }
}

TEST(CodePagesTest, AsciiIsUnchangedInBoth) {
  std::string ascii;
  for (int b = 0; b < 128; ++b) ascii += Byte(b);
  EXPECT_EQ(Utf8FromAnsi(ascii), ascii);
  EXPECT_EQ(Utf8FromOem(ascii), ascii);
  EXPECT_EQ(AnsiFromUtf8(ascii), ascii);
  EXPECT_EQ(OemFromUtf8(ascii), ascii);
}

// Points of the published tables, written here independently of the tables in the code.
TEST(CodePagesTest, AnsiKnownPoints) {
  EXPECT_EQ(Utf8FromAnsi("\x80"), "€");
  EXPECT_EQ(Utf8FromAnsi("\x8A"), "Š");
  EXPECT_EQ(Utf8FromAnsi("\x9F"), "Ÿ");
  EXPECT_EQ(Utf8FromAnsi("\xA0"), "\u00A0");
  EXPECT_EQ(Utf8FromAnsi("\xC5\xD8\xE6\xF8\xE5"), "ÅØæøå");
  EXPECT_EQ(AnsiFromUtf8("Blåbærsyltetøy"), "Bl\xE5" "b\xE6rsyltet\xF8y");
}

TEST(CodePagesTest, OemKnownPoints) {
  EXPECT_EQ(Utf8FromOem("\x9B"), "ø");
  EXPECT_EQ(OemFromUtf8("ø"), "\x9B");
  EXPECT_EQ(Utf8FromOem("\x80"), "Ç");
  EXPECT_EQ(Utf8FromOem("\x8F\x9D\x90\x81\x8D"), "ÅØÉüì");
  EXPECT_EQ(Utf8FromOem("\xB0\xDB"), "░█");
  EXPECT_EQ(Utf8FromOem("\xD5"), "ı");
  EXPECT_EQ(Utf8FromOem("\xFF"), "\u00A0");
}

// windows-1252 leaves these unassigned; they pass through as the C1 controls of the same value.
TEST(CodePagesTest, UnassignedAnsiBytesMapToC1Controls) {
  for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    std::u32string expected(1, static_cast<char32_t>(b));
    EXPECT_EQ(DecodeUtf8(Utf8FromAnsi(Byte(b))), expected) << "byte " << b;
    EXPECT_EQ(AnsiFromUtf8(EncodeUtf8(expected)), Byte(b)) << "byte " << b;
  }
}

// The archive names' OEM road reads 850 bytes as windows-1252 text and back; the 850 bytes
// of Å, Ø, É, ü and ì are exactly the five unassigned ones, so nothing may be lost.
TEST(CodePagesTest, OemBytesSurviveTheAnsiRoad) {
  const std::string name = "Årsrapport ØÉüì.txt";
  std::string asAnsiText = Utf8FromAnsi(OemFromUtf8(name));
  EXPECT_EQ(Utf8FromOem(AnsiFromUtf8(asAnsiText)), name);
}

TEST(CodePagesTest, UnmappedCharactersBecomeQuestionMarks) {
  bool allMapped = true;
  EXPECT_EQ(OemFromUtf8("€", &allMapped), "?");
  EXPECT_FALSE(allMapped);
  allMapped = true;
  EXPECT_EQ(AnsiFromUtf8("aΩb", &allMapped), "a?b");
  EXPECT_FALSE(allMapped);
  // A character outside the basic plane is one character, so one "?".
  EXPECT_EQ(AnsiFromUtf8("x😀y"), "x?y");
  EXPECT_EQ(OemFromUtf8("x😀y"), "x?y");
  // The "?" of an unmapped character is not confused with a real one.
  allMapped = false;
  EXPECT_EQ(AnsiFromUtf8("why?", &allMapped), "why?");
  EXPECT_TRUE(allMapped);
}

TEST(CodePagesTest, ConvertsBetweenTheByteForms) {
  EXPECT_EQ(OemFromAnsi("\xC5\xD8\xF8"), "\x8F\x9D\x9B");
  EXPECT_EQ(AnsiFromOem("\x8F\x9D\x9B"), "\xC5\xD8\xF8");
  EXPECT_EQ(OemFromAnsi("\x80"), "?");   // € has no 850 byte
  EXPECT_EQ(AnsiFromOem("\xB0"), "?");   // ░ has no windows-1252 byte
  EXPECT_EQ(OemFromAnsi("plain"), "plain");
}

TEST(CodePagesTest, InvalidUtf8IsReplacedByteByByte) {
  const std::u32string one(1, U'\uFFFD');
  EXPECT_EQ(DecodeUtf8("\xC3"), one);                        // truncated pair
  EXPECT_EQ(DecodeUtf8("\xE2\x82"), one + one);              // truncated triple
  EXPECT_EQ(DecodeUtf8("\xC0\x80"), one + one);              // overlong NUL
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), one + one + one);    // surrogate
  EXPECT_EQ(DecodeUtf8("\xF4\x90\x80\x80"), one + one + one + one);  // past U+10FFFF
  EXPECT_EQ(DecodeUtf8("a\xFF" "b"), U"a\uFFFDb");
  EXPECT_EQ(DecodeUtf8("\xC3\xA5\x80"), U"å\uFFFD");         // stray continuation after a good pair
  bool allMapped = true;
  EXPECT_EQ(AnsiFromUtf8("a\xFF", &allMapped), "a?");
  EXPECT_FALSE(allMapped);
}

TEST(CodePagesTest, Utf8RoundTripsAllLengths) {
  const std::u32string text = U"a\u00E5\u20AC\U0001F600\U0010FFFF";
  EXPECT_EQ(EncodeUtf8(text), "a\xC3\xA5\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(DecodeUtf8(EncodeUtf8(text)), text);
  // Values that are no characters are written as the replacement character.
  EXPECT_EQ(EncodeUtf8(std::u32string(1, 0xD800)), "\xEF\xBF\xBD");
  EXPECT_EQ(EncodeUtf8(std::u32string(1, 0x110000)), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kvelv::platform
