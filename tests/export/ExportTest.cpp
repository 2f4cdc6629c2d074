// The export: names and message forms (tables), the folders of a tree, and whole exports through
// the form over a program folder the test makes — where each message lands and with which bytes,
// what is refused, and what a failure at any file step or byte leaves: never a byte outside the
// export, the error naming the file and the reason, and as many messages complete as it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "repair/ExportFormat.h"
#include "repair/RepairFixture.h"

namespace qv::test {
namespace {

TEST(ExportNames, PortableMaildirAndImapForms) {
  struct Case {
    std::string name, portable, maildir;
  } cases[] = {
      {"Projects", "Projects", "Projects"},
      {"\xC3\x84rger & Co", "\xC3\x84rger & Co", "&AMQ-rger &- Co"},  // Ärger
      {"Q1.2024/Q2", "Q1.2024_Q2", "Q1_2024_Q2"},
      {"a:b*c?\"<>|\\d\x01", "a_b_c______d_", "a_b_c______d_"},
      {"  .dots. ", "_dots_", "_dots_"},
      {"", "_", "_"},
      {"CON", "CON_", "CON_"},
      {"lpt1.txt", "lpt1_.txt", "lpt1__txt"},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
       "&ZeVnLIqe-"},                                                       // the RFC's own example
      {"\xF0\x9F\x93\xA7 mail", "\xF0\x9F\x93\xA7 mail", "&2D3c5w- mail"},  // beyond 16 bits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PortableName(c.name), c.portable) << c.name;
    EXPECT_EQ(MaildirLevelName(c.name), c.maildir) << c.name;
  }
  // Cut at a character's end, never inside one or inside an encoded run.
  EXPECT_EQ(PortableName(std::string(300, 'a')).size(), kMaxNamePart);
  std::string wide = "a";
  for (int i = 0; i < 150; ++i)
    wide += "\xC3\x84";
  EXPECT_EQ(PortableName(wide).size(), kMaxNamePart - 1);
  EXPECT_EQ(MaildirLevelName("\xC3\x84\xC3\x84\xC3\x84", 7), "&AMQ-");
}

// The lines of an mbox message, with ">" where quoted.
std::vector<std::string> MboxLines(std::vector<std::string_view> lines, bool read) {
  std::vector<std::string> out;
  ForEachMboxLine(lines, read, [&](bool quoted, std::string_view line) {
    out.push_back((quoted ? ">" : "") + std::string(line));
  });
  return out;
}

TEST(ExportMbox, StatusFirstFromLinesQuotedAndAnEmptyLineAtTheEnd) {
  using V = std::vector<std::string_view>;
  using S = std::vector<std::string>;
  // A Status or X-Status field the message has goes, with its folded lines, from the header only.
  EXPECT_EQ(
      MboxLines(V{"Subject: s", "status : RO", "X-Status: D", "\tF", "To: t", "", "Status: body"},
                false),
      (S{"Status: O", "Subject: s", "To: t", "", "Status: body", ""}));
  EXPECT_EQ(
      MboxLines(V{"From x", "", "From here", ">From there", ">>From ", "from no", "F", ""}, true),
      (S{"Status: RO", ">From x", "", ">From here", ">>From there", ">>>From ", "from no", "F",
         ""}));
  EXPECT_EQ(MboxLines(V{}, true), (S{"Status: RO", ""}));
  EXPECT_EQ(MboxLines(V{"Subject: only a header"}, false),
            (S{"Status: O", "Subject: only a header", ""}));
  EXPECT_EQ(MboxFromLine("ann@b.c", EncodeDateTime(2004, 1, 5, 9, 3, 7), 0),
            "From ann@b.c Mon Jan  5 09:03:07 2004");
  EXPECT_EQ(MboxFromLine("Ann Smith", 0, EncodeDateTime(2026, 12, 8, 14, 23, 50)),
            "From MAILER-DAEMON Tue Dec  8 14:23:50 2026");
}

TEST(ExportDates, LocalToUtcUndoesTheClocksOffset) {
  FixedClock berlin(0, 1.0 / 24);
  const TDateTime local = EncodeDateTime(2004, 1, 5, 10, 0, 0);
  EXPECT_EQ(LocalToUtc(berlin, local), EncodeDateTime(2004, 1, 5, 9, 0, 0));
}

TEST(ExportFolders, TreeLevelsKeysByStatusThenTextAndKeysTheTreeLacks) {
  TqvMailBox box(nullptr);
  struct Item {
    int level;
    const char* text;
    const char* status;
  } items[] = {{0, "Local", "_usrLocal"}, {1, "Inbox", "_msInbox"}, {2, "Kunden", "_usrK"},
               {1, "Projects", "_usrP"},  {3, "Deep", "_usrD"},     {2, "Archive", ""},
               {0, "Sent", "_msSent"}};
  for (const Item& i : items) {
    TMailTreeItem& item = box.TreeItems().NewItem();
    item.SetLevel(i.level);
    item.SetText(i.text);
    item.SetStatus(i.status);
  }
  TCompactMessageList filed;
  for (const char* key : {"_usrD", "Archive", "_usrGone", "_msInbox", "_usrK", "Sent", ""}) {
    TMailMessageItem e;
    e.SetFolderKey(key);
    filed.Add(e);
  }
  const ExportFolders folders(box.TreeItems(), filed);
  using S = std::vector<std::string>;
  const auto of = [&](std::string_view key) { return folders.Names(folders.FolderOf(key)); };
  EXPECT_EQ(of("_usrD"), (S{"Local", "Projects", "Deep"}));
  EXPECT_EQ(of("Archive"), (S{"Local", "Projects", "Archive"}));
  EXPECT_EQ(of("_msInbox"), (S{"Inbox"}));  // at the top, wherever the tree has it
  EXPECT_EQ(of("_usrK"), (S{"Inbox", "Kunden"}));
  EXPECT_EQ(of("Sent"), (S{"Sent"}));
  EXPECT_EQ(of("_usrGone"), (S{"_usrGone"}));
  EXPECT_EQ(of(""), (S{""}));
  EXPECT_EQ(folders.Folders().size(), 9u);

  // Without an item of its own the Inbox comes first.
  const ExportFolders bare(TqvMailBox(nullptr).TreeItems(), filed);
  EXPECT_EQ(bare.Inbox(), 0u);
  EXPECT_EQ(bare.Names(bare.FolderOf("_usrGone")), (S{"_usrGone"}));
}

// Three messages, the last without a date and without a line break at its end.
const std::string kStore =
    "From a@b.c Mon Jan 05 10:00:00 2004\n"
    "Message-ID: <1@x>\nFrom: Ann <ann@b.c>\nDate: Mon, 05 Jan 2004 10:00:00 +0000\n"
    "Status: O\nSubject: one\n\nFrom the start\n>From quoted\n"
    "From a@b.c Mon Jan 05 10:01:00 2004\r\n"
    "Message-ID: <2@x>\r\nFrom: bob@d.e\r\nDate: Tue, 06 Jan 2004 11:00:00 +0000\r\n"
    "Subject: two\r\n\r\none\rtwo\r\n\r\n"
    "From a@b.c Mon Jan 05 10:02:00 2004\n"
    "Message-ID: <3@x>\nSubject: three\n\nthe last line";

class Export : public RepairFixture {
 protected:
  void SetUp() override {
    RepairFixture::SetUp();
    UseMemoryFolder();  // (hundreds of runs)
    fake_.files.realSync = false;
    out_ = dir_.parent_path() / (dir_.filename().string() + "-out");
    fs::remove_all(out_);
    WriteFile(File("mailbox.mbx"), kStore);
    WriteIndexWith({{"_msInbox", "Inbox"}, {"_usrP", "Projects"}, {"_usrA", "Archive", 1}},
                   {{"<1@x>", "_usrA", true}, {"<2@x>", "_usrGone", false}});
  }
  void TearDown() override {
    fs::remove_all(out_);
    RepairFixture::TearDown();
  }

