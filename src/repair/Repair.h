// The utility's one window as a toolkit-free model, and the order of a repair run: start-up checks,
// the scan of the message store (StoreScan, with MessageIndexer for each message), the merge with
// the old index (Merge) and the replacement of the mailbox files (Replacement). The steps do the
// work; the form calls them, keeps what they found and shows it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Stream.h"
#include "base/StringList.h"
#include "mailbox/CompactMessages.h"
#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "mime/clMailMessage.h"
#include "platform/Platform.h"
#include "repair/Controls.h"
#include "repair/DialogView.h"
#include "repair/Export.h"
#include "repair/Findings.h"
#include "repair/Merge.h"
#include "repair/MessageIndexer.h"
#include "repair/MessageSink.h"
#include "repair/OldIndex.h"
#include "repair/Replacement.h"
#include "repair/StoreScan.h"

namespace qv {

inline constexpr const char* kAppMutexName = "QuorvaneAppMutex";
inline constexpr const char* kWarningText =
    "This utility will scan your current mailbox to recreate the index. An attempt will be made to "
    "place messages in the proper folders, or as UNREAD in your Inbox. IT IS STRONGLY RECOMMENDED "
    "YOU BACKUP YOUR MAILBOX BEFORE ATTEMPTING THIS REPAIR, AND CLOSE QUORVANE.";
inline constexpr const char* kFormCaption = "Repair Quorvane Mailbox";
inline constexpr const char* kMailboxNameLabel = "Mailbox Name :  ";
inline constexpr const char* kMailboxNamePrefix = "Mailbox Name : ";
inline constexpr const char* kCannotFindMailbox = "Cannot find mailbox";
inline constexpr const char* kCannotFindMailboxRun = "Cannot find mailbox!";
inline constexpr const char* kCloseClient = "Please close Quorvane before running.";
inline constexpr const char* kErrorCreatingBackup = "Error creating backup mailbox.";
inline constexpr const char* kRepairingMessage = "Repairing message : ";
inline constexpr const char* kReadingMessage = "Reading message : ";
inline constexpr const char* kExportingMessage = "Exporting message : ";
inline constexpr const char* kNoMessagesFound =
    "No messages were found in the mailbox. Nothing was changed.";
inline constexpr const char* kRepairRunning =
    "Another repair of this mailbox is running. Please wait until it has finished.";
inline constexpr const char* kBadMailboxName =
    "The profile names the mailbox \"%s\", which is not a plain file name. Nothing was changed.";
inline constexpr const char* kReplacementCompleted =
    "A repair of this mailbox was interrupted before it had put both files in place. It has now "
    "been completed: the repaired mailbox and its new index are in place.";
inline constexpr const char* kReplacementUndone =
    "A repair of this mailbox was interrupted before it had put both files in place. It has now "
    "been undone: the mailbox and its index are as they were before it.";
inline constexpr const char* kReplacementPending =
    "A repair of this mailbox was interrupted. Close Quorvane, then start this utility again to "
    "finish it before Quorvane opens the mailbox.";
inline constexpr const char* kReplacementFailed =
    "A repair of this mailbox was interrupted, and it could be neither finished nor undone. The "
    "files were left as they are.";
inline constexpr const char* kReplacementFinished =
    "A repair of this mailbox was interrupted after it had put both files in place. What it had "
    "left beside them has now been removed.";
inline constexpr const char* kReplacementCleared =
    "A repair of this mailbox was interrupted before it had replaced any file. What it had made "
    "has now been removed; the mailbox and its index were left as they are.";
inline constexpr const char* kJournalMovedAside =
    "The record of an interrupted repair of this mailbox could not be read, and nothing that "
    "repair made was found. The record was moved aside; the mailbox and its index were left as "
    "they are.";
inline constexpr const char* kKeptCurrent =
    "The mailbox and its index were kept as they are, and what the interrupted repair had left "
    "was settled.";
inline constexpr const char* kKeepCurrentFailed =
    "The mailbox and its index were kept as they are, but what the interrupted repair had left "
    "could not all be settled.";
inline constexpr const char* kNothingToSettle =
    "No interrupted repair of this mailbox was found. Nothing was changed.";
inline constexpr const char* kReadOnlyFile =
    "The mailbox cannot be repaired while its files are read-only. Nothing was changed.";
inline constexpr const char* kOutOfMemory = "There is not enough memory. Nothing was changed.";
// The text an error is reported with (a lack of memory in words).
std::string ErrorText(const std::exception& e);
// A text with its control characters written as "\xNN" (a NUL would end the text shown).
std::string VisibleText(std::string_view text);
// Why a mailbox name from the profile cannot name files inside the profile folder ("" when it
// can): a path separator, a drive, a ".." or "." name, a control character, or a device name.
std::string MailboxNameProblem(std::string_view name);

// What a run found, and what it would do or did, in figures: the same for a dry run and a repair.
struct RepairFigures {
  std::string mailbox;                // the mailbox name from the profile
  std::int64_t storeBytes = -1;       // size of the store (-1: no store)
  std::int64_t messages = 0;          // messages the scan found (the entries a repair writes)
  std::int64_t oldEntries = 0;        // entries of the old index
  std::int64_t carriedOver = 0;       // messages that take folder and read state from an old entry
  std::int64_t newInInbox = 0;        // messages that no old entry matches: Inbox, unread
  std::int64_t droppedEntries = 0;    // old entries that match no message
  std::int64_t withoutMessageId = 0;  // messages with an empty Message-ID
  std::int64_t duplicateMessageIds = 0;  // messages whose Message-ID an earlier one has
  std::int64_t leadingBytes = 0;         // bytes before the first separator
  bool indexMatchesStore = false;        // one old entry per message, in order, at its block
  bool clientRunning = false;
  std::string blocked;                  // why start-up did not offer the repair ("" when it did)
  bool interruptedReplacement = false;  // a replacement that a crash interrupted waits
  // What the next start does with it: "complete", "finish", "undo", "clear", "move-aside",
  // "refuse" ("" when there is none).
  std::string interruptedAction;
  bool scanned = false;  // the store was scanned
  // Where the folder tree comes from when the old index's could not be read ("" when it could).
  std::string folderTree;
};

class TForm1 : public TComponent {
  QV_CLASS_INFO
 public:
  enum class State { Ready, Blocked, Running, Done };

