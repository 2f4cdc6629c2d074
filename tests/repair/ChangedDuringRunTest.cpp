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

// The first sentence of a report's first line (the run drops "Nothing was changed." when it kept an
// old file as a backup).
std::string Lead(const std::string& text) {
  const std::size_t at = text.find(". ");
  return at == std::string::npos ? text : text.substr(0, at + 1);
}

class ChangedDuringRun : public RepairFixture {
 public:
  using RepairFixture::fake_;
  using RepairFixture::File;

  // A fresh folder with these tests' index and store, and a fresh view; returns the index's bytes.
  std::string FreshPair() {
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    view_ = RecordingView();
    WriteIndex({{"<1@x>", "_msSent", true}});
    WriteFile(File("mailbox.mbx"), Store());
    return ReadFile(File("mailbox.idx"));
  }
};

struct Change {
  const char* what;
  std::function<void(ChangedDuringRun&)> duringScan;
  bool storeChanged = true;
  bool index = false;    // the index changed, not the store
  bool oldKept = false;  // the old store is no longer in place: its second name becomes a backup
};

TEST_F(ChangedDuringRun, ChangeSeenBeforeReplacingLeavesEveryFileAsItWas) {
  const Change changes[] = {
#ifndef _WIN32
      // (Windows keeps writers out of the store while the scan holds it, and keeps the file that
      // the scan holds open from being replaced or removed)
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
      {"store replaced by a copy with its size and time",
       [](ChangedDuringRun& t) {
         const auto when = fs::last_write_time(t.File("mailbox.mbx"));
         fs::copy_file(t.File("mailbox.mbx"), t.File("copy"));
         fs::last_write_time(t.File("copy"), when);
         fs::rename(t.File("copy"), t.File("mailbox.mbx"));
       },
       false, false, true},
      {"store removed", [](ChangedDuringRun& t) { fs::remove(t.File("mailbox.mbx")); }, true, false,
       true},
#endif
      {"another program opened the store",
       [](ChangedDuringRun& t) { t.fake_.probe.inUse.insert(t.File("mailbox.mbx").string()); },
       false},
      {"mail client started",
       [](ChangedDuringRun& t) { t.fake_.probe.running.insert(kAppMutexName); }, false},
      // The client moved a message while the store was scanned.
      {"index rewritten at its size",
       [](ChangedDuringRun& t) {
         std::string s = ReadFile(t.File("mailbox.idx"));
         s[s.size() / 2] ^= 1;
         WriteFile(t.File("mailbox.idx"), s);
       },
       false, true},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    fake_.probe.running.clear();
    fake_.probe.inUse.clear();
    const std::string oldIndex = FreshPair();
    view_.beeper = &fake_.beeper;
    fake_.beeper.beeps = 0;
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

    // What changed, and in which file, goes on the second line.
    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_EQ(view_.errors[0].rfind(Lead(c.index ? kIndexChanged : kStoreChanged), 0), 0u)
        << view_.errors[0];
    EXPECT_EQ(view_.beepsAtErrors, 1);
    EXPECT_FALSE(form->Replaced());
    EXPECT_EQ(form->CurrentState(), TForm1::State::Done);
    EXPECT_EQ(form->Button2.Caption(), "Close");
    EXPECT_TRUE(form->Button2.Enabled());
    EXPECT_FALSE(view_.closed);
    EXPECT_EQ(ReadFile(File("mailbox.idx")) == oldIndex, !c.index);
    // The store is as the change left it; the repaired store is gone.
    EXPECT_EQ(storeAfterChange != Store(), c.storeChanged);
    std::vector<std::string> expected = {"mailbox.idx"};
    if (fs::exists(File("mailbox.mbx"))) expected.push_back("mailbox.mbx");
    if (c.oldKept) {
      expected.push_back("mailbox.mbx.bak-20261208-142350");
      EXPECT_EQ(ReadFile(File(expected.back())), Store());
    }
    EXPECT_EQ(FolderEntries(), expected);
    EXPECT_TRUE(std::none_of(fake_.files.log.begin(), fake_.files.log.end(),
                             [](const std::string& s) { return s.rfind("replace", 0) == 0; }));
  }
}

