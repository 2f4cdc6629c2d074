#include "platform/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

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
  auto fail = [&path]() {
    throw EFCreateError(FormatMessage(kFCreateError, {path, std::strerror(errno)}));
  };
  // A folder of that name is not removed: unlink refuses it, and so the creation fails.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) fail();
  // Exclusive and without following a link: a name that another process took meanwhile is not
  // written through. Owner only: the mail it will hold is nobody else's business.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) fail();
  std::FILE* stream = ::fdopen(fd, "w+b");
  if (!stream) {
    const int saved = errno;
    ::close(fd);
    ::unlink(path.c_str());
    errno = saved;
    fail();
  }
  auto file = std::make_unique<TFileStream>(stream, path);
  // Files made here are written front to back (the repaired store one message at a time): small
  // writes reach the system in blocks.
  file->SetBufferSize(std::size_t{256} << 10);
  return file;
}

std::unique_ptr<TStream> PosixFileSystem::OpenRead(const std::string& path) {
  return std::make_unique<TFileStream>(path, FileMode::OpenRead);
}

std::string PosixFileSystem::ProgramPath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0) return {};
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

FileStamp PosixFileSystem::Stamp(const std::string& path) {
  FileStamp stamp;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
  stamp.exists = true;
  stamp.volume = static_cast<std::uint64_t>(st.st_dev);
  stamp.id = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

LinkOutcome PosixFileSystem::LinkFile(const std::string& from, const std::string& to,
                                      std::string* error) {
  if (::link(from.c_str(), to.c_str()) == 0) return LinkOutcome::Linked;
  const int e = errno;
  if (error) *error = std::strerror(e);
  // File systems without hard links (FAT, some network shares) refuse with one of these.
  return e == EPERM || e == EOPNOTSUPP || e == ENOSYS || e == EXDEV ? LinkOutcome::NotSupported
                                                                    : LinkOutcome::Failed;
}

std::string PosixFileSystem::ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return current;
    target.resize(static_cast<std::size_t>(n));
    if (target.front() != '/') {
      // A relative target is relative to the folder of the link.
      const std::size_t slash = current.find_last_of('/');
      if (slash != std::string::npos) target = current.substr(0, slash + 1) + target;
    }
    current = std::move(target);
  }
  return current;
}

bool PosixFileSystem::CopyPermissions(const std::string& from, const std::string& to,
                                      std::string* error) {
  struct stat st;
  if (::stat(from.c_str(), &st) != 0) return Fail(error);
  // Owner and group first (a change of owner may clear set-id bits): only a privileged process
  // may give a file away, and only a member may set its group, so a refusal leaves the creator's.
  if (::chown(to.c_str(), st.st_uid, st.st_gid) != 0) {
    [[maybe_unused]] const int groupOnly = ::chown(to.c_str(), static_cast<uid_t>(-1), st.st_gid);
  }
  return ::chmod(to.c_str(), st.st_mode & 07777) == 0 || Fail(error);
}

std::string PosixFileSystem::FileNameFromAnsi(const std::string& ansi) {
  return AnsiToUtf8(ansi);
}

namespace {
class FlockFolderLock : public FolderLock {
 public:
  explicit FlockFolderLock(int fd) : fd_(fd) {}
  ~FlockFolderLock() override { ::close(fd_); }

 private:
  int fd_;
};
}  // namespace

std::unique_ptr<FolderLock> PosixFileSystem::LockFolder(const std::string& folder,
                                                        bool* heldByOther, std::string* error) {
  if (heldByOther) *heldByOther = false;
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail(error);
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) {
      if (heldByOther) *heldByOther = true;
    } else if (error) {
      *error = std::strerror(e);
    }
    return nullptr;
  }
  return std::make_unique<FlockFolderLock>(fd);
}

// --- clock ---------------------------------------------------------------------------------

TDateTime PosixClock::Now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  std::tm t{};
  ::localtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

TDateTime PosixClock::UtcToLocal(TDateTime utc) {
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

PosixLocale::PosixLocale() {
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

std::string PosixInstanceProbe::LockFilePath(const std::string& name) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (!dir || !*dir) dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  std::string path = dir;
  if (path.back() != '/') path += '/';
  return path + name + ".lock";
}

bool PosixInstanceProbe::MutexExists(const std::string& name) {
  const int fd = ::open(LockFilePath(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // also releases the shared lock taken when it was free
  return held;
}

bool PosixInstanceProbe::FilesInUse(const std::vector<std::string>& paths) {
  // The files are told by their identity, so that any name or link that reaches them counts.
  std::vector<std::pair<dev_t, ino_t>> wanted;
  for (const std::string& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) wanted.emplace_back(st.st_dev, st.st_ino);
  }
  if (wanted.empty()) return false;
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  const std::string self = std::to_string(::getpid());
  bool found = false;
  while (!found) {
    const dirent* process = ::readdir(proc);
    if (!process) break;
    const char* pid = process->d_name;
    if (*pid < '1' || *pid > '9' || self == pid) continue;
    const std::string fdDir = std::string("/proc/") + pid + "/fd";
    // Processes of other users (or that ended meanwhile) cannot be inspected without privileges;
    // they are skipped. A mail client run by the same user is always visible.
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;
    while (const dirent* entry = ::readdir(fds)) {
      if (entry->d_name[0] == '.') continue;
      struct stat st;
      if (::stat((fdDir + "/" + entry->d_name).c_str(), &st) != 0) continue;
      for (const auto& [dev, ino] : wanted) {
        if (st.st_dev == dev && st.st_ino == ino) found = true;
      }
      if (found) break;
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return found;
}

// --- console -------------------------------------------------------------------------------

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool PosixConsole::IsTerminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) == 1;
}

bool PosixConsole::Write(std::FILE* stream, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

void PosixConsole::RedrawLine(std::FILE* stream, const std::string& line) {
  Write(stream, "\r" + line + "\x1b[K");
}

std::FILE* PosixConsole::TemporaryFile() {
  std::FILE* file = std::tmpfile();
  if (!file)
    throw EFCreateError(std::string("Cannot create a temporary file. ") + std::strerror(errno));
  return file;
}

std::unique_ptr<Clock> PosixConsole::ZoneClock(const std::string& zone) {
  ::setenv("TZ", zone.c_str(), 1);
  ::tzset();
  return std::make_unique<PosixClock>();
}

// --- beep ----------------------------------------------------------------------------------

void PosixBeeper::ErrorBeep() {
  const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t n = ::write(fd, "\a", 1);
  ::close(fd);
}

}  // namespace qv::platform
