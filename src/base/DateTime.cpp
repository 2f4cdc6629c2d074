#include "base/DateTime.h"

#include <cmath>

#include "base/Errors.h"

namespace qv {

namespace {
// Civil dates and day counts (days from 1970-01-01), with the day count of 1970-01-01.
constexpr std::int64_t kUnixEpochDay = 25569;  // days from 1899-12-30 to 1970-01-01

std::int64_t DaysFromCivilUnix(std::int64_t y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDaysUnix(std::int64_t z, int& year, int& month, int& day) noexcept {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

// Whole milliseconds of a TDateTime, rounding the time of day the way the date routines do:
// the date part is the integral part, the time the absolute value of the fraction.
void SplitDateTime(TDateTime d, std::int64_t& days, std::int64_t& msecOfDay) noexcept {
  if (!std::isfinite(d)) {
    days = 0;
    msecOfDay = 0;
    return;
  }
  const double whole = std::trunc(d);
  days = static_cast<std::int64_t>(whole);
  double ms = std::round(std::fabs(d - whole) * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {
    ms = 0;
    days += d >= 0 ? 1 : -1;
  }
  msecOfDay = static_cast<std::int64_t>(ms);
}
}  // namespace

bool IsLeapYear(int year) noexcept {
  return (year % 4 == 0) && ((year % 100 != 0) || (year % 400 == 0));
}

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return (month == 2 && IsLeapYear(year)) ? 29 : kDays[month - 1];
}

std::int64_t DaysFromCivil(int year, int month, int day) noexcept {
  return DaysFromCivilUnix(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
         kUnixEpochDay;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  out = static_cast<double>(DaysFromCivil(year, month, day));
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out) noexcept {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
      msec >= 1000)
    return false;
  out =
      (static_cast<double>(hour) * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / kMSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, min, sec, msec, r))
    throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  const TDateTime d = EncodeDate(year, month, day);
  const TDateTime t = EncodeTime(hour, min, sec, msec);
  return d >= 0 ? d + t : d - t;
}

DateParts DecodeDate(TDateTime d) noexcept {
  std::int64_t days, ms;
  SplitDateTime(d, days, ms);
  DateParts p;
  CivilFromDaysUnix(days - kUnixEpochDay, p.year, p.month, p.day);
  return p;
}

TimeParts DecodeTime(TDateTime d) noexcept {
  std::int64_t days, ms;
  SplitDateTime(d, days, ms);
  TimeParts t;
  t.hour = static_cast<int>(ms / 3600000);
  t.min = static_cast<int>(ms / 60000 % 60);
  t.sec = static_cast<int>(ms / 1000 % 60);
  t.msec = static_cast<int>(ms % 1000);
  return t;
}

int DayOfWeek(TDateTime d) noexcept {
  std::int64_t days, ms;
  SplitDateTime(d, days, ms);
  // 30 December 1899 was a Saturday (7).
  std::int64_t w = (days + 6) % 7;
  if (w < 0) w += 7;
  return static_cast<int>(w) + 1;
}

TDateTime IncMilliseconds(TDateTime d, std::int64_t msecs) noexcept {
  std::int64_t days, ms;
  SplitDateTime(d, days, ms);
  const std::int64_t total = days * 86400000 + ms + msecs;
  std::int64_t day = total / 86400000;
  std::int64_t time = total % 86400000;
  if (time < 0) {
    time += 86400000;
    --day;
  }
  // A day before 30 December 1899 carries its time of day as a fraction below its day count.
  const double fraction = static_cast<double>(time) / kMSecsPerDay;
  return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

TDateTime UnixToDateTime(std::int64_t secs) noexcept {
  return static_cast<double>(secs) / kSecsPerDay + kUnixEpochDay;
}

std::int64_t DateTimeToUnix(TDateTime d) noexcept {
  return static_cast<std::int64_t>(std::llround((d - kUnixEpochDay) * kSecsPerDay));
}

}  // namespace qv
