// Loading and saving index and profile files, including saves that fail part-way.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "base/Errors.h"
#include "components/ComponentFile.h"
#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "platform/SystemPlatform.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The real file layer, with one operation made to fail.
class FaultyFiles : public platform::SystemFileSystem {
 public:
  bool failSync = false;
  bool failReplace = false;
  bool SyncFile(const std::string& path, std::string* error) override {
    if (failSync) {
      if (error) *error = "Input/output error";
      return false;
    }
    return platform::SystemFileSystem::SyncFile(path, error);
  }
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) override {
    if (failReplace) {
      if (error) *error = "Permission denied";
      return false;
    }
    return platform::SystemFileSystem::ReplaceFile(from, to, error);
  }
};

struct MailboxFile : ::testing::Test {
  fs::path dir;
  FaultyFiles files;
  MailboxFile() {
    dir = fs::temp_directory_path() /
          ("qv_mailbox_file_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~MailboxFile() override { fs::remove_all(dir); }
  std::string Path(const char* name) const { return (dir / name).string(); }
};

TEST_F(MailboxFile, MissingFilesAndFoldersChangeNothing) {
  TqvMailBox box(nullptr);
  box.SetName("MailBox");
  box.SetF1(3);
  box.LoadFromFile(Path("missing.idx"), files);
  fs::create_directory(dir / "folder.idx");
  box.LoadFromFile(Path("folder.idx"), files);
  EXPECT_EQ(box.Name(), "MailBox");
  EXPECT_EQ(box.F1(), 3);
  TqvProfile profile(nullptr);
  profile.LoadFromFile(Path("profile.dat"), files);
  EXPECT_TRUE(profile.JunkActivate());
}

TEST_F(MailboxFile, SavedIndexLoadsBackUnderItsStoredName) {
  TqvMailBox box(nullptr);
  box.SetName("Stored");
  box.SetPassword("secret");
  box.MailItems().NewItem().SetMessageId("id");
  box.SaveToFile(Path("mailbox.idx"), files);
  EXPECT_FALSE(fs::exists(TemporarySaveName(Path("mailbox.idx"), files)));
  TqvMailBox back(nullptr);
  back.SetDesignLeft(8);
  back.LoadFromFile(Path("mailbox.idx"), files);
  EXPECT_EQ(back.Name(), "Stored");
  EXPECT_EQ(back.Password(), "secret");
  EXPECT_EQ(back.MailItems().ItemAt(0).MessageId(), "id");
  EXPECT_EQ(back.DesignLeft(), 8);  // the file holds no position: the current one stays
}

TEST_F(MailboxFile, AFailedSaveLeavesTheOldFileAndNoTemporary) {
  TqvMailBox box(nullptr);
  box.SetName("MailBox");
  box.SaveToFile(Path("mailbox.idx"), files);
  const std::string old = ReadFile(dir / "mailbox.idx");
  box.MailItems().NewItem().SetMessageId("new");

  files.failSync = true;
  EXPECT_THROW(box.SaveToFile(Path("mailbox.idx"), files), EWriteError);
  EXPECT_EQ(ReadFile(dir / "mailbox.idx"), old);
  EXPECT_FALSE(fs::exists(TemporarySaveName(Path("mailbox.idx"), files)));

  files.failSync = false;
  files.failReplace = true;
  try {
    box.SaveToFile(Path("mailbox.idx"), files);
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + Path("mailbox.idx") + "\". Permission denied");
  }
  EXPECT_EQ(ReadFile(dir / "mailbox.idx"), old);
  EXPECT_FALSE(fs::exists(TemporarySaveName(Path("mailbox.idx"), files)));

  files.failReplace = false;
  box.SaveToFile(Path("mailbox.idx"), files);
  EXPECT_NE(ReadFile(dir / "mailbox.idx"), old);
}

TEST_F(MailboxFile, AnUncreatableFileNamesTheFileThatCouldNotBeMade) {
  TqvMailBox box(nullptr);
  const std::string target = Path("no/such/folder/mailbox.idx");
  try {
    box.SaveToFile(target, files);
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    EXPECT_TRUE(e.Message().starts_with("Cannot create file \"" + target + ".tmp\". "))
        << e.Message();
  }
}

TEST_F(MailboxFile, AnUnreadableFileFailsToOpen) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no permission bits that deny the owner reading";
#else
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
#endif
  TqvMailBox box(nullptr);
  box.SaveToFile(Path("locked.idx"), files);
  fs::permissions(dir / "locked.idx", fs::perms::none);
  try {
    box.LoadFromFile(Path("locked.idx"), files);
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_TRUE(e.Message().starts_with("Cannot open file \"" + Path("locked.idx") + "\". "));
  }
}

}  // namespace
}  // namespace qv