TEST_F(ChangedDuringRun, ANameTakenByAnotherAtTheLastInstantKeepsItsFileAndTheOldPair) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows keeps others from renaming over the store it holds";
#endif
  // Just before the run's rename (of the new index or of the repaired store), another program
  // puts its own file, or a link, under one of the two names.
  const struct {
    const char* renamedFrom;
    const char* name;
    bool link;  // a link to the old store's second name, else a file of its own
    const char* text;
    bool fail = false;  // and the run's rename fails
  } cases[] = {{".idx.tmp", "mailbox.idx", false, kIndexChanged},
               {".xyz", "mailbox.mbx", false, kStoreChanged},
               {".idx.tmp", "mailbox.idx.tmp", false, kNewIndexChanged},
               {".xyz", "mailbox.xyz", true, kRepairedChanged},
               {".xyz", "mailbox.mbx", true, kStoreChanged},
               // (the old index must not go back over the other program's)
               {".xyz", "mailbox.idx", false, "Cannot replace file", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string oldIndex = FreshPair();
    bool done = false;
    fake_.files.failWhen = [&](const std::string& op, const std::string& path) {
      if (op == "replace" && path.ends_with(c.renamedFrom) && !done) {
        done = true;
        if (c.link) {
          fs::remove(File(c.name));
          fs::create_symlink("mailbox.mbx.restore", File(c.name));
        } else {
          WriteFile(File("theirs"), "their file\n");
          fs::rename(File("theirs"), File(c.name));
        }
        return c.fail;
      }
      return false;
    };
    auto form = Start();
    form->Button1Click();
    ASSERT_TRUE(done);
    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_EQ(view_.errors[0].rfind(Lead(c.text), 0), 0u) << view_.errors[0];
    EXPECT_FALSE(form->Replaced());
    EXPECT_TRUE(c.link ? fs::is_symlink(File(c.name)) : ReadFile(File(c.name)) == "their file\n");
    // The rest of the pair is the old one.
    const std::string name = c.name;
    EXPECT_TRUE(name == "mailbox.idx" || ReadFile(File("mailbox.idx")) == oldIndex);
    EXPECT_TRUE(name == "mailbox.mbx" || ReadFile(File("mailbox.mbx")) == Store());
    std::vector<std::string> left = {"mailbox.idx", "mailbox.mbx"};
    if (name != "mailbox.idx" && name != "mailbox.mbx") left.push_back(name);
    // An old file that another program's took the place of is kept as a backup.
    if (name == "mailbox.idx" || name == "mailbox.mbx") {
      left.push_back(name + ".bak-20261208-142350");
      EXPECT_TRUE(ReadFile(File(left.back())) == (name == "mailbox.idx" ? oldIndex : Store()));
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(FolderEntries(), left);
  }
}

TEST_F(ChangedDuringRun, AFilePutUnderTheRunsNameJustAfterASwapLosesNoMail) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no swap of two names";
#endif
  // The old file stands under the run's name for a moment after the swap; another program's file
  // put there then must not cost the old file its last name.
  for (const char* name : {"mailbox.idx.tmp", "mailbox.xyz"}) {
    SCOPED_TRACE(name);
    const std::string oldIndex = FreshPair();
    fake_.files.afterExchange = [&](const std::string& a) {
      if (!a.ends_with(name)) return;
      fake_.files.afterExchange = nullptr;
      WriteFile(File("theirs"), "their file\n");
      fs::rename(File("theirs"), File(name));
    };
    auto form = Start();
    form->Button1Click();
    EXPECT_FALSE(form->Replaced());
    ASSERT_EQ(view_.errors.size(), 1u);
    std::vector<std::string> contents;
    for (const std::string& entry : FolderEntries())
      contents.push_back(ReadFile(File(entry)));
    for (const std::string& kept : {oldIndex, Store(), std::string("their file\n")})
      EXPECT_NE(std::find(contents.begin(), contents.end(), kept), contents.end())
          << view_.errors[0];
  }
}

TEST_F(ChangedDuringRun, AFileThatASwapCouldNotPutBackIsKeptAndNamedByTheNextStart) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no swap of two names";
#endif
  WriteIndex({{"<1@x>", "_msSent", true}});
  WriteFile(File("mailbox.mbx"), Store());
  // Another program renames its index into place at the swap, and the swap back fails.
  int swaps = 0;
  fake_.files.failWhen = [&](const std::string& op, const std::string& path) {
    if (op != "replace" || !path.ends_with(".idx.tmp")) return false;
    if (++swaps == 1) {
      WriteFile(File("theirs"), "their index\n");
      fs::rename(File("theirs"), File("mailbox.idx"));
    }
    return swaps == 2;
  };
  auto form = Start();
  form->Button1Click();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_NE(view_.errors[0].find("the swap could not be undone"), std::string::npos)
      << view_.errors[0];
  EXPECT_FALSE(form->Replaced());
  EXPECT_TRUE(form->Unsettled());
  EXPECT_EQ(ReadFile(File("mailbox.idx.tmp")), "their index\n");
  form.reset();
  // The next start completes the pair and names the other program's file, which stays.
  fake_.files.failWhen = nullptr;
  view_ = RecordingView();
  form = Start();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_NE(view_.errors[0].find("mailbox.idx.tmp\" holds a file that the repair did not make"),
            std::string::npos)
      << view_.errors[0];
  EXPECT_EQ(ReadFile(File("mailbox.idx.tmp")), "their index\n");
  EXPECT_FALSE(fs::exists(File("mailbox.idx.journal")));
}

