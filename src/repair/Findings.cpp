#include "repair/Findings.h"

#include <utility>

namespace qv {

const char* FindingName(FindingKind kind) noexcept {
  static constexpr std::array<const char*, kFindingKinds> kNames = {
      "separator",      "leading_text", "no_message_id", "duplicate_message_id",
      "stray_cr",       "nul_byte",     "ctrl_z_byte",   "header_not_ended",
      "mime_cut_short", "bad_encoding", "dropped_entry"};
  return kNames[static_cast<std::size_t>(kind)];
}

void Findings::Add(FindingKind kind, Finding finding) {
  Kind& k = kinds_[static_cast<std::size_t>(kind)];
  ++k.count;
  if (k.listed.size() < listed_) k.listed.push_back(std::move(finding));
}

}  // namespace qv
