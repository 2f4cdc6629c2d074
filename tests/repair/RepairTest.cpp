#include "repair/Repair.h"

#include <gtest/gtest.h>

#include <functional>

#include "repair/RepairFixture.h"

namespace qv {
namespace {

class RepairRun : public test::RepairFixture {
 protected:
  void LoadIndex(TqvMailBox& box) {
    platform::SystemFileSystem files;
    box.LoadFromFile((Folder() / "mailbox.idx").string(), files);
  }
  void WriteIndex(const std::vector<std::tuple<std::string, std::string, bool>>& entries) {
    std::vector<test::OldEntry> old;
    for (const auto& [id, key, read] : entries)
      old.push_back({id, key, read});
    RepairFixture::WriteIndex(old);
  }
};

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

const char kStore[] =
    "  \n\t\n"  // blank lines before the first separator vanish
    "From a@b.c Mon Jan 05 10:00:00 2004\n"
    "Message-ID: <one@x>\n"
    "From: Ann <ann@example.com>\n"
    "To: bob@example.org\n"
    "Subject: first\n"
    "\n"
    "body one\n"
    ">From me Mon Jan 05 10:00:00 2004\n"
    "From x@y Tue Jan 06 11:00:00 2004\n"
    "Message-ID: <two@x>\n"
    "X-Priority: 1\n"
    "\n"
    "body two\n"
    "\n";

TEST_F(RepairRun, RepairsStoreAndCarriesFoldersOver) {
  WriteIndex({{"<two@x>", "_msSent", true}, {"<stale@x>", "_msTrash", true}});
  WriteFile(Folder() / "mailbox.mbx", kStore);
  auto form = Start();
  ASSERT_EQ(form->CurrentState(), TForm1::State::Ready);
  EXPECT_EQ(form->Label2.Caption(), "Mailbox Name : MAILBOX");
  form->Button1Click();
  EXPECT_TRUE(view_.errors.empty()) << view_.errors.front();
  EXPECT_EQ(form->CurrentState(), TForm1::State::Done);
  EXPECT_TRUE(form->Replaced());
  EXPECT_EQ(form->Label2.Caption(), "Repairing message : 2");
  EXPECT_EQ(form->Button2.Caption(), "Close");
  EXPECT_TRUE(form->Button2.Enabled());
  EXPECT_FALSE(form->Button1.Enabled());

  const std::string store = ReadFile(Folder() / "mailbox.mbx");
  EXPECT_EQ(store,
            "From ann@example.com Tue Dec 08 14:23:50 2026\r\n"
            "Message-ID: <one@x>\r\n"
            "From: Ann <ann@example.com>\r\n"
            "To: bob@example.org\r\n"
            "Subject: first\r\n"
            "\r\n"
            "body one\r\n"
            ">From me Mon Jan 05 10:00:00 2004\r\n"
            "\r\n\r\n"
            "From  Tue Dec 08 14:23:50 2026\r\n"
            "Message-ID: <two@x>\r\n"
            "X-Priority: 1\r\n"
            "\r\n"
            "body two\r\n"
            "\r\n");
  EXPECT_FALSE(fs::exists(Folder() / "mailbox.xyz"));

  TqvMailBox box(nullptr);
  LoadIndex(box);
  ASSERT_EQ(box.MailItems().Count(), 2);
  EXPECT_EQ(box.TreeItems().Count(), 2);
  const auto& first = box.MailItems().ItemAt(0);
  EXPECT_EQ(first.FolderKey(), "_msInbox");
  EXPECT_FALSE(first.Read());
  EXPECT_EQ(first.Sender(), "Ann <ann@example.com>");
  EXPECT_EQ(first.Recipients(), "bob@example.org");
  EXPECT_EQ(first.Subject(), "first");
  EXPECT_EQ(first.Priority(), -1);
  EXPECT_EQ(first.Account(), "Default");
  EXPECT_EQ(first.Offset(), 0);
  const auto& second = box.MailItems().ItemAt(1);
  EXPECT_EQ(second.FolderKey(), "_msSent");
  EXPECT_TRUE(second.Read());
  EXPECT_EQ(second.Priority(), 2);
  EXPECT_EQ(second.Offset(), first.BlockSize());
  EXPECT_EQ(second.Offset() + second.BlockSize(), static_cast<std::int64_t>(store.size()));
}

TEST_F(RepairRun, MissingIndexBlocksWithoutAnErrorBox) {
  auto form = Start();
  EXPECT_EQ(form->CurrentState(), TForm1::State::Blocked);
  EXPECT_EQ(form->Label2.Caption(), "Cannot find mailbox");
  EXPECT_FALSE(form->Button1.Enabled());
  EXPECT_TRUE(view_.errors.empty());
}

TEST_F(RepairRun, StoreWithoutSeparatorIsNeverReplaced) {
  WriteIndex({});
  WriteFile(Folder() / "mailbox.mbx", "just some text\nwithout any separator\n");
  auto form = Start();
  form->Button1Click();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_EQ(view_.errors[0], "No messages were found in the mailbox. Nothing was changed.");
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx"), "just some text\nwithout any separator\n");
  EXPECT_FALSE(fs::exists(Folder() / "mailbox.xyz"));
  EXPECT_EQ(form->CurrentState(), TForm1::State::Done);
}

TEST_F(RepairRun, FailedStoreReplacementLeavesTheOldPair) {
  WriteIndex({{"<one@x>", "_msSent", true}});
  WriteFile(Folder() / "mailbox.mbx", kStore);
  const std::string oldIndex = ReadFile(Folder() / "mailbox.idx");
  fake_.files.failing = {"replace"};
  auto form = Start();
  form->Button1Click();
  ASSERT_FALSE(view_.errors.empty());
  EXPECT_FALSE(form->Replaced());
  EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx"), kStore);
  EXPECT_EQ(ReadFile(Folder() / "mailbox.idx"), oldIndex);
  EXPECT_FALSE(fs::exists(Folder() / "mailbox.xyz"));
  EXPECT_EQ(form->CurrentState(), TForm1::State::Done);
}

// A dry run makes the same scan, indexing and merge as a repair and writes nothing; its figures
// count each kind of message and entry.
TEST_F(RepairRun, DryRunCountsEveryKindAndWritesNothing) {
  test::RepairFixture::WriteIndex({{"<a>", "_msSent", true},
                                   {"<b>", "_msDrafts", false},
                                   {"<gone1>", "_msSent", true},
                                   {"<gone2>", "_msSent", true},
                                   {"", "_msTrash", true}});
  const std::string leading = "Subject: damaged separator\n\ntext\n";
  auto message = [](const std::string& id) {
    return "From a@b.c Mon Jan 05 10:00:00 2004\n" +
           (id.empty() ? "" : "Message-ID: " + id + "\n") + "Subject: s\n\nbody\n";
  };
  WriteFile(Folder() / "mailbox.mbx", leading + message("<a>") + message("<a>") + message("<c>") +
                                          message("") + message("<b>"));
  const std::string index = ReadFile(Folder() / "mailbox.idx");
  const std::string store = ReadFile(Folder() / "mailbox.mbx");

  auto form = std::make_unique<TForm1>(fake_.services(), view_, registry_);
  form->SetAppDir(dir_.string());
  form->SetDryRun(true);
  form->FormShow();
  form->Button1Click();
  const RepairFigures& f = form->Figures();
  EXPECT_TRUE(f.scanned);
  EXPECT_EQ(f.messages, 6);
  EXPECT_EQ(f.oldEntries, 5);
  EXPECT_EQ(f.carriedOver, 3);
  EXPECT_EQ(f.newInInbox, 3);
  EXPECT_EQ(f.droppedEntries, 3);
  EXPECT_EQ(f.withoutMessageId, 2);
  EXPECT_EQ(f.duplicateMessageIds, 1);
  EXPECT_EQ(f.leadingBytes, static_cast<std::int64_t>(leading.size()));
  EXPECT_FALSE(f.indexMatchesStore);
  EXPECT_EQ(f.storeBytes, static_cast<std::int64_t>(store.size()));
  EXPECT_FALSE(form->Replaced());
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_TRUE(fake_.files.log.empty()) << fake_.files.log.front();
  EXPECT_EQ(ReadFile(Folder() / "mailbox.idx"), index);
  EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx"), store);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));

  // The repair finds the same; afterwards the index matches the store.
  form.reset();
  auto repair = Start();
  repair->Button1Click();
  ASSERT_TRUE(repair->Replaced());
  RepairFigures seen = repair->Figures();
  EXPECT_EQ(seen.carriedOver, 3);
  EXPECT_EQ(seen.droppedEntries, 3);
  repair.reset();
  auto again = std::make_unique<TForm1>(fake_.services(), view_, registry_);
  again->SetAppDir(dir_.string());
  again->SetDryRun(true);
  again->FormShow();
  again->Button1Click();
  EXPECT_TRUE(again->Figures().indexMatchesStore);
  EXPECT_EQ(again->Figures().droppedEntries, 0);
  EXPECT_EQ(again->Figures().leadingBytes, 0);
}

// --backup keeps the old pair under new names before anything is replaced; when that fails the run
// stops with the system's text and leaves no half-made backup.
TEST_F(RepairRun, BackupKeepsTheOldPairOrStopsTheRun) {
  const std::string store = "From a@b.c Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n";
  const auto backups = [this] {
    std::vector<std::string> names;
    for (const auto& name : FolderEntries())
      if (name.find(".bak-") != std::string::npos) names.push_back(name);
    return names;
  };
  for (const bool hardLinks : {true, false}) {
    SCOPED_TRACE(hardLinks ? "hard links" : "copies");
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    fake_.files.hardLinks = hardLinks;
    test::RepairFixture::WriteIndex({{"<1@x>", "_msSent", true}});
    WriteFile(Folder() / "mailbox.mbx", store);
    const std::string index = ReadFile(Folder() / "mailbox.idx");
    auto form = Start();
    form->SetBackup(true);
    form->Button1Click();
    ASSERT_TRUE(form->Replaced());
    const std::vector<std::string> expected = {"mailbox.idx.bak-20261208-142350",
                                               "mailbox.mbx.bak-20261208-142350"};
    EXPECT_EQ(backups(), expected);
    EXPECT_EQ(ReadFile(Folder() / expected[0]), index);
    EXPECT_EQ(ReadFile(Folder() / expected[1]), store);
    EXPECT_EQ(form->Backups().size(), 2u);
  }

  // A second backup within the same second, a link that fails, a copy that fails at its end.
  const std::function<void()> faults[] = {
      [] {},
      [this] {
        fake_.files.failWhen = [](const std::string& op, const std::string& path) {
          return op == "link" && path.ends_with(".idx");
        };
      },
      [this] {
        fake_.files.hardLinks = false;
        fake_.files.failWhen = [](const std::string& op, const std::string& path) {
          return op == "commit" && path.find(".idx.bak-") != std::string::npos;
        };
      }};
  for (const auto& fault : faults) {
    fake_.files.hardLinks = true;
    fake_.files.failWhen = nullptr;
    const std::vector<std::string> before = FolderEntries();
    const std::string oldStore = ReadFile(Folder() / "mailbox.mbx");
    view_ = test::RecordingView();
    auto form = Start();
    form->SetBackup(true);
    fault();
    form->Button1Click();
    EXPECT_FALSE(form->Replaced());
    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_NE(view_.errors[0].find("bak-20261208-142350"), std::string::npos) << view_.errors[0];
    EXPECT_EQ(FolderEntries(), before);
    EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx"), oldStore);
  }
}

}  // namespace
}  // namespace qv
