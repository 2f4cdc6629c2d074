// The operating-system services the program uses, as small interfaces. The programs pass the real
// implementations (SystemPlatform.h names those of the system built for: PosixPlatform.h,
// WinPlatform.h); tests pass fakes. Nothing here is global.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/Stream.h"

namespace qv::platform {

// What tells one state of a file from another: which file it is (its identity on its volume), its
// size, and its modification and status-change times at the system's full resolution.
struct FileStamp {
  bool exists = false;  // a regular file (reached through links) of that name exists
  std::uint64_t volume = 0;
  std::uint64_t id = 0;
  std::int64_t size = -1;
  std::int64_t modified = 0;  // nanoseconds since the Unix epoch
  std::int64_t changed = 0;   // status change (POSIX) or change time (NTFS), nanoseconds
  bool SameFile(const FileStamp& o) const noexcept {
    return exists && o.exists && volume == o.volume && id == o.id;
  }
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

enum class LinkOutcome { Linked, NotSupported, Failed };
enum class ExchangeOutcome { Exchanged, NotSupported, Failed };

// Held while one front end works on a program folder; released when destroyed.
class FolderLock {
 public:
  virtual ~FolderLock() = default;
};

// Keeps other programs from writing to a file while it is held; released when destroyed.
class FileHold {
 public:
  virtual ~FileHold() = default;
};

// Paths are strings in the file system's encoding, UTF-8 on every system (the Windows services
// convert them to UTF-16 at the system's functions).
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Modification time of a regular file in seconds since the Unix epoch, or -1 when there is no
  // such file (a folder of that name does not count).
  virtual std::int64_t FileAge(const std::string& path) = 0;
  bool FileExists(const std::string& path) { return FileAge(path) != -1; }
  // Size of a regular file in bytes, or -1.
  virtual std::int64_t FileSize(const std::string& path) = 0;
  // Each returns false on failure and then puts the system's error text into *error when given.
  virtual bool DeleteFile(const std::string& path, std::string* error) = 0;
  // Renames; fails while the target exists.
  virtual bool MoveFile(const std::string& from, const std::string& to, std::string* error) = 0;
  // Renames atomically, replacing an existing target.
  virtual bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) = 0;
  // Forces a file's content, or a folder's entries, to the disk.
  virtual bool SyncFile(const std::string& path, std::string* error) = 0;
  virtual bool SyncFolder(const std::string& path, std::string* error) = 0;
  // Asks the system to start writing a file's content to the disk without waiting for it, so that
  // a later SyncFile has less left to wait for. Best effort: nothing is reported.
  virtual void StartWriteback(const std::string& path) { (void)path; }
  // A new, empty file for writing (and reading), readable and writable by its owner only. It is
  // created exclusively and never through a link: whatever entry already has the name (a file, a
  // folder, a link, whoever made it) stays as it is, and the creation fails with "Cannot create
  // file "%s". %s" (EFCreateError), as it does for any other reason. The stream's Commit ends the
  // writing and reports what the system refused at the end.
  virtual std::unique_ptr<TStream> CreateFile(const std::string& path) = 0;
  // Whether any entry has the name: a file, a folder, or a link (also one that leads nowhere).
  virtual bool EntryExists(const std::string& path) = 0;
  // Appends `bytes` to an existing regular file (never through a link) and forces them to the
  // disk; false with the system's reason when any of it fails.
  virtual bool AppendFile(const std::string& path, std::string_view bytes, std::string* error) {
    (void)path;
    (void)bytes;
    if (error) *error = "Not supported";
    return false;
  }
  // Keeps other programs from writing to a regular file (reading stays allowed) until the hold is
  // released; null with the reason when another program has it open for writing. Where the
  // system has no such sharing rules (POSIX), an empty hold that keeps nobody out.
  virtual std::unique_ptr<FileHold> HoldAgainstWriters(const std::string& path,
                                                       std::string* error) {
    (void)path;
    (void)error;
    return std::make_unique<FileHold>();
  }
  // Whether a file is marked read-only in a way that keeps it from being replaced or removed (the
  // read-only attribute of Windows). POSIX access rights do not: a file in a folder one may write
  // can be renamed over whatever its own rights.
  virtual bool ReadOnlyFile(const std::string& path) {
    (void)path;
    return false;
  }
  // An existing file for reading. Fails with "Cannot open file "%s". %s" (EFOpenError); read
  // errors name the file and the system's reason.
  virtual std::unique_ptr<TStream> OpenRead(const std::string& path) = 0;
  // Why no regular file has this name ("" when one has): the system's reason, or what has the
  // name instead (a folder, a named pipe, a socket, a device, a link to nothing). `missing` is set
  // when nothing at all has it.
  virtual std::string NoFileReason(const std::string& path, bool* missing) {
    if (FileExists(path)) return "";
    if (missing) *missing = true;
    return "No such file or directory";
  }
  // The names of the entries of a folder (without "." and ".."), in no particular order; none when
  // it cannot be read.
  virtual std::vector<std::string> FileNamesIn(const std::string& folder) = 0;
  // Full file name of the running program.
  virtual std::string ProgramPath() = 0;
  // The characters that separate the parts of a path ("/" on POSIX; "\\" and "/" on Windows).
  virtual std::string_view PathSeparators() const { return "/"; }
  // The path with the system's own separator (the first of PathSeparators) between its parts,
  // as the system shows paths to its user.
  std::string NativePath(std::string path) const {
    const std::string_view separators = PathSeparators();
    for (char& c : path)
      if (separators.find(c) != std::string_view::npos) c = separators.front();
    return path;
  }
  // The folder part of a path, with its trailing separator ("" when the path has none).
  std::string FolderOf(const std::string& path) const {
    const std::size_t at = path.find_last_of(PathSeparators());
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
  }
  // The longest file name (one part of a path) that the file systems in use take, in bytes.
  static constexpr std::size_t kMaxNameBytes = 255;
  // The longest whole path the system's file functions take, in bytes.
  virtual std::size_t MaxPathBytes() const { return 4095; }
  // A name beside `path`: the path with `suffix` appended. When that file name (or the whole
  // path) would be longer than the system takes, the name's end is cut and a hash of the whole
  // name keeps it apart from others, so that every file that has a name of its own has temporary
  // names as well.
  std::string SiblingPath(const std::string& path, std::string_view suffix) const;

