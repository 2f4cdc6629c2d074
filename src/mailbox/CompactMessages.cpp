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
  const std::string_view texts[4] = {item.F2(), item.F7(), item.F8(), item.F9()};
  r.text = texts_.Put({texts[0], texts[1], texts[2], texts[3]});
  for (int i = 0; i < 4; ++i)
    r.length[i] = static_cast<std::uint32_t>(texts[i].size());
  r.f10 = item.F10();
  r.f15 = item.F15();
  r.f11 = item.F11();
  r.f0 = keys_.Intern(item.F0());
  r.f6 = keys_.Intern(item.F6());
  r.f3 = item.F3();
  r.flags = static_cast<std::uint8_t>((item.F1() ? kF1 : 0) | (item.F4() ? kF4 : 0) |
                                      (item.F5() ? kF5 : 0) | (item.F16() ? kF16 : 0) |
                                      (item.F17() ? kF17 : 0));
  // F12 is kept apart only when it is not the very value of F11.
  const bool extra =
      std::bit_cast<std::uint64_t>(item.F12()) != std::bit_cast<std::uint64_t>(item.F11()) ||
      item.F13() != 0 || !item.F14().empty() || item.F18() != 0 || item.F19() != 0 ||
      !item.F20().empty();
  if (extra) {
    r.flags |= kExtra;
    extras_.push_back({records_.size(),
                       {item.F12(), item.F13(), item.F18(), item.F19(), item.F14(), item.F20()}});
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
  r.f0 = keys_.Intern(folder);
  r.flags = static_cast<std::uint8_t>(read ? r.flags | kF1 : r.flags & ~kF1);
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
  item.SetF0(std::string(keys_[r.f0]));
  item.SetF1(r.flags & kF1);
  item.SetF2(text(0));
  item.SetF3(r.f3);
  item.SetF4(r.flags & kF4);
  item.SetF5(r.flags & kF5);
  item.SetF6(std::string(keys_[r.f6]));
  item.SetF7(text(1));
  item.SetF8(text(2));
  item.SetF9(text(3));
  item.SetF10(r.f10);
  item.SetF11(r.f11);
  item.SetF12(r.flags & kExtra ? extra->f12 : r.f11);
  item.SetF13(extra->f13);
  item.SetF14(extra->f14);
  item.SetF15(r.f15);
  item.SetF16(r.flags & kF16);
  item.SetF17(r.flags & kF17);
  item.SetF18(extra->f18);
  item.SetF19(extra->f19);
  item.SetF20(extra->f20);
}

}  // namespace qv
