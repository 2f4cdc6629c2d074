// What a scan and merge found damaged, and where: each finding with its byte offset in the store
// and the number of its message. The scan and the merge record them as they go when they are given
// a Findings; every finding is counted, the first few of each kind are kept with their text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

enum class FindingKind {
  Separator,           // a separator the repair rewrites, or a "From " line that is none
  LeadingText,         // text before the first separator, kept as a message
  NoMessageId,         // a message without Message-ID
  DuplicateMessageId,  // a message whose Message-ID an earlier one has (`other`: its number)
  StrayCr,             // CRs inside lines
  NulByte,             // NUL bytes
  CtrlZByte,           // 0x1A bytes
  HeaderNotEnded,      // a header with no empty line after it
  MimeCutShort,        // a multipart without its closing delimiter, or nested beyond the limit
  BadEncoding,         // a part whose transfer encoding does not decode cleanly
  DroppedEntry,        // an old index entry that matches no message (`message`: the entry's)
};
inline constexpr std::size_t kFindingKinds = 11;

// The name of a kind in reports ("stray_cr").
const char* FindingName(FindingKind kind) noexcept;

struct Finding {
  std::int64_t offset = 0;   // in the store
  std::int64_t message = 0;  // number, from 0 (DroppedEntry: the old entry's)
  std::int64_t other = -1;   // DuplicateMessageId: the first message with the identifier
  std::string text;          // what was found (ANSI)
};

class Findings {
 public:
  explicit Findings(std::size_t listed = 20) : listed_(listed) {}

  // Whether a finding of this kind would still be kept with its text (else it is only counted).
  bool Lists(FindingKind kind) const noexcept { return Of(kind).listed.size() < listed_; }
  void Add(FindingKind kind, Finding finding);
  std::int64_t Count(FindingKind kind) const noexcept { return Of(kind).count; }
  const std::vector<Finding>& Listed(FindingKind kind) const noexcept { return Of(kind).listed; }

  // Where each message of the scan begins in the store (its separator line, or 0 for text before
  // the first), by number: the merge places its findings with them.
  std::vector<std::int64_t>& MessageOffsets() noexcept { return offsets_; }
  std::int64_t MessageOffset(std::size_t message) const noexcept {
    return message < offsets_.size() ? offsets_[message] : -1;
  }

 private:
  struct Kind {
    std::int64_t count = 0;
    std::vector<Finding> listed;
  };
  const Kind& Of(FindingKind k) const noexcept { return kinds_[static_cast<std::size_t>(k)]; }

  std::size_t listed_;
  std::array<Kind, kFindingKinds> kinds_;
  std::vector<std::int64_t> offsets_;
};

}  // namespace qv
