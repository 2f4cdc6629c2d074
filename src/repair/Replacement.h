// Putting a repaired pair of files in place of a mailbox's old pair so that a crash at any moment
// leaves a pair that belongs together and no byte that anyone wrote to the store is lost, and
// settling at the next start what a crash interrupted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Stream.h"
#include "components/Component.h"
#include "components/ComponentStream.h"
#include "platform/Platform.h"

namespace qv {

inline constexpr const char* kStoreChanged =
    "The mailbox changed during the repair. Nothing was changed.";
inline constexpr const char* kIndexChanged =
    "The index changed during the repair. Nothing was changed.";
inline constexpr const char* kStoreChangedAfter =
    "The mailbox changed during the repair. The old mailbox, with what was written to it "
    "meanwhile, and its index were put back.";
inline constexpr const char* kIndexChangedAfter =
    "The index changed during the repair. The old mailbox and its index, with what was written to "
    "it meanwhile, were put back.";
inline constexpr const char* kRepairedChanged =
    "The repaired mailbox was changed by another program during the repair. Nothing was changed.";
inline constexpr const char* kNewIndexChanged =
    "The new index was changed by another program during the repair. Nothing was changed.";
inline constexpr const char* kSwapStuck =
    "Another program changed the mailbox's files while the repair put them in place. Every file "
    "was kept as it is; the next start of this utility settles them, or says what to do.";
inline constexpr const char* kKeepCurrentCommand = "qvrepair-cli repair --keep-current";

// What a replacement makes beside the old pair. Each is made under the first free name of its
// kind: the plain name, then the name with "-2", "-3", ... up to kMaxNameNumber; a name that any
// entry has (whoever made it) is never taken over.
enum class Made { Repaired, IndexTemp, KeptIndex, KeptStore };
inline constexpr int kMaxNameNumber = 99;

// The names of one mailbox's files. A store or index reached through a symbolic link is replaced
// at the link's target, so what replaces it is made beside the target.
struct MailboxPaths {
  std::string folder;  // the profile folder, ending in a separator
  std::string store;   // <mailbox>.mbx and <mailbox>.idx in the folder
  std::string index;
  std::string storeTarget;  // the files they finally name
  std::string indexTarget;
  std::string journal;  // the record of a replacement in progress, in the folder
  // The plain names (number 1) of what a replacement makes: the repaired store
  // (<mailbox>.xyz), the new index until it is renamed (<index>.tmp), the old index and the old
  // store kept until the new pair is in place (<index>.restore, <store>.restore).
  std::string repaired, indexTemp, restore, storeRestore;

  // `fileName` is the mailbox's base name in the file system's encoding.
  static MailboxPaths For(platform::FileSystem& files, const std::string& folder,
                          const std::string& fileName);
  // The name of `kind` with `number` (1: the plain name).
  std::string Name(const platform::FileSystem& files, Made kind, int number) const;
  // The folders whose entries a replacement changes.
  std::vector<std::string> Folders(const platform::FileSystem& files) const;
};

// A file as the journal records it. Identity, size and modification time; the indexes also by a
// checksum of their bytes (a file's identity can be taken over by another once it is gone, and is
// lost when a folder is copied).
struct FileMark {
  bool exists = false;
  std::uint64_t volume = 0, id = 0;
  std::int64_t size = 0, modified = 0;
  std::uint32_t sum = 0;

