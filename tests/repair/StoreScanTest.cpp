// The scan as a step of its own: any sink takes the messages it finds, in store order, and the
// result says what it found, with no form around it.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "repair/Findings.h"
#include "repair/RepairFixture.h"
#include "repair/StoreScan.h"

namespace qv::test {
namespace {

// Takes the blocks as they come, as a sink that writes elsewhere would.
class RecordingSink : public MessageSink {
 public:
  bool opens = true;
  int exhaustAt = -1;               // the block whose Put runs out of memory
  std::vector<std::string> blocks;  // "number|separator|lines joined by /|ending"
  int closes = 0;
  bool Open(std::string& error) override {
    if (!opens) error = "refused";
    return opens;
  }
  BlockPlace Put(const MessageBlock& b, const TMailMessageItem& entry) override {
    if (static_cast<int>(b.number) == exhaustAt) throw std::bad_alloc();
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
    if (c.status == ScanStatus::Missing || c.status == ScanStatus::NoMessages)
      EXPECT_EQ(found.error.rfind("\"" + store.string() + "\": ", 0), 0u) << found.error;
    else
      EXPECT_EQ(found.error, c.opens ? "" : "refused");
  }
}

// A message too large for memory ended the run in a bare "std::bad_alloc": the scan says which
// message it was reading, and that memory ran out.
TEST_F(StoreScanTest, RunningOutOfMemoryNamesTheMessage) {
  const std::string sep = "From a@b Mon Jan 05 10:00:00 2004\n";
  WriteFile(File("mailbox.mbx"), sep + "Subject: one\n" + sep + "Subject: two\n\nbody\n");
  TclMailMessage message(nullptr, fake_.clock);
  TqvProfile profile(nullptr);
  RecordingSink sink;
  sink.exhaustAt = 1;
  TCompactMessageList entries;
  MessageIndexer indexer(message, profile.Accounts(), fake_.clock, sink, entries);
  ScanResult found;
  try {
    ScanStore(
        {fake_.files, fake_.clock, fake_.locale.Names(), File("mailbox.mbx").string(), nullptr},
        indexer, nullptr, found);
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), kScanOutOfMemory);
    EXPECT_NE(e.Detail().find("the message at offset 47, 53 bytes"), std::string::npos)
        << e.Detail();
  }
}

// A store built to hold each kind of finding once, piece by piece: each finding is expected where
// its piece begins, with its message's number (from 0).
TEST_F(StoreScanTest, DetailsSayWhatIsDamagedWhere) {
  using K = FindingKind;
  using Row = std::tuple<K, std::int64_t, std::int64_t, std::int64_t>;  // offset, message, other
  std::string store;
  std::vector<Row> expected;
  auto here = [&](K kind, std::int64_t message, std::int64_t other = -1) {
    expected.emplace_back(kind, static_cast<std::int64_t>(store.size()), message, other);
  };
  here(K::LeadingText, 0);
  here(K::NoMessageId, 0);
  store += "stray text\r\n\r\n";
  here(K::Separator, 1);  // no address
  store += "From  Tue Dec 08 14:23:50 2026\r\nMessage-ID: <m1>\r\n";
  store += "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n";
  store += "Content-Transfer-Encoding: base64\r\n\r\nQUJD";
  here(K::BadEncoding, 1);
  store += "!\r\n--b\r\n\r\n";
  here(K::MimeCutShort, 1);  // no closing delimiter: at the message's last line
  store += "text\r\n";
  store += Sep("a@b") + "Message-ID: <d>\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na";
  here(K::BadEncoding, 2);
  store += "=ZZ b";
  here(K::StrayCr, 2);
  store += "\r c";
  here(K::NulByte, 2);
  store += std::string(1, '\0');
  here(K::CtrlZByte, 2);
  store += "\x1a\r\n";
  here(K::Separator, 2);  // its date does not parse: a line of message 2
  store += "From x@y Tue Dec 08 14:23:50 2026 +0100\r\n";
  here(K::DuplicateMessageId, 3, 2);
  store += Sep("a@b");
  here(K::HeaderNotEnded, 3);
  store += "Message-ID: <d>\r\nSubject: s\r\n";
  // Multipart parts nested one level deeper than the parser splits.
  store +=
      Sep("a@b") + "Message-ID: <m4>\r\nContent-Type: multipart/mixed; boundary=\"b0x\"\r\n\r\n";
  for (int level = 1; level <= kMaxBodyNesting + 1; ++level) {
    store += "--b" + std::to_string(level - 1) + "x\r\n";
    if (level == kMaxBodyNesting + 1) here(K::MimeCutShort, 4);
    store += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(level) + "x\"\r\n\r\n";
  }
  for (int level = kMaxBodyNesting; level >= 0; --level)
    store += "--b" + std::to_string(level) + "x--\r\n";
  expected.emplace_back(K::DroppedEntry, 0, 1, -1);  // the old entry of <gone>

  WriteIndex({{"<d>", "Sent"}, {"<gone>", "_msTrash"}});
  WriteFile(File("mailbox.mbx"), store);
  auto form = Start();
  Findings findings;
  form->SetDryRun(true);
  form->SetFindings(&findings);
  form->Button1Click();
  std::vector<Row> found;
  for (std::size_t k = 0; k < kFindingKinds; ++k) {
    const auto kind = static_cast<K>(k);
    EXPECT_EQ(findings.Count(kind), std::int64_t(findings.Listed(kind).size())) << k;
    for (const Finding& f : findings.Listed(kind))
      found.emplace_back(kind, f.offset, f.message, f.other);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
  EXPECT_NE(findings.Listed(K::DroppedEntry).at(0).text.find("_msTrash"), std::string::npos);
}

}  // namespace
}  // namespace qv::test
