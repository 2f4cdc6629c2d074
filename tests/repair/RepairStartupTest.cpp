// Start-up of the window: which mailbox is chosen, when the repair is offered, and the window's
// states around one run.
#include <gtest/gtest.h>

#include <chrono>

#include "repair/RepairFixture.h"
#include "repair/Replacement.h"

namespace qv::test {
namespace {

using State = TForm1::State;

class RepairStartup : public RepairFixture {};

TEST_F(RepairStartup, NewFormShowsItsInitialControls) {
  TForm1 form(fake_.services(), view_, registry_);
  EXPECT_EQ(form.Name(), "Form1");
  EXPECT_EQ(form.Button1.Caption(), "Repair Mailbox");
  EXPECT_EQ(form.Button2.Caption(), "Cancel");
  EXPECT_EQ(form.Label2.Caption(), "Mailbox Name :  ");
  EXPECT_EQ(form.Label1.Caption(), kWarningText);
  EXPECT_TRUE(form.Label1.WordWrap());
  EXPECT_EQ(form.Button2.Bounds().left, 224);
  EXPECT_EQ(form.MessageCount, -1);
  EXPECT_EQ(form.MailBox.MailDir(), "\\mail");
  std::vector<std::string> owned;
  for (int i = 0; i < form.ComponentCount(); ++i)
    owned.push_back(form.Components(i)->Name());
  EXPECT_EQ(owned, (std::vector<std::string>{"Button1", "Label1", "Label2", "MailBox", "qvProfile",
                                             "Button2", "clImportMsg", "qvMailBox"}));
}

TEST_F(RepairStartup, MailboxNameComesFromTheProfileOrDefaultsToMailbox) {
  struct Case {
    const char* what;
    bool profile;
    std::string mailbox;    // the profile's Mailbox
    std::string indexName;  // index written, "-" for none
    State state;
    std::string label;
    std::string name;
  };
  const Case cases[] = {
      {"no profile, index", false, "", "mailbox", State::Ready, "Mailbox Name : MAILBOX",
       "mailbox"},
      {"no profile, no index", false, "", "-", State::Blocked, "Cannot find mailbox", "mailbox"},
      {"Inbox2", true, "Inbox2", "Inbox2", State::Ready, "Mailbox Name : INBOX2", "Inbox2"},
#ifdef _WIN32
      // Windows' file names are the same in any case.
      {"Inbox2 finds its file in another case", true, "Inbox2", "inbox2", State::Ready,
       "Mailbox Name : INBOX2", "Inbox2"},
#else
      {"Inbox2 looks for its own case", true, "Inbox2", "inbox2", State::Blocked,
       "Cannot find mailbox", "Inbox2"},
#endif
      {"empty Mailbox, no .idx", true, "", "mailbox", State::Blocked, "Cannot find mailbox", ""},
      {"empty Mailbox, .idx", true, "", "", State::Ready, "Mailbox Name : ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    if (c.profile) WriteProfile(c.mailbox);
    if (c.indexName != "-") WriteIndex({}, c.indexName);
    auto form = Start();
    EXPECT_EQ(form->CurrentState(), c.state);
    EXPECT_EQ(form->Label2.Caption(), c.label);
    EXPECT_EQ(form->MailboxName, c.name);
    EXPECT_EQ(form->Button1.Enabled(), c.state == State::Ready);
    EXPECT_TRUE(form->Button2.Enabled());
    EXPECT_EQ(form->Button2.Caption(), "Cancel");
    EXPECT_TRUE(view_.errors.empty());
  }
}

TEST_F(RepairStartup, Inbox2RunKeepsTheCaseOfItsFileNames) {
  WriteProfile("Inbox2");
  WriteIndex({}, "Inbox2");
  WriteFile(File("Inbox2.mbx"), "From a Mon Jan 05 10:00:00 2004\nSubject: s\n\nbody\n");
  auto form = Start();
  form->Button1Click();
  EXPECT_TRUE(form->Replaced());
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"Inbox2.idx", "Inbox2.mbx", "profile.dat"}));
  EXPECT_EQ(LoadIndex("Inbox2").MailItems().Count(), 1);
}

