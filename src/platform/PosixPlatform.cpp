#include "platform/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <optional>
#include <string_view>
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

// What has a name that is not a regular file.
std::string KindText(mode_t mode) {
  if (S_ISDIR(mode)) return std::strerror(EISDIR);
  if (S_ISFIFO(mode)) return "a named pipe (FIFO), not a file";
  if (S_ISSOCK(mode)) return "a socket, not a file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a file";
  return "not a regular file";
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
#ifdef RENAME_NOREPLACE
  // A rename that refuses an existing target in one step, where the file system has it.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Fail(error);
#endif
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
  // Exclusive and without following a link: an entry of that name, whoever made it, is neither
  // written through nor removed. Owner only: the mail it will hold is nobody else's business.
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

bool PosixFileSystem::EntryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::AppendFile(const std::string& path, std::string_view bytes,
                                 std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return Fail(error);
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    ok = false;
  }
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok || Fail(error);
}

std::unique_ptr<TStream> PosixFileSystem::OpenRead(const std::string& path) {
  auto fail = [&path](const std::string& reason) {
    throw EFOpenError(FormatMessage(kFOpenError, {path, reason}));
  };
  // Without waiting: a named pipe would wait for a writer. Once it shows as a file, reads block.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    // A link to nothing is said as such, not as a missing file.
    const std::string why = e == ENOENT ? NoFileReason(path, nullptr) : "";
    fail(why.empty() ? std::strerror(e) : why);
  }
  struct stat st;
  const bool stated = ::fstat(fd, &st) == 0;
  const int e = errno;
  const int flags = ::fcntl(fd, F_GETFL);
  if (!stated || !S_ISREG(st.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    const int saved = errno;
    ::close(fd);
    fail(!stated                ? std::strerror(e)
         : !S_ISREG(st.st_mode) ? KindText(st.st_mode)
                                : std::strerror(saved));
  }
  std::FILE* stream = ::fdopen(fd, "rb");
  if (!stream) {
    const int saved = errno;
    ::close(fd);
    fail(std::strerror(saved));
  }
  return std::make_unique<TFileStream>(stream, path);
}

std::string PosixFileSystem::NoFileReason(const std::string& path, bool* missing) {
  if (missing) *missing = false;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode) ? "" : KindText(st.st_mode);
  const int e = errno;
  if (e == ENOENT && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    return "a symbolic link to nothing (its target does not exist)";
  if (missing && e == ENOENT) *missing = true;
  return std::strerror(e);
}

std::vector<std::string> PosixFileSystem::FileNamesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
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

ExchangeOutcome PosixFileSystem::ExchangeFiles(const std::string& a, const std::string& b,
                                               std::string* error) {
#ifdef RENAME_EXCHANGE
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0)
    return ExchangeOutcome::Exchanged;
  const int e = errno;
  if (error) *error = std::strerror(e);
  // Kernels and file systems without the exchange refuse with one of these.
  return e == EINVAL || e == ENOSYS || e == EOPNOTSUPP ? ExchangeOutcome::NotSupported
                                                       : ExchangeOutcome::Failed;
#else
  (void)a;
  (void)b;
  if (error) *error = std::strerror(ENOSYS);
  return ExchangeOutcome::NotSupported;
#endif
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
  // Where the old group could not be kept, the file has its creator's group: the old group's
  // rights would open the mail to another group of people, so that group gets none.
  mode_t mode = st.st_mode & 07777;
  struct stat made;
  if (::stat(to.c_str(), &made) != 0) return Fail(error);
  if (made.st_gid != st.st_gid) mode &= ~static_cast<mode_t>(S_IRWXG | S_ISGID);
  return ::chmod(to.c_str(), mode) == 0 || Fail(error);
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

bool PosixFileSystem::FolderLockHeld(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // also releases the shared lock taken when it was free
  return held;
}

// --- clock ---------------------------------------------------------------------------------

TDateTime PosixClock::Now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  std::tm t{};
  ::localtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

std::optional<long> PosixClock::OffsetAt(std::int64_t secs) {
  const auto t = static_cast<std::time_t>(secs);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return std::nullopt;
  return tm.tm_gmtoff;
}

// Adds each change of the offset after `from`, whose offset is `was`, up to `to`, whose offset is
// `is`; each is found to the second by halving the span.
bool PosixClock::FindChanges(std::int64_t from, long was, std::int64_t to, long is,
                             std::vector<std::pair<std::int64_t, long>>& changes) {
  while (was != is) {
    std::int64_t lo = from, hi = to;  // the offset at lo is `was`, at hi another one
    long atHi = is;
    while (hi - lo > 1) {
      const std::int64_t mid = lo + (hi - lo) / 2;
      const std::optional<long> o = OffsetAt(mid);
      if (!o) return false;
      if (*o == was) {
        lo = mid;
      } else {
        hi = mid;
        atHi = *o;
      }
    }
    changes.emplace_back(hi, atHi);
    from = hi;
    was = atHi;
  }
  return true;
}

