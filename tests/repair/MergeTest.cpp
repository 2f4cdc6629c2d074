// The merge of the rebuilt entries into the working index: the first old entry with the same
// identifier gives folder and read state; everything else comes from the store.
#include <gtest/gtest.h>

#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

class Merge : public RepairFixture {
 protected:
  Merge() : form_(fake_.services(), view_, registry_) {}

  void Old(const std::vector<OldEntry>& entries) {
    for (const auto& e : entries) {
      auto& item = form_.MailBox.MailItems().NewItem();
      item.SetF2(e.id);
      item.SetF0(e.folder);
      item.SetF1(e.read);
      item.SetF9("old subject");
    }
  }
  void Rebuilt(const std::vector<std::string>& ids) {
    for (const auto& id : ids) {
      auto& item = form_.qvMailBox.MailItems().NewItem();
      item.SetF0(kInboxKey);
      item.SetF2(id);
    }
  }
  // Folder and read state of the merged entries, as "folder/1" or "folder/0".
  std::vector<std::string> Placement() const {
    std::vector<std::string> r;
    const auto& items = form_.MailBox.MailItems();
    for (int i = 0; i < items.Count(); ++i)
      r.push_back(items.ItemAt(i).F0() + (items.ItemAt(i).F1() ? "/1" : "/0"));
    return r;
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
    form_.MailBox.MailItems().Clear();
    form_.qvMailBox.MailItems().Clear();
    Old(c.old);
    Rebuilt(c.rebuilt);
    form_.MergeIndex();
    EXPECT_EQ(Placement(), c.placement);
    EXPECT_EQ(form_.qvMailBox.MailItems().Count(), static_cast<int>(c.rebuilt.size()));
  }
}

// Thousands of messages without a Message-ID all took the state of the first old entry without
// one. Now such a message takes an old entry without identifier only when sender, subject and
// date agree, each old entry once, in order.
TEST_F(Merge, MessagesWithoutIdentifierMatchBySenderSubjectAndDate) {
  auto entry = [](TMailMessageItem& e, const char* from, const char* subject, TDateTime date) {
    e.SetF7(from);
    e.SetF9(subject);
    e.SetF11(date);
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
    auto& e = form_.MailBox.MailItems().NewItem();
    e.SetF0(o.folder);
    e.SetF1(true);
    entry(e, o.from, o.subject, o.date);
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
    auto& e = form_.qvMailBox.MailItems().NewItem();
    e.SetF0(kInboxKey);
    entry(e, r.from, r.subject, r.date);
  }
  form_.MergeIndex();
  EXPECT_EQ(Placement(), (std::vector<std::string>{"_msSent/1", "_msDrafts/1", "_msInbox/0",
                                                   "_msInbox/0", "_msTrash/1"}));
}

TEST_F(Merge, MergedEntriesHoldEveryValueOfTheRebuiltOnes) {
  form_.MailBox.TreeItems().NewItem().SetText("Inbox");
  form_.MailBox.SetMailDir("\\elsewhere");
  Old({{"<a>", "_msSent", true}, {"<stale>", "_msTrash", true}});
  auto& r = form_.qvMailBox.MailItems().NewItem();
  r.SetF0(kInboxKey);
  r.SetF2("<a>");
  r.SetF3(2);
  r.SetF4(true);
  r.SetF6("Work");
  r.SetF9("new subject");
  r.SetF10(123);
  r.SetF11(38000.5);
  r.SetF12(38000.5);
  r.SetF15(std::int64_t{5} << 32);  // beyond 4 GiB
  r.SetF18(7);
  r.SetF20("twenty");
  form_.MergeIndex();

  ASSERT_EQ(form_.MailBox.MailItems().Count(), 1);
  const auto& m = form_.MailBox.MailItems().ItemAt(0);
  // The rebuilt entry itself took folder and read state; the merged one is a copy of it.
  EXPECT_EQ(r.F0(), "_msSent");
  EXPECT_TRUE(r.F1());
  EXPECT_EQ(m.F0(), "_msSent");
  EXPECT_TRUE(m.F1());
  EXPECT_EQ(m.F9(), "new subject");
  EXPECT_EQ(m.F15(), std::int64_t{5} << 32);
  EXPECT_EQ(m.F18(), 7);
  EXPECT_EQ(m.F20(), "twenty");
  EXPECT_EQ(m.F3(), 2);
  EXPECT_TRUE(m.F4());
  EXPECT_EQ(m.F10(), 123);
  EXPECT_EQ(m.F11(), 38000.5);
  // The rest of the working index is left as it was.
  EXPECT_EQ(form_.MailBox.TreeItems().Count(), 1);
  EXPECT_EQ(form_.MailBox.MailDir(), "\\elsewhere");
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
  const auto& items = form_.MailBox.MailItems();
  ASSERT_EQ(items.Count(), kCount);
  for (int i = 0; i < kCount; ++i) {
    const int id = kCount - 1 - i;
    const auto& e = items.ItemAt(i);
    if (id < kCount / 2) {
      ASSERT_EQ(e.F0(), "_f" + std::to_string(id)) << i;
      ASSERT_EQ(e.F1(), id % 3 == 0) << i;
    } else {
      ASSERT_EQ(e.F0(), "_msInbox") << i;
      ASSERT_FALSE(e.F1()) << i;
    }
  }
}

}  // namespace
}  // namespace qv::test
