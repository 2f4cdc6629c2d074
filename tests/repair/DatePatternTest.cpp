#include "repair/DatePattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "base/StringUtils.h"
#include "support/FixedClock.h"

namespace qv {
namespace {

using test::FixedClock;

// Date plus time as the parser builds it (the time is added also before 30 December 1899).
TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, ms);
}

struct Case {
  const char* pattern;
  const char* text;
  TDateTime want;  // 0 for an invalid date
};

void Check(const Case* begin, const Case* end, platform::Clock& clock,
           const platform::LocaleNames& names = platform::EnglishNames()) {
  for (const Case* c = begin; c != end; ++c) {
    EXPECT_DOUBLE_EQ(ParseDateByPattern(c->pattern, c->text, names, clock), c->want)
        << "pattern \"" << c->pattern << "\" text \"" << c->text << "\"";
  }
}

class DatePattern : public ::testing::Test {
 protected:
  FixedClock clock_{EncodeDateTime(2026, 6, 15, 12, 0, 0)};
};

TEST_F(DatePattern, ReadsSeparatorDates) {
  const Case cases[] = {
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:03:07 2026", At(2026, 1, 5, 9, 3, 7)},
      // The day name is skipped unexamined; case does not matter.
      {"ddd mmm dd hh:nn:ss yyyy", "xxx feb 28 23:59:59 1999", At(1999, 2, 28, 23, 59, 59)},
      // A day padded with a blank is trimmed.
      {"ddd mmm dd hh:nn:ss yyyy", "Thu Jan  1 00:00:00 1970", At(1970, 1, 1)},
      {"ddd mmm dd hh:nn:ss yyyy", "Tue Feb 29 12:00:00 2000", At(2000, 2, 29, 12)},
      {"ddd mmm dd hh:nn:ss yyyy", "Fri Dec 31 23:59:59 9999", At(9999, 12, 31, 23, 59, 59)},
      {"ddd mmm dd hh:nn:ss yyyy", "Sat Dec 30 00:00:01 1899", At(1899, 12, 30, 0, 0, 1)},
  };
  Check(std::begin(cases), std::end(cases), clock_);
  EXPECT_EQ(clock_.calls, 0) << "the clock is asked only for two-digit years";
}

TEST_F(DatePattern, InvalidFieldsGiveZero) {
  const Case cases[] = {
      // An unknown month name removes nothing; the day is then read from "oo".
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Foo 05 09:03:07 2026", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "XXX Feb 30 10:00:00 2020", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Feb 29 10:00:00 1900", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 00 10:00:00 2020", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 32 10:00:00 2020", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 24:00:00 2026", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:60:00 2026", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:00:60 2026", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:00:00 0000", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:00:00 20x6", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:00:00 +0100", At(10, 1, 5, 9)},  // "+010"
      // Runs out of text part-way: the day reads "x" as 0.
      {"ddd mmm dd hh:nn:ss yyyy", "From x", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "From ", 0},
      // The zero date cannot be told from an invalid one.
      {"ddd mmm dd hh:nn:ss yyyy", "Sat Dec 30 00:00:00 1899", 0},
      {"mm", "13", 0},
      {"mm", "00", 0},
      {"zzz", "-1", 0},  // 65535
      {"dd", "-1", 0},   // 65535
  };
  Check(std::begin(cases), std::end(cases), clock_);
}

