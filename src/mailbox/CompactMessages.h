// The message entries of a mailbox index held compactly, for lists of millions of entries: one
// record of 64 bytes per entry, the folder keys and account names stored once each, the other
// texts in one arena, and the values that entries rarely have (F12 other than F11, F13, F14, F18,
// F19, F20) beside them. Every value a TMailMessageItem holds is kept, so the index written from
// this list is the index written from the items.
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
  std::string_view F0(std::size_t index) const noexcept { return keys_[records_[index].f0]; }
  bool F1(std::size_t index) const noexcept { return records_[index].flags & kF1; }
  std::string_view F2(std::size_t index) const noexcept { return Text(index, 0); }
  std::string_view F7(std::size_t index) const noexcept { return Text(index, 1); }
  std::string_view F9(std::size_t index) const noexcept { return Text(index, 3); }
  TDateTime F11(std::size_t index) const noexcept { return records_[index].f11; }
  // Files an entry: folder key (F0) and read state (F1).
  void SetPlacement(std::size_t index, std::string_view folder, bool read);

 private:
  enum Flag : std::uint8_t { kF1 = 1, kF4 = 2, kF5 = 4, kF16 = 8, kF17 = 16, kExtra = 32 };
  // F2, F7, F8 and F9 lie one after the other at `text`.
  struct Record {
    TextArena::Position text;
    std::uint32_t length[4];
    std::int64_t f10, f15;
    TDateTime f11;
    std::uint32_t f0, f6;  // numbers of keys_
    std::int32_t f3;
    std::uint8_t flags;
  };
  struct Extra {
    TDateTime f12;
    std::int32_t f13, f18;
    std::int64_t f19;
    std::string f14, f20;
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
