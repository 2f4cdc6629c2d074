// Failures at every file step of a run: whatever fails, the folder keeps either the old store with
// the old index or the new store with the new index, and no message is lost.
#include <gtest/gtest.h>

#include <functional>

#include "components/ComponentFile.h"
#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

class ReplaceFault : public RepairFixture {
 public:
  using RepairFixture::fake_;
  using RepairFixture::File;
};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Store(std::size_t bodyBytes) {
  std::string s;
  for (int i = 0; i < 3; ++i) {
    s += "From a@b.c Mon Jan 05 10:00:00 2004\nMessage-ID: <" + std::to_string(i) +
         "@x>\nSubject: m\n\n";
    for (std::size_t n = 0; n < bodyBytes; n += 64)
      s += std::string(63, 'a' + i) + "\n";
  }
  return s;
}

enum class Left {
  OldPair,
  NewPair,
  // The new index beside the old store, the repaired store kept and the journal with it: the next
  // start puts the new pair together.
  NewIndexOldStoreRepairedKept,
  // Both files in place, but the folder could not be synced: the journal stays, and the next
  // start makes sure of the pair.
  NewPairJournalKept,
};

struct Fault {
  const char* what;
  std::size_t bodyBytes;
  std::function<void(ReplaceFault&)> arrange;
  Left left;
  // Files that stay beside the pair: what the run could not remove stays named in its journal.
  std::vector<std::string> leftovers;
};

TEST_F(ReplaceFault, NoMessageIsLostWhateverStepFails) {
  auto failOn = [](const std::string& op, const std::string& tail) {
    return [op, tail](ReplaceFault& t) {
      t.fake_.files.failWhen = [op, tail](const std::string& o, const std::string& path) {
        return o == op && EndsWith(path, tail);
      };
    };
  };
  auto failBoth = [](std::string op1, std::string tail1, std::string op2, std::string tail2) {
    return [=](ReplaceFault& t) {
      t.fake_.files.failWhen = [=](const std::string& o, const std::string& path) {
        return (o == op1 && EndsWith(path, tail1)) || (o == op2 && EndsWith(path, tail2));
      };
    };
  };
  const Fault faults[] = {
      {"create of the repaired store", 100, failOn("create", ".xyz"), Left::OldPair, {}},
      {"write of the repaired store, at its close",
       100,
       failOn("commit", ".xyz"),
       Left::OldPair,
       {}},
      {"write of the repaired store, a large block",
       1 << 20,
       [](ReplaceFault& t) { t.fake_.files.writeLimit = 4096; },
       Left::OldPair,
       {}},
      {"sync of the repaired store", 100, failOn("sync", ".xyz"), Left::OldPair, {}},
      {"sync of the repaired store and its delete",
       100,
       failBoth("sync", ".xyz", "delete", ".xyz"),
       Left::OldPair,
       {"mailbox.xyz", "mailbox.idx.journal"}},
      {"create of the new index", 100, failOn("create", ".idx.tmp"), Left::OldPair, {}},
      {"journal before the renames", 100, failOn("append", ".journal"), Left::OldPair, {}},
      {"write of the new index, at its close",
       100,
       failOn("commit", ".idx.tmp"),
       Left::OldPair,
       {}},
      {"sync of the new index", 100, failOn("sync", ".idx.tmp"), Left::OldPair, {}},
      {"rename of the new index", 100, failOn("replace", ".idx.tmp"), Left::OldPair, {}},
      {"rename of the repaired store", 100, failOn("replace", ".xyz"), Left::OldPair, {}},
      {"rename of the repaired store, and putting the old index back",
       100,
       failBoth("replace", ".xyz", "replace", ".restore"),
       Left::NewIndexOldStoreRepairedKept,
       {}},
      {"sync of the folder before the renames",
       100,
       failOn("syncdir", (fs::path("profile") / "default" / "").string()),
       Left::OldPair,
       {}},
      {"sync of the folder after the renames",
       100,
       [](ReplaceFault& t) {
         t.fake_.files.failWhen = [n = 0](const std::string& o, const std::string&) mutable {
           return o == "syncdir" && ++n == 2;
         };
       },
       Left::NewPairJournalKept,
       {}},
  };

  for (const auto& f : faults) {
    SCOPED_TRACE(f.what);
    const std::string store = Store(f.bodyBytes);
    const std::vector<OldEntry> old = {{"<1@x>", "_msSent", true}};

    // What a run without faults makes of the same folder.
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    fake_.files.failWhen = nullptr;
    fake_.files.writeLimit = -1;
    view_ = RecordingView();
    Repair(store, old);
    ASSERT_TRUE(view_.errors.empty());
    const std::string newStore = ReadFile(File("mailbox.mbx"));
    const std::string newIndex = ReadFile(File("mailbox.idx"));

    fs::remove_all(Folder());
    fs::create_directories(Folder());
    view_ = RecordingView();
    view_.beeper = &fake_.beeper;
    fake_.beeper.beeps = 0;
    WriteIndex(old);
    WriteFile(File("mailbox.mbx"), store);
    const std::string oldIndex = ReadFile(File("mailbox.idx"));
    fake_.files.written = 0;
    f.arrange(*this);
    auto form = Start();
    ASSERT_EQ(form->CurrentState(), TForm1::State::Ready);
    form->Button1Click();

    EXPECT_EQ(form->CurrentState(), TForm1::State::Done);
    EXPECT_TRUE(form->Button2.Enabled());
    ASSERT_FALSE(view_.errors.empty());
    EXPECT_EQ(fake_.beeper.beeps, static_cast<int>(view_.errors.size()));
    EXPECT_EQ(form->Replaced(), f.left == Left::NewPair || f.left == Left::NewPairJournalKept);
    switch (f.left) {
      case Left::OldPair:
        EXPECT_TRUE(ReadFile(File("mailbox.mbx")) == store);
        EXPECT_TRUE(ReadFile(File("mailbox.idx")) == oldIndex);
        break;
      case Left::NewPair:
      case Left::NewPairJournalKept:
        EXPECT_TRUE(ReadFile(File("mailbox.mbx")) == newStore);
        EXPECT_TRUE(ReadFile(File("mailbox.idx")) == newIndex);
        break;
      case Left::NewIndexOldStoreRepairedKept:
        // Neither pair could be completed: the old store stays, and the new pair is the new
        // index with the repaired store kept beside it, which the error names.
        EXPECT_TRUE(ReadFile(File("mailbox.mbx")) == store);
        EXPECT_TRUE(ReadFile(File("mailbox.idx")) == newIndex);
        EXPECT_TRUE(ReadFile(File("mailbox.xyz")) == newStore);
        EXPECT_NE(view_.errors.back().find(File("mailbox.xyz").string()), std::string::npos)
            << view_.errors.back();
        break;
    }
    std::vector<std::string> expected = {"mailbox.idx", "mailbox.mbx"};
    const bool journal =
        f.left == Left::NewIndexOldStoreRepairedKept || f.left == Left::NewPairJournalKept;
    if (journal) {
      expected.push_back("mailbox.idx.journal");
      expected.push_back("mailbox.idx.restore");
      expected.push_back("mailbox.mbx.restore");
    }
    if (f.left == Left::NewIndexOldStoreRepairedKept) expected.push_back("mailbox.xyz");
    for (const auto& own : f.leftovers)
      expected.push_back(own);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(FolderEntries(), expected);

    if (journal) {
      // The next start of the program completes the replacement and says so.
      form.reset();
      fake_.files.failWhen = nullptr;
      view_ = RecordingView();
      auto next = Start();
      EXPECT_EQ(next->InterruptedReplacement(), TForm1::Interrupted::Completed);
      EXPECT_EQ(view_.messages, std::vector<std::string>{f.left == Left::NewPairJournalKept
                                                             ? kReplacementFinished
                                                             : kReplacementCompleted});
      EXPECT_TRUE(ReadFile(File("mailbox.mbx")) == newStore);
      EXPECT_TRUE(ReadFile(File("mailbox.idx")) == newIndex);
      EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
      EXPECT_EQ(next->CurrentState(), TForm1::State::Ready);
    }
  }
}

