#include "repair/Repair.h"

#include <gtest/gtest.h>

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
    "leading text before any separator\n"
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
  EXPECT_EQ(first.F0(), "_msInbox");
  EXPECT_FALSE(first.F1());
  EXPECT_EQ(first.F7(), "Ann <ann@example.com>");
  EXPECT_EQ(first.F8(), "bob@example.org");
  EXPECT_EQ(first.F9(), "first");
  EXPECT_EQ(first.F3(), -1);
  EXPECT_EQ(first.F6(), "Default");
  EXPECT_EQ(first.F15(), 0);
  const auto& second = box.MailItems().ItemAt(1);
  EXPECT_EQ(second.F0(), "_msSent");
  EXPECT_TRUE(second.F1());
  EXPECT_EQ(second.F3(), 2);
  EXPECT_EQ(second.F15(), first.F10());
  EXPECT_EQ(second.F15() + second.F10(), static_cast<std::int64_t>(store.size()));
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

}  // namespace
}  // namespace qv
