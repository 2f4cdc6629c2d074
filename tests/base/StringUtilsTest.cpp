#include "base/StringUtils.h"

#include <gtest/gtest.h>

#include "base/Errors.h"

namespace qv {
namespace {

TEST(CaseFolding, TouchesAsciiLettersOnly) {
  EXPECT_EQ(LowerCase("AbC-\xC9\xE9Z"), "abc-\xC9\xE9z");
  EXPECT_EQ(UpperCase("abc-\xE9z"), "ABC-\xE9Z");
  EXPECT_TRUE(SameText("Content-Type", "CONTENT-type"));
  EXPECT_FALSE(SameText("\xC9", "\xE9"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  EXPECT_EQ(CompareText("MiXed", "mixed"), 0);
  // Bytes above 127 order as unsigned.
  EXPECT_LT(CompareText("a", "\xE9"), 0);
}

TEST(CaseFolding, SearchIgnoresCase) {
  EXPECT_TRUE(StartsText("content-", "Content-Type"));
  EXPECT_FALSE(StartsText("content-type-x", "Content-Type"));
  EXPECT_EQ(FindText("Multipart/Mixed; BOUNDARY=x", "boundary="), 17u);
  EXPECT_EQ(FindText("abcabc", "BC", 2), 4u);
  EXPECT_EQ(FindText("abc", "abcd"), std::string_view::npos);
}

TEST(Trimming, RemovesCodesZeroToThirtyTwo) {
  EXPECT_EQ(Trim(std::string("\0\t \r\n x y \x1f\x20", 11)), "x y");
  EXPECT_EQ(Trim("\x7f x \x7f"), "\x7f x \x7f");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \x01"), "  a");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(MessageFormatting, FillsPlaceholdersInOrder) {
  EXPECT_EQ(FormatMessage("Cannot assign a %s to a %s", {"nil", "TMailTreeItem"}),
            "Cannot assign a nil to a TMailTreeItem");
  EXPECT_EQ(FormatMessage("%s_%d", {"Form1", "1"}), "Form1_1");
  EXPECT_EQ(FormatMessage("100%% %s", {"x"}), "100% x");
  EXPECT_EQ(Format("=%2.2X", 0xE9), "=E9");
  EXPECT_EQ(Format("List index out of bounds (%d)", -1), "List index out of bounds (-1)");
}

TEST(TextToInteger, ReadsDecimalSignedAndHexadecimal) {
  struct Case {
    const char* text;
    std::int32_t want;
  };
  const Case cases[] = {
      {"42", 42},
      {"  42", 42},
      {"-7", -7},
      {"+7", 7},
      {"  -0012", -12},
      {"$1F", 31},
      {"x1f", 31},
      {"X10", 16},
      {"0x10", 16},
      {"0XfF", 255},
      {"-$10", -16},
      {"  +0x7", 7},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$7FFFFFFF", 2147483647},
      {"$FFFFFFFF", -1},
      {"$00000000FF", 255},  // leading zeros do not overflow
      {"0", 0},
      {"007", 7},
  };
  for (const Case& c : cases) {
    std::int32_t v = 12345;
    EXPECT_TRUE(TryStrToInt(c.text, v)) << c.text;
    EXPECT_EQ(v, c.want) << c.text;
    EXPECT_EQ(StrToIntDef(c.text, -99), c.want) << c.text;
  }
}

TEST(TextToInteger, RejectsAnythingElse) {
  const char* const cases[] = {
      "",           " ",           "-",          "+",    "$",   "x",   "0x",  "12 ",
      "1 2",        "\t5",         "1a",         "$1G",  "--1", "+-1", "- 1", "0x-1",
      "2147483648", "-2147483649", "$100000000", "12.5", "1e3", "$ 1",
  };
  for (const char* text : cases) {
    std::int32_t v = 12345;
    EXPECT_FALSE(TryStrToInt(text, v)) << text;
    EXPECT_EQ(v, 12345) << text;
    EXPECT_EQ(StrToIntDef(text, -99), -99) << text;
  }
  // A NUL byte is an ordinary character, not the end of the text.
  EXPECT_EQ(StrToIntDef(std::string_view("12\0", 3), 0), 0);
}

TEST(TextToInteger, StrToIntFailsWithTheConversionMessage) {
  EXPECT_EQ(StrToInt(" -42"), -42);
  try {
    StrToInt("1a");
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'1a' is not a valid integer value");
  }
}

}  // namespace
}  // namespace qv
