#include "repair/ExportFormat.h"

#include <algorithm>
#include <cmath>

#include "base/StringUtils.h"
#include "platform/CodePage.h"

namespace qv {

namespace {

bool IsDeviceName(std::string_view name) {
  std::string stem = UpperCase(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ')
    stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices)
    if (stem == device) return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
         stem[3] >= '0' && stem[3] <= '9';
}

// The bytes of `utf8` up to at most `limit`, not cutting a character.
std::string_view CutUtf8(std::string_view utf8, std::size_t limit) {
  if (utf8.size() <= limit) return utf8;
  auto inside = [utf8](std::size_t at) {
    return (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80;
  };
  std::size_t end = limit;
  // A character has at most three bytes after its first; where none starts that near, the bytes
  // are not UTF-8 and are cut where they stand (never down to nothing).
  for (int k = 0; k < 3 && end > 0 && inside(end); ++k)
    --end;
  if (end == 0 || inside(end)) end = limit;
  return utf8.substr(0, end);
}

}  // namespace

std::string PortableName(std::string_view utf8) {
  std::string name;
  name.reserve(utf8.size());
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    const bool refused =
        u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
    name += refused ? '_' : c;
  }
  name = Trim(name);
  name = std::string(CutUtf8(name, kMaxNamePart));
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  if (name.empty()) return "_";
  if (name.front() == '.') name.front() = '_';
  if (name.back() == '.') name.back() = '_';
  // ("LPT1.txt" is the device too: the "_" goes after the stem.)
  if (IsDeviceName(name)) name.insert(std::min(name.find('.'), name.size()), "_");
  return name;
}

std::string ModifiedUtf7(std::string_view utf8) {
  static constexpr char kBase64[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  const std::u16string text = platform::Utf8ToUtf16(utf8);
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (c >= 0x20 && c <= 0x7E) {
      out += static_cast<char>(c);
      if (c == '&') out += '-';
      ++i;
      continue;
    }
    // A run of other characters, as the bytes of their UTF-16 code units in Base64.
    out += '&';
    std::uint32_t bits = 0;
    int count = 0;
    for (; i < text.size() && !(text[i] >= 0x20 && text[i] <= 0x7E); ++i) {
      bits = (bits << 16) | text[i];
      count += 16;
      while (count >= 6) {
        count -= 6;
        out += kBase64[(bits >> count) & 0x3F];
      }
    }
    if (count > 0) out += kBase64[(bits << (6 - count)) & 0x3F];
    out += '-';
  }
  return out;
}

std::string MaildirLevelName(std::string_view utf8, std::size_t maxBytes) {
  std::string name = PortableName(utf8);
  for (char& c : name)
    if (c == '.') c = '_';
  for (;;) {
    std::string level = ModifiedUtf7(name);
    if (level.size() <= maxBytes) return level;
    if (name.empty()) return "";
    name = std::string(CutUtf8(name, name.size() - 1));
  }
}

std::string MaildirBaseName(std::int64_t runTime, std::size_t number) {
  return Format("%lld.%010llu.qvrepair", static_cast<long long>(runTime),
                static_cast<unsigned long long>(number));
}

std::string MaildirFlags(bool read, bool colon) {
  return std::string(colon ? ":" : "!") + (read ? "2,S" : "2,");
}

TDateTime LocalToUtc(platform::Clock& clock, TDateTime local) {
  if (!std::isfinite(local)) return local;
  // The offset at the local value taken as UTC, then at the value it gives: two steps find the
  // offset in force at the UTC date, also next to a change of the zone's offset.
  TDateTime utc = local;
  for (int step = 0; step < 3; ++step) {
    const double diff = clock.UtcToLocal(utc) - local;
    const auto ms = static_cast<std::int64_t>(std::llround(diff * kMSecsPerDay));
    if (ms == 0) break;
    utc = IncMilliseconds(utc, -ms);
  }
  return utc;
}

std::string MboxFromLine(std::string_view address, TDateTime utc, TDateTime now) {
  bool plain = !address.empty();
  for (const char c : address)
    plain = plain && c > 0x20 && c < 0x7F;
  // Dates before the Unix epoch (a message without a date the client saved as 0) and after 9999
  // are no dates a reader takes.
  if (!std::isfinite(utc) || utc < 25569.0 || utc >= 2958466.0) utc = now;
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const DateParts d = DecodeDate(utc);
  const TimeParts t = DecodeTime(utc);
  return Format("From %s %s %s %2d %02d:%02d:%02d %04d",
                plain ? std::string(address).c_str() : "MAILER-DAEMON", kDays[DayOfWeek(utc) - 1],
                kMonths[d.month - 1], d.day, t.hour, t.min, t.sec, d.year);
}

bool IsMboxFromLine(std::string_view line) noexcept {
  const std::size_t start = line.find_first_not_of('>');
  return start != std::string_view::npos && line.substr(start).starts_with("From ");
}

bool IsStatusField(std::string_view line) noexcept {
  for (const std::string_view name : {std::string_view("status"), std::string_view("x-status")}) {
    if (line.size() < name.size() || !SameText(line.substr(0, name.size()), name)) continue;
    const std::size_t colon = line.find_first_not_of(" \t", name.size());
    if (colon != std::string_view::npos && line[colon] == ':') return true;
  }
  return false;
}

}  // namespace qv
