// The utility's one window as a toolkit-free model, and the repair run: start-up checks, the scan
// of the message store, one index entry per message, the merge with the old index and the
// replacement of the mailbox files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Stream.h"
#include "base/StringList.h"
#include "mailbox/qvMailbox.h"
#include "mailbox/qvProfile.h"
#include "mime/clMailMessage.h"
#include "platform/Platform.h"
#include "repair/Controls.h"
#include "repair/DialogView.h"

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
inline constexpr const char* kNoMessagesFound =
    "No messages were found in the mailbox. Nothing was changed.";
inline constexpr const char* kStoreChanged =
    "The mailbox was changed during the repair. Nothing was changed.";
inline constexpr const char* kInboxKey = "_msInbox";
inline constexpr const char* kDefaultAccount = "Default";

// "ddd mmm dd hh:mm:ss yyyy" with the locale's short day and month names.
std::string FormatSeparatorDate(TDateTime d, const platform::LocaleNames& names);
// The text between the first "<" and the first ">", trimmed; the text itself without them.
std::string ExtractAngleAddress(std::string_view text);

class TForm1 : public TComponent {
  QV_CLASS_INFO
 public:
  enum class State { Ready, Blocked, Running, Done };

  // The form registers itself with `registry` as a top-level component named "Form1".
  TForm1(platform::Services services, DialogView& view, TComponentRegistry& registry);
  ~TForm1() override;

  // Published fields, in their declaration order.
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
  std::string ProfileDir;  // "profile/default/"
  std::string MailboxName;
  std::int32_t MessageCount = -1;
  std::unique_ptr<TStringList> MessageLines;
  std::unique_ptr<TStream> RepairedStore;

  // Sets the program folder instead of the one of the running program (for --dir).
  void SetAppDir(std::string dir);

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

  State CurrentState() const noexcept { return state_; }
  // Whether the last run replaced the mailbox files.
  bool Replaced() const noexcept { return replaced_; }
  // Files of an earlier run that did not finish (the repaired store, the temporary index, the
  // index kept to be put back), as found at start-up. They are never read: a run replaces them.
  const std::vector<std::string>& Leftovers() const noexcept { return leftovers_; }

  // The steps of a run.
  void ScanMailbox();
  void CreateRepairedStore();
  void CloseRepairedStore();
  // Appends the message in MessageLines to the repaired store as one block (a new separator, the
  // lines, and one more line holding CR LF when the last line is not empty, every line followed by
  // CR LF, so such a message ends in two empty lines) and adds its entry to qvMailBox. A message
  // without lines is written as its separator and one empty line, with an entry of its own.
  void IndexMessage();
  std::string AccountForRecipients(std::string_view recipients) const;
  void MergeIndex();

  std::string StorePath() const { return AppDir + ProfileDir + MailboxName + ".mbx"; }
  std::string IndexPath() const { return AppDir + ProfileDir + MailboxName + ".idx"; }
  std::string RepairedPath() const { return AppDir + ProfileDir + MailboxName + ".xyz"; }
  std::string ProfilePath() const { return AppDir + ProfileDir + "profile.dat"; }
  std::string RestorePath() const { return IndexPath() + ".restore"; }

 private:
  // Beep, then the error box.
  void ReportError(const std::string& text);
  void SetState(State s);
  void ShowProgress();
  // Puts the new index and the repaired store in place; false when it failed and reported.
  bool ReplaceFiles();
  // Whether the store or the running-check differ from what they were when the scan began.
  bool StoreChangedSinceScan();
  void DiscardRepairedStore();

  platform::Services services_;
  DialogView& view_;
  State state_ = State::Ready;
  bool replaced_ = false;
  bool app_dir_set_ = false;
  bool started_ = false;           // a separator has been seen in this scan
  bool store_missing_ = false;     // the scan stopped at "Cannot find mailbox!"
  bool create_failed_ = false;     // the repaired store could not be created
  bool repaired_created_ = false;  // this run created the repaired store and has not placed it
  std::int64_t store_size_ = 0;
  std::int64_t repaired_size_ = 0;
  std::int64_t scan_store_size_ = -1;  // the store as the scan found it
  std::int64_t scan_store_age_ = -1;
  std::vector<std::string> leftovers_;
};

}  // namespace qv
