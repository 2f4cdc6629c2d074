// Reading a date text by a pattern of tokens such as "ddd mmm dd hh:nn:ss yyyy".
#pragma once

#include <string_view>

#include "base/DateTime.h"
#include "platform/Platform.h"

namespace qv {

// The pattern of the date at the end of a store's separator line.
inline constexpr std::string_view SeparatorPattern = "ddd mmm dd hh:nn:ss yyyy";

// Walks the pattern over the text and encodes what it read. Tokens (any case): DD day, DDD a day
// name skipped unread, DDDD a day name, MM month, MMM/MMMM month name, YY two-digit year, YYY
// nothing, YYYY year, HH hour, NN minute, SS second, ZZ/ZZZ millisecond, AP/AM/AMP/AMPM half-day.
// Each other pattern character skips one character of the text (the last one is never skipped).
// Fields not read keep 1 January of the year 1, 00:00:00.000. Returns 0 when the fields do not
// form a valid date and time; raises nothing of its own.
//
// Day and month names are compared by their first three letters, upper-cased, against `names`
// (long names); `clock` gives the current year for placing two-digit years in a century and is
// asked only when the pattern has a YY token.
TDateTime ParseDateByPattern(std::string_view pattern, std::string_view text,
                             const platform::LocaleNames& names, platform::Clock& clock);

}  // namespace qv
