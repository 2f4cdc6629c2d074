// The POSIX file system's part for a tree of new files and folders (an export).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "platform/PosixPlatform.h"

namespace qv::platform {

namespace {
bool Fail(std::string* error) {
  if (error) *error = std::strerror(errno);
  return false;
}
}  // namespace

FileSystem::EntryKind PosixFileSystem::KindOf(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? EntryKind::None : EntryKind::Other;
  if (S_ISLNK(st.st_mode)) return EntryKind::Link;
  if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
  return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

std::string PosixFileSystem::CanonicalPath(const std::string& path, std::string* error) {
  char* full = ::realpath(path.empty() ? "." : path.c_str(), nullptr);
  if (!full) {
    Fail(error);
    return {};
  }
  std::string result = full;
  std::free(full);
  return result;
}

bool PosixFileSystem::FolderIsEmpty(const std::string& path, bool& empty, std::string* error) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return Fail(error);
  empty = true;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      empty = false;
      break;
    }
  }
  const int e = errno;
  ::closedir(dir);
  errno = e;
  return e == 0 || Fail(error);
}

bool PosixFileSystem::CreateFolder(const std::string& path, std::string* error) {
  return ::mkdir(path.c_str(), 0700) == 0 || Fail(error);
}

std::unique_ptr<TStream> PosixFileSystem::OpenForWriting(const std::string& path, WriteMode mode) {
  auto fail = [&path](const std::string& reason) {
    throw EFCreateError(FormatMessage(kFCreateError, {path, reason}));
  };
  // Never blocks: a pipe put in the file's place is refused, not waited on.
  const int flags =
      mode == WriteMode::New ? O_WRONLY | O_CREAT | O_EXCL : O_WRONLY | O_APPEND | O_NONBLOCK;
  const int fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) fail(std::strerror(errno));
  struct stat st {};
  const bool stated = ::fstat(fd, &st) == 0;
  if (!stated || !S_ISREG(st.st_mode)) {
    const std::string reason = stated ? "Not a regular file" : std::strerror(errno);
    ::close(fd);
    fail(reason);
  }
  std::FILE* stream = ::fdopen(fd, mode == WriteMode::New ? "wb" : "ab");
  if (!stream) {
    const std::string reason = std::strerror(errno);
    ::close(fd);
    fail(reason);
  }
  return std::make_unique<TFileStream>(stream, path);
}

bool PosixFileSystem::SetFileTime(const std::string& path, std::int64_t unixSeconds,
                                  std::string* error) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(unixSeconds);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 || Fail(error);
}

}  // namespace qv::platform
