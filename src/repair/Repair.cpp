#include "repair/Repair.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>
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

std::string VisibleText(std::string_view text) {
  std::string r;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F)
      r += Format("\\x%02X", u);
    else
      r += c;
  }
  return r;
}

std::string ErrorText(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return kOutOfMemory;
  return e.what();
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
  dir = services_.files.NativePath(std::move(dir));
  if (!dir.empty() && services_.files.PathSeparators().find(dir.back()) == std::string_view::npos)
    dir += services_.files.PathSeparators().front();
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
  // (An export holds it also when blocked only by a missing index, which it does without.)
  if (s == State::Done || (s == State::Blocked && !export_)) folder_lock_.reset();
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
  client_holder_ = platform::InstanceProbe::FileHolder();
  if (IsAppRunning(kAppMutexName)) return true;
  return !paths_.store.empty() &&
         services_.probe.FindFileHolder({paths_.store, paths_.index}, client_holder_);
}

std::string TForm1::CloseClientText() const {
  const platform::InstanceProbe::FileHolder& h = client_holder_;
  if (h.file.empty()) return kCloseClient;
  const std::string who = h.pid == 0
                              ? std::string("another process")
                              : FormatMessage("process %d (%s)", {IntToStr(h.pid), h.program});
  return std::string(kCloseClient) + "\n" + FileDetail(h.file, "open in " + who);
}

void TForm1::Block(const std::string& reason) {
  if (blocked_reason_.empty()) blocked_reason_ = reason;
  figures_.blocked = blocked_reason_;
  SetState(State::Blocked);
}

void TForm1::BlockWithError(const std::string& reason) {
  // A dry run reports why a repair would not start in its figures, not as an error.
  if (!dry_run_ || export_) ReportError(reason);
  Block(reason);
}

