// Byte-string helpers. Text is single-byte; case folding touches the ASCII letters A to Z only and
// trimming removes the characters with codes 0 to 32.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

constexpr char AsciiLowerChar(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
constexpr char AsciiUpperChar(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);

// Case-insensitive (ASCII) equality and ordering; CompareText returns <0, 0 or >0.
bool SameText(std::string_view a, std::string_view b) noexcept;
int CompareText(std::string_view a, std::string_view b) noexcept;

// True when s begins with prefix, compared case-insensitively.
bool StartsText(std::string_view prefix, std::string_view s) noexcept;

// Position of the first case-insensitive occurrence of needle in hay at or after from (0-based),
// or npos.
std::size_t FindText(std::string_view hay, std::string_view needle, std::size_t from = 0) noexcept;

constexpr bool IsTrimChar(char c) noexcept {
  return static_cast<unsigned char>(c) <= 32;
}
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string_view TrimView(std::string_view s) noexcept;

std::string IntToStr(std::int64_t v);

// Reads a text as a 32-bit integer the way the platform's conversion does: leading blanks, then
// an optional sign, then decimal digits, or hexadecimal digits after "$", "x" or "0x" (any case).
// Nothing else may follow, trailing blanks included. Hexadecimal values up to FFFFFFFF are taken
// as their 32-bit two's-complement value. Returns false (and leaves out alone) for an empty,
// malformed or out-of-range text.
bool TryStrToInt(std::string_view s, std::int32_t& out) noexcept;
// As TryStrToInt, giving def when the text is not an integer.
std::int32_t StrToIntDef(std::string_view s, std::int32_t def) noexcept;
// As TryStrToInt, failing with EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(std::string_view s);

// printf-style formatting for the system's message texts ("%s", "%d", "%2.2X" and the like).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Fills a message pattern that uses only "%s" and "%d" placeholders (and "%%") with the given
// texts in order; for patterns such as "Cannot assign a %s to a %s".
std::string FormatMessage(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace qv