  static FileMark Of(const platform::FileStamp& stamp, std::uint32_t sum = 0);
  bool SameFile(const platform::FileStamp& s) const noexcept {
    return exists && s.exists && s.volume == volume && s.id == id;
  }
  friend bool operator==(const FileMark&, const FileMark&) = default;
};

// The journal of one replacement, `<mailbox>.idx.journal` in the profile folder. Its first record
// is written once the repaired store and the new index's file exist (both empty) and before any
// byte goes into them or the old files get their second names: it names everything the
// replacement makes, so that the next start removes exactly that and nothing else. The second is
// appended once both new files are whole on the disk, before the first rename. Every number has a
// fixed width, so a journal has the same length whatever the files' identities are.
struct ReplacementJournal {
  // The numbers of the names used (0: not made) and the identities of the two files made new.
  int repairedNo = 0, indexTempNo = 0, keptIndexNo = 0, keptStoreNo = 0;
  FileMark repaired, indexTemp;
  FileMark oldIndex;  // the index as the run read it (with its checksum)
  FileMark oldStore;  // the store as the scan read it
  // The second record: both new files as they were synced, and how the old store is kept (a hard
  // link made before the renames, or renamed to its second name by the replacement itself where
  // the file system has no hard links).
  bool ready = false;
  bool storeMoved = false;
  FileMark newIndex, newStore;
};

// The CRC-32 of a file's bytes. Raises the file layer's error when it cannot be read: a sum that
// is not the file's would tell a crash's recovery the wrong file.
std::uint32_t FileChecksum(platform::FileSystem& files, const std::string& path);

std::string FormatJournalBegin(const ReplacementJournal& journal);
std::string FormatJournalReady(const ReplacementJournal& journal);
// False for a text that is not a journal: a first record that is not whole, or anything after it
// but the second record or a part of it that a crash cut short (then `ready` stays false).
bool ParseJournal(std::string_view text, ReplacementJournal& journal);
// The longest journal that is read; a larger file is damaged.
inline constexpr std::int64_t kMaxJournalBytes = 64 * 1024;

// Makes `to` a hard link to `from`, or where the file system has no hard links a synced copy of
// it (with its rights when `keepRights`). Never takes over an entry of that name. Raises the file
// layer's error, and then leaves no `to` of its own.
void LinkOrCopy(platform::FileSystem& files, const std::string& from, const std::string& to,
                bool keepRights);
// Syncs every folder the replacement touched; false with the error of the first that failed.
bool SyncReplacementFolders(platform::FileSystem& files, const MailboxPaths& paths,
                            std::string* error);

// One replacement of a mailbox's pair: it makes the repaired store, then puts the new index and
// the repaired store in place of the old pair (see Replace). It owns what it makes until the pair
// is in place — the repaired store, the new index, the old files' second names, the backups and
// the journal — and removes it again when the replacement cannot go on.
class Replacement {
 public:
  // `oldIndex`: the index as the run read it (exists false when there was none).
  Replacement(platform::FileSystem& files, platform::Clock& clock, MailboxPaths paths,
              FileMark oldIndex)
      : files_(files), clock_(clock), paths_(std::move(paths)) {
    journal_.oldIndex = oldIndex;
  }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;
  ~Replacement();

  const MailboxPaths& Paths() const noexcept { return paths_; }
  // The repaired store's name (once made).
  std::string RepairedPath() const { return Name(Made::Repaired); }

  // Keeps other programs from writing to the store until the replacement begins (where the system
  // can): false with the reason when another program has it open for writing.
  bool HoldStore(std::string* error);
  // Makes the repaired store under the first free name and returns it open for writing. Raises
  // the file layer's error.
  TStream& CreateRepairedStore();
  // Before the first byte goes into the repaired store: makes the new index's file, writes the
  // journal's first record and keeps the old index and store under second names. Raises the file
  // layer's error. Does nothing the second time.
  void Begin();
  // Commits and closes the repaired store, which holds `bytes` bytes. Raises the file layer's
  // error (and the store is closed all the same).
  void CloseRepairedStore(std::int64_t bytes);
  // Removes what this replacement made and has not put in place (the journal last); what it could
  // not remove stays named in the journal. Does nothing once the pair is in place.
  void Discard();

