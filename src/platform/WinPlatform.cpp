#include "platform/WinPlatform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"
#include "platform/WinShared.h"

// The Win32 header comes last.
#include "platform/Win32.h"

namespace qv::platform {

namespace {

using win::Narrow;
using win::SystemText;
using win::Wide;
using win::WidePath;

bool Fail(std::string* error, DWORD code) {
  if (error) *error = SystemText(code);
  return false;
}

bool Fail(std::string* error) {
  return Fail(error, ::GetLastError());
}

using win::Handle;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle for reading a file's or folder's attributes, through links to what they name.
HANDLE OpenForInfo(const std::string& path) {
  return ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// 100-nanosecond intervals since 1601 as nanoseconds since the Unix epoch.
constexpr std::int64_t kEpochIntervals = 116444736000000000;
std::int64_t UnixNanos(std::int64_t intervals) {
  return (intervals - kEpochIntervals) * 100;
}
std::int64_t Intervals(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}
std::int64_t Join(DWORD high, DWORD low) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}
// Whole seconds, rounded down also before 1970.
std::int64_t FloorSeconds(std::int64_t nanos) {
  std::int64_t s = nanos / 1000000000;
  if (nanos % 1000000000 < 0) --s;
  return s;
}

// Size and modification time of a regular file (through a link to what it names); false when
// there is no regular file of that name.
bool RegularFileInfo(const std::string& path, std::int64_t& size, std::int64_t& modified) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    modified = UnixNanos(Intervals(data.ftLastWriteTime));
    return true;
  }
  // A link: the attributes above are the link's own.
  const Handle h(OpenForInfo(path));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.ok() || !::GetFileInformationByHandle(h.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  modified = UnixNanos(Intervals(info.ftLastWriteTime));
  return true;
}

std::wstring FullPath(const std::string& path) {
  const std::wstring from = WidePath(path.empty() ? "." : path);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(from.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return from;
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
}

// 64-bit FNV-1a.
std::uint64_t Hash(const void* data, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= static_cast<const unsigned char*>(data)[i];
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace

// --- files ---------------------------------------------------------------------------------

std::int64_t WinFileSystem::FileAge(const std::string& path) {
  std::int64_t size = 0, modified = 0;
  if (!RegularFileInfo(path, size, modified)) return -1;
  return FloorSeconds(modified);
}

std::int64_t WinFileSystem::FileSize(const std::string& path) {
  std::int64_t size = 0, modified = 0;
  return RegularFileInfo(path, size, modified) ? size : -1;
}

bool WinFileSystem::DeleteFile(const std::string& path, std::string* error) {
  return ::DeleteFileW(WidePath(path).c_str()) || Fail(error);
}

bool WinFileSystem::MoveFile(const std::string& from, const std::string& to, std::string* error) {
  // Without MOVEFILE_REPLACE_EXISTING the system refuses an existing target itself.
  return ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH) ||
         Fail(error);
}

bool WinFileSystem::ReplaceFile(const std::string& from, const std::string& to,
                                std::string* error) {
  // One rename that replaces the target (atomic on NTFS), back from the system only once it is on
  // the disk. ReplaceFileA would keep more of the old file, but in several steps, and it needs a
  // target that exists.
  const std::wstring source = WidePath(from), target = WidePath(to);
  const DWORD old = ::GetFileAttributesW(target.c_str());
  constexpr DWORD kCarried =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
      (old & kCarried) != 0) {
    const DWORD mine = ::GetFileAttributesW(source.c_str());
    if (mine != INVALID_FILE_ATTRIBUTES)
      ::SetFileAttributesW(source.c_str(), (mine & ~FILE_ATTRIBUTE_NORMAL) | (old & kCarried));
  }
  return ::MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         Fail(error);
}

bool WinFileSystem::SyncFile(const std::string& path, std::string* error) {
  const Handle h(::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) return Fail(error);
  return ::FlushFileBuffers(h.get()) || Fail(error);
}

bool WinFileSystem::SyncFolder(const std::string& path, std::string* error) {
  // NTFS journals the entries of a folder: the flush of a file commits the journal up to it, and
  // renames are written through. What is left is to fail as other systems do for a folder that
  // is not there.
  const Handle h(OpenForInfo(path.empty() ? "." : path));
  if (!h.ok()) return Fail(error);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.get(), &info)) return Fail(error);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Fail(error, ERROR_DIRECTORY);
  return true;
}

void WinFileSystem::StartWriteback(const std::string& path) {
  (void)path;
}

