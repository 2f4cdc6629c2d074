#include "repair/Replacement.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"
#include "components/ComponentFile.h"

namespace qv {

using platform::FileStamp;
using platform::FileSystem;

MailboxPaths MailboxPaths::For(FileSystem& files, const std::string& folder,
                               const std::string& fileName) {
  MailboxPaths p;
  p.folder = folder;
  const std::string base = folder + fileName;
  p.store = base + ".mbx";
  p.index = base + ".idx";
  p.storeTarget = files.ResolveLinks(p.store);
  p.indexTarget = files.ResolveLinks(p.index);
  if (p.storeTarget == p.store) {
    p.repaired = base + ".xyz";
  } else {
    const std::string& t = p.storeTarget;
    const bool mbx = t.size() > 4 && SameText(std::string_view(t).substr(t.size() - 4), ".mbx");
    p.repaired = mbx ? t.substr(0, t.size() - 4) + ".xyz" : files.SiblingPath(t, ".xyz");
  }
  p.indexTemp = TemporarySaveName(p.indexTarget, files);
  p.restore = files.SiblingPath(p.indexTarget, ".restore");
  p.journal = files.SiblingPath(p.index, ".journal");
  return p;
}

std::vector<std::string> MailboxPaths::Folders(const FileSystem& files) const {
  std::vector<std::string> folders;
  for (const std::string* path : {&journal, &indexTarget, &storeTarget}) {
    std::string f = files.FolderOf(*path);
    if (f.empty()) f = ".";
    if (std::find(folders.begin(), folders.end(), f) == folders.end()) folders.push_back(f);
  }
  return folders;
}

// --- the record --------------------------------------------------------------------------------

namespace {
constexpr const char* kRecordHead = "qvrepair replacement 1";
constexpr const char* kRecordEnd = "end";
const char* const kRecordFields[] = {"old-index", "new-index", "old-store", "new-store"};

FileStamp* Field(ReplacementRecord& r, int i) {
  FileStamp* fields[] = {&r.oldIndex, &r.newIndex, &r.oldStore, &r.newStore};
  return fields[i];
}
}  // namespace

std::uint32_t FileChecksum(FileSystem& files, const std::string& path) {
  // CRC-32 (the reflected polynomial 0xEDB88320), eight bytes a step: tables[k][b] is the CRC of
  // byte b followed by k zero bytes, so the eight lookups of a step are independent.
  static const auto tables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
      for (std::size_t i = 0; i < 256; ++i)
        t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  try {
    const std::unique_ptr<TStream> in = files.OpenRead(path);
    std::vector<unsigned char> block(std::size_t{1} << 16);
    for (std::size_t n; (n = in->Read(block.data(), block.size())) > 0;) {
      const unsigned char* p = block.data();
      const unsigned char* const end = p + n;
      for (; end - p >= 8; p += 8) {
        const std::uint32_t low = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                         std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^
              tables[0][p[7]];
      }
      for (; p < end; ++p)
        crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    }
  } catch (const Exception&) {
    return 0;
  }
  return crc ^ 0xFFFFFFFFu;
}

std::string FormatReplacementRecord(const ReplacementRecord& record) {
  ReplacementRecord r = record;
  std::string text = std::string(kRecordHead) + "\n";
  for (int i = 0; i < 4; ++i) {
    const FileStamp& s = *Field(r, i);
    char line[160];
    std::snprintf(line, sizeof line, "%s %d %" PRIu64 " %" PRIu64 " %" PRId64, kRecordFields[i],
                  s.exists ? 1 : 0, s.volume, s.id, s.size);
    text += line;
    if (i < 2) text += " " + std::to_string(i == 0 ? r.oldIndexSum : r.newIndexSum);
    text += "\n";
  }
  return text + kRecordEnd + "\n";
}

bool ParseReplacementRecord(const std::string& text, ReplacementRecord& record) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kRecordHead) return false;
  ReplacementRecord r;
  for (int i = 0; i < 4; ++i) {
    if (!std::getline(in, line)) return false;
    std::istringstream fields(line);
    std::string name;
    int exists = 0;
    FileStamp& s = *Field(r, i);
    if (!(fields >> name >> exists >> s.volume >> s.id >> s.size) || name != kRecordFields[i])
      return false;
    if (i < 2 && !(fields >> (i == 0 ? r.oldIndexSum : r.newIndexSum))) return false;
    s.exists = exists == 1;
  }
  if (!std::getline(in, line) || line != kRecordEnd) return false;
  record = r;
  return true;
}

// --- the steps before the first rename ---------------------------------------------------------

namespace {
[[noreturn]] void Raise(const char* pattern, const std::string& path, const std::string& error) {
  throw EWriteError(FormatMessage(pattern, {path, error}));
}
constexpr const char* kFlushFile = "Cannot flush file \"%s\". %s";
constexpr const char* kReplaceFile = "Cannot replace file \"%s\". %s";
}  // namespace

