// The Windows file system's part for a tree of new files and folders (an export). Paths are UTF-8
// here and reach the system's wide functions as UTF-16; a long one is made absolute and given the
// "\\?\" prefix, with which the functions take it beyond MAX_PATH characters.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/CodePage.h"
#include "platform/WinPlatform.h"
#include "platform/WinShared.h"

// The Win32 header comes last.
#include "platform/Win32.h"

namespace qv::platform {

namespace {

using win::SystemText;
using win::WidePath;

bool Fail(std::string* error, DWORD code) {
  if (error) *error = SystemText(code);
  return false;
}

using win::Handle;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

FileSystem::EntryKind WinFileSystem::KindOf(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = ::GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? EntryKind::None
                                                                  : EntryKind::Other;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::Folder : EntryKind::File;
}

std::string WinFileSystem::CanonicalPath(const std::string& path, std::string* error) {
  // Opening follows every link to the end; the system then names what it opened.
  const Handle h(::CreateFileW(WidePath(path.empty() ? "." : path).c_str(), FILE_READ_ATTRIBUTES,
                               kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                               nullptr));
  if (!h.ok()) {
    Fail(error, ::GetLastError());
    return {};
  }
  std::wstring target(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFinalPathNameByHandleW(h.get(), target.data(), static_cast<DWORD>(target.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) {
      Fail(error, ::GetLastError());
      return {};
    }
    if (n < target.size()) {
      target.resize(n);
      break;
    }
    target.resize(n + 1);
  }
  if (target.rfind(L"\\\\?\\UNC\\", 0) == 0)
    target = L"\\\\" + target.substr(8);
  else if (target.rfind(L"\\\\?\\", 0) == 0)
    target = target.substr(4);
  return Utf16ToUtf8(std::u16string(target.begin(), target.end()));
}

bool WinFileSystem::FolderIsEmpty(const std::string& path, bool& empty, std::string* error) {
  WIN32_FIND_DATAW found;
  const HANDLE h = ::FindFirstFileW(WidePath(path + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return Fail(error, ::GetLastError());
  empty = true;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") empty = false;
  } while (empty && ::FindNextFileW(h, &found));
  ::FindClose(h);
  return true;
}

bool WinFileSystem::CreateFolder(const std::string& path, std::string* error) {
  return ::CreateDirectoryW(WidePath(path).c_str(), nullptr) || Fail(error, ::GetLastError());
}

std::unique_ptr<TStream> WinFileSystem::OpenForWriting(const std::string& path, WriteMode mode) {
  auto fail = [&path](DWORD code) {
    throw EFCreateError(FormatMessage(kFCreateError, {path, SystemText(code)}));
  };
  // A link in the file's place is opened as itself, not followed: a new file fails on it, and an
  // existing one is refused below.
  const HANDLE h = ::CreateFileW(
      WidePath(path).c_str(), mode == WriteMode::New ? GENERIC_WRITE : FILE_APPEND_DATA,
      FILE_SHARE_READ, nullptr, mode == WriteMode::New ? CREATE_NEW : OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) fail(::GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      ::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    fail(ERROR_INVALID_PARAMETER);
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h),
                                   _O_BINARY | (mode == WriteMode::New ? _O_WRONLY : _O_APPEND));
  if (fd < 0) {
    ::CloseHandle(h);
    fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  std::FILE* stream = ::_fdopen(fd, mode == WriteMode::New ? "wb" : "ab");
  if (!stream) {
    ::_close(fd);
    fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  return std::make_unique<TFileStream>(stream, path);
}

bool WinFileSystem::SetFileTime(const std::string& path, std::int64_t unixSeconds,
                                std::string* error) {
  const Handle h(::CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.ok()) return Fail(error, ::GetLastError());
  const auto intervals = static_cast<std::uint64_t>((unixSeconds + 11644473600LL) * 10000000LL);
  const FILETIME t{static_cast<DWORD>(intervals), static_cast<DWORD>(intervals >> 32)};
  return ::SetFileTime(h.get(), nullptr, &t, &t) || Fail(error, ::GetLastError());
}

}  // namespace qv::platform
