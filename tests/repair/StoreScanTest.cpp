// The scan as a step of its own: any sink takes the messages it finds, in store order, and the
// result says what it found, with no form around it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "repair/RepairFixture.h"
#include "repair/StoreScan.h"

namespace qv::test {
namespace {

// Takes the blocks as they come, as a sink that writes elsewhere would.
class RecordingSink : public MessageSink {
 public:
  bool opens = true;
  std::vector<std::string> blocks;  // "number|separator|lines joined by /|ending"
  int closes = 0;
  bool Open(std::string& error) override {
    if (!opens) error = "refused";
    return opens;
  }
  BlockPlace Put(const MessageBlock& b, const TMailMessageItem& entry) override {
    std::string text = std::to_string(b.number) + "|" + std::string(b.separator) + "|";
    for (const std::string_view line : b.lines)
      text += std::string(line) + "/";
    blocks.push_back(text + "|" + std::to_string(b.ending.size()) + "|" + entry.Subject());
    return {static_cast<std::int64_t>(blocks.size()) * 100, 7};
  }
  void Close() override { ++closes; }
};

class StoreScanTest : public RepairFixture {};

TEST_F(StoreScanTest, AnySinkTakesTheMessagesAndTheResultSaysWhatWasFound) {
  const std::string sep = "From a@b Mon Jan 05 10:00:00 2004\n";
  struct Case {
    const char* name;
    std::string store;  // (no file for "missing")
    bool opens;
    ScanStatus status;
    std::vector<std::string> blocks;
    std::int64_t leadingBytes, leadingEntry;
  };
  const Case cases[] = {
      {"missing", "", true, ScanStatus::Missing, {}, 0, -1},
      {"refused", sep + "Subject: s\n", false, ScanStatus::CreateFailed, {}, 0, -1},
      {"no separator", "text\n", true, ScanStatus::NoMessages, {}, 5, -1},
      {"empty", "", true, ScanStatus::Scanned, {}, 0, -1},
      {"messages",
       "lead\n" + sep + "Subject: one\n\nbody\n" + sep + sep + "Subject: three\n",
       true,
       ScanStatus::Scanned,
       {"0|From  Tue Dec 08 14:23:50 2026|lead/|4|",
        "1|From  Tue Dec 08 14:23:50 2026|Subject: one//body/|4|one",
        "2|From  Tue Dec 08 14:23:50 2026||2|",
        "3|From  Tue Dec 08 14:23:50 2026|Subject: three/|4|three"},
       5,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path store = File("mailbox.mbx");
    fs::remove(store);
    if (std::string(c.name) != "missing") WriteFile(store, c.store);
    TclMailMessage message(nullptr, fake_.clock);
    TqvProfile profile(nullptr);
    RecordingSink sink;
    sink.opens = c.opens;
    TCompactMessageList entries;
    MessageIndexer indexer(message, profile.Accounts(), fake_.clock, sink, entries);
    ScanResult found;
    ScanStore({fake_.files, fake_.clock, fake_.locale.Names(), store.string(), nullptr}, indexer,
              nullptr, found);
    EXPECT_EQ(found.status, c.status);
    EXPECT_EQ(sink.blocks, c.blocks);
    EXPECT_EQ(entries.Count(), c.blocks.size());
    EXPECT_EQ(found.messages, c.status == ScanStatus::Missing ? -1 : std::int64_t(c.blocks.size()));
    EXPECT_EQ(found.leadingBytes, c.leadingBytes);
    EXPECT_EQ(found.leadingEntry, c.leadingEntry);
    EXPECT_EQ(sink.closes, 0);  // the caller closes the sink
    // Each entry takes the place the sink gave its block.
    for (std::size_t i = 0; i < entries.Count(); ++i) {
      TMailMessageItem entry;
      entries.Get(i, entry);
      EXPECT_EQ(entry.Offset(), static_cast<std::int64_t>(i + 1) * 100);
      EXPECT_EQ(entry.BlockSize(), 7);
    }
    EXPECT_EQ(found.error, c.opens ? "" : "refused");
  }
}

}  // namespace
}  // namespace qv::test
