// The scan of the store: which lines open a message, how lines are read, and what the repaired
// store holds.
#include <gtest/gtest.h>

#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

using State = TForm1::State;

class RepairScan : public RepairFixture {};

const char kOpen[] = "From a@b.c Mon Jan 05 10:00:00 2004\n";

TEST_F(RepairScan, SeparatorLookalikesStayInTheirMessage) {
  const char* lookalikes[] = {
      "From:x Mon Jan 05 10:00:00 2004",            // a header, no blank after From
      "from a@b.c Mon Jan 05 10:00:00 2004",        // lower case
      ">From a@b.c Mon Jan 05 10:00:00 2004",       // quoted
      "From a@b.c Mon Jan 05 10:00:00 2004 +0100",  // a zone after the year
      "From a@b.c Mon Jan 05 10:00:00 2004\x01",    // not a date at the very end
      "From a@b.c",                                 // too short to hold a date
      " From a@b.c Mon Jan 05 10:00:00 2004",       // indented
  };
  for (const char* line : lookalikes) {
    SCOPED_TRACE(line);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    auto form = Repair(std::string(kOpen) + "Subject: s\n\nbefore\n" + line + "\nafter\n");
    EXPECT_TRUE(form->Replaced());
    EXPECT_EQ(form->MessageCount, 1);
    EXPECT_EQ(ReadFile(File("mailbox.mbx")),
              Sep("") + "Subject: s\r\n\r\nbefore\r\n" + line + "\r\nafter\r\n\r\n\r\n");
  }
}

TEST_F(RepairScan, SeparatorNeedsOnlyFromBlankAndADate) {
  const char* separators[] = {
      "From  Mon Jan 05 10:00:00 2004",           // no address
      "From Mon Jan 05 10:00:00 2004",            // the date right after From
      "From <<broken@ Mon Jan 05 10:00:00 2004",  // malformed address
      "From a@b.c xyz Tue Feb 29 23:59:59 2000",  // anything before the date
  };
  for (const char* line : separators) {
    SCOPED_TRACE(line);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    auto form = Repair(std::string(kOpen) + "\none\n" + line + "\n\ntwo\n");
    EXPECT_EQ(form->MessageCount, 2);
    EXPECT_EQ(ReadFile(File("mailbox.mbx")),
              Sep("") + "\r\none\r\n\r\n\r\n" + Sep("") + "\r\ntwo\r\n\r\n\r\n");
  }
}

TEST_F(RepairScan, LineEndsAreReadAsLfOrCrLfAndWrittenAsCrLf) {
  // LF, CR LF, a lone CR (kept: no byte of a message is dropped), and a last line without a
  // break.
  auto form = Repair(std::string(kOpen) + "A: 1\r\nB: 2\n\nx\ry\r\nlast");
  EXPECT_TRUE(form->Replaced());
  EXPECT_EQ(ReadFile(File("mailbox.mbx")),
            Sep("") + "A: 1\r\nB: 2\r\n\r\nx\ry\r\nlast\r\n\r\n\r\n");
}

TEST_F(RepairScan, RepairingARepairedStoreKeepsItsBytes) {
  const std::string store = std::string("junk before\n") + kOpen +
                            "From: Ann <ann@x.org>\nMessage-ID: <1@x>\n\nbody\n" + kOpen +
                            "Subject: ends empty\n\ntext\n\n" + kOpen + "Subject: no break\n\nz";
  auto form = Repair(store);
  ASSERT_TRUE(form->Replaced());
  const std::string once = ReadFile(File("mailbox.mbx"));
  const std::string onceIndex = ReadFile(File("mailbox.idx"));

  // Again, from a fresh start of the program, over the repaired pair.
  view_ = RecordingView();
  auto again = Start();
  again->Button1Click();
  ASSERT_TRUE(again->Replaced());
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), once);
  EXPECT_EQ(ReadFile(File("mailbox.idx")), onceIndex);
}

