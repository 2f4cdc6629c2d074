#include "codec/clUtils.h"
#include "support/ScopedZone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "platform/SystemPlatform.h"

namespace qv {
namespace {

TStringList Lines(std::initializer_list<std::string_view> items) {
  return TStringList(items);
}

std::vector<std::string> Items(const TStringList& list) {
  std::vector<std::string> r;
  for (const auto& it : list)
    r.push_back(it.text);
  return r;
}

using Strings = std::vector<std::string>;

TEST(HeaderIndex, NamesAreLowerCasedUntrimmedWithTheirLineNumbers) {
  const TStringList lines =
      Lines({"From: a@b", "Subject : x", "\tcontinued: not a field", "no colon here",
             "X-Test:value", "from: second", "", "Body: not a field"});
  TStringList index;
  EXPECT_EQ(IndexHeaderFields(0, lines, index), 6);
  EXPECT_EQ(Items(index), (Strings{"from", "subject ", "x-test", "from"}));
  EXPECT_EQ(index.Objects(0), 0);
  EXPECT_EQ(index.Objects(1), 1);
  EXPECT_EQ(index.Objects(2), 4);
  EXPECT_EQ(index.Objects(3), 5);
  // The first of two equal fields wins; "Subject :" is not found under "Subject".
  EXPECT_EQ(GetHeaderFieldValue(lines, index, "FROM"), "a@b");
  EXPECT_EQ(GetHeaderFieldValue(lines, index, "Subject"), "");
  EXPECT_EQ(GetHeaderFieldValue(lines, index, "subject "), "xcontinued: not a field");
  EXPECT_EQ(GetHeaderFieldValue(lines, index, "X-Test"), "value");
  EXPECT_EQ(GetHeaderFieldValue(lines, index, "Body"), "");
}

TEST(HeaderIndex, StartsAtTheGivenLineAndRunsToTheEndWithoutEmptyLine) {
  const TStringList lines = Lines({"junk: 1", "", "A: 1", "B: 2"});
  TStringList index;
  EXPECT_EQ(IndexHeaderFields(2, lines, index), 4);
  EXPECT_EQ(Items(index), (Strings{"a", "b"}));
  EXPECT_EQ(index.Objects(0), 2);
  TStringList none;
  EXPECT_EQ(IndexHeaderFields(0, Lines({}), none), 0);
  EXPECT_EQ(IndexHeaderFields(0, Lines({"", "A: 1"}), none), 0);
  EXPECT_TRUE(none.Empty());
}

TEST(HeaderUnfolding, ContinuationLinesAreTrimmedAndJoinedWithoutSeparator) {
  struct Case {
    std::initializer_list<std::string_view> lines;
    const char* want;
  };
  const Case cases[] = {
      {{"Subject: Hello", "\tWorld", ""}, "HelloWorld"},
      {{"Subject:   Hello  ", " World ", "\t  again", "Next: x"}, "Hello  Worldagain"},
      {{"Subject:", "\tonly continued"}, "only continued"},
      {{"Subject:"}, ""},
      {{"Subject: a", "", "\tbody line"}, "a"},
      {{"Subject: a", "\t", "\tb"}, "ab"},
  };
  for (const Case& c : cases) {
    const TStringList lines(c.lines);
    TStringList index;
    IndexHeaderFields(0, lines, index);
    EXPECT_EQ(GetHeaderFieldValue(lines, index, "SUBJECT"), c.want) << lines[0];
  }
}

TEST(HeaderUnfolding, FirstLineIsCutAt1000CharactersButContinuationsAreKept) {
  const std::string longValue(1500, 'v');
  const TStringList lines = Lines({"X: " + longValue, "\tTail"});
  TStringList index;
  IndexHeaderFields(0, lines, index);
  // 1000 characters are taken right after the colon, the blank among them.
  EXPECT_EQ(GetHeaderFieldValueAt(lines, index, 0), std::string(999, 'v') + "Tail");
  EXPECT_EQ(GetHeaderFieldValueAt(lines, index, -1), "");
  EXPECT_EQ(GetHeaderFieldValueAt(lines, index, 1), "");
}

TEST(HeaderUnfolding, HugeFoldedFieldIsReadInLinearTime) {
  TStringList lines;
  lines.Add("References: <0>");
  const int kLines = 300000;
  for (int i = 1; i < kLines; ++i)
    lines.Add("\t<" + std::to_string(i) + ">");
  lines.Add("");
  TStringList index;
  EXPECT_EQ(IndexHeaderFields(0, lines, index), kLines);
  const std::string value = GetHeaderFieldValue(lines, index, "references");
  EXPECT_EQ(value.substr(0, 9), "<0><1><2>");
  EXPECT_EQ(value.substr(value.size() - 8), "<299999>");
}

TEST(HeaderParams, QuotesAndTerminators) {
  struct Case {
    const char* value;
    const char* param;
    const char* raw;
    const char* param_;
  };
  const Case cases[] = {
      {"text/plain; charset=\"ISO-8859-1\"; format=flowed", "charset=", "\"ISO-8859-1\"",
       "ISO-8859-1"},
      {"text/plain; charset=\"ISO-8859-1\"; format=flowed", "", "text/plain", "text/plain"},
      {"multipart/mixed; boundary=\"a;b\"", "boundary=", "\"a;b\"", "a;b"},
      {"multipart/mixed; boundary='a,b'; x=1", "boundary=", "'a,b'", "a,b"},
      // Only the first quote character met opens and closes quoted runs.
      {"x; p=\"it's; fine\"; q=2", "p=", "\"it's; fine\"", "it's; fine"},
      {"x; p='say \"hi;' there\"; q", "p=", "'say \"hi;' there\"", "say \"hi;' there"},
      // "name=" is found inside "filename=".
      {"attachment; filename=\"x.txt\"", "name=", "\"x.txt\"", "x.txt"},
      {"text/plain; CHARSET=us-ascii", "charset=", "us-ascii", "us-ascii"},
      {"text/plain; charset = us-ascii", "charset=", "", ""},
      {"text/plain", "charset=", "", ""},
      {"", "", "", ""},
      {"a, b", "", "a", "a"},
      // Quotes need not match to be removed, and a lone quote leaves nothing.
      {"x; p=\"abc'", "p=", "\"abc'", "abc"},
      {"x; p=\"", "p=", "\"", ""},
      {"x; p=  spaced  ; q", "p=", "  spaced  ", "spaced"},
      {"x; p=\"unterminated; q=1", "p=", "\"unterminated; q=1", "\"unterminated; q=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " / " + c.param);
    EXPECT_EQ(GetHeaderParamRaw(c.value, c.param), c.raw);
    EXPECT_EQ(GetHeaderParam(c.value, c.param), c.param_);
  }
}

TEST(HeaderParams, TakesAtMost1000CharactersAfterTheName) {
  const std::string value = "x; p=" + std::string(1200, 'z');
  EXPECT_EQ(GetHeaderParamRaw(value, "p="), std::string(1000, 'z'));
}

TEST(AppendingText, BreaksNulsJoinAndResult) {
  struct Case {
    std::string text;
    bool join;
    Strings before;
    Strings after;
    bool result;
  };
  const Case cases[] = {
      {"a\r\n\r\nb", false, {}, {"a", "", "b"}, true},
      {"ab\r\n", false, {}, {"ab"}, false},
      {"x", false, {}, {"x"}, false},
      {"a\r\nb", true, {}, {"a", "b"}, true},
      {"a\r\nb", true, {"z"}, {"za", "b"}, true},
      {"a\r\nb", false, {"z"}, {"z", "a", "b"}, true},
      {"a\rb\nc", false, {}, {"a", "b", "c"}, true},
      // LF CR ends two pieces.
      {"a\n\rb", false, {}, {"a", "", "b"}, false},
      // Only a final LF, or CR before the last character, closes the last line.
      {"ab\r", false, {}, {"ab"}, true},
      {"ab\n", false, {}, {"ab"}, false},
      {"", true, {"z"}, {"z"}, false},
      {std::string("ab\0cd", 5), false, {}, {"ab"}, true},
      {std::string("\0cd", 3), false, {}, {}, true},
      {"\r\n", false, {}, {""}, false},
  };
  for (const Case& c : cases) {
    TStringList lines;
    for (const auto& s : c.before)
      lines.Add(s);
    EXPECT_EQ(AppendTextLines(lines, c.text, c.join), c.result) << c.text;
    EXPECT_EQ(Items(lines), c.after) << c.text;
  }
}

TEST(AppendingText, NotifiesOnceForTheWholeText) {
  TStringList lines;
  int changes = 0;
  lines.OnChange = [&] { ++changes; };
  AppendTextLines(lines, "a\r\nb\r\nc", false);
  EXPECT_EQ(changes, 1);
}

TEST(WritingFields, ValueLineBreaksBecomeContinuationLines) {
  struct Case {
    const char* value;
    Strings want;
  };
  const Case cases[] = {
      {"", {}},
      {"x", {"N: x"}},
      {"a\r\nb\r\n", {"N: a", "\tb"}},
      {"a\r\nb", {"N: a", "\tb"}},
      {"=?cs?Q?a?=\r\n=?cs?Q?b?=", {"N: =?cs?Q?a?=", "\t=?cs?Q?b?="}},
      // A lone LF is not folded: it ends a line without a continuation TAB.
      {"a\nb", {"N: a", "b"}},
  };
  for (const Case& c : cases) {
    TStringList lines;
    AddHeaderField(lines, "N", c.value);
    EXPECT_EQ(Items(lines), c.want) << c.value;
  }
}

TEST(WritingFields, ListAndArrayFieldsPutOneItemOnEachLine) {
  const std::vector<std::string> items = {"text/plain", "charset=\"iso-8859-1\""};
  TStringList lines;
  AddHeaderArrayField(lines, items, ";", "Content-Type");
  EXPECT_EQ(Items(lines), (Strings{"Content-Type: text/plain;", "\tcharset=\"iso-8859-1\""}));

  TStringList list({"a@x", "b@x", "c@x"});
  TStringList out;
  AddHeaderListField(out, list, "To", ",");
  EXPECT_EQ(Items(out), (Strings{"To: a@x,", "\tb@x,", "\tc@x"}));

  TStringList single;
  AddHeaderListField(single, TStringList({"only"}), "To", ",");
  EXPECT_EQ(Items(single), (Strings{"To: only"}));

  TStringList nothing;
  AddHeaderListField(nothing, TStringList(), "To", ",");
  AddHeaderArrayField(nothing, std::vector<std::string>{""}, ",", "To");
  EXPECT_TRUE(nothing.Empty());
}

TEST(DisplayNames, QuotingAndUnquoting) {
  struct Case {
    const char* name;
    const char* quoted;
  };
  const Case cases[] = {
      {"John Doe", "\"John Doe\""},
      {"A (B)", "\"A \\(B\\)\""},
      {"Doe", "Doe"},
      {"Doe, John", "\"Doe, John\""},
      {"Doe,John", "Doe,John"},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"\"Already quoted\"", "\"\\\"Already quoted\\\"\""},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(QuoteDisplayName(c.name), c.quoted) << c.name;

  // A name beginning or ending with a quote character is not enclosed again.
  EXPECT_EQ(QuoteDisplayName("\"half open"), "\"\\\"half open\"");

  struct Unquote {
    const char* text;
    const char* plain;
  };
  const Unquote unquotes[] = {
      {"\"John Doe\"", " John Doe "},
      {"\"A \\(B\\)\"", " A (B) "},
      {"a\\\\b", "a\\b"},
      {"a\\\"b", "a\"b"},
      {"trailing\\", "trailing"},
      {"plain", "plain"},
  };
  for (const Unquote& u : unquotes)
    EXPECT_EQ(UnquoteDisplayName(u.text), u.plain) << u.text;
}

TEST(TextSearch, PositionsAreOneBasedWithZeroForNotFound) {
  EXPECT_EQ(PosFrom("b", "abcb", 1), 2);
  EXPECT_EQ(PosFrom("b", "abcb", 3), 4);
  EXPECT_EQ(PosFrom("b", "abcb", 4), 4);
  EXPECT_EQ(PosFrom("B", "abcb", 1), 0);
  EXPECT_EQ(PosFrom("b", "abcb", 0), 0);
  EXPECT_EQ(PosFrom("b", "abcb", 5), 0);
  EXPECT_EQ(PosFrom("cb", "abcb", 2), 3);

  EXPECT_EQ(LastPosText(";", "a;b;c"), 4);
  EXPECT_EQ(LastPosText(";", "a;b;c", 3), 2);
  EXPECT_EQ(LastPosText("B;", "a;b;c", -1), 3);
  EXPECT_EQ(LastPosText(";", "a;b;c", 0), 0);
  EXPECT_EQ(LastPosText(";", "a;b;c", -2), 0);
  EXPECT_EQ(LastPosText("x", "a;b;c"), 0);
  EXPECT_EQ(LastPosText("abcdef", "abc"), 0);
  EXPECT_EQ(LastPosText("c", "abc", 99), 3);
}

TEST(TextSearch, WordsAreRunsOutsideTheDelimiters) {
  const TCharSet colon(":");
  const TCharSet blanks(" ,");
  EXPECT_EQ(WordStart(1, "10:30:00", colon), 1);
  EXPECT_EQ(WordStart(2, "10:30:00", colon), 4);
  EXPECT_EQ(WordStart(3, "10::30", colon), 0);
  EXPECT_EQ(WordStart(0, "10", colon), 0);
  EXPECT_EQ(WordStart(1, "", colon), 0);
  EXPECT_EQ(WordStart(1, ":::", colon), 0);
  EXPECT_EQ(ExtractWordAt(2, "10::30", colon), "30");
  EXPECT_EQ(ExtractWordAt(2, "  a, b ,c", blanks), "b");
  EXPECT_EQ(ExtractWordAt(3, "  a, b ,c", blanks), "c");
  EXPECT_EQ(ExtractWordAt(4, "  a, b ,c", blanks), "");
  EXPECT_EQ(CountCharsInSet("a (b) \\\"", TCharSet("\"()\\")), 4);
}

TEST(TextSearch, ArrayAndListLookupIgnoreCase) {
  EXPECT_EQ(IndexOfTextInArray("jan", MonthShortNames), 0);
  EXPECT_EQ(IndexOfTextInArray("DEC", MonthShortNames), 11);
  EXPECT_EQ(IndexOfTextInArray("June", MonthShortNames), -1);
  const std::vector<std::string> words = {"a", "B", "b"};
  EXPECT_EQ(IndexOfTextInArray("b", words), 1);
  EXPECT_EQ(IndexOfTextInList(TStringList({"x", "Y", "y"}), "y"), 1);
  EXPECT_EQ(IndexOfTextInList(TStringList(), "y"), -1);
}

TEST(ZoneOffsets, NumericZonesOnlyWithOutOfRangePartsAsZero) {
  struct Case {
    const char* zone;
    int minutes;
  };
  const Case cases[] = {
      {"+0130", 90}, {"-0800", -480},  {"+0000", 0}, {"+2400", 0}, {"+2530", 30},
      {"+0175", 60}, {"-2399", -1380}, {"GMT", 0},   {"+130", 0},  {"EST", 0},
      {"Z", 0},      {"+01300", 0},    {"", 0},      {"0130 ", 0}, {"+0200 ", 0},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(TimeZoneOffset(c.zone) * 1440.0, c.minutes, 1e-6) << c.zone;
}

TEST(ZoneOffsets, NonDigitsInANumericZoneFailWithConversionError) {
  for (const char* zone : {"+01a0", "-ABCD", "+01:0", "+1.00"}) {
    EXPECT_THROW(TimeZoneOffset(zone), EConvertError) << zone;
  }
}

// Runs a test in a fixed time zone and puts the previous one back afterwards.
class InZone : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!zone_.Available()) GTEST_SKIP() << zone_.Why();
  }
  test::ScopedZone zone_{"Europe/Berlin"};
};

TEST_F(InZone, UtcToLocalUsesTheOffsetInForceAtTheConvertedDate) {
  platform::SystemClock clock;
  struct Case {
    TDateTime utc;
    TDateTime local;
  };
  const Case cases[] = {
      {EncodeDateTime(2004, 6, 1, 8, 30, 0), EncodeDateTime(2004, 6, 1, 10, 30, 0)},
      {EncodeDateTime(2004, 1, 15, 8, 30, 0), EncodeDateTime(2004, 1, 15, 9, 30, 0)},
      {EncodeDateTime(2004, 12, 31, 23, 30, 0, 250), EncodeDateTime(2005, 1, 1, 0, 30, 0, 250)},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(UtcToLocalTime(clock, c.utc), c.local, 1e-9) << c.utc;
}

}  // namespace
}  // namespace qv
