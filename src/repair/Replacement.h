// Putting a repaired pair of files in place of a mailbox's old pair so that a crash at any moment
// leaves a pair that belongs together, and finishing or undoing such a replacement at the next
// start.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Stream.h"
#include "components/Component.h"
#include "components/ComponentStream.h"
#include "platform/Platform.h"

namespace qv {

inline constexpr const char* kStoreChanged =
    "The mailbox was changed during the repair. Nothing was changed.";
inline constexpr const char* kRepairedChanged =
    "The repaired mailbox was changed by another program during the repair. Nothing was changed.";

// The names of one mailbox's files. A store or index reached through a symbolic link is replaced
// at the link's target, so what replaces it is made beside the target.
struct MailboxPaths {
  std::string folder;  // the profile folder, ending in a separator
  std::string store;   // <mailbox>.mbx and <mailbox>.idx in the folder
  std::string index;
  std::string storeTarget;  // the files they finally name
  std::string indexTarget;
  std::string repaired;   // the repaired store, beside the store's target
  std::string indexTemp;  // the new index until it is renamed, beside the index's target
  std::string restore;    // the old index, kept until the new pair is in place
  std::string journal;    // the record of a replacement in progress, in the folder

  // `fileName` is the mailbox's base name in the file system's encoding.
  static MailboxPaths For(platform::FileSystem& files, const std::string& folder,
                          const std::string& fileName);
  // The folders whose entries a replacement changes.
  std::vector<std::string> Folders(const platform::FileSystem& files) const;
};

// What a replacement puts in the journal before its first rename: the files as they stood, by
// identity and size, and the indexes also by a checksum of their bytes (a file's identity can be
// taken over by another once it is gone).
struct ReplacementRecord {
  platform::FileStamp oldIndex, newIndex, oldStore, newStore;
  std::uint32_t oldIndexSum = 0, newIndexSum = 0;
};

// The CRC-32 of a file's bytes; 0 when it cannot be read.
std::uint32_t FileChecksum(platform::FileSystem& files, const std::string& path);

std::string FormatReplacementRecord(const ReplacementRecord& record);
// False for a text that is not a whole record (a journal that a crash cut short).
bool ParseReplacementRecord(const std::string& text, ReplacementRecord& record);

// Makes `to` a hard link to `from`, or where the file system has no hard links a synced copy of
// it (with its rights when `keepRights`). Raises the file layer's error, and then leaves no `to`.
void LinkOrCopy(platform::FileSystem& files, const std::string& from, const std::string& to,
                bool keepRights);
// Keeps the old index as paths.restore (LinkOrCopy). Raises the file layer's error.
void KeepOldIndex(platform::FileSystem& files, const MailboxPaths& paths);
// Writes the journal and makes it durable (file and folder). Raises the file layer's error.
void WriteJournal(platform::FileSystem& files, const MailboxPaths& paths,
                  const ReplacementRecord& record);
// Syncs every folder the replacement touched; false with the error of the first that failed.
bool SyncReplacementFolders(platform::FileSystem& files, const MailboxPaths& paths,
                            std::string* error);

// One replacement of a mailbox's pair: it makes the repaired store, then puts the new index and
// the repaired store in place of the old pair (see Replace). It owns what it makes until the pair
// is in place — the repaired store, the backups, the new index, the kept old index and the journal
// — and removes it again when the replacement cannot go on.
class Replacement {
 public:
  Replacement(platform::FileSystem& files, platform::Clock& clock, MailboxPaths paths)
      : files_(files), clock_(clock), paths_(std::move(paths)) {}
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  const MailboxPaths& Paths() const noexcept { return paths_; }

  // Makes the repaired store and returns it open for writing. Raises the file layer's error.
  TStream& CreateRepairedStore();
  // Commits and closes the repaired store, which holds `bytes` bytes. Raises the file layer's
  // error (and the store is closed all the same).
  void CloseRepairedStore(std::int64_t bytes);
  // Closes the repaired store and removes it, when this replacement made it and has not placed it
  // (whatever kind of entry the name turned out to be); a repaired store kept by an earlier run
  // stays.
  void DiscardRepairedStore();

  struct Request {
    platform::FileStamp scannedStore;  // the store as the scan found it
    TComponent& index;                 // the new index, written with `entries` as its messages
    TItemSource* entries = nullptr;
    bool backup = false;  // keep the old pair under "<name>.bak-YYYYMMDD-HHMMSS" first
    std::function<bool()> clientRunning;
  };
  struct Outcome {
    bool replaced = false;  // the new pair is in place
    std::string error;      // what to report ("" when all went well)
  };
  // Puts the new index and the repaired store in place of the old pair: the repaired store is
  // synced and checked (still this run's file, whole; the store unchanged since the scan; the
  // client not started), takes the old store's rights, the backups are made, the new index is
  // written beside the old one, the old index kept under a second name and the journal written;
  // then the index and the store are renamed, and the kept index and the journal removed. A
  // failure before the first rename removes what the replacement made and leaves the old pair;
  // when the store cannot be renamed the old index goes back.
  Outcome Replace(const Request& request);

  // The backups this replacement made (and kept).
  const std::vector<std::string>& Backups() const noexcept { return backups_; }

 private:
  // Removes what the replacement made beside the old pair, discards the repaired store, and
  // returns the failure `text`.
  Outcome Abandon(std::string text);
  // Whether the store or the running-check differ from what they were when the scan began.
  bool StoreChangedSinceScan(const Request& request);
  // Makes the backups of the old pair; raises the file layer's error, having removed what it made.
  void MakeBackups();
  void RemoveBackups();
  // Writes the new index, keeps the old one and writes the journal (the steps before the first
  // rename). Raises the file layer's error.
  ReplacementRecord PrepareRenames(const Request& request, const platform::FileStamp& repaired);
  // After the store could not be renamed over the old one: puts the old index back when it can.
  Outcome PutOldIndexBack(const ReplacementRecord& record, std::string text);

  platform::FileSystem& files_;
  platform::Clock& clock_;
  MailboxPaths paths_;
  std::unique_ptr<TStream> repaired_;   // the repaired store while it is written
  bool created_ = false;                // this run made the repaired store and has not placed it
  platform::FileStamp repaired_stamp_;  // the repaired store as this run made it
  std::int64_t repaired_size_ = 0;
  bool begun_ = false;  // files beside the old pair may have been made (backups, index, journal)
  std::vector<std::string> backups_;
};

enum class Recovery {
  Completed,  // the new pair is in place
  Undone,     // the old pair is in place
  Failed,     // neither could be made sure of; the files were left as they are
};

// Finishes or undoes the replacement that the journal records, after a crash. Only the files
// the replacement itself made are removed. On Failed, `detail` says what was found.
Recovery RecoverReplacement(platform::FileSystem& files, const MailboxPaths& paths,
                            std::string* detail);

}  // namespace qv
