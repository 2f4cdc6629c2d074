// The form's start-up steps: an interrupted replacement settled, the profile read, the old index
// read (again at the click when it changed), and its folder tree taken from a copy when damaged.
#include "repair/Repair.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "base/StringUtils.h"
#include "components/ComponentFile.h"

namespace qv {

namespace {
const char* ActionName(Recovery action) {
  switch (action) {
    case Recovery::Completed:
      return "complete";
    case Recovery::Finished:
      return "finish";
    case Recovery::Undone:
      return "undo";
    case Recovery::Cleared:
      return "clear";
    case Recovery::MovedAside:
      return "move-aside";
    case Recovery::Failed:
      break;
  }
  return "refuse";
}
}  // namespace

void TForm1::ReportRecovery(Recovery outcome, const std::string& detail) {
  auto withDetail = [&detail](const char* text) {
    return detail.empty() ? std::string(text) : std::string(text) + "\n" + detail;
  };
  switch (outcome) {
    case Recovery::Completed:
    case Recovery::Finished: {
      interrupted_ = Interrupted::Completed;
      const char* text =
          outcome == Recovery::Completed ? kReplacementCompleted : kReplacementFinished;
      if (detail.empty()) {
        view_.ShowMessage(text);
      } else {
        ReportError(withDetail(text));
        // What could not be removed keeps the journal, which the next start settles again; no run
        // starts beside it.
        if (services_.files.EntryExists(paths_.journal)) Block(withDetail(text));
      }
      break;
    }
    case Recovery::Undone:
      interrupted_ = Interrupted::Undone;
      view_.ShowMessage(withDetail(kReplacementUndone));
      break;
    case Recovery::Cleared:
      interrupted_ = Interrupted::Cleared;
      view_.ShowMessage(withDetail(kReplacementCleared));
      break;
    case Recovery::MovedAside:
      interrupted_ = Interrupted::MovedAside;
      view_.ShowMessage(withDetail(kJournalMovedAside));
      break;
    case Recovery::Failed:
      interrupted_ = Interrupted::Failed;
      ReportError(withDetail(kReplacementFailed));
      Block(kReplacementFailed);
      break;
  }
}

void TForm1::HandleInterruptedReplacement(bool clientRunning) {
  interrupted_ = Interrupted::None;
  platform::FileSystem& files = services_.files;
  if (!files.EntryExists(paths_.journal)) {
    if (keep_current_) view_.ShowMessage(kNothingToSettle);
    return;
  }
  // (a dry run beside a run in progress: the journal is that run's, not an interrupted one)
  if (other_run_) return;
  figures_.interruptedReplacement = true;
  if (dry_run_) {
    // Reported as what the next start would do; a state it cannot settle blocks a repair.
    const RecoveryPlan plan = PlanRecovery(files, services_.clock, paths_);
    figures_.interruptedAction = ActionName(plan.action);
    if (plan.action == Recovery::Failed)
      Block(std::string(kReplacementFailed) + "\n" + plan.detail);
    return;
  }
  if (clientRunning) {
    // The client has the files; nothing is touched until it is closed.
    interrupted_ = Interrupted::Pending;
    BlockWithError(kReplacementPending);
    return;
  }
  if (keep_current_) return KeepCurrentFiles();
  std::string detail;
  const Recovery outcome = RecoverReplacement(files, services_.clock, paths_, &detail);
  figures_.interruptedAction = ActionName(outcome);
  ReportRecovery(outcome, detail);
}

void TForm1::KeepCurrentFiles() {
  std::string report;
  const bool settled = qv::KeepCurrentFiles(services_.files, services_.clock, paths_, &report);
  interrupted_ = settled ? Interrupted::KeptCurrent : Interrupted::Failed;
  if (settled)
    view_.ShowMessage(report.empty() ? std::string(kKeptCurrent)
                                     : std::string(kKeptCurrent) + "\n" + report);
  else
    BlockWithError(std::string(kKeepCurrentFailed) + "\n" + report);
}

void TForm1::RefuseReadOnlyFiles() {
  for (const std::string* path : {&paths_.storeTarget, &paths_.indexTarget}) {
    if (!services_.files.ReadOnlyFile(*path)) continue;
    BlockWithError(
        std::string(kReadOnlyFile) +
        FormatMessage("\n\"%s\" is read-only: clear its read-only attribute first.", {*path}));
    return;
  }
}

bool TForm1::ReadProfile() {
  platform::FileSystem& files = services_.files;
  try {
    bool missing = false;
    if (const std::string why = files.NoFileReason(ProfilePath(), &missing); missing) {
      MailboxName = "mailbox";
    } else if (!why.empty()) {
      // A profile that cannot be looked at names a mailbox all the same: not the default one.
      throw EFOpenError(FormatMessage(kFOpenError, {ProfilePath(), why}));
    } else {
      qvProfile.LoadFromFile(ProfilePath(), files);
      MailboxName = qvProfile.Mailbox();
    }
  } catch (const Exception& e) {
    // Without the profile the mailbox is not known: nothing is offered.
    ReportError(e.what());
    Block(e.what());
    return false;
  }
  if (const std::string problem = MailboxNameProblem(files.FileNameFromAnsi(MailboxName));
      !problem.empty()) {
    // A name that reaches outside the profile folder: no file is looked at.
    BlockWithError(FormatMessage(kBadMailboxName, {VisibleText(MailboxName)}) + "\n" +
                   FileDetail(ProfilePath(), "its mailbox name: " + problem));
    return false;
  }
  return true;
}

namespace {
// Hands a message list being read to the old index, noting that the list was reached.
class ListStart : public TItemSink {
 public:
  explicit ListStart(OldIndex& to) : to_(to) {}
  const TCollection& Collection() const override { return to_.Collection(); }
  void Clear() override {
    reached = true;
    to_.Clear();
  }
  TCollectionItem& Begin() override { return to_.Begin(); }
  void End(TCollectionItem& item) override { to_.End(item); }
  bool reached = false;