void LinkOrCopy(FileSystem& files, const std::string& from, const std::string& to,
                bool keepRights) {
  std::string error;
  switch (files.LinkFile(from, to, &error)) {
    case platform::LinkOutcome::Linked:
      return;
    case platform::LinkOutcome::Failed:
      throw EFCreateError(FormatMessage(kFCreateError, {to, error}));
    case platform::LinkOutcome::NotSupported:
      break;
  }
  {
    const std::unique_ptr<TStream> in = files.OpenRead(from);
    const std::unique_ptr<TStream> out = files.CreateFile(to);
    try {
      out->CopyFrom(*in, 0);
      out->Commit();
    } catch (...) {
      files.DeleteFile(to, nullptr);
      throw;
    }
  }
  if ((keepRights && !files.CopyPermissions(from, to, &error)) || !files.SyncFile(to, &error)) {
    files.DeleteFile(to, nullptr);
    Raise(kFlushFile, to, error);
  }
}

void KeepOldIndex(FileSystem& files, const MailboxPaths& paths) {
  // Whatever an earlier run left under the name goes first.
  if (files.FileExists(paths.restore)) files.DeleteFile(paths.restore, nullptr);
  LinkOrCopy(files, paths.indexTarget, paths.restore, false);
}

void WriteJournal(FileSystem& files, const MailboxPaths& paths, const ReplacementRecord& record) {
  std::string error;
  try {
    const std::unique_ptr<TStream> out = files.CreateFile(paths.journal);
    out->WriteString(FormatReplacementRecord(record));
    out->Commit();
    if (!files.SyncFile(paths.journal, &error)) Raise(kFlushFile, paths.journal, error);
    // The journal's name must be on the disk before anything is renamed.
    const std::string folder = files.FolderOf(paths.journal);
    if (!files.SyncFolder(folder.empty() ? "." : folder, &error))
      Raise("Cannot flush folder \"%s\". %s", folder, error);
  } catch (...) {
    files.DeleteFile(paths.journal, nullptr);
    throw;
  }
}

bool SyncReplacementFolders(FileSystem& files, const MailboxPaths& paths, std::string* error) {
  for (const std::string& folder : paths.Folders(files)) {
    if (!files.SyncFolder(folder, error)) {
      if (error) *error = FormatMessage("Cannot flush folder \"%s\". %s", {folder, *error});
      return false;
    }
  }
  return true;
}

// --- the replacement ---------------------------------------------------------------------------

TStream& Replacement::CreateRepairedStore() {
  repaired_.reset();
  repaired_ = files_.CreateFile(paths_.repaired);
  created_ = true;
  repaired_stamp_ = files_.Stamp(paths_.repaired);
  return *repaired_;
}

void Replacement::CloseRepairedStore(std::int64_t bytes) {
  repaired_size_ = bytes;
  if (!repaired_) return;
  const std::unique_ptr<TStream> store = std::move(repaired_);
  store->Commit();
}

void Replacement::DiscardRepairedStore() {
  repaired_.reset();
  if (!created_) return;
  created_ = false;
  std::string ignored;
  files_.DeleteFile(paths_.repaired, &ignored);
}

bool Replacement::StoreChangedSinceScan(const Request& request) {
  return files_.Stamp(paths_.store) != request.scannedStore ||
         (request.clientRunning && request.clientRunning());
}

void Replacement::MakeBackups() {
  const TDateTime now = clock_.Now();
  const DateParts d = DecodeDate(now);
  const TimeParts t = DecodeTime(now);
  const std::string suffix =
      Format(".bak-%04d%02d%02d-%02d%02d%02d", d.year, d.month, d.day, t.hour, t.min, t.sec);
  backups_.clear();
  try {
    for (const auto& [name, target] : {std::pair(&paths_.store, &paths_.storeTarget),
                                       std::pair(&paths_.index, &paths_.indexTarget)}) {
      if (!files_.FileExists(*target)) continue;
      const std::string backup = files_.SiblingPath(*name, suffix);
      // The name must be new: an earlier backup is never written over.
      if (files_.FileExists(backup))
        throw EFCreateError(FormatMessage(kFCreateError, {backup, "File exists"}));
      LinkOrCopy(files_, *target, backup, true);
      backups_.push_back(backup);
    }
  } catch (...) {
    RemoveBackups();
    throw;
  }
}

void Replacement::RemoveBackups() {
  // Backups of a pair that stays in place are of no use.
  for (const std::string& backup : backups_)
    files_.DeleteFile(backup, nullptr);
  backups_.clear();
}

