#include "repair/Replacement.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "base/Errors.h"
#include "base/Stream.h"
#include "base/StringUtils.h"

namespace qv {

using platform::FileStamp;
using platform::FileSystem;

// --- names -------------------------------------------------------------------------------------

MailboxPaths MailboxPaths::For(FileSystem& files, const std::string& folder,
                               const std::string& fileName) {
  MailboxPaths p;
  p.folder = folder;
  const std::string base = folder + fileName;
  p.store = base + ".mbx";
  p.index = base + ".idx";
  p.storeTarget = files.ResolveLinks(p.store);
  p.indexTarget = files.ResolveLinks(p.index);
  p.journal = files.SiblingPath(p.index, ".journal");
  p.repaired = p.Name(files, Made::Repaired, 1);
  p.indexTemp = p.Name(files, Made::IndexTemp, 1);
  p.restore = p.Name(files, Made::KeptIndex, 1);
  p.storeRestore = p.Name(files, Made::KeptStore, 1);
  return p;
}

std::string MailboxPaths::Name(const FileSystem& files, Made kind, int number) const {
  const std::string more = number > 1 ? "-" + std::to_string(number) : std::string();
  switch (kind) {
    case Made::Repaired: {
      const std::string& t = storeTarget;
      const bool mbx = t.size() > 4 && SameText(std::string_view(t).substr(t.size() - 4), ".mbx");
      if (t == store || mbx) return t.substr(0, t.size() - 4) + ".xyz" + more;
      return files.SiblingPath(t, ".xyz" + more);
    }
    case Made::IndexTemp:
      return files.SiblingPath(indexTarget, ".tmp" + more);
    case Made::KeptIndex:
      return files.SiblingPath(indexTarget, ".restore" + more);
    case Made::KeptStore:
      return files.SiblingPath(storeTarget, ".restore" + more);
  }
  return {};
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

// --- the journal -------------------------------------------------------------------------------

FileMark FileMark::Of(const FileStamp& stamp, std::uint32_t sum) {
  FileMark m;
  if (!stamp.exists) return m;
  m.exists = true;
  m.volume = stamp.volume;
  m.id = stamp.id;
  m.size = stamp.size;
  m.modified = stamp.modified;
  m.sum = sum;
  return m;
}

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
  {
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
  }
  return crc ^ 0xFFFFFFFFu;
}

namespace {

constexpr const char* kJournalHead = "qvrepair journal 2";
constexpr const char* kReadyHead = "ready";

// The CRC-32 of a text (the record a checksum line closes).
std::uint32_t TextChecksum(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : text) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k)
      crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

// Every number at a fixed width: a record's length never depends on the values.
std::string MarkText(const FileMark& m) {
  char line[128];
  std::snprintf(line, sizeof line,
                "%d %020" PRIu64 " %020" PRIu64 " %020" PRId64 " %020" PRId64 " %010" PRIu32,
                m.exists ? 1 : 0, m.volume, m.id, m.size, m.modified, m.sum);
  return line;
}

std::string NumberedLine(const char* name, int number, const FileMark* mark) {
  std::string line = Format("%s %02d", name, number);
  if (mark) line += " " + MarkText(*mark);
  return line + "\n";
}

std::string Closed(std::string record) {
  return record + Format("end %08x\n", static_cast<unsigned>(TextChecksum(record)));
}

// Reads the lines of a text one by one.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  // The next whole line (without its line end); false at the end or for a line without one.
  bool Next(std::string_view& line) {
    const std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) return false;
    line = text_.substr(at_, end - at_);
    at_ = end + 1;
    return true;
  }
  std::size_t Offset() const noexcept { return at_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

// Fields of a line, separated by single blanks.
class Fields {
 public:
  explicit Fields(std::string_view line) : line_(line) {}
  bool Word(std::string_view want) {
    std::string_view w;
    return Take(w) && w == want;
  }
  template <typename T>
  bool Number(T& out, int width, bool hex = false) {
    std::string_view w;
    if (!Take(w) || w.size() != static_cast<std::size_t>(width)) return false;
    std::string s(w);
    for (std::size_t i = 0; i < s.size(); ++i) {
      const char c = s[i];
      const bool digit = (c >= '0' && c <= '9') || (hex && c >= 'a' && c <= 'f');
      if (!digit && !(i == 0 && c == '-' && !hex)) return false;
    }
    char* end = nullptr;
    if constexpr (std::is_signed_v<T>)
      out = static_cast<T>(std::strtoll(s.c_str(), &end, 10));
    else
      out = static_cast<T>(std::strtoull(s.c_str(), &end, hex ? 16 : 10));
    return end && *end == '\0';
  }
  bool Mark(FileMark& m) {
    int exists = 0;
    if (!Number(exists, 1) || exists > 1 || !Number(m.volume, 20) || !Number(m.id, 20) ||
        !Number(m.size, 20) || !Number(m.modified, 20) || !Number(m.sum, 10))
      return false;
    m.exists = exists == 1;
    return true;
  }
  bool End() const noexcept { return at_ >= line_.size(); }

 private:
  bool Take(std::string_view& w) {
    if (at_ > line_.size()) return false;
    const std::size_t end = std::min(line_.find(' ', at_), line_.size());
    w = line_.substr(at_, end - at_);
    at_ = end + 1;
    return !w.empty();
  }
  std::string_view line_;
  std::size_t at_ = 0;
};

bool NumberedField(std::string_view line, const char* name, int& number, FileMark* mark) {
  Fields f(line);
  return f.Word(name) && f.Number(number, 2) && number >= 0 && number <= kMaxNameNumber &&
         (!mark || f.Mark(*mark)) && f.End();
}

// Reads a record that `Closed` ended, from `text` on; false when it is not whole or its checksum
// is wrong. `body` gets its lines before the end line.
bool ClosedRecord(std::string_view text, std::vector<std::string_view>& body, std::size_t& used) {
  Lines lines(text);
  std::string_view line;
  body.clear();
  while (lines.Next(line)) {
    if (line.starts_with("end ")) {
      std::uint32_t sum = 0;
      Fields f(line);
      const std::size_t bodyBytes = static_cast<std::size_t>(line.data() - text.data());
      if (!f.Word("end") || !f.Number(sum, 8, true) || !f.End() ||
          sum != TextChecksum(text.substr(0, bodyBytes)))
        return false;
      used = lines.Offset();
      return true;
    }
    body.push_back(line);
  }
  return false;
}

}  // namespace