  // The state of a regular file (exists false when there is none).
  virtual FileStamp Stamp(const std::string& path) = 0;
  // A second name for a file's data (a hard link); NotSupported where the file system has none.
  virtual LinkOutcome LinkFile(const std::string& from, const std::string& to,
                               std::string* error) = 0;
  // Swaps the names of two existing entries in one step: each name then names the other's file.
  // NotSupported, with nothing changed, where the system or the file system cannot.
  virtual ExchangeOutcome ExchangeFiles(const std::string& a, const std::string& b,
                                        std::string* error) {
    (void)a;
    (void)b;
    if (error) *error = "Not supported";
    return ExchangeOutcome::NotSupported;
  }
  // The file a path finally names when its last part is a symbolic link (followed to the end);
  // the path itself otherwise.
  virtual std::string ResolveLinks(const std::string& path) = 0;
  // Gives `to` the access rights of `from` (and its owner and group where the process may set
  // them).
  virtual bool CopyPermissions(const std::string& from, const std::string& to,
                               std::string* error) = 0;
  // A file name given in the ANSI code page (the profile's mailbox name) in the file system's
  // encoding (UTF-8).
  virtual std::string FileNameFromAnsi(const std::string& ansi) = 0;
  // Takes the lock that lets one repair at a time work on a program folder. Returns null when
  // another holder has it (heldByOther true) or when it cannot be taken (error says why).
  virtual std::unique_ptr<FolderLock> LockFolder(const std::string& folder, bool* heldByOther,
                                                 std::string* error) = 0;
  // Whether another holder has the folder's lock, looked at without keeping it (a dry run looks,
  // and so never keeps a repair out).
  virtual bool FolderLockHeld(const std::string& folder) = 0;