// Text before the first separator was deleted from the store for good, though it is most often a
// message whose separator was damaged. It becomes the first message, written and indexed like
// every other; blank leading lines vanish as before; a second repair changes nothing.
TEST_F(RepairScan, LeadingTextBecomesTheFirstMessage) {
  auto form =
      Repair("leading\ntext\n" + std::string(kOpen) + "\n1\n" + kOpen + "\n2\n" + kOpen + "\n3\n");
  EXPECT_EQ(form->MessageCount, 4);
  EXPECT_EQ(form->Figures().leadingBytes, 13);
  EXPECT_EQ(form->Label2.Caption(), "Repairing message : 4");
  const std::string store = ReadFile(File("mailbox.mbx"));
  EXPECT_EQ(store.rfind(Sep("") + "leading\r\ntext\r\n\r\n\r\n" + Sep(""), 0), 0u);
  TqvMailBox& box = LoadIndex();
  ASSERT_EQ(box.MailItems().Count(), 4);
  std::int64_t next = 0;
  for (int i = 0; i < 4; ++i) {
    const auto& e = box.MailItems().ItemAt(i);
    EXPECT_EQ(e.Offset(), next);
    EXPECT_EQ(store.substr(static_cast<std::size_t>(e.Offset()), Sep("").size()), Sep(""));
    next += e.BlockSize();
  }
  EXPECT_EQ(next, static_cast<std::int64_t>(store.size()));
  // Progress at every separator and once at the end.
  EXPECT_EQ(view_.processed, 4);

  form.reset();
  view_ = RecordingView();
  auto again = Start();
  again->Button1Click();
  ASSERT_TRUE(again->Replaced());
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), store);

  fs::remove_all(Folder());
  fs::create_directories(Folder());
  auto blank = Repair(" \t\n\n\t\n" + std::string(kOpen) + "\n1\n");
  EXPECT_EQ(blank->MessageCount, 1);
  EXPECT_EQ(blank->Figures().leadingBytes, 6);
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Sep("") + "\r\n1\r\n\r\n\r\n");
}

// Lines before the first separator are not held whole when they are longer than the reader's
// buffer (1 MiB); they must still be judged as whole lines: a separator by its first and last
// characters, never with a CR inside, and leading text when anything but blanks and tabs.
TEST_F(RepairScan, LinesLongerThanTheReadBufferAreJudgedWhole) {
  const std::size_t kLong = std::size_t{3} << 20;
  const std::string date = " Mon Jan 05 10:00:00 2004";
  const std::string blank = std::string(kLong / 2, ' ') + std::string(kLong / 2, '\t');
  const std::string longSeparator = "From " + std::string(kLong, 'a') + date;
  const std::string body = std::string(kLong, 'b');
  auto form = Repair(blank + "\n" + longSeparator + "\nSubject: s\n\n" + body + "\n");
  ASSERT_TRUE(form->Replaced());
  EXPECT_EQ(form->MessageCount, 1);
  EXPECT_EQ(form->Figures().leadingBytes, static_cast<std::int64_t>(kLong + 1));
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Sep("") + "Subject: s\r\n\r\n" + body + "\r\n\r\n\r\n");

  // A CR inside: leading text, kept whole as the first message.
  fs::remove_all(Folder());
  fs::create_directories(Folder());
  const std::string withCR = "From a\r" + std::string(kLong, 'c') + date;
  form = Repair(withCR + "\n" + kOpen + "\n1\n");
  ASSERT_TRUE(form->Replaced());
  EXPECT_EQ(form->MessageCount, 2);
  EXPECT_EQ(ReadFile(File("mailbox.mbx")),
            Sep("") + withCR + "\r\n\r\n\r\n" + Sep("") + "\r\n1\r\n\r\n\r\n");
}

TEST_F(RepairScan, EmptyMessagesAreWrittenAsSeparatorAndEmptyLine) {
  // A separator directly followed by another, and one standing last.
  auto form = Repair(std::string(kOpen) + kOpen + "\nbody\n" + kOpen);
  ASSERT_TRUE(form->Replaced()) << (view_.errors.empty() ? "" : view_.errors[0]);
  EXPECT_EQ(form->MessageCount, 3);
  const std::string once = ReadFile(File("mailbox.mbx"));
  EXPECT_EQ(once, Sep("") + "\r\n" + Sep("") + "\r\nbody\r\n\r\n\r\n" + Sep("") + "\r\n");
  TqvMailBox& box = LoadIndex();
  ASSERT_EQ(box.MailItems().Count(), 3);
  EXPECT_EQ(box.MailItems().ItemAt(0).BlockSize(), static_cast<std::int64_t>(Sep("").size() + 2));
  EXPECT_EQ(box.MailItems().ItemAt(0).MessageId(), "");

  view_ = RecordingView();
  auto again = Start();
  again->Button1Click();
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), once);
}

TEST_F(RepairScan, ByteCtrlZIsAnOrdinaryCharacter) {
  const std::string body =
      "a\x1a"
      "b\n\x1a after\n\x1a";
  auto form = Repair(std::string(kOpen) + "Subject: z\n\n" + body);
  ASSERT_TRUE(form->Replaced());
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Sep("") +
                                               "Subject: z\r\n\r\na\x1a"
                                               "b\r\n\x1a after\r\n\x1a\r\n\r\n\r\n");
}

TEST_F(RepairScan, EmptyStoreGivesAnEmptyIndex) {
  auto form = Repair("", {{"<old@x>", "_msSent", true}});
  EXPECT_TRUE(form->Replaced());
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_EQ(form->Label2.Caption(), "Repairing message : 0");
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), "");
  TqvMailBox& box = LoadIndex();
  EXPECT_EQ(box.MailItems().Count(), 0);
  EXPECT_EQ(box.TreeItems().Count(), 2);
}

