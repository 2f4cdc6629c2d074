#include "repair/Repair.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/StringUtils.h"
#include "components/ComponentFile.h"
#include "repair/DatePattern.h"
#include "repair/StoreReader.h"

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

namespace {
// A number as "%0*d" writes it, for a number of at least 0.
void AppendPadded(std::string& out, int value, int width) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int i = n; i < width; ++i)
    out += '0';
  while (n > 0)
    out += digits[--n];
}
}  // namespace

std::string FormatSeparatorDate(TDateTime d, const platform::LocaleNames& names) {
  const DateParts date = DecodeDate(d);
  const TimeParts time = DecodeTime(d);
  const auto& day = names.shortDayNames[static_cast<std::size_t>(DayOfWeek(d) - 1)];
  const auto& month = names.shortMonthNames[static_cast<std::size_t>(date.month - 1)];
  if (date.year < 0 || date.day < 0 || time.hour < 0 || time.min < 0 || time.sec < 0)
    return day + " " + month + " " +
           Format("%02d %02d:%02d:%02d %04d", date.day, time.hour, time.min, time.sec, date.year);
  // Written for every message: without the formatting machinery of Format.
  std::string text;
  text.reserve(day.size() + month.size() + 22);
  text += day;
  text += ' ';
  text += month;
  text += ' ';
  AppendPadded(text, date.day, 2);
  text += ' ';
  AppendPadded(text, time.hour, 2);
  text += ':';
  AppendPadded(text, time.min, 2);
  text += ':';
  AppendPadded(text, time.sec, 2);
  text += ' ';
  AppendPadded(text, date.year, 4);
  return text;
}

std::string ExtractAngleAddress(std::string_view text) {
  const std::size_t lt = text.find('<');
  if (lt == std::string_view::npos) return std::string(text);
  const std::size_t gt = text.find('>');
  if (gt == std::string_view::npos) return std::string(text);
  if (gt <= lt) return "";
  return Trim(text.substr(lt + 1, gt - lt - 1));
}

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
  if (!TakeFolderLock() && !dry_run_) return;

  bool profileRead = true;
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
    profileRead = false;
  }
  if (profileRead) {
    if (const std::string problem = MailboxNameProblem(files.FileNameFromAnsi(MailboxName));
        !problem.empty()) {
      // A name that reaches outside the profile folder: no file is looked at.
      BlockWithError(FormatMessage(kBadMailboxName, {MailboxName}));
      profileRead = false;
    }
  }
  if (!profileRead) {
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

  if (!files.FileExists(IndexPath())) {
    Label2.SetCaption(kCannotFindMailbox);
    Block(kCannotFindMailbox);
  } else {
    // After a replacement that could not be settled the index is left unread: it may belong to
    // another store.
    if (interrupted_ != Interrupted::Failed) {
      try {
        // The message list goes to old_entries_, which keeps of it what the merge needs.
        LoadComponentFromFile(MailBox, IndexPath(), files, &old_entries_);
      } catch (const Exception& e) {
        // A damaged index is what the repair mends: report it and keep what could be read.
        ReportError(e.what());
      }
    }
    Label2.SetCaption(kMailboxNamePrefix + UpperCase(MailboxName));
  }

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
    DiscardRepairedStore();
    ReportError(e.what());
    SetState(State::Done);
    return;
  }
  if (store_missing_) {
    SetState(State::Done);
    return;
  }
  if (create_failed_) {
    SetState(State::Done);
    view_.CloseWindow();
    return;
  }
  if (!started_ && store_size_ > 0) {
    // A store with text but no recognised message is never replaced by an empty one.
    DiscardRepairedStore();
    figures_.scanned = true;
    if (!dry_run_) ReportError(kNoMessagesFound);
    SetState(State::Done);
    return;
  }
  try {
    MergeIndex();
    figures_.scanned = true;
    if (dry_run_) {
      RepairedStore.reset();
      SetState(State::Done);
      return;
    }
    replaced_ = ReplaceFiles();
  } catch (const std::exception& e) {
    DiscardRepairedStore();
    ReportError(e.what());
  }
  SetState(State::Done);
}

// --- scan --------------------------------------------------------------------------------------

void TForm1::CreateRepairedStore() {
  RepairedStore.reset();
  repaired_size_ = 0;
  if (dry_run_) {
    // The blocks are formed and counted, and go nowhere.
    RepairedStore = std::make_unique<TNullStream>();
    return;
  }
  try {
    RepairedStore = services_.files.CreateFile(RepairedPath());
    repaired_created_ = true;
    repaired_stamp_ = services_.files.Stamp(RepairedPath());
  } catch (const EFCreateError& e) {
    ReportError(std::string(kErrorCreatingBackup) + "\n" + e.what());
  }
  repaired_size_ = 0;
}

