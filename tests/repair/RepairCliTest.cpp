// qvrepair-cli repair run as a program over a program folder made here: its exit status, its
// label line on standard output and its "Error: " lines on standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "platform/CodePage.h"
#include "platform/SystemPlatform.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/Scratch.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#ifndef QV_CLI_PATH
#error "QV_CLI_PATH names the qvrepair-cli binary"
#endif

namespace qv {
namespace {

namespace fs = std::filesystem;
using qv::test::ReadFile;
using qv::test::WriteFile;

class RepairCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::FreshFolder("qv-repair-cli");
    fs::create_directories(Folder());
    // The running-check looks for its lock file here, not in the user's own runtime folder (on
    // POSIX; a Windows mutex is the session's, so CTest runs these tests one at a time).
    fs::create_directories(dir_ / "run");
    test::SetEnv("XDG_RUNTIME_DIR", (dir_ / "run").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Folder() const { return dir_ / "app" / "profile" / "default"; }

  void WriteIndex(const fs::path& file = {}) {
    TqvMailBox box(nullptr);
    box.SetName("MailBox");
    box.MailItems().NewItem().SetMessageId("<1@x>");
    platform::SystemFileSystem files;
    box.SaveToFile(file.empty() ? (Folder() / "mailbox.idx").string() : Utf8(file), files);
  }
  // A path in UTF-8, as the program takes and shows it.
  static std::string Utf8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
  }

  // Runs the program with the arguments; returns its exit status.
  int Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QV_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const int status = test::RunProgram(argv, (dir_ / "out").string(), (dir_ / "err").string());
    out_ = ReadFile(dir_ / "out");
    err_ = ReadFile(dir_ / "err");
    return status;
  }
  std::vector<std::string> DirArg() const { return {"repair", "--dir", (dir_ / "app").string()}; }

  fs::path dir_;
  std::string out_, err_;
};

const char kStore[] =
    "From a@b.c Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\none\n"
    "From a@b.c Mon Jan 05 10:00:00 2004\nMessage-ID: <2@x>\n\ntwo\n";

