#include "repair/Repair.h"

#include <vector>

#include "base/StringUtils.h"
#include "components/ComponentFile.h"

namespace qv {

// --- controls ----------------------------------------------------------------------------------

const TClassInfo& TControl::StaticClassInfo() {
  static const TClassInfo info("TControl", &TComponent::StaticClassInfo(), {});
  return info;
}
const TClassInfo& TLabel::StaticClassInfo() {
  static const TClassInfo info("TLabel", &TControl::StaticClassInfo(), {});
  return info;
}
const TClassInfo& TButton::StaticClassInfo() {
  static const TClassInfo info("TButton", &TControl::StaticClassInfo(), {});
  return info;
}

TControl::TControl(TComponent* owner, const char* name, TBounds bounds, std::string caption)
    : TComponent(owner), caption_(std::move(caption)), bounds_(bounds) {
  SetName(name);
}

void TControl::SetCaption(const std::string& v) {
  if (v == caption_) return;
  caption_ = v;
  if (OnChanged) OnChanged(*this);
}

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  if (OnChanged) OnChanged(*this);
}

// --- helpers -----------------------------------------------------------------------------------

std::string MailboxNameProblem(std::string_view name) {
  if (name == "." || name == "..") return "a folder name";
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\') return "a path separator";
    if (c == ':') return "a drive or stream name";
    if (u < 0x20 || u == 0x7F) return "a control character";
  }
  // Names that Windows takes for devices, whatever extension follows.
  const std::string stem = UpperCase(name.substr(0, name.find('.')));
  static const char* const kDevices[] = {
      "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
      "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  for (const char* device : kDevices)
    if (TrimRight(stem) == device) return "a device name";
  return "";
}

// --- the form ----------------------------------------------------------------------------------

const TClassInfo& TForm1::StaticClassInfo() {
  static const TClassInfo info("TForm1", &TComponent::StaticClassInfo(), {});
  return info;
}

TForm1::TForm1(platform::Services services, DialogView& view, TComponentRegistry& registry)
    : TComponent(nullptr),
      Button1(this, "Button1", {40, 128, 153, 25}, "Repair Mailbox", 0),
      Label1(this, "Label1", {13, 8, 311, 65}, kWarningText, true),
      Label2(this, "Label2", {56, 104, 257, 13}, kMailboxNameLabel, false),
      MailBox(this),
      qvProfile(this),
      Button2(this, "Button2", {224, 128, 75, 25}, "Cancel", 1),
      clImportMsg(this, services.clock),
      qvMailBox(this),
      services_(services),
      view_(view) {
  SetName("Form1");
  registry.Add(*this);
  MailBox.SetName("MailBox");
  MailBox.SetDesignLeft(8);
  MailBox.SetDesignTop(56);
  qvProfile.SetName("qvProfile");
  clImportMsg.SetName("clImportMsg");
  qvMailBox.SetName("qvMailBox");
  qvMailBox.SetDesignLeft(304);
  qvMailBox.SetDesignTop(56);
  for (TControl* c : {static_cast<TControl*>(&Button1), static_cast<TControl*>(&Label1),
                      static_cast<TControl*>(&Label2), static_cast<TControl*>(&Button2)})
    c->OnChanged = [this](TControl& control) { view_.ControlChanged(control); };
}

TForm1::~TForm1() {
  RepairedStore.reset();
}

void TForm1::SetAppDir(std::string dir) {
  if (!dir.empty() && services_.files.PathSeparators().find(dir.back()) == std::string_view::npos)
    dir += '/';
  AppDir = std::move(dir);
  app_dir_set_ = true;
}

void TForm1::ReportError(const std::string& text) {
  services_.beeper.ErrorBeep();
  view_.ShowError(text);
}

void TForm1::SetState(State s) {
  state_ = s;
  // The folder is held only while a run may still start or is going on.
  if (s == State::Done || s == State::Blocked) folder_lock_.reset();
  Button1.SetEnabled(s == State::Ready);
  Button2.SetCaption(s == State::Done ? "Close" : "Cancel");
  Button2.SetEnabled(s != State::Running);
}