void TForm1::CloseRepairedStore() {
  if (!RepairedStore) return;
  std::unique_ptr<TStream> store = std::move(RepairedStore);
  store->Commit();
}

void TForm1::DiscardRepairedStore() {
  RepairedStore.reset();
  // Only what this run created is removed (whether or not it is still open, and whatever kind of
  // entry the name turned out to be); a repaired store kept by an earlier run stays.
  if (!repaired_created_) return;
  repaired_created_ = false;
  std::string ignored;
  services_.files.DeleteFile(RepairedPath(), &ignored);
}

void TForm1::ShowProgress() {
  Label2.SetCaption(kRepairingMessage + IntToStr(MessageCount));
  view_.ProcessMessages();
}

void TForm1::ScanMailbox() {
  MessageCount = -1;
  started_ = false;
  store_missing_ = false;
  create_failed_ = false;
  store_size_ = 0;
  if (!services_.files.FileExists(StorePath())) {
    ReportError(kCannotFindMailboxRun);
    store_missing_ = true;
    return;
  }
  // The files may have changed since start-up (a link pointed elsewhere): name them afresh.
  paths_ = MailboxPaths::For(services_.files, AppDir + ProfileDir, mailbox_file_);
  scan_store_ = services_.files.Stamp(StorePath());
  const std::unique_ptr<TStream> storeFile = services_.files.OpenRead(StorePath());
  TStream& store = *storeFile;
  store_size_ = store.Size();
  MessageCount = 0;
  CreateRepairedStore();
  if (!RepairedStore) {
    create_failed_ = true;
    return;
  }
  const platform::LocaleNames& names = services_.locale.Names();
  StoreReader reader(store);
  held_lines_.clear();
  leading_entry_ = -1;
  index_matches_ = true;
  scanned_bytes_ = 0;
  // The repaired store goes to the disk while the scan goes on, rather than all of it at the
  // sync before it replaces the store.
  constexpr std::int64_t kWritebackStep = std::int64_t{16} << 20;
  std::int64_t writtenBack = 0;
  std::int64_t blockStart = 0;  // where the current message's separator line begins
  bool leadingText = false;     // text other than blank lines before the first separator
  // A message's lines are not copied: the reader holds its bytes from its separator on, the scan
  // notes where each line stands, and the message is indexed from views of them. Lines before the
  // first separator belong to no message; they are only tested for a separator and for text, so
  // a line too long for the buffer is read through rather than gathered.
  std::string_view line;
  while (reader.ReadLineOrSketch(line)) {
    if (IsSeparatorLine(line, names, services_.clock)) {
      const std::int64_t at = reader.LineOffset();
      if (started_) {
        CheckOldEntry(blockStart, at - blockStart);
        IndexHeldMessage(reader.Held());
      } else {
        figures_.leadingBytes = at;
        // Text before the first separator is most often a message whose separator was damaged:
        // it is kept as a message of its own. It is read again from the store rather than held
        // while the scan looks for a separator that may never come.
        if (leadingText) IndexLeadingText(at);
      }
      blockStart = at;
      if (!dry_run_ && repaired_size_ - writtenBack >= kWritebackStep) {
        RepairedStore->Flush();
        services_.files.StartWriteback(RepairedPath());
        writtenBack = repaired_size_;
      }
      scanned_bytes_ = reader.Offset();
      ShowProgress();
      started_ = true;
      reader.Hold();
      held_lines_.clear();
    } else if (started_) {
      held_lines_.push_back(
          {static_cast<std::size_t>(line.data() - reader.Held().data()), line.size()});
    } else if (!leadingText) {
      leadingText = line.find_first_not_of(" \t\r") != std::string_view::npos;
    }
  }
  if (started_) {
    CheckOldEntry(blockStart, reader.Offset() - blockStart);
    IndexHeldMessage(reader.Held());
  } else {
    figures_.leadingBytes = reader.Offset();
  }
  scanned_bytes_ = reader.Offset();
  figures_.messages = MessageCount;
  figures_.indexMatchesStore =
      index_matches_ && leading_entry_ < 0 && MessageCount == old_entries_.Count();
  // The old entries' blocks were needed for that alone.
  old_entries_.ReleaseBlocks();
  ShowProgress();
  CloseRepairedStore();
}

