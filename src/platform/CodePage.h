// The ANSI code page (Windows-1252 on this platform) and the conversions between it, UTF-16 and
// UTF-8. All 256 bytes round-trip through UTF-16: the five bytes that Windows-1252 leaves
// unassigned map to the control characters of the same value.
#pragma once

#include <string>
#include <string_view>

namespace qv::platform {

// The UTF-16 code unit of an ANSI byte.
char16_t AnsiCharToUtf16(unsigned char c) noexcept;

std::u16string AnsiToUtf16(std::string_view ansi);
// Characters outside the code page become "?".
std::string Utf16ToAnsi(std::u16string_view text);

std::string Utf16ToUtf8(std::u16string_view text);
// Malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

}  // namespace qv::platform
