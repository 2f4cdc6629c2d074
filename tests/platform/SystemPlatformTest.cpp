// The services of the system the tests are built for, through the interface: what every system
// must do alike. What only one system has is tested in PosixPlatformTest.cpp and
// WinPlatformTest.cpp.
#include "platform/SystemPlatform.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/Errors.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/ScopedZone.h"
#include "support/Scratch.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

class PlatformFiles : public test::ScratchFolderTest {
 protected:
  PlatformFiles() : ScratchFolderTest("qv-platform") {}
  // A symbolic link, where the system lets this process make one.
  bool Symlink(const fs::path& target, const fs::path& link) {
    std::error_code e;
    fs::create_symlink(target, link, e);
    return !e;
  }
  SystemFileSystem files_;
};

TEST_F(PlatformFiles, ExistenceByAgeIgnoresFolders) {
  const auto f = Make("a.idx", "x");
  EXPECT_TRUE(files_.FileExists(f));
  EXPECT_NEAR(static_cast<double>(files_.FileAge(f)), static_cast<double>(std::time(nullptr)), 60);
  EXPECT_EQ(files_.FileSize(f), 1);
  fs::create_directory(dir_ / "b.idx");
  EXPECT_FALSE(files_.FileExists((dir_ / "b.idx").string()));
  EXPECT_EQ(files_.FileSize((dir_ / "b.idx").string()), -1);
  EXPECT_FALSE(files_.FileExists((dir_ / "none").string()));
  EXPECT_EQ(files_.FileSize((dir_ / "none").string()), -1);
}