  // The form registers itself with `registry` as a top-level component named "Form1".
  TForm1(platform::Services services, DialogView& view, TComponentRegistry& registry);
  ~TForm1() override;

  // Published fields, in their declaration order. MailBox is the index as start-up read it, less
  // its message list (see OldEntries); a run writes it back with IndexEntries as its message list.
  // qvMailBox, the scratch index, stays empty: a run keeps its entries in IndexEntries.
  TButton Button1;
  TLabel Label1;
  TLabel Label2;
  TqvMailBox MailBox;
  TqvProfile qvProfile;
  TButton Button2;
  TclMailMessage clImportMsg;
  TqvMailBox qvMailBox;

  static constexpr TBounds kFormSize{0, 0, 347, 202};

  // Program state.
  std::string AppDir;      // ends with a path separator
  std::string ProfileDir;  // "profile/default/", with the system's separators
  std::string MailboxName;
  std::int32_t MessageCount = -1;
  // Named by the window model, but holds no lines: the scan indexes views of the reader's buffer.
  std::unique_ptr<TStringList> MessageLines;
  // The sink of a run's scan: the repaired store's writer, or for a dry run the null writer.
  std::unique_ptr<MessageSink> RepairedStore;

  // Sets the program folder instead of the one of the running program (for --dir).
  void SetAppDir(std::string dir);
  // A dry run: start-up, scan, indexing and merge as a repair makes them, but no file is written,
  // made, renamed or removed; an interrupted replacement is reported, not settled. Set before
  // FormShow.
  void SetDryRun(bool dryRun) { dry_run_ = dryRun; }
  bool DryRun() const noexcept { return dry_run_; }
  // An export: start-up, scan, indexing and merge as a dry run makes them, but with the folder
  // held as by a repair and refused while the mail client runs (or without a store); then each
  // message is written to `target` into the folder the merge filed it in. Without an index every
  // message goes to the Inbox, unread. Set before FormShow.
  void SetExport(ExportTarget target);
  bool Exporting() const noexcept { return export_.has_value(); }
  // What the export did.
  const ExportResult& Exported() const noexcept { return exported_; }
  // Keeps the old store and index under "<name>.bak-YYYYMMDD-HHMMSS" (hard links, or synced
  // copies where the file system has none) before anything is replaced.
  void SetBackup(bool backup) { backup_ = backup; }
  // Start-up settles an interrupted replacement by keeping the store and the index as they are
  // (KeepCurrentFiles) and offers nothing more. Set before FormShow.
  void SetKeepCurrent(bool keepCurrent) { keep_current_ = keepCurrent; }
  // Where the scan and merge record what they find damaged, and where (none: nothing is recorded,
  // as by default). Set before Button1Click; it must outlive the run.
  void SetFindings(Findings* findings) { findings_ = findings; }
  // The backups this run made.
  const std::vector<std::string>& Backups() const noexcept;
  // The figures of start-up and of the last scan and merge.
  const RepairFigures& Figures() const noexcept { return figures_; }
  // Bytes of the store the running scan has read (for an export, which reads it twice, half of
  // what both readings have read).
  std::int64_t ScannedBytes() const noexcept {
    return export_ ? (scanned_bytes_ + exported_bytes_) / 2 : scanned_bytes_;
  }

