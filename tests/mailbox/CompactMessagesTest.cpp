// The compact message list and the item hand-over of the component stream: an index written from
// the compact list, or read into a sink, is the index the message items give.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "base/Stream.h"
#include "components/ComponentStream.h"
#include "mailbox/CompactMessages.h"
#include "mailbox/qvMailbox.h"

namespace qv {
namespace {

std::string Save(TComponent& c, TItemSource* source = nullptr) {
  TMemoryStream s;
  WriteComponentStream(s, c, source);
  return s.TakeData();
}

// Where two streams first differ ("" when they are the same), so that a failure does not print
// whole indexes.
std::string Difference(const std::string& a, const std::string& b) {
  if (a == b) return "";
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
         ", first difference at " + std::to_string(at);
}

// An index with a folder, its own values, and entries with every kind of value: texts that are
// empty, longer than a short string, beyond 7 bits or longer than a block of the text store, 64-bit
// numbers, dates that differ and that are only equal as values, and the values entries rarely have.
void Fill(TqvMailBox& box) {
  box.SetName("MailBox");
  box.SetDesignLeft(8);
  box.SetDesignTop(56);
  box.SetPassword("secret");
  box.SetF2(7);
  box.TreeItems().NewItem().SetText("Inbox");
  std::mt19937 rng(3);
  const std::string texts[] = {"",
                               "_msInbox",
                               "_msSent",
                               "<id@example.com>",
                               "caf\xE9 \xFC",
                               std::string(300, 'a'),
                               "\"Ann\" <ann@x.org>",
                               std::string("nul\0inside", 10)};
  const double dates[] = {0.0, -0.0, 38719.5, 45000.25, -1.5};
  const std::int64_t numbers[] = {0, 1, -1, 127, 40000, std::int64_t{5} << 32, INT64_MIN};
  const auto text = [&] { return texts[rng() % std::size(texts)]; };
  const auto date = [&] { return dates[rng() % std::size(dates)]; };
  const auto number = [&] { return numbers[rng() % std::size(numbers)]; };
  for (int i = 0; i < 300; ++i) {
    TMailMessageItem& m = box.MailItems().NewItem();
    m.SetFolderKey(text());
    m.SetRead(rng() % 2);
    m.SetMessageId(text());
    m.SetPriority(static_cast<std::int32_t>(number()));
    m.SetHasAttachment(rng() % 2);
    m.SetFlag5(rng() % 5 == 0);
    m.SetAccount(text());
    m.SetSender(text());
    m.SetRecipients(text());
    m.SetSubject(text());
    m.SetBlockSize(number());
    m.SetDate(date());
    m.SetReceivedDate(rng() % 3 == 0 ? date() : m.Date());
    if (rng() % 4 == 0) {
      m.SetNumber13(static_cast<std::int32_t>(number()));
      m.SetText14(text());
      m.SetNumber18(static_cast<std::int32_t>(number()));
      m.SetNumber19(number());
      m.SetText20(text());
    }
    m.SetOffset(number());
    m.SetFlag16(rng() % 7 == 0);
    m.SetFlag17(rng() % 7 == 0);
  }
  TMailMessageItem& last = box.MailItems().NewItem();
  last.SetReceivedDate(std::numeric_limits<double>::quiet_NaN());
  last.SetRecipients(std::string(100000, 's'));
}

TEST(CompactMessages, TheIndexWrittenFromTheListIsTheIndexOfTheItems) {
  TqvMailBox whole(nullptr);
  Fill(whole);
  TCompactMessageList list;
  for (int i = 0; i < whole.MailItems().Count(); ++i)
    list.Add(whole.MailItems().ItemAt(i));
  ASSERT_EQ(list.Count(), static_cast<std::size_t>(whole.MailItems().Count()));
  const std::string expected = Save(whole);

  // The same mailbox with no items of its own: its message list comes from the compact one.
  whole.MailItems().Clear();
  whole.MailItems().NewItem().SetMessageId("not written");
  TCompactItemSource source(whole.MailItems(), list);
  EXPECT_EQ(Difference(Save(whole, &source), expected), "");

  // Filing an entry changes its folder and read state alone.
  TMailMessageItem before, after;
  list.Get(5, before);
  list.SetPlacement(5, "_usrArchive", !before.Read());
  list.Get(5, after);
  EXPECT_EQ(after.FolderKey(), "_usrArchive");
  EXPECT_EQ(after.Read(), !before.Read());
  after.SetFolderKey(before.FolderKey());
  after.SetRead(before.Read());
  TqvMailBox a(nullptr), b(nullptr);
  a.MailItems().NewItem().CopyFrom(&before);
  b.MailItems().NewItem().CopyFrom(&after);
  EXPECT_EQ(Save(a), Save(b));
}

// Records the items handed over, as copies in a collection of their own.
class RecordingSink : public TItemSink {
 public:
  explicit RecordingSink(const TCollection& collection) : collection_(collection) {}
  const TCollection& Collection() const override { return collection_; }
  void Clear() override { received.MailItems().Clear(); }
  TCollectionItem& Begin() override {
    item_ = std::make_unique<TMailMessageItem>();
    return *item_;
  }
  void End(TCollectionItem& item) override { received.MailItems().NewItem().CopyFrom(&item); }

  TqvMailBox received{nullptr};

 private:
  const TCollection& collection_;
  std::unique_ptr<TMailMessageItem> item_;
};

TEST(CompactMessages, ASinkReceivesTheItemsTheCollectionWouldHold) {
  TqvMailBox source(nullptr);
  Fill(source);
  const std::string whole = Save(source);
  const auto str = [](std::string_view text) {
    return std::string(1, static_cast<char>(text.size())) + std::string(text);
  };
  const std::size_t items = whole.find(str("MailItems")) + 10;
  // A second stored list replaces the first; an empty one leaves it.
  const auto item = [&](const char* id) {
    return "\x01" + str("F2") + "\x06" + str(id) + std::string(1, '\0');
  };
  const std::string end(1, '\0'), collection = str("MailItems") + "\x0E";
  const std::string twice = "TPF0" + str("TqvMailBox") + str("MailBox") + collection + item("a") +
                            item("b") + end + collection + item("c") + end + collection + end +
                            end + end;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"a whole index", whole},
      {"an index cut short inside an item", whole.substr(0, items + 5000)},
      {"an item whose entry is not a list", whole.substr(0, items + 1) + "\x08\x00\x00"},
      {"lists stored more than once", twice},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TqvMailBox held(nullptr), streamed(nullptr);
    RecordingSink sink(streamed.MailItems());
    std::string heldError, streamedError;
    try {
      TMemoryStream in(c.bytes);
      ReadComponentStream(in, held);
    } catch (const Exception& e) {
      heldError = e.what();
    }
    try {
      TMemoryStream in(c.bytes);
      ReadComponentStream(in, streamed, &sink);
    } catch (const Exception& e) {
      streamedError = e.what();
    }
    EXPECT_EQ(streamedError, heldError);
    EXPECT_EQ(streamed.MailItems().Count(), 0);
    EXPECT_EQ(streamed.TreeItems().Count(), held.TreeItems().Count());
    ASSERT_EQ(sink.received.MailItems().Count(), held.MailItems().Count());
    TqvMailBox heldItems(nullptr);
    heldItems.SetMailItems(&held.MailItems());
    EXPECT_EQ(Difference(Save(sink.received), Save(heldItems)), "");
  }
}

}  // namespace
}  // namespace qv
