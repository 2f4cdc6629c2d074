// What the platform layer has in common on every system.
#include "platform/Platform.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace qv::platform {

const LocaleNames& EnglishNames() {
  static const LocaleNames names{
      {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"},
      {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
      {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
      {"January", "February", "March", "April", "May", "June", "July", "August", "September",
       "October", "November", "December"}};
  return names;
}

bool IsRepairProgram(std::string_view name) {
  std::string lower(name);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const std::string_view suffix : {".exe", ".ex"})
    if (lower.ends_with(suffix)) {
      lower.resize(lower.size() - suffix.size());
      break;
    }
  return lower == "qvrepair" || lower == "qvrepair-cli";
}

std::string FileSystem::SiblingPath(const std::string& path, std::string_view suffix) const {
  const std::size_t at = path.find_last_of(PathSeparators());
  const std::size_t nameStart = at == std::string::npos ? 0 : at + 1;
  const std::size_t nameBytes = path.size() - nameStart;
  const std::size_t pathRoom = MaxPathBytes() > nameStart ? MaxPathBytes() - nameStart : 0;
  const std::size_t room = std::min(kMaxNameBytes, pathRoom);
  if (nameBytes + suffix.size() <= room) return path + std::string(suffix);
  // FNV-1a of the whole name: the same long name always gives the same short one.
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = nameStart; i < path.size(); ++i) {
    hash ^= static_cast<unsigned char>(path[i]);
    hash *= 16777619u;
  }
  char tag[16];
  std::snprintf(tag, sizeof tag, "~%08x", static_cast<unsigned>(hash));
  std::size_t keep = room > suffix.size() + 9 ? room - suffix.size() - 9 : 1;
  keep = std::min(keep, nameBytes);
  // Never cut a UTF-8 sequence in two.
  while (keep > 0 && (static_cast<unsigned char>(path[nameStart + keep]) & 0xC0) == 0x80)
    --keep;
  return path.substr(0, nameStart + keep) + tag + std::string(suffix);
}

}  // namespace qv::platform