TEST_F(DatePattern, EachTokenReadsAndRemovesItsWidth) {
  const Case cases[] = {
      {"dd/mm/yyyy", "05/11/1975", At(1975, 11, 5)},
      {"yyyy-mm-dd hh:nn:ss.zzz", "2001-03-05 10:11:12.345", At(2001, 3, 5, 10, 11, 12, 345)},
      // ZZ reads three characters, like ZZZ.
      {"zz:ss", "123:45", At(1, 1, 1, 0, 0, 45, 123)},
      // DDD skips three characters unread.
      {"dddmm", "Xy!07", At(1, 7, 1)},
      // DDDD removes the whole long day name, here more than there is.
      {"dddd, mmmm dd, yyyy", "Wednesday, March 05, 2001", At(2001, 3, 5)},
      {"ddddmm", "Fri03", At(1, 1, 1)},
      // DDDD without a match removes nothing.
      {"ddddmm", "0311", At(1, 3, 1)},
      // MMM removes three characters, MMMM the whole long name.
      {"mmm yyyy", "Sep 2001", At(2001, 9, 1)},
      {"mmmm yyyy", "September 2001", At(2001, 9, 1)},
      {"mmm yyyy", "September 2001", 0},  // the year is read from "embe"
      {"mmmm dd, yyyy", "March 05, 2001", At(2001, 3, 5)},
      {"mmmm yyyy", "May 2001", At(2001, 5, 1)},
      // A month name that does not match leaves the month read before.
      {"mm/mmm", "07/xyz", At(1, 7, 1)},
      // YYY reads nothing; YYYY is followed by a lone Y.
      {"yyydd", "15", At(1, 1, 15)},
      {"yyyyymm", "200104", At(2001, 4, 1)},
      // Two-digit and four-digit years are not trimmed; leading blanks are allowed anyway.
      {"yyyy", " 202", At(202, 1, 1)},
      {"yyyy", "202 ", 0},
      {"yyyydd", "202 05", 0},
      // Hours, minutes, seconds and milliseconds are trimmed.
      {"hh:nn:ss.zzz", " 9: 8:7 .6  ", At(1, 1, 1, 9, 8, 7, 6)},
      // A token that stands twice: the later reading wins.
      {"dd dd", "05 07", At(1, 1, 7)},
      // Fields come in any order.
      {"ss nn hh yyyy dd mm", "07 03 09 2026 05 01", At(2026, 1, 5, 9, 3, 7)},
      // Upper-case patterns read the same.
      {"DD.MM.YYYY", "05.11.1975", At(1975, 11, 5)},
  };
  Check(std::begin(cases), std::end(cases), clock_);
}

TEST_F(DatePattern, GreedyTokensAndLoneLetters) {
  const Case cases[] = {
      // HHH is HH and a lone H, which removes nothing (a literal would skip the "3").
      {"hhhnn", "1030", At(1, 1, 1, 10, 30)},
      // DDDDD is DDDD and a lone D: neither removes anything from "03".
      {"dddddmm", "0307", At(1, 3, 1)},
      // AM/PM is AM, a literal, then a lone P and a lone M, which remove nothing.
      {"hh am/pmnn", "11 PM/30", At(1, 1, 1, 23, 30)},
      {"hh am/pmnn", "11 AM/30", At(1, 1, 1, 11, 30)},
      // AMPM is one token; AP reads one character.
      {"hh ampmnn", "11 PM30", At(1, 1, 1, 23, 30)},
      {"hh apnn", "03 P30", At(1, 1, 1, 15, 30)},
      // A lone M and a lone P remove nothing either.
      {"m/dd", "/15", At(1, 1, 15)},
      {"p/dd", "/15", At(1, 1, 15)},
      // Other letters and digits of the pattern are literals.
      {"ddTmm", "05T03", At(1, 3, 5)},
      {"dd0mm", "05-03", At(1, 3, 5)},
      {"ddxmm", "05x03", At(1, 3, 5)},
  };
  Check(std::begin(cases), std::end(cases), clock_);
}

TEST_F(DatePattern, LiteralsNeverRemoveTheLastCharacter) {
  const Case cases[] = {
      {"--dd", "-5", At(1, 1, 5)},
      {"---dd", "-5", At(1, 1, 5)},
      {"dd---mm", "0503", At(1, 3, 5)},  // "03" loses its "0"; the "3" stays
      // An empty text leaves every field at its start value: 1 January of the year 1.
      {"ddd mmm dd hh:nn:ss yyyy", "", At(1, 1, 1)},
      {"", "anything", At(1, 1, 1)},
  };
  Check(std::begin(cases), std::end(cases), clock_);
}