  std::unique_ptr<TForm1> Run(ExportFormat format) {
    view_ = RecordingView();
    auto form = std::make_unique<TForm1>(fake_.services(), view_, registry_);
    form->SetAppDir(dir_.string());
    form->SetExport({format, out_.string()});
    form->FormShow();
    form->Button1Click();
    return form;
  }

  // Every file below a folder, by its path there, with its bytes.
  static std::map<std::string, std::string> Files(const fs::path& root) {
    std::map<std::string, std::string> files;
    if (fs::is_regular_file(root)) files[""] = ReadFile(root);
    if (!fs::is_directory(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root))
      files[fs::relative(e.path(), root).generic_string()] =
          e.is_regular_file() ? ReadFile(e.path()) : "<folder>";
    return files;
  }

  fs::path out_;
};

TEST_F(Export, MaildirHoldsEachMessageInItsFolderWithItsFlagsBytesAndDate) {
  const auto program = Files(dir_);
  const auto form = Run(ExportFormat::Maildir);
  EXPECT_EQ(view_.errors, std::vector<std::string>());
  EXPECT_EQ(form->Exported().written, 3);
  EXPECT_EQ(Files(dir_), program);
  const std::string colon = fake_.files.NamesMayHoldColon() ? ":" : "!";
  const std::string run = std::to_string(DateTimeToUnix(fake_.clock.Now()));
  const auto files = Files(out_);
  const std::string one = ".Projects.Archive/cur/" + run + ".0000000000.qvrepair" + colon + "2,S";
  const std::string two = "._usrGone/cur/" + run + ".0000000001.qvrepair" + colon + "2,";
  const std::string three = "cur/" + run + ".0000000002.qvrepair" + colon + "2,";
  ASSERT_EQ(files.count(one) + files.count(two) + files.count(three), 3u);
  EXPECT_EQ(files.at(one),
            "Message-ID: <1@x>\nFrom: Ann <ann@b.c>\nDate: Mon, 05 Jan 2004 10:00:00 +0000\n"
            "Status: O\nSubject: one\n\nFrom the start\n>From quoted\n");
  EXPECT_EQ(files.at(two),
            "Message-ID: <2@x>\nFrom: bob@d.e\nDate: Tue, 06 Jan 2004 11:00:00 +0000\n"
            "Subject: two\n\none\rtwo\n\n");
  EXPECT_EQ(files.at(three), "Message-ID: <3@x>\nSubject: three\n\nthe last line\n");
  EXPECT_EQ(files.at(".Projects/maildirfolder"), "");
  for (const char* folder : {"new", "tmp", ".Projects/cur", ".Projects.Archive/new"})
    EXPECT_EQ(files.at(folder), "<folder>") << folder;
  // The message's date is the file's time.
  const auto time = fs::last_write_time(out_ / one);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(time).time_since_epoch());
  EXPECT_EQ(seconds.count(), DateTimeToUnix(EncodeDateTime(2004, 1, 5, 10, 0, 0)));
}

