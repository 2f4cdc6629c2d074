// What the repair keeps of the old index, in place of its entries: for the merge, the folder and
// read state of the first entry of each identifier and how many entries have it, and the entries
// without identifier by sender, subject, date and block size; for the check whether the index
// matches the store, each entry's offset and size by position. It takes the entries one by one as
// the index is read (a sink for its message list), so the old entries are never held whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/TextArena.h"
#include "components/ComponentStream.h"
#include "mailbox/qvMailbox.h"

namespace qv {

class OldIndex : public TItemSink {
 public:
  // `messages` is the message list whose stored entries come here.
  explicit OldIndex(const TMailMessageList& messages) : messages_(messages) {}

  const TCollection& Collection() const override { return messages_; }
  void Clear() override;
  TCollectionItem& Begin() override;
  void End(TCollectionItem& item) override;

  // Takes one entry, after those taken before.
  void Add(const TMailMessageItem& entry);
  // The entries taken.
  std::int64_t Count() const noexcept { return count_; }

  // Whether entry `number` has the given block offset and size. False after ReleaseBlocks.
  bool BlockIs(std::int64_t number, std::int64_t offset, std::int64_t size) const noexcept;
  // Frees the offsets and sizes once the scan no longer compares blocks.
  void ReleaseBlocks() noexcept { blocks_.clear(); }

  // What a message of the store takes from an old entry.
  struct Placement {
    std::string_view folder;
    bool read = false;
  };
  // The first entry with this (non-empty) identifier: false when there is none. `repeat` tells
  // whether an earlier message took it already.
  bool MatchIdentifier(std::string_view id, Placement& placement, bool& repeat);
  // An entry without identifier that no message has taken, for a message without identifier:
  // false when there is none. Each such entry is taken once. A message whose header gave its date
  // (`dated`) takes an entry with its sender, subject and date, the first of them with its block
  // size if there is one, else the first. A message without a date of its own (its date is the
  // moment of indexing, different at every run) takes the first entry with its sender, subject
  // and block size.
  bool MatchAnonymous(std::string_view sender, std::string_view subject, TDateTime date,
                      std::int64_t blockSize, bool dated, Placement& placement);
  // The entries that no match has reached since the last ResetMatches.
  std::int64_t Unmatched() const noexcept;
  // Whether an entry of the index, read again, was reached by a match since the last ResetMatches:
  // `id` is its identifier; for one without, `anonymous` tells which of those it is (from 0, in
  // file order).
  bool Matched(std::string_view id, std::uint32_t anonymous) const noexcept;
  // Forgets every match: each entry can be taken again.
  void ResetMatches() noexcept;

 private:
  // The first entry of an identifier; its text follows the others in texts_.
  struct Identified {
    TextArena::Position text;
    std::uint32_t length;
    std::uint32_t folder;   // number of folders_
    std::uint32_t entries;  // entries with this identifier
    bool read;
    bool matched;
  };
  // The ways entries without identifier are chained: each entry is in one chain of each.
  enum Chain : std::uint8_t { kByDate, kByDateAndSize, kBySize, kChains };
  // The entries without identifier that share a key of one chain (sender, subject and date; and
  // block size; or sender, subject and block size), in file order.
  struct AnonymousKey {
    TextArena::Position text;
    std::uint32_t length;
    std::uint32_t first;  // no entry before it is still free (kNone: none is)
    std::uint32_t head;   // the first of all, for ResetMatches
    std::uint32_t last;
  };
  struct Anonymous {
    std::uint32_t folder;
    std::uint32_t next[kChains];  // the next entry of the same key in each chain (kNone: none)
    bool read;
    bool taken;
  };
  struct Block {
    std::int64_t offset, size;
  };

  std::string_view IdentifierOf(std::uint32_t n) const noexcept {
    return texts_.At(identified_[n].text, identified_[n].length);
  }
  std::string_view KeyOf(std::uint32_t n) const noexcept {
    return texts_.At(keys_[n].text, keys_[n].length);
  }
  // Puts entry `number` (the last of anonymous_) at the end of its key's list in a chain.
  void Link(Chain chain, const std::string& key, std::uint32_t number);
  // The first free entry of a key's list in a chain (kNone: none).
  std::uint32_t FirstFree(Chain chain, const std::string& key);

  const TMailMessageList& messages_;
  std::unique_ptr<TMailMessageItem> reading_;
  std::int64_t count_ = 0;
  TextArena texts_;
  TextKeys folders_;
  ChunkedVector<Identified> identified_;
  TextKeyIndex byIdentifier_;
  ChunkedVector<AnonymousKey> keys_;
  ChunkedVector<Anonymous> anonymous_;
  TextKeyIndex byKey_;
  std::int64_t anonymousTaken_ = 0;
  ChunkedVector<Block> blocks_;
};

}  // namespace qv