const PosixClock::ZoneYear& PosixClock::YearOf(std::int64_t secs) {
  const std::int64_t day = secs / 86400 - (secs % 86400 < 0 ? 1 : 0);
  const int year = DecodeDate(static_cast<double>(day + 25569)).year;
  const std::int64_t begin = (DaysFromCivil(year, 1, 1) - 25569) * 86400;
  auto [it, made] = years_.try_emplace(begin);
  ZoneYear& zone = it->second;
  if (!made) return zone;
  // The offset is taken every six hours through the year and each change found to the second. A
  // change undone within six hours would go unseen; the zone database has none (its closest
  // changes are days apart).
  constexpr std::int64_t kStep = 6 * 3600;
  const std::int64_t last = (DaysFromCivil(year + 1, 1, 1) - 25569) * 86400 - 1;
  const std::optional<long> first = OffsetAt(begin);
  if (!first) return zone;
  zone.first = *first;
  std::int64_t at = begin;
  long was = *first;
  while (at < last) {
    const std::int64_t next = std::min(at + kStep, last);
    const std::optional<long> is = OffsetAt(next);
    if (!is || !FindChanges(at, was, next, *is, zone.changes)) {
      zone.changes.clear();
      return zone;
    }
    at = next;
    was = *is;
  }
  zone.known = true;
  return zone;
}

TDateTime PosixClock::UtcToLocal(TDateTime utc) {
  // The offset in force at the date's second, through the zone rules; the value is rounded to the
  // millisecond first, so that a time such as 01:00:00 (held as 00:59:59.99...) takes the offset
  // of its own second, not of the one before a zone change.
  const double secs = std::round((utc - 25569.0) * 86400000.0) / 1000.0;
  if (!std::isfinite(secs) || std::fabs(secs) > 4e11) return utc;
  const auto whole = static_cast<std::int64_t>(std::floor(secs));
  const ZoneYear& zone = YearOf(whole);
  long offset = zone.first;
  if (zone.known) {
    const auto after = std::upper_bound(
        zone.changes.begin(), zone.changes.end(), whole,
        [](std::int64_t t, const std::pair<std::int64_t, long>& c) { return t < c.first; });
    if (after != zone.changes.begin()) offset = std::prev(after)->second;
  } else {
    const std::optional<long> o = OffsetAt(whole);
    if (!o) return utc;
    offset = *o;
  }
  // Rebuilt from the local date and time, as the index keeps it.
  return IncMilliseconds(utc, std::int64_t{offset} * 1000);
}

// --- locale --------------------------------------------------------------------------------

namespace {
// The locale that LC_TIME takes from the environment.
std::string TimeLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return value;
  }
  return "C";
}

// The ANSI code page that Windows gives a system of the locale's language, which the store of a
// mail client run there holds its separators in.
const char* WindowsCodePage(const std::string& locale) {
  const std::size_t languageEnd = locale.find_first_of("_.@");
  const std::string language = locale.substr(0, languageEnd);
  const std::size_t at = locale.find('@');
  const std::string modifier = at == std::string::npos ? "" : locale.substr(at + 1);
  const std::string territory =
      languageEnd != std::string::npos && locale[languageEnd] == '_'
          ? locale.substr(languageEnd + 1,
                          locale.find_first_of(".@", languageEnd) - languageEnd - 1)
          : "";
  if (language == "zh")
    return territory == "TW" || territory == "HK" || territory == "MO" ? "CP950" : "CP936";
  if (language == "sr" || language == "uz") {
    if (modifier == "latin") return language == "sr" ? "CP1250" : "CP1254";
    if (modifier == "cyrillic" || language == "sr") return "CP1251";
  }
  static constexpr std::pair<const char*, const char*> kCodePages[] = {
      {"CP1250", " bs cs dsb hr hsb hu pl ro sk sl sq "},
      {"CP1251", " ba be bg kk ky mk mn ru sah tg tt uk "},
      {"CP1253", " el "},
      {"CP1254", " az tr uz "},
      {"CP1255", " he iw yi "},
      {"CP1256", " ar fa ur "},
      {"CP1257", " et lt lv "},
      {"CP1258", " vi "},
      {"CP874", " th "},
      {"CP932", " ja "},
      {"CP949", " ko "},
  };
  for (const auto& [codePage, languages] : kCodePages) {
    if (!language.empty() &&
        std::string_view(languages).find(" " + language + " ") != std::string_view::npos)
      return codePage;
  }
  return "CP1252";
}
}  // namespace

