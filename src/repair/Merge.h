// The merge: the old index's entries and the rebuilt ones in, each rebuilt entry filed where the
// old index had its message, and the figures of what was carried over.
#pragma once

#include <cstdint>

#include "mailbox/CompactMessages.h"
#include "repair/OldIndex.h"

namespace qv {

struct MergeFigures {
  std::int64_t messages = 0;             // rebuilt entries
  std::int64_t oldEntries = 0;           // entries of the old index
  std::int64_t carriedOver = 0;          // entries that took folder and read state from an old one
  std::int64_t newInInbox = 0;           // entries that no old entry matches: Inbox, unread
  std::int64_t droppedEntries = 0;       // old entries that match no message
  std::int64_t withoutMessageId = 0;     // entries with an empty Message-ID
  std::int64_t duplicateMessageIds = 0;  // entries whose Message-ID an earlier one has
};

// Files each rebuilt entry as the old index had its message: the first old entry with the same
// Message-ID gives folder and read state; an entry without Message-ID takes the first old entry
// without one, not yet taken, whose sender, subject and date agree (not the entry `leadingEntry`,
// made of text before the first separator, which is matched by its Message-ID only).
MergeFigures MergeEntries(TCompactMessageList& rebuilt, OldIndex& old, std::int64_t leadingEntry);

}  // namespace qv
