#include "mailbox/CompactMessages.h"

#include <algorithm>
#include <bit>

namespace qv {

static_assert(sizeof(TDateTime) == sizeof(std::uint64_t));

void TCompactMessageList::Clear() noexcept {
  records_.clear();
  texts_.Clear();
  keys_.Clear();
  extras_.clear();
  extras_.shrink_to_fit();
}

void TCompactMessageList::Add(const TMailMessageItem& item) {
  Record r{};
  const std::string_view texts[4] = {item.MessageId(), item.Sender(), item.Recipients(),
                                     item.Subject()};
  r.text = texts_.Put({texts[0], texts[1], texts[2], texts[3]});
  for (int i = 0; i < 4; ++i)
    r.length[i] = static_cast<std::uint32_t>(texts[i].size());
  r.blockSize = item.BlockSize();
  r.offset = item.Offset();
  r.date = item.Date();
  r.folderKey = keys_.Intern(item.FolderKey());
  r.account = keys_.Intern(item.Account());
  r.priority = item.Priority();
  r.flags = static_cast<std::uint8_t>(
      (item.Read() ? kRead : 0) | (item.HasAttachment() ? kHasAttachment : 0) |
      (item.Flag5() ? kFlag5 : 0) | (item.Flag16() ? kFlag16 : 0) | (item.Flag17() ? kFlag17 : 0));
  // The received date is kept apart only when it is not the very value of the date.
  const bool extra = std::bit_cast<std::uint64_t>(item.ReceivedDate()) !=
                         std::bit_cast<std::uint64_t>(item.Date()) ||
                     item.Number13() != 0 || !item.Text14().empty() || item.Number18() != 0 ||
                     item.Number19() != 0 || !item.Text20().empty();
  if (extra) {
    r.flags |= kExtra;
    extras_.push_back({records_.size(),
                       {item.ReceivedDate(), item.Number13(), item.Number18(), item.Number19(),
                        item.Text14(), item.Text20()}});
  }
  records_.push_back(r);
}

std::string_view TCompactMessageList::Text(std::size_t index, int which) const noexcept {
  const Record& r = records_[index];
  std::size_t from = 0;
  for (int i = 0; i < which; ++i)
    from += r.length[i];
  return texts_.At(r.text + from, r.length[which]);
}

void TCompactMessageList::SetPlacement(std::size_t index, std::string_view folder, bool read) {
  Record& r = records_[index];
  r.folderKey = keys_.Intern(folder);
  r.flags = static_cast<std::uint8_t>(read ? r.flags | kRead : r.flags & ~kRead);
}

void TCompactMessageList::Get(std::size_t index, TMailMessageItem& item) const {
  const Record& r = records_[index];
  static const Extra kNoExtra{};
  const Extra* extra = &kNoExtra;
  if (r.flags & kExtra) {
    const auto it = std::lower_bound(
        extras_.begin(), extras_.end(), index,
        [](const std::pair<std::size_t, Extra>& e, std::size_t i) { return e.first < i; });
    extra = &it->second;
  }
  const auto text = [&](int which) { return std::string(Text(index, which)); };
  item.SetFolderKey(std::string(keys_[r.folderKey]));
  item.SetRead(r.flags & kRead);
  item.SetMessageId(text(0));
  item.SetPriority(r.priority);
  item.SetHasAttachment(r.flags & kHasAttachment);
  item.SetFlag5(r.flags & kFlag5);
  item.SetAccount(std::string(keys_[r.account]));
  item.SetSender(text(1));
  item.SetRecipients(text(2));
  item.SetSubject(text(3));
  item.SetBlockSize(r.blockSize);
  item.SetDate(r.date);
  item.SetReceivedDate(r.flags & kExtra ? extra->receivedDate : r.date);
  item.SetNumber13(extra->number13);
  item.SetText14(extra->text14);
  item.SetOffset(r.offset);
  item.SetFlag16(r.flags & kFlag16);
  item.SetFlag17(r.flags & kFlag17);
  item.SetNumber18(extra->number18);
  item.SetNumber19(extra->number19);
  item.SetText20(extra->text20);
}

}  // namespace qv