TEST_F(Export, MboxFilesAreADesktopClientsLocalFolders) {
  const auto form = Run(ExportFormat::Mbox);
  EXPECT_EQ(view_.errors, std::vector<std::string>());
  const auto files = Files(out_);
  EXPECT_EQ(files.at("Projects.sbd"), "<folder>");
  EXPECT_EQ(files.at("Projects"), "");
  EXPECT_EQ(files.at("Projects.sbd/Archive"),
            "From ann@b.c Mon Jan  5 10:00:00 2004\nStatus: RO\n"
            "Message-ID: <1@x>\nFrom: Ann <ann@b.c>\nDate: Mon, 05 Jan 2004 10:00:00 +0000\n"
            "Subject: one\n\n>From the start\n>>From quoted\n\n");
  EXPECT_EQ(files.at("_usrGone"),
            "From bob@d.e Tue Jan  6 11:00:00 2004\nStatus: O\n"
            "Message-ID: <2@x>\nFrom: bob@d.e\nDate: Tue, 06 Jan 2004 11:00:00 +0000\n"
            "Subject: two\n\none\rtwo\n\n");
  // No date: the time of the export.
  EXPECT_EQ(files.at("Inbox"),
            "From MAILER-DAEMON Tue Dec  8 14:23:50 2026\nStatus: O\n"
            "Message-ID: <3@x>\nSubject: three\n\nthe last line\n\n");
  EXPECT_EQ(files.size(), 5u);
}