TEST_F(RepairScan, StoreWithoutSeparatorIsNeverReplaced) {
  const std::string text = "just some text\nwithout any separator\n";
  WriteIndex({{"<a@x>", "_msSent", true}});
  const std::string index = ReadFile(File("mailbox.idx"));
  WriteFile(File("mailbox.mbx"), text);
  auto form = Start();
  form->Button1Click();
  EXPECT_EQ(view_.errors, std::vector<std::string>{
                              "No messages were found in the mailbox. Nothing was changed."});
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), text);
  EXPECT_EQ(ReadFile(File("mailbox.idx")), index);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
  EXPECT_EQ(form->CurrentState(), State::Done);
  EXPECT_EQ(form->Button2.Caption(), "Close");
}

TEST_F(RepairScan, MissingStoreLeavesTheIndexUntouched) {
  WriteIndex({{"<a@x>", "_msSent", true}});
  const std::string index = ReadFile(File("mailbox.idx"));
  auto form = Start();
  form->Button1Click();
  EXPECT_EQ(view_.errors, std::vector<std::string>{"Cannot find mailbox!"});
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_EQ(form->MessageCount, -1);
  EXPECT_EQ(ReadFile(File("mailbox.idx")), index);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"mailbox.idx"});
  EXPECT_EQ(form->CurrentState(), State::Done);
  EXPECT_EQ(form->Button2.Caption(), "Close");
  EXPECT_TRUE(form->Button2.Enabled());
  EXPECT_FALSE(form->Button1.Enabled());
  EXPECT_FALSE(view_.closed);
}

// A CR without LF was dropped, and a store with CR-only line ends became one line that could be
// taken for a separator and replaced, its text gone. Now no byte of a message is dropped.
TEST_F(RepairScan, StrayCarriageReturnsLoseNoByte) {
  // An old Macintosh store: one long line, never a separator, so the store is left as it is.
  const std::string mac =
      "From a@b.c Mon Jan 05 10:00:00 2004\rSubject: mac\r\rtext\r"
      "From a@b.c Mon Jan 05 10:00:00 2004";
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), mac);
  auto form = Start();
  form->Button1Click();
  EXPECT_EQ(view_.errors, std::vector<std::string>{kNoMessagesFound});
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), mac);
  form.reset();

  // Inside an ordinary store: a separator ending in stray CRs still opens a message, and a
  // message whose lines end in CR alone keeps every byte.
  view_ = RecordingView();
  auto mixed = Repair("From a@b.c Mon Jan 05 10:00:00 2004\r\r\nSubject: one\n\nbefore\rafter\n" +
                      std::string("From a@b.c Mon Jan 05 10:00:00 2004\n") + mac + "\n");
  ASSERT_TRUE(mixed->Replaced());
  EXPECT_EQ(mixed->MessageCount, 2);
  EXPECT_EQ(
      ReadFile(File("mailbox.mbx")),
      Sep("") + "Subject: one\r\n\r\nbefore\rafter\r\n\r\n\r\n" + Sep("") + mac + "\r\n\r\n\r\n");
  mixed.reset();

  // A stray CR in the sender's field stays out of the new separator, which would not read back as
  // one (the message would join the one before it in the next repair).
  view_ = RecordingView();
  auto sender = Repair("From a@b.c Mon Jan 05 10:00:00 2004\nFrom: x@y.z\rtail\n\nbody\n");
  ASSERT_TRUE(sender->Replaced());
  const std::string repaired = ReadFile(File("mailbox.mbx"));
  EXPECT_EQ(repaired.substr(0, repaired.find("\r\n")).find('\r'), std::string::npos);
}

// Separators were read and written with the locale's names, so a French machine found no message
// in an English store and wrote separators that no later run could read. They are written in
// English and read in English or in the locale's language.
TEST_F(RepairScan, SeparatorsAreWrittenInEnglishAndReadInEitherLanguage) {
  platform::LocaleNames french = platform::EnglishNames();
  french.longMonthNames[0] = "janvier";
  french.longMonthNames[11] =
      "d\xE9"
      "cembre";
  french.shortDayNames[2] = "mar.";
  fake_.locale.names = &french;
  const std::string store =
      "From a Tue Dec 01 10:00:00 2026\nSubject: english december\n\n1\n"
      "From a mar. d\xE9"
      "c 08 18:27:10 2026\nSubject: french december\n\n2\n"
      "From a jeu. jan 07 08:00:00 2027\nSubject: french january\n\n3\n";
  auto form = Repair(store);
  ASSERT_TRUE(form->Replaced());
  EXPECT_EQ(form->MessageCount, 3);
  EXPECT_EQ(ReadFile(File("mailbox.mbx")),
            Sep("") + "Subject: english december\r\n\r\n1\r\n\r\n\r\n" + Sep("") +
                "Subject: french december\r\n\r\n2\r\n\r\n\r\n" + Sep("") +
                "Subject: french january\r\n\r\n3\r\n\r\n\r\n");
}

}  // namespace
}  // namespace qv::test