TEST_F(PlatformFiles, MoveRefusesAnExistingTarget) {
  const auto a = Make("a", "new");
  const auto b = Make("b", "old");
  std::string error;
  EXPECT_FALSE(files_.MoveFile(a, b, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(files_.FileExists(a));
  EXPECT_EQ(ReadFile(b), "old");
  ASSERT_TRUE(files_.DeleteFile(b, &error)) << error;
  ASSERT_TRUE(files_.MoveFile(a, b, &error)) << error;
  EXPECT_FALSE(files_.FileExists(a));
  EXPECT_EQ(ReadFile(b), "new");
  error.clear();
  EXPECT_FALSE(files_.DeleteFile(a, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(PlatformFiles, ReplaceAndSyncSucceedOnRealFiles) {
  const auto a = Make("a", "1");
  const auto b = Make("b", "2");
  std::string error;
  EXPECT_TRUE(files_.SyncFile(a, &error)) << error;
  EXPECT_TRUE(files_.ReplaceFile(a, b, &error)) << error;
  EXPECT_TRUE(files_.SyncFolder(dir_.string(), &error)) << error;
  EXPECT_FALSE(files_.FileExists(a));
  EXPECT_EQ(ReadFile(b), "1");
  // A target that does not exist yet is simply made.
  const auto c = Make("c", "3");
  EXPECT_TRUE(files_.ReplaceFile(c, (dir_ / "d").string(), &error)) << error;
  EXPECT_EQ(ReadFile(dir_ / "d"), "3");
  error.clear();
  EXPECT_FALSE(files_.SyncFile(a, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(files_.SyncFolder((dir_ / "none").string(), &error));
}

TEST_F(PlatformFiles, CreateReplacesALeftoverAndRefusesAFolder) {
  const auto outside = Make("outside", "keep me");
  const auto link = (dir_ / "mailbox.xyz").string();
  if (Symlink(outside, link)) {
    {
      auto stream = files_.CreateFile(link);
      stream->WriteString("new");
      stream->Commit();
    }
    EXPECT_FALSE(fs::is_symlink(link));
    EXPECT_EQ(files_.FileSize(link), 3);
    EXPECT_EQ(ReadFile(outside), "keep me");
  } else {
    std::ofstream(link) << "old";
  }
  // A leftover plain file is emptied by being replaced; the new stream reads what it wrote.
  {
    auto stream = files_.CreateFile(link);
    stream->WriteString("abc");
    stream->SetPosition(1);
    EXPECT_EQ(stream->ReadRest(), "bc");
    stream->Commit();
  }
  EXPECT_EQ(ReadFile(link), "abc");
  files_.CreateFile(link)->Commit();
  EXPECT_EQ(files_.FileSize(link), 0);
  const auto folder = (dir_ / "mailbox.idx.tmp").string();
  fs::create_directory(folder);
  try {
    files_.CreateFile(folder);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + folder + "\". ", 0), 0u)
        << e.what();
  }
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_THROW(files_.CreateFile((dir_ / "none" / "x").string()), EFCreateError);
}

TEST_F(PlatformFiles, StampsTellFilesAndTheirStatesApart) {
  const auto a = Make("a", "one");
  const FileStamp first = files_.Stamp(a);
  ASSERT_TRUE(first.exists);
  EXPECT_EQ(first.size, 3);
  EXPECT_NEAR(static_cast<double>(first.modified) / 1e9, static_cast<double>(std::time(nullptr)),
              60);
  EXPECT_TRUE(first.SameFile(files_.Stamp(a)));
  EXPECT_EQ(first, files_.Stamp(a));

  // A rename keeps the file; a copy is another one.
  std::string error;
  const auto b = (dir_ / "b").string();
  ASSERT_TRUE(files_.MoveFile(a, b, &error)) << error;
  EXPECT_TRUE(first.SameFile(files_.Stamp(b)));
  fs::copy_file(b, dir_ / "c");
  EXPECT_FALSE(first.SameFile(files_.Stamp((dir_ / "c").string())));

  // New content of another length is another state of the same file.
  std::ofstream(b, std::ios::binary | std::ios::app) << "more";
  const FileStamp later = files_.Stamp(b);
  EXPECT_TRUE(first.SameFile(later));
  EXPECT_EQ(later.size, 7);
  EXPECT_NE(first, later);

  EXPECT_FALSE(files_.Stamp(dir_.string()).exists);
  EXPECT_FALSE(files_.Stamp((dir_ / "none").string()).exists);
  EXPECT_FALSE(FileStamp().SameFile(FileStamp()));
}

TEST_F(PlatformFiles, LinkGivesTheSameFileASecondName) {
  const auto a = Make("a", "data");
  const auto b = (dir_ / "b").string();
  std::string error;
  const LinkOutcome outcome = files_.LinkFile(a, b, &error);
  if (outcome == LinkOutcome::NotSupported) GTEST_SKIP() << "no hard links here: " << error;
  ASSERT_EQ(outcome, LinkOutcome::Linked) << error;
  EXPECT_TRUE(files_.Stamp(a).SameFile(files_.Stamp(b)));
  EXPECT_EQ(ReadFile(b), "data");
  // The data stays while one name does.
  ASSERT_TRUE(files_.DeleteFile(a, &error)) << error;
  EXPECT_EQ(ReadFile(b), "data");
  // An existing name is never replaced by a link.
  const auto c = Make("c", "other");
  EXPECT_EQ(files_.LinkFile(b, c, &error), LinkOutcome::Failed);
  EXPECT_EQ(ReadFile(c), "other");
}

TEST_F(PlatformFiles, ResolveLinksNamesTheFileALinkLeadsTo) {
  const auto a = Make("a", "data");
  EXPECT_EQ(files_.ResolveLinks(a), a);
  const auto none = (dir_ / "none").string();
  EXPECT_EQ(files_.ResolveLinks(none), none);
  const fs::path link = dir_ / "link", chain = dir_ / "chain";
  if (!Symlink(a, link) || !Symlink(link, chain))
    GTEST_SKIP() << "this process may not make symbolic links";
  for (const fs::path& p : {link, chain}) {
    const std::string resolved = files_.ResolveLinks(p.string());
    EXPECT_TRUE(fs::equivalent(resolved, a)) << resolved;
    EXPECT_FALSE(fs::is_symlink(resolved)) << resolved;
  }
}

TEST_F(PlatformFiles, PermissionsAreCopiedBetweenRealFilesOnly) {
  const auto a = Make("a", "1");
  const auto b = Make("b", "2");
  std::string error;
  EXPECT_TRUE(files_.CopyPermissions(a, b, &error)) << error;
  EXPECT_FALSE(files_.CopyPermissions((dir_ / "none").string(), b, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(PlatformFiles, OneFolderLockAtATime) {
  bool held = true;
  std::string error;
  auto lock = files_.LockFolder(dir_.string(), &held, &error);
  ASSERT_TRUE(lock) << error;
  EXPECT_FALSE(held);
  // The same folder written another way is the same lock.
  const std::string other = (dir_ / "sub" / "..").string() + std::string(1, '/');
  fs::create_directory(dir_ / "sub");
  EXPECT_FALSE(files_.LockFolder(other, &held, &error));
  EXPECT_TRUE(held);
  auto elsewhere = files_.LockFolder((dir_ / "sub").string(), &held, &error);
  EXPECT_TRUE(elsewhere) << error;
  lock.reset();
  EXPECT_TRUE(files_.LockFolder(dir_.string(), &held, &error)) << error;
  EXPECT_FALSE(held);
  error.clear();
  EXPECT_FALSE(files_.LockFolder((dir_ / "none").string(), &held, &error));
  EXPECT_FALSE(held);
  EXPECT_FALSE(error.empty());
}

TEST_F(PlatformFiles, FolderOfSplitsAtTheSystemsSeparators) {
  EXPECT_EQ(files_.FolderOf("a/b/c.exe"), "a/b/");
  EXPECT_EQ(files_.FolderOf("c.exe"), "");
#ifdef _WIN32
  EXPECT_EQ(files_.FolderOf("C:\\Program Files\\Quorvane\\qvrepair.exe"),
            "C:\\Program Files\\Quorvane\\");
  EXPECT_EQ(files_.FolderOf("C:\\a/b\\c"), "C:\\a/b\\");
#else
  EXPECT_EQ(files_.FolderOf("a\\b"), "");
#endif
}

TEST(PlatformProgram, KnowsItsOwnPath) {
  SystemFileSystem files;
  const auto p = files.ProgramPath();
  EXPECT_NE(p.find("platform_tests"), std::string::npos) << p;
  EXPECT_TRUE(fs::exists(p)) << p;
}

class ZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!zone_.Available()) GTEST_SKIP() << zone_.Why();
  }
  test::ScopedZone zone_{"Europe/Berlin"};
};

TEST_F(ZoneTest, UtcToLocalUsesTheOffsetInForceAtThatDate) {
  SystemClock clock;
  const TDateTime summer = EncodeDateTime(2024, 7, 1, 12, 0, 0);
  const TDateTime winter = EncodeDateTime(2024, 1, 15, 12, 0, 0);
  EXPECT_NEAR((clock.UtcToLocal(summer) - summer) * 24, 2.0, 1e-9);
  EXPECT_NEAR((clock.UtcToLocal(winter) - winter) * 24, 1.0, 1e-9);
  // Dates of other years take the rules of their own year (2004: 28 March, 31 October).
  EXPECT_NEAR((clock.UtcToLocal(EncodeDateTime(2004, 10, 30, 12, 0, 0)) -
               EncodeDateTime(2004, 10, 30, 12, 0, 0)) *
                  24,
              2.0, 1e-9);
  EXPECT_NEAR((clock.UtcToLocal(EncodeDateTime(2004, 10, 31, 12, 0, 0)) -
               EncodeDateTime(2004, 10, 31, 12, 0, 0)) *
                  24,
              1.0, 1e-9);
  // Milliseconds survive the conversion.
  const TDateTime ms = EncodeDateTime(2024, 1, 15, 12, 0, 0, 250);
  EXPECT_EQ(DecodeTime(clock.UtcToLocal(ms)).msec, 250);
}

// A mail date's UTC value is its date and time less its zone; the local value is rebuilt from the
// converted date and time, as the index keeps it, not that value plus the offset (one ulp off).
TEST(ZoneConversion, RebuildsTheLocalValueFromItsDateAndTime) {
  struct Case {
    const char* zone;
    int y, mo, d, h, mi, s, zoneMinutes, ly, lmo, ld, lh;
  };
  for (const Case& c : {Case{"UTC", 2007, 4, 27, 16, 8, 23, 120, 2007, 4, 27, 14},
                        Case{"UTC", 1999, 3, 1, 0, 13, 49, 60, 1999, 2, 28, 23},
                        Case{"Europe/Berlin", 2017, 1, 8, 23, 6, 45, 120, 2017, 1, 8, 22},
                        Case{"Europe/Berlin", 2020, 6, 2, 14, 23, 55, -300, 2020, 6, 2, 21}}) {
    test::ScopedZone zone(c.zone);
    if (!zone.Available()) continue;
    const TDateTime utc =
        EncodeDate(c.y, c.mo, c.d) + EncodeTime(c.h, c.mi, c.s, 0) - c.zoneMinutes / 1440.0;
    EXPECT_EQ(SystemClock().UtcToLocal(utc),
              EncodeDate(c.ly, c.lmo, c.ld) + EncodeTime(c.lh, c.mi, c.s, 0))
        << c.zone << " " << c.y << "-" << c.mo << "-" << c.d;
  }
}

TEST_F(ZoneTest, NowIsLocalTime) {
  SystemClock clock;
  const std::time_t t = std::time(nullptr);
  const TDateTime utc = UnixToDateTime(t);
  EXPECT_NEAR(clock.Now(), clock.UtcToLocal(utc), 5.0 / 86400);
}

}  // namespace
}  // namespace qv::platform