TEST_F(DatePattern, HalfDayMarks) {
  const Case cases[] = {
      {"hh:nn ampm", "12:30 PM", 0},  // hour 24
      {"hh:nn ampm", "12:30 AM", At(1, 1, 1, 12, 30)},
      {"hh:nn ampm", "11:30 pm", At(1, 1, 1, 23, 30)},
      {"hh:nn ampm", "11:30 xx", At(1, 1, 1, 23, 30)},  // anything but AM is PM
      {"hh:nn ampm", "11:30 A", At(1, 1, 1, 23, 30)},
      {"hh:nn amp", "11:30 AM", At(1, 1, 1, 11, 30)},
      {"hh:nn am", "11:30 PM", At(1, 1, 1, 23, 30)},
      {"hh:nn ap", "03:30 p", At(1, 1, 1, 15, 30)},
      {"hh:nn ap", "03:30 a", At(1, 1, 1, 3, 30)},
      {"hh:nn ap", "03:30 x", At(1, 1, 1, 15, 30)},
      // Out of text: no mark, the hour stays.
      {"hh:nn ap", "03:30", At(1, 1, 1, 3, 30)},
      {"hh:nn", "15:30", At(1, 1, 1, 15, 30)},
      // The hour is 16-bit: -1 is 65535, and adding 12 wraps to 11.
      {"hh ap", "-1 p", At(1, 1, 1, 11)},
      // The mark applies after the walk, wherever it stands.
      {"ap hh", "p 03", At(1, 1, 1, 15)},
  };
  Check(std::begin(cases), std::end(cases), clock_);
}

TEST_F(DatePattern, NumbersReadSignedAndHexadecimal) {
  const Case cases[] = {
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan $A 09:03:07 2026", At(2026, 1, 10, 9, 3, 7)},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan x5 09:03:07 2026", At(2026, 1, 5, 9, 3, 7)},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan +5 09:03:07 2026", At(2026, 1, 5, 9, 3, 7)},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:03:07 $7EA", At(2026, 1, 5, 9, 3, 7)},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:03:07 0x7e", At(126, 1, 5, 9, 3, 7)},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan -5 09:03:07 2026", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 5x 09:03:07 2026", 0},
      {"ddd mmm dd hh:nn:ss yyyy", "Mon Jan 05 09:03:07 202 ", 0},  // trailing blank
      {"mm", "$C", At(1, 12, 1)},
      {"zzz", "$3E", At(1, 1, 1, 0, 0, 0, 62)},
  };
  Check(std::begin(cases), std::end(cases), clock_);
}

TEST(DatePatternYears, TwoDigitYearsAreWindowedAroundTheCurrentCentury) {
  struct YearCase {
    int nowYear;
    const char* text;
    int want;
  };
  const YearCase cases[] = {
      {2026, "05", 2005},
      {2026, "00", 2000},
      {2026, "49", 2049},
      {2026, "50", 1950},
      {2026, "75", 1975},
      {2026, "99", 1999},
      {2099, "49", 2049},
      {2100, "49", 2149},
      {2100, "50", 2050},
      {1999, "05", 1905},
      {1999, "75", 1875},
      {2000, "50", 1950},
      // Not trimmed: a leading blank is allowed, a trailing one reads 0.
      {2026, " 7", 2007},
      {2026, "7 ", 2000},
      {2026, "$A", 2010},
      // The 16-bit year: -1 is 65535, which lands in the century before (modulo 65536).
      {2026, "-1", 1899},
  };
  for (const YearCase& c : cases) {
    test::FixedClock clock(EncodeDateTime(c.nowYear, 12, 31, 23, 59, 59));
    EXPECT_DOUBLE_EQ(ParseDateByPattern("yy", c.text, platform::EnglishNames(), clock),
                     EncodeDate(c.want, 1, 1))
        << c.nowYear << " \"" << c.text << "\"";
    EXPECT_EQ(clock.calls, 1);
  }
  test::FixedClock clock(EncodeDate(2026, 1, 1));
  EXPECT_DOUBLE_EQ(ParseDateByPattern("dd/mm/yy", "05/11/75", platform::EnglishNames(), clock),
                   EncodeDate(1975, 11, 5));
  EXPECT_DOUBLE_EQ(ParseDateByPattern("dd/mm/yy", "05/11/05", platform::EnglishNames(), clock),
                   EncodeDate(2005, 11, 5));
}