std::string FormatJournalBegin(const ReplacementJournal& j) {
  std::string r = std::string(kJournalHead) + "\n";
  r += NumberedLine("repaired", j.repairedNo, &j.repaired);
  r += NumberedLine("index-temp", j.indexTempNo, &j.indexTemp);
  r += NumberedLine("kept-index", j.keptIndexNo, nullptr);
  r += NumberedLine("kept-store", j.keptStoreNo, nullptr);
  r += "old-index " + MarkText(j.oldIndex) + "\n";
  r += "old-store " + MarkText(j.oldStore) + "\n";
  return Closed(std::move(r));
}

std::string FormatJournalReady(const ReplacementJournal& j) {
  std::string r = std::string(kReadyHead) + "\n";
  r += Format("store-moved %d\n", j.storeMoved ? 1 : 0);
  r += "new-index " + MarkText(j.newIndex) + "\n";
  r += "new-store " + MarkText(j.newStore) + "\n";
  return Closed(std::move(r));
}

bool ParseJournal(std::string_view text, ReplacementJournal& journal) {
  ReplacementJournal j;
  std::vector<std::string_view> body;
  std::size_t used = 0;
  if (!ClosedRecord(text, body, used) || body.size() != 7 || body[0] != kJournalHead) return false;
  Fields oldIndex(body[5]), oldStore(body[6]);
  if (!NumberedField(body[1], "repaired", j.repairedNo, &j.repaired) ||
      !NumberedField(body[2], "index-temp", j.indexTempNo, &j.indexTemp) ||
      !NumberedField(body[3], "kept-index", j.keptIndexNo, nullptr) ||
      !NumberedField(body[4], "kept-store", j.keptStoreNo, nullptr) ||
      !oldIndex.Word("old-index") || !oldIndex.Mark(j.oldIndex) || !oldIndex.End() ||
      !oldStore.Word("old-store") || !oldStore.Mark(j.oldStore) || !oldStore.End())
    return false;
  const std::string_view rest = text.substr(used);
  if (!rest.empty()) {
    std::size_t readyUsed = 0;
    if (ClosedRecord(rest, body, readyUsed)) {
      int moved = 0;
      Fields m(body.size() == 4 ? body[1] : ""), ni(body.size() == 4 ? body[2] : ""),
          ns(body.size() == 4 ? body[3] : "");
      if (body.size() != 4 || body[0] != kReadyHead || !m.Word("store-moved") ||
          !m.Number(moved, 1) || moved > 1 || !m.End() || !ni.Word("new-index") ||
          !ni.Mark(j.newIndex) || !ni.End() || !ns.Word("new-store") || !ns.Mark(j.newStore) ||
          !ns.End() || readyUsed != rest.size())
        return false;
      j.ready = true;
      j.storeMoved = moved == 1;
    } else if (rest.find("\nend ") != std::string_view::npos || rest.starts_with("end ")) {
      return false;  // a second record that is whole but wrong
    }
    // Otherwise the second record was being appended when the run ended: it does not count.
  }
  journal = j;
  return true;
}

// --- the steps before the first rename ---------------------------------------------------------

