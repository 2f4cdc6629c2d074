// The real services on a POSIX system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Console.h"
#include "platform/Platform.h"

namespace qv::platform {

class PosixFileSystem : public FileSystem {
 public:
  std::int64_t FileAge(const std::string& path) override;
  std::int64_t FileSize(const std::string& path) override;
  bool DeleteFile(const std::string& path, std::string* error) override;
  bool MoveFile(const std::string& from, const std::string& to, std::string* error) override;
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) override;
  bool SyncFile(const std::string& path, std::string* error) override;
  bool SyncFolder(const std::string& path, std::string* error) override;
  void StartWriteback(const std::string& path) override;
  std::unique_ptr<TStream> CreateFile(const std::string& path) override;
  bool EntryExists(const std::string& path) override;
  bool AppendFile(const std::string& path, std::string_view bytes, std::string* error) override;
  // A name that is not a regular file (a folder, a named pipe) fails at once: opening never waits.
  std::unique_ptr<TStream> OpenRead(const std::string& path) override;
  std::string NoFileReason(const std::string& path, bool* missing) override;
  std::vector<std::string> FileNamesIn(const std::string& folder) override;
  std::string ProgramPath() override;
  FileStamp Stamp(const std::string& path) override;
  LinkOutcome LinkFile(const std::string& from, const std::string& to, std::string* error) override;
  ExchangeOutcome ExchangeFiles(const std::string& a, const std::string& b,
                                std::string* error) override;
  std::string ResolveLinks(const std::string& path) override;
  // The owner and group where the process may set them; where the group stays another than the
  // old one, without the group's rights.
  bool CopyPermissions(const std::string& from, const std::string& to, std::string* error) override;
  // The file system's names are UTF-8.
  std::string FileNameFromAnsi(const std::string& ansi) override;
  // An exclusive flock on the folder itself: nothing is created, and the lock goes with the
  // process, however it ends.
  std::unique_ptr<FolderLock> LockFolder(const std::string& folder, bool* heldByOther,
                                         std::string* error) override;
  // A shared flock tried and released at once.
  bool FolderLockHeld(const std::string& folder) override;
  // The files and folders of an export (PosixFileTree.cpp).
  EntryKind KindOf(const std::string& path) override;
  std::string CanonicalPath(const std::string& path, std::string* error) override;
  bool FolderIsEmpty(const std::string& path, bool& empty, std::string* error) override;
  bool CreateFolder(const std::string& path, std::string* error) override;
  std::unique_ptr<TStream> OpenForWriting(const std::string& path, WriteMode mode) override;
  bool SetFileTime(const std::string& path, std::int64_t unixSeconds, std::string* error) override;
};

// Local time by the C library's zone rules (the TZ variable, else the system's zone). The zone's
// offsets of a year are read once, when the first date of that year is converted, and kept for the
// life of the object: a store's thousands of dates fall in a few years.
class PosixClock : public Clock {
 public:
  TDateTime Now() override;
  TDateTime UtcToLocal(TDateTime utc) override;

 protected:
  // The zone's offset at a moment (seconds since the Unix epoch), in seconds east of UTC, from the
  // C library; what the cache asks.
  virtual std::optional<long> OffsetAt(std::int64_t secs);

 private:
  // One year of UTC: the offset (seconds east of UTC) at its start and each change within it.
  struct ZoneYear {
    bool known = false;  // false when the C library could not convert some moment of it
    long first = 0;
    std::vector<std::pair<std::int64_t, long>> changes;  // (first second of the offset, offset)
  };
  const ZoneYear& YearOf(std::int64_t secs);
  bool FindChanges(std::int64_t from, long was, std::int64_t to, long is,
                   std::vector<std::pair<std::int64_t, long>>& changes);
  std::unordered_map<std::int64_t, ZoneYear> years_;  // by the year's first second
};

// Day and month names of the C library's LC_TIME locale, converted to the ANSI code page.
// Read once, when the object is made.
class PosixLocale : public Locale {
 public:
  PosixLocale();
  const LocaleNames& Names() override { return names_; }

 private:
  LocaleNames names_;
};

// A named mutex "N" is the file "N.lock" in $XDG_RUNTIME_DIR (else the temporary folder); it
// exists while some process holds an flock on that file. The probe creates nothing. Files in use
// are found in the proc file system's lists of open files of every other process.
class PosixInstanceProbe : public InstanceProbe {
 public:
  bool MutexExists(const std::string& name) override;
  bool FilesInUse(const std::vector<std::string>& paths) override;
  // The process's command name (as ps shows it) is its program name.
  bool FindFileHolder(const std::vector<std::string>& paths, FileHolder& holder) override;
  static std::string LockFilePath(const std::string& name);
};

// Standard streams are bytes already; a line is redrawn with an escape sequence that erases the
// rest of it; temporary files are the C library's (tmpfile); --tz sets the TZ variable, which
// PosixClock follows.
class PosixConsole : public Console {
 public:
  void SetUpStandardStreams() override {}
  bool IsTerminal(std::FILE* stream) override;
  bool Write(std::FILE* stream, std::string_view text) override;
  void RedrawLine(std::FILE* stream, const std::string& line) override;
  std::FILE* TemporaryFile() override;
  std::unique_ptr<Clock> ZoneClock(const std::string& zone) override;
};

// Rings the terminal bell on the controlling terminal, when there is one.
class PosixBeeper : public Beeper {
 public:
  void ErrorBeep() override;
};

// All real services in one object, for the programs.
struct PosixPlatform {
  PosixFileSystem files;
  PosixClock clock;
  PosixLocale locale;
  PosixInstanceProbe probe;
  PosixBeeper beeper;
  Services services() { return {files, clock, locale, probe, beeper}; }
};

}  // namespace qv::platform
