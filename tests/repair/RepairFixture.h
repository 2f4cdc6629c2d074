// A program folder in a temporary directory with the form driven over it: fixed clock (Tue Dec 08
// 14:23:50 2026), English names, a recording view and files whose steps can be made to fail.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "repair/Repair.h"
#include "support/FakePlatform.h"
#include "support/Files.h"
#include "support/Process.h"

namespace qv::test {

namespace fs = std::filesystem;
using qv::test::ReadFile;
using qv::test::WriteFile;

// The separator the fixed clock gives a message from `address`.
inline std::string Sep(const std::string& address) {
  return "From " + address + " Tue Dec 08 14:23:50 2026\r\n";
}

struct OldEntry {
  std::string id, folder;
  bool read = false;
};

class RepairFixture : public ::testing::Test {
 protected:
  RepairFixture() : fake_(EncodeDateTime(2026, 12, 8, 14, 23, 50)) {}

  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv-repair-" + std::to_string(ProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_suite()->name() + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "profile" / "default");
    view_.beeper = &fake_.beeper;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Spelled as the form spells them: the program folder, then "profile/default/", with the
  // system's separator.
  fs::path Folder() const { return (dir_ / "profile" / "default").make_preferred(); }
  fs::path File(const std::string& name) const { return Folder() / name; }

  // Many runs: the folder in memory where the system offers a memory file system.
  void UseMemoryFolder() {
    if (!fs::is_directory("/dev/shm")) return;
    fs::remove_all(dir_);
    dir_ = "/dev/shm" / dir_.filename();
    fs::remove_all(dir_);
    fs::create_directories(Folder());
  }

  // An index with two folders and the given old entries.
  void WriteIndex(const std::vector<OldEntry>& entries, const std::string& name = "mailbox") {
    WriteIndexWith({{"", "Inbox"}, {"", "Sent"}}, entries, name);
  }
  // An index with these folders (a status and a level where given) and old entries.
  struct TreeItem {
    std::string status, text;
    int level = 0;
  };
  void WriteIndexWith(const std::vector<TreeItem>& tree, const std::vector<OldEntry>& entries,
                      const std::string& name = "mailbox") {
    TqvMailBox box(nullptr);
    box.SetName("MailBox");
    for (const TreeItem& f : tree) {
      TMailTreeItem& item = box.TreeItems().NewItem();
      if (!f.status.empty()) item.SetStatus(f.status);
      item.SetText(f.text);
      if (f.level != 0) item.SetLevel(f.level);
    }
    for (const auto& e : entries) {
      auto& item = box.MailItems().NewItem();
      item.SetMessageId(e.id);
      item.SetFolderKey(e.folder);
      item.SetRead(e.read);
    }
    platform::SystemFileSystem files;
    box.SaveToFile(File(name + ".idx").string(), files);
  }

  // A profile naming `mailbox`, with accounts given as (name, incoming server).
  void WriteProfile(const std::string& mailbox,
                    const std::vector<std::pair<std::string, std::string>>& accounts = {}) {
    TqvProfile profile(nullptr);
    profile.SetName("qvProfile");
    profile.SetMailbox(mailbox);
    for (const auto& [name, server] : accounts) {
      auto& a = profile.Accounts().NewItem();
      a.SetAccount(name);
      a.SetServer(server);
    }
    platform::SystemFileSystem files;
    profile.SaveToFile(File("profile.dat").string(), files);
  }

  std::unique_ptr<TForm1> Start() {
    auto form = std::make_unique<TForm1>(fake_.services(), view_, registry_);
    form->SetAppDir(dir_.string());
    form->FormShow();
    return form;
  }

  // Index and store, start-up and one run; the form stays for inspection.
  std::unique_ptr<TForm1> Repair(const std::string& store, const std::vector<OldEntry>& old = {}) {
    WriteIndex(old);
    WriteFile(File("mailbox.mbx"), store);
    auto form = Start();
    EXPECT_EQ(form->CurrentState(), TForm1::State::Ready);
    form->Button1Click();
    return form;
  }

  TqvMailBox& LoadIndex(const std::string& name = "mailbox") {
    loaded_ = std::make_unique<TqvMailBox>(nullptr);
    platform::SystemFileSystem files;
    loaded_->LoadFromFile(File(name + ".idx").string(), files);
    return *loaded_;
  }

  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Folder()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
  FakeServices fake_;
  RecordingView view_;
  TComponentRegistry registry_;
  std::unique_ptr<TqvMailBox> loaded_;
};

}  // namespace qv::test
