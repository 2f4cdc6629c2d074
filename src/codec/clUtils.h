// Header-field handling on lists of lines, and the small text searches and time routines that the
// address and date routines rest on. All routines are stateless.
//
// Header lines are a string list holding one physical line per item, without its line break; a
// header ends at its first empty line. A field index is a string list of lower-cased field names
// whose objects hold the 0-based number of the line on which each field begins. Character
// positions taken and returned here are 1-based, with 0 for "not found".
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/DateTime.h"
#include "base/StringList.h"
#include "platform/Platform.h"

namespace qv {

// A set of single-byte characters.
class TCharSet {
 public:
  constexpr TCharSet() = default;
  constexpr explicit TCharSet(std::string_view chars) {
    for (char c : chars)
      Include(c);
  }
  constexpr void Include(char c) noexcept {
    const auto b = static_cast<unsigned char>(c);
    bits_[b >> 6] |= std::uint64_t{1} << (b & 63);
  }
  constexpr bool Contains(char c) const noexcept {
    const auto b = static_cast<unsigned char>(c);
    return (bits_[b >> 6] >> (b & 63)) & 1;
  }

 private:
  std::array<std::uint64_t, 4> bits_{};
};

inline constexpr std::array<std::string_view, 12> MonthShortNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Indexes the fields of the header that starts at line startLine: adds one item per field to
// fieldList (which is not cleared first). Returns the index of the empty line that ends the
// header, or the line count when there is none.
int IndexHeaderFields(int startLine, const TStringList& lines, TStringList& fieldList);

// The unfolded value of the first field of that name ("" when absent).
std::string GetHeaderFieldValue(const TStringList& lines, const TStringList& fieldList,
                                std::string_view name);
// The unfolded value of the field at item `index` of fieldList ("" when out of range). Only the
// first 1000 characters after the colon of the field's first line are taken; continuation lines
// are trimmed and appended without a separator.
std::string GetHeaderFieldValueAt(const TStringList& lines, const TStringList& fieldList,
                                  int index);

// The same three over lines held as views (of a message read in place), with the same results.
int IndexHeaderFields(int startLine, std::span<const std::string_view> lines,
                      TStringList& fieldList);
std::string GetHeaderFieldValue(std::span<const std::string_view> lines,
                                const TStringList& fieldList, std::string_view name);
std::string GetHeaderFieldValueAt(std::span<const std::string_view> lines,
                                  const TStringList& fieldList, int index);

// The raw text of a parameter: paramName (lower case, "=" included, e.g. "charset=") is searched
// in the lower-cased value; the parameter runs to the first "," or ";" outside quotes, within the
// 1000 characters after the name. An empty name gives the value's first item.
std::string GetHeaderParamRaw(std::string_view value, std::string_view paramName);
// GetHeaderParamRaw trimmed, with one pair of enclosing quotes removed.
std::string GetHeaderParam(std::string_view value, std::string_view paramName);

// Appends "Name: value" to lines; line breaks inside the value become continuation lines.
// An empty value adds nothing.
void AddHeaderField(TStringList& lines, std::string_view name, std::string_view value);
// Appends a field whose items stand on one line each, separated by separator.
void AddHeaderListField(TStringList& lines, const TStringList& items, std::string_view name,
                        std::string_view separator);
void AddHeaderArrayField(TStringList& lines, std::span<const std::string> items,
                         std::string_view separator, std::string_view name);

// Adds text to lines, cut at CR LF, lone CR and lone LF (a NUL ends the text). With joinFirst set
// the first piece is appended to the last line. Returns true when the text leaves its last line
// open (it does not end with a line break).
bool AppendTextLines(TStringList& lines, std::string_view text, bool joinFirst);

// Quotes a display name for an address field, and reads a quoted one back.
std::string QuoteDisplayName(std::string_view name);
std::string UnquoteDisplayName(std::string_view text);

int CountCharsInSet(std::string_view text, const TCharSet& set) noexcept;

// 1-based position of the first occurrence of sub in text at or after position start
// (case-sensitive), or 0.
int PosFrom(std::string_view sub, std::string_view text, int start) noexcept;
// 1-based position of the last case-insensitive occurrence of sub in text that begins at or before
// position start (-1 for the end of the text), or 0.
int LastPosText(std::string_view sub, std::string_view text, int start = -1) noexcept;

// Words are maximal runs of characters outside delimiters. WordStart gives the 1-based position
// of word n (from 1), or 0; ExtractWordAt the word itself, or "".
int WordStart(int n, std::string_view text, const TCharSet& delimiters) noexcept;
std::string ExtractWordAt(int n, std::string_view text, const TCharSet& delimiters);

// The first index (from 0) whose entry equals text without regard to ASCII case, or -1.
int IndexOfTextInArray(std::string_view text, std::span<const std::string_view> array) noexcept;
int IndexOfTextInArray(std::string_view text, std::span<const std::string> array) noexcept;
int IndexOfTextInList(const TStringList& list, std::string_view text) noexcept;

// The offset of a zone "+hhmm" or "-hhmm" as a signed fraction of a day; every other zone text
// gives 0. Hours above 23 or minutes above 59 count as 0. Non-digits in such a zone fail with
// EConvertError.
TDateTime TimeZoneOffset(std::string_view zone);

// A UTC date value as local time, with the zone offset in force at that date.
TDateTime UtcToLocalTime(platform::Clock& clock, TDateTime utc);

}  // namespace qv