Replacement::Outcome Replacement::Abandon(std::string text) {
  if (begun_) {
    for (const std::string* path : {&paths_.indexTemp, &paths_.restore, &paths_.journal})
      if (files_.FileExists(*path)) files_.DeleteFile(*path, nullptr);
    RemoveBackups();
  }
  DiscardRepairedStore();
  return {false, std::move(text)};
}

ReplacementRecord Replacement::PrepareRenames(const Request& request, const FileStamp& repaired) {
  // The new index beside the old one, the old index kept under a second name, and the journal
  // that lets the next start finish or undo what a crash interrupts.
  const MailboxPaths& p = paths_;
  ReplacementRecord record;
  WriteComponentTemporary(request.index, p.indexTarget, files_, request.entries);
  record.oldIndex = files_.Stamp(p.indexTarget);
  record.newIndex = files_.Stamp(p.indexTemp);
  if (record.oldIndex.exists) record.oldIndexSum = FileChecksum(files_, p.indexTarget);
  record.newIndexSum = FileChecksum(files_, p.indexTemp);
  record.oldStore = request.scannedStore;
  record.newStore = repaired;
  if (record.oldIndex.exists) KeepOldIndex(files_, p);
  WriteJournal(files_, p, record);
  return record;
}

Replacement::Outcome Replacement::PutOldIndexBack(const ReplacementRecord& record,
                                                  std::string text) {
  const MailboxPaths& p = paths_;
  std::string error;
  const bool back = record.oldIndex.exists ? files_.ReplaceFile(p.restore, p.indexTarget, &error)
                                           : files_.DeleteFile(p.indexTarget, &error);
  if (back) {
    SyncReplacementFolders(files_, p, nullptr);
    files_.DeleteFile(p.journal, nullptr);
    RemoveBackups();
    DiscardRepairedStore();
  } else {
    // The new index is in place and describes the repaired store: that is kept, and the journal
    // with it, so that the next start puts the pair together.
    created_ = false;
    text += FormatMessage(" The old index could not be put back: %s", {error});
    text += FormatMessage(" The repaired mailbox is kept as \"%s\".", {p.repaired});
  }
  return {false, std::move(text)};
}

Replacement::Outcome Replacement::Replace(const Request& request) {
  const MailboxPaths& p = paths_;
  std::string error;
  if (!files_.SyncFile(p.repaired, &error))
    return Abandon(FormatMessage(kFlushFile, {p.repaired, error}));
  // The repaired store must still be the very file this run wrote, whole. Another program's file
  // under that name is left to it.
  const FileStamp repaired = files_.Stamp(p.repaired);
  if (!repaired.SameFile(repaired_stamp_) || repaired.size != repaired_size_) {
    if (!repaired.SameFile(repaired_stamp_)) created_ = false;
    return Abandon(kRepairedChanged);
  }
  // A mail client that ran during the scan may have added mail that the repaired store lacks.
  if (StoreChangedSinceScan(request)) return Abandon(kStoreChanged);
  // The repaired store takes the access rights (and owner) of the store it replaces.
  if (!files_.CopyPermissions(p.storeTarget, p.repaired, &error))
    return Abandon(
        FormatMessage("Cannot set the access rights of \"%s\". %s", {p.repaired, error}));

  begun_ = true;
  ReplacementRecord record;
  try {
    if (request.backup) MakeBackups();
    record = PrepareRenames(request, repaired);
  } catch (const Exception& e) {
    return Abandon(e.what());
  }

  if (!files_.ReplaceFile(p.indexTemp, p.indexTarget, &error))
    return Abandon(FormatMessage(kReplaceFile, {p.indexTarget, error}));
  if (!files_.ReplaceFile(p.repaired, p.storeTarget, &error))
    return PutOldIndexBack(record, FormatMessage(kReplaceFile, {p.storeTarget, error}));
  created_ = false;  // it is the store now

  if (!SyncReplacementFolders(files_, p, &error)) {
    // Both files are in place; their names may not yet be on the disk. The journal stays, so that
    // the next start makes sure of them.
    return {true, error};
  }
  // The journal goes last and only once the kept index is gone: whatever stays behind, the next
  // start finds the journal and clears it.
  if (!files_.FileExists(p.restore) || files_.DeleteFile(p.restore, nullptr))
    files_.DeleteFile(p.journal, nullptr);
  SyncReplacementFolders(files_, p, nullptr);
  return {true, ""};
}

// --- after a crash -----------------------------------------------------------------------------