TEST_F(RepairStartup, RunningClientBlocksWithItsMessageEvenWithoutAnIndex) {
  for (const bool withIndex : {false, true}) {
    SCOPED_TRACE(withIndex);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    view_ = RecordingView();
    view_.beeper = &fake_.beeper;
    fake_.beeper.beeps = 0;
    fake_.probe.running = {"QuorvaneAppMutex"};
    fake_.probe.probed.clear();
    if (withIndex) WriteIndex({});
    auto form = Start();
    EXPECT_EQ(form->CurrentState(), State::Blocked);
    EXPECT_EQ(form->Label2.Caption(), withIndex ? "Mailbox Name : MAILBOX" : "Cannot find mailbox");
    EXPECT_EQ(view_.errors, std::vector<std::string>{"Please close Quorvane before running."});
    EXPECT_EQ(view_.beepsAtErrors, 1);
    EXPECT_FALSE(form->Button1.Enabled());
    EXPECT_EQ(fake_.probe.probed, std::vector<std::string>{"QuorvaneAppMutex"});
    // A blocked form never runs.
    form->Button1Click();
    EXPECT_EQ(form->CurrentState(), State::Blocked);
    EXPECT_EQ(form->MessageCount, -1);
  }
}

TEST_F(RepairStartup, IsAppRunningProbesEveryTrimmedNonEmptyPiece) {
  struct Case {
    std::string names;
    std::set<std::string> running;
    bool answer;
    std::vector<std::string> probed;
  };
  const Case cases[] = {
      {"", {}, false, {}},
      {" , \t,", {}, false, {}},
      {" , QuorvaneAppMutex ", {"QuorvaneAppMutex"}, true, {"QuorvaneAppMutex"}},
      {"a,,\tb\r\n,c", {}, false, {"a", "b", "c"}},
      {"a,b,c", {"b"}, true, {"a", "b"}},
      {"quorvaneappmutex", {"QuorvaneAppMutex"}, false, {"quorvaneappmutex"}},
  };
  TForm1 form(fake_.services(), view_, registry_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.names);
    fake_.probe.running = c.running;
    fake_.probe.probed.clear();
    EXPECT_EQ(form.IsAppRunning(c.names), c.answer);
    EXPECT_EQ(fake_.probe.probed, c.probed);
  }
}

TEST_F(RepairStartup, UnreadableProfileIsReportedAndBlocks) {
  WriteFile(File("profile.dat"), std::string("TPF0\x0aTqvProfile\x09qvProfile\x07Mail", 30));
  WriteIndex({});
  auto form = Start();
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_FALSE(view_.errors[0].empty());
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_EQ(form->CurrentState(), State::Blocked);
  EXPECT_FALSE(form->Button1.Enabled());
}

TEST_F(RepairStartup, TruncatedIndexIsReportedAndTheRepairStillOffered) {
  WriteIndex({{"<one@x>", "_msSent", true}, {"<two@x>", "_msTrash", true}});
  const std::string full = ReadFile(File("mailbox.idx"));
  // Cut inside the second entry: the folders and the first entry were read.
  const std::size_t cut = full.find("<two@x>");
  ASSERT_NE(cut, std::string::npos);
  WriteFile(File("mailbox.idx"), full.substr(0, cut + 3));
  WriteFile(File("mailbox.mbx"),
            "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <one@x>\n\none\n"
            "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <two@x>\n\ntwo\n");
  auto form = Start();
  ASSERT_EQ(view_.errors.size(), 1u);
  // The reader's text, then the file it was reading.
  EXPECT_TRUE(view_.errors[0].ends_with("Stream read error\n\"" + File("mailbox.idx").string() +
                                        "\": the file is damaged"))
      << view_.errors[0];
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_EQ(form->CurrentState(), State::Ready);
  EXPECT_EQ(form->Label2.Caption(), "Mailbox Name : MAILBOX");
  form->Button1Click();
  EXPECT_EQ(view_.errors.size(), 1u);
  EXPECT_TRUE(form->Replaced());
  TqvMailBox& box = LoadIndex();
  EXPECT_EQ(box.TreeItems().Count(), 2);
  ASSERT_EQ(box.MailItems().Count(), 2);
  EXPECT_EQ(box.MailItems().ItemAt(0).FolderKey(), "_msSent");
  EXPECT_TRUE(box.MailItems().ItemAt(0).Read());
  EXPECT_EQ(box.MailItems().ItemAt(1).FolderKey(), "_msInbox");
  EXPECT_FALSE(box.MailItems().ItemAt(1).Read());
}