PosixLocale::PosixLocale() {
  names_ = EnglishNames();
  // The names are in the code set of their own locale (LC_CTYPE of the same name: a locale made for
  // LC_TIME alone reports ASCII). Stores were written on Windows in the ANSI code page of the
  // system's language, so the names are converted into the code page that Windows gives that
  // language (Windows-1252 for German or French, Windows-1254 for Turkish, where "Ş" is 0xDE):
  // under de_DE.UTF-8 "März" reads as it does under de_DE.ISO-8859-1, and under tr_TR.UTF-8 as
  // under tr_TR.ISO-8859-9. A name the code page cannot hold stays English; so do all of them when
  // the locale is not installed or the conversion is not known.
  const std::string name = TimeLocaleName();
  ::locale_t loc = ::newlocale(LC_TIME_MASK | LC_CTYPE_MASK, name.c_str(), ::locale_t{});
  if (!loc) return;
  const char* codeset = ::nl_langinfo_l(CODESET, loc);
  const ::iconv_t convert = ::iconv_open(WindowsCodePage(name), codeset ? codeset : "");
  if (convert == reinterpret_cast<::iconv_t>(-1)) {
    ::freelocale(loc);
    return;
  }
  auto get = [&](nl_item item, std::string& out) {
    const char* s = ::nl_langinfo_l(item, loc);
    if (!s || !*s) return;
    std::string in = s;
    std::string converted(in.size() * 2 + 8, '\0');
    char* from = in.data();
    std::size_t left = in.size();
    char* to = converted.data();
    std::size_t room = converted.size();
    ::iconv(convert, nullptr, nullptr, nullptr, nullptr);
    if (::iconv(convert, &from, &left, &to, &room) == static_cast<std::size_t>(-1) ||
        ::iconv(convert, nullptr, nullptr, &to, &room) == static_cast<std::size_t>(-1))
      return;
    converted.resize(converted.size() - room);
    out = std::move(converted);
  };
  static constexpr nl_item kAbDay[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4,
                                        ABDAY_5, ABDAY_6, ABDAY_7};
  static constexpr nl_item kDay[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static constexpr nl_item kAbMon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4,  ABMON_5,  ABMON_6,
                                         ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static constexpr nl_item kMon[12] = {MON_1, MON_2, MON_3, MON_4,  MON_5,  MON_6,
                                       MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  for (std::size_t i = 0; i < 7; ++i) {
    get(kAbDay[i], names_.shortDayNames[i]);
    get(kDay[i], names_.longDayNames[i]);
  }
  for (std::size_t i = 0; i < 12; ++i) {
    get(kAbMon[i], names_.shortMonthNames[i]);
    get(kMon[i], names_.longMonthNames[i]);
  }
  ::iconv_close(convert);
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

namespace {
// The first line of a small file of the proc file system ("" when it cannot be read).
std::string ProcLine(const std::string& path) {
  std::string line;
  if (std::FILE* f = std::fopen(path.c_str(), "re")) {
    char buf[256];
    if (std::fgets(buf, sizeof buf, f)) line = buf;
    std::fclose(f);
  }
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

// Whether a process is one of this program's: by its command name or its executable's name.
bool IsRepairProcess(const std::string& pid, const std::string& command) {
  if (IsRepairProgram(command)) return true;
  char exe[4096];
  const ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), exe, sizeof exe - 1);
  if (n <= 0) return false;
  const std::string_view path(exe, static_cast<std::size_t>(n));
  return IsRepairProgram(path.substr(path.find_last_of('/') + 1));
}

// The first process but this one that holds one of the files open (skipping this program's own
// when `skipRepairs`), found by file identity in the proc file system's lists of open files.
bool FindHolder(const std::vector<std::string>& paths, bool skipRepairs,
                InstanceProbe::FileHolder& holder) {
  // The files are told by their identity, so that any name or link that reaches them counts.
  struct Wanted {
    dev_t dev;
    ino_t ino;
    const std::string* path;
  };
  std::vector<Wanted> wanted;
  for (const std::string& path : paths) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) wanted.push_back({st.st_dev, st.st_ino, &path});
  }
  if (wanted.empty()) return false;
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  const std::string self = std::to_string(::getpid());
  const std::string* found = nullptr;
  std::string pid;
  while (!found) {
    const dirent* process = ::readdir(proc);
    if (!process) break;
    pid = process->d_name;
    if (pid[0] < '1' || pid[0] > '9' || self == pid) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    // Processes of other users (or that ended meanwhile) cannot be inspected without privileges;
    // they are skipped. A mail client run by the same user is always visible.
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;
    while (const dirent* entry = ::readdir(fds)) {
      if (entry->d_name[0] == '.') continue;
      struct stat st;
      if (::stat((fdDir + "/" + entry->d_name).c_str(), &st) != 0) continue;
      for (const Wanted& w : wanted)
        if (st.st_dev == w.dev && st.st_ino == w.ino) found = w.path;
      if (found) break;
    }
    ::closedir(fds);
    if (found && skipRepairs && IsRepairProcess(pid, ProcLine("/proc/" + pid + "/comm")))
      found = nullptr;
  }
  ::closedir(proc);
  if (!found) return false;
  holder = {*found, std::strtoll(pid.c_str(), nullptr, 10), ProcLine("/proc/" + pid + "/comm")};
  return true;
}
}  // namespace

bool PosixInstanceProbe::FilesInUse(const std::vector<std::string>& paths) {
  FileHolder holder;
  return FindHolder(paths, false, holder);
}

bool PosixInstanceProbe::FindFileHolder(const std::vector<std::string>& paths, FileHolder& holder) {
  return FindHolder(paths, true, holder);
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
