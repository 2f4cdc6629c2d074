#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace qv::platform {
namespace {

// These hold for Windows-1252, the code page everywhere but on a Windows set to another one.
bool IsWindows1252() {
  return AnsiCodePage() == 1252;
}

TEST(AnsiCodePage, EveryByteRoundTripsThroughUtf16AndUtf8) {
  if (!IsWindows1252()) GTEST_SKIP() << "the ANSI code page is " << AnsiCodePage();
  std::string all;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  const std::u16string wide = AnsiToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(Utf16ToAnsi(wide), all);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
}

TEST(AnsiCodePage, MapsTheWindows1252Block) {
  if (!IsWindows1252()) GTEST_SKIP() << "the ANSI code page is " << AnsiCodePage();
  EXPECT_EQ(AnsiCharToUtf16(0x80), u'\u20AC');
  EXPECT_EQ(AnsiCharToUtf16(0x9F), u'\u0178');
  EXPECT_EQ(AnsiCharToUtf16(0x81), u'\u0081');  // unassigned: kept as the control point
  EXPECT_EQ(AnsiCharToUtf16(0xE9), u'\u00E9');
  EXPECT_EQ(AnsiToUtf8("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(AnsiCodePage, CharactersOutsideBecomeQuestionMarks) {
  if (!IsWindows1252()) GTEST_SKIP() << "the ANSI code page is " << AnsiCodePage();
  EXPECT_EQ(Utf16ToAnsi(u"\u0141\u2260"), "??");  // no look-alikes ("L", "=")
  EXPECT_EQ(Utf16ToAnsi(u"a\u0416b"), "a?b");
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80!"), "?!");  // one character, one "?"
  EXPECT_EQ(Utf8ToAnsi("\xD0\x96"), "?");
}

// Messages are ANSI but carry file names in UTF-8: a text that is valid UTF-8 is shown as it is.
TEST(AnsiCodePage, TextsForTheUserAreUtf8WhereTheyAreValidUtf8) {
  if (!IsWindows1252()) GTEST_SKIP() << "the ANSI code page is " << AnsiCodePage();
  EXPECT_EQ(TextToUtf8("Cannot open \"/J\xC3\xBCrgen\xEF\xBF\xBD\""),
            "Cannot open \"/J\xC3\xBCrgen\xEF\xBF\xBD\"");
  EXPECT_EQ(TextToUtf8("PR\xDC"
                       "FUNG \xC3"),
            "PR\xC3\x9C"
            "FUNG \xC3\x83");
}

TEST(Utf8, MalformedSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");      // overlong
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");  // surrogate
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qv::platform