TEST_F(DatePattern, NamesComeFromTheLocale) {
  platform::LocaleNames german = platform::EnglishNames();
  german.longDayNames = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                         "Donnerstag", "Freitag", "Samstag"};
  german.longMonthNames = {"Januar", "Februar", "M\xE4rz",   "April",   "Mai",      "Juni",
                           "Juli",   "August",  "September", "Oktober", "November", "Dezember"};
  const Case cases[] = {
      {"mmm dd yyyy", "Okt 03 2001", At(2001, 10, 3)},
      {"mmm dd yyyy", "M\xE4r 03 2001", At(2001, 3, 3)},
      // Upper-casing folds ASCII only: a lower-case non-ASCII letter still matches itself.
      {"mmm dd yyyy", "m\xE4r 03 2001", At(2001, 3, 3)},
      {"mmmm dd yyyy", "Mai 03 2001", At(2001, 5, 3)},
      {"dddd, dd", "Donnerstag, 03", At(1, 1, 3)},
  };
  Check(std::begin(cases), std::end(cases), clock_, german);
  // The English names do not know "Okt": nothing is removed and the day is read from "kt".
  EXPECT_DOUBLE_EQ(
      ParseDateByPattern("mmm dd yyyy", "Okt 03 2001", platform::EnglishNames(), clock_), 0);
}

// Every date written in the separator form reads back to itself.
TEST_F(DatePattern, SeparatorFormRoundTrips) {
  const auto& names = platform::EnglishNames();
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> day(1, 3652059), sec(0, 86399);
  for (int i = 0; i < 20000; ++i) {
    const TDateTime date = EncodeDate(1, 1, 1) + day(rng) - 1;
    const int s = sec(rng);
    const DateParts p = DecodeDate(date);
    const std::string text =
        Format("%s %s %02d %02d:%02d:%02d %04d", names.shortDayNames[DayOfWeek(date) - 1].c_str(),
               names.shortMonthNames[static_cast<std::size_t>(p.month - 1)].c_str(), p.day,
               s / 3600, s / 60 % 60, s % 60, p.year);
    ASSERT_DOUBLE_EQ(ParseDateByPattern(SeparatorPattern, text, names, clock_),
                     date + EncodeTime(s / 3600, s / 60 % 60, s % 60, 0))
        << text;
  }
}

// Arbitrary patterns over arbitrary texts finish and give 0 or a finite value.
TEST_F(DatePattern, NeverFailsOnArbitraryInput) {
  const std::string alphabet = "adhmnpsyzADMY :/-.,0159$xX+\x1A\xE4";
  std::mt19937 rng(11);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), len(0, 30);
  for (int i = 0; i < 20000; ++i) {
    std::string pattern, text;
    for (std::size_t n = len(rng); n > 0; --n)
      pattern += alphabet[pick(rng)];
    for (std::size_t n = len(rng); n > 0; --n)
      text += alphabet[pick(rng)];
    const TDateTime v = ParseDateByPattern(pattern, text, platform::EnglishNames(), clock_);
    ASSERT_TRUE(std::isfinite(v)) << pattern << " / " << text;
  }
}

}  // namespace
}  // namespace qv
