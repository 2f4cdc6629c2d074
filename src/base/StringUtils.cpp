#include "base/StringUtils.h"

#include <cstdarg>
#include <cstdio>
#include <initializer_list>

#include "base/Errors.h"

namespace qv {

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    c = AsciiLowerChar(c);
  return r;
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    c = AsciiUpperChar(c);
  return r;
}

bool SameText(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  return true;
}

int CompareText(std::string_view a, std::string_view b) noexcept {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(AsciiLowerChar(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiLowerChar(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool StartsText(std::string_view prefix, std::string_view s) noexcept {
  return s.size() >= prefix.size() && SameText(prefix, s.substr(0, prefix.size()));
}

std::size_t FindText(std::string_view hay, std::string_view needle, std::size_t from) noexcept {
  if (needle.empty()) return from <= hay.size() ? from : std::string_view::npos;
  if (hay.size() < needle.size()) return std::string_view::npos;
  const char first = AsciiLowerChar(needle[0]);
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (AsciiLowerChar(hay[i]) != first) continue;
    if (SameText(hay.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

std::string_view TrimView(std::string_view s) noexcept {
  std::size_t b = 0, e = s.size();
  while (b < e && IsTrimChar(s[b]))
    ++b;
  while (e > b && IsTrimChar(s[e - 1]))
    --e;
  return s.substr(b, e - b);
}

std::string Trim(std::string_view s) {
  return std::string(TrimView(s));
}

std::string TrimLeft(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && IsTrimChar(s[b]))
    ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && IsTrimChar(s[e - 1]))
    --e;
  return std::string(s.substr(0, e));
}

std::string IntToStr(std::int64_t v) {
  return std::to_string(v);
}

bool TryStrToInt(std::string_view s, std::int32_t& out) noexcept {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ')
    ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    negative = s[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == s.size()) return false;  // no digits
  // Accumulate in 64 bits and stop as soon as the value leaves the 32-bit range.
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  std::uint64_t value = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * (hex ? 16u : 10u) + digit;
    if (value > limit) return false;
  }
  auto bits = static_cast<std::uint32_t>(value);
  if (negative) bits = 0u - bits;
  out = static_cast<std::int32_t>(bits);
  return true;
}

std::int32_t StrToIntDef(std::string_view s, std::int32_t def) noexcept {
  std::int32_t v;
  return TryStrToInt(s, v) ? v : def;
}

std::int32_t StrToInt(std::string_view s) {
  std::int32_t v;
  if (!TryStrToInt(s, v)) throw EConvertError(FormatMessage(kInvalidInteger, {s}));
  return v;
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string r;
  if (n > 0) {
    r.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(r.data(), r.size(), fmt, ap2);
    r.resize(static_cast<std::size_t>(n));
  }
  va_end(ap2);
  return r;
}

std::string FormatMessage(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string r;
  r.reserve(pattern.size() + 32);
  auto it = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      const char k = pattern[i + 1];
      if (k == '%') {
        r += '%';
        ++i;
        continue;
      }
      if (k == 's' || k == 'd') {
        if (it != args.end()) r.append(*it++);
        ++i;
        continue;
      }
    }
    r += c;
  }
  return r;
}

}  // namespace qv
