// What the run finds around it: a store that changes while it is scanned, a mail client started
// during the run, and files that an earlier run left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

std::string Store() {
  std::string s;
  for (int i = 0; i < 3; ++i)
    s += "From a@b.c Mon Jan 05 10:00:00 2004\nMessage-ID: <" + std::to_string(i) +
         "@x>\nSubject: m\n\nbody " + std::to_string(i) + "\n";
  return s;
}

class ChangedDuringRun : public RepairFixture {
 public:
  using RepairFixture::fake_;
  using RepairFixture::File;
};

struct Change {
  const char* what;
  std::function<void(ChangedDuringRun&)> duringScan;
  bool storeChanged = true;
};

TEST_F(ChangedDuringRun, ChangeSeenBeforeReplacingLeavesEveryFileAsItWas) {
  const Change changes[] = {
      {"mail appended to the store",
       [](ChangedDuringRun& t) {
         std::ofstream(t.File("mailbox.mbx"), std::ios::binary | std::ios::app)
             << "From c@d.e Mon Jan 05 11:00:00 2004\nSubject: new\n\nnew mail\n";
       }},
      {"store rewritten at its size",
       [](ChangedDuringRun& t) {
         std::string s = ReadFile(t.File("mailbox.mbx"));
         s.back() = '!';
         WriteFile(t.File("mailbox.mbx"), s);
         fs::last_write_time(t.File("mailbox.mbx"),
                             fs::last_write_time(t.File("mailbox.mbx")) + std::chrono::hours(1));
       }},
      {"store edited in place, its modification time put back",
       [](ChangedDuringRun& t) {
         const auto when = fs::last_write_time(t.File("mailbox.mbx"));
         std::fstream f(t.File("mailbox.mbx"), std::ios::binary | std::ios::in | std::ios::out);
         f.seekp(-2, std::ios::end);
         f << "!";
         f.close();
         fs::last_write_time(t.File("mailbox.mbx"), when);
       }},
#ifndef _WIN32
      // Windows keeps a file that the scan holds open from being replaced or removed.
      {"store replaced by a copy with its size and time",
       [](ChangedDuringRun& t) {
         const auto when = fs::last_write_time(t.File("mailbox.mbx"));
         fs::copy_file(t.File("mailbox.mbx"), t.File("copy"));
         fs::last_write_time(t.File("copy"), when);
         fs::rename(t.File("copy"), t.File("mailbox.mbx"));
       },
       false},
      {"store removed", [](ChangedDuringRun& t) { fs::remove(t.File("mailbox.mbx")); }},
#endif
      {"another program opened the store",
       [](ChangedDuringRun& t) { t.fake_.probe.inUse.insert(t.File("mailbox.mbx").string()); },
       false},
      {"mail client started",
       [](ChangedDuringRun& t) { t.fake_.probe.running.insert(kAppMutexName); }, false},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    fake_.probe.running.clear();
    fake_.probe.inUse.clear();
    view_ = RecordingView();
    view_.beeper = &fake_.beeper;
    fake_.beeper.beeps = 0;
    WriteIndex({{"<1@x>", "_msSent", true}});
    WriteFile(File("mailbox.mbx"), Store());
    const std::string oldIndex = ReadFile(File("mailbox.idx"));
    auto form = Start();
    ASSERT_EQ(form->CurrentState(), TForm1::State::Ready);
    // The change happens at the second message, while the scan is under way.
    int shown = 0;
    view_.onProcess = [&] {
      if (++shown == 2) c.duringScan(*this);
    };
    form->Button1Click();
    const std::string storeAfterChange =
        fs::exists(File("mailbox.mbx")) ? ReadFile(File("mailbox.mbx")) : "";

    EXPECT_EQ(view_.errors, std::vector<std::string>{
                                "The mailbox was changed during the repair. Nothing was changed."});
    EXPECT_EQ(view_.beepsAtErrors, 1);
    EXPECT_FALSE(form->Replaced());
    EXPECT_EQ(form->CurrentState(), TForm1::State::Done);
    EXPECT_EQ(form->Button2.Caption(), "Close");
    EXPECT_TRUE(form->Button2.Enabled());
    EXPECT_FALSE(view_.closed);
    EXPECT_TRUE(ReadFile(File("mailbox.idx")) == oldIndex);
    // The store is as the change left it; the repaired store is gone.
    EXPECT_EQ(storeAfterChange != Store(), c.storeChanged);
    std::vector<std::string> expected = {"mailbox.idx"};
    if (fs::exists(File("mailbox.mbx"))) expected.push_back("mailbox.mbx");
    EXPECT_EQ(FolderEntries(), expected);
    EXPECT_TRUE(std::none_of(fake_.files.log.begin(), fake_.files.log.end(),
                             [](const std::string& s) { return s.rfind("replace", 0) == 0; }));
  }
}

