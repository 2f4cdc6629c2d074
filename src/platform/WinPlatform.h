// The real services on Windows, through the Win32 API (whose header stays in WinPlatform.cpp: its
// macros would rename CreateFile, DeleteFile and their neighbours in every file that includes it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Console.h"
#include "platform/Platform.h"

namespace qv::platform {

// Paths are UTF-8, with "\" or "/" between their parts; they reach the system's wide (UTF-16)
// functions, long ones absolute and with the "\\?\" prefix that lifts the limit of MAX_PATH
// characters. Files are read and written through the system's handles, so that a failure carries
// the system's own text (the C runtime reports a full disk as "Invalid argument").
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
  bool EntryExists(const std::string& path) override;
  bool AppendFile(const std::string& path, std::string_view bytes, std::string* error) override;
  // A handle that shares reading and deleting but not writing.
  std::unique_ptr<FileHold> HoldAgainstWriters(const std::string& path,
                                               std::string* error) override;
  // The read-only attribute: the system refuses to replace or remove such a file.
  bool ReadOnlyFile(const std::string& path) override;
  std::unique_ptr<TStream> OpenRead(const std::string& path) override;
  std::string NoFileReason(const std::string& path, bool* missing) override;
  std::vector<std::string> FileNamesIn(const std::string& folder) override;
  std::string ProgramPath() override;
  std::string_view PathSeparators() const override { return "\\/"; }
  // The wide functions take 32767 UTF-16 units with the prefix; a UTF-8 byte is at most one.
  std::size_t MaxPathBytes() const override { return 32000; }
  FileStamp Stamp(const std::string& path) override;
  LinkOutcome LinkFile(const std::string& from, const std::string& to, std::string* error) override;
  std::string ResolveLinks(const std::string& path) override;
  // The access list (DACL) is copied; the owner and group where the process may set them. A
  // volume that keeps no rights (FAT, exFAT: a memory stick) has none to copy: nothing is done.
  bool CopyPermissions(const std::string& from, const std::string& to, std::string* error) override;
  // The file system flags of the volume that holds a path (FILE_PERSISTENT_ACLS and the like); 0
  // when the system cannot tell.
  virtual std::uint32_t VolumeFlags(const std::string& path);
  // The system's conversion from the ANSI code page to UTF-8.
  std::string FileNameFromAnsi(const std::string& ansi) override;
  // A named mutex "Local\qvrepair-folder-<hash of the case-folded full path>", held as long as
  // the lock object lives (or the process does); one that exists already is another holder's.
  std::unique_ptr<FolderLock> LockFolder(const std::string& folder, bool* heldByOther,
                                         std::string* error) override;
  // Whether the folder's mutex exists (opened and closed at once).
  bool FolderLockHeld(const std::string& folder) override;
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

// A command line as ProgramArguments splits it (UTF-16 in, UTF-8 out), the program's name first.
std::vector<std::string> SplitCommandLine(std::wstring_view line);

// The console of qvrepair-cli: the C runtime's standard streams set to binary, text written to a
// console window as UTF-16 (its code page, 437 on a Western system, would show UTF-8 as
// "Pr├╝fung"), temporary files in the user's temporary folder (the runtime's tmpfile makes them in
// the drive's root), and --tz by the C runtime's reading of TZ, since the system's clock follows
// the Windows settings.
class WinConsole : public Console {
 public:
  bool AsksForHelp(std::string_view argument) const override {
    return Console::AsksForHelp(argument) || argument == "/?";
  }
  void SetUpStandardStreams() override;
  bool IsTerminal(std::FILE* stream) override;
  bool Write(std::FILE* stream, std::string_view text) override;
  // Not every console takes escape sequences: blanks cover a longer line drawn before.
  void RedrawLine(std::FILE* stream, const std::string& line) override;
  std::FILE* TemporaryFile() override;
  std::unique_ptr<Clock> ZoneClock(const std::string& zone) override;

 private:
  std::size_t drawn_ = 0;  // the length of the line on the screen
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
