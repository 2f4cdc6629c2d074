#include "repair/Merge.h"

#include "base/TextArena.h"

namespace qv {

MergeFigures MergeEntries(TCompactMessageList& rebuilt, OldIndex& old, std::int64_t leadingEntry) {
  old.ResetMatches();
  // The Message-IDs that no old entry has, each under its first entry: a second entry with one is
  // a duplicate as well.
  TextKeyIndex unknown;
  const auto identifierOf = [&rebuilt](std::uint32_t n) { return rebuilt.MessageId(n); };
  MergeFigures f;
  for (std::size_t i = 0; i < rebuilt.Count(); ++i) {
    OldIndex::Placement placement;
    bool match = false;
    if (const std::string_view id = rebuilt.MessageId(i); !id.empty()) {
      bool repeat = false;
      match = old.MatchIdentifier(id, placement, repeat);
      if (!match) {
        const auto n = static_cast<std::uint32_t>(i);
        repeat = unknown.Insert(id, TextKeyIndex::Hash(id), n, identifierOf) != n;
      }
      if (repeat) ++f.duplicateMessageIds;
    } else {
      ++f.withoutMessageId;
      if (static_cast<std::int64_t>(i) != leadingEntry)
        match =
            old.MatchAnonymous(rebuilt.Sender(i), rebuilt.Subject(i), rebuilt.Date(i), placement);
    }
    if (!match) continue;
    ++f.carriedOver;
    rebuilt.SetPlacement(i, placement.folder, placement.read);
  }
  f.messages = static_cast<std::int64_t>(rebuilt.Count());
  f.newInInbox = f.messages - f.carriedOver;
  f.oldEntries = old.Count();
  f.droppedEntries = old.Unmatched();
  return f;
}

}  // namespace qv