// A read error of the old index was taken for a damaged index: the run went on without the
// folders and read states, and every message came back unread in the Inbox. Any file the run
// reads that the system fails to open or read stops it before anything is written, with the
// file and the system's reason.
TEST_F(RepairStartup, ASystemErrorReadingAnyFileStopsBeforeAnythingIsWritten) {
  const struct {
    const char* op;
    const char* file;
  } cases[] = {{"open", "mailbox.idx"},
               {"read", "mailbox.idx"},
               {"read", "profile.dat"},
               {"open", "mailbox.mbx"},
               {"read", "mailbox.mbx"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.op) + " " + c.file);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    view_ = RecordingView();
    WriteProfile("mailbox");
    WriteIndex({{"<1@x>", "_msSent", true}});
    WriteFile(File("mailbox.mbx"), "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n");
    const std::string index = ReadFile(File("mailbox.idx"));
    const std::vector<std::string> entries = FolderEntries();
    const std::string path = File(c.file).string();
    fake_.files.failRead = [&](const std::string& op, const std::string& p) {
      return op == c.op && p == path;
    };
    auto form = Start();
    form->Button1Click();
    fake_.files.failRead = nullptr;
    // Start-up reads the profile and the index; the run the store.
    EXPECT_EQ(form->CurrentState(),
              std::string(c.file) == "mailbox.mbx" ? State::Done : State::Blocked);
    EXPECT_FALSE(form->Replaced());
    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_NE(view_.errors[0].find(path), std::string::npos) << view_.errors[0];
    EXPECT_NE(view_.errors[0].find("Input/output error"), std::string::npos) << view_.errors[0];
    EXPECT_EQ(FolderEntries(), entries);
    EXPECT_EQ(ReadFile(File("mailbox.idx")), index);
  }
}

// An index damaged inside its folder tree gave a new index without any folder. The tree comes
// from the newest copy of the index beside it that reads whole, else the Inbox alone is written.
TEST_F(RepairStartup, IndexDamagedInItsFolderTreeTakesTheTreeOfTheNewestReadableCopy) {
  for (const bool copies : {true, false}) {
    SCOPED_TRACE(copies);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    // Two readable backups, the newer a day old, and a damaged kept copy newer still.
    for (const int days : {2, 1}) {
      if (!copies) break;
      const std::string name = "mailbox.idx.bak-2026120" + std::to_string(days);
      WriteIndex({});
      fs::rename(File("mailbox.idx"), File(name));
      fs::last_write_time(File(name),
                          fs::file_time_type::clock::now() - std::chrono::hours(24 * days));
    }
    if (copies) WriteFile(File("mailbox.idx.restore"), "TPF0 damaged too");
    WriteIndex({{"<1@x>", "_msSent", true}});
    const std::string full = ReadFile(File("mailbox.idx"));
    WriteFile(File("mailbox.idx"), full.substr(0, full.find("Inbox") - 3));
    WriteFile(File("mailbox.mbx"), "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n");
    auto form = Start();
    form->Button1Click();
    ASSERT_TRUE(form->Replaced());
    const TMailTree& tree = LoadIndex().TreeItems();
    std::vector<std::string> folders;
    for (int i = 0; i < tree.Count(); ++i)
      folders.push_back(tree.ItemAt(i).Text());
    if (copies) {
      EXPECT_EQ(folders, (std::vector<std::string>{"Inbox", "Sent"}));
      EXPECT_EQ(form->Figures().folderTree,
                "taken from " + File("mailbox.idx.bak-20261201").string());
    } else {
      ASSERT_EQ(folders, std::vector<std::string>{"Inbox"});
      EXPECT_TRUE(tree.ItemAt(0).IsVisible() && tree.ItemAt(0).IsProtected());
      EXPECT_EQ(tree.ItemAt(0).Unread(), 1);
      EXPECT_TRUE(form->Figures().folderTree.starts_with("a new Inbox alone"));
    }
  }
}

