// What only the POSIX services do: the system's error texts, the C library's locale, the
// running-check through a lock file, permission bits and files held open by other processes.
#include "platform/PosixPlatform.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "support/Process.h"
#include "support/ScopedZone.h"
#include "support/Scratch.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;

class PosixFiles : public test::ScratchFolderTest {
 protected:
  PosixFiles() : ScratchFolderTest("qv-posix") {}
  PosixFileSystem files_;
};

TEST_F(PosixFiles, ErrorsCarryTheSystemsTexts) {
  const auto a = Make("a", "new");
  const auto b = Make("b", "old");
  std::string error;
  EXPECT_FALSE(files_.MoveFile(a, b, &error));
  EXPECT_EQ(error, "File exists");
  EXPECT_FALSE(files_.DeleteFile((dir_ / "none").string(), &error));
  EXPECT_EQ(error, "No such file or directory");
}

TEST_F(PosixFiles, PermissionBitsAreCopied) {
  const auto a = Make("a", "1");
  const auto b = Make("b", "2");
  ASSERT_EQ(::chmod(a.c_str(), 0640), 0);
  ASSERT_EQ(::chmod(b.c_str(), 0600), 0);
  std::string error;
  ASSERT_TRUE(files_.CopyPermissions(a, b, &error)) << error;
  struct stat st;
  ASSERT_EQ(::stat(b.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // New files are their owner's alone.
  files_.CreateFile((dir_ / "c").string())->Commit();
  ASSERT_EQ(::stat((dir_ / "c").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// Copied by nobody (65534), outside the old file's group: the copy gets no group rights.
TEST_F(PosixFiles, GroupRightsGoWhereTheGroupCannotBeKept) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of a group outside its own";
  const auto from = Make("from", "1"), to = Make("to", "2");  // root's, of group root
  ASSERT_TRUE(::chmod(from.c_str(), 0640) == 0 && ::chmod(dir_.c_str(), 0755) == 0 &&
              ::chown(to.c_str(), 65534, 65534) == 0);
  const gid_t nobody[] = {65534};
  const pid_t child = ::fork();
  if (child == 0)
    ::_exit(::setgroups(1, nobody) || ::setgid(65534) || ::setuid(65534) ||
            !files_.CopyPermissions(from, to, nullptr));
  int status = -1;
  ::waitpid(child, &status, 0);
  struct stat st;
  ASSERT_TRUE(status == 0 && ::stat(to.c_str(), &st) == 0) << status;
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(PosixFiles, FilesHeldOpenByAnotherProcessAreInUse) {
  const auto a = Make("a", "1");
  const auto b = Make("b", "2");
  PosixInstanceProbe probe;
  EXPECT_FALSE(probe.FilesInUse({a, b}));
  {
    // This process holding it does not count.
    std::ifstream mine(a);
    EXPECT_FALSE(probe.FilesInUse({a}));
  }
  test::ChildProcess holder({"/bin/sh", "-c", "exec 3<\"$0\"; exec sleep 30", b});
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i) {
    seen = probe.FilesInUse({a, b});
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
  holder.Kill();
  EXPECT_EQ(holder.Wait(), 137);
  EXPECT_FALSE(probe.FilesInUse({a, b}));
}

TEST(Locale, CLocaleGivesEnglishNames) {
  const char* saved = std::getenv("LC_ALL");
  std::string keep = saved ? saved : "";
  ::setenv("LC_ALL", "C", 1);
  PosixLocale loc;
  EXPECT_EQ(loc.Names().shortDayNames[0], "Sun");
  EXPECT_EQ(loc.Names().longMonthNames[11], "December");
  EXPECT_EQ(loc.Names().shortMonthNames[4], "May");
  if (saved)
    ::setenv("LC_ALL", keep.c_str(), 1);
  else
    ::unsetenv("LC_ALL");
}

// A year's offsets are read once and give each second what the C library gives: zones east and
// west, of half an hour, of four changes a year, and that changed their rules (a day skipped).
TEST(PosixClockZones, OffsetsReadOncePerYearGiveWhatTheCLibraryGives) {
  struct CountingClock : PosixClock {
    std::optional<long> OffsetAt(std::int64_t secs) override {
      return ++asked, PosixClock::OffsetAt(secs);
    }
    long asked = 0;
  };
  for (const char* name : {"Europe/Berlin", "America/New_York", "Australia/Lord_Howe",
                           "Africa/Casablanca", "Europe/Moscow", "Pacific/Apia"}) {
    test::ScopedZone zone(name);
    CountingClock clock;
    long wrong = 0;
    for (const int year : {1893, 1945, 2004, 2011, 2014, 2024, 2100}) {
      // Each half hour and the second before it: every change of these zones is at one of them.
      for (std::int64_t t = (DaysFromCivil(year, 1, 1) - 25569) * 86400,
                        end = (DaysFromCivil(year + 1, 1, 1) - 25569) * 86400;
           t < end; t += 1800) {
        for (const std::time_t at : {t - 1, t}) {
          std::tm tm{};
          const TDateTime utc = IncMilliseconds(UnixToDateTime(at), 250);
          if (!::localtime_r(&at, &tm) ||
              clock.UtcToLocal(utc) != IncMilliseconds(utc, tm.tm_gmtoff * std::int64_t{1000}))
            ++wrong;
        }
      }
    }
    EXPECT_EQ(wrong, 0) << name;
    // About 1 500 a year (six-hourly, and each change to the second) for 14 years, not one a date.
    EXPECT_LT(clock.asked, 14 * 1600) << name;
  }
}

// The names come in the ANSI code page of the locale's language, under UTF-8 as under ISO-8859.
TEST(Locale, NamesComeInTheCodePageOfTheLanguage) {
  test::SetEnv("LOCPATH", QV_TEST_LOCALE_DIR);
  for (const auto& [utf8, iso, month, name] :
       {std::tuple{"de_DE.UTF-8", "de_DE.ISO-8859-1", 2, "M\xe4rz"},
        std::tuple{"fr_FR.UTF-8", "fr_FR.ISO-8859-1", 1, "f\xe9vrier"},
        std::tuple{"tr_TR.UTF-8", "tr_TR.ISO-8859-9", 7, "A\xf0ustos"}}) {
    LocaleNames names[2];
    for (const int i : {0, 1}) {
      test::SetEnv("LC_ALL", i == 0 ? utf8 : iso);
      ASSERT_TRUE(fs::exists(fs::path(QV_TEST_LOCALE_DIR) / (i == 0 ? utf8 : iso)))
          << "not compiled: install Debian's package locales (scripts/test does)";
      names[i] = PosixLocale().Names();
    }
    EXPECT_EQ(names[0].longMonthNames[month], name);
    EXPECT_TRUE(names[0] == names[1]) << utf8;
  }
  test::UnsetEnv("LC_ALL");
  test::UnsetEnv("LOCPATH");
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