  struct Request {
    platform::FileStamp scannedStore;  // the store as the scan found it
    TComponent& index;                 // the new index, written with `entries` as its messages
    TItemSource* entries = nullptr;
    bool backup = false;  // keep the old pair under "<name>.bak-YYYYMMDD-HHMMSS" first
    std::function<bool()> clientRunning;
  };
  struct Outcome {
    bool replaced = false;  // the new pair is in place
    bool settled = true;    // nothing of the replacement is left for the next start to settle
    std::string error;      // what to report ("" when all went well)
  };
  // Puts the new index and the repaired store in place of the old pair: the repaired store is
  // synced and checked (still this run's file, whole; the store and the index unchanged since the
  // run read them; the client not started), takes the old store's rights, the backups are made,
  // the new index is written, and the journal's second record appended; the store and index are
  // checked once more, then the index and the store are renamed. Then the old store and index,
  // still reachable under their second names, are checked again: when either changed meanwhile
  // the old pair is put back as the next start would, and the run says so. A failure before the
  // first rename removes what the replacement made and leaves the old pair; when the store cannot
  // be renamed the old index goes back.
  Outcome Replace(const Request& request);

  // The backups this replacement made (and kept).
  const std::vector<std::string>& Backups() const noexcept { return backups_; }

 private:
  std::string Name(Made kind) const;
  int& Number(Made kind);
  // Makes a new file of `kind` under the first free name.
  std::unique_ptr<TStream> CreateFree(Made kind);
  // Gives the old file `from` a second name of `kind`: a hard link (or a copy, for the index,
  // where there are none); false when the file system has no hard links (the store).
  bool KeepUnderSecondName(Made kind, const std::string& from);
  // What changed of the store and the index since the run read them ("" when nothing), as the
  // text to report; `sums`: the index's bytes are compared too.
  std::string ChangedSinceRead(const Request& request, bool sums);
  // Removes what the replacement made beside the old pair and returns the failure `text`.
  Outcome Abandon(std::string text);
  // Makes the backups of the old pair; raises the file layer's error, having removed what it made.
  void MakeBackups();
  void RemoveBackups();
  // Writes the new index into its file, gives it the old index's rights and syncs it. Raises the
  // file layer's error.
  void WriteNewIndex(const Request& request);
  // Where the file system has no hard links: renames the store to its second name, then the
  // repaired store to the store's; false with the reason.
  bool PutStoreInPlace(std::string* error);
  // After the store could not be put in place: puts the old index back when it can.
  // Syncs the repaired store and checks it and the old pair, and gives it the old store's rights:
  // "" when the replacement may go on, else what stops it.
  std::string CheckRepairedStore(const Request& request);
  // The backups, the new index and the journal's second record, before the first rename. Raises
  // the file layer's error.
  void PrepareRenames(const Request& request);
  // What took the place of the file at `path` since the run recorded it as `mark` ("" when it is
  // the same file, or still none).
  std::string ReplacedSince(const std::string& path, const FileMark& mark);
  // Whether `path` names this run's file `mine` itself (not a link to it).
  bool IsMine(const std::string& path, const FileMark& mine);
  // Puts this run's file `mine` at `from` in place of the file at `to`, which must be the one
  // `old` recorded (or still none). Where the system can, the two names are swapped in one step
  // and both are looked at afterwards: the old file's name at `from` goes; when another program
  // changed either name at the same moment, the swap is undone, so that its file is never lost.
  // Swapped: in place. Failed: the rename failed (`text`: the system's reason). Taken: another's
  // file stands at `to`; NotMine: `from` is not this run's file (`text`: what changed). Stuck: a
  // swap could not be undone (`text` says so; every file stays).
  enum class Swap { Swapped, Failed, Taken, NotMine, Stuck };
  Swap SwapInto(const std::string& from, const std::string& to, const FileMark& old,
                const FileMark& mine, std::string* text);
  // The renames: the new index, then the repaired store (RenameStore), each in place of the file
  // the run read; then the settlement (SettleAfterRenames).
  Outcome RenamePair();
  Outcome RenameStore();
  // Once both renames are made: what was written to the old pair meanwhile puts it back.
  Outcome SettleAfterRenames();
  Outcome PutOldIndexBack(std::string text);