TEST_F(RepairStartup, ButtonsFollowReadyRunningDone) {
  WriteIndex({});
  WriteFile(File("mailbox.mbx"),
            "From a Mon Jan 05 10:00:00 2004\n\nx\n"
            "From a Mon Jan 05 10:00:00 2004\n\ny\n");
  auto form = Start();
  EXPECT_EQ(form->CurrentState(), State::Ready);
  EXPECT_TRUE(form->Button1.Enabled());
  EXPECT_TRUE(form->CloseQuery());

  std::vector<std::string> seen;
  view_.onProcess = [&] {
    EXPECT_EQ(form->CurrentState(), State::Running);
    EXPECT_FALSE(form->Button1.Enabled());
    EXPECT_FALSE(form->Button2.Enabled());
    EXPECT_FALSE(form->CloseQuery());
    seen.push_back(form->Label2.Caption());
    // A close attempted meanwhile (keyboard, window manager) is refused and changes nothing.
    form->FormClose();
    form->Button1Click();  // no second run from within the first
  };
  form->Button1Click();
  EXPECT_EQ(seen, (std::vector<std::string>{"Repairing message : 0", "Repairing message : 1",
                                            "Repairing message : 2"}));
  EXPECT_EQ(form->CurrentState(), State::Done);
  EXPECT_FALSE(form->Button1.Enabled());
  EXPECT_TRUE(form->Button2.Enabled());
  EXPECT_EQ(form->Button2.Caption(), "Close");
  EXPECT_EQ(form->Label2.Caption(), "Repairing message : 2");
  EXPECT_TRUE(form->CloseQuery());
  EXPECT_EQ(form->MessageCount, 2);

  // A run happens once per start.
  view_.onProcess = nullptr;
  const std::string store = ReadFile(File("mailbox.mbx"));
  fake_.clock = FixedClock(EncodeDateTime(2027, 1, 1, 0, 0, 0));
  form->Button1Click();
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), store);
  EXPECT_FALSE(view_.closed);
  form->Button2Click();
  EXPECT_TRUE(view_.closed);
  form->FormClose();
}

// "Mailbox = ../../../outside/evil" made the repair rewrite files outside the profile folder.
// A name that is not a plain file name blocks the repair before any file is looked at; a name
// with 8-bit characters is found under its file system name; a name as long as the file system
// takes is repaired (the temporary names are cut to fit).
TEST_F(RepairStartup, MailboxNamesReachNoFileOutsideTheProfileFolder) {
  const fs::path outside = dir_ / "outside";
  using namespace std::string_literals;
  for (const std::string& name : {"../../outside/evil"s, "a/b"s, "a\\b"s, "C:evil"s, ".."s, "."s,
                                  "nul"s, "Con.box"s, "tab\there"s, "cut\0short"s}) {
    SCOPED_TRACE(name);
    fs::remove_all(dir_);
    fs::create_directories(Folder());
    fs::create_directories(outside);
    WriteFile(outside / "evil.mbx", "From a Mon Jan 05 10:00:00 2004\n\nkeep\n");
    WriteFile(outside / "evil.idx", "keep");
    WriteProfile(name);
    view_ = RecordingView();
    auto form = Start();
    EXPECT_EQ(form->CurrentState(), State::Blocked);
    // The whole name, a NUL or a tab shown as such, and the profile with what is wrong with it.
    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_EQ(view_.errors[0].rfind(FormatMessage(kBadMailboxName, {VisibleText(name)}) + "\n\"" +
                                        File("profile.dat").string() + "\": its mailbox name: ",
                                    0),
              0u)
        << view_.errors[0];
    EXPECT_EQ(form->BlockedReason(), view_.errors.at(0));
    EXPECT_EQ(form->Label2.Caption(), kMailboxNameLabel);
    form->Button1Click();
    EXPECT_EQ(ReadFile(outside / "evil.idx"), "keep");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"profile.dat"});
  }

  // As long as the system takes: 251 bytes and ".mbx", or on Windows what its paths leave room for.
  const std::size_t longest = std::min<std::size_t>(
      251, fake_.files.MaxPathBytes() - (Folder() / "x.mbx").string().size() + 1);
  std::vector<std::string> names = {std::string(longest, 'm')};
#ifndef _WIN32
  // Linux names the files in UTF-8 (Windows hands the ANSI name to its A functions as it is,
  // which the test's own std::filesystem paths would not match).
  names.push_back("B\xF6x");
#endif
  for (const std::string& name : names) {
    fs::remove_all(dir_);
    fs::create_directories(Folder());
    WriteProfile(name);
    platform::SystemFileSystem files;
    const std::string file = files.FileNameFromAnsi(name);
    WriteIndex({}, file);
    WriteFile(File(file + ".mbx"), "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n");
    view_ = RecordingView();
    auto form = Start();
    ASSERT_EQ(form->CurrentState(), State::Ready) << name;
    form->Button1Click();
    EXPECT_TRUE(form->Replaced()) << (view_.errors.empty() ? "" : view_.errors[0]);
    EXPECT_EQ(LoadIndex(file).MailItems().Count(), 1);
    EXPECT_EQ(FolderEntries(),
              (std::vector<std::string>{file + ".idx", file + ".mbx", "profile.dat"}));
  }
}