namespace {
// The first `limit` bytes of a stream.
class TLimitedStream : public TStream {
 public:
  TLimitedStream(TStream& source, std::int64_t limit) : source_(source), left_(limit) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), left_));
    const std::size_t got = n == 0 ? 0 : source_.Read(buffer, n);
    left_ -= static_cast<std::int64_t>(got);
    return got;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t, SeekOrigin) override { return 0; }
  void SetSize(std::int64_t) override {}

 private:
  TStream& source_;
  std::int64_t left_;
};
}  // namespace

void TForm1::IndexLeadingText(std::int64_t bytes) {
  const std::unique_ptr<TStream> again = services_.files.OpenRead(StorePath());
  TLimitedStream leading(*again, bytes);
  StoreReader reader(leading);
  reader.Hold();
  held_lines_.clear();
  std::string_view line;
  while (reader.ReadLine(line))
    held_lines_.push_back(
        {static_cast<std::size_t>(line.data() - reader.Held().data()), line.size()});
  leading_entry_ = MessageCount;
  index_matches_ = false;
  IndexHeldMessage(reader.Held());
  held_lines_.clear();
}

void TForm1::IndexHeldMessage(std::string_view held) {
  message_views_.clear();
  for (const HeldLine& l : held_lines_)
    message_views_.emplace_back(held.data() + l.offset, l.length);
  IndexMessage(message_views_);
}

void TForm1::CheckOldEntry(std::int64_t blockOffset, std::int64_t blockSize) {
  if (!index_matches_) return;
  index_matches_ = old_entries_.BlockIs(MessageCount, blockOffset, blockSize);
}

// --- indexing ----------------------------------------------------------------------------------

std::string TForm1::AccountForRecipients(std::string_view recipients) const {
  TAccounts& accounts = qvProfile.Accounts();
  if (accounts.Count() == 0) return kDefaultAccount;
  std::string result = accounts.ItemAt(0).Account();
  const std::size_t at = recipients.find('@');
  const std::size_t comma = recipients.find(',');
  const std::size_t start = at == std::string_view::npos ? 0 : at + 1;
  const std::size_t end = comma == std::string_view::npos ? recipients.size() : comma;
  const std::string_view domain =
      end > start ? recipients.substr(start, end - start) : std::string_view();
  if (domain.empty()) return result;
  for (int i = 0; i < accounts.Count(); ++i) {
    const TAccount& account = accounts.ItemAt(i);
    if (LowerCase(account.Server()).find(domain) != std::string::npos) result = account.Account();
  }
  return result;
}

std::size_t TForm1::WriteBlock(std::string_view separator, std::span<const std::string_view> lines,
                               std::string_view ending) {
  // The block is gathered in a buffer kept from message to message and written whenever the
  // buffer is full; a line too long to be worth gathering is written from where it stands, so
  // that no copy of it is made.
  constexpr std::size_t kBuffer = std::size_t{256} << 10;
  constexpr std::size_t kLongLine = std::size_t{64} << 10;
  if (!block_) block_ = std::make_unique<char[]>(kBuffer);
  char* const begin = block_.get();
  char* const end = begin + kBuffer;
  char* p = begin;
  std::size_t written = ending.size();
  auto flush = [&] {
    RepairedStore->WriteBuffer(begin, static_cast<std::size_t>(p - begin));
    p = begin;
  };
  auto putLine = [&](std::string_view line) {
    written += line.size() + 2;
    if (line.size() >= kLongLine) {
      flush();
      RepairedStore->WriteBuffer(line.data(), line.size());
    } else {
      if (static_cast<std::size_t>(end - p) < line.size() + 2) flush();
      if (!line.empty()) std::memcpy(p, line.data(), line.size());
      p += line.size();
    }
    if (end - p < 2) flush();
    *p++ = '\r';
    *p++ = '\n';
  };
  putLine(separator);
  for (const std::string_view line : lines)
    putLine(line);
  if (static_cast<std::size_t>(end - p) < ending.size()) flush();
  for (const char c : ending)
    *p++ = c;
  flush();
  return written;
}