  // Event handlers.
  void FormShow();
  void Button1Click();
  void Button2Click();
  // Whether the window may close now: not while a run is in progress.
  bool CloseQuery() const noexcept { return state_ != State::Running; }
  // Releases MessageLines; does nothing while a run is in progress.
  void FormClose();

  // True when one of the comma-separated mutex names names an existing mutex.
  bool IsAppRunning(std::string_view names);
  // The mail client's running-check: its mutex, or another process (not this program's) holding
  // the store or the index open.
  bool ClientRunning();
  // "Please close Quorvane before running.", with the file and the process that holds it open
  // when that is what the last ClientRunning found.
  std::string CloseClientText() const;

  State CurrentState() const noexcept { return state_; }
  // Whether the last run replaced the mailbox files.
  bool Replaced() const noexcept { return replaced_; }
  // Whether the last run left files (and their journal) for the next start to settle.
  bool Unsettled() const noexcept { return unsettled_; }
  // Whether the last run replaced the files but reported what went wrong around it (a folder not
  // synced, another program's index put in place of the new one at once).
  bool ReplacedWithError() const noexcept { return replaced_with_error_; }
  // Files of an earlier run that did not finish (the repaired store, the temporary index, the
  // index kept to be put back), as found at start-up. They are never read: a run replaces them.
  const std::vector<std::string>& Leftovers() const noexcept { return leftovers_; }
  // What start-up did about a replacement that a crash interrupted.
  enum class Interrupted {
    None,
    Completed,
    Undone,
    Cleared,
    MovedAside,
    KeptCurrent,
    Pending,
    Failed
  };
  Interrupted InterruptedReplacement() const noexcept { return interrupted_; }
  // The reason start-up did not offer the repair ("" when it did).
  const std::string& BlockedReason() const noexcept { return blocked_reason_; }
  // Whether start-up found no index at all (an export goes on without one).
  bool IndexMissing() const noexcept { return index_missing_; }

  // The steps of a run.
  // Scans the store into IndexEntries through RepairedStore (what it found: LastScan).
  void ScanMailbox();
  // Makes RepairedStore: the repaired store's writer (its file is made once the scan has opened
  // the store), or for a dry run the null one.
  void CreateRepairedStore();
  // Closes RepairedStore; the repaired store is committed.
  void CloseRepairedStore();
  // The scan's per-message step (MessageIndexer) during a scan: the message goes to RepairedStore,
  // its entry to IndexEntries.
  void IndexMessage(std::span<const std::string_view> lines);
  std::string AccountForRecipients(std::string_view recipients) const;
  // Files each rebuilt entry as the old index had its message (MergeEntries) and sets the
  // figures of the merge.
  void MergeIndex();
  // What the last scan found.
  const ScanResult& LastScan() const noexcept { return scan_; }

  // The old index as start-up read it: what the merge and the figures need of its entries. The
  // rest of it (the folder tree, the mailbox's own values) is in MailBox.
  OldIndex& OldEntries() noexcept { return old_entries_; }
  // The rebuilt entries, one per message in store order; the merge files them. The new index is
  // MailBox with these as its message list.
  TCompactMessageList& IndexEntries() noexcept { return entries_; }
  const TCompactMessageList& IndexEntries() const noexcept { return entries_; }