// Two repairs of one folder at the same time lost mail. While one form may still run (Ready) or
// runs, a second is refused at start-up; once the first is done, the folder is free again. A
// check only looks: a repair started during one is not refused.
TEST_F(RepairStartup, OneRepairPerFolderAtATime) {
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), "From a Mon Jan 05 10:00:00 2004\n\nhi\n");
  TForm1 check(fake_.services(), view_, registry_);
  check.SetAppDir(dir_.string());
  check.SetDryRun(true);
  check.FormShow();
  auto first = Start();
  ASSERT_EQ(first->CurrentState(), State::Ready);
  auto second = Start();
  EXPECT_EQ(second->CurrentState(), State::Blocked);
  EXPECT_EQ(view_.errors, std::vector<std::string>{kRepairRunning});
  EXPECT_EQ(view_.beepsAtErrors, 1);
  EXPECT_EQ(second->BlockedReason(), kRepairRunning);
  second.reset();
  first->Button1Click();
  ASSERT_TRUE(first->Replaced());
  auto third = Start();
  EXPECT_EQ(third->CurrentState(), State::Ready);
}

// A crash between the two renames left the new index beside the old store, and the next start
// said nothing. Now the next start finishes the replacement, or puts the old pair back, or, while
// the client runs, touches nothing and says that the repair tool is needed.
TEST_F(RepairStartup, NextStartSettlesAnInterruptedReplacement) {
  const std::string store = "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n";
  // A run whose store rename and put-back both fail leaves new index, old store, repaired store
  // and journal.
  auto interrupted = [&] {
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    fake_.files.failWhen = [](const std::string& op, const std::string& path) {
      return op == "replace" && (path.ends_with(".xyz") || path.ends_with(".restore"));
    };
    auto form = Repair(store, {{"<1@x>", "_msSent", true}});
    EXPECT_FALSE(form->Replaced());
    fake_.files.failWhen = nullptr;
    EXPECT_TRUE(fs::exists(File("mailbox.idx.journal")));
    view_ = RecordingView();
    view_.beeper = &fake_.beeper;
    fake_.beeper.beeps = 0;
  };

  interrupted();
  const std::string newIndex = ReadFile(File("mailbox.idx"));
  const std::vector<std::string> entries = FolderEntries();
  fake_.probe.running.insert(kAppMutexName);
  auto pending = Start();
  EXPECT_EQ(pending->InterruptedReplacement(), TForm1::Interrupted::Pending);
  EXPECT_EQ(pending->CurrentState(), State::Blocked);
  EXPECT_EQ(view_.errors, std::vector<std::string>{kReplacementPending});
  EXPECT_EQ(FolderEntries(), entries);
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), store);
  fake_.probe.running.clear();
  pending.reset();

  view_ = RecordingView();
  auto completed = Start();
  EXPECT_EQ(completed->InterruptedReplacement(), TForm1::Interrupted::Completed);
  EXPECT_EQ(view_.messages, std::vector<std::string>{kReplacementCompleted});
  EXPECT_TRUE(view_.errors.empty());
  EXPECT_EQ(completed->CurrentState(), State::Ready);
  EXPECT_EQ(ReadFile(File("mailbox.idx")), newIndex);
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), Sep("") + "Message-ID: <1@x>\r\n\r\nhi\r\n\r\n\r\n");
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
  completed.reset();

  // The repaired store is gone: the old index goes back beside the old store.
  interrupted();
  fs::remove(File("mailbox.xyz"));
  auto undone = Start();
  EXPECT_EQ(undone->InterruptedReplacement(), TForm1::Interrupted::Undone);
  EXPECT_EQ(view_.messages, std::vector<std::string>{kReplacementUndone});
  EXPECT_EQ(ReadFile(File("mailbox.mbx")), store);
  EXPECT_EQ(LoadIndex().MailItems().ItemAt(0).FolderKey(), "_msSent");
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
  undone.reset();

  // An index that is neither the old nor the new one: nothing is touched, and the user is told.
  interrupted();
  fs::remove(File("mailbox.idx"));
  WriteFile(File("mailbox.idx"), "something else");
  const std::vector<std::string> before = FolderEntries();
  auto failed = Start();
  EXPECT_EQ(failed->InterruptedReplacement(), TForm1::Interrupted::Failed);
  EXPECT_EQ(failed->CurrentState(), State::Blocked);
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_EQ(view_.errors[0].rfind(std::string(kReplacementFailed) + "\n", 0), 0u);
  EXPECT_EQ(FolderEntries(), before);
}