void TForm1::IndexMessage(std::span<const std::string_view> lines) {
  // The message is read for its entry only: header fields and the classes of its parts.
  clImportMsg.LoadOutline(lines);

  // The block: a new separator, the lines as read and, when the last line is not empty, one more
  // line holding CR LF; every line followed by CR LF. A message without lines is written as its
  // separator and one empty line.
  // A stray CR of the sender's field stays out of it: a separator line holds none inside, so it
  // would not read back as one.
  std::string address = ExtractAngleAddress(clImportMsg.From());
  std::erase(address, '\r');
  const std::string separator =
      "From " + address + " " +
      FormatSeparatorDate(services_.clock.Now(), platform::EnglishNames());
  // An empty message gets the empty line alone, so that it reads back as the same block.
  const std::string_view ending = lines.empty() ? "\r\n" : lines.back().empty() ? "" : "\r\n\r\n";
  const std::int64_t offset = repaired_size_;
  const auto total = static_cast<std::int64_t>(WriteBlock(separator, lines, ending));
  repaired_size_ += total;

  bool hasAttachment = false;
  if (clImportMsg.IsMultipart()) {
    const TclMessageBodies& bodies = clImportMsg.Bodies();
    for (int i = 0; i < bodies.Count(); ++i)
      if (dynamic_cast<const TclAttachmentBody*>(&bodies.Items(i)) != nullptr) hasAttachment = true;
  }
  const std::string recipients = clImportMsg.ToList().CommaText();
  std::string sender = clImportMsg.From();
  std::erase(sender, '"');

  TMailMessageItem item;
  item.SetF0(kInboxKey);
  item.SetF2(clImportMsg.MessageID());
  item.SetF15(offset);
  item.SetF1(false);
  item.SetF3(clImportMsg.Priority() == mpHigh ? 2 : -1);
  item.SetF4(hasAttachment);
  item.SetF5(false);
  item.SetF6(AccountForRecipients(recipients));
  item.SetF7(sender);
  item.SetF8(recipients);
  item.SetF9(clImportMsg.Subject());
  item.SetF10(total);
  item.SetF11(clImportMsg.Date());
  item.SetF12(clImportMsg.Date());
  item.SetF13(0);
  item.SetF14("");
  entries_.Add(item);
  ++MessageCount;
}

// --- merge -------------------------------------------------------------------------------------

void TForm1::MergeIndex() {
  TCompactMessageList& rebuilt = entries_;
  OldIndex& old = old_entries_;
  old.ResetMatches();
  // The identifiers that no old entry has, each under its first message: a second message with
  // one is a duplicate as well.
  TextKeyIndex unknown;
  const auto identifierOf = [&rebuilt](std::uint32_t n) { return rebuilt.F2(n); };
  RepairFigures& f = figures_;
  f.carriedOver = f.withoutMessageId = f.duplicateMessageIds = 0;
  for (std::size_t i = 0; i < rebuilt.Count(); ++i) {
    OldIndex::Placement placement;
    bool match = false;
    if (const std::string_view id = rebuilt.F2(i); !id.empty()) {
      bool repeat = false;
      match = old.MatchIdentifier(id, placement, repeat);
      if (!match) {
        const auto n = static_cast<std::uint32_t>(i);
        repeat = unknown.Insert(id, TextKeyIndex::Hash(id), n, identifierOf) != n;
      }
      if (repeat) ++f.duplicateMessageIds;
    } else {
      ++f.withoutMessageId;
      // The text before the first separator is matched by its identifier only.
      if (static_cast<std::int64_t>(i) != leading_entry_)
        match = old.MatchAnonymous(rebuilt.F7(i), rebuilt.F9(i), rebuilt.F11(i), placement);
    }
    if (!match) continue;
    ++f.carriedOver;
    rebuilt.SetPlacement(i, placement.folder, placement.read);
  }
  f.messages = static_cast<std::int64_t>(rebuilt.Count());
  f.newInInbox = f.messages - f.carriedOver;
  f.oldEntries = old.Count();
  f.droppedEntries = old.Unmatched();
}

// --- replacing the files -----------------------------------------------------------------------

bool TForm1::StoreChangedSinceScan() {
  return services_.files.Stamp(StorePath()) != scan_store_ || ClientRunning();
}

void TForm1::MakeBackups() {
  platform::FileSystem& files = services_.files;
  const TDateTime now = services_.clock.Now();
  const DateParts d = DecodeDate(now);
  const TimeParts t = DecodeTime(now);
  const std::string suffix =
      Format(".bak-%04d%02d%02d-%02d%02d%02d", d.year, d.month, d.day, t.hour, t.min, t.sec);
  backups_.clear();
  try {
    for (const auto& [name, target] : {std::pair(&paths_.store, &paths_.storeTarget),
                                       std::pair(&paths_.index, &paths_.indexTarget)}) {
      if (!files.FileExists(*target)) continue;
      const std::string backup = files.SiblingPath(*name, suffix);
      // The name must be new: an earlier backup is never written over.
      if (files.FileExists(backup))
        throw EFCreateError(FormatMessage(kFCreateError, {backup, "File exists"}));
      LinkOrCopy(files, *target, backup, true);
      backups_.push_back(backup);
    }
  } catch (...) {
    RemoveBackups();
    throw;
  }
}

void TForm1::RemoveBackups() {
  // Backups of a pair that stays in place are of no use.
  for (const std::string& backup : backups_)
    services_.files.DeleteFile(backup, nullptr);
  backups_.clear();
}

