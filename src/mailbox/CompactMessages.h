// The message entries of a mailbox index held compactly, for lists of millions of entries: one
// record of 64 bytes per entry, the folder keys and account names stored once each, the other
// texts in one arena, and the values that entries rarely have (a received date other than the
// date, and the fields the repair does not fill) beside them. Every value a TMailMessageItem holds
// is kept, so the index written from this list is the index written from the items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "base/TextArena.h"
#include "components/ComponentStream.h"
#include "mailbox/qvMailbox.h"

namespace qv {

class TCompactMessageList {
 public:
  std::size_t Count() const noexcept { return records_.size(); }
  void Clear() noexcept;
  // Appends an entry with the item's 21 values.
  void Add(const TMailMessageItem& item);
  // Sets all 21 values of an entry into `item`, through its setters.
  void Get(std::size_t index, TMailMessageItem& item) const;

  // The values the merge reads and sets.
  std::string_view FolderKey(std::size_t index) const noexcept {
    return keys_[records_[index].folderKey];
  }
  bool Read(std::size_t index) const noexcept { return records_[index].flags & kRead; }
  std::string_view MessageId(std::size_t index) const noexcept { return Text(index, 0); }
  std::string_view Sender(std::size_t index) const noexcept { return Text(index, 1); }
  std::string_view Subject(std::size_t index) const noexcept { return Text(index, 3); }
  TDateTime Date(std::size_t index) const noexcept { return records_[index].date; }
  // Files an entry: its folder key and read state.
  void SetPlacement(std::size_t index, std::string_view folder, bool read);

 private:
  enum Flag : std::uint8_t {
    kRead = 1,
    kHasAttachment = 2,
    kFlag5 = 4,
    kFlag16 = 8,
    kFlag17 = 16,
    kExtra = 32
  };
  // Message-ID, sender, recipients and subject lie one after the other at `text`.
  struct Record {
    TextArena::Position text;
    std::uint32_t length[4];
    std::int64_t blockSize, offset;
    TDateTime date;
    std::uint32_t folderKey, account;  // numbers of keys_
    std::int32_t priority;
    std::uint8_t flags;
  };
  struct Extra {
    TDateTime receivedDate;
    std::int32_t number13, number18;
    std::int64_t number19;
    std::string text14, text20;
  };

  std::string_view Text(std::size_t index, int which) const noexcept;

  ChunkedVector<Record> records_;
  TextArena texts_;
  TextKeys keys_;
  std::vector<std::pair<std::size_t, Extra>> extras_;  // by entry number, ascending
};

// A compact list as the items of `collection` in a stream being written.
class TCompactItemSource : public TItemSource {
 public:
  TCompactItemSource(const TCollection& collection, const TCompactMessageList& list)
      : collection_(collection), list_(list) {}
  const TCollection& Collection() const override { return collection_; }
  std::size_t Count() const override { return list_.Count(); }
  TCollectionItem& Item(std::size_t index) override {
    list_.Get(index, item_);
    return item_;
  }

 private:
  const TCollection& collection_;
  const TCompactMessageList& list_;
  TMailMessageItem item_;
};

}  // namespace qv