namespace {
[[noreturn]] void Raise(const char* pattern, const std::string& path, const std::string& error) {
  throw EWriteError(FormatMessage(pattern, {path, error}));
}
constexpr const char* kFlushFile = "Cannot flush file \"%s\". %s";
constexpr const char* kReplaceFile = "Cannot replace file \"%s\". %s";

// What became of a file since it was recorded as `before`, for the second line of a report.
std::string WhatChanged(const std::string& path, const FileMark& before, const FileStamp& now,
                        bool statusToo) {
  if (!before.exists) return now.exists ? FormatMessage("\"%s\" was made.", {path}) : "";
  if (!now.exists) return FormatMessage("\"%s\" was removed.", {path});
  if (!before.SameFile(now)) return FormatMessage("\"%s\" was replaced by another file.", {path});
  if (now.size != before.size)
    return FormatMessage("\"%s\" was %s bytes long and is now %s bytes long.",
                         {path, IntToStr(before.size), IntToStr(now.size)});
  if (now.modified != before.modified)
    return FormatMessage("\"%s\" was written to (its size is the same).", {path});
  return statusToo ? FormatMessage("\"%s\" was changed (its status changed).", {path}) : "";
}
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

bool SyncReplacementFolders(FileSystem& files, const MailboxPaths& paths, std::string* error) {
  for (const std::string& folder : paths.Folders(files)) {
    if (!files.SyncFolder(folder, error)) {
      if (error) *error = FormatMessage("Cannot flush folder \"%s\". %s", {folder, *error});
      return false;
    }
  }
  return true;
}

std::string FreeBackupName(FileSystem& files, platform::Clock& clock, const std::string& path,
                           const std::string& alsoFree) {
  const TDateTime now = clock.Now();
  const DateParts d = DecodeDate(now);
  const TimeParts t = DecodeTime(now);
  const std::string stamp =
      Format(".bak-%04d%02d%02d-%02d%02d%02d", d.year, d.month, d.day, t.hour, t.min, t.sec);
  // An earlier backup of the same second (or of the hour a clock change repeats) keeps its name.
  for (int n = 1;; ++n) {
    const std::string suffix = n > 1 ? stamp + "-" + std::to_string(n) : stamp;
    const std::string name = files.SiblingPath(path, suffix);
    if (n < kMaxNameNumber &&
        (files.EntryExists(name) ||
         (!alsoFree.empty() && files.EntryExists(files.SiblingPath(alsoFree, suffix)))))
      continue;
    return name;
  }
}

// --- the replacement ---------------------------------------------------------------------------

namespace {
// Settles what is left once both renames were made, as the next start would (below).
Recovery RecoverAfterRun(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
                         const ReplacementJournal& journal, RecoveryPlan& plan);
}  // namespace

Replacement::~Replacement() = default;

std::string Replacement::Name(Made kind) const {
  const int n = kind == Made::Repaired    ? journal_.repairedNo
                : kind == Made::IndexTemp ? journal_.indexTempNo
                : kind == Made::KeptIndex ? journal_.keptIndexNo
                                          : journal_.keptStoreNo;
  return paths_.Name(files_, kind, std::max(n, 1));
}

int& Replacement::Number(Made kind) {
  return kind == Made::Repaired    ? journal_.repairedNo
         : kind == Made::IndexTemp ? journal_.indexTempNo
         : kind == Made::KeptIndex ? journal_.keptIndexNo
                                   : journal_.keptStoreNo;
}

std::unique_ptr<TStream> Replacement::CreateFree(Made kind) {
  int& n = Number(kind);
  for (n = 1;; ++n) {
    const std::string path = paths_.Name(files_, kind, n);
    // A name that any entry has is another's (or an earlier run's that no journal names).
    if (n < kMaxNameNumber && files_.EntryExists(path)) continue;
    try {
      return files_.CreateFile(path);
    } catch (const EFCreateError&) {
      // Taken meanwhile: the next name.
      if (n < kMaxNameNumber && files_.EntryExists(path)) continue;
      n = 0;
      throw;
    }
  }
}

bool Replacement::HoldStore(std::string* error) {
  hold_ = files_.HoldAgainstWriters(paths_.storeTarget, error);
  return hold_ != nullptr;
}

TStream& Replacement::CreateRepairedStore() {
  repaired_.reset();
  repaired_ = CreateFree(Made::Repaired);
  repairedMade_ = true;
  repaired_stamp_ = files_.Stamp(RepairedPath());
  journal_.repaired = FileMark::Of(repaired_stamp_);
  return *repaired_;
}

bool Replacement::KeepUnderSecondName(Made kind, const std::string& from) {
  const std::string to = Name(kind);
  if (kind == Made::KeptIndex) {
    LinkOrCopy(files_, from, to, false);
    return true;
  }
  std::string error;
  switch (files_.LinkFile(from, to, &error)) {
    case platform::LinkOutcome::Linked:
      return true;
    case platform::LinkOutcome::NotSupported:
      return false;  // renamed there just before the repaired store takes its place
    case platform::LinkOutcome::Failed:
      break;
  }
  throw EFCreateError(FormatMessage(kFCreateError, {to, error}));
}

void Replacement::Begin() {
  if (journaled_) return;
  indexFile_ = CreateFree(Made::IndexTemp);
  temp_ = true;
  journal_.indexTemp = FileMark::Of(files_.Stamp(Name(Made::IndexTemp)));
  journal_.oldStore = FileMark::Of(files_.Stamp(paths_.storeTarget));
  // The second names of the old files must be free now; a program that takes one before it is
  // made stops the run.
  auto firstFree = [this](Made kind) {
    int n = 1;
    while (n < kMaxNameNumber && files_.EntryExists(paths_.Name(files_, kind, n)))
      ++n;
    return n;
  };
  journal_.keptIndexNo = journal_.oldIndex.exists ? firstFree(Made::KeptIndex) : 0;
  journal_.keptStoreNo = firstFree(Made::KeptStore);

  std::string error;
  {
    const std::unique_ptr<TStream> out = files_.CreateFile(paths_.journal);
    journaled_ = true;
    out->WriteString(FormatJournalBegin(journal_));
    out->Commit();
  }
  if (!files_.SyncFile(paths_.journal, &error)) Raise(kFlushFile, paths_.journal, error);
  // The journal's name must be on the disk before anything it names holds data.
  const std::string folder = files_.FolderOf(paths_.journal);
  if (!files_.SyncFolder(folder.empty() ? "." : folder, &error))
    Raise("Cannot flush folder \"%s\". %s", folder, error);

  if (journal_.oldIndex.exists)
    keptIndex_ = KeepUnderSecondName(Made::KeptIndex, paths_.indexTarget);
  keptStore_ = KeepUnderSecondName(Made::KeptStore, paths_.storeTarget);
  journal_.storeMoved = !keptStore_;
  // A second name changes a file's status: what follows is compared with the files as they are
  // now.
  store_ref_ = files_.Stamp(paths_.storeTarget);
  index_ref_ = files_.Stamp(paths_.indexTarget);
}

void Replacement::CloseRepairedStore(std::int64_t bytes) {
  repaired_size_ = bytes;
  if (!repaired_) return;
  const std::unique_ptr<TStream> store = std::move(repaired_);
  store->Commit();
}

void Replacement::Discard() {
  hold_.reset();
  repaired_.reset();
  indexFile_.reset();
  if (placed_) return;
  bool all = true;
  auto remove = [&](bool& made, const std::string& path) {
    if (!made) return;
    std::string ignored;
    if (files_.DeleteFile(path, &ignored) || !files_.EntryExists(path))
      made = false;
    else
      all = false;
  };
  remove(keptStore_, Name(Made::KeptStore));
  remove(keptIndex_, Name(Made::KeptIndex));
  remove(temp_, Name(Made::IndexTemp));
  remove(repairedMade_, RepairedPath());
  RemoveBackups();
  // What could not be removed stays named in the journal, for the next start.
  if (journaled_ && all && files_.DeleteFile(paths_.journal, nullptr)) journaled_ = false;
}

Replacement::Outcome Replacement::Abandon(std::string text) {
  Discard();
  return {false, !journaled_, std::move(text)};
}

std::string Replacement::ChangedSinceRead(const Request& request, bool sums) {
  const MailboxPaths& p = paths_;
  // A mail client that ran during the run may have added mail that the repaired store lacks.
  const FileStamp store = files_.Stamp(p.storeTarget);
  std::string what = WhatChanged(p.storeTarget, FileMark::Of(request.scannedStore), store, false);
  if (what.empty() && store_ref_.exists && store != store_ref_)
    what = WhatChanged(p.storeTarget, FileMark::Of(store_ref_), store, true);
  if (what.empty() && !sums && request.clientRunning && request.clientRunning())
    what =
        "Quorvane, or another program that holds the mailbox open, was started during the "
        "repair.";
  if (!what.empty()) return std::string(kStoreChanged) + "\n" + what;
  // The client may have moved messages since the run read the index.
  const FileStamp index = files_.Stamp(p.indexTarget);
  what = WhatChanged(p.indexTarget, journal_.oldIndex, index, false);
  if (what.empty() && index_ref_.exists && index != index_ref_)
    what = WhatChanged(p.indexTarget, FileMark::Of(index_ref_), index, true);
  if (what.empty() && sums && index.exists &&
      FileChecksum(files_, p.indexTarget) != journal_.oldIndex.sum)
    what = FormatMessage("\"%s\" was written to (its size is the same).", {p.indexTarget});
  return what.empty() ? what : std::string(kIndexChanged) + "\n" + what;
}

void Replacement::MakeBackups() {
  backups_.clear();
  try {
    std::vector<std::pair<const std::string*, const std::string*>> pair;
    for (const auto& [name, target] : {std::pair(&paths_.store, &paths_.storeTarget),
                                       std::pair(&paths_.index, &paths_.indexTarget)})
      if (files_.FileExists(*target)) pair.emplace_back(name, target);
    if (pair.empty()) return;
    // One suffix for both, free for both: an earlier backup is never written over.
    const std::string first =
        FreeBackupName(files_, clock_, *pair[0].first, pair.size() > 1 ? *pair[1].first : "");
    const std::string suffix = first.substr(files_.SiblingPath(*pair[0].first, "").size());
    for (const auto& [name, target] : pair) {
      const std::string backup = files_.SiblingPath(*name, suffix);
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

void Replacement::WriteNewIndex(const Request& request) {
  const std::string temp = Name(Made::IndexTemp);
  {
    const std::unique_ptr<TStream> out = std::move(indexFile_);
    try {
      WriteComponentStream(*out, request.index, request.entries);
      out->Commit();
    } catch (const Exception& e) {
      if (!e.Detail().empty()) throw;
      throw EWriteError(e.Message(), FileDetail(temp, "the file could not be written"));
    }
  }
  // The new file gets the rights of the one it replaces (it was made for its owner only).
  std::string error;
  if (files_.FileExists(paths_.indexTarget) &&
      !files_.CopyPermissions(paths_.indexTarget, temp, &error))
    throw EFCreateError(FormatMessage(kFCreateError, {temp, error}));
  if (!files_.SyncFile(temp, &error)) throw EWriteError(kStreamWriteError, FileDetail(temp, error));
}

bool Replacement::PutStoreInPlace(std::string* error) {
  if (!journal_.storeMoved) return files_.ReplaceFile(RepairedPath(), paths_.storeTarget, error);
  // No hard links: the old store takes its second name first, and the repaired store the free
  // name (which nobody may have taken meanwhile).
  const std::string kept = Name(Made::KeptStore);
  if (!files_.MoveFile(paths_.storeTarget, kept, error)) return false;
  keptStore_ = true;
  if (files_.MoveFile(RepairedPath(), paths_.storeTarget, error)) return true;
  if (files_.MoveFile(kept, paths_.storeTarget, nullptr)) keptStore_ = false;
  return false;
}

Replacement::Outcome Replacement::PutOldIndexBack(std::string text) {
  const MailboxPaths& p = paths_;
  std::string error;
  if (journal_.storeMoved && keptStore_) {
    // The old store is under its second name and could not go back: the next start puts the
    // files together.
    text += FormatMessage(" The mailbox is kept as \"%s\", the repaired mailbox as \"%s\".",
                          {Name(Made::KeptStore), RepairedPath()});
    return {false, false, std::move(text)};
  }
  const bool back = journal_.oldIndex.exists
                        ? files_.ReplaceFile(Name(Made::KeptIndex), p.indexTarget, &error)
                        : files_.DeleteFile(p.indexTarget, &error);
  if (back) {
    keptIndex_ = false;
    placed_ = false;
    SyncReplacementFolders(files_, p, nullptr);
    return Abandon(std::move(text));
  }
  // The new index is in place and describes the repaired store: that is kept, and the journal
  // with it, so that the next start puts the pair together.
  text += FormatMessage(" The old index could not be put back: %s", {error});
  text += FormatMessage(" The repaired mailbox is kept as \"%s\".", {RepairedPath()});
  return {false, false, std::move(text)};
}

Replacement::Outcome Replacement::Replace(const Request& request) {
  const MailboxPaths& p = paths_;
  std::string error;
  // The running-check below opens the store; the hold would count as another program's.
  hold_.reset();
  try {
    Begin();  // (an empty store gave the repaired store no byte)
  } catch (const Exception& e) {
    return Abandon(e.what());
  }
  const std::string repairedPath = RepairedPath();
  if (!files_.SyncFile(repairedPath, &error))
    return Abandon(FormatMessage(kFlushFile, {repairedPath, error}));
  // The repaired store must still be the very file this run wrote, whole. Another program's file
  // under that name is left to it.
  const FileStamp repaired = files_.Stamp(repairedPath);
  if (!repaired.SameFile(repaired_stamp_) || repaired.size != repaired_size_) {
    if (!repaired.SameFile(repaired_stamp_)) repairedMade_ = false;
    return Abandon(kRepairedChanged);
  }
  if (std::string changed = ChangedSinceRead(request, false); !changed.empty())
    return Abandon(std::move(changed));
  // The repaired store takes the access rights (and owner) of the store it replaces.
  if (!files_.CopyPermissions(p.storeTarget, repairedPath, &error))
    return Abandon(
        FormatMessage("Cannot set the access rights of \"%s\". %s", {repairedPath, error}));

  try {
    if (request.backup) {
      MakeBackups();
      // (their names changed the files' status, as the second names did)
      store_ref_ = files_.Stamp(p.storeTarget);
      index_ref_ = files_.Stamp(p.indexTarget);
    }
    WriteNewIndex(request);
    const std::string temp = Name(Made::IndexTemp);
    journal_.newIndex = FileMark::Of(files_.Stamp(temp), FileChecksum(files_, temp));
    journal_.newStore = FileMark::Of(files_.Stamp(repairedPath));
    journal_.ready = true;
    if (!files_.AppendFile(p.journal, FormatJournalReady(journal_), &error))
      throw EWriteError(kStreamWriteError, FileDetail(p.journal, error));
  } catch (const Exception& e) {
    journal_.ready = false;
    return Abandon(e.what());
  }
  // Once more, just before the renames: the store and the index, the index by its bytes as well.
  if (std::string changed = ChangedSinceRead(request, true); !changed.empty())
    return Abandon(std::move(changed));

  if (!files_.ReplaceFile(Name(Made::IndexTemp), p.indexTarget, &error))
    return Abandon(FormatMessage(kReplaceFile, {p.indexTarget, error}));
  temp_ = false;
  placed_ = true;
  if (!PutStoreInPlace(&error))
    return PutOldIndexBack(FormatMessage(kReplaceFile, {p.storeTarget, error}));
  repairedMade_ = false;  // it is the store now

  // The old store and index are still reachable under their second names: what was written to
  // them since the last check is found there, and the old pair goes back as the next start would
  // put it back.
  RecoveryPlan plan;
  const Recovery settled = RecoverAfterRun(files_, clock_, p, journal_, plan);
  keptIndex_ = keptStore_ = false;
  journaled_ = files_.FileExists(p.journal);
  Outcome outcome{settled == Recovery::Finished, !journaled_, ""};
  if (settled == Recovery::Undone) RemoveBackups();
  if (!plan.reason.empty() || !plan.detail.empty())
    outcome.error = plan.reason.empty()   ? plan.detail
                    : plan.detail.empty() ? plan.reason
                                          : plan.reason + "\n" + plan.detail;
  return outcome;
}

// --- after a crash -----------------------------------------------------------------------------

namespace {

enum class JournalRead { Missing, Unreadable, Damaged, Read };

JournalRead ReadJournalFile(FileSystem& files, const std::string& path, ReplacementJournal& j,
                            std::string* why) {
  if (!files.FileExists(path)) return JournalRead::Missing;
  // A journal is a few hundred bytes: a large file is not one, and is never read into memory.
  const std::int64_t size = files.FileSize(path);
  if (size > kMaxJournalBytes) {
    *why = FormatMessage("it is %s bytes long", {IntToStr(size)});
    return JournalRead::Damaged;
  }
  std::string text(static_cast<std::size_t>(kMaxJournalBytes) + 1, '\0');
  std::size_t got = 0;
  try {
    const std::unique_ptr<TStream> in = files.OpenRead(path);
    for (std::size_t n;
         got < text.size() && (n = in->Read(text.data() + got, text.size() - got)) > 0;)
      got += n;
  } catch (const Exception& e) {
    *why = e.what();
    return JournalRead::Unreadable;
  }
  text.resize(got);
  if (got > static_cast<std::size_t>(kMaxJournalBytes)) {
    *why = "it is too long";
    return JournalRead::Damaged;
  }
  if (!ParseJournal(text, j)) {
    *why = "it is not a whole record of a repair";
    return JournalRead::Damaged;
  }
  return JournalRead::Read;
}

// A store file of the size and time recorded (its identity aside: a copied folder, or a file
// system that numbers files by where their names stand, gives it another).
bool Unchanged(const FileStamp& f, const FileMark& m) {
  return f.exists && m.exists && f.size == m.size && f.modified == m.modified;
}
// The store file recorded, as it was or changed since.
bool IsStore(const FileStamp& f, const FileMark& m) {
  return m.SameFile(f) || Unchanged(f, m);
}
// Whether the index file at `path` holds the bytes recorded.
bool IndexHolds(FileSystem& files, const std::string& path, const FileStamp& f, const FileMark& m) {
  if (!f.exists || !m.exists || f.size != m.size) return false;
  if (m.SameFile(f) && f.modified == m.modified) return true;
  return FileChecksum(files, path) == m.sum;
}
bool SameFile(const FileStamp& a, const FileStamp& b) {
  return a.exists && b.exists && a.volume == b.volume && a.id == b.id;
}

std::string Listed(const std::string& path, const FileStamp& f) {
  return FormatMessage("\"%s\" (%s bytes)", {path, IntToStr(f.size)});
}

// A file of the replacement's left beside the old pair: the old files' second names are of its
// making only when they are the old files.
enum class Kept { None, Unchanged, Changed };

// One settlement of a journal: it looks at the files, decides what can be done safely, and does
// it one rename at a time, looking again after each.
class Settlement {
 public:
  Settlement(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
             const ReplacementJournal& journal)
      : files_(files), clock_(clock), paths_(paths), j_(journal) {}

  RecoveryPlan Decide();
  // Carries the decision out. `keepJournalOnLeftovers`: a file that could not be removed keeps
  // the journal (a run); otherwise it is reported and the journal goes (a start, which must not
  // be stopped by what it cannot remove).
  Recovery Carry(RecoveryPlan& plan, bool keepJournalOnLeftovers);
  // Keeps the store and the index as they are (KeepCurrentFiles).
  bool KeepCurrent(std::string* report);

 private:
  std::string Name(Made kind) const {
    const int n = kind == Made::Repaired    ? j_.repairedNo
                  : kind == Made::IndexTemp ? j_.indexTempNo
                  : kind == Made::KeptIndex ? j_.keptIndexNo
                                            : j_.keptStoreNo;
    return n > 0 ? paths_.Name(files_, kind, n) : std::string();
  }
  FileStamp StampOf(Made kind) {
    const std::string path = Name(kind);
    return path.empty() ? FileStamp() : files_.Stamp(path);
  }
  void Look() {
    index_ = files_.Stamp(paths_.indexTarget);
    store_ = files_.Stamp(paths_.storeTarget);
    repaired_ = StampOf(Made::Repaired);
    temp_ = StampOf(Made::IndexTemp);
    keptIndex_ = StampOf(Made::KeptIndex);
    keptStore_ = StampOf(Made::KeptStore);
  }
  Kept KeptIndex() {
    if (!keptIndex_.exists || !j_.oldIndex.exists) return Kept::None;
    if (IndexHolds(files_, Name(Made::KeptIndex), keptIndex_, j_.oldIndex)) return Kept::Unchanged;
    return j_.oldIndex.SameFile(keptIndex_) ? Kept::Changed : Kept::None;
  }
  Kept KeptStore() const {
    if (!keptStore_.exists) return Kept::None;
    if (Unchanged(keptStore_, j_.oldStore)) return Kept::Unchanged;
    return j_.oldStore.SameFile(keptStore_) ? Kept::Changed : Kept::None;
  }
  bool NewIndexInPlace() {
    if (!index_.exists || !j_.newIndex.exists) return false;
    // (by its bytes: once the new index is gone, another file may get its identity)
    if (j_.oldIndex.SameFile(index_) && index_.modified == j_.oldIndex.modified) return false;
    return IndexHolds(files_, paths_.indexTarget, index_, j_.newIndex);
  }
  RecoveryPlan AfterBothRenames();
  RecoveryPlan AfterIndexRename();
  RecoveryPlan Clear();
  RecoveryPlan Refuse(std::string why);
  // What a decision does: renames (then the files are looked at again), or removals.
  struct Step {
    enum Kind { Replace, Move, Delete, Remove } kind;
    std::string from, to;  // Remove: `from` goes when it is still the file `want` says
    std::function<bool()> stillSo;
  };
  bool DoRenames(std::string* error);

  FileSystem& files_;
  platform::Clock& clock_;
  const MailboxPaths& paths_;
  ReplacementJournal j_;
  FileStamp index_, store_, repaired_, temp_, keptIndex_, keptStore_;
  std::vector<Step> steps_;
};

RecoveryPlan Settlement::Refuse(std::string why) {
  RecoveryPlan plan;
  plan.action = Recovery::Failed;
  std::vector<std::string> found;
  auto note = [&](const std::string& path, const FileStamp& f) {
    if (f.exists && !path.empty()) found.push_back(Listed(path, f));
  };
  note(paths_.storeTarget, store_);
  note(paths_.indexTarget, index_);
  note(Name(Made::KeptStore), keptStore_);
  note(Name(Made::KeptIndex), keptIndex_);
  note(Name(Made::Repaired), repaired_);
  note(Name(Made::IndexTemp), temp_);
  note(paths_.journal, files_.Stamp(paths_.journal));
  std::string list;
  for (const std::string& f : found)
    list += (list.empty() ? "" : ", ") + f;
  plan.detail = why + " Found: " + list + ". To keep the mailbox and its index as they are and " +
                "remove what the repair left, run: " + kKeepCurrentCommand;
  return plan;
}

RecoveryPlan Settlement::Decide() {
  Look();
  steps_.clear();
  if (!j_.ready) return Clear();
  // The store is renamed last: once it is the repaired one, both were put in place.
  if (IsStore(store_, j_.newStore)) return AfterBothRenames();
  if (NewIndexInPlace()) return AfterIndexRename();
  return Clear();
}

RecoveryPlan Settlement::AfterBothRenames() {
  RecoveryPlan plan;
  const Kept store = KeptStore(), index = KeptIndex();
  if (store != Kept::Changed && index != Kept::Changed) {
    // The new pair stands; the old files' second names go, each only while it is still as the
    // run left it (what is written to it meanwhile would otherwise be lost).
    plan.action = Recovery::Finished;
    if (index == Kept::Unchanged) {
      const std::string kept = Name(Made::KeptIndex);
      steps_.push_back({Step::Remove, kept, "", [this, kept] {
                          return IndexHolds(files_, kept, files_.Stamp(kept), j_.oldIndex);
                        }});
    }
    if (store == Kept::Unchanged) {
      const std::string kept = Name(Made::KeptStore);
      steps_.push_back({Step::Remove, kept, "",
                        [this, kept] { return Unchanged(files_.Stamp(kept), j_.oldStore); }});
    }
    return plan;
  }
  // The old store or index was written to after the last check, and the new pair lacks it: the
  // old pair goes back, as long as the new one is as the run made it.
  const bool oldThere = store != Kept::None && (!j_.oldIndex.exists || index != Kept::None);
  if (!oldThere || !Unchanged(store_, j_.newStore) ||
      !IndexHolds(files_, paths_.indexTarget, index_, j_.newIndex))
    return Refuse(
        "The mailbox was written to after the repair had put the new one in place, and the "
        "files can no longer be put together safely.");
  plan.action = Recovery::Undone;
  plan.reason = store == Kept::Changed ? kStoreChangedAfter : kIndexChangedAfter;
  plan.detail = store == Kept::Changed
                    ? WhatChanged(paths_.storeTarget, j_.oldStore, keptStore_, false)
                    : WhatChanged(paths_.indexTarget, j_.oldIndex, keptIndex_, false);
  steps_.push_back({Step::Replace, Name(Made::KeptStore), paths_.storeTarget, nullptr});
  if (j_.oldIndex.exists)
    steps_.push_back({Step::Replace, Name(Made::KeptIndex), paths_.indexTarget, nullptr});
  else
    steps_.push_back({Step::Delete, paths_.indexTarget, "", nullptr});
  return plan;
}

RecoveryPlan Settlement::AfterIndexRename() {
  RecoveryPlan plan;
  // The old store in place, or (where there are no hard links) already under its second name.
  const bool inPlace = IsStore(store_, j_.oldStore);
  const bool movedAside = j_.storeMoved && !store_.exists && KeptStore() != Kept::None;
  const Kept store = inPlace ? (Unchanged(store_, j_.oldStore) ? Kept::Unchanged : Kept::Changed)
                     : movedAside ? KeptStore()
                                  : Kept::None;
  if (store == Kept::None)
    return Refuse(
        "The new index is in place, but the mailbox is neither the old one nor the repaired one.");
  const bool repairedReady = IsStore(repaired_, j_.newStore) && Unchanged(repaired_, j_.newStore);
  const Kept index = KeptIndex();
  if (store == Kept::Unchanged && repairedReady && index != Kept::Changed) {
    plan.action = Recovery::Completed;
    if (j_.storeMoved) {
      if (inPlace)
        steps_.push_back({Step::Move, paths_.storeTarget, Name(Made::KeptStore), nullptr});
      steps_.push_back({Step::Move, Name(Made::Repaired), paths_.storeTarget, nullptr});
    } else {
      steps_.push_back({Step::Replace, Name(Made::Repaired), paths_.storeTarget, nullptr});
    }
    return plan;
  }
  // The repaired store cannot complete the pair, or mail was added to the old store since: the
  // old index goes back beside the store as it is.
  if (!IndexHolds(files_, paths_.indexTarget, index_, j_.newIndex) ||
      (j_.oldIndex.exists && index == Kept::None))
    return Refuse(
        "The new index is in place beside the old mailbox, and the old index cannot be "
        "put back safely.");
  plan.action = Recovery::Undone;
  if (store == Kept::Changed) {
    plan.reason = kStoreChangedAfter;
    plan.detail =
        WhatChanged(paths_.storeTarget, j_.oldStore, inPlace ? store_ : keptStore_, false);
  }
  if (movedAside)
    steps_.push_back({Step::Move, Name(Made::KeptStore), paths_.storeTarget, nullptr});
  if (j_.oldIndex.exists)
    steps_.push_back({Step::Replace, Name(Made::KeptIndex), paths_.indexTarget, nullptr});
  else
    steps_.push_back({Step::Delete, paths_.indexTarget, "", nullptr});
  return plan;
}

RecoveryPlan Settlement::Clear() {
  // Nothing of the replacement is in place (or it was put back): what it made goes, each file
  // only when it is the very one it made.
  if (j_.repaired.SameFile(store_) || j_.indexTemp.SameFile(index_))
    return Refuse(
        "Files the repair made are in place, but its journal does not say that it "
        "put them there.");
  RecoveryPlan plan;
  plan.action = j_.ready ? Recovery::Undone : Recovery::Cleared;
  auto removeIfSame = [this](const std::string& path, const FileMark& made) {
    steps_.push_back(
        {Step::Remove, path, "", [this, path, made] { return made.SameFile(files_.Stamp(path)); }});
  };
  if (j_.repaired.SameFile(repaired_)) removeIfSame(Name(Made::Repaired), j_.repaired);
  if (j_.indexTemp.SameFile(temp_)) removeIfSame(Name(Made::IndexTemp), j_.indexTemp);
  // The old files' second names go when the files in place are the old ones or newer: otherwise
  // they may hold what the files in place lack.
  // Once the journal says that the renames may have begun, only the old files themselves do: a
  // newer file in place may have come after the new one.
  if (KeptIndex() != Kept::None) {
    const bool settles = j_.oldIndex.SameFile(index_) ||
                         (!j_.ready && index_.exists && index_.modified >= j_.oldIndex.modified);
    if (!settles) return Refuse("The index is older than the one the repair kept, or gone.");
    const std::string kept = Name(Made::KeptIndex);
    steps_.push_back({Step::Remove, kept, "", [this, kept] {
                        const FileStamp now = files_.Stamp(kept);
                        return j_.oldIndex.SameFile(now) ||
                               IndexHolds(files_, kept, now, j_.oldIndex);
                      }});
  }
  if (KeptStore() != Kept::None) {
    const bool settles = j_.oldStore.SameFile(store_) ||
                         (!j_.ready && store_.exists && store_.modified >= j_.oldStore.modified);
    if (!settles) return Refuse("The mailbox is older than the one the repair kept, or gone.");
    const std::string kept = Name(Made::KeptStore);
    steps_.push_back({Step::Remove, kept, "", [this, kept] {
                        const FileStamp now = files_.Stamp(kept);
                        return SameFile(now, files_.Stamp(paths_.storeTarget)) ||
                               Unchanged(now, j_.oldStore);
                      }});
  }
  return plan;
}

bool Settlement::DoRenames(std::string* error) {
  for (const Step& step : steps_) {
    bool ok = true;
    if (step.kind == Step::Replace) ok = files_.ReplaceFile(step.from, step.to, error);
    if (step.kind == Step::Move) ok = files_.MoveFile(step.from, step.to, error);
    if (step.kind == Step::Delete) ok = files_.DeleteFile(step.from, error);
    if (!ok) {
      if (error)
        *error = FormatMessage("Cannot replace file \"%s\". %s",
                               {step.kind == Step::Delete ? step.from : step.to, *error});
      return false;
    }
  }
  return true;
}

Recovery Settlement::Carry(RecoveryPlan& plan, bool keepJournalOnLeftovers) {
  bool renamed = false;
  RecoveryPlan first;
  // A few rounds at most: each rename is followed by a fresh look at the files, which then call
  // for removals only (or, when something was written to a kept file meanwhile, for putting the
  // old pair back).
  for (int round = 0; round < 4; ++round) {
    RecoveryPlan now = Decide();
    if (!renamed) first = now;
    if (now.action == Recovery::Failed) {
      plan = now;
      return Recovery::Failed;
    }
    const bool renames = std::any_of(steps_.begin(), steps_.end(),
                                     [](const Step& s) { return s.kind != Step::Remove; });
    if (renames) {
      std::string error;
      if (!DoRenames(&error)) {
        plan = now;
        plan.action = Recovery::Failed;
        plan.detail = error;
        return Recovery::Failed;
      }
      if (!renamed) first = now;
      renamed = true;
      continue;
    }
    plan = first;
    // Every name must be on the disk before what the next start would need goes.
    std::string error;
    if (!SyncReplacementFolders(files_, paths_, &error)) {
      plan.detail = error;
      return plan.action;
    }
    std::string leftovers;
    bool changedMeanwhile = false;
    for (const Step& step : steps_) {
      if (!step.stillSo()) {
        changedMeanwhile = true;
        break;
      }
      std::string why;
      if (!files_.DeleteFile(step.from, &why) && files_.EntryExists(step.from))
        leftovers += FormatMessage(" \"%s\" could not be removed: %s.", {step.from, why});
    }
    if (changedMeanwhile) continue;
    if (!leftovers.empty()) {
      plan.detail += (plan.detail.empty() ? "" : "\n") +
                     std::string("What the repair left beside the mailbox is not all gone.") +
                     leftovers;
      if (keepJournalOnLeftovers) return plan.action;
    }
    std::string why;
    if (!files_.DeleteFile(paths_.journal, &why) && files_.EntryExists(paths_.journal))
      plan.detail += (plan.detail.empty() ? "" : "\n") +
                     FormatMessage("\"%s\" could not be removed: %s.", {paths_.journal, why});
    SyncReplacementFolders(files_, paths_, nullptr);
    return plan.action;
  }
  plan = Refuse("The files kept changing while they were put together.");
  return Recovery::Failed;
}

bool Settlement::KeepCurrent(std::string* report) {
  Look();
  std::string done, failed;
  auto remove = [&](const std::string& path) {
    std::string why;
    if (files_.DeleteFile(path, &why))
      done += FormatMessage(" Removed \"%s\".", {path});
    else
      failed += FormatMessage(" \"%s\" could not be removed: %s.", {path, why});
  };
  // A file that may hold mail the store in place lacks is kept under a backup's name.
  auto keep = [&](const std::string& path) {
    const std::string backup = FreeBackupName(files_, clock_, path);
    std::string why;
    if (files_.MoveFile(path, backup, &why))
      done += FormatMessage(" Kept \"%s\" as \"%s\".", {path, backup});
    else
      failed += FormatMessage(" \"%s\" could not be renamed: %s.", {path, why});
  };
  if (j_.indexTemp.SameFile(temp_) && !SameFile(temp_, index_)) remove(Name(Made::IndexTemp));
  if (KeptIndex() != Kept::None && !SameFile(keptIndex_, index_)) remove(Name(Made::KeptIndex));
  const bool oldStoreKept = KeptStore() != Kept::None;
  if (oldStoreKept) {
    if (SameFile(keptStore_, store_))
      remove(Name(Made::KeptStore));
    else
      keep(Name(Made::KeptStore));
  }
  if (j_.repaired.SameFile(repaired_) && !SameFile(repaired_, store_)) {
    // Made from the old store: of no use while that is the store or was kept just now.
    if (oldStoreKept || j_.oldStore.SameFile(store_))
      remove(Name(Made::Repaired));
    else
      keep(Name(Made::Repaired));
  }
  if (failed.empty()) {
    std::string why;
    if (files_.DeleteFile(paths_.journal, &why))
      done += FormatMessage(" Removed \"%s\".", {paths_.journal});
    else
      failed += FormatMessage(" \"%s\" could not be removed: %s.", {paths_.journal, why});
  }
  SyncReplacementFolders(files_, paths_, nullptr);
  if (report) *report = Trim(done + failed);
  return failed.empty();
}

// Files that a repair of this mailbox may have left, by the names a replacement gives them:
// those that hold anything.
std::vector<std::string> PossibleLeftovers(FileSystem& files, const MailboxPaths& paths) {
  std::vector<std::string> found;
  for (const Made kind : {Made::Repaired, Made::IndexTemp, Made::KeptIndex, Made::KeptStore}) {
    for (int n = 1; n <= kMaxNameNumber; ++n) {
      const std::string path = paths.Name(files, kind, n);
      const FileStamp f = files.Stamp(path);
      if (f.exists && f.size > 0) found.push_back(Listed(path, f));
    }
  }
  return found;
}

std::string DamagedName(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths) {
  const TDateTime now = clock.Now();
  const DateParts d = DecodeDate(now);
  const TimeParts t = DecodeTime(now);
  const std::string stamp =
      Format(".damaged-%04d%02d%02d-%02d%02d%02d", d.year, d.month, d.day, t.hour, t.min, t.sec);
  for (int n = 1;; ++n) {
    const std::string name =
        files.SiblingPath(paths.journal, n > 1 ? stamp + "-" + std::to_string(n) : stamp);
    if (n >= kMaxNameNumber || !files.EntryExists(name)) return name;
  }
}

// What to do with a journal that cannot be read: it is moved aside when nothing a replacement
// makes is found, so that the next start is not stopped by it for ever.
RecoveryPlan PlanDamaged(FileSystem& files, const MailboxPaths& paths, const std::string& why) {
  RecoveryPlan plan;
  const std::vector<std::string> found = PossibleLeftovers(files, paths);
  if (found.empty()) {
    plan.action = Recovery::MovedAside;
    plan.detail = FormatMessage("The journal \"%s\" cannot be read (%s).", {paths.journal, why});
    return plan;
  }
  std::string list;
  for (const std::string& f : found)
    list += (list.empty() ? "" : ", ") + f;
  plan.action = Recovery::Failed;
  plan.detail = FormatMessage(
      "The journal \"%s\" cannot be read (%s), and files that a repair may have left exist: %s. To "
      "keep the mailbox and its index as they are, run: %s (the journal is moved aside; those "
      "files stay).",
      {paths.journal, why, list, kKeepCurrentCommand});
  return plan;
}

Recovery RecoverAfterRun(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
                         const ReplacementJournal& journal, RecoveryPlan& plan) {
  Recovery outcome;
  try {
    outcome = Settlement(files, clock, paths, journal).Carry(plan, true);
  } catch (const Exception& e) {
    // An index that cannot be read cannot be told: every file stays as it is.
    plan = {Recovery::Failed, "", e.what()};
    outcome = Recovery::Failed;
  }
  if (outcome == Recovery::Failed && plan.reason.empty())
    plan.reason = "The mailbox changed during the repair, and every file was kept as it is.";
  if (outcome == Recovery::Finished && !plan.detail.empty() && files.FileExists(paths.journal))
    plan.reason =
        "The repaired mailbox is in place, but the next start of this utility has to "
        "make sure of it.";
  return outcome;
}

}  // namespace

RecoveryPlan PlanRecovery(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths) {
  ReplacementJournal journal;
  std::string why;
  switch (ReadJournalFile(files, paths.journal, journal, &why)) {
    case JournalRead::Missing:
      return {Recovery::Cleared, "", ""};
    case JournalRead::Unreadable:
      return {Recovery::Failed, "", why};
    case JournalRead::Damaged:
      return PlanDamaged(files, paths, why);
    case JournalRead::Read:
      break;
  }
  try {
    return Settlement(files, clock, paths, journal).Decide();
  } catch (const Exception& e) {
    return {Recovery::Failed, "", e.what()};  // an index that cannot be read cannot be told
  }
}

Recovery RecoverReplacement(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
                            std::string* detail) {
  ReplacementJournal journal;
  std::string why;
  RecoveryPlan plan;
  switch (ReadJournalFile(files, paths.journal, journal, &why)) {
    case JournalRead::Missing:
      return Recovery::Cleared;
    case JournalRead::Unreadable:
      if (detail) *detail = why;
      return Recovery::Failed;
    case JournalRead::Damaged: {
      plan = PlanDamaged(files, paths, why);
      if (plan.action == Recovery::MovedAside) {
        const std::string aside = DamagedName(files, clock, paths);
        std::string error;
        if (!files.MoveFile(paths.journal, aside, &error)) {
          if (detail) *detail = FormatMessage("Cannot rename \"%s\". %s", {paths.journal, error});
          return Recovery::Failed;
        }
        plan.detail += FormatMessage(" It was renamed to \"%s\".", {aside});
      }
      if (detail) *detail = plan.detail;
      return plan.action;
    }
    case JournalRead::Read:
      break;
  }
  Recovery outcome;
  try {
    outcome = Settlement(files, clock, paths, journal).Carry(plan, false);
  } catch (const Exception& e) {
    plan = {Recovery::Failed, "", e.what()};  // an index that cannot be read cannot be told
    outcome = Recovery::Failed;
  }
  if (detail) *detail = plan.reason.empty() ? plan.detail : plan.reason + "\n" + plan.detail;
  return outcome;
}

bool KeepCurrentFiles(FileSystem& files, platform::Clock& clock, const MailboxPaths& paths,
                      std::string* report) {
  ReplacementJournal journal;
  std::string why;
  switch (ReadJournalFile(files, paths.journal, journal, &why)) {
    case JournalRead::Missing:
      if (report) *report = "";
      return true;
    case JournalRead::Unreadable:
      if (report) *report = why;
      return false;
    case JournalRead::Damaged: {
      const std::string aside = DamagedName(files, clock, paths);
      std::string error;
      if (!files.MoveFile(paths.journal, aside, &error)) {
        if (report) *report = FormatMessage("Cannot rename \"%s\". %s", {paths.journal, error});
        return false;
      }
      if (report)
        *report = FormatMessage("The journal \"%s\" (%s) was renamed to \"%s\".",
                                {paths.journal, why, aside});
      return true;
    }
    case JournalRead::Read:
      break;
  }
  try {
    return Settlement(files, clock, paths, journal).KeepCurrent(report);
  } catch (const Exception& e) {
    if (report) *report = e.what();
    return false;
  }
}

}  // namespace qv
