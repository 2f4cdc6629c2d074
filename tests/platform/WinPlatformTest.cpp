// What only the Windows services do: the system's named mutexes for the running-check and the
// folder lock, files in use through sharing, names in UTF-8 and beyond MAX_PATH, the system's
// texts, volumes without rights, the command line, the console, locale names and the ANSI code
// page of the system.
#include "platform/WinPlatform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "platform/CodePage.h"
#include "platform/WinShared.h"
#include "support/Process.h"
#include "support/Scratch.h"

#include "platform/Win32.h"

#include <sddl.h>

namespace qv::platform {
namespace {

namespace fs = std::filesystem;

class WinFiles : public test::ScratchFolderTest {
 protected:
  WinFiles() : ScratchFolderTest("qv-win") {}
  WinFileSystem files_;
};

TEST(WinProbe, SeesANamedMutexWhileItExists) {
  const std::string name = "QuorvaneAppMutex-test-" + std::to_string(test::ProcessId());
  WinInstanceProbe probe;
  EXPECT_FALSE(probe.MutexExists(name));
  const HANDLE h = ::CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(probe.MutexExists(name));
  EXPECT_TRUE(probe.MutexExists(name));  // the probe's own handle is closed again
  ::CloseHandle(h);
  EXPECT_FALSE(probe.MutexExists(name));
}

TEST_F(WinFiles, AFileOpenWithoutFullSharingIsInUse) {
  const auto a = Make("a", "1");
  WinInstanceProbe probe;
  EXPECT_FALSE(probe.FilesInUse({a, (dir_ / "none").string()}));
  {
    std::ifstream reader(a);
    EXPECT_TRUE(probe.FilesInUse({(dir_ / "none").string(), a}));
  }
  EXPECT_FALSE(probe.FilesInUse({a}));
}

TEST_F(WinFiles, AHeldStoreCanBeReadNotWrittenAndIsReadOnlyByItsAttribute) {
  const auto a = Make("a", "1");
  {
    std::string error;
    const auto hold = files_.HoldAgainstWriters(a, &error);
    ASSERT_NE(hold, nullptr) << error;
    EXPECT_TRUE(std::ifstream(a).good());
    EXPECT_FALSE(std::ofstream(a, std::ios::app).good());
  }
  EXPECT_TRUE(std::ofstream(a, std::ios::app).good());
  // A file another program writes to cannot be held.
  {
    std::ofstream writer(a, std::ios::app);
    std::string error;
    EXPECT_EQ(files_.HoldAgainstWriters(a, &error), nullptr);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_FALSE(files_.ReadOnlyFile(a));
  ASSERT_TRUE(::SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(files_.ReadOnlyFile(a));
  ::SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WinFiles, FolderLockNamesFoldTheWayOfWriting) {
  const std::string plain = WinFileSystem::FolderLockName(dir_.string());
  EXPECT_EQ(plain.rfind("Local\\qvrepair-folder-", 0), 0u) << plain;
  std::string upper = dir_.string(), slashes = dir_.string() + "\\";
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  for (char& c : slashes)
    if (c == '\\') c = '/';
  EXPECT_EQ(WinFileSystem::FolderLockName(upper), plain);
  EXPECT_EQ(WinFileSystem::FolderLockName(slashes), plain);
  EXPECT_NE(WinFileSystem::FolderLockName((dir_ / "sub").string()), plain);
}

// The system's text for an error code, as FormatMessageA gives it, without its line break.
std::string TextOf(DWORD code) {
  char text[512] = {};
  ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
  std::string s = text;
  return s.substr(0, s.find_last_not_of("\r\n ") + 1);
}

TEST_F(WinFiles, ErrorsCarryTheSystemsTexts) {
  const auto a = Make("a", "new");
  const auto b = Make("b", "old");
  std::string error;
  EXPECT_FALSE(files_.MoveFile(a, b, &error));
  EXPECT_EQ(error, TextOf(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(files_.DeleteFile((dir_ / "none").string(), &error));
  EXPECT_EQ(error, TextOf(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

// A file's access list as text.
std::string AccessList(const std::string& path) {
  DWORD need = 0;
  ::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &need);
  std::string descriptor(need, '\0');
  if (need == 0 ||
      !::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), need, &need))
    return "";
  char* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr))
    return "";
  std::string s = text;
  ::LocalFree(text);
  return s;
}

TEST_F(WinFiles, TheAccessListIsCopied) {
  const auto a = Make("a", "1");
  const auto b = Make("b", "2");
  // Everybody may read, nobody may write.
  PSECURITY_DESCRIPTOR readOnly = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(A;;FR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr));
  const bool set = ::SetFileSecurityA(a.c_str(), DACL_SECURITY_INFORMATION, readOnly);
  ::LocalFree(readOnly);
  ASSERT_TRUE(set);
  const std::string before = AccessList(b);
  ASSERT_NE(AccessList(a), before);
  std::string error;
  ASSERT_TRUE(files_.CopyPermissions(a, b, &error)) << error;
  EXPECT_EQ(AccessList(b), AccessList(a));
  // Both may be removed again.
  PSECURITY_DESCRIPTOR full = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:(A;;FA;;;WD)", SDDL_REVISION_1, &full, nullptr));
  for (const std::string& p : {a, b})
    ::SetFileSecurityA(p.c_str(), DACL_SECURITY_INFORMATION, full);
  ::LocalFree(full);
}

// Names outside the ANSI code page, in a folder deeper than MAX_PATH characters: every file step
// of a repair reaches the file the UTF-8 name means.
TEST_F(WinFiles, NamesOutsideTheCodePageAndBeyondMaxPath) {
  fs::path deep = dir_ / u8"Дмитрий メール表 Jürgen";
  while (deep.native().size() < 300)
    deep /= u8"Почта 表";
  ASSERT_TRUE(fs::create_directories(deep));
  const std::u8string u8 = deep.u8string();
  const std::string folder(u8.begin(), u8.end());
  const std::string a = folder + "\\" +
                        files_.FileNameFromAnsi(
                            "Pr\xFC"
                            "fung") +
                        ".mbx";
  ASSERT_EQ(a.substr(a.size() - 12), "Prüfung.mbx");
  const std::string b = folder + "/表.idx", c = folder + "\\c";
  std::unique_ptr<TStream> out = files_.CreateFile(a);
  out->WriteString("mail");
  out->Commit();
  std::string error;
  EXPECT_EQ(files_.FileSize(a), 4);
  EXPECT_TRUE(files_.Stamp(a).exists);
  EXPECT_EQ(files_.OpenRead(a)->ReadRest(), "mail");
  EXPECT_EQ(files_.LinkFile(a, b, &error), LinkOutcome::Linked) << error;
  EXPECT_TRUE(files_.Stamp(a).SameFile(files_.Stamp(b)));
  EXPECT_TRUE(files_.MoveFile(b, c, &error)) << error;
  EXPECT_TRUE(files_.ReplaceFile(c, a, &error)) << error;
  EXPECT_TRUE(files_.CopyPermissions(folder, a, &error)) << error;
  EXPECT_TRUE(files_.SyncFile(a, &error)) << error;
  EXPECT_TRUE(files_.SyncFolder(folder, &error)) << error;
  EXPECT_EQ(files_.ResolveLinks(a), a);
  EXPECT_FALSE(WinInstanceProbe().FilesInUse({a}));
  bool held = true;
  EXPECT_TRUE(files_.LockFolder(folder, &held, &error) != nullptr) << error;
  EXPECT_TRUE(files_.DeleteFile(a, &error)) << error;
  EXPECT_FALSE(files_.FileExists(a));
}

// FAT and exFAT (a memory stick) keep no rights: there are none to copy, and a repair goes on.
TEST_F(WinFiles, NoRightsAreCopiedOnAVolumeThatKeepsNone) {
  struct FatFiles : WinFileSystem {
    std::uint32_t VolumeFlags(const std::string&) override {
      return FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    }
  } fat;
  const auto b = Make("b", "2");
  std::string error;
  EXPECT_NE(files_.VolumeFlags(b) & FILE_PERSISTENT_ACLS, 0u);
  EXPECT_FALSE(files_.CopyPermissions((dir_ / "none").string(), b, &error));
  EXPECT_TRUE(fat.CopyPermissions((dir_ / "none").string(), b, &error)) << error;
}

// A full disk says so in the system's words (the C runtime said "Invalid argument" when the
// system had taken part of a write).
TEST_F(WinFiles, AFullDiskSaysSoInTheSystemsWords) {
  const HANDLE full =
      ::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
  if (full == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no device that is always full (Wine's)";
  const std::unique_ptr<TStream> out = win::HandleStream(full, "mailbox.xyz", 1 << 10);
  try {
    out->WriteString(std::string(4096, 'x'));
    out->Commit();
    ADD_FAILURE() << "the write succeeded";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Detail(), "\"mailbox.xyz\": " + TextOf(ERROR_DISK_FULL));
  }
}

// The command line as the C runtime splits it, but for a backslash before the quote that closes
// an argument, which a folder written as "C:\Mail\" has: it stays, and the quote closes.
TEST(WinCommandLine, SplitsAsTheRuntimeButKeepsABackslashBeforeTheClosingQuote) {
  const struct {
    const wchar_t* line;
    std::vector<std::string> args;
  } kCases[] = {
      {L"\"C:\\Program Files\\q.exe\" repair", {"C:\\Program Files\\q.exe", "repair"}},
      {L"q --dir \"C:\\Quorvane Mail\\\" --json", {"q", "--dir", "C:\\Quorvane Mail\\", "--json"}},
      {L"q --dir \"C:\\Mail\\\"", {"q", "--dir", "C:\\Mail\\"}},
      {L"q a\\\\\"b c\" \"\" d\\e \"x\\\"y\"", {"q", "a\\b c", "", "d\\e", "x\"y"}},
      {L"q  \t\x8868\x00FC ", {"q", "表ü"}},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(SplitCommandLine(c.line), c.args)
        << platform::Utf16ToUtf8(std::u16string(c.line, c.line + std::wstring(c.line).size()));
}

// A console window shows the program's UTF-8 as the characters it stands for, not as its bytes in
// the console's code page (437: "Pr├╝fung").
TEST(WinConsoleTest, WritesUtf8ToAConsoleWindowAsItsCharacters) {
  ::FreeConsole();
  if (!::AllocConsole()) GTEST_SKIP() << "no console window (no display)";
  const HANDLE h =
      ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  std::FILE* stream = ::_fdopen(::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY), "wb");
  ASSERT_NE(stream, nullptr);
  WinConsole console;
  EXPECT_TRUE(console.IsTerminal(stream));
  EXPECT_TRUE(console.Write(stream,
                            "Pr\xC3\xBC"
                            "fung"));
  wchar_t shown[7] = {};
  DWORD n = 0;
  ::ReadConsoleOutputCharacterW(h, shown, 7, COORD{0, 0}, &n);
  std::fclose(stream);
  ::FreeConsole();
  EXPECT_EQ(std::wstring(shown, n),
            L"Pr\x00FC"
            L"fung");
}

TEST_F(WinFiles, ReplacingKeepsTheTargetsVisibility) {
  const auto a = Make("a", "new");
  const auto b = Make("b", "old");
  ASSERT_TRUE(::SetFileAttributesA(b.c_str(), FILE_ATTRIBUTE_HIDDEN));
  std::string error;
  ASSERT_TRUE(files_.ReplaceFile(a, b, &error)) << error;
  EXPECT_NE(::GetFileAttributesA(b.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  std::ifstream in(b);
  std::string s;
  in >> s;
  EXPECT_EQ(s, "new");
}

TEST(WinLocaleTest, NamesStartOnSundayInTheAnsiCodePage) {
  WinLocale english(0x0409);  // English (United States)
  EXPECT_EQ(english.Names().shortDayNames[0], "Sun");
  EXPECT_EQ(english.Names().longDayNames[1], "Monday");
  EXPECT_EQ(english.Names().shortDayNames[6], "Sat");
  EXPECT_EQ(english.Names().shortMonthNames[0], "Jan");
  EXPECT_EQ(english.Names().longMonthNames[11], "December");
  if (AnsiCodePage() != 1252) GTEST_SKIP() << "the German names need Windows-1252";
  WinLocale german(0x0407);  // German (Germany)
  EXPECT_EQ(german.Names().longDayNames[0], "Sonntag");
  EXPECT_EQ(german.Names().longDayNames[1], "Montag");
  EXPECT_EQ(german.Names().longMonthNames[2], "M\xE4rz");
}

}  // namespace
}  // namespace qv::platform
