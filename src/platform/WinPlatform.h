// The real services on Windows, through the Win32 API (whose header stays in WinPlatform.cpp: its
// macros would rename CreateFile, DeleteFile and their neighbours in every file that includes it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace qv::platform {

// Paths are ANSI strings handed to the A functions, with "\" or "/" between their parts.
class WinFileSystem : public FileSystem {
 public:
  std::int64_t FileAge(const std::string& path) override;
  std::int64_t FileSize(const std::string& path) override;
  bool DeleteFile(const std::string& path, std::string* error) override;
  bool MoveFile(const std::string& from, const std::string& to, std::string* error) override;
  // A rename that replaces the target in one step and is on the disk when it returns. The new
  // file keeps its own access rights (CopyPermissions gives it the old file's); the target's
  // hidden, system and not-indexed attributes are carried over. A read-only target is refused,
  // as the system refuses to replace it.
  bool ReplaceFile(const std::string& from, const std::string& to, std::string* error) override;
  bool SyncFile(const std::string& path, std::string* error) override;
  // Renames are written through and a file's flush commits the file system's journal, which
  // holds the folder's entries: the folder is only checked to exist (docs/architecture.md).
  bool SyncFolder(const std::string& path, std::string* error) override;
  // Nothing to do: the system's cache writes dirty pages in the background within seconds.
  void StartWriteback(const std::string& path) override;
  std::unique_ptr<TStream> CreateFile(const std::string& path) override;
  std::string ProgramPath() override;
  std::string_view PathSeparators() const override { return "\\/"; }
  // The A functions take MAX_PATH characters, the terminating zero among them.
  std::size_t MaxPathBytes() const override { return 259; }
  FileStamp Stamp(const std::string& path) override;
  LinkOutcome LinkFile(const std::string& from, const std::string& to, std::string* error) override;
  std::string ResolveLinks(const std::string& path) override;
  // The access list (DACL) is copied; the owner and group where the process may set them.
  bool CopyPermissions(const std::string& from, const std::string& to, std::string* error) override;
  // The A functions take ANSI names: the name itself.
  std::string FileNameFromAnsi(const std::string& ansi) override;
  // A named mutex "Local\qvrepair-folder-<hash of the case-folded full path>", held as long as
  // the lock object lives (or the process does); one that exists already is another holder's.
  std::unique_ptr<FolderLock> LockFolder(const std::string& folder, bool* heldByOther,
                                         std::string* error) override;
  // The mutex name LockFolder uses for a folder.
  static std::string FolderLockName(const std::string& folder);
  // The files and folders of an export (WinFileTree.cpp; paths in UTF-8).
  EntryKind KindOf(const std::string& path) override;
  std::string CanonicalPath(const std::string& path, std::string* error) override;
  bool FolderIsEmpty(const std::string& path, bool& empty, std::string* error) override;
  bool CreateFolder(const std::string& path, std::string* error) override;
  std::unique_ptr<TStream> OpenForWriting(const std::string& path, WriteMode mode) override;
  bool SetFileTime(const std::string& path, std::int64_t unixSeconds, std::string* error) override;
  bool NamesMayHoldColon() const override { return false; }
};

// Local time by the system's time zone settings. The zone's rules of a year are looked up once,
// when the first date of that year is converted, and kept for the life of the object: the lookup
// reads the registry, and a store's thousands of dates fall in a few years.
class WinClock : public Clock {
 public:
  WinClock();
  ~WinClock() override;
  TDateTime Now() override;
  TDateTime UtcToLocal(TDateTime utc) override;

 private:
  struct Zones;  // the rules by year (the Win32 types stay in WinPlatform.cpp)
  std::unique_ptr<Zones> zones_;
};

// Day and month names of a Windows locale (the user's by default), in the ANSI code page.
// Read once, when the object is made.
class WinLocale : public Locale {
 public:
  static constexpr std::uint32_t kUserDefault = 0x0400;  // LOCALE_USER_DEFAULT
  explicit WinLocale(std::uint32_t localeId = kUserDefault);
  const LocaleNames& Names() override { return names_; }

 private:
  LocaleNames names_;
};

// Named mutexes are the system's own (OpenMutexA); a file is in use while it cannot be opened
// without sharing.
class WinInstanceProbe : public InstanceProbe {
 public:
  bool MutexExists(const std::string& name) override;
  bool FilesInUse(const std::vector<std::string>& paths) override;
};

// The system's stop sound (MessageBeep with MB_ICONHAND).
class WinBeeper : public Beeper {
 public:
  void ErrorBeep() override;
};

// All real services in one object, for the programs.
struct WinPlatform {
  WinFileSystem files;
  WinClock clock;
  WinLocale locale;
  WinInstanceProbe probe;
  WinBeeper beeper;
  Services services() { return {files, clock, locale, probe, beeper}; }
};

}  // namespace qv::platform
