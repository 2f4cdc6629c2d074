#include "platform/PosixPlatform.h"

#include "base/Errors.h"
#include "support/ScopedZone.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace qv::platform {
namespace {

namespace fs = std::filesystem;

class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv-platform-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Make(const char* name, const char* content) {
    const auto p = (dir_ / name).string();
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  fs::path dir_;
  PosixFileSystem files_;
};

TEST_F(PlatformFiles, ExistenceByAgeIgnoresFolders) {
  const auto f = Make("a.idx", "x");
  EXPECT_TRUE(files_.FileExists(f));
  EXPECT_GT(files_.FileAge(f), 0);
  EXPECT_EQ(files_.FileSize(f), 1);
  fs::create_directory(dir_ / "b.idx");
  EXPECT_FALSE(files_.FileExists((dir_ / "b.idx").string()));
  EXPECT_FALSE(files_.FileExists((dir_ / "none").string()));
  EXPECT_EQ(files_.FileSize((dir_ / "none").string()), -1);
}

TEST_F(PlatformFiles, MoveRefusesAnExistingTarget) {
  const auto a = Make("a", "new");
  const auto b = Make("b", "old");
  std::string error;
  EXPECT_FALSE(files_.MoveFile(a, b, &error));
  EXPECT_EQ(error, "File exists");
  EXPECT_TRUE(files_.FileExists(a));
  ASSERT_TRUE(files_.DeleteFile(b, &error));
  ASSERT_TRUE(files_.MoveFile(a, b, &error));
  EXPECT_FALSE(files_.FileExists(a));
  std::ifstream in(b);
  std::string s;
  in >> s;
  EXPECT_EQ(s, "new");
  EXPECT_FALSE(files_.DeleteFile(a, &error));
  EXPECT_EQ(error, "No such file or directory");
}

TEST_F(PlatformFiles, ReplaceAndSyncSucceedOnRealFiles) {
  const auto a = Make("a", "1");
  const auto b = Make("b", "2");
  std::string error;
  EXPECT_TRUE(files_.SyncFile(a, &error)) << error;
  EXPECT_TRUE(files_.ReplaceFile(a, b, &error)) << error;
  EXPECT_TRUE(files_.SyncFolder(dir_.string(), &error)) << error;
  EXPECT_FALSE(files_.FileExists(a));
  EXPECT_FALSE(files_.SyncFile(a, &error));
}

TEST_F(PlatformFiles, CreateReplacesALeftoverLinkAndRefusesAFolder) {
  const auto outside = Make("outside", "keep me");
  const auto link = (dir_ / "mailbox.xyz").string();
  fs::create_symlink(outside, link);
  {
    auto stream = files_.CreateFile(link);
    stream->WriteString("new");
    stream->Commit();
  }
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(files_.FileSize(link), 3);
  EXPECT_EQ(files_.FileSize(outside), 7);
  // A leftover plain file is emptied by being replaced.
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
}

TEST(PlatformProgram, KnowsItsOwnPath) {
  PosixFileSystem files;
  const auto p = files.ProgramPath();
  EXPECT_NE(p.find("platform_tests"), std::string::npos) << p;
}

class ZoneTest : public ::testing::Test {
 protected:
  test::ScopedZone zone_{"Europe/Berlin"};
};

TEST_F(ZoneTest, UtcToLocalUsesTheOffsetInForceAtThatDate) {
  SystemClock clock;
  const TDateTime summer = EncodeDateTime(2024, 7, 1, 12, 0, 0);
  const TDateTime winter = EncodeDateTime(2024, 1, 15, 12, 0, 0);
  EXPECT_NEAR((clock.UtcToLocal(summer) - summer) * 24, 2.0, 1e-9);
  EXPECT_NEAR((clock.UtcToLocal(winter) - winter) * 24, 1.0, 1e-9);
  // Milliseconds survive the conversion.
  const TDateTime ms = EncodeDateTime(2024, 1, 15, 12, 0, 0, 250);
  EXPECT_EQ(DecodeTime(clock.UtcToLocal(ms)).msec, 250);
}

TEST_F(ZoneTest, NowIsLocalTime) {
  SystemClock clock;
  const std::time_t t = std::time(nullptr);
  const TDateTime utc = UnixToDateTime(t);
  EXPECT_NEAR(clock.Now(), clock.UtcToLocal(utc), 5.0 / 86400);
}

TEST(Locale, CLocaleGivesEnglishNames) {
  const char* saved = std::getenv("LC_ALL");
  std::string keep = saved ? saved : "";
  ::setenv("LC_ALL", "C", 1);
  CLocale loc;
  EXPECT_EQ(loc.Names().shortDayNames[0], "Sun");
  EXPECT_EQ(loc.Names().longMonthNames[11], "December");
  EXPECT_EQ(loc.Names().shortMonthNames[4], "May");
  if (saved)
    ::setenv("LC_ALL", keep.c_str(), 1);
  else
    ::unsetenv("LC_ALL");
}

TEST(InstanceProbeTest, SeesAHeldLockAndCreatesNothing) {
  const auto dir = fs::temp_directory_path() / ("qv-probe-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
  PosixInstanceProbe probe;
  EXPECT_FALSE(probe.MutexExists("QuorvaneAppMutex"));
  EXPECT_FALSE(fs::exists(dir / "QuorvaneAppMutex.lock"));  // the probe creates nothing

  const int fd = ::open((dir / "QuorvaneAppMutex.lock").c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(probe.MutexExists("QuorvaneAppMutex"));  // file without a holder
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_TRUE(probe.MutexExists("QuorvaneAppMutex"));
  ::close(fd);
  EXPECT_FALSE(probe.MutexExists("QuorvaneAppMutex"));
  ::unsetenv("XDG_RUNTIME_DIR");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qv::platform
