// Start-up of the window: which mailbox is chosen, when the repair is offered, and the window's
// states around one run.
#include <gtest/gtest.h>

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
  for (const char* name :
       {"../../outside/evil", "a/b", "a\\b", "C:evil", "..", ".", "nul", "Con.box", "tab\there"}) {
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
    EXPECT_EQ(view_.errors, std::vector<std::string>{FormatMessage(kBadMailboxName, {name})});
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
// runs, a second is refused at start-up; once the first is done, the folder is free again.
TEST_F(RepairStartup, OneRepairPerFolderAtATime) {
  WriteIndex({});
  WriteFile(File("mailbox.mbx"), "From a Mon Jan 05 10:00:00 2004\n\nhi\n");
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

TEST_F(RepairStartup, JournalChecksumsAreTheCrc32OfTheWholeFile) {
  // Journals left by earlier runs hold CRC-32 values: the sum must stay that, for every length.
  fs::create_directories(Folder());
  WriteFile(File("check"), "123456789");
  platform::SystemFileSystem files;
  EXPECT_EQ(FileChecksum(files, File("check").string()), 0xCBF43926u);
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
    EXPECT_EQ(FileChecksum(files, File("check").string()), crc ^ 0xFFFFFFFFu) << length;
  }
  EXPECT_EQ(FileChecksum(files, File("missing").string()), 0u);
}

}  // namespace
}  // namespace qv::test