TEST_F(ChangedDuringRun, AnIndexPutInPlaceOfTheNewOneAtOnceIsReported) {
  WriteIndex({{"<1@x>", "_msSent", true}});
  WriteFile(File("mailbox.mbx"), Store());
  // Just after the new index took its place (at the next file step).
  bool placed = false, done = false;
  fake_.files.failWhen = [&](const std::string& op, const std::string& path) {
    // (where names cannot be swapped, the rename that follows the attempt is a step of its own)
    const bool renamingIndex = op == "replace" && path.ends_with(".idx.tmp");
    if (placed && !done && !renamingIndex) {
      done = true;
      WriteFile(File("theirs"), "their index\n");
      fs::rename(File("theirs"), File("mailbox.idx"));
    }
    placed = placed || renamingIndex;
    return false;
  };
  auto form = Start();
  form->Button1Click();
  ASSERT_TRUE(done);
  EXPECT_EQ(ReadFile(File("mailbox.idx")), "their index\n");
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_NE(view_.errors[0].find("was replaced by another program once the repair had put the new "
                                 "index in place"),
            std::string::npos)
      << view_.errors[0];
}

TEST_F(ChangedDuringRun, UnchangedStoreAndNoClientReplaceAsUsual) {
  auto form = Repair(Store());
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_TRUE(form->Replaced());
  // The running-check is asked again before replacing.
  EXPECT_EQ(fake_.probe.probed, (std::vector<std::string>{kAppMutexName, kAppMutexName}));
}

// --- files left by an earlier run -------------------------------------------------------------

TEST_F(ChangedDuringRun, LeftoversNoJournalNamesAreNotedNeverReadNorRemoved) {
  // What a run without leftovers makes of the store.
  auto clean = Repair(Store(), {{"<1@x>", "_msSent", true}});
  ASSERT_TRUE(clean->Replaced());
  const std::string newStore = ReadFile(File("mailbox.mbx"));
  const std::string newIndex = ReadFile(File("mailbox.idx"));
  clean.reset();

  FreshPair();
  // Files under the names a run uses, each holding what looks like data, a folder, and a link
  // that leads outside: no journal says that a run made them, so they may be anyone's.
  const std::string stale = "From z@z.z Mon Jan 05 12:00:00 2004\nSubject: stale\n\nstale\n";
  WriteFile(File("mailbox.xyz"), stale);
  WriteFile(File("mailbox.idx.restore"), stale);
  fs::create_directories(File("mailbox.idx.tmp") / "inside");
  const fs::path outside = dir_ / "outside.txt";
  WriteFile(outside, "not mail\n");
  std::error_code e;
  fs::create_symlink(outside, File("mailbox.mbx.restore"), e);
  auto form = Start();
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_EQ(form->CurrentState(), TForm1::State::Ready);
  EXPECT_EQ(form->Label2.Caption(), "Mailbox Name : MAILBOX");
  std::vector<std::string> leftovers = {File("mailbox.xyz").string(),
                                        File("mailbox.idx.tmp").string(),
                                        File("mailbox.idx.restore").string()};
  if (!e) leftovers.push_back(File("mailbox.mbx.restore").string());
  EXPECT_EQ(form->Leftovers(), leftovers);
  form->Button1Click();
  EXPECT_TRUE(view_.errors.empty()) << view_.errors.at(0);
  EXPECT_TRUE(form->Replaced());
  EXPECT_TRUE(ReadFile(File("mailbox.mbx")) == newStore);
  EXPECT_TRUE(ReadFile(File("mailbox.idx")) == newIndex);
  EXPECT_EQ(ReadFile(File("mailbox.xyz")), stale);
  EXPECT_EQ(ReadFile(File("mailbox.idx.restore")), stale);
  EXPECT_EQ(ReadFile(outside), "not mail\n");
  std::vector<std::string> expected = {"mailbox.idx", "mailbox.idx.restore", "mailbox.idx.tmp",
                                       "mailbox.mbx", "mailbox.xyz"};
  if (!e) expected.insert(expected.begin() + 4, "mailbox.mbx.restore");
  EXPECT_EQ(FolderEntries(), expected);
}

TEST_F(ChangedDuringRun, AStoreThatCannotBeRenamedLeavesOthersFilesAlone) {
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
  // The store cannot be renamed, so that the old index is put back from its second name.
  fake_.files.failWhen = [](const std::string& op, const std::string& path) {
    return (op == "replace" || op == "move") && path.find(".xyz") != std::string::npos;
  };
  const std::string oldIndex = ReadFile(File("mailbox.idx"));
  auto form = Start();
  form->Button1Click();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_FALSE(form->Replaced());
  EXPECT_EQ(ReadFile(outside), "not mail\n");
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Store());
  EXPECT_TRUE(ReadFile(File("mailbox.idx")) == oldIndex);
  EXPECT_EQ(FolderEntries(),
            (std::vector<std::string>{"mailbox.idx", "mailbox.idx.restore", "mailbox.idx.tmp",
                                      "mailbox.mbx", "mailbox.xyz"}));
}

}  // namespace
}  // namespace qv::test
