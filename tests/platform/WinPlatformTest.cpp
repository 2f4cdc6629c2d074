// What only the Windows services do: the system's named mutexes for the running-check and the
// folder lock, files in use through sharing, locale names and the ANSI code page of the system.
#include "platform/WinPlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/CodePage.h"
#include "platform/Win32.h"
#include "support/Process.h"
#include "support/Scratch.h"

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
