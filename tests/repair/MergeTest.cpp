// The merge of the rebuilt entries with the old index: the first old entry with the same
// identifier gives folder and read state; everything else comes from the store.
#include <gtest/gtest.h>

#include "components/ComponentStream.h"
#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

class Merge : public RepairFixture {
 protected:
  Merge() : form_(fake_.services(), view_, registry_) {}

  void Old(const std::vector<OldEntry>& entries) {
    for (const auto& e : entries) {
      TMailMessageItem item;
      item.SetMessageId(e.id);
      item.SetFolderKey(e.folder);
      item.SetRead(e.read);
      item.SetSubject("old subject");
      form_.OldEntries().Add(item);
    }
  }
  void Rebuilt(const std::vector<std::string>& ids) {
    for (const auto& id : ids) {
      TMailMessageItem item;
      item.SetFolderKey(kInboxKey);
      item.SetMessageId(id);
      form_.IndexEntries().Add(item);
    }
  }
  // Folder and read state of the merged entries, as "folder/1" or "folder/0".
  std::vector<std::string> Placement() const {
    std::vector<std::string> r;
    const TCompactMessageList& entries = form_.IndexEntries();
    for (std::size_t i = 0; i < entries.Count(); ++i)
      r.push_back(std::string(entries.FolderKey(i)) + (entries.Read(i) ? "/1" : "/0"));
    return r;
  }
  // The index a repair writes after the merge, read back.
  std::unique_ptr<TqvMailBox> WrittenIndex() {
    TMemoryStream stream;
    TCompactItemSource entries(form_.MailBox.MailItems(), form_.IndexEntries());
    WriteComponentStream(stream, form_.MailBox, &entries);
    stream.SetPosition(0);
    auto box = std::make_unique<TqvMailBox>(nullptr);
    ReadComponentStream(stream, *box);
    return box;
  }

  TForm1 form_;
};

