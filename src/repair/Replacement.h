// Putting a repaired pair of files in place of a mailbox's old pair so that a crash at any moment
// leaves a pair that belongs together, and finishing or undoing such a replacement at the next
// start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qv {

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