std::unique_ptr<TStream> WinFileSystem::CreateFile(const std::string& path) {
  auto fail = [&path](DWORD code) {
    throw EFCreateError(FormatMessage(kFCreateError, {path, SystemText(code)}));
  };
  const std::wstring wide = WidePath(path);
  // Exclusive: an entry of that name, whoever made it, is neither written through nor removed
  // (CREATE_NEW fails for a link too). The file gets the access rights its folder hands down, those
  // of the mail already kept there (the store it replaces has them too, and a mail client running
  // as another user still reads it).
  const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) fail(::GetLastError());
  // Files made here are written front to back (the repaired store one message at a time): small
  // writes reach the system in blocks.
  return win::HandleStream(h, path, std::size_t{256} << 10);
}

std::unique_ptr<TStream> WinFileSystem::OpenRead(const std::string& path) {
  // Shared as the C runtime's fopen shares: others may read and write, not remove or rename.
  const HANDLE h =
      ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw EFOpenError(FormatMessage(kFOpenError, {path, SystemText(::GetLastError())}));
  return win::HandleStream(h, path, 0);
}

bool WinFileSystem::EntryExists(const std::string& path) {
  // The attributes of a link are its own: a link that leads nowhere exists as well.
  return ::GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WinFileSystem::AppendFile(const std::string& path, std::string_view bytes,
                               std::string* error) {
  const Handle h(::CreateFileW(WidePath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.ok()) return Fail(error);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.get(), &info)) return Fail(error);
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
    return Fail(error, ERROR_INVALID_PARAMETER);
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(h.get(), bytes.data() + done, chunk, &written, nullptr)) return Fail(error);
    if (written == 0) return Fail(error, ERROR_DISK_FULL);
    done += written;
  }
  return ::FlushFileBuffers(h.get()) || Fail(error);
}

namespace {
class HandleFileHold : public FileHold {
 public:
  explicit HandleFileHold(HANDLE h) : h_(h) {}
  ~HandleFileHold() override { ::CloseHandle(h_); }

 private:
  HANDLE h_;
};
}  // namespace

std::unique_ptr<FileHold> WinFileSystem::HoldAgainstWriters(const std::string& path,
                                                            std::string* error) {
  // Others may read the file, and rename or remove it (the replacement itself does, once the
  // hold is released), but no one opens it for writing while this handle is open; an open that
  // another program's writing handle conflicts with fails.
  const HANDLE h =
      ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail(error);
    return nullptr;
  }
  return std::make_unique<HandleFileHold>(h);
}

bool WinFileSystem::ReadOnlyFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

std::string WinFileSystem::NoFileReason(const std::string& path, bool* missing) {
  if (missing) *missing = false;
  std::int64_t size = 0, modified = 0;
  if (RegularFileInfo(path, size, modified)) return "";
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = ::GetLastError();
    if (missing && (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND)) *missing = true;
    return SystemText(e);
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    const Handle h(OpenForInfo(path));
    if (!h.ok()) return "a link to nothing (" + SystemText(::GetLastError()) + ")";
  }
  return "a folder, not a file";
}

std::vector<std::string> WinFileSystem::FileNamesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::string pattern = folder.empty() ? std::string(".") : folder;
  if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW found;
  const HANDLE h = ::FindFirstFileW(WidePath(pattern).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") names.emplace_back(Narrow(std::wstring(name)));
  } while (::FindNextFileW(h, &found));
  ::FindClose(h);
  return names;
}

std::string WinFileSystem::ProgramPath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      // A long path comes with the prefix, which the program's own paths do without.
      if (buf.starts_with(L"\\\\?\\UNC\\")) return "\\\\" + Narrow(buf.substr(8));
      if (buf.starts_with(L"\\\\?\\")) return Narrow(buf.substr(4));
      return Narrow(buf);
    }
    buf.resize(buf.size() * 2);  // cut short: ask again with more room
  }
}