TEST_F(Export, WithoutAnIndexOrWithADamagedOneEverythingItHoldsIsExported) {
  fs::remove(File("mailbox.idx"));
  auto form = Run(ExportFormat::Mbox);
  EXPECT_TRUE(form->IndexMissing());
  EXPECT_EQ(form->Exported().written, 3);
  EXPECT_EQ(Files(out_).size(), 1u);
  EXPECT_EQ(form->Exported().folders[0].read, 0);

  // Cut short inside its message list: the tree is read, the error reported.
  WriteIndexWith({{"_msInbox", "Inbox"}, {"_usrP", "Projects"}}, {{"<1@x>", "_usrP", true}});
  const std::string index = ReadFile(File("mailbox.idx"));
  WriteFile(File("mailbox.idx"), index.substr(0, index.size() - 20));
  fs::remove_all(out_);
  form = Run(ExportFormat::Maildir);
  EXPECT_EQ(view_.errors.size(), 1u);
  EXPECT_TRUE(form->Exported().began);
  EXPECT_EQ(form->Exported().written, 3);
  EXPECT_EQ(form->Exported().folders[1].path, ".Projects");
}

TEST_F(Export, NamesThatMeetOnceReplacedOrByLetterCaseGetFoldersOfTheirOwn) {
  WriteIndexWith({{"_msInbox", "Inbox"},
                  {"_a", "A.B"},
                  {"_b", "A_B"},
                  {"_c", "a_b"},
                  {"_d", "INBOX"},
                  {"_e", "Projects.sbd"},
                  {"_f", "Projects"},
                  {"_g", "Sub", 1}},
                 {});
  for (const ExportFormat format : {ExportFormat::Maildir, ExportFormat::Mbox}) {
    fs::remove_all(out_);
    const auto form = Run(format);
    std::vector<std::string> paths;
    for (const ExportFolder& f : form->Exported().folders)
      paths.push_back(f.path);
    const std::vector<std::string> maildir = {".",         ".A_B",         ".A_B (2)",
                                              ".a_b (3)",  ".INBOX (2)",   ".Projects_sbd",
                                              ".Projects", ".Projects.Sub"};
    const std::vector<std::string> mbox = {
        "Inbox",
        "A.B",
        "A_B",
        "a_b (2)",
        "INBOX (2)",
        "Projects.sbd",
        "Projects (2)",
        "Projects (2).sbd" + std::string(1, static_cast<char>(fs::path::preferred_separator)) +
            "Sub"};
    EXPECT_EQ(paths, format == ExportFormat::Maildir ? maildir : mbox);
  }
}

TEST_F(Export, IsRefusedWhereItWouldWriteOverOrIntoWhatItMustNot) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    std::string error;
  } cases[] = {
      {"not empty",
       [&] {
         fs::create_directories(out_);
         WriteFile(out_ / "x", "mine");
       },
       "is not empty"},
      {"a file", [&] { WriteFile(out_, "mine"); }, "is not a folder"},
      {"in the program folder", [&] { out_ = dir_ / "mail"; }, "program folder"},
      {"below a missing folder", [&] { out_ = out_ / "deeper"; }, "Cannot create folder"},
      {"while the client runs", [&] { fake_.probe.running.insert("QuorvaneAppMutex"); },
       kCloseClient},
  };
  const fs::path out = out_;
  for (const Case& c : cases) {
    fs::remove_all(out);
    out_ = out;
    fake_.probe.running.clear();
    c.arrange();
    const auto program = Files(dir_);
    const auto before = Files(out);
    const auto form = Run(ExportFormat::Maildir);
    EXPECT_FALSE(form->Exported().began) << c.what;
    ASSERT_EQ(view_.errors.size(), 1u) << c.what;
    EXPECT_NE(view_.errors[0].find(c.error), std::string::npos)
        << c.what << ": " << view_.errors[0];
    EXPECT_EQ(Files(dir_), program) << c.what;
    EXPECT_EQ(Files(out), before) << c.what;
  }
  out_ = out;
  fake_.probe.running.clear();
  // A link to an empty folder is followed: the export is in the folder it names.
  fs::remove_all(out_);
  const fs::path target = dir_.parent_path() / (dir_.filename().string() + "-target");
  fs::remove_all(target);
  fs::create_directories(target);
  std::error_code linked;
  fs::create_directory_symlink(target, out_, linked);
  if (!linked) {
    const auto form = Run(ExportFormat::Mbox);
    EXPECT_EQ(form->Exported().written, 3);
    EXPECT_EQ(Files(target).size(), 5u);
  }
  fs::remove_all(target);
}

