// The real services on a POSIX system.
#pragma once

#include <string>

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
  std::unique_ptr<TStream> OpenRead(const std::string& path) override;
  std::string ProgramPath() override;
  FileStamp Stamp(const std::string& path) override;
  LinkOutcome LinkFile(const std::string& from, const std::string& to, std::string* error) override;
  std::string ResolveLinks(const std::string& path) override;
  bool CopyPermissions(const std::string& from, const std::string& to, std::string* error) override;
  // The file system's names are UTF-8.
  std::string FileNameFromAnsi(const std::string& ansi) override;
  // An exclusive flock on the folder itself: nothing is created, and the lock goes with the
  // process, however it ends.
  std::unique_ptr<FolderLock> LockFolder(const std::string& folder, bool* heldByOther,
                                         std::string* error) override;
};

// Local time by the C library's zone rules (the TZ variable, else the system's zone).
class PosixClock : public Clock {
 public:
  TDateTime Now() override;
  TDateTime UtcToLocal(TDateTime utc) override;
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