bool TForm1::IsAppRunning(std::string_view names) {
  while (!names.empty()) {
    const std::size_t comma = names.find(',');
    const std::string piece = Trim(names.substr(0, comma));
    if (!piece.empty() && services_.probe.MutexExists(piece)) return true;
    names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
  }
  return false;
}

bool TForm1::ClientRunning() {
  if (IsAppRunning(kAppMutexName)) return true;
  return !paths_.store.empty() && services_.probe.FilesInUse({paths_.store, paths_.index});
}

void TForm1::Block(const std::string& reason) {
  if (blocked_reason_.empty()) blocked_reason_ = reason;
  figures_.blocked = blocked_reason_;
  SetState(State::Blocked);
}

void TForm1::BlockWithError(const std::string& reason) {
  // A dry run reports why a repair would not start in its figures, not as an error.
  if (!dry_run_) ReportError(reason);
  Block(reason);
}

bool TForm1::TakeFolderLock() {
  // One repair per program folder at a time, whichever program starts it. A folder that does
  // not exist holds no mailbox, which the steps below find.
  const std::string folder = AppDir + ProfileDir;
  bool heldByOther = false;
  std::string error;
  folder_lock_ = services_.files.LockFolder(folder, &heldByOther, &error);
  if (folder_lock_) return true;
  if (heldByOther) {
    BlockWithError(kRepairRunning);
    return false;
  }
  return true;
}

void TForm1::HandleInterruptedReplacement(bool clientRunning) {
  interrupted_ = Interrupted::None;
  platform::FileSystem& files = services_.files;
  if (!files.FileExists(paths_.journal)) return;
  figures_.interruptedReplacement = true;
  if (dry_run_) return;  // reported in the figures; the next repair settles it
  if (clientRunning) {
    // The client has the files; nothing is touched until it is closed.
    interrupted_ = Interrupted::Pending;
    BlockWithError(kReplacementPending);
    return;
  }
  std::string detail;
  switch (RecoverReplacement(files, paths_, &detail)) {
    case Recovery::Completed:
      interrupted_ = Interrupted::Completed;
      view_.ShowMessage(kReplacementCompleted);
      break;
    case Recovery::Undone:
      interrupted_ = Interrupted::Undone;
      view_.ShowMessage(kReplacementUndone);
      break;
    case Recovery::Failed:
      interrupted_ = Interrupted::Failed;
      ReportError(std::string(kReplacementFailed) + "\n" + detail);
      Block(kReplacementFailed);
      break;
  }
}

