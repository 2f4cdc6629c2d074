#include "repair/Merge.h"

#include <memory>

#include "base/StringUtils.h"
#include "base/TextArena.h"
#include "components/ComponentFile.h"
#include "mailbox/qvMailbox.h"

namespace qv {

namespace {
// A message's Message-ID in a finding's text, cut where it is implausibly long.
std::string Shown(std::string_view id) {
  return id.size() > 200 ? std::string(id.substr(0, 200)) + "..." : std::string(id);
}

// The entries of an index read again, each checked against the merge's matches.
class DroppedEntries : public TItemSink {
 public:
  DroppedEntries(const TMailMessageList& list, const OldIndex& old, Findings& findings)
      : list_(list), old_(old), findings_(findings) {}
  const TCollection& Collection() const override { return list_; }
  void Clear() override { number_ = anonymous_ = 0; }
  TCollectionItem& Begin() override {
    reading_ = std::make_unique<TMailMessageItem>();
    return *reading_;
  }
  void End(TCollectionItem& item) override {
    const auto& entry = static_cast<const TMailMessageItem&>(item);
    const std::string_view id = entry.MessageId();
    if (!old_.Matched(id, anonymous_)) Note(entry);
    if (id.empty()) ++anonymous_;
    ++number_;
    reading_.reset();
  }

 private:
  void Note(const TMailMessageItem& entry) {
    Finding f{entry.Offset(), number_, -1, {}};
    if (findings_.Lists(FindingKind::DroppedEntry)) {
      const DateParts d = DecodeDate(entry.Date());
      const TimeParts t = DecodeTime(entry.Date());
      f.text = "folder \"" + entry.FolderKey() + "\", from \"" + entry.Sender() + "\", subject \"" +
               entry.Subject() + "\", date " +
               Format("%04d-%02d-%02d %02d:%02d", d.year, d.month, d.day, t.hour, t.min);
    }
    findings_.Add(FindingKind::DroppedEntry, std::move(f));
  }

  const TMailMessageList& list_;
  const OldIndex& old_;
  Findings& findings_;
  std::unique_ptr<TMailMessageItem> reading_;
  std::int64_t number_ = 0;
  std::uint32_t anonymous_ = 0;
};
}  // namespace

MergeFigures MergeEntries(TCompactMessageList& rebuilt, OldIndex& old, std::int64_t leadingEntry,
                          Findings* findings) {
  old.ResetMatches();
  // Every Message-ID under its first message, for the findings only.
  TextKeyIndex firsts;
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
      if (findings) {
        const auto n = static_cast<std::uint32_t>(i);
        const std::uint32_t first = firsts.Insert(id, TextKeyIndex::Hash(id), n, identifierOf);
        if (repeat)
          findings->Add(FindingKind::DuplicateMessageId,
                        {findings->MessageOffset(i), static_cast<std::int64_t>(i), first,
                         "Message-ID " + Shown(id)});
      }
    } else {
      ++f.withoutMessageId;
      if (findings)
        findings->Add(
            FindingKind::NoMessageId,
            {findings->MessageOffset(i), static_cast<std::int64_t>(i), -1, "no Message-ID"});
      if (static_cast<std::int64_t>(i) != leadingEntry)
        match = old.MatchAnonymous(rebuilt.Sender(i), rebuilt.Subject(i), rebuilt.Date(i),
                                   rebuilt.BlockSize(i), !rebuilt.Undated(i), placement);
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

namespace qv {

void FindDroppedEntries(const OldIndex& old, const std::string& indexPath,
                        platform::FileSystem& files, Findings& findings) {
  TqvMailBox scratch(nullptr);
  DroppedEntries sink(scratch.MailItems(), old, findings);
  LoadComponentFromFile(scratch, indexPath, files, &sink);
}

}  // namespace qv