// What a failed export leaves: the program folder as it was, the error naming a file of the
// export and the system's reason, and each message it counts complete in its place (a Maildir's
// cur/ holds exactly those; an mbox file is the complete export's cut short, holding at least
// those).
class ExportFaults : public Export {
 protected:
  void Check(ExportFormat format, const std::map<std::string, std::string>& complete,
             const std::map<std::string, std::string>& program, const std::string& what) {
    const auto form = Run(format);
    EXPECT_EQ(Files(dir_), program) << what;
    const ExportResult& e = form->Exported();
    if (!e.error.empty()) {
      ASSERT_EQ(view_.errors.size(), 1u) << what;
      EXPECT_NE(view_.errors[0].find(fake_.files.writeLimit >= 0 ? "No space left on device"
                                                                 : fake_.files.failText),
                std::string::npos)
          << what << ": " << view_.errors[0];
      EXPECT_NE(view_.errors[0].find(out_.filename().string()), std::string::npos) << what;
    } else {
      EXPECT_EQ(view_.errors, std::vector<std::string>()) << what;
    }
    std::int64_t inPlace = 0;
    for (const auto& [path, bytes] : Files(out_)) {
      if (format == ExportFormat::Maildir) {
        if (path.find("cur/") == std::string::npos) continue;
        ++inPlace;
        EXPECT_EQ(complete.at(path), bytes) << what << ": " << path;
      } else if (bytes != "<folder>") {
        const std::string& all = complete.at(path);
        EXPECT_EQ(all.substr(0, bytes.size()), bytes) << what << ": " << path;
        // The complete messages' From_ lines (the last one's ends it).
        std::int64_t messages = 0;
        for (std::size_t at = 0; (at = all.find("From ", at)) != std::string::npos; at += 5)
          if ((at == 0 || all[at - 1] == '\n') && at <= bytes.size()) ++messages;
        if (bytes.size() == all.size()) ++messages;
        inPlace += messages - 1;
      }
    }
    if (format == ExportFormat::Maildir)
      EXPECT_EQ(inPlace, e.written) << what;
    else
      EXPECT_GE(inPlace, e.written) << what;
    // (Closing an mbox file can fail after its messages are with the system.)
    if (e.error.empty()) {
      EXPECT_EQ(e.written, 3) << what;
    }
  }
};

TEST_F(ExportFaults, AFailureAtAnyFileStepOrByteLeavesOnlyCompleteMessagesCounted) {
  const auto program = Files(dir_);
  for (const ExportFormat format : {ExportFormat::Maildir, ExportFormat::Mbox}) {
    const char* name = format == ExportFormat::Maildir ? "maildir" : "mbox";
    fs::remove_all(out_);
    FaultyFileSystem& files = fake_.files;
    files.log.clear();
    files.written = 0;
    Run(format);
    const auto complete = Files(out_);
    const std::vector<std::string> steps = files.log;
    const std::int64_t bytes = files.written;
    for (std::size_t step = 0; step < steps.size(); ++step) {
      fs::remove_all(out_);
      std::size_t call = 0;
      files.failWhen = [&](const std::string&, const std::string&) { return call++ == step; };
      Check(format, complete, program, std::string(name) + " fails at " + steps[step]);
      files.failWhen = nullptr;
    }
    for (std::int64_t limit = 0; limit < bytes; ++limit) {
      fs::remove_all(out_);
      files.written = 0;
      files.writeLimit = limit;
      Check(format, complete, program,
            std::string(name) + " full at byte " + std::to_string(limit));
    }
    files.writeLimit = -1;
  }
}

TEST_F(Export, AStoreChangedBetweenItsTwoReadingsIsReported) {
  bool appended = false;
  view_.onProcess = [&] {};
  auto form = std::make_unique<TForm1>(fake_.services(), view_, registry_);
  form->SetAppDir(dir_.string());
  form->SetExport({ExportFormat::Mbox, out_.string()});
  view_.onProcess = [&] {
    if (appended || form->CurrentState() != TForm1::State::Running) return;
    appended = true;
    WriteFile(File("mailbox.mbx"), kStore + "\nFrom a@b.c Mon Jan 05 10:03:00 2004\n\nfour\n");
  };
  form->FormShow();
  form->Button1Click();
  ASSERT_TRUE(appended);
  ASSERT_EQ(view_.errors.size(), 1u);
  EXPECT_EQ(view_.errors[0], kStoreChangedDuringExport);
}

}  // namespace
}  // namespace qv::test
