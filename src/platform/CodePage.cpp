#include "platform/CodePage.h"

#include <array>

#include "platform/Win32.h"

namespace qv::platform {

namespace {
void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one code point from UTF-8 at i (advancing i); malformed input gives U+FFFD.
char32_t NextUtf8(std::string_view s, std::size_t& i) noexcept {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}
}  // namespace

#ifdef _WIN32

// The system's ANSI code page, through its own conversions.

unsigned AnsiCodePage() noexcept {
  return ::GetACP();
}

namespace {
// Where the ANSI code page is UTF-8 (a choice of newer systems) the conversions are this file's
// own.
bool AnsiIsUtf8() noexcept {
  return ::GetACP() == CP_UTF8;
}
}  // namespace

char16_t AnsiCharToUtf16(unsigned char c) noexcept {
  if (AnsiIsUtf8()) return c < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD';
  const char byte = static_cast<char>(c);
  wchar_t wide = 0;
  // A lead byte of a multi-byte code page is no character on its own.
  if (::MultiByteToWideChar(CP_ACP, 0, &byte, 1, &wide, 1) != 1) return u'\uFFFD';
  return static_cast<char16_t>(wide);
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  if (ansi.empty()) return {};
  if (AnsiIsUtf8()) return Utf8ToUtf16(ansi);
  const int size = static_cast<int>(ansi.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::u16string r(static_cast<std::size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0)
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, reinterpret_cast<wchar_t*>(r.data()), n);
  return r;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  if (AnsiIsUtf8()) return Utf16ToUtf8(text);
  // No other ANSI code page holds a character beyond the 16-bit range: a surrogate pair is one
  // character missing from it (the system would give one "?" per half).
  std::u16string units(text);
  std::size_t out = 0;
  for (std::size_t i = 0; i < units.size(); ++i, ++out) {
    units[out] = units[i];
    if (units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() &&
        units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      units[out] = u'\uFFFD';
      ++i;
    }
  }
  units.resize(out);
  // No "best fit" (an "L" for an "\u0141"): what the code page lacks becomes "?".
  const auto* wide = reinterpret_cast<const wchar_t*>(units.data());
  const int size = static_cast<int>(units.size());
  const int n =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, "?", nullptr);
  std::string r(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, r.data(), n, "?", nullptr);
  return r;
}

#else

// Systems without an ANSI code page of their own use Windows-1252.

namespace {
// Code points of the bytes 0x80 to 0x9F in Windows-1252; the unassigned ones keep their value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int UnicodeToAnsi(char32_t cp) noexcept {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[static_cast<std::size_t>(i)] == cp) return 0x80 + i;
  return -1;
}
}  // namespace

unsigned AnsiCodePage() noexcept {
  return 1252;
}

char16_t AnsiCharToUtf16(unsigned char c) noexcept {
  return (c >= 0x80 && c <= 0x9F) ? kHigh[c - 0x80] : static_cast<char16_t>(c);
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string r;
  r.reserve(ansi.size());
  for (char c : ansi)
    r += AnsiCharToUtf16(static_cast<unsigned char>(c));
  return r;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  std::string r;
  r.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    // A surrogate pair is one character outside the code page.
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;
    const int b = UnicodeToAnsi(u);
    r += b < 0 ? '?' : static_cast<char>(b);
  }
  return r;
}

#endif

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string r;
  r.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(r, cp);
  }
  return r;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string r;
  r.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = NextUtf8(utf8, i);
    if (cp >= 0x10000) {
      r += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      r += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      r += static_cast<char16_t>(cp);
    }
  }
  return r;
}

std::string AnsiToUtf8(std::string_view ansi) {
  return Utf16ToUtf8(AnsiToUtf16(ansi));
}
std::string Utf8ToAnsi(std::string_view utf8) {
  return Utf16ToAnsi(Utf8ToUtf16(utf8));
}

std::string TextToUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t at = i;
    if (NextUtf8(text, i) == 0xFFFD && text.substr(at, i - at) != "\xEF\xBF\xBD")
      return AnsiToUtf8(text);
  }
  return std::string(text);
}

}  // namespace qv::platform
