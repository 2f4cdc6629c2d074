#include "FuzzTargets.h"

#include <array>

namespace qv::fuzz {

std::span<const FuzzTarget> FuzzTargets() {
  static constexpr std::array<FuzzTarget, 13> kTargets = {{
      {"component_mailbox", &FuzzComponentMailbox},
      {"component_profile", &FuzzComponentProfile},
      {"stream_tree", &FuzzStreamTree},
      {"load_message", &FuzzLoadMessage},
      {"store_scan", &FuzzStoreScan},
      {"date_pattern", &FuzzDatePattern},
      {"decode_qp", &FuzzDecodeQuotedPrintable},
      {"decode_base64", &FuzzDecodeBase64},
      {"decode_uu", &FuzzDecodeUU},
      {"header_text", &FuzzHeaderText},
      {"mail_date", &FuzzMailDate},
      {"replacement_journal", &FuzzReplacementJournal},
      {"export_message", &FuzzExportMessage},
  }};
  return kTargets;
}

const FuzzTarget* FindFuzzTarget(std::string_view name) {
  for (const FuzzTarget& t : FuzzTargets())
    if (name == t.name) return &t;
  return nullptr;
}

}  // namespace qv::fuzz
