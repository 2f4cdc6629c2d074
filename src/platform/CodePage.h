// The ANSI code page and the conversions between it, UTF-16 and UTF-8. On Windows it is the
// system's (GetACP, converted by the system); elsewhere it is Windows-1252, where all 256 bytes
// round-trip through UTF-16: the five bytes that Windows-1252 leaves unassigned map to the control
// characters of the same value (as the system's own Windows-1252 does).
#pragma once

#include <string>
#include <string_view>

namespace qv::platform {

// The number of the ANSI code page (1252 where the system has none of its own).
unsigned AnsiCodePage() noexcept;

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

// A text for the user (a message, an error) in UTF-8. The program's texts are ANSI, but the file
// names and the system's reasons in them are UTF-8, as the file system names files: a text that
// is valid UTF-8 is taken as it is, any other as ANSI (in which a byte above 0x7F is hardly ever
// followed by the bytes that would continue it in UTF-8).
std::string TextToUtf8(std::string_view text);

}  // namespace qv::platform