TEST_F(ReplaceFault, IndexGoneBeforeAFailedRenameIsGoneAfterIt) {
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), Store(10));
  auto form = Start();
  fs::remove(File("mailbox.idx"));
  fake_.files.failWhen = [](const std::string& op, const std::string& path) {
    return op == "replace" && EndsWith(path, ".xyz");
  };
  form->Button1Click();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_FALSE(form->Replaced());
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Store(10));
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"mailbox.mbx"});
}

TEST_F(ReplaceFault, FailedCreateOfTheRepairedStoreClosesTheWindow) {
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), Store(10));
  fake_.files.failWhen = [](const std::string& op, const std::string& path) {
    return op == "create" && EndsWith(path, ".xyz");
  };
  auto form = Start();
  form->Button1Click();
  // The dialog's text, then what failed and why.
  ASSERT_EQ(view_.errors.size(), 1u);
  const std::string text = "Error creating backup mailbox.\nCannot create file \"" +
                           File("mailbox.xyz").string() + "\". ";
  EXPECT_EQ(view_.errors[0].substr(0, text.size()), text);
  // The system's reason follows.
  EXPECT_GT(view_.errors[0].size(), text.size() + 3);
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_TRUE(view_.closed);
  EXPECT_FALSE(form->Replaced());
}

TEST_F(ReplaceFault, RunSyncsTheStoreAndTheIndexBeforeReplacing) {
  auto form = Repair(Store(10));
  ASSERT_TRUE(form->Replaced());
  const std::string folder = (Folder() / "").string();
  // The journal names what the run makes before any of it holds data (the repaired store and the
  // new index's file are made empty first), and everything the renames need is on the disk, the
  // journal's second record last, before the first rename.
  std::vector<std::string> steps = {
      "create " + folder + "mailbox.xyz",         "create " + folder + "mailbox.idx.tmp",
      "create " + folder + "mailbox.idx.journal", "commit " + folder + "mailbox.idx.journal",
      "sync " + folder + "mailbox.idx.journal",   "syncdir " + folder,
      "link " + folder + "mailbox.idx",           "link " + folder + "mailbox.mbx",
      "commit " + folder + "mailbox.xyz",         "sync " + folder + "mailbox.xyz",
      "chmod " + folder + "mailbox.xyz",          "commit " + folder + "mailbox.idx.tmp",
      "chmod " + folder + "mailbox.idx.tmp",      "sync " + folder + "mailbox.idx.tmp",
      "append " + folder + "mailbox.idx.journal", "replace " + folder + "mailbox.idx.tmp",
      "replace " + folder + "mailbox.xyz",        "syncdir " + folder,
      "delete " + folder + "mailbox.idx.restore", "delete " + folder + "mailbox.mbx.restore",
      "delete " + folder + "mailbox.idx.journal", "syncdir " + folder};
#ifndef _WIN32
  // Each rename swaps the two names, and the old file's name at the new file's then goes.
  steps.insert(steps.begin() + 16, "delete " + folder + "mailbox.idx.tmp");
  steps.insert(steps.begin() + 18, "delete " + folder + "mailbox.xyz");
#endif
  EXPECT_EQ(fake_.files.log, steps);
}

}  // namespace
}  // namespace qv::test