 private:
  OldIndex& to_;
};
}  // namespace

void TForm1::ReadOldIndex() {
  index_missing_ = false;
  if (const std::string why = services_.files.NoFileReason(IndexPath(), &index_missing_);
      !why.empty()) {
    Label2.SetCaption(kCannotFindMailbox);
    Block(std::string(kCannotFindMailbox) + "\n" + FileDetail(IndexPath(), why));
    return;
  }
  // After a replacement that could not be settled the index is left unread: it may belong to
  // another store.
  if (interrupted_ != Interrupted::Failed) LoadOldIndex();
  Label2.SetCaption(kMailboxNamePrefix + UpperCase(MailboxName));
}

void TForm1::LoadOldIndex() {
  platform::FileSystem& files = services_.files;
  // Its state before the read: whatever changes it afterwards is seen before the replacement.
  const platform::FileStamp before = files.Stamp(IndexPath());
  index_stamp_ = before;
  index_read_ = FileMark::Of(before);
  ListStart list(old_entries_);
  try {
    // The message list goes to old_entries_, which keeps of it what the merge needs.
    LoadComponentFromFile(MailBox, IndexPath(), files, &list);
  } catch (const Exception& e) {
    // The system could not read the index, which may be whole: without its folders and read
    // states nothing may be replaced. That goes to the caller, which stops.
    if (IsSystemReadError(e)) throw;
    // A damaged index is what the repair mends: report it and keep what could be read.
    ReportError(e.what());
    // The folder tree comes before the message list: a fault before the list cut it short.
    if (!list.reached) RestoreFolderTree();
  }
  if (before.exists) index_read_.sum = FileChecksum(files, IndexPath());
}

void TForm1::RereadOldIndex() {
  // The client may have moved messages since start-up (the dialog waits for the click).
  const platform::FileStamp now = services_.files.Stamp(IndexPath());
  // (by its bytes too: a coarse clock may give a rewrite the same times)
  if (now == index_stamp_ && now.exists &&
      FileChecksum(services_.files, IndexPath()) == index_read_.sum)
    return;
  MailBox.TreeItems().Clear();
  MailBox.MailItems().Clear();
  MailBox.SetMailDir("\\mail");
  MailBox.SetLanguage("");
  MailBox.SetPassword("");
  MailBox.SetF1(0);
  MailBox.SetF2(0);
  MailBox.SetF3("");
  MailBox.SetF4("");
  old_entries_.Clear();
  figures_.folderTree.clear();
  if (now.exists)
    LoadOldIndex();
  else
    index_read_ = FileMark(), index_stamp_ = now;
  figures_.oldEntries = old_entries_.Count();
}

namespace {
// Takes the items of a message list as they are read and keeps none: only the folder tree of an
// index is wanted.
class DroppedItems : public TItemSink {
 public:
  explicit DroppedItems(const TCollection& collection) : collection_(collection) {}
  const TCollection& Collection() const override { return collection_; }
  void Clear() override {}
  TCollectionItem& Begin() override {
    item_ = std::make_unique<TMailMessageItem>();
    return *item_;
  }
  void End(TCollectionItem&) override { item_.reset(); }

 private:
  const TCollection& collection_;
  std::unique_ptr<TMailMessageItem> item_;
};
}  // namespace

void TForm1::RestoreFolderTree() {
  platform::FileSystem& files = services_.files;
  // The copies of the index beside it: its backups and the copy a repair keeps while it runs.
  const std::string folder = files.FolderOf(IndexPath());
  const std::string prefix = IndexPath().substr(folder.size()) + ".bak-";
  std::vector<std::pair<std::int64_t, std::string>> kept;
  for (const std::string& name : files.FileNamesIn(folder.empty() ? "." : folder))
    if (name.starts_with(prefix)) kept.emplace_back(0, folder + name);
  kept.emplace_back(0, paths_.restore);
  for (auto& [modified, path] : kept) {
    const platform::FileStamp stamp = files.Stamp(path);
    modified = stamp.exists ? stamp.modified : -1;
  }
  std::sort(kept.begin(), kept.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [modified, path] : kept) {
    if (modified < 0) continue;
    TqvMailBox copy(nullptr);
    DroppedItems dropped(copy.MailItems());
    try {
      LoadComponentFromFile(copy, path, files, &dropped);
    } catch (const std::exception&) {
      continue;  // a copy that is damaged too, or cannot be read
    }
    if (copy.TreeItems().Count() == 0) continue;
    MailBox.SetTreeItems(&copy.TreeItems());
    figures_.folderTree = "taken from " + path;
    return;
  }
  // The last item read may be cut short: the least a client needs instead, the Inbox.
  MailBox.TreeItems().Clear();
  TMailTreeItem& inbox = MailBox.TreeItems().NewItem();
  inbox.SetText("Inbox");
  inbox.SetIsVisible(true);
  inbox.SetIsProtected(true);
  inbox.SetUnread(1);
  figures_.folderTree = "a new Inbox alone (no copy of the index beside it could be read)";
}

}  // namespace qv
