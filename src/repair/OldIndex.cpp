#include "repair/OldIndex.h"

#include <string>

namespace qv {

namespace {
constexpr std::uint32_t kNone = TextKeyIndex::kNone;

// A key of a chain: the chain, the sender and the subject (each after its length) and the date's
// bytes, the block size's, or both.
template <class... Values>
std::string AnonymousKeyText(char chain, std::string_view sender, std::string_view subject,
                             const Values&... values) {
  std::string key(1, chain);
  for (const std::string_view text : {sender, subject}) {
    const auto length = static_cast<std::uint32_t>(text.size());
    key.append(reinterpret_cast<const char*>(&length), sizeof length);
    key += text;
  }
  (key.append(reinterpret_cast<const char*>(&values), sizeof values), ...);
  return key;
}
}  // namespace

void OldIndex::Clear() {
  count_ = 0;
  texts_.Clear();
  folders_.Clear();
  identified_.clear();
  byIdentifier_.Clear();
  keys_.clear();
  anonymous_.clear();
  byKey_.Clear();
  anonymousTaken_ = 0;
  blocks_.clear();
}

TCollectionItem& OldIndex::Begin() {
  reading_ = std::make_unique<TMailMessageItem>();
  return *reading_;
}

void OldIndex::End(TCollectionItem& item) {
  Add(static_cast<const TMailMessageItem&>(item));
  reading_.reset();
}

void OldIndex::Add(const TMailMessageItem& entry) {
  ++count_;
  blocks_.push_back({entry.Offset(), entry.BlockSize()});
  const std::uint32_t folder = folders_.Intern(entry.FolderKey());
  const std::string_view id = entry.MessageId();
  if (!id.empty()) {
    const auto number = static_cast<std::uint32_t>(identified_.size());
    // The indexes look only at numbers stored before, so a record may be kept after it is indexed.
    const std::uint32_t stored = byIdentifier_.Insert(
        id, TextKeyIndex::Hash(id), number, [this](std::uint32_t n) { return IdentifierOf(n); });
    if (stored != number) {
      ++identified_[stored].entries;
      return;
    }
    identified_.push_back(
        {texts_.Put(id), static_cast<std::uint32_t>(id.size()), folder, 1, entry.Read(), false});
    return;
  }
  const auto number = static_cast<std::uint32_t>(anonymous_.size());
  anonymous_.push_back({folder, {kNone, kNone, kNone}, entry.Read(), false});
  const std::int64_t size = entry.BlockSize();
  const TDateTime date = entry.Date();
  Link(kByDate, AnonymousKeyText(kByDate, entry.Sender(), entry.Subject(), date), number);
  Link(kByDateAndSize,
       AnonymousKeyText(kByDateAndSize, entry.Sender(), entry.Subject(), date, size), number);
  Link(kBySize, AnonymousKeyText(kBySize, entry.Sender(), entry.Subject(), size), number);
}

void OldIndex::Link(Chain chain, const std::string& key, std::uint32_t number) {
  const auto keyNumber = static_cast<std::uint32_t>(keys_.size());
  const std::uint32_t stored = byKey_.Insert(key, TextKeyIndex::Hash(key), keyNumber,
                                             [this](std::uint32_t n) { return KeyOf(n); });
  if (stored != keyNumber) {
    AnonymousKey& k = keys_[stored];
    if (k.first == kNone) k.first = number;
    anonymous_[k.last].next[chain] = number;
    k.last = number;
    return;
  }
  keys_.push_back(
      {texts_.Put(key), static_cast<std::uint32_t>(key.size()), number, number, number});
}

std::uint32_t OldIndex::FirstFree(Chain chain, const std::string& key) {
  const std::uint32_t found =
      byKey_.Find(key, TextKeyIndex::Hash(key), [this](std::uint32_t n) { return KeyOf(n); });
  if (found == kNone) return kNone;
  // Entries taken through another chain are passed once: `first` only moves on.
  std::uint32_t& first = keys_[found].first;
  while (first != kNone && anonymous_[first].taken)
    first = anonymous_[first].next[chain];
  return first;
}

bool OldIndex::BlockIs(std::int64_t number, std::int64_t offset, std::int64_t size) const noexcept {
  if (number < 0 || static_cast<std::uint64_t>(number) >= blocks_.size()) return false;
  const Block& b = blocks_[static_cast<std::size_t>(number)];
  return b.offset == offset && b.size == size;
}

bool OldIndex::MatchIdentifier(std::string_view id, Placement& placement, bool& repeat) {
  const std::uint32_t found = byIdentifier_.Find(
      id, TextKeyIndex::Hash(id), [this](std::uint32_t n) { return IdentifierOf(n); });
  if (found == kNone) return false;
  Identified& e = identified_[found];
  repeat = e.matched;
  e.matched = true;
  placement = {folders_[e.folder], e.read};
  return true;
}

bool OldIndex::MatchAnonymous(std::string_view sender, std::string_view subject, TDateTime date,
                              std::int64_t blockSize, bool dated, Placement& placement) {
  if (keys_.empty()) return false;
  std::uint32_t n = kNone;
  if (dated) {
    n = FirstFree(kByDateAndSize,
                  AnonymousKeyText(kByDateAndSize, sender, subject, date, blockSize));
    if (n == kNone) n = FirstFree(kByDate, AnonymousKeyText(kByDate, sender, subject, date));
  } else {
    n = FirstFree(kBySize, AnonymousKeyText(kBySize, sender, subject, blockSize));
  }
  if (n == kNone) return false;
  Anonymous& a = anonymous_[n];
  a.taken = true;
  ++anonymousTaken_;
  placement = {folders_[a.folder], a.read};
  return true;
}

std::int64_t OldIndex::Unmatched() const noexcept {
  std::int64_t unmatched = static_cast<std::int64_t>(anonymous_.size()) - anonymousTaken_;
  for (std::size_t i = 0; i < identified_.size(); ++i)
    if (!identified_[i].matched) unmatched += identified_[i].entries;
  return unmatched;
}

bool OldIndex::Matched(std::string_view id, std::uint32_t anonymous) const noexcept {
  if (id.empty()) return anonymous < anonymous_.size() && anonymous_[anonymous].taken;
  const std::uint32_t found = byIdentifier_.Find(
      id, TextKeyIndex::Hash(id), [this](std::uint32_t n) { return IdentifierOf(n); });
  return found != kNone && identified_[found].matched;
}

void OldIndex::ResetMatches() noexcept {
  for (std::size_t i = 0; i < identified_.size(); ++i)
    identified_[i].matched = false;
  for (std::size_t i = 0; i < anonymous_.size(); ++i)
    anonymous_[i].taken = false;
  for (std::size_t i = 0; i < keys_.size(); ++i)
    keys_[i].first = keys_[i].head;
  anonymousTaken_ = 0;
}

}  // namespace qv
