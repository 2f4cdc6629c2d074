#include "repair/DatePattern.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "base/StringUtils.h"

namespace qv {

namespace {

enum class Token {
  None,
  DD,
  DDD,
  DDDD,
  MM,
  MMM,
  MMMM,
  YY,
  YYY,
  YYYY,
  HH,
  NN,
  SS,
  ZZ,
  ZZZ,
  AP,
  AM,
  AMP,
  AMPM,
};

struct TokenName {
  std::string_view name;
  Token token;
};

constexpr std::array<TokenName, 18> kTokens = {{
    {"DD", Token::DD},
    {"DDD", Token::DDD},
    {"DDDD", Token::DDDD},
    {"MM", Token::MM},
    {"MMM", Token::MMM},
    {"MMMM", Token::MMMM},
    {"YY", Token::YY},
    {"YYY", Token::YYY},
    {"YYYY", Token::YYYY},
    {"HH", Token::HH},
    {"NN", Token::NN},
    {"SS", Token::SS},
    {"ZZ", Token::ZZ},
    {"ZZZ", Token::ZZZ},
    {"AP", Token::AP},
    {"AM", Token::AM},
    {"AMP", Token::AMP},
    {"AMPM", Token::AMPM},
}};

// The token spelled by pattern characters (any case), or None.
Token LookupToken(std::string_view s) noexcept {
  for (const TokenName& t : kTokens) {
    if (t.name.size() != s.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < s.size() && same; ++i)
      same = AsciiUpperChar(s[i]) == t.name[i];
    if (same) return t.token;
  }
  return Token::None;
}

constexpr bool StartsToken(char c) noexcept {
  switch (AsciiUpperChar(c)) {
    case 'A':
    case 'D':
    case 'H':
    case 'M':
    case 'N':
    case 'P':
    case 'S':
    case 'Y':
    case 'Z':
      return true;
    default:
      return false;
  }
}

// The remaining date text. Letters are compared upper-cased; numbers read the same either way.
class Remaining {
 public:
  explicit Remaining(std::string_view text) : rest_(text) {}
  bool Empty() const noexcept { return rest_.empty(); }
  std::size_t Size() const noexcept { return rest_.size(); }
  std::string_view Head(std::size_t n) const noexcept { return rest_.substr(0, n); }
  void Remove(std::size_t n) noexcept { rest_.remove_prefix(std::min(n, rest_.size())); }

  // The first n characters as a 16-bit number, trimmed first or not.
  std::uint16_t Number(std::size_t n, bool trim) const noexcept {
    const std::string_view s = trim ? TrimView(Head(n)) : Head(n);
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(StrToIntDef(s, 0)));
  }

  // Whether the first characters, upper-cased, equal `upper`.
  bool HeadIs(std::string_view upper) const noexcept {
    if (rest_.size() < upper.size()) return false;
    for (std::size_t i = 0; i < upper.size(); ++i)
      if (AsciiUpperChar(rest_[i]) != upper[i]) return false;
    return true;
  }

  // Index of the first name whose first three letters, upper-cased, equal the first three
  // characters of the text (upper-cased), or -1.
  template <std::size_t N>
  int MatchName(const std::array<std::string, N>& names) const noexcept {
    const std::string_view head = Head(3);
    for (std::size_t k = 0; k < N; ++k) {
      const std::string_view prefix = std::string_view(names[k]).substr(0, 3);
      if (prefix.size() != head.size()) continue;
      bool same = true;
      for (std::size_t i = 0; i < head.size() && same; ++i)
        same = AsciiUpperChar(head[i]) == AsciiUpperChar(prefix[i]);
      if (same) return static_cast<int>(k);
    }
    return -1;
  }

