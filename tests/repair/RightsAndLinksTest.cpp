// What a repair keeps of the files it replaces besides their content: their access rights, and a
// symbolic link that reaches them.
#include <gtest/gtest.h>

#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

class RightsAndLinks : public RepairFixture {};

const char kStore[] = "From a@b.c Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n";

// A store and index at 0600 came back 0644: the repaired files are made for the owner alone and
// then take the rights of the files they replace.
TEST_F(RightsAndLinks, RepairedFilesKeepTheRightsOfTheOldOnes) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permission bits";
#else
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), kStore);
  fs::permissions(File("mailbox.mbx"), fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(File("mailbox.idx"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  auto form = Start();
  form->Button1Click();
  ASSERT_TRUE(form->Replaced());
  EXPECT_EQ(fs::status(File("mailbox.mbx")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(File("mailbox.idx")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
}

// A store or index that was a symbolic link became a plain file while the link's target kept the
// old data. The link stays, and the file it reaches is replaced, from a file made beside it.
TEST_F(RightsAndLinks, LinkedStoreAndIndexAreReplacedAtTheirTargets) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links need privileges on Windows";
#else
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directories(elsewhere);
  WriteIndex({{"<1@x>", "_msSent", true}}, "real");
  fs::rename(File("real.idx"), elsewhere / "real.idx");
  WriteFile(elsewhere / "real.mbx", kStore);
  fs::create_symlink("../../elsewhere/real.mbx", File("mailbox.mbx"));
  fs::create_symlink(elsewhere / "real.idx", File("mailbox.idx"));

  auto form = Start();
  form->Button1Click();
  ASSERT_TRUE(form->Replaced()) << view_.errors.at(0);
  EXPECT_TRUE(fs::is_symlink(File("mailbox.mbx")));
  EXPECT_TRUE(fs::is_symlink(File("mailbox.idx")));
  const std::string block = Sep("") + "Message-ID: <1@x>\r\n\r\nhi\r\n\r\n\r\n";
  EXPECT_EQ(ReadFile(elsewhere / "real.mbx"), block);
  EXPECT_EQ(LoadIndex().MailItems().ItemAt(0).FolderKey(), "_msSent");
  EXPECT_EQ(LoadIndex().MailItems().ItemAt(0).BlockSize(), static_cast<std::int64_t>(block.size()));
  std::vector<std::string> there;
  for (const auto& e : fs::directory_iterator(elsewhere))
    there.push_back(e.path().filename().string());
  std::sort(there.begin(), there.end());
  EXPECT_EQ(there, (std::vector<std::string>{"real.idx", "real.mbx"}));
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));

  // A link that another program makes lead elsewhere while the store is put in place: the run
  // says so instead of reporting success.
  view_ = RecordingView();
  form = Start();
  fake_.files.failWhen = [&](const std::string& op, const std::string& path) {
    if (op == "replace" && path.ends_with(".xyz") && fs::is_symlink(File("mailbox.mbx"))) {
      fs::remove(File("mailbox.mbx"));
      WriteFile(File("mailbox.mbx"), "their file\n");
    }
    return false;
  };
  form->Button1Click();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_NE(view_.errors[0].find("mailbox.mbx\" no longer leads to"), std::string::npos)
      << view_.errors[0];
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), "their file\n");
#endif
}

}  // namespace
}  // namespace qv::test