TEST_F(RepairCli, RepairExitsZeroAndPrintsTheLastLabel) {
  WriteIndex();
  WriteFile(Folder() / "mailbox.mbx", kStore);
  EXPECT_EQ(Run(DirArg()), 0);
  // The last label, then the summary.
  EXPECT_EQ(out_.rfind("Repairing message : 2\nmailbox ", 0), 0u) << out_;
  EXPECT_NE(out_.find("\nreplaced                 yes\n"), std::string::npos) << out_;
  EXPECT_EQ(err_, "");
  const std::string store = ReadFile(Folder() / "mailbox.mbx");
  EXPECT_NE(store.find("Message-ID: <2@x>\r\n\r\ntwo\r\n\r\n\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(Folder() / "mailbox.xyz"));
  // The folder written with "/" between its parts (the system's own way on Windows is "\\").
  EXPECT_EQ(Run({"repair", "--dir", (dir_ / "app").generic_string() + "/", "--quiet"}), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx").size(), store.size());
}

TEST_F(RepairCli, BlockedRepairExitsOne) {
  // No index: the error says so and nothing is touched.
  WriteFile(Folder() / "mailbox.mbx", kStore);
  EXPECT_EQ(Run(DirArg()), 1);
  EXPECT_EQ(out_, "");
  // The file and the system's reason on the second line.
  EXPECT_EQ(err_.rfind("Error: Cannot find mailbox\n\"", 0), 0u) << err_;
  EXPECT_NE(err_.find("mailbox.idx\": "), std::string::npos) << err_;
  EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx"), kStore);

  // The mail client holds its mutex.
  WriteIndex();
#ifdef _WIN32
  const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, "QuorvaneAppMutex");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(Run(DirArg()), 1);
  ::CloseHandle(mutex);
#else
  const fs::path lock = dir_ / "run" / "QuorvaneAppMutex.lock";
  WriteFile(lock, "");
  const int fd = ::open(lock.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_EQ(Run(DirArg()), 1);
  ::close(fd);
#endif
  EXPECT_EQ(err_, "Error: Please close Quorvane before running.\n");
  EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx"), kStore);
}

// A client under Wine holds no lock file; another process that has the store open blocks the
// repair the same way.
TEST_F(RepairCli, AnotherProcessHoldingTheStoreOpenBlocksTheRepair) {
  WriteIndex();
  WriteFile(Folder() / "mailbox.mbx", kStore);
  const std::string store = (Folder() / "mailbox.mbx").string();
#ifdef _WIN32
  // This process holds it without sharing, as a client does.
  const HANDLE held = ::CreateFileA(store.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Run(DirArg()), 1);
  ::CloseHandle(held);
#else
  const std::string marker = (dir_ / "opened").string();
  test::ChildProcess holder(
      {"/bin/sh", "-c", "exec 3<\"$0\"; : >\"$1\"; exec sleep 30", store, marker});
  for (int i = 0; i < 1000 && !fs::exists(marker); ++i)
    ::usleep(5000);
  EXPECT_EQ(Run(DirArg()), 1);
  // The process that holds it: its number and program.
  EXPECT_NE(err_.find("mailbox.mbx\": open in process "), std::string::npos) << err_;
  EXPECT_NE(err_.find(" (sleep)"), std::string::npos) << err_;
#endif
  EXPECT_EQ(err_.rfind("Error: Please close Quorvane before running.\n\"", 0), 0u) << err_;
  EXPECT_EQ(ReadFile(Folder() / "mailbox.mbx"), kStore);
}

TEST_F(RepairCli, FailedRunExitsOneWithItsErrorLine) {
  WriteIndex();
  EXPECT_EQ(Run(DirArg()), 1);
  EXPECT_EQ(err_.rfind("Error: Cannot find mailbox!\n\"", 0), 0u) << err_;
  EXPECT_NE(err_.find("mailbox.mbx\": "), std::string::npos) << err_;
  EXPECT_EQ(out_, "Mailbox Name : MAILBOX\n");
}

// Folders and mailboxes named outside the ANSI code page (the profile names the mailbox in it),
// and names whose bytes in the code page hold a backslash (the second byte of 表 on code page
// 932): the files are found, and messages show the folder as it is named, with the system's
// separators however --dir wrote them. Under Wine the tests run on code pages 1251 and 932 too.
TEST_F(RepairCli, NamesOutsideTheCodePage) {
  struct Case {
    unsigned codePage;
    const char8_t* folder;
    const char* mailbox;  // as the profile holds it
    const char8_t* file;  // the mailbox's files
  };
  static const Case kCases[] = {
      {1252, u8"Дмитрий 表",
       "Pr\xFC"
       "fung",
       u8"Prüfung"},
      {1251, u8"Jürgen 表", "\xCF\xEE\xF7\xF2\xE0", u8"Почта"},
      {932, u8"Jürgen メール表", "\x95\x5C", u8"表"},
  };
  const Case* c = &kCases[0];
  for (const Case& each : kCases)
    if (each.codePage == platform::AnsiCodePage()) c = &each;
  const fs::path app = dir_ / c->folder;
  const fs::path folder = app / "profile" / "default";
  fs::create_directories(folder);
  TqvProfile profile(nullptr);
  profile.SetName("qvProfile");
  profile.SetMailbox(c->mailbox);
  platform::SystemFileSystem files;
  profile.SaveToFile(Utf8(folder / "profile.dat"), files);
  WriteIndex(folder / (std::u8string(c->file) + u8".idx"));
  WriteFile(folder / (std::u8string(c->file) + u8".mbx"), kStore);

  EXPECT_EQ(Run({"repair", "--dir", Utf8(app)}), 0) << err_;
  EXPECT_NE(out_.find("\nreplaced                 yes\n"), std::string::npos) << out_;
  WriteFile(folder / "profile.dat", "");  // a profile that cannot be read
  EXPECT_EQ(Run({"repair", "--dir", Utf8(app.generic_u8string())}), 1);
  EXPECT_NE(err_.find("\"" + Utf8(folder / "profile.dat") + "\""), std::string::npos) << err_;
}

// The switches that ask for the usage; "/?" is the Windows way.
TEST_F(RepairCli, HelpSwitchesShowTheUsage) {
#ifdef _WIN32
  const int slash = 0;
#else
  const int slash = 2;
#endif
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"repair", "-h"}, {"/?"}, {"check", "/?"}}) {
    SCOPED_TRACE(args.back());
    const bool windowsWay = args.back() == "/?";
    EXPECT_EQ(Run(args), windowsWay ? slash : 0);
    if (!windowsWay || slash == 0) {
      EXPECT_EQ(out_.rfind("usage: qvrepair-cli", 0), 0u) << out_;
    }
  }
}

#ifndef _WIN32
// A separator that an earlier version wrote on a German system is read under de_DE.UTF-8.
TEST_F(RepairCli, SeparatorWithTheLocalesMonthNameUnderUtf8) {
  WriteIndex();
  WriteFile(Folder() / "mailbox.mbx",
            "From a@b.c Mon Jan 05 10:00:00 2004\nMessage-ID: <1@x>\n\none\n"
            "From a@b.c Di M\xe4r 03 09:03:07 2026\nMessage-ID: <2@x>\n\ntwo\n");
  test::SetEnv("LOCPATH", QV_TEST_LOCALE_DIR);
  test::SetEnv("LC_ALL", "de_DE.UTF-8");
  EXPECT_EQ(Run(DirArg()), 0) << err_;
  test::UnsetEnv("LC_ALL");
  EXPECT_EQ(out_.rfind("Repairing message : 2\n", 0), 0u) << out_;
}
#endif

TEST_F(RepairCli, BadUsageExitsTwo) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"repair", "--dir"},
                                             {"repair", "--bogus"},
                                             {"repair", "extra"},
                                             {"repair", "--dir", ""}}) {
    SCOPED_TRACE(args.back());
    EXPECT_EQ(Run(args), 2);
    EXPECT_NE(err_.find("usage: qvrepair-cli repair [--dir DIR]"), std::string::npos) << err_;
    EXPECT_EQ(out_, "");
  }
}

}  // namespace
}  // namespace qv