bool TForm1::AbandonReplacement(const std::string& text) {
  platform::FileSystem& files = services_.files;
  for (const std::string* path : {&paths_.indexTemp, &paths_.restore, &paths_.journal})
    if (files.FileExists(*path)) files.DeleteFile(*path, nullptr);
  RemoveBackups();
  DiscardRepairedStore();
  ReportError(text);
  return false;
}

bool TForm1::ReplaceFiles() {
  platform::FileSystem& files = services_.files;
  const MailboxPaths& p = paths_;
  std::string error;
  if (!files.SyncFile(p.repaired, &error)) {
    DiscardRepairedStore();
    ReportError(FormatMessage("Cannot flush file \"%s\". %s", {p.repaired, error}));
    return false;
  }
  // The repaired store must still be the very file this run wrote, whole. Another program's
  // file under that name is left to it.
  const platform::FileStamp repaired = files.Stamp(p.repaired);
  if (!repaired.SameFile(repaired_stamp_) || repaired.size != repaired_size_) {
    if (!repaired.SameFile(repaired_stamp_)) repaired_created_ = false;
    DiscardRepairedStore();
    ReportError(kRepairedChanged);
    return false;
  }
  // A mail client that ran during the scan may have added mail that the repaired store lacks.
  if (StoreChangedSinceScan()) {
    DiscardRepairedStore();
    ReportError(kStoreChanged);
    return false;
  }
  // The repaired store takes the access rights (and owner) of the store it replaces.
  if (!files.CopyPermissions(p.storeTarget, p.repaired, &error)) {
    DiscardRepairedStore();
    ReportError(FormatMessage("Cannot set the access rights of \"%s\". %s", {p.repaired, error}));
    return false;
  }

  if (backup_) {
    try {
      MakeBackups();
    } catch (const Exception& e) {
      return AbandonReplacement(e.what());
    }
  }

  // Before the first rename: the new index beside the old one, the old index kept under a second
  // name, and the journal that lets the next start finish or undo what a crash interrupts.
  ReplacementRecord record;
  try {
    TCompactItemSource entries(MailBox.MailItems(), entries_);
    WriteComponentTemporary(MailBox, p.indexTarget, files, &entries);
    record.oldIndex = files.Stamp(p.indexTarget);
    record.newIndex = files.Stamp(p.indexTemp);
    if (record.oldIndex.exists) record.oldIndexSum = FileChecksum(files, p.indexTarget);
    record.newIndexSum = FileChecksum(files, p.indexTemp);
    record.oldStore = scan_store_;
    record.newStore = repaired;
    if (record.oldIndex.exists) KeepOldIndex(files, p);
    WriteJournal(files, p, record);
  } catch (const Exception& e) {
    return AbandonReplacement(e.what());
  }

  if (!files.ReplaceFile(p.indexTemp, p.indexTarget, &error))
    return AbandonReplacement(
        FormatMessage("Cannot replace file \"%s\". %s", {p.indexTarget, error}));

  if (!files.ReplaceFile(p.repaired, p.storeTarget, &error)) {
    std::string text = FormatMessage("Cannot replace file \"%s\". %s", {p.storeTarget, error});
    // The old index goes back beside the old store.
    const bool back = record.oldIndex.exists ? files.ReplaceFile(p.restore, p.indexTarget, &error)
                                             : files.DeleteFile(p.indexTarget, &error);
    if (back) {
      SyncReplacementFolders(files, p, nullptr);
      files.DeleteFile(p.journal, nullptr);
      RemoveBackups();
      DiscardRepairedStore();
    } else {
      // The new index is in place and describes the repaired store: that is kept, and the
      // journal with it, so that the next start puts the pair together.
      repaired_created_ = false;
      text += FormatMessage(" The old index could not be put back: %s", {error});
      text += FormatMessage(" The repaired mailbox is kept as \"%s\".", {p.repaired});
    }
    ReportError(text);
    return false;
  }
  repaired_created_ = false;  // it is the store now

  if (!SyncReplacementFolders(files, p, &error)) {
    // Both files are in place; their names may not yet be on the disk. The journal stays, so
    // that the next start makes sure of them.
    ReportError(error);
    return true;
  }
  // The journal goes last and only once the kept index is gone: whatever stays behind, the next
  // start finds the journal and clears it.
  if (!files.FileExists(p.restore) || files.DeleteFile(p.restore, nullptr))
    files.DeleteFile(p.journal, nullptr);
  SyncReplacementFolders(files, p, nullptr);
  return true;
}

}  // namespace qv