FileStamp WinFileSystem::Stamp(const std::string& path) {
  FileStamp stamp;
  const Handle h(OpenForInfo(path));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.ok() || !::GetFileInformationByHandle(h.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return stamp;
  stamp.exists = true;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.id = static_cast<std::uint64_t>(Join(info.nFileIndexHigh, info.nFileIndexLow));
  stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  stamp.modified = UnixNanos(Intervals(info.ftLastWriteTime));
  // The change time (any change of content or attributes) is only in the extended information.
  FILE_BASIC_INFO basic;
  stamp.changed = ::GetFileInformationByHandleEx(h.get(), FileBasicInfo, &basic, sizeof basic)
                      ? UnixNanos(basic.ChangeTime.QuadPart)
                      : stamp.modified;
  return stamp;
}

LinkOutcome WinFileSystem::LinkFile(const std::string& from, const std::string& to,
                                    std::string* error) {
  if (::CreateHardLinkW(WidePath(to).c_str(), WidePath(from).c_str(), nullptr))
    return LinkOutcome::Linked;
  const DWORD e = ::GetLastError();
  Fail(error, e);
  // FAT volumes answer with "Incorrect function"; a link to another volume cannot exist.
  return e == ERROR_INVALID_FUNCTION || e == ERROR_NOT_SUPPORTED || e == ERROR_NOT_SAME_DEVICE
             ? LinkOutcome::NotSupported
             : LinkOutcome::Failed;
}

std::string WinFileSystem::ResolveLinks(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return path;
  // Opening follows every link to the end; the system then names what it opened.
  const Handle h(OpenForInfo(path));
  if (!h.ok()) return path;
  std::wstring target(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFinalPathNameByHandleW(h.get(), target.data(), static_cast<DWORD>(target.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return path;
    if (n < target.size()) {
      target.resize(n);
      break;
    }
    target.resize(n + 1);
  }
  if (target.starts_with(L"\\\\?\\UNC\\")) return "\\\\" + Narrow(target.substr(8));
  if (target.starts_with(L"\\\\?\\")) return Narrow(target.substr(4));
  return Narrow(target);
}

std::uint32_t WinFileSystem::VolumeFlags(const std::string& path) {
  std::wstring root(MAX_PATH, L'\0');
  DWORD flags = 0;
  if (!::GetVolumePathNameW(WidePath(path).c_str(), root.data(), static_cast<DWORD>(root.size())) ||
      !::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return 0;
  return flags;
}

bool WinFileSystem::CopyPermissions(const std::string& from, const std::string& to,
                                    std::string* error) {
  // FAT and exFAT keep no rights: setting them fails ("General failure" on a memory stick), and
  // everybody may read the files there anyway.
  const std::uint32_t flags = VolumeFlags(to);
  if (flags != 0 && (flags & FILE_PERSISTENT_ACLS) == 0) return true;
  constexpr SECURITY_INFORMATION kOwners = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
  const std::wstring source = WidePath(from), target = WidePath(to);
  DWORD need = 0;
  ::GetFileSecurityW(source.c_str(), DACL_SECURITY_INFORMATION | kOwners, nullptr, 0, &need);
  if (need == 0) return Fail(error);
  std::vector<unsigned char> descriptor(need);
  if (!::GetFileSecurityW(source.c_str(), DACL_SECURITY_INFORMATION | kOwners, descriptor.data(),
                          need, &need))
    return Fail(error);
  // Owner and group first: only a process with the privilege to restore files may give a file
  // away, so a refusal leaves the creator's.
  ::SetFileSecurityW(target.c_str(), kOwners, descriptor.data());
  return ::SetFileSecurityW(target.c_str(), DACL_SECURITY_INFORMATION, descriptor.data()) ||
         Fail(error);
}

std::string WinFileSystem::FileNameFromAnsi(const std::string& ansi) {
  return AnsiToUtf8(ansi);
}

namespace {
class MutexFolderLock : public FolderLock {
 public:
  explicit MutexFolderLock(HANDLE h) : h_(h) {}
  ~MutexFolderLock() override { ::CloseHandle(h_); }

 private:
  HANDLE h_;
};
}  // namespace

std::string WinFileSystem::FolderLockName(const std::string& folder) {
  // One name per folder however it is written: full, with backslashes, without a trailing one
  // (but for a drive's root), and case-folded as the file system compares names.
  std::wstring wide = FullPath(folder);
  if (wide.starts_with(L"\\\\?\\UNC\\"))
    wide = L"\\\\" + wide.substr(8);
  else if (wide.starts_with(L"\\\\?\\"))
    wide = wide.substr(4);
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  while (wide.size() > 3 && wide.back() == L'\\')
    wide.pop_back();
  if (!wide.empty()) ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  char name[64];
  std::snprintf(name, sizeof name, "Local\\qvrepair-folder-%016llx",
                static_cast<unsigned long long>(Hash(wide.data(), wide.size() * sizeof(wchar_t))));
  return name;
}

std::unique_ptr<FolderLock> WinFileSystem::LockFolder(const std::string& folder, bool* heldByOther,
                                                      std::string* error) {
  if (heldByOther) *heldByOther = false;
  const DWORD attributes = ::GetFileAttributesW(WidePath(folder.empty() ? "." : folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    Fail(error);
    return nullptr;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    Fail(error, ERROR_DIRECTORY);
    return nullptr;
  }
  const HANDLE h = ::CreateMutexW(nullptr, FALSE, Wide(FolderLockName(folder)).c_str());
  const DWORD e = ::GetLastError();
  if (h && e != ERROR_ALREADY_EXISTS) return std::make_unique<MutexFolderLock>(h);
  if (h) ::CloseHandle(h);
  // A mutex of another user's, which this one may not open, is held all the same.
  if (h || e == ERROR_ACCESS_DENIED) {
    if (heldByOther) *heldByOther = true;
  } else {
    Fail(error, e);
  }
  return nullptr;
}

bool WinFileSystem::FolderLockHeld(const std::string& folder) {
  const HANDLE h = ::OpenMutexW(SYNCHRONIZE, FALSE, Wide(FolderLockName(folder)).c_str());
  if (h) {
    ::CloseHandle(h);
    return true;
  }
  return ::GetLastError() == ERROR_ACCESS_DENIED;
}

// --- clock ---------------------------------------------------------------------------------

struct WinClock::Zones {
  std::unordered_map<WORD, std::optional<TIME_ZONE_INFORMATION>> byYear;
};

WinClock::WinClock() : zones_(std::make_unique<Zones>()) {}
WinClock::~WinClock() = default;

TDateTime WinClock::Now() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  TDateTime d = 0, tm = 0;
  TryEncodeDate(t.wYear, t.wMonth, t.wDay, d);
  TryEncodeTime(t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, tm);
  return d + tm;
}

TDateTime WinClock::UtcToLocal(TDateTime utc) {
  // The offset in force at the date's second, by the zone's rules for that year; the value is
  // rounded to the millisecond first, so that a time such as 01:00:00 (held as 00:59:59.99...)
  // takes the offset of its own second, not of the one before a change.
  const double secs = std::round((utc - 25569.0) * 86400000.0) / 1000.0;
  // FILETIME starts in 1601; SYSTEMTIME ends in 30827.
  if (!std::isfinite(secs) || secs < -11644473600.0 || secs > 4e11) return utc;
  const auto whole = static_cast<std::int64_t>(std::floor(secs));
  const std::uint64_t intervals = static_cast<std::uint64_t>(whole + 11644473600) * 10000000u;
  FILETIME ft{static_cast<DWORD>(intervals), static_cast<DWORD>(intervals >> 32)};
  SYSTEMTIME st, local;
  if (!::FileTimeToSystemTime(&ft, &st)) return utc;
  // The zone's rules of that year, not only of the current one (GetTimeZoneInformation's).
  auto [year, made] = zones_->byYear.try_emplace(st.wYear);
  if (made) {
    TIME_ZONE_INFORMATION zone;
    if (::GetTimeZoneInformationForYear(st.wYear, nullptr, &zone)) year->second = zone;
  }
  if (!year->second || !::SystemTimeToTzSpecificLocalTime(&*year->second, &st, &local)) return utc;
  FILETIME lft;
  if (!::SystemTimeToFileTime(&local, &lft)) return utc;
  // Rebuilt from the local date and time, as the index keeps it.
  return IncMilliseconds(utc, (Intervals(lft) - static_cast<std::int64_t>(intervals)) / 10000);
}

// --- locale --------------------------------------------------------------------------------

WinLocale::WinLocale(std::uint32_t localeId) {
  names_ = EnglishNames();
  auto get = [localeId](LCTYPE item, std::string& out) {
    char buf[128];
    const int n = ::GetLocaleInfoA(static_cast<LCID>(localeId), item, buf, sizeof buf);
    if (n > 1) out.assign(buf, static_cast<std::size_t>(n - 1));  // without the terminating zero
  };
  // The system counts days from Monday; the names here start on Sunday.
  for (int i = 0; i < 7; ++i) {
    const auto day = static_cast<std::size_t>((i + 1) % 7);
    get(static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + i), names_.shortDayNames[day]);
    get(static_cast<LCTYPE>(LOCALE_SDAYNAME1 + i), names_.longDayNames[day]);
  }
  for (int i = 0; i < 12; ++i) {
    const auto month = static_cast<std::size_t>(i);
    get(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i), names_.shortMonthNames[month]);
    get(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i), names_.longMonthNames[month]);
  }
}

// --- the mail client's mutex ---------------------------------------------------------------

bool WinInstanceProbe::MutexExists(const std::string& name) {
  const HANDLE h = ::OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (h) {
    ::CloseHandle(h);
    return true;
  }
  // A mutex that this user may not open (a client run as administrator) exists all the same.
  return ::GetLastError() == ERROR_ACCESS_DENIED;
}

bool WinInstanceProbe::FilesInUse(const std::vector<std::string>& paths) {
  // Opening without sharing fails while anybody else has the file open for reading, writing or
  // deleting. A handle of this process counts too: callers close their own first.
  for (const std::string& path : paths) {
    const Handle h(::CreateFileW(WidePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.ok() && ::GetLastError() == ERROR_SHARING_VIOLATION) return true;
  }
  return false;
}

// --- beep ----------------------------------------------------------------------------------

void WinBeeper::ErrorBeep() {
  ::MessageBeep(MB_ICONHAND);
}

}  // namespace qv::platform