  platform::FileSystem& files_;
  platform::Clock& clock_;
  MailboxPaths paths_;
  ReplacementJournal journal_;
  std::unique_ptr<platform::FileHold> hold_;
  std::unique_ptr<TStream> repaired_;   // the repaired store while it is written
  std::unique_ptr<TStream> indexFile_;  // the new index's file until it is written
  platform::FileStamp repaired_stamp_;  // the repaired store as this run made it
  std::int64_t repaired_size_ = 0;
  platform::FileStamp store_ref_, index_ref_;  // both once their second names were made
  bool journaled_ = false;                     // this run wrote the journal
  bool keptIndex_ = false, keptStore_ = false, temp_ = false, repairedMade_ = false;
  bool placed_ = false;  // the index was renamed: what is left is settled as a recovery would
  std::vector<std::string> backups_;
  std::string backups_kept_;  // what Discard kept as backups, as a text to report
};

enum class Recovery {
  Completed,   // the index had been renamed: the store was, and the new pair is in place
  Finished,    // both were in place: what was left beside them was removed
  Undone,      // the old pair is in place (with what was written to it meanwhile)
  Cleared,     // nothing had been renamed: what the replacement made was removed
  MovedAside,  // the journal could not be read and nothing of the replacement was found: it was
               // renamed to "<journal>.damaged-YYYYMMDD-HHMMSS"
  Failed,      // the state cannot be told safely: every file was left as it is
};

// What the next start would do with the journal and the files as they are now; nothing is
// changed. `detail` says why (Undone: what changed; Failed: which files exist and which command
// settles them; MovedAside: the journal's new name).
struct RecoveryPlan {
  Recovery action = Recovery::Failed;
  std::string reason;  // Undone after a change: the first line of what a run reports
  std::string detail;
};
RecoveryPlan PlanRecovery(platform::FileSystem& files, platform::Clock& clock,
                          const MailboxPaths& paths);
// Settles what is left once both renames of a run were made, as the next start would: what was
// written to the old files meanwhile puts the old pair back.
Recovery RecoverAfterRun(platform::FileSystem& files, platform::Clock& clock,
                         const MailboxPaths& paths, const ReplacementJournal& journal,
                         RecoveryPlan& plan);

// Finishes or undoes the replacement that the journal records, after a crash, or removes what it
// made. Only the files the replacement itself made are removed. `detail` as for the plan; and for
// an outcome that was reached, the files that could not be removed.
Recovery RecoverReplacement(platform::FileSystem& files, platform::Clock& clock,
                            const MailboxPaths& paths, std::string* detail);

// Keeps the store and the index as they are and settles the journal: what the replacement made
// and nothing holds is removed, an old store or repaired store that the store in place is not is
// kept as "<name>.bak-YYYYMMDD-HHMMSS", and a journal that cannot be read is moved aside. False
// when something could not be done; `report` says what was done (and what failed).
bool KeepCurrentFiles(platform::FileSystem& files, platform::Clock& clock,
                      const MailboxPaths& paths, std::string* report);

// What became of a file since it was recorded as `before`, for the second line of a report ("":
// nothing; a change of status alone only with `statusToo`).
std::string WhatChanged(const std::string& path, const FileMark& before,
                        const platform::FileStamp& now, bool statusToo);

// A name beside `path` dated now: "<path>.<tag>-YYYYMMDD-HHMMSS", then "-2", "-3", ... until one
// is free (also `alsoFree` with the same suffix when given).
std::string FreeDatedName(platform::FileSystem& files, platform::Clock& clock,
                          const std::string& path, const char* tag,
                          const std::string& alsoFree = "");
// The name of a backup made now ("bak").
std::string FreeBackupName(platform::FileSystem& files, platform::Clock& clock,
                           const std::string& path, const std::string& alsoFree = "");

}  // namespace qv
