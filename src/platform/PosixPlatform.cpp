#include "platform/PosixPlatform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"

namespace qv::platform {

namespace {
bool Fail(std::string* error) {
  if (error) *error = std::strerror(errno);
  return false;
}

TDateTime FromTm(const std::tm& t, long nanos) {
  TDateTime d = 0, tm = 0;
  TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, d);
  TryEncodeTime(t.tm_hour, t.tm_min, t.tm_sec > 59 ? 59 : t.tm_sec,
                static_cast<int>(nanos / 1000000), tm);
  return d + tm;
}
}  // namespace

const LocaleNames& EnglishNames() {
  static const LocaleNames names{
      {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"},
      {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
      {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
      {"January", "February", "March", "April", "May", "June", "July", "August", "September",
       "October", "November", "December"}};
  return names;
}

// --- files ---------------------------------------------------------------------------------

std::int64_t PosixFileSystem::FileAge(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_mtime);
}

std::int64_t PosixFileSystem::FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool PosixFileSystem::DeleteFile(const std::string& path, std::string* error) {
  return ::unlink(path.c_str()) == 0 || Fail(error);
}

bool PosixFileSystem::MoveFile(const std::string& from, const std::string& to, std::string* error) {
  // link + unlink refuses an existing target atomically; fall back to a checked rename where the
  // file system has no hard links.
  if (::link(from.c_str(), to.c_str()) == 0) {
    if (::unlink(from.c_str()) != 0) return Fail(error);
    return true;
  }
  if (errno == EEXIST) return Fail(error);
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return Fail(error);
  }
  return ::rename(from.c_str(), to.c_str()) == 0 || Fail(error);
}

bool PosixFileSystem::ReplaceFile(const std::string& from, const std::string& to,
                                  std::string* error) {
  return ::rename(from.c_str(), to.c_str()) == 0 || Fail(error);
}

bool PosixFileSystem::SyncFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error);
  const bool ok = ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok || Fail(error);
}

void PosixFileSystem::StartWriteback(const std::string& path) {
#ifdef __linux__
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  ::close(fd);
#else
  (void)path;
#endif
}

bool PosixFileSystem::SyncFolder(const std::string& path, std::string* error) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(error);
  const bool ok = ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok || Fail(error);
}

std::unique_ptr<TStream> PosixFileSystem::CreateFile(const std::string& path) {
  // A folder of that name is not removed: unlink refuses it, and so the creation fails.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw EFCreateError(FormatMessage(kFCreateError, {path, std::strerror(errno)}));
  auto file = std::make_unique<TFileStream>(path, FileMode::Create);
  // Files made here are written front to back (the repaired store one message at a time): small
  // writes reach the system in blocks.
  file->SetBufferSize(std::size_t{256} << 10);
  return file;
}

std::string PosixFileSystem::ProgramPath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0) return {};
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

// --- clock ---------------------------------------------------------------------------------

TDateTime SystemClock::Now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  std::tm t{};
  ::localtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

TDateTime SystemClock::UtcToLocal(TDateTime utc) {
  // Whole seconds through the zone rules; the milliseconds are carried over unchanged. The value
  // is rounded to the millisecond first, so that a time such as 01:00:00 (held as 00:59:59.99...)
  // takes the offset of its own second, not of the one before a zone change.
  const double secs = std::round((utc - 25569.0) * 86400000.0) / 1000.0;
  if (!std::isfinite(secs) || std::fabs(secs) > 4e11) return utc;
  const double whole = std::floor(secs);
  const auto tsec = static_cast<std::time_t>(whole);
  std::tm t{};
  if (!::localtime_r(&tsec, &t)) return utc;
  const double offset = static_cast<double>(t.tm_gmtoff) / 86400.0;
  return utc + offset;
}

// --- locale --------------------------------------------------------------------------------

CLocale::CLocale() {
  names_ = EnglishNames();
  ::locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<::locale_t>(0));
  if (!loc) return;
  static constexpr nl_item kAbDay[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                        ABDAY_5, ABDAY_6, ABDAY_7};
  static constexpr nl_item kDay[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static constexpr nl_item kAbMon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                         ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static constexpr nl_item kMon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                       MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  const char* codeset = ::nl_langinfo_l(CODESET, loc);
  const bool utf8 =
      codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
  auto get = [&](nl_item item) {
    const char* s = ::nl_langinfo_l(item, loc);
    std::string v = s ? s : "";
    return utf8 ? Utf8ToAnsi(v) : v;
  };
  for (int i = 0; i < 7; ++i) {
    names_.shortDayNames[i] = get(kAbDay[i]);
    names_.longDayNames[i] = get(kDay[i]);
  }
  for (int i = 0; i < 12; ++i) {
    names_.shortMonthNames[i] = get(kAbMon[i]);
    names_.longMonthNames[i] = get(kMon[i]);
  }
  ::freelocale(loc);
}

// --- the mail client's mutex ---------------------------------------------------------------

std::string LockFileProbe::LockFilePath(const std::string& name) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (!dir || !*dir) dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  std::string path = dir;
  if (path.back() != '/') path += '/';
  return path + name + ".lock";
}

bool LockFileProbe::MutexExists(const std::string& name) {
  const int fd = ::open(LockFilePath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // also releases the shared lock taken when it was free
  return held;
}

// --- beep ----------------------------------------------------------------------------------

void TerminalBeeper::ErrorBeep() {
  const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t n = ::write(fd, "\a", 1);
  ::close(fd);
}

}  // namespace qv::platform
