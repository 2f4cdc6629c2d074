#include "codec/clMailHeader.h"
#include "support/ScopedZone.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/StringList.h"
#include "platform/SystemPlatform.h"

namespace qv {
namespace {

// A clock with a fixed "now" whose local time is UTC plus a fixed number of hours.
class FakeClock : public platform::Clock {
 public:
  FakeClock(TDateTime now, double offsetHours) : now_(now), offset_(offsetHours / 24.0) {}
  TDateTime Now() override { return now_; }
  TDateTime UtcToLocal(TDateTime utc) override { return utc + offset_; }

 private:
  TDateTime now_;
  double offset_;
};

std::string Str(TDateTime d) {
  const DateParts dp = DecodeDate(d);
  const TimeParts tp = DecodeTime(d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", dp.year, dp.month, dp.day,
                tp.hour, tp.min, tp.sec);
  return buf;
}

TEST(EncodingLetters, OnlyTheFirstLetterCountsInAnyCase) {
  struct Case {
    const char* letter;
    TclEncodeMethod method;
  };
  const Case cases[] = {{"", cmNone},
                        {"B", cmMIMEBase64},
                        {"b", cmMIMEBase64},
                        {"Q", cmMIMEQuotedPrintable},
                        {"qx", cmMIMEQuotedPrintable},
                        {"X", cmNone},
                        {"U", cmNone},
                        {" B", cmNone}};
  for (const Case& c : cases)
    EXPECT_EQ(EncodingLetterToMethod(c.letter), c.method) << c.letter;
  EXPECT_EQ(TransferEncodingNames[cmMIMEBase64], "base64");
  EXPECT_EQ(EncodedWordLetters[cmMIMEQuotedPrintable], "Q");
}

struct DecodeCase {
  const char* text;
  const char* charSet;
  const char* want;
};

void CheckDecoding(std::initializer_list<DecodeCase> cases) {
  for (const DecodeCase& c : cases)
    EXPECT_EQ(DecodeHeaderText(c.text, c.charSet), c.want) << c.text;
}

TEST(EncodedWordDecoding, WordsAndTheTextAroundThem) {
  CheckDecoding({
      {"=?iso-8859-1?Q?Caf=E9?= menu", "", "Caf\xE9 menu"},
      {"Re: =?iso-8859-1?Q?Caf=E9?=", "", "Re: Caf\xE9"},
      // The blank between two words is kept; adjacent words join directly.
      {"=?us-ascii?Q?a?= =?us-ascii?Q?b?=", "", "a b"},
      {"=?us-ascii?Q?a?=\t =?us-ascii?Q?b?=", "", "a\t b"},
      {"=?us-ascii?Q?a?==?us-ascii?Q?b?=", "", "ab"},
      {"=?us-ascii?B?aGVsbG8=?= world", "", "hello world"},
      {"=?US-ASCII?b?aGVsbG8=?=", "", "hello"},
      // Underscores of Q words are spaces, also when written as an escape; not in B words.
      // "_" is a space in Q words, an escaped underscore is an underscore.
      {"=?us-ascii?Q?a_b=5Fc?=", "", "a b_c"},
      {"=?us-ascii?Q?a__?=", "", "a  "},
      {"=?us-ascii?B?YV9i?=", "", "a_b"},
      {"=?us-ascii?Q?\?=", "", ""},
      {"x=?\?Q?abc?=y", "", "xabcy"},
  });
}

TEST(EncodedWordDecoding, TranslationFromTheWordsCharSetOrTheDefault) {
  CheckDecoding({
      {"=?koi8-r?B?weE=?=", "", "\xE0\xC0"},
      {"=?KOI8-R?Q?=C1?=", "ISO-8859-2", "\xE0"},
      // Without any decoded word the whole text is translated from the default charset.
      {"\xC1 plain", "koi8-r", "\xE0 plain"},
      {"\xA1 =?iso-8859-2?X?\xA1?=", "iso-8859-2", "\xA5 =?iso-8859-2?X?\xA5?="},
      // With a decoded word the plain text around it is left alone.
      {"\xC1 =?koi8-r?Q?=C1?= \xC1", "koi8-r", "\xC1 \xE0 \xC1"},
      {"\xC1 =?us-ascii?Q?x?=", "koi8-r", "\xC1 x"},
  });
}

TEST(EncodedWordDecoding, Utf8WordStopsAllLaterTranslation) {
  CheckDecoding({
      {"=?utf-8?Q?=C3=A9?= =?ISO-8859-2?Q?=A1?=", "", "\xC3\xA9 \xA1"},
      {"=?ISO-8859-2?Q?=A1?= =?UTF-8?B?eA==?= =?ISO-8859-2?Q?=A1?=", "", "\xA5 x \xA1"},
      // A text whose only word is UTF-8 is not translated from the default either.
      {"\xC1 =?utf-8?Q?x?=", "koi8-r", "\xC1 x"},
      // A UTF-8 word that fails to decode sets nothing.
      {"=?utf-8?B?!!?= =?koi8-r?Q?=C1?=", "", "=?utf-8?B?!!?= \xE0"},
  });
}

TEST(EncodedWordDecoding, MalformedWordsAreCopiedAsText) {
  CheckDecoding({
      {"=?iso-8859-1?Q?abc", "", "=?iso-8859-1?Q?abc"},
      {"=?us-ascii?Q?a?= =?iso-8859-1?Q?abc", "", "a =?iso-8859-1?Q?abc"},
      // The letter must stand alone between two question marks.
      {"=?us-ascii?Q?a?==?cs?QQ?x?=", "", "a=?cs?QQ?x?="},
      {"=?us-ascii?Q?a?= =?cs?\?x?=", "", "a =?cs?\?x?="},
      {"=?no question mark", "", "=?no question mark"},
      {"=?cs?Q?", "", "=?cs?Q?"},
      {"tail =?", "", "tail =?"},
  });
}

TEST(EncodedWordDecoding, UndecodableWordsKeepTheirStartAndDecodingResumes) {
  CheckDecoding({
      {"=?us-ascii?X?abc?= =?us-ascii?Q?ok?=", "", "=?us-ascii?X?abc?= ok"},
      {"=?us-ascii?B?a!b?= =?us-ascii?Q?ok?=", "", "=?us-ascii?B?a!b?= ok"},
      {"=?us-ascii?Q?a=ZZ?= =?us-ascii?Q?ok?=", "", "=?us-ascii?Q?a=ZZ?= ok"},
      {"=?us-ascii?X?abc?=", "", "=?us-ascii?X?abc?="},
      // Resuming right after the failed "=?" finds a word that starts inside it.
      {"=?x?X?=?us-ascii?Q?ok?=", "", "=?x?X?ok"},
  });
}

TEST(EncodedWordDecoding, ManyBrokenWordsDoNotTakeQuadraticTime) {
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "=?a?X?";
  text += "?=";
  const std::string decoded = DecodeHeaderText(text, "");
  EXPECT_EQ(decoded, text);
}

TEST(EncodedWordEncoding, ChoosesNoneQOrBWords) {
  struct Case {
    std::string text;
    const char* charSet;
    TclEncodeMethod encoding;
    std::string want;
  };
  const std::string ascii200(200, 'a');
  const Case cases[] = {
      {"", "iso-8859-1", cmNone, ""},
      {"Hello", "iso-8859-1", cmMIMEQuotedPrintable, "Hello"},
      {"Caf\xE9", "iso-8859-1", cmNone, "=?iso-8859-1?Q?Caf=E9?="},
      {"Caf\xE9 au lait", "iso-8859-1", cm8Bit, "=?iso-8859-1?Q?Caf=E9_au_lait?="},
      {ascii200, "us-ascii", cmNone, "=?us-ascii?Q?" + ascii200 + "?="},
      // Translated into the charset before encoding.
      {"\xE0 abc", "koi8-r", cmNone, "=?koi8-r?Q?=C1_abc?="},
      // No charset: no words, no translation.
      {"Caf\xE9", "", cmNone, "Caf\xE9"},
      // A uuencoded message gets the translated text as it is.
      {"\xE0 x", "koi8-r", cmUUEncode, "\xC1 x"},
      // Underscores and question marks of the text must not read back as spaces or word ends.
      {"a_b?=\xE9", "iso-8859-1", cmNone, "=?iso-8859-1?Q?a=5Fb=3F=3D=E9?="},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EncodeHeaderText(c.text, c.charSet, c.encoding, 76), c.want) << c.text;
}

TEST(EncodedWordEncoding, ControlCharactersGiveOneBWordPerEncodedLine) {
  std::string text = "tab\there";
  while (text.size() < 100)
    text += " more";
  const std::string encoded = EncodeHeaderText(text, "us-ascii", cmNone, 76);
  TStringList words;
  words.SetText(encoded);
  ASSERT_EQ(words.Count(), 2);
  EXPECT_EQ(encoded.find("\r\n"), words[0].size());
  std::string payload;
  for (const auto& w : words) {
    ASSERT_EQ(w.text.substr(0, 13), "=?us-ascii?B?");
    ASSERT_EQ(w.text.substr(w.text.size() - 2), "?=");
    payload += w.text.substr(13, w.text.size() - 15);
  }
  EXPECT_EQ(words[0].size(), 13u + 76u + 2u);
  EXPECT_EQ(DecodeHeaderText(encoded, ""),
            DecodeHeaderText(words[0], "") + "\r\n" + DecodeHeaderText(words[1], ""));
  EXPECT_EQ(TclEncoder().DecodeString(payload, cmMIMEBase64), text);
}

TEST(EncodedWordEncoding, DecodingGivesTheTextBack) {
  const char* texts[] = {"Caf\xE9 au lait", "under_score \xE9",  "what?= \xE9",
                         "=?x?Q?y?= \xE9",  "tab\tand \xE9\xE8", "  spaced  \xFF"};
  for (const char* t : texts) {
    const std::string encoded = EncodeHeaderText(t, "iso-8859-1", cmNone, 76);
    TStringList words;
    words.SetText(encoded);
    std::string joined;
    for (const auto& w : words)
      joined += w.text;
    EXPECT_EQ(DecodeHeaderText(joined, ""), t) << encoded;
  }
}

TEST(MailAddresses, ParsingAngleBracketsParenthesesAndQuotedNames) {
  struct Case {
    const char* text;
    bool result;
    const char* name;
    const char* address;
  };
  const Case cases[] = {
      {"John Doe <jd@x.org>", true, "John Doe", "jd@x.org"},
      {"jd@x.org (John Doe)", true, "John Doe", "jd@x.org"},
      {"  John Doe   <  jd@x.org > ", true, "John Doe", "jd@x.org"},
      {"jd@x.org", false, "jd@x.org", "jd@x.org"},
      {"\"Doe, John\" <jd@x>", true, "Doe, John", "jd@x"},
      {"\"A \\(B\\)\" <a@b>", true, "A (B)", "a@b"},
      {"'John' <jd@x>", true, "John", "jd@x"},
      {"a@b ('Al')", true, "Al", "a@b"},
      {"' <a@b>", true, "'", "a@b"},
      {"<jd@x>", true, "", "jd@x"},
      // Angle brackets win over parentheses.
      {"x (y) <a@b>", true, "x (y)", "a@b"},
      // An unclosed bracket: the part in front is taken, the other stays the whole text.
      {"John <jd@x", false, "John", "John <jd@x"},
      {"jd@x (John", false, "jd@x (John", "jd@x"},
  };
  for (const Case& c : cases) {
    std::string name = "old", address = "old";
    EXPECT_EQ(ParseMailAddress(c.text, name, address), c.result) << c.text;
    EXPECT_EQ(name, c.name) << c.text;
    EXPECT_EQ(address, c.address) << c.text;
  }
}

TEST(MailAddresses, FormattingQuotesNamesAndDropsRedundantOnes) {
  EXPECT_EQ(FormatMailAddress("", "a@b"), "a@b");
  EXPECT_EQ(FormatMailAddress("a@b", "a@b"), "a@b");
  EXPECT_EQ(FormatMailAddress("A@b", "a@b"), "A@b <a@b>");
  EXPECT_EQ(FormatMailAddress("John Doe", "jd@x"), "\"John Doe\" <jd@x>");
  EXPECT_EQ(FormatMailAddress("Doe", "d@x"), "Doe <d@x>");
  EXPECT_EQ(FormatMailAddress("A (B)", "x@y"), "\"A \\(B\\)\" <x@y>");
}

TEST(MailAddresses, DecodingTouchesOnlyTheDisplayName) {
  struct Case {
    const char* text;
    const char* charSet;
    const char* want;
  };
  const Case cases[] = {
      {"=?iso-8859-1?Q?Caf=E9_Owner?= <c@x>", "", "\"Caf\xE9 Owner\" <c@x>"},
      {"\"John Doe\" <jd@x>", "", "\"John Doe\" <jd@x>"},
      {"\xC1 <a@b>", "koi8-r", "\xE0 <a@b>"},
      {"a@b (=?koi8-r?Q?=C1?=)", "", "\xE0 <a@b>"},
      {"=?koi8-r?Q?=C1?=@x", "", "=?koi8-r?Q?=C1?=@x"},
      {"<a@b>", "", "a@b"},
      {"a@b <a@b>", "", "a@b"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DecodeMailAddress(c.text, c.charSet), c.want) << c.text;
}

TEST(MailTimes, ColonSeparatedPartsWithAmPm) {
  struct Case {
    const char* text;
    int h, m, s;
  };
  const Case cases[] = {
      {"12:15 AM", 0, 15, 0},   {"1:05 PM", 13, 5, 0},      {"10", 10, 0, 0},
      {"12:00 PM", 12, 0, 0},   {"12:30:15pm", 12, 30, 15}, {"11:59:59 am", 11, 59, 59},
      {"23:59:59", 23, 59, 59}, {"1:5:7", 1, 5, 7},         {"", 0, 0, 0},
      {"ab:cd", 0, 0, 0},       {"10::30", 10, 30, 0},      {"13:00 PM", 13, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(ParseMailTime(c.text), EncodeTime(c.h, c.m, c.s, 0), 1e-9) << c.text;
  for (const char* bad : {"24:00", "10:60", "11:00:60", "-1:00"})
    EXPECT_THROW(ParseMailTime(bad), EConvertError) << bad;
}

class MailDates : public ::testing::Test {
 protected:
  // Now is 10 March 2024 15:45; local time is UTC + 1 hour.
  FakeClock clock_{EncodeDateTime(2024, 3, 10, 15, 45, 0), 1.0};
};

TEST_F(MailDates, FullDatesWithZones) {
  struct Case {
    const char* text;
    const char* local;
  };
  const Case cases[] = {
      {"Tue, 1 Jun 2004 10:30:00 +0200", "2004-06-01 09:30:00"},
      {"Tue, 1 Jun 2004 10:30:00 -0500", "2004-06-01 16:30:00"},
      {"1 Jun 2004 10:30:00 +0000", "2004-06-01 11:30:00"},
      {"  1  jun   2004  10:30:00 +0130", "2004-06-01 10:00:00"},
      // A zone followed by a comment, or a named zone, counts as UTC.
      {"Tue, 1 Jun 2004 10:30:00 +0200 (CEST)", "2004-06-01 11:30:00"},
      {"Tue, 1 Jun 2004 10:30:00 GMT", "2004-06-01 11:30:00"},
      {"Tue, 1 Jun 2004 10:30:00 EST", "2004-06-01 11:30:00"},
      {"Tue, 1 Jun 2004 10:30:00  +0200", "2004-06-01 11:30:00"},
      // Out-of-range zone hours count as 0.
      {"1 Jun 2004 10:30:00 +2530", "2004-06-01 11:00:00"},
      // The time is read only when a space follows it.
      {"Tue, 1 Jun 2004 10:30:00", "2004-06-01 01:00:00"},
      {"Tue, 1 Jun 2004 10:30:00 ", "2004-06-01 01:00:00"},
      // The zone crosses midnight.
      {"31 Dec 2004 23:30:00 -0100", "2005-01-01 01:30:00"},
      {"1 Jun 2004 1:05 PM +0000", "2004-06-01 02:05:00"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Str(ParseMailDate(clock_, c.text)), c.local) << c.text;
}

TEST_F(MailDates, TwoDigitAndUnreadableYears) {
  struct Case {
    const char* year;
    int want;
  };
  const Case cases[] = {{"04", 2004}, {"98", 1998}, {"10", 2010}, {"11", 1911},
                        {"0", 2000},  {"99", 1999}, {"100", 100}, {"yy", 2024}};
  for (const Case& c : cases) {
    const std::string text = std::string("1 Jun ") + c.year + " 10:30:00 -0100";
    EXPECT_EQ(DecodeDate(ParseMailDate(clock_, text)).year, c.want) << text;
  }
}

TEST_F(MailDates, MissingPartsGiveNow) {
  const TDateTime now = clock_.Now();
  for (const char* text : {"", "   ", "1 Foo 2004 10:30:00 +0000", "1 Jun 2004", "1 Jun 2004 ",
                           "Jun 2004 10:30:00 +0000", "0 Jun 2004 10:30:00 +0000",
                           // Without a space after the comma the day's first digit is lost.
                           "Tue,1 Jun 2004 10:30:00 +0000", "Tuesday,"})
    EXPECT_EQ(ParseMailDate(clock_, text), now) << text;
  // An unreadable day is today's day.
  EXPECT_EQ(Str(ParseMailDate(clock_, "xx Jun 2004 10:30:00 +0100")), "2004-06-10 10:30:00");
}

TEST_F(MailDates, ImpossibleValuesFailWithConversionError) {
  for (const char* text :
       {"31 Jun 2004 10:00:00 +0000", "32 Jan 2004 10:00:00 +0000", "1 Jun 10000 10:00:00 +0000",
        "1 Jun 2004 25:00:00 +0000", "1 Jun 2004 10:00:00 +02y0", "29 Feb 2003 10:00:00 +0000"})
    EXPECT_THROW(ParseMailDate(clock_, text), EConvertError) << text;
  EXPECT_EQ(Str(ParseMailDate(clock_, "29 Feb 2004 10:00:00 +0000")), "2004-02-29 11:00:00");
}

// The real clock in a zone with daylight saving: each date gets the offset in force on it.
class MailDatesInBerlin : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!zone_.Available()) GTEST_SKIP() << zone_.Why();
  }
  test::ScopedZone zone_{"Europe/Berlin"};
  platform::SystemClock clock_;
};

TEST_F(MailDatesInBerlin, SummerAndWinterDatesGetTheirOwnOffset) {
  EXPECT_EQ(Str(ParseMailDate(clock_, "Tue, 1 Jun 2004 10:30:00 +0200")), "2004-06-01 10:30:00");
  EXPECT_EQ(Str(ParseMailDate(clock_, "Thu, 15 Jan 2004 10:30:00 +0200")), "2004-01-15 09:30:00");
  EXPECT_EQ(Str(ParseMailDate(clock_, "Sun, 28 Mar 2004 00:59:59 +0000")), "2004-03-28 01:59:59");
  EXPECT_EQ(Str(ParseMailDate(clock_, "Sun, 28 Mar 2004 01:00:00 +0000")), "2004-03-28 03:00:00");
}

}  // namespace
}  // namespace qv