bool TForm1::TakeFolderLock() {
  // One repair per program folder at a time, whichever program starts it. A folder that does
  // not exist holds no mailbox, which the steps below find.
  const std::string folder = AppDir + ProfileDir;
  bool heldByOther = false;
  std::string error;
  if (dry_run_) {
    // A dry run only looks, so that it never keeps a repair out.
    heldByOther = services_.files.FolderLockHeld(folder);
  } else {
    // A dry run looks at the lock for a moment: a repair tries again a little before it yields.
    for (int attempt = 0; attempt < 20; ++attempt) {
      folder_lock_ = services_.files.LockFolder(folder, &heldByOther, &error);
      if (folder_lock_ || !heldByOther) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  other_run_ = heldByOther && !folder_lock_;
  if (folder_lock_) return true;
  if (heldByOther) {
    BlockWithError(kRepairRunning);
    return false;
  }
  return true;
}

// The start-up steps (interrupted replacements, the profile, the old index) are in
// RepairStartup.cpp.

void TForm1::FormShow() {
  ProfileDir = services_.files.NativePath("profile/default/");
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
  if (!TakeFolderLock() && (!dry_run_ || export_)) return;
  if (!ReadProfile()) {
    paths_ = MailboxPaths();
    return;
  }
  figures_.mailbox = MailboxName;
  mailbox_file_ = files.FileNameFromAnsi(MailboxName);
  paths_ = MailboxPaths::For(files, AppDir + ProfileDir, mailbox_file_);

  const bool running = ClientRunning();
  HandleInterruptedReplacement(running);
  if (keep_current_) {
    // Settling is all this start does.
    if (state_ != State::Blocked) SetState(State::Done);
    return;
  }
  if (interrupted_ != Interrupted::None && interrupted_ != Interrupted::Pending &&
      interrupted_ != Interrupted::Failed)
    paths_ = MailboxPaths::For(files, AppDir + ProfileDir, mailbox_file_);
  try {
    ReadOldIndex();
  } catch (const std::exception& e) {
    // Nothing is offered (a dry run has nothing to scan against).
    BlockWithError(ErrorText(e));
    paths_ = MailboxPaths();
    return;
  }
  RefuseReadOnlyFiles();

  // What an earlier run left behind without a journal naming it is only noted: no journal says
  // that it is this utility's, so it stays, and a run makes its files under other names.
  leftovers_.clear();
  for (const std::string* path :
       {&paths_.repaired, &paths_.indexTemp, &paths_.restore, &paths_.storeRestore})
    if (files.EntryExists(*path)) leftovers_.push_back(*path);

  if (running && interrupted_ != Interrupted::Pending) BlockWithError(CloseClientText());
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
  if (export_ && !StartExport()) return;
  SetState(State::Running);
  replaced_ = false;
  unsettled_ = false;
  replaced_with_error_ = false;
  try {
    qvMailBox.MailItems().Clear();
    entries_.Clear();
    RereadOldIndex();
    ScanMailbox();
  } catch (const std::exception& e) {
    // Whatever ends the run part-way leaves the old files as they were.
    EndRunUnchanged(ErrorText(e));
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
      EndRunUnchanged(dry_run_ && !export_ ? ""
                                           : std::string(kNoMessagesFound) + "\n" + scan_.error);
      return;
  }
  try {
    FinishRun();
  } catch (const std::exception& e) {
    if (replacement_) replacement_->Discard();
    ReportError(ErrorText(e));
  }
  SetState(State::Done);
}

void TForm1::EndRunUnchanged(const std::string& text) {
  RepairedStore.reset();
  if (replacement_) replacement_->Discard();
  if (!text.empty()) ReportError(text);
  SetState(State::Done);
}

void TForm1::FinishRun() {
  MergeIndex();
  figures_.scanned = true;
  if (dry_run_) {
    RepairedStore.reset();
    if (export_) ExportMessages();
    return;
  }
  replaced_ = ReplaceFiles();
}

std::string TForm1::RepairedPath() const {
  return replacement_ ? replacement_->RepairedPath() : paths_.repaired;
}

const std::vector<std::string>& TForm1::Backups() const noexcept {
  static const std::vector<std::string> kNone;
  return replacement_ ? replacement_->Backups() : kNone;
}

// --- the steps ---------------------------------------------------------------------------------

void TForm1::ShowProgress() {
  Label2.SetCaption((export_ ? kReadingMessage : kRepairingMessage) + IntToStr(MessageCount));
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
  replacement_ = dry_run_ ? nullptr
                          : std::make_unique<Replacement>(services_.files, services_.clock, paths_,
                                                          index_read_);
  // Other programs may read the store but not write to it until the replacement begins (where the
  // system has such a rule).
  std::string error;
  if (replacement_ && services_.files.FileExists(StorePath()) && !replacement_->HoldStore(&error))
    throw EFOpenError(std::string(kCloseClient) + "\n" +
                      FormatMessage("\"%s\": %s", {paths_.storeTarget, error}));
  CreateRepairedStore();
  MessageIndexer indexer(clImportMsg, qvProfile.Accounts(), services_.clock, *RepairedStore,
                         entries_);
  const ScanInput input{services_.files, services_.clock, services_.locale.Names(),
                        StorePath(),     &old_entries_,   findings_};
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
      ReportError(std::string(kCannotFindMailboxRun) + "\n" + scan_.error);
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

void TForm1::SetExport(ExportTarget target) {
  export_ = std::move(target);
  dry_run_ = true;
}

bool TForm1::StartExport() {
  exported_ = ExportResult();
  exported_bytes_ = 0;
  // Without an index the export goes on: every message to the Inbox. What else keeps a repair
  // from starting (another run, the mail client, no profile) was reported and stops it too.
  const bool onlyIndexMissing = index_missing_ && blocked_reason_.starts_with(kCannotFindMailbox);
  if ((state_ == State::Blocked && !onlyIndexMissing) || figures_.clientRunning) return false;
  std::string full;
  const std::string error = PrepareExportFolder(services_.files, export_->out, AppDir, false, full);
  if (error.empty()) return true;
  ReportError(error);
  SetState(State::Done);
  return false;
}

void TForm1::ExportMessages() {
  const ExportInput input{services_.files, services_.clock, services_.locale.Names(),
                          StorePath(),     scan_.store,     AppDir};
  ExportStore(
      input, MailBox.TreeItems(), entries_, *export_,
      [this](const ScanResult& found) {
        MessageCount = static_cast<std::int32_t>(found.messages);
        exported_bytes_ = found.scannedBytes;
        Label2.SetCaption(kExportingMessage + IntToStr(MessageCount));
        view_.ProcessMessages();
      },
      exported_);
  if (!exported_.error.empty()) ReportError(exported_.error);
}

bool TForm1::ReplaceFiles() {
  TCompactItemSource entries(MailBox.MailItems(), entries_);
  const Replacement::Outcome outcome = replacement_->Replace(
      {scan_.store, MailBox, &entries, backup_, [this] { return ClientRunning(); }});
  if (!outcome.error.empty()) ReportError(outcome.error);
  unsettled_ = !outcome.settled;
  replaced_with_error_ = outcome.replaced && !outcome.error.empty();
  return outcome.replaced;
}

}  // namespace qv