bool TForm1::ReadProfile() {
  platform::FileSystem& files = services_.files;
  try {
    if (!files.FileExists(ProfilePath())) {
      MailboxName = "mailbox";
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
  if (const std::string problem = MailboxNameProblem(MailboxName); !problem.empty()) {
    // A name that reaches outside the profile folder: no file is looked at.
    BlockWithError(FormatMessage(kBadMailboxName, {MailboxName}));
    return false;
  }
  return true;
}

void TForm1::ReadOldIndex() {
  if (!services_.files.FileExists(IndexPath())) {
    Label2.SetCaption(kCannotFindMailbox);
    Block(kCannotFindMailbox);
    return;
  }
  // After a replacement that could not be settled the index is left unread: it may belong to
  // another store.
  if (interrupted_ != Interrupted::Failed) {
    try {
      // The message list goes to old_entries_, which keeps of it what the merge needs.
      LoadComponentFromFile(MailBox, IndexPath(), services_.files, &old_entries_);
    } catch (const Exception& e) {
      // A damaged index is what the repair mends: report it and keep what could be read.
      ReportError(e.what());
    }
  }
  Label2.SetCaption(kMailboxNamePrefix + UpperCase(MailboxName));
}

void TForm1::FormShow() {
  ProfileDir = "profile/default/";
  if (!app_dir_set_) {
    AppDir = services_.files.FolderOf(services_.files.ProgramPath());
    if (AppDir.empty()) AppDir = "./";
  }
  blocked_reason_.clear();
  figures_ = RepairFigures();
  old_entries_.Clear();
  SetState(State::Ready);
  platform::FileSystem& files = services_.files;
  MessageLines = std::make_unique<TStringList>();
  // A dry run goes on when another run holds the folder: it writes nothing, and says so.
  if (!TakeFolderLock() && !dry_run_) return;
  if (!ReadProfile()) {
    paths_ = MailboxPaths();
    return;
  }
  figures_.mailbox = MailboxName;
  mailbox_file_ = files.FileNameFromAnsi(MailboxName);
  paths_ = MailboxPaths::For(files, AppDir + ProfileDir, mailbox_file_);

  const bool running = ClientRunning();
  HandleInterruptedReplacement(running);
  if (interrupted_ == Interrupted::Completed || interrupted_ == Interrupted::Undone)
    paths_ = MailboxPaths::For(files, AppDir + ProfileDir, mailbox_file_);
  ReadOldIndex();

  // What an earlier run left behind is only noted: the label stays as it is, and the next run
  // makes each of these files anew.
  leftovers_.clear();
  for (const std::string* path : {&paths_.repaired, &paths_.indexTemp, &paths_.restore})
    if (files.FileExists(*path)) leftovers_.push_back(*path);

  if (running && interrupted_ != Interrupted::Pending) BlockWithError(kCloseClient);
  figures_.clientRunning = running;
  figures_.oldEntries = old_entries_.Count();
  figures_.storeBytes = files.FileSize(StorePath());
}

void TForm1::Button2Click() {
  if (!CloseQuery()) return;
  view_.CloseWindow();
}

void TForm1::FormClose() {
  // A close that reaches the form during a run (keyboard, window manager) is refused: the scan
  // still works on the form's message and store.
  if (!CloseQuery()) return;
  if (MessageLines) MessageLines->Clear();
  MessageLines.reset();
}

void TForm1::Button1Click() {
  // A dry run is made whatever start-up found, as long as it knows the mailbox's files.
  if (dry_run_ ? (state_ == State::Running || state_ == State::Done || paths_.store.empty())
               : state_ != State::Ready)
    return;
  SetState(State::Running);
  replaced_ = false;
  try {
    qvMailBox.MailItems().Clear();
    entries_.Clear();
    ScanMailbox();
  } catch (const std::exception& e) {
    // Whatever ends the run part-way leaves the old files as they were.
    EndRunUnchanged(e.what());
    return;
  }
  switch (scan_.status) {
    case ScanStatus::Scanned:
      break;
    case ScanStatus::Missing:
    case ScanStatus::Interrupted:  // (an error, which ended the run above)
      SetState(State::Done);
      return;
    case ScanStatus::CreateFailed:
      SetState(State::Done);
      view_.CloseWindow();
      return;
    case ScanStatus::NoMessages:
      figures_.scanned = true;
      EndRunUnchanged(dry_run_ ? "" : kNoMessagesFound);
      return;
  }
  try {
    FinishRun();
  } catch (const std::exception& e) {
    if (replacement_) replacement_->DiscardRepairedStore();
    ReportError(e.what());
  }
  SetState(State::Done);
}

void TForm1::EndRunUnchanged(const std::string& text) {
  RepairedStore.reset();
  if (replacement_) replacement_->DiscardRepairedStore();
  if (!text.empty()) ReportError(text);
  SetState(State::Done);
}

void TForm1::FinishRun() {
  MergeIndex();
  figures_.scanned = true;
  if (dry_run_) {
    RepairedStore.reset();
    return;
  }
  replaced_ = ReplaceFiles();
}

const std::vector<std::string>& TForm1::Backups() const noexcept {
  static const std::vector<std::string> kNone;
  return replacement_ ? replacement_->Backups() : kNone;
}

// --- the steps ---------------------------------------------------------------------------------

void TForm1::ShowProgress() {
  Label2.SetCaption(kRepairingMessage + IntToStr(MessageCount));
  view_.ProcessMessages();
}

void TForm1::NoteScan() {
  MessageCount = static_cast<std::int32_t>(scan_.messages);
  scanned_bytes_ = scan_.scannedBytes;
  figures_.leadingBytes = scan_.leadingBytes;
  if (scan_.status != ScanStatus::NoMessages && scan_.status != ScanStatus::Scanned) return;
  figures_.messages = scan_.messages;
  figures_.indexMatchesStore = scan_.indexMatchesStore;
}

void TForm1::CreateRepairedStore() {
  if (dry_run_)
    // The blocks are formed and counted, and go nowhere.
    RepairedStore = std::make_unique<NullStoreWriter>();
  else
    RepairedStore = std::make_unique<RepairedStoreWriter>(*replacement_, services_.files);
}

void TForm1::CloseRepairedStore() {
  if (!RepairedStore) return;
  std::unique_ptr<MessageSink> store = std::move(RepairedStore);
  store->Close();
}

void TForm1::ScanMailbox() {
  MessageCount = -1;
  scan_ = ScanResult();
  // The files may have changed since start-up (a link pointed elsewhere): name them afresh.
  paths_ = MailboxPaths::For(services_.files, AppDir + ProfileDir, mailbox_file_);
  replacement_ =
      dry_run_ ? nullptr : std::make_unique<Replacement>(services_.files, services_.clock, paths_);
  CreateRepairedStore();
  MessageIndexer indexer(clImportMsg, qvProfile.Accounts(), services_.clock, *RepairedStore,
                         entries_);
  const ScanInput input{services_.files, services_.clock, services_.locale.Names(), StorePath(),
                        &old_entries_, findings_};
  try {
    ScanStore(
        input, indexer,
        [this](const ScanResult& found) {
          MessageCount = static_cast<std::int32_t>(found.messages);
          scanned_bytes_ = found.scannedBytes;
          ShowProgress();
        },
        scan_);
  } catch (...) {
    NoteScan();
    throw;
  }
  NoteScan();
  switch (scan_.status) {
    case ScanStatus::Missing:
      RepairedStore.reset();
      ReportError(kCannotFindMailboxRun);
      return;
    case ScanStatus::CreateFailed:
      RepairedStore.reset();
      ReportError(std::string(kErrorCreatingBackup) + "\n" + scan_.error);
      return;
    default:
      break;
  }
  // The old entries' blocks were needed for the scan's comparison alone.
  old_entries_.ReleaseBlocks();
  CloseRepairedStore();
}

void TForm1::IndexMessage(std::span<const std::string_view> lines) {
  MessageIndexer(clImportMsg, qvProfile.Accounts(), services_.clock, *RepairedStore, entries_)
      .Index(lines);
  ++MessageCount;
}

std::string TForm1::AccountForRecipients(std::string_view recipients) const {
  return qv::AccountForRecipients(qvProfile.Accounts(), recipients);
}

void TForm1::MergeIndex() {
  const MergeFigures m = MergeEntries(entries_, old_entries_, scan_.leadingEntry, findings_);
  if (findings_ && m.droppedEntries > 0) {
    try {
      FindDroppedEntries(old_entries_, IndexPath(), services_.files, *findings_);
    } catch (const Exception&) {
      // A damaged index was reported as start-up read it; its entries read before the damage
      // are listed.
    }
  }
  RepairFigures& f = figures_;
  f.carriedOver = m.carriedOver;
  f.withoutMessageId = m.withoutMessageId;
  f.duplicateMessageIds = m.duplicateMessageIds;
  f.messages = m.messages;
  f.newInInbox = m.newInInbox;
  f.oldEntries = m.oldEntries;
  f.droppedEntries = m.droppedEntries;
}

bool TForm1::ReplaceFiles() {
  TCompactItemSource entries(MailBox.MailItems(), entries_);
  const Replacement::Outcome outcome = replacement_->Replace(
      {scan_.store, MailBox, &entries, backup_, [this] { return ClientRunning(); }});
  if (!outcome.error.empty()) ReportError(outcome.error);
  return outcome.replaced;
}

}  // namespace qv
