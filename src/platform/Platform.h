// The operating-system services the program uses, as small interfaces. The programs pass the real
// implementations (PosixPlatform.h); tests pass fakes. Nothing here is global.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/DateTime.h"
#include "base/Stream.h"

namespace qv::platform {

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
  // A new, empty file for writing (and reading). Whatever entry already has the name (a file or a
  // link left behind by an earlier run) is removed first, so that a link is replaced, never
  // written through. Fails with "Cannot create file "%s". %s" (EFCreateError), also when such an
  // entry cannot be removed. The stream's Commit ends the writing and reports what the system
  // refused at the end.
  virtual std::unique_ptr<TStream> CreateFile(const std::string& path) = 0;
  // Full file name of the running program.
  virtual std::string ProgramPath() = 0;
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
};

// The English names, as the "C" locale gives them.
const LocaleNames& EnglishNames();

class Locale {
 public:
  virtual ~Locale() = default;
  virtual const LocaleNames& Names() = 0;
};

// Whether another program holds its named single-instance mutex.
class InstanceProbe {
 public:
  virtual ~InstanceProbe() = default;
  virtual bool MutexExists(const std::string& name) = 0;
};

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