// A start after an interrupted run settles whatever can be told safely (and `check` says
// beforehand what it will do); where it cannot, it keeps every file and names the command that
// settles it. A kill before the first rename followed by a new index from the client, or a junk
// journal, used to block every later start.
TEST_F(RepairStartup, EveryStateAnInterruptedRunLeavesIsSettledOrNamesItsCommand) {
  const std::string store = "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n";
  // A run stopped before its first rename whose removals failed: its files and journal stay.
  auto stoppedBeforeRenames = [&] {
    fake_.files.failWhen = [](const std::string& op, const std::string&) {
      return op == "append" || op == "delete";
    };
    auto form = Repair(store, {{"<1@x>", "_msSent", true}});
    EXPECT_FALSE(form->Replaced());
    fake_.files.failWhen = nullptr;
    EXPECT_TRUE(fs::exists(File("mailbox.idx.journal")));
  };
  const std::string aside = "mailbox.idx.journal.damaged-20261208-142350";
  struct Case {
    const char* what;
    std::function<void()> arrange;
    TForm1::Interrupted outcome;
    const char* action;  // what `check` reports
    std::vector<std::string> left;
  };
  const Case cases[] = {
      {"stopped before the first rename, the index rewritten since",
       [&] {
         stoppedBeforeRenames();
         WriteIndex({{"<1@x>", "_msTrash", false}}, "client");
         fs::rename(File("client.idx"), File("mailbox.idx"));
       },
       TForm1::Interrupted::Cleared,
       "clear",
       {"mailbox.idx", "mailbox.mbx"}},
      {"a junk journal",
       [&] { WriteFile(File("mailbox.idx.journal"), "junk\n"); },
       TForm1::Interrupted::MovedAside,
       "move-aside",
       {"mailbox.idx", aside, "mailbox.mbx"}},
      {"a folder under the journal's name",
       [&] { fs::create_directory(File("mailbox.idx.journal")); },
       TForm1::Interrupted::MovedAside,
       "move-aside",
       {"mailbox.idx", aside, "mailbox.mbx"}},
      {"a journal of 4 GiB, never read",
       [&] {
         WriteFile(File("mailbox.idx.journal"), "");
         fs::resize_file(File("mailbox.idx.journal"), std::uintmax_t{4} << 30);
       },
       TForm1::Interrupted::MovedAside,
       "move-aside",
       {"mailbox.idx", aside, "mailbox.mbx"}},
      {"a journal cut short beside files a run makes",
       [&] {
         stoppedBeforeRenames();
         fs::resize_file(File("mailbox.idx.journal"), 40);
       },
       TForm1::Interrupted::Failed,
       "refuse",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Folder());
    fs::create_directories(Folder());
    WriteIndex({{"<1@x>", "_msSent", true}});
    WriteFile(File("mailbox.mbx"), store);
    c.arrange();
    const std::vector<std::string> before = FolderEntries();
    const std::string index = ReadFile(File("mailbox.idx"));
    view_ = RecordingView();
    {
      auto check = std::make_unique<TForm1>(fake_.services(), view_, registry_);
      check->SetAppDir(dir_.string());
      check->SetDryRun(true);
      check->FormShow();
      EXPECT_EQ(check->Figures().interruptedAction, c.action);
      EXPECT_EQ(FolderEntries(), before);
    }
    auto form = Start();
    EXPECT_EQ(form->InterruptedReplacement(), c.outcome);
    EXPECT_EQ(ReadFile(File("mailbox.mbx")), store);
    EXPECT_TRUE(ReadFile(File("mailbox.idx")) == index);
    if (c.outcome != TForm1::Interrupted::Failed) {
      EXPECT_EQ(form->CurrentState(), State::Ready);
      EXPECT_EQ(FolderEntries(), c.left);
      continue;
    }
    // Every file stays; the error says which exist and what settles them, and that does.
    EXPECT_EQ(form->CurrentState(), State::Blocked);
    EXPECT_EQ(FolderEntries(), before);
    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_NE(view_.errors[0].find("mailbox.xyz"), std::string::npos) << view_.errors[0];
    EXPECT_NE(view_.errors[0].find(kKeepCurrentCommand), std::string::npos) << view_.errors[0];
    form.reset();
    auto keep = std::make_unique<TForm1>(fake_.services(), view_, registry_);
    keep->SetAppDir(dir_.string());
    keep->SetKeepCurrent(true);
    keep->FormShow();
    EXPECT_EQ(keep->InterruptedReplacement(), TForm1::Interrupted::KeptCurrent);
    EXPECT_FALSE(fs::exists(File("mailbox.idx.journal")));
    EXPECT_EQ(Start()->CurrentState(), State::Ready);
  }

  // Keeping the pair in place after a stop before the renames leaves nothing of the run beside
  // it: the kept index, a second name of the index in place, used to stay for ever.
  fs::remove_all(Folder());
  fs::create_directories(Folder());
  WriteIndex({{"<1@x>", "_msSent", true}});
  WriteFile(File("mailbox.mbx"), store);
  stoppedBeforeRenames();
  auto keep = std::make_unique<TForm1>(fake_.services(), view_, registry_);
  keep->SetAppDir(dir_.string());
  keep->SetKeepCurrent(true);
  keep->FormShow();
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
}

