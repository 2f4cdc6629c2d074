// TDateTime: days since 30 December 1899 as a double; the fraction is the time of day.
#pragma once

#include <cstdint>

namespace qv {

using TDateTime = double;

inline constexpr double kMSecsPerDay = 86400000.0;
inline constexpr int kSecsPerDay = 86400;

bool IsLeapYear(int year) noexcept;
int DaysInMonth(int year, int month) noexcept;  // 0 for a month outside 1..12

// False when the parts do not form a valid date (years 1 to 9999) or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& out) noexcept;
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out) noexcept;
// As above, but an invalid value fails with EConvertError.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec = 0);

struct DateParts {
  int year = 0, month = 0, day = 0;
};
struct TimeParts {
  int hour = 0, min = 0, sec = 0, msec = 0;
};
DateParts DecodeDate(TDateTime d) noexcept;
TimeParts DecodeTime(TDateTime d) noexcept;
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime d) noexcept;

// Days between the civil date and 30 December 1899 (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(int year, int month, int day) noexcept;

// The date value `msecs` milliseconds after `d`, rebuilt from its calendar date and its time of day
// to the millisecond (EncodeDate + EncodeTime of the moved fields), as a conversion through the
// system's date and time fields gives it. The double nearest to the sum can differ from it in the
// last place; the index keeps the rebuilt value.
TDateTime IncMilliseconds(TDateTime d, std::int64_t msecs) noexcept;

// Seconds since the Unix epoch to a TDateTime and back (no zone applied).
TDateTime UnixToDateTime(std::int64_t secs) noexcept;
std::int64_t DateTimeToUnix(TDateTime d) noexcept;

}  // namespace qv
