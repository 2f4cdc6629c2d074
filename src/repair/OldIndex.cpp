#include "repair/OldIndex.h"

#include <string>

namespace qv {

namespace {
constexpr std::uint32_t kNone = TextKeyIndex::kNone;

// Sender, subject and the date's bytes as one key: entries without identifier match on all three.
std::string AnonymousKeyText(std::string_view sender, std::string_view subject, TDateTime date) {
  std::string key;
  key.reserve(sender.size() + subject.size() + 2 + sizeof date);
  key += sender;
  key += '\0';
  key += subject;
  key += '\0';
  key.append(reinterpret_cast<const char*>(&date), sizeof date);
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
  anonymous_.push_back({folder, kNone, entry.Read(), false});
  const std::string key = AnonymousKeyText(entry.Sender(), entry.Subject(), entry.Date());
  const auto keyNumber = static_cast<std::uint32_t>(keys_.size());
  const std::uint32_t stored = byKey_.Insert(key, TextKeyIndex::Hash(key), keyNumber,
                                             [this](std::uint32_t n) { return KeyOf(n); });
  if (stored != keyNumber) {
    AnonymousKey& k = keys_[stored];
    if (k.first == kNone) k.first = number;
    anonymous_[k.last].next = number;
    k.last = number;
    return;
  }
  keys_.push_back(
      {texts_.Put(key), static_cast<std::uint32_t>(key.size()), number, number, number});
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
                              Placement& placement) {
  if (keys_.empty()) return false;
  const std::string key = AnonymousKeyText(sender, subject, date);
  const std::uint32_t found =
      byKey_.Find(key, TextKeyIndex::Hash(key), [this](std::uint32_t n) { return KeyOf(n); });
  if (found == kNone) return false;
  AnonymousKey& k = keys_[found];
  if (k.first == kNone) return false;
  Anonymous& a = anonymous_[k.first];
  a.taken = true;
  k.first = a.next;
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
  for (std::size_t i = 0; i < keys_.size(); ++i)
    keys_[i].first = keys_[i].head;
  if (anonymousTaken_ > 0)
    for (std::size_t i = 0; i < anonymous_.size(); ++i)
      anonymous_[i].taken = false;
  anonymousTaken_ = 0;
}

}  // namespace qv