// What a settled replacement left and could not remove keeps its journal and blocks the start,
// so that the next start removes it; it used to be reported once and then left for ever.
TEST_F(RepairStartup, LeftoversThatCannotBeRemovedAreSettledByTheNextStart) {
  WriteIndex({{"<1@x>", "_msSent", true}});
  WriteFile(File("mailbox.mbx"), "From a Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n");
  fake_.files.failWhen = [](const std::string& op, const std::string& path) {
    return op == "delete" && path.ends_with("mailbox.idx.restore");
  };
  EXPECT_TRUE(Repair("From a Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\nhi\n",
                     {{"<1@x>", "_msSent", true}})
                  ->Unsettled());
  view_ = RecordingView();
  EXPECT_EQ(Start()->CurrentState(), State::Blocked);
  EXPECT_TRUE(fs::exists(File("mailbox.idx.journal")));
  fake_.files.failWhen = nullptr;
  EXPECT_EQ(Start()->CurrentState(), State::Ready);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"mailbox.idx", "mailbox.mbx"}));
}

// A read-only index (restored from a CD) let the run report success and leave its files beside
// it; now a read-only store or index is refused at start-up, with the file.
TEST_F(RepairStartup, AReadOnlyStoreOrIndexIsRefusedAtStartUp) {
  for (const char* name : {"mailbox.mbx", "mailbox.idx"}) {
    SCOPED_TRACE(name);
    view_ = RecordingView();
    WriteIndex({});
    WriteFile(File("mailbox.mbx"), "From a Mon Jan 05 10:00:00 2004\n\nhi\n");
    fake_.files.readOnly = {File(name).string()};
    auto form = Start();
    EXPECT_EQ(form->CurrentState(), State::Blocked);
    ASSERT_EQ(view_.errors.size(), 1u);
    EXPECT_EQ(view_.errors[0], std::string(kReadOnlyFile) + "\n\"" + File(name).string() +
                                   "\" is read-only: clear its read-only attribute first.");
  }
}

TEST_F(RepairStartup, JournalChecksumsAreTheCrc32OfTheWholeFile) {
  // Journals left by earlier runs hold CRC-32 values: the sum must stay that, for every length.
  fs::create_directories(Folder());
  WriteFile(File("check"), "123456789");
  EXPECT_EQ(FileChecksum(fake_.files, File("check").string()), 0xCBF43926u);
  std::string bytes;
  std::uint32_t seed = 7;
  for (std::size_t i = 0; i < (std::size_t{1} << 17) + 13; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes += static_cast<char>(seed >> 24);
  }
  for (const std::size_t length :
       {std::size_t{0}, std::size_t{7}, std::size_t{65543}, bytes.size()}) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
      crc ^= static_cast<unsigned char>(bytes[i]);
      for (int k = 0; k < 8; ++k)
        crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    WriteFile(File("check"), bytes.substr(0, length));
    EXPECT_EQ(FileChecksum(fake_.files, File("check").string()), crc ^ 0xFFFFFFFFu) << length;
  }
  EXPECT_THROW(FileChecksum(fake_.files, File("missing").string()), EFOpenError);
}

}  // namespace
}  // namespace qv::test