  // The mailbox's files (known once start-up has read the profile).
  const MailboxPaths& Paths() const noexcept { return paths_; }
  const std::string& StorePath() const { return paths_.store; }
  const std::string& IndexPath() const { return paths_.index; }
  // The repaired store of the run (once made), else its plain name.
  std::string RepairedPath() const;
  std::string ProfilePath() const { return AppDir + ProfileDir + "profile.dat"; }
  const std::string& RestorePath() const { return paths_.restore; }
  const std::string& JournalPath() const { return paths_.journal; }

  // Beep, then the error box (the front ends report what a handler raised this way too).
  void ReportError(const std::string& text);

 private:
  // Start-up steps.
  bool TakeFolderLock();
  // Reads the profile and checks the mailbox name; false (blocked, reported) when it failed.
  bool ReadProfile();
  // Reads the old index into MailBox and OldEntries, and shows the mailbox name. A damaged index
  // is reported, and what could be read of it is kept. An index that the system could not open
  // or read (it may be whole) raises that error: the caller stops.
  void ReadOldIndex();
  // Reads the old index into MailBox and OldEntries, noting its state; a damaged index is
  // reported and what could be read kept.
  void LoadOldIndex();
  // At a run's start: reads the old index again when it changed since it was read.
  void RereadOldIndex();
  // For an old index whose folder tree could not be read: the tree of the newest copy of the index
  // beside it that reads without fault (a backup or the copy a repair keeps), else an Inbox alone.
  void RestoreFolderTree();
  // Reports what settling an interrupted replacement did, and notes it for the run.
  void ReportRecovery(Recovery outcome, const std::string& detail);
  void HandleInterruptedReplacement(bool clientRunning);
  // Settles an interrupted replacement by keeping the files in place (SetKeepCurrent).
  void KeepCurrentFiles();
  // Refuses a store or an index that the system keeps from being replaced (read-only).
  void RefuseReadOnlyFiles();
  void Block(const std::string& reason);
  void BlockWithError(const std::string& reason);
  void SetState(State s);
  void ShowProgress();
  // Copies what the scan found into the program state and the figures.
  void NoteScan();
  // Merges and, unless this is a dry run, replaces the files.
  void FinishRun();
  // Ends a run that changes nothing: the repaired store goes, `text` is reported ("" for none).
  void EndRunUnchanged(const std::string& text);
  // Puts the new pair in place (the Replacement); false when it failed, which was reported.
  bool ReplaceFiles();
  // Whether an export may start: the folder is held, the mail client does not run, the store and
  // the export's folder are there; otherwise reported.
  bool StartExport();
  // Writes the messages where the merge filed them (ExportStore).
  void ExportMessages();

  platform::Services services_;
  DialogView& view_;
  State state_ = State::Ready;
  bool replaced_ = false;
  bool unsettled_ = false;
  bool replaced_with_error_ = false;
  bool app_dir_set_ = false;
  std::string mailbox_file_;  // MailboxName in the file system's encoding
  MailboxPaths paths_;
  std::unique_ptr<platform::FolderLock> folder_lock_;
  bool other_run_ = false;  // another run holds the folder (a journal is then its own)
  platform::InstanceProbe::FileHolder client_holder_;  // what the last ClientRunning found
  std::vector<std::string> leftovers_;
  Interrupted interrupted_ = Interrupted::None;
  std::string blocked_reason_;
  bool index_missing_ = false;
  bool dry_run_ = false;
  bool backup_ = false;
  bool keep_current_ = false;
  FileMark index_read_;  // the old index as it was read (its stamp before the read, its checksum)
  platform::FileStamp index_stamp_;
  Findings* findings_ = nullptr;
  RepairFigures figures_;
  std::int64_t scanned_bytes_ = 0;
  ScanResult scan_;
  std::unique_ptr<Replacement> replacement_;  // the run's, once the scan has named the files
  OldIndex old_entries_{MailBox.MailItems()};
  std::optional<ExportTarget> export_;
  ExportResult exported_;
  std::int64_t exported_bytes_ = 0;
  TCompactMessageList entries_;
};

}  // namespace qv