namespace {

// Whether the file found is the one recorded as `want`: the same file (of the recorded size, when
// `exact`; the mail client may have added to it since), or, where its identity was lost (the
// folder was copied), one of the recorded size that is not `other`.
bool Is(const FileStamp& found, const FileStamp& want, const FileStamp& other, bool exact) {
  if (!found.exists || !want.exists) return false;
  if (found.volume == want.volume && found.id == want.id) return !exact || found.size == want.size;
  const bool isOther = other.exists && found.volume == other.volume && found.id == other.id;
  return !isOther && found.size == want.size && !(other.exists && other.size == want.size);
}

std::string Describe(const char* what, const FileStamp& s) {
  return s.exists ? FormatMessage("%s: %s bytes", {what, IntToStr(s.size)})
                  : FormatMessage("%s: missing", {what});
}

// Ends a recovery with `outcome`: what the replacement made and the outcome does not need goes,
// the journal last (until then the next start can still tell what happened).
Recovery Finish(FileSystem& files, const MailboxPaths& paths, Recovery outcome) {
  auto removeIfThere = [&files](const std::string& path) {
    if (files.FileExists(path)) files.DeleteFile(path, nullptr);
  };
  SyncReplacementFolders(files, paths, nullptr);
  removeIfThere(paths.indexTemp);
  removeIfThere(paths.restore);
  if (outcome == Recovery::Undone) removeIfThere(paths.repaired);
  files.DeleteFile(paths.journal, nullptr);
  SyncReplacementFolders(files, paths, nullptr);
  return outcome;
}

// The new index is in place beside the old store: the old index goes back, when the kept one is
// whole.
Recovery PutKeptIndexBack(FileSystem& files, const MailboxPaths& paths, const ReplacementRecord& r,
                          std::string* detail) {
  std::string error;
  bool back = false;
  const FileStamp kept = files.Stamp(paths.restore);
  if (!r.oldIndex.exists) {
    back = files.DeleteFile(paths.indexTarget, &error);
  } else if (kept.exists && kept.size == r.oldIndex.size &&
             FileChecksum(files, paths.restore) == r.oldIndexSum) {
    back = files.ReplaceFile(paths.restore, paths.indexTarget, &error);
  } else {
    error = Describe("the kept old index", kept);
  }
  if (back) return Finish(files, paths, Recovery::Undone);
  if (detail) *detail = FormatMessage("The old index could not be put back: %s", {error});
  return Recovery::Failed;
}

}  // namespace

Recovery RecoverReplacement(FileSystem& files, const MailboxPaths& paths, std::string* detail) {
  std::string text;
  try {
    text = files.OpenRead(paths.journal)->ReadRest();
  } catch (const Exception& e) {
    if (detail) *detail = e.what();
    return Recovery::Failed;
  }
  ReplacementRecord r;
  if (!ParseReplacementRecord(text, r)) {
    // A journal cut short was being written when the run ended: nothing had been renamed yet,
    // which the new index still waiting under its temporary name confirms.
    if (files.FileExists(paths.indexTemp)) return Finish(files, paths, Recovery::Undone);
    if (detail) *detail = FormatMessage("The journal \"%s\" is damaged.", {paths.journal});
    return Recovery::Failed;
  }

  const FileStamp index = files.Stamp(paths.indexTarget);
  const FileStamp store = files.Stamp(paths.storeTarget);
  const FileStamp repaired = files.Stamp(paths.repaired);
  // The indexes are told by their bytes; the stores, too large to read here, by identity (the
  // store is never removed, only renamed over) and size.
  const std::uint32_t indexSum = index.exists ? FileChecksum(files, paths.indexTarget) : 0;
  const bool indexNew = index.exists && index.size == r.newIndex.size && indexSum == r.newIndexSum;
  const bool indexOld =
      !indexNew && (r.oldIndex.exists
                        ? index.exists && index.size == r.oldIndex.size && indexSum == r.oldIndexSum
                        : !index.exists);
  const bool storeNew = Is(store, r.newStore, r.oldStore, false);
  const bool storeOld = !storeNew && Is(store, r.oldStore, r.newStore, false);
  const bool storeOldAsItWas = storeOld && Is(store, r.oldStore, r.newStore, true);
  const bool repairedReady = Is(repaired, r.newStore, r.oldStore, true);

  // The store is renamed last: once it is the new one, the replacement was complete (the index
  // may have been changed by the client since).
  if (storeNew) return Finish(files, paths, Recovery::Completed);
  if (indexNew && storeOldAsItWas && repairedReady) {
    std::string error;
    if (files.ReplaceFile(paths.repaired, paths.storeTarget, &error))
      return Finish(files, paths, Recovery::Completed);
    if (detail)
      *detail = FormatMessage("Cannot replace file \"%s\". %s", {paths.storeTarget, error});
    return Recovery::Failed;
  }
  // The new store is not there to complete the pair, or mail was added to the old store since:
  // the old index goes back beside the store as it is.
  if (indexNew && storeOld) return PutKeptIndexBack(files, paths, r, detail);
  if (indexOld && storeOld) return Finish(files, paths, Recovery::Undone);
  if (detail)
    *detail = Describe("index", index) + "; " + Describe("store", store) + "; " +
              Describe("repaired store", repaired);
  return Recovery::Failed;
}

}  // namespace qv