  // A tree of new files and folders (an export's). None of these follows a link at the last part
  // of a path, and none takes over or replaces what is already there.
  enum class EntryKind { None, File, Folder, Link, Other };
  // What a path names ("None" also when a folder on the way is missing).
  virtual EntryKind KindOf(const std::string& path) = 0;
  // The full path of an existing file or folder with every link followed and no "." or ".."
  // part; "" when there is none (the reason in *error).
  virtual std::string CanonicalPath(const std::string& path, std::string* error) = 0;
  // Whether a folder holds no entry; false, with the reason, when it cannot be read.
  virtual bool FolderIsEmpty(const std::string& path, bool& empty, std::string* error) = 0;
  // Makes a folder, for its owner only; fails when the name is taken.
  virtual bool CreateFolder(const std::string& path, std::string* error) = 0;
  enum class WriteMode { New, Append };
  // A file to write at its end: New makes it (for its owner only) and fails when the name is
  // taken; Append opens an existing regular file. Fails with "Cannot create file "%s". %s"
  // (EFCreateError). Writes go to the system as they come, but for a small buffer.
  virtual std::unique_ptr<TStream> OpenForWriting(const std::string& path, WriteMode mode) = 0;
  // Sets a file's modification (and access) time, in seconds since the Unix epoch.
  virtual bool SetFileTime(const std::string& path, std::int64_t unixSeconds,
                           std::string* error) = 0;
  // Whether a file name may hold ":" (not on Windows, where it names a stream of the file).
  virtual bool NamesMayHoldColon() const { return true; }
};

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time.
  virtual TDateTime Now() = 0;
  // A UTC date and time as local time, with the zone offset in force at that date.
  virtual TDateTime UtcToLocal(TDateTime utc) = 0;
};

struct LocaleNames {
  std::array<std::string, 7> shortDayNames;  // Sunday first
  std::array<std::string, 7> longDayNames;
  std::array<std::string, 12> shortMonthNames;
  std::array<std::string, 12> longMonthNames;
  friend bool operator==(const LocaleNames&, const LocaleNames&) = default;
};

// The English names, as the "C" locale gives them.
const LocaleNames& EnglishNames();

class Locale {
 public:
  virtual ~Locale() = default;
  virtual const LocaleNames& Names() = 0;
};

// Whether another program runs: its named single-instance mutex, and whether another process has
// one of a set of files open.
class InstanceProbe {
 public:
  virtual ~InstanceProbe() = default;
  virtual bool MutexExists(const std::string& name) = 0;
  // True when a process other than this one holds one of the files open, as far as the system
  // lets us see.
  virtual bool FilesInUse(const std::vector<std::string>& paths) = 0;
  // Who holds a file open: the file, and the process where the system tells it (pid 0 when not).
  struct FileHolder {
    std::string file;
    std::int64_t pid = 0;
    std::string program;
  };
  // As FilesInUse, and who holds which file; processes of this program (qvrepair, qvrepair-cli)
  // do not count: a check only reads, and another repair is kept out by the folder's lock.
  virtual bool FindFileHolder(const std::vector<std::string>& paths, FileHolder& holder) {
    for (const std::string& path : paths) {
      if (!FilesInUse({path})) continue;
      holder = {path, 0, ""};
      return true;
    }
    return false;
  }
};

// Whether a program name is one of this program's (qvrepair, qvrepair-cli, with ".exe", or cut
// to the 15 characters a process's command name keeps).
bool IsRepairProgram(std::string_view name);

class Beeper {
 public:
  virtual ~Beeper() = default;
  // The system's error (stop) sound.
  virtual void ErrorBeep() = 0;
};

// The services handed to the repair driver together.
struct Services {
  FileSystem& files;
  Clock& clock;
  Locale& locale;
  InstanceProbe& probe;
  Beeper& beeper;
};

}  // namespace qv::platform