TEST_F(ChangedDuringRun, UnchangedStoreAndNoClientReplaceAsUsual) {
  auto form = Repair(Store());
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_TRUE(form->Replaced());
  // The running-check is asked again before replacing.
  EXPECT_EQ(fake_.probe.probed, (std::vector<std::string>{kAppMutexName, kAppMutexName}));
}

// --- files left by an earlier run -------------------------------------------------------------

TEST_F(ChangedDuringRun, LeftoversAreNotedSilentlyNeverReadAndReplaced) {
  // What a run without leftovers makes of the store.
  auto clean = Repair(Store(), {{"<1@x>", "_msSent", true}});
  ASSERT_TRUE(clean->Replaced());
  const std::string newStore = ReadFile(File("mailbox.mbx"));
  const std::string newIndex = ReadFile(File("mailbox.idx"));
  clean.reset();

  fs::remove_all(Folder());
  fs::create_directories(Folder());
  view_ = RecordingView();
  WriteIndex({{"<1@x>", "_msSent", true}});
  WriteFile(File("mailbox.mbx"), Store());
  // An earlier run stopped with a half-written repaired store, a temporary index and an index
  // kept to be put back; each holds what looks like data.
  const std::string stale = "From z@z.z Mon Jan 05 12:00:00 2004\nSubject: stale\n\nstale\n";
  WriteFile(File("mailbox.xyz"), stale);
  WriteFile(File("mailbox.idx.tmp"), stale);
  WriteFile(File("mailbox.idx.restore"), stale);
  auto form = Start();
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_EQ(form->CurrentState(), TForm1::State::Ready);
  EXPECT_EQ(form->Label2.Caption(), "Mailbox Name : MAILBOX");
  EXPECT_EQ(form->Leftovers(), (std::vector<std::string>{File("mailbox.xyz").string(),
                                                         File("mailbox.idx.tmp").string(),
                                                         File("mailbox.idx.restore").string()}));
  form->Button1Click();
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_TRUE(form->Replaced());
  EXPECT_TRUE(ReadFile(File("mailbox.mbx")) == newStore);
  EXPECT_TRUE(ReadFile(File("mailbox.idx")) == newIndex);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
}

TEST_F(ChangedDuringRun, LeftoverLinksAreReplacedNotWrittenThrough) {
  const fs::path outside = dir_ / "outside.txt";
  WriteFile(outside, "not mail\n");
  WriteIndex({{"<1@x>", "_msSent", true}});
  WriteFile(File("mailbox.mbx"), Store());
  for (const char* name : {"mailbox.xyz", "mailbox.idx.tmp", "mailbox.idx.restore"}) {
    std::error_code e;
    fs::create_symlink(outside, File(name), e);
    // Windows lets only privileged processes (or developer mode) make symbolic links.
    if (e) GTEST_SKIP() << "this process may not make symbolic links: " << e.message();
  }
  // The store cannot be renamed, so that the old index is put back through its restore file.
  fake_.files.failWhen = [](const std::string& op, const std::string& path) {
    return op == "replace" && path.ends_with(".xyz");
  };
  const std::string oldIndex = ReadFile(File("mailbox.idx"));
  auto form = Start();
  form->Button1Click();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_FALSE(form->Replaced());
  EXPECT_EQ(ReadFile(outside), "not mail\n");
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Store());
  EXPECT_TRUE(ReadFile(File("mailbox.idx")) == oldIndex);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));

  // And a run that succeeds past the same links.
  for (const char* name : {"mailbox.xyz", "mailbox.idx.tmp"})
    fs::create_symlink(outside, File(name));
  fake_.files.failWhen = nullptr;
  view_ = RecordingView();
  auto again = Start();
  again->Button1Click();
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_TRUE(again->Replaced());
  EXPECT_EQ(ReadFile(outside), "not mail\n");
  EXPECT_EQ(LoadIndex().MailItems().Count(), 3);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
}

TEST_F(ChangedDuringRun, LeftoverThatCannotBeRemovedFailsTheRunCleanly) {
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), Store());
  const std::string oldIndex = ReadFile(File("mailbox.idx"));
  fs::create_directories(File("mailbox.idx.tmp") / "inside");
  auto form = Start();
  form->Button1Click();
  ASSERT_EQ(view_.errors.size(), 1u);
  // The error names the file that could not be made, not the one it was to replace.
  EXPECT_EQ(
      view_.errors[0].rfind("Cannot create file \"" + File("mailbox.idx.tmp").string() + "\". ", 0),
      0u)
      << view_.errors[0];
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_FALSE(form->Replaced());
  EXPECT_EQ(form->CurrentState(), TForm1::State::Done);
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Store());
  EXPECT_TRUE(ReadFile(File("mailbox.idx")) == oldIndex);
  EXPECT_EQ(FolderEntries(),
            (std::vector<std::string>{"mailbox.idx", "mailbox.idx.tmp", "mailbox.mbx"}));
}

}  // namespace
}  // namespace qv::test