TEST_F(Merge, FirstOldEntryWithTheSameIdentifierPlacesTheMessage) {
  struct Case {
    const char* what;
    std::vector<OldEntry> old;
    std::vector<std::string> rebuilt;
    std::vector<std::string> placement;
  };
  const Case cases[] = {
      {"duplicates take the first old entry",
       {{"<a>", "_msSent", true}, {"<a>", "_msTrash", false}},
       {"<a>", "<a>"},
       {"_msSent/1", "_msSent/1"}},
      {"an empty identifier alone matches nothing",
       {{"<x>", "_msSent", true}, {"", "_msDrafts", true}, {"", "_msTrash", false}},
       {"", "<y>"},
       {"_msInbox/0", "_msInbox/0"}},
      {"letter case matters", {{"<A@x>", "_msSent", true}}, {"<a@x>"}, {"_msInbox/0"}},
      {"no old entries", {}, {"<a>", ""}, {"_msInbox/0", "_msInbox/0"}},
      {"unknown folders pass through",
       {{"<a>", "_msNoSuchFolder", false}},
       {"<a>"},
       {"_msNoSuchFolder/0"}},
      {"empty store", {{"<a>", "_msSent", true}}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    form_.OldEntries().Clear();
    form_.IndexEntries().Clear();
    Old(c.old);
    Rebuilt(c.rebuilt);
    form_.MergeIndex();
    EXPECT_EQ(Placement(), c.placement);
  }
}

// Thousands of messages without a Message-ID all took the state of the first old entry without
// one. Now such a message takes an old entry without identifier only when sender, subject and
// date agree, each old entry once, in order.
TEST_F(Merge, MessagesWithoutIdentifierMatchBySenderSubjectAndDate) {
  auto entry = [](TMailMessageItem& e, const char* from, const char* subject, TDateTime date) {
    e.SetSender(from);
    e.SetSubject(subject);
    e.SetDate(date);
  };
  const struct {
    const char* from;
    const char* subject;
    TDateTime date;
    const char* folder;
  } old[] = {{"ann", "hello", 40000.5, "_msSent"},
             {"ann", "hello", 40000.5, "_msDrafts"},
             {"bob", "hello", 40000.5, "_msTrash"},
             {"ann", "hello", 40001.5, "_msArchive"}};
  for (const auto& o : old) {
    TMailMessageItem e;
    e.SetFolderKey(o.folder);
    e.SetRead(true);
    entry(e, o.from, o.subject, o.date);
    form_.OldEntries().Add(e);
  }
  const struct {
    const char* from;
    const char* subject;
    TDateTime date;
  } rebuilt[] = {{"ann", "hello", 40000.5},
                 {"ann", "hello", 40000.5},
                 {"ann", "hello", 40000.5},
                 {"ann", "other", 40001.5},
                 {"bob", "hello", 40000.5}};
  for (const auto& r : rebuilt) {
    TMailMessageItem e;
    e.SetFolderKey(kInboxKey);
    entry(e, r.from, r.subject, r.date);
    form_.IndexEntries().Add(e);
  }
  form_.MergeIndex();
  EXPECT_EQ(Placement(), (std::vector<std::string>{"_msSent/1", "_msDrafts/1", "_msInbox/0",
                                                   "_msInbox/0", "_msTrash/1"}));
  EXPECT_EQ(form_.Figures().carriedOver, 3);
  EXPECT_EQ(form_.Figures().withoutMessageId, 5);
  EXPECT_EQ(form_.Figures().droppedEntries, 1);
}

// Every old entry that no message takes is dropped, also the second of an identifier; every
// message whose identifier an earlier message has is a duplicate, known to the old index or not.
TEST_F(Merge, FiguresCountEveryEntryAndEveryRepeat) {
  struct Case {
    const char* what;
    std::vector<OldEntry> old;
    std::vector<std::string> rebuilt;
    std::int64_t carried, dropped, duplicates;
  };
  const Case cases[] = {
      {"an identifier twice in the old index, once in the store",
       {{"<a>", "_msSent", true}, {"<a>", "_msTrash", false}},
       {"<a>"},
       1,
       0,
       0},
      {"an identifier twice in the old index, gone from the store",
       {{"<a>", "_msSent", true}, {"<gone>", "_msSent", true}, {"<gone>", "_msTrash", true}},
       {"<a>"},
       1,
       2,
       0},
      {"a known identifier three times in the store",
       {{"<a>", "_msSent", true}},
       {"<a>", "<a>", "<a>"},
       3,
       0,
       2},
      {"an unknown identifier three times in the store",
       {{"<a>", "_msSent", true}},
       {"<n>", "<n>", "<a>", "<n>"},
       1,
       0,
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    form_.OldEntries().Clear();
    form_.IndexEntries().Clear();
    Old(c.old);
    Rebuilt(c.rebuilt);
    form_.MergeIndex();
    const RepairFigures& f = form_.Figures();
    EXPECT_EQ(f.messages, static_cast<std::int64_t>(c.rebuilt.size()));
    EXPECT_EQ(f.oldEntries, static_cast<std::int64_t>(c.old.size()));
    EXPECT_EQ(f.carriedOver, c.carried);
    EXPECT_EQ(f.newInInbox, f.messages - c.carried);
    EXPECT_EQ(f.droppedEntries, c.dropped);
    EXPECT_EQ(f.duplicateMessageIds, c.duplicates);
  }
}

TEST_F(Merge, MergedEntriesHoldEveryValueOfTheRebuiltOnes) {
  form_.MailBox.TreeItems().NewItem().SetText("Inbox");
  form_.MailBox.SetMailDir("\\elsewhere");
  Old({{"<a>", "_msSent", true}, {"<stale>", "_msTrash", true}});
  TMailMessageItem r;
  r.SetFolderKey(kInboxKey);
  r.SetMessageId("<a>");
  r.SetPriority(2);
  r.SetHasAttachment(true);
  r.SetAccount("Work");
  r.SetSubject("new subject");
  r.SetBlockSize(123);
  r.SetDate(38000.5);
  r.SetReceivedDate(38000.5);
  r.SetOffset(std::int64_t{5} << 32);  // beyond 4 GiB
  r.SetNumber18(7);
  r.SetText20("twenty");
  form_.IndexEntries().Add(r);
  form_.MergeIndex();

  const std::unique_ptr<TqvMailBox> written = WrittenIndex();
  ASSERT_EQ(written->MailItems().Count(), 1);
  const auto& m = written->MailItems().ItemAt(0);
  EXPECT_EQ(m.FolderKey(), "_msSent");
  EXPECT_TRUE(m.Read());
  EXPECT_EQ(m.Subject(), "new subject");
  EXPECT_EQ(m.Offset(), std::int64_t{5} << 32);
  EXPECT_EQ(m.Number18(), 7);
  EXPECT_EQ(m.Text20(), "twenty");
  EXPECT_EQ(m.Priority(), 2);
  EXPECT_TRUE(m.HasAttachment());
  EXPECT_EQ(m.BlockSize(), 123);
  EXPECT_EQ(m.Date(), 38000.5);
  EXPECT_EQ(m.ReceivedDate(), 38000.5);
  EXPECT_EQ(m.Account(), "Work");
  // The rest of the old index is written as it was.
  EXPECT_EQ(written->TreeItems().Count(), 1);
  EXPECT_EQ(written->MailDir(), "\\elsewhere");
}

TEST_F(Merge, LargeListsMatchTheFirstOldEntryOfEachIdentifier) {
  // 50000 messages against 50000 old entries: a walk of the old list per message would take
  // billions of comparisons; the merge must give the same result quickly.
  constexpr int kCount = 50000;
  std::vector<OldEntry> old;
  old.reserve(kCount);
  for (int i = 0; i < kCount; ++i)
    old.push_back(
        {"<" + std::to_string(i % (kCount / 2)) + ">", "_f" + std::to_string(i), i % 3 == 0});
  Old(old);
  std::vector<std::string> ids;
  for (int i = 0; i < kCount; ++i)
    ids.push_back("<" + std::to_string(kCount - 1 - i) + ">");
  Rebuilt(ids);
  form_.MergeIndex();
  const TCompactMessageList& entries = form_.IndexEntries();
  ASSERT_EQ(entries.Count(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) {
    const int id = kCount - 1 - i;
    const auto at = static_cast<std::size_t>(i);
    if (id < kCount / 2) {
      ASSERT_EQ(entries.FolderKey(at), "_f" + std::to_string(id)) << i;
      ASSERT_EQ(entries.Read(at), id % 3 == 0) << i;
    } else {
      ASSERT_EQ(entries.FolderKey(at), "_msInbox") << i;
      ASSERT_FALSE(entries.Read(at)) << i;
    }
  }
}

}  // namespace
}  // namespace qv::test