 private:
  std::string_view rest_;
};

struct Fields {
  std::uint16_t year = 1, month = 1, day = 1;
  std::uint16_t hour = 0, minute = 0, second = 0, msec = 0;
  int halfDay = 0;  // -1 AM, 1 PM, 0 none
};

constexpr std::uint16_t kYearWindow = 50;

// Places a two-digit year in the current century (below the window) or the one before.
std::uint16_t WindowYear(std::uint16_t twoDigits, platform::Clock& clock) {
  const int century = DecodeDate(clock.Now()).year / 100 * 100;
  const int year = twoDigits < kYearWindow ? twoDigits + century : twoDigits + century - 100;
  return static_cast<std::uint16_t>(static_cast<unsigned>(year));
}

// A token of the time of day: its value is read from the text, which is advanced past it.
void ApplyTime(Token token, Remaining& text, Fields& f) {
  switch (token) {
    case Token::HH:
      f.hour = text.Number(2, true);
      text.Remove(2);
      break;
    case Token::NN:
      f.minute = text.Number(2, true);
      text.Remove(2);
      break;
    case Token::SS:
      f.second = text.Number(2, true);
      text.Remove(2);
      break;
    case Token::ZZ:
    case Token::ZZZ:
      f.msec = text.Number(3, true);
      text.Remove(3);
      break;
    case Token::AP:
      f.halfDay = text.HeadIs("A") ? -1 : 1;
      text.Remove(1);
      break;
    case Token::AM:
    case Token::AMP:
    case Token::AMPM:
      f.halfDay = text.HeadIs("AM") ? -1 : 1;
      text.Remove(2);
      break;
    default:
      break;
  }
}

// A token of the pattern: its value is read from the text, which is advanced past it.
void Apply(Token token, Remaining& text, Fields& f, const platform::LocaleNames& names,
           platform::Clock& clock) {
  switch (token) {
    case Token::None:
    case Token::YYY:
      break;
    case Token::DD:
      f.day = text.Number(2, true);
      text.Remove(2);
      break;
    case Token::DDD:
      text.Remove(3);
      break;
    case Token::DDDD:
      if (const int k = text.MatchName(names.longDayNames); k >= 0)
        text.Remove(names.longDayNames[static_cast<std::size_t>(k)].size());
      break;
    case Token::MM:
      f.month = text.Number(2, true);
      text.Remove(2);
      break;
    case Token::MMM:
    case Token::MMMM:
      if (const int k = text.MatchName(names.longMonthNames); k >= 0) {
        f.month = static_cast<std::uint16_t>(k + 1);
        text.Remove(token == Token::MMM ? 3
                                        : names.longMonthNames[static_cast<std::size_t>(k)].size());
      }
      break;
    case Token::YY:
      f.year = WindowYear(text.Number(2, false), clock);
      text.Remove(2);
      break;
    case Token::YYYY:
      f.year = text.Number(4, false);
      text.Remove(4);
      break;
    default:
      ApplyTime(token, text, f);
      break;
  }
}

}  // namespace

TDateTime ParseDateByPattern(std::string_view pattern, std::string_view text,
                             const platform::LocaleNames& names, platform::Clock& clock) {
  Fields f;
  Remaining rest(text);
  std::size_t i = 0;
  while (i < pattern.size()) {
    if (!StartsToken(pattern[i])) {
      // A literal of the pattern skips one character of the text, never the last one.
      if (rest.Size() > 1) rest.Remove(1);
      ++i;
      continue;
    }
    // The longest token reachable one character at a time.
    std::size_t len = 1;
    while (i + len < pattern.size() && LookupToken(pattern.substr(i, len + 1)) != Token::None)
      ++len;
    const Token token = LookupToken(pattern.substr(i, len));
    i += len;
    if (!rest.Empty()) Apply(token, rest, f, names, clock);
  }

  if (f.halfDay > 0) f.hour = static_cast<std::uint16_t>(f.hour + 12);

  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(f.year, f.month, f.day, date)) return 0;
  if (!TryEncodeTime(f.hour, f.minute, f.second, f.msec, time)) return 0;
  return date + time;
}

}  // namespace qv
