// The merge: the old index's entries and the rebuilt ones in, each rebuilt entry filed where the
// old index had its message, and the figures of what was carried over.
#pragma once

#include <cstdint>

#include <string>

#include "mailbox/CompactMessages.h"
#include "platform/Platform.h"
#include "repair/Findings.h"
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
// Message-ID gives folder and read state; an entry without Message-ID takes an old entry without
// one, not yet taken, whose sender, subject and date agree, the one with its block size first; or,
// when its message gave no date, whose sender, subject and block size agree
// (OldIndex::MatchAnonymous). The entry `leadingEntry`, made of text before the first separator,
// is matched by its Message-ID only. With `findings` (whose message offsets the scan recorded),
// each message without Message-ID and each duplicate is recorded there too.
MergeFigures MergeEntries(TCompactMessageList& rebuilt, OldIndex& old, std::int64_t leadingEntry,
                          Findings* findings = nullptr);

// Records each entry of the index file `indexPath` that the last merge with `old` (read from that
// file) left unmatched: where the index placed its message, its folder, sender, subject and date.
// The index is read again, one entry at a time; errors reach the caller.
void FindDroppedEntries(const OldIndex& old, const std::string& indexPath,
                        platform::FileSystem& files, Findings& findings);

}  // namespace qv
