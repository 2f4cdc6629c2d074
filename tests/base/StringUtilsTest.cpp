#include "base/StringUtils.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qv
